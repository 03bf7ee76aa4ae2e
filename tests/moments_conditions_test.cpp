// The moments method under the conditions of real days: velocities that
// straddle the ends of the spectrum, echoes that fill the band, weak echoes
// whose tails fall below the noise threshold, clutter spread over several
// points, precipitation beside clear air. Peak choice is driven with
// analysed records directly; the rest goes through spectra of known truth
// analysed record by record.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/moments/clutter.h"
#include "methods/moments/method.h"
#include "methods/moments/peak_choice.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_MOMENTS_BINARY
#include "tests/nc_read.h"
#endif

namespace quellmar::test {
namespace {

namespace qc = quellmar::companions;

qc::GateAnalysis gate_with(std::vector<std::pair<double, double>> peaks) {
  qc::GateAnalysis a;
  a.noise = 1.0;
  for (const auto& [velocity, power] : peaks) {
    qc::Peak p;
    p.velocity = velocity;
    p.power = power;
    p.width = 0.5;
    a.peaks[static_cast<size_t>(a.peak_count++)] = p;
  }
  if (a.peak_count == 0) a.flags = qc::kQcNoSignal;
  if (a.peak_count > 1) a.flags |= qc::kQcSeveralPeaks;
  return a;
}

TEST(MomentsContinuity, WindowIsFiveRecordsOfTheBeamEachSideOnTheCircle) {
  // Beam 0 records 0..12 (a beam 1 record between each, which must not
  // count). Record 6 is examined. Gates 0..11 probe one neighbour offset
  // each (-6..-1, 1..6): only that neighbour has a peak there, at 5 m/s,
  // and record 6 has a strong peak at 0 m/s and a weak one at 5 m/s, so
  // the weak one is chosen exactly when the neighbour is in the window.
  // Gates 12 and 13: the neighbours' peaks straddle +-V (V = 10 m/s).
  constexpr double kV = 10.0;
  const int offsets[12] = {-6, -5, -4, -3, -2, -1, 1, 2, 3, 4, 5, 6};
  qc::PeakChooser chooser(qc::PeakChoice::kContinuity);
  std::vector<qc::AnalysedRecord> out;
  int64_t tag = 0;
  for (int i = 0; i <= 12; ++i) {
    for (int beam = 0; beam < 2; ++beam) {
      qc::AnalysedRecord r;
      r.tag = tag++;
      r.beam = beam;
      r.points = 64;
      r.nyquist = kV;
      for (int g = 0; g < 12; ++g) {
        if (beam == 1) {
          r.gates.push_back(gate_with({{0.0, 1.0}}));
        } else if (i == 6) {
          r.gates.push_back(gate_with({{0.0, 10.0}, {5.0, 1.0}}));
        } else if (i - 6 == offsets[g]) {
          r.gates.push_back(gate_with({{5.0, 1.0}}));
        } else {
          r.gates.push_back(gate_with({}));
        }
      }
      // +9.6 .. +9.7 m/s before, -9.7 .. -9.8 m/s after: a plain median
      // would lie near 0 m/s.
      const double around =
          i < 6 ? 9.6 + 0.05 * (i % 3) : -9.7 - 0.05 * (i % 3);
      if (beam == 0 && i == 6) {
        // The atmosphere is the strongest: nothing to change.
        r.gates.push_back(gate_with({{9.8, 10.0}, {0.4, 2.0}}));
        // The atmosphere is the weaker, across the end of the spectrum.
        r.gates.push_back(gate_with({{0.4, 10.0}, {-9.6, 2.0}}));
      } else {
        r.gates.push_back(gate_with({{around, 1.0}}));
        r.gates.push_back(gate_with({{around, 1.0}}));
      }
      chooser.add(std::move(r));
      qc::AnalysedRecord done;
      while (chooser.next(&done)) out.push_back(std::move(done));
    }
  }
  chooser.finish();
  qc::AnalysedRecord done;
  while (chooser.next(&done)) out.push_back(std::move(done));
  ASSERT_EQ(out.size(), 26u);
  const qc::AnalysedRecord& r = out[12];
  ASSERT_EQ(r.tag, 12);
  for (int g = 0; g < 12; ++g) {
    SCOPED_TRACE("neighbour offset " + std::to_string(offsets[g]));
    const bool inside = std::abs(offsets[g]) <= 5;
    EXPECT_EQ(r.chosen[static_cast<size_t>(g)], inside ? 1 : 0);
    EXPECT_EQ((r.gates[static_cast<size_t>(g)].flags & qc::kQcContinuity) != 0,
              inside);
  }
  EXPECT_EQ(r.chosen[12], 0);
  EXPECT_EQ(r.gates[12].flags & qc::kQcContinuity, 0);
  EXPECT_EQ(r.chosen[13], 1);
  EXPECT_NE(r.gates[13].flags & qc::kQcContinuity, 0);
}

// Spectra of known truth: S_k = (sum of echoes + N) X_k, each echo a
// Gaussian of unit sum over the points (summed over its aliases) times its
// power SNR N P, X_k gamma distributed with shape n and mean 1.
constexpr double kV = 10.0;  // m/s
constexpr int kPoints = 64;
constexpr int kAverages = 30;
constexpr double kNoise = 1000.0;
constexpr double kStep = 2.0 * kV / kPoints;

struct Echo {
  double velocity;  // m/s
  double width;     // m/s
  double snr_db;
};

double point_velocity(int k) { return (k - kPoints / 2) * kStep; }

// The mean of the spectrum: the echoes plus N.
std::vector<double> mean_spectrum(const std::vector<Echo>& echoes) {
  std::vector<double> s(kPoints, kNoise);
  for (int k = 0; k < kPoints; ++k) {
    for (const Echo& e : echoes) {
      const double power = std::pow(10.0, e.snr_db / 10.0) * kNoise * kPoints;
      for (int alias = -2; alias <= 2; ++alias) {
        const double d = point_velocity(k) - e.velocity + 2.0 * kV * alias;
        s[static_cast<size_t>(k)] +=
            power * kStep * std::exp(-0.5 * d * d / (e.width * e.width)) /
            (std::sqrt(2 * M_PI) * e.width);
      }
    }
  }
  return s;
}

std::vector<float> known_spectrum(const std::vector<Echo>& echoes,
                                  std::mt19937& rng) {
  std::gamma_distribution<double> x(kAverages, 1.0 / kAverages);
  const std::vector<double> mean = mean_spectrum(echoes);
  std::vector<float> s(kPoints);
  for (int k = 0; k < kPoints; ++k) {
    s[static_cast<size_t>(k)] =
        static_cast<float>(mean[static_cast<size_t>(k)] * x(rng));
  }
  return s;
}

qc::RecordSpectra known_record(const std::vector<std::vector<Echo>>& gates,
                               std::mt19937& rng) {
  qc::RecordSpectra r;
  r.gates = static_cast<int64_t>(gates.size());
  r.points = kPoints;
  r.nyquist = kV;
  r.averages = kAverages;
  for (const auto& echoes : gates) {
    const std::vector<float> s = known_spectrum(echoes, rng);
    r.values.insert(r.values.end(), s.begin(), s.end());
  }
  r.present.assign(r.values.size(), 1);
  return r;
}

// The moments of every gate's strongest peak.
std::vector<qc::GateMoments> strongest_moments(qc::RecordSpectra& r,
                                               const qc::MomentsMethod& m) {
  std::vector<qc::GateAnalysis> gates;
  qc::analyse_record(r, m, &gates);
  std::vector<qc::GateMoments> out;
  for (const auto& a : gates) out.push_back(qc::gate_moments(a, 0, r.points));
  return out;
}

TEST(MomentsNoise, EchoFillingTheBandTakesTheNoiseOfNeighbouringGates) {
  // Gates 8..13: an echo of 20 dB, 3 m/s wide, fills most of the band
  // (V = 10 m/s); the other gates hold a narrow 5 dB echo. The noise must
  // be within 1 dB of the truth everywhere, taken from neighbours exactly
  // at the broad gates, and the broad echo's SNR unbiased.
  std::mt19937 rng(31);
  constexpr int kGates = 24, kRecords = 20;
  auto broad = [](int g) { return g >= 8 && g < 14; };
  double snr_sum = 0.0, width_sum = 0.0;
  int broad_count = 0;
  for (int rec = 0; rec < kRecords; ++rec) {
    std::vector<std::vector<Echo>> gates;
    for (int g = 0; g < kGates; ++g) {
      gates.push_back({broad(g) ? Echo{2.0, 3.0, 20.0} : Echo{-3.0, 0.6, 5.0}});
    }
    qc::RecordSpectra r = known_record(gates, rng);
    const auto m = strongest_moments(r, qc::MomentsMethod{});
    for (int g = 0; g < kGates; ++g) {
      SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                   std::to_string(g));
      const qc::GateMoments& x = m[static_cast<size_t>(g)];
      EXPECT_NEAR(x.noise_db, 30.0, 1.0);
      EXPECT_EQ((x.flags & qc::kQcNoiseFromNeighbours) != 0, broad(g));
      if (!broad(g)) continue;
      EXPECT_NEAR(x.velocity, 2.0, 0.5);
      snr_sum += x.snr;
      width_sum += x.width;
      ++broad_count;
    }
  }
  EXPECT_NEAR(snr_sum / broad_count, 20.0, 0.3);
  EXPECT_NEAR(width_sum / broad_count, 3.0, 0.15);
}

TEST(MomentsTails, WeakEchoesKeepTheirWidthAndPower) {
  // Echoes 0.6 m/s wide at -5 and -10 dB, anywhere in -5 .. 5 m/s: over
  // 2400 gates each, the width, SNR and velocity of the peak found at the
  // echo are without bias (the region above the threshold alone gives
  // -9% and -30% in width, -0.2 and -0.8 dB in SNR).
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> anywhere(-5.0, 5.0);
  constexpr double kWidth = 0.6;
  for (const double snr : {-5.0, -10.0}) {
    SCOPED_TRACE("SNR " + std::to_string(snr) + " dB");
    double width = 0.0, power = 0.0, offset = 0.0;
    int found = 0, lost = 0;
    for (int rec = 0; rec < 100; ++rec) {
      std::vector<std::vector<Echo>> gates;
      for (int g = 0; g < 24; ++g) {
        gates.push_back({Echo{anywhere(rng), kWidth, snr}});
      }
      qc::RecordSpectra r = known_record(gates, rng);
      qc::MomentsMethod method;
      method.clutter = method.interference = false;
      const auto m = strongest_moments(r, method);
      for (size_t g = 0; g < gates.size(); ++g) {
        const double d = m[g].velocity - gates[g][0].velocity;
        if (!(std::fabs(d) < 2 * kWidth)) {
          ++lost;
          continue;
        }
        width += m[g].width;
        power += m[g].snr;
        offset += d;
        ++found;
      }
    }
    EXPECT_LT(lost, found / 20);
    EXPECT_NEAR(width / found, kWidth, 0.03 * kWidth);
    EXPECT_NEAR(power / found, snr, 0.15);
    // About three standard errors of the mean offset.
    EXPECT_NEAR(offset / found, 0.0, 0.006);
  }
}

// Clutter of three shapes at gates 0..5 of every beam, strongest in gate 0
// (3000 N at 0 m/s, falling 3 dB a gate): the vertical beam holds a calm
// echo at 0 m/s as narrow as the clutter (0.4 m/s) at every gate, the two
// oblique beams echoes well apart from 0 m/s.
enum class ClutterShape { kSpike, kHann, kGaussian };
constexpr int kClutterGates = 6;

double clutter_at(ClutterShape shape, int g, int offset) {
  if (g >= kClutterGates) return 0.0;
  const double top = 3000.0 * kNoise * std::pow(10.0, -0.3 * g);
  switch (shape) {
    case ClutterShape::kSpike:
      return offset == 0 ? top : 0.0;
    case ClutterShape::kHann:
      return offset == 0 ? top : std::abs(offset) == 1 ? 0.25 * top : 0.0;
    case ClutterShape::kGaussian:
      return top * std::exp(-0.5 * offset * offset);
  }
  return 0.0;
}

Echo clutter_day_echo(int beam, int g) {
  const double snr = 15.0 - 0.4 * g;
  if (beam == 0) return {0.0, 0.4, snr};
  const double v = 5.5 + 0.1 * g;
  return {beam == 1 ? v : -v, 0.8, snr};
}

TEST(MomentsClutter, BandsAreFoundByTheMapAndCalmEchoesKeptElsewhere) {
  constexpr int kGates = 24, kRecords = 60;  // beams 0, 1, 2 in turn
  for (const ClutterShape shape :
       {ClutterShape::kSpike, ClutterShape::kHann, ClutterShape::kGaussian}) {
    for (const int32_t k : {0, 1}) {
      SCOPED_TRACE("shape " + std::to_string(static_cast<int>(shape)) +
                   ", --clutter-points " + std::to_string(k));
      std::mt19937 rng(11);
      std::gamma_distribution<double> x(kAverages, 1.0 / kAverages);
      std::vector<qc::RecordSpectra> records;
      qc::ClutterSurvey survey;
      for (int rec = 0; rec < kRecords; ++rec) {
        const int beam = rec % 3;
        qc::RecordSpectra r;
        r.gates = kGates;
        r.points = kPoints;
        r.nyquist = kV;
        r.averages = kAverages;
        for (int g = 0; g < kGates; ++g) {
          const std::vector<double> mean =
              mean_spectrum({clutter_day_echo(beam, g)});
          for (int j = 0; j < kPoints; ++j) {
            const double c = clutter_at(shape, g, j - kPoints / 2);
            r.values.push_back(static_cast<float>(
                (mean[static_cast<size_t>(j)] + c) * x(rng)));
          }
        }
        r.present.assign(r.values.size(), 1);
        survey.add(r, 0, beam, beam != 0);
        records.push_back(std::move(r));
      }
      const auto map = survey.bands();
      ASSERT_EQ(map.count(0), 1u);
      const std::vector<int8_t>& bands = map.at(0);
      ASSERT_EQ(bands.size(), static_cast<size_t>(kGates));
      for (int g = 0; g < kGates; ++g) {
        EXPECT_EQ(bands[static_cast<size_t>(g)] >= 0, g < kClutterGates)
            << "gate " << g;
      }
      qc::MomentsMethod method;
      method.clutter_points = k;
      method.interference = false;
      // Per point of the band, the mean left under the oblique beams'
      // clutter once removed, over the noise: N there in truth.
      std::vector<double> left(9, 0.0);
      int oblique_clutter = 0;
      double calm_width = 0.0, calm_snr = 0.0;
      int calm = 0;
      for (int rec = 0; rec < kRecords; ++rec) {
        const int beam = rec % 3;
        qc::RecordSpectra& r = records[static_cast<size_t>(rec)];
        std::vector<qc::GateAnalysis> gates;
        qc::analyse_record(r, method, &gates, &bands);
        for (int g = 0; g < kGates; ++g) {
          SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                       std::to_string(g));
          const qc::GateAnalysis& a = gates[static_cast<size_t>(g)];
          EXPECT_EQ((a.flags & qc::kQcClutter) != 0, g < kClutterGates);
          const qc::GateMoments m = qc::gate_moments(a, 0, kPoints);
          const Echo truth = clutter_day_echo(beam, g);
          // A calm vertical echo under clutter goes with it (the limit of
          // the rule); everywhere else the velocity is the truth's.
          if (beam != 0 || g >= kClutterGates) {
            EXPECT_NEAR(m.velocity, truth.velocity, 0.5 * kStep);
          }
          if (beam != 0 && g < kClutterGates) {
            const std::vector<double> mean = mean_spectrum({truth});
            for (int j = -4; j <= 4; ++j) {
              const size_t at = static_cast<size_t>(kPoints / 2 + j);
              left[static_cast<size_t>(j + 4)] +=
                  (r.values[static_cast<size_t>(g * kPoints) + at] - mean[at]) /
                  kNoise;
            }
            ++oblique_clutter;
          }
          if (beam == 0 && g >= kClutterGates) {
            calm_width += m.width;
            calm_snr += m.snr - truth.snr_db;
            ++calm;
          }
        }
      }
      for (int j = -4; j <= 4; ++j) {
        EXPECT_NEAR(left[static_cast<size_t>(j + 4)] / oblique_clutter, 0.0,
                    0.1)
            << "point " << j << " from 0 m/s";
      }
      // The calm echo where the map finds no clutter: width and power kept.
      EXPECT_NEAR(calm_width / calm, 0.4, 0.03 * 0.4);
      EXPECT_NEAR(calm_snr / calm, 0.0, 0.2);
    }
  }
}

