// Moment and spectra decoding of a record body: both moment encodings, the
// second moment set, met values, the compact and positional spectra
// arrangements, short reads and the positioning on the next record. Inputs
// are built with the file writer; expected values follow from the stored
// counts and the conversion rules (V = 20.478142 m/s for 915 MHz, an
// inter-pulse period of 40000 ns and 100 coherent integrations).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using quellmar::writer::Bytes;
using quellmar::writer::GateMoments;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;
using quellmar::writer::RecordSpec;

constexpr char kName[] = "d02100a.spc";
constexpr float kV = 20.478142f;

GateMoments Gate(int16_t velocity, uint16_t width, int16_t snr,
                 int16_t noise_or_aux) {
  GateMoments g;
  g.velocity = velocity;
  g.width = width;
  g.snr = snr;
  g.noise_or_aux = noise_or_aux;
  return g;
}

// A record of the layout that its datacode and the spectra flag select.
// Layouts S and M carry the override words (with the header's values 100
// and 30) exactly when the record is longer than the bound that the mode
// of `gates` gates and `points` points sets, as a reader then expects them.
Bytes Record(int16_t datacode, bool spectra, const Bytes& body, int gates,
             int points, int32_t time = 1000) {
  RecordSpec r;
  r.datacode = datacode;
  r.layout = datacode >= 3000 ? Layout::N : (spectra ? Layout::S : Layout::M);
  r.spectra_flag = spectra ? 1 : 0;
  r.record_time = time;
  r.body = body;
  if (r.layout != Layout::N) {
    r.has_overrides =
        quellmar::writer::computed_record_length(r) >
        quellmar::writer::override_bound(r.layout, static_cast<int16_t>(gates),
                                         static_cast<int16_t>(points));
  }
  return quellmar::writer::encode_record(r);
}

// A small record that follows the one under test: reading its RecordHeader
// after the decode shows that the data file stands on the next record.
Bytes Follower(int16_t datacode, bool spectra, int gates, int points) {
  return Record(datacode >= 3000 ? 3000 : 2000, spectra, Bytes(), gates, points,
                777);
}

// Spectral value of point p (from 1) of gate g, distinct for every pair.
float Point(int g, int p) { return static_cast<float>(1000 * g + p) + 0.25f; }

// Compact blocks: P values per gate, points 1..P.
std::vector<std::vector<float>> FullBlocks(int gates, int points) {
  std::vector<std::vector<float>> rows(gates);
  for (int g = 0; g < gates; ++g) {
    for (int p = 1; p <= points; ++p) rows[g].push_back(Point(g, p));
  }
  return rows;
}

Bytes Spectra(const std::vector<std::vector<float>>& rows) {
  Bytes b;
  quellmar::writer::put_spectra(b, rows);
  return b;
}

class DecodeTest : public ::testing::Test {
 protected:
  void TearDown() override { pda_reset(); }

  int Open(const HeaderSpec& header, const Bytes& data, int spectra) {
    data_size_ = static_cast<int64_t>(data.size());
    return quellmar::test::write_and_open_pair(
        dir_.path(), kName, quellmar::writer::encode_header(header), data,
        spectra);
  }

  // The record after the decoded one has the time 777.
  void ExpectOnFollower() {
    int new_header = 0;
    EXPECT_EQ(pda_read_record_header(&new_header), 0);
    int32_t y, d, h, m, s;
    EXPECT_EQ(pda_get_time(&y, &d, &h, &m, &s), 777);
  }

  std::vector<float> Row(int g) const {
    const float* row = pda_moments.spectra_row(g);
    return std::vector<float>(row, row + pda_moments.row_length);
  }

  quellmar::test::TempDir dir_;
  int64_t data_size_ = 0;
};

// Suites by what they test on the DecodeTest fixture.
using DecodeConversion = DecodeTest;
using DecodeSpectraFlag = DecodeTest;
using DecodeCounts = DecodeTest;
using DecodeShortRead = DecodeTest;

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

// Mode of 64 points: noise -45 dB is 10^-4.5 linear, 64 times that is
// 0.0020238577, and the signal power at 10 dB signal-to-noise 0.020238578.
TEST_F(DecodeConversion, SixteenBitConversions) {
  const std::vector<GateMoments> first = {Gate(5000, 65535, 1000, -4500),
                                          Gate(-5000, 0, -250, 0)};
  const std::vector<GateMoments> second = {Gate(-5000, 65535, 2000, -123),
                                           Gate(2500, 10000, 0, 32767)};
  Bytes body;
  quellmar::writer::put_first_set_16(body, first);
  quellmar::writer::put_second_set_16(body, second);
  const Bytes record = Record(1116, false, body, 2, 64);
  ASSERT_EQ(Open(quellmar::test::standard_header(2, 64), record, 0), 1);
  EXPECT_EQ(pda_read_record(), 0);

  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 2);
  EXPECT_FLOAT_EQ(a.velocity[0], 10.239071f);
  EXPECT_FLOAT_EQ(a.velocity[1], -10.239071f);
  EXPECT_FLOAT_EQ(a.width[0], 134.20351f);  // unsigned count
  EXPECT_EQ(a.width[1], 0.0f);
  EXPECT_FLOAT_EQ(a.snr[0], 10.0f);
  EXPECT_FLOAT_EQ(a.snr[1], -2.5f);
  EXPECT_FLOAT_EQ(a.noise[0], -45.0f);
  EXPECT_EQ(a.noise[1], 0.0f);
  EXPECT_FLOAT_EQ(a.signal_power[0], 0.020238578f);
  EXPECT_NEAR(10 * std::log10(a.signal_power[0]), -16.9382, 1e-4);
  // noise 0 dB: 64 x 1 at -2.5 dB
  EXPECT_FLOAT_EQ(a.signal_power[1], 64 * std::pow(10.0f, -0.25f));

  EXPECT_FLOAT_EQ(a.velocity2[0], -10.239071f);
  EXPECT_FLOAT_EQ(a.velocity2[1], 5.1195355f);
  EXPECT_FLOAT_EQ(a.width2[0], 134.20351f);
  EXPECT_FLOAT_EQ(a.width2[1], kV);
  EXPECT_FLOAT_EQ(a.snr2[0], 20.0f);
  EXPECT_EQ(a.snr2[1], 0.0f);
  // 20 dB over the same gate's noise: 100 x 0.0020238577
  EXPECT_FLOAT_EQ(a.signal_power2[0], 0.20238578f);
  EXPECT_FLOAT_EQ(a.signal_power2[1], 64.0f);
  EXPECT_FLOAT_EQ(a.aux2[0], -12.3f);
  EXPECT_FLOAT_EQ(a.aux2[1], 3276.7f);
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record.size()));
}

