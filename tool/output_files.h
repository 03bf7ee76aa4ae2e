// Output files of the extraction tool.
//
// Per record and site day, text is appended to <sss><yy><ddd>.rew (wind,
// fewer than 2048 spectral points) or .rat_e (RASS, 2048 or more), and for
// spectra input also to .ras. A file gets a header line only when a record
// first creates it. Every record also prints a summary line per file on
// standard output.
//
// Files stay open while consecutive records go to the same file. Each
// record's text for a file is handed to the operating system with one
// write, in record order, by a writer thread (WriteBehind), which may also
// format part of it. A record is formatted while the record before is
// being written, but nothing of it is written (summary line included) until
// every earlier record has been handed over; the writer is also drained
// before a file is closed or replaced, when the run ends, and when the
// process exits.

#ifndef QUELLMAR_TOOL_OUTPUT_FILES_H
#define QUELLMAR_TOOL_OUTPUT_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tool/text_format.h"
#include "tool/write_behind.h"

using quellmar::TextBuffer;

struct SiteDescription {
  std::string label;  // site name in lower case
  int32_t value_1 = 0;
  int32_t value_2 = 0;
  int32_t value_4 = 0;
  int32_t tx_frequency = 0;
};

struct RecordStamp {
  int32_t beam = 0;
  int32_t year = 0;  // years since 1900
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

// log10 power in dB, held as a float; 0 for values that are not positive.
float power_db(float x);

// Output file name: first three label characters ('/' written as '_'),
// year with at least two digits, day with at least three, suffix.
std::string output_file_name(const std::string& label, int32_t year,
                             int32_t day, const char* suffix);

class OutputWriter {
 public:
  explicit OutputWriter(const SiteDescription& site);
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;
  ~OutputWriter();

  // Writes the current record (BeamInfo and MomentArrays of the access
  // module) to its wind or RASS file and, for spectra input, to the
  // spectra file. False when a file could not be opened, or when writing
  // an earlier record failed; the message has been printed and nothing
  // more of the record is written.
  bool write_record(const RecordStamp& stamp, bool spectra_input);

  // Waits until all text has been written, closes the files and reports a
  // failed write ("Cannot write file %s: %s\n" on standard error). False
  // after such a failure.
  bool close_all();

 private:
  struct OpenFile {
    std::string name;
    std::FILE* file = nullptr;
  };
  enum Kind { kWind, kRass, kSpectra, kKinds };

  bool open(Kind kind, const std::string& name, bool* is_new);
  void put_file_header_line(TextBuffer& t);
  void format_block(Kind k, const RecordStamp& stamp, bool spectra_input,
                    TextBuffer& t, WriteBehind::Completion* rest);
  bool report_write_failure();
  void put_record_line(TextBuffer& t, int32_t beam, const RecordStamp& stamp);
  void put_beam_line(TextBuffer& t);
  void put_gate_block(TextBuffer& t, bool second_set, int share,
                      WriteBehind::Completion* rest);
  void rebalance(int* share);

  SiteDescription site_;
  OpenFile files_[kKinds];
  WriteBehind writer_;
  bool write_failure_reported_ = false;
  // The current record's blocks (wind or RASS, then spectra) and what the
  // writer thread adds to each.
  TextBuffer blocks_[2];
  WriteBehind::Completion rests_[2];
  TextBuffer header_;
  TextBuffer summary_;
  std::vector<float> scratch_columns_[5];
  // Lines the record loop formats, in 64ths (see output_files.cpp).
  int spectra_share_ = 32;
  int moments_share_ = 48;
  // Values of gate lines the writer thread formats. A queued text is
  // written before kSlots more are queued, so kSlots + 1 of these are never
  // in use at once.
  std::vector<float> deferred_[WriteBehind::kSlots + 1];
  size_t next_deferred_ = 0;
};

#endif  // QUELLMAR_TOOL_OUTPUT_FILES_H
