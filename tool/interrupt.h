// SIGINT, SIGTERM and SIGHUP end a run at a record boundary.
//
// While the handlers are installed, such a signal only notes its number.
// The record loop finishes the record it is on, every held text is handed
// over, and then the process ends by the same signal with its default
// action, so that the caller (a shell, xargs, a batch system) sees an
// interrupted run. A signal that was ignored when the run started stays
// ignored.

#ifndef QUELLMAR_TOOL_INTERRUPT_H
#define QUELLMAR_TOOL_INTERRUPT_H

namespace quellmar {

void install_interrupt_handlers();

// The signal that asked the run to end, or 0.
int interrupt_signal();

// Flushes standard output and ends the process by signal, with its
// default action restored.
[[noreturn]] void end_by_signal(int signal);

}  // namespace quellmar

#endif  // QUELLMAR_TOOL_INTERRUPT_H
