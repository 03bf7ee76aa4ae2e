// Reading the wind-mode records of one or more file pairs of one site into
// beam series, pooled by operating mode and beam whatever file they came
// from.

#ifndef QUELLMAR_COMPANIONS_WIND_INPUT_H
#define QUELLMAR_COMPANIONS_WIND_INPUT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "companions/common/pair_pool.h"
#include "companions/wind/profiles.h"

namespace quellmar::companions {

struct WindInput {
  std::string site_name;           // the first pair's, bytes as stored
  std::vector<BeamSeries> series;  // one per (mode, beam)
  int64_t records = 0;             // wind-mode records pooled
  // Damage found in the pairs and records set aside, one line each, for
  // the program to report when it goes on.
  std::vector<std::string> findings;
};

// Where the velocities and SNRs of the decoded records come from. The
// stored moments by default; quellmar-wind --from-spectra recomputes them
// from the spectra (spectra_source.h). Records go in in the order they are
// decoded and come out in the same order, perhaps later.
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

// At most this many gate values are pooled in one run (8 bytes each).
constexpr int64_t kMaxPooledValues = int64_t{1} << 27;

// Adds a decoded wind-mode record to the series of its mode, beam and
// geometry: its time and the velocity and SNR of its gates.
void add_wind_record(const RecordFacts& facts, const MomentArrays& moments,
                     std::map<SeriesKey, BeamSeries>* series);

// Opens each pair the way the other programs do and takes the records of
// `radar` whose operating mode has fewer than 2048 spectral points (wind
// mode; RASS records are skipped), with a beam its HeaderBlock describes.
// Damage found in a pair, and records set aside because their beam's
// geometry differs from that of most records of the beam, become findings
// (at most 20 damage lines per pair). False, with a message, when a
// pair cannot be opened, the same file is named twice, the pairs are of
// different sites, no record qualifies, or there are too many values.
// The moments come from source when one is given, else as stored.
bool read_wind_input(const std::vector<std::string>& paths, int32_t radar,
                     WindInput* out, std::string* error,
                     RecordMomentsSource* source = nullptr);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_INPUT_H
