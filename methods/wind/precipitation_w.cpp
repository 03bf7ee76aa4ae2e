#include "methods/wind/precipitation_w.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quellmar::companions {

void flag_precipitation(const BeamSeries& s, double up_sign,
                        const PrecipitationRule& rule, uint8_t* gate_flag) {
  if (s.width.size() != s.velocity.size() || !std::isfinite(up_sign)) return;
  const size_t gates = static_cast<size_t>(std::max(s.gates, 0));
  std::vector<int32_t> holding(gates, 0), falling(gates, 0);
  const double fall = rule.fall_speed_m_s, min_width = rule.min_width_m_s;
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  for (size_t r = 0; r < s.records(); ++r) {
    const float* vel = s.velocity.data() + s.starts[r];
    const float* width = s.width.data() + s.starts[r];
    const size_t n = std::min(gates, static_cast<size_t>(s.gate_counts[r]));
    // Without branches, so that the loop vectorises: a comparison with a
    // NaN is false, and an infinite value counts as no value.
    for (size_t g = 0; g < n; ++g) {
      ++holding[g];
      const double w = up_sign * vel[g];
      const double wide = width[g];
      falling[g] += (w <= -fall) & (w > -kInfinity) & (wide >= min_width) &
                    (wide < kInfinity);
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
