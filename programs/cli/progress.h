// The progress line of the companion programs on standard error: records
// done of all, bytes of the data files done of all. Shown only when
// standard error is a terminal, at most a few times a second, on one line
// that is rewritten.

#ifndef QUELLMAR_COMPANIONS_PROGRESS_H
#define QUELLMAR_COMPANIONS_PROGRESS_H

#include <chrono>
#include <cstdint>

#include "methods/pairs/progress.h"

namespace quellmar::companions {

class ProgressLine : public ProgressReport {
 public:
  // The line begins with the program's name.
  explicit ProgressLine(const char* program);
  ~ProgressLine() override { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void update(int64_t records_done, int64_t records, int64_t bytes_done,
              int64_t bytes) override;
  // Shows the last counts and ends the progress line, if one was shown.
  void finish() override;

 private:
  void show();

  const char* program_;
  bool enabled_ = false;
  bool shown_ = false;
  int64_t records_ = 0;
  int64_t bytes_ = 0;
  int64_t records_done_ = 0;
  int64_t bytes_done_ = 0;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PROGRESS_H
