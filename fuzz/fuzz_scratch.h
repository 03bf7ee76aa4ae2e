// Process set-up shared by the fuzz targets: a scratch folder of their own,
// quiet standard output, a cap on the size of any file written, and the
// reporting of a broken invariant as a crash.

#ifndef QUELLMAR_FUZZ_FUZZ_SCRATCH_H
#define QUELLMAR_FUZZ_FUZZ_SCRATCH_H

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace quellmar::fuzz {

// The scratch folder of this process (ends without '/'); removed at exit.
inline std::string& scratch_root() {
  static std::string root;
  return root;
}

inline void remove_scratch() {
  if (scratch_root().empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(scratch_root(), ec);
}

// Creates the scratch folder, sends standard output (the summary lines and
// the module's messages) to /dev/null, and limits every file this process
// writes to 64 MiB: a walk that never ends then fails its writes instead
// of filling the disk, and shows up as a timeout.
inline void set_up_process() {
  char pattern[] = "/tmp/quellmar-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  scratch_root() = pattern;
  std::atexit(remove_scratch);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) {
    std::fflush(stdout);
    dup2(null_fd, 1);
    close(null_fd);
  }
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 64u << 20;
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Skipping walks that never end (a finding already reported) lets a long
// run look past it: set QUELLMAR_FUZZ_SKIP_STUCK_WALKS=1.
inline bool skip_stuck_walks() {
  static const bool skip =
      std::getenv("QUELLMAR_FUZZ_SKIP_STUCK_WALKS") != nullptr;
  return skip;
}

inline bool is_stuck_walk(const std::string& problem) {
  return problem.find("does not end") != std::string::npos;
}

// Prints the problem on standard error and where the sanitizers report
// (libFuzzer's -close_fd_mask=2 closes standard error but keeps that one),
// then crashes.
[[noreturn]] inline void report_problem(const std::string& problem) {
  const std::string text = "quellmar-fuzz: broken invariant: " + problem;
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  __sanitizer_report_error_summary(text.c_str());
  std::abort();
}

}  // namespace quellmar::fuzz

#endif  // QUELLMAR_FUZZ_FUZZ_SCRATCH_H
