#include "methods/netcdf/decode_pass.h"

namespace quellmar::companions {

namespace {

std::string changed(const std::string& what) {
  return "the data file changed while it was read: " + what;
}

}  // namespace

bool decode_rays(const PairInput& input, const NcPlan& plan,
                 const NcPlanner& planner, const RaySink& on_ray,
                 const PassProgress& progress, std::string* error) {
  // The walk of the scan again, from a fresh opening of the pair, now
  // decoding each record: it needs no trailer to step back over, so it
  // meets every record the scan met.
  PairInput again;
  if (!open_pair(input.path, &again, error)) return false;
  RayCursor taken;
  int new_header = 0;
  bool ok = true;
  while (ok && pda_read_record_header(&new_header) == 0) {
    const int64_t offset = pda_get_record_offset();
    if (pda_decode_record() != 0) {
      *error = "the record at data offset " + std::to_string(offset) +
               " needs more memory than there is";
      ok = false;
      break;
    }
    const RecordFacts ray = current_facts();
    if (planner.takes(ray)) {
      if (pda_moments.gate_count != ray.gate_count) {
        *error = "the record at data offset " + std::to_string(ray.offset) +
                 " decodes with " + std::to_string(pda_moments.gate_count) +
                 " gates, not the " + std::to_string(ray.gate_count) +
                 " its RecordHeader gave";
        ok = false;
      } else if (!on_ray(ray, pda_moments, pda_get_nyquist_velocity())) {
        *error =
            changed("the record at data offset " + std::to_string(ray.offset) +
                    " lies beyond the records found before");
        ok = false;
      } else {
        taken.next(ray);
      }
    }
    pda_release_moments();
    if (progress) progress(taken.rays(), pda_current_offset());
  }
  pda_release_moments();
  if (!ok) return false;
  if (taken.rays() != plan.rays || taken.points() != plan.n_points ||
      taken.sweeps() != plan.sweeps) {
    *error = changed(std::to_string(taken.rays()) + " of " +
                     std::to_string(plan.rays) + " records found again");
    return false;
  }
  return true;
}

}  // namespace quellmar::companions
