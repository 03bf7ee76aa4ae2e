// HeaderBlock reader, parameter block queries and radar/beam selection.
//
// Header files are built with the independent writer: blocks concatenated
// at known offsets, blocks at odd offsets behind filler bytes, blocks cut
// short. A one-record data file names the block that opening the pair
// loads; pda_read_header_block_at then reads any other block of the file.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using qwriter::Bytes;
using qwriter::HeaderSpec;

constexpr int32_t kRecordTime = 1009843200;  // 2002-01-01 00:00:00 UTC

class HeaderBlockTest : public ::testing::Test {
 protected:
  void TearDown() override { pda_reset(); }

  // Writes the header file and a data file of one record (no gates) naming
  // header_offset, and opens the pair. The record reader loads the block at
  // header_offset while opening.
  void OpenPair(const Bytes& header, int32_t header_offset = 0,
                int16_t beam = 0, int16_t radar = 0) {
    // A fresh pair of files each time: rewriting files in place costs far
    // more than creating new ones on some file systems.
    const std::string name = "d" + std::to_string(++pairs_) + ".mom";
    ASSERT_EQ(
        qtest::write_and_open_pair(
            dir_.path(), name, header,
            qtest::moments_record(kRecordTime, beam, 0, radar, header_offset)),
        1);
  }

  qtest::TempDir dir_;
  int pairs_ = 0;
};

// Suites by what they test; all share the HeaderBlockTest fixture.
using HeaderBlockLayout = HeaderBlockTest;
using HeaderBlockExtent = HeaderBlockTest;
using HeaderBlockVersion = HeaderBlockTest;
using HeaderBlockMetList = HeaderBlockTest;
using HeaderBlockTruncated = HeaderBlockTest;
using HeaderBlockWindows = HeaderBlockTest;
using HeaderBlockSelection = HeaderBlockTest;
using HeaderBlockValues = HeaderBlockTest;

// Result of one header read and what it printed.
struct Read {
  int result;
  std::string printed;
  bool operator==(const Read&) const = default;
  friend void PrintTo(const Read& r, std::ostream* os) {
    *os << r.result << " printing \"" << r.printed << "\"";
  }
};

Read ReadAt(int32_t offset) {
  qtest::start_capture();
  const int result = pda_read_header_block_at(offset);
  return {result, qtest::stop_capture()};
}

// Reads the block that starts where the previous read stopped.
Read ReadNext() {
  qtest::start_capture();
  const int result = pda_read_header_block();
  return {result, qtest::stop_capture()};
}

std::string SiteName() {
  char name[32];
  std::memset(name, '#', sizeof name);
  pda_get_site_name(name);
  return std::string(name);
}

// A block in which every field holds a value of its own (signs alternating),
// so that a field read from the wrong place or with the wrong width shows.
// The windows are chosen so that no fix-up applies.
HeaderSpec DistinctSpec(int16_t version, int salt) {
  HeaderSpec h;
  int k = 0;
  auto i16 = [&]() {
    ++k;
    return static_cast<int16_t>((k % 2 == 0 ? -1 : 1) * (salt * 1000 + k));
  };
  auto i32 = [&]() {
    ++k;
    return (k % 2 == 0 ? -1 : 1) * (salt * 1000000 + 70000 + k);
  };
  h.header_version = version;
  h.discarded_word = i16();
  for (int16_t& v : h.discarded_words_103) v = i16();
  h.site_name = "SITE " + std::to_string(salt);
  h.site_value_1 = i16();
  h.site_value_2 = i16();
  h.site_value_3 = i16();
  h.site_value_4 = i16();
  h.radar_count = i16();
  h.radar_name = "RADAR " + std::to_string(salt);
  h.radar_value = i16();
  h.tx_frequency = i32();
  h.kept_84 = i32();
  for (int16_t& v : h.kept_88) v = i16();
  h.beam_count = i16();
  h.kept_96 = i16();
  for (qwriter::ModeSpec& m : h.modes) {
    m.ipp_ns = i32();
    m.pulse_width = i32();
    m.first_gate_delay_ns = i32();
    m.gate_spacing_ns = i32();
    m.gate_count = i16();
    m.coherent_integrations = i16();
    m.spectral_averages = i16();
    m.spectral_points = i16();
    m.delay_offset_ns = i16();
    m.kept_26 = i16();
    m.kept_28 = i16();
    m.mode_extra = i16();
  }
  for (qwriter::BeamSpec& b : h.beams) {
    b.direction_index = i16();
    b.mode_index = i16();
    b.third_word = i16();
  }
  for (int32_t& v : h.kept_286) v = i32();
  int d = 0;
  for (qwriter::DirectionSpec& dir : h.directions) {
    dir.name = "DIR" + std::to_string(salt) + "_" + std::to_string(d++);
    dir.azimuth = i16();
    dir.elevation = i16();
    dir.kept = i16();
  }
  for (int16_t& v : h.pulse_table_keys) v = i16();
  for (int16_t& v : h.pulse_table_values) v = i16();
  for (int16_t& v : h.kept_484) v = i16();
  h.window1_start = static_cast<int16_t>(10 + salt);
  h.window1_points = static_cast<int16_t>(20 + salt);
  h.window2_start = static_cast<int16_t>(3 + salt);
  h.window2_points = static_cast<int16_t>(5 + salt);
  for (int16_t& v : h.spectrum_extra) v = i16();
  h.kept_512 = i16();
  for (int16_t& v : h.kept_514) v = i16();
  h.closing = i32();
  if (version >= 103) {
    h.met_instrument_list = {static_cast<int16_t>(salt), -7, 300, -301};
  }
  return h;
}

