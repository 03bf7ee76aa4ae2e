#include "methods/rass/unfold.h"

#include <algorithm>
#include <cmath>

namespace quellmar::companions {

namespace {
constexpr double kSoundPerRootKelvin = 20.047;  // m/s per sqrt(K)
constexpr double kCelsiusZero = 273.15;         // K
// More candidates than this in an interval: ambiguous without counting on.
constexpr int64_t kMostCandidates = 64;

double speed_of(double t_k) {
  return kSoundPerRootKelvin * std::sqrt(std::max(t_k, 0.0));
}

// The candidates a + k step (k whole, > 0) whose Tv lies in [lo, hi]:
// their number (up to kMostCandidates + 1) and the first two.
struct Candidates {
  int64_t count = 0;
  double speed[2] = {0.0, 0.0};
};
Candidates candidates_in(double a, double step, double lo, double hi) {
  Candidates out;
  if (!(hi > 0.0) || !(hi >= lo)) return out;
  const double c_lo = speed_of(lo), c_hi = speed_of(hi);
  const double k_lo = std::ceil((c_lo - a) / step);
  const double k_hi = std::floor((c_hi - a) / step);
  if (!(std::fabs(k_lo) < 1e9) || !(std::fabs(k_hi) < 1e9)) return out;
  for (double k = k_lo; k <= k_hi; ++k) {
    const double c = a + k * step;
    if (!(c > 0.0)) continue;
    const double tv = virtual_temperature(c);
    if (tv < lo || tv > hi) continue;
    if (out.count < 2) out.speed[out.count] = c;
    if (++out.count > kMostCandidates) break;
  }
  return out;
}

}  // namespace

double virtual_temperature(double speed_m_s) {
  const double r = speed_m_s / kSoundPerRootKelvin;
  return r * r;
}

double first_guess_k(const RassMethod& method, double height_m, int64_t t) {
  const double surface =
      method.first_guess_series.empty()
          ? method.first_guess_c
          : surface_temperature_c(method.first_guess_series, t);
  return surface + kCelsiusZero -
         method.lapse_rate_k_per_km * height_m / 1000.0;
}

double candidate_spacing_k(double nyquist_m_s, double t_k) {
  return 2.0 * 2.0 * nyquist_m_s * speed_of(t_k) /
         (kSoundPerRootKelvin * kSoundPerRootKelvin);
}

Unfolded unfold_speed(double a, double nyquist, const UnfoldGuide& guide) {
  Unfolded out;
  const double t0 = guide.first_guess_k;
  if (!std::isfinite(a) || !std::isfinite(nyquist) || !std::isfinite(t0) ||
      nyquist < 0.01 || t0 + kPlausibleK <= 0.0) {
    return out;
  }
  const double step = 2.0 * nyquist;
  const double band_lo = t0 - kPlausibleK, band_hi = t0 + kPlausibleK;
  Candidates found;
  if (std::isfinite(guide.below_k)) {
    const double dz = std::max(0.0, guide.below_dz_m);
    const double lo =
        guide.below_k - (kAutoconvectiveLapseKPerM * dz + kContinuityMarginK);
    const double hi =
        guide.below_k + (kStrongestInversionKPerM * dz + kContinuityMarginK);
    found = candidates_in(a, step, lo, hi);
    if (found.count >= 2) {
      // Of the continuous ones, those the first guess finds plausible.
      found =
          candidates_in(a, step, std::max(lo, band_lo), std::min(hi, band_hi));
      if (found.count == 0) found.count = 2;  // none of them is preferred
    }
  } else {
    found = candidates_in(a, step, band_lo, band_hi);
  }
  if (found.count == 0) return out;
  if (found.count > 1) {
    out.status = UnfoldStatus::kAmbiguous;
    return out;
  }
  out.status = UnfoldStatus::kOk;
  out.speed = found.speed[0];
  return out;
}

}  // namespace quellmar::companions
