// quellmar-wind: consensus averaging and the beam-swinging fit through
// their operations, and the program as built on pairs made with the
// project's writer from a known wind field.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "methods/consensus/consensus.h"
#include "methods/csv/wind_csv.h"
#include "methods/wind/fit.h"
#include "methods/wind/profiles.h"
#include "methods/wind/unfold.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_WIND_BINARY
#include "tests/nc_read.h"
#endif
#ifdef QUELLMAR_BUFR_DUMP
#include "tests/bufr_read.h"
#endif

namespace {

using quellmar::test::quote;

using quellmar::companions::Consensus;
using quellmar::companions::ConsensusRule;
using quellmar::companions::GateSample;

// ---------------------------------------------------------------------------
// Consensus

Consensus of(const std::vector<float>& velocities, ConsensusRule rule = {}) {
  std::vector<GateSample> samples;
  for (float v : velocities) samples.push_back({v, 10.f});
  return quellmar::companions::consensus(samples, rule);
}

TEST(WindConsensus, LargestAgreeingSubsetThenSmallerSpreadThenLowerValues) {
  // {1.75 .. 3.75} holds four values within 2 m/s; {0 .. 1.75} only three.
  Consensus c = of({3.25f, 0.0f, 10.0f, 1.75f, 3.0f, 0.5f, 3.75f});
  EXPECT_TRUE(c.accepted);
  EXPECT_EQ(c.used, 4);
  EXPECT_EQ(c.available, 7);
  EXPECT_NEAR(c.velocity, (1.75 + 3.0 + 3.25 + 3.75) / 4, 1e-6);

  // Two subsets of three: the one of spread 1.0 wins over spread 1.5.
  ConsensusRule any;
  any.min_fraction = 0.0;
  c = of({1.0f, 2.0f, 2.5f, 5.0f, 5.5f, 6.0f}, any);
  EXPECT_EQ(c.used, 3);
  EXPECT_NEAR(c.velocity, 5.5, 1e-6);

  // Same size, same spread: the lower one.
  any.window = 1.0;
  c = of({6.0f, 1.0f, 5.0f, 2.0f}, any);
  EXPECT_EQ(c.used, 2);
  EXPECT_NEAR(c.velocity, 1.5, 1e-6);

  // Values exactly one window apart agree.
  ConsensusRule exact;
  exact.window = 0.5;
  c = of({2.0f, 2.5f, 9.0f}, exact);
  EXPECT_TRUE(c.accepted);
  EXPECT_EQ(c.used, 2);
}

TEST(WindConsensus, AcceptsAtLeastTheFractionOfRecordsAndTwoValues) {
  // 2 of 5 agree: 40 %, accepted; 2 of 6: not, and nothing counts as used.
  EXPECT_TRUE(of({1.0f, 1.5f, 8.0f, 12.0f, 16.0f}).accepted);
  const Consensus rejected = of({1.0f, 1.5f, 8.0f, 12.0f, 16.0f, 20.0f});
  EXPECT_FALSE(rejected.accepted);
  EXPECT_EQ(rejected.used, 0);
  EXPECT_EQ(rejected.available, 6);
  // The fraction counts the records that hold the gate, dropped values too:
  // 2 agreeing of 6, the other 4 NaN, is still 2 of 6.
  const Consensus mostly_nan = of({1.0f, NAN, NAN, 1.5f, NAN, NAN});
  EXPECT_FALSE(mostly_nan.accepted);
  EXPECT_EQ(mostly_nan.available, 6);
  ConsensusRule any;
  any.min_fraction = 0.0;
  EXPECT_FALSE(of({4.0f}, any).accepted);
  EXPECT_FALSE(of({}, any).accepted);
}

TEST(WindConsensus, MinimumSnrDropsValuesButNotRecords) {
  ConsensusRule rule;
  rule.min_snr = 0.0;
  std::vector<GateSample> samples = {{1.0f, 5.f},  {1.2f, -3.f}, {1.1f, 0.f},
                                     {9.0f, 20.f}, {1.3f, NAN},  {NAN, 9.f},
                                     {1.05f, 2.f}};
  const Consensus c = quellmar::companions::consensus(samples, rule);
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(c.available, 7);
  EXPECT_EQ(c.used, 3);  // 1.0, 1.05 and 1.1; 1.2 and 1.3 are dropped
  EXPECT_NEAR(c.velocity, (1.0 + 1.05 + 1.1) / 3, 1e-6);
  EXPECT_NEAR(c.mean_snr, (5.0 + 2.0 + 0.0) / 3, 1e-6);
}

TEST(WindConsensus, OnTheCircleOfWidth2VAndAtLeastTheMinimumCount) {
  const double nyquist = 10.0;
  ConsensusRule rule;
  rule.min_count = 3;
  // A true 9.95 m/s with noise across +V: half the values are stored near
  // -V. On the circle they are one set, averaged about its centre.
  const std::vector<GateSample> edge = {
      {9.6f, 10.f}, {-9.9f, 10.f},  {9.9f, 10.f}, {-9.7f, 10.f},
      {9.8f, 10.f}, {-9.95f, 10.f}, {3.0f, 10.f}};
  std::vector<GateSample> s = edge;
  Consensus c = quellmar::companions::consensus(s, rule, nyquist);
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(c.used, 6);
  EXPECT_NEAR(c.velocity, (9.6 + 10.1 + 9.9 + 10.3 + 9.8 + 10.05) / 6, 1e-5);
  // A set whose centre lies beyond +V comes back folded.
  s = {{9.9f, 1.f}, {-9.8f, 2.f}, {-9.7f, 3.f}, {0.0f, 4.f}};
  c = quellmar::companions::consensus(s, rule, nyquist);
  ASSERT_TRUE(c.accepted);
  EXPECT_NEAR(c.velocity, (9.9 + 10.2 + 10.3) / 3 - 20.0, 1e-5);
  EXPECT_NEAR(c.mean_snr, 2.0, 1e-6);
  // Without V the values lie on a line and the set splits in two.
  s = edge;
  EXPECT_EQ(quellmar::companions::consensus(s, rule).used, 3);
  // Two agreeing values of four are half of them but fewer than 3.
  s = {{1.0f, 1.f}, {1.5f, 1.f}, {6.0f, 1.f}, {-6.0f, 1.f}};
  EXPECT_FALSE(quellmar::companions::consensus(s, rule, nyquist).accepted);
  rule.min_count = 2;
  s = {{1.0f, 1.f}, {1.5f, 1.f}, {6.0f, 1.f}, {-6.0f, 1.f}};
  EXPECT_TRUE(quellmar::companions::consensus(s, rule, nyquist).accepted);
}

// ---------------------------------------------------------------------------
// Unfolding beyond the Nyquist velocity

float folded(double v, double nyquist) {
  return static_cast<float>(v - 2 * nyquist *
                                    std::floor((v + nyquist) / (2 * nyquist)));
}

TEST(WindUnfold, AJetBeyondVOverAnUnambiguousProfileAndWhereItGivesUp) {
  using quellmar::companions::kGateUnfolded;
  using quellmar::companions::kGateUnfoldGaveUp;
  const double nyquist = 10.0;
  const size_t gates = 12;
  const quellmar::companions::UnfoldRule rule;
  std::vector<float> truth, values;
  for (size_t g = 0; g < gates; ++g) truth.push_back(2.0f + 2.2f * g);
  for (float t : truth) values.push_back(folded(t, nyquist));
  std::vector<uint8_t> flags(gates, 0);
  quellmar::companions::unfold_column(values.data(), gates, nullptr, nyquist,
                                      rule, flags.data());
  for (size_t g = 0; g < gates; ++g) {
    SCOPED_TRACE(g);
    EXPECT_NEAR(values[g], truth[g], 1e-5);
    EXPECT_EQ(flags[g], truth[g] >= nyquist ? kGateUnfolded : 0);
  }

  // A gate of noise inside the jet, 8 m/s off its neighbours: that gate
  // gives up, the ones above carry on from the gate below it; a gate
  // without a value stays without one.
  values.clear();
  for (float t : truth) values.push_back(folded(t, nyquist));
  values[7] = folded(truth[7] + 8.0, nyquist);
  values[9] = NAN;
  flags.assign(gates, 0);
  quellmar::companions::unfold_column(values.data(), gates, nullptr, nyquist,
                                      rule, flags.data());
  for (size_t g = 0; g < gates; ++g) {
    SCOPED_TRACE(g);
    if (g == 7 || g == 9) {
      EXPECT_TRUE(std::isnan(values[g]));
      EXPECT_EQ((flags[g] & kGateUnfoldGaveUp) != 0, g == 7);
      continue;
    }
    EXPECT_NEAR(values[g], truth[g], 1e-5);
  }

  // Folded all the way down (13 to 14 m/s, stored near -7 m/s): nothing
  // is unambiguous and there is no period before, so every gate gives up;
  // with the previous period's profile the same values unfold.
  std::vector<float> high, previous;
  for (size_t g = 0; g < gates; ++g) {
    previous.push_back(13.0f + 0.1f * g);
    high.push_back(folded(13.05 + 0.1 * g, nyquist));
  }
  std::vector<float> alone = high;
  flags.assign(gates, 0);
  quellmar::companions::unfold_column(alone.data(), gates, nullptr, nyquist,
                                      rule, flags.data());
  for (size_t g = 0; g < gates; ++g) {
    EXPECT_TRUE(std::isnan(alone[g])) << g;
    EXPECT_EQ(flags[g], kGateUnfoldGaveUp) << g;
  }
  flags.assign(gates, 0);
  quellmar::companions::unfold_column(high.data(), gates, previous.data(),
                                      nyquist, rule, flags.data());
  for (size_t g = 0; g < gates; ++g) {
    EXPECT_NEAR(high[g], 13.05 + 0.1 * g, 1e-5) << g;
  }
}

// ---------------------------------------------------------------------------
// Fit

quellmar::companions::FitRow row(double azimuth, double elevation, double u,
                                 double v, double w) {
  const quellmar::companions::BeamPointing p =
      quellmar::companions::beam_pointing(azimuth, elevation);
  return {p, u * p.east + v * p.north + w * p.up};
}

TEST(WindFit, SolvesFiveAndThreeBeamsAndNeedsTwoHorizontalDirections) {
  const double u = 7.5, v = -3.25, w = 0.4;
  const quellmar::companions::FitRow z = row(0, 90, u, v, w),
                                     n = row(0, 75, u, v, w),
                                     e = row(90, 75, u, v, w),
                                     s = row(180, 75, u, v, w),
                                     west = row(270, 75, u, v, w);
  for (const auto& rows :
       std::vector<std::vector<quellmar::companions::FitRow>>{
           {z, n, e, s, west}, {z, n, e}, {n, e, s}}) {
    const quellmar::companions::WindFit fit =
        quellmar::companions::fit_wind(rows);
    ASSERT_TRUE(fit.ok) << rows.size();
    EXPECT_NEAR(fit.u, u, 1e-9);
    EXPECT_NEAR(fit.v, v, 1e-9);
    EXPECT_NEAR(fit.w, w, 1e-9);
    EXPECT_NEAR(fit.residual, 0.0, 1e-9);
  }
  // North and south lie on one horizontal line; two oblique beams without
  // a vertical one are too few; vertical beams alone say nothing of u, v.
  EXPECT_FALSE(quellmar::companions::fit_wind({z, n, s}).ok);
  EXPECT_FALSE(quellmar::companions::fit_wind({n, e}).ok);
  EXPECT_FALSE(quellmar::companions::fit_wind({z, z, z}).ok);
  // Horizontal beams leave w undetermined.
  EXPECT_FALSE(
      quellmar::companions::fit_wind(
          {row(0, 0, u, v, w), row(90, 0, u, v, w), row(180, 0, u, v, w)})
          .ok);

  // An inconsistent beam shows in the RMS residual.
  quellmar::companions::FitRow off = e;
  off.radial_velocity += 1.0;
  const quellmar::companions::WindFit fit =
      quellmar::companions::fit_wind({z, n, off, s, west});
  ASSERT_TRUE(fit.ok);
  EXPECT_GT(fit.residual, 0.1);
}

TEST(WindFit, DirectionIsWhereTheWindComesFrom) {
  EXPECT_NEAR(quellmar::companions::wind_from_direction(0, -5), 0.0,
              1e-9);  // from north
  EXPECT_NEAR(quellmar::companions::wind_from_direction(-5, 0), 90.0,
              1e-9);  // from east
  EXPECT_NEAR(quellmar::companions::wind_from_direction(3, 3), 225.0, 1e-9);
  EXPECT_NEAR(quellmar::companions::wind_from_direction(5, -1e-300), 270.0,
              1e-9);
  EXPECT_EQ(quellmar::companions::wind_from_direction(0, 0), 0.0);
  EXPECT_NEAR(quellmar::companions::wind_speed(3, 4), 5.0, 1e-12);
}

// A wind from just west of north: the direction rounds up to 360 in single
// precision (found by fuzzing), and to 360.0 with one decimal in the CSV.
TEST(WindFit, DirectionJustBelow360IsWrittenAsZero) {
  const int32_t t0 = 1020470400;
  const double c = std::cos(75 * std::numbers::pi / 180);
  std::vector<quellmar::companions::BeamSeries> series(3);
  const int16_t azimuths[3] = {0, 0, 90}, elevations[3] = {90, 75, 75};
  // Period 0: u = 1e-7, period 1: u = 5 tan(0.03 degrees); v = -5, w = 0.
  const double u[2] = {1e-7, 5 * std::tan(0.03 * std::numbers::pi / 180)};
  for (int b = 0; b < 3; ++b) {
    quellmar::companions::BeamSeries& s = series[static_cast<size_t>(b)];
    s.beam = b;
    s.geometry = {azimuths[b], static_cast<float>(elevations[b]), 3000, 0, 700};
    for (int p = 0; p < 2; ++p) {
      const float vr = static_cast<float>(b == 0   ? 0.0
                                          : b == 1 ? -5 * c
                                                   : u[p] * c);
      const std::vector<float> vel(4, vr), snr(4, 10.f);
      for (int r = 0; r < 3; ++r) {
        s.add(t0 + 3600 * p + 60 * r, vel.data(), snr.data(), 4);
      }
    }
  }
  const std::vector<quellmar::companions::ModeProfiles> modes =
      quellmar::companions::compute_profiles(
          series, quellmar::companions::WindMethod{});
  ASSERT_EQ(modes.size(), 1u);
  const quellmar::companions::ModeProfiles& m = modes[0];
  ASSERT_EQ(m.periods.size(), 2u);
  EXPECT_EQ(m.direction[m.level(0, 0)], 0.0f);
  EXPECT_NEAR(m.direction[m.level(1, 0)], 359.97, 1e-3);
  const std::string csv = quellmar::companions::wind_csv(modes);
  EXPECT_EQ(csv.find("360.0"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",5.000,0.0,"), std::string::npos) << csv;
}

TEST(WindPeriods, AlignToMidnightAndEndThere) {
  const int64_t day = 1020384000;  // 2002-05-03 00:00:00 UTC
  quellmar::companions::Period p =
      quellmar::companions::period_of(day + 3599, 60);
  EXPECT_EQ(p.start, day);
  EXPECT_EQ(p.end, day + 3600);
  p = quellmar::companions::period_of(day - 1, 60);
  EXPECT_EQ(p.start, day - 3600);
  // 7 minutes do not divide the day: the last period ends at midnight.
  p = quellmar::companions::period_of(day - 1, 7);
  EXPECT_EQ(p.start, day - 86400 + 205 * 420);
  EXPECT_EQ(p.end, day);
  EXPECT_EQ(quellmar::companions::period_of(day, 7).start, day);
  EXPECT_EQ(quellmar::companions::period_of(-1, 60).start, -3600);
}

#ifdef QUELLMAR_WIND_BINARY

// ---------------------------------------------------------------------------
// The program on pairs with a known wind field

namespace fs = std::filesystem;
using quellmar::writer::Bytes;

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr int64_t kDay124 = 1020470400;  // 2002-05-04 00:00:00 UTC
constexpr float kFill = -9999.0f;

// The Nyquist velocity of the writer's default timing (91500 hundredths of
// a MHz, ipp 40000 ns, 100 integrations) as the decoder holds it, and one
// velocity count: a stored velocity is count x V / 10000 in both
// encodings.
const double kNyquist =
    static_cast<float>(149.9 / (91500 / 100.0) * 5e8 / 40000.0 / 100.0);
const double kCount = kNyquist / 10000.0;

struct Wind {
  double u, v, w;
};

// A sheared wind, and the largest second derivatives of its components
// along height (m/s per m^2).
Wind sheared(double z) {
  return {6.0 + 3.0 * std::sin(z / 400.0), -4.0 + 2.0 * std::cos(z / 300.0),
          0.3 * std::sin(z / 500.0)};
}
constexpr double kCurveU = 3.0 / (400.0 * 400.0);
constexpr double kCurveV = 2.0 / (300.0 * 300.0);
constexpr double kCurveW = 0.3 / (500.0 * 500.0);

double degrees(int16_t stored) {
  return stored > 90 ? stored / 100.0 : static_cast<double>(stored);
}

struct BeamUse {
  int16_t direction;
  int16_t mode;
};
struct Direction {
  int16_t azimuth;
  int16_t elevation;  // as stored
};

const std::vector<Direction> kFive = {
    {0, 90}, {0, 75}, {90, 75}, {180, 75}, {270, 75}};

// Mode 0: gates of 105 m slant range from 450 m, 12 of them; mode 1: 210 m
// from 600 m, 8 of them.
quellmar::writer::HeaderSpec wind_header(
    const std::vector<Direction>& directions,
    const std::vector<BeamUse>& beams) {
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header(12, 64);
  h.modes[0].first_gate_delay_ns = 3000;
  h.modes[0].gate_spacing_ns = 700;
  h.modes[1] = h.modes[0];
  h.modes[1].first_gate_delay_ns = 4000;
  h.modes[1].gate_spacing_ns = 1400;
  h.modes[1].gate_count = 8;
  h.beam_count = static_cast<int16_t>(beams.size());
  for (size_t d = 0; d < directions.size(); ++d) {
    h.directions[d].name = "D" + std::to_string(d);
    h.directions[d].azimuth = directions[d].azimuth;
    h.directions[d].elevation = directions[d].elevation;
  }
  for (size_t b = 0; b < beams.size(); ++b) {
    h.beams[b].direction_index = beams[b].direction;
    h.beams[b].mode_index = beams[b].mode;
  }
  return h;
}

std::vector<BeamUse> beams_of(std::initializer_list<int16_t> directions,
                              int16_t mode = 0) {
  std::vector<BeamUse> out;
  for (int16_t d : directions) out.push_back({d, mode});
  return out;
}

// Height above the radar of gate g of a mode along an elevation (exact
// sine; the program's single-precision one differs by under 1e-3 m here).
double gate_height(const quellmar::writer::ModeSpec& mode, int g,
                   double elevation) {
  return (mode.first_gate_delay_ns - mode.delay_offset_ns +
          g * mode.gate_spacing_ns) *
         0.15 * std::sin(elevation * kDegree);
}

struct Recipe {
  quellmar::writer::HeaderSpec header;
  std::function<Wind(int mode, double z)> wind = [](int, double z) {
    return sheared(z);
  };
  // Zero-mean noise: +jitter in even minutes, -jitter in odd ones.
  double jitter = 0.3;
  // Replaces the radial velocity of a beam's record in an epoch minute
  // (bird echoes); returns false to keep the clear-air value.
  std::function<bool(int beam, int64_t minute, double* vr)> replace;
  // Adds to the radial velocity of a beam's gate in an epoch minute.
  std::function<double(int beam, int64_t minute, int gate)> add;
  // The Nyquist velocity of the header's timing: a velocity count is
  // nyquist / 10000, and with fold the radial velocities are stored
  // folded onto [-V, V), as a profiler stores them.
  double nyquist = kNyquist;
  bool fold = false;
  // Records every minute_step minutes.
  int minute_step = 1;
  // Stored positive toward the radar (--velocity-sign toward).
  bool toward = false;
  // The whole gate of a beam's record in an epoch minute (velocity, width
  // in m/s and SNR in dB); returns false to keep the clear air's (width 0,
  // SNR 15 - g/2 dB).
  std::function<bool(int beam, int64_t minute, int gate, double* vr,
                     double* width, double* snr_db)>
      gate;
};

// One record per beam and minute, from epoch minute first to end
// (exclusive), the beams spread over the minute, in the 16-bit (2100) or
// x0xx (2000) encoding.
Bytes wind_records(const Recipe& r, int64_t first, int64_t end,
                   int16_t datacode) {
  const quellmar::writer::HeaderSpec& h = r.header;
  Bytes data;
  const double count = r.nyquist / 10000.0;
  for (int64_t minute = first; minute < end; minute += r.minute_step) {
    for (int b = 0; b < h.beam_count; ++b) {
      const int mode_index = h.beams[b].mode_index;
      const quellmar::writer::ModeSpec& mode = h.modes[mode_index];
      const quellmar::writer::DirectionSpec& d =
          h.directions[h.beams[b].direction_index];
      const double el = degrees(d.elevation), az = d.azimuth;
      const double east = std::sin(az * kDegree) * std::cos(el * kDegree);
      const double north = std::cos(az * kDegree) * std::cos(el * kDegree);
      const double up = std::sin(el * kDegree);
      quellmar::writer::BodySpec body;
      body.datacode = datacode;
      for (int g = 0; g < mode.gate_count; ++g) {
        const Wind wind = r.wind(mode_index, gate_height(mode, g, el));
        double vr = wind.u * east + wind.v * north + wind.w * up +
                    (minute % 2 == 0 ? r.jitter : -r.jitter);
        if (r.replace) r.replace(b, minute, &vr);
        if (r.add) vr += r.add(b, minute, g);
        double width = 0.0, snr_db = 15.0 - 0.5 * g;
        const bool own = r.gate && r.gate(b, minute, g, &vr, &width, &snr_db);
        if (r.fold) {
          vr -= 2 * r.nyquist * std::floor((vr + r.nyquist) / (2 * r.nyquist));
        }
        if (r.toward) vr = -vr;
        quellmar::writer::GateMoments m;
        m.velocity = static_cast<int16_t>(std::lround(vr / count));
        m.width = static_cast<uint16_t>(std::lround(width / count));
        const bool wide = quellmar::writer::uses_16bit_moments(datacode);
        m.snr = static_cast<int16_t>(wide ? 1500 - 50 * g : 15 - g / 2);
        if (own) {
          m.snr = static_cast<int16_t>(wide ? std::lround(100 * snr_db)
                                            : std::lround(snr_db));
        }
        m.noise_or_aux = static_cast<int16_t>(wide ? -4500 : -45);
        body.moments.push_back(m);
      }
      quellmar::writer::RecordSpec rec;
      rec.datacode = datacode;
      rec.layout = quellmar::writer::Layout::M;
      rec.record_time =
          static_cast<int32_t>(minute * 60 + b * 60 / h.beam_count);
      rec.beam_index = static_cast<int16_t>(b);
      // A 16-bit layout M record is long enough for the reader to take the
      // override words as present: they are written (with the header's
      // values).
      rec.has_overrides = quellmar::writer::uses_16bit_moments(datacode);
      rec.coherent_integrations = mode.coherent_integrations;
      rec.spectral_averages = mode.spectral_averages;
      rec.body = quellmar::writer::encode_body(body);
      data.append(quellmar::writer::encode_record(rec));
    }
  }
  return data;
}

quellmar::test::RunResult run_command(const std::string& dir,
                                      const std::string& binary,
                                      const std::vector<std::string>& args) {
  return quellmar::test::run_program(binary, dir, args);
}

quellmar::test::RunResult wind(const std::string& dir,
                               const std::vector<std::string>& args) {
  return run_command(dir, QUELLMAR_WIND_BINARY, args);
}

// One mode group of a wind file, read with the netCDF library.
class ModeGroup {
 public:
  ModeGroup(const std::string& path, int mode) {
    ok_ = nc_open(path.c_str(), NC_NOWRITE, &file_) == NC_NOERR &&
          nc_inq_grp_ncid(file_, ("mode_" + std::to_string(mode)).c_str(),
                          &group_) == NC_NOERR;
  }
  ~ModeGroup() {
    if (file_ >= 0) nc_close(file_);
  }
  bool ok() const { return ok_; }
  size_t dim(const char* name) const {
    int d = -1;
    size_t n = 0;
    EXPECT_EQ(nc_inq_dimid(group_, name, &d), NC_NOERR) << name;
    nc_inq_dimlen(group_, d, &n);
    return n;
  }
  std::vector<float> floats(const char* name) const {
    std::vector<float> v(length(name));
    if (!v.empty()) nc_get_var_float(group_, var(name), v.data());
    return v;
  }
  std::vector<double> doubles(const char* name) const {
    std::vector<double> v(length(name));
    if (!v.empty()) nc_get_var_double(group_, var(name), v.data());
    return v;
  }
  std::vector<int> ints(const char* name) const {
    std::vector<int> v(length(name));
    if (!v.empty()) nc_get_var_int(group_, var(name), v.data());
    return v;
  }
  std::string text_att(const char* variable, const char* name) const {
    size_t len = 0;
    const int v = var(variable);
    if (nc_inq_attlen(group_, v, name, &len) != NC_NOERR) return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(group_, v, name, s.data());
    return s;
  }
  int int_att(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_get_att_int(group_, NC_GLOBAL, name, &v), NC_NOERR) << name;
    return v;
  }
  std::string root_text(const char* name) const {
    size_t len = 0;
    if (nc_inq_attlen(file_, NC_GLOBAL, name, &len) != NC_NOERR)
      return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(file_, NC_GLOBAL, name, s.data());
    return s;
  }
  // Every float variable of the group, for the checks that hold for all.
  std::vector<std::string> float_variables() const {
    int n = 0;
    nc_inq_varids(group_, &n, nullptr);
    std::vector<int> ids(static_cast<size_t>(n));
    nc_inq_varids(group_, &n, ids.data());
    std::vector<std::string> names;
    for (int id : ids) {
      nc_type type;
      char name[NC_MAX_NAME + 1];
      nc_inq_var(group_, id, name, &type, nullptr, nullptr, nullptr);
      if (type == NC_FLOAT || type == NC_DOUBLE) names.push_back(name);
    }
    return names;
  }

