// The tool's fast spectrum lines against the access module's one statement
// of the line rule (pda_spectrum_line), every value printed with
// snprintf(" %.2f"). Windows of every shape are drawn at random:
// overlapping, reaching before point 1 or past the last point, longer than
// the row the decode kept.

#include "tool/spectrum_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "disk/pda.h"

using quellmar::tool::put_spectrum_lines;
using quellmar::tool::SpectrumSource;
using quellmar::tool::TextBuffer;

namespace {

// The reference: the access module's spectrum line of each gate, each
// value printed with snprintf(" %.2f").
std::string model_lines(const SpectrumSource& s) {
  SpectrumLineShape shape;
  shape.window1_start = s.w1s;
  shape.window1_points = s.w1n;
  shape.window2_start = s.w2s;
  shape.window2_points = s.w2n;
  shape.placement = s.placement;
  shape.spectral_points = s.points;
  shape.positional = s.positional;
  std::string text;
  char field[64];
  for (int64_t g = 0; g < s.gate_count; ++g) {
    const bool allocated = g < s.decoded_gates;
    const int64_t row_length = allocated ? s.row_length : 0;
    const float* row = allocated ? s.rows.get() + g * s.row_length : nullptr;
    std::vector<float> line(
        static_cast<size_t>(pda_spectrum_line_length(shape, row_length)));
    pda_spectrum_line(shape, row, row_length, line.data());
    std::snprintf(field, sizeof field, "%2ld", static_cast<long>(g));
    text += field;
    for (float v : line) {
      std::snprintf(field, sizeof field, " %.2f", static_cast<double>(v));
      text += field;
    }
    text += '\n';
  }
  return text;
}

std::string lines(const SpectrumSource& s) {
  TextBuffer t;
  put_spectrum_lines(t, s);
  return std::string(t.view());
}

// A record of `gates` lines whose decode kept `decoded` rows of points + 1
// values: each row distinct, with runs of zeros, -0.0 and large values.
SpectrumSource record(std::mt19937& rng, int64_t gates, int64_t decoded,
                      int64_t points) {
  SpectrumSource s;
  s.gate_count = gates;
  s.decoded_gates = decoded;
  s.points = points;
  s.row_length = points + 1;
  const int64_t size = std::max<int64_t>(decoded, 1) * s.row_length;
  s.rows = std::shared_ptr<float[]>(new float[size]);
  std::uniform_real_distribution<float> level(-50.0f, 2000.0f);
  for (int64_t i = 0; i < size; ++i) {
    const unsigned kind = rng() % 8;
    s.rows[i] = kind < 3 ? 0.0f : kind == 3 ? -0.0f : level(rng);
  }
  return s;
}

TEST(SpectrumLines, RandomWindowsMatchTheLineRule) {
  std::mt19937 rng(8080);
  for (int round = 0; round < 3000; ++round) {
    const int64_t points = 1 + rng() % 300;
    const int64_t gates = rng() % 5;
    const int64_t decoded = rng() % 2 == 0 ? gates : rng() % (gates + 1);
    SpectrumSource s = record(rng, gates, decoded, points);
    auto start = [&] {
      return static_cast<int32_t>(static_cast<int64_t>(rng() % (points + 40)) -
                                  20);
    };
    auto count = [&] {
      return static_cast<int32_t>(static_cast<int64_t>(rng() % (points + 40)) -
                                  5);
    };
    s.w1s = start();
    s.w1n = count();
    s.w2s = start();
    s.w2n = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 2) : count();
    s.placement = static_cast<int32_t>(rng() % 3);
    s.positional = rng() % 3 == 0;
    const std::string want = model_lines(s);
    const std::string got = lines(s);
    if (want != got) {
      ADD_FAILURE() << "round " << round << ": points " << points << " windows "
                    << s.w1s << "+" << s.w1n << ", " << s.w2s << "+" << s.w2n
                    << " placement " << s.placement << " positional "
                    << s.positional << "\nwant " << want << "\ngot  " << got;
      return;
    }
  }
}

// The common shapes, spelled out: two separate windows, window 2 after
// window 1, windows that meet, and a window 1 longer than the row.
TEST(SpectrumLines, TypicalWindowsGiveTheExpectedText) {
  SpectrumSource s;
  s.gate_count = 1;
  s.decoded_gates = 1;
  s.points = 6;
  s.row_length = 7;
  s.rows = std::shared_ptr<float[]>(new float[7]{1, 2, 3, 4, 5, 6, 7});
  s.placement = 1;
  // Window 2 on point 1 (2 points), window 1 on points 4 to 5.
  s.w2s = 1, s.w2n = 2, s.w1s = 4, s.w1n = 2;
  EXPECT_EQ(lines(s), " 0 1.00 2.00 0.00 3.00 4.00 0.00\n");
  // Window 2 after window 1.
  s.w1s = 1, s.w1n = 2, s.w2s = 5, s.w2n = 2;
  EXPECT_EQ(lines(s), " 0 3.00 4.00 0.00 0.00 1.00 2.00\n");
  // Window 2 over window 1 where they meet.
  s.w1s = 2, s.w1n = 3, s.w2s = 3, s.w2n = 2;
  EXPECT_EQ(lines(s), " 0 0.00 3.00 1.00 2.00 0.00 0.00\n");
  // Window 1 taking more values than the row keeps after window 2's.
  s.w2s = 1, s.w2n = 2, s.w1s = 1, s.w1n = 6;
  s.placement = 0;
  EXPECT_EQ(lines(s), " 0 3.00 4.00 5.00 6.00 7.00 0.00\n");
}

}  // namespace

TEST(SpectrumLines, DopplerAxisIsCentredOnPointHalfPPlusOne) {
  EXPECT_DOUBLE_EQ(pda_doppler_velocity_ms(1, 64, 10.0), -10.0);
  EXPECT_DOUBLE_EQ(pda_doppler_velocity_ms(33, 64, 10.0), 0.0);
  EXPECT_DOUBLE_EQ(pda_doppler_velocity_ms(64, 64, 10.0), 10.0 - 20.0 / 64);
  EXPECT_DOUBLE_EQ(pda_doppler_velocity_ms(1, 5, 10.0), -10.0);
  EXPECT_DOUBLE_EQ(pda_doppler_velocity_ms(4, 5, 10.0), 2.0);
  EXPECT_EQ(pda_doppler_velocity_ms(1, 0, 10.0), 0.0);
}
