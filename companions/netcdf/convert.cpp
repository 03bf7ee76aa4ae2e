#include "companions/netcdf/convert.h"

#include "companions/common/progress.h"
#include "companions/netcdf/scan.h"
#include "disk/pda.h"

namespace quellmar::companions {

namespace {

std::string changed(const std::string& what) {
  return "the data file changed while it was read: " + what;
}

}  // namespace

bool convert_records(const PairInput& input, const NcPlan& plan,
                     const NcPlanner& planner, NcFile& file, std::string* error,
                     const RayHandler& handler) {
  // The walk of the scan again, from a fresh opening of the pair, now
  // decoding each record: it needs no trailer to step back over, so it
  // meets every record the scan met.
  PairInput again;
  if (!open_pair(input.path, &again, error)) return false;
  Progress progress(plan.rays, input.data_bytes);
  int new_header = 0;
  while (pda_read_record_header(&new_header) == 0) {
    pda_decode_record();
    const RecordFacts ray = current_facts();
    if (planner.takes(ray)) {
      if (pda_moments.gate_count != ray.gate_count) {
        *error = "the record at data offset " + std::to_string(ray.offset) +
                 " decodes with " + std::to_string(pda_moments.gate_count) +
                 " gates, not the " + std::to_string(ray.gate_count) +
                 " its RecordHeader gave";
        pda_release_moments();
        return false;
      }
      const float nyquist = pda_get_nyquist_velocity();
      if (handler ? !handler(ray, pda_moments, nyquist)
                  : !file.write_ray(ray, pda_moments, nyquist)) {
        *error =
            changed("the record at data offset " + std::to_string(ray.offset) +
                    " lies beyond the records found before");
        pda_release_moments();
        return false;
      }
    }
    pda_release_moments();
    progress.update(file.rays_written(), pda_current_offset());
  }
  pda_release_moments();
  progress.finish();
  if (file.rays_written() != plan.rays ||
      file.points_written() != plan.n_points ||
      file.sweeps_written() != plan.sweeps) {
    *error = changed(std::to_string(file.rays_written()) + " of " +
                     std::to_string(plan.rays) + " records found again");
    return false;
  }
  return true;
}

}  // namespace quellmar::companions
