#include "companions/stdout_capture.h"

#include <unistd.h>

namespace qcomp {

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  file_ = std::tmpfile();
  if (file_ == nullptr) return;
  saved_stdout_ = dup(STDOUT_FILENO);
  if (saved_stdout_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
    if (saved_stdout_ >= 0) close(saved_stdout_);
    saved_stdout_ = -1;
    std::fclose(file_);
    file_ = nullptr;
  }
}

StdoutCapture::~StdoutCapture() {
  if (file_ == nullptr) return;
  std::fflush(stdout);
  dup2(saved_stdout_, STDOUT_FILENO);
  close(saved_stdout_);
  std::fclose(file_);
}

std::string StdoutCapture::take() {
  std::string text;
  if (file_ == nullptr) return text;
  std::fflush(stdout);
  char buffer[4096];
  for (;;) {
    const ssize_t got =
        pread(fileno(file_), buffer, sizeof buffer, read_so_far_);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    read_so_far_ += got;
  }
  return text;
}

}  // namespace qcomp
