#include "companions/nc_plan.h"

#include <climits>

#include "companions/nc_spectra.h"

namespace qcomp {

float gate_range_m(const RecordFacts& ray, int64_t gate) {
  const int64_t delay_ns = static_cast<int64_t>(ray.first_gate_delay_ns) -
                           ray.delay_offset_ns + gate * ray.gate_spacing_ns;
  return static_cast<float>(static_cast<double>(delay_ns) * 0.15);
}

float gate_spacing_m(const RecordFacts& ray) {
  return static_cast<float>(static_cast<double>(ray.gate_spacing_ns) * 0.15);
}

bool make_plan(const ScanResult& scan, int32_t radar, NcPlan* plan,
               std::string* error) {
  NcPlan p;
  for (const RecordFacts& f : scan.records) {
    if (radar != -1 && f.radar != radar) continue;
    if (!f.beam_described) {
      *error = "cannot get information for beam " + std::to_string(f.beam) +
               " of the record at data offset " + std::to_string(f.offset);
      return false;
    }
    p.rays.push_back(f);
  }
  if (p.rays.empty()) {
    *error = radar == -1 ? "no record to convert"
                         : "no record of radar " + std::to_string(radar);
    return false;
  }
  if (p.rays.size() > INT_MAX) {
    *error = "too many records for one file";
    return false;
  }

  for (size_t i = 0; i < p.rays.size(); ++i) {
    const RecordFacts& f = p.rays[i];
    const int32_t ray = static_cast<int32_t>(i);
    p.start_index.push_back(p.n_points);
    p.n_points += f.gate_count;
    if (f.gate_count > p.max_gates) {
      p.max_gates = f.gate_count;
      p.range_ray = ray;
    }
    const int64_t length =
        f.spectra_flag == 0 ? 0
                            : spectrum_line_length(f.windows, f.spectral_points,
                                                   f.spectral_points + 1,
                                                   f.datacode % 100 == 17);
    p.spectrum_lengths.push_back(length);
    if (length > p.spectrum_length) p.spectrum_length = length;
    p.second_set |= f.second_set;
    if (i == 0 || f.time < p.first_time) p.first_time = f.time;
    if (i == 0 || f.time > p.last_time) p.last_time = f.time;
    if (p.sweeps.empty() || p.sweeps.back().beam != f.beam ||
        p.sweeps.back().fixed_angle != f.elevation) {
      p.sweeps.push_back({ray, ray, f.beam, f.elevation});
    }
    p.sweeps.back().last_ray = ray;
  }
  if (p.n_points > INT_MAX) {
    *error = "too many gates for one file";
    return false;
  }
  p.base_time = p.rays.front().time;
  *plan = std::move(p);
  return true;
}

}  // namespace qcomp
