#include "methods/qc/time_height_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quellmar::companions {

namespace {

// How far below a value the layer check looks for one to compare with.
constexpr size_t kLayerReach = 8;

// The patterns that jump against the layers below them (by label), taken
// from the lowest pattern up so that a layer above a jumped one is judged
// against what lies below that.
std::vector<char> jumped_layers(const QualityField& field,
                                const std::vector<int32_t>& label,
                                size_t patterns, size_t height_reach,
                                double layer_jump) {
  const size_t cols = field.columns;
  const size_t cells = label.size();
  std::vector<size_t> lowest(patterns, cols);
  for (size_t i = 0; i < cells; ++i) {
    if (label[i] < 0) continue;
    size_t& l = lowest[static_cast<size_t>(label[i])];
    l = std::min(l, i % cols);
  }
  std::vector<size_t> order(patterns);
  for (size_t i = 0; i < patterns; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&lowest](size_t a, size_t b) {
    return lowest[a] < lowest[b];
  });
  // The cells of each pattern, by label.
  std::vector<std::vector<size_t>> members(patterns);
  for (size_t i = 0; i < cells; ++i) {
    if (label[i] >= 0) members[static_cast<size_t>(label[i])].push_back(i);
  }
  std::vector<char> jumped(patterns, 0);
  const size_t reach = std::max<size_t>(height_reach, kLayerReach);
  for (size_t id : order) {
    int64_t below = 0, far = 0;
    for (size_t at : members[id]) {
      const size_t c = at % cols;
      for (size_t d = 1; d <= reach && d <= c; ++d) {
        const size_t under = at - d;
        if (label[under] < 0) continue;
        if (static_cast<size_t>(label[under]) == id) break;
        if (jumped[static_cast<size_t>(label[under])]) continue;
        ++below;
        const double allowed = layer_jump * static_cast<double>(d);
        if (std::fabs(field.values[under] - field.values[at]) > allowed) {
          ++far;
        }
        break;
      }
    }
    jumped[id] = below >= 3 && 2 * far > below;
  }
  return jumped;
}

}  // namespace

std::vector<uint8_t> continuity_flags(const QualityField& field,
                                      const ContinuityRule& rule) {
  const size_t cols = field.columns;
  const size_t rows = cols == 0 ? 0 : field.values.size() / cols;
  const size_t cells = rows * cols;
  std::vector<uint8_t> flags(cells, kFlagMissing);
  if (cells == 0) return flags;

  // The rows within the time neighbourhood of each row: [first, last].
  std::vector<size_t> first(rows), last(rows);
  const int64_t reach = rule.periods < 0 ? 0 : rule.periods;
  for (size_t r = 0, lo = 0, hi = 0; r < rows; ++r) {
    while (field.slots[r] - field.slots[lo] > reach) ++lo;
    if (hi < r) hi = r;
    while (hi + 1 < rows && field.slots[hi + 1] - field.slots[r] <= reach) {
      ++hi;
    }
    first[r] = lo;
    last[r] = hi;
  }
  const size_t height_reach = rule.heights < 0 ? 0 : rule.heights;

  // Patterns by a walk from every unlabelled present value.
  constexpr int32_t kNone = -1;
  std::vector<int32_t> label(cells, kNone);
  std::vector<int64_t> sizes;
  std::vector<size_t> stack;
  for (size_t start = 0; start < cells; ++start) {
    if (label[start] != kNone || !std::isfinite(field.values[start])) continue;
    const int32_t id = static_cast<int32_t>(sizes.size());
    int64_t size = 0;
    label[start] = id;
    stack.push_back(start);
    while (!stack.empty()) {
      const size_t at = stack.back();
      stack.pop_back();
      ++size;
      const size_t r = at / cols, c = at % cols;
      const double value = field.values[at];
      const size_t c0 = c > height_reach ? c - height_reach : 0;
      const size_t c1 = std::min(cols - 1, c + height_reach);
      for (size_t rr = first[r]; rr <= last[r]; ++rr) {
        for (size_t cc = c0; cc <= c1; ++cc) {
          const size_t next = rr * cols + cc;
          if (label[next] != kNone) continue;
          const float other = field.values[next];
          if (!std::isfinite(other) ||
              std::fabs(other - value) > rule.max_step) {
            continue;
          }
          label[next] = id;
          stack.push_back(next);
        }
      }
    }
    sizes.push_back(size);
  }

  // The largest pattern (the first of the largest) is always kept.
  int32_t largest = kNone;
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (largest == kNone || sizes[i] > sizes[static_cast<size_t>(largest)]) {
      largest = static_cast<int32_t>(i);
    }
  }
  const std::vector<char> jumped =
      rule.layer_jump > 0 ? jumped_layers(field, label, sizes.size(),
                                          height_reach, rule.layer_jump)
                          : std::vector<char>(sizes.size(), 0);
  for (size_t i = 0; i < cells; ++i) {
    if (label[i] == kNone) continue;
    const size_t id = static_cast<size_t>(label[i]);
    const bool kept =
        !jumped[id] && (label[i] == largest || sizes[id] >= rule.min_pattern);
    flags[i] = kept ? kFlagGood : kFlagSuspect;
  }
  return flags;
}

std::vector<uint8_t> quality_flags(const QualityField& field,
                                   const std::optional<ContinuityRule>& rule) {
  if (rule) return continuity_flags(field, *rule);
  std::vector<uint8_t> flags(field.values.size());
  for (size_t i = 0; i < flags.size(); ++i) {
    flags[i] = std::isfinite(field.values[i]) ? kFlagGood : kFlagMissing;
  }
  return flags;
}

int64_t period_slot(int64_t start, int32_t minutes) {
  constexpr int64_t kDay = 86400;
  const int64_t length = static_cast<int64_t>(minutes) * 60;
  const int64_t per_day = (kDay + length - 1) / length;
  const int64_t q = start / kDay;
  const int64_t day = (start % kDay != 0 && start < 0) ? q - 1 : q;
  return day * per_day + (start - day * kDay) / length;
}

}  // namespace quellmar::companions
