#include "python/extension/pair_reader.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <set>

#include "disk/pda.h"
#include "methods/netcdf/decode_pass.h"
#include "methods/netcdf/file.h"
#include "methods/netcdf/scan.h"
#include "methods/pairs/spectrum_shape.h"
#include "methods/report/report.h"
#include "methods/report/summary.h"

namespace quellmar::python {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
constexpr size_t kDamageKept = 20;

std::atomic<int64_t> decoded{0};

// The module as a library in someone else's process: no messages on their
// standard output, and an allocation failure returned, not the end of the
// process. The pair is closed however the read ends.
class ModuleSession {
 public:
  ModuleSession() {
    pda_set_message_stream(nullptr);
    pda_set_exit_on_allocation_failure(0);
  }
  ~ModuleSession() { pda_reset(); }
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;
};

companions::PairInput open(const std::string& path) {
  companions::PairInput input;
  std::string error;
  if (!companions::open_pair(path, &input, &error)) throw PairError(error);
  return input;
}

// A value as the converted file gives it back: NaN for no data, and for a
// decoded value that equals the file's fill value.
float as_read(float v) { return v == companions::kFillValue ? kMissing : v; }

// Gate g of field spec of a decoded record, as the converted file holds it.
float field_value(const companions::FieldSpec& spec, const MomentArrays& m,
                  int64_t g) {
  const float v = (m.*spec.values)[static_cast<size_t>(g)];
  return as_read(!spec.decibels ? v : v > 0.0f ? pda_power_db(v) : kMissing);
}

std::string changed(const std::string& path, const std::string& what) {
  return path + ": the data file changed since it was opened: " + what;
}

// The record scan of a pair for the radar of options: its plan and its
// findings (records of another radar than the one read are not damage);
// on_ray, when set, gets every ray with its Nyquist velocity.
struct Scanned {
  explicit Scanned(int32_t radar) : planner(radar) {}
  companions::PairInput input;
  companions::NcPlanner planner;
  companions::NcPlan plan;
  std::vector<std::string> damage;
  int64_t damage_count = 0;
  std::function<void(const companions::RecordFacts&, float)> on_ray;
};

void scan(const std::string& path, const ReadOptions& options, Scanned* s) {
  s->input = open(path);
  // The one walk of quellmar-nc's scan (scan_for_conversion), which also
  // keeps what is asked of the rays: the findings in data-file order, a
  // HeaderBlock that cannot be loaded found at its first record with the
  // number of records that name it.
  std::vector<companions::Damage> found;
  struct Unloaded {
    int64_t records = 0;
    size_t at = 0;
  };
  std::map<int32_t, Unloaded> unloaded;
  std::set<int64_t> not_taken;
  companions::walk_records(
      s->input,
      [&](const companions::RecordFacts& f) {
        if (!f.header_loaded) {
          auto [it, first] = unloaded.try_emplace(f.header_offset);
          ++it->second.records;
          if (first) {
            it->second.at = found.size();
            found.push_back({f.offset, "header_read_error", ""});
          }
        }
        s->planner.add(f);
        if (!s->planner.takes(f)) {
          not_taken.insert(f.offset);
        } else if (s->on_ray) {
          s->on_ray(f, pda_get_nyquist_velocity());
        }
      },
      [&](companions::Damage d) { found.push_back(std::move(d)); });
  for (const auto& [header_offset, u] : unloaded) {
    found[u.at].detail =
        companions::header_read_error(header_offset, u.records);
  }
  for (const companions::Damage& d : found) {
    if (d.kind == "unknown_radar" && not_taken.count(d.offset) != 0) continue;
    ++s->damage_count;
    if (s->damage.size() < kDamageKept) {
      s->damage.push_back(companions::damage_line(path, d));
    }
  }
  if (options.raise_on_damage && !s->damage.empty()) {
    std::string more;
    if (s->damage_count > 1) {
      more = " (and " + std::to_string(s->damage_count - 1) +
             " more finding(s); quellmar.inspect lists them all)";
    }
    throw PairError(s->damage.front() + more);
  }
  std::string error;
  if (!s->planner.finish(&s->plan, &error))
    throw PairError(path + ": " + error);
  if (options.spectra && s->plan.spectrum_length == 0) {
    throw PairError(path + ": holds no spectra (a moments file)");
  }
}

// The points of a ray's spectrum: none when the record carries no spectra.
int64_t ray_points(const companions::RecordFacts& f) {
  return f.spectra_flag != 0 ? f.spectral_points : 0;
}

// Spectral point k (from 1) of a gate's decoded row at column k - 1 of
// out (spectral_points columns): the spectrum line of the record
// (pda_spectrum_line) placed at its points, the points outside every window
// missing.
void place_spectrum(const companions::RecordFacts& f,
                    const SpectrumLineShape& shape, const float* row,
                    int64_t row_length, std::vector<float>& line, float* out) {
  const int64_t points = f.spectral_points;
  std::fill_n(out, points, kMissing);
  line.resize(static_cast<size_t>(pda_spectrum_line_length(shape, row_length)));
  pda_spectrum_line(shape, row, row_length, line.data());
  const int64_t n = static_cast<int64_t>(line.size());
  const WindowRows rows =
      pda_locate_windows(shape.window1_start, shape.window2_start,
                         shape.window2_points, shape.positional);
  auto take = [&](int64_t first_point, int64_t count, int64_t line_start) {
    for (int64_t i = 0; i < count; ++i) {
      const int64_t point = first_point + i;
      const int64_t at = line_start + i;
      if (point >= 1 && point <= points && at >= 0 && at < n) {
        out[point - 1] = as_read(line[static_cast<size_t>(at)]);
      }
    }
  };
  if (rows.two_windows) {
    // Value k of the line is point k + 1.
    take(shape.window1_start, shape.window1_points, shape.window1_start - 1);
    if (shape.placement == 1) {
      take(shape.window2_start, shape.window2_points, shape.window2_start - 1);
    }
  } else {
    take(shape.window1_start, shape.window1_points, 0);
  }
}

}  // namespace