 private:
  int var(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(group_, name, &v), NC_NOERR) << name;
    return v;
  }
  size_t length(const char* name) const {
    return quellmar::test::nc_var_length(group_, var(name));
  }
  int file_ = -1;
  int group_ = -1;
  bool ok_ = false;
};

// How far the retrieved winds may lie from the truth, worked out from the
// two errors of a beam's consensus value at a grid height:
//   storage: a stored velocity is rounded to one count (V/10000 m/s), so a
//     mean of stored values lies within half a count of the mean of the
//     true values; the jitter sums to zero over each period's records;
//   interpolation: an oblique beam's value at a grid height is linear
//     between two gates dh apart in height, off by at most M dh^2 / 8 for
//     a radial velocity whose second derivative along height is at most M;
//     the grid beam's own values need none.
// With elevation e (c = cos e, s = sin e) and these per-beam errors d_grid
// (storage) and d (storage + interpolation):
//   five beams: u = (Vr_E - Vr_W) / 2c, |du| <= d / c (v alike);
//     w = (Vr_Z + s sum Vr_oblique) / (1 + 4 s^2),
//     |dw| <= (d_grid + 4 s d) / (1 + 4 s^2) <= d (1 + 4s) / (1 + 4s^2);
//   three beams (Z, N, E): w = Vr_Z, u = (Vr_E - s w) / c,
//     |du| <= (d + s d_grid) / c, |dw| <= d_grid.
// The bounds below cover both, plus 1e-5 m/s for single-precision values.
struct Bound {
  double uv = 0, w = 0;
};

