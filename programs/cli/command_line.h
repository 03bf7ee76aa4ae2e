// What the command lines of the averaging programs (quellmar-wind,
// quellmar-rass) share: option values within bounds, and the outputs that
// must not replace an input.

#ifndef QUELLMAR_COMPANIONS_COMMAND_LINE_H
#define QUELLMAR_COMPANIONS_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "methods/qc/time_height_check.h"

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

// The options of the continuity check and of BUFR export that the
// averaging programs share: --qc continuity|none, --qc-max-step,
// --qc-min-pattern, --qc-periods, --qc-heights, --bufr, --wmo-block and
// --wmo-station.
struct CheckAndBufr {
  ContinuityRule rule;  // the program's defaults until given
  bool qc_off = false;
  std::string bufr;  // empty: no BUFR
  WmoStation station;

  // The check as the method holds it: none with --qc none.
  std::optional<ContinuityRule> quality() const {
    return qc_off ? std::nullopt : std::optional<ContinuityRule>(rule);
  }
};

// Takes arg with its value when it is one of these options: 1 when the
// value is good, 0 when it is not; -1 when arg is another option.
int parse_check_and_bufr(const std::string& arg, const char* value,
                         CheckAndBufr* options);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_COMMAND_LINE_H
