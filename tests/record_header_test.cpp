// RecordHeader reading and record stepping of the access module: the three
// record layouts, the override words, the lazy HeaderBlock load, the
// TimeKey of a record, forward and backward steps and the handling of
// damaged records. Inputs are built with the file writer. The checks on
// the trailers that backward steps read are the Trailer group of
// positioning_test.cpp.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using qwriter::BodySpec;
using qwriter::Bytes;
using qwriter::GateMoments;
using qwriter::HeaderSpec;
using qwriter::Layout;
using qwriter::RecordSpec;

constexpr char kName[] = "d02100a.mom";
constexpr char kOtherName[] = "d02101a.mom";
constexpr char kHeaderError[] = "\ndisk: Header Read Error, pressing on...";

// A record of the given layout and datacode with an empty body.
RecordSpec EmptyRecord(Layout layout, int16_t datacode, int32_t time,
                       int16_t beam = 0, int32_t header_offset = 0) {
  RecordSpec r;
  r.layout = layout;
  r.datacode = datacode;
  r.record_time = time;
  r.beam_index = beam;
  r.header_offset = header_offset;
  return r;
}

// x0xx first moment set of `gates` gates; gate g has velocity count
// `velocity` for g == 0 and -`velocity` for the others.
Bytes X0xxMoments(int gates, int16_t velocity) {
  std::vector<GateMoments> m(gates);
  for (int g = 0; g < gates; ++g) {
    m[g].velocity = static_cast<int16_t>(g == 0 ? velocity : -velocity);
    m[g].width = 10;
    m[g].snr = 3;
    m[g].noise_or_aux = -40;
  }
  Bytes b;
  qwriter::put_first_set_x0xx(b, m);
  return b;
}

struct Read {
  int result;
  int new_header;
};

Read ReadHeader() {
  int new_header = -7;
  const int result = pda_read_record_header(&new_header);
  return {result, new_header};
}

struct Time {
  int32_t seconds, year, day, hour, minute, second;
};

Time RecordTime() {
  Time t{};
  t.seconds = pda_get_time(&t.year, &t.day, &t.hour, &t.minute, &t.second);
  return t;
}

class RecordHeaderTest : public ::testing::Test {
 protected:
  void TearDown() override { pda_reset(); }

  int Open(const Bytes& header, const Bytes& data, int spectra = 0) {
    return qtest::write_and_open_pair(dir_.path(), kName, header, data,
                                      spectra);
  }
  int Open(const HeaderSpec& header, const Bytes& data, int spectra = 0) {
    return Open(qwriter::encode_header(header), data, spectra);
  }
  std::string Prefix() const { return dir_.path() + "/"; }

  // Reads the RecordHeader at the present position and advances past it.
  void ReadAndAdvance() {
    ASSERT_EQ(ReadHeader().result, 0);
    pda_advance_record();
  }

  const ModeEntry& Mode0() const { return pda_parameters.radars[0].modes[0]; }

  qtest::TempDir dir_;
};

// Suites by what they test on the RecordHeaderTest fixture.
using RecordHeaderLayout = RecordHeaderTest;
using RecordHeaderOverrides = RecordHeaderTest;
using RecordHeaderLoadError = RecordHeaderTest;
using RecordHeaderTime = RecordHeaderTest;
using RecordHeaderSteppingLayouts = RecordHeaderTest;
using RecordHeaderDamaged = RecordHeaderTest;
using RecordHeaderNoMode = RecordHeaderTest;

// ---------------------------------------------------------------------------
// Layouts
// ---------------------------------------------------------------------------

TEST_F(RecordHeaderLayout, Datacode2999WithoutFlagIsLayoutMWithTwoByteLength) {
  RecordSpec r0 = EmptyRecord(Layout::M, 2999, 1000, 2, 0);
  r0.radar_index = 0;
  const Bytes b0 = qwriter::encode_record(r0);
  const Bytes b1 =
      qwriter::encode_record(EmptyRecord(Layout::M, 2999, 2000, 3));
  ASSERT_EQ(b0.size(), 18u);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1})), 1);

  const Read r = ReadHeader();
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(pda_get_record_datacode(), 2999);
  EXPECT_EQ(pda_get_record_length(), 18);
  EXPECT_EQ(pda_get_record_header_offset(), 0);
  EXPECT_EQ(RecordTime().seconds, 1000);
  EXPECT_EQ(pda_get_record_beam(), 2);
  EXPECT_EQ(pda_get_spectra_flag(), 0);
  pda_advance_record();
  EXPECT_EQ(pda_current_offset(), 18);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 2000);
  EXPECT_EQ(pda_get_record_beam(), 3);
}

TEST_F(RecordHeaderLayout, Datacode2999WithFlagIsLayoutSWithFourByteLength) {
  const Bytes b0 =
      qwriter::encode_record(EmptyRecord(Layout::S, 2999, 1000, 2));
  const Bytes b1 =
      qwriter::encode_record(EmptyRecord(Layout::S, 2999, 2000, 3));
  ASSERT_EQ(b0.size(), 22u);
  ASSERT_EQ(Open(qtest::standard_header(2, 8), qtest::join({b0, b1}), 1), 1);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 22);
  EXPECT_EQ(RecordTime().seconds, 1000);
  EXPECT_EQ(pda_get_record_beam(), 2);
  pda_advance_record();
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 2000);
  EXPECT_EQ(pda_get_record_beam(), 3);
  EXPECT_EQ(pda_get_spectra_flag(), 1);
}

