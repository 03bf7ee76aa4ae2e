#include "methods/moments/method.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "disk/pda.h"

namespace quellmar::companions {

const std::array<uint8_t, 8> kQcMasks = {1, 2, 4, 8, 16, 32, 64, 128};
const char* const kQcMeanings =
    "no_signal clutter_removed interference_removed several_peaks "
    "chosen_by_continuity unusable_spectrum noise_from_neighbouring_gates "
    "precipitation";

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kMaxLineWidth = 3;           // interference lines: 1 to 3 points
constexpr double kLineGateShare = 0.8;     // of the gates that show the line
constexpr double kClutterSharpness = 4.0;  // spike excess over neighbours'
constexpr double kClutterRise = 8.0;       // over the neighbour's fluctuation
constexpr double kValleyDepth = 0.6;       // of the lower of two maxima
constexpr double kValleyRise = 6.0;        // fluctuations of the valley
// A smoothed value's fluctuation over a value's: sqrt(1 + 4 + 1) / 4.
constexpr double kSmoothedShare = 0.6124;

// Reused by find_peaks (one thread per analysis).
thread_local std::vector<double> split_scratch;

struct Gate {
  float* s;                  // P values
  const unsigned char* has;  // P presence marks
  GateAnalysis* a;
};

bool usable_values(const Gate& g, int64_t points, int64_t* present) {
  *present = 0;
  for (int64_t k = 0; k < points; ++k) {
    if (!g.has[k]) continue;
    const float v = g.s[k];
    if (!std::isfinite(v) || v < 0.0f) return false;
    ++*present;
  }
  return true;
}

// The noise set of values already sorted ascending (see hildebrand_sekhon).
NoiseLevel noise_of_sorted(const std::vector<double>& values,
                           int32_t averages) {
  NoiseLevel level;
  if (values.empty()) return level;
  const double n = static_cast<double>(std::max<int32_t>(averages, 1));
  // With sums S and S2 over the lowest i values, N = S / i and
  // Q = S2 / i - N^2, so n Q <= N^2 is n (i S2 - S^2) <= S^2.
  double sum = 0.0, squares = 0.0;
  size_t best = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    sum += values[i];
    squares += values[i] * values[i];
    const double count = static_cast<double>(i + 1);
    if (n * (count * squares - sum * sum) <= sum * sum) best = i + 1;
  }
  double kept = 0.0;
  for (size_t i = 0; i < best; ++i) kept += values[i];
  level.count = static_cast<int64_t>(best);
  level.mean = kept / static_cast<double>(best);
  level.threshold = values[best - 1];
  return level;
}

// Buffers reused from gate to gate for the noise of a gate.
struct NoiseScratch {
  std::vector<uint32_t> keys, other;
  std::vector<double> sorted;
};

// Buckets of the noise sort, on the distance of a value's bits from the
// gate's lowest (2^23 a binade): 1024 of 1/512 binade over the first two
// binades, where averaged noise lies, then 128 of 1/4 binade (an echo's
// values), and one for whatever lies further. Four times finer buckets
// than 1/128 binade sort a gate of the bench day 20 % faster: fewer values
// share a bucket, so the insertion pass moves fewer.
constexpr int kFineBuckets = 1024;
constexpr int kFineShift = 14;
constexpr uint32_t kFineSpan = uint32_t{kFineBuckets} << kFineShift;
constexpr int kCoarseBuckets = 128;
constexpr int kCoarseShift = 21;
constexpr int kNoiseBuckets =
    kFineBuckets + kCoarseBuckets;  // the last: beyond

