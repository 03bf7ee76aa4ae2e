#include "methods/rass/unfold.h"

#include <algorithm>
#include <cmath>

namespace quellmar::companions {

namespace {
constexpr double kSoundPerRootKelvin = 20.047;  // m/s per sqrt(K)
constexpr double kCelsiusZero = 273.15;         // K
}  // namespace

double virtual_temperature(double speed_m_s) {
  const double r = speed_m_s / kSoundPerRootKelvin;
  return r * r;
}

double first_guess_k(const RassMethod& method, double height_m) {
  return method.first_guess_c + kCelsiusZero -
         method.lapse_rate_k_per_km * height_m / 1000.0;
}

Unfolded unfold_speed(double a, double nyquist, double t0) {
  Unfolded out;
  if (!std::isfinite(a) || !std::isfinite(nyquist) || !std::isfinite(t0) ||
      nyquist < 0.01 || t0 + kPlausibleK <= 0.0) {
    return out;
  }
  const double step = 2.0 * nyquist;
  const double c0 = kSoundPerRootKelvin * std::sqrt(std::max(t0, 0.0));
  const double centre = std::round((c0 - a) / step);
  if (!(std::fabs(centre) < 1e9)) return out;
  // Tv grows monotonically with c > 0, so the candidates in the band lie
  // next to each other around the one nearest c0: two of them, if there
  // are two, are among the five around it.
  int inside = 0;
  double speed = 0.0;
  for (int i = -2; i <= 2; ++i) {
    const double c = a + (centre + i) * step;
    if (!(c > 0.0)) continue;
    if (std::fabs(virtual_temperature(c) - t0) <= kPlausibleK) {
      ++inside;
      speed = c;
    }
  }
  if (inside == 0) return out;
  if (inside > 1) {
    out.status = UnfoldStatus::kAmbiguous;
    return out;
  }
  out.status = UnfoldStatus::kOk;
  out.speed = speed;
  return out;
}

}  // namespace quellmar::companions
