#include "programs/rass/options.h"

#include <cstdio>
#include <cstring>

#include "programs/cli/command_line.h"

namespace quellmar::companions {

const char* const kRassUsage =
    "Usage: quellmar-rass DATAFILE... -o OUT.nc [--csv OUT.csv] [--period "
    "MIN]\n"
    "                     [--window K] [--min-fraction F] [--acoustic-set "
    "1|2]\n"
    "                     [--sound-offset M_S] [--first-guess DEG_C]\n"
    "                     [--lapse-rate K_PER_KM] [--no-w-correction]\n"
    "                     [--velocity-sign away|toward] [--radar N]\n"
    "                     [--latitude DEG] [--longitude DEG] [--altitude M]\n"
    "                     [--qc continuity|none] [--qc-max-step K]\n"
    "                     [--qc-min-pattern N] [--qc-periods N] "
    "[--qc-heights N]\n"
    "                     [--bufr OUT.bufr --wmo-block II --wmo-station "
    "III]\n";

const char* const kRassHelp =
    "Virtual temperature profiles from the RASS dwells (2048 or more spectral\n"
    "points) of profiler data files (d*.mom, d*.spc): the acoustic velocity\n"
    "unfolded by a first guess, corrected for vertical air motion, consensus\n"
    "averaging per gate and period, with quality flags from a time-height\n"
    "continuity check. The records of all files are merged by time; a record\n"
    "of the same time, radar and beam from two files counts once.\n"
    "\n"
    "Options:\n"
    "  -o OUT.nc              the netCDF-4 file to write (required)\n"
    "  --csv OUT.csv          also write the profiles as a CSV table (default: "
    "none)\n"
    "  --period MIN           averaging period in whole minutes from 00:00 "
    "UTC,\n"
    "                         1 to 1440 (default: 30)\n"
    "  --window K             consensus window in kelvin (default: 1.0)\n"
    "  --min-fraction F       share of the dwells holding a gate that a\n"
    "                         consensus needs, 0 to 1 (default: 0.4)\n"
    "  --acoustic-set 1|2     the moment set of the sound pulse; the other is\n"
    "                         the clear air (default: 2)\n"
    "  --sound-offset M_S     added to every acoustic velocity, -1000 to 1000\n"
    "                         (default: 0)\n"
    "  --first-guess DEG_C    first-guess temperature at the radar for the\n"
    "                         unfolding, -100 to 60 (default: 15)\n"
    "  --lapse-rate K_PER_KM  decrease of the first guess with height, -20 to "
    "20\n"
    "                         (default: 6.5)\n"
    "  --no-w-correction      leave the vertical air motion uncorrected\n"
    "                         (default: corrected)\n"
    "  --velocity-sign away|toward\n"
    "                         the sign of the stored velocities (default: "
    "away)\n"
    "  --radar N              the radar whose records count (default: 0)\n"
    "  --latitude DEG         the site's latitude, stored as given (default: "
    "none)\n"
    "  --longitude DEG        the site's longitude, stored as given (default: "
    "none)\n"
    "  --altitude M           the site's altitude in m above sea level, "
    "stored as\n"
    "                         given (default: none)\n"
    "  --qc continuity|none   the time-height continuity check of Tv; none\n"
    "                         flags every value good or missing (default:\n"
    "                         continuity)\n"
    "  --qc-max-step K        neighbours that differ by at most this join a\n"
    "                         pattern, kelvin (default: 2.0)\n"
    "  --qc-min-pattern N     patterns of fewer values are suspect, all but "
    "the\n"
    "                         largest (default: 6)\n"
    "  --qc-periods N         neighbourhood in time, periods either side\n"
    "                         (default: 1)\n"
    "  --qc-heights N         neighbourhood in height, gates either side\n"
    "                         (default: 1)\n"
    "  --bufr OUT.bufr        also write WMO BUFR edition 4, one message per\n"
    "                         period and mode, sequence 3 09 025 (default:\n"
    "                         none); needs --wmo-block, --wmo-station,\n"
    "                         --latitude, --longitude and --altitude\n"
    "  --wmo-block II         the WMO block number for BUFR, 0 to 99\n"
    "  --wmo-station III      the WMO station number for BUFR, 0 to 999\n"
    "  -h, --help             this help\n"
    "\n"
    "Exit status: 0 written; 1 an input cannot be read, holds no RASS dwell,\n"
    "or an output cannot be written; 2 a wrong command line (also --bufr\n"
    "without what it needs, or in a build without ecCodes).\n";

namespace {

int wrong(const std::string& message) {
  std::fprintf(stderr, "quellmar-rass: %s\n%s", message.c_str(), kRassUsage);
  return 2;
}

}  // namespace

int parse_rass_options(int argc, char** argv, RassOptions* options) {
  RassOptions o;
  RassMethod& method = o.report.method;
  CheckAndBufr shared;
  shared.rule = RassMethod::tv_quality_rule();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kRassUsage, stdout);
      std::fputs(kRassHelp, stdout);
      return -1;
    }
    if (arg == "--no-w-correction") {
      method.w_correction = false;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (i + 1 >= argc) return wrong(arg + " needs a value");
      const char* value = argv[++i];
      double number = 0.0;
      int32_t whole = 0;
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
      } else if (arg == "--acoustic-set") {
        ok = parse_integer(value, 1, 2, &whole);
        method.acoustic_set = whole;
      } else if (arg == "--sound-offset") {
        ok = parse_number(value, -1000.0, 1000.0, &method.sound_offset_m_s);
      } else if (arg == "--first-guess") {
        ok = parse_number(value, -100.0, 60.0, &method.first_guess_c);
      } else if (arg == "--lapse-rate") {
        ok = parse_number(value, -20.0, 20.0, &method.lapse_rate_k_per_km);
      } else if (arg == "--velocity-sign") {
        ok = std::strcmp(value, "away") == 0 ||
             std::strcmp(value, "toward") == 0;
        method.velocity_toward = std::strcmp(value, "toward") == 0;
      } else if (arg == "--radar") {
        ok = parse_integer(value, 0, 32767, &o.report.radar);
      } else if (arg == "--latitude") {
        ok = parse_number(value, -90.0, 90.0, &number);
        o.report.position.latitude = number;
      } else if (arg == "--longitude") {
        ok = parse_number(value, -360.0, 360.0, &number);
        o.report.position.longitude = number;
      } else if (arg == "--altitude") {
        ok = parse_number(value, -1e5, 1e6, &number);
        o.report.position.altitude = number;
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
  if (o.output.empty()) return wrong("no output file given (-o OUT.nc)");
  o.bufr = shared.bufr;
  o.station = shared.station;
  if (!o.bufr.empty()) {
    const SitePosition& at = o.report.position;
    const std::string missing =
        bufr_missing(o.station, at.latitude.has_value(),
                     at.longitude.has_value(), at.altitude.has_value());
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