PairArrays read_pair(const std::string& path, const ReadOptions& options) {
  ModuleSession session;
  Scanned scanned(options.radar);
  scan(path, options, &scanned);
  const companions::PairInput& input = scanned.input;
  const companions::NcPlanner& planner = scanned.planner;
  const companions::NcPlan& plan = scanned.plan;
  std::string error;
  PairArrays a;
  a.damage = std::move(scanned.damage);
  a.damage_count = scanned.damage_count;
  a.attributes = companions::global_attributes(input, plan);

  const size_t rays = static_cast<size_t>(plan.rays);
  a.n_points = plan.n_points;
  a.second_set = plan.second_set;
  a.time.reserve(rays);
  for (auto* v : {&a.azimuth, &a.elevation, &a.ray_start_range,
                  &a.ray_gate_spacing, &a.prt, &a.nyquist_velocity}) {
    v->reserve(rays);
  }
  for (auto* v : {&a.ray_n_gates, &a.beam_index, &a.mode_index, &a.datacode,
                  &a.spectral_points}) {
    v->reserve(rays);
  }
  a.ray_start_index.reserve(rays);
  a.fields.resize(companions::kFieldCount);
  for (int k = 0; k < companions::kFieldCount; ++k) {
    if (!companions::kFields[k].second_set || plan.second_set) {
      a.fields[k].reserve(static_cast<size_t>(plan.n_points));
    }
  }

  // Spectra: each ray's points at first, packed to the widest ray's when
  // the pass is over.
  std::vector<float> packed;
  std::vector<int64_t> points_of_ray;
  std::vector<float> line;

  const bool ok = companions::decode_rays(
      input, plan, planner,
      [&](const companions::RecordFacts& f, const MomentArrays& m,
          float nyquist) {
        if (static_cast<int64_t>(a.time.size()) >= plan.rays ||
            a.n_points - static_cast<int64_t>(a.fields[0].size()) <
                f.gate_count) {
          return false;
        }
        a.ray_start_index.push_back(static_cast<int64_t>(a.fields[0].size()));
        a.time.push_back(f.time);
        a.azimuth.push_back(static_cast<float>(f.azimuth));
        a.elevation.push_back(f.elevation);
        a.ray_start_range.push_back(companions::gate_range_m(f, 0));
        a.ray_gate_spacing.push_back(companions::gate_spacing_m(f));
        a.prt.push_back(static_cast<float>(f.ipp_ns * 1e-9));
        a.nyquist_velocity.push_back(nyquist);
        a.ray_n_gates.push_back(f.gate_count);
        a.beam_index.push_back(f.beam);
        a.mode_index.push_back(f.mode);
        a.datacode.push_back(f.datacode);
        a.spectral_points.push_back(f.spectral_points);
        for (int k = 0; k < companions::kFieldCount; ++k) {
          const companions::FieldSpec& spec = companions::kFields[k];
          std::vector<float>& out = a.fields[k];
          if (spec.second_set && !plan.second_set) continue;
          if (spec.second_set && !f.second_set) {
            out.insert(out.end(), static_cast<size_t>(f.gate_count), kMissing);
            continue;
          }
          for (int64_t g = 0; g < f.gate_count; ++g) {
            out.push_back(field_value(spec, m, g));
          }
        }
        ++decoded;
        if (options.spectra) {
          const int64_t points = ray_points(f);
          points_of_ray.push_back(points);
          const SpectrumLineShape shape = companions::spectrum_line_shape(f);
          const size_t at = packed.size();
          packed.resize(at + static_cast<size_t>(f.gate_count * points));
          for (int64_t g = 0; g < f.gate_count && points > 0; ++g) {
            place_spectrum(f, shape, m.spectra_row(g), m.row_length, line,
                           packed.data() + at + g * points);
          }
        }
        return true;
      },
      nullptr, &error);
  if (!ok) {
    DiskProblem code = DiskProblem::kNone;
    int64_t offset = 0, value = 0;
    if (pda_get_problem(&code, &offset, &value) &&
        code == DiskProblem::kOutOfMemory) {
      throw OutOfMemory(path + ": " + error);
    }
    throw PairError(path + ": " + error);
  }

  if (options.spectra) {
    const int64_t width =
        points_of_ray.empty()
            ? 0
            : *std::max_element(points_of_ray.begin(), points_of_ray.end());
    a.spectrum_points = width;
    a.spectra.assign(static_cast<size_t>(a.n_points * width), kMissing);
    a.doppler_velocity.assign(rays * static_cast<size_t>(width),
                              std::numeric_limits<double>::quiet_NaN());
    size_t from = 0;
    for (size_t r = 0; r < rays; ++r) {
      const int64_t points = points_of_ray[r];
      for (int64_t g = 0; g < a.ray_n_gates[r]; ++g) {
        std::copy_n(
            packed.begin() + static_cast<std::ptrdiff_t>(from), points,
            a.spectra.begin() + static_cast<std::ptrdiff_t>(
                                    (a.ray_start_index[r] + g) * width));
        from += static_cast<size_t>(points);
      }
      for (int64_t k = 1; k <= points; ++k) {
        a.doppler_velocity[r * static_cast<size_t>(width) + (k - 1)] =
            pda_doppler_velocity_ms(k, points, a.nyquist_velocity[r]);
      }
    }
  }
  return a;
}