// A datacode of 3000 or more carries its own flag, which then decides the
// layout of the following records below 3000.
TEST_F(RecordHeaderLayout, Datacode3000CarriesTheFlagForLaterRecords) {
  RecordSpec n_on = EmptyRecord(Layout::N, 3000, 5000, 1);
  n_on.spectra_flag = 1;
  RecordSpec n_off = EmptyRecord(Layout::N, 3000, 7000, 3);
  n_off.spectra_flag = 0;
  const Bytes b0 = qwriter::encode_record(n_on);
  const Bytes b1 =
      qwriter::encode_record(EmptyRecord(Layout::S, 2000, 6000, 2));
  const Bytes b2 = qwriter::encode_record(n_off);
  const Bytes b3 =
      qwriter::encode_record(EmptyRecord(Layout::M, 2000, 8000, 4));
  ASSERT_EQ(b0.size(), 28u);
  ASSERT_EQ(b1.size(), 22u);
  ASSERT_EQ(b3.size(), 18u);
  // Opened as a moments file: the first record's own flag takes over.
  ASSERT_EQ(
      Open(qtest::standard_header(2, 8), qtest::join({b0, b1, b2, b3}), 0), 1);
  EXPECT_EQ(pda_get_spectra_flag(), 1);

  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 28);
  EXPECT_EQ(pda_get_spectra_flag(), 1);
  EXPECT_EQ(RecordTime().seconds, 5000);
  EXPECT_EQ(pda_get_record_beam(), 1);
  pda_advance_record();

  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 22);
  EXPECT_EQ(RecordTime().seconds, 6000);
  EXPECT_EQ(pda_get_record_beam(), 2);
  pda_advance_record();

  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 28);
  EXPECT_EQ(pda_get_spectra_flag(), 0);
  EXPECT_EQ(RecordTime().seconds, 7000);
  pda_advance_record();

  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 18);
  EXPECT_EQ(RecordTime().seconds, 8000);
  EXPECT_EQ(pda_get_record_beam(), 4);
  pda_advance_record();
  EXPECT_EQ(pda_current_offset(), 28 + 22 + 28 + 18);
  EXPECT_EQ(ReadHeader().result, 1);
}

TEST_F(RecordHeaderLayout, Datacode3000IgnoresTheFlagGivenAtOpen) {
  RecordSpec n = EmptyRecord(Layout::N, 3000, 5000, 1);
  n.spectra_flag = 0;
  const Bytes b0 = qwriter::encode_record(n);
  const Bytes b1 =
      qwriter::encode_record(EmptyRecord(Layout::M, 2000, 6000, 2));
  ASSERT_EQ(Open(qtest::standard_header(2, 8), qtest::join({b0, b1}), 1), 1);
  EXPECT_EQ(pda_get_spectra_flag(), 0);
  ReadAndAdvance();
  EXPECT_EQ(pda_current_offset(), 28);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(pda_get_record_length(), 18);
  EXPECT_EQ(RecordTime().seconds, 6000);
}

// ---------------------------------------------------------------------------
// Override words
// ---------------------------------------------------------------------------

// Layout M with 2 gates: the bound is 5 * 2 + 18 = 28, which is also the
// length of a record of two x0xx gates without overrides. V is 20.478142
// m/s with 100 coherent integrations and twice that with 50. Each record
// under test follows a whole first record, and is read and decoded by
// pda_read_record: where its body starts shows in the decoded velocities.
TEST_F(RecordHeaderOverrides, LayoutMOverridesOnlyAboveFiveGPlus18) {
  const HeaderSpec header = qtest::standard_header(2, 8);
  RecordSpec first = EmptyRecord(Layout::M, 2000, 1);
  first.body = X0xxMoments(2, 100);
  const Bytes b0 = qwriter::encode_record(first);
  ASSERT_EQ(b0.size(), 28u);

  {  // Exactly the bound, no override words: body at offset 16.
    RecordSpec r = EmptyRecord(Layout::M, 2000, 100);
    r.body = X0xxMoments(2, 5000);
    ASSERT_EQ(qwriter::computed_record_length(r), 28);
    ASSERT_EQ(Open(header, qtest::join({b0, qwriter::encode_record(r)})), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 100);
    EXPECT_EQ(Mode0().spectral_averages, 30);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 10.239071f);
    EXPECT_FLOAT_EQ(pda_moments.velocity[1], -10.239071f);
    EXPECT_EQ(pda_current_offset(), 28 + 28);
  }
  {  // Exactly the bound with override words written: they are not read,
     // and the body starts on them.
    RecordSpec r = EmptyRecord(Layout::M, 2000, 100);
    r.has_overrides = true;
    r.coherent_integrations = 77;
    r.spectral_averages = 11;
    r.body = X0xxMoments(2, 5000);
    r.record_length = 28;
    ASSERT_EQ(Open(header, qtest::join({b0, qwriter::encode_record(r)})), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 100);
    EXPECT_EQ(Mode0().spectral_averages, 30);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 77 * 20.478142f / 10000);
    EXPECT_EQ(pda_current_offset(), 28 + 28);
  }
  {  // One above the bound: the override words are read and used.
    RecordSpec r = EmptyRecord(Layout::M, 2000, 100);
    r.has_overrides = true;
    r.coherent_integrations = 50;
    r.spectral_averages = 11;
    r.body = X0xxMoments(2, 5000);
    r.record_length = 29;
    ASSERT_EQ(Open(header, qtest::join({b0, qwriter::encode_record(r)})), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 50);
    EXPECT_EQ(Mode0().spectral_averages, 11);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 20.478142f);
    EXPECT_FLOAT_EQ(pda_moments.velocity[1], -20.478142f);
    EXPECT_EQ(pda_current_offset(), 28 + 29);
  }
}

