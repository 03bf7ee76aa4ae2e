#include "methods/netcdf/convert.h"

#include "methods/netcdf/decode_pass.h"

namespace quellmar::companions {

bool convert_records(const PairInput& input, const NcPlan& plan,
                     const NcPlanner& planner, NcFile& file,
                     ProgressReport* progress, std::string* error,
                     const RayHandler& handler) {
  const bool ok = decode_rays(
      input, plan, planner,
      [&](const RecordFacts& ray, const MomentArrays& m, float nyquist) {
        return handler ? handler(ray, m, nyquist)
                       : file.write_ray(ray, m, nyquist);
      },
      [&](int64_t rays, int64_t offset) {
        if (progress != nullptr) {
          progress->update(rays, plan.rays, offset, input.data_bytes);
        }
      },
      error);
  if (progress != nullptr) progress->finish();
  return ok;
}

}  // namespace quellmar::companions
