#include "tool/main_loop.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "disk/pda.h"
#include "tool/interrupt.h"
#include "tool/output_files.h"

namespace quellmar::tool {

namespace {

// Reports a failed opening with the file and its true reason; a header
// file given in place of its data file gets the name to give instead.
void report_open_failure(const RunRequest& request) {
  if (pda_set_file_failure() == SetFileFailure::kOpenFailed) {
    std::fprintf(stderr, "Cannot open file: pda_set_file: %s: %s\n",
                 pda_set_file_failed_path().c_str(),
                 std::strerror(pda_set_file_errno()));
  } else {
    std::fprintf(stderr,
                 "Cannot open file: pda_set_file: no complete record in %s\n",
                 pda_data_path().c_str());
  }
  const std::string& name = request.file_name;
  if (!name.empty() && (name[0] == 'h' || name[0] == 'H')) {
    const char data_letter = name[0] == 'h' ? 'd' : 'D';
    std::fprintf(stderr, "This is a header file; give its data file %s\n",
                 (request.directory + data_letter + name.substr(1)).c_str());
  }
}

SiteDescription read_site_description() {
  SiteDescription site;
  char name[32];
  pda_get_site_name(name);
  for (char* c = name; *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  site.label = name;
  char radar_name[32];
  int32_t radar_value = 0;
  pda_get_radar_info(0, radar_name, &radar_value, &site.tx_frequency);
  pda_get_site_values(&site.value_1, &site.value_2);
  site.value_4 = pda_get_site_value_4();
  return site;
}

// The first search starts at 1 January 1990, 00:00:00, before the first
// record of any file, and so settles on the file's first record.
constexpr int32_t kFirstSearchYear = 1990;
constexpr int32_t kFirstSearchDay = 1;

// The current record's spectra and windows.
SpectrumSource current_spectra() {
  SpectrumSource s;
  int32_t e1, e2, e3, e4, e5;
  s.placement = pda_get_spectrum_windows(&s.w1s, &s.w1n, &s.w2s, &s.w2n, &e1,
                                         &e2, &e3, &e4, &e5);
  s.points = pda_beam_info.spectral_points;
  s.gate_count = pda_beam_info.gate_count;
  s.positional =
      pda_describe_datacode(pda_get_record_datacode(), pda_get_spectra_flag())
          .positional_spectra;
  s.rows = pda_moments.spectra;
  s.decoded_gates = pda_moments.gate_count;
  s.row_length = pda_moments.row_length;
  return s;
}

// The record loop from the first record found to the stop time; returns
// the run's status.
int write_records(OutputWriter& writer, const RunRequest& request) {
  int new_header = 0;
  for (;;) {
    // A record the end of the file cuts short holds values that were never
    // read: it is left out, and it is the last one the file holds.
    if (pda_record_cut_short()) {
      std::fprintf(stderr,
                   "Record at offset %ld of %s is cut short by the end of the "
                   "file: not written\n",
                   static_cast<long>(pda_get_record_offset()),
                   request.argument.c_str());
      pda_release_moments();
      return 0;
    }
    RecordView record;
    RecordStamp& stamp = record.stamp;
    stamp.beam = pda_get_record_beam();
    char direction_name[12];
    if (!pda_get_beam_info(stamp.beam, direction_name)) {
      std::fprintf(stderr, "Cannot get information for beam %ld\n",
                   static_cast<long>(stamp.beam));
      return 1;
    }
    const int64_t instant = pda_get_time(&stamp.year, &stamp.day, &stamp.hour,
                                         &stamp.minute, &stamp.second);
    record.beam = &pda_beam_info;
    record.moments = &pda_moments;
    if (request.spectra_input) record.spectra = current_spectra();
    if (!writer.write_record(record, request.spectra_input)) return 1;
    pda_release_moments();
    // An interrupted run ends between records; main ends it by the signal.
    if (interrupt_signal() != 0) return 0;
    if (!pda_next_record(&new_header)) return 0;
    if (instant >= request.stop_time) return 0;
  }
}

}  // namespace

int run_main_loop(const RunRequest& request) {
  if (!pda_set_file(request.directory, request.file_name,
                    request.spectra_input ? 1 : 0)) {
    report_open_failure(request);
    return 1;
  }
  const SiteDescription site = read_site_description();

  int new_header = 0;
  if (!pda_seek_time(kFirstSearchYear, kFirstSearchDay, 0, 0, 0, &new_header)) {
    std::fprintf(stderr, "Cannot find specified time %ld:%ld\n", 0L, 0L);
    return 1;
  }
  if (!pda_select_radar(0)) {
    std::fputs("Cannot set radar index 0\n", stderr);
    return 1;
  }
  if (!pda_select_beam(-1)) {
    std::fprintf(stderr, "Cannot set requested beam %ld\n", -1L);
    return 1;
  }

  OutputWriter writer(site);
  const int status = write_records(writer, request);
  // All held text handed over and the files closed, whatever the status; a
  // failed write ends the run with status 1 even when the records ran out
  // normally.
  return writer.close_all() ? status : 1;
}

}  // namespace quellmar::tool
