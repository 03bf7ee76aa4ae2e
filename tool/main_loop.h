// The record loop: opens the pair, writes every record of radar 0 until
// the record just written reaches the stop time or the data run out.

#ifndef QUELLMAR_TOOL_MAIN_LOOP_H
#define QUELLMAR_TOOL_MAIN_LOOP_H

#include "tool/command_line.h"

namespace quellmar::tool {

// Returns the exit status: 0 at a normal end, 1 for a failure.
int run_main_loop(const RunRequest& request);

}  // namespace quellmar::tool

#endif  // QUELLMAR_TOOL_MAIN_LOOP_H
