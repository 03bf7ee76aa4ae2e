// Beam information, spectral window and Nyquist velocity queries.
//
// Each case writes a header file and a small data file with the independent
// writer, opens the pair (which makes the first record current) and asks the
// access module about beams, windows and the current record's mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using qwriter::Bytes;
using qwriter::HeaderSpec;

constexpr char kDataName[] = "d0200101.mom";
constexpr int32_t kRecordTime = 1009843200;  // 2002-01-01 00:00:00 UTC

class BeamInfoTest : public ::testing::Test {
 protected:
  void TearDown() override { pda_reset(); }

  // One record of `beam` with no gates naming the block at offset 0.
  void OpenPair(const HeaderSpec& header, int16_t beam = 0) {
    OpenPair(qwriter::encode_header(header),
             qtest::moments_record(kRecordTime, beam, 0));
  }

  void OpenPair(const Bytes& header, const Bytes& data) {
    ASSERT_EQ(qtest::write_and_open_pair(dir_.path(), kDataName, header, data),
              1);
  }

  qtest::TempDir dir_;
};

// Suites by what they test; all share the BeamInfoTest fixture.
using BeamInfoFields = BeamInfoTest;
using BeamInfoWindows = BeamInfoTest;
using BeamInfoNyquist = BeamInfoTest;

// The name buffer is filled with '#' first so that a missing terminator or
// a write past the name shows.
struct NameBuffer {
  char bytes[32];
  NameBuffer() { std::memset(bytes, '#', sizeof bytes); }
  std::string text() const { return std::string(bytes, strnlen(bytes, 32)); }
};

BeamInfo Sentinel() {
  BeamInfo b;
  int32_t* fields = &b.azimuth;
  for (size_t i = 0; i < sizeof(BeamInfo) / sizeof(int32_t); ++i) {
    fields[i] = -1000 - static_cast<int32_t>(i);
  }
  return b;
}

bool SameBeamInfo(const BeamInfo& a, const BeamInfo& b) {
  return std::memcmp(&a, &b, sizeof(BeamInfo)) == 0;
}

int16_t StoredElevation(int direction) {
  return pda_parameters.radars[0].directions[direction].elevation;
}

// ---------------------------------------------------------------------------
// pda_get_beam_info
// ---------------------------------------------------------------------------

TEST_F(BeamInfoFields, TakesTheDirectionAndModeNamedByTheBeamTable) {
  HeaderSpec h = qtest::standard_header();
  h.beams[2] = {4, 3, 0};
  h.directions[4] = {"SOUTHWEST", 225, 0, 0};
  qwriter::ModeSpec& m = h.modes[3];
  m.ipp_ns = 123000;
  m.pulse_width = 1700;
  m.first_gate_delay_ns = 4000;
  m.gate_spacing_ns = 1000;
  m.gate_count = 33;
  m.coherent_integrations = 44;
  m.spectral_averages = 55;
  m.spectral_points = 256;
  m.delay_offset_ns = 1000;
  m.mode_extra = -9;
  h.pulse_table_keys = {100, 1700, 200, 300};
  h.pulse_table_values = {1, 17, 2, 3};
  h.directions[0].azimuth = -1;
  OpenPair(h);

  NameBuffer name;
  ASSERT_EQ(pda_get_beam_info(2, name.bytes), 1);
  EXPECT_EQ(name.text(), "SOUTHWEST");
  const BeamInfo& b = pda_beam_info;
  EXPECT_EQ(b.azimuth, 225);
  EXPECT_EQ(b.elevation, 0);
  EXPECT_EQ(b.ipp_ns, 123000);
  EXPECT_EQ(b.pulse_width, 1700);
  EXPECT_EQ(b.first_gate_delay_ns, 4000);
  EXPECT_EQ(b.gate_spacing_ns, 1000);
  EXPECT_EQ(b.delay_offset_ns, 1000);
  EXPECT_EQ(b.first_gate_height_m, 450);  // (4000 - 1000) x 0.15, elevation 0
  EXPECT_EQ(b.gate_spacing_m, 150);
  EXPECT_EQ(b.gate_count, 33);
  EXPECT_EQ(b.coherent_integrations, 44);
  EXPECT_EQ(b.spectral_averages, 55);
  EXPECT_EQ(b.spectral_points, 256);
  EXPECT_EQ(b.pulse_table_value, 17);
  EXPECT_EQ(b.mode_extra, -9);

  // The standard vertical beam: mode 0, elevation 90.
  NameBuffer vertical;
  ASSERT_EQ(pda_get_beam_info(0, vertical.bytes), 1);
  EXPECT_EQ(vertical.text(), "VERTICAL");
  EXPECT_EQ(b.azimuth, -1);
  EXPECT_EQ(b.elevation, 90);
  EXPECT_EQ(b.ipp_ns, 40000);
  EXPECT_EQ(b.first_gate_height_m, 375);  // 2500 x 0.15
  EXPECT_EQ(b.gate_spacing_m, 105);       // 700 x 0.15
  EXPECT_EQ(b.gate_count, 4);
  EXPECT_EQ(b.spectral_points, 64);
  EXPECT_EQ(b.pulse_table_value, -1);
}

