// What the command lines of the companion programs share: the option
// groups that more than one program adds with one call (the outputs and
// the averaging of quellmar-wind and quellmar-rass, the site's position,
// the --qc/--bufr group), the checks of the outputs named, and the
// findings of a scan on standard error.

#ifndef QUELLMAR_COMPANIONS_COMMAND_LINE_H
#define QUELLMAR_COMPANIONS_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "methods/bufr/bufr_file.h"
#include "methods/netcdf/scan.h"
#include "methods/qc/time_height_check.h"
#include "programs/cli/option_table.h"

namespace quellmar::companions {

// Why the outputs cannot be written as named ("" when they can): -o,
// --csv and --bufr naming one file, or an output naming an input or its
// header file. csv and bufr may be empty (none).
std::string output_conflict(const std::vector<std::string>& inputs,
                            const std::string& output, const std::string& csv,
                            const std::string& bufr = "");

// What --bufr needs and was not given, as "--wmo-block, --latitude" ("" when
// nothing is missing): the station and the site's position.
std::string bufr_missing(const WmoStation& station, bool latitude,
                         bool longitude, bool altitude);

// --significant-digits: the float fields and the spectra of a converted
// file kept to N significant decimal digits (netCDF's own Granular
// BitRound quantization, 1 to 7), which deflate packs far smaller; without
// it every value is exact.
void add_significant_digits(OptionTable& table, std::optional<int32_t>* digits);

// --latitude, --longitude and --altitude: where the site is, stored as
// given. Longitudes from -180 to 360 degrees east take both conventions
// (-180..180 and 0..360).
void add_position(OptionTable& table, std::optional<double>* latitude,
                  std::optional<double>* longitude,
                  std::optional<double>* altitude);

// The words that tell the averaging programs' options apart.
struct AveragingWords {
  const char* unit;        // of the consensus window and the check's step
  const char* unit_value;  // the value's name: M_S, K
  const char* counted;     // what a consensus counts: records, dwells
  const char* checked;     // the check's quantities: "u, v and w", "Tv"
  const char* heights;     // the check's neighbours in height
  const char* sequence;    // the BUFR sequence
};

// -o, --csv, --period, --window, --min-fraction, --velocity-sign and
// --radar: what quellmar-wind and quellmar-rass share, bound to their
// method (WindMethod, RassMethod), whose defaults --help shows.
template <class Method>
void add_averaging(OptionTable& table, const AveragingWords& words,
                   std::string* output, std::string* csv, Method* method,
                   int32_t* radar) {
  table.file("-o", "OUT.nc", "the netCDF-4 file to write (required)", output,
             "");
  table.file("--csv", "OUT.csv", "also write the profiles as a CSV table", csv,
             "none");
  table.integer("--period", "MIN",
                "averaging period in whole minutes from 00:00 UTC",
                &method->period_minutes, 1, 1440);
  table.number("--window", words.unit_value,
               std::string("consensus window in ") + words.unit +
                   ": the largest spread of an agreeing set",
               &method->consensus.window, 0.0, 1e6);
  table.number("--min-fraction", "F",
               std::string("share of the ") + words.counted +
                   " holding a gate that a consensus needs",
               &method->consensus.min_fraction, 0.0, 1.0);
  table.choice("--velocity-sign",
               "the sign of the stored velocities: toward means positive "
               "toward the radar",
               &method->velocity_toward, {{"away", false}, {"toward", true}});
  table.integer("--radar", "N", "the radar whose records count", radar, 0,
                32767);
}

// The options of the time-height check and of BUFR export that the
// averaging programs share: --qc continuity|none, --qc-max-step,
// --qc-min-pattern, --qc-periods, --qc-heights, --bufr, --wmo-block and
// --wmo-station.
struct CheckAndBufr {
  ContinuityRule rule;  // the program's defaults until given
  bool qc_off = false;
  std::string bufr;  // empty: no BUFR
  WmoStation station;

  // The check as the method holds it: none with --qc none.
  std::optional<ContinuityRule> quality() const {
    return qc_off ? std::nullopt : std::optional<ContinuityRule>(rule);
  }
};
void add_check_and_bufr(OptionTable& table, const AveragingWords& words,
                        CheckAndBufr* options);

// The checks of an averaging program's outputs once the command line is
// read: what --bufr needs, and outputs that name one file or an input.
// kExitWritten when they hold, else the wrong command line reported.
int check_outputs(const OptionTable& table,
                  const std::vector<std::string>& inputs,
                  const std::string& output, const std::string& csv,
                  const CheckAndBufr& shared,
                  const std::optional<double>& latitude,
                  const std::optional<double>& longitude,
                  const std::optional<double>& altitude);

// Before an averaging program's run: BUFR asked of a build without it
// (status 2) or an output whose folder cannot be written to (status 1),
// each reported on standard error as "PROGRAM: ..."; 0 when the run can go
// on. Empty names are outputs not asked for.
int check_output_folders(const char* program,
                         const std::vector<std::string>& outputs,
                         bool bufr_wanted);

// Prints the findings of a scan on standard error, one line each
// ("PROGRAM: PAIR: data offset N: KIND: DETAIL"), and how many more there
// are.
void report_damage(const char* program, const std::string& pair,
                   const NcScan& scan);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_COMMAND_LINE_H
