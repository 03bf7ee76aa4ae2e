// The surface temperature through the day that a first guess of the RASS
// unfolding can follow: a table of times and temperatures (a CSV file),
// read between its rows.

#ifndef QUELLMAR_COMPANIONS_RASS_FIRST_GUESS_H
#define QUELLMAR_COMPANIONS_RASS_FIRST_GUESS_H

#include <cstdint>
#include <string>
#include <vector>

namespace quellmar::companions {

struct FirstGuessSeries {
  std::vector<int64_t> times;         // s since 1970 UTC, ascending
  std::vector<double> temperature_c;  // at the radar, degrees Celsius

  bool empty() const { return times.empty(); }
};

// Reads the text of a first-guess table: one row per line,
// "TIME,TEMPERATURE_C" with TIME in UTC as YYYY-MM-DDTHH:MM[:SS][Z] (a space
// for the T also does), the temperature in degrees Celsius within -100 to
// 60; a first line that is not a row (a header), empty lines and lines
// starting with # are skipped. Rows must be in strictly ascending time.
// False, with a message naming the line, otherwise or when no row is
// there.
bool parse_first_guess(const std::string& text, FirstGuessSeries* series,
                       std::string* error);

// The surface temperature at time t: linear between the two rows around
// it, the first (last) row's before (after) the table.
double surface_temperature_c(const FirstGuessSeries& series, int64_t t);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_FIRST_GUESS_H
