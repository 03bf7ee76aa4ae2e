// Opening a file pair and walking its records without decoding their
// bodies: what every record is, which HeaderBlock it names, and what is
// damaged. Shared by quellmar-info, quellmar-nc and quellmar-wind.
//
// The access module holds one pair at a time in module-wide state; these
// functions work on that state.

#ifndef QUELLMAR_COMPANIONS_PAIR_SCAN_H
#define QUELLMAR_COMPANIONS_PAIR_SCAN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/pda.h"

namespace quellmar::companions {

struct PairInput {
  std::string path;    // the data file as given
  std::string prefix;  // directory part, up to and including the last '/'
  std::string name;    // data-file name
  std::string header_path;
  bool spectra_name = false;  // the name ends in spc or SPC
  int64_t data_bytes = 0;
  int64_t header_bytes = 0;
  // The HeaderBlock the opening loaded (the first record's).
  ParameterBlock first_block{};
};

// Opens the pair of the data file at path with the access module (after
// resetting it), with the spectra flag of its name. False, with a message,
// when path names a header file (its name begins with h), or the pair
// cannot be opened or holds no whole first record.
bool open_pair(const std::string& path, PairInput* input, std::string* error);

// The radar's transmit frequency in Hz from the first HeaderBlock of the
// pair of the data file at path (opened with open_pair); NaN when the pair
// cannot be opened or the HeaderBlock gives none (0 or less).
double transmit_frequency_hz(const std::string& path);

struct SpectrumWindows {
  int32_t window1_start = 1;  // spectral points counted from 1
  int32_t window1_points = 0;
  int32_t window2_start = 1;
  int32_t window2_points = 1;  // 1: no window 2
  int32_t placement = 0;       // 1: window 2 is placed in spectrum lines
};

struct RecordFacts {
  int64_t offset = 0;  // of the record's first byte in the data file
  int32_t length = 0;
  int32_t datacode = 0;
  char layout = 'M';  // N (datacode 3000+), S (older spectra), M (moments)
  int32_t spectra_flag = 0;  // in force for this record
  int32_t header_offset = 0;
  bool header_loaded = true;  // the HeaderBlock it names is the one held
  int32_t time = 0;           // seconds since 1970-01-01 00:00:00 UTC
  int32_t radar = 0;
  int32_t beam = 0;
  bool second_set = false;  // the datacode adds a second moment set

  // From the HeaderBlock held while the record is read.
  int32_t mode = -1;  // the mode its body is decoded with; -1: none
  // The beam lies within beam_count and names a direction and a mode of
  // the tables: what the text tool needs to write the record.
  bool beam_described = false;
  int32_t direction = -1;
  int32_t azimuth = 0;    // degrees, as stored
  float elevation = 0.f;  // degrees; a stored value above 90 is hundredths
  int32_t gate_count = 0;
  int32_t spectral_points = 0;
  int32_t ipp_ns = 0;
  int32_t first_gate_delay_ns = 0;
  int32_t delay_offset_ns = 0;
  int32_t gate_spacing_ns = 0;
  SpectrumWindows windows;
};

struct Damage {
  int64_t offset = 0;  // in the data file
  std::string kind;    // cut_record, bad_length, bad_trailer, ...
  std::string detail;
};

struct ScanResult {
  std::vector<RecordFacts> records;
  std::vector<int32_t> header_offsets;  // in the order first named
  std::vector<Damage> damage;
  int64_t end_offset = 0;  // where the walk stopped
};

// The facts of the record whose RecordHeader the access module read last,
// from its record state and the HeaderBlock it holds.
RecordFacts current_facts();

// Walks every record of the pair opened with open_pair from the first,
// reading RecordHeaders only: on_record gets every record read whole, in
// file order, after on_damage has had its findings (cut, bad trailer,
// unknown radar or beam); a RecordHeader that cannot be read ends the walk
// with a finding (bad_length or cut_record_header). HeaderBlocks that
// cannot be loaded are left to the caller (RecordFacts::header_loaded).
// on_record may decode the record (pda_decode_record): the walk then goes
// on from the next record, where the decoding left the access module.
// Returns the offset where the walk stopped.
int64_t walk_records(const PairInput& input,
                     const std::function<void(const RecordFacts&)>& on_record,
                     const std::function<void(Damage)>& on_damage);

// The detail of a header_read_error finding.
std::string header_read_error(int32_t header_offset, int64_t records);

// Walks every record from the first and keeps them all, with the damage in
// data-file order.
ScanResult scan_records(const PairInput& input);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PAIR_SCAN_H