// Layout S with 2 gates of 8 points: the bound is 10 + 64 + 22 = 96, the
// length of such a record without overrides.
TEST_F(RecordHeaderOverrides, LayoutSOverridesOnlyAboveFiveGPlusFourGPPlus22) {
  const HeaderSpec header = qtest::standard_header(2, 8);
  std::vector<std::vector<float>> spectra(2, std::vector<float>(8, 1.5f));
  Bytes body = X0xxMoments(2, 5000);
  qwriter::put_spectra(body, spectra);
  RecordSpec first = EmptyRecord(Layout::S, 2000, 1);
  first.body = body;
  const Bytes b0 = qwriter::encode_record(first);
  ASSERT_EQ(b0.size(), 96u);

  {
    ASSERT_EQ(Open(header, qtest::join({b0, b0}), 1), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 100);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 10.239071f);
    EXPECT_EQ(pda_moments.spectra_row(1)[7], 1.5f);
    EXPECT_EQ(pda_current_offset(), 96 + 96);
  }
  {
    RecordSpec r = EmptyRecord(Layout::S, 2000, 100);
    r.has_overrides = true;
    r.coherent_integrations = 77;
    r.body = body;
    r.record_length = 96;
    ASSERT_EQ(Open(header, qtest::join({b0, qwriter::encode_record(r)}), 1), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 100);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 77 * 20.478142f / 10000);
  }
  {
    RecordSpec r = EmptyRecord(Layout::S, 2000, 100);
    r.has_overrides = true;
    r.coherent_integrations = 50;
    r.spectral_averages = 12;
    r.body = body;
    r.record_length = 97;
    ASSERT_EQ(Open(header, qtest::join({b0, qwriter::encode_record(r)}), 1), 1);
    ReadAndAdvance();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(Mode0().coherent_integrations, 50);
    EXPECT_EQ(Mode0().spectral_averages, 12);
    ASSERT_EQ(pda_moments.gate_count, 2);
    EXPECT_FLOAT_EQ(pda_moments.velocity[0], 20.478142f);
    EXPECT_EQ(pda_moments.spectra_row(1)[7], 1.5f);
    EXPECT_EQ(pda_current_offset(), 96 + 97);
  }
}

// With 32767 gates of 32767 points, 5G + 4GP + 22 does not fit in 32 bits:
// computed in signed 32-bit arithmetic it wraps to -98283, so any record
// length lies above it and the override words are read.
TEST_F(RecordHeaderOverrides, LayoutSBoundIsComputedInSigned32Bits) {
  HeaderSpec header = qtest::standard_header(2, 8);
  header.modes[0].gate_count = 32767;
  header.modes[0].spectral_points = 32767;
  RecordSpec r = EmptyRecord(Layout::S, 2000, 100);
  r.has_overrides = true;
  r.coherent_integrations = 55;
  r.spectral_averages = 66;
  ASSERT_EQ(Open(header, qwriter::encode_record(r), 1), 1);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(Mode0().coherent_integrations, 55);
  EXPECT_EQ(Mode0().spectral_averages, 66);
}

// Overrides stay in the ModeEntry for later records of the mode until the
// next HeaderBlock load.
TEST_F(RecordHeaderOverrides, OverridesStayUntilTheNextHeaderBlockLoad) {
  HeaderSpec second = qtest::standard_header(2, 8);
  second.modes[0].coherent_integrations = 120;
  second.modes[0].spectral_averages = 40;
  const Bytes header =
      qtest::join({qwriter::encode_header(qtest::standard_header(2, 8)),
                   qwriter::encode_header(second)});
  const int32_t second_offset = 568;

  RecordSpec with = EmptyRecord(Layout::N, 3000, 1);
  with.coherent_integrations = 60;
  with.spectral_averages = 7;
  RecordSpec plain = EmptyRecord(Layout::M, 2000, 2);
  RecordSpec other = EmptyRecord(Layout::M, 2000, 3, 0, second_offset);
  const Bytes b0 = qwriter::encode_record(with);
  const Bytes b1 = qwriter::encode_record(plain);
  const Bytes b2 = qwriter::encode_record(other);
  ASSERT_EQ(Open(header, qtest::join({b0, b1, b2})), 1);

  ReadAndAdvance();
  EXPECT_EQ(Mode0().coherent_integrations, 60);
  EXPECT_EQ(Mode0().spectral_averages, 7);
  ReadAndAdvance();
  EXPECT_EQ(Mode0().coherent_integrations, 60);
  EXPECT_EQ(Mode0().spectral_averages, 7);
  const Read r = ReadHeader();
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.new_header, 1);
  EXPECT_EQ(Mode0().coherent_integrations, 120);
  EXPECT_EQ(Mode0().spectral_averages, 40);
}

// ---------------------------------------------------------------------------
// HeaderBlock loading
// ---------------------------------------------------------------------------

class RecordHeaderLoad : public RecordHeaderTest {
 protected:
  // Two blocks: site_value_1 4000 at offset 0 and 1111 at offset 568. The
  // ten records all name the second block.
  void SetUp() override {
    HeaderSpec second = qtest::standard_header();
    second.site_value_1 = 1111;
    header_ = qwriter::encode_header(qtest::standard_header());
    ASSERT_EQ(header_.size(), 568u);
    header_.append(qwriter::encode_header(second));
    for (int i = 0; i < 10; ++i) {
      data_.append(qtest::moments_record(1000 + i, 0, 4, 0, 568));
    }
  }
  Bytes header_;
  Bytes data_;
};

TEST_F(RecordHeaderLoad, TenRecordsNamingOneOffsetLoadItOnce) {
  ASSERT_EQ(Open(header_, data_), 1);
  // Opening read the first RecordHeader, which loaded the block.
  EXPECT_EQ(pda_get_loaded_header_offset(), 568);
  EXPECT_EQ(pda_parameters.site_value_1, 1111);

  // Naming the same name again only rewinds: the next read loads again.
  EXPECT_EQ(pda_set_file(Prefix(), kName, 0), 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), -1);
  std::vector<int> new_headers;
  for (int i = 0; i < 10; ++i) {
    const Read r = ReadHeader();
    ASSERT_EQ(r.result, 0);
    new_headers.push_back(r.new_header);
    EXPECT_EQ(RecordTime().seconds, 1000 + i);
    EXPECT_EQ(pda_get_record_header_offset(), 568);
    // A mark in the parameter block shows whether a later read loads the
    // block again.
    if (i == 0) pda_parameters.site_value_1 = -999;
    pda_advance_record();
  }
  EXPECT_EQ(new_headers, (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pda_parameters.site_value_1, -999);
  EXPECT_EQ(pda_get_loaded_header_offset(), 568);
  EXPECT_EQ(ReadHeader().result, 1);

  // A rewind by the first-record search loads it again.
  int new_header = -7;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(pda_parameters.site_value_1, 1111);
}

