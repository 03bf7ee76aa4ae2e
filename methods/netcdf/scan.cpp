#include "methods/netcdf/scan.h"

#include <map>
#include <string>

namespace quellmar::companions {

namespace {

// The findings in the order they are met (which is data-file order): the
// first ones kept whole, the rest counted.
class DamageList {
 public:
  DamageList(size_t kept, NcScan* scan) : kept_(kept), scan_(scan) {}
  // The index of the finding in the kept list, or -1.
  long add(int64_t offset, const char* kind, std::string detail) {
    ++scan_->damage_count;
    if (scan_->damage.size() >= kept_) return -1;
    scan_->damage.push_back({offset, kind, std::move(detail)});
    return static_cast<long>(scan_->damage.size()) - 1;
  }
  Damage& at(long index) { return scan_->damage[static_cast<size_t>(index)]; }

 private:
  size_t kept_;
  NcScan* scan_;
};

}  // namespace

std::string damage_line(const std::string& pair, const Damage& d) {
  return pair + ": data offset " + std::to_string(d.offset) + ": " + d.kind +
         ": " + d.detail;
}

NcScan scan_for_conversion(
    const PairInput& input, size_t damage_kept, NcPlanner* planner,
    const std::function<void(const RecordFacts&)>& also) {
  NcScan scan;
  DamageList damage(damage_kept, &scan);
  // Per HeaderBlock that could not be loaded: how many records name it and
  // where its finding is kept (-1: not kept).
  struct Unloaded {
    int64_t records = 0;
    long kept = -1;
  };
  std::map<int32_t, Unloaded> unloaded;
  walk_records(
      input,
      [&](const RecordFacts& f) {
        if (!f.header_loaded) {
          auto [it, first] = unloaded.try_emplace(f.header_offset);
          ++it->second.records;
          if (first) {
            it->second.kept = damage.add(f.offset, "header_read_error",
                                         header_read_error(f.header_offset, 0));
          }
        }
        planner->add(f);
        ++scan.records;
        if (also) also(f);
      },
      [&](Damage d) {
        damage.add(d.offset, d.kind.c_str(), std::move(d.detail));
      });
  for (const auto& [header_offset, u] : unloaded) {
    if (u.kept >= 0) {
      damage.at(u.kept).detail = header_read_error(header_offset, u.records);
    }
  }
  return scan;
}

}  // namespace quellmar::companions
