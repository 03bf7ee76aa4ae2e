// Reading the records of one or more file pairs of one site, merged by
// time, in bounded memory: a first walk over the RecordHeaders plans the
// run (which records count, the beams, their gates and periods, the order
// of the files); a second decodes the records that count, file by file in
// the order of their first time, and says, as it goes, up to which time no
// record can still come. Shared by the programs that average records by
// beam and period (quellmar-wind, quellmar-rass).

#ifndef QUELLMAR_COMPANIONS_PAIR_INPUT_H
#define QUELLMAR_COMPANIONS_PAIR_INPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "methods/pairs/pair_pool.h"
#include "methods/pairs/pair_scan.h"
#include "methods/pairs/progress.h"

namespace quellmar::companions {

// The records a run pools: of one radar, with a beam its HeaderBlock
// describes and at least one gate, and chosen by the program (wind mode:
// fewer than 2048 spectral points; RASS: 2048 or more).
struct RecordChoice {
  int32_t radar = 0;
  std::function<bool(const RecordFacts&)> takes;
  std::string kind;                    // in the message when none counts
  ProgressReport* progress = nullptr;  // told how far the reading is
  // The whole message when none counts ("" for "PATH: no KIND record of
  // radar N").
  std::string none;
};

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

// The records of one (mode, beam) that count: the geometry most of them
// share (the others are set aside), the most gates and spectral points of
// any of them, and how many they are.
struct PlannedSeries {
  int32_t mode = 0;
  int32_t beam = 0;
  BeamGeometry geometry;
  int32_t gates = 0;
  int32_t spectral_points = 0;
  int64_t records = 0;
};

struct InputPlan {
  std::string site_name;              // the first pair's, bytes as stored
  std::vector<PlannedSeries> series;  // by mode and beam
  // Per series: the starts of the periods its records fall in, ascending.
  std::vector<std::vector<int64_t>> period_starts;
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

#endif  // QUELLMAR_COMPANIONS_PAIR_INPUT_H