TEST_F(DecodeConversion, X0xxConversions) {
  // Counts are cut to the x0xx widths by the writer: width 255, snr and
  // noise as signed bytes, aux as int16.
  const std::vector<GateMoments> first = {Gate(5000, 255, 10, -45),
                                          Gate(-5000, 200, -3, -128)};
  const std::vector<GateMoments> second = {Gate(-5000, 255, 20, -123),
                                           Gate(2500, 100, -128, -32768)};
  Bytes body;
  quellmar::writer::put_first_set_x0xx(body, first);
  quellmar::writer::put_second_set_x0xx(body, second);
  ASSERT_EQ(body.size(), 22u);
  const Bytes record = Record(1016, false, body, 2, 64);
  ASSERT_EQ(Open(quellmar::test::standard_header(2, 64), record, 0), 1);
  EXPECT_EQ(pda_read_record(), 0);

  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 2);
  EXPECT_FLOAT_EQ(a.velocity[0], 10.239071f);
  EXPECT_FLOAT_EQ(a.velocity[1], -10.239071f);
  EXPECT_FLOAT_EQ(a.width[0], 52.219261f);
  EXPECT_FLOAT_EQ(a.width[1], 2 * kV);  // 200 is unsigned
  EXPECT_EQ(a.snr[0], 10.0f);
  EXPECT_EQ(a.snr[1], -3.0f);
  EXPECT_EQ(a.noise[0], -45.0f);
  EXPECT_EQ(a.noise[1], -128.0f);
  EXPECT_FLOAT_EQ(a.signal_power[0], 0.020238578f);
  EXPECT_NEAR(10 * std::log10(a.signal_power[1]),
              -3 - 128 + 10 * std::log10(64), 1e-4);

  EXPECT_FLOAT_EQ(a.velocity2[0], -10.239071f);
  EXPECT_FLOAT_EQ(a.velocity2[1], 5.1195355f);
  EXPECT_FLOAT_EQ(a.width2[0], 52.219261f);
  EXPECT_FLOAT_EQ(a.width2[1], kV);
  EXPECT_EQ(a.snr2[0], 20.0f);
  EXPECT_EQ(a.snr2[1], -128.0f);
  EXPECT_FLOAT_EQ(a.signal_power2[0], 0.20238578f);
  EXPECT_FLOAT_EQ(a.aux2[0], -12.3f);
  EXPECT_FLOAT_EQ(a.aux2[1], -3276.8f);
}

// The linear noise comes from the raw count (10^(raw / 1000)), not from the
// stored float noise: for a count of -4501 the two differ in the last bits
// of the signal power.
TEST_F(DecodeConversion, LinearNoiseComesFromTheRawCount) {
  Bytes body;
  quellmar::writer::put_first_set_16(body, {Gate(0, 0, 1234, -4501)});
  ASSERT_EQ(Open(quellmar::test::standard_header(1, 64),
                 Record(2100, false, body, 1, 64), 0),
            1);
  EXPECT_EQ(pda_read_record(), 0);
  ASSERT_EQ(pda_moments.gate_count, 1);

  const float snr = 12.34f;
  const float from_raw = static_cast<float>(std::pow(10.0, -4501 / 1000.0));
  const float from_float =
      static_cast<float>(std::pow(10.0, static_cast<float>(-45.01) / 10.0));
  const auto power = [&](float noise_linear) {
    return static_cast<float>(std::pow(10.0, snr / 10.0) *
                              static_cast<float>(64.0 * noise_linear));
  };
  ASSERT_NE(power(from_raw), power(from_float));  // the case tells them apart
  EXPECT_EQ(pda_moments.snr[0], snr);
  EXPECT_EQ(pda_moments.noise[0], -45.01f);
  EXPECT_EQ(pda_moments.signal_power[0], power(from_raw));
}

// P x noise_linear is rounded to a float before it multiplies 10^(snr/10).
// With 100 points (not a power of two) the rounding shows: x0xx noise -60
// dB at 10 dB gives 0.00099999993, not 0.0010000000.
TEST_F(DecodeConversion, PointsTimesLinearNoiseIsRoundedToFloat) {
  const auto power = [](float snr, float noise_linear, bool round) {
    const double product = 100.0 * noise_linear;
    return static_cast<float>(std::pow(10.0, snr / 10.0) *
                              (round ? static_cast<float>(product) : product));
  };
  const float x0xx_linear = static_cast<float>(std::pow(10.0, -60 / 10.0));
  const float wide_linear = static_cast<float>(std::pow(10.0, -4565 / 1000.0));
  // The cases tell the two computations apart.
  ASSERT_NE(power(10.0f, x0xx_linear, true), power(10.0f, x0xx_linear, false));
  ASSERT_NE(power(10.0f, wide_linear, true), power(10.0f, wide_linear, false));

  {
    Bytes body;
    quellmar::writer::put_first_set_x0xx(body, {Gate(0, 0, 10, -60)});
    quellmar::writer::put_second_set_x0xx(body, {Gate(0, 0, 10, 0)});
    ASSERT_EQ(Open(quellmar::test::standard_header(1, 100),
                   Record(1016, false, body, 1, 100), 0),
              1);
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 1);
    EXPECT_EQ(pda_moments.signal_power[0], power(10.0f, x0xx_linear, true));
    EXPECT_EQ(pda_moments.signal_power2[0], power(10.0f, x0xx_linear, true));
  }
  {
    Bytes body;
    quellmar::writer::put_first_set_16(body, {Gate(0, 0, 1000, -4565)});
    quellmar::writer::put_second_set_16(body, {Gate(0, 0, 1000, 0)});
    ASSERT_EQ(Open(quellmar::test::standard_header(1, 100),
                   Record(1116, false, body, 1, 100), 0),
              1);
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 1);
    EXPECT_EQ(pda_moments.signal_power[0], power(10.0f, wide_linear, true));
    EXPECT_EQ(pda_moments.signal_power2[0], power(10.0f, wide_linear, true));
  }
}

