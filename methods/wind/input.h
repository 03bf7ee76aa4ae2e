// The records quellmar-wind reads (wind mode), read as common/pair_input
// reads them, and where their velocities come from when not as stored.

#ifndef QUELLMAR_COMPANIONS_WIND_INPUT_H
#define QUELLMAR_COMPANIONS_WIND_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "methods/pairs/pair_input.h"

namespace quellmar::companions {

// Records of the radar with fewer than 2048 spectral points (wind mode).
RecordChoice wind_records(int32_t radar);

// Where the velocities and SNRs of the decoded records come from when not
// as stored: quellmar-wind --from-spectra recomputes them from the
// spectra (spectra_source.h). Records go in in the order they are decoded
// and come out in the same order, perhaps later.
class RecordMomentsSource {
 public:
  virtual ~RecordMomentsSource() = default;
  // Before the records of the pair at path. False, with a message, when
  // the pair cannot be read.
  virtual bool begin_pair(const std::string& path, std::string* error) = 0;
  // The record just decoded by the access module.
  virtual void add(const RecordFacts& f, const MomentArrays& m) = 0;
  // No more records.
  virtual void finish() = 0;
  // The next record whose values are ready: its facts, and per gate its
  // velocity (m/s, NaN: none) and SNR (dB).
  virtual bool next(RecordFacts* f, std::vector<float>* velocity,
                    std::vector<float>* snr) = 0;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_INPUT_H
