// quellmar-rass: the unfolding and the w correction through their
// operations, and the program on pairs written with the project's writer
// from a known virtual temperature and vertical air motion: temperatures,
// their flags, the BUFR messages as ecCodes' bufr_dump reads them, and a
// pair named twice under two names.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "methods/rass/profiles.h"
#include "methods/rass/unfold.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_RASS_BINARY
#include <filesystem>
#include <fstream>

#include "tests/nc_read.h"
#endif
#if defined(QUELLMAR_WITH_BUFR) && defined(QUELLMAR_BUFR_DUMP)
#include "tests/bufr_read.h"
#endif

namespace {

using quellmar::companions::dwell_value;
using quellmar::companions::RassMethod;
using quellmar::companions::unfold_speed;
using quellmar::companions::UnfoldStatus;
using quellmar::companions::virtual_temperature;
using quellmar::writer::Bytes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double speed_of(double tv) { return 20.047 * std::sqrt(tv); }

// The stored velocity of a speed of sound c aliased into [-V, V).
double aliased(double c, double nyquist) {
  return c - 2 * nyquist * std::floor((c + nyquist) / (2 * nyquist));
}

TEST(RassUnfold, UnaliasedAliasedAmbiguousAndHostileValues) {
  const double t0 = 288.15, truth = 300.0, c = speed_of(truth);
  // Unaliased (V above c), and aliased into a fifth of the speed of sound.
  for (const double v : {409.5, 68.0}) {
    const auto u = unfold_speed(aliased(c, v), v, t0);
    ASSERT_EQ(u.status, UnfoldStatus::kOk) << v;
    EXPECT_NEAR(u.speed, c, 1e-9);
  }
  // A Nyquist interval narrower than the plausible band: two candidates lie
  // in it when the first guess is 35 K off, one when it is near.
  const double narrow = 20.5;
  EXPECT_EQ(unfold_speed(aliased(c, narrow), narrow, truth - 35).status,
            UnfoldStatus::kAmbiguous);
  EXPECT_EQ(unfold_speed(aliased(c, narrow), narrow, truth - 5).status,
            UnfoldStatus::kOk);
  // Nothing plausible, or nothing to unfold: missing, never a value.
  EXPECT_EQ(unfold_speed(c, 409.5, 200.0).status, UnfoldStatus::kNone);
  for (const auto& [a, v, t] :
       std::vector<std::tuple<double, double, double>>{{0.0, 0.0, t0},
                                                       {kNaN, 68.0, t0},
                                                       {kInf, 68.0, t0},
                                                       {c, kInf, t0},
                                                       {c, -68.0, t0},
                                                       {-c, 409.5, t0},
                                                       {c, 1e-300, t0}}) {
    EXPECT_EQ(unfold_speed(a, v, t).status, UnfoldStatus::kNone)
        << a << " " << v;
  }
}

TEST(RassUnfold, ContinuityWithTheGateBelowPrefersOverTheFirstGuess) {
  // V = 20.5 m/s: candidates about 64 K apart at 243 K. A first guess of
  // 15 C at the radar picks 311 K for a 243 K air (the only candidate in
  // its band); the gate below at 244 K, 200 m lower, picks the truth.
  const double v = 20.5, truth = 243.0;
  const double a = aliased(speed_of(truth), v);
  const auto guessed = unfold_speed(a, v, 288.15);
  ASSERT_EQ(guessed.status, UnfoldStatus::kOk);
  EXPECT_GT(virtual_temperature(guessed.speed), 300.0);
  quellmar::companions::UnfoldGuide guide;
  guide.first_guess_k = 288.15;
  guide.below_k = 244.0;
  guide.below_dz_m = 200.0;
  const auto continued = unfold_speed(a, v, guide);
  ASSERT_EQ(continued.status, UnfoldStatus::kOk);
  EXPECT_NEAR(virtual_temperature(continued.speed), truth, 1e-9);
  // A value 30 K colder than the gate 200 m below is no temperature
  // profile (beyond the autoconvective lapse rate): missing.
  guide.below_k = truth + 30.0;
  EXPECT_EQ(unfold_speed(a, v, guide).status, UnfoldStatus::kNone);
  // Far above the gate below, two continuous candidates: the first guess
  // picks among them, and none in its band is ambiguous.
  guide.below_k = 244.0;
  guide.below_dz_m = 2000.0;
  guide.first_guess_k = 250.0;
  EXPECT_NEAR(virtual_temperature(unfold_speed(a, v, guide).speed), truth,
              1e-9);
  guide.first_guess_k = 350.0;
  EXPECT_EQ(unfold_speed(a, v, guide).status, UnfoldStatus::kAmbiguous);
}

TEST(RassFirstGuess, TableReadBetweenItsRowsAndBadRowsNamed) {
  using quellmar::companions::FirstGuessSeries;
  using quellmar::companions::parse_first_guess;
  FirstGuessSeries table;
  std::string error;
  ASSERT_TRUE(parse_first_guess(
      "time,temperature_c\r\n# a comment\n\n2002-05-04T00:00Z,-33\n"
      "2002-05-04 01:00:30,-27.5\n2002-05-04T02:00:00Z,-30\n",
      &table, &error))
      << error;
  ASSERT_EQ(table.times.size(), 3u);
  const int64_t day = 1020470400;  // 2002-05-04 00:00:00 UTC
  EXPECT_EQ(table.times[1], day + 3630);
  using quellmar::companions::surface_temperature_c;
  EXPECT_DOUBLE_EQ(surface_temperature_c(table, day - 86400), -33.0);
  EXPECT_DOUBLE_EQ(surface_temperature_c(table, day + 3630 / 2), -30.25);
  EXPECT_DOUBLE_EQ(surface_temperature_c(table, day + 86400), -30.0);
  const struct {
    const char* text;
    const char* message;
  } bad[] = {
      {"2002-05-04T01:00,1\n2002-05-04T00:00,2\n",
       "line 2: the times must ascend"},
      {"2002-05-04T01:00,warm\n", "line 1: the temperature 'warm'"},
      {"2002-05-04T01:00,61\n", "within -100 to 60"},
      {"2002-02-30T01:00,1\n", "line 1: not TIME,TEMPERATURE_C"},
      {"time,t\n", "no row"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_FALSE(parse_first_guess(b.text, &table, &error));
    EXPECT_NE(error.find(b.message), std::string::npos) << error;
  }
}

TEST(RassUnfold, CorrectionByTheAirsMotionAlongTheBeamNeverByRain) {
  using quellmar::companions::AirMotion;
  RassMethod m;
  const double truth = 300.0, c = speed_of(truth), w = 1.0;
  quellmar::companions::UnfoldGuide guide;
  guide.first_guess_k = 288.15;
  // The pulse moves with the air: 1 m/s of w is about 1.7 K.
  AirMotion own_air;
  own_air.clear_air = w;
  const auto own = dwell_value(m, c + w, 409.5, guide, 1.0, true, own_air);
  ASSERT_EQ(own.status, UnfoldStatus::kOk);
  EXPECT_NEAR(own.tv, truth, 1e-9);
  EXPECT_NEAR(own.tv_uncorrected - own.tv, 1.73, 0.01);
  EXPECT_NEAR(own.w, w, 1e-12);
  EXPECT_EQ(own.source, quellmar::companions::kWSameDwell);
  AirMotion wind_air;
  wind_air.wind_along_beam = w;
  wind_air.wind_w = w;
  const auto wind = dwell_value(m, c + w, 409.5, guide, 1.0, true, wind_air);
  EXPECT_NEAR(wind.tv, truth, 1e-9);
  EXPECT_EQ(wind.source, quellmar::companions::kWWindMode);
  const auto none = dwell_value(m, c + w, 409.5, guide, 1.0, true, {});
  EXPECT_NEAR(none.tv, own.tv_uncorrected, 1e-9);
  EXPECT_EQ(none.source, quellmar::companions::kWNone);
  // Toward the radar: the stored signs are turned.
  m.velocity_toward = true;
  own_air.clear_air = -w;
  EXPECT_NEAR(dwell_value(m, -(c + w), 409.5, guide, 1.0, true, own_air).tv,
              truth, 1e-9);
  // A motion that leaves no plausible temperature makes the value missing.
  own_air.clear_air = 300.0;
  EXPECT_EQ(
      dwell_value(RassMethod{}, c, 409.5, guide, 1.0, true, own_air).status,
      UnfoldStatus::kNone);
  // An oblique beam (75 degrees, towards the east) in a 10 m/s west wind:
  // the wind's projection corrects, and w stays the wind modes' w. Its
  // own clear-air velocity is the whole projection, not w.
  const double along =
      10.0 * std::cos(75 * M_PI / 180) + w * std::sin(75 * M_PI / 180);
  AirMotion oblique;
  oblique.wind_along_beam = along;
  oblique.wind_w = w;
  const double sine = std::sin(75 * M_PI / 180);
  const auto slant =
      dwell_value(RassMethod{}, c + along, 409.5, guide, sine, false, oblique);
  EXPECT_NEAR(slant.tv, truth, 1e-9);
  EXPECT_NEAR(slant.w, w, 1e-12);
  AirMotion slant_own;
  slant_own.clear_air = along;
  const auto slant_clear = dwell_value(RassMethod{}, c + along, 409.5, guide,
                                       sine, false, slant_own);
  EXPECT_NEAR(slant_clear.tv, truth, 1e-9);
  EXPECT_TRUE(std::isnan(slant_clear.w));
  // A w flagged as precipitation corrects nothing: the uncorrected value
  // (or none), with no w.
  for (const bool own_rain : {false, true}) {
    AirMotion rain;
    rain.wind_along_beam = rain.wind_w = -5.0;
    rain.wind_rain = true;
    if (own_rain) {
      rain.clear_air = -5.0;
      rain.clear_air_rain = true;
    }
    const auto wet =
        dwell_value(RassMethod{}, c + w, 409.5, guide, 1.0, true, rain);
    ASSERT_EQ(wet.status, UnfoldStatus::kOk);
    EXPECT_NEAR(wet.tv, virtual_temperature(c + w), 1e-9);
    EXPECT_TRUE(wet.rain);
    EXPECT_TRUE(std::isnan(wet.w));
    RassMethod dry = RassMethod{};
    dry.rain_w = quellmar::companions::RainW::kMissing;
    EXPECT_EQ(dwell_value(dry, c + w, 409.5, guide, 1.0, true, rain).status,
              UnfoldStatus::kNone);
  }
}

#ifdef QUELLMAR_RASS_BINARY

constexpr int64_t kDay124 = 1020470400;  // 2002-05-04 00:00:00 UTC

// The virtual temperature at height z in the 30-minute period p, and w.
double truth_tv(double z, int p) { return 290.0 - 0.006 * z + 1.5 * p; }
constexpr double kW = 1.0;

float nyquist_of(const quellmar::writer::ModeSpec& mode) {
  return static_cast<float>(149.9 / (91500 / 100.0) * 5e8 / mode.ipp_ns /
                            mode.coherent_integrations);
}

double height_of(const quellmar::writer::ModeSpec& mode, int g) {
  return (mode.first_gate_delay_ns + g * mode.gate_spacing_ns) * 0.15;
}

// The record of beam b (mode b) in minute `minute` of the day, holding body.
Bytes rass_record(const quellmar::writer::ModeSpec& mode, int b, int minute,
                  const quellmar::writer::BodySpec& body) {
  quellmar::writer::RecordSpec rec;
  rec.datacode = body.datacode;
  rec.record_time = static_cast<int32_t>(kDay124 + minute * 60 + b * 10);
  rec.beam_index = static_cast<int16_t>(b);
  rec.has_overrides = true;
  rec.coherent_integrations = mode.coherent_integrations;
  rec.spectral_averages = mode.spectral_averages;
  rec.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(rec);
}

// Mode 0 wind (64 points), modes 1-3 RASS (2048 points) with Nyquist
// velocities of about 410 m/s (the speed of sound unaliased), 68 m/s (a
// fifth of it) and 20.5 m/s; beam b vertical in mode b.
quellmar::writer::HeaderSpec rass_header() {
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header(8, 64);
  h.beam_count = 4;
  const int32_t ipp[4] = {40000, 20000, 40000, 40000};
  const int16_t integrations[4] = {100, 10, 30, 100};
  for (int m = 0; m < 4; ++m) {
    h.modes[m] = h.modes[0];
    h.modes[m].ipp_ns = ipp[m];
    h.modes[m].coherent_integrations = integrations[m];
    h.modes[m].first_gate_delay_ns = 3000;
    h.modes[m].gate_spacing_ns = 1400;
    h.modes[m].spectral_points = m == 0 ? 64 : 2048;
    h.beams[m] = {0, static_cast<int16_t>(m), 0};
  }
  return h;
}

// One dwell per beam and minute for two hours from 00:00. The clear air
// moves at w; the acoustic velocity is the speed of sound plus w, with
// +-0.1 m/s of jitter in even and odd minutes, and every fifth minute an
// outlier 8 m/s too fast. With two sets (datacode 2116) the second set is
// acoustic and holds the temperature in tenths of a degree as auxiliary;
// with one (2100) the first set is acoustic.
Bytes rass_records(const quellmar::writer::HeaderSpec& h, bool two_sets) {
  Bytes data;
  const int16_t datacode = two_sets ? 2116 : 2100;
  for (int minute = 0; minute < 120; ++minute) {
    for (int b = 0; b < h.beam_count; ++b) {
      const quellmar::writer::ModeSpec& mode = h.modes[b];
      const double v = nyquist_of(mode);
      const auto count = [v](double x) {
        return static_cast<int16_t>(std::lround(x / v * 10000.0));
      };
      quellmar::writer::BodySpec body;
      body.datacode = b == 0 ? 2100 : datacode;
      for (int g = 0; g < mode.gate_count; ++g) {
        const double tv = truth_tv(height_of(mode, g), minute / 30);
        quellmar::writer::GateMoments clear, acoustic;
        clear.velocity = count(kW);
        clear.snr = 1000;
        const double c = speed_of(tv) + kW + (minute % 5 == 0 ? 8.0 : 0.0) +
                         (minute % 2 == 0 ? 0.1 : -0.1);
        acoustic.velocity = count(aliased(c, v));
        acoustic.snr = 1500;
        acoustic.noise_or_aux =
            static_cast<int16_t>(std::lround((tv - 273.15) * 10));
        if (b == 0 || !two_sets) {
          body.moments.push_back(b == 0 ? clear : acoustic);
        } else {
          body.moments.push_back(clear);
          body.second.push_back(acoustic);
        }
      }
      data.append(rass_record(mode, b, minute, body));
    }
  }
  return data;
}

quellmar::test::RunResult rass(const std::string& dir,
                               const std::vector<std::string>& args) {
  return quellmar::test::run_program(QUELLMAR_RASS_BINARY, dir, args);
}

// A variable of group mode_<mode> as doubles (fill values as read).
std::vector<double> values(const std::string& path, int mode,
                           const char* name) {
  int file = -1, group = -1, var = -1;
  std::vector<double> out;
  if (nc_open(path.c_str(), NC_NOWRITE, &file) != NC_NOERR) return out;
  if (nc_inq_grp_ncid(file, ("mode_" + std::to_string(mode)).c_str(), &group) ==
          NC_NOERR &&
      nc_inq_varid(group, name, &var) == NC_NOERR) {
    out.resize(quellmar::test::nc_var_length(group, var));
    if (!out.empty()) nc_get_var_double(group, var, out.data());
  }
  nc_close(file);
  return out;
}

// A global text attribute of the file ("" when absent).
std::string root_text(const std::string& path, const char* name) {
  int file = -1;
  std::string out;
  if (nc_open(path.c_str(), NC_NOWRITE, &file) != NC_NOERR) return out;
  size_t length = 0;
  if (nc_inq_attlen(file, NC_GLOBAL, name, &length) == NC_NOERR) {
    out.resize(length);
    nc_get_att_text(file, NC_GLOBAL, name, out.data());
  }
  nc_close(file);
  return out;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(RassProfiles, KnownTemperaturesUnfoldedCorrectedAndAmbiguous) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h = rass_header();
  const Bytes header = quellmar::writer::encode_header(h);
  quellmar::test::write_pair(dir.path(), "d02124a.mom", header,
                             rass_records(h, true));
  quellmar::test::write_pair(dir.path(), "d02125a.mom", header,
                             rass_records(h, false));
  struct Case {
    std::vector<std::string> args;
    int mode;
    const char* source;  // the w source written (1 same dwell, 2 wind mode)
    double w_source;
    bool ambiguous;
  };
  // The first guess of -15 C lies 32 to 38 K below the truth: one
  // candidate in the plausible band at V = 68 m/s, two at V = 20.5 m/s.
  const std::vector<Case> cases = {
      {{"d02124a.mom"}, 1, "same dwell", 1, false},
      {{"d02124a.mom"}, 2, "same dwell", 1, false},
      {{"d02124a.mom"}, 3, "same dwell", 1, false},
      {{"d02124a.mom", "--first-guess", "-15"}, 2, "same dwell", 1, false},
      {{"d02124a.mom", "--first-guess", "-15"}, 3, "", 0, true},
      {{"d02125a.mom", "--acoustic-set", "1"}, 2, "wind mode", 2, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "t.nc", "--csv", "t.csv"});
    const std::string trace =
        args[0] + " " + args[1] + " mode " + std::to_string(c.mode);
    SCOPED_TRACE(trace);
    const quellmar::test::RunResult run = rass(dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string nc = dir.file("t.nc");
    const std::vector<double> time = values(nc, c.mode, "time");
    const std::vector<double> height = values(nc, c.mode, "height");
    ASSERT_EQ(time.size(), 4u);
    ASSERT_EQ(height.size(), 8u);
    EXPECT_EQ(time[1], kDay124 + 2700);
    const auto tv = values(nc, c.mode, "virtual_temperature");
    const auto raw = values(nc, c.mode, "virtual_temperature_uncorrected");
    const auto w = values(nc, c.mode, "upward_air_velocity");
    const auto source = values(nc, c.mode, "upward_air_velocity_source");
    const auto aux = values(nc, c.mode, "stored_auxiliary");
    const auto used = values(nc, c.mode, "n_used");
    const auto available = values(nc, c.mode, "n_available");
    const auto ambiguous = values(nc, c.mode, "n_ambiguous");
    // The profile whose first gate the first guess cannot unfold is marked.
    EXPECT_EQ(values(nc, c.mode, "first_gate_ambiguous"),
              std::vector<double>(4, c.ambiguous ? 1.0 : 0.0));
    // A smooth field: every value good, every missing one missing.
    const auto flag = values(nc, c.mode, "virtual_temperature_flag");
    ASSERT_EQ(flag.size(), tv.size());
    for (size_t i = 0; i < tv.size(); ++i) {
      EXPECT_EQ(flag[i], tv[i] == -9999.0 ? 2 : 0) << i;
    }
    // Storage rounds each velocity to V/10000 m/s; 1 m/s is about 1.75 K.
    const double bound = 2 * 1.75 * nyquist_of(h.modes[c.mode]) / 20000 + 1e-3;
    for (size_t p = 0; p < 4; ++p) {
      for (size_t k = 0; k < 8; ++k) {
        const size_t at = p * 8 + k;
        const double truth = truth_tv(height[k], static_cast<int>(p));
        EXPECT_EQ(available[at], 30);
        if (c.ambiguous) {
          EXPECT_EQ(tv[at], -9999.0);
          EXPECT_EQ(used[at], 0);
          EXPECT_GE(ambiguous[at], 24);
          continue;
        }
        EXPECT_NEAR(tv[at], truth, bound) << p << " " << k;
        const double c_true = speed_of(truth);
        EXPECT_NEAR(raw[at], virtual_temperature(c_true + kW), bound);
        EXPECT_NEAR(w[at], kW, nyquist_of(h.modes[c.mode]) / 20000 + 1e-4);
        EXPECT_EQ(source[at], c.w_source) << c.source;
        EXPECT_EQ(used[at], 24);
        // Only outliers may unfold ambiguously.
        EXPECT_LE(ambiguous[at], 6);
        if (c.w_source == 1) {
          EXPECT_NEAR(aux[at], truth - 273.15, 0.06);
        }
      }
    }
  }
  const std::string csv = quellmar::test::read_text(dir.file("t.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "time,mode,height_m,tv_k,tv_uncorrected_k,w_m_s,w_source,spread_k,"
            "stored_auxiliary,n_used,n_available,n_ambiguous,tv_flag");
  EXPECT_NE(csv.find("\n2002-05-04T00:15:00Z,2,450.0,"), std::string::npos);
  EXPECT_NE(csv.find(",wind_mode,"), std::string::npos);
  EXPECT_NE(csv.find(",24,30,0,0\n"), std::string::npos);  // used, flag good
}

TEST(RassProfiles, ARecordFromTwoInputsCountsOnceAndBufrHoldsTheFile) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h = rass_header();
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(h),
                             rass_records(h, true));
  namespace fs = std::filesystem;
  fs::copy_file(dir.file("d02124a.mom"), dir.file("d02124b.mom"));
  fs::copy_file(dir.file("h02124a.mom"), dir.file("h02124b.mom"));
  ASSERT_EQ(rass(dir.path(), {"d02124a.mom", "-o", "one.nc"}).status, 0);
  const std::vector<std::string> site = {
      "--wmo-block", "10",          "--wmo-station", "393",        "--latitude",
      "52.21",       "--longitude", "14.12",         "--altitude", "112"};
  std::vector<std::string> args = {"d02124b.mom", "d02124a.mom", "-o",
                                   "two.nc"};
#ifdef QUELLMAR_WITH_BUFR
  args.insert(args.end(), {"--bufr", "two.bufr"});
  args.insert(args.end(), site.begin(), site.end());
#endif
  const quellmar::test::RunResult twice = rass(dir.path(), args);
  ASSERT_EQ(twice.status, 0) << twice.err;
  // Each dwell and vertical wind record of the copy: 120 minutes x 4 beams.
  EXPECT_NE(twice.err.find("quellmar-rass: 480 record(s) set aside: a "
                           "record of the same time, radar and beam came "
                           "from another input already"),
            std::string::npos)
      << twice.err;
  for (int mode = 1; mode <= 3; ++mode) {
    for (const char* name : {"virtual_temperature", "n_used", "n_available",
                             "virtual_temperature_flag"}) {
      EXPECT_EQ(values(dir.file("two.nc"), mode, name),
                values(dir.file("one.nc"), mode, name))
          << mode << " " << name;
    }
  }

#if defined(QUELLMAR_WITH_BUFR) && defined(QUELLMAR_BUFR_DUMP)
  // One message per period and mode (by period, then mode): its end and
  // length, heights above sea level, Tv within BUFR's 0.1 K and the
  // indicators of the flags.
  const auto messages =
      quellmar::test::read_bufr(QUELLMAR_BUFR_DUMP, dir.file("two.bufr"));
  ASSERT_EQ(messages.size(), 12u);
  for (size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& m = messages[i];
    const int mode = 1 + static_cast<int>(i % 3);
    const size_t p = i / 3;
    const std::string nc = dir.file("two.nc");
    const auto bounds = values(nc, mode, "time_bounds");
    const auto height = values(nc, mode, "height");
    const auto tv = values(nc, mode, "virtual_temperature");
    const auto flag = values(nc, mode, "virtual_temperature_flag");
    const int64_t end = static_cast<int64_t>(bounds[2 * p + 1]);
    EXPECT_EQ(m.at("unexpandedDescriptors"), "309025");
    EXPECT_EQ(quellmar::test::bufr_number(m, "stationNumber"), 393);
    // The period's end on 2002-05-04 (the last at 02:00), the RASS
    // sub-category (C-13: 11) and the header's transmit frequency.
    EXPECT_EQ(quellmar::test::bufr_number(m, "internationalDataSubCategory"),
              11);
    EXPECT_EQ(quellmar::test::bufr_number(m, "meanFrequency"), 915e6);
    EXPECT_EQ(quellmar::test::bufr_number(m, "year"), 2002);
    EXPECT_EQ(quellmar::test::bufr_number(m, "month"), 5);
    EXPECT_EQ(quellmar::test::bufr_number(m, "day"), 4);
    EXPECT_EQ(quellmar::test::bufr_number(m, "hour"), (end / 3600) % 24);
    EXPECT_EQ(quellmar::test::bufr_number(m, "minute"), (end / 60) % 60);
    EXPECT_EQ(quellmar::test::bufr_number(m, "timePeriod"), -30);
    for (size_t k = 0; k < height.size(); ++k) {
      const int n = static_cast<int>(k) + 1;
      const size_t at = p * height.size() + k;
      EXPECT_NEAR(quellmar::test::bufr_number(m, "height", n), 112 + height[k],
                  0.5 + 1e-6);
      EXPECT_NEAR(quellmar::test::bufr_number(m, "virtualTemperature", n),
                  tv[at], 0.05 + 1e-6);
      EXPECT_EQ(quellmar::test::bufr_quality_at(m, n),
                flag[at] == 2 ? 3 : flag[at]);
    }
  }
#endif
}

// A day of known truth with one condition at a time: modes as
// rass_header, one dwell per beam and minute for two hours. The sound
// pulse moves at the speed of sound of truth(z, minute) plus the air's
// w (air_w), with +-0.1 m/s of jitter in even and odd minutes and
// normal noise of 0.03 m/s; every fifth minute an outlier 8 m/s too fast;
// with `warm`, every other third minute 1.6 K warmer (a second cluster
// that a window twice as wide would join). The clear air (the other set
// of two-set dwells, and the vertical wind beam) moves at air_w, or in
// rain at the fall speed, -5 m/s, with a broad echo.
struct RassDay {
  std::function<double(double z, int minute)> truth;
  bool two_sets = true;
  bool acoustic_first = false;
  double air_w = 1.0;
  std::function<bool(int minute)> rain = [](int) { return false; };
  bool warm = false;
  bool toward = false;  // velocities stored positive toward the radar
};

double warm_k(const RassDay& day, int minute) {
  return day.warm && minute % 3 == 0 && minute % 5 != 0 ? 1.6 : 0.0;
}

Bytes rass_day(const quellmar::writer::HeaderSpec& h, const RassDay& day,
               uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.03);
  Bytes data;
  const int16_t datacode = day.two_sets ? 2116 : 2100;
  for (int minute = 0; minute < 120; ++minute) {
    const bool rain = day.rain(minute);
    for (int b = 0; b < h.beam_count; ++b) {
      const quellmar::writer::ModeSpec& mode = h.modes[b];
      const double v = nyquist_of(mode);
      const double sign = day.toward ? -1.0 : 1.0;
      const auto count = [v, sign](double x) {
        return static_cast<int16_t>(std::lround(sign * x / v * 10000.0));
      };
      quellmar::writer::BodySpec body;
      body.datacode = b == 0 ? 2100 : datacode;
      for (int g = 0; g < mode.gate_count; ++g) {
        const double z = height_of(mode, g);
        const double tv = day.truth(z, minute) + warm_k(day, minute);
        quellmar::writer::GateMoments clear, acoustic;
        clear.velocity = count((rain ? -5.0 : day.air_w) + noise(random));
        clear.width = static_cast<uint16_t>(
            std::lround((rain ? 1.5 : 0.3) / v * 10000.0));
        clear.snr = 1000;
        const double c = speed_of(tv) + day.air_w +
                         (minute % 5 == 0 ? 8.0 : 0.0) +
                         (minute % 2 == 0 ? 0.1 : -0.1) + noise(random);
        acoustic.velocity = count(aliased(c, v));
        acoustic.width = static_cast<uint16_t>(std::lround(0.2 / v * 10000.0));
        acoustic.snr = 1500;
        if (b == 0) {
          body.moments.push_back(clear);
        } else if (!day.two_sets) {
          body.moments.push_back(acoustic);
        } else if (day.acoustic_first) {
          body.moments.push_back(acoustic);
          body.second.push_back(clear);
        } else {
          body.moments.push_back(clear);
          body.second.push_back(acoustic);
        }
      }
      data.append(rass_record(mode, b, minute, body));
    }
  }
  return data;
}