// ---------------------------------------------------------------------------
// What the datacode selects
// ---------------------------------------------------------------------------

struct DatacodeRow {
  int16_t datacode;
  bool wide;        // 16-bit moments, else x0xx
  bool second;      // second moment set
  bool met;         // met values
  bool positional;  // spectra by point position, else compact
};

class DecodeDatacode : public DecodeTest,
                       public ::testing::WithParamInterface<DatacodeRow> {};

// Two gates of 8 points, window 1 at point 3 with 4 points, no window 2,
// and three met instruments in the HeaderBlock (version 103).
TEST_P(DecodeDatacode, ReadsWhatTheDatacodeSelects) {
  const DatacodeRow row = GetParam();
  HeaderSpec header = quellmar::test::standard_header(2, 8);
  header.header_version = 103;
  header.met_instrument_list = {11, 12, 13};
  header.window1_start = 3;
  header.window1_points = 4;

  Bytes body;
  if (row.wide) {
    quellmar::writer::put_first_set_16(
        body, {Gate(5000, 65535, 1000, -4500), Gate(-5000, 0, 0, 0)});
  } else {
    quellmar::writer::put_first_set_x0xx(
        body, {Gate(5000, 255, 10, -45), Gate(-5000, 0, 0, 0)});
  }
  if (row.second) {
    const std::vector<GateMoments> second = {Gate(2500, 0, 0, -123),
                                             Gate(-2500, 0, 0, 45)};
    if (row.wide) {
      quellmar::writer::put_second_set_16(body, second);
    } else {
      quellmar::writer::put_second_set_x0xx(body, second);
    }
  }
  if (row.met) quellmar::writer::put_met_values(body, {-7, 123456, 2147483647});
  std::vector<std::vector<float>> spectra;
  for (int g = 0; g < 2; ++g) {
    std::vector<float> values;
    const int first = row.positional ? 3 : 1;
    const int last = row.positional ? 6 : 8;
    for (int p = first; p <= last; ++p) values.push_back(Point(g, p));
    spectra.push_back(values);
  }
  quellmar::writer::put_spectra(body, spectra);

  const Bytes record = Record(row.datacode, true, body, 2, 8);
  ASSERT_EQ(
      Open(header,
           quellmar::test::join({record, Follower(row.datacode, true, 2, 8)}),
           1),
      1);
  ASSERT_EQ(pda_parameters.met_instrument_count, 3);
  for (int i = 0; i < 4; ++i) met_values[i] = 0x5A5A5A5A;
  EXPECT_EQ(pda_read_record(), 0);

  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 2);
  ASSERT_EQ(a.row_length, 9);
  EXPECT_FLOAT_EQ(a.velocity[0], 10.239071f);
  EXPECT_FLOAT_EQ(a.velocity[1], -10.239071f);
  EXPECT_FLOAT_EQ(a.width[0], row.wide ? 134.20351f : 52.219261f);
  EXPECT_FLOAT_EQ(a.snr[0], 10.0f);
  EXPECT_FLOAT_EQ(a.noise[0], -45.0f);
  // 8 points here: an eighth of the 64-point example's 0.020238578
  EXPECT_FLOAT_EQ(a.signal_power[0], 0.020238578f / 8);

  if (row.second) {
    EXPECT_FLOAT_EQ(a.velocity2[0], 5.1195355f);
    EXPECT_FLOAT_EQ(a.velocity2[1], -5.1195355f);
    EXPECT_FLOAT_EQ(a.aux2[0], -12.3f);
    EXPECT_FLOAT_EQ(a.aux2[1], 4.5f);
  } else {
    // Not in the record: defined as 0.
    for (int g = 0; g < 2; ++g) {
      EXPECT_EQ(a.velocity2[g], 0.0f);
      EXPECT_EQ(a.width2[g], 0.0f);
      EXPECT_EQ(a.snr2[g], 0.0f);
      EXPECT_EQ(a.signal_power2[g], 0.0f);
      EXPECT_EQ(a.aux2[g], 0.0f);
    }
  }

  if (row.met) {
    EXPECT_EQ(met_values[0], -7);
    EXPECT_EQ(met_values[1], 123456);
    EXPECT_EQ(met_values[2], 2147483647);
  } else {
    EXPECT_EQ(met_values[0], 0x5A5A5A5A);
    EXPECT_EQ(met_values[2], 0x5A5A5A5A);
  }
  EXPECT_EQ(met_values[3], 0x5A5A5A5A);

  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(9, 0.0f);
    for (int k = 0; k < 4; ++k) {
      expected[row.positional ? 3 + k : k] = Point(g, 3 + k);
    }
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record.size()));
  ExpectOnFollower();
}