// Checks that the parameter block and the queries hold the block `h`
// (radar_count is 1 after every read; met entries only from version 103).
void ExpectBlockHolds(const HeaderSpec& h, bool check_version = true) {
  const ParameterBlock& p = pda_parameters;
  const RadarRecord& r = p.radars[0];
  if (check_version) {
    EXPECT_EQ(p.header_version, h.header_version);
  }
  EXPECT_EQ(SiteName(), h.site_name);
  int32_t v1 = 0, v2 = 0;
  pda_get_site_values(&v1, &v2);
  EXPECT_EQ(v1, h.site_value_1);
  EXPECT_EQ(v2, h.site_value_2);
  EXPECT_EQ(pda_get_site_value_3(), h.site_value_3);
  EXPECT_EQ(pda_get_site_value_4(), h.site_value_4);
  EXPECT_EQ(pda_get_radar_count(), 1);
  char radar_name[32];
  std::memset(radar_name, '#', sizeof radar_name);
  int32_t radar_value = 0, tx = 0;
  EXPECT_EQ(pda_get_radar_info(0, radar_name, &radar_value, &tx), 1);
  EXPECT_EQ(std::string(radar_name), h.radar_name);
  EXPECT_EQ(radar_value, h.radar_value);
  EXPECT_EQ(tx, h.tx_frequency);
  EXPECT_EQ(r.kept_84, h.kept_84);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.kept_88[i], h.kept_88[i]) << i;
  EXPECT_EQ(pda_get_beam_count(0), h.beam_count);
  EXPECT_EQ(r.kept_96, h.kept_96);
  for (int i = 0; i < kModeCount; ++i) {
    SCOPED_TRACE("mode " + std::to_string(i));
    const ModeEntry& m = r.modes[i];
    const qwriter::ModeSpec& e = h.modes[i];
    EXPECT_EQ(m.ipp_ns, e.ipp_ns);
    EXPECT_EQ(m.pulse_width, e.pulse_width);
    EXPECT_EQ(m.first_gate_delay_ns, e.first_gate_delay_ns);
    EXPECT_EQ(m.gate_spacing_ns, e.gate_spacing_ns);
    EXPECT_EQ(m.gate_count, e.gate_count);
    EXPECT_EQ(m.coherent_integrations, e.coherent_integrations);
    EXPECT_EQ(m.spectral_averages, e.spectral_averages);
    EXPECT_EQ(m.spectral_points, e.spectral_points);
    EXPECT_EQ(m.delay_offset_ns, e.delay_offset_ns);
    EXPECT_EQ(m.kept_26, e.kept_26);
    EXPECT_EQ(m.kept_28, e.kept_28);
    EXPECT_EQ(m.mode_extra, e.mode_extra);
  }
  for (int i = 0; i < kBeamCount; ++i) {
    EXPECT_EQ(r.beams[i].direction_index, h.beams[i].direction_index) << i;
    EXPECT_EQ(r.beams[i].mode_index, h.beams[i].mode_index) << i;
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r.kept_286[i], h.kept_286[i]) << i;
  for (int i = 0; i < kDirectionCount; ++i) {
    SCOPED_TRACE("direction " + std::to_string(i));
    const DirectionEntry& d = r.directions[i];
    EXPECT_EQ(std::string(d.direction_name, strnlen(d.direction_name, 12)),
              h.directions[i].name);
    EXPECT_EQ(d.azimuth, h.directions[i].azimuth);
    EXPECT_EQ(d.elevation, h.directions[i].elevation);
    EXPECT_EQ(d.kept_16, h.directions[i].kept);
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(r.pulse_table_keys[i], h.pulse_table_keys[i]) << i;
    EXPECT_EQ(r.pulse_table_values[i], h.pulse_table_values[i]) << i;
    EXPECT_EQ(r.kept_484[i], h.kept_484[i]) << i;
  }
  EXPECT_EQ(r.window1_start, h.window1_start);
  EXPECT_EQ(r.window1_points, h.window1_points);
  EXPECT_EQ(r.window2_start, h.window2_start);
  EXPECT_EQ(r.window2_points, h.window2_points);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(r.spectrum_extra[i], h.spectrum_extra[i]) << i;
  }
  EXPECT_EQ(r.kept_512, h.kept_512);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(r.kept_514[i], h.kept_514[i]) << i;

  const int32_t count =
      h.header_version < 103
          ? 0
          : h.met_instrument_count.value_or(
                static_cast<int16_t>(h.met_instrument_list.size()));
  EXPECT_EQ(p.met_instrument_count, count);
  std::vector<int32_t> met(kMaxMetInstruments, 12345);
  ASSERT_EQ(pda_get_met_instruments(met.data()), count);
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_EQ(met[i], h.met_instrument_list[i]) << "met entry " << i;
  }
}

// ---------------------------------------------------------------------------
// Layout of the two preambles
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockLayout, EveryFieldIsReadFromItsPlaceInBothPreambles) {
  for (int16_t version : {100, 101, 102, 103, 104, 500, 999}) {
    SCOPED_TRACE("version " + std::to_string(version));
    const HeaderSpec base = DistinctSpec(102, 1);
    const HeaderSpec block = DistinctSpec(version, 2);
    Bytes header = qwriter::encode_header(base);
    // Three filler bytes put the block at an odd offset.
    header.put_u8(0xA5);
    header.put_u8(0x5A);
    header.put_u8(0xA5);
    const int32_t offset = static_cast<int32_t>(header.size());
    header.append(qwriter::encode_header(block));
    OpenPair(header);
    ExpectBlockHolds(base);

    EXPECT_EQ(ReadAt(offset), (Read{0, ""}));
    ExpectBlockHolds(block);
    if (HasFailure()) return;
  }
}

TEST_F(HeaderBlockLayout, RecordLoadsTheBlockAtTheOffsetItNames) {
  const HeaderSpec first = DistinctSpec(102, 1);
  const HeaderSpec named = DistinctSpec(103, 3);
  Bytes header = qwriter::encode_header(first);
  for (int i = 0; i < 432; ++i) header.put_u8(0xEE);  // filler up to 1000
  ASSERT_EQ(header.size(), 1000u);
  header.append(qwriter::encode_header(named));
  OpenPair(header, 1000);
  EXPECT_EQ(pda_get_loaded_header_offset(), 1000);
  EXPECT_EQ(pda_get_record_header_offset(), 1000);
  ExpectBlockHolds(named);
}