Bound wind_bound(double elevation_deg, double height_step_m,
                 bool interpolated) {
  const double c = std::cos(elevation_deg * kDegree);
  const double s = std::sin(elevation_deg * kDegree);
  const double storage = 0.5 * kCount;
  const double curve = c * std::max(kCurveU, kCurveV) + s * kCurveW;
  const double interpolation =
      interpolated ? curve * height_step_m * height_step_m / 8.0 : 0.0;
  const double d = storage + interpolation;
  Bound b;
  b.uv = (d + s * storage) / c + 1e-5;
  b.w = d * (1 + 4 * s) / (1 + 4 * s * s) + 1e-5;
  return b;
}

// Checks a mode's profiles against the truth: present and within the
// bound where every beam reaches the height, else missing.
void expect_winds(const ModeGroup& g, const std::function<Wind(double)>& truth,
                  const Bound& bound, const std::vector<bool>& present,
                  const std::vector<size_t>& periods, const char* what) {
  const std::vector<float> height = g.floats("height");
  const std::vector<float> u = g.floats("eastward_wind");
  const std::vector<float> v = g.floats("northward_wind");
  const std::vector<float> w = g.floats("upward_air_velocity");
  const std::vector<float> speed = g.floats("wind_speed");
  const std::vector<float> dir = g.floats("wind_from_direction");
  ASSERT_EQ(present.size(), height.size()) << what;
  for (size_t p : periods) {
    for (size_t k = 0; k < height.size(); ++k) {
      const size_t at = p * height.size() + k;
      SCOPED_TRACE(std::string(what) + ": period " + std::to_string(p) +
                   ", height " + std::to_string(height[k]));
      if (!present[k]) {
        EXPECT_EQ(u[at], kFill);
        EXPECT_EQ(w[at], kFill);
        EXPECT_EQ(dir[at], kFill);
        continue;
      }
      const Wind t = truth(height[k]);
      EXPECT_NEAR(u[at], t.u, bound.uv);
      EXPECT_NEAR(v[at], t.v, bound.uv);
      EXPECT_NEAR(w[at], t.w, bound.w);
      EXPECT_NEAR(speed[at], std::hypot(u[at], v[at]), 1e-4);
      const double from =
          std::fmod(std::atan2(-u[at], -v[at]) / kDegree + 360.0, 360.0);
      EXPECT_NEAR(dir[at], from, 1e-3);
    }
  }
}

