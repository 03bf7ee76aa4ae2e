// Precipitation beside clear air. A precipitation echo is a peak displaced
// toward the radar from the clear-air peak by the fall speed (2 to 10 m/s
// in the vertical beam, that times sin(elevation) in an oblique one), at
// least as wide, and present over neighbouring gates and records. Where a
// gate has both, the clear-air peak gives the moments and the
// precipitation peak is kept apart; a vertical gate with a wide peak
// falling at 2 to 10 m/s and no clear air has the precipitation's moments.
// docs/moments.md gives the rule and its limits.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_PRECIPITATION_H
#define QUELLMAR_COMPANIONS_MOMENTS_PRECIPITATION_H

#include <cstdint>
#include <vector>

#include "methods/moments/method.h"

namespace quellmar::companions {

// A gate's precipitation candidate: the peaks (indices into its peaks),
// clear -1 when precipitation is alone; precip -1: none.
struct PrecipitationCandidate {
  int8_t clear = -1;
  int8_t precip = -1;
  float velocity = 0.0f;  // the precipitation peak's, m/s
};

// A beam at this elevation or more is vertical.
constexpr double kVerticalElevation = 85.0;  // degrees
constexpr double kFallSpeedLow = 2.0;        // m/s
constexpr double kFallSpeedHigh = 10.0;      // m/s
// A peak alone in the vertical beam is precipitation at this width or more.
constexpr double kPrecipitationAloneWidth = 0.8;  // m/s
// Precipitation lasts: a candidate counts where a neighbouring record has
// one within this velocity of it (the same rain, at the same fall speed in
// the same wind).
constexpr double kPrecipitationDrift = 2.0;  // m/s
// An oblique gate's peak at least this share as wide as the precipitation
// of the vertical beam at the gate cannot be told from it.
constexpr double kRainWidthShare = 0.8;

// The candidates of a record's gates (elevation in degrees, nyquist in
// m/s), each kept only when a gate next to it also has one: precipitation
// fills neighbouring gates.
void precipitation_candidates(const std::vector<GateAnalysis>& gates,
                              double elevation, double nyquist,
                              std::vector<PrecipitationCandidate>* out);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_PRECIPITATION_H
