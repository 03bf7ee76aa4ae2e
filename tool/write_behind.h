// Hands output text to the operating system from a second thread.
//
// The extraction tool formats a record's text on the main thread and queues
// it here; a writer thread writes each queued text with one unbuffered
// fwrite, in queue order, while the main thread goes on with the next
// record. At most kSlots texts wait at any time: queueing more waits until
// the oldest has been written.
//
// drain() returns once every queued text has been written. The extraction
// tool drains before it writes anything of a record (so each record is
// handed over before the next one's output starts), before it closes or
// replaces a file the writer may still use, before any exit of the run, and
// before reporting a write error; destruction drains.
// A failed write stops all later writes (nothing is written after a gap)
// and is reported by failure() with the file's name and errno.
//
// One producer thread (the owner) and the writer share a ring of slots
// through two counters; each side spins briefly before it sleeps, since
// the other side is usually only microseconds away.

#ifndef QUELLMAR_TOOL_WRITE_BEHIND_H
#define QUELLMAR_TOOL_WRITE_BEHIND_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tool/text_format.h"

using quellmar::TextBuffer;

class WriteBehind {
 public:
  static constexpr std::uint32_t kSlots = 4;

  struct Failure {
    std::string name;  // empty: no write has failed
    int error = 0;     // errno of the failed write
  };

  WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  ~WriteBehind();

  // Work done on the writer thread just before a text is written: appends
  // the rest of the text. It must not touch state the queueing thread
  // changes afterwards.
  using Completion = std::function<void(TextBuffer&)>;

  // Queues text for file (named name, for the report of a failure) and
  // leaves text empty, holding recycled storage. When complete is set, the
  // writer thread calls it on the text first. Waits while kSlots texts are
  // queued. Empty texts without a completion are not queued.
  // REQUIRES: file stays open until the text has been written (drain()).
  void queue(std::FILE* file, const std::string& name, TextBuffer& text,
             Completion complete = {});

  // Returns when everything queued so far has been written (or dropped
  // after a failure).
  void drain();

  // Who waited for whom since the last call: the queueing thread for room
  // or in drain() (the writer is behind), or the writer for work (it could
  // take more). Lets the owner shift work between the threads.
  struct Balance {
    bool producer_waited = false;
    bool writer_idle = false;
  };
  Balance take_balance();

  // True once a write has failed; failure() then gives the details.
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  Failure failure();

 private:
  struct Slot {
    std::FILE* file = nullptr;
    std::string name;
    TextBuffer text;
    Completion complete;
  };

  void run();
  void write(Slot& slot);

  Slot slots_[kSlots];
  // Texts queued and texts written since the start; they differ by at most
  // kSlots. Each is changed by one side only.
  std::atomic<std::uint32_t> queued_{0};
  std::atomic<std::uint32_t> written_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> failed_{false};
  bool waited_ = false;            // the queueing thread's own
  std::atomic<bool> idle_{false};  // set by the writer, taken by the owner
  std::mutex failure_mutex_;
  Failure failure_;
  std::thread thread_;  // last: starts after the state above exists
};

#endif  // QUELLMAR_TOOL_WRITE_BEHIND_H
