// Checks of the file writer against the byte layout of header and data files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using quellmar::writer::BodySpec;
using quellmar::writer::Bytes;
using quellmar::writer::GateMoments;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;
using quellmar::writer::RecordSpec;

std::vector<std::uint8_t> at(const Bytes& b, std::size_t offset,
                             std::size_t n) {
  return {b.buf.begin() + static_cast<std::ptrdiff_t>(offset),
          b.buf.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

// ---------------------------------------------------------------------------
// Byte buffer and damage helpers
// ---------------------------------------------------------------------------

TEST(WriterBytes, ValuesAreLittleEndianAndPatchable) {
  Bytes b;
  b.put_i16(-2);
  b.put_u16(0xABCD);
  b.put_i32(0x01020304);
  b.put_f32(1.0f);
  b.put_i8(-1);
  b.put_u8(7);
  EXPECT_EQ(at(b, 0, 14), (std::vector<std::uint8_t>{
                              0xFE, 0xFF, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01,
                              0x00, 0x00, 0x80, 0x3F, 0xFF, 0x07}));
  EXPECT_EQ(b.get_i16(0), -2);
  EXPECT_EQ(b.get_u16(2), 0xABCD);
  EXPECT_EQ(b.get_i32(4), 0x01020304);
  EXPECT_EQ(b.get_f32(8), 1.0f);

  b.patch_i16(0, 0x1234);
  b.patch_i32(4, -1);
  EXPECT_EQ(at(b, 0, 2), (std::vector<std::uint8_t>{0x34, 0x12}));
  EXPECT_EQ(b.get_u32(4), 0xFFFFFFFFu);
  EXPECT_THROW(b.patch_i32(12, 0), std::out_of_range);
  EXPECT_THROW(b.get_i16(13), std::out_of_range);

  b.truncate(3);
  EXPECT_EQ(b.size(), 3u);
  b.truncate(10);
  EXPECT_EQ(b.size(), 3u);
}

TEST(WriterBytes, DamageHelpers) {
  Bytes b;
  for (int i = 1; i <= 6; ++i) b.put_u8(static_cast<std::uint8_t>(i));

  EXPECT_EQ(quellmar::writer::cut(b, 4).size(), 4u);
  EXPECT_EQ(quellmar::writer::cut(b, 99).size(), 6u);

  Bytes z = b;
  quellmar::writer::zero_range(z, 4, 10);  // clipped at the end
  EXPECT_EQ(at(z, 0, 6), (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(z.size(), 6u);

  Bytes o = b;
  Bytes patch;
  patch.put_u16(0xEEEE);
  quellmar::writer::overwrite(o, 5, patch);  // grows by one byte
  EXPECT_EQ(at(o, 4, 3), (std::vector<std::uint8_t>{5, 0xEE, 0xEE}));
}

TEST(WriterBytes, CharFieldsArePaddedOrCut) {
  Bytes b;
  b.put_chars("AB", 4);
  b.put_chars("ABCDEFG", 4);
  EXPECT_EQ(b.get_chars(0, 4), std::string("AB\0\0", 4));
  EXPECT_EQ(b.get_chars(4, 4), "ABCD");
}

// ---------------------------------------------------------------------------
// HeaderBlock
// ---------------------------------------------------------------------------

// A block whose fields all hold distinct values, so that a misplaced field
// shows up.
HeaderSpec distinct_header(std::int16_t version) {
  HeaderSpec h;
  h.header_version = version;
  h.discarded_word = 0x0BAD;
  h.discarded_words_103 = {11, 12, 13, 14, 15};
  h.site_name = "Boulder";
  h.site_value_1 = 4001;
  h.site_value_2 = -10525;
  h.site_value_3 = 1600;
  h.site_value_4 = -7;
  h.radar_count = 3;
  h.radar_name = "UHF";
  h.radar_value = 77;
  h.tx_frequency = 44825;
  h.kept_84 = 0x11223344;
  h.beam_count = 5;
  h.kept_96 = 96;
  h.modes[1].ipp_ns = 80000;
  h.modes[1].gate_count = 40;
  h.modes[1].spectral_points = 128;
  h.modes[1].mode_extra = -30;
  h.beams[2] = {3, 1, -6};
  h.kept_286[4] = 0x55667788;
  h.directions[1] = {"EAST", 90, 7350, 5};
  h.pulse_table_keys = {700, 1400, 2800, 4200};
  h.pulse_table_values = {1, 2, 3, 4};
  h.kept_484[0] = 484;
  h.window1_start = 20;
  h.window1_points = 10;
  h.window2_start = 3;
  h.window2_points = 4;
  h.spectrum_extra = {1, 2, 3, 4, 5, 6};
  h.kept_512 = 512;
  h.kept_514[0] = 514;
  h.kept_514[24] = 562;
  h.closing = 0x7EADBEEF;
  return h;
}

// Every field of the site and radar parts at its version 100-102 offset,
// shifted by `shift`.
void expect_site_and_radar_parts(const Bytes& b, std::size_t shift) {
  SCOPED_TRACE("shift " + std::to_string(shift));
  EXPECT_EQ(b.get_chars(4 + shift, 32),
            std::string("Boulder") + std::string(25, '\0'));
  EXPECT_EQ(b.get_i16(36 + shift), 4001);
  EXPECT_EQ(b.get_i16(38 + shift), -10525);
  EXPECT_EQ(b.get_i16(40 + shift), 1600);
  EXPECT_EQ(b.get_i16(42 + shift), -7);
  EXPECT_EQ(b.get_i16(44 + shift), 3);
  EXPECT_EQ(b.get_chars(46 + shift, 4), std::string("UHF\0", 4));
  EXPECT_EQ(b.get_i16(78 + shift), 77);
  EXPECT_EQ(b.get_i32(80 + shift), 44825);
  EXPECT_EQ(b.get_i32(84 + shift), 0x11223344);
  EXPECT_EQ(b.get_i16(94 + shift), 5);
  EXPECT_EQ(b.get_i16(96 + shift), 96);
  // Mode table at 98, 32 bytes per entry; mode 1 starts at 130.
  EXPECT_EQ(b.get_i32(98 + shift), 40000);
  EXPECT_EQ(b.get_i32(130 + shift), 80000);
  EXPECT_EQ(b.get_i16(130 + 16 + shift), 40);
  EXPECT_EQ(b.get_i16(130 + 22 + shift), 128);
  EXPECT_EQ(b.get_i16(130 + 30 + shift), -30);
  // Beam table at 226, 6 bytes per entry; beam 2 starts at 238.
  EXPECT_EQ(b.get_i16(238 + shift), 3);
  EXPECT_EQ(b.get_i16(240 + shift), 1);
  EXPECT_EQ(b.get_i16(242 + shift), -6);
  EXPECT_EQ(b.get_i32(286 + 16 + shift), 0x55667788);
  // Direction table at 306, 18 bytes per entry; direction 1 starts at 324.
  EXPECT_EQ(b.get_chars(306 + shift, 9), std::string("VERTICAL\0", 9));
  EXPECT_EQ(b.get_chars(324 + shift, 5), std::string("EAST\0", 5));
  EXPECT_EQ(b.get_i16(336 + shift), 90);
  EXPECT_EQ(b.get_i16(338 + shift), 7350);
  EXPECT_EQ(b.get_i16(340 + shift), 5);
  EXPECT_EQ(b.get_i16(468 + shift), 700);
  EXPECT_EQ(b.get_i16(474 + shift), 4200);
  EXPECT_EQ(b.get_i16(476 + shift), 1);
  EXPECT_EQ(b.get_i16(482 + shift), 4);
  EXPECT_EQ(b.get_i16(484 + shift), 484);
  EXPECT_EQ(b.get_i16(492 + shift), 20);
  EXPECT_EQ(b.get_i16(494 + shift), 10);
  EXPECT_EQ(b.get_i16(496 + shift), 3);
  EXPECT_EQ(b.get_i16(498 + shift), 4);
  EXPECT_EQ(b.get_i16(500 + shift), 1);
  EXPECT_EQ(b.get_i16(510 + shift), 6);
  EXPECT_EQ(b.get_i16(512 + shift), 512);
  EXPECT_EQ(b.get_i16(514 + shift), 514);
  EXPECT_EQ(b.get_i16(562 + shift), 562);
  EXPECT_EQ(b.get_i32(564 + shift), 0x7EADBEEF);
}

TEST(WriterHeader, Version102LayoutIs568Bytes) {
  HeaderSpec h = distinct_header(102);
  h.met_instrument_list = {1, 2, 3};  // not part of a version 102 block
  const Bytes b = quellmar::writer::encode_header(h);
  ASSERT_EQ(b.size(), 568u);
  EXPECT_EQ(b.get_i16(0), 102);
  EXPECT_EQ(b.get_i16(2), 0x0BAD);
  expect_site_and_radar_parts(b, 0);
  EXPECT_EQ(quellmar::writer::header_field_offset(102, 80), 80u);
  EXPECT_EQ(quellmar::writer::header_block_size(100, 7), 568u);
}

TEST(WriterHeader, Version103ShiftsBy12AndAppendsMetList) {
  HeaderSpec h = distinct_header(103);
  h.met_instrument_list = {101, -102, 103};
  const Bytes b = quellmar::writer::encode_header(h);
  ASSERT_EQ(b.size(), 586u);
  EXPECT_EQ(b.get_i16(0), 103);
  EXPECT_EQ(b.get_i16(4), 3);  // count taken from the list
  EXPECT_EQ(b.get_i16(6), 11);
  EXPECT_EQ(b.get_i16(14), 15);
  expect_site_and_radar_parts(b, 12);
  EXPECT_EQ(b.get_i16(580), 101);
  EXPECT_EQ(b.get_i16(582), -102);
  EXPECT_EQ(b.get_i16(584), 103);
  EXPECT_EQ(quellmar::writer::header_field_offset(103, 80), 92u);
  EXPECT_EQ(quellmar::writer::header_block_size(999, 3), 586u);

  h.met_instrument_list.clear();
  EXPECT_EQ(quellmar::writer::encode_header(h).size(), 580u);
}

TEST(WriterHeader, MetCountMayDisagreeWithList) {
  HeaderSpec h;
  h.header_version = 103;
  h.met_instrument_count = 257;
  h.met_instrument_list = {1, 2};
  const Bytes b = quellmar::writer::encode_header(h);
  EXPECT_EQ(b.get_i16(4), 257);
  EXPECT_EQ(b.size(), 584u);  // only the entries given
}

TEST(WriterHeader, NameFieldsMayFillTheirWidthWithoutNul) {
  HeaderSpec h;
  h.site_name = std::string(32, 'S');
  h.radar_name = std::string(40, 'R');  // cut to 32
  h.directions[0].name = "ABCDEFGHIJKL";
  const Bytes b = quellmar::writer::encode_header(h);
  EXPECT_EQ(b.get_chars(4, 32), std::string(32, 'S'));
  EXPECT_EQ(b.get_chars(46, 32), std::string(32, 'R'));
  EXPECT_EQ(b.get_i16(78), 0);  // radar_value untouched by the long name
  EXPECT_EQ(b.get_chars(306, 12), "ABCDEFGHIJKL");
  EXPECT_EQ(b.get_i16(318), 0);  // azimuth follows at once
}

TEST(WriterHeader, DefaultsDescribeAUsableBlock) {
  const Bytes b = quellmar::writer::encode_header(HeaderSpec{});
  ASSERT_EQ(b.size(), 568u);
  EXPECT_EQ(b.get_i16(0), 102);
  EXPECT_EQ(b.get_i16(44), 1);         // radar_count
  EXPECT_EQ(b.get_i32(80), 91500);     // tx_frequency
  EXPECT_EQ(b.get_i16(94), 1);         // beam_count
  EXPECT_EQ(b.get_i32(98), 40000);     // mode 0 ipp_ns
  EXPECT_EQ(b.get_i16(98 + 16), 10);   // gate_count
  EXPECT_EQ(b.get_i16(98 + 18), 100);  // coherent_integrations
  EXPECT_EQ(b.get_i16(98 + 22), 64);   // spectral_points
  EXPECT_EQ(b.get_i16(338), 90);       // direction 0 elevation
  EXPECT_EQ(b.get_i16(492), 1);
  EXPECT_EQ(b.get_i16(494), 64);
  EXPECT_EQ(b.get_i16(498), 1);  // no window 2
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

Bytes body_of(std::size_t n) {
  Bytes b;
  for (std::size_t i = 0; i < n; ++i)
    b.put_u8(static_cast<std::uint8_t>(0xA0 + i));
  return b;
}

RecordSpec distinct_record(Layout layout, std::int16_t datacode) {
  RecordSpec r;
  r.datacode = datacode;
  r.layout = layout;
  r.spectra_flag = 1;
  r.header_offset = 1136;
  r.record_time = 946684800;
  r.radar_index = 0;
  r.beam_index = 4;
  r.coherent_integrations = 55;
  r.spectral_averages = 66;
  r.body = body_of(6);
  return r;
}

TEST(WriterRecord, LayoutFollowsDatacodeAndFlag) {
  EXPECT_EQ(quellmar::writer::layout_for(3000, false), Layout::N);
  EXPECT_EQ(quellmar::writer::layout_for(3117, true), Layout::N);
  EXPECT_EQ(quellmar::writer::layout_for(2999, true), Layout::S);
  EXPECT_EQ(quellmar::writer::layout_for(2999, false), Layout::M);
  EXPECT_EQ(quellmar::writer::trailer_width(Layout::N), 4u);
  EXPECT_EQ(quellmar::writer::trailer_width(Layout::S), 4u);
  EXPECT_EQ(quellmar::writer::trailer_width(Layout::M), 2u);
}

TEST(WriterRecord, LayoutN) {
  const Bytes b =
      quellmar::writer::encode_record(distinct_record(Layout::N, 3116));
  ASSERT_EQ(b.size(), 24u + 6 + 4);
  EXPECT_EQ(b.get_i16(0), 3116);
  EXPECT_EQ(b.get_i32(2), 34);
  EXPECT_EQ(b.get_i16(6), 1);
  EXPECT_EQ(b.get_i32(8), 1136);
  EXPECT_EQ(b.get_i32(12), 946684800);
  EXPECT_EQ(b.get_i16(16), 0);
  EXPECT_EQ(b.get_i16(18), 4);
  EXPECT_EQ(b.get_i16(20), 55);
  EXPECT_EQ(b.get_i16(22), 66);
  EXPECT_EQ(b.get_u8(24), 0xA0);
  EXPECT_EQ(b.get_u8(29), 0xA5);
  EXPECT_EQ(b.get_i32(30), 34);
}

TEST(WriterRecord, LayoutSWithAndWithoutOverrides) {
  RecordSpec r = distinct_record(Layout::S, 2100);
  Bytes b = quellmar::writer::encode_record(r);
  ASSERT_EQ(b.size(), 18u + 6 + 4);
  EXPECT_EQ(b.get_i32(2), 28);
  EXPECT_EQ(b.get_i32(6), 1136);
  EXPECT_EQ(b.get_i32(10), 946684800);
  EXPECT_EQ(b.get_i16(14), 0);
  EXPECT_EQ(b.get_i16(16), 4);
  EXPECT_EQ(b.get_u8(18), 0xA0);
  EXPECT_EQ(b.get_i32(24), 28);

  r.has_overrides = true;
  b = quellmar::writer::encode_record(r);
  ASSERT_EQ(b.size(), 22u + 6 + 4);
  EXPECT_EQ(b.get_i16(18), 55);
  EXPECT_EQ(b.get_i16(20), 66);
  EXPECT_EQ(b.get_u8(22), 0xA0);
  EXPECT_EQ(b.get_i32(28), 32);
}

TEST(WriterRecord, LayoutMWithAndWithoutOverrides) {
  RecordSpec r = distinct_record(Layout::M, 2000);
  Bytes b = quellmar::writer::encode_record(r);
  ASSERT_EQ(b.size(), 16u + 6 + 2);
  EXPECT_EQ(b.get_i16(0), 2000);
  EXPECT_EQ(b.get_i16(2), 24);
  EXPECT_EQ(b.get_i32(4), 1136);
  EXPECT_EQ(b.get_i32(8), 946684800);
  EXPECT_EQ(b.get_i16(12), 0);
  EXPECT_EQ(b.get_i16(14), 4);
  EXPECT_EQ(b.get_u8(16), 0xA0);
  EXPECT_EQ(b.get_i16(22), 24);

  r.has_overrides = true;
  b = quellmar::writer::encode_record(r);
  ASSERT_EQ(b.size(), 20u + 6 + 2);
  EXPECT_EQ(b.get_i16(16), 55);
  EXPECT_EQ(b.get_i16(18), 66);
  EXPECT_EQ(b.get_u8(20), 0xA0);
  EXPECT_EQ(b.get_i16(26), 28);
}

TEST(WriterRecord, LengthAndTrailerOverridesAndDamage) {
  RecordSpec r = distinct_record(Layout::N, 3000);
  r.record_length = 1000;
  Bytes b = quellmar::writer::encode_record(r);
  EXPECT_EQ(b.size(), 34u);  // the bytes written do not follow the field
  EXPECT_EQ(b.get_i32(2), 1000);
  EXPECT_EQ(b.get_i32(30), 1000);

  r.trailer = -8;
  EXPECT_EQ(quellmar::writer::encode_record(r).get_i32(30), -8);

  r = distinct_record(Layout::M, 2000);
  r.record_length = 40000;  // beyond a 16-bit field: low 16 bits
  b = quellmar::writer::encode_record(r);
  EXPECT_EQ(b.get_i16(2), -25536);
  EXPECT_EQ(b.get_i16(22), -25536);

  r = distinct_record(Layout::S, 2000);
  r.omit_trailer = true;
  b = quellmar::writer::encode_record(r);
  EXPECT_EQ(b.size(), 24u);
  EXPECT_EQ(b.get_i32(2), 28);  // still counts the missing trailer
}

TEST(WriterRecord, PlainRecordsSitExactlyOnTheOverrideBound) {
  // An x0xx record without overrides is exactly as long as the bound, so a
  // reader sees no overrides; with them it lies 4 bytes above.
  const std::int16_t gates = 7;
  const std::int16_t points = 16;
  BodySpec moments{2000, std::vector<GateMoments>(gates), {}, {}, {}};
  RecordSpec m;
  m.layout = Layout::M;
  m.body = quellmar::writer::encode_body(moments);
  EXPECT_EQ(quellmar::writer::computed_record_length(m),
            quellmar::writer::override_bound(Layout::M, gates, points));
  m.has_overrides = true;
  EXPECT_EQ(quellmar::writer::computed_record_length(m),
            quellmar::writer::override_bound(Layout::M, gates, points) + 4);

  BodySpec spectra = moments;
  spectra.spectra.assign(gates, std::vector<float>(points, 0.5f));
  RecordSpec s;
  s.layout = Layout::S;
  s.body = quellmar::writer::encode_body(spectra);
  EXPECT_EQ(quellmar::writer::computed_record_length(s),
            quellmar::writer::override_bound(Layout::S, gates, points));
  EXPECT_EQ(quellmar::writer::override_bound(Layout::N, gates, points), -1);
}

// ---------------------------------------------------------------------------
// Record bodies
// ---------------------------------------------------------------------------

TEST(WriterBody, GateEncodings) {
  const std::vector<GateMoments> gates = {{5000, 65535, 1000, -4500},
                                          {-5000, 255, 10, -45}};
  Bytes wide;
  quellmar::writer::put_first_set_16(wide, gates);
  ASSERT_EQ(wide.size(), 16u);
  EXPECT_EQ(wide.get_i16(0), 5000);
  EXPECT_EQ(wide.get_u16(2), 65535);
  EXPECT_EQ(wide.get_i16(4), 1000);
  EXPECT_EQ(wide.get_i16(6), -4500);
  EXPECT_EQ(wide.get_i16(8), -5000);

  Bytes narrow;
  quellmar::writer::put_first_set_x0xx(narrow, {gates[1]});
  EXPECT_EQ(at(narrow, 0, narrow.size()),
            (std::vector<std::uint8_t>{0x78, 0xEC, 0xFF, 0x0A, 0xD3}));

  Bytes second16;
  quellmar::writer::put_second_set_16(second16, {{1, 2, 3, -123}});
  EXPECT_EQ(second16.size(), 8u);
  EXPECT_EQ(second16.get_i16(6), -123);

  Bytes second8;
  quellmar::writer::put_second_set_x0xx(second8, {{-5000, 255, -3, -123}});
  EXPECT_EQ(at(second8, 0, second8.size()),
            (std::vector<std::uint8_t>{0x78, 0xEC, 0xFF, 0xFD, 0x85, 0xFF}));
}

TEST(WriterBody, DatacodeSelectsWhatIsWritten) {
  const std::size_t g = 3;
  const std::size_t p = 8;
  struct Case {
    std::int16_t datacode;
    std::size_t first_bytes;
    std::size_t second_bytes;
    bool met;
  };
  const Case cases[] = {
      {2000, 5, 0, false}, {2100, 8, 0, false}, {1016, 5, 6, false},
      {1017, 5, 0, false}, {1116, 8, 8, false}, {1117, 8, 8, false},
      {3016, 5, 6, true},  {3017, 5, 0, true},  {3117, 8, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.datacode);
    BodySpec spec;
    spec.datacode = c.datacode;
    spec.moments.assign(g, {1, 2, 3, 4});
    spec.second.assign(g, {5, 6, 7, 8});
    spec.met_values = {-1, 2};
    spec.spectra.assign(g, std::vector<float>(p, 2.5f));
    const Bytes b = quellmar::writer::encode_body(spec);
    const std::size_t moments = g * (c.first_bytes + c.second_bytes);
    const std::size_t met = c.met ? 8 : 0;
    ASSERT_EQ(b.size(), moments + met + g * p * 4);
    if (c.met) {
      EXPECT_EQ(b.get_i32(moments), -1);
      EXPECT_EQ(b.get_i32(moments + 4), 2);
    }
    EXPECT_EQ(b.get_f32(moments + met), 2.5f);
    EXPECT_EQ(quellmar::writer::positional_spectra(c.datacode),
              c.datacode % 100 == 17);
  }
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

TEST(WriterFile, WritesAndReadsBack) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / "quellmar_writer_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "d00001.mom").string();

  const Bytes rec =
      quellmar::writer::encode_record(distinct_record(Layout::M, 2000));
  const Bytes two = quellmar::test::join({rec, rec});
  quellmar::writer::write_file(path, two);
  EXPECT_EQ(quellmar::writer::read_file(path).buf, two.buf);
  quellmar::writer::write_file(path, rec);  // replaces, does not append
  EXPECT_EQ(quellmar::writer::read_file(path).buf, rec.buf);

  EXPECT_THROW(
      quellmar::writer::write_file((dir / "no/such/dir").string(), rec),
      std::runtime_error);
  std::filesystem::remove_all(dir);
}

// The generators answer --help with their usage and write nothing; a
// folder that cannot be written to is a message and status 1, not an
// uncaught exception.
TEST(WriterPrograms, AnswerHelpAndReportUnwritableFolders) {
  quellmar::test::TempDir dir;
  for (const char* binary :
       {QUELLMAR_SAMPLE_BINARY, QUELLMAR_BENCH_INPUT_BINARY}) {
    SCOPED_TRACE(binary);
    quellmar::test::RunResult r =
        quellmar::test::run_program(binary, dir.path(), {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: "), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    r = quellmar::test::run_program(binary, dir.path(), {"no/such/folder"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create no/such/folder/"), std::string::npos)
        << r.err;
  }
}

}  // namespace
