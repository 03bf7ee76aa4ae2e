#include "companions/wind/options.h"

#include <cstdio>
#include <cstring>

#include "companions/common/command_line.h"
#include "companions/moments/method_options.h"
#include "disk/pda.h"

namespace quellmar::companions {

const char* const kWindUsage =
    "Usage: quellmar-wind DATAFILE... -o OUT.nc [--csv OUT.csv] [--period "
    "MIN]\n"
    "                     [--window M_S] [--min-fraction F] [--min-snr DB]\n"
    "                     [--azimuth-offset DEG] [--velocity-sign "
    "away|toward]\n"
    "                     [--radar N] [--latitude DEG] [--longitude DEG]\n"
    "                     [--altitude M] [--qc continuity|none]\n"
    "                     [--qc-max-step M_S] [--qc-min-pattern N]\n"
    "                     [--qc-periods N] [--qc-heights N]\n"
    "                     [--bufr OUT.bufr --wmo-block II --wmo-station "
    "III]\n"
    "                     [--from-spectra [--peak continuity|strongest]\n"
    "                      [--clutter-points K] [--no-clutter] "
    "[--no-interference]\n"
    "                      [--min-points M] [--tail-widths W] [--axis "
    "auto|centred|centred-reversed]]\n";

const char* const kWindHelp =
    "Wind profiles from profiler data files (d*.mom, d*.spc): consensus\n"
    "averaging per beam, gate and period, then beam swinging, with quality\n"
    "flags from a time-height continuity check. The records of all files\n"
    "are merged by time; a record of the same time, radar and beam from two\n"
    "files counts once.\n"
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
    "  --altitude M           the site's altitude in m above sea level, "
    "stored as\n"
    "                         given (default: none)\n"
    "  --qc continuity|none   the time-height continuity check of u, v and "
    "w;\n"
    "                         none flags every value good or missing "
    "(default:\n"
    "                         continuity)\n"
    "  --qc-max-step M_S      neighbours that differ by at most this join a\n"
    "                         pattern, m/s (default: 1.5)\n"
    "  --qc-min-pattern N     patterns of fewer values are suspect, all but "
    "the\n"
    "                         largest (default: 6)\n"
    "  --qc-periods N         neighbourhood in time, periods either side\n"
    "                         (default: 1)\n"
    "  --qc-heights N         neighbourhood in height, grid heights either "
    "side\n"
    "                         (default: 1)\n"
    "  --bufr OUT.bufr        also write WMO BUFR edition 4, one message per\n"
    "                         period and mode, sequence 3 09 024 (default:\n"
    "                         none); needs --wmo-block, --wmo-station,\n"
    "                         --latitude, --longitude and --altitude\n"
    "  --wmo-block II         the WMO block number for BUFR, 0 to 99\n"
    "  --wmo-station III      the WMO station number for BUFR, 0 to 999\n"
    "  -h, --help             this help\n"
    "\n"
    "Exit status: 0 written; 1 an input cannot be read, holds no wind-mode\n"
    "record, or an output cannot be written; 2 a wrong command line (also\n"
    "--bufr without what it needs, or in a build without ecCodes).\n";

namespace {

int wrong(const std::string& message) {
  std::fprintf(stderr, "quellmar-wind: %s\n%s", message.c_str(), kWindUsage);
  return 2;
}

}  // namespace

int parse_wind_options(int argc, char** argv, WindOptions* options) {
  WindOptions o;
  WindMethod& method = o.report.method;
  CheckAndBufr shared;
  shared.rule = WindMethod::wind_quality_rule();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kWindUsage, stdout);
      std::fputs(kWindHelp, stdout);
      return -1;
    }
    // The moments method of --from-spectra.
    if (arg == "--from-spectra") {
      o.from_spectra = true;
      continue;
    }
    std::string method_error;
    const MethodOption m =
        parse_method_option(argc, argv, &i, &o.moments, &method_error);
    if (m == MethodOption::kWrong) return wrong(method_error);
    if (m == MethodOption::kTaken) continue;
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
        const int taken = parse_check_and_bufr(arg, value, &shared);
        if (taken < 0) return wrong("unknown option " + arg);
        ok = taken > 0;
      }
      if (!ok) return wrong("bad value for " + arg + ": " + value);
    } else {
      o.inputs.push_back(arg);
    }
  }
  if (o.inputs.empty()) return wrong("no data file given");
  for (const std::string& input : o.inputs) {
    if (o.from_spectra && !pda_is_spectra_name(input)) {
      return wrong("--from-spectra needs spectra files (d*.spc): " + input);
    }
  }
  if (o.output.empty()) return wrong("no output file given (-o OUT.nc)");
  o.bufr = shared.bufr;
  o.station = shared.station;
  if (!o.bufr.empty()) {
    const std::string missing = bufr_missing(
        o.station, o.report.latitude.has_value(),
        o.report.longitude.has_value(), o.report.altitude.has_value());
    if (!missing.empty()) return wrong("--bufr needs " + missing);
  }
  method.quality = shared.quality();
  const std::string conflict =
      output_conflict(o.inputs, o.output, o.csv, o.bufr);
  if (!conflict.empty()) return wrong(conflict);
  o.report.input_files = o.inputs;
  *options = std::move(o);
  return 0;
}

}  // namespace quellmar::companions
