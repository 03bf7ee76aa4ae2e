// Consensus averaging: the radial velocity of one beam at one gate over one
// averaging period, from the values of the period's records, robust against
// the few that an echo other than the clear air (birds, aircraft, ground
// clutter) has taken over.

#ifndef QUELLMAR_COMPANIONS_WIND_CONSENSUS_H
#define QUELLMAR_COMPANIONS_WIND_CONSENSUS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quellmar::companions {

// One record's value at the gate.
struct GateSample {
  float velocity = 0.f;  // m/s
  float snr = 0.f;       // dB
};

struct ConsensusRule {
  double window = 2.0;            // m/s: max - min of an agreeing subset
  double min_fraction = 0.4;      // of the records that hold the gate
  std::optional<double> min_snr;  // dB; values below it are dropped
  int32_t min_count = 2;          // values a consensus needs at least
};

struct Consensus {
  bool accepted = false;
  double velocity = 0.0;  // mean of the subset (accepted only)
  double mean_snr = 0.0;  // mean SNR in dB of the subset (accepted only)
  int32_t used = 0;       // values in the subset; 0 when not accepted
  int32_t available = 0;  // records that hold the gate
};

// The largest run of n sorted values (ascending) whose highest and lowest
// lie within the window of each other: [first, first + size). Every largest
// subset of values within the window is such a run; on a tie the one of the
// smaller spread (highest - lowest), then the lower one. value(i) gives the
// i-th value.
struct ConsensusRun {
  size_t first = 0;
  size_t size = 0;
  double spread = 0.0;
};
template <class Value>
ConsensusRun largest_run(size_t n, double window, const Value& value) {
  ConsensusRun best;
  size_t first = 0;
  for (size_t last = 0; last < n; ++last) {
    const double top = value(last);
    while (top - value(first) > window) ++first;
    const size_t size = last - first + 1;
    const double spread = top - value(first);
    if (size > best.size || (size == best.size && spread < best.spread)) {
      best = {first, size, spread};
    }
  }
  return best;
}

// A run of size values out of the available ones is accepted: at least 2
// and at least min_fraction of them.
bool consensus_accepted(size_t size, int32_t available, double min_fraction);
// The same with at least min_count values (and at least 1).
bool consensus_accepted(size_t size, int32_t available, double min_fraction,
                        int32_t min_count);

// A velocity folded onto [-V, V) (nyquist V > 0).
double fold_velocity(double velocity, double nyquist);

// The consensus of the samples (one per record of the period that holds the
// gate; reordered in place). Values that are not finite, and with a
// minimum SNR those below it or without a finite SNR, are dropped. Of the
// rest, the largest subset whose values lie within the window of each
// other (max - min <= window) wins; among equally large ones the one of
// the smaller spread, then the one of the lower values. It is accepted when
// it holds at least min_count values and at least min_fraction of all
// samples.
//
// With a Nyquist velocity V > 0 (and a window below 2V) the velocities
// are folded velocities, points on a circle of circumference 2V: each is
// folded onto [-V, V), the window is searched on the circle (a set may
// run across +-V), and the set is averaged unfolded about its centre,
// the mean folded back onto [-V, V).
Consensus consensus(std::vector<GateSample>& samples, const ConsensusRule& rule,
                    double nyquist = 0.0);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_CONSENSUS_H
