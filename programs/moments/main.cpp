// quellmar-moments: recomputes the moments of a spectra file from its
// spectra and writes them as a CF-Radial netCDF-4 file of quellmar-nc's
// layout.
//
//   quellmar-moments DATAFILE.spc -o OUT.nc [--radar N] [method options]
//                    [--keep-stored] [--deflate 0..9]
//                    [--significant-digits 1..7]
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

#include "disk/pda.h"
#include "methods/moments/clutter.h"
#include "methods/moments/recompute.h"
#include "methods/netcdf/convert.h"
#include "methods/netcdf/fields.h"
#include "methods/netcdf/file.h"
#include "methods/netcdf/moments_fields.h"
#include "methods/netcdf/plan.h"
#include "methods/netcdf/scan.h"
#include "methods/output/output_commit.h"
#include "methods/pairs/pair_scan.h"
#include "programs/cli/command_line.h"
#include "programs/cli/method_options.h"
#include "programs/cli/option_table.h"
#include "programs/cli/progress.h"

namespace qc = quellmar::companions;

namespace {

struct Options {
  std::string pair;  // the data file
  std::string output;
  int32_t radar = 0;
  bool keep_stored = false;
  qc::MomentsMethod method;
  qc::NcFileOptions file;
};

// 0 when the options are usable; -1 after --help or --version; else the
// exit status of a wrong command line, reported.
int parse_options(int argc, char** argv, Options* options) {
  Options o;
  qc::OptionTable t(
      "quellmar-moments", "DATAFILE.spc -o OUT.nc [OPTION]...",
      "Recomputes the moments of a spectra file from its spectra (noise by\n"
      "Hildebrand and Sekhon, clutter and interference removed, peak chosen "
      "by\ncontinuity) into a CF-Radial netCDF-4 file of quellmar-nc's "
      "layout.\n");
  std::vector<std::string> inputs;
  t.inputs("data file", &inputs, 1);
  t.file("-o", "OUT.nc",
         "the file written (required; written under a temporary name and "
         "renamed when complete)",
         &o.output, "");
  t.integer("--radar", "N", "the radar whose records become rays", &o.radar, 0,
            32767);
  qc::add_moments_method(t, &o.method);
  t.flag("--keep-stored",
         "also write the stored moments as VEL_STORED, WIDTH_STORED, "
         "SNR_STORED and NOISE_STORED",
         &o.keep_stored, true, "", "not written");
  t.integer("--deflate", "LEVEL",
            "compression level of fields and spectra, 0 (none) to 9",
            &o.file.deflate_level, 0, 9);
  qc::add_significant_digits(t, &o.file.significant_digits);
  switch (t.parse(argc, argv)) {
    case qc::OptionTable::Parsed::kDone:
      return -1;
    case qc::OptionTable::Parsed::kWrong:
      return qc::kExitCommandLine;
    case qc::OptionTable::Parsed::kRun:
      break;
  }
  o.pair = inputs.front();
  if (o.output.empty()) return t.wrong("no output file given (-o OUT.nc)");
  {
    const size_t slash = o.pair.rfind('/');
    const std::string name =
        slash == std::string::npos ? o.pair : o.pair.substr(slash + 1);
    if (!pda_is_spectra_name(name)) {
      return t.wrong("quellmar-moments needs a spectra file (d*.spc): " +
                     o.pair);
    }
  }
  *options = o;
  return 0;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quellmar-moments: %s\n", message.c_str());
  return 1;
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

  std::string error;
  bool reversed = o.method.axis == qc::AxisChoice::kCentredReversed;
  std::string axis = qc::axis_name(o.method.axis);
  pda_set_message_stream(nullptr);
  // The scan of the file also learns its clutter map and axis.
  const bool auto_axis = o.method.axis == qc::AxisChoice::kAuto;
  qc::AxisTally tally(o.method);
  qc::FirstLook look(o.radar, o.method.clutter, auto_axis ? &tally : nullptr);
  qc::PairInput input;
  if (!qc::open_pair(o.pair, &input, &error)) return fail(error);
  qc::NcPlanner planner(o.radar, true);
  const qc::NcScan scan =
      qc::scan_for_conversion(input, qc::kDamageShown, &planner,
                              [&](const qc::RecordFacts& f) { look.add(f); });
  pda_release_moments();
  if (auto_axis) {
    const qc::AxisVerdict verdict = tally.verdict();
    reversed = verdict.reversed;
    axis = verdict.text;
    std::fprintf(stderr, "quellmar-moments: %s: velocity axis %s\n",
                 o.pair.c_str(), axis.c_str());
  }
  std::map<int32_t, std::vector<int8_t>> clutter = look.bands();
  if (o.method.clutter) {
    int64_t gates = 0;
    for (const auto& [mode, bands] : clutter) {
      for (const int8_t b : bands) gates += b >= 0;
    }
    std::fprintf(stderr, "quellmar-moments: %s: clutter map: %lld gate(s)\n",
                 o.pair.c_str(), static_cast<long long>(gates));
  }
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

  o.file.fields = qc::moments_fields(o.keep_stored);
  o.file.history = "moments recomputed from the spectra by quellmar-moments";
  o.file.attributes = qc::moments_attributes(o.method, axis);
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
    qc::ProgressLine progress("quellmar-moments");
    if (!qc::convert_records(input, plan, planner, file, &progress, &error,
                             handler)) {
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
