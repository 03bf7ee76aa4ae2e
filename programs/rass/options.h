// The command line of quellmar-rass.

#ifndef QUELLMAR_COMPANIONS_RASS_OPTIONS_H
#define QUELLMAR_COMPANIONS_RASS_OPTIONS_H

#include <string>
#include <vector>

#include "methods/netcdf/rass_file.h"
#include "methods/rass/method.h"
#include "programs/cli/command_line.h"

namespace quellmar::companions {

struct RassOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::string csv;   // empty: no CSV
  std::string bufr;  // empty: no BUFR
  WmoStation station;
  RassReport report;
};

// 0 when the options are usable; -1 after printing --help or --version on
// standard output; 2 for a wrong command line, reported on standard error.
int parse_rass_options(int argc, char** argv, RassOptions* options);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_OPTIONS_H
