// quellmar-wind: wind profiles from the radial velocities of profiler file
// pairs, by consensus averaging and beam swinging, with quality flags from
// the time-height continuity check.
//
//   quellmar-wind DATAFILE... -o OUT.nc [--csv OUT.csv] [--bufr OUT.bufr]
//                 [options]
//
// The records of every pair are merged by time and each period's profiles
// are formed, and written, once no input can add to it. Exit status: 0
// when the files were written, 1 for an input that cannot be read or an
// output that cannot be written, 2 for a wrong command line. Each output is
// written under a temporary name and renamed when complete.
// docs/winds.md describes the method and the files, docs/qc.md the check.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "disk/pda.h"
#include "methods/bufr/bufr_file.h"
#include "methods/bufr/wind_bufr.h"
#include "methods/csv/wind_csv_file.h"
#include "methods/netcdf/wind_stream_file.h"
#include "methods/output/text_output.h"
#include "methods/wind/input.h"
#include "methods/wind/spectra_source.h"
#include "programs/cli/progress.h"
#include "programs/wind/options.h"

namespace {

using namespace quellmar::companions;

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-wind: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  WindOptions options;
  const int status = parse_wind_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;
  if (const int checked = check_output_folders(
          "quellmar-wind", {options.output, options.csv, options.bufr},
          !options.bufr.empty())) {
    return checked;
  }

  std::string error;

  // The module's messages stay off standard output; the damage reports come
  // from what the module keeps of each problem.
  pda_set_message_stream(nullptr);
  ProgressLine progress("quellmar-wind");
  RecordChoice choice = wind_records(options.report.radar);
  choice.progress = &progress;
  const WindMethod& method = options.report.method;
  InputPlan plan;
  if (!plan_input(options.inputs, choice, method.period_minutes, &plan,
                  &error)) {
    return fail(error);
  }
  for (const std::string& finding : plan.findings) {
    std::fprintf(stderr, "quellmar-wind: %s\n", finding.c_str());
  }
  options.report.site_name = plan.site_name;

  // --from-spectra: the moments recomputed from the spectra.
  std::optional<SpectraMoments> spectra;
  if (options.from_spectra)
    spectra.emplace(options.moments, options.report.radar);

  // The netCDF file takes each period as it is finished; u, v and w stay
  // for the continuity check and the other files.
  std::vector<ModeProfiles> modes;
  const auto write_netcdf = [&](const std::string& temp, std::string* message) {
    try {
      return write_wind_stream_file(
          temp, options.report, plan, choice, spectra ? &*spectra : nullptr,
          [](const std::string& finding) {
            std::fprintf(stderr, "quellmar-wind: %s\n", finding.c_str());
          },
          &modes, message);
    } catch (const WindFileError& e) {
      *message = options.output + ": " + e.what();
      return false;
    }
  };
  if (!write_committed(options.output, write_netcdf, &error)) {
    return fail(error);
  }
  if (!options.csv.empty() &&
      !write_committed(
          options.csv,
          [&](const std::string& temp, std::string* message) {
            return write_wind_csv_file(temp, options.output, modes, message);
          },
          &error)) {
    return fail(error);
  }
  if (!options.bufr.empty() &&
      !write_committed(
          options.bufr,
          [&](const std::string& temp, std::string* message) {
            return write_wind_bufr(temp, options.report, options.station, modes,
                                   message);
          },
          &error)) {
    return fail(error);
  }
  return 0;
}
