#include "methods/qc/time_height_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quellmar::companions {

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
  for (size_t i = 0; i < cells; ++i) {
    if (label[i] == kNone) continue;
    const bool kept = label[i] == largest ||
                      sizes[static_cast<size_t>(label[i])] >= rule.min_pattern;
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
