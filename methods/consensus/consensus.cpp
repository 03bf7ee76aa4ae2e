#include "methods/consensus/consensus.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quellmar::companions {

namespace {

// A float as an unsigned key of the same order (-0 taken as +0), and back.
uint32_t order_key(float v) {
  const uint32_t bits = std::bit_cast<uint32_t>(v + 0.0f);
  return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}
float from_order_key(uint32_t key) {
  return std::bit_cast<float>((key & 0x80000000u) != 0 ? key & 0x7fffffffu
                                                       : ~key);
}

// Sorts by velocity, equal velocities by SNR, through one 64-bit key per
// sample: the same order as comparing the two floats, found faster.
void sort_by_velocity_then_snr(std::vector<GateSample>& samples) {
  static thread_local std::vector<uint64_t> keys;
  keys.resize(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    keys[i] = (uint64_t{order_key(samples[i].velocity)} << 32) |
              order_key(samples[i].snr);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i].velocity = from_order_key(static_cast<uint32_t>(keys[i] >> 32));
    samples[i].snr = from_order_key(static_cast<uint32_t>(keys[i]));
  }
}

}  // namespace

bool consensus_accepted(size_t size, int32_t available, double min_fraction) {
  return consensus_accepted(size, available, min_fraction, 2);
}

bool consensus_accepted(size_t size, int32_t available, double min_fraction,
                        int32_t min_count) {
  const double needed = min_fraction * available;
  // A relative margin keeps products such as 0.4 x 5 from missing by one
  // rounding step.
  return size >= static_cast<size_t>(std::max(min_count, 1)) &&
         static_cast<double>(size) >= needed * (1 - 1e-12);
}

double fold_velocity(double velocity, double nyquist) {
  if (velocity >= -nyquist && velocity < nyquist) return velocity;
  const double span = 2 * nyquist;
  const double folded =
      velocity - span * std::floor((velocity + nyquist) / span);
  // Rounding can land on +V itself.
  return folded >= nyquist ? folded - span : folded;
}

Consensus consensus(std::vector<GateSample>& samples, const ConsensusRule& rule,
                    double nyquist) {
  Consensus c;
  c.available = static_cast<int32_t>(samples.size());
  const auto dropped = [&rule](const GateSample& s) {
    if (!std::isfinite(s.velocity)) return true;
    if (!rule.min_snr) return false;
    return !std::isfinite(s.snr) || s.snr < *rule.min_snr;
  };
  samples.erase(std::remove_if(samples.begin(), samples.end(), dropped),
                samples.end());
  if (samples.empty()) return c;
  const bool circle =
      std::isfinite(nyquist) && nyquist > 0 && rule.window < 2 * nyquist;
  if (circle) {
    for (GateSample& s : samples) {
      if (!(s.velocity >= -nyquist && s.velocity < nyquist)) {
        s.velocity = static_cast<float>(fold_velocity(s.velocity, nyquist));
      }
    }
  }
  sort_by_velocity_then_snr(samples);

  // Every largest subset is a run of the sorted values that starts at the
  // lowest value within the window below its highest: one run per end. On
  // the circle the values go round twice, the second time 2V higher, so
  // a run across +-V is a run of that sequence (a window below 2V holds
  // no value twice).
  const size_t n = samples.size();
  const double span = circle ? 2 * nyquist : 0.0;
  // Only the values within the window above -V can close a run across
  // +-V: the second round goes as far as them.
  size_t wrapped = 0;
  if (circle) {
    while (wrapped < n && samples[wrapped].velocity <= -nyquist + rule.window) {
      ++wrapped;
    }
  }
  // The sequence written out once, so that the search reads it directly.
  static thread_local std::vector<double> line;
  line.resize(n + wrapped);
  for (size_t i = 0; i < n; ++i) line[i] = samples[i].velocity;
  for (size_t i = 0; i < wrapped; ++i) {
    line[n + i] = double{samples[i].velocity} + span;
  }
  const auto value = [](size_t i) { return line[i]; };
  const ConsensusRun run = largest_run(line.size(), rule.window, value);
  if (!consensus_accepted(run.size, c.available, rule.min_fraction,
                          rule.min_count)) {
    return c;
  }
  double velocity_sum = 0.0, snr_sum = 0.0;
  for (size_t i = run.first; i < run.first + run.size; ++i) {
    velocity_sum += value(i);
    snr_sum += samples[i < n ? i : i - n].snr;
  }
  c.accepted = true;
  c.used = static_cast<int32_t>(run.size);
  c.velocity = velocity_sum / static_cast<double>(run.size);
  if (circle) c.velocity = fold_velocity(c.velocity, nyquist);
  c.mean_snr = snr_sum / static_cast<double>(run.size);
  return c;
}

}  // namespace quellmar::companions
