#include "companions/nc_convert.h"

#include "companions/progress.h"
#include "disk/pda.h"

namespace qcomp {

bool convert_records(const NcPlan& plan, NcFile& file, int64_t data_bytes,
                     std::string* error) {
  pda_select_radar(-1);
  pda_select_beam(-1);
  Progress progress(static_cast<int64_t>(plan.rays.size()), data_bytes);
  size_t next = 0;
  int new_header = 0;
  bool found = pda_first_record(&new_header) == 1;
  while (found && next < plan.rays.size()) {
    const RecordFacts& ray = plan.rays[next];
    const int64_t offset = pda_get_record_offset();
    if (offset > ray.offset) break;
    if (offset == ray.offset) {
      if (pda_moments.gate_count != ray.gate_count) {
        *error = "the record at data offset " + std::to_string(offset) +
                 " decodes with " + std::to_string(pda_moments.gate_count) +
                 " gates, not the " + std::to_string(ray.gate_count) +
                 " its RecordHeader gave";
        pda_release_moments();
        return false;
      }
      file.write_ray(next, pda_moments, pda_get_nyquist_velocity());
      ++next;
    }
    pda_release_moments();
    progress.update(static_cast<int64_t>(next), pda_current_offset());
    found = pda_next_record(&new_header) == 1;
  }
  pda_release_moments();
  progress.finish();
  if (next != plan.rays.size()) {
    *error = "the data file changed while it was read: record " +
             std::to_string(next) + " at data offset " +
             std::to_string(plan.rays[next].offset) + " was not found again";
    return false;
  }
  return true;
}

}  // namespace qcomp
