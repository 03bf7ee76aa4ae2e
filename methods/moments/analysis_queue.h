// The analysis of records on a second thread: the caller (the decoding
// thread) queues records in file order, with their spectra loaded; a
// worker thread analyses them, oldest first, while the caller decodes the
// next ones; the caller takes them back in file order. A record's analysis
// depends on its own spectra and the method alone, so the results are the
// same on either thread. A caller waiting for the oldest record analyses
// a waiting one itself (the oldest, else the newest), so the two threads
// share the work when the worker is slow (a busy machine); the caller
// bounds the memory by taking records back while too many are queued.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_ANALYSIS_QUEUE_H
#define QUELLMAR_COMPANIONS_MOMENTS_ANALYSIS_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "methods/moments/method.h"
#include "methods/moments/peak_choice.h"

namespace quellmar::companions {

struct RecordToAnalyse {
  RecordSpectra spectra;
  const std::vector<int8_t>* clutter_bands = nullptr;  // null: no map
  int64_t header_gates = 0;  // the gates the record header counts
  AnalysedRecord record;     // tag, beam, mode, ... set; gates by the analysis
};

class AnalysisQueue {
 public:
  // analyse fills job.record.gates from job.spectra; it runs on either
  // thread. The worker starts at the first record.
  using Analyse = std::function<void(RecordToAnalyse& job)>;
  explicit AnalysisQueue(Analyse analyse);
  // Stops the worker after the record it is analysing.
  ~AnalysisQueue();
  AnalysisQueue(const AnalysisQueue&) = delete;
  AnalysisQueue& operator=(const AnalysisQueue&) = delete;

  void add(std::unique_ptr<RecordToAnalyse> job);
  // Records queued and not taken back.
  size_t size();
  // The oldest record once analysed, the caller analysing waiting
  // records meanwhile; null when none is queued. Rethrows what an
  // analysis threw.
  std::unique_ptr<RecordToAnalyse> take();

 private:
  enum class State { kWaiting, kAnalysing, kDone };
  struct Entry {
    std::unique_ptr<RecordToAnalyse> job;
    State state = State::kWaiting;
  };
  void run();
  // Analyses `e` on this thread with the lock released meanwhile.
  void analyse_here(std::unique_lock<std::mutex>& lock,
                    const std::shared_ptr<Entry>& e);

  Analyse analyse_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Entry>> entries_;
  std::exception_ptr failure_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_ANALYSIS_QUEUE_H
