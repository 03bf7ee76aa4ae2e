#include "python/extension/pair_reader.h"

#include <algorithm>
#include <limits>

#include "disk/pda.h"
#include "methods/netcdf/decode_pass.h"
#include "methods/netcdf/scan.h"
#include "methods/pairs/spectrum_shape.h"
#include "methods/report/report.h"
#include "methods/report/summary.h"

namespace quellmar::python {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
constexpr size_t kDamageKept = 20;

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
        out[point - 1] = line[static_cast<size_t>(at)];
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
  const companions::PairInput input = open(path);
  companions::NcPlanner planner(options.radar);
  const companions::NcScan scan =
      companions::scan_for_conversion(input, kDamageKept, &planner);
  PairArrays a;
  for (const companions::Damage& d : scan.damage) {
    a.damage.push_back(companions::damage_line(path, d));
  }
  a.damage_count = scan.damage_count;
  if (options.raise_on_damage && !a.damage.empty()) {
    std::string more;
    if (scan.damage_count > 1) {
      more = " (and " + std::to_string(scan.damage_count - 1) +
             " more finding(s); quellmar.inspect lists them all)";
    }
    throw PairError(a.damage.front() + more);
  }
  companions::NcPlan plan;
  std::string error;
  if (!planner.finish(&plan, &error)) throw PairError(path + ": " + error);
  if (options.spectra && plan.spectrum_length == 0) {
    throw PairError(path + ": holds no spectra (a moments file)");
  }
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
  std::vector<int64_t> ray_points;
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
          const std::vector<float>& src = m.*spec.values;
          for (int64_t g = 0; g < f.gate_count; ++g) {
            const float v = src[static_cast<size_t>(g)];
            out.push_back(!spec.decibels ? v
                          : v > 0.0f     ? pda_power_db(v)
                                         : kMissing);
          }
        }
        if (options.spectra) {
          const int64_t points = f.spectra_flag != 0 ? f.spectral_points : 0;
          ray_points.push_back(points);
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
        ray_points.empty()
            ? 0
            : *std::max_element(ray_points.begin(), ray_points.end());
    a.spectrum_points = width;
    a.spectra.assign(static_cast<size_t>(a.n_points * width), kMissing);
    a.doppler_velocity.assign(rays * static_cast<size_t>(width),
                              std::numeric_limits<double>::quiet_NaN());
    size_t from = 0;
    for (size_t r = 0; r < rays; ++r) {
      const int64_t points = ray_points[r];
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

std::string inspect_pair(const std::string& path) {
  ModuleSession session;
  const companions::PairInput input = open(path);
  const companions::ScanResult scan = companions::scan_records(input);
  return companions::info_json(companions::summarize(input, scan));
}

}  // namespace quellmar::python
