// The records quellmar-rass reads: the RASS dwells of a radar and, when
// the vertical air motion is corrected, the wind-mode records of vertical
// beams that give w where a dwell lacks its own. They are read as
// quellmar-wind reads its records: planned, merged by time, a period at a
// time (wind/input.h).

#ifndef QUELLMAR_COMPANIONS_RASS_INPUT_H
#define QUELLMAR_COMPANIONS_RASS_INPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "methods/rass/method.h"
#include "methods/wind/input.h"

namespace quellmar::companions {

// The dwells of one RASS beam in one period: per dwell its time, Nyquist
// velocity and gates; per gate the acoustic velocity (as stored, NaN when
// the dwell lacks the acoustic set), the clear-air velocity of the other
// set (NaN when the dwell has one set) and the second set's auxiliary
// value (NaN without a second set).
struct RassSeries {
  std::vector<int32_t> times;
  std::vector<float> nyquist;  // m/s
  std::vector<int32_t> gate_counts;
  std::vector<size_t> starts;
  std::vector<float> acoustic;
  std::vector<float> clear_air;
  std::vector<float> auxiliary;

  size_t records() const { return times.size(); }
};

// The records of `radar` quellmar-rass takes: RASS dwells (2048 or more
// spectral points) and, when the method corrects for w, the wind-mode
// records of vertical beams. None of them: "no RASS dwells in the input".
RecordChoice rass_records(int32_t radar, const RassMethod& method);

// Whether a planned series (PlannedSeries::spectral_points) is of RASS
// dwells.
inline bool is_rass_series(int32_t spectral_points) {
  return spectral_points >= kRassSpectralPoints;
}

// Adds the dwell just decoded (pda_moments) to the series.
void add_dwell(const RecordFacts& facts, const MomentArrays& moments,
               const RassMethod& method, RassSeries* series);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_INPUT_H
