// Module-wide state of the access module, shared by its source files.
//
// Everything here belongs to the one open file pair. The public header
// exposes the parameter block, the selection, the beam information and the
// moment arrays; the rest is reached only through the pda_ operations.

#ifndef QUELLMAR_DISK_DISK_STATE_H
#define QUELLMAR_DISK_DISK_STATE_H

#include <cstdint>
#include <string>

#include "disk/byte_stream.h"
#include "disk/pda.h"

namespace quellmar::disk {

struct RecordState {
  int16_t datacode = 0;
  int32_t record_length = 0;
  int16_t spectra_flag = 0;
  int32_t record_time = 0;
  TimeKey key = {70, 1, 0, 0, 0};
  int16_t radar_index = 0;
  int16_t beam_index = 0;
  int16_t mode_index = 0;  // -1: the record's beam names no usable mode
  int32_t header_offset = 0;
  int64_t offset = 0;  // data-file offset of the record
  // Set by the decoder when a read of this record's body met the end of the
  // data file: the record holds values that were never read.
  bool cut_short = false;
};

struct PairState {
  ByteStream data;
  ByteStream header;
  bool open = false;
  std::string open_name;
  std::string data_path;
  std::string header_path;
  int64_t current_offset = 0;
  int32_t last_header_offset = -1;
  // Start of the last record whose RecordHeader was read whole; -1 when
  // none has been read since the pair was opened.
  int64_t last_whole_record_offset = -1;
  int64_t last_whole_record_end = -1;  // its offset plus its record_length
  SetFileFailure failure = SetFileFailure::kNone;
  int set_file_errno = 0;
  std::string failed_path;  // the file that would not open
};

extern RecordState record;
extern PairState pair;
extern bool header_error_reported;

// Prints a "disk: ..." message (printf format) where the program sends
// them: standard output unless pda_set_message_stream chose otherwise.
[[gnu::format(printf, 1, 2)]] void message(const char* format, ...);

// Notes a problem of the record at data_offset (pda_get_problem()).
void note_problem(DiskProblem code, int64_t data_offset, int64_t value = 0);

// Smallest record of each layout: its fixed RecordHeader plus its trailer.
constexpr int32_t kMinLengthM = 18;
constexpr int32_t kMinLengthS = 22;
constexpr int32_t kMinLengthN = 28;

// Width of the length field and trailer of the record read last.
inline int trailer_width() {
  return pda_describe_datacode(record.datacode, record.spectra_flag)
      .trailer_width;
}

// The ModeEntry of the current record, or nullptr when it has none.
inline const ModeEntry* record_mode() {
  if (record.mode_index < 0 || record.mode_index >= kModeCount) return nullptr;
  return &pda_parameters.radars[0].modes[record.mode_index];
}

// Copies a fixed-width name field: up to its NUL, or its first width - 1
// bytes when it holds none; always terminated.
void copy_field_name(char* dst, const char* src, size_t width);

// Nyquist velocity of a mode in m/s, as a float; 0 when a divisor is 0.
float nyquist_velocity(int32_t tx_frequency, int32_t ipp_ns,
                       int32_t coherent_integrations);

}  // namespace quellmar::disk

#endif  // QUELLMAR_DISK_DISK_STATE_H
