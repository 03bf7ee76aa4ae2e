#include "programs/cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace quellmar::companions {

ProgressLine::ProgressLine(const char* program)
    : program_(program),
      enabled_(isatty(STDERR_FILENO) == 1),
      next_(std::chrono::steady_clock::now()) {}

void ProgressLine::update(int64_t records_done, int64_t records,
                          int64_t bytes_done, int64_t bytes) {
  if (!enabled_) return;
  records_done_ = records_done;
  records_ = records;
  bytes_done_ = bytes_done;
  bytes_ = bytes;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  next_ = now + std::chrono::milliseconds(200);
  show();
}

void ProgressLine::show() {
  std::fprintf(
      stderr, "\r%s: %lld/%lld records, %lld/%lld bytes", program_,
      static_cast<long long>(records_done_), static_cast<long long>(records_),
      static_cast<long long>(bytes_done_), static_cast<long long>(bytes_));
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::finish() {
  if (!shown_) return;
  show();
  std::fputs("\n", stderr);
  shown_ = false;
}

}  // namespace quellmar::companions
