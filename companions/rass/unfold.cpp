#include "companions/rass/unfold.h"

#include <cmath>
#include <limits>

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
  // Tv grows monotonically with c > 0: the two candidates nearest t0 are
  // among the five around the one nearest c0.
  const double inf = std::numeric_limits<double>::infinity();
  double best = inf, second = inf, best_speed = 0.0;
  for (int i = -2; i <= 2; ++i) {
    const double c = a + (centre + i) * step;
    if (!(c > 0.0)) continue;
    const double d = std::fabs(virtual_temperature(c) - t0);
    if (d < best) {
      second = best;
      best = d;
      best_speed = c;
    } else if (d < second) {
      second = d;
    }
  }
  if (!(best <= kPlausibleK)) return out;
  if (second - best < kUnfoldMarginK) {
    out.status = UnfoldStatus::kAmbiguous;
    return out;
  }
  out.status = UnfoldStatus::kOk;
  out.speed = best_speed;
  return out;
}

}  // namespace quellmar::companions
