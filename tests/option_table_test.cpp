// The companion programs' command lines, declared once in an option table
// (programs/cli/option_table.h): --version, a --help that explains every
// option with its default, the two lines of a wrong command line, and the
// site's position taking the same values in every program.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using quellmar::test::run_program;
using quellmar::test::RunResult;

struct Program {
  const char* name;
  const char* binary;
};

std::vector<Program> companions() {
  std::vector<Program> all = {{"quellmar-info", QUELLMAR_INFO_BINARY}};
#ifdef QUELLMAR_NC_BINARY
  all.push_back({"quellmar-nc", QUELLMAR_NC_BINARY});
  all.push_back({"quellmar-moments", QUELLMAR_MOMENTS_BINARY});
  all.push_back({"quellmar-wind", QUELLMAR_WIND_BINARY});
  all.push_back({"quellmar-rass", QUELLMAR_RASS_BINARY});
#endif
  return all;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The entries of --help: each option line ("  -x ...", "  --name ...")
// with the lines that continue it (after two spaces).
std::vector<std::string> help_entries(const std::string& help) {
  std::vector<std::string> entries;
  for (const std::string& line : lines_of(help)) {
    if (line.rfind("  -", 0) == 0) {
      entries.push_back(line);
    } else if (!entries.empty() && line.rfind("    ", 0) == 0) {
      entries.back() += "  " + line.substr(line.find_first_not_of(' '));
    }
  }
  return entries;
}

TEST(OptionTable, EveryCompanionAnswersVersionWithTheProjectVersion) {
  quellmar::test::TempDir dir;
  for (const Program& p : companions()) {
    SCOPED_TRACE(p.name);
    const RunResult r = run_program(p.binary, dir.path(), {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              std::string(p.name) + " (quellmar) " + QUELLMAR_VERSION + "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(OptionTable, HelpExplainsEveryOptionWithItsDefault) {
  quellmar::test::TempDir dir;
  for (const Program& p : companions()) {
    SCOPED_TRACE(p.name);
    const RunResult r = run_program(p.binary, dir.path(), {"--help"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("Usage: ") + p.name + " ", 0), 0u);
    const std::vector<std::string> entries = help_entries(r.out);
    ASSERT_GE(entries.size(), 3u) << r.out;
    for (const std::string& entry : entries) {
      SCOPED_TRACE(entry);
      // A name, then at least a few words of meaning.
      const size_t gap = entry.find("  ", 2);
      ASSERT_NE(gap, std::string::npos);
      EXPECT_GE(entry.size() - gap, 12u);
      const bool answers = entry.find("--help") != std::string::npos ||
                           entry.find("--version") != std::string::npos;
      const bool required = entry.find("(required") != std::string::npos;
      if (!answers && !required) {
        EXPECT_NE(entry.find("default: "), std::string::npos);
      }
    }
  }
}

TEST(OptionTable, AWrongCommandLineIsTwoLinesAndStatusTwo) {
  quellmar::test::TempDir dir;
  for (const Program& p : companions()) {
    SCOPED_TRACE(p.name);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"d02123a.mom", "--no-such-option"},
          std::vector<std::string>{"d02123a.mom", "--radar", "many"},
          std::vector<std::string>{}}) {
      const RunResult r = run_program(p.binary, dir.path(), args);
      EXPECT_EQ(r.status, 2);
      const std::vector<std::string> lines = lines_of(r.err);
      ASSERT_EQ(lines.size(), 2u) << r.err;
      EXPECT_EQ(lines[0].rfind(std::string(p.name) + ": ", 0), 0u);
      if (args.size() > 1) {
        EXPECT_NE(lines[0].find(args[1]), std::string::npos) << lines[0];
      }
      EXPECT_EQ(lines[1], std::string("Try '") + p.name +
                              " --help' for more information.");
      EXPECT_EQ(r.out, "");
    }
  }
}

#ifdef QUELLMAR_NC_BINARY
// Every program that stores the site's position takes the same longitudes
// (-180 to 360 degrees east) and latitudes.
TEST(OptionTable, PositionBoundsAgreeAcrossPrograms) {
  const std::string pair =
      std::string(QUELLMAR_SOURCE_DIR) + "/sample/d02123a.mom";
  const Program programs[] = {{"quellmar-nc", QUELLMAR_NC_BINARY},
                              {"quellmar-wind", QUELLMAR_WIND_BINARY},
                              {"quellmar-rass", QUELLMAR_RASS_BINARY}};
  const struct {
    const char* option;
    const char* value;
    bool accepted;
  } cases[] = {
      {"--longitude", "-180", true},    {"--longitude", "360", true},
      {"--longitude", "-180.5", false}, {"--longitude", "360.5", false},
      {"--latitude", "-90", true},      {"--latitude", "90.5", false},
      {"--altitude", "-100", true},     {"--altitude", "1e9", false}};
  for (const Program& p : programs) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(p.name) + " " + c.option + " " + c.value);
      quellmar::test::TempDir dir;
      const RunResult r = run_program(
          p.binary, dir.path(), {pair, "-o", "out.nc", c.option, c.value});
      if (c.accepted) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(quellmar::test::file_exists(dir.file("out.nc")));
      } else {
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.option), std::string::npos) << r.err;
        EXPECT_FALSE(quellmar::test::file_exists(dir.file("out.nc")));
      }
    }
  }
}
#endif

}  // namespace
