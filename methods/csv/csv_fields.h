// Fields of the CSV tables of the averaging programs: each appended after a
// comma, a missing value as an empty field.

#ifndef QUELLMAR_COMPANIONS_CSV_FIELDS_H
#define QUELLMAR_COMPANIONS_CSV_FIELDS_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace quellmar::companions {

// ",<value in the printf format>", or "," for NaN.
inline void csv_number(std::string* out, const char* format, double value) {
  out->push_back(',');
  if (std::isnan(value)) return;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  out->append(buffer);
}

// Every period of every mode in table order: (period start, mode index,
// period index), by start and then mode. Profiles has `periods`, each with
// a `start`.
template <class Profiles>
std::vector<std::tuple<int64_t, size_t, size_t>> table_order(
    const std::vector<Profiles>& modes) {
  std::vector<std::tuple<int64_t, size_t, size_t>> rows;
  for (size_t mi = 0; mi < modes.size(); ++mi) {
    for (size_t p = 0; p < modes[mi].periods.size(); ++p) {
      rows.emplace_back(modes[mi].periods[p].start, mi, p);
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

inline void csv_count(std::string* out, int32_t value) {
  out->push_back(',');
  out->append(std::to_string(value));
}

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_CSV_FIELDS_H
