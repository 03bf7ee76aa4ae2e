// Opening a data/header file pair and positioning on records: pairing of the
// file names, reopening and rewinding, the time search (forward scan and the
// backward search in passes of 20 records), the searches for the next record
// of the selected radar and beam, failed opens, and cut or damaged files.
// The Trailer group holds every check on the trailers that a step back
// reads: each step back, the one at opening, and the backward search.
//
// Unless a test says otherwise the data files hold layout M records of one
// gate (x0xx moments, 23 bytes each), all naming the HeaderBlock at offset 0,
// with record i stamped kBase + 600 * i seconds.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using quellmar::test::TempDir;
using quellmar::writer::Bytes;
using quellmar::writer::HeaderSpec;

// 1995-06-01 00:00:00 UTC: year 95, day of the year 152.
constexpr int32_t kBase = 801964800;
constexpr int32_t kStep = 600;
constexpr int kGates = 1;
// Layout M, x0xx moments, one gate: 16-byte RecordHeader (no overrides at
// exactly 5 * G + 18 bytes), 5-byte body, 2-byte trailer.
constexpr int kRecordSize = 5 * kGates + 18;
// A version 102 HeaderBlock.
constexpr int32_t kBlockSize = 568;
// The Nyquist velocity of standard_header(): tx_frequency 91500, ipp_ns
// 40000, coherent_integrations 100.
constexpr float kNyquist = 20.478142f;

int32_t time_of(int i) { return kBase + kStep * i; }

struct Rec {
  int32_t time;
  int16_t radar = 0;
  int16_t beam = 0;
  int32_t header_offset = 0;
};

std::vector<Rec> series(int n) {
  std::vector<Rec> recs;
  for (int i = 0; i < n; ++i) recs.push_back({time_of(i)});
  return recs;
}

Bytes data_of(const std::vector<Rec>& recs, int gates = kGates) {
  Bytes data;
  for (const Rec& r : recs) {
    data.append(quellmar::test::moments_record(r.time, r.beam, gates, r.radar,
                                               r.header_offset));
  }
  return data;
}

Bytes header_of(const HeaderSpec& spec) {
  return quellmar::writer::encode_header(spec);
}

HeaderSpec named_header(const std::string& site, const std::string& radar) {
  HeaderSpec h = quellmar::test::standard_header(kGates);
  h.site_name = site;
  h.radar_name = radar;
  return h;
}

Bytes standard_header_bytes(int gates = kGates) {
  return header_of(quellmar::test::standard_header(gates));
}

// record_time of the record whose RecordHeader was read last.
int32_t current_time() {
  int32_t y, d, h, m, s;
  return pda_get_time(&y, &d, &h, &m, &s);
}

// Index of the current record in a series() file.
int current_index() { return (current_time() - kBase) / kStep; }

// Seeks to the time stamp of record i of a series() file (all on 1995-06-01).
int seek_to(int i, int* new_header) {
  const int32_t seconds = kStep * i;
  return pda_seek_time(1995, 152, seconds / 3600, seconds % 3600 / 60,
                       seconds % 60, new_header);
}

int seek_early(int* new_header) {
  return pda_seek_time(1990, 1, 0, 0, 0, new_header);
}

std::string site_name() {
  char name[32];
  pda_get_site_name(name);
  return name;
}

std::string radar_name() {
  char name[32];
  int32_t value, frequency;
  if (pda_get_radar_info(0, name, &value, &frequency) == 0) return "";
  return name;
}

// Velocity of gate g of a quellmar::test::moments_record of beam `beam`,
// decoded.
float expected_velocity(int g, int beam) {
  return static_cast<float>((100 * (g + 1) + beam) *
                            static_cast<double>(kNyquist) / 10000.0);
}

class Positioning : public testing::Test {
 protected:
  void SetUp() override { pda_reset(); }
  void TearDown() override { pda_reset(); }

  // Writes name and its header file into the scratch folder and opens the
  // pair afresh.
  int open(const std::string& name, const Bytes& header, const Bytes& data,
           int spectra = 0) {
    return quellmar::test::write_and_open_pair(dir_.path(), name, header, data,
                                               spectra);
  }
  int open_series(int n) {
    return open("d95152a.mom", standard_header_bytes(), data_of(series(n)));
  }
  std::string prefix() const { return dir_.path() + "/"; }

  TempDir dir_;
};

// Suites by what they test; all share the Positioning fixture.
using PositioningOpenNames = Positioning;
using PositioningReopen = Positioning;
using PositioningOpenFailure = Positioning;
using PositioningSeekTime = Positioning;
using PositioningNextRecord = Positioning;
using PositioningCutFile = Positioning;
using PositioningBadLength = Positioning;
using Trailer = Positioning;

// ---------------------------------------------------------------------------
// Opening: names and paths
// ---------------------------------------------------------------------------

TEST_F(PositioningOpenNames,
       DataNamePairsWithHeaderNameStartingWithLowerCaseH) {
  quellmar::test::WorkingFolder here(dir_.path());
  quellmar::writer::write_file("d02100a.mom", data_of(series(3)));
  quellmar::writer::write_file("h02100a.mom",
                               header_of(named_header("LOWER", "R")));
  // Neither of these is the header of d02100a.mom.
  quellmar::writer::write_file("H02100a.mom",
                               header_of(named_header("UPPER", "R")));
  quellmar::writer::write_file("h02100a.spc",
                               header_of(named_header("SPC", "R")));

  // An empty prefix: the names are used as they are.
  EXPECT_EQ(pda_set_file("", "d02100a.mom", 0), 1);
  EXPECT_EQ(pda_data_path(), "d02100a.mom");
  EXPECT_EQ(site_name(), "LOWER");
  EXPECT_EQ(current_time(), time_of(0));
  EXPECT_EQ(pda_current_offset(), 0);
}

TEST_F(PositioningOpenNames, UpperCaseDataNamePairsWithLowerCaseH) {
  const std::string d = dir_.path() + "/";
  quellmar::writer::write_file(d + "D02100A.MOM", data_of(series(3)));
  quellmar::writer::write_file(d + "H02100A.MOM",
                               header_of(named_header("UPPER", "R")));
  // Only the first character changes; the rest keeps its case.
  quellmar::writer::write_file(d + "h02100a.mom",
                               header_of(named_header("ALL", "R")));
  quellmar::writer::write_file(d + "h02100A.MOM",
                               header_of(named_header("LOWER", "R")));

  EXPECT_EQ(pda_set_file(d, "D02100A.MOM", 0), 1);
  EXPECT_EQ(site_name(), "LOWER");
}

