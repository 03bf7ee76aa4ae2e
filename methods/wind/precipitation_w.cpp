#include "methods/wind/precipitation_w.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quellmar::companions {

void flag_precipitation(const BeamSeries& s, double up_sign,
                        const PrecipitationRule& rule, uint8_t* gate_flag) {
  if (s.width.size() != s.velocity.size() || !std::isfinite(up_sign)) return;
  const size_t gates = static_cast<size_t>(std::max(s.gates, 0));
  std::vector<int32_t> holding(gates, 0), falling(gates, 0);
  for (size_t r = 0; r < s.records(); ++r) {
    const float* vel = s.velocity.data() + s.starts[r];
    const float* width = s.width.data() + s.starts[r];
    const size_t n = std::min(gates, static_cast<size_t>(s.gate_counts[r]));
    for (size_t g = 0; g < n; ++g) {
      ++holding[g];
      const double w = up_sign * vel[g];
      if (std::isfinite(w) && w <= -rule.fall_speed_m_s &&
          std::isfinite(width[g]) && width[g] >= rule.min_width_m_s) {
        ++falling[g];
      }
    }
  }
  for (size_t g = 0; g < gates; ++g) {
    const double needed = std::max(3.0, rule.min_share * holding[g]);
    if (holding[g] > 0 && falling[g] >= needed * (1 - 1e-12)) {
      gate_flag[g] |= kGatePrecipitation;
    }
  }
}

}  // namespace quellmar::companions
