#include "companions/moments/method_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quellmar::companions {

const char* const kMethodOptionsHelp =
    "  --peak continuity|strongest  peak chosen per gate (default "
    "continuity:\n"
    "                        the peak nearest the median velocity of the "
    "strongest\n"
    "                        peaks of the same beam and gate in the 5 records "
    "before\n"
    "                        and the 5 after; strongest: the largest power)\n"
    "  --clutter-points K    points either side of 0 m/s replaced when a "
    "clutter\n"
    "                        spike is found (default 1, 0 to 16)\n"
    "  --no-clutter          leave the clutter spike at 0 m/s in (default: "
    "remove it)\n"
    "  --no-interference     leave interference lines in (default: remove "
    "them)\n"
    "  --min-points M        fewest points above the noise threshold in a "
    "peak\n"
    "                        region (default 3, 1 to 64)\n"
    "  --tail-widths W       half-width, in widths of the peak, of the window "
    "about\n"
    "                        its centroid over which its moments are taken "
    "(default 3,\n"
    "                        0 to 10; 0: the points above the noise threshold "
    "only)\n"
    "  --axis auto|centred|centred-reversed  velocity axis of the spectra "
    "(default\n"
    "                        auto: the one whose velocities agree best with "
    "the\n"
    "                        stored ones in the first 200 records)\n";

namespace {

bool parse_count(const char* text, long low, long high, int32_t* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < low || v > high) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

const char* axis_name(AxisChoice axis) {
  switch (axis) {
    case AxisChoice::kCentred:
      return "centred";
    case AxisChoice::kCentredReversed:
      return "centred-reversed";
    case AxisChoice::kAuto:
      break;
  }
  return "auto";
}

MethodOption parse_method_option(int argc, char** argv, int* next,
                                 MomentsMethod* method, std::string* error) {
  const std::string arg = argv[*next];
  if (arg == "--no-clutter") {
    method->clutter = false;
    return MethodOption::kTaken;
  }
  if (arg == "--no-interference") {
    method->interference = false;
    return MethodOption::kTaken;
  }
  if (arg != "--peak" && arg != "--clutter-points" && arg != "--min-points" &&
      arg != "--axis" && arg != "--tail-widths") {
    return MethodOption::kNotOne;
  }
  if (*next + 1 >= argc) {
    *error = arg + " needs a value";
    return MethodOption::kWrong;
  }
  const char* value = argv[++*next];
  bool ok = true;
  if (arg == "--peak") {
    ok = std::strcmp(value, "continuity") == 0 ||
         std::strcmp(value, "strongest") == 0;
    method->peak = std::strcmp(value, "strongest") == 0
                       ? PeakChoice::kStrongest
                       : PeakChoice::kContinuity;
  } else if (arg == "--clutter-points") {
    ok = parse_count(value, 0, 16, &method->clutter_points);
  } else if (arg == "--min-points") {
    ok = parse_count(value, 1, 64, &method->min_points);
  } else if (arg == "--tail-widths") {
    char* end = nullptr;
    const double w = std::strtod(value, &end);
    ok = *value != '\0' && *end == '\0' && w >= 0.0 && w <= 10.0;
    if (ok) method->tail_widths = w;
  } else {
    ok = false;
    for (AxisChoice a : {AxisChoice::kAuto, AxisChoice::kCentred,
                         AxisChoice::kCentredReversed}) {
      if (std::strcmp(value, axis_name(a)) == 0) {
        method->axis = a;
        ok = true;
      }
    }
  }
  if (!ok) {
    *error = "bad value for " + arg + ": " + value;
    return MethodOption::kWrong;
  }
  return MethodOption::kTaken;
}

}  // namespace quellmar::companions