#ifdef QUELLMAR_MOMENTS_BINARY

// A dry hour, then an hour whose first 40 records (of 60) rain at gates
// 4..15: clear air everywhere
// (wind u = 6, v = -4 m/s, w = 0; 1 m/s wide, 10 dB) and, in the rain,
// a precipitation echo falling at 7 m/s, 1.5 m/s wide, rain_over_clear_db
// stronger.
// Three beams in turn: vertical, east and north at 75 degrees. In the dry
// hour the east beam also sees birds in some records, narrow, 5 m/s
// below the clear air, and in one record a flock as wide as rain; in its
// last dry record, next to the rain, a flock 6 m/s above the clear air,
// 0.3 m/s wide, 20 dB (the clear air then lies toward the radar from it,
// and is wider).
constexpr int kRainGates = 24, kRainRecords = 120;
constexpr double kU = 6.0, kVNorth = -4.0, kFall = 7.0;
bool rain_at(int rec, int g) {
  return rec >= kRainRecords / 2 && rec < kRainRecords - 20 && g >= 4 && g < 16;
}

double radial(int beam, double w) {
  const double c = std::cos(75.0 * M_PI / 180.0),
               s = std::sin(75.0 * M_PI / 180.0);
  if (beam == 0) return w;
  return (beam == 1 ? kU : kVNorth) * c + w * s;
}