// The present values of a gate (finite, not negative) sorted ascending
// into scratch.sorted, on the bits of the floats, whose order as unsigned
// integers is the order of the values (-0 taken as +0, an equal value).
// A counting pass into buckets that grow with the distance from the
// lowest value leaves a value or two per bucket, put in order by one
// insertion pass; the values beyond the last bucket are sorted apart.
void sort_present(const float* values, const unsigned char* present,
                  int64_t points, NoiseScratch& scratch) {
  std::vector<uint32_t>& keys = scratch.keys;
  keys.resize(static_cast<size_t>(std::max<int64_t>(points, 0)));
  size_t count = 0;
  uint32_t lowest = 0xffffffffu;
  for (int64_t k = 0; k < points; ++k) {
    uint32_t bits;
    std::memcpy(&bits, &values[k], sizeof bits);
    bits = bits == 0x80000000u ? 0u : bits;
    keys[count] = bits;
    count += present[k] ? 1 : 0;
    if (present[k]) lowest = std::min(lowest, bits);
  }
  keys.resize(count);
  std::array<uint32_t, kNoiseBuckets + 2> starts{};
  auto bucket = [lowest](uint32_t key) {
    const uint32_t d = key - lowest;
    return d < kFineSpan ? d >> kFineShift
                         : std::min<uint32_t>(
                               kFineBuckets + ((d - kFineSpan) >> kCoarseShift),
                               kNoiseBuckets);
  };
  for (const uint32_t key : keys) ++starts[bucket(key) + 1];
  for (int b = 1; b <= kNoiseBuckets + 1; ++b) starts[b] += starts[b - 1];
  std::vector<uint32_t>& out = scratch.other;
  out.resize(count);
  const size_t above = starts[kNoiseBuckets];
  for (const uint32_t key : keys) out[starts[bucket(key)]++] = key;
  // Each value lies within its bucket's place: one insertion pass over
  // the bucketed ones; the rest sorted on their own.
  for (size_t i = 1; i < above; ++i) {
    const uint32_t v = out[i];
    size_t j = i;
    while (j > 0 && out[j - 1] > v) {
      out[j] = out[j - 1];
      --j;
    }
    out[j] = v;
  }
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(above), out.end());
  scratch.sorted.resize(count);
  for (size_t i = 0; i < count; ++i) {
    float v;
    std::memcpy(&v, &out[i], sizeof v);
    scratch.sorted[i] = v;
  }
}

// The noise of a gate from its present values; false when there is none.
bool gate_noise(const Gate& g, int64_t points, int32_t averages,
                NoiseScratch& scratch, NoiseLevel* noise) {
  sort_present(g.s, g.has, points, scratch);
  *noise = noise_of_sorted(scratch.sorted, averages);
  return noise->count > 0 && noise->mean > 0.0 && std::isfinite(noise->mean);
}

// Gates whose noise set is smaller than a quarter of their present values
// (an echo filling most of the band) take the noise of the nearest gates
// below and above whose set is not (the mean of the two means and of the
// two thresholds, or the one there is), flagged kQcNoiseFromNeighbours.
// With no such gate in the record, the gate keeps its own.
void noise_from_neighbours(std::vector<Gate>& gates,
                           const std::vector<unsigned char>& short_set,
                           std::vector<NoiseLevel>* noise) {
  const size_t count = gates.size();
  auto full = [&](size_t i) {
    return !(gates[i].a->flags & kQcUnusable) && !short_set[i];
  };
  for (size_t i = 0; i < count; ++i) {
    if ((gates[i].a->flags & kQcUnusable) || !short_set[i]) continue;
    double mean = 0.0, threshold = 0.0;
    int found = 0;
    for (size_t j = i; j-- > 0;) {
      if (!full(j)) continue;
      mean += (*noise)[j].mean;
      threshold += (*noise)[j].threshold;
      ++found;
      break;
    }
    for (size_t j = i + 1; j < count; ++j) {
      if (!full(j)) continue;
      mean += (*noise)[j].mean;
      threshold += (*noise)[j].threshold;
      ++found;
      break;
    }
    if (found == 0) continue;
    NoiseLevel& n = (*noise)[i];
    n.mean = mean / found;
    n.threshold = threshold / found;
    gates[i].a->noise = n.mean;
    gates[i].a->flags |= kQcNoiseFromNeighbours;
  }
}

