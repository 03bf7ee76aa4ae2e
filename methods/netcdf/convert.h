// The decoding pass of quellmar-nc: the access module decodes every record
// in file order, walking the records as the scan did, and each one the plan
// takes becomes the next ray.

#ifndef QUELLMAR_COMPANIONS_NC_CONVERT_H
#define QUELLMAR_COMPANIONS_NC_CONVERT_H

#include <cstdint>
#include <functional>
#include <string>

#include "methods/netcdf/decode_pass.h"
#include "methods/netcdf/file.h"
#include "methods/netcdf/plan.h"
#include "methods/pairs/progress.h"

namespace quellmar::companions {

// What becomes of a decoded record that the plan takes: false when it lies
// beyond the plan.
using RayHandler = RaySink;

// Writes the rays of the plan into file (through handler when one is
// given, else whole with NcFile::write_ray). False, with a message, when the
// pair cannot be opened again or the records decoded do not match the plan (the
// data file changed between the passes). Throws NcError when the file cannot be
// written. progress, when given, is told how far the pass is.
bool convert_records(const PairInput& input, const NcPlan& plan,
                     const NcPlanner& planner, NcFile& file,
                     ProgressReport* progress, std::string* error,
                     const RayHandler& handler = {});

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_CONVERT_H
