// Reading the records of one or more file pairs of one site, merged by
// time, in bounded memory: a first walk over the RecordHeaders plans the
// run (which records count, the beams, their gates and periods, the order
// of the files); a second decodes the records that count, file by file in
// the order of their first time, and says, as it goes, up to which time no
// record can still come. Shared by the programs that pool records by beam
// and period.

#ifndef QUELLMAR_COMPANIONS_WIND_INPUT_H
#define QUELLMAR_COMPANIONS_WIND_INPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "companions/common/pair_pool.h"
#include "companions/wind/profiles.h"

namespace quellmar::companions {

// The records a run pools: of one radar, with a beam its HeaderBlock
// describes and at least one gate, and chosen by the program (wind mode:
// fewer than 2048 spectral points; RASS: 2048 or more).
struct RecordChoice {
  int32_t radar = 0;
  std::function<bool(const RecordFacts&)> takes;
  std::string kind = "wind-mode";         // in the message when none counts
  const char* program = "quellmar-wind";  // names the progress line
  // The whole message when none counts ("" for "PATH: no KIND record of
  // radar N").
  std::string none;
};
RecordChoice wind_records(int32_t radar);

// One input file as planned.
struct PlannedFile {
  std::string path;
  int64_t data_bytes = 0;
  int64_t records = 0;  // all records walked
  int64_t taken = 0;    // records that count
  int32_t first = 0;    // earliest time of a record that counts
  // The earliest time of a record that counts in each block of
  // kTimeBlock records from there to the end of the file.
  std::vector<int32_t> later_first;
};
constexpr int64_t kTimeBlock = 4096;

struct InputPlan {
  std::string site_name;  // the first pair's, bytes as stored
  // One per (mode, beam), by mode and beam: the geometry most of its
  // records share, its gates (the most of any record) and no records.
  std::vector<BeamSeries> series;
  // Per series: the starts of the periods its records fall in, ascending;
  // its records and the most spectral points of any of them.
  std::vector<std::vector<int64_t>> period_starts;
  std::vector<int64_t> series_records;
  std::vector<int32_t> series_points;
  std::vector<PlannedFile> files;  // in reading order
  int64_t records = 0;             // records that count, all files
  // Damage found in the pairs and records set aside, one line each, for
  // the program to report when it goes on.
  std::vector<std::string> findings;
};

// Walks the RecordHeaders of every pair. Damage found (at most 20 lines
// per pair), and records set aside because their beam's geometry differs
// from that of most records of the beam, become findings. False, with a
// message, when a pair cannot be opened, the same file is named twice,
// the pairs are of different sites or no record counts.
bool plan_input(const std::vector<std::string>& paths,
                const RecordChoice& choice, int32_t period_minutes,
                InputPlan* plan, std::string* error);

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

// Decodes the records that count, file by file in the plan's order;
// begin_pair (when given) is called before each pair is opened, and may
// refuse it with a message. Each record goes to take (with its series index;
// pda_moments holds its values until take returns), unless a record of the same
// time and beam from another file was taken already: such records are set aside
// and counted in *duplicates. finished(t) is called whenever no record of a
// time before t can still come, the last time with the largest int64_t. False,
// with a message, when a file no longer matches its plan.
bool read_input(
    const InputPlan& plan, const RecordChoice& choice,
    const std::function<bool(const std::string& path, std::string* error)>&
        begin_pair,
    const std::function<void(size_t series, const RecordFacts&)>& take,
    const std::function<void(int64_t before)>& finished, int64_t* duplicates,
    std::string* error);

// The note on the records read_input set aside as duplicates: "N
// record(s) set aside: a record of the same time, radar and beam came from
// another input already".
std::string duplicates_finding(int64_t duplicates);

// The gates of a decoded record that hold a velocity and an SNR of the
// first moment set.
int32_t stored_gates(const RecordFacts& facts, const MomentArrays& moments);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_INPUT_H