// ---------------------------------------------------------------------------
// Block extent: 568 bytes before version 103, 580 + 2 per met instrument
// from 103 on. The reader leaves the header file right behind the block it
// read, so the next block of the file reads on from there.
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockExtent, ConsecutiveBlocksReadOneAfterAnother) {
  std::vector<HeaderSpec> chain;
  chain.push_back(DistinctSpec(100, 1));
  chain.push_back(DistinctSpec(103, 2));  // 4 met instruments: 588 bytes
  HeaderSpec empty_list = DistinctSpec(103, 3);
  empty_list.met_instrument_list.clear();  // 580 bytes
  chain.push_back(empty_list);
  chain.push_back(DistinctSpec(102, 4));
  HeaderSpec long_list = DistinctSpec(999, 5);
  long_list.met_instrument_list.clear();
  for (int i = 0; i < 256; ++i) {
    long_list.met_instrument_list.push_back(static_cast<int16_t>(7 * i - 900));
  }
  chain.push_back(long_list);
  chain.push_back(DistinctSpec(101, 6));

  Bytes header;
  std::vector<int32_t> offsets;
  for (const HeaderSpec& h : chain) {
    offsets.push_back(static_cast<int32_t>(header.size()));
    header.append(qwriter::encode_header(h));
  }
  // The offsets follow the documented sizes.
  EXPECT_EQ(offsets, (std::vector<int32_t>{0, 568, 568 + 588, 568 + 588 + 580,
                                           568 + 588 + 580 + 568,
                                           568 + 588 + 580 + 568 + 1092}));
  OpenPair(header);

  ASSERT_EQ(ReadAt(0), (Read{0, ""}));
  ExpectBlockHolds(chain[0]);
  for (size_t i = 1; i < chain.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    ASSERT_EQ(ReadNext(), (Read{0, ""}));
    ExpectBlockHolds(chain[i]);
  }
  // Nothing after the last block: the version cannot be read.
  EXPECT_EQ(ReadNext(), (Read{-1, ""}));
  ExpectBlockHolds(chain.back());
}

TEST_F(HeaderBlockExtent, ClosingFieldIsTheLastByteOfAnOldBlock) {
  const HeaderSpec base = DistinctSpec(102, 1);
  for (int16_t version : {100, 102}) {
    SCOPED_TRACE("version " + std::to_string(version));
    const Bytes first = qwriter::encode_header(base);
    const Bytes block = qwriter::encode_header(DistinctSpec(version, 2));
    ASSERT_EQ(block.size(), 568u);
    OpenPair(qtest::join({first, block}));
    EXPECT_EQ(pda_read_header_block_at(568), 0);
    EXPECT_EQ(pda_parameters.met_instrument_count, 0);

    const Bytes cut_block = qwriter::cut(block, 567);
    OpenPair(qtest::join({first, cut_block}));
    EXPECT_EQ(pda_read_header_block_at(568), -4);
  }
}

TEST_F(HeaderBlockExtent, NewBlockEndsAfterItsMetInstrumentList) {
  const Bytes base = qwriter::encode_header(DistinctSpec(102, 1));

  HeaderSpec none = DistinctSpec(103, 2);
  none.met_instrument_list.clear();
  const Bytes none_block = qwriter::encode_header(none);
  ASSERT_EQ(none_block.size(), 580u);
  OpenPair(qtest::join({base, none_block}));
  EXPECT_EQ(pda_read_header_block_at(568), 0);
  EXPECT_EQ(pda_parameters.met_instrument_count, 0);
  const Bytes none_cut = qwriter::cut(none_block, 579);
  OpenPair(qtest::join({base, none_cut}));
  EXPECT_EQ(pda_read_header_block_at(568), -4);

  const HeaderSpec three = [] {
    HeaderSpec h = DistinctSpec(103, 3);
    h.met_instrument_list = {5, -6, 7};
    return h;
  }();
  const Bytes three_block = qwriter::encode_header(three);
  ASSERT_EQ(three_block.size(), 586u);
  OpenPair(qtest::join({base, three_block}));
  EXPECT_EQ(ReadAt(568), (Read{0, ""}));
  ExpectBlockHolds(three);

  // One byte short: the last entry is not whole.
  const Bytes three_cut = qwriter::cut(three_block, 585);
  OpenPair(qtest::join({base, three_cut}));
  EXPECT_EQ(ReadAt(568), (Read{-3, "disk: cannot read all 3 inst\n"}));

  // The closing field is whole but no entry follows.
  const Bytes list_missing = qwriter::cut(three_block, 580);
  OpenPair(qtest::join({base, list_missing}));
  EXPECT_EQ(ReadAt(568), (Read{-3, "disk: cannot read all 3 inst\n"}));

  // Cut inside the closing field: truncation, not a short list.
  const Bytes closing_cut = qwriter::cut(three_block, 579);
  OpenPair(qtest::join({base, closing_cut}));
  EXPECT_EQ(ReadAt(568), (Read{-4, ""}));
}

// ---------------------------------------------------------------------------
// Version
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockVersion, VersionsFrom100To999AreAccepted) {
  const Bytes base = qwriter::encode_header(DistinctSpec(102, 1));
  for (int16_t version : {100, 102, 103, 999}) {
    SCOPED_TRACE("version " + std::to_string(version));
    const HeaderSpec block = DistinctSpec(version, 2);
    const Bytes bytes = qwriter::encode_header(block);
    OpenPair(qtest::join({base, bytes}));
    EXPECT_EQ(pda_read_header_block_at(568), 0);
    ExpectBlockHolds(block);
  }
}

TEST_F(HeaderBlockVersion, VersionOutOfRangeIsStoredAndTheRestLeftUnread) {
  const HeaderSpec base = DistinctSpec(103, 1);
  const HeaderSpec next = DistinctSpec(102, 4);
  for (int16_t version : {99, 1000, 0, -100, 32767}) {
    SCOPED_TRACE("version " + std::to_string(version));
    // A whole block of the bad version, then the bad version alone followed
    // straight away by a good block.
    HeaderSpec bad = DistinctSpec(version, 2);
    Bytes header = qwriter::encode_header(base);
    const int32_t bad_block = static_cast<int32_t>(header.size());
    header.append(qwriter::encode_header(bad));
    const int32_t bad_word = static_cast<int32_t>(header.size());
    header.put_i16(version);
    header.append(qwriter::encode_header(next));
    OpenPair(header);

    EXPECT_EQ(ReadAt(bad_block), (Read{-10, ""}));
    EXPECT_EQ(pda_parameters.header_version, version);
    ExpectBlockHolds(base, /*check_version=*/false);

    // Only the version was consumed: the block right behind it reads whole.
    EXPECT_EQ(pda_read_header_block_at(bad_word), -10);
    EXPECT_EQ(pda_read_header_block(), 0);
    ExpectBlockHolds(next);
    if (HasFailure()) return;
  }
}

