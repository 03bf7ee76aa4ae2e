// What the access module keeps of the problems it meets (pda_get_problem)
// and the trailer query, through the public operations: each kind of damage
// gives its own code, the offset of the record concerned and its value,
// beside the message printed as before.

#include <gtest/gtest.h>

#include <string>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

using quellmar::test::TempDir;
using quellmar::writer::Bytes;

constexpr int32_t kT0 = 1020384000 + 3600;  // 2002-05-03 01:00:00 UTC
const std::string kName = "d02123a.mom";

struct Problem {
  int found = 0;
  DiskProblem code = DiskProblem::kNone;
  int64_t offset = -1;
  int64_t value = 0;
};

Problem problem() {
  Problem p;
  p.found = pda_get_problem(&p.code, &p.offset, &p.value);
  return p;
}

Bytes header() {
  return quellmar::writer::encode_header(
      quellmar::test::standard_header(4, 64));
}

// Walks the records of the open pair, reading RecordHeaders only; the
// status of the read that ended the walk.
int walk() {
  int new_header = 0;
  for (;;) {
    const int status = pda_read_record_header(&new_header);
    if (status != 0) return status;
    pda_advance_record();
  }
}

TEST(DiskProblems, EachDamageGivesItsCodeOffsetAndValue) {
  const Bytes one = quellmar::test::moments_record(kT0, 0, 4);
  const int64_t second = static_cast<int64_t>(one.size());
  TempDir dir;

  // A whole file: no problem, and the walk ends cleanly.
  quellmar::test::write_pair(dir.path(), kName, header(),
                             quellmar::test::join({one, one}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  EXPECT_EQ(walk(), 1);
  EXPECT_EQ(problem().found, 0);

  // A second record whose length is below the smallest record.
  quellmar::writer::RecordSpec bad;
  bad.datacode = 2000;
  bad.record_length = 5;
  quellmar::test::write_pair(
      dir.path(), kName, header(),
      quellmar::test::join({one, quellmar::writer::encode_record(bad)}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  quellmar::test::start_capture();
  EXPECT_LT(walk(), 0);
  EXPECT_EQ(
      quellmar::test::stop_capture(),
      "disk: bad record length 5 at offset " + std::to_string(second) + "\n");
  Problem p = problem();
  EXPECT_EQ(p.found, 1);
  EXPECT_EQ(p.code, DiskProblem::kBadRecordLength);
  EXPECT_EQ(p.offset, second);
  EXPECT_EQ(p.value, 5);

  // A file that ends six bytes into the second RecordHeader.
  quellmar::test::write_pair(
      dir.path(), kName, header(),
      quellmar::test::join({one, quellmar::writer::cut(one, 6)}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  EXPECT_LT(walk(), 0);
  p = problem();
  EXPECT_EQ(p.code, DiskProblem::kCutRecordHeader);
  EXPECT_EQ(p.offset, second);

  // A second record naming a HeaderBlock past the end of the header file.
  quellmar::writer::RecordSpec far;
  far.datacode = 2000;
  far.record_time = kT0 + 60;
  far.header_offset = 4000;
  quellmar::test::write_pair(
      dir.path(), kName, header(),
      quellmar::test::join({one, quellmar::writer::encode_record(far)}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  quellmar::test::start_capture();
  EXPECT_EQ(walk(), 1);
  EXPECT_NE(quellmar::test::stop_capture().find("Header Read Error"),
            std::string::npos);
  p = problem();
  EXPECT_EQ(p.code, DiskProblem::kHeaderReadError);
  EXPECT_EQ(p.offset, second);
  EXPECT_EQ(p.value, 4000);
  pda_clear_problem();
  EXPECT_EQ(problem().found, 0);
}

TEST(DiskProblems, FirstMomentSetCutIsKeptWithItsRecord) {
  const Bytes one = quellmar::test::moments_record(kT0, 0, 4);
  TempDir dir;
  // The second record ends 20 bytes in, inside its first moment set.
  quellmar::test::write_pair(
      dir.path(), kName, header(),
      quellmar::test::join({one, quellmar::writer::cut(one, 20)}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  int new_header = 0;
  quellmar::test::start_capture();
  ASSERT_EQ(pda_first_record(&new_header), 1);
  EXPECT_EQ(problem().found, 0);
  pda_release_moments();
  ASSERT_EQ(pda_next_record(&new_header), 1);
  pda_release_moments();
  EXPECT_EQ(quellmar::test::stop_capture(),
            "\ndisk: datacode x0xx Read error 0\n");
  const Problem p = problem();
  EXPECT_EQ(p.code, DiskProblem::kMomentsCut);
  EXPECT_EQ(p.offset, static_cast<int64_t>(one.size()));
}

// The messages go where the program sends them: nowhere, a stream of its
// own, or standard output again, byte for byte the same; the problem is
// kept whichever way they go.
TEST(DiskProblems, MessagesGoWhereTheProgramSendsThem) {
  const Bytes one = quellmar::test::moments_record(kT0, 0, 4);
  quellmar::writer::RecordSpec bad;
  bad.datacode = 2000;
  bad.record_length = 5;
  TempDir dir;
  quellmar::test::write_pair(
      dir.path(), kName, header(),
      quellmar::test::join({one, quellmar::writer::encode_record(bad)}));
  const std::string expected = "disk: bad record length 5 at offset " +
                               std::to_string(one.size()) + "\n";

  std::FILE* own = std::tmpfile();
  ASSERT_NE(own, nullptr);
  for (std::FILE* stream : {static_cast<std::FILE*>(nullptr), own, stdout}) {
    pda_set_message_stream(stream);
    ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
    quellmar::test::start_capture();
    EXPECT_LT(walk(), 0);
    EXPECT_EQ(quellmar::test::stop_capture(), stream == stdout ? expected : "");
    EXPECT_EQ(problem().code, DiskProblem::kBadRecordLength);
  }
  std::rewind(own);
  char text[128] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, own), expected.size());
  EXPECT_EQ(std::string(text), expected);
  std::fclose(own);
}

TEST(DiskProblems, TrailerIsReadWithoutMovingTheCurrentRecord) {
  const Bytes one = quellmar::test::moments_record(kT0, 0, 4);
  const int32_t length = static_cast<int32_t>(one.size());
  quellmar::writer::RecordSpec odd;
  odd.datacode = 2000;
  odd.record_time = kT0 + 60;
  odd.trailer = 77;
  const Bytes second = quellmar::writer::encode_record(odd);
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header(),
                             quellmar::test::join({one, second}));
  ASSERT_EQ(quellmar::test::open_pair(dir.path(), kName, 0), 1);
  int new_header = 0;
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  const int64_t before = pda_current_offset();
  int32_t value = 0;
  EXPECT_EQ(pda_read_record_trailer(0, length, 2, &value), 1);
  EXPECT_EQ(value, length);
  EXPECT_EQ(pda_read_record_trailer(length, static_cast<int32_t>(second.size()),
                                    2, &value),
            1);
  EXPECT_EQ(value, 77);
  // Past the end of the file, and a width that is not 2 or 4.
  EXPECT_EQ(pda_read_record_trailer(length, 1000, 2, &value), 0);
  EXPECT_EQ(pda_read_record_trailer(0, length, 3, &value), 0);
  EXPECT_EQ(pda_current_offset(), before);
  pda_advance_record();
  ASSERT_EQ(pda_read_record_header(&new_header), 0);
  EXPECT_EQ(pda_get_record_offset(), length);
}

}  // namespace