TEST_F(BeamInfoFields, ElevationsAbove90AreHundredthsConvertedInTheBlock) {
  HeaderSpec h = qtest::standard_header();
  const int16_t elevations[8] = {90, 7500, 7500, 90, 91, 9000, -9000, 100};
  h.beam_count = 8;
  for (int i = 0; i < 8; ++i) {
    h.beams[i] = {static_cast<int16_t>(i), 0, 0};
    h.directions[i] = {"D" + std::to_string(i), static_cast<int16_t>(10 * i),
                       elevations[i], 0};
  }
  OpenPair(h);  // mode 0: first gate 2500 ns, spacing 700 ns
  NameBuffer name;

  // 7500 hundredths: 75 degrees, sin 75 = 0.9659258.
  ASSERT_EQ(pda_get_beam_info(1, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 75);
  EXPECT_EQ(pda_beam_info.azimuth, 10);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, 362);  // 362.22
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 101);       // 101.42
  EXPECT_EQ(StoredElevation(1), 75);
  EXPECT_EQ(StoredElevation(2), 7500);  // its own beam was not asked for
  // Asked again, the already converted value stays 75.
  ASSERT_EQ(pda_get_beam_info(1, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 75);
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 101);
  EXPECT_EQ(StoredElevation(1), 75);

  ASSERT_EQ(pda_get_beam_info(3, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 90);
  EXPECT_EQ(StoredElevation(3), 90);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, 375);
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 105);

  // 91 is taken as hundredths: 0 degrees, so heights are slant ranges.
  ASSERT_EQ(pda_get_beam_info(4, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 0);
  EXPECT_EQ(StoredElevation(4), 0);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, 375);
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 105);

  ASSERT_EQ(pda_get_beam_info(5, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 90);
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 105);

  // Negative values are never hundredths; below 0 the factor is 1.
  ASSERT_EQ(pda_get_beam_info(6, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, -9000);
  EXPECT_EQ(StoredElevation(6), -9000);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, 375);
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 105);

  // 100 hundredths: 1 degree, sin 1 = 0.0174524.
  ASSERT_EQ(pda_get_beam_info(7, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 1);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, 7);  // 6.54
  EXPECT_EQ(pda_beam_info.gate_spacing_m, 2);       // 1.83

  // A new read of the block brings back the stored hundredths.
  ASSERT_EQ(pda_read_header_block_at(0), 0);
  EXPECT_EQ(StoredElevation(1), 7500);
  ASSERT_EQ(pda_get_beam_info(1, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.elevation, 75);
}

