// quellmar-wind --from-spectra: the velocities and SNRs of the records
// recomputed from their spectra by the moments method of quellmar-moments
// instead of the stored ones.

#ifndef QUELLMAR_COMPANIONS_WIND_SPECTRA_SOURCE_H
#define QUELLMAR_COMPANIONS_WIND_SPECTRA_SOURCE_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "methods/moments/recompute.h"
#include "methods/wind/input.h"

namespace quellmar::companions {

class SpectraMoments : public RecordMomentsSource {
 public:
  SpectraMoments(const MomentsMethod& method, int32_t radar);
  // Chooses the velocity axis of the pair when the method leaves it to
  // the file (--axis auto).
  bool begin_pair(const std::string& path, std::string* error) override;
  void add(const RecordFacts& f, const MomentArrays& m) override;
  void finish() override;
  bool next(RecordFacts* f, std::vector<float>* velocity,
            std::vector<float>* snr) override;
  // One line per pair: the velocity axis taken and why.
  const std::vector<std::string>& axis_notes() const { return notes_; }

 private:
  MomentsMethod method_;
  int32_t radar_;
  RecomputedMoments moments_;
  std::deque<RecordFacts> waiting_;
  std::vector<GateMoments> gates_;
  std::vector<std::string> notes_;
  int64_t tag_ = 0;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_SPECTRA_SOURCE_H
