// Keeps what the access module prints on standard output ("disk: ..."
// messages) out of a program's own output. What went wrong is asked of the
// module itself (pda_get_problem), never read from its messages.

#ifndef QUELLMAR_COMPANIONS_QUIET_STDOUT_H
#define QUELLMAR_COMPANIONS_QUIET_STDOUT_H

namespace quellmar::companions {

// While a QuietStdout lives, file descriptor 1 writes to /dev/null; the
// destructor puts the original standard output back. When /dev/null cannot
// be opened, nothing is redirected.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_stdout_ = -1;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_QUIET_STDOUT_H
