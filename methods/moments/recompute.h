// Recomputed moments record by record: a record decoded by the access
// module goes in, its spectra are placed on the Doppler axis and analysed,
// and its gates' moments come out in file order once the peak choice is
// made. The analysis runs on a second thread beside the decoding (see
// analysis_queue.h). Both quellmar-moments and quellmar-wind
// --from-spectra read their moments through this.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_RECOMPUTE_H
#define QUELLMAR_COMPANIONS_MOMENTS_RECOMPUTE_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/moments/analysis_queue.h"
#include "methods/moments/method.h"
#include "methods/moments/peak_choice.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

// The spectra of a decoded record on its spectral points (windows placed,
// points outside them missing). A window reaching past the spectral points
// makes the record unusable.
void load_record_spectra(const RecordFacts& f, const MomentArrays& m,
                         float nyquist, int32_t averages, bool reversed,
                         RecordSpectra* out);

// The spectral averages of the record whose RecordHeader was read last
// (its mode's, after the record's override); 1 when unknown.
int32_t current_spectral_averages(const RecordFacts& f);

class RecomputedMoments {
 public:
  RecomputedMoments(const MomentsMethod& method, bool reversed);
  // The record just decoded; tag comes back with its moments.
  void add(int64_t tag, const RecordFacts& f, const MomentArrays& m,
           float nyquist, int32_t averages);
  // The axis of the records added from now on.
  void set_reversed(bool reversed) { reversed_ = reversed; }
  // The clutter map (per mode, per gate: the band's half-width, negative
  // where clean; see clutter.h) of the records added from now on.
  void set_clutter_map(std::map<int32_t, std::vector<int8_t>> bands) {
    clutter_ = std::move(bands);
  }
  // No more records.
  void finish();
  // The moments of the next record in file order, when decided.
  bool next(int64_t* tag, std::vector<GateMoments>* gates);

 private:
  // Hands the oldest records to the peak choice, in file order, once
  // analysed, until `keep` are left queued. The records go on at fixed
  // points of the input, so the output's order never depends on timing.
  void collect(size_t keep);

  static constexpr size_t kQueuedRecords = 8;
  MomentsMethod method_;
  bool reversed_;
  std::map<int32_t, std::vector<int8_t>> clutter_;
  PeakChooser chooser_;
  AnalysedRecord analysed_;
  // Records taken back, kept for their buffers.
  std::vector<std::unique_ptr<RecordToAnalyse>> spare_;
  AnalysisQueue queue_;  // last: its worker stops before the rest goes
};

// The velocity axis the spectra of a file follow, from its first records.
// The word of an axis choice, as the files and --axis write it: auto,
// centred, centred-reversed.
const char* axis_name(AxisChoice axis);

struct AxisVerdict {
  bool reversed = false;
  int64_t confident = 0;  // gates where both moments are confident
  int64_t agreeing = 0;   // of those, agreeing under the axis chosen
  std::string text;       // "centred" or "centred-reversed" and why
};
constexpr int64_t kAxisSampleRecords = 200;

// The tally behind choose_axis (clutter.h), fed one decoded record at a time
// (records of the radar with spectra, below kRassSpectralPoints points, beam
// described): full() after kAxisSampleRecords of them. The records are
// analysed on a second thread while the caller reads on; verdict() waits
// for them.
class AxisTally {
 public:
  explicit AxisTally(const MomentsMethod& method);
  bool full() const { return records_ >= kAxisSampleRecords; }
  void add(const RecordFacts& f, const MomentArrays& m, float nyquist);
  AxisVerdict verdict();

 private:
  // The stored moments of a queued record, beside its spectra.
  struct Stored {
    std::vector<float> velocity, snr;
  };
  // Tallies the oldest queued record, once analysed.
  void count_oldest();

  // Spectra bytes queued at most: more and the oldest are counted first.
  static constexpr size_t kQueuedBytes = size_t{16} << 20;
  MomentsMethod strongest_;
  std::deque<Stored> stored_;
  size_t queued_bytes_ = 0;
  int64_t confident_ = 0, centred_ = 0, reversed_ = 0, records_ = 0;
  AnalysisQueue queue_;  // last: its worker stops before the rest goes
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_RECOMPUTE_H
