#include "tool/write_behind.h"

#include <cerrno>
#include <utility>

namespace {

// The other side is usually a few microseconds away (a record of a moments
// file takes about as long to format as to write), so a wait first spins,
// about 50 us, then polls with yields, and sleeps only after that: a futex
// sleep and wake per record would cost more than the record's write.
constexpr int kSpins = 2000;
constexpr int kYields = 200;

// Waits until counter differs from value: spins briefly, then yields the
// processor to whatever else is ready (the kernel's writeback, typically)
// while polling, and finally sleeps on the counter.
void wait_for_change(const std::atomic<std::uint32_t>& counter,
                     std::uint32_t value) {
  for (int i = 0; i < kSpins; ++i) {
    if (counter.load(std::memory_order_acquire) != value) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  for (int i = 0; i < kYields; ++i) {
    if (counter.load(std::memory_order_acquire) != value) return;
    std::this_thread::yield();
  }
  while (counter.load(std::memory_order_acquire) == value) {
    counter.wait(value, std::memory_order_acquire);
  }
}

}  // namespace

WriteBehind::WriteBehind() : thread_([this] { run(); }) {}

WriteBehind::~WriteBehind() {
  drain();
  // The writer, idle after the drain, wakes on a change of queued_ and
  // finds stop_ set instead of a text.
  stop_.store(true, std::memory_order_release);
  queued_.fetch_add(1, std::memory_order_release);
  queued_.notify_one();
  thread_.join();
}

void WriteBehind::queue(std::FILE* file, const std::string& name,
                        TextBuffer& text, Completion complete) {
  if (text.empty() && !complete) return;
  const std::uint32_t queued = queued_.load(std::memory_order_relaxed);
  for (;;) {
    const std::uint32_t written = written_.load(std::memory_order_acquire);
    if (queued - written < kSlots) break;
    waited_ = true;
    wait_for_change(written_, written);
  }
  Slot& slot = slots_[queued % kSlots];
  slot.file = file;
  slot.name = name;
  std::swap(slot.text, text);
  slot.complete = std::move(complete);
  text.clear();
  queued_.store(queued + 1, std::memory_order_release);
  queued_.notify_one();
}

void WriteBehind::drain() {
  const std::uint32_t queued = queued_.load(std::memory_order_relaxed);
  for (;;) {
    const std::uint32_t written = written_.load(std::memory_order_acquire);
    if (written == queued) return;
    waited_ = true;
    wait_for_change(written_, written);
  }
}

WriteBehind::Balance WriteBehind::take_balance() {
  Balance b;
  b.producer_waited = waited_;
  b.writer_idle = idle_.exchange(false, std::memory_order_relaxed);
  waited_ = false;
  return b;
}

WriteBehind::Failure WriteBehind::failure() {
  std::lock_guard<std::mutex> lock(failure_mutex_);
  return failure_;
}

void WriteBehind::write(Slot& slot) {
  // Taken out of the slot so that what it holds is released here.
  const Completion complete = std::move(slot.complete);
  slot.complete = nullptr;
  if (failed_.load(std::memory_order_relaxed)) return;
  if (complete) complete(slot.text);
  errno = 0;
  const std::size_t size = slot.text.size();
  if (std::fwrite(slot.text.data(), 1, size, slot.file) == size &&
      std::fflush(slot.file) == 0) {
    return;
  }
  std::lock_guard<std::mutex> lock(failure_mutex_);
  failure_.name = slot.name;
  failure_.error = errno != 0 ? errno : EIO;
  failed_.store(true, std::memory_order_release);
}

void WriteBehind::run() {
  std::uint32_t written = 0;
  for (;;) {
    if (queued_.load(std::memory_order_acquire) == written) {
      idle_.store(true, std::memory_order_relaxed);
      wait_for_change(queued_, written);
    }
    if (stop_.load(std::memory_order_acquire)) return;
    write(slots_[written % kSlots]);
    ++written;
    written_.store(written, std::memory_order_release);
    written_.notify_one();
  }
}
