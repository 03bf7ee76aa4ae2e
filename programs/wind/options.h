// The command line of quellmar-wind.

#ifndef QUELLMAR_COMPANIONS_WIND_OPTIONS_H
#define QUELLMAR_COMPANIONS_WIND_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "methods/moments/method.h"
#include "methods/wind/report.h"
#include "programs/cli/command_line.h"

namespace quellmar::companions {

struct WindOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::string csv;   // empty: no CSV
  std::string bufr;  // empty: no BUFR
  WmoStation station;
  WindReport report;  // method, radar and position (inputs filled in too)
  // --from-spectra: moments recomputed from the spectra with this method.
  bool from_spectra = false;
  MomentsMethod moments;
};

// 0 when the options are usable; -1 after printing --help or --version on
// standard output; 2 for a wrong command line, reported on standard error.
int parse_wind_options(int argc, char** argv, WindOptions* options);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_OPTIONS_H