TEST_F(PositioningOpenNames,
       UpperCaseDataNameWithoutLowerCaseHeaderFailsToOpen) {
  const std::string d = dir_.path() + "/";
  quellmar::writer::write_file(d + "D02100A.MOM", data_of(series(3)));
  quellmar::writer::write_file(d + "H02100A.MOM",
                               header_of(named_header("UPPER", "R")));

  EXPECT_EQ(pda_set_file(d, "D02100A.MOM", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kOpenFailed);
  EXPECT_EQ(pda_set_file_errno(), ENOENT);
}

TEST_F(PositioningOpenNames, PrefixIsNeverAltered) {
  // A prefix folder whose name begins with 'd', and beside it the folder
  // that replacing the prefix's first letter would name.
  std::filesystem::create_directory(dir_.file("dfiles"));
  std::filesystem::create_directory(dir_.file("hfiles"));
  quellmar::writer::write_file(dir_.file("dfiles/d1.mom"), data_of(series(3)));
  quellmar::writer::write_file(dir_.file("dfiles/h1.mom"),
                               header_of(named_header("RIGHT", "R")));
  quellmar::writer::write_file(dir_.file("hfiles/d1.mom"),
                               header_of(named_header("WRONG1", "R")));
  quellmar::writer::write_file(dir_.file("hfiles/h1.mom"),
                               header_of(named_header("WRONG2", "R")));

  // Absolute prefix.
  EXPECT_EQ(pda_set_file(dir_.file("dfiles") + "/", "d1.mom", 0), 1);
  EXPECT_EQ(pda_data_path(), dir_.file("dfiles/d1.mom"));
  EXPECT_EQ(site_name(), "RIGHT");

  // Relative prefix: here the prefix's own first character is a 'd'.
  pda_reset();
  quellmar::test::WorkingFolder here(dir_.path());
  EXPECT_EQ(pda_set_file("dfiles/", "d1.mom", 0), 1);
  EXPECT_EQ(pda_data_path(), "dfiles/d1.mom");
  EXPECT_EQ(site_name(), "RIGHT");
}

TEST_F(PositioningOpenNames, PathsLongerThan31CharactersWork) {
  const std::string folder =
      dir_.file("a_folder_whose_name_alone_is_longer_than_31_characters");
  std::filesystem::create_directory(folder);
  const std::string name = "d02100a_with_a_rather_long_name_of_its_own.mom";
  ASSERT_GT(name.size(), 31u);
  quellmar::test::write_pair(folder, name, header_of(named_header("LONG", "R")),
                             data_of(series(5)));

  EXPECT_EQ(pda_set_file(folder + "/", name, 0), 1);
  EXPECT_EQ(pda_data_path(), folder + "/" + name);
  EXPECT_EQ(site_name(), "LONG");
  int new_header;
  EXPECT_EQ(seek_to(3, &new_header), 1);
  EXPECT_EQ(current_index(), 3);
}

TEST_F(PositioningOpenNames, EmptyNameIsRefused) {
  EXPECT_EQ(pda_set_file(prefix(), "", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kEmptyName);
  int new_header = 7;
  EXPECT_EQ(pda_first_record(&new_header), 0);
  EXPECT_EQ(new_header, 0);
}

// ---------------------------------------------------------------------------
// Opening: the same name again, another name
// ---------------------------------------------------------------------------

TEST_F(PositioningReopen,
       OpeningStandsOnTheFirstRecordWithItsHeaderBlockLoaded) {
  std::vector<Rec> recs = series(4);
  for (Rec& r : recs) r.header_offset = kBlockSize;
  Bytes header = header_of(named_header("FIRST", "R"));
  header.append(header_of(named_header("SECOND", "R")));
  ASSERT_EQ(open("d95152a.mom", header, data_of(recs)), 1);

  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), kBlockSize);
  EXPECT_EQ(site_name(), "SECOND");
  EXPECT_EQ(pda_get_record_datacode(), 2000);
  EXPECT_EQ(pda_get_record_length(), kRecordSize);
  EXPECT_EQ(current_time(), time_of(0));
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNone);
}

TEST_F(PositioningReopen, SameNameTwiceRewindsAndReturnsZero) {
  ASSERT_EQ(open_series(30), 1);
  int new_header;
  ASSERT_EQ(seek_to(20, &new_header), 1);
  ASSERT_EQ(pda_current_offset(), 21 * kRecordSize);

  EXPECT_EQ(pda_set_file(prefix(), "d95152a.mom", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kAlreadyOpen);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), -1);

  // The next search starts at the first record and loads the HeaderBlock
  // again, although it is the one that was loaded before.
  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);
}

