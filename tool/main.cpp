// quellmar: writes every dwell of radar 0 of a profiler file pair as text.

#include "tool/command_line.h"
#include "tool/interrupt.h"
#include "tool/main_loop.h"

int main(int argc, char** argv) {
  RunRequest request;
  const int status = parse_command_line(argc, argv, &request);
  if (status != 0) return status;
  quellmar::install_interrupt_handlers();
  const int run_status = run_main_loop(request);
  if (const int signal = quellmar::interrupt_signal(); signal != 0) {
    quellmar::end_by_signal(signal);
  }
  return run_status;
}