// Replaces a narrow spike at 0 m/s (point index P/2) by the line between
// the points just outside K of it. A spike stands (1) more than 3 N /
// sqrt(n) above that line, (2) at least kClutterSharpness times as far
// above it as the mean of its two neighbours, and (3) above the higher
// neighbour by more than kClutterRise times that neighbour's own
// fluctuation (its value / sqrt(n)): an atmospheric echo at 0 m/s, at least
// one point wide, rises over its neighbours far less sharply, and by (3)
// the fluctuations of a strong echo do not make a spike.
void remove_clutter(const Gate& g, int64_t points, int32_t k_points,
                    int32_t averages, double noise) {
  const int64_t z = points / 2;
  const int64_t a = z - k_points - 1, b = z + k_points + 1;
  if (a < 0 || b >= points) return;
  for (int64_t k = a; k <= b; ++k) {
    if (!g.has[k]) return;
  }
  auto line = [&](int64_t k) {
    return g.s[a] + (g.s[b] - g.s[a]) * static_cast<double>(k - a) /
                        static_cast<double>(b - a);
  };
  const double excess = g.s[z] - line(z);
  const double beside =
      0.5 * ((g.s[z - 1] - line(z - 1)) + (g.s[z + 1] - line(z + 1)));
  const double sigma = noise / std::sqrt(static_cast<double>(averages));
  const double higher = std::max(g.s[z - 1], g.s[z + 1]);
  const double rise = g.s[z] - higher;
  if (!(excess > 3.0 * sigma) || !(excess > kClutterSharpness * beside) ||
      !(rise >
        kClutterRise * higher / std::sqrt(static_cast<double>(averages)))) {
    return;
  }
  for (int64_t k = a + 1; k < b; ++k) g.s[k] = static_cast<float>(line(k));
  g.a->flags |= kQcClutter;
}

// At a gate the clutter map holds: the band of `half` points either side
// of 0 m/s (point P/2) is replaced by the straight line between the points
// just outside it. The map says the clutter is there, steady; under a
// strong echo it may not stand out of the echo's fluctuations, so the band
// is replaced whatever it holds.
void remove_clutter_band(const Gate& g, int64_t points, int32_t half) {
  const int64_t z = points / 2;
  const int64_t a = z - half - 1, b = z + half + 1;
  if (a < 0 || b >= points) return;
  for (int64_t k = a; k <= b; ++k) {
    if (!g.has[k]) return;
  }
  auto line = [&](int64_t k) {
    return g.s[a] + (g.s[b] - g.s[a]) * static_cast<double>(k - a) /
                        static_cast<double>(b - a);
  };
  for (int64_t k = a + 1; k < b; ++k) g.s[k] = static_cast<float>(line(k));
  g.a->flags |= kQcClutter;
}

// Adds to counts[first * kMaxLineWidth + width - 1] where points first ..
// first + width - 1 (circular, width 1 to kMaxLineWidth) of a gate stand
// above its threshold with the points on both sides present and at or
// below it. One pass over the gate; at most one width fits each first.
void count_lines(const Gate& g, int64_t points, double threshold,
                 std::vector<int64_t>& counts) {
  auto above = [&](int64_t k) { return g.has[k] && g.s[k] > threshold; };
  auto low = [&](int64_t k) { return g.has[k] && !(g.s[k] > threshold); };
  for (int64_t first = 0; first < points; ++first) {
    if (!above(first) || !low(first == 0 ? points - 1 : first - 1)) continue;
    for (int64_t width = 1; width <= kMaxLineWidth; ++width) {
      int64_t right = first + width;
      if (right >= points) right -= points;
      if (low(right)) {
        ++counts[static_cast<size_t>(first * kMaxLineWidth + width - 1)];
        break;
      }
      if (!above(right)) break;
    }
  }
}

// Finds the interference lines of a record (runs of 1 to 3 points raised
// in at least 80% of its usable gates) and replaces them in every gate.
void remove_interference(std::vector<Gate>& gates, int64_t points,
                         const std::vector<double>& thresholds) {
  if (points < kMaxLineWidth + 2) return;
  int64_t usable = 0;
  for (const Gate& g : gates) usable += (g.a->flags & kQcUnusable) == 0;
  if (usable == 0) return;
  const double needed = kLineGateShare * static_cast<double>(usable);
  // The lines each gate shows, counted on the spectra as they are: a line
  // replaced below changes only its own points, which no later candidate
  // reads (they are taken).
  std::vector<int64_t> counts(static_cast<size_t>(points * kMaxLineWidth), 0);
  for (size_t i = 0; i < gates.size(); ++i) {
    if (gates[i].a->flags & kQcUnusable) continue;
    count_lines(gates[i], points, thresholds[i], counts);
  }
  std::vector<unsigned char> taken(static_cast<size_t>(points), 0);
  for (int64_t first = 0; first < points; ++first) {
    for (int64_t width = 1; width <= kMaxLineWidth; ++width) {
      bool free = true;
      for (int64_t j = -1; j <= width; ++j) {
        free &= !taken[static_cast<size_t>((first + j + points) % points)];
      }
      if (!free) break;
      const int64_t showing =
          counts[static_cast<size_t>(first * kMaxLineWidth + width - 1)];
      if (static_cast<double>(showing) < needed) continue;
      const int64_t left = (first - 1 + points) % points;
      const int64_t right = (first + width) % points;
      for (int64_t j = 0; j < width; ++j) {
        taken[static_cast<size_t>((first + j) % points)] = 1;
      }
      for (const Gate& g : gates) {
        if ((g.a->flags & kQcUnusable) || !g.has[left] || !g.has[right]) {
          continue;
        }
        for (int64_t j = 0; j < width; ++j) {
          const double t =
              static_cast<double>(j + 1) / static_cast<double>(width + 1);
          g.s[(first + j) % points] =
              static_cast<float>(g.s[left] + (g.s[right] - g.s[left]) * t);
        }
        g.a->flags |= kQcInterference;
      }
      break;
    }
  }
}

