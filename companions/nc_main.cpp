// quellmar-nc: converts a profiler file pair into one CF-Radial netCDF-4
// file.
//
//   quellmar-nc PAIR [-o OUT.nc] [--radar N]
//
// PAIR is the data file (d*.mom or d*.spc). Without -o the file is
// written in the current folder as the data file's name plus ".nc".
// Every record (of radar N with --radar) becomes one ray. The file is
// written under a temporary name and renamed when complete.
//
// Exit status: 0 when the file was written, 1 when the pair cannot be
// opened or converted or the file cannot be written, 2 for a wrong
// command line. Damage found in the pair is reported on standard error;
// the access module's own messages are taken into those reports.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "companions/nc_convert.h"
#include "companions/nc_file.h"
#include "companions/nc_plan.h"
#include "companions/output_commit.h"
#include "companions/pair_scan.h"
#include "companions/stdout_capture.h"

namespace {

constexpr const char* kUsage =
    "Usage: quellmar-nc d*.[mom|spc] [-o OUT.nc] [--radar N]\n";

struct Options {
  std::string pair;
  std::string output;
  int32_t radar = -1;
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
      return -1;
    }
    if ((arg == "-o" || arg == "--radar") && i + 1 >= argc) {
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

// The damage findings on standard error, the first twenty of them in
// full (quellmar-info lists them all).
void report_damage(const std::string& pair,
                   const std::vector<qcomp::Damage>& damage) {
  constexpr size_t kShown = 20;
  for (size_t i = 0; i < damage.size() && i < kShown; ++i) {
    const qcomp::Damage& d = damage[i];
    std::fprintf(stderr, "quellmar-nc: %s: data offset %lld: %s: %s\n",
                 pair.c_str(), static_cast<long long>(d.offset), d.kind.c_str(),
                 d.detail.c_str());
  }
  if (damage.size() > kShown) {
    std::fprintf(stderr,
                 "quellmar-nc: %s: %zu more finding(s); quellmar-info lists "
                 "them all\n",
                 pair.c_str(), damage.size() - kShown);
  }
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

  // The module's messages go into the damage report, not onto stdout.
  qcomp::StdoutCapture capture;
  qcomp::PairInput input;
  std::string error;
  if (!qcomp::open_pair(options.pair, &input, &error)) return fail(error);
  const qcomp::ScanResult scan = qcomp::scan_records(input, capture);
  report_damage(options.pair, scan.damage);
  qcomp::NcPlan plan;
  if (!qcomp::make_plan(scan, options.radar, &plan, &error)) {
    return fail(options.pair + ": " + error);
  }

  qcomp::PendingOutput output(options.output);
  if (!output.ok()) return fail(output.error());
  try {
    qcomp::NcFile file(output.temp_path());
    file.define(plan, input);
    if (!qcomp::convert_records(plan, file, input.data_bytes, &error)) {
      return fail(options.pair + ": " + error);
    }
    file.close();
  } catch (const qcomp::NcError& e) {
    return fail(options.output + ": " + e.what());
  }
  if (!output.commit()) return fail(output.error());
  return 0;
}
