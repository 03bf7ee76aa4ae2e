// Runs over an archive: several conversions appending to the same day files
// at once, and a run interrupted by a signal. Every output file must stay a
// header line followed by whole record blocks, with no record lost.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "tool/append_file.h"
#include "tool/command_line.h"
#include "tool/main_loop.h"
#include "writer/format_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using quellmar::test::quote;
using quellmar::test::TempDir;

constexpr int32_t kDay123 = 1020384000;  // 2002-05-03 00:00:00 UTC
constexpr int kGates = 60;

constexpr int kSpectraGates = 8;
constexpr int kSpectraPoints = 16;

// A day file of `records` records, one a minute from `start`, cycling
// over the five beams, named for the day of `start`. A name ending in spc
// gets spectra records of kSpectraGates gates and kSpectraPoints points.
void write_day(const std::string& dir, const std::string& name, int32_t start,
               int records) {
  const bool spectra = name.ends_with(".spc");
  quellmar::writer::Bytes data;
  for (int i = 0; i < records; ++i) {
    const int32_t time = start + 60 * i;
    const auto beam = static_cast<int16_t>(i % 5);
    data.append(spectra ? quellmar::test::spectra_record(
                              time, beam, kSpectraGates, kSpectraPoints,
                              static_cast<uint32_t>(i))
                        : quellmar::test::moments_record(time, beam, kGates));
  }
  const auto header =
      spectra ? quellmar::test::standard_header(kSpectraGates, kSpectraPoints)
              : quellmar::test::standard_header(kGates, 64);
  quellmar::test::write_pair(dir, name, quellmar::writer::encode_header(header),
                             data);
}

// Splits an output file into its record blocks (record line, beam line,
// as many gate lines of gate_fields fields as the beam line says). Fails
// the test when the file does not start with its one header line or holds
// anything that is not a whole block.
std::vector<std::string> blocks_of(const std::string& path,
                                   size_t gate_fields = 6) {
  std::istringstream in(quellmar::test::read_text(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<std::string> blocks;
  if (lines.empty() || lines[0].rfind(" abcd profiler ", 0) != 0) {
    ADD_FAILURE() << path << ": no header line";
    return blocks;
  }
  auto fields = [](const std::string& line) {
    std::istringstream s(line);
    std::vector<std::string> f;
    for (std::string w; s >> w;) f.push_back(w);
    return f;
  };
  size_t i = 1;
  while (i < lines.size()) {
    if (fields(lines[i]).size() != 8 || i + 1 >= lines.size() ||
        fields(lines[i + 1]).size() != 8) {
      ADD_FAILURE() << path << ": no record at line " << i + 1;
      return blocks;
    }
    const size_t gates = std::stoul(fields(lines[i + 1])[4]);
    std::string block = lines[i] + "\n" + lines[i + 1] + "\n";
    for (size_t g = 0; g < gates; ++g) {
      const size_t k = i + 2 + g;
      if (k >= lines.size() || fields(lines[k]).size() != gate_fields) {
        ADD_FAILURE() << path << ": record at line " << i + 1 << " cut";
        return blocks;
      }
      block += lines[k] + "\n";
    }
    blocks.push_back(block);
    i += 2 + gates;
  }
  return blocks;
}

// The blocks of every .rew file in dir, by file name, sorted.
std::map<std::string, std::vector<std::string>> sorted_blocks(
    const std::string& dir) {
  std::map<std::string, std::vector<std::string>> all;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".rew") continue;
    auto blocks = blocks_of(entry.path().string());
    std::sort(blocks.begin(), blocks.end());
    all[entry.path().filename().string()] = blocks;
  }
  return all;
}

int shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Three day files whose records pass midnight, so that each run also
// appends to the next day's file while that day's own run writes it. Each
// run's text is several times the amount a file holds before handing it
// over. Converted two at a time, every file holds whole blocks and exactly
// the blocks of three runs one after the other; one at a time, the same
// bytes in the same order.
TEST(ArchiveRuns, DayFilesConvertedTwoAtATimeKeepEveryRecordWhole) {
  TempDir dir;
  const std::string in = dir.file("in");
  fs::create_directories(in);
  const char* const names[] = {"d02123a.mom", "d02124a.mom", "d02125a.mom"};
  for (int d = 0; d < 3; ++d) {
    // 26 hours of records from 00:00 of the day.
    write_day(in, names[d], kDay123 + 86400 * d, 26 * 60);
  }
  auto convert = [&](const std::string& out, int jobs) {
    fs::create_directories(out);
    std::string list;
    for (const char* name : names) list += in + "/" + name + "\n";
    return shell("cd " + quote(out) + " && printf '%s' " + quote(list) +
                 " | xargs -P " + std::to_string(jobs) + " -n 1 " +
                 quote(QUELLMAR_BINARY) + " >/dev/null");
  };
  const std::string one_by_one = dir.file("one_by_one");
  fs::create_directories(one_by_one);
  for (const char* name : names) {
    EXPECT_EQ(quellmar::test::run_tool(one_by_one, {in + "/" + name}).status,
              0);
  }
  ASSERT_EQ(convert(dir.file("j1"), 1), 0);
  ASSERT_EQ(convert(dir.file("j2"), 2), 0);

  const auto want = sorted_blocks(one_by_one);
  ASSERT_EQ(want.size(), 4u);  // days 123 to 126
  EXPECT_EQ(want.at("abc102124.rew").size(), 2u * 60 + 24u * 60);
  EXPECT_EQ(sorted_blocks(dir.file("j2")), want);
  for (const auto& [name, blocks] : want) {
    EXPECT_EQ(quellmar::test::read_text(dir.file("j1/" + name)),
              quellmar::test::read_text(one_by_one + "/" + name))
        << name;
  }
}