PairArrays scan_pair(const std::string& path, const ReadOptions& options) {
  ModuleSession session;
  Scanned scanned(options.radar);
  PairArrays a;
  int64_t start = 0;
  int64_t width = 0;
  std::vector<int64_t> points_of_ray;
  std::set<int32_t> beams;
  int64_t index = 0;
  scanned.on_ray = [&](const companions::RecordFacts& f, float nyquist) {
    beams.insert(f.beam);
    const int64_t ray = index++;
    if (options.beam != -1 && f.beam != options.beam) return;
    a.offset.push_back(f.offset);
    a.ray.push_back(ray);
    a.ray_start_index.push_back(start);
    start += f.gate_count;
    a.time.push_back(f.time);
    a.azimuth.push_back(static_cast<float>(f.azimuth));
    a.elevation.push_back(f.elevation);
    a.ray_start_range.push_back(companions::gate_range_m(f, 0));
    a.ray_gate_spacing.push_back(companions::gate_spacing_m(f));
    a.prt.push_back(static_cast<float>(f.ipp_ns * 1e-9));
    a.nyquist_velocity.push_back(nyquist);
    a.ray_n_gates.push_back(f.gate_count);
    a.beam_index.push_back(f.beam);
    a.mode_index.push_back(f.mode);
    a.datacode.push_back(f.datacode);
    a.spectral_points.push_back(f.spectral_points);
    width = std::max(width, ray_points(f));
    if (options.spectra) points_of_ray.push_back(ray_points(f));
  };
  scan(path, options, &scanned);
  a.beams.assign(beams.begin(), beams.end());
  const companions::NcPlan& plan = scanned.plan;
  a.damage = std::move(scanned.damage);
  a.damage_count = scanned.damage_count;
  a.attributes = companions::global_attributes(scanned.input, plan);
  a.n_points = plan.n_points;
  a.second_set = plan.second_set;
  if (options.spectra) {
    const size_t rays = points_of_ray.size();
    a.spectrum_points = width;
    a.doppler_velocity.assign(rays * static_cast<size_t>(width),
                              std::numeric_limits<double>::quiet_NaN());
    for (size_t r = 0; r < rays; ++r) {
      const int64_t points = points_of_ray[r];
      for (int64_t k = 1; k <= points; ++k) {
        a.doppler_velocity[r * static_cast<size_t>(width) + (k - 1)] =
            pda_doppler_velocity_ms(k, points, a.nyquist_velocity[r]);
      }
    }
  }
  return a;
}

