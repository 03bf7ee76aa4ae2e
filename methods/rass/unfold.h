// From a RASS dwell's acoustic velocity to a virtual temperature: the speed
// of sound unfolded from the stored, possibly aliased velocity by a first
// guess of the temperature, then Tv = (c / 20.047)^2.

#ifndef QUELLMAR_COMPANIONS_RASS_UNFOLD_H
#define QUELLMAR_COMPANIONS_RASS_UNFOLD_H

#include <cstdint>
#include <optional>

#include "methods/consensus/consensus.h"
#include "methods/qc/time_height_check.h"

namespace quellmar::companions {

struct RassMethod {
  int32_t period_minutes = 30;
  // The consensus on virtual temperatures: window in kelvin.
  ConsensusRule consensus{1.0, 0.4, {}};
  int32_t acoustic_set = 2;          // the moment set of the sound pulse
  double sound_offset_m_s = 0.0;     // added to the acoustic velocity
  double first_guess_c = 15.0;       // at the radar, degrees Celsius
  double lapse_rate_k_per_km = 6.5;  // of the first guess
  bool w_correction = true;
  bool velocity_toward = false;  // stored velocities positive toward the radar
  // The continuity check of Tv; none: every value is flagged good (or
  // missing).
  std::optional<ContinuityRule> quality = tv_quality_rule();

  // The defaults of docs/qc.md: a step of 2 K, patterns of fewer than 6
  // values suspect, neighbours up to 1 period and 1 height away.
  static ContinuityRule tv_quality_rule() { return {2.0, 6, 1, 1}; }
};

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