// Two runs of the same day started together in one folder: both append to
// the same files from the start. Exactly one header line, at the start,
// and every record twice, whole.
TEST(ArchiveRuns, TwoRunsAppendingToTheSameFileNeverTearRecords) {
  TempDir dir;
  write_day(dir.path(), "d02123a.mom", kDay123, 3000);
  const std::string solo = dir.file("solo");
  fs::create_directories(solo);
  ASSERT_EQ(quellmar::test::run_tool(solo, {"../d02123a.mom"}).status, 0);
  const std::string both = dir.file("both");
  fs::create_directories(both);
  const std::string run = quote(QUELLMAR_BINARY) + " ../d02123a.mom >/dev/null";
  ASSERT_EQ(
      shell("cd " + quote(both) + " && (" + run + " & " + run + " & wait)"), 0);
  auto want = sorted_blocks(solo);
  ASSERT_EQ(want.size(), 3u);
  for (auto& [name, blocks] : want) {
    std::vector<std::string> twice = blocks;
    twice.insert(twice.end(), blocks.begin(), blocks.end());
    std::sort(twice.begin(), twice.end());
    blocks = twice;
  }
  EXPECT_EQ(sorted_blocks(both), want);
}

// A write that takes at most 3000 bytes, as a pipe or a full disk may.
ssize_t capped_write(int fd, const void* data, size_t size) {
  return ::write(fd, data, std::min<size_t>(size, 3000));
}

// Short writes are continued where they stopped: the sample spectra pair
// run with every write capped gives the files and summary lines of a
// normal run, byte for byte.
TEST(ArchiveRuns, ShortWritesGiveTheFilesOfANormalRun) {
  TempDir dir;
  const std::string input =
      std::string(QUELLMAR_SOURCE_DIR) + "/sample/d02123a.spc";
  const std::string normal = dir.file("normal");
  const std::string capped = dir.file("capped");
  fs::create_directories(normal);
  fs::create_directories(capped);
  const quellmar::test::RunResult want =
      quellmar::test::run_tool(normal, {input});
  ASSERT_EQ(want.status, 0) << want.err;

  int status = -1;
  std::string out;
  {
    quellmar::test::WorkingFolder here(capped);
    const char* argv[] = {"quellmar", input.c_str()};
    quellmar::tool::RunRequest request;
    ASSERT_EQ(quellmar::tool::parse_command_line(2, argv, &request), 0);
    pda_reset();
    quellmar::test::start_capture();
    quellmar::tool::set_write_call(capped_write);
    status = quellmar::tool::run_main_loop(request);
    quellmar::tool::set_write_call(nullptr);
    out = quellmar::test::stop_capture();
    pda_reset();
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, want.out);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(normal)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(quellmar::test::read_text(capped + "/" + name),
              quellmar::test::read_text(entry.path().string()))
        << name;
    ++files;
  }
  EXPECT_EQ(files, 5u);  // .rew, .rat_e, .ras of day 124; .rew, .ras of 125
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(capped),
                                              fs::directory_iterator())),
            files);
}

// SIGTERM while the run is held up writing its summary lines to a pipe: the
// run finishes its record, hands over all held text and ends by SIGTERM.
// Its files end at a record boundary and hold exactly the records whose
// summary lines were printed; a spectra run ends with every record in both
// its .rew and its .ras file.
TEST(ArchiveRuns, SigtermEndsTheRunAtARecordBoundaryBySignal) {
  for (const std::string input : {"d02123a.mom", "d02123a.spc"}) {
    SCOPED_TRACE(input);
    TempDir dir;
    write_day(dir.path(), input, kDay123, 20000);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    std::string binary = QUELLMAR_BINARY;
    std::string argument = input;
    char* argv[] = {binary.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    ASSERT_EQ(spawned, 0);

    // The first summary line shows the run under way; the pipe then fills
    // and holds the run until it is read again.
    std::string out;
    char c = 0;
    while (out.find('\n') == std::string::npos && read(fds[0], &c, 1) == 1) {
      out += c;
    }
    kill(pid, SIGTERM);
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
      out.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);

    // The record lines of the blocks of the day files of a suffix, in
    // order, and the summary lines of a tag without it.
    auto record_lines = [&](const std::string& suffix, size_t gate_fields) {
      std::vector<std::string> files;
      for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().extension() == suffix) {
          files.push_back(entry.path().string());
        }
      }
      std::sort(files.begin(), files.end());
      std::vector<std::string> lines;
      for (const std::string& file : files) {
        for (const std::string& block : blocks_of(file, gate_fields)) {
          lines.push_back(block.substr(0, block.find('\n')));
        }
      }
      return lines;
    };
    auto summaries = [&](const std::string& tag) {
      std::vector<std::string> lines;
      std::istringstream s(out);
      for (std::string line; std::getline(s, line);) {
        if (line.starts_with(tag)) lines.push_back(line.substr(tag.size()));
      }
      return lines;
    };
    const std::vector<std::string> written = record_lines(".rew", 6);
    EXPECT_EQ(written, summaries("WIND: "));
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), 20000u);
    if (input.ends_with(".spc")) {
      EXPECT_EQ(record_lines(".ras", 1 + kSpectraPoints), written);
      EXPECT_EQ(summaries("SPEC: "), written);
    } else {
      EXPECT_TRUE(record_lines(".ras", 1 + kSpectraPoints).empty());
    }
  }
}

}  // namespace
