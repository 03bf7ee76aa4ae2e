// Opening the file pair and positioning on a record.
//
// A pair is a data file and its header file: the same name with the first
// character replaced by a lower-case 'h', under the same directory prefix.
// Every positioning ends with the data file on the record found, which is
// then read and decoded; afterwards current_offset names the record after
// it, so the next search begins behind it.

#include <cerrno>

#include "disk/disk_state.h"
#include "disk/pda.h"

namespace {

using quellmar::disk::pair;
using quellmar::disk::record;

void close_pair() {
  pair.data.close();
  pair.header.close();
  pair.open = false;
  pair.open_name.clear();
  pair.last_whole_record_offset = -1;
  pair.last_whole_record_end = -1;
}

void rewind_pair() {
  pair.last_header_offset = -1;
  pair.current_offset = 0;
  pair.last_whole_record_offset = -1;
  pair.last_whole_record_end = -1;
  pair.data.seek(0);
}

// Steps back onto the record whose RecordHeader was read last. A trailer
// that disagrees with its record's length (damage) could land the step on
// another record and make a search find the same records again and again;
// the record read last is taken instead.
int step_back_onto_last_read() {
  const int result = pda_skip_records(0);
  if (result == 0 && pair.current_offset != record.offset) {
    pair.current_offset = record.offset;
    pair.data.seek(record.offset);
  }
  return result;
}

bool matches_selection(int32_t radar, int32_t beam) {
  return (record.radar_index == radar || radar == -1) &&
         (record.beam_index == beam || beam == -1);
}

// Reads RecordHeaders forward until one matches the selection, then steps
// back onto it and decodes it.
int find_matching(int* new_header) {
  const int32_t radar = selected_radar;
  const int32_t beam = selected_beam;
  for (;;) {
    int loaded;
    if (pda_read_record_header(&loaded) != 0) {
      // Stepping over a record cut short can pass the end of the file; the
      // search ends on the file's end instead.
      if (pair.current_offset > pair.data.size()) {
        pair.current_offset = pair.data.size();
        pair.data.seek(pair.current_offset);
      }
      return 0;
    }
    if (loaded) *new_header = 1;
    pda_advance_record();
    if (matches_selection(radar, beam)) break;
  }
  if (step_back_onto_last_read() != 0) return 0;
  return pda_read_record() == 0 ? 1 : 0;
}

}  // namespace

int pda_set_file(const std::string& prefix, const std::string& name,
                 int spectra_flag) {
  record.spectra_flag = static_cast<int16_t>(spectra_flag);
  pair.failure = SetFileFailure::kNone;
  pair.set_file_errno = 0;
  pair.failed_path.clear();
  if (name.empty()) {
    pair.failure = SetFileFailure::kEmptyName;
    return 0;
  }
  pair.data_path = prefix + name;
  pair.header_path = prefix + "h" + name.substr(1);

  const bool new_pair = !pair.open || name != pair.open_name;
  if (new_pair) {
    close_pair();
    if (!pair.data.open(pair.data_path, &pair.set_file_errno) ||
        !pair.header.open(pair.header_path, &pair.set_file_errno)) {
      pair.failed_path =
          pair.data.is_open() ? pair.header_path : pair.data_path;
      close_pair();
      pair.failure = SetFileFailure::kOpenFailed;
      return 0;
    }
    pair.open = true;
    pda_clear_problem();
  }
  rewind_pair();
  pair.open_name = name;
  if (!new_pair) {
    pair.failure = SetFileFailure::kAlreadyOpen;
    return 0;
  }

  int new_header;
  const int read = pda_read_record_header(&new_header);
  if (read == 0) {
    pda_advance_record();
    if (step_back_onto_last_read() == 0) return 1;
  }
  close_pair();
  pair.failure = SetFileFailure::kNoWholeRecord;
  return 0;
}

SetFileFailure pda_set_file_failure() { return pair.failure; }
int pda_set_file_errno() { return pair.set_file_errno; }
const std::string& pda_set_file_failed_path() { return pair.failed_path; }
const std::string& pda_data_path() { return pair.data_path; }
int64_t pda_current_offset() { return pair.current_offset; }

int pda_seek_time(int32_t year, int32_t day, int32_t hour, int32_t minute,
                  int32_t second, int* new_header) {
  *new_header = 0;
  if (!pair.open) return 0;
  const TimeKey target = {year >= 1900 ? year - 1900 : year, day, hour, minute,
                          second};
  int loaded;
  for (;;) {
    if (pda_compare_time(target, record.key) > 0) {
      // Forward: the first record not earlier than the target.
      for (;;) {
        if (pda_read_record_header(&loaded) != 0) break;
        if (loaded) *new_header = 1;
        pda_advance_record();
        if (pda_compare_time(record.key, target) >= 0) break;
      }
      break;
    }
    // Backward, 20 records per pass. A pass that does not move the file
    // back (possible only with damaged lengths) ends the search.
    for (;;) {
      const int64_t before = pair.current_offset;
      const int skipped = pda_skip_records(-20);
      const int read = pda_read_record_header(&loaded);
      if (loaded) *new_header = 1;
      pda_advance_record();
      if (skipped == -2 || read != 0 ||
          pda_compare_time(record.key, target) <= 0) {
        break;
      }
      if (pair.current_offset >= before) break;
    }
    if (pda_compare_time(target, record.key) <= 0) break;
  }
  step_back_onto_last_read();
  selected_radar = record.radar_index;
  selected_beam = record.beam_index;
  return pda_read_record() == 0 ? 1 : 0;
}

int pda_first_record(int* new_header) {
  *new_header = 0;
  if (!pair.open) return 0;
  rewind_pair();
  return find_matching(new_header);
}

int pda_next_record(int* new_header) {
  *new_header = 0;
  if (!pair.open) return 0;
  return find_matching(new_header);
}

void pda_reset() {
  close_pair();
  pair.data_path.clear();
  pair.header_path.clear();
  pair.current_offset = 0;
  pair.last_header_offset = -1;
  pair.failure = SetFileFailure::kNone;
  pair.set_file_errno = 0;
  pair.failed_path.clear();
  record = quellmar::disk::RecordState();
  quellmar::disk::header_error_reported = false;
  pda_clear_problem();
  pda_parameters = ParameterBlock();
  selected_radar = 0;
  selected_beam = 0;
  pda_beam_info = BeamInfo();
  pda_release_moments();
}
