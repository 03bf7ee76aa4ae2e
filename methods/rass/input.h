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
// velocity and gates; per gate the velocity and width of each moment set
// as stored (NaN for a set the dwell lacks) and the second set's
// auxiliary value (NaN without a second set). Which set holds the sound
// pulse is the method's choice (acoustic_set), made per period.
struct RassSeries {
  std::vector<int32_t> times;
  std::vector<float> nyquist;  // m/s
  std::vector<int32_t> gate_counts;
  std::vector<size_t> starts;
  std::vector<float> velocity[2];  // sets 1 and 2
  std::vector<float> width[2];
  std::vector<float> auxiliary;
  bool second_set = false;  // some dwell has a second set

  size_t records() const { return times.size(); }
};

// The records of `radar` quellmar-rass takes: RASS dwells (2048 or more
// spectral points) and, when the method corrects for w, the wind-mode
// records of vertical beams, and of every beam with `oblique_wind` (an
// oblique RASS beam needs the horizontal wind too). None of them: "no
// RASS dwells in the input".
RecordChoice rass_records(int32_t radar, const RassMethod& method,
                          bool oblique_wind = false);

// Whether a plan's RASS beams that give profiles include an oblique one,
// for which the air's motion along the beam needs the horizontal wind.
bool rass_needs_horizontal_wind(const InputPlan& plan);

// Whether a planned series (PlannedSeries::spectral_points) is of RASS
// dwells.
inline bool is_rass_series(int32_t spectral_points) {
  return spectral_points >= kRassSpectralPoints;
}

// Adds the dwell just decoded (pda_moments) to the series.
void add_dwell(const RecordFacts& facts, const MomentArrays& moments,
               RassSeries* series);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_INPUT_H