// Keeps the kPeaksKept strongest of the peaks measured.
void keep_peak(GateAnalysis* a, const Peak& p) {
  int at = a->peak_count;
  if (at == kPeaksKept) {
    if (!(p.power > a->peaks[kPeaksKept - 1].power)) return;
    at = kPeaksKept - 1;
  } else {
    ++a->peak_count;
  }
  while (at > 0 && a->peaks[at - 1].power < p.power) {
    a->peaks[at] = a->peaks[at - 1];
    --at;
  }
  a->peaks[at] = p;
}

// Index u (-P <= u < 3 P) taken modulo P, without a division.
inline int64_t modulo_points(int64_t u, int64_t p) {
  if (u < 0) return u + p;
  if (u >= p) u -= p;
  return u >= p ? u - p : u;
}

// The value of point u of a gate (-P <= u < 3 P), taken modulo P.
double value_at(const Gate& g, int64_t p, int64_t u) {
  return g.s[modulo_points(u, p)];
}
// The sums over a window of a gate's points (indices -P .. 3 P, taken
// modulo P) of w = S - N, w d and w d^2, d the index from origin, kept as
// the window moves: a move costs only the points it adds or drops.
class WindowSums {
 public:
  WindowSums(const Gate& g, int64_t p, double noise, int64_t origin)
      : g_(g),
        p_(p),
        noise_(noise),
        origin_(origin),
        lo_(origin),
        hi_(origin) {}
  // The window becomes lo .. hi - 1 (overlapping the present one).
  void move_to(int64_t lo, int64_t hi) {
    while (lo_ > lo) add(--lo_, 1.0);
    while (lo_ < lo) add(lo_++, -1.0);
    while (hi_ < hi) add(hi_++, 1.0);
    while (hi_ > hi) add(--hi_, -1.0);
  }
  // Power, mean index and variance (index units); false without power.
  bool moments(double* power, double* mean, double* variance) const {
    if (!(s0_ > 0.0) || !std::isfinite(s0_)) return false;
    const double m = s1_ / s0_;
    *power = s0_;
    *mean = static_cast<double>(origin_) + m;
    *variance = std::max(s2_ / s0_ - m * m, 0.0);
    return std::isfinite(*mean) && std::isfinite(*variance);
  }

 private:
  void add(int64_t u, double sign) {
    const double w = sign * (value_at(g_, p_, u) - noise_);
    const double d = static_cast<double>(u - origin_);
    s0_ += w;
    s1_ += w * d;
    s2_ += w * d * d;
  }
  const Gate& g_;
  int64_t p_;
  double noise_;
  int64_t origin_, lo_, hi_;
  double s0_ = 0.0, s1_ = 0.0, s2_ = 0.0;
};

