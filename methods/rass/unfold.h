// From a RASS dwell's acoustic velocity to a virtual temperature: the speed
// of sound unfolded from the stored, possibly aliased velocity by a first
// guess of the temperature, then Tv = (c / 20.047)^2.

#ifndef QUELLMAR_COMPANIONS_RASS_UNFOLD_H
#define QUELLMAR_COMPANIONS_RASS_UNFOLD_H

#include "methods/rass/method.h"

namespace quellmar::companions {

// Tv = (c / 20.047)^2 K for a speed of sound c in m/s.
double virtual_temperature(double speed_m_s);

// The first guess at a height above the radar, in kelvin:
// first_guess + 273.15 - lapse_rate x z / 1000.
double first_guess_k(const RassMethod& method, double height_m);

// The plausible band of the unfolding: a virtual temperature within this
// many kelvin of the first guess. One candidate in it is the value; two or
// more cannot be told apart.
constexpr double kPlausibleK = 40.0;

enum class UnfoldStatus { kOk, kAmbiguous, kNone };

struct Unfolded {
  UnfoldStatus status = UnfoldStatus::kNone;
  double speed = 0.0;  // m/s, c = a + 2kV (kOk only)
};

// The speed of sound c = a + 2kV (k a whole number, c > 0) whose virtual
// temperature lies within kPlausibleK of the first guess t0 (kelvin).
// kNone when a, V or t0 is not finite, V is below 0.01 m/s, or no
// candidate lies in the band; kAmbiguous when two or more do (the Nyquist
// interval is narrower than the band).
Unfolded unfold_speed(double acoustic_m_s, double nyquist_m_s, double t0_k);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_UNFOLD_H
