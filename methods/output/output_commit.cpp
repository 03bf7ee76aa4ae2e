#include "methods/output/output_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quellmar::companions {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file to remove when a signal ends the process; only
// async-signal-safe calls touch it there.
char pending_path[4096];

// The handler runs with the default action back in place and the signal
// not blocked, so raising it again ends the process by that signal, as if
// the handler had not been there.
extern "C" void remove_pending_and_die(int signal_number) {
  if (pending_path[0] != '\0') unlink(pending_path);
  raise(signal_number);
}

// Blocks the signals until the guard goes: a signal that comes while the
// temporary file is made and the handlers are set waits for the handlers.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

// Signals the process was started ignoring (nohup, a background job) stay
// ignored.
void watch_signals(const std::string& path) {
  if (path.size() >= sizeof pending_path) return;
  std::memcpy(pending_path, path.c_str(), path.size() + 1);
  struct sigaction action {};
  action.sa_handler = remove_pending_and_die;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (int s : kSignals) {
    struct sigaction old {};
    sigaction(s, nullptr, &old);
    if (old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
  }
}

void unwatch_signals() {
  for (int s : kSignals) {
    struct sigaction old {};
    sigaction(s, nullptr, &old);
    if (old.sa_handler == remove_pending_and_die) std::signal(s, SIG_DFL);
  }
  pending_path[0] = '\0';
}

}  // namespace

PendingOutput::PendingOutput(const std::string& final_path)
    : final_path_(final_path) {
  std::string pattern = final_path + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const SignalBlock block;
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    error_ = "cannot create a file next to " + final_path + ": " +
             std::strerror(errno);
    return;
  }
  // mkstemp makes the file private; the result gets the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temp_path_ = name.data();
  watch_signals(temp_path_);
}

PendingOutput::~PendingOutput() { discard(); }

void PendingOutput::discard() {
  if (temp_path_.empty()) return;
  std::remove(temp_path_.c_str());
  unwatch_signals();
  temp_path_.clear();
}

bool PendingOutput::commit() {
  if (temp_path_.empty()) return false;
  if (std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    error_ = "cannot rename " + temp_path_ + " to " + final_path_ + ": " +
             std::strerror(errno);
    discard();
    return false;
  }
  unwatch_signals();
  temp_path_.clear();
  return true;
}

}  // namespace quellmar::companions
