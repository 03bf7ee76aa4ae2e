#include "methods/wind/unfold.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "methods/wind/profiles.h"

namespace quellmar::companions {

namespace {

struct Choice {
  bool sure = false;
  double k = 0.0;
};

// The k of v + 2kV nearest the reference, sure within the step.
Choice nearest_fold(double v, double reference, double nyquist,
                    double max_step) {
  Choice c;
  if (!std::isfinite(reference)) return c;
  c.k = std::round((reference - v) / (2 * nyquist));
  c.sure = std::abs(v + 2 * c.k * nyquist - reference) <= max_step;
  return c;
}

// The gate's k from its references (either may be NaN); false when it
// gives up. A gate with no reference starts where it is unambiguous.
bool decide(double v, double neighbour, double previous, double nyquist,
            double max_step, double* k) {
  const Choice a = nearest_fold(v, neighbour, nyquist, max_step);
  const Choice b = nearest_fold(v, previous, nyquist, max_step);
  if (!std::isfinite(neighbour) && !std::isfinite(previous)) {
    *k = 0.0;
    return std::abs(v) <= max_step;
  }
  if (a.sure && b.sure && a.k != b.k) return false;
  if (a.sure) {
    *k = a.k;
    return true;
  }
  if (b.sure) {
    *k = b.k;
    return true;
  }
  return false;
}

}  // namespace

void unfold_column(float* values, size_t gates, const float* previous,
                   double nyquist, const UnfoldRule& rule, uint8_t* flags) {
  if (!(nyquist > 0) || !std::isfinite(nyquist) || gates == 0) return;
  const double max_step = rule.max_step_share * nyquist;
  const size_t gap = static_cast<size_t>(std::max(rule.max_gap_gates, 1));
  std::vector<double> out(gates, std::nan(""));
  std::vector<char> done(gates, 0);
  const auto previous_at = [previous](size_t g) {
    return previous == nullptr ? std::nan("") : double{previous[g]};
  };
  // Upward from the lowest gate that can start.
  size_t lowest_start = gates;
  for (size_t g = 0; g < gates; ++g) {
    const double v = values[g];
    if (!std::isfinite(v)) continue;
    double neighbour = std::nan("");
    for (size_t d = 1; d <= gap && d <= g; ++d) {
      if (done[g - d]) {
        neighbour = out[g - d];
        break;
      }
    }
    double k = 0.0;
    if (!decide(v, neighbour, previous_at(g), nyquist, max_step, &k)) continue;
    out[g] = v + 2 * k * nyquist;
    done[g] = 1;
    if (lowest_start == gates) lowest_start = g;
  }
  // Downward from the lowest start for the gates below it that gave up
  // for want of a reference.
  for (size_t g = lowest_start; g-- > 0;) {
    const double v = values[g];
    if (!std::isfinite(v) || done[g]) continue;
    double neighbour = std::nan("");
    for (size_t d = 1; d <= gap && g + d < gates; ++d) {
      if (done[g + d]) {
        neighbour = out[g + d];
        break;
      }
    }
    if (!std::isfinite(neighbour)) continue;
    double k = 0.0;
    if (!decide(v, neighbour, previous_at(g), nyquist, max_step, &k)) continue;
    out[g] = v + 2 * k * nyquist;
    done[g] = 1;
  }
  for (size_t g = 0; g < gates; ++g) {
    if (!std::isfinite(values[g])) continue;
    if (!done[g]) {
      values[g] = std::nanf("");
      flags[g] |= kGateUnfoldGaveUp;
      continue;
    }
    if (out[g] != values[g]) flags[g] |= kGateUnfolded;
    values[g] = static_cast<float>(out[g]);
  }
}

}  // namespace quellmar::companions
