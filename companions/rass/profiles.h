// Virtual temperature profiles from pooled RASS dwells: per dwell and gate
// the unfolded speed of sound corrected for the air's own motion, then the
// consensus per gate and period. One profile set per operating mode, on
// the gate heights of the mode's RASS beam; modes are never mixed.

#ifndef QUELLMAR_COMPANIONS_RASS_PROFILES_H
#define QUELLMAR_COMPANIONS_RASS_PROFILES_H

#include <cstdint>
#include <vector>

#include "companions/rass/input.h"
#include "companions/rass/unfold.h"
#include "companions/wind/profiles.h"

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

// The cells (period x gate) the profiles take, and the wind consensus
// cells of the vertical beams, all modes together.
int64_t rass_profile_cells(const RassInput& input, const RassMethod& method);

// One RassProfiles per operating mode with RASS dwells, by mode number.
// A mode's vertical RASS beam gives its profiles (else its lowest-numbered
// one); the dwells of its other RASS beams are set aside with a finding.
std::vector<RassProfiles> compute_rass_profiles(
    const RassInput& input, const RassMethod& method,
    std::vector<std::string>* findings);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_PROFILES_H
