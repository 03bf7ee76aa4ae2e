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

  size_t level(size_t period, size_t h) const {
    return period * height.size() + h;
  }
};

// One value of a dwell at a gate, before the consensus.
struct DwellValue {
  UnfoldStatus status = UnfoldStatus::kNone;
  double tv = 0.0;              // K, corrected where w is known
  double tv_uncorrected = 0.0;  // K
  double w = 0.0;               // m/s (source other than kWNone)
  WSource source = kWNone;
  double auxiliary = 0.0;  // the dwell's stored aux2 at the gate; NaN: none
};

// Unfolds the acoustic velocity a (as stored) of a dwell with Nyquist
// velocity V at height z and corrects it with the dwell's own clear-air
// velocity (as stored; NaN: none) or else wind_w (m/s; NaN: none) along a
// beam whose height sine is sine.
DwellValue dwell_value(const RassMethod& method, double acoustic,
                       double nyquist, double height_m, double sine,
                       double clear_air, double wind_w);

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

// The flags of tv by the method's continuity check (or none).
void set_rass_flags(RassProfiles* m, const RassMethod& method);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_PROFILES_H
