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
#include <vector>

#include "methods/pairs/pair_scan.h"
#include "methods/report/report.h"
#include "methods/report/summary.h"
#include "programs/cli/option_table.h"

int main(int argc, char** argv) {
  namespace qc = quellmar::companions;
  std::vector<std::string> inputs;
  bool json = false;
  qc::OptionTable t(
      "quellmar-info", "d*.[mom|spc] [--json]",
      "A quick look at a profiler file pair (data file d*.mom or d*.spc,\n"
      "header file h* beside it): site, header blocks, modes and beams, the\n"
      "records and their times, the damage found, and what quellmar will\n"
      "write from the pair.\n");
  t.inputs("data file", &inputs, 1);
  t.flag("--json", "one JSON document instead of text", &json, true, "",
         "text");
  switch (t.parse(argc, argv)) {
    case qc::OptionTable::Parsed::kDone:
      return qc::kExitWritten;
    case qc::OptionTable::Parsed::kWrong:
      return qc::kExitCommandLine;
    case qc::OptionTable::Parsed::kRun:
      break;
  }
  const std::string& path = inputs.front();

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
