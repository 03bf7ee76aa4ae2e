// Keeps what the access module prints on standard output ("disk: ..."
// messages) away from a program's own output, so that the program can
// report it in its own words.

#ifndef QUELLMAR_COMPANIONS_STDOUT_CAPTURE_H
#define QUELLMAR_COMPANIONS_STDOUT_CAPTURE_H

#include <cstdio>
#include <string>

namespace qcomp {

// While a capture lives, file descriptor 1 writes into an unnamed temporary
// file; the destructor puts the original standard output back. When the
// temporary file cannot be made, nothing is redirected and take() returns
// nothing.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything printed on standard output since the last take().
  std::string take();

 private:
  std::FILE* file_ = nullptr;
  int saved_stdout_ = -1;
  long read_so_far_ = 0;
};

}  // namespace qcomp

#endif  // QUELLMAR_COMPANIONS_STDOUT_CAPTURE_H
