// Data file records: RecordHeader reading and record stepping.
//
// The data file is a plain sequence of records from byte 0 to its end. A
// record is RecordHeader, body, trailer; the trailer repeats the record's
// length so that the file can be walked backwards. Three layouts:
//
//   N  datacode >= 3000
//      0 int16 datacode, 2 int32 record_length, 6 int16 spectra_flag,
//      8 int32 header_offset, 12 int32 record_time, 16 int16 radar_index,
//      18 int16 beam_index, 20 int16 coherent_integrations override,
//      22 int16 spectral_averages override, body, int32 trailer
//   S  datacode < 3000, spectra file
//      0 int16 datacode, 2 int32 record_length, 6 int32 header_offset,
//      10 int32 record_time, 14 int16 radar_index, 16 int16 beam_index,
//      [18 two int16 overrides when length > 5G + 4GP + 22], body,
//      int32 trailer
//   M  datacode < 3000, moments file
//      0 int16 datacode, 2 int16 record_length, 4 int32 header_offset,
//      8 int32 record_time, 12 int16 radar_index, 14 int16 beam_index,
//      [16 two int16 overrides when length > 5G + 18], body, int16 trailer
//
// G and P are the gate count and spectral points of the record's mode in
// the HeaderBlock the record names (loaded when its offset changes).

#include <cstdio>

#include "disk/disk_state.h"
#include "disk/pda.h"

namespace quellmar::disk {
RecordState record;
PairState pair;
bool header_error_reported = false;
}  // namespace quellmar::disk

