// quellmar-moments and its method: spectra written with known truth and
// known contamination (clutter at 0 m/s, an interference line in every
// gate, intermittent birds in one beam) through the project's writer; the
// recomputed moments must meet the truth within the method's errors, the
// stored moments of the same files (those of a strongest-peak processor)
// must not; one hand-made spectrum pins the noise estimate.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/moments/method.h"
#include "methods/moments/peak_choice.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_MOMENTS_BINARY
#include "tests/nc_read.h"
#endif

namespace quellmar::test {
namespace {

using companions::hildebrand_sekhon;

TEST(MomentsNoise, HandMadeSpectrumPinsTheNoiseSet) {
  // n = 1: the four lowest values (mean 2.5, variance 1.25 <= 6.25) are
  // noise, 100 is not. n = 10: only the lowest value passes n Q <= N^2.
  std::vector<double> v = {4, 100, 1, 3, 2};
  companions::NoiseLevel one = hildebrand_sekhon(v, 1);
  EXPECT_EQ(one.count, 4);
  EXPECT_DOUBLE_EQ(one.mean, 2.5);
  EXPECT_DOUBLE_EQ(one.threshold, 4.0);
  companions::NoiseLevel ten = hildebrand_sekhon(v, 10);
  EXPECT_EQ(ten.count, 1);
  EXPECT_DOUBLE_EQ(ten.mean, 1.0);
}

TEST(MomentsNoise, GateNoiseIsTheSortedNoiseSetOnAnyValues) {
  // The gates' noise must be exactly the noise set of their present values
  // in ascending order, whatever the spread: tiny to huge values, zeros of
  // both signs, ties, points outside the windows. Odd gates hold no zeros
  // and nothing below 1, as noise with an echo over it: their values are
  // put in order near the lowest one, the high ones apart.
  std::mt19937 rng(7);
  companions::RecordSpectra r;
  r.gates = 200;
  r.points = 96;
  r.nyquist = 10.0;
  r.averages = 1;
  r.values.resize(static_cast<size_t>(r.gates * r.points));
  r.present.resize(r.values.size());
  std::uniform_real_distribution<double> exponent(-30.0, 30.0);
  for (size_t i = 0; i < r.values.size(); ++i) {
    const bool odd = (i / static_cast<size_t>(r.points)) % 2 == 1;
    const int kind =
        odd ? 3 + static_cast<int>(rng() % 29) : static_cast<int>(rng() % 32);
    r.values[i] =
        kind == 0   ? 0.0f
        : kind == 1 ? -0.0f
        : kind == 2 ? 7.0f
        : kind < 5  ? static_cast<float>(std::pow(
                          10.0, odd ? std::fabs(exponent(rng)) : exponent(rng)))
                    : static_cast<float>(1.0 + (rng() % 1000) * 1e-3);
    r.present[i] = rng() % 10 != 0;
  }
  const companions::RecordSpectra original = r;
  companions::MomentsMethod plain;
  plain.clutter = plain.interference = false;
  std::vector<companions::GateAnalysis> gates;
  companions::analyse_record(r, plain, &gates);
  ASSERT_EQ(gates.size(), 200u);
  int usable = 0;
  for (size_t g = 0; g < gates.size(); ++g) {
    std::vector<double> present;
    for (int64_t k = 0; k < r.points; ++k) {
      const size_t i =
          g * static_cast<size_t>(r.points) + static_cast<size_t>(k);
      if (original.present[i]) present.push_back(original.values[i]);
    }
    const companions::NoiseLevel hs = hildebrand_sekhon(present, r.averages);
    const bool expect_usable = hs.count > 0 && hs.mean > 0.0;
    ASSERT_EQ((gates[g].flags & companions::kQcUnusable) == 0, expect_usable)
        << "gate " << g;
    if (!expect_usable) continue;
    ++usable;
    EXPECT_EQ(gates[g].noise, hs.mean) << "gate " << g;
  }
  EXPECT_GT(usable, 150);

  // The sort itself, value for value, against std::sort: noise-like values
  // of 1 to 32 averages (ties within a bucket, echoes far above), with and
  // without zeros and values below the noise, on 1 to 300 points.
  std::gamma_distribution<double> unit_gamma(1.0, 1.0);
  for (int trial = 0; trial < 2000; ++trial) {
    const int points = 1 + static_cast<int>(rng() % 300);
    const double shape = 1.0 + static_cast<double>(rng() % 32);
    std::gamma_distribution<double> noise(shape, 1000.0 / shape);
    std::vector<float> values(static_cast<size_t>(points));
    std::vector<unsigned char> present(values.size());
    std::vector<double> want;
    for (int k = 0; k < points; ++k) {
      const int kind = static_cast<int>(rng() % 64);
      float v = static_cast<float>(noise(rng));
      if (kind < 6) v *= static_cast<float>(1.0 + 1e4 * unit_gamma(rng));
      if (kind == 6 && trial % 3 == 0) v = 0.0f;
      if (kind == 7 && trial % 3 == 1) v = -0.0f;
      if (kind == 8) v = std::floor(v / 16.0f) * 16.0f;  // ties
      values[static_cast<size_t>(k)] = v;
      present[static_cast<size_t>(k)] = rng() % 16 != 0;
      if (present[static_cast<size_t>(k)]) want.push_back(v == 0.0f ? 0.0 : v);
    }
    std::sort(want.begin(), want.end());
    std::vector<double> got;
    companions::sort_present_values(values.data(), present.data(), points,
                                    &got);
    ASSERT_EQ(got, want) << "trial " << trial;
  }
}

#ifdef QUELLMAR_MOMENTS_BINARY

constexpr int kGates = 24;
constexpr int kPoints = 64;
constexpr int kAverages = 30;
constexpr int kRecords = 30;  // beams 0, 1, 2 in turn
constexpr double kNoise = 1000.0;
constexpr int kLine = 10;  // interference at points 10 and 11 (0-based)
constexpr int kBirdPoint = 52;

// The truth of beam b at gate g, in units of the Nyquist velocity V.
double true_velocity(int beam, int g) {
  if (beam == 0) return 0.0;  // a vertical beam in calm air
  const double v = -0.3 + 0.025 * g;
  return beam == 1 ? v : -v;
}
constexpr double kWidth = 0.05;  // of V
double true_snr_db(int g) { return 15.0 - 0.5 * g; }
bool bird_record(int record) { return record % 3 == 1 && record / 3 % 3 == 1; }
bool bird_gate(int g) { return g >= 4 && g < 16; }
bool clutter_gate(int g) { return g < 6; }

writer::HeaderSpec header() {
  writer::HeaderSpec h;
  h.beam_count = 3;
  h.modes[0].gate_count = kGates;
  h.modes[0].spectral_points = kPoints;
  h.modes[0].spectral_averages = kAverages;
  h.window1_points = kPoints;
  h.directions[0] = {"VERTICAL", 0, 90, 0};
  h.directions[1] = {"EAST", 90, 75, 0};
  h.directions[2] = {"NORTH", 0, 75, 0};
  for (int b = 0; b < 3; ++b) h.beams[b] = {static_cast<int16_t>(b), 0, 0};
  return h;
}

// Velocity of point k (0-based), in units of V.
double axis(int k) { return (k - kPoints / 2) * 2.0 / kPoints; }

// S_k = (P_s G(v_k) + N) X_k plus the contamination, G a Gaussian of unit
// sum over the points, summed over its aliases.
std::vector<float> spectrum(int record, int beam, int g, std::mt19937& rng) {
  std::gamma_distribution<double> x(kAverages, 1.0 / kAverages);
  const double ps = std::pow(10.0, true_snr_db(g) / 10.0) * kNoise * kPoints;
  const double step = 2.0 / kPoints;
  std::vector<double> signal(kPoints, 0.0);
  auto add_gaussian = [&](double mean, double width, double power) {
    for (int k = 0; k < kPoints; ++k) {
      double sum = 0.0;
      for (int alias = -1; alias <= 1; ++alias) {
        const double d = axis(k) - mean + 2.0 * alias;
        sum += std::exp(-0.5 * d * d / (width * width));
      }
      signal[k] += power * sum * step / (std::sqrt(2 * M_PI) * width);
    }
  };
  add_gaussian(true_velocity(beam, g), kWidth, ps);
  if (beam == 1 && bird_record(record) && bird_gate(g)) {
    add_gaussian(axis(kBirdPoint), 0.025, 20 * ps);
  }
  std::vector<float> s(kPoints);
  for (int k = 0; k < kPoints; ++k) {
    double v = (signal[k] + kNoise) * x(rng);
    if (k == kLine || k == kLine + 1) v += 8 * kNoise;
    if (k == kPoints / 2 && clutter_gate(g)) v += 5000 * kNoise;
    s[k] = static_cast<float>(v);
  }
  return s;
}

// The stored moments: what a processor that takes the strongest peak and
// removes nothing computes from the same spectra.
std::vector<writer::GateMoments> stored_moments(
    const std::vector<std::vector<float>>& rows, double nyquist) {
  companions::RecordSpectra r;
  r.gates = kGates;
  r.points = kPoints;
  r.nyquist = nyquist;
  r.averages = kAverages;
  for (const auto& row : rows) {
    r.values.insert(r.values.end(), row.begin(), row.end());
  }
  r.present.assign(r.values.size(), 1);
  companions::MomentsMethod simple;
  simple.clutter = simple.interference = false;
  simple.peak = companions::PeakChoice::kStrongest;
  simple.min_points = 1;
  std::vector<companions::GateAnalysis> gates;
  companions::analyse_record(r, simple, &gates);
  std::vector<writer::GateMoments> out;
  for (const auto& a : gates) {
    const companions::GateMoments m = companions::gate_moments(a, 0, kPoints);
    out.push_back(
        {static_cast<int16_t>(std::lround(m.velocity / nyquist * 1e4)),
         static_cast<uint16_t>(std::lround(m.width / nyquist * 1e4)),
         static_cast<int16_t>(std::lround(m.snr * 100)),
         static_cast<int16_t>(std::lround(m.noise_db * 100))});
  }
  return out;
}

struct Truth {
  std::string dir;
  double nyquist = 0.0;
};

// stored_negated: the stored velocities are those of spectra whose axis
// runs the other way (so --axis auto must find centred-reversed).
void write_truth(const TempDir& dir, Truth* t, bool stored_negated = false) {
  const writer::Bytes h = writer::encode_header(header());
  writer::RecordSpec probe;
  probe.datacode = 3100;
  probe.layout = writer::Layout::N;
  probe.spectra_flag = 1;
  ASSERT_EQ(write_and_open_pair(dir.path(), "d02124a.spc", h,
                                writer::encode_record(probe), 1),
            1);
  t->nyquist = pda_get_nyquist_velocity();
  pda_reset();
  ASSERT_GT(t->nyquist, 0.0);
  std::mt19937 rng(20240521);
  writer::Bytes data;
  for (int rec = 0; rec < kRecords; ++rec) {
    const int beam = rec % 3;
    writer::BodySpec body;
    body.datacode = 3100;
    for (int g = 0; g < kGates; ++g) {
      body.spectra.push_back(spectrum(rec, beam, g, rng));
    }
    body.moments = stored_moments(body.spectra, t->nyquist);
    if (stored_negated) {
      for (writer::GateMoments& m : body.moments) {
        m.velocity = static_cast<int16_t>(-m.velocity);
      }
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
  write_pair(dir.path(), "d02124a.spc", h, data);
}

// The share of agreeing gates in quellmar-moments' axis message.
double axis_agreement(const std::string& err) {
  const size_t at = err.find("velocity axis ");
  const size_t open = err.find('(', at);
  if (at == std::string::npos || open == std::string::npos) return -1.0;
  return std::atof(err.c_str() + open + 1);
}

std::vector<float> read_var(int file, const char* name) {
  int var = -1;
  if (nc_inq_varid(file, name, &var) != NC_NOERR) return {};
  std::vector<float> v(nc_var_length(file, var));
  nc_get_var_float(file, var, v.data());
  return v;
}

TEST(MomentsTruth, RecomputedMomentsMeetTheTruthTheStoredOnesDoNot) {
  TempDir dir;
  Truth t;
  write_truth(dir, &t);
  const RunResult run =
      run_program(QUELLMAR_MOMENTS_BINARY, dir.path(),
                  {"d02124a.spc", "-o", "m.nc", "--keep-stored"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("velocity axis centred ("), std::string::npos)
      << run.err;
  // The clutter of gates 0..5, seen in the oblique beams.
  EXPECT_NE(run.err.find("clutter map: 6 gate(s)"), std::string::npos)
      << run.err;
  int file = -1;
  ASSERT_EQ(nc_open(dir.file("m.nc").c_str(), NC_NOWRITE, &file), NC_NOERR);
  const auto vel = read_var(file, "VEL"), width = read_var(file, "WIDTH"),
             snr = read_var(file, "SNR"), noise = read_var(file, "NOISE"),
             flags = read_var(file, "QC_FLAGS"),
             stored = read_var(file, "VEL_STORED");
  nc_close(file);
  ASSERT_EQ(vel.size(), static_cast<size_t>(kRecords * kGates));
  const double v = t.nyquist, step = 2.0 * v / kPoints;
  int stored_off = 0, birds = 0, contaminated = 0;
  for (int rec = 0; rec < kRecords; ++rec) {
    const int beam = rec % 3;
    for (int g = 0; g < kGates; ++g) {
      const size_t i = static_cast<size_t>(rec * kGates + g);
      SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                   std::to_string(g));
      const int f = static_cast<int>(flags[i]);
      const double truth = true_velocity(beam, g) * v;
      // The mean of the ~50 noise points is within a few percent of N.
      EXPECT_NEAR(noise[i], 30.0, 0.75);
      EXPECT_NEAR(vel[i], truth, 0.5 * step);
      EXPECT_TRUE(f & companions::kQcInterference);
      // A dry file: never a rain flag.
      EXPECT_FALSE(f & companions::kQcPrecipitation);
      EXPECT_EQ((f & companions::kQcClutter) != 0, clutter_gate(g));
      const bool bird = beam == 1 && bird_record(rec) && bird_gate(g);
      EXPECT_EQ((f & companions::kQcContinuity) != 0, bird);
      birds += bird;
      // Where clutter was replaced on top of the calm echo, the replaced
      // points take some of its power: only its velocity is asserted.
      if (!(beam == 0 && clutter_gate(g))) {
        EXPECT_NEAR(width[i], kWidth * v, 0.25 * kWidth * v);
        EXPECT_NEAR(snr[i], true_snr_db(g), 1.5);
      }
      // Clutter outweighs the oblique beams' echoes in the low gates.
      contaminated += bird || (beam != 0 && clutter_gate(g));
      stored_off += std::fabs(stored[i] - truth) > 0.5 * step;
    }
  }
  EXPECT_GT(birds, 0);
  EXPECT_GE(stored_off, contaminated);
}

TEST(MomentsTruth, MomentsFileRefusedAndWindTakesRecomputedMoments) {
  TempDir dir;
  Truth t;
  write_truth(dir, &t);
  RunResult run = run_program(QUELLMAR_MOMENTS_BINARY, dir.path(),
                              {"d02124a.mom", "-o", "m.nc"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("quellmar-moments needs a spectra file (d*.spc)"),
            std::string::npos);
  EXPECT_FALSE(file_exists(dir.file("m.nc")));
  run = run_program(QUELLMAR_MOMENTS_BINARY, dir.path(), {"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option :
       {"--radar", "--peak", "--clutter-points", "--no-clutter",
        "--no-interference", "--min-points", "--axis", "--keep-stored",
        "--deflate", "-o"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
#ifdef QUELLMAR_WIND_BINARY
  // The vertical beam: w from the recomputed moments is the calm truth;
  // from the stored ones it is not everywhere.
  for (const char* extra : {"--from-spectra", ""}) {
    std::vector<std::string> args = {"d02124a.spc", "-o",       "w.nc", "--csv",
                                     "w.csv",       "--period", "60"};
    if (*extra) args.push_back(extra);
    run = run_program(QUELLMAR_WIND_BINARY, dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string csv = read_text(dir.file("w.csv"));
    EXPECT_NE(csv.find("\n"), std::string::npos);
    if (*extra) {
      EXPECT_NE(run.err.find("velocity axis centred"), std::string::npos);
    }
  }
#endif
}

// --axis auto compares each record's recomputed velocities with its own
// stored ones: on the known-truth file nearly every confident gate agrees
// under the axis the stored velocities follow, either way round.
TEST(MomentsTruth, AutoAxisFollowsTheStoredVelocitiesEitherWay) {
  for (const bool negated : {false, true}) {
    SCOPED_TRACE(negated ? "stored negated" : "stored as recomputed");
    TempDir dir;
    Truth t;
    write_truth(dir, &t, negated);
    const RunResult run = run_program(QUELLMAR_MOMENTS_BINARY, dir.path(),
                                      {"d02124a.spc", "-o", "m.nc"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string axis = negated ? "velocity axis centred-reversed ("
                                     : "velocity axis centred (";
    EXPECT_NE(run.err.find(axis), std::string::npos) << run.err;
    EXPECT_GE(axis_agreement(run.err), 90.0) << run.err;
  }
}

#endif  // QUELLMAR_MOMENTS_BINARY

}  // namespace
}  // namespace quellmar::test