TEST_F(RecordHeaderLoad, ReadsStraightAfterOpeningLoadNothing) {
  ASSERT_EQ(Open(header_, data_), 1);
  pda_parameters.site_value_1 = -999;
  for (int i = 0; i < 10; ++i) {
    const Read r = ReadHeader();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.new_header, 0) << "record " << i;
    pda_advance_record();
  }
  EXPECT_EQ(pda_parameters.site_value_1, -999);
}

TEST_F(RecordHeaderLoad, OpeningAnotherPairAndBackLoadsAgain) {
  ASSERT_EQ(Open(header_, data_), 1);
  HeaderSpec other = qtest::standard_header();
  other.site_value_1 = 2222;
  qtest::write_pair(dir_.path(), kOtherName, qwriter::encode_header(other),
                    qtest::moments_record(50, 0, 4));
  ASSERT_EQ(pda_set_file(Prefix(), kOtherName, 0), 1);
  EXPECT_EQ(pda_parameters.site_value_1, 2222);
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);

  ASSERT_EQ(pda_set_file(Prefix(), kName, 0), 1);
  EXPECT_EQ(pda_parameters.site_value_1, 1111);
  EXPECT_EQ(pda_get_loaded_header_offset(), 568);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 1000);
}

// The header file holds one block of 568 bytes; offset 100000 lies past its
// end, so the header file can be positioned there but no block read.
TEST_F(RecordHeaderLoadError, HeaderReadErrorPastTheEndIsPrintedOnce) {
  const Bytes b0 = qtest::moments_record(1000, 1, 0, 0, 100000);
  const Bytes b1 = qtest::moments_record(2000, 2, 0, 0, 0);
  const Bytes b2 = qtest::moments_record(3000, 3, 0, 0, 200000);
  ASSERT_EQ(b0.size(), 18u);
  qtest::start_capture();
  const int opened = Open(qtest::standard_header(), qtest::join({b0, b1, b2}));
  EXPECT_EQ(qtest::stop_capture(), std::string(kHeaderError) + "  0 -1  -1\n");
  ASSERT_EQ(opened, 1);
  EXPECT_EQ(pda_get_loaded_header_offset(), -1);

  qtest::start_capture();
  const Read r0 = ReadHeader();
  pda_advance_record();
  const Read r1 = ReadHeader();
  const int32_t loaded_after_r1 = pda_get_loaded_header_offset();
  pda_advance_record();
  const Read r2 = ReadHeader();
  EXPECT_EQ(qtest::stop_capture(), "");

  // Every record is still read whole.
  EXPECT_EQ(r0.result, 0);
  EXPECT_EQ(r0.new_header, 0);
  EXPECT_EQ(r1.result, 0);
  EXPECT_EQ(r1.new_header, 1);
  EXPECT_EQ(loaded_after_r1, 0);
  EXPECT_EQ(r2.result, 0);
  EXPECT_EQ(r2.new_header, 0);
  EXPECT_EQ(RecordTime().seconds, 3000);
  EXPECT_EQ(pda_get_record_beam(), 3);
  EXPECT_EQ(pda_get_record_header_offset(), 200000);
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);

  // Opening another pair does not make the report due again.
  qtest::write_pair(dir_.path(), kOtherName,
                    qwriter::encode_header(qtest::standard_header()),
                    qtest::moments_record(4000, 4, 0, 0, 300000));
  qtest::start_capture();
  const int other = pda_set_file(Prefix(), kOtherName, 0);
  EXPECT_EQ(qtest::stop_capture(), "");
  EXPECT_EQ(other, 1);
}

TEST_F(RecordHeaderLoadError, HeaderReadErrorForNegativeOffsetNamesFailedSeek) {
  const Bytes b0 = qtest::moments_record(1000, 1, 0, 0, -8);
  qtest::start_capture();
  const int opened = Open(qtest::standard_header(), b0);
  EXPECT_EQ(qtest::stop_capture(), std::string(kHeaderError) + "  -1 0  -1\n");
  EXPECT_EQ(opened, 1);
  qtest::start_capture();
  const Read r = ReadHeader();
  EXPECT_EQ(qtest::stop_capture(), "");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(RecordTime().seconds, 1000);
}

TEST_F(RecordHeaderLoadError, HeaderReadErrorNamesTheOffsetStillInForce) {
  const Bytes b0 = qtest::moments_record(1000, 1, 0, 0, 0);
  const Bytes b1 = qtest::moments_record(2000, 2, 0, 0, 99999);
  const Bytes b2 = qtest::moments_record(3000, 3, 0, 0, -1);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1, b2})), 1);
  ReadAndAdvance();
  qtest::start_capture();
  const Read r1 = ReadHeader();
  EXPECT_EQ(qtest::stop_capture(), std::string(kHeaderError) + "  0 -1  0\n");
  EXPECT_EQ(r1.result, 0);
  EXPECT_EQ(r1.new_header, 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);
  pda_advance_record();

  qtest::start_capture();
  const Read r2 = ReadHeader();
  EXPECT_EQ(qtest::stop_capture(), "");
  EXPECT_EQ(r2.result, 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);
  EXPECT_EQ(RecordTime().seconds, 3000);
}

// ---------------------------------------------------------------------------
// TimeKeys
// ---------------------------------------------------------------------------