namespace {

using quellmar::disk::pair;
using quellmar::disk::read_i16;
using quellmar::disk::read_i32;
using quellmar::disk::record;

// Loads the HeaderBlock at offset unless it is the one held already.
void load_header_block(int32_t header_offset, int* new_header) {
  if (header_offset == pair.last_header_offset) return;
  int seek_status = pair.header.seek(header_offset) ? 0 : -1;
  int read_status = 0;
  if (seek_status == 0) read_status = pda_read_header_block();
  if (seek_status == 0 && read_status == 0) {
    pair.last_header_offset = header_offset;
    *new_header = 1;
    return;
  }
  quellmar::disk::note_problem(DiskProblem::kHeaderReadError,
                               pair.current_offset, header_offset);
  if (!quellmar::disk::header_error_reported) {
    quellmar::disk::message(
        "\ndisk: Header Read Error, pressing on...  %ld %ld  %ld\n",
        static_cast<long>(seek_status), static_cast<long>(read_status),
        static_cast<long>(pair.last_header_offset));
    quellmar::disk::header_error_reported = true;
  }
}

// Override bounds wrap as 32-bit arithmetic does.
int32_t wrap32(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// Reads the fields after the datacode; false when one is not whole (it and
// the later fields keep their previous values).
bool read_fields(int* new_header) {
  quellmar::disk::ByteStream& s = pair.data;
  const DatacodeTraits traits =
      pda_describe_datacode(record.datacode, record.spectra_flag);
  const bool long_length = traits.trailer_width == 4;
  const bool layout_n = traits.layout == 'N';
  if (long_length) {
    if (!read_i32(s, &record.record_length)) return false;
  } else {
    int16_t length;
    if (!read_i16(s, &length)) return false;
    record.record_length = length;
  }
  const int32_t minimum = layout_n      ? quellmar::disk::kMinLengthN
                          : long_length ? quellmar::disk::kMinLengthS
                                        : quellmar::disk::kMinLengthM;
  if (record.record_length < minimum) {
    quellmar::disk::note_problem(DiskProblem::kBadRecordLength,
                                 pair.current_offset, record.record_length);
    quellmar::disk::message("disk: bad record length %ld at offset %ld\n",
                            static_cast<long>(record.record_length),
                            static_cast<long>(pair.current_offset));
    return false;
  }
  if (layout_n && !read_i16(s, &record.spectra_flag)) return false;

  int32_t header_offset;
  if (!read_i32(s, &header_offset)) return false;
  record.header_offset = header_offset;
  load_header_block(header_offset, new_header);

  if (!read_i32(s, &record.record_time)) return false;
  record.key = pda_time_key_from_seconds(record.record_time);
  if (!read_i16(s, &record.radar_index)) return false;
  if (!read_i16(s, &record.beam_index)) return false;

  // The mode comes from radar 0's beam table, the only one there is.
  record.mode_index = -1;
  if (record.beam_index >= 0 && record.beam_index < kBeamCount) {
    const int16_t m =
        pda_parameters.radars[0].beams[record.beam_index].mode_index;
    if (m >= 0 && m < kModeCount) record.mode_index = m;
  }
  ModeEntry* mode = record.mode_index < 0
                        ? nullptr
                        : &pda_parameters.radars[0].modes[record.mode_index];
  const int64_t g = mode == nullptr ? 0 : mode->gate_count;
  const int64_t p = mode == nullptr ? 0 : mode->spectral_points;

  bool overrides = layout_n;
  if (!layout_n && long_length) {
    overrides = record.record_length > wrap32(5 * g + 4 * g * p + 22);
  } else if (!layout_n) {
    overrides = record.record_length > wrap32(5 * g + 18);
  }
  if (overrides) {
    int16_t integrations, averages;
    if (!read_i16(s, &integrations)) return false;
    if (mode != nullptr) mode->coherent_integrations = integrations;
    if (!read_i16(s, &averages)) return false;
    if (mode != nullptr) mode->spectral_averages = averages;
  }
  return true;
}

}  // namespace

int pda_read_record_header(int* new_header) {
  *new_header = 0;
  if (!pair.open) return 1;
  int16_t datacode;
  if (!read_i16(pair.data, &datacode)) {
    // No byte at all is a clean end of the data; one byte is a cut.
    if (pair.data.tell() != pair.current_offset) {
      quellmar::disk::note_problem(DiskProblem::kCutRecordHeader,
                                   pair.current_offset);
    }
    pair.data.seek(pair.current_offset);
    return 1;
  }
  record.datacode = datacode;
  if (!read_fields(new_header)) {
    // A bad length has been noted already; anything else is a cut.
    DiskProblem code = DiskProblem::kNone;
    int64_t at = -1, value = 0;
    if (!pda_get_problem(&code, &at, &value) || at != pair.current_offset ||
        code != DiskProblem::kBadRecordLength) {
      quellmar::disk::note_problem(DiskProblem::kCutRecordHeader,
                                   pair.current_offset);
    }
    pair.data.seek(pair.current_offset);
    return -4;
  }
  pair.last_whole_record_offset = pair.current_offset;
  pair.last_whole_record_end = pair.current_offset + record.record_length;
  record.offset = pair.current_offset;
  return 0;
}

int32_t pda_get_record_length() { return record.record_length; }
int32_t pda_get_record_header_offset() { return record.header_offset; }
int64_t pda_get_record_offset() { return record.offset; }
int32_t pda_get_spectra_flag() { return record.spectra_flag; }
int32_t pda_get_loaded_header_offset() { return pair.last_header_offset; }

int pda_read_header_block_at(int32_t offset) {
  if (!pair.open || !pair.header.seek(offset)) return -1;
  return pda_read_header_block();
}

int pda_advance_record() {
  if (!pair.open) return 0;
  pair.current_offset += record.record_length;
  if (pair.current_offset < 0) pair.current_offset = 0;
  pair.data.seek(pair.current_offset);
  return 0;
}

namespace {

// One step back over the record before the present position. False when
// the start of the file or an unusable trailer stops it.
bool step_back() {
  quellmar::disk::ByteStream& s = pair.data;
  const int64_t position = s.tell();
  if (position <= 0) return false;
  // Inside or at the end of a record cut short by the end of the file: its
  // trailer is not there, so land on its RecordHeader, read whole before.
  const int64_t cut = pair.last_whole_record_offset;
  if (cut >= 0 && cut < position && position <= pair.last_whole_record_end &&
      pair.last_whole_record_end > s.size()) {
    s.seek(cut);
    pair.current_offset = cut;
    return true;
  }
  const int width = quellmar::disk::trailer_width();
  if (position - width < 0) return false;
  s.seek(position - width);
  unsigned char bytes[4];
  const size_t got = s.read(bytes, width);
  s.seek(position);
  if (got != static_cast<size_t>(width)) {
    // The file ends before the trailer does.
    if (cut >= 0 && cut < position) {
      s.seek(cut);
      pair.current_offset = cut;
      return true;
    }
    return false;
  }
  const int64_t trailer = width == 4 ? quellmar::disk::get_i32(bytes)
                                     : quellmar::disk::get_i16(bytes);
  const int64_t minimum =
      width == 4 ? quellmar::disk::kMinLengthS : quellmar::disk::kMinLengthM;
  if (trailer < minimum || trailer > position) return false;
  s.seek(position - trailer);
  pair.current_offset = position - trailer;
  return true;
}

}  // namespace

int pda_skip_records(int32_t count) {
  if (!pair.open) return count >= 2 ? -1 : (count == 1 ? 0 : -2);
  if (count >= 2) {
    for (int32_t i = 0; i < count - 1; ++i) {
      int new_header;
      if (pda_read_record_header(&new_header) != 0) return -1;
      pda_advance_record();
    }
    return 0;
  }
  if (count == 1) return 0;
  for (int64_t i = 0; i < 1 - static_cast<int64_t>(count); ++i) {
    if (!step_back()) return -2;
  }
  return 0;
}
