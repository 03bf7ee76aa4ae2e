// quellmar-nc: converts a profiler file pair into one CF-Radial netCDF-4
// file.
//
//   quellmar-nc PAIR [-o OUT.nc] [--radar N] [--deflate 0..9]
//               [--significant-digits 1..7]
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
#include "programs/cli/command_line.h"
#include "programs/cli/option_table.h"
#include "programs/cli/progress.h"

namespace {

struct Options {
  std::string pair;  // the data file
  std::string output;
  int32_t radar = -1;
  quellmar::companions::NcFileOptions file;
};

// 0 when the options are usable; -1 after --help or --version; else the
// exit status of a wrong command line, reported.
int parse_options(int argc, char** argv, Options* options) {
  namespace qc = quellmar::companions;
  Options o;
  qc::OptionTable t(
      "quellmar-nc", "d*.[mom|spc] [-o OUT.nc] [OPTION]...",
      "Converts a profiler file pair (data file d*.mom or d*.spc, header file\n"
      "h* beside it) into one CF-Radial 1.4 netCDF-4 file: one ray per "
      "record,\n"
      "the moments per gate, and for spectra files the spectra.\n");
  std::vector<std::string> inputs;
  t.inputs("data file", &inputs, 1);
  t.file("-o", "OUT.nc", "the output file", &o.output,
         "the data file's name plus .nc, in the current folder");
  t.integer("--radar", "N", "only the records of radar N; -1 takes all radars",
            &o.radar, -1, 32767);
  t.integer("--deflate", "LEVEL",
            "deflate level of the fields and spectra; 0 stores them "
            "uncompressed",
            &o.file.deflate_level, 0, 9);
  qc::add_significant_digits(t, &o.file.significant_digits);
  qc::add_position(t, &o.file.latitude, &o.file.longitude, &o.file.altitude);
  switch (t.parse(argc, argv)) {
    case qc::OptionTable::Parsed::kDone:
      return -1;
    case qc::OptionTable::Parsed::kWrong:
      return qc::kExitCommandLine;
    case qc::OptionTable::Parsed::kRun:
      break;
  }
  o.pair = inputs.front();
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
    quellmar::companions::ProgressLine progress("quellmar-nc");
    if (!quellmar::companions::convert_records(input, plan, planner, file,
                                               &progress, &error)) {
      return fail(options.pair + ": " + error);
    }
    file.close();
  } catch (const quellmar::companions::NcError& e) {
    return fail(options.output + ": " + e.what());
  }
  if (!output.commit()) return fail(output.error());
  return 0;
}