INSTANTIATE_TEST_SUITE_P(
    DecodeDatacode, DecodeDatacode,
    ::testing::Values(DatacodeRow{2000, false, false, false, false},
                      DatacodeRow{2100, true, false, false, false},
                      DatacodeRow{1016, false, true, false, false},
                      DatacodeRow{1017, false, false, false, true},
                      DatacodeRow{1116, true, true, false, false},
                      DatacodeRow{1117, true, true, false, true},
                      DatacodeRow{3016, false, true, true, false},
                      DatacodeRow{3017, false, false, true, true},
                      DatacodeRow{3117, true, true, true, true}),
    [](const ::testing::TestParamInfo<DatacodeRow>& info) {
      return "Datacode" + std::to_string(info.param.datacode);
    });

// Without the spectra flag nothing follows the moments (and met values):
// the rows stay 0.0 whatever the datacode.
TEST_F(DecodeSpectraFlag, NoSpectraWithoutTheFlag) {
  for (int16_t datacode : {int16_t{1117}, int16_t{2000}, int16_t{3017}}) {
    SCOPED_TRACE(datacode);
    Bytes body;
    if (datacode / 100 % 10 != 0) {
      quellmar::writer::put_first_set_16(body, {Gate(100, 1, 2, 3)});
      quellmar::writer::put_second_set_16(body, {Gate(200, 1, 2, 3)});
    } else {
      quellmar::writer::put_first_set_x0xx(body, {Gate(100, 1, 2, 3)});
    }
    body.put_f32(9.5f);  // would be a spectral value with the flag set
    const Bytes record = Record(datacode, false, body, 1, 4);
    ASSERT_EQ(
        Open(quellmar::test::standard_header(1, 4),
             quellmar::test::join({record, Follower(datacode, false, 1, 4)}),
             0),
        1);
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 1);
    EXPECT_EQ(Row(0), std::vector<float>(5, 0.0f));
    ExpectOnFollower();
  }
}

// ---------------------------------------------------------------------------
// Spectral windows
// ---------------------------------------------------------------------------

class DecodeWindow : public DecodeTest {
 protected:
  // Two gates of `points` points with the given windows; decodes one
  // record of `datacode` whose spectra are `spectra`, followed by
  // `padding_`.
  void Decode(int16_t datacode, int16_t w1_start, int16_t w1_points,
              int16_t w2_start, int16_t w2_points, const Bytes& spectra,
              int points = 64) {
    HeaderSpec header = quellmar::test::standard_header(2, points);
    header.window1_start = w1_start;
    header.window1_points = w1_points;
    header.window2_start = w2_start;
    header.window2_points = w2_points;
    Bytes body;
    quellmar::writer::put_first_set_x0xx(body,
                                         {Gate(1, 1, 1, 1), Gate(2, 2, 2, 2)});
    body.append(spectra);
    body.append(padding_);
    record_ = Record(datacode, true, body, 2, points);
    ASSERT_EQ(Open(header,
                   quellmar::test::join(
                       {record_, Follower(datacode, true, 2, points)}),
                   1),
              1);
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 2);
    ASSERT_EQ(pda_moments.row_length, points + 1);
  }

  Bytes padding_;
  Bytes record_;
};

TEST_F(DecodeWindow, CompactWithBothWindows) {
  Decode(2000, 50, 10, 1, 4, Spectra(FullBlocks(2, 64)));
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(65, 0.0f);
    for (int k = 0; k < 4; ++k) expected[k] = Point(g, 1 + k);
    for (int k = 0; k < 10; ++k) expected[4 + k] = Point(g, 50 + k);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record_.size()));
  ExpectOnFollower();
}

TEST_F(DecodeWindow, CompactWholeSpectrumWithoutWindow2) {
  Decode(2000, 1, 64, 1, 1, Spectra(FullBlocks(2, 64)));
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(65, 0.0f);
    for (int k = 0; k < 64; ++k) expected[k] = Point(g, 1 + k);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  ExpectOnFollower();
}

TEST_F(DecodeWindow, CompactWindow1InsideTheBlock) {
  Decode(2000, 20, 10, 1, 1, Spectra(FullBlocks(2, 64)));
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(65, 0.0f);
    for (int k = 0; k < 10; ++k) expected[k] = Point(g, 20 + k);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  ExpectOnFollower();
}

// The record holds per gate window 1 (points 50..59), then window 2
// (points 1..4); each value lands at its point number.
TEST_F(DecodeWindow, PositionalWithBothWindows) {
  std::vector<std::vector<float>> spectra(2);
  for (int g = 0; g < 2; ++g) {
    for (int p = 50; p <= 59; ++p) spectra[g].push_back(Point(g, p));
    for (int p = 1; p <= 4; ++p) spectra[g].push_back(Point(g, p));
  }
  Decode(1017, 50, 10, 1, 4, Spectra(spectra));
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(65, 0.0f);
    for (int p = 50; p <= 59; ++p) expected[p] = Point(g, p);
    for (int p = 1; p <= 4; ++p) expected[p] = Point(g, p);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record_.size()));
  ExpectOnFollower();
}

// Compact, P 8: window 2 at point 1 with 6 points and window 1 at point 10
// with 8 points. The row (9 entries) takes window 2 at 0..5 and the first
// three values of window 1 at 6..8; the other five are read and dropped.
// The skips (0, +3, then 8 - 17 = -9) keep 8 values per gate, and window 1
// reaches into the next gate's block (and, for the last gate, into the
// padding after the spectra).
TEST_F(DecodeWindow, CompactValuesBeyondTheRowAreDropped) {
  for (int p = 1; p <= 16; ++p) padding_.put_f32(Point(2, p));
  Decode(2000, 10, 8, 1, 6, Spectra(FullBlocks(2, 8)), 8);
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(9, 0.0f);
    for (int k = 0; k < 6; ++k) expected[k] = Point(g, 1 + k);
    // Points 10, 11, 12 of gate g's block are points 2, 3, 4 of the next.
    for (int k = 0; k < 3; ++k) expected[6 + k] = Point(g + 1, 2 + k);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  ExpectOnFollower();
}

