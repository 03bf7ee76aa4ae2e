// Writes the benchmark inputs with the project's file writer:
//   OUTDIR/d02123a.spc + h02123a.spc  a spectra day of about 200 MB
//   OUTDIR/d02123a.mom + h02123a.mom  a moments file of about 50 MB
// or, with --long-moments, only
//   OUTDIR/d02123a.mom + h02123a.mom  the moments file four times longer
//                                     (two records a second, same span)
// or, with --days N, only
//   OUTDIR/d02001a.mom ... (N day files of 2002, each with its header file):
//                                     a record every 60 s from 00:00:30 to
//                                     00:00:30 of the next day, so that
//                                     every file passes midnight
// Layout N records (datacode 3016): five wind beams (256 points) and every
// 6th record a RASS dwell (2048 points, second moment set), two spectral
// windows with the placement flag set, Gaussian spectra over noise.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "writer/format_writer.h"

namespace {

// Small deterministic generator (xorshift64*).
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ULL;
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
  }
  double uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
  int range(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1));
  }
};

constexpr int kWindMode = 0;
constexpr int kRassMode = 1;

quellmar::writer::HeaderSpec bench_header(int wind_gates, int rass_gates) {
  quellmar::writer::HeaderSpec h;
  h.header_version = 103;
  h.met_instrument_list = {1, 2, 3, 4};
  h.site_name = "Bench Profiler";
  h.site_value_1 = 4000;
  h.site_value_2 = -10500;
  h.site_value_4 = 1500;
  h.tx_frequency = 91500;
  h.beam_count = 6;
  quellmar::writer::ModeSpec& wind = h.modes[kWindMode];
  wind.ipp_ns = 40000;
  wind.pulse_width = 700;
  wind.first_gate_delay_ns = 3000;
  wind.gate_spacing_ns = 700;
  wind.gate_count = static_cast<int16_t>(wind_gates);
  wind.coherent_integrations = 100;
  wind.spectral_averages = 30;
  wind.spectral_points = 256;
  quellmar::writer::ModeSpec& rass = h.modes[kRassMode];
  rass = wind;
  rass.ipp_ns = 20000;
  rass.gate_count = static_cast<int16_t>(rass_gates);
  rass.coherent_integrations = 20;
  rass.spectral_averages = 10;
  rass.spectral_points = 2048;
  const char* names[5] = {"VERTICAL", "NORTH", "EAST", "SOUTH", "WEST"};
  for (int b = 0; b < 5; ++b) {
    h.beams[b].direction_index = static_cast<int16_t>(b);
    h.beams[b].mode_index = kWindMode;
    h.directions[b].name = names[b];
    h.directions[b].azimuth = static_cast<int16_t>(b == 0 ? 0 : (b - 1) * 90);
    h.directions[b].elevation = static_cast<int16_t>(b == 0 ? 90 : 7500);
  }
  h.beams[5].direction_index = 0;
  h.beams[5].mode_index = kRassMode;
  // Window 2 near the start, window 1 around the middle of a wind spectrum.
  h.window2_start = 1;
  h.window2_points = 16;
  h.window1_start = 65;
  h.window1_points = 128;
  h.spectrum_extra[0] = 1;
  return h;
}

std::vector<float> spectrum(Random& rnd, int points, double centre,
                            double width) {
  std::vector<float> row(points);
  for (int k = 0; k < points; ++k) {
    const double x = (k - centre) / width;
    row[k] = static_cast<float>(1000.0 * std::exp(-0.5 * x * x) + 20.0 +
                                5.0 * rnd.uniform());
  }
  return row;
}

