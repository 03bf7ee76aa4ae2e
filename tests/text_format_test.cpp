// Checks the fast formatters byte for byte against the C library's snprintf.

#include "tool/text_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tool/fixed_fields.h"

namespace quellmar::tool {
namespace {

// Room for any width and precision used below.
constexpr std::size_t kScratch = 1024;

std::string RefInt(std::int64_t v, int width, bool zero_pad) {
  char buf[kScratch];
  const int n = std::snprintf(buf, sizeof buf, zero_pad ? "%0*ld" : "%*ld",
                              width, static_cast<long>(v));
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string FastInt(std::int64_t v, int width, bool zero_pad) {
  char buf[kScratch];
  char* end = format_int(buf, v, width, zero_pad);
  return std::string(buf, end);
}

std::string RefFixed(float v, int width, int precision) {
  char buf[kScratch];
  const int n = std::snprintf(buf, sizeof buf, "%*.*f", width, precision,
                              static_cast<double>(v));
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string FastFixed(float v, int width, int precision) {
  char buf[kScratch];
  char* end = format_fixed(buf, v, width, precision);
  return std::string(buf, end);
}

float FromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

// Compares one value against snprintf; returns false (after recording a
// failure) on mismatch so that loops can stop early.
bool Same(float v, int width, int precision) {
  const std::string want = RefFixed(v, width, precision);
  const std::string got = FastFixed(v, width, precision);
  if (want == got) return true;
  ADD_FAILURE() << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v)
                << std::dec << " width " << width << " precision " << precision
                << ": want \"" << want << "\" got \"" << got << "\"";
  return false;
}

TEST(FormatIntTest, EdgeValuesAndWidths) {
  const std::int64_t values[] = {0,
                                 1,
                                 -1,
                                 7,
                                 -7,
                                 9,
                                 10,
                                 -10,
                                 99,
                                 100,
                                 -100,
                                 999,
                                 1000,
                                 12345,
                                 -12345,
                                 2147483647,
                                 -2147483648LL,
                                 4294967296LL,
                                 999999999999999999LL,
                                 1000000000000000000LL,
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min(),
                                 std::numeric_limits<std::int64_t>::min() + 1};
  for (std::int64_t v : values) {
    for (int width : {-25, -3, 0, 1, 2, 3, 4, 5, 8, 19, 20, 21, 25, 60}) {
      for (bool zero_pad : {false, true}) {
        EXPECT_EQ(FastInt(v, width, zero_pad), RefInt(v, width, zero_pad))
            << v << " width " << width << " zero_pad " << zero_pad;
      }
    }
  }
}

TEST(FormatIntTest, KnownOutputs) {
  EXPECT_EQ(FastInt(5, 2, false), " 5");
  EXPECT_EQ(FastInt(-5, 2, false), "-5");
  EXPECT_EQ(FastInt(-5, 4, false), "  -5");
  EXPECT_EQ(FastInt(-5, 4, true), "-005");
  EXPECT_EQ(FastInt(7, 3, true), "007");
  EXPECT_EQ(FastInt(12345, 3, false), "12345");
  EXPECT_EQ(FastInt(-5, -4, true), "-5  ");
  EXPECT_EQ(FastInt(std::numeric_limits<std::int64_t>::min(), 0, false),
            "-9223372036854775808");
}

TEST(FormatIntTest, RandomValuesOfAllMagnitudes) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    const int bits = static_cast<int>(rng() % 64) + 1;
    std::uint64_t raw = rng();
    if (bits < 64) raw &= (std::uint64_t{1} << bits) - 1;
    std::int64_t v = static_cast<std::int64_t>(raw);
    if (rng() & 1) v = static_cast<std::int64_t>(0 - raw);
    const int width = static_cast<int>(rng() % 24);
    const bool zero_pad = (rng() & 3) == 0;
    ASSERT_EQ(FastInt(v, width, zero_pad), RefInt(v, width, zero_pad))
        << v << " width " << width << " zero_pad " << zero_pad;
  }
}

TEST(FormatFixedTest, KnownOutputs) {
  EXPECT_EQ(FastFixed(0.125f, 0, 2), "0.12");
  EXPECT_EQ(FastFixed(0.375f, 0, 2), "0.38");
  EXPECT_EQ(FastFixed(-0.125f, 0, 2), "-0.12");
  EXPECT_EQ(FastFixed(2.5f, 0, 0), "2");
  EXPECT_EQ(FastFixed(3.5f, 0, 0), "4");
  EXPECT_EQ(FastFixed(0.0625f, 0, 3), "0.062");
  EXPECT_EQ(FastFixed(-0.0f, 0, 2), "-0.00");
  EXPECT_EQ(FastFixed(-0.001f, 0, 2), "-0.00");
  EXPECT_EQ(FastFixed(1.5f, 8, 3), "   1.500");
  EXPECT_EQ(FastFixed(1.5f, -8, 3), "1.500   ");
  EXPECT_EQ(FastFixed(-12.25f, 7, 3), "-12.250");
  EXPECT_EQ(FastFixed(std::numeric_limits<float>::infinity(), 8, 3),
            "     inf");
  EXPECT_EQ(FastFixed(-std::numeric_limits<float>::infinity(), 0, 2), "-inf");
  EXPECT_EQ(FastFixed(FromBits(0x7fc00000u), 0, 2), "nan");
  EXPECT_EQ(FastFixed(FromBits(0xffc00000u), 7, 3), "   -nan");
  EXPECT_EQ(FastFixed(FLT_MAX, 0, 2),
            "340282346638528859811704183484516925440.00");
}

TEST(FormatFixedTest, NonFiniteZerosAndExtremes) {
  const std::uint32_t patterns[] = {
      0x00000000u, 0x80000000u,                            // zeros
      0x7f800000u, 0xff800000u,                            // infinities
      0x7fc00000u, 0xffc00000u, 0x7fc00001u, 0xffc12345u,  // quiet NaNs
      0x7f800001u, 0xff800001u, 0x7fbfffffu, 0xffbfffffu,  // signalling NaNs
      0x7fffffffu, 0xffffffffu,                            // NaN payloads
      0x00000001u, 0x80000001u, 0x007fffffu, 0x807fffffu,  // denormals
      0x00800000u, 0x80800000u,                            // FLT_MIN
      0x7f7fffffu, 0xff7fffffu,                            // FLT_MAX
      0x3f800000u, 0xbf800000u, 0x4b7fffffu, 0x4b800000u, 0x5f000000u,
      0x5f7fffffu, 0x5f800000u, 0x5fffffffu, 0x60000000u, 0x6c000000u};
  for (std::uint32_t bits : patterns) {
    for (int precision = 0; precision <= 9; ++precision) {
      for (int width : {-60, -8, 0, 1, 3, 4, 5, 7, 8, 12, 45, 60}) {
        Same(FromBits(bits), width, precision);
      }
    }
  }
}

TEST(FormatFixedTest, ValuesRoundingToZeroKeepTheirSign) {
  const float values[] = {-0.0f,   -0.001f,  -0.004f,   -0.0049999f,
                          -0.005f, -0.0051f, -1e-10f,   -1e-30f,
                          -1e-45f, -0.0004f, -0.00049f, -0.0005f};
  for (float v : values) {
    for (int precision = 0; precision <= 9; ++precision) {
      Same(v, 0, precision);
      Same(v, 8, precision);
      Same(-v, 0, precision);
    }
  }
  EXPECT_EQ(FastFixed(-0.004f, 0, 2), "-0.00");
  EXPECT_EQ(FastFixed(-0.0004f, 0, 3), "-0.000");
}

// Every exact tie at `precision` decimals is an odd multiple of
// 2^-(precision + 1); check those, their neighbours, and both signs.
TEST(FormatFixedTest, ExactTiesAndNeighbours) {
  std::mt19937 rng(777);
  for (int precision = 0; precision <= 9; ++precision) {
    const float unit = std::ldexp(1.0f, -(precision + 1));
    for (int i = 0; i < 4000; ++i) {
      // Small odd multiples first, then random ones up to 2^24.
      const std::uint32_t k = i < 2000 ? 2 * static_cast<std::uint32_t>(i) + 1
                                       : ((rng() % (1u << 24)) | 1u);
      const float tie = static_cast<float>(k) * unit;
      for (float v :
           {tie, std::nextafter(tie, 0.0f), std::nextafter(tie, INFINITY)}) {
        if (!Same(v, 0, precision) || !Same(-v, 8, precision)) return;
      }
    }
  }
}

TEST(FormatFixedTest, TypicalValues) {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> small(-1000.0f, 1000.0f);
  std::uniform_real_distribution<float> tiny(-0.01f, 0.01f);
  for (int i = 0; i < 150000; ++i) {
    const float v = small(rng);
    if (!Same(v, 0, 2) || !Same(v, 8, 3) || !Same(v, 7, 3)) return;
  }
  for (int i = 0; i < 50000; ++i) {
    const float v = tiny(rng);
    if (!Same(v, 0, 2) || !Same(v, 8, 3)) return;
  }
  // The floats nearest to every decimal with three places in [-100, 100].
  for (int n = -100000; n <= 100000; ++n) {
    const float v = static_cast<float>(n) / 1000.0f;
    if (!Same(v, 0, 2) || !Same(v, 7, 3)) return;
  }
}

// Random bit patterns cover every exponent, including NaN payloads of both
// signs, infinities and denormals.
TEST(FormatFixedTest, RandomBitPatterns) {
  std::mt19937 rng(20240601);
  const int widths[] = {0, 0, 5, 7, 8, 12, -9, 45};
  for (int i = 0; i < 2000000; ++i) {
    const std::uint32_t bits = static_cast<std::uint32_t>(rng());
    const int precision = (i & 1) != 0 ? 2 + (i >> 1) % 2 : (i >> 1) % 10;
    if (!Same(FromBits(bits), widths[(i >> 3) % 8], precision)) return;
  }
}

// A dense sweep over every float in a range of exponents that is common in
// practice: every 401st bit pattern from 2^-12 to 2^12, both signs.
TEST(FormatFixedTest, DenseSweep) {
  const std::uint32_t lo = std::bit_cast<std::uint32_t>(0x1p-12f);
  const std::uint32_t hi = std::bit_cast<std::uint32_t>(0x1p12f);
  for (std::uint32_t bits = lo; bits < hi; bits += 401) {
    if (!Same(FromBits(bits), 0, 2) ||
        !Same(FromBits(bits | 0x80000000u), 8, 3))
      return;
  }
}

TEST(FormatFixedTest, LargePrecisionFallsBackCorrectly) {
  for (float v : {0.1f, -2.5f, 1e-30f, FLT_MAX, -0.0f}) {
    for (int precision : {10, 17, 40, 150}) {
      for (int width : {-300, 0, 20, 300}) Same(v, width, precision);
    }
  }
  EXPECT_EQ(FastFixed(1.5f, 0, -1), "2");
}

// format_fixed_fast<P> against snprintf, for a precision fixed at compile
// time; returns false after recording a failure.
template <int P>
bool SameFast(float v, int width) {
  const std::string want = RefFixed(v, width, P);
  char buf[kScratch];
  const std::string got(buf, format_fixed_fast<P>(buf, v, width));
  if (want == got) return true;
  ADD_FAILURE() << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v)
                << std::dec << " width " << width << " precision " << P
                << ": want \"" << want << "\" got \"" << got << "\"";
  return false;
}