// Positional, P 8: window 1 at point -2 with 4 points (indices -2 and -1
// dropped, 0 and 1 stored) and window 2 at point 6 with 5 points (indices 6
// to 8 stored, 9 and 10 dropped). All nine values of a gate are consumed.
TEST_F(DecodeWindow, PositionalValuesOutsideTheRowAreDropped) {
  std::vector<std::vector<float>> spectra(2);
  for (int g = 0; g < 2; ++g) {
    for (int k = 0; k < 9; ++k) spectra[g].push_back(Point(g, 100 + k));
  }
  Decode(1017, -2, 4, 6, 5, Spectra(spectra), 8);
  for (int g = 0; g < 2; ++g) {
    std::vector<float> expected(9, 0.0f);
    expected[0] = Point(g, 102);
    expected[1] = Point(g, 103);
    expected[6] = Point(g, 104);
    expected[7] = Point(g, 105);
    expected[8] = Point(g, 106);
    EXPECT_EQ(Row(g), expected) << "gate " << g;
  }
  ExpectOnFollower();
}

// Window 1 at point -1000: the skip of -1001 values would move before byte
// 0 and leaves the position where it is, so the window is read from the
// start of the block.
TEST_F(DecodeWindow, SkipBeforeTheStartOfTheFileLeavesThePosition) {
  HeaderSpec header = quellmar::test::standard_header(1, 8);
  header.window1_start = -1000;
  header.window1_points = 4;
  Bytes body;
  quellmar::writer::put_first_set_x0xx(body, {Gate(1, 1, 1, 1)});
  quellmar::writer::put_spectra(body, FullBlocks(1, 8));
  const Bytes record = Record(2000, true, body, 1, 8);
  ASSERT_EQ(Open(header,
                 quellmar::test::join({record, Follower(2000, true, 1, 8)}), 1),
            1);
  EXPECT_EQ(pda_read_record(), 0);
  ASSERT_EQ(pda_moments.gate_count, 1);
  std::vector<float> expected(9, 0.0f);
  for (int k = 0; k < 4; ++k) expected[k] = Point(0, 1 + k);
  EXPECT_EQ(Row(0), expected);
  ExpectOnFollower();
}

// Spectral values are copied bit for bit, NaN payloads, signed zero,
// infinities and subnormal values included.
TEST_F(DecodeWindow, SpectralValuesAreCopiedBitForBit) {
  const uint32_t patterns[] = {0x7FC12345u, 0xFFBADBADu, 0x80000000u,
                               0x00000001u, 0x7F800000u, 0xFF800000u,
                               0x3F800000u, 0x807FFFFFu};
  Bytes spectra;
  for (uint32_t bits : patterns) spectra.put_u32(bits);
  for (int k = 0; k < 8; ++k) spectra.put_f32(static_cast<float>(k));
  Decode(2000, 1, 8, 1, 1, spectra, 8);
  const float* row = pda_moments.spectra_row(0);
  for (int k = 0; k < 8; ++k) {
    uint32_t bits;
    std::memcpy(&bits, &row[k], 4);
    EXPECT_EQ(bits, patterns[k]) << k;
  }
  EXPECT_EQ(pda_moments.spectra_row(1)[7], 7.0f);
}

// ---------------------------------------------------------------------------
// Counts and met values
// ---------------------------------------------------------------------------

TEST_F(DecodeCounts, GateCountZeroReadsNothing) {
  // Bytes in the body that a decode of no gates does not look at.
  Bytes body;
  quellmar::writer::put_first_set_16(body, {Gate(1, 2, 3, 4)});
  body.put_f32(1.0f);
  const Bytes record = Record(1116, true, body, 0, 64);
  ASSERT_EQ(
      Open(quellmar::test::standard_header(0, 64),
           quellmar::test::join({record, Follower(1116, true, 0, 64)}), 1),
      1);
  quellmar::test::start_capture();
  EXPECT_EQ(pda_read_record(), 0);
  EXPECT_EQ(quellmar::test::stop_capture(), "");
  const MomentArrays& a = pda_moments;
  EXPECT_EQ(a.gate_count, 0);
  for (const std::vector<float>* v :
       {&a.velocity, &a.width, &a.snr, &a.noise, &a.signal_power, &a.velocity2,
        &a.width2, &a.snr2, &a.signal_power2, &a.aux2}) {
    EXPECT_TRUE(v->empty());
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record.size()));
  ExpectOnFollower();
}

// Negative counts in a HeaderBlock count as 0.
TEST_F(DecodeCounts, NegativeCountsCountAsZero) {
  {
    HeaderSpec header = quellmar::test::standard_header(4, 64);
    header.modes[0].gate_count = -3;
    Bytes body;
    quellmar::writer::put_first_set_x0xx(body, {Gate(1, 2, 3, 4)});
    ASSERT_EQ(Open(header, Record(2000, false, body, -3, 64), 0), 1);
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(pda_moments.gate_count, 0);
    EXPECT_TRUE(pda_moments.velocity.empty());
  }
  {
    HeaderSpec header = quellmar::test::standard_header(2, 64);
    header.modes[0].spectral_points = -5;
    Bytes body;
    quellmar::writer::put_first_set_x0xx(
        body, {Gate(5000, 2, 10, -45), Gate(1, 2, 3, 4)});
    ASSERT_EQ(Open(header, Record(2000, false, body, 2, -5), 0), 1);
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_EQ(pda_moments.row_length, 1);
    EXPECT_EQ(Row(1), std::vector<float>{0.0f});
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 10.239071f);
    EXPECT_EQ(pda_moments.signal_power[0], 0.0f);  // P x noise = 0
  }
}

