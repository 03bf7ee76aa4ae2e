// quellmar-moments: recomputes the moments of a spectra file from its
// spectra and writes them as a CF-Radial netCDF-4 file of quellmar-nc's
// layout.
//
//   quellmar-moments DATAFILE.spc -o OUT.nc [--radar N] [method options]
//                    [--keep-stored] [--deflate 0..9]
//
// One ray per record of the radar, in file order; RASS dwells (2048
// spectral points or more) are counted and left out. VEL, WIDTH, SNR,
// NOISE and SIGNAL_POWER hold the recomputed moments, QC_FLAGS what the
// method found per gate; docs/moments.md gives the method.
//
// Exit status: 0 when the file was written, 1 when the pair cannot be
// opened or read or the file cannot be written, 2 for a wrong command
// line (or a moments file given).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "companions/common/output_commit.h"
#include "companions/common/pair_scan.h"
#include "companions/moments/clutter.h"
#include "companions/moments/method_options.h"
#include "companions/moments/recompute.h"
#include "companions/netcdf/convert.h"
#include "companions/netcdf/fields.h"
#include "companions/netcdf/file.h"
#include "companions/netcdf/plan.h"
#include "companions/netcdf/scan.h"
#include "disk/pda.h"

namespace qc = quellmar::companions;

namespace {

constexpr const char* kUsage =
    "Usage: quellmar-moments DATAFILE.spc -o OUT.nc [--radar N]\n"
    "                        [--peak continuity|strongest] [--clutter-points "
    "K]\n"
    "                        [--no-clutter] [--no-interference] "
    "[--min-points M]\n"
    "                        [--tail-widths W] [--axis "
    "auto|centred|centred-reversed]\n"
    "                        [--keep-stored] [--deflate 0..9]\n";

constexpr const char* kOptionsHelp =
    "Recomputes the moments of a spectra file from its spectra (noise by\n"
    "Hildebrand and Sekhon, clutter and interference removed, peak chosen by\n"
    "continuity) into a CF-Radial netCDF-4 file of quellmar-nc's layout.\n"
    "\n"
    "Options:\n"
    "  -o OUT.nc             the file written (required; written under a "
    "temporary\n"
    "                        name and renamed when complete)\n"
    "  --radar N             the radar whose records become rays (default "
    "0)\n";

constexpr const char* kOutputHelp =
    "  --keep-stored         also write the stored moments as VEL_STORED,\n"
    "                        WIDTH_STORED, SNR_STORED and NOISE_STORED "
    "(default: not)\n"
    "  --deflate L           compression level of fields and spectra, 0 "
    "(none) to 9\n"
    "                        (default 1)\n"
    "  -h, --help            this text\n";

struct Options {
  std::string pair;
  std::string output;
  int32_t radar = 0;
  bool keep_stored = false;
  qc::MomentsMethod method;
  qc::NcFileOptions file;
};

int wrong(const std::string& message) {
  std::fprintf(stderr, "quellmar-moments: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// 0 when the options are usable; -1 after printing the help; else the
// exit status of a wrong command line, its message printed.
int parse_options(int argc, char** argv, Options* options) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs("\n", stdout);
      std::fputs(kOptionsHelp, stdout);
      std::fputs(qc::kMethodOptionsHelp, stdout);
      std::fputs(kOutputHelp, stdout);
      return -1;
    }
    std::string error;
    switch (qc::parse_method_option(argc, argv, &i, &o.method, &error)) {
      case qc::MethodOption::kTaken:
        continue;
      case qc::MethodOption::kWrong:
        return wrong(error);
      case qc::MethodOption::kNotOne:
        break;
    }
    if (arg == "--keep-stored") {
      o.keep_stored = true;
      continue;
    }
    const bool takes_value =
        arg == "-o" || arg == "--radar" || arg == "--deflate";
    if (takes_value && i + 1 >= argc) return wrong(arg + " needs a value");
    if (arg == "-o") {
      o.output = argv[++i];
      if (o.output.empty()) return wrong("-o needs a file name");
    } else if (arg == "--radar") {
      const std::string v = argv[++i];
      char* end = nullptr;
      const long r = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || r < 0 || r > 32767) {
        return wrong("--radar needs a radar number");
      }
      o.radar = static_cast<int32_t>(r);
    } else if (arg == "--deflate") {
      const std::string level = argv[++i];
      if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
        return wrong("--deflate needs a level 0 to 9");
      }
      o.file.deflate_level = level[0] - '0';
    } else if (!arg.empty() && arg[0] == '-') {
      return wrong("unknown option " + arg);
    } else if (o.pair.empty()) {
      o.pair = arg;
    } else {
      return wrong("one data file only");
    }
  }
  if (o.pair.empty()) return wrong("no data file given");
  if (o.output.empty()) return wrong("no output file given (-o OUT.nc)");
  *options = o;
  return 0;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-moments: %s\n", message.c_str());
  return 1;
}