// The same value at every precision the fast path supports.
bool SameFastAllPrecisions(float v, int width) {
  return SameFast<1>(v, width) && SameFast<2>(v, width) &&
         SameFast<3>(v, width);
}

TEST(FormatFixedFastTest, KnownOutputs) {
  char buf[kScratch];
  auto text = [&](char* end) { return std::string(buf, end); };
  EXPECT_EQ(text(format_fixed_fast<3>(buf, -33.918f, 8)), " -33.918");
  EXPECT_EQ(text(format_fixed_fast<3>(buf, 5.296f, 8)), "   5.296");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, 22.02f, 0)), "22.02");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, 0.0f, 0)), "0.00");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, -0.0f, 0)), "-0.00");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, -0.004f, 6)), " -0.00");
  EXPECT_EQ(text(format_fixed_fast<3>(buf, 999.9996f, 0)), "1000.000");
  EXPECT_EQ(text(format_fixed_fast<3>(buf, -1234.5f, 10)), " -1234.500");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, 0.125f, 0)), "0.12");
  EXPECT_EQ(text(format_fixed_fast<2>(buf, 0.375f, 0)), "0.38");
  EXPECT_EQ(text(format_fixed_fast<3>(buf, INFINITY, 8)), "     inf");
  EXPECT_EQ(text(format_fixed_fast<3>(buf, -NAN, 0)), "-nan");
  EXPECT_EQ(text(format_fixed_fast<1>(buf, 1e30f, 0)),
            "1000000015047466219876688855040.0");
}

