// quellmar-nc: converts a profiler file pair into one CF-Radial netCDF-4
// file.
//
//   quellmar-nc PAIR [-o OUT.nc] [--radar N] [--deflate 0..9]
//               [--latitude DEG] [--longitude DEG] [--altitude M]
//
// PAIR is the data file (d*.mom or d*.spc). Without -o the file is
// written in the current folder as the data file's name plus ".nc".
// Every record (of radar N with --radar) becomes one ray. The file is
// written under a temporary name and renamed when complete.
//
// Two passes over the data file: a walk over the RecordHeaders sizes the
// dimensions, then the records are decoded and written ray by ray through
// buffers of a fixed size, so memory does not grow with the file.
//
// Exit status: 0 when the file was written, 1 when the pair cannot be
// opened or converted or the file cannot be written, 2 for a wrong
// command line. Damage found in the pair is reported on standard error;
// the access module's own messages are taken into those reports.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "methods/netcdf/convert.h"
#include "methods/netcdf/file.h"
#include "methods/netcdf/plan.h"
#include "methods/netcdf/scan.h"
#include "methods/output/output_commit.h"
#include "methods/pairs/pair_scan.h"

namespace {

constexpr const char* kUsage =
    "Usage: quellmar-nc d*.[mom|spc] [-o OUT.nc] [--radar N] [--deflate 0..9]\n"
    "                   [--latitude DEG] [--longitude DEG] [--altitude M]\n";

constexpr const char* kHelp =
    "Converts a profiler file pair (data file d*.mom or d*.spc, header file\n"
    "h* beside it) into one CF-Radial 1.4 netCDF-4 file: one ray per record,\n"
    "the moments per gate, and for spectra files the spectra.\n"
    "\n"
    "Options:\n"
    "  -o OUT.nc         the output file (default: the data file's name plus\n"
    "                    .nc, in the current folder)\n"
    "  --radar N         only the records of radar N (default: all radars)\n"
    "  --deflate 0..9    deflate level of the fields and spectra; 0 stores\n"
    "                    them uncompressed (default: 1)\n"
    "  --latitude DEG    degrees north, -90 to 90 (default: fill value)\n"
    "  --longitude DEG   degrees east, -180 to 360 (default: fill value)\n"
    "  --altitude M      metres above sea level (default: fill value)\n"
    "  -h, --help        this help\n"
    "\n"
    "Exit status: 0 written; 1 the pair cannot be opened or converted, or\n"
    "the output cannot be written; 2 a wrong command line.\n";

struct Options {
  std::string pair;
  std::string output;
  int32_t radar = -1;
  quellmar::companions::NcFileOptions file;
};

// A finite number within [low, high].
bool parse_number(const std::string& text, double low, double high,
                  std::optional<double>* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
  *value = v;
  return true;
}

// The options that take a number: name, accepted range, message.
struct NumberOption {
  const char* name;
  double low, high;
  const char* wanted;
  std::optional<double> quellmar::companions::NcFileOptions::*value;
};
const NumberOption kNumberOptions[] = {
    {"--latitude", -90, 90, "a latitude in degrees, -90 to 90",
     &quellmar::companions::NcFileOptions::latitude},
    {"--longitude", -180, 360, "a longitude in degrees, -180 to 360",
     &quellmar::companions::NcFileOptions::longitude},
    {"--altitude", -1e5, 1e5, "an altitude in metres",
     &quellmar::companions::NcFileOptions::altitude},
};

bool parse_int(const std::string& text, int32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < -1 || v > 32767) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// 0 when the options are usable; -1 after printing the help; else the
// exit status of a wrong command line, its message printed.
int parse_options(int argc, char** argv, Options* options) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return -1;
    }
    const NumberOption* number = nullptr;
    for (const NumberOption& n : kNumberOptions) {
      if (arg == n.name) number = &n;
    }
    const bool takes_value = arg == "-o" || arg == "--radar" ||
                             arg == "--deflate" || number != nullptr;
    if (takes_value && i + 1 >= argc) {
      std::fprintf(stderr, "quellmar-nc: %s needs a value\n%s", arg.c_str(),
                   kUsage);
      return 2;
    }
    if (arg == "-o") {
      o.output = argv[++i];
    } else if (arg == "--radar") {
      if (!parse_int(argv[++i], &o.radar)) {
        std::fprintf(stderr, "quellmar-nc: --radar needs a radar number\n%s",
                     kUsage);
        return 2;
      }
    } else if (arg == "--deflate") {
      const std::string level = argv[++i];
      if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
        std::fprintf(stderr, "quellmar-nc: --deflate needs a level 0 to 9\n%s",
                     kUsage);
        return 2;
      }
      o.file.deflate_level = level[0] - '0';
    } else if (number != nullptr) {
      if (!parse_number(argv[++i], number->low, number->high,
                        &(o.file.*number->value))) {
        std::fprintf(stderr, "quellmar-nc: %s needs %s\n%s", number->name,
                     number->wanted, kUsage);
        return 2;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "quellmar-nc: unknown option %s\n%s", arg.c_str(),
                   kUsage);
      return 2;
    } else if (o.pair.empty()) {
      o.pair = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (o.pair.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.output.empty()) {
    // In the current folder, whatever folder the pair is in.
    const size_t slash = o.pair.rfind('/');
    const std::string name =
        slash == std::string::npos ? o.pair : o.pair.substr(slash + 1);
    o.output = name + ".nc";
  }
  *options = o;
  return 0;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-nc: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int status = parse_options(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;

  // The module's messages stay off standard output; what went wrong reaches
  // the damage report from the module's own state.
  pda_set_message_stream(nullptr);
  quellmar::companions::PairInput input;
  std::string error;
  if (!quellmar::companions::open_pair(options.pair, &input, &error))
    return fail(error);
  quellmar::companions::NcPlanner planner(options.radar);
  const quellmar::companions::NcScan scan =
      quellmar::companions::scan_for_conversion(
          input, quellmar::companions::kDamageShown, &planner);
  quellmar::companions::report_damage("quellmar-nc", options.pair, scan);
  quellmar::companions::NcPlan plan;
  if (!planner.finish(&plan, &error)) {
    return fail(options.pair + ": " + error);
  }

  quellmar::companions::PendingOutput output(options.output);
  if (!output.ok()) return fail(output.error());
  try {
    quellmar::companions::NcFile file(output.temp_path());
    file.define(plan, input, options.file);
    if (!quellmar::companions::convert_records(input, plan, planner, file,
                                               &error)) {
      return fail(options.pair + ": " + error);
    }
    file.close();
  } catch (const quellmar::companions::NcError& e) {
    return fail(options.output + ": " + e.what());
  }
  if (!output.commit()) return fail(output.error());
  return 0;
}
