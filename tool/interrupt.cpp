#include "tool/interrupt.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace quellmar {

namespace {

volatile std::sig_atomic_t requested_signal = 0;

void note_signal(int signal) { requested_signal = signal; }

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void install_interrupt_handlers() {
  for (const int signal : kSignals) {
    struct sigaction old_action {};
    if (sigaction(signal, nullptr, &old_action) == 0 &&
        old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

int interrupt_signal() { return requested_signal; }

void end_by_signal(int signal) {
  std::fflush(stdout);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  std::raise(signal);
  _exit(128 + signal);  // not reached for the signals above
}

}  // namespace quellmar