// Around the values where the table path hands over to the general one:
// results of 999.9... and 1000 at each precision, and the floats from 1024
// on, at several widths.
TEST(FormatFixedFastTest, EdgeOfTheTablePath) {
  for (float edge : {999.95f, 999.995f, 999.9995f, 1000.0f, 1024.0f}) {
    float v = edge;
    for (int i = 0; i < 300; ++i) v = std::nextafter(v, 0.0f);
    for (int i = 0; i < 600; ++i, v = std::nextafter(v, INFINITY)) {
      for (int width : {0, 9, 16}) {
        if (!SameFastAllPrecisions(v, width) ||
            !SameFastAllPrecisions(-v, width))
          return;
      }
    }
  }
}

TEST(FormatFixedFastTest, ZerosTinyHugeAndNonFinite) {
  const float values[] = {0.0f,     -0.0f,          FLT_TRUE_MIN, -FLT_TRUE_MIN,
                          FLT_MIN,  1e-10f,         0x1p-48f,     0x1p-49f,
                          0x1p-50f, 0x1p-10f,       0x1p-11f,     0x1p-12f,
                          0x1p23f,  0x1p23f - 0.5f, 8388609.0f,   FLT_MAX,
                          -FLT_MAX, INFINITY,       -INFINITY,    NAN,
                          -NAN,     0.5f,           1.5f,         2.5f,
                          -2.5f,    0.05f,          0.005f};
  for (float v : values) {
    for (int width = 0; width <= 16; ++width) {
      if (!SameFastAllPrecisions(v, width)) return;
    }
  }
}