// A cold site: -30 C at the radar, an inversion of 8 K/km up to 600 m and
// 6.5 K/km above, warming by 0.5 K per 30 minutes.
double cold_tv(double z, int minute) {
  return 243.15 + 0.008 * std::min(z, 600.0) -
         0.0065 * std::max(0.0, z - 600.0) + 0.5 * (minute / 30);
}

TEST(RassProfiles, ColdSiteAliasedModeUnfoldsByTheFirstGuessAndContinuity) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h = rass_header();
  RassDay day;
  day.truth = cold_tv;
  day.warm = true;
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(h),
                             rass_day(h, day, 7));
  // The day's surface temperature in a table, 3 K off at most.
  write_text(dir.file("guess.csv"),
             "time,temperature_c\n"
             "2002-05-04T00:00:00Z,-33.0\n"
             "2002-05-04 01:00,-27.5\n"
             "2002-05-04T02:00,-30\n");
  const std::vector<std::vector<std::string>> runs = {
      {"--first-guess", "-30"}, {"--first-guess-file", "guess.csv"}};
  for (const auto& extra : runs) {
    SCOPED_TRACE(extra[0]);
    std::vector<std::string> args = {"d02124a.mom", "-o", "t.nc"};
    args.insert(args.end(), extra.begin(), extra.end());
    const quellmar::test::RunResult run = rass(dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    // The 20.5 m/s mode's candidates lie 64 K apart: said for a constant
    // first guess only.
    EXPECT_EQ(run.err.find("mode 3: the candidates of the unfolding lie 6") !=
                  std::string::npos,
              extra[0] == "--first-guess")
        << run.err;
    for (int mode = 1; mode <= 3; ++mode) {
      SCOPED_TRACE(mode);
      const std::string nc = dir.file("t.nc");
      const auto height = values(nc, mode, "height");
      const auto tv = values(nc, mode, "virtual_temperature");
      const auto flag = values(nc, mode, "virtual_temperature_flag");
      const auto used = values(nc, mode, "n_used");
      const auto first = values(nc, mode, "first_gate_ambiguous");
      ASSERT_EQ(tv.size(), 32u);
      for (size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(first[p], 0);
        for (size_t k = 0; k < 8; ++k) {
          const size_t at = p * 8 + k;
          const double truth = cold_tv(height[k], static_cast<int>(p) * 30);
          // The consensus holds the 16 dwells of the main cluster, not the 8
          // warmer ones 1.6 K away, nor the 6 outliers.
          EXPECT_NEAR(tv[at], truth, 0.15) << p << " " << k;
          EXPECT_EQ(used[at], 16) << p << " " << k;
          EXPECT_EQ(flag[at], 0);
        }
      }
    }
  }
  // The default first guess, 15 C, picks the wrong candidate of the
  // 20.5 m/s mode at the first gate and the whole profile follows it: the
  // run says so (the other modes are right).
  const quellmar::test::RunResult plain =
      rass(dir.path(), {"d02124a.mom", "-o", "t.nc"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.err.find("mode 3: the candidates of the unfolding lie 6"),
            std::string::npos)
      << plain.err;
  EXPECT_EQ(plain.err.find("mode 2: the candidates"), std::string::npos);
  EXPECT_NEAR(values(dir.file("t.nc"), 2, "virtual_temperature")[0],
              cold_tv(450.0, 0), 0.15);
}

TEST(RassProfiles, SoundInTheFirstSetIsFoundWithTheDefaultCommandLine) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h = rass_header();
  RassDay day;
  day.truth = [](double z, int minute) { return truth_tv(z, minute / 30); };
  day.acoustic_first = true;
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(h),
                             rass_day(h, day, 11));
  const quellmar::test::RunResult run =
      rass(dir.path(), {"d02124a.mom", "-o", "t.nc", "--csv", "t.csv"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (int mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    EXPECT_NE(run.err.find("mode " + std::to_string(mode) +
                           ": the sound pulse (--acoustic-set auto) in set 1 "
                           "in 4 of 4 period(s)"),
              std::string::npos)
        << run.err;
    const std::string nc = dir.file("t.nc");
    const auto height = values(nc, mode, "height");
    const auto tv = values(nc, mode, "virtual_temperature");
    const auto w = values(nc, mode, "upward_air_velocity");
    const auto source = values(nc, mode, "upward_air_velocity_source");
    EXPECT_EQ(values(nc, mode, "acoustic_set"), std::vector<double>(4, 1.0));
    ASSERT_EQ(tv.size(), 32u);
    for (size_t at = 0; at < tv.size(); ++at) {
      EXPECT_NEAR(tv[at], truth_tv(height[at % 8], static_cast<int>(at / 8)),
                  0.15)
          << at;
      EXPECT_NEAR(w[at], day.air_w, 0.05);
      EXPECT_EQ(source[at], 1);  // the dwell's own clear air, set 2
    }
  }
  EXPECT_EQ(root_text(dir.file("t.nc"), "acoustic_set_choice"), "auto");
}

TEST(RassProfiles, RainHourNeverCorrectsByTheFallSpeed) {
  quellmar::test::TempDir dir;
  const quellmar::writer::HeaderSpec h = rass_header();
  RassDay day;
  day.truth = [](double z, int minute) { return truth_tv(z, minute / 30); };
  day.air_w = 0.3;
  day.rain = [](int minute) { return minute >= 60; };
  // Two sets: w from the dwell's own clear air; one set: from the wind
  // mode's vertical beam, flagged as precipitation by the wind method.
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(h),
                             rass_day(h, day, 13));
  day.two_sets = false;
  quellmar::test::write_pair(dir.path(), "d02125a.mom",
                             quellmar::writer::encode_header(h),
                             rass_day(h, day, 17));
  // The same with velocities stored positive toward the radar: the wind
  // mode's w takes the stored sign once.
  day.toward = true;
  quellmar::test::write_pair(dir.path(), "d02126a.mom",
                             quellmar::writer::encode_header(h),
                             rass_day(h, day, 17));
  for (const int run_case : {0, 1, 2, 3}) {
    const bool missing = run_case == 1, own = run_case < 2;
    SCOPED_TRACE(run_case);
    const char* input = own             ? "d02124a.mom"
                        : run_case == 2 ? "d02125a.mom"
                                        : "d02126a.mom";
    std::vector<std::string> args = {input, "-o", "t.nc"};
    if (missing) args.insert(args.end(), {"--precipitation-w", "missing"});
    if (run_case == 3) args.insert(args.end(), {"--velocity-sign", "toward"});
    const quellmar::test::RunResult run = rass(dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    for (int mode = 1; mode <= 3; ++mode) {
      SCOPED_TRACE(mode);
      const std::string nc = dir.file("t.nc");
      const auto height = values(nc, mode, "height");
      const auto tv = values(nc, mode, "virtual_temperature");
      const auto raw = values(nc, mode, "virtual_temperature_uncorrected");
      const auto w = values(nc, mode, "upward_air_velocity");
      const auto source = values(nc, mode, "upward_air_velocity_source");
      const auto flag = values(nc, mode, "virtual_temperature_flag");
      ASSERT_EQ(tv.size(), 32u);
      for (size_t at = 0; at < tv.size(); ++at) {
        SCOPED_TRACE(at);
        const double truth = truth_tv(height[at % 8], static_cast<int>(at / 8));
        if (at < 16) {  // the dry hour: corrected by the clear air
          EXPECT_NEAR(tv[at], truth, 0.15);
          EXPECT_NEAR(w[at], 0.3, 0.05);
          EXPECT_EQ(source[at], own ? 1 : 2);
          EXPECT_EQ(flag[at], 0);
        } else if (!missing) {  // uncorrected, flagged, no w
          EXPECT_NEAR(tv[at], virtual_temperature(speed_of(truth) + 0.3), 0.15);
          EXPECT_EQ(raw[at], tv[at]);
          EXPECT_EQ(w[at], -9999.0);
          EXPECT_EQ(source[at], 4);
          EXPECT_EQ(flag[at], 1);
        } else {
          EXPECT_EQ(tv[at], -9999.0);
          EXPECT_EQ(source[at], 5);
          EXPECT_EQ(flag[at], 2);
        }
      }
    }
  }
}

TEST(RassInput, HostileInputGetsAMessageAndTheRightStatus) {
  quellmar::test::TempDir dir;
  quellmar::writer::HeaderSpec wind_only = rass_header();
  wind_only.beam_count = 1;
  quellmar::test::write_pair(dir.path(), "d02124a.mom",
                             quellmar::writer::encode_header(wind_only),
                             rass_records(wind_only, true));
  // A Nyquist velocity of 0 (no transmit frequency): no temperature, and
  // a note saying so.
  quellmar::writer::HeaderSpec silent = rass_header();
  silent.tx_frequency = 0;
  quellmar::test::write_pair(dir.path(), "d02125a.mom",
                             quellmar::writer::encode_header(silent),
                             rass_records(silent, true));
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"d02124a.mom", "-o", "t.nc"}, 1, "no RASS dwells in the input"},
      {{"d02125a.mom", "-o", "t.nc", "--first-guess", "61"},
       2,
       "bad value for --first-guess: 61"},
      {{"d02125a.mom", "-o", "t.nc", "--acoustic-set", "3"},
       2,
       "bad value for --acoustic-set: 3"},
      {{"d02125a.mom", "-o", "d02125a.mom"}, 2, "would replace the input"},
      {{"d02125a.mom", "-o", "t.nc", "--bufr", "t.bufr", "--wmo-block", "10",
        "--latitude", "52"},
       2,
       "--bufr needs --wmo-station, --longitude, --altitude"},
      {{"d02125a.mom", "-o", "t.nc", "--qc-max-step", "-1"},
       2,
       "bad value for --qc-max-step: -1"},
      {{"d02125a.mom", "-o", "t.nc", "--first-guess-file", "none.csv"},
       1,
       "--first-guess-file none.csv: cannot be read"},
      {{"d02125a.mom", "-o", "t.nc", "--first-guess-file", "."},
       1,
       "--first-guess-file .: cannot be read"},
      {{"d02125a.mom", "-o", "t.nc", "--precipitation-w", "some"},
       2,
       "bad value for --precipitation-w: some"},
      {{"d02125a.mom", "-o", "t.nc"}, 0, "no virtual temperature came out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const quellmar::test::RunResult run = rass(dir.path(), c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(quellmar::test::file_exists(dir.file("t.nc")), c.status == 0);
  }
  const std::vector<double> tv =
      values(dir.file("t.nc"), 1, "virtual_temperature");
  ASSERT_FALSE(tv.empty());
  for (double v : tv) EXPECT_EQ(v, -9999.0);
}

#endif  // QUELLMAR_RASS_BINARY

}  // namespace
