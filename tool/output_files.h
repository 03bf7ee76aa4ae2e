// Output files of the extraction tool.
//
// Per record and site day, text is appended to <sss><yy><ddd>.rew (wind,
// fewer than 2048 spectral points) or .rat_e (RASS, 2048 or more), and for
// spectra input also to .ras. A file gets a header line only when a record
// first creates it. Every record also prints a summary line per file on
// standard output.
//
// Files stay open while consecutive records go to the same file, and each
// holds the text of whole records in memory until it is handed to the
// system (AppendFile): at most about 1 MiB per file, always at a record
// boundary. Everything held is handed over before a file is closed or
// replaced, when the run ends for any reason, and on a fatal exit from the
// access module. The summary lines go through stdout's own buffering.

#ifndef QUELLMAR_TOOL_OUTPUT_FILES_H
#define QUELLMAR_TOOL_OUTPUT_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "disk/pda.h"
#include "tool/append_file.h"
#include "tool/spectrum_lines.h"
#include "tool/text_format.h"

namespace quellmar::tool {

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

// One record as the writers see it, gathered by the record loop; the
// writers read nothing else of the access module.
struct RecordView {
  RecordStamp stamp;
  const BeamInfo* beam = nullptr;
  const MomentArrays* moments = nullptr;
  SpectrumSource spectra;  // spectra input only
};

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

  // Writes the record to its wind or RASS file and, for spectra input, to
  // the spectra file. False when a file could not be opened or a write failed;
  // the message has been printed and nothing more of the record is
  // written.
  bool write_record(const RecordView& record, bool spectra_input);

  // Hands over all held text and closes the files. False when a write has
  // failed, now or before; the failure is reported once ("Cannot write
  // file %s: %s\n" on standard error).
  bool close_all();

 private:
  enum Kind { kWind, kRass, kSpectra, kKinds };

  // Makes the file of kind for the record's day the open one.
  bool open(Kind kind, const RecordStamp& stamp);
  bool hand_over(quellmar::tool::AppendFile& file);
  void put_file_header_line(TextBuffer& t);
  void put_block(Kind k, const RecordView& r, TextBuffer& t);
  void put_record_line(TextBuffer& t, int32_t beam, const RecordStamp& stamp,
                       const BeamInfo& b);
  void put_beam_line(TextBuffer& t, const BeamInfo& b);
  void put_gate_block(TextBuffer& t, const RecordView& r, bool second_set);

  SiteDescription site_;
  quellmar::tool::AppendFile files_[kKinds];
  std::pair<int32_t, int32_t> open_day_[kKinds];  // year, day of files_
  // Set by the first failed write; nothing is written after it, so no file
  // has a gap.
  bool write_failed_ = false;
  TextBuffer header_;
  TextBuffer record_line_;
  TextBuffer beam_line_;
  TextBuffer summary_;
  std::vector<float> scratch_columns_[5];
};

}  // namespace quellmar::tool

#endif  // QUELLMAR_TOOL_OUTPUT_FILES_H
