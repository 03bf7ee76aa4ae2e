#include "companions/output_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qcomp {

namespace {

// The temporary file to remove when a signal ends the process; only
// async-signal-safe calls touch it there.
char pending_path[4096];

extern "C" void remove_pending_and_die(int signal_number) {
  if (pending_path[0] != '\0') unlink(pending_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void watch_signals(const std::string& path) {
  if (path.size() >= sizeof pending_path) return;
  std::memcpy(pending_path, path.c_str(), path.size() + 1);
  std::signal(SIGINT, remove_pending_and_die);
  std::signal(SIGTERM, remove_pending_and_die);
  std::signal(SIGHUP, remove_pending_and_die);
}

void unwatch_signals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
  pending_path[0] = '\0';
}

}  // namespace

PendingOutput::PendingOutput(const std::string& final_path)
    : final_path_(final_path) {
  std::string pattern = final_path + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
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
  unwatch_signals();
  std::remove(temp_path_.c_str());
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

}  // namespace qcomp
