#include "programs/cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace quellmar::companions {

Progress::Progress(int64_t total_records, int64_t total_bytes,
                   const char* program)
    : program_(program),
      enabled_(isatty(STDERR_FILENO) == 1),
      total_records_(total_records),
      total_bytes_(total_bytes),
      next_(std::chrono::steady_clock::now()) {}

void Progress::update(int64_t records_done, int64_t bytes_done) {
  if (!enabled_) return;
  records_done_ = records_done;
  bytes_done_ = bytes_done;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  next_ = now + std::chrono::milliseconds(200);
  show(records_done, bytes_done);
}

void Progress::show(int64_t records_done, int64_t bytes_done) {
  std::fprintf(stderr, "\r%s: %lld/%lld records, %lld/%lld bytes", program_,
               static_cast<long long>(records_done),
               static_cast<long long>(total_records_),
               static_cast<long long>(bytes_done),
               static_cast<long long>(total_bytes_));
  std::fflush(stderr);
  shown_ = true;
}

void Progress::finish() {
  if (!shown_) return;
  show(records_done_, bytes_done_);
  std::fputs("\n", stderr);
  shown_ = false;
}

}  // namespace quellmar::companions
