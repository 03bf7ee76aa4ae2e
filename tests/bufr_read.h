// Reading back BUFR files in the tests, with ecCodes' bufr_dump (Debian
// libeccodes-tools): every message as its key=value lines.

#ifndef QUELLMAR_TESTS_BUFR_READ_H
#define QUELLMAR_TESTS_BUFR_READ_H

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace quellmar::test {

using BufrMessage = std::map<std::string, std::string>;

// The messages of the file at path as bufr_dump -p prints them (keys as
// printed, e.g. "#3#u"); empty when bufr_dump fails.
inline std::vector<BufrMessage> read_bufr(const std::string& bufr_dump,
                                          const std::string& path) {
  const RunResult run = run_program(bufr_dump, ".", {"-p", path});
  std::vector<BufrMessage> out;
  if (run.status != 0) return out;
  size_t at = 0;
  while (at < run.out.size()) {
    size_t end = run.out.find('\n', at);
    if (end == std::string::npos) end = run.out.size();
    const std::string line = run.out.substr(at, end - at);
    at = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    if (key == "edition") out.emplace_back();
    if (!out.empty()) out.back()[key] = line.substr(eq + 1);
  }
  return out;
}

// Occurrence k (from 1) of a key as a number; NaN when missing or absent.
inline double bufr_number(const BufrMessage& m, const std::string& key,
                          int k = 0) {
  auto it = m.find(k > 0 ? "#" + std::to_string(k) + "#" + key : key);
  if (it == m.end() && k == 1) it = m.find(key);
  if (it == m.end() || it->second == "MISSING") return NAN;
  return std::stod(it->second);
}

// Occurrence k of 0 33 002: 3 (no quality information) has all its 2 bits
// set, which is also how BUFR writes "missing".
inline double bufr_quality_at(const BufrMessage& m, int k) {
  const double q = bufr_number(m, "qualityInformation", k);
  return std::isnan(q) ? 3.0 : q;
}

}  // namespace quellmar::test

#endif  // QUELLMAR_TESTS_BUFR_READ_H