TEST_F(RecordHeaderTime, RecordTimeBreaksDownInUtc) {
  struct Case {
    int32_t seconds;
    Time expected;
  };
  const std::vector<Case> cases = {
      {0, {0, 70, 1, 0, 0, 0}},
      {86399, {86399, 70, 1, 23, 59, 59}},
      {86400, {86400, 70, 2, 0, 0, 0}},
      {-1, {-1, 69, 365, 23, 59, 59}},
      {-86401, {-86401, 69, 364, 23, 59, 59}},
      {951782400, {951782400, 100, 60, 0, 0, 0}},      // 2000-02-29
      {978307199, {978307199, 100, 366, 23, 59, 59}},  // 2000-12-31
      {1009843200, {1009843200, 102, 1, 0, 0, 0}},     // 2002-01-01
  };
  Bytes data;
  for (const Case& c : cases)
    data.append(qtest::moments_record(c.seconds, 0, 0));
  ASSERT_EQ(Open(qtest::standard_header(), data), 1);
  for (const Case& c : cases) {
    ASSERT_EQ(ReadHeader().result, 0);
    const Time t = RecordTime();
    EXPECT_EQ(t.seconds, c.expected.seconds);
    EXPECT_EQ(t.year, c.expected.year) << c.seconds;
    EXPECT_EQ(t.day, c.expected.day) << c.seconds;
    EXPECT_EQ(t.hour, c.expected.hour) << c.seconds;
    EXPECT_EQ(t.minute, c.expected.minute) << c.seconds;
    EXPECT_EQ(t.second, c.expected.second) << c.seconds;
    pda_advance_record();
  }
}

// ---------------------------------------------------------------------------
// Stepping
// ---------------------------------------------------------------------------

// Ten layout M records of 1 to 10 x0xx gates (lengths 23 to 68) under a
// mode of 20 gates, so that none carries overrides and every record starts
// at a distinct, irregular offset.
class RecordHeaderStepping : public RecordHeaderTest {
 protected:
  void SetUp() override {
    int64_t offset = 0;
    for (int i = 0; i < 10; ++i) {
      const Bytes r = qtest::moments_record(1000 + 60 * i, 0, i + 1);
      offsets_.push_back(offset);
      offset += static_cast<int64_t>(r.size());
      data_.append(r);
    }
    size_ = offset;
    ASSERT_EQ(offsets_[1], 23);
  }

  void OpenOnSixth() {
    ASSERT_EQ(Open(qtest::standard_header(20, 64), data_), 1);
    ASSERT_EQ(pda_skip_records(6), 0);
    ASSERT_EQ(pda_current_offset(), offsets_[5]);
  }

  // The record at the present position, read without moving on.
  int32_t TimeOfRecordHere() {
    EXPECT_EQ(ReadHeader().result, 0);
    return RecordTime().seconds;
  }

  std::vector<int64_t> offsets_;
  Bytes data_;
  int64_t size_ = 0;
};

TEST_F(RecordHeaderStepping, ForwardSkipReadsHeadersOfTheRecordsPassed) {
  OpenOnSixth();
  // The record state is that of the last RecordHeader read: the fifth.
  EXPECT_EQ(RecordTime().seconds, 1000 + 60 * 4);
  EXPECT_EQ(pda_get_record_offset(), offsets_[4]);
  EXPECT_EQ(TimeOfRecordHere(), 1000 + 60 * 5);
}

TEST_F(RecordHeaderStepping, SkipByOneMovesNothing) {
  OpenOnSixth();
  EXPECT_EQ(pda_skip_records(1), 0);
  EXPECT_EQ(pda_current_offset(), offsets_[5]);
  EXPECT_EQ(TimeOfRecordHere(), 1000 + 60 * 5);
}

TEST_F(RecordHeaderStepping, SkipByZeroStepsBackOne) {
  OpenOnSixth();
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), offsets_[4]);
  EXPECT_EQ(TimeOfRecordHere(), 1000 + 60 * 4);
}

TEST_F(RecordHeaderStepping, SkipByMinusTwoStepsBackThree) {
  OpenOnSixth();
  EXPECT_EQ(pda_skip_records(-2), 0);
  EXPECT_EQ(pda_current_offset(), offsets_[2]);
  EXPECT_EQ(TimeOfRecordHere(), 1000 + 60 * 2);
}

TEST_F(RecordHeaderStepping, SkipByMinusTwentyStopsOnTheFirstRecord) {
  OpenOnSixth();
  EXPECT_EQ(pda_skip_records(-20), -2);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(TimeOfRecordHere(), 1000);
}

TEST_F(RecordHeaderStepping, SkipByZeroOnTheFirstRecordDoesNotMove) {
  ASSERT_EQ(Open(qtest::standard_header(20, 64), data_), 1);
  EXPECT_EQ(pda_skip_records(0), -2);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(TimeOfRecordHere(), 1000);
}

TEST_F(RecordHeaderStepping, AdvancePastTheLastRecordMeetsTheEndOfData) {
  ASSERT_EQ(Open(qtest::standard_header(20, 64), data_), 1);
  for (int i = 0; i < 10; ++i) ReadAndAdvance();
  EXPECT_EQ(pda_current_offset(), size_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Read r = ReadHeader();
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.new_header, 0);
    // Nothing else changed.
    EXPECT_EQ(pda_current_offset(), size_);
    EXPECT_EQ(RecordTime().seconds, 1000 + 60 * 9);
    EXPECT_EQ(pda_get_record_length(), 68);
    EXPECT_EQ(pda_get_record_offset(), offsets_[9]);
  }
  // The walk back starts from the end of the data.
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), offsets_[9]);
}

TEST_F(RecordHeaderStepping, ForwardSkipPastTheEndReturnsMinusOne) {
  ASSERT_EQ(Open(qtest::standard_header(20, 64), data_), 1);
  EXPECT_EQ(pda_skip_records(12), -1);
  EXPECT_EQ(pda_current_offset(), size_);
  EXPECT_EQ(RecordTime().seconds, 1000 + 60 * 9);
}

