// Fuzz target: the HeaderBlock reader on arbitrary bytes at arbitrary
// offsets, followed by every parameter-block query and the beam information
// of every beam index around the tables. Input layout: fuzz/fuzz_input.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_flows.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quellmar::fuzz::set_up_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quellmar::fuzz::HeaderInput in;
  if (!quellmar::fuzz::split_header_input(data, size, &in)) return -1;
  const std::string problem =
      quellmar::fuzz::run_header_flow(quellmar::fuzz::scratch_root() + "/", in);
  if (!problem.empty()) {
    if (quellmar::fuzz::skip_stuck_walks() &&
        quellmar::fuzz::is_stuck_walk(problem))
      return -1;
    quellmar::fuzz::report_problem(problem);
  }
  return 0;
}