// Grid heights that every oblique beam at elevation e of a mode reaches.
std::vector<bool> reached(const quellmar::writer::ModeSpec& mode,
                          const std::vector<float>& height, double e) {
  const double low = gate_height(mode, 0, e);
  const double high = gate_height(mode, mode.gate_count - 1, e);
  std::vector<bool> out;
  for (float z : height) out.push_back(z >= low - 1e-3 && z <= high + 1e-3);
  return out;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    std::vector<std::string> fields;
    size_t f = 0;
    for (;;) {
      const size_t comma = line.find(',', f);
      fields.push_back(line.substr(f, comma - f));
      if (comma == std::string::npos) break;
      f = comma + 1;
    }
    rows.push_back(fields);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return rows;
}

TEST(WindProfiles, KnownShearedWindFromFiveAndThreeBeamsAcrossMidnight) {
  const int64_t m0 = kDay124 / 60;
  for (const bool three : {false, true}) {
    SCOPED_TRACE(three ? "three beams" : "five beams");
    quellmar::test::TempDir dir;
    Recipe r;
    r.header = wind_header(
        kFive, three ? beams_of({0, 1, 2}) : beams_of({0, 1, 2, 3, 4}));
    // Day 123's file runs past midnight into day 124, where day 124's
    // file goes on: the period 00:00-01:00 holds records of both, in both
    // encodings.
    const Bytes header = quellmar::writer::encode_header(r.header);
    quellmar::test::write_pair(dir.path(), "d02123a.mom", header,
                               wind_records(r, m0 - 120, m0 + 30, 2100));
    quellmar::test::write_pair(dir.path(), "d02124a.mom", header,
                               wind_records(r, m0 + 30, m0 + 120, 2000));
    const quellmar::test::RunResult run =
        wind(dir.path(),
             {"d02124a.mom", "d02123a.mom", "-o", "w.nc", "--csv", "w.csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    ModeGroup g(dir.file("w.nc"), 0);
    ASSERT_TRUE(g.ok());
    EXPECT_EQ(g.root_text("modes"), "0");
    ASSERT_EQ(g.dim("time"), 4u);
    ASSERT_EQ(g.dim("height"), 12u);
    const std::vector<double> time = g.doubles("time");
    const std::vector<double> bounds = g.doubles("time_bounds");
    for (size_t p = 0; p < 4; ++p) {
      const double start = static_cast<double>(kDay124 + 3600 * (p - 2.0));
      EXPECT_EQ(bounds[2 * p], start);
      EXPECT_EQ(bounds[2 * p + 1], start + 3600);
      EXPECT_EQ(time[p], start + 1800);
    }
    const std::vector<float> height = g.floats("height");
    for (size_t k = 0; k < 12; ++k) EXPECT_NEAR(height[k], 450 + 105 * k, 1e-3);
    // Every record of the period after midnight counts, from both files.
    const std::vector<int> available = g.ints("n_available");
    const std::vector<int> used = g.ints("n_used");
    const size_t beams = three ? 3 : 5;
    EXPECT_EQ(available[(2 * beams + 1) * 12 + 4], 60);
    EXPECT_EQ(used[(2 * beams + 1) * 12 + 4], 60);

    const std::vector<bool> present = reached(r.header.modes[0], height, 75);
    EXPECT_TRUE(present[10]);
    EXPECT_FALSE(present[11]);  // above the oblique beams' last gates
    expect_winds(g, sheared, wind_bound(75, 105 * std::sin(75 * kDegree), true),
                 present, {0, 1, 2, 3}, "sheared");

    // The CSV holds the same values, rounded to 3 decimals.
    const auto rows = csv_rows(quellmar::test::read_text(dir.file("w.csv")));
    ASSERT_EQ(rows.size(), 1u + 4 * 12);
    const std::string head = three ? "beam2_available" : "beam4_available";
    EXPECT_EQ(rows[0][8 + 2 * (three ? 3 : 5)], head);
    EXPECT_EQ(rows[0].back(), "w_flag");
    EXPECT_EQ(rows[1][0], "2002-05-03T22:30:00Z");
    EXPECT_EQ(rows[1 + 2 * 12][0], "2002-05-04T00:30:00Z");
    const std::vector<float> u = g.floats("eastward_wind");
    for (size_t i = 1; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 9 + 2 * beams + 3);  // + u, v, w flags
      EXPECT_EQ(rows[i][1], "0");
      const size_t k = (i - 1) % 12;
      EXPECT_NEAR(std::stod(rows[i][2]), height[k], 0.05);
      if (present[k]) {
        EXPECT_NEAR(std::stod(rows[i][3]), u[i - 1], 5e-4);
      } else {
        EXPECT_EQ(rows[i][3], "");
      }
      EXPECT_EQ(rows[i][9], "60");  // beam 0 used at its own gate
    }

    // Stored velocities taken as positive toward the radar reverse the
    // wind; an azimuth offset of 90 degrees turns the beams clockwise, so
    // the north beam's values are read as eastward wind: (u, v) becomes
    // (v, -u).
    ASSERT_EQ(wind(dir.path(), {"d02123a.mom", "d02124a.mom", "-o", "t.nc",
                                "--velocity-sign", "toward"})
                  .status,
              0);
    ASSERT_EQ(wind(dir.path(), {"d02123a.mom", "d02124a.mom", "-o", "r.nc",
                                "--azimuth-offset", "90"})
                  .status,
              0);
    ModeGroup toward(dir.file("t.nc"), 0), turned(dir.file("r.nc"), 0);
    const std::vector<float> v = g.floats("northward_wind");
    const std::vector<float> w = g.floats("upward_air_velocity");
    const std::vector<float> tu = toward.floats("eastward_wind");
    const std::vector<float> tw = toward.floats("upward_air_velocity");
    const std::vector<float> ru = turned.floats("eastward_wind");
    const std::vector<float> rv = turned.floats("northward_wind");
    for (size_t at : {size_t{0}, size_t{5}, size_t{12 + 10}}) {
      EXPECT_NEAR(tu[at], -u[at], 1e-5);
      EXPECT_NEAR(tw[at], -w[at], 1e-5);
      EXPECT_NEAR(ru[at], v[at], 1e-4);
      EXPECT_NEAR(rv[at], -u[at], 1e-4);
    }
    EXPECT_EQ(turned.floats("beam_azimuth")[1], 90.0f);
  }
}

// Birds: in minutes 0, 1, 4, 7, 10 and 13 of every 20 (30 %, as many even
// as odd) beam 1 sees 8 to 15 m/s more; in the second hour it sees birds
// in 13 of every 20 minutes, so only 35 % of its records agree.
bool birds(int beam, int64_t minute, double* vr) {
  if (beam != 1) return false;
  const int64_t m = minute % 20;
  const bool second_hour = minute / 60 % 3 == 1;
  const bool bird = second_hour ? m >= 7
                                : (m == 0 || m == 1 || m == 4 || m == 7 ||
                                   m == 10 || m == 13);
  if (bird) *vr += 8.0 + static_cast<double>(minute % 8);
  return bird;
}

TEST(WindProfiles, ConsensusRejectsBirdsAndTooLittleAgreement) {
  const int64_t m0 = kDay124 / 60;
  for (const bool three : {false, true}) {
    SCOPED_TRACE(three ? "three beams" : "five beams");
    quellmar::test::TempDir dir;
    Recipe r;
    r.header = wind_header(
        kFive, three ? beams_of({0, 1, 2}) : beams_of({0, 1, 2, 3, 4}));
    r.replace = birds;
    quellmar::test::write_pair(dir.path(), "d02124a.mom",
                               quellmar::writer::encode_header(r.header),
                               wind_records(r, m0, m0 + 180, 2100));
    ASSERT_EQ(wind(dir.path(), {"d02124a.mom", "-o", "w.nc"}).status, 0);
    ModeGroup g(dir.file("w.nc"), 0);
    ASSERT_TRUE(g.ok());
    ASSERT_EQ(g.dim("time"), 3u);
    const std::vector<float> height = g.floats("height");
    expect_winds(g, sheared, wind_bound(75, 105 * std::sin(75 * kDegree), true),
                 reached(r.header.modes[0], height, 75), {0, 2}, "birds");

    const size_t beams = three ? 3 : 5;
    const std::vector<int> used = g.ints("n_used");
    const std::vector<int> available = g.ints("n_available");
    const std::vector<float> vr = g.floats("radial_velocity");
    for (size_t k = 0; k < 12; ++k) {
      EXPECT_EQ(used[(0 * beams + 1) * 12 + k], 42);
      EXPECT_EQ(available[(0 * beams + 1) * 12 + k], 60);
      // The second hour: beam 1 has no consensus.
      EXPECT_EQ(used[(1 * beams + 1) * 12 + k], 0);
      EXPECT_EQ(available[(1 * beams + 1) * 12 + k], 60);
      EXPECT_EQ(vr[(1 * beams + 1) * 12 + k], kFill);
      EXPECT_NE(vr[(1 * beams + 2) * 12 + k], kFill);
    }
    // Without beam 1 three beams cannot span the horizontal; five still do.
    const std::vector<float> u = g.floats("eastward_wind");
    for (size_t k = 0; k < 11; ++k) {
      if (three) {
        EXPECT_EQ(u[12 + k], kFill) << k;
      } else {
        EXPECT_NE(u[12 + k], kFill) << k;
      }
    }
  }
}

TEST(WindProfiles,
     ModesAreNeverMixedAndWithoutAVerticalBeamTheFirstGivesTheGrid) {
  const int64_t m0 = kDay124 / 60;
  quellmar::test::TempDir dir;
  // Beams 0-4 in mode 0, beams 5-9 the same directions in mode 1, which
  // reports 2 m/s more eastward wind: mixing would show.
  std::vector<BeamUse> uses = beams_of({0, 1, 2, 3, 4});
  for (const BeamUse& b : beams_of({0, 1, 2, 3, 4}, 1)) uses.push_back(b);
  Recipe r;
  r.header = wind_header(kFive, uses);
  const auto high = [](double z) {
    Wind w = sheared(z);
    w.u += 2.0;
    return w;
  };
  r.wind = [high](int mode, double z) {
    return mode == 1 ? high(z) : sheared(z);
  };
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(r.header),
                             wind_records(r, m0, m0 + 60, 2100));
  ASSERT_EQ(wind(dir.path(), {"d02124a.mom", "-o", "w.nc", "--csv", "w.csv",
                              "--latitude", "52.5", "--altitude", "100"})
                .status,
            0);
  ModeGroup low(dir.file("w.nc"), 0), upper(dir.file("w.nc"), 1);
  ASSERT_TRUE(low.ok());
  ASSERT_TRUE(upper.ok());
  EXPECT_EQ(low.root_text("modes"), "0, 1");
  ASSERT_EQ(upper.dim("height"), 8u);
  ASSERT_EQ(upper.dim("beam"), 5u);
  EXPECT_EQ(upper.ints("beam"), (std::vector<int>{5, 6, 7, 8, 9}));
  const std::vector<float> h1 = upper.floats("height");
  for (size_t k = 0; k < 8; ++k) EXPECT_NEAR(h1[k], 600 + 210 * k, 1e-3);
  const std::vector<float> h0 = low.floats("height");
  expect_winds(low, sheared, wind_bound(75, 105 * std::sin(75 * kDegree), true),
               reached(r.header.modes[0], h0, 75), {0}, "mode 0");
  expect_winds(upper, high, wind_bound(75, 210 * std::sin(75 * kDegree), true),
               reached(r.header.modes[1], h1, 75), {0}, "mode 1");
  const auto rows = csv_rows(quellmar::test::read_text(dir.file("w.csv")));
  ASSERT_EQ(rows.size(), 1u + 12 + 8);
  ASSERT_EQ(rows[0].size(), 9u + 2 * 10 + 3);  // + u, v, w flags
  EXPECT_EQ(rows[1][1], "0");
  EXPECT_EQ(rows[1][9 + 2 * 5], "");  // mode 0 has no beam 5
  EXPECT_EQ(rows[13][1], "1");
  EXPECT_EQ(rows[13][9], "");  // mode 1 has no beam 0
  EXPECT_EQ(rows[13][9 + 2 * 5], "60");

#ifdef QUELLMAR_XARRAY_PYTHON
  const quellmar::test::RunResult check = run_command(
      dir.path(), QUELLMAR_XARRAY_PYTHON,
      {std::string(QUELLMAR_SOURCE_DIR) + "/tests/wind_check.py", "w.nc",
       "--modes", "0,1", "--latitude", "52.5", "--altitude", "100"});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
#endif

  // No vertical beam: north, east, south and west. The grid is beam 0's
  // (north's) gate heights; every beam meets them exactly, so only the
  // storage rounding remains: |du| <= d / c, |dw| <= d / s (w = sum / 4s).
  quellmar::test::TempDir flat;
  Recipe four;
  four.header = wind_header(kFive, beams_of({1, 2, 3, 4}));
  quellmar::test::write_pair(flat.path(), "d02124a.mom",
                             quellmar::writer::encode_header(four.header),
                             wind_records(four, m0, m0 + 60, 2000));
  ASSERT_EQ(wind(flat.path(), {"d02124a.mom", "-o", "w.nc"}).status, 0);
  ModeGroup g(flat.file("w.nc"), 0);
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(g.int_att("grid_beam"), 0);
  const std::vector<float> h = g.floats("height");
  ASSERT_EQ(h.size(), 12u);
  for (size_t k = 0; k < 12; ++k) {
    EXPECT_NEAR(
        h[k], gate_height(four.header.modes[0], static_cast<int>(k), 75), 1e-3);
  }
  Bound storage;
  storage.uv = 0.5 * kCount / std::cos(75 * kDegree) + 1e-5;
  storage.w = 0.5 * kCount / std::sin(75 * kDegree) + 1e-5;
  expect_winds(g, sheared, storage, std::vector<bool>(12, true), {0},
               "no vertical beam");
}

