#include "programs/wind/options.h"

#include "disk/pda.h"
#include "programs/cli/command_line.h"
#include "programs/cli/method_options.h"
#include "programs/cli/option_table.h"

namespace quellmar::companions {

int parse_wind_options(int argc, char** argv, WindOptions* options) {
  WindOptions o;
  WindMethod& method = o.report.method;
  CheckAndBufr shared;
  shared.rule = WindMethod::wind_quality_rule();
  const AveragingWords words{"m/s",        "M_S",          "records",
                             "u, v and w", "grid heights", "3 09 024"};

  OptionTable t(
      "quellmar-wind", "DATAFILE... -o OUT.nc [OPTION]...",
      "Wind profiles from profiler data files (d*.mom, d*.spc): consensus\n"
      "averaging per beam, gate and period, then beam swinging, with quality\n"
      "flags from a time-height continuity check. The records of all files\n"
      "are merged by time; a record of the same time, radar and beam from\n"
      "two files counts once.\n");
  t.inputs("data file", &o.inputs, 0);
  add_averaging(t, words, &o.output, &o.csv, &method, &o.report.radar);
  t.number("--min-snr", "DB",
           "drop values of lower SNR (a floor far below, e.g. -1000, keeps "
           "all)",
           &method.consensus.min_snr, -1e6, 1e6);
  t.integer("--min-count", "N",
            "records a consensus needs at least (docs/winds.md: the share "
            "alone lets noise through in short periods)",
            &method.consensus.min_count, 2, 1000000);
  t.flag("--assume-w-zero",
         "u and v from the oblique beams alone with w = 0 assumed everywhere "
         "(w still reported from the vertical beam)",
         &method.assume_w_zero, true, "", "w from the vertical beam");
  t.flag("--no-unfold",
         "take the consensus velocities as folded onto +-V (no unfolding by "
         "continuity beyond the Nyquist velocity)",
         &method.unfold, false, "unfolded by continuity", "");
  t.number("--rain-fall-speed", "M_S",
           "the vertical beam's values downward beyond this and broad "
           "(--rain-min-width) in half a period's records are rain, not w",
           &method.precipitation.fall_speed_m_s, 0.0, 1e6);
  t.number("--rain-min-width", "M_S",
           "spectral width of such a rain echo at least",
           &method.precipitation.min_width_m_s, 0.0, 1e6);
  t.number("--azimuth-offset", "DEG", "added to every beam's azimuth",
           &method.azimuth_offset_deg, -1e6, 1e6);
  add_position(t, &o.report.latitude, &o.report.longitude, &o.report.altitude);
  t.group("Time-height check and BUFR");
  add_check_and_bufr(t, words, &shared);
  t.number("--qc-max-step-w", "M_S",
           "the step of the check for w (--qc-max-step is u's and v's)",
           &method.quality_w_step, 0.0, 1e6);
  t.number("--qc-layer-jump", "M_S",
           "a pattern that differs by more than this from the values below "
           "it is a jumped (folded) layer, suspect (0: no such check; w's "
           "scales with its step)",
           &shared.rule.layer_jump, 0.0, 1e6);
  t.group("Moments from the spectra");
  t.flag("--from-spectra",
         "recompute the velocities and SNRs from the spectra (d*.spc) by the "
         "moments method of quellmar-moments, with the options below",
         &o.from_spectra, true, "", "the stored moments");
  add_moments_method(t, &o.moments);

  switch (t.parse(argc, argv)) {
    case OptionTable::Parsed::kDone:
      return -1;
    case OptionTable::Parsed::kWrong:
      return kExitCommandLine;
    case OptionTable::Parsed::kRun:
      break;
  }
  for (const std::string& input : o.inputs) {
    if (o.from_spectra && !pda_is_spectra_name(input)) {
      return t.wrong("--from-spectra needs spectra files (d*.spc): " + input);
    }
  }
  const int status =
      check_outputs(t, o.inputs, o.output, o.csv, shared, o.report.latitude,
                    o.report.longitude, o.report.altitude);
  if (status != kExitWritten) return status;
  o.bufr = shared.bufr;
  o.station = shared.station;
  method.quality = shared.quality();
  o.report.input_files = o.inputs;
  *options = std::move(o);
  return 0;
}

}  // namespace quellmar::companions