// Datacode 3016 with three met instruments: 12 bytes of met values between
// the second moment set and the spectra. With no met instruments, or below
// datacode 3000, the spectra follow the moment sets at once.
TEST_F(DecodeCounts, MetValuesSitBetweenMomentsAndSpectra) {
  struct Case {
    int16_t datacode;
    int met_count;
    bool met_in_body;
  };
  for (const Case& c :
       {Case{3016, 3, true}, Case{3016, 0, false}, Case{1016, 3, false}}) {
    SCOPED_TRACE(std::to_string(c.datacode) + "/" +
                 std::to_string(c.met_count));
    HeaderSpec header = quellmar::test::standard_header(1, 4);
    header.header_version = 103;
    for (int i = 0; i < c.met_count; ++i) {
      header.met_instrument_list.push_back(static_cast<int16_t>(i + 1));
    }
    Bytes body;
    quellmar::writer::put_first_set_x0xx(body, {Gate(5000, 1, 2, 3)});
    quellmar::writer::put_second_set_x0xx(body, {Gate(-5000, 1, 2, -123)});
    const size_t before_met = body.size();
    if (c.met_in_body) quellmar::writer::put_met_values(body, {41, -42, 43});
    ASSERT_EQ(body.size() - before_met, c.met_in_body ? 12u : 0u);
    quellmar::writer::put_spectra(body, FullBlocks(1, 4));
    const Bytes record = Record(c.datacode, true, body, 1, 4);
    ASSERT_EQ(
        Open(header,
             quellmar::test::join({record, Follower(c.datacode, true, 1, 4)}),
             1),
        1);
    ASSERT_EQ(pda_parameters.met_instrument_count, c.met_count);
    met_values[0] = met_values[1] = met_values[2] = 99;
    EXPECT_EQ(pda_read_record(), 0);
    ASSERT_EQ(pda_moments.gate_count, 1);
    EXPECT_FLOAT_EQ(pda_moments.aux2[0], -12.3f);
    const std::vector<int32_t> met(met_values, met_values + 3);
    const std::vector<int32_t> expected_met =
        c.met_in_body ? std::vector<int32_t>{41, -42, 43}
                      : std::vector<int32_t>{99, 99, 99};
    EXPECT_EQ(met, expected_met);
    EXPECT_EQ(Row(0), (std::vector<float>{Point(0, 1), Point(0, 2), Point(0, 3),
                                          Point(0, 4), 0.0f}));
    ExpectOnFollower();
  }
}

// A met instrument count above 1024 (as a rejected HeaderBlock can leave
// it): 1024 values are stored and the position moves past the others.
TEST_F(DecodeCounts, MetCountAbove1024StoresTheFirst1024) {
  HeaderSpec header = quellmar::test::standard_header(1, 4);
  header.header_version = 103;
  header.met_instrument_list = {1};
  std::vector<int32_t> values;
  for (int i = 0; i < 1030; ++i) values.push_back(10000 + i);
  Bytes body;
  quellmar::writer::put_first_set_x0xx(body, {Gate(5000, 1, 2, 3)});
  quellmar::writer::put_second_set_x0xx(body, {Gate(-5000, 1, 2, -123)});
  quellmar::writer::put_met_values(body, values);
  quellmar::writer::put_spectra(body, FullBlocks(1, 4));
  const Bytes record = Record(3016, true, body, 1, 4);
  ASSERT_EQ(Open(header,
                 quellmar::test::join({record, Follower(3016, true, 1, 4)}), 1),
            1);

  int new_header = 0;
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  pda_parameters.met_instrument_count = 1030;
  pda_decode_record();
  ASSERT_EQ(pda_moments.gate_count, 1);
  EXPECT_EQ(met_values[0], 10000);
  EXPECT_EQ(met_values[1023], 11023);
  EXPECT_EQ(Row(0), (std::vector<float>{Point(0, 1), Point(0, 2), Point(0, 3),
                                        Point(0, 4), 0.0f}));
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(record.size()));
  ExpectOnFollower();
}

// Every decode allocates a new set of arrays sized for its own record.
TEST_F(DecodeCounts, EveryDecodeRenewsTheArrays) {
  HeaderSpec second = quellmar::test::standard_header(1, 2);
  second.site_value_1 = 2;
  Bytes header =
      quellmar::writer::encode_header(quellmar::test::standard_header(3, 4));
  header.append(quellmar::writer::encode_header(second));
  Bytes b0;
  quellmar::writer::put_first_set_x0xx(
      b0, {Gate(5000, 0, 0, 0), Gate(5000, 0, 0, 0), Gate(5000, 0, 0, 0)});
  quellmar::writer::put_spectra(b0, FullBlocks(3, 4));
  Bytes b1;
  quellmar::writer::put_first_set_x0xx(b1, {Gate(-5000, 0, 0, 0)});
  quellmar::writer::put_spectra(b1, {{7.0f, 8.0f}});
  RecordSpec r1;
  r1.datacode = 2000;
  r1.layout = Layout::S;
  r1.header_offset = 568;
  r1.body = b1;
  const Bytes data = quellmar::test::join(
      {Record(2000, true, b0, 3, 4), quellmar::writer::encode_record(r1)});
  ASSERT_EQ(
      quellmar::test::write_and_open_pair(dir_.path(), kName, header, data, 1),
      1);

  EXPECT_EQ(pda_read_record(), 0);
  ASSERT_EQ(pda_moments.gate_count, 3);
  EXPECT_EQ(pda_moments.row_length, 5);
  EXPECT_EQ(Row(2)[3], Point(2, 4));
  pda_release_moments();
  EXPECT_EQ(pda_read_record(), 0);
  ASSERT_EQ(pda_moments.gate_count, 1);
  EXPECT_EQ(pda_moments.velocity.size(), 1u);
  EXPECT_EQ(pda_moments.row_length, 3);
  EXPECT_FLOAT_EQ(pda_moments.velocity[0], -10.239071f);
  EXPECT_EQ(Row(0), (std::vector<float>{7.0f, 8.0f, 0.0f}));
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(data.size()));
}

