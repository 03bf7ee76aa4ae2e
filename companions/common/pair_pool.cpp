#include "companions/common/pair_pool.h"

#include <cstring>
#include <filesystem>

#include "companions/common/progress.h"

namespace quellmar::companions {

namespace {

struct ScannedPair {
  std::string path;
  std::vector<RecordFacts> records;
  std::vector<bool> wanted;  // one per record
  int64_t data_bytes = 0;
};

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

// Decodes the wanted records of one pair. False when the walk does not
// meet the records of the scan again.
bool decode_pair(const ScannedPair& pair, const PoolRequest& request,
                 Progress* progress, int64_t* records_done,
                 int64_t bytes_before, std::string* error) {
  if (request.begin_pair && !request.begin_pair(pair.path, error)) {
    return false;
  }
  PairInput input;
  if (!open_pair(pair.path, &input, error)) return false;
  for (size_t i = 0; i < pair.records.size(); ++i) {
    const RecordFacts& f = pair.records[i];
    int new_header = 0;
    if (pda_current_offset() != f.offset ||
        pda_read_record_header(&new_header) != 0) {
      *error = pair.path + ": the data file changed while it was read";
      return false;
    }
    if (!pair.wanted[i]) {
      pda_advance_record();
    } else {
      pda_decode_record();
      request.take(f, pda_moments);
      pda_release_moments();
    }
    ++*records_done;
    progress->update(*records_done, bytes_before + pda_current_offset());
  }
  pda_reset();
  return true;
}

}  // namespace

std::string stored_name(const char (&field)[32]) {
  return std::string(field, strnlen(field, sizeof field));
}

void add_damage(const std::string& path, const std::vector<Damage>& damage,
                std::vector<std::string>* findings) {
  constexpr size_t kShown = 20;
  for (size_t i = 0; i < damage.size() && i < kShown; ++i) {
    const Damage& d = damage[i];
    findings->push_back(path + ": data offset " + std::to_string(d.offset) +
                        ": " + d.kind + ": " + d.detail);
  }
  if (damage.size() > kShown) {
    findings->push_back(path + ": " + std::to_string(damage.size() - kShown) +
                        " more finding(s); quellmar-info lists them all");
  }
}

bool named_once(const std::vector<std::string>& paths, std::string* error) {
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (paths[i] == paths[j] || same_file(paths[i], paths[j])) {
        *error = paths[i] + ": named twice (as " + paths[j] + ")";
        return false;
      }
    }
  }
  return true;
}

BeamGeometry geometry_of(const RecordFacts& f) {
  BeamGeometry g;
  g.azimuth = f.azimuth;
  g.elevation = f.elevation;
  g.first_gate_delay_ns = f.first_gate_delay_ns;
  g.delay_offset_ns = f.delay_offset_ns;
  g.gate_spacing_ns = f.gate_spacing_ns;
  return g;
}

std::string geometry_set_aside(int32_t mode, int32_t beam, int64_t aside,
                               int64_t kept) {
  return "mode " + std::to_string(mode) + " beam " + std::to_string(beam) +
         ": " + std::to_string(aside) +
         " record(s) set aside: their HeaderBlock points the beam elsewhere "
         "or places its gates differently than for the other " +
         std::to_string(kept);
}

bool pool_pairs(const std::vector<std::string>& paths,
                const PoolRequest& request, PoolResult* out,
                std::string* error) {
  if (!named_once(paths, error)) return false;

  std::vector<ScannedPair> pairs;
  std::string site;
  std::string first_path;
  std::vector<std::string> findings;
  int64_t wanted_records = 0, all_records = 0, all_bytes = 0, values = 0;
  for (const std::string& path : paths) {
    PairInput input;
    if (!open_pair(path, &input, error)) return false;
    const std::string name = stored_name(input.first_block.site_name);
    if (first_path.empty()) {
      site = name;
      first_path = path;
    } else if (name != site) {
      *error = path + ": site \"" + name + "\" is not the site \"" + site +
               "\" of " + first_path;
      return false;
    }
    ScanResult scan = scan_records(input);
    add_damage(path, scan.damage, &findings);
    ScannedPair p;
    p.path = path;
    p.data_bytes = input.data_bytes;
    for (const RecordFacts& f : scan.records) {
      const bool wanted = request.wanted(f);
      p.wanted.push_back(wanted);
      if (wanted) {
        ++wanted_records;
        values += f.gate_count;
      }
    }
    p.records = std::move(scan.records);
    all_records += static_cast<int64_t>(p.records.size());
    all_bytes += p.data_bytes;
    pairs.push_back(std::move(p));
  }
  pda_reset();
  if (!request.check(wanted_records, values, error)) return false;

  Progress progress(all_records, all_bytes, request.program);
  int64_t done = 0, bytes_before = 0;
  for (const ScannedPair& p : pairs) {
    if (!decode_pair(p, request, &progress, &done, bytes_before, error)) {
      pda_reset();
      return false;
    }
    bytes_before += p.data_bytes;
  }
  if (request.finish) request.finish();
  progress.finish();

  out->site_name = site;
  out->records = wanted_records;
  out->findings = std::move(findings);
  return true;
}

}  // namespace quellmar::companions
