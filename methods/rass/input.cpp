#include "methods/rass/input.h"

#include <algorithm>
#include <limits>
#include <map>

#include "disk/pda.h"
#include "methods/wind/fit.h"

namespace quellmar::companions {

namespace {

// n values of the array, or NaN for those it lacks.
void append(std::vector<float>* out, const std::vector<float>& values,
            bool present, int64_t n) {
  const size_t count = static_cast<size_t>(n);
  const size_t have = present ? std::min(values.size(), count) : 0;
  out->insert(out->end(), values.begin(),
              values.begin() + static_cast<ptrdiff_t>(have));
  out->resize(out->size() + (count - have),
              std::numeric_limits<float>::quiet_NaN());
}

}  // namespace

RecordChoice rass_records(int32_t radar, const RassMethod& method,
                          bool oblique_wind) {
  RecordChoice c;
  c.radar = radar;
  const bool w_correction = method.w_correction;
  c.takes = [w_correction, oblique_wind](const RecordFacts& f) {
    if (is_rass_series(f.spectral_points)) return true;
    return w_correction &&
           (oblique_wind || beam_pointing(f.azimuth, f.elevation).vertical);
  };
  c.kind = "RASS";
  c.none = "no RASS dwells in the input";
  return c;
}

void add_dwell(const RecordFacts& f, const MomentArrays& m, RassSeries* s) {
  const int64_t gates =
      std::max<int64_t>(0, std::min({m.gate_count, int64_t{f.gate_count},
                                     static_cast<int64_t>(m.velocity.size())}));
  const bool second = f.second_set;
  s->second_set = s->second_set || second;
  s->times.push_back(f.time);
  s->nyquist.push_back(pda_get_nyquist_velocity());
  s->gate_counts.push_back(static_cast<int32_t>(gates));
  s->starts.push_back(s->velocity[0].size());
  append(&s->velocity[0], m.velocity, true, gates);
  append(&s->velocity[1], m.velocity2, second, gates);
  append(&s->width[0], m.width, true, gates);
  append(&s->width[1], m.width2, second, gates);
  append(&s->auxiliary, m.aux2, second, gates);
}

bool rass_needs_horizontal_wind(const InputPlan& plan) {
  // Modes with RASS dwells, and those with a vertical RASS beam (which then
  // gives the mode's profiles).
  std::map<int32_t, bool> vertical;
  for (const PlannedSeries& s : plan.series) {
    if (!is_rass_series(s.spectral_points)) continue;
    vertical[s.mode] =
        vertical[s.mode] ||
        beam_pointing(s.geometry.azimuth, s.geometry.elevation).vertical;
  }
  for (const auto& [mode, has_vertical] : vertical) {
    if (!has_vertical) return true;
  }
  return false;
}

}  // namespace quellmar::companions
