// quellmar-wind: wind profiles from the radial velocities of profiler file
// pairs, by consensus averaging and beam swinging.
//
//   quellmar-wind DATAFILE... -o OUT.nc [--csv OUT.csv] [options]
//
// The records of every pair are pooled by time. Exit status: 0 when the
// files were written, 1 for an input that cannot be read or an output that
// cannot be written, 2 for a wrong command line. Each output is written
// under a temporary name and renamed when complete. docs/winds.md describes
// the method and the files.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "companions/common/text_output.h"
#include "companions/wind/csv.h"
#include "companions/wind/input.h"
#include "companions/wind/netcdf.h"
#include "companions/wind/options.h"
#include "companions/wind/spectra_source.h"
#include "disk/pda.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-wind: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  quellmar::companions::WindOptions options;
  const int status =
      quellmar::companions::parse_wind_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;

  std::string error;
  if (!quellmar::companions::folder_writable(options.output, &error))
    return fail(error);
  if (!options.csv.empty() &&
      !quellmar::companions::folder_writable(options.csv, &error)) {
    return fail(error);
  }

  // The module's messages stay off standard output; the damage reports come
  // from what the module keeps of each problem.
  pda_set_message_stream(nullptr);
  quellmar::companions::WindInput input;
  // --from-spectra: the moments recomputed from the spectra.
  std::optional<quellmar::companions::SpectraMoments> spectra;
  if (options.from_spectra) {
    spectra.emplace(options.moments, options.report.radar);
  }
  if (!quellmar::companions::read_wind_input(
          options.inputs, options.report.radar, &input, &error,
          spectra ? &*spectra : nullptr)) {
    return fail(error);
  }
  if (spectra) {
    for (const std::string& note : spectra->axis_notes()) {
      std::fprintf(stderr, "quellmar-wind: %s\n", note.c_str());
    }
  }
  for (const std::string& finding : input.findings) {
    std::fprintf(stderr, "quellmar-wind: %s\n", finding.c_str());
  }
  const int64_t cells =
      quellmar::companions::profile_cells(input.series, options.report.method);
  if (cells > quellmar::companions::kMaxProfileCells) {
    return fail("the profiles would take " + std::to_string(cells) +
                " cells (periods x beams x gates), more than the " +
                std::to_string(quellmar::companions::kMaxProfileCells) +
                " one run makes; give a longer --period or fewer files");
  }
  options.report.site_name = input.site_name;
  const std::vector<quellmar::companions::ModeProfiles> modes =
      quellmar::companions::compute_profiles(input.series,
                                             options.report.method);

  // One output at a time under its temporary name.
  if (!quellmar::companions::write_committed(
          options.output,
          [&](const std::string& temp, std::string* message) {
            try {
              quellmar::companions::write_wind_netcdf(temp, options.report,
                                                      modes);
            } catch (const quellmar::companions::WindFileError& e) {
              *message = options.output + ": " + e.what();
              return false;
            }
            return true;
          },
          &error)) {
    return fail(error);
  }
  if (!options.csv.empty() &&
      !quellmar::companions::write_committed(
          options.csv,
          [&](const std::string& temp, std::string* message) {
            return quellmar::companions::write_text(
                temp, quellmar::companions::wind_csv(modes), message);
          },
          &error)) {
    return fail(error);
  }
  return 0;
}
