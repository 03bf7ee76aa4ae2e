// The command line of quellmar-rass.

#ifndef QUELLMAR_COMPANIONS_RASS_OPTIONS_H
#define QUELLMAR_COMPANIONS_RASS_OPTIONS_H

#include <string>
#include <vector>

#include "methods/netcdf/nc_group.h"
#include "methods/rass/unfold.h"
#include "programs/cli/command_line.h"

namespace quellmar::companions {

extern const char* const kRassUsage;  // the synopsis
extern const char* const kRassHelp;   // every option, default and meaning

// What a quellmar-rass output says besides the profiles.
struct RassReport {
  std::string site_name;                 // bytes as stored in the HeaderBlock
  std::vector<std::string> input_files;  // as named on the command line
  RassMethod method;
  int32_t radar = 0;
  SitePosition position;
};

struct RassOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::string csv;   // empty: no CSV
  std::string bufr;  // empty: no BUFR
  WmoStation station;
  RassReport report;
};

// 0 when the options are usable; -1 after printing the help on standard
// output; 2 for a wrong command line, its message and the synopsis printed
// on standard error.
int parse_rass_options(int argc, char** argv, RassOptions* options);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_OPTIONS_H
