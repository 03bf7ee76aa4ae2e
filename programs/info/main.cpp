// quellmar-info: a quick look at a profiler file pair, writing nothing.
//
//   quellmar-info PAIR [--json]
//
// PAIR is the data file (d*.mom or d*.spc); its header file is found as
// quellmar finds it. Exit status: 0 for a readable pair (damage is
// reported, not fatal), 1 when the pair cannot be opened, 2 for a wrong
// command line.

#include <cstdio>
#include <string>

#include "methods/pairs/pair_scan.h"
#include "methods/report/report.h"
#include "methods/report/summary.h"

namespace {

constexpr const char* kUsage = "Usage: quellmar-info d*.[mom|spc] [--json]\n";

constexpr const char* kHelp =
    "A quick look at a profiler file pair (data file d*.mom or d*.spc,\n"
    "header file h* beside it): site, header blocks, modes and beams, the\n"
    "records and their times, the damage found, and what quellmar will\n"
    "write from the pair.\n"
    "\n"
    "Options:\n"
    "  --json       one JSON document instead of text (default: text)\n"
    "  -h, --help   this help\n"
    "\n"
    "Exit status: 0 for a readable pair, damaged or not; 1 when the pair\n"
    "cannot be opened or holds no whole first record; 2 a wrong command\n"
    "line.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "quellmar-info: unknown option %s\n%s", arg.c_str(),
                   kUsage);
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (path.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::string report;
  {
    // The module's own messages must not mix with the report.
    pda_set_message_stream(nullptr);
    quellmar::companions::PairInput input;
    std::string error;
    if (!quellmar::companions::open_pair(path, &input, &error)) {
      std::fprintf(stderr, "quellmar-info: %s\n", error.c_str());
      return 1;
    }
    const quellmar::companions::ScanResult scan =
        quellmar::companions::scan_records(input);
    const quellmar::companions::InfoSummary summary =
        quellmar::companions::summarize(input, scan);
    report = json ? quellmar::companions::info_json(summary)
                  : quellmar::companions::info_text(summary);
  }
  std::fputs(report.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
