// Fields of the CSV tables of the averaging programs: each appended after a
// comma, a missing value as an empty field.

#ifndef QUELLMAR_COMPANIONS_CSV_FIELDS_H
#define QUELLMAR_COMPANIONS_CSV_FIELDS_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quellmar::companions {

// ",<value in the printf format>", or "," for NaN.
inline void csv_number(std::string* out, const char* format, double value) {
  out->push_back(',');
  if (std::isnan(value)) return;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  out->append(buffer);
}

inline void csv_count(std::string* out, int32_t value) {
  out->push_back(',');
  out->append(std::to_string(value));
}

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_CSV_FIELDS_H