// ---------------------------------------------------------------------------
// Short reads
// ---------------------------------------------------------------------------

// A 16-bit record of 8 gates cut by the end of the data file inside gate 5
// (after its velocity and one byte of its width).
TEST_F(DecodeShortRead, RecordCutInsideGate5) {
  std::vector<GateMoments> gates;
  for (int g = 0; g < 8; ++g) {
    gates.push_back(Gate(
        static_cast<int16_t>(1000 * (g + 1)), static_cast<uint16_t>(100 * g),
        static_cast<int16_t>(100 * g), static_cast<int16_t>(-4500 + 100 * g)));
  }
  Bytes body;
  quellmar::writer::put_first_set_16(body, gates);
  const Bytes whole = Record(2100, false, body, 8, 64);
  const int32_t length = static_cast<int32_t>(whole.size());
  ASSERT_EQ(length, 20 + 64 + 2);
  const Bytes cut = quellmar::writer::cut(whole, 20 + 5 * 8 + 3);
  ASSERT_EQ(Open(quellmar::test::standard_header(8, 64), cut, 0), 1);

  quellmar::test::start_capture();
  EXPECT_EQ(pda_read_record(), 0);
  EXPECT_EQ(quellmar::test::stop_capture(), "\ndisk: Read error 0\n");

  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 8);
  for (int g = 0; g < 5; ++g) {
    SCOPED_TRACE(g);
    EXPECT_FLOAT_EQ(a.velocity[g], 1000 * (g + 1) * kV / 10000);
    EXPECT_FLOAT_EQ(a.width[g], 100 * g * kV / 10000);
    EXPECT_FLOAT_EQ(a.snr[g], static_cast<float>(g));
    EXPECT_FLOAT_EQ(a.noise[g], -45.0f + g);
    // snr g dB over noise (-45 + g) dB, 64 points
    EXPECT_NEAR(10 * std::log10(a.signal_power[g]),
                2 * g - 45 + 10 * std::log10(64.0), 1e-4);
  }
  // Gate 5: the velocity was read whole; the cut width and the fields
  // after it count as raw 0, so the noise is 0 dB (linear 1).
  EXPECT_FLOAT_EQ(a.velocity[5], 6000 * kV / 10000);
  EXPECT_EQ(a.width[5], 0.0f);
  EXPECT_EQ(a.snr[5], 0.0f);
  EXPECT_EQ(a.noise[5], 0.0f);
  EXPECT_FLOAT_EQ(a.signal_power[5], 64.0f);
  for (int g = 6; g < 8; ++g) {
    EXPECT_EQ(a.velocity[g], 0.0f);
    EXPECT_EQ(a.width[g], 0.0f);
    EXPECT_EQ(a.snr[g], 0.0f);
    EXPECT_EQ(a.noise[g], 0.0f);
    EXPECT_EQ(a.signal_power[g], 0.0f);
  }
  EXPECT_EQ(pda_current_offset(), length);
  int new_header = 0;
  EXPECT_EQ(pda_read_record_header(&new_header), 1);
}

// With a second set, that set runs over every gate at the end of the data:
// its counts are raw 0, so signal_power2 is 64 x the gate's linear noise,
// which is 0 for the gates the first set did not reach.
TEST_F(DecodeShortRead, SecondSetAfterACutFirstSet) {
  std::vector<GateMoments> gates;
  for (int g = 0; g < 4; ++g) gates.push_back(Gate(100, 0, 0, 0));
  Bytes body;
  quellmar::writer::put_first_set_16(body, gates);
  quellmar::writer::put_second_set_16(body, gates);
  const Bytes whole = Record(1116, false, body, 4, 64);
  // Cut after gate 1 of the first set: gate 2 is not delivered at all.
  ASSERT_EQ(Open(quellmar::test::standard_header(4, 64),
                 quellmar::writer::cut(whole, 20 + 16), 0),
            1);
  quellmar::test::start_capture();
  EXPECT_EQ(pda_read_record(), 0);
  EXPECT_EQ(quellmar::test::stop_capture(), "\ndisk: Read error 0\n");
  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 4);
  const std::vector<float> power2(a.signal_power2.begin(),
                                  a.signal_power2.end());
  EXPECT_EQ(power2, (std::vector<float>{64.0f, 64.0f, 64.0f, 0.0f}));
  for (int g = 0; g < 4; ++g) {
    EXPECT_EQ(a.velocity2[g], 0.0f);
    EXPECT_EQ(a.aux2[g], 0.0f);
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(whole.size()));
}

TEST_F(DecodeShortRead, X0xxRecordCutInsideTheFirstSet) {
  std::vector<GateMoments> gates;
  for (int g = 0; g < 4; ++g) {
    gates.push_back(Gate(static_cast<int16_t>(5000), 255, 10, -45));
  }
  Bytes body;
  quellmar::writer::put_first_set_x0xx(body, gates);
  quellmar::writer::put_spectra(body, FullBlocks(4, 8));
  const Bytes whole = Record(2000, true, body, 4, 8);
  // Layout S: 18 bytes of RecordHeader; the cut falls just before gate 2's
  // noise byte.
  ASSERT_EQ(Open(quellmar::test::standard_header(4, 8),
                 quellmar::writer::cut(whole, 18 + 2 * 5 + 4), 1),
            1);
  quellmar::test::start_capture();
  EXPECT_EQ(pda_read_record(), 0);
  EXPECT_EQ(quellmar::test::stop_capture(),
            "\ndisk: datacode x0xx Read error 0\n");
  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, 4);
  EXPECT_FLOAT_EQ(a.signal_power[1], 0.020238578f / 8);  // 8 points
  EXPECT_FLOAT_EQ(a.velocity[2], 10.239071f);
  EXPECT_FLOAT_EQ(a.width[2], 52.219261f);
  EXPECT_EQ(a.snr[2], 10.0f);
  EXPECT_EQ(a.noise[2], 0.0f);
  EXPECT_FLOAT_EQ(a.signal_power[2], 80.0f);  // 10 dB over 8 x 1
  EXPECT_EQ(a.velocity[3], 0.0f);
  for (int g = 0; g < 4; ++g) {
    EXPECT_EQ(Row(g), std::vector<float>(9, 0.0f)) << "gate " << g;
  }
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(whole.size()));
}

