// The writer thread of the extraction tool: order, completeness under back
// pressure, drain, and what happens after a failed write.

#include "tool/write_behind.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/test_support.h"

namespace {

using qtest::TempDir;

// Text number i, of a length that varies from a few bytes to ~70 KB.
std::string text_for(int i) {
  const std::size_t length = 1 + static_cast<std::size_t>(i * 7919) % 70000;
  std::string text = "#" + std::to_string(i) + ":";
  text.resize(length, static_cast<char>('a' + i % 26));
  text.back() = '\n';
  return text;
}

// A pipe whose write end is an unbuffered stream, as the tool's output
// files are; fds[0] is the read end. Null when no pipe could be made.
std::FILE* unbuffered_pipe(int fds[2]) {
  if (pipe(fds) != 0) return nullptr;
  std::FILE* out = fdopen(fds[1], "w");
  if (out != nullptr) std::setvbuf(out, nullptr, _IONBF, 0);
  return out;
}

TEST(WriteBehind, TextsReachTheirFilesWholeAndInOrder) {
  TempDir dir;
  const std::string names[2] = {dir.file("one.txt"), dir.file("two.txt")};
  std::FILE* files[2] = {std::fopen(names[0].c_str(), "a"),
                         std::fopen(names[1].c_str(), "a")};
  ASSERT_NE(files[0], nullptr);
  ASSERT_NE(files[1], nullptr);
  std::string want[2];
  {
    WriteBehind writer;
    TextBuffer text;
    for (int i = 0; i < 600; ++i) {
      const int k = (i % 3 == 0) ? 1 : 0;
      text.append(text_for(i));
      want[k] += text_for(i);
      writer.queue(files[k], names[k], text);
      EXPECT_TRUE(text.empty());
    }
    writer.drain();
    EXPECT_FALSE(writer.failed());
    // After a drain everything queued is in the files.
    EXPECT_EQ(qtest::read_text(names[0]), want[0]);
    EXPECT_EQ(qtest::read_text(names[1]), want[1]);
    text.append("last\n");
    want[0] += "last\n";
    writer.queue(files[0], names[0], text);
  }  // destruction drains
  std::fclose(files[0]);
  std::fclose(files[1]);
  EXPECT_EQ(qtest::read_text(names[0]), want[0]);
  EXPECT_EQ(qtest::read_text(names[1]), want[1]);
}

// A pipe that is read slowly keeps the writer blocked in the kernel, so the
// queue fills and queue() has to wait for room; nothing is lost or reordered.
TEST(WriteBehind, BackPressureLosesNothing) {
  int fds[2];
  std::FILE* out = unbuffered_pipe(fds);
  ASSERT_NE(out, nullptr);
  std::string received;
  std::thread reader([&] {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      received.append(buf, static_cast<std::size_t>(n));
    }
  });
  std::string want;
  {
    WriteBehind writer;
    TextBuffer text;
    for (int i = 0; i < 200; ++i) {
      text.append(text_for(i));
      want += text_for(i);
      writer.queue(out, "pipe", text);
    }
  }
  std::fclose(out);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(received.size(), want.size());
  EXPECT_TRUE(received == want);
}

// The balance report: a writer that ran out of work says so; a writer stuck
// in the kernel makes the queueing side wait, for room or in drain().
TEST(WriteBehind, BalanceTellsWhoWaited) {
  int fds[2];
  std::FILE* out = unbuffered_pipe(fds);
  ASSERT_NE(out, nullptr);
  {
    WriteBehind writer;
    TextBuffer text;
    text.append("first\n");
    writer.queue(out, "pipe", text);
    writer.drain();  // may wait: that counts as the producer waiting
    EXPECT_TRUE(writer.take_balance().writer_idle);
    // Nothing happened since: nothing to report.
    const WriteBehind::Balance quiet = writer.take_balance();
    EXPECT_FALSE(quiet.producer_waited);
    EXPECT_FALSE(quiet.writer_idle);

    // Texts larger than the pipe holds, with no reader yet: the writer
    // blocks on the first, the queue fills, and the next queue() waits
    // until the reader, started late, empties the pipe.
    std::thread reader([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      char buf[65536];
      while (read(fds[0], buf, sizeof buf) > 0) {
      }
    });
    for (std::uint32_t i = 0; i <= WriteBehind::kSlots + 1; ++i) {
      text.append(std::string(200000, 'x'));
      writer.queue(out, "pipe", text);
    }
    writer.drain();
    EXPECT_TRUE(writer.take_balance().producer_waited);
    std::fclose(out);
    reader.join();
  }
  close(fds[0]);
}

TEST(WriteBehind, EmptyTextsAreNotQueued) {
  TempDir dir;
  const std::string name = dir.file("empty.txt");
  std::FILE* file = std::fopen(name.c_str(), "a");
  ASSERT_NE(file, nullptr);
  {
    WriteBehind writer;
    TextBuffer text;
    writer.queue(file, name, text);
    writer.drain();
    EXPECT_FALSE(writer.failed());
  }
  std::fclose(file);
  EXPECT_EQ(qtest::read_text(name), "");
}

// A device that is always full: the failure names the file and the system
// error, and no later text is written anywhere, so no file has a gap.
TEST(WriteBehind, FailedWriteIsReportedAndStopsLaterWrites) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  const std::string good = dir.file("good.txt");
  std::FILE* good_file = std::fopen(good.c_str(), "a");
  std::FILE* full = std::fopen("/dev/full", "a");
  ASSERT_NE(good_file, nullptr);
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  {
    WriteBehind writer;
    TextBuffer text;
    text.append("before\n");
    writer.queue(good_file, good, text);
    text.append("lost\n");
    writer.queue(full, "full.rew", text);
    writer.drain();
    ASSERT_TRUE(writer.failed());
    text.append("after\n");
    writer.queue(good_file, good, text);
    writer.drain();
    const WriteBehind::Failure failure = writer.failure();
    EXPECT_EQ(failure.name, "full.rew");
    EXPECT_EQ(failure.error, ENOSPC);
  }
  std::fclose(good_file);
  std::fclose(full);
  EXPECT_EQ(qtest::read_text(good), "before\n");
}

}  // namespace
