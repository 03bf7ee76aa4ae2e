// How far a long pass over the records has come: records done of all,
// bytes of the data files done of all. The methods report it; whether and
// where it is shown is the caller's (the programs' progress line,
// programs/cli/progress.h).

#ifndef QUELLMAR_METHODS_PAIRS_PROGRESS_H
#define QUELLMAR_METHODS_PAIRS_PROGRESS_H

#include <cstdint>

namespace quellmar::companions {

class ProgressReport {
 public:
  virtual ~ProgressReport() = default;
  // Called after every record; cheap enough to be called that often.
  virtual void update(int64_t records_done, int64_t records, int64_t bytes_done,
                      int64_t bytes) = 0;
  // The pass is over.
  virtual void finish() = 0;
};

// Finishes a report (when there is one) on every way out of a pass.
class ProgressFinish {
 public:
  explicit ProgressFinish(ProgressReport* report) : report_(report) {}
  ~ProgressFinish() {
    if (report_ != nullptr) report_->finish();
  }
  ProgressFinish(const ProgressFinish&) = delete;
  ProgressFinish& operator=(const ProgressFinish&) = delete;

 private:
  ProgressReport* report_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_METHODS_PAIRS_PROGRESS_H