TEST_F(HeaderBlockVersion, UnreadableVersionChangesNothing) {
  const HeaderSpec base = DistinctSpec(103, 1);
  Bytes header = qwriter::encode_header(base);
  header.put_u8(0x64);  // half a version word at the end of the file
  OpenPair(header);
  const int32_t size = static_cast<int32_t>(header.size());

  EXPECT_EQ(ReadAt(size - 1), (Read{-1, ""}));
  EXPECT_EQ(ReadAt(size), (Read{-1, ""}));
  EXPECT_EQ(ReadAt(size + 1000), (Read{-1, ""}));
  EXPECT_EQ(ReadAt(-2), (Read{-1, ""}));
  ExpectBlockHolds(base);
}

// ---------------------------------------------------------------------------
// Met instrument list
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockMetList, ListOf256InstrumentsIsReadWhole) {
  HeaderSpec h = DistinctSpec(103, 2);
  h.met_instrument_list.clear();
  for (int i = 0; i < 256; ++i) {
    h.met_instrument_list.push_back(static_cast<int16_t>(-128 * i + 5));
  }
  const Bytes base = qwriter::encode_header(DistinctSpec(102, 1));
  const Bytes block = qwriter::encode_header(h);
  ASSERT_EQ(block.size(), 580u + 512u);
  OpenPair(qtest::join({base, block}));
  EXPECT_EQ(ReadAt(568), (Read{0, ""}));
  ExpectBlockHolds(h);
}

TEST_F(HeaderBlockMetList, MoreThan256InstrumentsAreRefusedUnread) {
  HeaderSpec before = DistinctSpec(103, 1);
  before.met_instrument_list = {11, -12, 13};
  HeaderSpec h = DistinctSpec(103, 2);
  h.met_instrument_list.assign(257, 99);
  const Bytes first = qwriter::encode_header(before);
  const Bytes block = qwriter::encode_header(h);
  OpenPair(qtest::join({first, block}));

  EXPECT_EQ(
      ReadAt(static_cast<int32_t>(first.size())),
      (Read{-3, "\ndisk: Too many met inst;  modify arrays in met routine"}));

  // The block itself is replaced; the count keeps what was announced and
  // the list what it held before.
  EXPECT_EQ(SiteName(), h.site_name);
  EXPECT_EQ(pda_parameters.radars[0].tx_frequency, h.tx_frequency);
  EXPECT_EQ(pda_parameters.met_instrument_count, 257);
  EXPECT_EQ(pda_parameters.met_instrument_list[0], 11);
  EXPECT_EQ(pda_parameters.met_instrument_list[1], -12);
  EXPECT_EQ(pda_parameters.met_instrument_list[2], 13);
  EXPECT_EQ(pda_parameters.met_instrument_list[3], 0);

  // The query never hands out more entries than the list has room for.
  std::vector<int32_t> met(kMaxMetInstruments + 8, 777);
  EXPECT_EQ(pda_get_met_instruments(met.data()), kMaxMetInstruments);
  EXPECT_EQ(met[0], 11);
  EXPECT_EQ(met[1], -12);
  EXPECT_EQ(met[2], 13);
  EXPECT_EQ(met[3], 0);
  for (int i = kMaxMetInstruments; i < kMaxMetInstruments + 8; ++i) {
    EXPECT_EQ(met[i], 777) << i;
  }
}

TEST_F(HeaderBlockMetList, ListCutShortKeepsTheEntriesRead) {
  HeaderSpec before = DistinctSpec(103, 1);
  before.met_instrument_list = {21, 22, 23, 24, 25};
  HeaderSpec h = DistinctSpec(103, 2);
  h.met_instrument_list = {-31, 32, -33, 34, 35};
  const Bytes first = qwriter::encode_header(before);
  // Three whole entries and one byte of the fourth.
  const Bytes block = qwriter::cut(qwriter::encode_header(h), 580 + 7);
  OpenPair(qtest::join({first, block}));

  EXPECT_EQ(ReadAt(static_cast<int32_t>(first.size())),
            (Read{-3, "disk: cannot read all 5 inst\n"}));
  EXPECT_EQ(SiteName(), h.site_name);
  EXPECT_EQ(pda_parameters.met_instrument_count, 5);
  std::vector<int32_t> met(kMaxMetInstruments, 0);
  ASSERT_EQ(pda_get_met_instruments(met.data()), 5);
  EXPECT_EQ(met[0], -31);
  EXPECT_EQ(met[1], 32);
  EXPECT_EQ(met[2], -33);
  EXPECT_EQ(met[3], 24);  // not read: the earlier entry stays
  EXPECT_EQ(met[4], 25);
}

TEST_F(HeaderBlockMetList, NegativeInstrumentCountReadsAsNone) {
  for (int16_t count : {-4, -32768}) {
    SCOPED_TRACE("count " + std::to_string(count));
    HeaderSpec before = DistinctSpec(103, 1);
    HeaderSpec h = DistinctSpec(103, 2);
    h.met_instrument_count = count;
    h.met_instrument_list.clear();
    const HeaderSpec next = DistinctSpec(102, 3);
    const Bytes a = qwriter::encode_header(before);
    const Bytes b = qwriter::encode_header(h);
    const Bytes c = qwriter::encode_header(next);
    ASSERT_EQ(b.size(), 580u);
    OpenPair(qtest::join({a, b, c}));

    EXPECT_EQ(ReadAt(static_cast<int32_t>(a.size())), (Read{0, ""}));
    EXPECT_EQ(pda_parameters.met_instrument_count, 0);
    std::vector<int32_t> met(kMaxMetInstruments, 0);
    EXPECT_EQ(pda_get_met_instruments(met.data()), 0);
    // No list was read: the next block starts right after 580 bytes.
    EXPECT_EQ(pda_read_header_block(), 0);
    ExpectBlockHolds(next);
  }
}

