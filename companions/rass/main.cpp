// quellmar-rass: virtual temperature profiles from the RASS dwells of
// profiler file pairs.
//
//   quellmar-rass DATAFILE... -o OUT.nc [--csv OUT.csv] [options]
//
// The dwells of every pair are pooled by time. Exit status: 0 when the
// files were written, 1 for an input that cannot be read (or holds no RASS
// dwell) or an output that cannot be written, 2 for a wrong command line.
// Each output is written under a temporary name and renamed when complete.
// docs/rass.md describes the method and the files.

#include <cstdint>
#include <cstdio>
#include <string>

#include "companions/common/text_output.h"
#include "companions/rass/csv.h"
#include "companions/rass/input.h"
#include "companions/rass/netcdf.h"
#include "companions/rass/options.h"
#include "disk/pda.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-rass: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  namespace qc = quellmar::companions;
  qc::RassOptions options;
  const int status = qc::parse_rass_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;

  std::string error;
  if (!qc::folder_writable(options.output, &error)) return fail(error);
  if (!options.csv.empty() && !qc::folder_writable(options.csv, &error)) {
    return fail(error);
  }

  // The module's messages stay off standard output; the damage reports come
  // from what the module keeps of each problem.
  pda_set_message_stream(nullptr);
  const qc::RassMethod& method = options.report.method;
  qc::RassInput input;
  if (!qc::read_rass_input(options.inputs, options.report.radar, method, &input,
                           &error)) {
    return fail(error);
  }
  const int64_t cells = qc::rass_profile_cells(input, method);
  if (cells > qc::kMaxProfileCells) {
    return fail("the profiles would take " + std::to_string(cells) +
                " cells (periods x gates), more than the " +
                std::to_string(qc::kMaxProfileCells) +
                " one run makes; give a longer --period or fewer files");
  }
  options.report.site_name = input.site_name;
  const std::vector<qc::RassProfiles> modes =
      qc::compute_rass_profiles(input, method, &input.findings);
  bool any = false;
  for (const qc::RassProfiles& m : modes) {
    for (float tv : m.tv) any = any || tv == tv;
  }
  if (!any) {
    input.findings.push_back(
        "no virtual temperature came out of the " +
        std::to_string(input.dwells) + " RASS dwell(s) of acoustic set " +
        std::to_string(method.acoustic_set) +
        "; is the sound pulse in the other set (--acoustic-set)?");
  }
  for (const std::string& finding : input.findings) {
    std::fprintf(stderr, "quellmar-rass: %s\n", finding.c_str());
  }

  if (!qc::write_committed(
          options.output,
          [&](const std::string& temp, std::string* message) {
            try {
              qc::write_rass_netcdf(temp, options.report, modes);
            } catch (const qc::OutputFileError& e) {
              *message = options.output + ": " + e.what();
              return false;
            }
            return true;
          },
          &error)) {
    return fail(error);
  }
  if (!options.csv.empty() &&
      !qc::write_committed(
          options.csv,
          [&](const std::string& temp, std::string* message) {
            return qc::write_text(temp, qc::rass_csv(modes), message);
          },
          &error)) {
    return fail(error);
  }
  return 0;
}
