// Fuzz target: the wind path of quellmar-wind and the RASS path of
// quellmar-rass on an arbitrary file pair. The access module reads the
// pair, its wind-mode records are streamed by period, consensus-averaged,
// fitted and flagged, its RASS dwells unfolded, corrected and
// consensus-averaged, and the CSV tables are made. Input layout: the pair
// input of fuzz/fuzz_input.h; bits 6-7 of byte 0 choose the methods'
// parameters.
//
// Invariants checked beyond the sanitizers: the profile arrays have the
// sizes their dimensions give; every value written is finite or missing
// (NaN, the fill value of the files); used counts lie within the available
// ones, an accepted consensus uses at least 2 values; speeds are not
// negative and directions lie in [0, 360); the CSV has one line per
// period, mode and height plus its header. RASS: the same sizes, counts
// and CSV rows; every virtual temperature continues the profile below it
// (within the lapse-rate bounds of the unfolding) or, with none below,
// lies within the plausible band of the first guess; the spread within
// the window.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_flows.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_scratch.h"
#include "methods/csv/rass_csv.h"
#include "methods/csv/wind_csv.h"
#include "methods/rass/input.h"
#include "methods/rass/profiles.h"
#include "methods/wind/input.h"
#include "methods/wind/profiles.h"
#include "methods/wind/wind_stream.h"