// Layouts N and S step back over 4-byte trailers.
TEST_F(RecordHeaderSteppingLayouts, BackwardStepsUseFourByteTrailers) {
  RecordSpec n = EmptyRecord(Layout::N, 3000, 1);
  n.spectra_flag = 1;
  RecordSpec n2 = n;
  n2.record_time = 4;
  n2.body.put_zeros(12);
  RecordSpec s = EmptyRecord(Layout::S, 2000, 2);
  RecordSpec s2 = EmptyRecord(Layout::S, 2000, 3);
  s2.body.put_zeros(6);
  RecordSpec s3 = EmptyRecord(Layout::S, 2000, 5);
  const std::vector<Bytes> records = {
      qwriter::encode_record(n), qwriter::encode_record(s),
      qwriter::encode_record(s2), qwriter::encode_record(n2),
      qwriter::encode_record(s3)};
  Bytes data;
  std::vector<int64_t> offsets;
  for (const Bytes& r : records) {
    offsets.push_back(static_cast<int64_t>(data.size()));
    data.append(r);
  }
  ASSERT_EQ(offsets, (std::vector<int64_t>{0, 28, 50, 78, 118}));
  ASSERT_EQ(Open(qtest::standard_header(2, 8), data, 0), 1);

  EXPECT_EQ(pda_skip_records(6), 0);
  EXPECT_EQ(pda_current_offset(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(pda_skip_records(-1), 0);
  EXPECT_EQ(pda_current_offset(), 78);
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), 50);
  EXPECT_EQ(pda_skip_records(-20), -2);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 1);
  EXPECT_EQ(pda_get_spectra_flag(), 1);
}

// A data file of more than 2 GiB (sparse): offsets beyond 2^31 - 1 work.
TEST_F(RecordHeaderSteppingLayouts, OffsetsBeyondTwoGibWork) {
  const int32_t big = 0x7FFFFFF0;
  RecordSpec first = EmptyRecord(Layout::N, 3000, 1);
  first.record_length = big;
  first.omit_trailer = true;
  const Bytes head = qwriter::encode_record(first);
  Bytes trailer;
  trailer.put_i32(big);
  const Bytes second =
      qwriter::encode_record(EmptyRecord(Layout::N, 3000, 2, 1));
  const Bytes third =
      qwriter::encode_record(EmptyRecord(Layout::N, 3000, 3, 2));

  qwriter::write_file(dir_.file("h02100a.mom"),
                      qwriter::encode_header(qtest::standard_header()));
  const std::string path = dir_.file(kName);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
    out.seekp(big - 4);
    for (const Bytes* b :
         std::initializer_list<const Bytes*>{&trailer, &second, &third}) {
      out.write(reinterpret_cast<const char*>(b->data()),
                static_cast<std::streamsize>(b->size()));
    }
    ASSERT_TRUE(out.good());
  }
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  ASSERT_EQ(st.st_size, int64_t{big} + 56);

  pda_reset();
  ASSERT_EQ(pda_set_file(Prefix(), kName, 0), 1);
  ReadAndAdvance();
  EXPECT_EQ(pda_current_offset(), big);
  ReadAndAdvance();
  EXPECT_EQ(RecordTime().seconds, 2);
  EXPECT_EQ(pda_current_offset(), int64_t{big} + 28);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 3);
  EXPECT_EQ(pda_get_record_offset(), int64_t{big} + 28);
  pda_advance_record();
  EXPECT_EQ(pda_current_offset(), int64_t{big} + 56);
  EXPECT_EQ(ReadHeader().result, 1);
  EXPECT_EQ(pda_skip_records(-1), 0);
  EXPECT_EQ(pda_current_offset(), big);
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), 0);
}

// ---------------------------------------------------------------------------
// Damaged records
// ---------------------------------------------------------------------------

TEST_F(RecordHeaderDamaged, LayoutMLengthBelow18IsRefusedEachTime) {
  const Bytes b0 = qtest::moments_record(1000, 1, 4);
  RecordSpec bad = EmptyRecord(Layout::M, 2001, 2000, 2, 99999);
  bad.record_length = 17;
  const Bytes b1 = qwriter::encode_record(bad);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1})), 1);
  ReadAndAdvance();
  ASSERT_EQ(pda_current_offset(), 38);
  for (int attempt = 0; attempt < 2; ++attempt) {
    qtest::start_capture();
    const Read r = ReadHeader();
    // Nothing after the length is read: no header load is tried.
    EXPECT_EQ(qtest::stop_capture(),
              "disk: bad record length 17 at offset 38\n");
    EXPECT_EQ(r.result, -4);
    EXPECT_EQ(r.new_header, 0);
    EXPECT_EQ(pda_current_offset(), 38);
    EXPECT_EQ(pda_get_record_datacode(), 2001);
    EXPECT_EQ(RecordTime().seconds, 1000);
    EXPECT_EQ(pda_get_record_beam(), 1);
    EXPECT_EQ(pda_get_record_header_offset(), 0);
  }
  // Put back at current_offset: the step back lands on the first record.
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), 0);
}

TEST_F(RecordHeaderDamaged, SmallestLengthOfEachLayoutIsAccepted) {
  struct Case {
    Layout layout;
    int16_t datacode;
    int spectra;
    int32_t smallest;
  };
  for (const Case& c :
       {Case{Layout::M, 2000, 0, 18}, Case{Layout::S, 2000, 1, 22},
        Case{Layout::N, 3000, 0, 28}}) {
    SCOPED_TRACE(c.smallest);
    const Bytes good =
        qwriter::encode_record(EmptyRecord(c.layout, c.datacode, 1));
    RecordSpec fine = EmptyRecord(c.layout, c.datacode, 2);
    fine.record_length = c.smallest;
    RecordSpec bad = EmptyRecord(c.layout, c.datacode, 3);
    bad.record_length = c.smallest - 1;
    RecordSpec negative = EmptyRecord(c.layout, c.datacode, 4);
    negative.record_length = -5;
    const Bytes b1 = qwriter::encode_record(fine);
    const Bytes b2 = qwriter::encode_record(bad);
    const Bytes b3 = qwriter::encode_record(negative);
    ASSERT_EQ(good.size(), static_cast<size_t>(c.smallest));
    // A mode of 0 gates keeps the override bounds of layouts M and S at
    // 18 and 22.
    ASSERT_EQ(
        Open(qtest::standard_header(0, 8), qtest::join({good, b1}), c.spectra),
        1);
    ReadAndAdvance();
    qtest::start_capture();
    const Read r = ReadHeader();
    EXPECT_EQ(qtest::stop_capture(), "");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(RecordTime().seconds, 2);

    const int64_t at = static_cast<int64_t>(good.size());
    ASSERT_EQ(
        Open(qtest::standard_header(0, 8), qtest::join({good, b2}), c.spectra),
        1);
    ReadAndAdvance();
    qtest::start_capture();
    EXPECT_EQ(ReadHeader().result, -4);
    EXPECT_EQ(qtest::stop_capture(),
              "disk: bad record length " + std::to_string(c.smallest - 1) +
                  " at offset " + std::to_string(at) + "\n");

    ASSERT_EQ(
        Open(qtest::standard_header(0, 8), qtest::join({good, b3}), c.spectra),
        1);
    ReadAndAdvance();
    qtest::start_capture();
    EXPECT_EQ(ReadHeader().result, -4);
    EXPECT_EQ(qtest::stop_capture(), "disk: bad record length -5 at offset " +
                                         std::to_string(at) + "\n");
    EXPECT_EQ(pda_current_offset(), at);
  }
}