RecordValues read_records(const std::string& path,
                          const std::vector<int64_t>& offsets,
                          const std::vector<int>& field_indices, int64_t width,
                          int64_t spectrum_points) {
  ModuleSession session;
  open(path);
  const size_t n = offsets.size();
  const auto cells = n * static_cast<size_t>(width);
  RecordValues v;
  v.fields.assign(field_indices.size(), std::vector<float>(cells, kMissing));
  if (spectrum_points > 0) {
    v.spectra.assign(cells * static_cast<size_t>(spectrum_points), kMissing);
  }
  // The records in data-file order, each decoded once.
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });
  std::vector<float> line;
  size_t next = 0;
  int new_header = 0;
  while (next < n && pda_read_record_header(&new_header) == 0) {
    const int64_t offset = pda_get_record_offset();
    const int64_t wanted = offsets[order[next]];
    if (offset > wanted) break;
    if (offset < wanted) {
      pda_advance_record();
      continue;
    }
    if (pda_decode_record() != 0) {
      throw OutOfMemory(path + ": the record at data offset " +
                        std::to_string(offset) +
                        " needs more memory than there is");
    }
    ++decoded;
    const companions::RecordFacts f = companions::current_facts();
    const MomentArrays& m = pda_moments;
    const int64_t points = spectrum_points > 0 ? ray_points(f) : 0;
    const std::string record =
        "the record at data offset " + std::to_string(offset) + " ";
    if (m.gate_count != f.gate_count) {
      throw PairError(path + ": " + record + "decodes with " +
                      std::to_string(m.gate_count) + " gates, not the " +
                      std::to_string(f.gate_count) + " its RecordHeader gave");
    }
    if (f.gate_count > width || points > spectrum_points) {
      throw PairError(changed(
          path, record + "has " + std::to_string(f.gate_count) + " gates and " +
                    std::to_string(points) + " spectral points, not at most " +
                    std::to_string(width) + " and " +
                    std::to_string(spectrum_points)));
    }
    const SpectrumLineShape shape = companions::spectrum_line_shape(f);
    for (; next < n && offsets[order[next]] == offset; ++next) {
      const size_t row = order[next] * static_cast<size_t>(width);
      for (size_t k = 0; k < field_indices.size(); ++k) {
        const companions::FieldSpec& spec =
            companions::kFields[field_indices[k]];
        float* out = v.fields[k].data() + row;
        if (spec.second_set && !f.second_set) continue;
        for (int64_t g = 0; g < f.gate_count; ++g) {
          out[g] = field_value(spec, m, g);
        }
      }
      for (int64_t g = 0; g < f.gate_count && points > 0; ++g) {
        place_spectrum(
            f, shape, m.spectra_row(g), m.row_length, line,
            v.spectra.data() + (row + static_cast<size_t>(g)) *
                                   static_cast<size_t>(spectrum_points));
      }
    }
    pda_release_moments();
  }
  pda_release_moments();
  if (next < n) {
    throw PairError(changed(path, "no record at data offset " +
                                      std::to_string(offsets[order[next]])));
  }
  return v;
}

int64_t decoded_records() { return decoded.load(); }

std::string inspect_pair(const std::string& path) {
  ModuleSession session;
  const companions::PairInput input = open(path);
  const companions::ScanResult scan = companions::scan_records(input);
  return companions::info_json(companions::summarize(input, scan));
}

}  // namespace quellmar::python
