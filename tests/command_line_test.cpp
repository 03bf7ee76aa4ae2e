// Command line: argument check, date from the name, stop time and the
// spectra flag, through parse_command_line and through the binary.

#include "tool/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "disk/pda.h"
#include "tests/test_support.h"

namespace {

using quellmar::tool::parse_command_line;
using quellmar::tool::RunRequest;

int parse(const std::string& name, RunRequest* r) {
  const char* argv[] = {"quellmar", name.c_str()};
  quellmar::test::start_capture();
  const int status = parse_command_line(2, argv, r);
  quellmar::test::stop_capture();
  return status;
}

int64_t utc(int year, int month, int day) {
  return pda_seconds_from_date(year, month, day, 0, 0, 0);
}

}  // namespace

TEST(CommandLine, TwoDigitYearAndStopTime) {
  RunRequest r;
  ASSERT_EQ(parse("d02123a.mom", &r), 0);
  EXPECT_EQ(r.name_year, 102);
  EXPECT_EQ(r.name_day, 123);
  EXPECT_EQ(r.stop_time, utc(2002, 5, 5));
  EXPECT_FALSE(r.spectra_input);
  EXPECT_EQ(r.directory, "");
  EXPECT_EQ(r.file_name, "d02123a.mom");
}

TEST(CommandLine, UpperCaseLetterAndNineteenHundreds) {
  RunRequest r;
  ASSERT_EQ(parse("D99001A.MOM", &r), 0);
  EXPECT_EQ(r.name_year, 99);
  EXPECT_EQ(r.name_day, 1);
  EXPECT_EQ(r.stop_time, utc(1999, 1, 3));
  EXPECT_FALSE(r.spectra_input);
}

TEST(CommandLine, ThreeDigitYearWhenLetterIsNotAtSix) {
  RunRequest r;
  ASSERT_EQ(parse("d102123a.spc", &r), 0);
  EXPECT_EQ(r.name_year, 102);
  EXPECT_EQ(r.name_day, 123);
  EXPECT_TRUE(r.spectra_input);
}

TEST(CommandLine, StopTimeCarriesAcrossTheYearEnd) {
  RunRequest r;
  ASSERT_EQ(parse("d02364a.mom", &r), 0);
  EXPECT_EQ(r.stop_time, utc(2003, 1, 1));
  ASSERT_EQ(parse("d02365a.mom", &r), 0);
  EXPECT_EQ(r.stop_time, utc(2003, 1, 2));
  ASSERT_EQ(parse("d00366a.mom", &r), 0);  // 2000 is a leap year
  EXPECT_EQ(r.stop_time, utc(2001, 1, 2));
  EXPECT_EQ(pda_stop_time_for(102, 0), utc(2002, 1, 2));
  EXPECT_EQ(pda_stop_time_for(102, -3), utc(2001, 12, 30));
  // Years far outside 1970..2037 still order correctly.
  EXPECT_EQ(pda_stop_time_for(-50, 1), utc(1850, 1, 3));
  EXPECT_EQ(pda_stop_time_for(500, 1), utc(2400, 1, 3));
}

TEST(CommandLine, SpectraSuffixIsExactlySpcOrSPC) {
  EXPECT_TRUE(pda_is_spectra_name("d02123a.spc"));
  EXPECT_TRUE(pda_is_spectra_name("D02123A.SPC"));
  EXPECT_FALSE(pda_is_spectra_name("d02123a.Spc"));
  EXPECT_FALSE(pda_is_spectra_name("d02123a.mom"));
  EXPECT_FALSE(pda_is_spectra_name("pc"));
  EXPECT_TRUE(pda_is_spectra_name("spc"));
}

TEST(CommandLine, DirectoryPartIsSplitOff) {
  RunRequest r;
  ASSERT_EQ(parse("data/archive/d02123a.spc", &r), 0);
  EXPECT_EQ(r.directory, "data/archive/");
  EXPECT_EQ(r.file_name, "d02123a.spc");
  EXPECT_EQ(r.name_year, 102);
  EXPECT_EQ(r.name_day, 123);
  EXPECT_TRUE(r.spectra_input);
}

TEST(CommandLineBinary, WrongArgumentCountPrintsUsage) {
  quellmar::test::TempDir dir;
  for (const auto& args : {std::vector<std::string>{},
                           std::vector<std::string>{"d02123a.mom", "x"}}) {
    const quellmar::test::RunResult r =
        quellmar::test::run_tool(dir.path(), args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Usage: Quellmar d*.[mom|spc]\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLineBinary, NameWithoutLetterA) {
  quellmar::test::TempDir dir;
  quellmar::test::RunResult r =
      quellmar::test::run_tool(dir.path(), {"d02123b.mom"});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "Did not find A|a in file name: d02123b.mom\n");
  EXPECT_EQ(r.err, "");
  // An 'a' in the directory part does not count.
  r = quellmar::test::run_tool(dir.path(), {"data/d02123b.mom"});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "Did not find A|a in file name: data/d02123b.mom\n");
}

TEST(CommandLineBinary, UnreadableDateIsRefusedBeforeOpening) {
  quellmar::test::TempDir dir;
  const quellmar::test::RunResult r =
      quellmar::test::run_tool(dir.path(), {"dxyza.mom"});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "Cannot read the date from file name: dxyza.mom\n");
  EXPECT_EQ(r.err, "");
}

// The opening message names the file that would not open, with the folder
// as given; a header file given in place of its data file gets the name to
// give instead.
TEST(CommandLineBinary, OpeningFailuresNameTheFile) {
  quellmar::test::TempDir dir;
  quellmar::test::RunResult r =
      quellmar::test::run_tool(dir.path(), {"d02123a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: d02123a.mom: No such file or "
            "directory\n");

  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      quellmar::test::moments_record(1020470400, 0, 4));
  r = quellmar::test::run_tool(dir.path(), {"H02123a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: H02123a.mom: No such file or "
            "directory\nThis is a header file; give its data file "
            "D02123a.mom\n");
  r = quellmar::test::run_tool(dir.path(), {"./h02123a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "disk: bad record length 0 at offset 0\n");
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: no complete record in "
            "./h02123a.mom\nThis is a header file; give its data file "
            "./d02123a.mom\n");
}

// --help and --version answer with status 0 and write no file; neither
// can be a data-file name, which holds an 'a'.
TEST(CommandLineBinary, HelpAndVersion) {
  quellmar::test::TempDir dir;
  quellmar::test::RunResult r =
      quellmar::test::run_tool(dir.path(), {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: quellmar d*.[mom|spc]\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(r.err, "");
  r = quellmar::test::run_tool(dir.path(), {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("quellmar ") + QUELLMAR_VERSION + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
