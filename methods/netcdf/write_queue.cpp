#include "methods/netcdf/write_queue.h"

#include <utility>

namespace quellmar::companions {

WriteQueue::WriteQueue(size_t capacity)
    : capacity_(capacity < 1 ? 1 : capacity),
      wake_at_(capacity_ < 4 ? 1 : capacity_ / 4) {}

WriteQueue::~WriteQueue() { stop(true); }

void WriteQueue::add(std::function<void()> pack, std::function<void()> write) {
  auto job = std::make_shared<Job>();
  job->pack = std::move(pack);
  job->write = std::move(write);
  if (!job->pack) job->state = State::kPacked;
  std::unique_lock<std::mutex> lock(mutex_);
  rethrow();
  if (!thread_.joinable()) {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
  }
  while (jobs_.size() >= capacity_ && !failure_) {
    // The newest job not packed yet, the one the writer reaches last.
    std::shared_ptr<Job> help;
    for (auto j = jobs_.rbegin(); j != jobs_.rend(); ++j) {
      if ((*j)->state == State::kWaiting) {
        help = *j;
        break;
      }
    }
    if (!help) {
      changed_.wait(lock);
      continue;
    }
    help->state = State::kPacking;
    lock.unlock();
    std::exception_ptr thrown;
    try {
      help->pack();
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    help->state = State::kPacked;
    if (thrown && !failure_) failure_ = thrown;
    changed_.notify_all();
  }
  rethrow();
  jobs_.push_back(std::move(job));
  // A sleeping writer is woken for a batch, not for each job: an
  // uncompressed chunk takes less time to write than a wake-up costs.
  if (jobs_.size() >= wake_at_) changed_.notify_all();
}

void WriteQueue::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return stopping_ || abandon_ || failure_ ||
             (!jobs_.empty() && jobs_.front()->state != State::kPacking);
    });
    if (failure_ || abandon_ || (stopping_ && jobs_.empty())) return;
    if (jobs_.empty()) continue;
    std::shared_ptr<Job> job = jobs_.front();
    const bool pack = job->state == State::kWaiting;
    job->state = State::kPacking;
    lock.unlock();
    std::exception_ptr thrown;
    try {
      if (pack) job->pack();
      job->write();
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    jobs_.pop_front();
    if (thrown && !failure_) failure_ = thrown;
    changed_.notify_all();
  }
}

void WriteQueue::rethrow() {
  if (failure_) std::rethrow_exception(failure_);
}

void WriteQueue::stop(bool abandon) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    abandon_ = abandon;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  jobs_.clear();
}

void WriteQueue::finish() {
  stop(false);
  std::lock_guard<std::mutex> lock(mutex_);
  rethrow();
}

}  // namespace quellmar::companions