// The field table: the recomputed moments, the stored ones when kept, the
// QC flags. Values come from the program, so no decoded array is named.
std::vector<qc::FieldSpec> field_table(bool keep_stored) {
  std::vector<qc::FieldSpec> t = {
      {"VEL", "radial_velocity",
       "radial_velocity_of_scatterers_away_from_instrument", "m/s",
       "recomputed from the spectra: power-weighted mean velocity of the "
       "chosen peak",
       false, nullptr, false},
      {"WIDTH", "doppler_spectrum_width", "doppler_spectrum_width", "m/s",
       "recomputed from the spectra: one standard deviation of the chosen "
       "peak",
       false, nullptr, false},
      {"SNR", "signal_to_noise_ratio", "signal_to_noise_ratio", "dB",
       "recomputed from the spectra: peak power over the noise of the whole "
       "band",
       false, nullptr, false},
      {"NOISE", "noise_level", "", "dB",
       "recomputed from the spectra: Hildebrand-Sekhon noise level per "
       "spectral point, 10 log10 in the spectra's units",
       false, nullptr, false},
      {"SIGNAL_POWER", "signal_power", "", "dB",
       "recomputed from the spectra: 10 log10 of the chosen peak's power "
       "above the noise",
       false, nullptr, false},
  };
  if (keep_stored) {
    const char* stored = "as stored in the data file";
    t.push_back({"VEL_STORED", "radial_velocity_stored",
                 "radial_velocity_of_scatterers_away_from_instrument", "m/s",
                 stored, false, &MomentArrays::velocity, false});
    t.push_back({"WIDTH_STORED", "doppler_spectrum_width_stored",
                 "doppler_spectrum_width", "m/s", stored, false,
                 &MomentArrays::width, false});
    t.push_back({"SNR_STORED", "signal_to_noise_ratio_stored",
                 "signal_to_noise_ratio", "dB", stored, false,
                 &MomentArrays::snr, false});
    t.push_back({"NOISE_STORED", "noise_level_stored", "", "dB", stored, false,
                 &MomentArrays::noise, false});
  }
  qc::FieldSpec flags{"QC_FLAGS",
                      "quality_control_flags",
                      "",
                      "",
                      "what the moments method found in the gate's spectrum",
                      false,
                      nullptr,
                      false};
  flags.flag_masks = qc::kQcMasks.data();
  flags.flag_count = static_cast<int>(qc::kQcMasks.size());
  flags.flag_meanings = qc::kQcMeanings;
  t.push_back(flags);
  t.push_back({"PRECIP_VEL", "precipitation_radial_velocity", "", "m/s",
               "recomputed from the spectra: power-weighted mean velocity of "
               "the precipitation peak, where flagged precipitation",
               false, nullptr, false});
  t.push_back({"PRECIP_WIDTH", "precipitation_doppler_spectrum_width", "",
               "m/s",
               "recomputed from the spectra: one standard deviation of the "
               "precipitation peak, where flagged precipitation",
               false, nullptr, false});
  t.push_back({"PRECIP_SNR", "precipitation_signal_to_noise_ratio", "", "dB",
               "recomputed from the spectra: precipitation peak power over "
               "the noise of the whole band, where flagged precipitation",
               false, nullptr, false});
  return t;
}

std::vector<std::pair<std::string, std::string>> method_attributes(
    const Options& o, const std::string& axis) {
  const qc::MomentsMethod& m = o.method;
  char tail_widths[32];
  std::snprintf(tail_widths, sizeof tail_widths, "%g", m.tail_widths);
  return {
      {"moments_method", qc::describe_method(m)},
      {"moments_noise", "Hildebrand and Sekhon (1974)"},
      {"moments_peak",
       m.peak == qc::PeakChoice::kContinuity ? "continuity" : "strongest"},
      {"moments_clutter", m.clutter ? "removed" : "kept"},
      {"moments_clutter_points", std::to_string(m.clutter_points)},
      {"moments_interference", m.interference ? "removed" : "kept"},
      {"moments_min_points", std::to_string(m.min_points)},
      {"moments_tail_widths", tail_widths},
      {"moments_axis_option", qc::axis_name(m.axis)},
      {"moments_velocity_axis", axis},
  };
}

// Field values of the rays waiting for their peak choice: the stored
// moments (when kept) of each, in file order.
struct Waiting {
  std::vector<float> stored[4];
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int status = parse_options(argc, argv, &o);
  if (status != 0) return status < 0 ? 0 : status;
  {
    const size_t slash = o.pair.rfind('/');
    const std::string name =
        slash == std::string::npos ? o.pair : o.pair.substr(slash + 1);
    if (!pda_is_spectra_name(name)) {
      std::fprintf(stderr,
                   "quellmar-moments: quellmar-moments needs a spectra file "
                   "(d*.spc)\n");
      return 2;
    }
  }

