#include "companions/wind/input.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "companions/common/pair_scan.h"
#include "companions/common/progress.h"
#include "disk/pda.h"

namespace quellmar::companions {

namespace {

struct ScannedPair {
  std::string path;
  std::vector<RecordFacts> records;
  std::vector<bool> wanted;  // one per record
  int64_t data_bytes = 0;
};

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

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

using SeriesKey = std::tuple<int32_t, int32_t, BeamGeometry>;

BeamGeometry geometry_of(const RecordFacts& f) {
  BeamGeometry g;
  g.azimuth = f.azimuth;
  g.elevation = f.elevation;
  g.first_gate_delay_ns = f.first_gate_delay_ns;
  g.delay_offset_ns = f.delay_offset_ns;
  g.gate_spacing_ns = f.gate_spacing_ns;
  return g;
}

// The stored moments of each record, handed on at once.
class StoredMoments : public RecordMomentsSource {
 public:
  bool begin_pair(const std::string&, std::string*) override { return true; }
  void add(const RecordFacts& f, const MomentArrays& m) override {
    const int64_t gates =
        std::min({m.gate_count, static_cast<int64_t>(m.velocity.size()),
                  static_cast<int64_t>(m.snr.size()),
                  static_cast<int64_t>(f.gate_count)});
    const size_t n = static_cast<size_t>(std::max<int64_t>(gates, 0));
    facts_ = f;
    velocity_.assign(m.velocity.begin(), m.velocity.begin() + n);
    snr_.assign(m.snr.begin(), m.snr.begin() + n);
    ready_ = true;
  }
  void finish() override {}
  bool next(RecordFacts* f, std::vector<float>* velocity,
            std::vector<float>* snr) override {
    if (!ready_) return false;
    ready_ = false;
    *f = facts_;
    velocity->swap(velocity_);
    snr->swap(snr_);
    return true;
  }

 private:
  RecordFacts facts_;
  std::vector<float> velocity_, snr_;
  bool ready_ = false;
};

// Pools the records the source has ready into the series.
void pool_ready(RecordMomentsSource* source,
                std::map<SeriesKey, BeamSeries>* out) {
  RecordFacts f;
  std::vector<float> velocity, snr;
  while (source->next(&f, &velocity, &snr)) {
    const size_t gates = std::min(velocity.size(), snr.size());
    BeamSeries& s = (*out)[{f.mode, f.beam, geometry_of(f)}];
    s.mode = f.mode;
    s.beam = f.beam;
    s.geometry = geometry_of(f);
    s.add(f.time, velocity.data(), snr.data(), static_cast<int32_t>(gates));
  }
}

// Decodes the wanted records of one pair into the series. False when the
// walk does not meet the records of the scan again.
bool decode_pair(const ScannedPair& pair, RecordMomentsSource* source,
                 std::map<SeriesKey, BeamSeries>* out, Progress* progress,
                 int64_t* records_done, int64_t bytes_before,
                 std::string* error) {
  if (!source->begin_pair(pair.path, error)) return false;
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
      source->add(f, pda_moments);
      pda_release_moments();
      pool_ready(source, out);
    }
    ++*records_done;
    progress->update(*records_done, bytes_before + pda_current_offset());
  }
  pda_reset();
  return true;
}

// One series per (mode, beam): the geometry most of its records share
// (the lowest geometry on a tie); the others' records are set aside.
std::vector<BeamSeries> resolve_geometry(std::map<SeriesKey, BeamSeries> all,
                                         std::vector<std::string>* findings) {
  std::vector<BeamSeries> out;
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
      total += static_cast<int64_t>(next->second.records());
      if (next->second.records() > best->second.records()) best = next;
    }
    const int64_t kept = static_cast<int64_t>(best->second.records());
    if (kept != total) {
      findings->push_back(
          "mode " + std::to_string(mode) + " beam " + std::to_string(beam) +
          ": " + std::to_string(total - kept) +
          " record(s) set aside: their HeaderBlock points the beam elsewhere "
          "or places its gates differently than for the other " +
          std::to_string(kept));
    }
    out.push_back(std::move(best->second));
    it = next;
  }
  return out;
}

}  // namespace

bool read_wind_input(const std::vector<std::string>& paths, int32_t radar,
                     WindInput* out, std::string* error,
                     RecordMomentsSource* source) {
  StoredMoments stored;
  if (source == nullptr) source = &stored;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (paths[i] == paths[j] || same_file(paths[i], paths[j])) {
        *error = paths[i] + ": named twice (as " + paths[j] + ")";
        return false;
      }
    }
  }

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
      const bool wanted = f.radar == radar && f.beam_described &&
                          f.spectral_points < kRassSpectralPoints &&
                          f.gate_count > 0;
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
  if (wanted_records == 0) {
    *error = (paths.size() == 1 ? paths[0] : "the files") +
             ": no wind-mode record of radar " + std::to_string(radar);
    return false;
  }
  if (values > kMaxPooledValues) {
    *error = "the wind records hold " + std::to_string(values) +
             " gate values, more than the " + std::to_string(kMaxPooledValues) +
             " one run pools; give fewer files";
    return false;
  }

  std::map<SeriesKey, BeamSeries> series;
  Progress progress(all_records, all_bytes, "quellmar-wind");
  int64_t done = 0, bytes_before = 0;
  for (const ScannedPair& p : pairs) {
    if (!decode_pair(p, source, &series, &progress, &done, bytes_before,
                     error)) {
      pda_reset();
      return false;
    }
    bytes_before += p.data_bytes;
  }
  source->finish();
  pool_ready(source, &series);
  progress.finish();

  out->site_name = site;
  out->records = wanted_records;
  out->series = resolve_geometry(std::move(series), &findings);
  out->findings = std::move(findings);
  return true;
}

}  // namespace quellmar::companions
