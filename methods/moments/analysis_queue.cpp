#include "methods/moments/analysis_queue.h"

#include <utility>

namespace quellmar::companions {

AnalysisQueue::AnalysisQueue(Analyse analyse) : analyse_(std::move(analyse)) {}

AnalysisQueue::~AnalysisQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void AnalysisQueue::analyse_here(std::unique_lock<std::mutex>& lock,
                                 const std::shared_ptr<Entry>& e) {
  e->state = State::kAnalysing;
  lock.unlock();
  std::exception_ptr thrown;
  try {
    analyse_(*e->job);
  } catch (...) {
    thrown = std::current_exception();
  }
  lock.lock();
  e->state = State::kDone;
  if (thrown && !failure_) failure_ = thrown;
  changed_.notify_all();
}

void AnalysisQueue::add(std::unique_ptr<RecordToAnalyse> job) {
  auto entry = std::make_shared<Entry>();
  entry->job = std::move(job);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  entries_.push_back(std::move(entry));
  changed_.notify_all();
}

size_t AnalysisQueue::size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::unique_ptr<RecordToAnalyse> AnalysisQueue::take() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
  while (!entries_.empty() && entries_.front()->state != State::kDone) {
    // The oldest if not begun, else the newest not begun: the one the
    // worker reaches last.
    std::shared_ptr<Entry> help;
    if (entries_.front()->state == State::kWaiting) help = entries_.front();
    for (auto e = entries_.rbegin(); !help && e != entries_.rend(); ++e) {
      if ((*e)->state == State::kWaiting) help = *e;
    }
    if (help) {
      analyse_here(lock, help);
    } else {
      changed_.wait(lock);
    }
  }
  if (failure_) std::rethrow_exception(failure_);
  if (entries_.empty()) return nullptr;
  std::unique_ptr<RecordToAnalyse> job = std::move(entries_.front()->job);
  entries_.pop_front();
  changed_.notify_all();
  return job;
}

void AnalysisQueue::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<Entry> next;
    changed_.wait(lock, [&] {
      if (stopping_) return true;
      for (const auto& e : entries_) {
        if (e->state == State::kWaiting) {
          next = e;
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    analyse_here(lock, next);
  }
}

}  // namespace quellmar::companions
