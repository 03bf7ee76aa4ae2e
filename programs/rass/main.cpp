// quellmar-rass: virtual temperature profiles from the RASS dwells of
// profiler file pairs, with quality flags from the time-height continuity
// check.
//
//   quellmar-rass DATAFILE... -o OUT.nc [--csv OUT.csv] [--bufr OUT.bufr]
//                 [options]
//
// The records of every pair are merged by time and each period's
// temperatures are formed once no input can add to it. Exit status: 0
// when the files were written, 1 for an input that cannot be read (or
// holds no RASS dwell) or an output that cannot be written, 2 for a wrong
// command line. Each output is written under a temporary name and renamed
// when complete. docs/rass.md describes the method and the files,
// docs/qc.md the check.

#include <cstdint>
#include <cstdio>
#include <string>

#include "disk/pda.h"
#include "methods/bufr/bufr_file.h"
#include "methods/bufr/rass_bufr.h"
#include "methods/csv/csv_fields.h"
#include "methods/csv/rass_csv.h"
#include "methods/netcdf/rass_file.h"
#include "methods/output/text_output.h"
#include "methods/rass/input.h"
#include "programs/cli/progress.h"
#include "programs/rass/options.h"

namespace {

using namespace quellmar::companions;

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-rass: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  RassOptions options;
  const int status = parse_rass_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;
  if (const int checked = check_output_folders(
          "quellmar-rass", {options.output, options.csv, options.bufr},
          !options.bufr.empty())) {
    return checked;
  }

  std::string error;

  // The module's messages stay off standard output; the damage reports come
  // from what the module keeps of each problem.
  pda_set_message_stream(nullptr);
  const RassMethod& method = options.report.method;
  ProgressLine progress("quellmar-rass");
  RecordChoice choice = rass_records(options.report.radar, method);
  choice.progress = &progress;
  InputPlan plan;
  if (!plan_input(options.inputs, choice, method.period_minutes, &plan,
                  &error)) {
    return fail(error);
  }
  // An oblique RASS beam's correction needs the horizontal wind: the
  // wind modes' oblique beams are planned too.
  if (method.w_correction && rass_needs_horizontal_wind(plan)) {
    choice = rass_records(options.report.radar, method, true);
    choice.progress = &progress;
    plan = InputPlan{};
    if (!plan_input(options.inputs, choice, method.period_minutes, &plan,
                    &error)) {
      return fail(error);
    }
  }
  const int64_t cells = rass_profile_cells(plan);
  if (cells > kMaxProfileCells) {
    return fail("the profiles would take " + std::to_string(cells) +
                " cells (periods x gates), more than the " +
                std::to_string(kMaxProfileCells) +
                " one run makes; give a longer --period or fewer files");
  }
  for (const std::string& finding : plan.findings) {
    std::fprintf(stderr, "quellmar-rass: %s\n", finding.c_str());
  }
  options.report.site_name = plan.site_name;

  RassRun run;
  if (!stream_rass_profiles(plan, choice, method, &run, &error)) {
    return fail(error);
  }
  if (run.duplicates > 0) {
    run.findings.push_back(duplicates_finding(run.duplicates));
  }
  bool any = false;
  for (const RassProfiles& m : run.modes) {
    for (float tv : m.tv) any = any || tv == tv;
  }
  for (const std::string& line : rass_run_notes(run.modes, method)) {
    run.findings.push_back(line);
  }
  if (!any) {
    run.findings.push_back(
        "no virtual temperature came out of the " + std::to_string(run.dwells) +
        " RASS dwell(s) " +
        (method.acoustic_set == kAcousticSetAuto
             ? std::string("in either moment set")
             : "of acoustic set " + std::to_string(method.acoustic_set) +
                   "; is the sound pulse in the other set (--acoustic-set)?"));
  }
  for (const std::string& finding : run.findings) {
    std::fprintf(stderr, "quellmar-rass: %s\n", finding.c_str());
  }

  const std::vector<RassProfiles>& modes = run.modes;
  if (!write_committed(
          options.output,
          [&](const std::string& temp, std::string* message) {
            try {
              write_rass_netcdf(temp, options.report, modes);
            } catch (const OutputFileError& e) {
              *message = options.output + ": " + e.what();
              return false;
            }
            return true;
          },
          &error)) {
    return fail(error);
  }
  if (!options.csv.empty() &&
      !write_committed(
          options.csv,
          [&](const std::string& temp, std::string* message) {
            return write_text(temp, rass_csv(modes), message);
          },
          &error)) {
    return fail(error);
  }
  if (!options.bufr.empty() &&
      !write_committed(
          options.bufr,
          [&](const std::string& temp, std::string* message) {
            return write_rass_bufr(temp, options.report, options.station, modes,
                                   message);
          },
          &error)) {
    return fail(error);
  }
  return 0;
}