quellmar::writer::Bytes record(Random& rnd, int32_t time, int16_t beam,
                               int gates, int points, bool spectra) {
  quellmar::writer::BodySpec body;
  body.datacode = 3016;
  for (int g = 0; g < gates; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(rnd.range(-6000, 6000));
    m.width = static_cast<uint16_t>(rnd.range(0, 255));
    m.snr = static_cast<int16_t>(rnd.range(-20, 40));
    m.noise_or_aux = static_cast<int16_t>(rnd.range(-90, -20));
    body.moments.push_back(m);
    m.velocity = static_cast<int16_t>(rnd.range(-6000, 6000));
    m.noise_or_aux = static_cast<int16_t>(rnd.range(-500, 500));
    body.second.push_back(m);
    if (spectra) {
      body.spectra.push_back(spectrum(rnd, points,
                                      points * (0.3 + 0.4 * rnd.uniform()),
                                      points * 0.02 + 1.0));
    }
  }
  body.met_values = {rnd.range(0, 1000), rnd.range(0, 1000), 3, 4};
  quellmar::writer::RecordSpec r;
  r.datacode = 3016;
  r.layout = quellmar::writer::Layout::N;
  r.spectra_flag = spectra ? 1 : 0;
  r.header_offset = 0;
  r.record_time = time;
  r.beam_index = beam;
  r.coherent_integrations = static_cast<int16_t>(beam == 5 ? 20 : 100);
  r.spectral_averages = static_cast<int16_t>(beam == 5 ? 10 : 30);
  r.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(r);
}

// Writes `count` records, `per_step` of them every `step_s` seconds from
// `start`, as one file.
void write_day(const std::string& dir, const std::string& name, bool spectra,
               int wind_gates, int rass_gates, int count, int32_t start,
               int32_t step_s, int per_step = 1) {
  Random rnd;
  quellmar::writer::write_file(
      dir + "/h" + name.substr(1),
      quellmar::writer::encode_header(bench_header(wind_gates, rass_gates)));
  std::FILE* out = std::fopen((dir + "/" + name).c_str(), "wb");
  if (out == nullptr) {
    std::perror(name.c_str());
    return;
  }
  for (int i = 0; i < count; ++i) {
    const bool rass = i % 6 == 5;
    const int16_t beam = static_cast<int16_t>(rass ? 5 : i % 6);
    const quellmar::writer::Bytes rec =
        record(rnd, start + i / per_step * step_s, beam,
               rass ? rass_gates : wind_gates, rass ? 2048 : 256, spectra);
    std::fwrite(rec.data(), 1, rec.size(), out);
  }
  std::fclose(out);
}

}  // namespace

namespace {

int write_inputs(int argc, char** argv) {
  const bool long_moments =
      argc == 3 && std::string(argv[1]) == "--long-moments";
  const bool days = argc == 4 && std::string(argv[1]) == "--days";
  const bool help = argc == 2 && std::string(argv[1]) == "--help";
  if (help || (argc != 2 && !long_moments && !days) ||
      (argc == 2 && argv[1][0] == '-')) {
    std::fprintf(help ? stdout : stderr,
                 "usage: %s [--long-moments | --days N] OUTDIR\n"
                 "Writes the benchmark inputs into the existing folder "
                 "OUTDIR.\n",
                 argv[0]);
    return help ? 0 : 2;
  }
  const std::string dir = argv[argc - 1];
  if (days) {
    const int n = std::atoi(argv[2]);
    const int32_t jan1 = 1009843200;  // 2002-01-01 00:00:00 UTC
    for (int d = 1; d <= n && d <= 365; ++d) {
      char name[16];
      std::snprintf(name, sizeof name, "d02%03da.mom", d);
      write_day(dir, name, false, 60, 30, 1440, jan1 + (d - 1) * 86400 + 30,
                60);
    }
    return 0;
  }
  // 2002-05-04 00:00:00 UTC (day 124): the name day is 123, so the run stops
  // after the first record of day 125.
  const int32_t day124 = 1020470400;
  // Moments: every record lies before the stop day.
  if (long_moments) {
    write_day(dir, "d02123a.mom", false, 60, 30, 4 * 70000, day124 - 64800, 1,
              2);
    return 0;
  }
  write_day(dir, "d02123a.spc", true, 40, 24, 2900, day124, 30);
  write_day(dir, "d02123a.mom", false, 60, 30, 70000, day124 - 64800, 2);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return write_inputs(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
}
