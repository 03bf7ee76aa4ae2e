// Fuzz target: record reading, stepping and decoding on an arbitrary data
// file paired with a built-in well-formed header file or an arbitrary one
// (the first input byte chooses). Input layout: fuzz/fuzz_input.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_flows.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_scratch.h"

namespace {
// Reads past the end of the data file cost system calls per gate; more
// gates than this make one input slow without reaching new code.
constexpr int64_t kMaxGates = 4096;
// One decode may allocate at most this many spectra values.
constexpr int64_t kMaxSpectraValues = 4000000;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quellmar::fuzz::set_up_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quellmar::fuzz::PairInput in;
  if (!quellmar::fuzz::split_pair_input(data, size, &in)) return -1;
  const std::vector<uint8_t> header = quellmar::fuzz::header_file(in);
  const quellmar::fuzz::DecodeBound bound =
      quellmar::fuzz::decode_bound(header, in.data);
  if (bound.gates > kMaxGates || bound.spectra_values > kMaxSpectraValues) {
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