// A stray byte after the last record: the datacode cannot be read whole,
// the result is 1, and the data file is put back at current_offset, from
// where a step back reads the last record's trailer.
TEST_F(RecordHeaderDamaged, EndOfDataPutsTheFileBackAtCurrentOffset) {
  const Bytes b0 = qtest::moments_record(1000, 0, 2);
  const Bytes b1 = qtest::moments_record(2000, 0, 2);
  Bytes stray;
  stray.put_u8(0x7F);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1, stray})), 1);
  ReadAndAdvance();
  ReadAndAdvance();
  ASSERT_EQ(pda_current_offset(), 56);
  EXPECT_EQ(ReadHeader().result, 1);
  EXPECT_EQ(pda_current_offset(), 56);
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), 28);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 2000);
}

// A RecordHeader cut short: -4, the data file put back at current_offset,
// so that a step back reads the trailer before it.
TEST_F(RecordHeaderDamaged, CutRecordHeaderPutsTheFileBack) {
  const Bytes b0 = qtest::moments_record(1000, 0, 2);
  const Bytes b1 = qtest::moments_record(2000, 0, 2);
  const Bytes b2 = qwriter::cut(qtest::moments_record(3000, 0, 2), 11);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1, b2})), 1);
  ReadAndAdvance();
  ReadAndAdvance();
  EXPECT_EQ(ReadHeader().result, -4);
  EXPECT_EQ(pda_current_offset(), 56);
  EXPECT_EQ(pda_skip_records(0), 0);
  EXPECT_EQ(pda_current_offset(), 28);
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 2000);
}

// The fields of a RecordHeader cut inside one of them: those before the cut
// take the new record's values, the cut one and those after keep the
// previous record's.
TEST_F(RecordHeaderDamaged, CutRecordHeaderKeepsTheFieldsItCouldNotRead) {
  HeaderSpec second = qtest::standard_header();
  second.site_value_1 = 1111;
  Bytes header = qwriter::encode_header(qtest::standard_header());
  header.append(qwriter::encode_header(second));

  RecordSpec first = EmptyRecord(Layout::M, 2000, 1000, 1, 0);
  first.body = X0xxMoments(4, 100);
  const Bytes b0 = qwriter::encode_record(first);
  ASSERT_EQ(b0.size(), 38u);
  // Layout M, datacode 2100, length 59 (above the bound 38: overrides).
  RecordSpec next = EmptyRecord(Layout::M, 2100, 2000, 2, 568);
  next.radar_index = 1;
  next.has_overrides = true;
  next.coherent_integrations = 70;
  next.spectral_averages = 9;
  next.body.put_zeros(37);
  const Bytes full = qwriter::encode_record(next);
  ASSERT_EQ(full.size(), 59u);

  struct Expect {
    size_t cut;
    int32_t length, header_offset, loaded, time, radar, beam, integrations,
        averages, site_value_1;
  };
  const std::vector<Expect> cases = {
      // cut inside record_length: no length check, nothing else read
      {3, 38, 0, 0, 1000, 0, 1, 100, 30, 4000},
      // cut inside header_offset: no HeaderBlock load
      {6, 59, 0, 0, 1000, 0, 1, 100, 30, 4000},
      // cut inside record_time: the block named has been loaded
      {10, 59, 568, 568, 1000, 0, 1, 100, 30, 1111},
      {13, 59, 568, 568, 2000, 0, 1, 100, 30, 1111},
      {15, 59, 568, 568, 2000, 1, 1, 100, 30, 1111},
      // cut inside the second override: the first has been written
      {19, 59, 568, 568, 2000, 1, 2, 70, 30, 1111},
  };
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.cut);
    const Bytes cut = qwriter::cut(full, e.cut);
    ASSERT_EQ(Open(header, qtest::join({b0, cut})), 1);
    ReadAndAdvance();
    qtest::start_capture();
    const Read r = ReadHeader();
    EXPECT_EQ(qtest::stop_capture(), "");
    EXPECT_EQ(r.result, -4);
    EXPECT_EQ(r.new_header, e.loaded == 568 ? 1 : 0);
    EXPECT_EQ(pda_get_record_datacode(), 2100);
    EXPECT_EQ(pda_get_record_length(), e.length);
    EXPECT_EQ(pda_get_record_header_offset(), e.header_offset);
    EXPECT_EQ(pda_get_loaded_header_offset(), e.loaded);
    EXPECT_EQ(RecordTime().seconds, e.time);
    EXPECT_EQ(pda_get_record_radar(), e.radar);
    EXPECT_EQ(pda_get_record_beam(), e.beam);
    EXPECT_EQ(Mode0().coherent_integrations, e.integrations);
    EXPECT_EQ(Mode0().spectral_averages, e.averages);
    EXPECT_EQ(pda_parameters.site_value_1, e.site_value_1);
    EXPECT_EQ(pda_current_offset(), 38);
  }
}