// Spectra cut by the end of the data: what was delivered is stored, a
// value cut in the middle and everything after it stay 0.0, and nothing
// is printed.
TEST_F(DecodeShortRead, SpectraCutByTheEndOfTheData) {
  Bytes body;
  quellmar::writer::put_first_set_x0xx(body,
                                       {Gate(1, 1, 1, 1), Gate(2, 2, 2, 2)});
  quellmar::writer::put_spectra(body, FullBlocks(2, 4));
  const Bytes whole = Record(2000, true, body, 2, 4);
  // RecordHeader 18, moments 10, gate 0's block 16, then 6 bytes of gate 1.
  ASSERT_EQ(Open(quellmar::test::standard_header(2, 4),
                 quellmar::writer::cut(whole, 18 + 10 + 22), 1),
            1);
  quellmar::test::start_capture();
  EXPECT_EQ(pda_read_record(), 0);
  EXPECT_EQ(quellmar::test::stop_capture(), "");
  EXPECT_EQ(Row(0), (std::vector<float>{Point(0, 1), Point(0, 2), Point(0, 3),
                                        Point(0, 4), 0.0f}));
  EXPECT_EQ(Row(1), (std::vector<float>{Point(1, 1), 0.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(whole.size()));
}

// ---------------------------------------------------------------------------
// Running out of memory
// ---------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define QUELLMAR_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define QUELLMAR_NO_ADDRESS_LIMIT 1
#endif
#endif

// Inside a death test's child: sends standard output to standard error,
// where the death test reads it, and limits the address space to what the
// process maps now plus `slack` bytes.
[[maybe_unused]] void LimitAddressSpace(long slack) {
  std::fflush(stdout);
  dup2(2, 1);
  long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t limit =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
      static_cast<rlim_t>(slack);
  const rlimit r = {limit, limit};
  setrlimit(RLIMIT_AS, &r);
}

class DecodeDeathTest : public DecodeTest {};

// 32767 gates of 32767 points: the spectra rows need 4 GiB.
TEST_F(DecodeDeathTest, SpectraRowsThatCannotBeAllocatedEndTheProcess) {
#ifdef QUELLMAR_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "address space limits do not work under a sanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HeaderSpec header = quellmar::test::standard_header(4, 64);
  header.modes[0].gate_count = 32767;
  header.modes[0].spectral_points = 32767;
  ASSERT_EQ(Open(header, Record(2000, false, Bytes(), 32767, 32767), 0), 1);
  int new_header = 0;
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  EXPECT_EXIT(
      {
        std::filesystem::remove_all(dir_.path());
        LimitAddressSpace(256L << 20);
        pda_decode_record();
      },
      ::testing::ExitedWithCode(2),
      "disk: can't allocate memory for spectra arrays\\. Fatal\\.");
#endif
}

// 32767 gates: each moment array is 128 KiB, more than the address space
// left allows.
TEST_F(DecodeDeathTest, MomentArraysThatCannotBeAllocatedEndTheProcess) {
#ifdef QUELLMAR_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "address space limits do not work under a sanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HeaderSpec header = quellmar::test::standard_header(4, 0);
  header.modes[0].gate_count = 32767;
  ASSERT_EQ(Open(header, Record(2000, false, Bytes(), 32767, 0), 0), 1);
  int new_header = 0;
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  EXPECT_EXIT(
      {
        std::filesystem::remove_all(dir_.path());
        LimitAddressSpace(64L << 10);
        pda_decode_record();
      },
      ::testing::ExitedWithCode(2),
      "disk: can't allocate memory for moment arrays\\. Fatal\\.");
#endif
}

// The same failure, with the program asking for it to be returned (as the
// Python extension does): the decode reports it, the problem names the
// record and the bytes, and the process goes on; the next record decodes.
TEST_F(DecodeDeathTest, AllocationFailureIsReturnedWhenAsked) {
#ifdef QUELLMAR_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "address space limits do not work under a sanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HeaderSpec header = quellmar::test::standard_header(4, 64);
  header.modes[0].gate_count = 32767;
  header.modes[0].spectral_points = 32767;
  const Bytes record = Record(2000, false, Bytes(), 32767, 32767);
  ASSERT_EQ(Open(header, quellmar::test::join({record, record}), 0), 1);
  int new_header = 0;
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  EXPECT_EXIT(
      {
        std::filesystem::remove_all(dir_.path());
        LimitAddressSpace(256L << 20);
        pda_set_exit_on_allocation_failure(0);
        const int status = pda_decode_record();
        DiskProblem code = DiskProblem::kNone;
        int64_t offset = -1;
        int64_t bytes = 0;
        pda_get_problem(&code, &offset, &bytes);
        const bool reported =
            status == -2 && code == DiskProblem::kOutOfMemory && offset == 0 &&
            bytes == 32767LL * 32768 * 4 && pda_moments.gate_count == 0 &&
            pda_current_offset() == static_cast<int64_t>(record.size());
        std::printf("%s\n", reported ? "reported" : "not reported");
        std::fflush(stdout);
        std::_Exit(reported ? 3 : 4);
      },
      ::testing::ExitedWithCode(3),
      "disk: can't allocate memory for spectra arrays\\. Fatal\\.\n"
      "reported");
#endif
}

}  // namespace
