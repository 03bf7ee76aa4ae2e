// quellmar: writes every dwell of radar 0 of a profiler file pair as text.

#include "tool/command_line.h"
#include "tool/interrupt.h"
#include "tool/main_loop.h"

int main(int argc, char** argv) {
  namespace tool = quellmar::tool;
  tool::RunRequest request;
  const int status = tool::parse_command_line(argc, argv, &request);
  if (status != 0 || request.answered) return status;
  tool::install_interrupt_handlers();
  const int run_status = tool::run_main_loop(request);
  if (const int signal = tool::interrupt_signal(); signal != 0) {
    tool::end_by_signal(signal);
  }
  return run_status;
}