// A cut length field of a record whose length would be refused prints
// nothing: the check needs the whole field.
TEST_F(RecordHeaderDamaged, CutLengthFieldIsNotChecked) {
  const Bytes b0 = qtest::moments_record(1000, 0, 4);
  RecordSpec bad = EmptyRecord(Layout::N, 3000, 2000);
  bad.record_length = 3;  // bytes 03 00 00 00; cut after 03 00 00
  const Bytes b1 = qwriter::cut(qwriter::encode_record(bad), 5);
  ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1})), 1);
  ReadAndAdvance();
  qtest::start_capture();
  EXPECT_EQ(ReadHeader().result, -4);
  EXPECT_EQ(qtest::stop_capture(), "");
  EXPECT_EQ(pda_get_record_datacode(), 3000);
  EXPECT_EQ(pda_get_record_length(), 38);
}

// The last record of a file copied while it was written: its body and
// trailer are cut off. A backward step from the end of the data lands on
// it, its RecordHeader having been read whole.
TEST_F(RecordHeaderDamaged, BackwardStepLandsOnCutLastRecord) {
  const Bytes b0 = qtest::moments_record(1000, 0, 4);
  const Bytes b1 = qtest::moments_record(2000, 0, 4);
  const Bytes b2 = qtest::moments_record(3000, 0, 4);
  const Bytes whole = qtest::moments_record(4000, 0, 4);
  for (size_t keep : {size_t{16}, size_t{23}, size_t{36}, size_t{37}}) {
    SCOPED_TRACE(keep);
    const Bytes b3 = qwriter::cut(whole, keep);
    ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1, b2, b3})), 1);
    for (int i = 0; i < 4; ++i) ReadAndAdvance();
    EXPECT_EQ(pda_current_offset(), 4 * 38);
    EXPECT_EQ(ReadHeader().result, 1);
    EXPECT_EQ(pda_skip_records(0), 0);
    EXPECT_EQ(pda_current_offset(), 3 * 38);
    EXPECT_EQ(ReadHeader().result, 0);
    EXPECT_EQ(RecordTime().seconds, 4000);
    // Past it again, two steps back: onto it, then by the trailer before.
    pda_advance_record();
    EXPECT_EQ(pda_current_offset(), 4 * 38);
    EXPECT_EQ(pda_skip_records(-1), 0);
    EXPECT_EQ(pda_current_offset(), 2 * 38);
  }
}

// ---------------------------------------------------------------------------
// Records whose beam names no mode
// ---------------------------------------------------------------------------

// Beams outside 0..9, and beams whose entry names a mode outside 0..3, have
// no mode: G = P = 0 for the override bound (layout M: 18) and the decode,
// and override words are read but written nowhere.
TEST_F(RecordHeaderNoMode, BeamWithoutModeConsumesOverridesAndDecodesNothing) {
  HeaderSpec header = qtest::standard_header();
  header.beams[3].mode_index = 4;
  header.beams[4].mode_index = -1;
  for (int m = 0; m < 4; ++m) {
    header.modes[m].coherent_integrations = static_cast<int16_t>(100 + m);
    header.modes[m].spectral_averages = static_cast<int16_t>(30 + m);
  }
  Bytes data = qtest::moments_record(1, 0, 4);
  for (int16_t beam :
       {int16_t{10}, int16_t{-1}, int16_t{3}, int16_t{4}, int16_t{32767}}) {
    RecordSpec r = EmptyRecord(Layout::M, 2000, 100 + beam, beam);
    r.has_overrides = true;
    r.coherent_integrations = 7;
    r.spectral_averages = 9;
    r.body = X0xxMoments(4, 100);
    data.append(qwriter::encode_record(r));
  }
  data.append(qtest::moments_record(2, 1, 4));
  ASSERT_EQ(Open(header, data), 1);
  ReadAndAdvance();
  for (int16_t beam :
       {int16_t{10}, int16_t{-1}, int16_t{3}, int16_t{4}, int16_t{32767}}) {
    SCOPED_TRACE(beam);
    const int64_t start = pda_current_offset();
    EXPECT_EQ(pda_read_record(), 0);
    EXPECT_EQ(pda_get_record_beam(), beam);
    EXPECT_EQ(RecordTime().seconds, 100 + beam);
    EXPECT_EQ(pda_moments.gate_count, 0);
    EXPECT_TRUE(pda_moments.velocity.empty());
    EXPECT_TRUE(pda_moments.signal_power.empty());
    EXPECT_EQ(pda_current_offset(), start + 42);
    for (int m = 0; m < 4; ++m) {
      EXPECT_EQ(pda_parameters.radars[0].modes[m].coherent_integrations,
                100 + m);
      EXPECT_EQ(pda_parameters.radars[0].modes[m].spectral_averages, 30 + m);
    }
  }
  EXPECT_EQ(ReadHeader().result, 0);
  EXPECT_EQ(RecordTime().seconds, 2);
  EXPECT_EQ(pda_get_record_beam(), 1);
}

// With no mode the layout M bound is 18: a record of length 22 expects
// the override words, where a beam with a 4-gate mode (bound 38) does not.
TEST_F(RecordHeaderNoMode, BeamWithoutModeExpectsOverridesAbove18) {
  for (int16_t beam : {int16_t{0}, int16_t{10}}) {
    SCOPED_TRACE(beam);
    RecordSpec r = EmptyRecord(Layout::M, 2000, 5, beam);
    r.record_length = 22;  // 18 bytes written: the override words are absent
    const Bytes b1 = qwriter::encode_record(r);
    ASSERT_EQ(b1.size(), 18u);
    const Bytes b0 = qtest::moments_record(1, 0, 4);
    ASSERT_EQ(Open(qtest::standard_header(), qtest::join({b0, b1})), 1);
    ReadAndAdvance();
    EXPECT_EQ(ReadHeader().result, beam == 0 ? 0 : -4);
    EXPECT_EQ(RecordTime().seconds, 5);
  }
}

}  // namespace
