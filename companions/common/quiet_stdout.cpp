#include "companions/common/quiet_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace quellmar::companions {

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_stdout_ = dup(STDOUT_FILENO);
  if (saved_stdout_ < 0 || dup2(null, STDOUT_FILENO) < 0) {
    if (saved_stdout_ >= 0) close(saved_stdout_);
    saved_stdout_ = -1;
  }
  close(null);
}

QuietStdout::~QuietStdout() {
  if (saved_stdout_ < 0) return;
  std::fflush(stdout);
  dup2(saved_stdout_, STDOUT_FILENO);
  close(saved_stdout_);
}

}  // namespace quellmar::companions
