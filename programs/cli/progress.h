// Progress of a long conversion on standard error: records done of all,
// bytes of the data file done of all. Shown only when standard error is a
// terminal, at most a few times a second, on one line that is rewritten.

#ifndef QUELLMAR_COMPANIONS_PROGRESS_H
#define QUELLMAR_COMPANIONS_PROGRESS_H

#include <chrono>
#include <cstdint>

namespace quellmar::companions {

class Progress {
 public:
  // The line begins with the program's name.
  Progress(int64_t total_records, int64_t total_bytes,
           const char* program = "quellmar-nc");
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(int64_t records_done, int64_t bytes_done);
  // Shows the last counts and ends the progress line, if one was shown.
  void finish();

 private:
  void show(int64_t records_done, int64_t bytes_done);

  const char* program_;
  bool enabled_ = false;
  bool shown_ = false;
  int64_t total_records_ = 0;
  int64_t total_bytes_ = 0;
  int64_t records_done_ = 0;
  int64_t bytes_done_ = 0;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PROGRESS_H