// Every exact tie at P decimals is an odd multiple of 2^-(P + 1).
TEST(FormatFixedFastTest, ExactTiesAndNeighbours) {
  std::mt19937 rng(99);
  for (int precision = 1; precision <= 3; ++precision) {
    const float unit = std::ldexp(1.0f, -(precision + 1));
    for (int i = 0; i < 3000; ++i) {
      const std::uint32_t k = i < 1500 ? 2 * static_cast<std::uint32_t>(i) + 1
                                       : ((rng() % (1u << 24)) | 1u);
      const float tie = static_cast<float>(k) * unit;
      for (float v :
           {tie, std::nextafter(tie, 0.0f), std::nextafter(tie, INFINITY)}) {
        if (!SameFastAllPrecisions(v, 0) || !SameFastAllPrecisions(-v, 8))
          return;
      }
    }
  }
}

TEST(FormatFixedFastTest, RandomBitPatternsAndTypicalValues) {
  std::mt19937 rng(31337);
  for (int i = 0; i < 300000; ++i) {
    const float v = FromBits(static_cast<std::uint32_t>(rng()));
    if (!SameFastAllPrecisions(v, static_cast<int>(rng() % 17))) return;
  }
  std::uniform_real_distribution<float> gates(-200.0f, 200.0f);
  for (int i = 0; i < 300000; ++i) {
    const float v = gates(rng);
    if (!SameFast<2>(v, 0) || !SameFast<3>(v, 8) || !SameFast<3>(v, 7)) return;
  }
}

