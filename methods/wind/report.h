// What a quellmar-wind output says besides the profiles: the site, the
// inputs and the method's parameters.

#ifndef QUELLMAR_COMPANIONS_WIND_REPORT_H
#define QUELLMAR_COMPANIONS_WIND_REPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "methods/output/text_output.h"
#include "methods/wind/profiles.h"

namespace quellmar::companions {

struct WindReport {
  std::string site_name;                 // bytes as stored in the HeaderBlock
  std::vector<std::string> input_files;  // as named on the command line
  WindMethod method;
  int32_t radar = 0;
  std::optional<double> latitude;   // degrees north
  std::optional<double> longitude;  // degrees east
  std::optional<double> altitude;   // m
};

// A file that cannot be written.
using WindFileError = OutputFileError;

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_REPORT_H