TEST_F(HeaderBlockMetList, OldVersionClearsTheInstrumentCount) {
  const HeaderSpec with_list = DistinctSpec(103, 1);
  const HeaderSpec old = DistinctSpec(100, 2);
  const Bytes a = qwriter::encode_header(with_list);
  const Bytes b = qwriter::encode_header(old);
  OpenPair(qtest::join({a, b}));
  ASSERT_EQ(pda_parameters.met_instrument_count, 4);
  EXPECT_EQ(pda_read_header_block_at(static_cast<int32_t>(a.size())), 0);
  EXPECT_EQ(pda_parameters.met_instrument_count, 0);
  std::vector<int32_t> met(kMaxMetInstruments, 0);
  EXPECT_EQ(pda_get_met_instruments(met.data()), 0);
}

// ---------------------------------------------------------------------------
// Truncated blocks
// ---------------------------------------------------------------------------

struct Field {
  const char* name;
  size_t offset;  // in a block of version 100..102
  int width;
  void (*set)(HeaderSpec&, int32_t);
  int32_t (*get)();
};

RadarRecord& Radar() { return pda_parameters.radars[0]; }

// A sample of numeric fields spread over the whole block, with their offsets
// in an old-version block (12 bytes more from version 103 on).
const std::vector<Field>& SampleFields() {
  static const std::vector<Field> fields = {
      {"site_value_1", 36, 2,
       [](HeaderSpec& h, int32_t v) { h.site_value_1 = int16_t(v); },
       [] { return int32_t{pda_parameters.site_value_1}; }},
      {"site_value_2", 38, 2,
       [](HeaderSpec& h, int32_t v) { h.site_value_2 = int16_t(v); },
       [] { return int32_t{pda_parameters.site_value_2}; }},
      {"site_value_3", 40, 2,
       [](HeaderSpec& h, int32_t v) { h.site_value_3 = int16_t(v); },
       [] { return pda_get_site_value_3(); }},
      {"site_value_4", 42, 2,
       [](HeaderSpec& h, int32_t v) { h.site_value_4 = int16_t(v); },
       [] { return pda_get_site_value_4(); }},
      {"radar_value", 78, 2,
       [](HeaderSpec& h, int32_t v) { h.radar_value = int16_t(v); },
       [] { return int32_t{Radar().radar_value}; }},
      {"tx_frequency", 80, 4,
       [](HeaderSpec& h, int32_t v) { h.tx_frequency = v; },
       [] { return Radar().tx_frequency; }},
      {"kept_84", 84, 4, [](HeaderSpec& h, int32_t v) { h.kept_84 = v; },
       [] { return Radar().kept_84; }},
      {"kept_88[2]", 92, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_88[2] = int16_t(v); },
       [] { return int32_t{Radar().kept_88[2]}; }},
      {"beam_count", 94, 2,
       [](HeaderSpec& h, int32_t v) { h.beam_count = int16_t(v); },
       [] { return pda_get_beam_count(0); }},
      {"kept_96", 96, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_96 = int16_t(v); },
       [] { return int32_t{Radar().kept_96}; }},
      {"modes[0].ipp_ns", 98, 4,
       [](HeaderSpec& h, int32_t v) { h.modes[0].ipp_ns = v; },
       [] { return Radar().modes[0].ipp_ns; }},
      {"modes[0].spectral_points", 120, 2,
       [](HeaderSpec& h, int32_t v) {
         h.modes[0].spectral_points = int16_t(v);
       },
       [] { return int32_t{Radar().modes[0].spectral_points}; }},
      {"modes[1].first_gate_delay_ns", 138, 4,
       [](HeaderSpec& h, int32_t v) { h.modes[1].first_gate_delay_ns = v; },
       [] { return Radar().modes[1].first_gate_delay_ns; }},
      {"modes[2].delay_offset_ns", 186, 2,
       [](HeaderSpec& h, int32_t v) {
         h.modes[2].delay_offset_ns = int16_t(v);
       },
       [] { return int32_t{Radar().modes[2].delay_offset_ns}; }},
      {"modes[3].mode_extra", 224, 2,
       [](HeaderSpec& h, int32_t v) { h.modes[3].mode_extra = int16_t(v); },
       [] { return int32_t{Radar().modes[3].mode_extra}; }},
      {"beams[0].direction_index", 226, 2,
       [](HeaderSpec& h, int32_t v) {
         h.beams[0].direction_index = int16_t(v);
       },
       [] { return int32_t{Radar().beams[0].direction_index}; }},
      {"beams[9].mode_index", 282, 2,
       [](HeaderSpec& h, int32_t v) { h.beams[9].mode_index = int16_t(v); },
       [] { return int32_t{Radar().beams[9].mode_index}; }},
      {"kept_286[0]", 286, 4,
       [](HeaderSpec& h, int32_t v) { h.kept_286[0] = v; },
       [] { return Radar().kept_286[0]; }},
      {"kept_286[4]", 302, 4,
       [](HeaderSpec& h, int32_t v) { h.kept_286[4] = v; },
       [] { return Radar().kept_286[4]; }},
      {"directions[0].azimuth", 318, 2,
       [](HeaderSpec& h, int32_t v) { h.directions[0].azimuth = int16_t(v); },
       [] { return int32_t{Radar().directions[0].azimuth}; }},
      {"directions[4].elevation", 392, 2,
       [](HeaderSpec& h, int32_t v) { h.directions[4].elevation = int16_t(v); },
       [] { return int32_t{Radar().directions[4].elevation}; }},
      {"directions[8].kept", 466, 2,
       [](HeaderSpec& h, int32_t v) { h.directions[8].kept = int16_t(v); },
       [] { return int32_t{Radar().directions[8].kept_16}; }},
      {"pulse_table_keys[0]", 468, 2,
       [](HeaderSpec& h, int32_t v) { h.pulse_table_keys[0] = int16_t(v); },
       [] { return int32_t{Radar().pulse_table_keys[0]}; }},
      {"pulse_table_values[3]", 482, 2,
       [](HeaderSpec& h, int32_t v) { h.pulse_table_values[3] = int16_t(v); },
       [] { return int32_t{Radar().pulse_table_values[3]}; }},
      {"kept_484[3]", 490, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_484[3] = int16_t(v); },
       [] { return int32_t{Radar().kept_484[3]}; }},
      {"spectrum_extra[0]", 500, 2,
       [](HeaderSpec& h, int32_t v) { h.spectrum_extra[0] = int16_t(v); },
       [] { return int32_t{Radar().spectrum_extra[0]}; }},
      {"spectrum_extra[5]", 510, 2,
       [](HeaderSpec& h, int32_t v) { h.spectrum_extra[5] = int16_t(v); },
       [] { return int32_t{Radar().spectrum_extra[5]}; }},
      {"kept_512", 512, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_512 = int16_t(v); },
       [] { return int32_t{Radar().kept_512}; }},
      {"kept_514[0]", 514, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_514[0] = int16_t(v); },
       [] { return int32_t{Radar().kept_514[0]}; }},
      {"kept_514[24]", 562, 2,
       [](HeaderSpec& h, int32_t v) { h.kept_514[24] = int16_t(v); },
       [] { return int32_t{Radar().kept_514[24]}; }},
  };
  return fields;
}