// Against the general formatter (itself checked against snprintf above),
// which is fast enough for a dense sweep: every 97th float below 2^24 in
// magnitude, both signs.
TEST(FormatFixedFastTest, DenseSweepAgainstGeneralPath) {
  char a[kScratch];
  char b[kScratch];
  const std::uint32_t hi = std::bit_cast<std::uint32_t>(0x1p24f);
  for (std::uint32_t bits = 0; bits < hi; bits += 97) {
    for (std::uint32_t sign : {0u, 0x80000000u}) {
      const float v = FromBits(bits | sign);
      const std::string want(a, format_fixed(a, v, 8, 3));
      const std::string got(b, format_fixed_fast<3>(b, v, 8));
      const std::string want2(a, format_fixed(a, v, 0, 2));
      const std::string got2(b, format_fixed_fast<2>(b, v, 0));
      if (want != got || want2 != got2) {
        ADD_FAILURE() << "bits 0x" << std::hex << (bits | sign) << ": \""
                      << want << "\"/\"" << got << "\", \"" << want2 << "\"/\""
                      << got2 << "\"";
        return;
      }
    }
  }
}

// format_fixed_width8<P> against snprintf("%8.*f"): eight bytes equal to
// printf's whenever it reports a length, and that length is the text's
// without padding; a refusal only for |v| rounding to 1000 or more, or a
// value that is not finite.
template <int P>
bool SameWidth8(float v) {
  char buf[16];
  const std::size_t length = format_fixed_width8<P>(buf, v);
  const std::string want = RefFixed(v, 8, P);
  const std::size_t text_length = want.size() - want.find_first_not_of(' ');
  bool ok;
  if (length == 0) {
    ok = !std::isfinite(v) || std::fabs(static_cast<double>(v)) >= 999.5;
  } else {
    ok = want.size() == 8 && std::string(buf, 8) == want &&
         length == text_length;
  }
  if (!ok) {
    ADD_FAILURE() << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v)
                  << std::dec << " precision " << P << ": want \"" << want
                  << "\" got \"" << std::string(buf, 8) << "\" length "
                  << length;
  }
  return ok;
}

bool SameWidth8AllPrecisions(float v) {
  return SameWidth8<1>(v) && SameWidth8<2>(v) && SameWidth8<3>(v);
}

TEST(FormatFixedWidth8Test, KnownFields) {
  char buf[16];
  EXPECT_EQ(format_fixed_width8<3>(buf, -33.918f), 7u);
  EXPECT_EQ(std::string(buf, 8), " -33.918");
  EXPECT_EQ(format_fixed_width8<3>(buf, -999.999f), 8u);
  EXPECT_EQ(std::string(buf, 8), "-999.999");
  EXPECT_EQ(format_fixed_width8<3>(buf, 0.0f), 5u);
  EXPECT_EQ(std::string(buf, 8), "   0.000");
  EXPECT_EQ(format_fixed_width8<3>(buf, -0.0f), 6u);
  EXPECT_EQ(std::string(buf, 8), "  -0.000");
  EXPECT_EQ(format_fixed_width8<2>(buf, 5.5f), 4u);
  EXPECT_EQ(std::string(buf, 8), "    5.50");
  EXPECT_EQ(format_fixed_width8<3>(buf, 999.9996f), 0u);
  EXPECT_EQ(format_fixed_width8<3>(buf, INFINITY), 0u);
  EXPECT_EQ(format_fixed_width8<3>(buf, NAN), 0u);
}

TEST(FormatFixedWidth8Test, EdgesTiesAndRandomValues) {
  for (float edge : {999.95f, 999.995f, 999.9995f, 100.0f, 10.0f, 1.0f}) {
    float v = edge;
    for (int i = 0; i < 200; ++i) v = std::nextafter(v, 0.0f);
    for (int i = 0; i < 400; ++i, v = std::nextafter(v, INFINITY)) {
      if (!SameWidth8AllPrecisions(v) || !SameWidth8AllPrecisions(-v)) return;
    }
  }
  for (int precision = 1; precision <= 3; ++precision) {
    const float unit = std::ldexp(1.0f, -(precision + 1));
    for (std::uint32_t k = 1; k < 4000; k += 2) {
      const float tie = static_cast<float>(k) * unit;
      if (!SameWidth8AllPrecisions(tie) || !SameWidth8AllPrecisions(-tie))
        return;
    }
  }
  std::mt19937 rng(5150);
  for (int i = 0; i < 300000; ++i) {
    if (!SameWidth8AllPrecisions(FromBits(static_cast<std::uint32_t>(rng()))))
      return;
  }
  std::uniform_real_distribution<float> gates(-1100.0f, 1100.0f);
  for (int i = 0; i < 300000; ++i) {
    if (!SameWidth8<3>(gates(rng))) return;
  }
}

