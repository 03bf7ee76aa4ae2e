#include "methods/pairs/pair_input.h"

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>
#include <unordered_map>

#include "disk/pda.h"
#include "methods/pairs/periods.h"

namespace quellmar::companions {

namespace {

constexpr int32_t kNoTime = std::numeric_limits<int32_t>::max();

bool counts(const RecordFacts& f, const RecordChoice& choice) {
  return f.radar == choice.radar && f.beam_described && f.gate_count > 0 &&
         choice.takes(f);
}

// What the walk learns of the records of one (mode, beam, geometry).
struct Variant {
  int64_t records = 0;
  int32_t gates = 0;
  int32_t points = 0;
  std::vector<int64_t> periods;  // starts, repeats of the last left out
};
using VariantKey = std::tuple<int32_t, int32_t, BeamGeometry>;

// Walks one pair's RecordHeaders into the plan's variants and its file.
PlannedFile walk_pair(const PairInput& input, const RecordChoice& choice,
                      int32_t period_minutes,
                      std::map<VariantKey, Variant>* variants,
                      std::vector<std::string>* findings) {
  PlannedFile file;
  file.path = input.path;
  file.data_bytes = input.data_bytes;
  file.first = kNoTime;
  std::vector<int32_t> block_first;
  // Records that name a HeaderBlock that could not be loaded, by offset:
  // the first such record and how many.
  std::map<int32_t, std::pair<int64_t, int64_t>> unloaded;
  std::vector<Damage> damage;
  walk_records(
      input,
      [&](const RecordFacts& f) {
        if (!f.header_loaded) {
          auto [it, fresh] =
              unloaded.try_emplace(f.header_offset, f.offset, int64_t{0});
          ++it->second.second;
        }
        if (file.records % kTimeBlock == 0) block_first.push_back(kNoTime);
        ++file.records;
        if (!counts(f, choice)) return;
        ++file.taken;
        block_first.back() = std::min(block_first.back(), f.time);
        Variant& v = (*variants)[{f.mode, f.beam, geometry_of(f)}];
        ++v.records;
        v.gates = std::max(v.gates, f.gate_count);
        v.points = std::max(v.points, f.spectral_points);
        const int64_t start = period_of(f.time, period_minutes).start;
        if (v.periods.empty() || v.periods.back() != start) {
          v.periods.push_back(start);
        }
      },
      [&](Damage d) { damage.push_back(std::move(d)); });
  for (const auto& [header_offset, first_and_count] : unloaded) {
    damage.push_back(
        {first_and_count.first, "header_read_error",
         header_read_error(header_offset, first_and_count.second)});
  }
  std::stable_sort(
      damage.begin(), damage.end(),
      [](const Damage& a, const Damage& b) { return a.offset < b.offset; });
  add_damage(input.path, damage, findings);

  // From each block on, the earliest time still to come.
  file.later_first.assign(block_first.size(), kNoTime);
  int32_t later = kNoTime;
  for (size_t i = block_first.size(); i-- > 0;) {
    later = std::min(later, block_first[i]);
    file.later_first[i] = later;
  }
  file.first = later;
  return file;
}

// One series per (mode, beam): the geometry most of its records share
// (the lowest geometry on a tie); the others' records are set aside.
void resolve_geometry(std::map<VariantKey, Variant>& all, InputPlan* plan) {
  auto it = all.begin();
  while (it != all.end()) {
    const int32_t mode = std::get<0>(it->first);
    const int32_t beam = std::get<1>(it->first);
    auto best = it;
    int64_t total = 0;
    auto next = it;
    for (; next != all.end() && std::get<0>(next->first) == mode &&
           std::get<1>(next->first) == beam;
         ++next) {
      total += next->second.records;
      if (next->second.records > best->second.records) best = next;
    }
    const int64_t kept = best->second.records;
    if (kept != total) {
      plan->findings.push_back(
          geometry_set_aside(mode, beam, total - kept, kept));
    }
    PlannedSeries s;
    s.mode = mode;
    s.beam = beam;
    s.geometry = std::get<2>(best->first);
    s.gates = best->second.gates;
    s.spectral_points = best->second.points;
    s.records = kept;
    std::vector<int64_t>& periods = best->second.periods;
    std::sort(periods.begin(), periods.end());
    periods.erase(std::unique(periods.begin(), periods.end()), periods.end());
    plan->series.push_back(std::move(s));
    plan->period_starts.push_back(std::move(periods));
    plan->records += kept;
    it = next;
  }
}

// The series index of a record that counts, or -1 when its geometry was set
// aside.
int64_t series_of(const InputPlan& plan, const RecordFacts& f) {
  const auto it = std::lower_bound(
      plan.series.begin(), plan.series.end(), f,
      [](const PlannedSeries& s, const RecordFacts& r) {
        return std::tie(s.mode, s.beam) < std::tie(r.mode, r.beam);
      });
  if (it == plan.series.end() || it->mode != f.mode || it->beam != f.beam ||
      !(it->geometry == geometry_of(f))) {
    return -1;
  }
  return it - plan.series.begin();
}

}  // namespace

std::string duplicates_finding(int64_t duplicates) {
  return std::to_string(duplicates) +
         " record(s) set aside: a record of the same time, radar and beam "
         "came from another input already";
}

int32_t stored_gates(const RecordFacts& f, const MomentArrays& m) {
  const int64_t gates = std::min(
      {m.gate_count, static_cast<int64_t>(m.velocity.size()),
       static_cast<int64_t>(m.snr.size()), static_cast<int64_t>(f.gate_count)});
  return static_cast<int32_t>(std::max<int64_t>(gates, 0));
}

bool plan_input(const std::vector<std::string>& paths,
                const RecordChoice& choice, int32_t period_minutes,
                InputPlan* plan, std::string* error) {
  if (!named_once(paths, error)) return false;

  InputPlan p;
  std::string first_path;
  std::map<VariantKey, Variant> variants;
  for (const std::string& path : paths) {
    PairInput input;
    if (!open_pair(path, &input, error)) return false;
    const std::string name = stored_name(input.first_block.site_name);
    if (first_path.empty()) {
      p.site_name = name;
      first_path = path;
    } else if (name != p.site_name) {
      *error = path + ": site \"" + name + "\" is not the site \"" +
               p.site_name + "\" of " + first_path;
      return false;
    }
    p.files.push_back(
        walk_pair(input, choice, period_minutes, &variants, &p.findings));
  }
  pda_reset();
  if (variants.empty()) {
    *error = !choice.none.empty()
                 ? choice.none
                 : (paths.size() == 1 ? paths[0] : "the files") + ": no " +
                       choice.kind + " record of radar " +
                       std::to_string(choice.radar);
    return false;
  }
  resolve_geometry(variants, &p);
  // Files by the time of their first record that counts; files without
  // one last (they are walked for the progress only).
  std::stable_sort(p.files.begin(), p.files.end(),
                   [](const PlannedFile& a, const PlannedFile& b) {
                     return a.first < b.first;
                   });
  *plan = std::move(p);
  return true;
}

bool read_input(
    const InputPlan& plan, const RecordChoice& choice,
    const std::function<bool(const std::string& path, std::string* error)>&
        begin_pair,
    const std::function<void(size_t series, const RecordFacts&)>& take,
    const std::function<void(int64_t before)>& finished, int64_t* duplicates,
    std::string* error) {
  int64_t all_records = 0, all_bytes = 0;
  for (const PlannedFile& f : plan.files) {
    all_records += f.records;
    all_bytes += f.data_bytes;
  }
  const ProgressFinish finish_progress(choice.progress);
  int64_t done = 0, bytes_before = 0;
  // The file each taken (series, time) came from, while a record of that
  // time can still come.
  std::unordered_map<uint64_t, size_t> seen;
  *duplicates = 0;

  for (size_t k = 0; k < plan.files.size(); ++k) {
    const PlannedFile& file = plan.files[k];
    const int64_t next_first =
        k + 1 < plan.files.size() ? plan.files[k + 1].first : kNoTime;
    const auto release = [&](size_t block) {
      int64_t before = next_first;
      if (block < file.later_first.size()) {
        before = std::min<int64_t>(before, file.later_first[block]);
      }
      std::erase_if(seen, [before](const auto& entry) {
        return static_cast<int64_t>(static_cast<int32_t>(entry.first)) < before;
      });
      finished(before);
    };
    if (file.taken > 0) {
      if (begin_pair && !begin_pair(file.path, error)) return false;
      PairInput input;
      if (!open_pair(file.path, &input, error)) return false;
      int64_t records = 0, taken = 0;
      for (;;) {
        int new_header = 0;
        if (pda_read_record_header(&new_header) != 0) break;
        if (records == file.records) break;
        ++records;
        const RecordFacts f = current_facts();
        const int64_t series = counts(f, choice) ? series_of(plan, f) : -1;
        if (counts(f, choice)) ++taken;
        if (series < 0) {
          pda_advance_record();
        } else {
          const uint64_t key = (static_cast<uint64_t>(series) << 32) |
                               static_cast<uint32_t>(f.time);
          const auto [it, fresh] = seen.try_emplace(key, k);
          if (!fresh && it->second != k) {
            ++*duplicates;
            pda_advance_record();
          } else {
            pda_decode_record();
            take(static_cast<size_t>(series), f);
            pda_release_moments();
          }
        }
        ++done;
        if (choice.progress != nullptr) {
          choice.progress->update(done, all_records,
                                  bytes_before + pda_current_offset(),
                                  all_bytes);
        }
        if (records % kTimeBlock == 0) {
          release(static_cast<size_t>(records / kTimeBlock));
        }
      }
      pda_reset();
      if (records != file.records || taken != file.taken) {
        *error = file.path + ": the data file changed while it was read";
        return false;
      }
    } else {
      done += file.records;
    }
    bytes_before += file.data_bytes;
    release(file.later_first.size());
  }
  if (choice.progress != nullptr) choice.progress->finish();
  finished(std::numeric_limits<int64_t>::max());
  return true;
}

}  // namespace quellmar::companions