int32_t OldValue(size_t i, int width) {
  return width == 4 ? 70000 + static_cast<int32_t>(i)
                    : 200 + static_cast<int32_t>(i);
}
int32_t NewValue(size_t i, int width) {
  return width == 4 ? -90000 - static_cast<int32_t>(i)
                    : -300 - static_cast<int32_t>(i);
}

// Cuts the block at every length from just after the version up to the
// last byte of the closing field, and checks what each cut leaves.
void CheckEveryCut(int16_t version,
                   const std::function<void(const Bytes&, int16_t)>& open) {
  const size_t shift = version >= 103 ? 12 : 0;
  HeaderSpec before = DistinctSpec(version, 1);
  HeaderSpec after = DistinctSpec(version, 2);
  before.met_instrument_list = {41, -42, 43};
  after.met_instrument_list = {-51, 52};
  // The block read has an empty window 1 and no window 2.
  after.window1_start = 9;
  after.window1_points = 0;
  after.window2_start = 5;
  after.window2_points = 0;
  after.radar_count = 3;
  const std::vector<Field>& fields = SampleFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i].set(before, OldValue(i, fields[i].width));
    fields[i].set(after, NewValue(i, fields[i].width));
  }
  const Bytes first = qwriter::encode_header(before);
  const Bytes block = qwriter::encode_header(after);
  const size_t closing_end = 568 + shift;

  for (size_t n = 2; n < closing_end; ++n) {
    SCOPED_TRACE("block cut to " + std::to_string(n) + " bytes");
    const Bytes cut_block = qwriter::cut(block, n);
    open(qtest::join({first, cut_block}), /*record radar*/ 1);
    ASSERT_EQ(pda_get_record_radar(), 1);
    // Window fields and radar count that need every fix-up, whatever part
    // of the block the cut leaves.
    pda_parameters.radar_count = 7;
    Radar().window1_start = 4;
    Radar().window1_points = 0;
    Radar().window2_start = 6;
    Radar().window2_points = -1;

    EXPECT_EQ(ReadAt(static_cast<int32_t>(first.size())), (Read{-4, ""}));
    EXPECT_EQ(pda_parameters.header_version, version);
    EXPECT_EQ(pda_get_radar_count(), 1);
    EXPECT_EQ(Radar().window2_points, 1);
    EXPECT_EQ(Radar().window2_start, 1);
    EXPECT_EQ(Radar().window1_start, 1);
    EXPECT_EQ(Radar().window1_points, Radar().modes[0].spectral_points);
    EXPECT_EQ(pda_get_record_radar(), 0);
    for (size_t i = 0; i < fields.size(); ++i) {
      const size_t end = fields[i].offset + shift + fields[i].width;
      const int32_t expected = n >= end ? NewValue(i, fields[i].width)
                                        : OldValue(i, fields[i].width);
      EXPECT_EQ(fields[i].get(), expected) << fields[i].name;
    }
    // The list is never reached.
    EXPECT_EQ(pda_parameters.met_instrument_list[0], version >= 103 ? 41 : 0);
    EXPECT_EQ(pda_parameters.met_instrument_list[1], version >= 103 ? -42 : 0);
    if (version >= 103) {
      // A count that cannot be read whole counts as none.
      EXPECT_EQ(pda_parameters.met_instrument_count, n >= 6 ? 2 : 0);
    }
    if (::testing::Test::HasFailure()) return;
  }
}

TEST_F(HeaderBlockTruncated, OldBlockCutAnywhereIsTruncatedButFixedUp) {
  CheckEveryCut(102, [this](const Bytes& header, int16_t radar) {
    OpenPair(header, 0, 0, radar);
  });
}

TEST_F(HeaderBlockTruncated, NewBlockCutAnywhereIsTruncatedButFixedUp) {
  CheckEveryCut(103, [this](const Bytes& header, int16_t radar) {
    OpenPair(header, 0, 0, radar);
  });
}

TEST_F(HeaderBlockTruncated, TruncatedOldBlockLeavesTheInstrumentCount) {
  const HeaderSpec with_list = DistinctSpec(103, 1);  // 4 instruments
  const Bytes a = qwriter::encode_header(with_list);
  const Bytes b =
      qwriter::cut(qwriter::encode_header(DistinctSpec(102, 2)), 300);
  OpenPair(qtest::join({a, b}));
  EXPECT_EQ(ReadAt(static_cast<int32_t>(a.size())), (Read{-4, ""}));
  EXPECT_EQ(pda_parameters.header_version, 102);
  EXPECT_EQ(pda_parameters.met_instrument_count, 4);
  std::vector<int32_t> met(kMaxMetInstruments, 0);
  ASSERT_EQ(pda_get_met_instruments(met.data()), 4);
  EXPECT_EQ(met[0], 1);
  EXPECT_EQ(met[3], -301);
}