// The peak regions of a gate: runs of at least M present points above the
// threshold, a run that reaches both ends of the spectrum taken as one
// (aliasing). Each is measured on the unwrapped velocity axis over a window
// that keeps its tails below the threshold: starting from the region, the
// window spans the centroid +- tail_widths widths (never less than the
// region, never into another region or a missing point, at most P points)
// and the moments are taken again over it, until the window stays put.
void find_peaks(const Gate& g, const RecordSpectra& r, int32_t min_points,
                double tail_widths, const NoiseLevel& noise) {
  const int64_t p = r.points;
  // Indices run from start to start + p - 1, below 2 p.
  auto wrap = [p](int64_t k) { return k < p ? k : k - p; };
  auto above = [&](int64_t k) { return g.has[k] && g.s[k] > noise.threshold; };
  // Start on a point that is not above, so no run is cut at the start.
  int64_t start = -1;
  for (int64_t k = 0; k < p; ++k) {
    if (!above(k)) {
      start = k;
      break;
    }
  }
  // Every point above (a noise level taken from neighbouring gates under
  // an echo filling the band): one region, cut at its lowest point.
  const bool all_above = start < 0;
  if (all_above) {
    start = 0;
    for (int64_t k = 1; k < p; ++k) {
      if (g.s[k] < g.s[start]) start = k;
    }
  }
  // The regions, [first, end) in order on start .. start + p - 1.
  struct Run {
    int64_t first, end;
  };
  std::array<Run, 64> found;
  std::vector<Run> more;
  int64_t regions = 0;
  int64_t j = all_above ? start : start + 1;
  while (j < start + p) {
    if (!above(wrap(j))) {
      ++j;
      continue;
    }
    const int64_t first = j;
    while (j < start + p && above(wrap(j))) ++j;
    if (j - first < min_points) continue;
    auto add = [&](int64_t a, int64_t b) {
      if (b - a < min_points) return;  // a piece too short to be a region
      if (regions < static_cast<int64_t>(found.size())) {
        found[static_cast<size_t>(regions)] = {a, b};
      } else {
        more.push_back({a, b});
      }
      ++regions;
    };
    // Two echoes side by side (clear air on a precipitation echo's flank)
    // make one run: it is split at each deep valley.
    int64_t piece = first;
    if (j - first >= 2 * min_points + 1) {
      const int64_t len = j - first;
      std::vector<double>& sm = split_scratch;
      sm.resize(static_cast<size_t>(2 * len));
      // Values smoothed by (1, 2, 1) / 4 (the run's ends by (2, 1) / 3 and
      // (1, 2) / 3): a valley is not a single low value, and a narrow
      // peak keeps most of its top.
      for (int64_t u = 0; u < len; ++u) {
        const double here = 2.0 * g.s[wrap(first + u)];
        const double left = u > 0 ? g.s[wrap(first + u - 1)] : 0.0;
        const double right = u + 1 < len ? g.s[wrap(first + u + 1)] : 0.0;
        const double weight = 2.0 + (u > 0) + (u + 1 < len);
        sm[static_cast<size_t>(u)] = (left + here + right) / weight;
      }
      // Highest smoothed value from u to the end of the run.
      for (int64_t u = len - 1; u >= 0; --u) {
        const double here = sm[static_cast<size_t>(u)];
        sm[static_cast<size_t>(len + u)] =
            u + 1 < len ? std::max(here, sm[static_cast<size_t>(len + u + 1)])
                        : here;
      }
      double left_max = sm[0];
      for (int64_t q = 1; q + 1 < len; ++q) {
        const double v = sm[static_cast<size_t>(q)];
        left_max = std::max(left_max, v);
        if (!(v < sm[static_cast<size_t>(q - 1)]) ||
            !(v <= sm[static_cast<size_t>(q + 1)])) {
          continue;
        }
        const double lower =
            std::min(left_max, sm[static_cast<size_t>(len + q + 1)]);
        if (v < kValleyDepth * lower &&
            lower - v >
                kValleyRise * kSmoothedShare * v /
                    std::sqrt(static_cast<double>(std::max(r.averages, 1)))) {
          add(piece, first + q);
          piece = first + q + 1;
          left_max = sm[static_cast<size_t>(q + 1)];
        }
      }
    }
    add(piece, j);
  }
  auto run = [&](int64_t i) {
    return i < static_cast<int64_t>(found.size())
               ? found[static_cast<size_t>(i)]
               : more[static_cast<size_t>(i) - found.size()];
  };
  const double sign = r.reversed ? -1.0 : 1.0;
  const double v = r.nyquist, step = 2.0 * v / static_cast<double>(p);
  for (int64_t i = 0; i < regions; ++i) {
    const Run here = run(i);
    // The window may reach from the end of the region before to the first
    // point of the region after (the last and first across the ends).
    int64_t low = i > 0 ? run(i - 1).end : run(regions - 1).end - p;
    int64_t high = i + 1 < regions ? run(i + 1).first : run(0).first + p;
    low = std::max(low, here.end - p);
    high = std::min(high, here.first + p);
    // ... over present points not above 2 T only: such a point outside
    // the region is another echo's (a bird too narrow to be a region),
    // and the window stops short of it; noise does not rise so high.
    // Searched only as far as a window asks: reach_low .. reach_high - 1
    // are open; a side found closed (or at its limit) stays so.
    int64_t reach_low = here.first, reach_high = here.end;
    bool low_closed = false, high_closed = false;
    const double ceiling = 2.0 * noise.threshold;
    auto down_to = [&](int64_t want) {
      while (!low_closed && reach_low > want) {
        const int64_t k = modulo_points(reach_low - 1, p);
        if (reach_low > low && g.has[k] && !(g.s[k] > ceiling)) {
          --reach_low;
        } else {
          low_closed = true;
        }
      }
      return std::max(want, reach_low);
    };
    auto up_to = [&](int64_t want) {
      while (!high_closed && reach_high < want) {
        const int64_t k = modulo_points(reach_high, p);
        if (reach_high < high && g.has[k] && !(g.s[k] > ceiling)) {
          ++reach_high;
        } else {
          high_closed = true;
        }
      }
      return std::min(want, reach_high);
    };
    int64_t lo = here.first, hi = here.end;
    double power = 0.0, mean = 0.0, variance = 0.0;
    WindowSums sums(g, p, noise.mean, here.first);
    sums.move_to(lo, hi);
    if (!sums.moments(&power, &mean, &variance)) continue;
    if (tail_widths > 0.0) {
      // The first window: out from the region until the spectrum meets the
      // mean noise on each side.
      int64_t a = here.first, b = here.end;
      while (down_to(a - 1) < a && value_at(g, p, a - 1) > noise.mean) --a;
      while (up_to(b + 1) > b && value_at(g, p, b) > noise.mean) ++b;
      double pw = 0.0, m = 0.0, var = 0.0;
      sums.move_to(a, b);
      if (sums.moments(&pw, &m, &var)) {
        power = pw;
        mean = m;
        variance = var;
      }
    }
    for (int iteration = 0; tail_widths > 0.0 && iteration < 8; ++iteration) {
      const double half = tail_widths * std::sqrt(variance);
      const int64_t a =
          std::min(down_to(static_cast<int64_t>(std::floor(mean - half + 0.5))),
                   here.first);
      const int64_t b = std::min(
          std::max(
              up_to(static_cast<int64_t>(std::floor(mean + half + 0.5)) + 1),
              here.end),
          a + p);
      if (a == lo && b == hi) break;
      double pw = 0.0, m = 0.0, var = 0.0;
      sums.move_to(a, b);
      if (!sums.moments(&pw, &m, &var)) break;
      lo = a;
      hi = b;
      power = pw;
      mean = m;
      variance = var;
    }
    const double velocity = sign * (mean - static_cast<double>(p) / 2.0) * step;
    Peak peak;
    peak.power = power;
    peak.velocity = velocity - 2.0 * v * std::floor((velocity + v) / (2.0 * v));
    peak.width = std::sqrt(variance) * step;
    if (std::isfinite(peak.velocity) && std::isfinite(peak.width)) {
      keep_peak(g.a, peak);
    }
  }
  if (regions > 1) g.a->flags |= kQcSeveralPeaks;
}

}  // namespace

