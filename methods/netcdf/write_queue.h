// The writing of a file on a second thread: the caller (the decoding
// thread) queues jobs in file order; one writer thread makes every library
// call of the jobs, in the order queued, while the caller decodes the next
// records. A job may have a pack step (compressing a chunk) that needs no
// library call: the writer runs it before the job's write, unless the
// caller, finding the queue full, has run it already. So the decoding and
// the compression share the two cores, the library is only ever called
// from one thread at a time, and memory is bounded by the queue's length.

#ifndef QUELLMAR_COMPANIONS_WRITE_QUEUE_H
#define QUELLMAR_COMPANIONS_WRITE_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quellmar::companions {

class WriteQueue {
 public:
  // At most `capacity` jobs wait at once. The thread starts at the first
  // job; once idle, it is woken again when a quarter of `capacity` waits
  // (or at finish).
  explicit WriteQueue(size_t capacity);
  // Stops the thread after the job it is writing, dropping the others.
  ~WriteQueue();
  WriteQueue(const WriteQueue&) = delete;
  WriteQueue& operator=(const WriteQueue&) = delete;

  // Queues a job: pack (may be empty) runs on either thread, write on the
  // writer thread after every job queued before it. Waits, or packs a
  // waiting job itself, while the queue is full. Rethrows what a job
  // threw before.
  void add(std::function<void()> pack, std::function<void()> write);
  // Waits until every job is written and stops the thread; rethrows what a
  // job threw. The queue takes jobs again afterwards.
  void finish();

 private:
  enum class State { kWaiting, kPacking, kPacked };
  struct Job {
    std::function<void()> pack;
    std::function<void()> write;
    State state = State::kWaiting;
  };
  void run();
  void stop(bool abandon);
  void rethrow();

  size_t capacity_;
  size_t wake_at_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Job>> jobs_;
  std::exception_ptr failure_;
  bool stopping_ = false;
  bool abandon_ = false;
  std::thread thread_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WRITE_QUEUE_H