// ---------------------------------------------------------------------------
// Window fix-ups
// ---------------------------------------------------------------------------

// A header whose beam 1 uses mode 2; mode 0 and mode 2 differ in spectral
// points and inter-pulse period.
HeaderSpec TwoModeSpec() {
  HeaderSpec h = qtest::standard_header(4, 128);
  h.modes[2] = h.modes[0];
  h.modes[2].spectral_points = 256;
  h.modes[2].ipp_ns = 80000;
  h.beams[1].mode_index = 2;
  return h;
}

TEST_F(HeaderBlockWindows, Window2OfOneOrLessMeansNoWindow2) {
  const Bytes base = qwriter::encode_header(TwoModeSpec());
  for (int16_t points : {0, 1, -5, -32768}) {
    SCOPED_TRACE("window2_points " + std::to_string(points));
    HeaderSpec h = TwoModeSpec();
    h.window2_start = 7;
    h.window2_points = points;
    const Bytes block = qwriter::encode_header(h);
    OpenPair(qtest::join({base, block}));
    EXPECT_EQ(pda_read_header_block_at(568), 0);
    EXPECT_EQ(Radar().window2_points, 1);
    EXPECT_EQ(Radar().window2_start, 1);
  }
  for (int16_t points : {2, 40}) {
    SCOPED_TRACE("window2_points " + std::to_string(points));
    HeaderSpec h = TwoModeSpec();
    h.window2_start = 7;
    h.window2_points = points;
    const Bytes block = qwriter::encode_header(h);
    OpenPair(qtest::join({base, block}));
    EXPECT_EQ(pda_read_header_block_at(568), 0);
    EXPECT_EQ(Radar().window2_points, points);
    EXPECT_EQ(Radar().window2_start, 7);
  }
}

TEST_F(HeaderBlockWindows, EmptyWindow1CoversModeZeroAndResetsRecordIndices) {
  const Bytes base = qwriter::encode_header(TwoModeSpec());
  for (int16_t points : {0, -3}) {
    SCOPED_TRACE("window1_points " + std::to_string(points));
    HeaderSpec h = TwoModeSpec();
    h.window1_start = 5;
    h.window1_points = points;
    const Bytes block = qwriter::encode_header(h);
    // The current record is of radar 1 (not one the block describes) and
    // of beam 1, whose mode is 2.
    OpenPair(qtest::join({base, block}), 0, 1, 1);
    ASSERT_EQ(pda_get_record_radar(), 1);
    ASSERT_EQ(pda_get_record_beam(), 1);
    // Mode 2's period: 91500 hundredths of a MHz, 80000 ns, 100 integrations.
    ASSERT_EQ(pda_get_nyquist_velocity(), 10.239071f);

    EXPECT_EQ(pda_read_header_block_at(568), 0);
    EXPECT_EQ(Radar().window1_start, 1);
    EXPECT_EQ(Radar().window1_points, 128);  // mode 0, not the record's mode
    EXPECT_EQ(pda_get_record_radar(), 0);
    EXPECT_EQ(pda_get_record_beam(), 1);
    // The record now counts as mode 0 (40000 ns).
    EXPECT_EQ(pda_get_nyquist_velocity(), 20.478142f);
  }
}

TEST_F(HeaderBlockWindows, NonEmptyWindow1IsKeptWithTheRecordIndices) {
  const Bytes base = qwriter::encode_header(TwoModeSpec());
  HeaderSpec h = TwoModeSpec();
  h.window1_start = 5;
  h.window1_points = 1;
  const Bytes block = qwriter::encode_header(h);
  OpenPair(qtest::join({base, block}), 0, 1, 1);
  EXPECT_EQ(pda_read_header_block_at(568), 0);
  EXPECT_EQ(Radar().window1_start, 5);
  EXPECT_EQ(Radar().window1_points, 1);
  EXPECT_EQ(pda_get_record_radar(), 1);
  EXPECT_EQ(pda_get_nyquist_velocity(), 10.239071f);
}

// ---------------------------------------------------------------------------
// Radar count, radar queries and selection
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockSelection, OnlyRadarZeroExists) {
  for (int16_t count : {3, 0, -1}) {
    SCOPED_TRACE("radar_count " + std::to_string(count));
    HeaderSpec h = qtest::standard_header();
    h.radar_count = count;
    h.radar_name = "UHF";
    h.radar_value = 12;
    OpenPair(qwriter::encode_header(h));
    EXPECT_EQ(pda_get_radar_count(), 1);

    char name[32];
    int32_t value = 0, tx = 0;
    EXPECT_EQ(pda_get_radar_info(0, name, &value, &tx), 1);
    EXPECT_EQ(std::string(name), "UHF");
    EXPECT_EQ(value, 12);
    EXPECT_EQ(tx, 91500);
    EXPECT_EQ(pda_get_beam_count(0), 5);

    for (int32_t radar : {1, -1, 2, 1000}) {
      SCOPED_TRACE("radar " + std::to_string(radar));
      std::memset(name, '#', sizeof name);
      value = -55;
      tx = -66;
      EXPECT_EQ(pda_get_radar_info(radar, name, &value, &tx), 0);
      EXPECT_EQ(name[0], '#');
      EXPECT_EQ(name[31], '#');
      EXPECT_EQ(value, -55);
      EXPECT_EQ(tx, -66);
      EXPECT_EQ(pda_get_beam_count(radar), 0);
    }
  }
}

TEST_F(HeaderBlockSelection, SelectRadarAcceptsAnyOrRadarZero) {
  OpenPair(qwriter::encode_header(qtest::standard_header()));
  EXPECT_EQ(selected_radar, 0);
  EXPECT_EQ(pda_select_radar(-1), 1);
  EXPECT_EQ(selected_radar, -1);
  EXPECT_EQ(pda_select_radar(-2), 0);
  EXPECT_EQ(selected_radar, -1);
  EXPECT_EQ(pda_select_radar(1), 0);
  EXPECT_EQ(selected_radar, -1);
  EXPECT_EQ(pda_select_radar(0), 1);
  EXPECT_EQ(selected_radar, 0);
  EXPECT_EQ(pda_select_radar(1), 0);
  EXPECT_EQ(selected_radar, 0);
  EXPECT_EQ(pda_select_radar(-2), 0);
  EXPECT_EQ(selected_radar, 0);
}