TEST_F(PositioningReopen, SameNameTwiceThenSeekReloadsTheHeaderBlock) {
  ASSERT_EQ(open_series(30), 1);
  int new_header;
  ASSERT_EQ(seek_to(20, &new_header), 1);
  EXPECT_EQ(new_header, 0);  // every record names the block already loaded
  ASSERT_EQ(pda_set_file(prefix(), "d95152a.mom", 0), 0);
  EXPECT_EQ(seek_to(25, &new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(current_index(), 25);
}

TEST_F(PositioningReopen, SameNameUnderAnotherPrefixOnlyRewinds) {
  // The name alone decides whether the pair is already open.
  std::filesystem::create_directory(dir_.file("other"));
  quellmar::test::write_pair(dir_.path(), "d1.mom", standard_header_bytes(),
                             data_of(series(5)));
  std::vector<Rec> other = series(5);
  for (Rec& r : other) r.time += 86400;
  quellmar::test::write_pair(dir_.file("other"), "d1.mom",
                             standard_header_bytes(), data_of(other));

  ASSERT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  int new_header;
  ASSERT_EQ(seek_to(3, &new_header), 1);
  EXPECT_EQ(pda_set_file(dir_.file("other") + "/", "d1.mom", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kAlreadyOpen);
  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(current_time(), time_of(0));  // still the first pair's data
}

TEST_F(PositioningReopen, AnotherNameOpensTheOtherPair) {
  quellmar::test::write_pair(dir_.path(), "d1.mom",
                             header_of(named_header("ONE", "R")),
                             data_of(series(5)));
  std::vector<Rec> two = series(3);
  for (Rec& r : two) r.time += 86400;
  quellmar::test::write_pair(dir_.path(), "d2.mom",
                             header_of(named_header("TWO", "R")), data_of(two));

  ASSERT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  int new_header;
  ASSERT_EQ(seek_to(4, &new_header), 1);
  EXPECT_EQ(pda_set_file(prefix(), "d2.mom", 0), 1);
  EXPECT_EQ(site_name(), "TWO");
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(current_time(), time_of(0) + 86400);
  // A seek in the second pair: 00:00 of the day before its records.
  EXPECT_EQ(seek_to(0, &new_header), 1);
  EXPECT_EQ(current_time(), time_of(0) + 86400);
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);  // all earlier
  EXPECT_EQ(current_time(), time_of(2) + 86400);
}

// ---------------------------------------------------------------------------
// Opening: failures
// ---------------------------------------------------------------------------

// No pair is open: every positioning fails and reports no new HeaderBlock.
void expect_no_pair_open() {
  int new_header = 7;
  EXPECT_EQ(pda_seek_time(1990, 1, 0, 0, 0, &new_header), 0);
  EXPECT_EQ(new_header, 0);
  new_header = 7;
  EXPECT_EQ(pda_first_record(&new_header), 0);
  EXPECT_EQ(new_header, 0);
  new_header = 7;
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(new_header, 0);
}

TEST_F(PositioningOpenFailure, MissingDataFileFailsAndLaterOpensAfresh) {
  quellmar::writer::write_file(dir_.file("h1.mom"), standard_header_bytes());

  EXPECT_EQ(pda_set_file(prefix(), "d1.mom", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kOpenFailed);
  EXPECT_EQ(pda_set_file_errno(), ENOENT);
  expect_no_pair_open();

  // The same name, once the file is there, opens (it does not merely
  // rewind).
  quellmar::writer::write_file(dir_.file("d1.mom"), data_of(series(5)));
  EXPECT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNone);
  int new_header;
  EXPECT_EQ(seek_to(2, &new_header), 1);
  EXPECT_EQ(current_index(), 2);
}

TEST_F(PositioningOpenFailure, MissingHeaderFileFailsAndAnotherNameOpens) {
  quellmar::writer::write_file(dir_.file("d1.mom"), data_of(series(5)));
  quellmar::test::write_pair(dir_.path(), "d2.mom", standard_header_bytes(),
                             data_of(series(4)));

  EXPECT_EQ(pda_set_file(prefix(), "d1.mom", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kOpenFailed);
  EXPECT_EQ(pda_set_file_errno(), ENOENT);
  expect_no_pair_open();

  EXPECT_EQ(pda_set_file(prefix(), "d2.mom", 0), 1);
  int new_header;
  EXPECT_EQ(seek_to(9, &new_header), 1);
  EXPECT_EQ(current_index(), 3);
}

TEST_F(PositioningOpenFailure, FailedOpenClosesThePreviousPair) {
  quellmar::test::write_pair(dir_.path(), "d1.mom", standard_header_bytes(),
                             data_of(series(5)));
  ASSERT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  int new_header;
  ASSERT_EQ(seek_to(3, &new_header), 1);

  EXPECT_EQ(pda_set_file(prefix(), "d9.mom", 0), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kOpenFailed);
  EXPECT_EQ(pda_set_file_errno(), ENOENT);
  expect_no_pair_open();

  // The old name opens afresh: result 1, not a rewind.
  EXPECT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNone);
  EXPECT_EQ(seek_to(1, &new_header), 1);
  EXPECT_EQ(current_index(), 1);
}

TEST_F(PositioningOpenFailure, EmptyDataFileHasNoWholeRecord) {
  EXPECT_EQ(open("d1.mom", standard_header_bytes(), Bytes()), 0);
  EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNoWholeRecord);
  expect_no_pair_open();

  // Once the file holds a record the same name opens.
  quellmar::writer::write_file(dir_.file("d1.mom"), data_of(series(2)));
  EXPECT_EQ(pda_set_file(prefix(), "d1.mom", 0), 1);
  int new_header;
  EXPECT_EQ(seek_early(&new_header), 1);
  EXPECT_EQ(current_index(), 0);
}

TEST_F(PositioningOpenFailure, DataFileCutInsideItsFirstRecordHeader) {
  const Bytes whole = data_of(series(1));
  // 1: not even the datacode; 2: datacode only; 10: inside record_time;
  // 15: inside beam_index.
  for (size_t n : {1, 2, 10, 15}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(open("d1.mom", standard_header_bytes(),
                   quellmar::writer::cut(whole, n)),
              0);
    EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNoWholeRecord);
    expect_no_pair_open();
  }
}

// ---------------------------------------------------------------------------
// Time search
// ---------------------------------------------------------------------------

