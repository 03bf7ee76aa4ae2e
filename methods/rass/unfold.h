// From a RASS dwell's acoustic velocity to a virtual temperature: the speed
// of sound unfolded from the stored, possibly aliased velocity, by
// continuity with the gate below where there is one and by a first guess
// of the temperature where there is not, then Tv = (c / 20.047)^2.

#ifndef QUELLMAR_COMPANIONS_RASS_UNFOLD_H
#define QUELLMAR_COMPANIONS_RASS_UNFOLD_H

#include <cmath>
#include <cstdint>

#include "methods/rass/method.h"

namespace quellmar::companions {

// Tv = (c / 20.047)^2 K for a speed of sound c in m/s.
double virtual_temperature(double speed_m_s);

// The first guess at a height above the radar, in kelvin, at time t (s
// since 1970 UTC): the surface temperature (the first-guess table's at t,
// else first_guess_c) + 273.15 - lapse_rate x z / 1000.
double first_guess_k(const RassMethod& method, double height_m, int64_t t);

// The plausible band around the first guess: a virtual temperature within
// this many kelvin of it. One candidate in it is the value; two or more
// cannot be told apart.
constexpr double kPlausibleK = 40.0;

// The bounds of a temperature continuous with the gate below: it may fall
// with height at most at the autoconvective lapse rate g / R_d (beyond
// it the air's density grows with height and the layer overturns) and
// rise at most as in the strongest inversions, both over the height
// between the gates, plus a margin for the noise of one dwell and the
// difference of w between the gates.
constexpr double kAutoconvectiveLapseKPerM = 0.0342;
constexpr double kStrongestInversionKPerM = 0.1;
constexpr double kContinuityMarginK = 4.0;

enum class UnfoldStatus { kOk, kAmbiguous, kNone };

struct Unfolded {
  UnfoldStatus status = UnfoldStatus::kNone;
  double speed = 0.0;  // m/s, c = a + 2kV (kOk only)
};

// What picks the candidate at a gate.
struct UnfoldGuide {
  double first_guess_k = NAN;  // T0 at the gate
  // The uncorrected Tv of the consensus at the nearest gate below that has
  // one in the same period, and the height between the two; NaN: none.
  double below_k = NAN;
  double below_dz_m = 0.0;
};

// The speed of sound c = a + 2kV (k a whole number, c > 0) the guide
// picks. With a gate below: the one candidate whose Tv lies within
// [below - (0.0342 dz + 4), below + (0.1 dz + 4)] K; of two or more there,
// the one also within kPlausibleK of the first guess; none there: kNone,
// a value discontinuous with the profile below. Without one: the one
// candidate within kPlausibleK of the first guess. kAmbiguous when two or
// more remain; kNone when a, V or the guide is not finite, V is below 0.01
// m/s, or no candidate fits.
Unfolded unfold_speed(double acoustic_m_s, double nyquist_m_s,
                      const UnfoldGuide& guide);

// The first-guess band alone (no gate below).
inline Unfolded unfold_speed(double acoustic_m_s, double nyquist_m_s,
                             double t0_k) {
  UnfoldGuide g;
  g.first_guess_k = t0_k;
  return unfold_speed(acoustic_m_s, nyquist_m_s, g);
}

// The spacing in kelvin of neighbouring candidates at a virtual
// temperature t_k for a Nyquist velocity V: about 2 x 2V x c / 20.047^2.
double candidate_spacing_k(double nyquist_m_s, double t_k);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_UNFOLD_H