TEST_F(BeamInfoFields, HeightsUseASinglePrecisionSineOfSixDecimalPi) {
  HeaderSpec h = qtest::standard_header();
  h.modes[0].first_gate_delay_ns = 3000;
  h.modes[0].gate_spacing_ns = 500;
  h.modes[1] = h.modes[0];
  h.modes[1].gate_spacing_ns = 1000;
  h.modes[2] = h.modes[0];
  h.modes[2].first_gate_delay_ns = 22930;
  h.modes[2].gate_spacing_ns = 30910;
  struct Case {
    int16_t elevation;
    int16_t mode;
    int32_t first_gate_height_m;
    int32_t gate_spacing_m;
  };
  const std::vector<Case> cases = {
      // sine 0.49999991: 75 x sine + 0.5 stays below 38.
      {30, 0, 225, 37},
      // sine of 90 x 3.141592 / 180 is 1.0 in single precision.
      {90, 1, 450, 150},
      {0, 1, 450, 150},
      {-10, 0, 450, 75},
      {45, 1, 318, 106},  // sine 0.7071066: 318.20, 106.07
      // Products that fall on the other side of n + 0.5 with a sine held
      // in double precision: 3278.49998 (3278.50006 with a double sine)
      // and 1561.49998 (1561.50002).
      {45, 2, 2432, 3278},
      {27, 2, 1561, 2105},
  };
  h.beam_count = static_cast<int16_t>(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    h.beams[i] = {static_cast<int16_t>(i), cases[i].mode, 0};
    h.directions[i] = {"E" + std::to_string(cases[i].elevation), 0,
                       cases[i].elevation, 0};
  }
  OpenPair(h);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("elevation " + std::to_string(cases[i].elevation));
    NameBuffer name;
    ASSERT_EQ(pda_get_beam_info(static_cast<int32_t>(i), name.bytes), 1);
    EXPECT_EQ(pda_beam_info.elevation, cases[i].elevation);
    EXPECT_EQ(pda_beam_info.first_gate_height_m, cases[i].first_gate_height_m);
    EXPECT_EQ(pda_beam_info.gate_spacing_m, cases[i].gate_spacing_m);
  }
}

