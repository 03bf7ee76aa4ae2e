// Fuzz target: record reading, stepping and decoding on an arbitrary data
// file paired with a built-in well-formed header file or an arbitrary one
// (the first input byte chooses). Input layout: fuzz/fuzz_input.h.

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
  quellmar::fuzz::PairInput in;
  std::vector<uint8_t> header;
  if (!quellmar::fuzz::take_pair_input(data, size, 4000000, false, &in,
                                       &header)) {
    return -1;
  }
  const std::string problem = quellmar::fuzz::run_records_flow(
      quellmar::fuzz::scratch_root() + "/", in, header);
  if (!problem.empty()) {
    if (quellmar::fuzz::skip_stuck_walks() &&
        quellmar::fuzz::is_stuck_walk(problem))
      return -1;
    quellmar::fuzz::report_problem(problem);
  }
  return 0;
}