void write_rain_day(const TempDir& dir, double rain_over_clear_db,
                    double* nyquist) {
  writer::HeaderSpec h;
  h.beam_count = 3;
  h.modes[0].gate_count = kRainGates;
  h.modes[0].spectral_points = kPoints;
  h.modes[0].spectral_averages = kAverages;
  h.window1_points = kPoints;
  h.directions[0] = {"VERTICAL", 0, 90, 0};
  h.directions[1] = {"EAST", 90, 75, 0};
  h.directions[2] = {"NORTH", 0, 75, 0};
  for (int b = 0; b < 3; ++b) h.beams[b] = {static_cast<int16_t>(b), 0, 0};
  const writer::Bytes header = writer::encode_header(h);
  writer::RecordSpec probe;
  probe.datacode = 3100;
  probe.layout = writer::Layout::N;
  probe.spectra_flag = 1;
  ASSERT_EQ(write_and_open_pair(dir.path(), "d02124a.spc", header,
                                writer::encode_record(probe), 1),
            1);
  *nyquist = pda_get_nyquist_velocity();
  pda_reset();
  ASSERT_GT(*nyquist, 0.0);
  // The spectra are written on the file's own Nyquist velocity: the
  // truth's velocities scaled from the 10 m/s of known_spectrum.
  const double scale = kV / *nyquist;
  std::mt19937 rng(77);
  writer::Bytes data;
  for (int rec = 0; rec < kRainRecords; ++rec) {
    const int beam = rec % 3;
    writer::BodySpec body;
    body.datacode = 3100;
    for (int g = 0; g < kRainGates; ++g) {
      std::vector<Echo> echoes = {
          {radial(beam, 0.0) * scale, 1.0 * scale, 10.0}};
      if (rain_at(rec, g)) {
        echoes.push_back({radial(beam, -kFall) * scale, 1.5 * scale,
                          10.0 + rain_over_clear_db});
      }
      if (beam == 1 && rec < kRainRecords / 2 && rec % 4 == 1 && g >= 6 &&
          g < 12) {
        echoes.push_back({radial(beam, -5.0) * scale, 0.15 * scale, 12.0});
      }
      if (rec == kRainRecords / 2 - 2 && g >= 6 && g < 12) {
        echoes.push_back(
            {(radial(beam, 0.0) + 6.0) * scale, 0.3 * scale, 20.0});
      }
      // A passing flock: wide and falling like rain, but in one record.
      if (rec == 31 && g >= 18 && g < 21) {
        echoes.push_back({radial(beam, -kFall) * scale, 1.5 * scale, 15.0});
      }
      body.spectra.push_back(known_spectrum(echoes, rng));
      body.moments.push_back({0, 0, 0, 0});
    }
    writer::RecordSpec r;
    r.datacode = 3100;
    r.layout = writer::Layout::N;
    r.spectra_flag = 1;
    r.record_time = 1020470400 + 60 * rec;
    r.beam_index = static_cast<int16_t>(beam);
    r.spectral_averages = kAverages;
    r.body = writer::encode_body(body);
    data.append(writer::encode_record(r));
  }
  write_pair(dir.path(), "d02124a.spc", header, data);
}