  std::string error;
  bool reversed = o.method.axis == qc::AxisChoice::kCentredReversed;
  std::string axis = qc::axis_name(o.method.axis);
  pda_set_message_stream(nullptr);
  // The clutter map and the axis from one reading of the file.
  const bool auto_axis = o.method.axis == qc::AxisChoice::kAuto;
  std::map<int32_t, std::vector<int8_t>> clutter;
  qc::AxisTally tally(o.method);
  if (o.method.clutter &&
      !qc::learn_clutter_map(o.pair, o.radar, &clutter, &error,
                             auto_axis ? &tally : nullptr)) {
    return fail(error);
  }
  if (auto_axis) {
    qc::AxisVerdict verdict = tally.verdict();
    if (!o.method.clutter &&
        !qc::choose_axis(o.pair, o.radar, o.method, &verdict, &error)) {
      return fail(error);
    }
    reversed = verdict.reversed;
    axis = verdict.text;
    std::fprintf(stderr, "quellmar-moments: %s: velocity axis %s\n",
                 o.pair.c_str(), axis.c_str());
  }
  if (o.method.clutter) {
    int64_t gates = 0;
    for (const auto& [mode, bands] : clutter) {
      for (const int8_t b : bands) gates += b >= 0;
    }
    std::fprintf(stderr, "quellmar-moments: %s: clutter map: %lld gate(s)\n",
                 o.pair.c_str(), static_cast<long long>(gates));
  }

  qc::PairInput input;
  if (!qc::open_pair(o.pair, &input, &error)) return fail(error);
  qc::NcPlanner planner(o.radar, true);
  const qc::NcScan scan =
      qc::scan_for_conversion(input, qc::kDamageShown, &planner);
  qc::report_damage("quellmar-moments", o.pair, scan);
  if (planner.rass_skipped() > 0) {
    std::fprintf(stderr,
                 "quellmar-moments: %s: %lld RASS record(s) (2048 or more "
                 "spectral points) left out\n",
                 o.pair.c_str(),
                 static_cast<long long>(planner.rass_skipped()));
  }
  qc::NcPlan plan;
  if (!planner.finish(&plan, &error)) return fail(o.pair + ": " + error);

  o.file.fields = field_table(o.keep_stored);
  o.file.history = "moments recomputed from the spectra by quellmar-moments";
  o.file.attributes = method_attributes(o, axis);
  qc::PendingOutput output(o.output);
  if (!output.ok()) return fail(output.error());
  try {
    qc::NcFile file(output.temp_path());
    file.define(plan, input, o.file);
    qc::RecomputedMoments source(o.method, reversed);
    source.set_clutter_map(std::move(clutter));
    std::deque<Waiting> waiting;
    std::vector<qc::GateMoments> gates;
    std::vector<float> values[9];
    std::vector<const float*> columns(o.file.fields.size(), nullptr);
    int64_t tag = 0, written = 0;
    auto drain = [&] {
      int64_t done = 0;
      while (source.next(&done, &gates)) {
        const size_t n = gates.size();
        for (auto& v : values) v.resize(n);
        for (size_t g = 0; g < n; ++g) {
          const qc::GateMoments& m = gates[g];
          const float x[5] = {m.velocity, m.width, m.snr, m.noise_db,
                              m.power_db};
          for (int k = 0; k < 5; ++k) {
            values[k][g] = std::isnan(x[k]) ? qc::kFillValue : x[k];
          }
          values[5][g] = static_cast<float>(m.flags);
          const float rain[3] = {m.precip_velocity, m.precip_width,
                                 m.precip_snr};
          for (int k = 0; k < 3; ++k) {
            values[6 + k][g] = std::isnan(rain[k]) ? qc::kFillValue : rain[k];
          }
        }
        Waiting w = std::move(waiting.front());
        waiting.pop_front();
        size_t k = 0;
        for (; k < 5; ++k) columns[k] = values[k].data();
        if (o.keep_stored) {
          for (int s = 0; s < 4; ++s) columns[k++] = w.stored[s].data();
        }
        columns[k++] = values[5].data();
        for (int r = 0; r < 3; ++r) columns[k++] = values[6 + r].data();
        file.write_fields(static_cast<int64_t>(n), columns);
        ++written;
      }
    };
    const auto handler = [&](const qc::RecordFacts& ray, const MomentArrays& m,
                             float nyquist) {
      if (!file.write_ray_without_fields(ray, m, nyquist)) return false;
      Waiting w;
      if (o.keep_stored) {
        const std::vector<float>* src[4] = {&m.velocity, &m.width, &m.snr,
                                            &m.noise};
        for (int s = 0; s < 4; ++s) {
          w.stored[s].assign(static_cast<size_t>(ray.gate_count),
                             qc::kFillValue);
          const size_t have = std::min(src[s]->size(), w.stored[s].size());
          std::copy_n(src[s]->data(), have, w.stored[s].data());
        }
      }
      waiting.push_back(std::move(w));
      source.add(tag++, ray, m, nyquist, qc::current_spectral_averages(ray));
      drain();
      return true;
    };
    if (!qc::convert_records(input, plan, planner, file, &error, handler)) {
      return fail(o.pair + ": " + error);
    }
    source.finish();
    drain();
    if (written != plan.rays) {
      return fail(o.pair + ": " + std::to_string(written) + " of " +
                  std::to_string(plan.rays) + " rays recomputed");
    }
    file.close();
  } catch (const qc::NcError& e) {
    return fail(o.output + ": " + e.what());
  }
  if (!output.commit()) return fail(output.error());
  return 0;
}