TEST_F(PositioningSeekTime, EarlyTargetTakesTheFirstRecordAndItsSelection) {
  std::vector<Rec> recs = series(6);
  recs[0].radar = 1;
  recs[0].beam = 7;  // beyond beam_count 5: the seek checks nothing
  for (int i = 1; i < 6; ++i) recs[i].beam = static_cast<int16_t>(i % 5);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);

  int new_header = 7;
  EXPECT_EQ(pda_seek_time(1990, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(new_header, 0);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(selected_radar, 1);
  EXPECT_EQ(selected_beam, 7);
  EXPECT_EQ(pda_get_record_radar(), 1);
  EXPECT_EQ(pda_get_record_beam(), 7);
  // The record was decoded and the file stands on the record after it.
  ASSERT_EQ(pda_moments.gate_count, kGates);
  EXPECT_FLOAT_EQ(pda_moments.velocity[0], expected_velocity(0, 7));
  EXPECT_EQ(pda_current_offset(), kRecordSize);

  // 90 names the same year as 1990.
  ASSERT_EQ(seek_to(4, &new_header), 1);
  EXPECT_EQ(pda_seek_time(90, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(selected_radar, 1);
}

TEST_F(PositioningSeekTime, SeekSetsTheSelectionToTheRecordFound) {
  std::vector<Rec> recs = series(6);
  recs[3].radar = 0;
  recs[3].beam = 4;
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header;
  EXPECT_EQ(seek_to(3, &new_header), 1);
  EXPECT_EQ(selected_radar, 0);
  EXPECT_EQ(selected_beam, 4);
  EXPECT_FLOAT_EQ(pda_moments.velocity[0], expected_velocity(0, 4));
}

TEST_F(PositioningSeekTime, TargetEqualToARecordTimeTakesThatRecord) {
  ASSERT_EQ(open_series(60), 1);
  int new_header;
  // Forward from the first record.
  EXPECT_EQ(seek_to(17, &new_header), 1);
  EXPECT_EQ(current_index(), 17);
  EXPECT_EQ(pda_current_offset(), 18 * kRecordSize);
  // Forward again from there.
  EXPECT_EQ(seek_to(40, &new_header), 1);
  EXPECT_EQ(current_index(), 40);
  // The current record's own time.
  EXPECT_EQ(seek_to(40, &new_header), 1);
  EXPECT_EQ(current_index(), 40);
  // Backward: the pass from record 41 lands on record 20, earlier than the
  // target, and the forward scan from there stops at record 30.
  EXPECT_EQ(seek_to(30, &new_header), 1);
  EXPECT_EQ(current_index(), 30);
  // Backward onto a record of exactly the target's time.
  EXPECT_EQ(seek_to(10, &new_header), 1);
  EXPECT_EQ(current_index(), 10);
}

TEST_F(PositioningSeekTime, TargetBetweenRecordsTakesTheFirstLaterOne) {
  ASSERT_EQ(open_series(60), 1);
  int new_header;
  // 1995-06-01 00:31:00 lies between record 3 (00:30) and record 4 (00:40).
  EXPECT_EQ(pda_seek_time(1995, 152, 0, 31, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 4);
  ASSERT_EQ(seek_to(48, &new_header), 1);
  // 03:20:01: just after record 20 (03:20); backward, then forward.
  EXPECT_EQ(pda_seek_time(1995, 152, 3, 20, 1, &new_header), 1);
  EXPECT_EQ(current_index(), 21);
  // The day decides before the hour: day 151, 23:59:59 is before them all.
  EXPECT_EQ(pda_seek_time(1995, 151, 23, 59, 59, &new_header), 1);
  EXPECT_EQ(current_index(), 0);
}

TEST_F(PositioningSeekTime, TargetAfterEveryRecordTakesTheLastOne) {
  ASSERT_EQ(open_series(60), 1);
  int new_header;
  // From the first record.
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 59);
  EXPECT_EQ(pda_current_offset(), 60 * kRecordSize);
  ASSERT_EQ(pda_moments.gate_count, kGates);
  EXPECT_FLOAT_EQ(pda_moments.velocity[0], expected_velocity(0, 0));
  // From the middle, one second after the last record.
  ASSERT_EQ(seek_to(10, &new_header), 1);
  EXPECT_EQ(seek_to(59, &new_header), 1);
  const int32_t last = kStep * 59;
  EXPECT_EQ(
      pda_seek_time(1995, 152, last / 3600, last % 3600 / 60, 1, &new_header),
      1);
  EXPECT_EQ(current_index(), 59);
  // And when the last record is already current.
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 59);
}

TEST_F(PositioningSeekTime,
       BackwardSearchTakesAnEqualRecordBeforeItsEqualPeers) {
  // Records 5 to 12 share one time stamp.
  std::vector<Rec> recs = series(60);
  for (int i = 5; i <= 12; ++i) recs[i].time = time_of(5);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;

  // Forward: the first of the equal records.
  EXPECT_EQ(seek_to(5, &new_header), 1);
  EXPECT_EQ(pda_get_record_offset(), 5 * kRecordSize);

  // Backward from record 49 (the file standing on it after record 48):
  // the pass reads record 28, later, then record 8, equal, and stops there.
  ASSERT_EQ(seek_to(48, &new_header), 1);
  ASSERT_EQ(pda_current_offset(), 49 * kRecordSize);
  EXPECT_EQ(seek_to(5, &new_header), 1);
  EXPECT_EQ(pda_get_record_offset(), 8 * kRecordSize);
  EXPECT_EQ(pda_current_offset(), 9 * kRecordSize);
}

TEST_F(PositioningSeekTime, YearsFrom1900AndFullYearsNameTheSameYear) {
  const int32_t y1902_day1_noon = -2145873600;  // 1902-01-01 12:00:00
  const int32_t y2002_day1_noon = 1009886400;   // 2002-01-01 12:00:00
  const int32_t y2002_day2_noon = 1009972800;   // 2002-01-02 12:00:00
  std::vector<Rec> recs = {
      {y1902_day1_noon}, {y2002_day1_noon}, {y2002_day2_noon}};
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;

  EXPECT_EQ(pda_seek_time(2002, 1, 13, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day2_noon);
  EXPECT_EQ(pda_seek_time(102, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day1_noon);
  EXPECT_EQ(pda_seek_time(102, 1, 13, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day2_noon);
  EXPECT_EQ(pda_seek_time(2002, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day1_noon);

  // 2 is 1902, not 2002.
  EXPECT_EQ(pda_seek_time(2, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y1902_day1_noon);
  EXPECT_EQ(pda_seek_time(2002, 1, 12, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day1_noon);
  EXPECT_EQ(pda_seek_time(1902, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_time(), y1902_day1_noon);
  EXPECT_EQ(pda_seek_time(2, 1, 12, 0, 1, &new_header), 1);
  EXPECT_EQ(current_time(), y2002_day1_noon);
}

// Which RecordHeaders the backward search reads, one probe file per record.
// In each file record `probe` alone names a second HeaderBlock; all others
// name the block at offset 0. A seek to the time of record `decoded` leaves
// the file standing on the record after it, with the first block loaded;
// then a seek to a time before every record runs the backward search, which
// reports a new HeaderBlock exactly when it read the probe's RecordHeader.
class PositioningBackwardSearch : public Positioning {
 protected:
  std::set<int> records_read(int decoded) {
    std::set<int> read;
    Bytes header = standard_header_bytes();
    header.append(standard_header_bytes());
    for (int probe = 0; probe < 60; ++probe) {
      if (probe == decoded) continue;  // its block is the one loaded
      SCOPED_TRACE(probe);
      std::vector<Rec> recs = series(60);
      recs[probe].header_offset = kBlockSize;
      if (open("d1.mom", header, data_of(recs)) != 1) {
        ADD_FAILURE() << "cannot open the probe pair";
        continue;
      }
      int new_header;
      EXPECT_EQ(seek_to(decoded, &new_header), 1);
      EXPECT_EQ(current_index(), decoded);
      EXPECT_EQ(pda_current_offset(), (decoded + 1) * kRecordSize);
      EXPECT_EQ(seek_early(&new_header), 1);
      EXPECT_EQ(current_index(), 0);
      EXPECT_EQ(pda_current_offset(), kRecordSize);
      if (new_header == 1) read.insert(probe);
    }
    return read;
  }
};

TEST_F(PositioningBackwardSearch, FromRecord49ReadsRecords28And8And0Only) {
  // Record 48 decoded: the file stands on record 49.
  EXPECT_EQ(records_read(48), (std::set<int>{0, 8, 28}));
}

TEST_F(PositioningBackwardSearch, FromRecord50ReadsRecords29And9And0Only) {
  // Record 49 decoded: the file stands on record 50.
  EXPECT_EQ(records_read(49), (std::set<int>{0, 9, 29}));
}

TEST_F(PositioningBackwardSearch, ReadsRecords28Then8Then0) {
  // Record 28 names block B, record 8 block C, record 0 a block that is cut
  // after its site part, all others block A. A failed load keeps the radar
  // part of the block loaded before, so after the search the radar part
  // tells which block was loaded last before record 0 was read: C when the
  // search read 28, then 8, then 0 with no other record in between.
  Bytes header = header_of(named_header("SITE_A", "RADAR_A"));
  header.append(header_of(named_header("SITE_B", "RADAR_B")));
  header.append(header_of(named_header("SITE_C", "RADAR_C")));
  // Preamble (4 bytes), site name (32), four site values and radar_count.
  header.append(
      quellmar::writer::cut(header_of(named_header("SITE_Z", "RADAR_Z")), 46));
  std::vector<Rec> recs = series(60);
  recs[28].header_offset = kBlockSize;
  recs[8].header_offset = 2 * kBlockSize;
  recs[0].header_offset = 3 * kBlockSize;

  quellmar::test::start_capture();
  ASSERT_EQ(open("d1.mom", header, data_of(recs)), 1);
  int new_header;
  ASSERT_EQ(seek_to(48, &new_header), 1);
  ASSERT_EQ(radar_name(), "RADAR_A");
  ASSERT_EQ(pda_current_offset(), 49 * kRecordSize);
  EXPECT_EQ(seek_early(&new_header), 1);
  const std::string out = quellmar::test::stop_capture();

  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(site_name(), "SITE_Z");
  EXPECT_EQ(radar_name(), "RADAR_C");
  EXPECT_EQ(pda_get_loaded_header_offset(), 2 * kBlockSize);
  // Reported once, when the pair was opened.
  EXPECT_EQ(out.find("Header Read Error"), out.rfind("Header Read Error"));
}

TEST_F(PositioningBackwardSearch, NewHeaderReportsLoadsDuringTheSearch) {
  // Records 0 to 29 name block A, 30 to 59 block B.
  std::vector<Rec> recs = series(60);
  for (int i = 30; i < 60; ++i) recs[i].header_offset = kBlockSize;
  Bytes header = header_of(named_header("SITE_A", "R"));
  header.append(header_of(named_header("SITE_B", "R")));
  ASSERT_EQ(open("d1.mom", header, data_of(recs)), 1);
  int new_header = 7;
  EXPECT_EQ(seek_to(20, &new_header), 1);
  EXPECT_EQ(new_header, 0);
  EXPECT_EQ(seek_to(35, &new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(site_name(), "SITE_B");
  EXPECT_EQ(seek_to(50, &new_header), 1);
  EXPECT_EQ(new_header, 0);
  EXPECT_EQ(seek_to(31, &new_header), 1);  // back to 30, forward to 31
  EXPECT_EQ(new_header, 0);
  EXPECT_EQ(current_index(), 31);
  EXPECT_EQ(seek_to(5, &new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(site_name(), "SITE_A");
  EXPECT_EQ(current_index(), 5);
}

// ---------------------------------------------------------------------------
// Searching by radar and beam
// ---------------------------------------------------------------------------

// Records of radar 1 at every third place, beams cycling through 0..4.
std::vector<Rec> mixed_series(int n) {
  std::vector<Rec> recs = series(n);
  for (int i = 0; i < n; ++i) {
    recs[i].radar = static_cast<int16_t>(i % 3 == 2 ? 1 : 0);
    recs[i].beam = static_cast<int16_t>(i % 5);
  }
  return recs;
}

// Indices of the records the searches visit, each checked to be decoded.
std::vector<int> visit_rest(const std::vector<Rec>& recs) {
  std::vector<int> visited;
  int new_header;
  while (pda_next_record(&new_header) == 1) {
    const int i = current_index();
    visited.push_back(i);
    EXPECT_EQ(pda_current_offset(), (i + 1) * kRecordSize);
    if (pda_moments.gate_count != kGates) {
      ADD_FAILURE() << "record " << i << " not decoded";
    } else {
      EXPECT_FLOAT_EQ(pda_moments.velocity[0],
                      expected_velocity(0, recs[i].beam));
    }
    if (visited.size() > recs.size()) break;
  }
  return visited;
}

std::vector<int> matching(const std::vector<Rec>& recs, int from, int radar,
                          int beam) {
  std::vector<int> out;
  for (int i = from; i < static_cast<int>(recs.size()); ++i) {
    if ((radar == -1 || recs[i].radar == radar) &&
        (beam == -1 || recs[i].beam == beam)) {
      out.push_back(i);
    }
  }
  return out;
}

TEST_F(PositioningNextRecord,
       NextRecordOfRadar0AnyBeamVisitsItsRecordsInFileOrder) {
  const std::vector<Rec> recs = mixed_series(24);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;
  // As the extraction tool does: the first record, then radar 0, any beam.
  ASSERT_EQ(seek_early(&new_header), 1);
  ASSERT_EQ(current_index(), 0);
  ASSERT_EQ(pda_select_radar(0), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(visit_rest(recs), matching(recs, 1, 0, -1));
}

TEST_F(PositioningNextRecord, NextRecordOfAnyRadarAnyBeamVisitsEveryRecord) {
  const std::vector<Rec> recs = mixed_series(24);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;
  ASSERT_EQ(seek_to(5, &new_header), 1);
  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  std::vector<int> all;
  for (int i = 6; i < 24; ++i) all.push_back(i);
  EXPECT_EQ(visit_rest(recs), all);
}

TEST_F(PositioningNextRecord, NextRecordOfOneRadarAndBeam) {
  const std::vector<Rec> recs = mixed_series(24);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  ASSERT_EQ(pda_select_radar(0), 1);
  ASSERT_EQ(pda_select_beam(2), 1);
  int new_header;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  const std::vector<int> expected = matching(recs, 0, 0, 2);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(current_index(), expected[0]);
  EXPECT_EQ(visit_rest(recs),
            std::vector<int>(expected.begin() + 1, expected.end()));
}

TEST_F(PositioningNextRecord, SelectionSetBySeekIsUsedAsItIs) {
  // The seek selects radar 1, beam 7, which the selection operations would
  // refuse; the search follows it.
  std::vector<Rec> recs = series(12);
  for (int i : {0, 4, 9}) {
    recs[i].radar = 1;
    recs[i].beam = 7;
  }
  recs[6].radar = 1;  // beam 0
  recs[7].beam = 7;   // radar 0
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;
  ASSERT_EQ(seek_early(&new_header), 1);
  EXPECT_EQ(visit_rest(recs), (std::vector<int>{4, 9}));
}

TEST_F(PositioningNextRecord, AfterTheLastMatchingRecordNextRecordReturnsZero) {
  // Radar 0 up to record 20, radar 1 after it.
  std::vector<Rec> recs = series(24);
  for (int i = 0; i < 24; ++i) {
    recs[i].beam = static_cast<int16_t>(i % 5);
    if (i > 20) recs[i].radar = 1;
  }
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  int new_header;
  ASSERT_EQ(seek_to(20, &new_header), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  ASSERT_EQ(selected_radar, 0);

  EXPECT_EQ(pda_next_record(&new_header), 0);
  // The data ran out: the file stands at the end of the last whole record,
  // the record state is that of the last RecordHeader read, and the arrays
  // still hold record 20.
  EXPECT_EQ(pda_current_offset(), 24 * kRecordSize);
  EXPECT_EQ(current_index(), 23);
  EXPECT_EQ(pda_get_record_radar(), 1);
  ASSERT_EQ(pda_moments.gate_count, kGates);
  EXPECT_FLOAT_EQ(pda_moments.velocity[0], expected_velocity(0, 0));

  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 24 * kRecordSize);
}

TEST_F(PositioningNextRecord, AfterTheLastRecordNextRecordReturnsZero) {
  ASSERT_EQ(open_series(10), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(visit_rest(series(10)),
            (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 10 * kRecordSize);
  EXPECT_EQ(current_index(), 9);
}

TEST_F(PositioningNextRecord, FirstRecordRewindsAndReloadsTheHeaderBlock) {
  std::vector<Rec> recs = mixed_series(12);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data_of(recs)), 1);
  ASSERT_EQ(pda_get_loaded_header_offset(), 0);
  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header = 7;
  // The block is loaded already, but the rewind forgets it.
  EXPECT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(pda_current_offset(), kRecordSize);
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(new_header, 0);
  EXPECT_EQ(current_index(), 1);

  // From the end of the file, the first record of radar 0 and beam 3.
  ASSERT_EQ(seek_to(11, &new_header), 1);
  ASSERT_EQ(pda_select_radar(0), 1);
  ASSERT_EQ(pda_select_beam(3), 1);
  EXPECT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(current_index(), matching(recs, 0, 0, 3).at(0));

  // A selection that no record matches: the data run out.
  std::vector<Rec> none = series(5);
  ASSERT_EQ(open("d2.mom", standard_header_bytes(), data_of(none)), 1);
  ASSERT_EQ(pda_select_beam(4), 1);
  EXPECT_EQ(pda_first_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 5 * kRecordSize);
}

TEST_F(PositioningNextRecord, NextRecordReportsAHeaderBlockLoadedOnTheWay) {
  // Records 0 to 9 name block A, 10 to 19 block B; beams cycle 0..4.
  std::vector<Rec> recs = series(20);
  for (int i = 0; i < 20; ++i) {
    recs[i].beam = static_cast<int16_t>(i % 5);
    if (i >= 10) recs[i].header_offset = kBlockSize;
  }
  Bytes header = header_of(named_header("SITE_A", "R"));
  header.append(header_of(named_header("SITE_B", "R")));
  ASSERT_EQ(open("d1.mom", header, data_of(recs)), 1);
  ASSERT_EQ(pda_select_beam(3), 1);
  int new_header;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  ASSERT_EQ(current_index(), 3);
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(current_index(), 8);
  EXPECT_EQ(new_header, 0);
  // Passes record 10, which loads block B, and stops at 13.
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(current_index(), 13);
  EXPECT_EQ(new_header, 1);
  EXPECT_EQ(site_name(), "SITE_B");
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(current_index(), 18);
  EXPECT_EQ(new_header, 0);
}

// ---------------------------------------------------------------------------
// Cut files
// ---------------------------------------------------------------------------

constexpr int kCutGates = 4;
constexpr int kCutRecordSize = 5 * kCutGates + 18;
// Gates 0 and 1 whole, the velocity of gate 2, nothing more.
constexpr int kCutAt = 16 + 5 * 2 + 2;

Bytes cut_series(const std::vector<Rec>& recs) {
  Bytes data = data_of(recs, kCutGates);
  data.truncate(kCutRecordSize * (recs.size() - 1) + kCutAt);
  return data;
}

// The decode of a quellmar::test::moments_record of beam `beam` cut at kCutAt.
void expect_cut_record_decoded(int beam, const std::string& out) {
  const std::string message = "\ndisk: datacode x0xx Read error 0\n";
  EXPECT_NE(out.find(message), std::string::npos) << out;
  EXPECT_EQ(out.find(message), out.rfind(message)) << out;
  const MomentArrays& a = pda_moments;
  ASSERT_EQ(a.gate_count, kCutGates);
  for (int g = 0; g < 2; ++g) {
    EXPECT_FLOAT_EQ(a.velocity[g], expected_velocity(g, beam));
    EXPECT_FLOAT_EQ(
        a.width[g],
        static_cast<float>((10 + g) * static_cast<double>(kNyquist) / 100.0));
    EXPECT_EQ(a.snr[g], g - 5);
    EXPECT_EQ(a.noise[g], -40 - g);
  }
  // Gate 2: the velocity was read whole; the fields cut away count as 0.
  EXPECT_FLOAT_EQ(a.velocity[2], expected_velocity(2, beam));
  EXPECT_EQ(a.width[2], 0.0f);
  EXPECT_EQ(a.snr[2], 0.0f);
  EXPECT_EQ(a.noise[2], 0.0f);
  EXPECT_EQ(a.velocity[3], 0.0f);
  EXPECT_EQ(a.noise[3], 0.0f);
}

TEST_F(PositioningCutFile, PairWhoseOnlyRecordIsCutInItsBodyOpens) {
  const std::vector<Rec> recs = {{time_of(0), 0, 2}};
  ASSERT_EQ(open("d1.mom", standard_header_bytes(kCutGates), cut_series(recs)),
            1);
  EXPECT_EQ(pda_current_offset(), 0);
  EXPECT_EQ(current_time(), time_of(0));

  int new_header;
  quellmar::test::start_capture();
  EXPECT_EQ(seek_early(&new_header), 1);
  std::string out = quellmar::test::stop_capture();
  EXPECT_EQ(current_time(), time_of(0));
  EXPECT_EQ(selected_beam, 2);
  expect_cut_record_decoded(2, out);

  // The same from the other searches.
  quellmar::test::start_capture();
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  out = quellmar::test::stop_capture();
  EXPECT_EQ(current_time(), time_of(0));
  expect_cut_record_decoded(2, out);

  quellmar::test::start_capture();
  EXPECT_EQ(pda_first_record(&new_header), 1);
  out = quellmar::test::stop_capture();
  EXPECT_EQ(current_time(), time_of(0));
  expect_cut_record_decoded(2, out);
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_next_record(&new_header), 0);
}

TEST_F(PositioningCutFile, NextRecordFindsACutLastRecord) {
  std::vector<Rec> recs = series(4);
  for (int i = 0; i < 4; ++i) recs[i].beam = static_cast<int16_t>(i);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(kCutGates), cut_series(recs)),
            1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header;
  ASSERT_EQ(pda_first_record(&new_header), 1);
  ASSERT_EQ(pda_next_record(&new_header), 1);
  ASSERT_EQ(pda_next_record(&new_header), 1);
  ASSERT_EQ(current_index(), 2);

  quellmar::test::start_capture();
  EXPECT_EQ(pda_next_record(&new_header), 1);
  const std::string out = quellmar::test::stop_capture();
  EXPECT_EQ(current_index(), 3);
  EXPECT_EQ(pda_get_record_offset(), 3 * kCutRecordSize);
  expect_cut_record_decoded(3, out);

  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_next_record(&new_header), 0);

  // A seek past every record takes the cut record too, and an early seek
  // still finds the first record.
  quellmar::test::start_capture();
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  quellmar::test::stop_capture();
  EXPECT_EQ(current_index(), 3);
  EXPECT_EQ(seek_early(&new_header), 1);
  EXPECT_EQ(current_index(), 0);
}

TEST_F(PositioningCutFile, SeekFromTheStartFindsACutLastRecord) {
  std::vector<Rec> recs = series(4);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(kCutGates), cut_series(recs)),
            1);
  int new_header;
  quellmar::test::start_capture();
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  const std::string out = quellmar::test::stop_capture();
  EXPECT_EQ(current_index(), 3);
  expect_cut_record_decoded(0, out);
}

TEST_F(PositioningCutFile, SearchEndsInsideTheFileAtACutRecordOfAnotherRadar) {
  std::vector<Rec> recs = series(4);
  recs[3].radar = 1;
  const Bytes data = cut_series(recs);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(kCutGates), data), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header;
  ASSERT_EQ(seek_to(2, &new_header), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  ASSERT_EQ(selected_radar, 0);

  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_LE(pda_current_offset(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_LE(pda_current_offset(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(seek_to(1, &new_header), 1);
  EXPECT_EQ(current_index(), 1);
}

TEST_F(PositioningCutFile, RecordHeaderCutAtTheEndOfTheFile) {
  // Three whole records and the first ten bytes of a fourth.
  Bytes data = data_of(series(4));
  data.truncate(3 * kRecordSize + 10);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  int new_header;
  ASSERT_EQ(seek_to(2, &new_header), 1);
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 3 * kRecordSize);
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 3 * kRecordSize);

  // Every whole record is earlier than the target: the last whole one.
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 2);
  EXPECT_EQ(pda_current_offset(), 3 * kRecordSize);
}

// ---------------------------------------------------------------------------
// Damaged lengths
// ---------------------------------------------------------------------------

TEST_F(PositioningBadLength, RecordTooShortToStepOverEndsTheSearches) {
  Bytes data = data_of(series(40));
  data.patch_i16(30 * kRecordSize + 2, 5);  // record 30's length
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
  int new_header;

  quellmar::test::start_capture();
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  std::string out = quellmar::test::stop_capture();
  EXPECT_EQ(current_index(), 29);
  EXPECT_EQ(pda_current_offset(), 30 * kRecordSize);
  EXPECT_NE(out.find("disk: bad record length 5 at offset 690\n"),
            std::string::npos)
      << out;

  ASSERT_EQ(pda_select_beam(-1), 1);
  quellmar::test::start_capture();
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 30 * kRecordSize);
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_current_offset(), 30 * kRecordSize);
  quellmar::test::stop_capture();

  EXPECT_EQ(seek_to(3, &new_header), 1);
  EXPECT_EQ(current_index(), 3);
}

TEST_F(PositioningBadLength, RecordLengthReachingPastTheEndOfTheFile) {
  // Record 30 claims 30000 bytes: walking forward, it is the last record,
  // cut short.
  Bytes data = data_of(series(40));
  data.patch_i16(30 * kRecordSize + 2, 30000);
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
  int new_header;
  EXPECT_EQ(pda_seek_time(2030, 1, 0, 0, 0, &new_header), 1);
  EXPECT_EQ(current_index(), 30);
  EXPECT_EQ(pda_get_record_offset(), 30 * kRecordSize);

  ASSERT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(pda_next_record(&new_header), 0);
  EXPECT_EQ(pda_next_record(&new_header), 0);

  // Back from there, the records before it are found again.
  EXPECT_EQ(seek_early(&new_header), 1);
  EXPECT_EQ(current_index(), 0);
  ASSERT_EQ(seek_to(28, &new_header), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(current_index(), 29);
  EXPECT_EQ(pda_next_record(&new_header), 1);
  EXPECT_EQ(current_index(), 30);
  EXPECT_EQ(pda_next_record(&new_header), 0);
}

// ---------------------------------------------------------------------------
// Trailers: the length repeated after each record, read on every step back
// ---------------------------------------------------------------------------

// Three layout M records of four gates (38 bytes each) at times 0, 1, 2 of
// a series, beams 0, 1, 2, the second record's trailer set to `trailer`.
Bytes three_records_second_trailer(int16_t trailer) {
  Bytes second = quellmar::test::moments_record(time_of(1), 1, 4);
  second.patch_i16(second.size() - 2, trailer);
  return quellmar::test::join(
      {quellmar::test::moments_record(time_of(0), 0, 4), second,
       quellmar::test::moments_record(time_of(2), 2, 4)});
}

// A layout N record (datacode 3000, 4-byte length and trailer) with an
// empty body: 28 bytes.
Bytes layout_n_record(int32_t time) {
  quellmar::writer::RecordSpec r;
  r.layout = quellmar::writer::Layout::N;
  r.datacode = 3000;
  r.record_time = time;
  return quellmar::writer::encode_record(r);
}

// The step back from 76 goes over the second record's trailer. A trailer
// below the smallest record (18), zero, negative or reaching before the
// start of the file gives -2 and moves nothing, neither the position nor
// the data file; the walk of the tool then finds the first record only.
// A plausible trailer is followed, whatever record it lands on.
TEST_F(Trailer, TwoByteTrailerIsCheckedOnTheStepBack) {
  struct Case {
    int16_t trailer;
    int result;
    int64_t landing;
  };
  for (const Case& c : {Case{17, -2, 76}, Case{-5, -2, 76}, Case{-38, -2, 76},
                        Case{0, -2, 76}, Case{77, -2, 76}, Case{32767, -2, 76},
                        Case{18, 0, 58}, Case{76, 0, 0}, Case{38, 0, 38}}) {
    SCOPED_TRACE(c.trailer);
    const Bytes data = three_records_second_trailer(c.trailer);
    ASSERT_EQ(open("d1.mom", standard_header_bytes(4), data), 1);
    ASSERT_EQ(pda_skip_records(3), 0);  // over the first two records
    ASSERT_EQ(pda_current_offset(), 76);
    EXPECT_EQ(pda_skip_records(0), c.result);
    EXPECT_EQ(pda_current_offset(), c.landing);
    if (c.result == 0) continue;
    int new_header;
    EXPECT_EQ(pda_read_record_header(&new_header), 0);
    EXPECT_EQ(current_time(), time_of(2));

    ASSERT_EQ(quellmar::test::open_pair(dir_.path(), "d1.mom", 0), 1);
    EXPECT_EQ(seek_early(&new_header), 1);
    EXPECT_EQ(current_index(), 0);
    pda_select_radar(0);
    pda_select_beam(-1);
    EXPECT_EQ(pda_next_record(&new_header), 0);
  }
}

// Layouts N and S carry 4-byte trailers, checked alike: layout N records of
// 28 bytes, the step back from 56 over the second one's trailer.
TEST_F(Trailer, FourByteTrailerIsCheckedOnTheStepBack) {
  struct Case {
    int32_t trailer;
    int result;
    int64_t landing;
  };
  for (const Case& c : {Case{21, -2, 56}, Case{-28, -2, 56}, Case{57, -2, 56},
                        Case{22, 0, 34}, Case{56, 0, 0}}) {
    SCOPED_TRACE(c.trailer);
    Bytes data = quellmar::test::join({layout_n_record(time_of(0)),
                                       layout_n_record(time_of(1)),
                                       layout_n_record(time_of(2))});
    data.patch_i32(52, c.trailer);
    ASSERT_EQ(open("d1.mom", standard_header_bytes(4), data), 1);
    ASSERT_EQ(pda_skip_records(3), 0);
    ASSERT_EQ(pda_current_offset(), 56);
    EXPECT_EQ(pda_skip_records(0), c.result);
    EXPECT_EQ(pda_current_offset(), c.landing);
    if (c.result != 0) {
      int new_header;
      EXPECT_EQ(pda_read_record_header(&new_header), 0);
      EXPECT_EQ(current_time(), time_of(2));
    }
  }
}

// Opening steps back over the first record once it is read: a trailer that
// cannot be stepped back over leaves the pair without a whole first record.
TEST_F(Trailer, FirstRecordsTrailerIsCheckedAtOpening) {
  for (int16_t trailer : {0, 17, -38, 39, 32767}) {
    SCOPED_TRACE(trailer);
    Bytes first = quellmar::test::moments_record(time_of(0), 0, 4);
    first.patch_i16(first.size() - 2, trailer);
    const Bytes data = quellmar::test::join(
        {first, quellmar::test::moments_record(time_of(1), 1, 4)});
    EXPECT_EQ(open("d1.mom", standard_header_bytes(4), data), 0);
    EXPECT_EQ(pda_set_file_failure(), SetFileFailure::kNoWholeRecord);
  }
}

void patch_trailer(Bytes& data, int record, int16_t value) {
  data.patch_i16(static_cast<size_t>((record + 1) * kRecordSize - 2), value);
}

TEST_F(Trailer, ImplausibleTrailerStopsTheBackwardSearch) {
  // Stepping back from record 49 meets record 40's trailer on its ninth
  // step; a trailer that points before the start of the file or that is
  // shorter than any record stops the pass there, on record 41.
  for (int16_t trailer :
       {int16_t{30000}, int16_t{0}, int16_t{-23}, int16_t{kRecordSize - 6}}) {
    SCOPED_TRACE(trailer);
    Bytes data = data_of(series(60));
    patch_trailer(data, 40, trailer);
    ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
    int new_header;
    ASSERT_EQ(seek_to(48, &new_header), 1);
    EXPECT_EQ(seek_early(&new_header), 1);
    EXPECT_EQ(current_index(), 41);
    EXPECT_EQ(pda_current_offset(), 42 * kRecordSize);
  }
}

TEST_F(Trailer, TrailerPointingToTheStartIsFollowed) {
  Bytes data = data_of(series(60));
  patch_trailer(data, 40, static_cast<int16_t>(41 * kRecordSize));
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
  int new_header;
  ASSERT_EQ(seek_to(48, &new_header), 1);
  EXPECT_EQ(seek_early(&new_header), 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(pda_current_offset(), kRecordSize);
}

TEST_F(Trailer, BackwardPassThatDoesNotMoveBackEnds) {
  // Record 18 carries, inside its body, the bytes of a RecordHeader whose
  // length reaches exactly to record 40; record 19's trailer points back
  // onto that hidden RecordHeader. Walking forward never meets it. From
  // record 40, twenty steps back reach record 20 and the twenty-first lands
  // on the hidden RecordHeader, after which the pass ends where it began:
  // repeating it would never end.
  const int64_t record_18 = 18 * kRecordSize;
  // Record 18: overrides (its length exceeds 5 * G + 18), one gate, then
  // the hidden RecordHeader.
  quellmar::writer::BodySpec gate;
  gate.datacode = 2000;
  gate.moments.resize(1);
  quellmar::writer::RecordSpec hidden;
  hidden.datacode = 2000;
  hidden.layout = quellmar::writer::Layout::M;
  hidden.record_time = time_of(18);
  hidden.has_overrides = true;
  hidden.omit_trailer = true;
  quellmar::writer::RecordSpec big;
  big.datacode = 2000;
  big.layout = quellmar::writer::Layout::M;
  big.record_time = time_of(18);
  big.has_overrides = true;
  big.body = quellmar::writer::encode_body(gate);
  const int64_t hidden_at = record_18 + 20 + 5;
  const int64_t record_19 = hidden_at + 20 + 2;
  const int64_t record_20 = record_19 + kRecordSize;
  const int64_t record_40 = record_20 + 20 * kRecordSize;
  hidden.record_length = static_cast<int32_t>(record_40 - hidden_at);
  big.body.append(quellmar::writer::encode_record(hidden));
  const Bytes big_bytes = quellmar::writer::encode_record(big);
  ASSERT_EQ(static_cast<int64_t>(big_bytes.size()), record_19 - record_18);

  Bytes data;
  for (int i = 0; i < 45; ++i) {
    if (i == 18) {
      data.append(big_bytes);
      continue;
    }
    Bytes r = quellmar::test::moments_record(time_of(i), 0, kGates);
    if (i == 19) {
      r.patch_i16(r.size() - 2, static_cast<int16_t>(record_20 - hidden_at));
    }
    data.append(r);
  }
  ASSERT_EQ(open("d1.mom", standard_header_bytes(), data), 1);
  int new_header;
  ASSERT_EQ(seek_to(39, &new_header), 1);
  ASSERT_EQ(current_index(), 39);
  ASSERT_EQ(pda_current_offset(), record_40);

  EXPECT_EQ(seek_early(&new_header), 1);
  EXPECT_GE(pda_get_record_offset(), 0);
  EXPECT_LT(pda_get_record_offset(), static_cast<int64_t>(data.size()));
  EXPECT_LE(pda_current_offset(), static_cast<int64_t>(data.size()));

  // The walk forward is unharmed.
  ASSERT_EQ(pda_select_beam(-1), 1);
  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(current_index(), 0);
  EXPECT_EQ(seek_to(30, &new_header), 1);
  EXPECT_EQ(current_index(), 30);
}

}  // namespace