// ---------------------------------------------------------------------------
// Bad input and hostile geometry

TEST(WindInput, BadInputGetsOneLineAndTheRightStatus) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h =
      wind_header(kFive, beams_of({0, 1, 2, 3, 4}));
  const Bytes header = quellmar::writer::encode_header(h);
  Recipe r;
  r.header = h;
  const Bytes good = wind_records(r, kDay124 / 60, kDay124 / 60 + 10, 2100);
  quellmar::test::write_pair(dir.path(), "d02124a.mom", header, good);
  // A text file with a header beside it.
  quellmar::writer::Bytes text;
  for (char c : std::string("time,u,v\n2002-05-04,1,2\n")) text.put_u8(c);
  quellmar::test::write_pair(dir.path(), "d02125a.mom", header, text);
  // A data file without its header file.
  quellmar::writer::write_file(dir.file("d02126a.mom"), good);
  // Only RASS records.
  quellmar::writer::HeaderSpec rass = h;
  rass.modes[0].spectral_points = 2048;
  quellmar::test::write_pair(dir.path(), "d02127a.mom",
                             quellmar::writer::encode_header(rass), good);
  // Another site.
  quellmar::writer::HeaderSpec other = h;
  other.site_name = "EFGH";
  quellmar::test::write_pair(dir.path(), "d02128a.mom",
                             quellmar::writer::encode_header(other), good);

  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"d02125a.mom", "-o", "w.nc"}, 1, "no wind-mode record"},
      {{"d02126a.mom", "-o", "w.nc"}, 1, "cannot open"},
      {{"h02124a.mom", "-o", "w.nc"},
       1,
       "quellmar-wind: h02124a.mom: this is a header file; give its data file "
       "d02124a.mom\n"},
      {{"d02127a.mom", "-o", "w.nc"}, 1, "no wind-mode record"},
      {{"d02124a.mom", "--radar", "1", "-o", "w.nc"}, 1, "no wind-mode record"},
      {{"d02124a.mom", "d02128a.mom", "-o", "w.nc"}, 1, "is not the site"},
      {{"d02124a.mom", "./d02124a.mom", "-o", "w.nc"}, 1, "named twice"},
      {{"missing.mom", "-o", "w.nc"}, 1, "cannot open"},
      {{"d02124a.mom", "-o", "no/such/folder/w.nc"}, 1, "cannot write"},
      {{"d02124a.mom", "-o", "w.nc", "--csv", "no/such/w.csv"},
       1,
       "cannot write"},
      {{"d02124a.mom"}, 2, "no output file"},
      {{"-o", "w.nc"}, 2, "no data file"},
      {{"d02124a.mom", "-o", "w.nc", "--period", "0"}, 2, "--period"},
      {{"d02124a.mom", "-o", "w.nc", "--period", "1441"}, 2, "--period"},
      {{"d02124a.mom", "-o", "w.nc", "--window", "-1"}, 2, "--window"},
      {{"d02124a.mom", "-o", "w.nc", "--min-fraction", "1.5"},
       2,
       "--min-fraction"},
      {{"d02124a.mom", "-o", "w.nc", "--min-snr", "x"}, 2, "--min-snr"},
      {{"d02124a.mom", "-o", "w.nc", "--velocity-sign", "up"},
       2,
       "--velocity-sign"},
      {{"d02124a.mom", "-o", "w.nc", "--latitude", "91"}, 2, "--latitude"},
      {{"d02124a.mom", "-o", "w.nc", "--bogus", "1"}, 2, "unknown option"},
      {{"d02124a.mom", "-o", "w.nc", "--csv"}, 2, "needs a value"},
      {{"d02124a.mom", "-o", "w.nc", "--csv", "w.nc"}, 2, "same file"},
      {{"d02124a.mom", "-o", "d02124a.mom"}, 2, "would replace"},
      {{"d02124a.mom", "-o", "h02124a.mom"}, 2, "would replace"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const auto before = quellmar::test::read_text(dir.file("d02124a.mom"));
    const quellmar::test::RunResult run = wind(dir.path(), c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(quellmar::test::file_exists(dir.file("w.nc")));
    EXPECT_EQ(quellmar::test::read_text(dir.file("d02124a.mom")), before);
    if (c.status == 1) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
  // Nothing but the named outputs is left in the folder.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 9u);
  EXPECT_EQ(wind(dir.path(), {"--help"}).status, 0);

  // Damage that leaves wind records is reported, and the run goes on.
  Bytes cut = good;
  cut.append(quellmar::writer::cut(good, 10));
  quellmar::test::write_pair(dir.path(), "d02129a.mom", header, cut);
  const quellmar::test::RunResult run =
      wind(dir.path(), {"d02129a.mom", "-o", "w.nc"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("quellmar-wind: d02129a.mom: data offset " +
                         std::to_string(good.size()) + ": cut_record_header"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(quellmar::test::file_exists(dir.file("w.nc")));
}

// Every float value of every mode is finite or the fill value, and the CSV
// holds no NaN or infinity.
void expect_clean(const std::string& dir) {
  int file = -1;
  ASSERT_EQ(nc_open((dir + "/w.nc").c_str(), NC_NOWRITE, &file), NC_NOERR);
  int groups = 0;
  nc_inq_grps(file, &groups, nullptr);
  nc_close(file);
  ModeGroup any(dir + "/w.nc", 0);
  const std::string modes = any.root_text("modes");
  size_t checked = 0;
  for (int mode = 0; mode < 4; ++mode) {
    if (modes.find(std::to_string(mode)) == std::string::npos) continue;
    ModeGroup g(dir + "/w.nc", mode);
    ASSERT_TRUE(g.ok());
    for (const std::string& name : g.float_variables()) {
      for (double v : g.doubles(name.c_str())) {
        ASSERT_TRUE(std::isfinite(v)) << name;
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<size_t>(groups));
  const std::string csv = quellmar::test::read_text(dir + "/w.csv");
  EXPECT_EQ(csv.find("nan"), std::string::npos);
  EXPECT_EQ(csv.find("inf"), std::string::npos);
}

TEST(WindInput, HostileGeometryWritesOnlyFiniteValuesOrFill) {
  const int64_t m0 = kDay124 / 60;
  const struct {
    const char* name;
    std::function<void(quellmar::writer::HeaderSpec&)> change;
    int minutes;
  } cases[] = {
      {"every beam at elevation 0",
       [](quellmar::writer::HeaderSpec& h) {
         for (auto& d : h.directions) d.elevation = 0;
       },
       30},
      {"every beam vertical",
       [](quellmar::writer::HeaderSpec& h) {
         for (auto& d : h.directions) d.elevation = 90;
       },
       30},
      {"elevations above 90",
       [](quellmar::writer::HeaderSpec& h) {
         h.directions[0].elevation = 9100;
         h.directions[1].elevation = 7550;
         h.directions[2].elevation = 18000;
         h.directions[3].elevation = 27000;
         h.directions[4].elevation = 32767;
       },
       30},
      {"gate spacing 0",
       [](quellmar::writer::HeaderSpec& h) { h.modes[0].gate_spacing_ns = 0; },
       30},
      {"32767 gates declared",
       [](quellmar::writer::HeaderSpec& h) { h.modes[0].gate_count = 32767; },
       2},
      {"one direction named by two beams",
       [](quellmar::writer::HeaderSpec& h) {
         h.beams[3].direction_index = 1;
         h.beams[4].direction_index = 1;
       },
       30},
      {"azimuths outside 0-360",
       [](quellmar::writer::HeaderSpec& h) {
         h.directions[1].azimuth = -90;
         h.directions[2].azimuth = 450;
         h.directions[3].azimuth = 32767;
         h.directions[4].azimuth = -32768;
       },
       30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quellmar::test::TempDir dir;
    Recipe r;
    r.header = wind_header(kFive, beams_of({0, 1, 2, 3, 4}));
    // Records hold the values of 12 gates, whatever the header says.
    const Bytes data = wind_records(r, m0, m0 + c.minutes, 2100);
    c.change(r.header);
    quellmar::test::write_pair(dir.path(), "d02124a.mom",
                               quellmar::writer::encode_header(r.header), data);
    const quellmar::test::RunResult run =
        wind(dir.path(), {"d02124a.mom", "-o", "w.nc", "--csv", "w.csv",
                          "--period", "7", "--azimuth-offset", "-725.5"});
    ASSERT_EQ(run.status, 0) << run.err;
    expect_clean(dir.path());
  }
}

// ---------------------------------------------------------------------------
// Quality flags, BUFR and inputs that overlap

// Six hours of five beams; with errors, the east and west beams carry an
// eastward error in every record of hour 2 at gates 5 and 6 (+5 m/s) and
// of hour 4 at gates 2 and 3 (-5 m/s): the consensus accepts them.
void write_hours(const std::string& dir, bool errors) {
  constexpr int64_t m0 = kDay124 / 60;
  Recipe r;
  r.header = wind_header(kFive, beams_of({0, 1, 2, 3, 4}));
  if (errors) {
    const double c = std::cos(75 * kDegree);
    r.add = [c](int beam, int64_t minute, int gate) {
      const int64_t hour = (minute - m0) / 60;
      double e = 0.0;
      if (hour == 2 && (gate == 5 || gate == 6)) e = 5.0;
      if (hour == 4 && (gate == 2 || gate == 3)) e = -5.0;
      return beam == 2 ? e * c : beam == 4 ? -e * c : 0.0;
    };
  }
  quellmar::test::write_pair(dir, "d02124a.mom",
                             quellmar::writer::encode_header(r.header),
                             wind_records(r, m0, m0 + 360, 2100));
}

TEST(WindQuality, InjectedErrorsAreFlaggedAndEveryProductAgrees) {
  quellmar::test::TempDir clean, bad;
  write_hours(clean.path(), false);
  write_hours(bad.path(), true);
  const std::vector<std::string> site = {
      "--latitude", "52.21",       "--longitude", "14.12",         "--altitude",
      "100",        "--wmo-block", "10",          "--wmo-station", "393"};
  for (const auto* dir : {&clean, &bad}) {
    std::vector<std::string> args = {"d02124a.mom", "-o",     "w.nc",  "--csv",
                                     "w.csv",       "--bufr", "w.bufr"};
    args.insert(args.end(), site.begin(), site.end());
    const quellmar::test::RunResult run = wind(dir->path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
  ModeGroup c(clean.file("w.nc"), 0), g(bad.file("w.nc"), 0);
  ASSERT_TRUE(c.ok());
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(g.text_att("eastward_wind", "ancillary_variables"),
            "eastward_wind_flag");
  EXPECT_EQ(g.text_att("eastward_wind_flag", "flag_meanings"),
            "good suspect missing");
  const std::vector<float> cu = c.floats("eastward_wind");
  const std::vector<float> u = g.floats("eastward_wind");
  const std::vector<float> v = g.floats("northward_wind");
  const std::vector<float> w = g.floats("upward_air_velocity");
  const std::vector<int> uf = g.ints("eastward_wind_flag");
  const std::vector<int> vf = g.ints("northward_wind_flag");
  const std::vector<int> wf = g.ints("upward_air_velocity_flag");
  ASSERT_EQ(uf.size(), 6u * 12);
  // The field without errors: nothing suspect. With errors: every value
  // 2.5 m/s or more off is suspect, and none of those the errors leave
  // alone; values are never changed by the check.
  for (const char* name : {"eastward_wind_flag", "northward_wind_flag",
                           "upward_air_velocity_flag"}) {
    for (int f : c.ints(name)) EXPECT_NE(f, 1) << name;
  }
  size_t suspect = 0, large = 0;
  for (size_t i = 0; i < u.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(uf[i] == 2, u[i] == kFill);
    if (u[i] == kFill) continue;
    const double off = std::fabs(u[i] - cu[i]);
    if (off >= 2.5) {
      EXPECT_EQ(uf[i], 1);
    }
    large += off >= 2.5;
    if (off < 1e-3) {
      EXPECT_EQ(uf[i], 0);
    }
    suspect += uf[i] == 1;
    EXPECT_NE(vf[i], 1);
    EXPECT_NE(wf[i], 1);
  }
  EXPECT_GE(large, 4u);  // at least two heights in each of hours 2 and 4
  EXPECT_LE(suspect, large + 4);

  // The CSV's flag columns are the file's.
  const auto rows = csv_rows(quellmar::test::read_text(bad.file("w.csv")));
  ASSERT_EQ(rows.size(), 1 + uf.size());
  EXPECT_EQ(rows[0][19], "u_flag");
  for (size_t i = 0; i < uf.size(); ++i) {
    EXPECT_EQ(rows[i + 1][19], std::to_string(uf[i]));
    EXPECT_EQ(rows[i + 1][20], std::to_string(vf[i]));
    EXPECT_EQ(rows[i + 1][21], std::to_string(wf[i]));
  }

#ifdef QUELLMAR_BUFR_DUMP
  // One message per period: its end and length, heights above sea level,
  // the values within BUFR's precision and the indicators of the flags.
  const auto messages =
      quellmar::test::read_bufr(QUELLMAR_BUFR_DUMP, bad.file("w.bufr"));
  ASSERT_EQ(messages.size(), 6u);
  const std::vector<double> bounds = g.doubles("time_bounds");
  const std::vector<float> height = g.floats("height");
  const auto near = [](double nc, double bufr, double precision) {
    return nc == kFill ? std::isnan(bufr)
                       : std::fabs(nc - bufr) <= precision / 2 + 1e-6;
  };
  for (size_t p = 0; p < 6; ++p) {
    SCOPED_TRACE(p);
    const auto& m = messages[p];
    const int64_t end = static_cast<int64_t>(bounds[2 * p + 1]);
    EXPECT_EQ(m.at("unexpandedDescriptors"), "309024");
    EXPECT_EQ(quellmar::test::bufr_number(m, "day"), 4);
    EXPECT_EQ(quellmar::test::bufr_number(m, "hour"), (end / 3600) % 24);
    EXPECT_EQ(quellmar::test::bufr_number(m, "timePeriod"), -60);
    for (size_t k = 0; k < 12; ++k) {
      const size_t i = p * 12 + k;
      const int n = static_cast<int>(k) + 1;
      EXPECT_TRUE(near(100 + height[k],
                       quellmar::test::bufr_number(m, "height", n), 1));
      EXPECT_TRUE(near(u[i], quellmar::test::bufr_number(m, "u", n), 0.1));
      EXPECT_TRUE(near(v[i], quellmar::test::bufr_number(m, "v", n), 0.1));
      EXPECT_TRUE(near(w[i], quellmar::test::bufr_number(m, "w", n), 0.01));
      const double uv = uf[i] == 1 || vf[i] == 1   ? 1
                        : uf[i] == 2 || vf[i] == 2 ? 3
                                                   : 0;
      EXPECT_EQ(quellmar::test::bufr_quality_at(m, 2 * n - 1), uv);
      EXPECT_EQ(quellmar::test::bufr_quality_at(m, 2 * n),
                wf[i] == 2 ? 3 : wf[i]);
    }
  }
#endif

  // Without the check: nothing suspect, and BUFR says no quality
  // information.
  std::vector<std::string> args = {"d02124a.mom", "-o",     "n.nc",  "--qc",
                                   "none",        "--bufr", "n.bufr"};
  args.insert(args.end(), site.begin(), site.end());
  ASSERT_EQ(wind(bad.path(), args).status, 0);
  ModeGroup none(bad.file("n.nc"), 0);
  for (int f : none.ints("eastward_wind_flag")) EXPECT_NE(f, 1);
  EXPECT_EQ(none.floats("eastward_wind"), u);
#ifdef QUELLMAR_BUFR_DUMP
  const auto unchecked =
      quellmar::test::read_bufr(QUELLMAR_BUFR_DUMP, bad.file("n.bufr"));
  ASSERT_EQ(unchecked.size(), 6u);
  EXPECT_EQ(quellmar::test::bufr_quality_at(unchecked[2], 1), 3);
#endif
}

TEST(WindQuality, ARecordFromTwoInputsCountsOnceAndBufrNeedsTheStation) {
  quellmar::test::TempDir dir;
  write_hours(dir.path(), false);
  fs::copy_file(dir.file("d02124a.mom"), dir.file("d02124b.mom"));
  fs::copy_file(dir.file("h02124a.mom"), dir.file("h02124b.mom"));
  ASSERT_EQ(
      wind(dir.path(), {"d02124a.mom", "-o", "one.nc", "--csv", "one.csv"})
          .status,
      0);
  const quellmar::test::RunResult twice =
      wind(dir.path(),
           {"d02124b.mom", "d02124a.mom", "-o", "two.nc", "--csv", "two.csv"});
  ASSERT_EQ(twice.status, 0) << twice.err;
  EXPECT_NE(twice.err.find("quellmar-wind: 1800 record(s) set aside: a "
                           "record of the same time, radar and beam came "
                           "from another input already"),
            std::string::npos)
      << twice.err;
  EXPECT_EQ(quellmar::test::read_text(dir.file("one.csv")),
            quellmar::test::read_text(dir.file("two.csv")));
  ModeGroup one(dir.file("one.nc"), 0), two(dir.file("two.nc"), 0);
  EXPECT_EQ(one.ints("n_available"), two.ints("n_available"));
  EXPECT_EQ(one.floats("radial_velocity"), two.floats("radial_velocity"));

  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--bufr", "b.bufr"},
       "--bufr needs --wmo-block, --wmo-station, --latitude, --longitude, "
       "--altitude"},
      {{"--bufr", "b.bufr", "--wmo-block", "10", "--wmo-station", "393",
        "--latitude", "52", "--longitude", "14"},
       "--bufr needs --altitude"},
      {{"--wmo-block", "100"}, "--wmo-block"},
      {{"--qc", "maybe"}, "--qc"},
      {{"--qc-max-step", "-1"}, "--qc-max-step"},
      {{"--qc-min-pattern", "0"}, "--qc-min-pattern"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"d02124a.mom", "-o", "w.nc"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const quellmar::test::RunResult run = wind(dir.path(), args);
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_FALSE(quellmar::test::file_exists(dir.file("w.nc")));
    EXPECT_FALSE(quellmar::test::file_exists(dir.file("b.bufr")));
  }
}

// ---------------------------------------------------------------------------
// Real conditions: folded velocities, sparse periods, rain, many files

// 200 coherent integrations halve V: 10.24 m/s.
const double kLowNyquist =
    static_cast<float>(149.9 / (91500 / 100.0) * 5e8 / 40000.0 / 200.0);

Recipe low_nyquist_recipe(const std::vector<BeamUse>& beams) {
  Recipe r;
  r.header = wind_header(kFive, beams);
  r.header.modes[0].coherent_integrations = 200;
  r.nyquist = kLowNyquist;
  r.fold = true;
  return r;
}

// u grows linearly with height from 15 m/s at the first gate (450 m) to
// `top` at the last (1605 m): the east and west beams' radial velocities
// from 3.9 m/s to top x cos 75 deg. Linear, so interpolation adds no error.
Wind growing(double top, double z) {
  return {15.0 + (top - 15.0) * (z - 450.0) / 1155.0, -3.0, 0.1};
}

TEST(WindConditions, RadialVelocitiesNearAndBeyondTheNyquistVelocity) {
  const int64_t m0 = kDay124 / 60;
  const double c = std::cos(75 * kDegree);
  // 39 m/s: the east beam's radial velocity reaches 0.98 V and its jitter
  // of 0.3 m/s crosses +V; 60 m/s: a jet, 1.5 V.
  for (const double top : {39.0, 60.0}) {
    SCOPED_TRACE(top);
    quellmar::test::TempDir dir;
    Recipe r = low_nyquist_recipe(beams_of({0, 1, 2, 3, 4}));
    r.wind = [top](int, double z) { return growing(top, z); };
    quellmar::test::write_pair(dir.path(), "d02124a.mom",
                               quellmar::writer::encode_header(r.header),
                               wind_records(r, m0, m0 + 360, 2100));
    const quellmar::test::RunResult run =
        wind(dir.path(), {"d02124a.mom", "-o", "w.nc"});
    ASSERT_EQ(run.status, 0) << run.err;
    ModeGroup g(dir.file("w.nc"), 0);
    ASSERT_TRUE(g.ok());
    const std::vector<float> height = g.floats("height");
    const std::vector<bool> present = reached(r.header.modes[0], height, 75);
    const auto truth = [top](double z) { return growing(top, z); };
    expect_winds(g, truth, wind_bound(75, 105 * std::sin(75 * kDegree), false),
                 present, {0, 1, 2, 3, 4, 5}, "folded");
    // Values that needed unfolding say so and are good.
    const std::vector<int> how = g.ints("wind_method_flag");
    const std::vector<int> uf = g.ints("eastward_wind_flag");
    size_t unfolded = 0;
    for (size_t p = 0; p < 6; ++p) {
      for (size_t k = 0; k < height.size(); ++k) {
        if (!present[k]) continue;
        const size_t at = p * height.size() + k;
        // The grid height lies between two east-beam gates: unfolded when
        // either of them lies beyond V.
        const double above_v = growing(top, height[k] + 105).u * c;
        if (growing(top, height[k]).u * c > kLowNyquist) {
          EXPECT_EQ(how[at], 8) << at;
        } else if (above_v < kLowNyquist - 0.5) {
          EXPECT_EQ(how[at], 0) << at;
        }
        unfolded += how[at] == 8;
        EXPECT_EQ(uf[at], 0) << at;
      }
    }
    EXPECT_EQ(unfolded > 0, top > 40);
    if (top < 40) continue;

    // Taken as folded (--no-unfold) the jet is off by 2V / cos 75 deg in u,
    // a layer of its own that jumps against the profile below: every such
    // value is flagged suspect, none of the rest.
    ASSERT_EQ(
        wind(dir.path(), {"d02124a.mom", "-o", "f.nc", "--no-unfold"}).status,
        0);
    ModeGroup f(dir.file("f.nc"), 0);
    const std::vector<float> fu = f.floats("eastward_wind");
    const std::vector<int> ff = f.ints("eastward_wind_flag");
    size_t wrong = 0;
    for (size_t p = 0; p < 6; ++p) {
      for (size_t k = 0; k < height.size(); ++k) {
        if (!present[k]) continue;
        const size_t at = p * height.size() + k;
        const bool off = std::fabs(fu[at] - truth(height[k]).u) > 1.0;
        wrong += off;
        EXPECT_EQ(ff[at], off ? 1 : 0) << at;
      }
    }
    EXPECT_GE(wrong, 12u);
  }
}

TEST(WindConditions, QuarterHoursWithAnEchoTopAndNoiseAbove) {
  // A record every 3 minutes: 5 per beam and 15-minute period. Above the
  // echo top (gate 7 up) every record holds noise: a velocity anywhere in
  // +-V and an SNR about -21 dB, as stored moments give it.
  const int64_t m0 = kDay124 / 60;
  quellmar::test::TempDir dir;
  Recipe r;
  r.header = wind_header(kFive, beams_of({0, 1, 2, 3, 4}));
  r.minute_step = 3;
  r.jitter = 0.0;
  auto noise = std::make_shared<std::mt19937>(1234);
  r.gate = [noise](int, int64_t, int gate, double* vr, double*,
                   double* snr_db) {
    if (gate < 7) return false;
    std::uniform_real_distribution<double> any(-kNyquist, kNyquist);
    std::normal_distribution<double> snr(-21.0, 1.0);
    *vr = any(*noise);
    *snr_db = std::min(snr(*noise), -18.5);
    return true;
  };
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(r.header),
                             wind_records(r, m0, m0 + 120, 2100));
  ASSERT_EQ(
      wind(dir.path(), {"d02124a.mom", "-o", "w.nc", "--period", "15"}).status,
      0);
  ModeGroup g(dir.file("w.nc"), 0);
  ASSERT_TRUE(g.ok());
  ASSERT_EQ(g.dim("time"), 8u);
  const std::vector<float> height = g.floats("height");
  std::vector<bool> present = reached(r.header.modes[0], height, 75);
  // Below the echo top in every beam (the oblique beams' gate 6 lies at
  // 1079 m x sin 75 deg): every value within the bound; above it every
  // value missing.
  const double top_m = gate_height(r.header.modes[0], 6, 75);
  for (size_t k = 0; k < height.size(); ++k) {
    present[k] = present[k] && height[k] <= top_m;
  }
  EXPECT_TRUE(present[5]);
  EXPECT_FALSE(present[7]);
  expect_winds(g, sheared, wind_bound(75, 105 * std::sin(75 * kDegree), true),
               present, {0, 1, 2, 3, 4, 5, 6, 7}, "echo top");
  const std::vector<int> used = g.ints("n_used");
  const std::vector<int> available = g.ints("n_available");
  for (size_t i = 0; i < used.size(); ++i) {
    if (i % 12 >= 7) {
      EXPECT_EQ(used[i], 0) << i;
    }
    EXPECT_EQ(available[i], 5) << i;
  }

  // The share alone (at least 2 and 40 % of 5, no SNR floor) takes noise
  // for wind above the top.
  ASSERT_EQ(wind(dir.path(), {"d02124a.mom", "-o", "old.nc", "--period", "15",
                              "--min-count", "2", "--min-snr", "-1000"})
                .status,
            0);
  ModeGroup old(dir.file("old.nc"), 0);
  size_t noise_taken = 0;
  for (int n : old.ints("n_used")) noise_taken += n > 0;
  EXPECT_GT(noise_taken, used.size() / 2);
}

// An hour of rain after a dry hour: in the rain hour every beam sees the
// drops falling at 6 m/s (sin e of it along an oblique beam) in gates 0 to
// 7, with spectral widths of 1.5 m/s; the air's own w is 0.1 m/s. With a
// width of a clear-air echo the same hour is a downdraft of 6 m/s.
quellmar::writer::HeaderSpec write_rain(const std::string& dir,
                                        const std::vector<BeamUse>& beams,
                                        bool toward, double width_m_s = 1.5) {
  constexpr int64_t m0 = kDay124 / 60;
  Recipe r;
  r.header = wind_header(kFive, beams);
  r.toward = toward;
  const quellmar::writer::HeaderSpec h = r.header;
  r.gate = [h, width_m_s](int beam, int64_t minute, int gate, double* vr,
                          double* width, double*) {
    if (minute < m0 + 60 || gate > 7) return false;
    const double el =
        degrees(h.directions[h.beams[beam].direction_index].elevation);
    *vr -= 6.0 * std::sin(el * kDegree);
    *width = width_m_s;
    return true;
  };
  quellmar::test::write_pair(dir, "d02124a.mom",
                             quellmar::writer::encode_header(r.header),
                             wind_records(r, m0, m0 + 120, 2100));
  return r.header;
}

// The rain day written and run with the velocity sign given, and what
// the tests read back of mode 0; ok is false (with a failure reported)
// when the run or the file fails.
struct RainDayWinds {
  bool ok = false;
  std::vector<float> height, u, v, w;
  std::vector<int> how, uf, gate_flag;
  std::vector<bool> present;
};
RainDayWinds rain_day_winds(const std::vector<BeamUse>& beams, const char* sign,
                            double width_m_s = 1.5) {
  RainDayWinds d;
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h =
      write_rain(dir.path(), beams, std::string(sign) == "toward", width_m_s);
  const quellmar::test::RunResult run =
      wind(dir.path(), {"d02124a.mom", "-o", "w.nc", "--velocity-sign", sign});
  EXPECT_EQ(run.status, 0) << run.err;
  ModeGroup g(dir.file("w.nc"), 0);
  EXPECT_TRUE(g.ok());
  if (run.status != 0 || !g.ok()) return d;
  d.height = g.floats("height");
  d.present = reached(h.modes[0], d.height, 75);
  d.u = g.floats("eastward_wind");
  d.v = g.floats("northward_wind");
  d.w = g.floats("upward_air_velocity");
  d.how = g.ints("wind_method_flag");
  d.uf = g.ints("eastward_wind_flag");
  d.gate_flag = g.ints("radial_velocity_flag");
  d.ok = true;
  return d;
}

TEST(WindConditions, RainInTheVerticalBeamIsNoAirMotion) {
  const Bound bound = wind_bound(75, 105 * std::sin(75 * kDegree), true);
  for (const bool three : {false, true}) {
    SCOPED_TRACE(three ? "three beams" : "five beams");
    for (const char* sign : {"away", "toward"}) {
      SCOPED_TRACE(sign);
      // Stored positive toward the radar and read so: the same winds.
      const RainDayWinds d = rain_day_winds(
          three ? beams_of({0, 1, 2}) : beams_of({0, 1, 2, 3, 4}), sign);
      ASSERT_TRUE(d.ok);
      for (size_t k = 0; k < d.height.size(); ++k) {
        if (!d.present[k]) continue;
        SCOPED_TRACE(d.height[k]);
        const Wind t = sheared(d.height[k]);
        // The dry hour: every beam fitted, w the air's.
        EXPECT_EQ(d.how[k], 0);
        EXPECT_NEAR(d.u[k], t.u, bound.uv);
        EXPECT_NEAR(d.w[k], t.w, bound.w);
        const size_t at = d.height.size() + k;
        // The vertical beam's gate k (its gates are the grid) is rain
        // where the drops fall.
        EXPECT_EQ(d.gate_flag[(1 * (three ? 3 : 5) + 0) * 12 + k] & 1,
                  k <= 7 ? 1 : 0);
        EXPECT_EQ(d.gate_flag[k] & 1, 0);  // the dry hour
        // Where both oblique gates of the height lie in the rain: w
        // missing; five beams give u and v from opposite beams (the fall
        // speed cancels), three beams assume w = 0 and say so: suspect.
        const bool rain = k <= 6;
        if (!rain) continue;
        EXPECT_EQ(d.w[at], kFill);
        if (three) {
          EXPECT_EQ(d.how[at], 1 | 4);
          EXPECT_EQ(d.uf[at], 1);
        } else {
          EXPECT_EQ(d.how[at], 1 | 2);
          EXPECT_EQ(d.uf[at], 0);
          EXPECT_NEAR(d.u[at], t.u, bound.uv);
          EXPECT_NEAR(d.v[at], t.v, bound.uv);
        }
      }
    }
  }
}

// The same hour with the narrow echo of clear air: a downdraft, not rain.
// w follows it and no gate is taken for precipitation.
TEST(WindConditions, ANarrowDowndraftIsAirMotion) {
  const RainDayWinds d = rain_day_winds(beams_of({0, 1, 2, 3, 4}), "away", 0.3);
  ASSERT_TRUE(d.ok);
  const Bound bound = wind_bound(75, 105 * std::sin(75 * kDegree), true);
  int checked = 0;
  for (size_t k = 0; k <= 6 && k < d.height.size(); ++k) {
    if (!d.present[k]) continue;
    SCOPED_TRACE(d.height[k]);
    const size_t at = d.height.size() + k;
    EXPECT_EQ(d.gate_flag[(1 * 5 + 0) * 12 + k] & 1, 0);
    EXPECT_EQ(d.how[at], 0);
    EXPECT_NEAR(d.w[at], sheared(d.height[k]).w - 6.0, bound.w);
    ++checked;
  }
  EXPECT_GT(checked, 3);
}

// Four files of one hour each, named on the command line out of time
// order: every period is whole, from the right file.
TEST(WindInput, ManyFilesInAnyOrderAreReadInTimeOrder) {
  const int64_t m0 = kDay124 / 60;
  quellmar::test::TempDir dir;
  Recipe r;
  r.header = wind_header(kFive, beams_of({0, 1, 2, 3, 4}));
  const Bytes header = quellmar::writer::encode_header(r.header);
  const char* names[4] = {"d02124a.mom", "d02124b.mom", "d02124c.mom",
                          "d02124d.mom"};
  for (int64_t hour = 0; hour < 4; ++hour) {
    quellmar::test::write_pair(
        dir.path(), names[hour], header,
        wind_records(r, m0 + 60 * hour, m0 + 60 * hour + 60, 2100));
  }
  const quellmar::test::RunResult run =
      wind(dir.path(), {names[2], names[0], names[3], names[1], "-o", "w.nc"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ModeGroup g(dir.file("w.nc"), 0);
  ASSERT_TRUE(g.ok());
  ASSERT_EQ(g.dim("time"), 4u);
  for (int n : g.ints("n_available")) EXPECT_EQ(n, 60);
  const std::vector<float> height = g.floats("height");
  expect_winds(g, sheared, wind_bound(75, 105 * std::sin(75 * kDegree), true),
               reached(r.header.modes[0], height, 75), {0, 1, 2, 3},
               "four files");
}

#endif  // QUELLMAR_WIND_BINARY

}  // namespace