void sort_present_values(const float* values, const unsigned char* present,
                         int64_t points, std::vector<double>* sorted) {
  NoiseScratch scratch;
  sort_present(values, present, points, scratch);
  sorted->swap(scratch.sorted);
}

NoiseLevel hildebrand_sekhon(std::vector<double>& values, int32_t averages) {
  std::sort(values.begin(), values.end());
  return noise_of_sorted(values, averages);
}

void analyse_record(RecordSpectra& r, const MomentsMethod& method,
                    std::vector<GateAnalysis>* out,
                    const std::vector<int8_t>* clutter_bands) {
  out->assign(static_cast<size_t>(std::max<int64_t>(r.gates, 0)),
              GateAnalysis{});
  const int64_t p = r.points;
  const bool record_usable =
      r.usable && p >= 2 && std::isfinite(r.nyquist) && r.nyquist > 0.0 &&
      r.values.size() >= static_cast<size_t>(r.gates * p) &&
      r.present.size() >= static_cast<size_t>(r.gates * p);
  const int32_t averages = std::max<int32_t>(r.averages, 1);
  std::vector<Gate> gates;
  std::vector<NoiseLevel> noise(out->size());
  std::vector<unsigned char> short_set(out->size(), 0);
  NoiseScratch scratch;
  for (int64_t i = 0; i < r.gates; ++i) {
    Gate g{record_usable ? r.values.data() + i * p : nullptr,
           record_usable ? r.present.data() + i * p : nullptr,
           &(*out)[static_cast<size_t>(i)]};
    int64_t present = 0;
    NoiseLevel& n = noise[static_cast<size_t>(i)];
    if (!record_usable || !usable_values(g, p, &present) || present < 2 ||
        !gate_noise(g, p, averages, scratch, &n)) {
      g.a->flags = kQcUnusable | kQcNoSignal;
      g.s = nullptr;
    } else {
      g.a->noise = n.mean;
      short_set[static_cast<size_t>(i)] = n.count * kNoiseSetShare < present;
    }
    gates.push_back(g);
  }
  noise_from_neighbours(gates, short_set, &noise);
  if (method.clutter) {
    for (size_t i = 0; i < gates.size(); ++i) {
      const Gate& g = gates[i];
      if (g.a->flags & kQcUnusable) continue;
      const int band =
          clutter_bands && i < clutter_bands->size() ? (*clutter_bands)[i] : -1;
      if (band >= 0) {
        remove_clutter_band(g, p, std::max(method.clutter_points, band));
      } else {
        remove_clutter(g, p, method.clutter_points, averages, g.a->noise);
      }
    }
  }
  if (record_usable && method.interference) {
    std::vector<double> thresholds(noise.size());
    for (size_t i = 0; i < noise.size(); ++i) {
      thresholds[i] = noise[i].threshold;
    }
    remove_interference(gates, p, thresholds);
  }
  for (size_t i = 0; i < gates.size(); ++i) {
    const Gate& g = gates[i];
    if (g.a->flags & kQcUnusable) continue;
    find_peaks(g, r, std::max<int32_t>(method.min_points, 1),
               method.tail_widths, noise[i]);
    if (g.a->peak_count == 0) g.a->flags |= kQcNoSignal;
  }
}

