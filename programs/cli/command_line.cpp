#include "programs/cli/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace quellmar::companions {

namespace {

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string header_of(const std::string& data_path) {
  const size_t slash = data_path.rfind('/');
  const size_t at = slash == std::string::npos ? 0 : slash + 1;
  if (at >= data_path.size()) return data_path;
  std::string h = data_path;
  h[at] = 'h';
  return h;
}

}  // namespace

bool parse_number(const char* text, double low, double high, double* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(v) || v < low || v > high) {
    return false;
  }
  *value = v;
  return true;
}

bool parse_integer(const char* text, long low, long high, int32_t* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < low || v > high) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

std::string output_conflict(const std::vector<std::string>& inputs,
                            const std::string& output, const std::string& csv,
                            const std::string& bufr) {
  if (!csv.empty() && same_file(csv, output)) {
    return "-o and --csv name the same file";
  }
  if (!bufr.empty() &&
      (same_file(bufr, output) || (!csv.empty() && same_file(bufr, csv)))) {
    return "--bufr names the same file as -o or --csv";
  }
  for (const std::string& input : inputs) {
    for (const std::string& out : {output, csv, bufr}) {
      if (!out.empty() &&
          (same_file(out, input) || same_file(out, header_of(input)))) {
        return out + " would replace the input " + input +
               " or its header file";
      }
    }
  }
  return "";
}

std::string bufr_missing(const WmoStation& station, bool latitude,
                         bool longitude, bool altitude) {
  std::string missing;
  const std::pair<bool, const char*> needed[] = {
      {station.block.has_value(), "--wmo-block"},
      {station.station.has_value(), "--wmo-station"},
      {latitude, "--latitude"},
      {longitude, "--longitude"},
      {altitude, "--altitude"}};
  for (const auto& [given, name] : needed) {
    if (!given) missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

int parse_check_and_bufr(const std::string& arg, const char* value,
                         CheckAndBufr* o) {
  int32_t whole = 0;
  bool ok = true;
  if (arg == "--qc") {
    ok = std::strcmp(value, "continuity") == 0 ||
         std::strcmp(value, "none") == 0;
    o->qc_off = std::strcmp(value, "none") == 0;
  } else if (arg == "--qc-max-step") {
    ok = parse_number(value, 0.0, 1e6, &o->rule.max_step);
  } else if (arg == "--qc-min-pattern") {
    ok = parse_integer(value, 1, 1000000000, &o->rule.min_pattern);
  } else if (arg == "--qc-periods") {
    ok = parse_integer(value, 0, 1000000, &o->rule.periods);
  } else if (arg == "--qc-heights") {
    ok = parse_integer(value, 0, 1000000, &o->rule.heights);
  } else if (arg == "--bufr") {
    o->bufr = value;
    ok = !o->bufr.empty();
  } else if (arg == "--wmo-block") {
    ok = parse_integer(value, 0, 99, &whole);
    o->station.block = whole;
  } else if (arg == "--wmo-station") {
    ok = parse_integer(value, 0, 999, &whole);
    o->station.station = whole;
  } else {
    return -1;
  }
  return ok ? 1 : 0;
}

}  // namespace quellmar::companions
