#include "methods/moments/precipitation.h"

#include <cmath>

namespace quellmar::companions {

namespace {

// b - a on the circle of width 2V, within (-V, V].
double circular_difference(double b, double a, double nyquist) {
  const double span = 2.0 * nyquist;
  double d = b - a;
  d -= span * std::floor(d / span + 0.5);
  return d;
}

PrecipitationCandidate gate_candidate(const GateAnalysis& a, double sine,
                                      bool vertical, double nyquist) {
  PrecipitationCandidate c;
  if (a.flags & kQcUnusable) return c;
  // A pair: the strongest peak that has a clear-air partner above it
  // (toward positive velocities by the fall speed) no wider than itself.
  for (int j = 0; j < a.peak_count && c.precip < 0; ++j) {
    for (int i = 0; i < a.peak_count; ++i) {
      if (i == j) continue;
      const double d = circular_difference(a.peaks[j].velocity,
                                           a.peaks[i].velocity, nyquist);
      if (d <= -kFallSpeedLow * sine && d >= -kFallSpeedHigh * sine &&
          a.peaks[j].width >= a.peaks[i].width) {
        c.precip = static_cast<int8_t>(j);
        c.clear = static_cast<int8_t>(i);
        break;
      }
    }
  }
  if (c.precip < 0 && vertical && a.peak_count > 0) {
    // Alone in the vertical beam: the strongest peak falls and is wide.
    const Peak& p = a.peaks[0];
    if (p.velocity <= -kFallSpeedLow && p.velocity >= -kFallSpeedHigh &&
        p.width >= kPrecipitationAloneWidth) {
      c.precip = 0;
    }
  }
  if (c.precip >= 0) {
    c.velocity = static_cast<float>(a.peaks[c.precip].velocity);
  }
  return c;
}

}  // namespace

void precipitation_candidates(const std::vector<GateAnalysis>& gates,
                              double elevation, double nyquist,
                              std::vector<PrecipitationCandidate>* out) {
  const size_t n = gates.size();
  out->assign(n, PrecipitationCandidate{});
  if (!(nyquist > 0.0)) return;
  const double sine = std::sin(elevation * M_PI / 180.0);
  const bool vertical = elevation >= kVerticalElevation;
  std::vector<PrecipitationCandidate> single(n);
  for (size_t g = 0; g < n; ++g) {
    single[g] = gate_candidate(gates[g], sine, vertical, nyquist);
  }
  for (size_t g = 0; g < n; ++g) {
    if (single[g].precip < 0) continue;
    const bool below = g > 0 && single[g - 1].precip >= 0;
    const bool above = g + 1 < n && single[g + 1].precip >= 0;
    if (below || above) (*out)[g] = single[g];
  }
}

}  // namespace quellmar::companions