GateMoments gate_moments(const GateAnalysis& gate, int chosen, int64_t points,
                         int precip) {
  GateMoments m{kNaN, kNaN, kNaN, kNaN, kNaN, gate.flags};
  if (gate.flags & kQcUnusable) return m;
  m.noise_db = static_cast<float>(10.0 * std::log10(gate.noise));
  if (chosen < 0 || chosen >= gate.peak_count) {
    m.flags |= kQcNoSignal;
    return m;
  }
  const Peak& p = gate.peaks[static_cast<size_t>(chosen)];
  const double snr =
      10.0 * std::log10(p.power / (gate.noise * static_cast<double>(points)));
  const double power = 10.0 * std::log10(p.power);
  if (!std::isfinite(snr) || !std::isfinite(power) ||
      !std::isfinite(m.noise_db)) {
    m.flags |= kQcUnusable | kQcNoSignal;
    m.noise_db = kNaN;
    return m;
  }
  m.velocity = static_cast<float>(p.velocity);
  m.width = static_cast<float>(p.width);
  m.snr = static_cast<float>(snr);
  m.power_db = static_cast<float>(power);
  if (precip >= 0 && precip < gate.peak_count) {
    const Peak& q = gate.peaks[static_cast<size_t>(precip)];
    const double rain =
        10.0 * std::log10(q.power / (gate.noise * static_cast<double>(points)));
    if (std::isfinite(rain)) {
      m.precip_velocity = static_cast<float>(q.velocity);
      m.precip_width = static_cast<float>(q.width);
      m.precip_snr = static_cast<float>(rain);
      m.precipitation_only = precip == chosen;
    }
  }
  return m;
}

std::string describe_method(const MomentsMethod& m) {
  std::string s = "Hildebrand-Sekhon noise";
  if (m.clutter) {
    s += "; clutter spike at 0 m/s replaced within " +
         std::to_string(m.clutter_points) + " point(s)";
  }
  if (m.interference) s += "; interference lines replaced";
  s += "; peak regions of at least " + std::to_string(m.min_points) + " points";
  if (m.tail_widths > 0.0) {
    char tails[64];
    std::snprintf(tails, sizeof tails,
                  ", measured over %g widths either side of the centroid",
                  m.tail_widths);
    s += tails;
  }
  s += "; peak chosen by ";
  s += m.peak == PeakChoice::kContinuity
           ? "continuity over 5 records before and after"
           : "strongest power";
  return s;
}

}  // namespace quellmar::companions
