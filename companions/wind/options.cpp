#include "companions/wind/options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quellmar::companions {

const char* const kWindUsage =
    "Usage: quellmar-wind DATAFILE... -o OUT.nc [--csv OUT.csv] [--period "
    "MIN]\n"
    "                     [--window M_S] [--min-fraction F] [--min-snr DB]\n"
    "                     [--azimuth-offset DEG] [--velocity-sign "
    "away|toward]\n"
    "                     [--radar N] [--latitude DEG] [--longitude DEG]\n"
    "                     [--altitude M]\n";

const char* const kWindHelp =
    "Wind profiles from profiler data files (d*.mom, d*.spc): consensus\n"
    "averaging per beam, gate and period, then beam swinging.\n"
    "\n"
    "Options:\n"
    "  -o OUT.nc              the netCDF-4 file to write (required)\n"
    "  --csv OUT.csv          also write the profiles as a CSV table "
    "(default: none)\n"
    "  --period MIN           averaging period in whole minutes from 00:00 "
    "UTC,\n"
    "                         1 to 1440 (default: 60)\n"
    "  --window M_S           consensus window in m/s (default: 2.0)\n"
    "  --min-fraction F       share of the records holding a gate that a\n"
    "                         consensus needs, 0 to 1 (default: 0.4)\n"
    "  --min-snr DB           drop values of lower SNR (default: none)\n"
    "  --azimuth-offset DEG   added to every beam's azimuth (default: 0)\n"
    "  --velocity-sign away|toward\n"
    "                         the sign of the stored velocities (default: "
    "away)\n"
    "  --radar N              the radar whose records count (default: 0)\n"
    "  --latitude DEG         the site's latitude, stored as given "
    "(default: none)\n"
    "  --longitude DEG        the site's longitude, stored as given "
    "(default: none)\n"
    "  --altitude M           the site's altitude, stored as given "
    "(default: none)\n"
    "  -h, --help             this help\n"
    "\n"
    "Exit status: 0 written; 1 an input cannot be read, holds no wind-mode\n"
    "record, or an output cannot be written; 2 a wrong command line.\n";

namespace {

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

int wrong(const std::string& message) {
  std::fprintf(stderr, "quellmar-wind: %s\n%s", message.c_str(), kWindUsage);
  return 2;
}

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

int parse_wind_options(int argc, char** argv, WindOptions* options) {
  WindOptions o;
  WindMethod& method = o.report.method;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kWindUsage, stdout);
      std::fputs(kWindHelp, stdout);
      return -1;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (i + 1 >= argc) return wrong(arg + " needs a value");
      const char* value = argv[++i];
      double number = 0.0;
      bool ok = true;
      if (arg == "-o") {
        o.output = value;
        ok = !o.output.empty();
      } else if (arg == "--csv") {
        o.csv = value;
        ok = !o.csv.empty();
      } else if (arg == "--period") {
        ok = parse_integer(value, 1, 1440, &method.period_minutes);
      } else if (arg == "--window") {
        ok = parse_number(value, 0.0, 1e6, &method.consensus.window);
      } else if (arg == "--min-fraction") {
        ok = parse_number(value, 0.0, 1.0, &method.consensus.min_fraction);
      } else if (arg == "--min-snr") {
        ok = parse_number(value, -1e6, 1e6, &number);
        method.consensus.min_snr = number;
      } else if (arg == "--azimuth-offset") {
        ok = parse_number(value, -1e6, 1e6, &method.azimuth_offset_deg);
      } else if (arg == "--velocity-sign") {
        ok = std::strcmp(value, "away") == 0 ||
             std::strcmp(value, "toward") == 0;
        method.velocity_toward = std::strcmp(value, "toward") == 0;
      } else if (arg == "--radar") {
        ok = parse_integer(value, 0, 32767, &o.report.radar);
      } else if (arg == "--latitude") {
        ok = parse_number(value, -90.0, 90.0, &number);
        o.report.latitude = number;
      } else if (arg == "--longitude") {
        ok = parse_number(value, -360.0, 360.0, &number);
        o.report.longitude = number;
      } else if (arg == "--altitude") {
        ok = parse_number(value, -1e5, 1e6, &number);
        o.report.altitude = number;
      } else {
        return wrong("unknown option " + arg);
      }
      if (!ok) return wrong("bad value for " + arg + ": " + value);
    } else {
      o.inputs.push_back(arg);
    }
  }
  if (o.inputs.empty()) return wrong("no data file given");
  if (o.output.empty()) return wrong("no output file given (-o OUT.nc)");
  if (!o.csv.empty() && same_file(o.csv, o.output)) {
    return wrong("-o and --csv name the same file");
  }
  for (const std::string& input : o.inputs) {
    for (const std::string& out : {o.output, o.csv}) {
      if (!out.empty() &&
          (same_file(out, input) || same_file(out, header_of(input)))) {
        return wrong(out + " would replace the input " + input +
                     " or its header file");
      }
    }
  }
  o.report.input_files = o.inputs;
  *options = std::move(o);
  return 0;
}

}  // namespace quellmar::companions
