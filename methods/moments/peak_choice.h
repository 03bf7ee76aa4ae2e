// The choice of each gate's peak. A precipitation echo beside clear air
// (precipitation.h) gives way to the clear air: with `continuity` when it
// is also seen at that gate or one next to it in one of the 2 records of
// the beam before or after, with `strongest` at once. Otherwise
// `strongest` takes the region of largest
// power at once; `continuity` takes, per beam and gate, the region whose
// velocity lies nearest the median of the strongest regions' velocities of
// the same beam and gate in the 5 records before and the 5 after. Records
// go in and come out in file order; a record waits until 5 later records
// of its beam have come in (or no more come), and at most kMaxWaiting
// records wait, so memory does not grow with the file.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_CONTINUITY_H
#define QUELLMAR_COMPANIONS_MOMENTS_CONTINUITY_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "methods/moments/method.h"
#include "methods/moments/precipitation.h"

namespace quellmar::companions {

// A record's analysed gates; tag is the caller's, handed back with it.
struct AnalysedRecord {
  int64_t tag = 0;
  int32_t beam = 0;
  int32_t mode = 0;
  int64_t points = 0;
  double nyquist = 0.0;     // m/s
  double elevation = 90.0;  // degrees
  std::vector<GateAnalysis> gates;
  std::vector<int> chosen;  // per gate, the peak chosen; -1: none
  std::vector<int> precip;  // per gate, the precipitation peak; -1: none
};

class PeakChooser {
 public:
  static constexpr int kSpan = 5;
  static constexpr size_t kPrecipitationSpan = 2;
  static constexpr size_t kMaxWaiting = 1024;

  explicit PeakChooser(PeakChoice choice) : choice_(choice) {}
  // The next record in file order.
  void add(AnalysedRecord record);
  // No more records: every waiting one can be decided.
  void finish();
  // The next decided record in file order; false when the oldest waiting
  // record is not decided yet (or none waits).
  bool next(AnalysedRecord* record);

 private:
  struct Entry {
    AnalysedRecord record;
    std::vector<float> first_pass;                   // per gate; NaN: no peak
    std::vector<PrecipitationCandidate> candidates;  // per gate
    bool decided = false;
    int64_t order = 0;  // place in file order
  };
  // A decided vertical record's precipitation: per gate, the precipitation
  // peak's width (m/s, 0 where none) and velocity (m/s).
  struct VerticalRain {
    int64_t order = 0;
    int32_t mode = 0;
    std::vector<float> width, velocity;
  };
  using Beam = std::deque<std::shared_ptr<Entry>>;
  void decide(Entry& e, const Beam& beam, size_t at);
  // Takes a gate's precipitation candidate: the clear-air peak chosen (the
  // precipitation one when alone), the precipitation peak kept, flagged.
  static void take_precipitation(Entry& e, size_t gate);
  static void trim(Beam& beam);
  // A vertical record just decided: its precipitation kept for the
  // records around it.
  void keep_vertical_rain(const Entry& e);
  // A record under rain: a gate not flagged whose chosen peak is at least
  // kRainWidthShare as wide as the precipitation that the nearest decided
  // vertical record of its mode before or after it took at the gate (in
  // the vertical beam: and within kPrecipitationDrift of its velocity)
  // cannot be told from that precipitation, and is flagged as seeing it
  // alone.
  void mark_rain_alone(Entry& e) const;

  PeakChoice choice_;
  std::deque<std::shared_ptr<Entry>> waiting_;  // file order
  // Per beam: up to kSpan decided records, then the undecided ones.
  std::map<int32_t, Beam> beams_;
  std::vector<float> scratch_;
  std::deque<VerticalRain> vertical_rain_;  // the latest, file order
  int64_t order_ = 0;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_CONTINUITY_H
