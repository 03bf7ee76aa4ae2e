#include "methods/netcdf/convert.h"

#include "methods/netcdf/decode_pass.h"
#include "programs/cli/progress.h"

namespace quellmar::companions {

bool convert_records(const PairInput& input, const NcPlan& plan,
                     const NcPlanner& planner, NcFile& file, std::string* error,
                     const RayHandler& handler) {
  Progress progress(plan.rays, input.data_bytes);
  const bool ok = decode_rays(
      input, plan, planner,
      [&](const RecordFacts& ray, const MomentArrays& m, float nyquist) {
        return handler ? handler(ray, m, nyquist)
                       : file.write_ray(ray, m, nyquist);
      },
      [&](int64_t rays, int64_t offset) { progress.update(rays, offset); },
      error);
  if (ok) progress.finish();
  return ok;
}

}  // namespace quellmar::companions