std::vector<float> read_field(int file, const char* name) {
  int var = -1;
  if (nc_inq_varid(file, name, &var) != NC_NOERR) return {};
  std::vector<float> v(nc_var_length(file, var));
  nc_get_var_float(file, var, v.data());
  return v;
}

TEST(MomentsPrecipitation, ClearAirKeptBesideRainAndNoRainFlaggedInTheDryHour) {
  // Rain 15 dB over the clear air, then 20 dB (whose flank hides the
  // clear air in most oblique gates: no valley between them).
  for (const double rain_over_clear_db : {15.0, 20.0}) {
    SCOPED_TRACE("rain " + std::to_string(rain_over_clear_db) +
                 " dB over the clear air");
    TempDir dir;
    double nyquist = 0.0;
    write_rain_day(dir, rain_over_clear_db, &nyquist);
    const RunResult run =
        run_program(QUELLMAR_MOMENTS_BINARY, dir.path(),
                    {"d02124a.spc", "-o", "m.nc", "--axis", "centred"});
    ASSERT_EQ(run.status, 0) << run.err;
    int file = -1;
    ASSERT_EQ(nc_open(dir.file("m.nc").c_str(), NC_NOWRITE, &file), NC_NOERR);
    const auto vel = read_field(file, "VEL"),
               flags = read_field(file, "QC_FLAGS"),
               rain_vel = read_field(file, "PRECIP_VEL"),
               rain_width = read_field(file, "PRECIP_WIDTH"),
               rain_snr = read_field(file, "PRECIP_SNR");
    nc_close(file);
    ASSERT_EQ(vel.size(), static_cast<size_t>(kRainRecords * kRainGates));
    ASSERT_EQ(rain_vel.size(), vel.size());
    const double step = 2.0 * nyquist / kPoints;
    double width_sum = 0.0, snr_sum = 0.0;
    int rainy = 0, missed = 0, alone = 0;
    double clear_bias[3] = {0, 0, 0};
    int clear_count[3] = {0, 0, 0};
    for (int rec = 0; rec < kRainRecords; ++rec) {
      const int beam = rec % 3;
      for (int g = 0; g < kRainGates; ++g) {
        SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                     std::to_string(g));
        const size_t i = static_cast<size_t>(rec * kRainGates + g);
        const bool rain = rain_at(rec, g);
        const bool flagged =
            (static_cast<int>(flags[i]) & qc::kQcPrecipitation) != 0;
        // Never a rain flag where there is no rain, and never the rain's
        // velocity unflagged: a gate not flagged gives the clear air's.
        if (!rain) {
          EXPECT_FALSE(flagged);
        }
        if (!flagged) {
          EXPECT_EQ(rain_vel[i], -9999.0f);
          missed += rain;
          EXPECT_NEAR(vel[i], radial(beam, 0.0), 0.5 * step);
          continue;
        }
        // A gate whose peak is the rain's, or the rain's merged with the
        // clear air on its flank: precipitation alone, which the wind
        // leaves out.
        if (rain_vel[i] == vel[i]) {
          ++alone;
          continue;
        }
        // The clear air on the rain's flank is cut at the valley between
        // them: a wider margin per gate, and a bias asserted over them all.
        EXPECT_NEAR(vel[i], radial(beam, 0.0), step);
        clear_bias[beam] += vel[i] - radial(beam, 0.0);
        ++clear_count[beam];
        EXPECT_NEAR(rain_vel[i], radial(beam, -kFall), 0.5 * step);
        width_sum += rain_width[i];
        snr_sum += rain_snr[i];
        ++rainy;
      }
    }
    // The vertical beam sees the rain apart in every gate.
    EXPECT_LT(missed, (rainy + alone) / 20);
    EXPECT_GT(clear_count[0], 0);
    // Within a quarter of a spectral point (0.16 m/s); under the heavier
    // rain's flank 0.4 of a point.
    const double bias = rain_over_clear_db > 15.0 ? 0.4 : 0.25;
    for (int b = 0; b < 3; ++b) {
      if (clear_count[b] == 0) continue;
      EXPECT_NEAR(clear_bias[b] / clear_count[b], 0.0, bias * step)
          << "beam " << b;
    }
    EXPECT_NEAR(width_sum / rainy, 1.5, 0.05 * 1.5);
    EXPECT_NEAR(snr_sum / rainy, 10.0 + rain_over_clear_db, 0.3);
    std::printf(
        "rain %.0f dB over the clear air: %d gates with both, %d "
        "oblique gates of precipitation alone, %d rain gates not "
        "flagged\n",
        rain_over_clear_db, rainy, alone, missed);
#ifdef QUELLMAR_WIND_BINARY
    // The wind of the rain hour from the recomputed moments: the clear air's.
    const RunResult wind =
        run_program(QUELLMAR_WIND_BINARY, dir.path(),
                    {"d02124a.spc", "-o", "w.nc", "--csv", "w.csv", "--period",
                     "60", "--from-spectra", "--axis", "centred"});
    ASSERT_EQ(wind.status, 0) << wind.err;
    const std::string csv = read_text(dir.file("w.csv"));
    std::vector<std::vector<std::string>> rows;
    size_t at = csv.find('\n') + 1;
    while (at < csv.size()) {
      const size_t end = csv.find('\n', at);
      std::vector<std::string> cells;
      size_t c = at;
      while (true) {
        const size_t comma = csv.find(',', c);
        if (comma == std::string::npos || comma > end) {
          cells.push_back(csv.substr(c, end - c));
          break;
        }
        cells.push_back(csv.substr(c, comma - c));
        c = comma + 1;
      }
      rows.push_back(cells);
      at = end + 1;
    }
    ASSERT_EQ(rows.size(), static_cast<size_t>(2 * kRainGates));
    for (int g = 4; g < 16; ++g) {
      SCOPED_TRACE("rain hour, gate " + std::to_string(g));
      const auto& row = rows[static_cast<size_t>(kRainGates + g)];
      // Under the heavier rain the oblique beams see precipitation alone
      // in most records: no wind rather than the rain's.
      if (rain_over_clear_db > 15.0 && row[3].empty()) continue;
      ASSERT_FALSE(row[3].empty());
      EXPECT_NEAR(std::stod(row[3]), kU, 0.5);
      EXPECT_NEAR(std::stod(row[4]), kVNorth, 0.5);
      EXPECT_NEAR(std::stod(row[5]), 0.0, 0.2);
    }
#endif
  }
}

#endif  // QUELLMAR_MOMENTS_BINARY

}  // namespace
}  // namespace quellmar::test