TEST_F(BeamInfoFields, NegativeFirstGateHeightIsTruncatedAfterAddingAHalf) {
  HeaderSpec h = qtest::standard_header();
  h.modes[0].first_gate_delay_ns = 1000;
  h.modes[0].delay_offset_ns = 1069;  // -69 ns: -10.35 m
  h.modes[1] = h.modes[0];
  h.modes[1].delay_offset_ns = 1500;  // -500 ns: -75 m
  h.beam_count = 3;
  h.beams[0] = {0, 0, 0};
  h.beams[1] = {0, 1, 0};
  h.beams[2] = {1, 1, 0};
  h.directions[0] = {"FLAT", 0, 0, 0};
  h.directions[1] = {"THIRTY", 0, 30, 0};
  OpenPair(h);
  NameBuffer name;
  ASSERT_EQ(pda_get_beam_info(0, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.delay_offset_ns, 1069);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, -9);  // not -10
  ASSERT_EQ(pda_get_beam_info(1, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, -74);  // -74.5
  ASSERT_EQ(pda_get_beam_info(2, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.first_gate_height_m, -36);  // -36.99999
}

TEST_F(BeamInfoFields, PulseTableLastMatchingKeyWins) {
  HeaderSpec h = qtest::standard_header();
  h.pulse_table_keys = {700, -1, 700, 9};
  h.pulse_table_values = {1, -2, 3, 4};
  const int32_t widths[4] = {700, -1, 65536 + 700, 65535};
  const int32_t expected[4] = {3, -2, -1, -1};
  h.beam_count = 4;
  for (int i = 0; i < 4; ++i) {
    h.modes[i] = h.modes[0];
    h.modes[i].pulse_width = widths[i];
    h.beams[i] = {0, static_cast<int16_t>(i), 0};
  }
  OpenPair(h);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("pulse_width " + std::to_string(widths[i]));
    NameBuffer name;
    ASSERT_EQ(pda_get_beam_info(i, name.bytes), 1);
    EXPECT_EQ(pda_beam_info.pulse_width, widths[i]);
    EXPECT_EQ(pda_beam_info.pulse_table_value, expected[i]);
  }
}

TEST_F(BeamInfoFields, FailureWritesNothing) {
  HeaderSpec h = qtest::standard_header();
  h.beam_count = 12;  // the table has ten entries
  h.directions[1] = {"HUNDREDTHS", 0, 7500, 0};
  h.beams[1] = {9, 0, 0};   // no direction 9
  h.beams[2] = {-1, 0, 0};  // no direction -1
  h.beams[3] = {1, 4, 0};   // no mode 4
  h.beams[4] = {1, -1, 0};  // no mode -1
  for (int b = 5; b < 10; ++b) h.beams[b] = {0, 0, 0};
  OpenPair(h);

  const BeamInfo sentinel = Sentinel();
  auto expect_failure = [&](int32_t beam) {
    SCOPED_TRACE("beam " + std::to_string(beam));
    pda_beam_info = sentinel;
    NameBuffer name;
    EXPECT_EQ(pda_get_beam_info(beam, name.bytes), 0);
    EXPECT_TRUE(SameBeamInfo(pda_beam_info, sentinel));
    for (char c : name.bytes) ASSERT_EQ(c, '#');
  };
  for (int32_t beam : {-1, 1, 2, 3, 4, 10, 11, 12, 1000}) expect_failure(beam);
  // Direction 1 was never converted by the failed calls.
  EXPECT_EQ(StoredElevation(1), 7500);

  NameBuffer name;
  EXPECT_EQ(pda_get_beam_info(9, name.bytes), 1);
  EXPECT_EQ(name.text(), "VERTICAL");

  // With any radar selected there is no radar to take the beam from.
  ASSERT_EQ(pda_select_radar(-1), 1);
  for (int32_t beam : {0, 5, 9}) expect_failure(beam);
  ASSERT_EQ(pda_select_radar(0), 1);
  EXPECT_EQ(pda_get_beam_info(0, name.bytes), 1);
}

TEST_F(BeamInfoFields, EmptyBeamTableHasNoBeamInfo) {
  HeaderSpec h = qtest::standard_header();
  h.beam_count = 0;
  OpenPair(h);
  const BeamInfo sentinel = Sentinel();
  pda_beam_info = sentinel;
  NameBuffer name;
  EXPECT_EQ(pda_get_beam_info(0, name.bytes), 0);
  EXPECT_TRUE(SameBeamInfo(pda_beam_info, sentinel));
}

TEST_F(BeamInfoFields, DirectionNameWithoutNulKeepsElevenBytes) {
  HeaderSpec h = qtest::standard_header();
  h.directions[0].name = "ABCDEFGHIJKL";  // 12 bytes, no NUL
  h.directions[1].name = "ABCDEFGHIJK";   // 11 bytes and a NUL
  h.directions[2].name = std::string("NE\0XYZ", 6);
  OpenPair(h);
  NameBuffer name;
  ASSERT_EQ(pda_get_beam_info(0, name.bytes), 1);
  EXPECT_EQ(name.text(), "ABCDEFGHIJK");
  for (int i = 12; i < 32; ++i) EXPECT_EQ(name.bytes[i], '#') << i;
  NameBuffer eleven;
  ASSERT_EQ(pda_get_beam_info(1, eleven.bytes), 1);
  EXPECT_EQ(eleven.text(), "ABCDEFGHIJK");
  NameBuffer short_name;
  ASSERT_EQ(pda_get_beam_info(2, short_name.bytes), 1);
  EXPECT_EQ(short_name.text(), "NE");
}

// A record that carries its own integrations and averages for its mode.
Bytes RecordWithOverrides(int16_t beam, int gates, int16_t integrations,
                          int16_t averages) {
  qwriter::BodySpec body;
  body.datacode = 2000;
  body.moments.resize(static_cast<size_t>(gates));
  qwriter::RecordSpec r;
  r.datacode = 2000;
  r.layout = qwriter::Layout::M;
  r.record_time = kRecordTime;
  r.beam_index = beam;
  r.has_overrides = true;
  r.coherent_integrations = integrations;
  r.spectral_averages = averages;
  r.body = qwriter::encode_body(body);
  return qwriter::encode_record(r);
}

TEST_F(BeamInfoFields, RecordOverridesShowInTheBeamInfo) {
  const HeaderSpec h = qtest::standard_header(4, 64);
  OpenPair(qwriter::encode_header(h), RecordWithOverrides(0, 4, 77, 12));
  NameBuffer name;
  ASSERT_EQ(pda_get_beam_info(0, name.bytes), 1);
  EXPECT_EQ(pda_beam_info.coherent_integrations, 77);
  EXPECT_EQ(pda_beam_info.spectral_averages, 12);
}

// ---------------------------------------------------------------------------
// Spectral windows
// ---------------------------------------------------------------------------

TEST_F(BeamInfoWindows, SpectrumWindowsHandsOutTheWindowFields) {
  HeaderSpec h = qtest::standard_header();
  h.window1_start = 10;
  h.window1_points = 5;
  h.window2_start = 3;
  h.window2_points = 4;
  h.spectrum_extra = {1, -2, 3, -4, 5, -6};
  OpenPair(h);
  int32_t v[9];
  std::fill(std::begin(v), std::end(v), 12345);
  EXPECT_EQ(pda_get_spectrum_windows(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                                     &v[6], &v[7], &v[8]),
            1);
  EXPECT_EQ(std::vector<int32_t>(std::begin(v), std::end(v)),
            (std::vector<int32_t>{10, 5, 3, 4, -2, 3, -4, 5, -6}));

  h.spectrum_extra = {0, 0, 0, 0, 0, 7};
  h.window2_start = 20;
  h.window2_points = 0;
  OpenPair(h);
  EXPECT_EQ(pda_get_spectrum_windows(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                                     &v[6], &v[7], &v[8]),
            0);
  EXPECT_EQ(std::vector<int32_t>(std::begin(v), std::end(v)),
            (std::vector<int32_t>{10, 5, 1, 1, 0, 0, 0, 0, 7}));
}

TEST_F(BeamInfoWindows, SpectrumIndexWithTheDefaultWindows) {
  constexpr int kPoints = 64, kGates = 4;
  OpenPair(qtest::standard_header(kGates, kPoints));  // W1 1..64, no W2
  EXPECT_EQ(pda_spectrum_index(0, 0), 1);
  EXPECT_EQ(pda_spectrum_index(kPoints - 1, 0), kPoints);
  EXPECT_EQ(pda_spectrum_index(0, 1), kPoints + 2);
  EXPECT_EQ(pda_spectrum_index(kPoints, 0), -1);
  EXPECT_EQ(pda_spectrum_index(-1, 0), -1);
  EXPECT_EQ(pda_spectrum_index(0, kGates), -1);
  EXPECT_EQ(pda_spectrum_index(0, -1), -1);
  // Each gate has N + 1 slots, slot 0 held for the single window-2 point.
  for (int g = 0; g < kGates; ++g) {
    for (int p = 0; p < kPoints; ++p) {
      ASSERT_EQ(pda_spectrum_index(p, g), g * (kPoints + 1) + p + 1)
          << "point " << p << " gate " << g;
    }
  }
}

TEST_F(BeamInfoWindows, SpectrumIndexWithTwoWindows) {
  HeaderSpec h = qtest::standard_header(4, 64);
  h.window2_start = 3;
  h.window2_points = 4;
  h.window1_start = 10;
  h.window1_points = 5;
  OpenPair(h);
  // Window 2 is points 2..5, window 1 points 9..13 (counted from 0).
  const std::vector<int32_t> row = {-1, -1, 0, 1, 2, 3, -1, -1,
                                    -1, 4,  5, 6, 7, 8, -1, -1};
  for (int g = 0; g < 4; ++g) {
    for (int p = 0; p < static_cast<int>(row.size()); ++p) {
      const int32_t expected = row[p] < 0 ? -1 : g * 9 + row[p];
      EXPECT_EQ(pda_spectrum_index(p, g), expected)
          << "point " << p << " gate " << g;
    }
  }
  EXPECT_EQ(pda_spectrum_index(2, 4), -1);
}

TEST_F(BeamInfoWindows, SpectrumIndexAndNyquistFollowTheCurrentRecordsMode) {
  HeaderSpec h = qtest::standard_header(10, 64);
  h.modes[1] = h.modes[0];
  h.modes[1].gate_count = 3;
  h.modes[1].ipp_ns = 80000;
  h.beams[1].mode_index = 1;
  const Bytes first = qtest::moments_record(kRecordTime, 1, 3);
  const Bytes second = qtest::moments_record(kRecordTime + 60, 0, 10);
  OpenPair(qwriter::encode_header(h), qtest::join({first, second}));

  // Opening makes the first record (beam 1, mode 1) current.
  EXPECT_EQ(pda_get_record_beam(), 1);
  EXPECT_EQ(pda_spectrum_index(0, 2), 2 * 65 + 1);
  EXPECT_EQ(pda_spectrum_index(0, 3), -1);
  EXPECT_EQ(pda_get_nyquist_velocity(), 10.239071f);

  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header = 0;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  ASSERT_EQ(pda_get_record_beam(), 1);
  ASSERT_EQ(pda_next_record(&new_header), 1);
  ASSERT_EQ(pda_get_record_beam(), 0);
  EXPECT_EQ(pda_spectrum_index(0, 3), 3 * 65 + 1);
  EXPECT_EQ(pda_spectrum_index(63, 9), 9 * 65 + 64);
  EXPECT_EQ(pda_spectrum_index(0, 10), -1);
  EXPECT_EQ(pda_get_nyquist_velocity(), 20.478142f);

  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(pda_spectrum_index(0, 3), -1);
}

// ---------------------------------------------------------------------------
// Nyquist velocity
// ---------------------------------------------------------------------------

TEST_F(BeamInfoNyquist, NyquistVelocityOfTheStandardMode) {
  // 149.9 / 915 x 5e8 / 40000 / 100 = 20.4781420...
  OpenPair(qtest::standard_header());
  EXPECT_EQ(pda_get_nyquist_velocity(), 20.478142f);
}

TEST_F(BeamInfoNyquist, NyquistVelocityUsesTheRecordsIntegrations) {
  OpenPair(qwriter::encode_header(qtest::standard_header(4, 64)),
           RecordWithOverrides(0, 4, 77, 12));
  // 149.9 / 915 x 5e8 / 40000 / 77 = 26.5949897...
  EXPECT_EQ(pda_get_nyquist_velocity(), 26.59499f);
}

TEST_F(BeamInfoNyquist, NyquistVelocityIsZeroWhenADivisorIsZero) {
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE("zero divisor " + std::to_string(which));
    HeaderSpec h = qtest::standard_header();
    if (which == 0) h.tx_frequency = 0;
    if (which == 1) h.modes[0].ipp_ns = 0;
    if (which == 2) h.modes[0].coherent_integrations = 0;
    OpenPair(h);
    const float v = pda_get_nyquist_velocity();
    EXPECT_EQ(v, 0.0f);
    EXPECT_FALSE(std::isnan(v));
  }
}

}  // namespace
