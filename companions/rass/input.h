// Reading the RASS dwells of one or more file pairs of one site, and the
// vertical wind-mode beams that give w where a dwell lacks its own, pooled
// by operating mode and beam whatever file they came from.

#ifndef QUELLMAR_COMPANIONS_RASS_INPUT_H
#define QUELLMAR_COMPANIONS_RASS_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/common/pair_pool.h"
#include "companions/rass/unfold.h"
#include "companions/wind/profiles.h"

namespace quellmar::companions {

// The dwells of one RASS beam of one operating mode: per dwell its time,
// Nyquist velocity and gates; per gate the acoustic velocity (as stored,
// NaN when the dwell lacks the acoustic set), the clear-air velocity of the
// other set (NaN when the dwell has one set) and the second set's
// auxiliary value (NaN without a second set).
struct RassSeries {
  int32_t mode = 0;
  int32_t beam = 0;
  BeamGeometry geometry;
  int32_t gates = 0;  // the most gates of any dwell
  std::vector<int32_t> times;
  std::vector<float> nyquist;  // m/s
  std::vector<int32_t> gate_counts;
  std::vector<size_t> starts;
  std::vector<float> acoustic;
  std::vector<float> clear_air;
  std::vector<float> auxiliary;

  size_t records() const { return times.size(); }
};

struct RassInput {
  std::string site_name;                  // the first pair's, bytes as stored
  std::vector<RassSeries> rass;           // one per (mode, beam)
  std::vector<BeamSeries> vertical_wind;  // vertical wind-mode beams
  int64_t dwells = 0;                     // RASS dwells pooled
  std::vector<std::string> findings;
};

// At most this many gate values are pooled in one run (RASS and vertical
// wind beams together; up to 12 bytes each).
constexpr int64_t kMaxRassValues = int64_t{1} << 26;

// Takes the records of `radar` with a beam its HeaderBlock describes and at
// least one gate: RASS dwells (2048 or more spectral points) and, when the
// method corrects for w, the wind-mode records of vertical beams. Findings
// as quellmar-wind's. False, with a message, as read_wind_input, and with
// "no RASS dwells in the input" when there is none.
bool read_rass_input(const std::vector<std::string>& paths, int32_t radar,
                     const RassMethod& method, RassInput* out,
                     std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_INPUT_H
