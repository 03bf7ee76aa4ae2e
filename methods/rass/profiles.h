// Virtual temperature profiles from the RASS dwells, period by period as
// the records come: per dwell and gate the unfolded speed of sound
// corrected for the air's own motion, then the consensus per gate and
// period, and the continuity flags of Tv at the end. One profile set per
// operating mode, on the gate heights of the mode's RASS beam; modes are
// never mixed.

#ifndef QUELLMAR_COMPANIONS_RASS_PROFILES_H
#define QUELLMAR_COMPANIONS_RASS_PROFILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "methods/rass/input.h"
#include "methods/rass/unfold.h"
#include "methods/wind/profiles.h"

namespace quellmar::companions {

// Where the w of a value's correction came from.
enum WSource : signed char {
  kWNone = 0,       // uncorrected
  kWSameDwell = 1,  // the clear-air velocity of the dwell itself
  kWWindMode = 2,   // the consensus of a wind mode's vertical beam
  kWMixed = 3,      // the consensus values took w from both
  // The w there was flagged as precipitation: the value is the uncorrected
  // temperature, flagged suspect (RainW::kUncorrected) ...
  kWPrecipitation = 4,
  // ... or missing (RainW::kMissing).
  kWPrecipitationMissing = 5,
};

struct RassProfiles {
  int32_t mode = 0;
  int32_t beam = 0;
  double azimuth_deg = 0.0;  // 0 to 360
  double elevation_deg = 0.0;
  std::vector<double> height;   // gate heights, m above the radar
  std::vector<Period> periods;  // those with dwells, in time order

  // Per period and height; NaN where missing.
  std::vector<float> tv;              // K
  std::vector<float> tv_uncorrected;  // K
  std::vector<float> w;               // m/s, mean of the w used
  std::vector<float> spread;          // K, max - min of the consensus set
  std::vector<float> auxiliary;       // mean stored aux2 of the set
  std::vector<signed char> w_source;  // WSource
  std::vector<int32_t> n_used;
  std::vector<int32_t> n_available;
  std::vector<int32_t> n_ambiguous;
  std::vector<uint8_t> tv_flag;  // QualityFlag of tv
  // Per period: the moment set the sound pulse was taken from (0: no set
  // gave a temperature), and 1 where the profile's first gate was
  // ambiguous (its values are flagged suspect).
  std::vector<uint8_t> acoustic_set;
  std::vector<uint8_t> first_gate_ambiguous;
  double nyquist_m_s = NAN;  // of the beam's dwells (the last one read)

  size_t level(size_t period, size_t h) const {
    return period * height.size() + h;
  }
};

// One value of a dwell at a gate, before the consensus.
struct DwellValue {
  UnfoldStatus status = UnfoldStatus::kNone;
  double tv = 0.0;              // K, corrected where the air's motion is known
  double tv_uncorrected = 0.0;  // K
  double w = NAN;               // m/s: a true w only (NaN: none)
  WSource source = kWNone;      // kWNone, kWSameDwell, kWWindMode
  bool rain = false;       // the correction's w was flagged as precipitation
  double auxiliary = 0.0;  // the dwell's stored aux2 at the gate; NaN: none
};

// What is known of the air's motion at a gate in a period, for the
// correction of a dwell's speed of sound.
struct AirMotion {
  double clear_air = NAN;  // the dwell's own clear-air velocity, as stored
  // The period's clear-air velocities at the gate look like falling
  // hydrometeors (vertical beams).
  bool clear_air_rain = false;
  // From the wind modes of the same period: the air's velocity along the
  // RASS beam (m/s, away from the radar; u, v and w projected, w alone on
  // a vertical beam), their w, and whether that w is flagged as
  // precipitation. NaN: not known.
  double wind_along_beam = NAN;
  double wind_w = NAN;
  bool wind_rain = false;
};

// Unfolds the acoustic velocity a (as stored) of a dwell with Nyquist
// velocity V as the guide picks and corrects it for the air's motion
// along a beam whose height sine is sine: by the dwell's own clear-air
// velocity where it has one, else by the wind modes' motion along the
// beam. A w flagged as precipitation corrects nothing (method.rain_w).
DwellValue dwell_value(const RassMethod& method, double acoustic,
                       double nyquist, const UnfoldGuide& guide, double sine,
                       bool vertical, const AirMotion& air);

// Whether a period's clear-air velocities at a gate of a vertical beam
// look like falling hydrometeors: of the n dwells with a clear-air
// velocity there, at least max(3, 0.5 n) are `falling` (clear_air_falls:
// downward faster than 2 m/s, w = s x velocity / sine <= -2, with a width
// of at least 0.8 m/s), the rule of the wind modes' vertical beams
// (docs/rass.md).
bool clear_air_falls(double w_m_s, double width_m_s);
bool clear_air_is_rain(size_t falling, size_t n);

// The cells (period x gate) the profiles of the plan take, all modes
// together; a run makes at most kMaxProfileCells of them.
int64_t rass_profile_cells(const InputPlan& plan);

// What a run makes of its records.
struct RassRun {
  // One RassProfiles per operating mode with RASS dwells, by mode number,
  // flags included. A mode's vertical RASS beam gives its profiles (else
  // its lowest-numbered one); the dwells of its other RASS beams are set
  // aside with a finding.
  std::vector<RassProfiles> modes;
  int64_t dwells = 0;      // RASS dwells of the beams that give profiles
  int64_t duplicates = 0;  // records read_input set aside
  std::vector<std::string> findings;
};

// Reads the records of the plan (chosen by rass_records) merged by time;
// each period's temperatures are formed, and its records dropped, once no
// input can add to it. False, with a message, when the plan has no RASS
// dwell ("no RASS dwells in the input") or an input no longer matches it.
bool stream_rass_profiles(const InputPlan& plan, const RecordChoice& choice,
                          const RassMethod& method, RassRun* run,
                          std::string* error);

// What a run's findings say of its modes: the acoustic set taken (with
// kAcousticSetAuto), a Nyquist interval too narrow for the first guess to
// pick the candidate safely (without a first-guess table), profiles whose
// first gate was ambiguous.
std::vector<std::string> rass_run_notes(const std::vector<RassProfiles>& modes,
                                        const RassMethod& method);

// The flags of tv by the method's continuity check (or none).
void set_rass_flags(RassProfiles* m, const RassMethod& method);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_PROFILES_H
