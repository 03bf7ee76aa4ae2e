// What the command lines of the averaging programs (quellmar-wind,
// quellmar-rass) share: option values within bounds, and the outputs that
// must not replace an input.

#ifndef QUELLMAR_COMPANIONS_COMMAND_LINE_H
#define QUELLMAR_COMPANIONS_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellmar::companions {

// The whole text as a finite number within [low, high]; false otherwise
// (value untouched).
bool parse_number(const char* text, double low, double high, double* value);
// The whole text as a decimal integer within [low, high].
bool parse_integer(const char* text, long low, long high, int32_t* value);

// Why the outputs cannot be written as named ("" when they can): -o,
// --csv and --bufr naming one file, or an output naming an input or its
// header file. csv and bufr may be empty (none).
std::string output_conflict(const std::vector<std::string>& inputs,
                            const std::string& output, const std::string& csv,
                            const std::string& bufr = "");

// The station a BUFR message names (--wmo-block, --wmo-station).
struct WmoStation {
  std::optional<int32_t> block;    // 0 to 99
  std::optional<int32_t> station;  // 0 to 999
};

// What --bufr needs and was not given, as "--wmo-block, --latitude" ("" when
// nothing is missing): the station and the site's position.
std::string bufr_missing(const WmoStation& station, bool latitude,
                         bool longitude, bool altitude);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_COMMAND_LINE_H
