// quellmar: writes every dwell of radar 0 of a profiler file pair as text.

#include "tool/command_line.h"
#include "tool/main_loop.h"

int main(int argc, char** argv) {
  RunRequest request;
  const int status = parse_command_line(argc, argv, &request);
  if (status != 0) return status;
  return run_main_loop(request);
}
