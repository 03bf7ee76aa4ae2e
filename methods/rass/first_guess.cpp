#include "methods/rass/first_guess.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quellmar::companions {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// YYYY-MM-DDTHH:MM[:SS][Z] as seconds since 1970 UTC.
bool parse_time(const std::string& s, int64_t* t) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, used = 0;
  char sep = 0;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h,
                  &mi, &used) != 6 ||
      (sep != 'T' && sep != ' ')) {
    return false;
  }
  std::string rest = s.substr(static_cast<size_t>(used));
  if (!rest.empty() && rest[0] == ':') {
    int more = 0;
    if (std::sscanf(rest.c_str(), ":%2d%n", &sec, &more) != 1) return false;
    rest = rest.substr(static_cast<size_t>(more));
  }
  if (rest == "Z") rest.clear();
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (!rest.empty() || y < 1970 || y > 2200 || mo < 1 || mo > 12 || d < 1 ||
      d > kDays[mo - 1] + (mo == 2 && leap(y)) || h > 23 || mi > 59 ||
      sec > 59 || h < 0 || mi < 0 || sec < 0) {
    return false;
  }
  *t = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec;
  return true;
}

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

}  // namespace

bool parse_first_guess(const std::string& text, FirstGuessSeries* series,
                       std::string* error) {
  FirstGuessSeries out;
  size_t at = 0;
  int line_number = 0;
  bool first_line = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = trimmed(text.substr(at, end - at));
    at = end + 1;
    ++line_number;
    if (line.empty() || line[0] == '#') continue;
    // A header's first field is no date.
    const bool header =
        first_line && !std::isdigit(static_cast<unsigned char>(line[0]));
    first_line = false;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    const size_t comma = line.find(',');
    int64_t t = 0;
    if (comma == std::string::npos ||
        !parse_time(trimmed(line.substr(0, comma)), &t)) {
      if (header) continue;
      *error = where + "not TIME,TEMPERATURE_C with a UTC time " +
               "YYYY-MM-DDTHH:MM[:SS]";
      return false;
    }
    const std::string value = trimmed(line.substr(comma + 1));
    char* stop = nullptr;
    const double c = std::strtod(value.c_str(), &stop);
    if (value.empty() || *stop != '\0' || !std::isfinite(c) || c < -100.0 ||
        c > 60.0) {
      *error = where + "the temperature '" + value +
               "' is not a number of degrees Celsius within -100 to 60";
      return false;
    }
    if (!out.times.empty() && t <= out.times.back()) {
      *error = where + "the times must ascend";
      return false;
    }
    out.times.push_back(t);
    out.temperature_c.push_back(c);
  }
  if (out.empty()) {
    *error = "no row TIME,TEMPERATURE_C";
    return false;
  }
  *series = std::move(out);
  return true;
}

double surface_temperature_c(const FirstGuessSeries& s, int64_t t) {
  if (s.empty()) return std::nan("");
  if (t <= s.times.front()) return s.temperature_c.front();
  if (t >= s.times.back()) return s.temperature_c.back();
  const size_t k = static_cast<size_t>(
      std::upper_bound(s.times.begin(), s.times.end(), t) - s.times.begin());
  const double f = static_cast<double>(t - s.times[k - 1]) /
                   static_cast<double>(s.times[k] - s.times[k - 1]);
  return s.temperature_c[k - 1] +
         f * (s.temperature_c[k] - s.temperature_c[k - 1]);
}

}  // namespace quellmar::companions