TEST_F(HeaderBlockSelection, SelectBeamChecksTheBeamTable) {
  OpenPair(qwriter::encode_header(qtest::standard_header()));  // 5 beams
  EXPECT_EQ(selected_beam, 0);
  EXPECT_EQ(pda_select_beam(4), 1);
  EXPECT_EQ(selected_beam, 4);
  EXPECT_EQ(pda_select_beam(5), 0);
  EXPECT_EQ(selected_beam, 4);
  EXPECT_EQ(pda_select_beam(-2), 0);
  EXPECT_EQ(selected_beam, 4);
  EXPECT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(selected_beam, -1);
  EXPECT_EQ(pda_select_beam(0), 1);
  EXPECT_EQ(selected_beam, 0);

  // With any radar selected, beams are checked against radar 0.
  ASSERT_EQ(pda_select_radar(-1), 1);
  EXPECT_EQ(pda_select_beam(2), 1);
  EXPECT_EQ(selected_beam, 2);
  EXPECT_EQ(pda_select_beam(5), 0);
  EXPECT_EQ(selected_beam, 2);
  EXPECT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(selected_beam, -1);
}

TEST_F(HeaderBlockSelection, SelectBeamNeverGoesBeyondTheTenTableEntries) {
  HeaderSpec h = qtest::standard_header();
  h.beam_count = 12;
  OpenPair(qwriter::encode_header(h));
  EXPECT_EQ(pda_get_beam_count(0), 12);
  EXPECT_EQ(pda_select_beam(9), 1);
  EXPECT_EQ(selected_beam, 9);
  EXPECT_EQ(pda_select_beam(10), 0);
  EXPECT_EQ(pda_select_beam(11), 0);
  EXPECT_EQ(selected_beam, 9);
}

TEST_F(HeaderBlockSelection, EmptyBeamTableRefusesEveryBeamButAny) {
  for (int16_t count : {0, -3}) {
    SCOPED_TRACE("beam_count " + std::to_string(count));
    HeaderSpec h = qtest::standard_header();
    h.beam_count = count;
    OpenPair(qwriter::encode_header(h));
    EXPECT_EQ(pda_get_beam_count(0), count);
    EXPECT_EQ(pda_select_beam(0), 0);
    EXPECT_EQ(selected_beam, 0);
    EXPECT_EQ(pda_select_beam(-1), 1);
    EXPECT_EQ(selected_beam, -1);
  }
}

TEST_F(HeaderBlockSelection, HeaderReadLeavesTheSelectionAlone) {
  const Bytes a = qwriter::encode_header(qtest::standard_header());
  HeaderSpec one_beam = qtest::standard_header();
  one_beam.beam_count = 1;
  const Bytes b = qwriter::encode_header(one_beam);
  OpenPair(qtest::join({a, b}));
  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(4), 1);
  EXPECT_EQ(pda_read_header_block_at(568), 0);
  EXPECT_EQ(selected_radar, -1);
  EXPECT_EQ(selected_beam, 4);
}

// ---------------------------------------------------------------------------
// Values as the queries return them
// ---------------------------------------------------------------------------

TEST_F(HeaderBlockValues, NegativeFieldsComeBackNegative) {
  HeaderSpec h = qtest::standard_header();
  h.header_version = 103;
  h.site_value_1 = -10500;
  h.site_value_2 = -1;
  h.site_value_3 = -32768;
  h.site_value_4 = -7;
  h.radar_value = -2;
  h.tx_frequency = -91500;
  h.met_instrument_list = {-1, -32768, 32767};
  OpenPair(qwriter::encode_header(h));
  int32_t v1 = 0, v2 = 0;
  pda_get_site_values(&v1, &v2);
  EXPECT_EQ(v1, -10500);
  EXPECT_EQ(v2, -1);
  EXPECT_EQ(pda_get_site_value_3(), -32768);
  EXPECT_EQ(pda_get_site_value_4(), -7);
  char name[32];
  int32_t value = 0, tx = 0;
  ASSERT_EQ(pda_get_radar_info(0, name, &value, &tx), 1);
  EXPECT_EQ(value, -2);
  EXPECT_EQ(tx, -91500);
  int32_t met[kMaxMetInstruments];
  ASSERT_EQ(pda_get_met_instruments(met), 3);
  EXPECT_EQ(met[0], -1);
  EXPECT_EQ(met[1], -32768);
  EXPECT_EQ(met[2], 32767);

  HeaderSpec negative_beams = qtest::standard_header();
  negative_beams.beam_count = -1;
  OpenPair(qwriter::encode_header(negative_beams));
  EXPECT_EQ(pda_get_beam_count(0), -1);
}

TEST_F(HeaderBlockValues, NamesAreCopiedUpToTheirEnd) {
  struct Case {
    std::string site;
    std::string radar;
    std::string site_read;
    std::string radar_read;
  };
  const std::string s32(32, 'S'), r32(32, 'R');
  const std::vector<Case> cases = {
      // No NUL in the field: the first 31 bytes.
      {s32, r32, s32.substr(0, 31), r32.substr(0, 31)},
      {std::string(31, 's'), std::string(31, 'r'), std::string(31, 's'),
       std::string(31, 'r')},
      // Bytes after the NUL are not part of the name.
      {std::string("AB\0junk", 7), std::string("X\0Y", 3), "AB", "X"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("site name of " + std::to_string(c.site.size()) + " bytes");
    HeaderSpec h = qtest::standard_header();
    h.site_name = c.site;
    h.radar_name = c.radar;
    OpenPair(qwriter::encode_header(h));
    EXPECT_EQ(SiteName(), c.site_read);
    char radar[32];
    std::memset(radar, '#', sizeof radar);
    int32_t value = 0, tx = 0;
    ASSERT_EQ(pda_get_radar_info(0, radar, &value, &tx), 1);
    EXPECT_EQ(std::string(radar), c.radar_read);
  }
}

}  // namespace
