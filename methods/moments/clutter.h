// Where ground clutter is, learnt from a whole spectra file. Clutter is a
// narrow band of power centred on 0 m/s, steady in time and present at the
// same gates in every beam; a calm vertical echo can be as narrow, so one
// spectrum alone cannot tell them apart. The oblique beams show clutter
// apart from the atmosphere: a gate holds clutter when, in every oblique
// beam, at least half of the records show a narrow band at 0 m/s there.
// docs/moments.md gives the rule and its limits.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_CLUTTER_H
#define QUELLMAR_COMPANIONS_MOMENTS_CLUTTER_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "methods/moments/method.h"
#include "methods/moments/recompute.h"

namespace quellmar::companions {

// Per gate of a mode: the half-width in points of the clutter band about
// 0 m/s; kNoClutter where the gate is clean.
constexpr int8_t kNoClutter = -1;
constexpr int kMaxClutterHalfWidth = 4;

// Whether a spectrum shows a narrow band at 0 m/s: the value at 0 m/s
// stands out of the levels 5 and 6 points either side, and 3 points either
// side the spectrum is back within 5 % of that rise (plus its own
// fluctuation). Returns the band's half-width (the farthest point, up to
// kMaxClutterHalfWidth, still significantly above the level of its side)
// or kNoClutter.
int narrow_band_at_zero(const float* s, const unsigned char* present,
                        int64_t points, int32_t averages);

class ClutterSurvey {
 public:
  // A record's spectra, of the given mode and beam; oblique: the beam is
  // not vertical.
  void add(const RecordSpectra& r, int32_t mode, int32_t beam, bool oblique);
  // The bands per mode, from what was added.
  std::map<int32_t, std::vector<int8_t>> bands() const;
  int64_t records() const { return records_; }

 private:
  struct Counts {
    int64_t records = 0;
    std::vector<int64_t> seen;  // per gate: records with a narrow band
    std::vector<std::array<int64_t, kMaxClutterHalfWidth + 1>> widths;
  };
  // Per (mode, beam number), oblique and vertical beams apart.
  std::map<std::pair<int32_t, int32_t>, Counts> oblique_, vertical_;
  int64_t records_ = 0;
};

// The first reading of a spectra file, record by record as a walk over it
// meets them (records of radar with spectra, below kRassSpectralPoints
// points, beam described): the clutter survey, of each beam and mode the
// first 32 records and every 8th after, and the axis tally's first
// records. add() comes right after a record's RecordHeader is read and
// decodes the record when either needs its spectra, which moves the access
// module past it.
class FirstLook {
 public:
  // survey: learn the clutter map; axis (may be null): feed the tally.
  FirstLook(int32_t radar, bool survey, AxisTally* axis);
  void add(const RecordFacts& f);
  // Nothing more to learn from later records.
  bool done() const;
  // The clutter map (empty without the survey).
  std::map<int32_t, std::vector<int8_t>> bands() const;

 private:
  int32_t radar_;
  bool survey_on_;
  AxisTally* axis_;
  ClutterSurvey survey_;
  RecordSpectra spectra_;
  std::map<std::pair<int32_t, int32_t>, int64_t> seen_;  // per (mode, beam)
};

// Reads the pair at path as FirstLook (with the survey) and learns its
// clutter map; with axis given, the same pass feeds its first records to
// it (choose_axis in one reading). Leaves the access module reset. False,
// with a message, when the pair cannot be opened.
bool learn_clutter_map(const std::string& path, int32_t radar,
                       std::map<int32_t, std::vector<int8_t>>* bands,
                       std::string* error, AxisTally* axis = nullptr);

// For --axis auto: reads the pair at path as FirstLook without the survey
// (up to kAxisSampleRecords records of radar decoded) and compares the
// strongest peaks' velocities under the
// centred axis, and their negatives, with the stored velocities on the
// gates where both are confident (stored and recomputed SNR above -10 dB,
// the stored velocity between 4 spectral points and 0.8 V from 0 m/s);
// agreement is within the larger of 2 spectral points and 0.1 V. The axis
// with more agreeing gates wins; centred on a tie. Leaves the access
// module reset. False, with a message, when the pair cannot be opened.
bool choose_axis(const std::string& path, int32_t radar,
                 const MomentsMethod& method, AxisVerdict* verdict,
                 std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_CLUTTER_H