namespace {

quellmar::companions::WindMethod method_for(int choice) {
  quellmar::companions::WindMethod m;
  switch (choice) {
    case 1:
      m.period_minutes = 1;
      m.consensus.window = 0.5;
      m.consensus.min_fraction = 0.0;
      m.consensus.min_count = 2;
      m.assume_w_zero = true;
      break;
    case 2:
      m.period_minutes = 7;  // does not divide the day
      m.consensus.min_snr = 0.0;
      m.azimuth_offset_deg = -400.0;
      m.velocity_toward = true;
      break;
    case 3:
      m.period_minutes = 1440;
      m.consensus.window = 1e6;
      m.consensus.min_fraction = 1.0;
      m.unfold = false;
      m.consensus.min_snr.reset();
      break;
    default:
      break;
  }
  return m;
}

bool finite_or_nan(float v) { return std::isfinite(v) || std::isnan(v); }

std::string check_profiles(const quellmar::companions::ModeProfiles& m) {
  const size_t cells =
      m.periods.size() * m.beams.size() * static_cast<size_t>(m.max_gates);
  const size_t levels = m.periods.size() * m.height.size();
  if (m.beams.empty()) return "a mode without beams";
  if (m.reference_beam < 0 ||
      static_cast<size_t>(m.reference_beam) >= m.beams.size()) {
    return "grid beam outside the beams";
  }
  if (m.radial_velocity.size() != cells || m.mean_snr.size() != cells ||
      m.n_used.size() != cells || m.n_available.size() != cells) {
    return "consensus arrays differ from time x beam x gate";
  }
  for (const auto* f :
       {&m.u, &m.v, &m.w, &m.speed, &m.direction, &m.residual}) {
    if (f->size() != levels) return "profile arrays differ from time x height";
  }
  if (m.gate_flag.size() != cells || m.method_flag.size() != levels) {
    return "flag arrays differ from their dimensions";
  }
  for (size_t i = 0; i < cells; ++i) {
    if (m.gate_flag[i] > 7) return "a gate flag outside its bits";
    if ((m.gate_flag[i] & quellmar::companions::kGateUnfoldGaveUp) != 0 &&
        !std::isnan(m.radial_velocity[i])) {
      return "a value where unfolding gave up";
    }
  }
  for (size_t i = 0; i < levels; ++i) {
    if (m.method_flag[i] > 15) return "a method flag outside its bits";
    if ((m.method_flag[i] & quellmar::companions::kWindPrecipitation) != 0 &&
        !std::isnan(m.w[i]) &&
        (m.method_flag[i] & quellmar::companions::kWindAssumedWZero) == 0) {
      return "w taken from rain";
    }
  }
  if (m.nearest_gate.size() != m.beams.size() * m.height.size()) {
    return "nearest-gate table differs from beam x height";
  }
  for (double h : m.height) {
    if (!std::isfinite(h)) return "a grid height is not finite";
  }
  for (size_t i = 0; i < cells; ++i) {
    if (!finite_or_nan(m.radial_velocity[i]) || !finite_or_nan(m.mean_snr[i])) {
      return "a consensus value is infinite";
    }
    if (m.n_used[i] < 0 || m.n_used[i] > m.n_available[i]) {
      return "used count outside 0..available";
    }
    if (!std::isnan(m.radial_velocity[i]) && m.n_used[i] < 2) {
      return "a consensus accepted with fewer than 2 values";
    }
  }
  for (size_t i = 0; i < levels; ++i) {
    for (const auto* f :
         {&m.u, &m.v, &m.w, &m.speed, &m.direction, &m.residual}) {
      if (!finite_or_nan((*f)[i])) return "a profile value is infinite";
    }
    if (m.speed[i] < 0) return "negative wind speed";
    if (m.direction[i] < 0 || m.direction[i] >= 360) {
      return "wind direction outside [0, 360)";
    }
  }
  for (size_t b = 0; b < m.beams.size(); ++b) {
    for (size_t h = 0; h < m.height.size(); ++h) {
      const int32_t g = m.nearest_gate[b * m.height.size() + h];
      if (g < -1 || g >= m.beams[b].gates) return "nearest gate out of range";
    }
  }
  return "";
}

quellmar::companions::RassMethod rass_method_for(int choice) {
  quellmar::companions::RassMethod m;
  switch (choice) {
    case 1:
      m.period_minutes = 1;
      m.consensus.min_fraction = 0.0;
      m.acoustic_set = 1;
      break;
    case 2:
      m.period_minutes = 7;
      m.velocity_toward = true;
      m.sound_offset_m_s = -1000.0;
      m.first_guess_c = -100.0;
      m.lapse_rate_k_per_km = -20.0;
      break;
    case 3:
      m.period_minutes = 1440;
      m.consensus.window = 1e6;
      m.w_correction = false;
      m.first_guess_c = 60.0;
      break;
    default:
      break;
  }
  return m;
}

std::string check_rass(const quellmar::companions::RassProfiles& m,
                       const quellmar::companions::RassMethod& method) {
  const size_t cells = m.periods.size() * m.height.size();
  for (const auto* f :
       {&m.tv, &m.tv_uncorrected, &m.w, &m.spread, &m.auxiliary}) {
    if (f->size() != cells) return "RASS arrays differ from time x height";
  }
  if (m.w_source.size() != cells || m.n_used.size() != cells ||
      m.n_available.size() != cells || m.n_ambiguous.size() != cells ||
      m.tv_flag.size() != cells) {
    return "RASS counts or flags differ from time x height";
  }
  for (size_t i = 0; i < cells; ++i) {
    for (const auto* f :
         {&m.tv, &m.tv_uncorrected, &m.w, &m.spread, &m.auxiliary}) {
      if (!finite_or_nan((*f)[i])) return "a RASS value is infinite";
    }
    if (m.n_used[i] < 0 || m.n_used[i] > m.n_available[i] ||
        m.n_ambiguous[i] < 0 || m.n_ambiguous[i] > m.n_available[i]) {
      return "RASS count outside 0..available";
    }
    if (std::isnan(m.tv[i]) != (m.n_used[i] == 0)) {
      return "a temperature without a consensus, or one missing";
    }
    if (std::isnan(m.tv[i]) !=
        (m.tv_flag[i] == quellmar::companions::kFlagMissing)) {
      return "a Tv flag missing for a value, or not for a missing one";
    }
    if (std::isnan(m.tv[i])) continue;
    // The uncorrected value continues the profile below (the nearest
    // lower gate with a value in the period), or lies in the first
    // guess's band where there is none.
    namespace c = quellmar::companions;
    const size_t levels = m.height.size(), h = i % levels;
    const double raw = m.tv_uncorrected[i];
    if (!(m.tv[i] > 0) || !(raw > 0)) return "a virtual temperature <= 0";
    size_t below = h;
    while (below > 0 && std::isnan(m.tv_uncorrected[i - (h - below) - 1])) {
      --below;
    }
    if (below > 0) {
      const double ref = m.tv_uncorrected[i - (h - below) - 1];
      const double dz = std::max(0.0, m.height[h] - m.height[below - 1]);
      if (raw <
              ref -
                  (c::kAutoconvectiveLapseKPerM * dz + c::kContinuityMarginK) -
                  1e-3 ||
          raw > ref +
                    (c::kStrongestInversionKPerM * dz + c::kContinuityMarginK) +
                    1e-3) {
        return "a virtual temperature that does not continue the profile";
      }
    } else {
      const double t0 =
          c::first_guess_k(method, m.height[h], m.periods[i / levels].start);
      if (std::fabs(raw - t0) > c::kPlausibleK + 1e-3) {
        return "a virtual temperature outside the plausible band";
      }
    }
    if (m.spread[i] < 0 || m.spread[i] > method.consensus.window + 1e-3) {
      return "a consensus spread outside the window";
    }
  }
  return "";
}

// The RASS path on the pair, as quellmar-rass takes it.
void rass_path(const std::string& path, int which) {
  const quellmar::companions::RassMethod method = rass_method_for(which);
  const quellmar::companions::RecordChoice choice =
      quellmar::companions::rass_records(0, method);
  quellmar::companions::InputPlan plan;
  std::string error;
  if (!quellmar::companions::plan_input({path}, choice, method.period_minutes,
                                        &plan, &error)) {
    if (error.empty())
      quellmar::fuzz::report_problem("a RASS failure without a message");
    return;
  }
  if (quellmar::companions::rass_profile_cells(plan) >
      quellmar::companions::kMaxProfileCells) {
    return;  // the program refuses such a run
  }
  quellmar::companions::RassRun run;
  if (!quellmar::companions::stream_rass_profiles(plan, choice, method, &run,
                                                  &error)) {
    if (error.empty())
      quellmar::fuzz::report_problem("a RASS failure without a message");
    return;
  }
  const std::vector<quellmar::companions::RassProfiles>& modes = run.modes;
  size_t rows = 1;
  for (const quellmar::companions::RassProfiles& m : modes) {
    const std::string problem = check_rass(m, method);
    if (!problem.empty()) quellmar::fuzz::report_problem(problem);
    rows += m.periods.size() * m.height.size();
  }
  const std::string csv = quellmar::companions::rass_csv(modes);
  size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  if (lines != rows)
    quellmar::fuzz::report_problem("RASS CSV rows differ from the profiles");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quellmar::fuzz::set_up_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quellmar::fuzz::PairInput in;
  std::vector<uint8_t> header;
  if (!quellmar::fuzz::take_pair_input(data, size, 4000000, false, &in,
                                       &header)) {
    return -1;
  }
  const std::string dir = quellmar::fuzz::scratch_root() + "/";
  const std::string name =
      quellmar::fuzz::pair_data_name(in.name_choice, in.spectra);
  if (!quellmar::fuzz::write_bytes(dir + name, in.data.data(),
                                   in.data.size()) ||
      !quellmar::fuzz::write_bytes(dir + "h" + name.substr(1), header.data(),
                                   header.size())) {
    return 0;
  }
  rass_path(dir + name, size > 0 ? data[0] >> 6 : 0);
  const quellmar::companions::WindMethod method =
      method_for(size > 0 ? data[0] >> 6 : 0);
  const quellmar::companions::RecordChoice choice =
      quellmar::companions::wind_records(0);
  quellmar::companions::InputPlan plan;
  std::string error;
  if (!quellmar::companions::plan_input({dir + name}, choice,
                                        method.period_minutes, &plan, &error)) {
    if (error.empty())
      quellmar::fuzz::report_problem("a failure without a message");
    return 0;
  }
  // The whole-run arrays are held here (the program streams them to its
  // file): a run too large for that is left out.
  int64_t cells = 0;
  for (size_t i = 0; i < plan.series.size(); ++i) {
    cells += static_cast<int64_t>(plan.period_starts[i].size()) *
             plan.series[i].gates;
  }
  if (cells > quellmar::companions::kMaxProfileCells) return 0;
  std::vector<quellmar::companions::ModeProfiles> modes;
  int64_t duplicates = 0;
  if (!quellmar::companions::stream_wind_profiles(
          plan, choice, method,
          [&](const std::vector<quellmar::companions::ModeProfiles>& l) {
            modes = l;
            for (auto& m : modes) quellmar::companions::size_values(&m);
          },
          [&](size_t mi, const quellmar::companions::PeriodProfiles& p) {
            quellmar::companions::store_period(p, &modes[mi]);
          },
          &duplicates, &error)) {
    quellmar::fuzz::report_problem("the pair changed while it was read");
    return 0;
  }
  for (auto& m : modes) quellmar::companions::set_quality_flags(&m, method);
  size_t rows = 1;
  for (const quellmar::companions::ModeProfiles& m : modes) {
    const std::string problem = check_profiles(m);
    if (!problem.empty()) quellmar::fuzz::report_problem(problem);
    rows += m.periods.size() * m.height.size();
  }
  const std::string csv = quellmar::companions::wind_csv(modes);
  size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  if (lines != rows)
    quellmar::fuzz::report_problem("CSV rows differ from the profiles");
  return 0;
}
