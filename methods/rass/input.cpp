#include "methods/rass/input.h"

#include <algorithm>
#include <limits>

#include "disk/pda.h"
#include "methods/wind/fit.h"

namespace quellmar::companions {

namespace {

// n values of the array, or NaN for those it lacks.
void append(std::vector<float>* out, const std::vector<float>& values,
            bool present, int64_t n) {
  for (int64_t g = 0; g < n; ++g) {
    out->push_back(present && g < static_cast<int64_t>(values.size())
                       ? values[static_cast<size_t>(g)]
                       : std::numeric_limits<float>::quiet_NaN());
  }
}

}  // namespace

RecordChoice rass_records(int32_t radar, const RassMethod& method) {
  RecordChoice c;
  c.radar = radar;
  const bool w_correction = method.w_correction;
  c.takes = [w_correction](const RecordFacts& f) {
    if (is_rass_series(f.spectral_points)) return true;
    return w_correction && beam_pointing(f.azimuth, f.elevation).vertical;
  };
  c.kind = "RASS";
  c.none = "no RASS dwells in the input";
  return c;
}

void add_dwell(const RecordFacts& f, const MomentArrays& m,
               const RassMethod& method, RassSeries* s) {
  const int64_t gates =
      std::max<int64_t>(0, std::min({m.gate_count, int64_t{f.gate_count},
                                     static_cast<int64_t>(m.velocity.size())}));
  const bool second = f.second_set;
  const bool acoustic_first = method.acoustic_set == 1;
  s->times.push_back(f.time);
  s->nyquist.push_back(pda_get_nyquist_velocity());
  s->gate_counts.push_back(static_cast<int32_t>(gates));
  s->starts.push_back(s->acoustic.size());
  append(&s->acoustic, acoustic_first ? m.velocity : m.velocity2,
         acoustic_first || second, gates);
  append(&s->clear_air, acoustic_first ? m.velocity2 : m.velocity, second,
         gates);
  append(&s->auxiliary, m.aux2, second, gates);
}

}  // namespace quellmar::companions
