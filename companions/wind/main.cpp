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

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "companions/common/output_commit.h"
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

// The folder an output goes to must exist and take new files; checked
// before the inputs are read.
bool folder_writable(const std::string& path, std::string* error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos
                                 ? "."
                                 : (slash == 0 ? "/" : path.substr(0, slash));
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool write_text(const std::string& path, const std::string& text,
                std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written =
      std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int saved = errno;
  if (std::fclose(f) != 0 || !written) {
    *error =
        "cannot write " + path + ": " + std::strerror(written ? errno : saved);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quellmar::companions::WindOptions options;
  const int status =
      quellmar::companions::parse_wind_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;

  std::string error;
  if (!folder_writable(options.output, &error)) return fail(error);
  if (!options.csv.empty() && !folder_writable(options.csv, &error)) {
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
  {
    quellmar::companions::PendingOutput output(options.output);
    if (!output.ok()) return fail(output.error());
    try {
      quellmar::companions::write_wind_netcdf(output.temp_path(),
                                              options.report, modes);
    } catch (const quellmar::companions::WindFileError& e) {
      return fail(options.output + ": " + e.what());
    }
    if (!output.commit()) return fail(output.error());
  }
  if (!options.csv.empty()) {
    quellmar::companions::PendingOutput csv(options.csv);
    if (!csv.ok()) return fail(csv.error());
    if (!write_text(csv.temp_path(), quellmar::companions::wind_csv(modes),
                    &error)) {
      return fail(error);
    }
    if (!csv.commit()) return fail(csv.error());
  }
  return 0;
}
