// The parameters of the RASS method, from the choice of dwells to the
// check of the virtual temperatures, with their defaults (docs/rass.md).

#ifndef QUELLMAR_COMPANIONS_RASS_METHOD_H
#define QUELLMAR_COMPANIONS_RASS_METHOD_H

#include <cstdint>
#include <optional>

#include "methods/consensus/consensus.h"
#include "methods/qc/time_height_check.h"
#include "methods/rass/first_guess.h"

namespace quellmar::companions {

// What a temperature becomes where the w of its correction is flagged as
// precipitation (falling hydrometeors, not air motion).
enum class RainW {
  kUncorrected,  // the uncorrected temperature, flagged suspect
  kMissing,      // no temperature
};

// The acoustic set chosen by the data, per period (docs/rass.md).
constexpr int32_t kAcousticSetAuto = 0;

struct RassMethod {
  int32_t period_minutes = 30;
  // The consensus on virtual temperatures: window in kelvin.
  ConsensusRule consensus{1.0, 0.4, {}};
  // The moment set of the sound pulse: 1, 2 or kAcousticSetAuto.
  int32_t acoustic_set = kAcousticSetAuto;
  double sound_offset_m_s = 0.0;     // added to the acoustic velocity
  double first_guess_c = 15.0;       // at the radar, degrees Celsius
  double lapse_rate_k_per_km = 6.5;  // of the first guess
  // The surface temperature through the day (--first-guess-file); empty:
  // first_guess_c all the time.
  FirstGuessSeries first_guess_series;
  bool w_correction = true;
  RainW rain_w = RainW::kUncorrected;
  bool velocity_toward = false;  // stored velocities positive toward the radar
  // The continuity check of Tv; none: every value is flagged good (or
  // missing).
  std::optional<ContinuityRule> quality = tv_quality_rule();

  // The defaults of docs/qc.md: a step of 2 K, patterns of fewer than 6
  // values suspect, neighbours up to 1 period and 1 height away.
  static ContinuityRule tv_quality_rule() { return {2.0, 6, 1, 1}; }
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_METHOD_H