// The batched "%8.3f" fields: the same eight bytes and length as
// format_fixed_width8<3> for every value, also in the lanes of a batch
// whose other values do not fit, and for batch lengths that leave a tail.
bool SameFields3(const std::vector<float>& values) {
  std::vector<std::uint64_t> fields(values.size());
  std::vector<std::uint8_t> lengths(values.size());
  quellmar::tool::format_fields3(values.data(), values.size(), fields.data(),
                                 lengths.data());
  for (std::size_t i = 0; i < values.size(); ++i) {
    char want[8];
    const std::size_t want_length = format_fixed_width8<3>(want, values[i]);
    char got[8];
    std::memcpy(got, &fields[i], 8);
    if (lengths[i] != want_length ||
        (want_length != 0 && std::memcmp(want, got, 8) != 0)) {
      ADD_FAILURE() << "bits 0x" << std::hex
                    << std::bit_cast<std::uint32_t>(values[i]) << std::dec
                    << ": want \"" << std::string(want, 8) << "\" ("
                    << want_length << ") got \"" << std::string(got, 8)
                    << "\" (" << int{lengths[i]} << ")";
      return false;
    }
  }
  return true;
}

TEST(FormatFields3Test, EdgesSpecialsAndTails) {
  std::vector<float> values = {
      0.0f,     -0.0f,        0.0004999f, -0.0005f,  0.0015f,    9.9995f,
      -9.9995f, 99.9995f,     -99.9995f,  999.9994f, -999.9994f, 999.9995f,
      1000.0f,  -1000.0f,     INFINITY,   -INFINITY, NAN,        -NAN,
      FLT_MAX,  FLT_TRUE_MIN, 1e-30f,     33.918f,   -33.918f};
  for (float edge : {999.9995f, 100.0f, 99.9995f, 10.0f, 9.9995f, 1.0f}) {
    float v = edge;
    for (int i = 0; i < 100; ++i) v = std::nextafter(v, 0.0f);
    for (int i = 0; i < 200; ++i, v = std::nextafter(v, INFINITY)) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  // Exact ties of the third decimal: odd k / 16 is k x 62.5 thousandths.
  for (std::uint32_t k = 1; k < 16000; k += 2) {
    values.push_back(static_cast<float>(k) / 16.0f);
    values.push_back(-static_cast<float>(k) / 16.0f);
  }
  for (std::size_t n = 0; n <= 9; ++n) {
    EXPECT_TRUE(
        SameFields3(std::vector<float>(values.begin(), values.begin() + n)));
  }
  EXPECT_TRUE(SameFields3(values));
}

TEST(FormatFields3Test, DenseSweepAndRandomBitPatterns) {
  std::vector<float> values;
  const std::uint32_t hi = std::bit_cast<std::uint32_t>(1024.0f);
  for (std::uint32_t bits = 0; bits < hi; bits += 53) {
    values.push_back(FromBits(bits));
    values.push_back(FromBits(bits | 0x80000000u));
    if (values.size() >= 65536) {
      if (!SameFields3(values)) return;
      values.clear();
    }
  }
  std::mt19937 rng(8801);
  for (int i = 0; i < 200000; ++i) {
    values.push_back(FromBits(static_cast<std::uint32_t>(rng())));
  }
  EXPECT_TRUE(SameFields3(values));
}

// Every float, against the general formatter. Takes minutes; run by hand
// with --gtest_also_run_disabled_tests after changing either formatter.
TEST(FormatFixedFastTest, DISABLED_EveryFloatAgainstGeneralPath) {
  char a[kScratch];
  char b[kScratch];
  std::uint32_t bits = 0;
  do {
    const float v = FromBits(bits);
    const char* want_end = format_fixed(a, v, 8, 3);
    const char* got_end = format_fixed_fast<3>(b, v, 8);
    const char* want2_end = format_fixed(a + 512, v, 0, 2);
    const char* got2_end = format_fixed_fast<2>(b + 512, v, 0);
    // The fixed field, where it applies, holds the same eight bytes.
    const std::size_t length = format_fixed_width8<3>(b + 256, v);
    std::uint64_t batch_field = 0;
    std::uint8_t batch_length = 0;
    quellmar::tool::format_fields3(&v, 1, &batch_field, &batch_length);
    float four[4] = {v, v, v, v};
    std::uint64_t four_fields[4];
    std::uint8_t four_lengths[4];
    quellmar::tool::format_fields3(four, 4, four_fields, four_lengths);
    const bool batch_ok =
        batch_length == length && four_lengths[3] == length &&
        (length == 0 || (std::memcmp(&batch_field, b + 256, 8) == 0 &&
                         four_fields[3] == batch_field));
    const bool field_ok =
        batch_ok &&
        (length == 0
             ? want_end - a > 8 || !std::isfinite(v) ||
                   std::fabs(static_cast<double>(v)) >= 999.5
             : std::string_view(a, want_end) == std::string_view(b + 256, 8));
    if (std::string_view(a, want_end) != std::string_view(b, got_end) ||
        std::string_view(a + 512, want2_end) !=
            std::string_view(b + 512, got2_end) ||
        !field_ok) {
      ADD_FAILURE() << "bits 0x" << std::hex << bits;
      return;
    }
  } while (++bits != 0);
}

// format_fixed into a TextBuffer through tail() and commit(), as the
// tool's line formatters write.
void append_fixed(TextBuffer& t, float v, int width, int precision) {
  const std::size_t field =
      static_cast<std::size_t>(width < 0 ? -width : width);
  const std::size_t room =
      std::max<std::size_t>(field, kMaxFormattedLength + precision);
  t.commit(format_fixed(t.tail(room), v, width, precision));
}

TEST(TextBufferTest, AppendsAndGrows) {
  TextBuffer buffer(1);
  std::string expected;
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    switch (rng() % 4) {
      case 0:
        buffer.append("abc");
        expected += "abc";
        break;
      case 1:
        buffer.append_char(' ');
        expected += ' ';
        break;
      case 2: {
        const std::int64_t v = static_cast<std::int64_t>(rng()) - (1 << 30);
        buffer.append_int(v, 5, (i & 1) != 0);
        expected += RefInt(v, 5, (i & 1) != 0);
        break;
      }
      default: {
        const float v = FromBits(static_cast<std::uint32_t>(rng()));
        append_fixed(buffer, v, 8, 3);
        expected += RefFixed(v, 8, 3);
        break;
      }
    }
  }
  buffer.append_int(1, 200);
  expected += RefInt(1, 200, false);
  append_fixed(buffer, 2.0f, 300, 2);
  expected += RefFixed(2.0f, 300, 2);
  append_fixed(buffer, 2.0f, 0, 100);
  expected += RefFixed(2.0f, 0, 100);
  append_fixed(buffer, -2.0f, -250, 3);
  expected += RefFixed(-2.0f, -250, 3);
  buffer.append_int(-3, -150, true);
  expected += RefInt(-3, -150, true);
  buffer.append("");
  ASSERT_EQ(buffer.size(), expected.size());
  EXPECT_EQ(std::string(buffer.data(), buffer.size()), expected);
  EXPECT_EQ(buffer.view(), expected);

  const std::size_t capacity = buffer.capacity();
  buffer.clear();
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(buffer.capacity(), capacity);
  append_fixed(buffer, 0.125f, 0, 2);
  EXPECT_EQ(buffer.view(), "0.12");
}

TEST(TextBufferTest, MovedFromBufferIsEmptyAndUsable) {
  TextBuffer a;
  a.append("hello");
  TextBuffer b(std::move(a));
  EXPECT_EQ(b.view(), "hello");
  EXPECT_EQ(a.size(), 0u);  // NOLINT(bugprone-use-after-move)
  a.append_int(-42, 5, true);
  EXPECT_EQ(a.view(), "-0042");
  b = std::move(a);
  EXPECT_EQ(b.view(), "-0042");
  a.append_char('x');
  EXPECT_EQ(a.view(), "x");
}

}  // namespace
}  // namespace quellmar::tool
