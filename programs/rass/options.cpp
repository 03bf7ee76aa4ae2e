#include "programs/rass/options.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "programs/cli/command_line.h"
#include "programs/cli/option_table.h"

namespace quellmar::companions {

int parse_rass_options(int argc, char** argv, RassOptions* options) {
  RassOptions o;
  RassMethod& method = o.report.method;
  CheckAndBufr shared;
  shared.rule = RassMethod::tv_quality_rule();
  const AveragingWords words{"kelvin", "K",     "dwells",
                             "Tv",     "gates", "3 09 025"};

  OptionTable t(
      "quellmar-rass", "DATAFILE... -o OUT.nc [OPTION]...",
      "Virtual temperature profiles from the RASS dwells (2048 or more\n"
      "spectral points) of profiler data files (d*.mom, d*.spc): the acoustic\n"
      "velocity unfolded by continuity with the gate below and a first guess,\n"
      "corrected for the air's motion along the beam (never by "
      "precipitation),\n"
      "consensus averaging per gate and period, with quality flags from a\n"
      "time-height continuity check. The records of all files are merged by\n"
      "time; a record of the same time, radar and beam from two files counts\n"
      "once.\n");
  t.inputs("data file", &o.inputs, 0);
  add_averaging(t, words, &o.output, &o.csv, &method, &o.report.radar);
  t.choice("--acoustic-set",
           "the moment set of the sound pulse (the other is the clear air); "
           "auto: per period the set whose velocities lie farther from 0",
           &method.acoustic_set,
           {{"auto", kAcousticSetAuto}, {"1", 1}, {"2", 2}});
  t.number("--sound-offset", "M_S", "added to every acoustic velocity",
           &method.sound_offset_m_s, -1000.0, 1000.0);
  t.number("--first-guess", "DEG_C",
           "first-guess temperature at the radar for the unfolding",
           &method.first_guess_c, -100.0, 60.0);
  std::string first_guess_file;
  t.file("--first-guess-file", "CSV",
         "first guess at the radar through the day: rows TIME,DEG_C (UTC "
         "YYYY-MM-DDTHH:MM[:SS]), read between the rows",
         &first_guess_file, "--first-guess all day");
  t.number("--lapse-rate", "K_PER_KM",
           "decrease of the first guess with height",
           &method.lapse_rate_k_per_km, -20.0, 20.0);
  t.flag("--no-w-correction", "leave the vertical air motion uncorrected",
         &method.w_correction, false, "corrected", "uncorrected");
  t.choice(
      "--precipitation-w",
      "where w is flagged as precipitation: the uncorrected temperature "
      "flagged suspect, or none",
      &method.rain_w,
      {{"uncorrected", RainW::kUncorrected}, {"missing", RainW::kMissing}});
  add_position(t, &o.report.position.latitude, &o.report.position.longitude,
               &o.report.position.altitude);
  t.group("Time-height check and BUFR");
  add_check_and_bufr(t, words, &shared);

  switch (t.parse(argc, argv)) {
    case OptionTable::Parsed::kDone:
      return -1;
    case OptionTable::Parsed::kWrong:
      return kExitCommandLine;
    case OptionTable::Parsed::kRun:
      break;
  }
  const SitePosition& at = o.report.position;
  const int status = check_outputs(t, o.inputs, o.output, o.csv, shared,
                                   at.latitude, at.longitude, at.altitude);
  if (status != kExitWritten) return status;
  if (!first_guess_file.empty()) {
    // A table of the day's temperatures is small: a few MiB at most.
    std::error_code code;
    const auto size = std::filesystem::file_size(first_guess_file, code);
    std::ifstream in;
    if (!code && std::filesystem::is_regular_file(first_guess_file, code) &&
        size <= (16u << 20)) {
      in.open(first_guess_file, std::ios::binary);
    }
    std::ostringstream text;
    if (in.is_open()) text << in.rdbuf();
    std::string error;
    if (!in.is_open() || in.bad()) {
      error = "cannot be read (a regular file of at most 16 MiB)";
    } else if (parse_first_guess(text.str(), &method.first_guess_series,
                                 &error)) {
      error.clear();
    }
    if (!error.empty()) {
      std::fprintf(stderr, "quellmar-rass: --first-guess-file %s: %s\n",
                   first_guess_file.c_str(), error.c_str());
      return kExitFailed;
    }
    o.report.first_guess_file = first_guess_file;
  }
  o.bufr = shared.bufr;
  o.station = shared.station;
  method.quality = shared.quality();
  o.report.input_files = o.inputs;
  *options = std::move(o);
  return 0;
}

}  // namespace quellmar::companions
