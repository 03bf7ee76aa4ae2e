// The decoding pass over a planned pair, without the netCDF library: the
// access module decodes every record in file order, walking the records as
// the scan did, and each one the planner takes goes to the caller with its
// decoded arrays. quellmar-nc writes them into its file; the Python
// extension into NumPy arrays.

#ifndef QUELLMAR_COMPANIONS_NC_DECODE_PASS_H
#define QUELLMAR_COMPANIONS_NC_DECODE_PASS_H

#include <cstdint>
#include <functional>
#include <string>

#include "disk/pda.h"
#include "methods/netcdf/plan.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

// Gets the next ray in file order; false when it lies beyond the plan.
using RaySink = std::function<bool(const RecordFacts& ray,
                                   const MomentArrays& moments, float nyquist)>;
// Gets the rays done and the data-file offset reached after each record.
using PassProgress = std::function<void(int64_t rays, int64_t offset)>;

// Opens the pair of input again and hands every ray of the plan to on_ray.
// False, with a message, when the pair cannot be opened again, the records
// decoded do not match the plan (the data file changed between the passes)
// or a record's arrays cannot be allocated (when the module returns that
// failure: pda_get_problem then gives DiskProblem::kOutOfMemory).
bool decode_rays(const PairInput& input, const NcPlan& plan,
                 const NcPlanner& planner, const RaySink& on_ray,
                 const PassProgress& progress, std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_DECODE_PASS_H
