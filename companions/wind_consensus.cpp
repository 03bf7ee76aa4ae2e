#include "companions/wind_consensus.h"

#include <algorithm>
#include <cmath>

namespace qcomp {

Consensus consensus(std::vector<GateSample>& samples,
                    const ConsensusRule& rule) {
  Consensus c;
  c.available = static_cast<int32_t>(samples.size());
  const auto dropped = [&rule](const GateSample& s) {
    if (!std::isfinite(s.velocity)) return true;
    if (!rule.min_snr) return false;
    return !std::isfinite(s.snr) || s.snr < *rule.min_snr;
  };
  samples.erase(std::remove_if(samples.begin(), samples.end(), dropped),
                samples.end());
  if (samples.size() < 2) return c;
  std::sort(samples.begin(), samples.end(),
            [](const GateSample& a, const GateSample& b) {
              if (a.velocity != b.velocity) return a.velocity < b.velocity;
              return a.snr < b.snr;
            });

  // Every largest subset is a run of the sorted values that starts at the
  // lowest value within the window below its highest: one run per end.
  size_t best_first = 0, best_size = 0;
  double best_spread = 0.0;
  size_t first = 0;
  for (size_t last = 0; last < samples.size(); ++last) {
    const double top = samples[last].velocity;
    while (top - samples[first].velocity > rule.window) ++first;
    const size_t size = last - first + 1;
    const double spread = top - samples[first].velocity;
    if (size > best_size || (size == best_size && spread < best_spread)) {
      best_first = first;
      best_size = size;
      best_spread = spread;
    }
  }

  const double needed = rule.min_fraction * c.available;
  // A relative margin keeps products such as 0.4 x 5 from missing by one
  // rounding step.
  if (best_size < 2 || static_cast<double>(best_size) < needed * (1 - 1e-12)) {
    return c;
  }
  double velocity_sum = 0.0, snr_sum = 0.0;
  for (size_t i = best_first; i < best_first + best_size; ++i) {
    velocity_sum += samples[i].velocity;
    snr_sum += samples[i].snr;
  }
  c.accepted = true;
  c.used = static_cast<int32_t>(best_size);
  c.velocity = velocity_sum / static_cast<double>(best_size);
  c.mean_snr = snr_sum / static_cast<double>(best_size);
  return c;
}

}  // namespace qcomp
