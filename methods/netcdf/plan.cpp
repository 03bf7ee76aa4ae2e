#include "methods/netcdf/plan.h"

#include <climits>

#include "methods/pairs/spectrum_shape.h"

namespace quellmar::companions {

float gate_range_m(const RecordFacts& ray, int64_t gate) {
  return static_cast<float>(pda_range_of_delay_m(
      pda_gate_delay_ns(ray.first_gate_delay_ns, ray.delay_offset_ns,
                        ray.gate_spacing_ns, gate)));
}

float gate_spacing_m(const RecordFacts& ray) {
  return static_cast<float>(pda_range_of_delay_m(ray.gate_spacing_ns));
}

int64_t ray_spectrum_length(const RecordFacts& f) {
  if (f.spectra_flag == 0) return 0;
  return pda_spectrum_line_length(spectrum_line_shape(f),
                                  f.spectral_points + 1);
}

RayCursor::Place RayCursor::next(const RecordFacts& f) {
  Place p;
  p.ray = rays_++;
  p.start_index = points_;
  points_ += f.gate_count;
  p.new_sweep = p.ray == 0 || f.beam != beam_ || f.elevation != elevation_;
  if (p.new_sweep) ++sweeps_;
  p.sweep = sweeps_ - 1;
  beam_ = f.beam;
  elevation_ = f.elevation;
  return p;
}

void NcPlanner::add(const RecordFacts& f) {
  if (!takes(f)) {
    rass_skipped_ += (radar_ == -1 || f.radar == radar_) ? 1 : 0;
    return;
  }
  if (!f.beam_described && error_.empty()) {
    error_ = "cannot get information for beam " + std::to_string(f.beam) +
             " of the record at data offset " + std::to_string(f.offset);
  }
  NcPlan& p = plan_;
  const bool first = cursor_.rays() == 0;
  cursor_.next(f);
  if (f.gate_count > p.max_gates) {
    p.max_gates = f.gate_count;
    p.range_ray = f;
  }
  const int64_t length = ray_spectrum_length(f);
  if (length > p.spectrum_length) p.spectrum_length = length;
  if (length > 0 &&
      (p.shortest_spectrum == 0 || length < p.shortest_spectrum)) {
    p.shortest_spectrum = length;
  }
  p.second_set |= f.second_set;
  if (first || f.time < p.first_time) p.first_time = f.time;
  if (first || f.time > p.last_time) p.last_time = f.time;
  if (first) {
    p.base_time = f.time;
    p.range_ray = f;
  }
}

bool NcPlanner::finish(NcPlan* plan, std::string* error) const {
  if (!error_.empty()) {
    *error = error_;
    return false;
  }
  if (cursor_.rays() == 0) {
    *error = radar_ == -1 ? "no record to convert"
                          : "no record of radar " + std::to_string(radar_);
    return false;
  }
  if (cursor_.rays() > INT_MAX) {
    *error = "too many records for one file";
    return false;
  }
  if (cursor_.points() > INT_MAX) {
    *error = "too many gates for one file";
    return false;
  }
  *plan = plan_;
  plan->rays = cursor_.rays();
  plan->n_points = cursor_.points();
  plan->sweeps = cursor_.sweeps();
  return true;
}

}  // namespace quellmar::companions
