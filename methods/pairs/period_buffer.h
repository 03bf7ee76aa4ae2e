// The records of the averaging periods still open, per series: a program
// that averages over periods (winds, virtual temperatures) adds each record
// to its period and hands a period on once no input can add to it, so that
// it holds the open periods only, never the whole input.

#ifndef QUELLMAR_COMPANIONS_PERIOD_BUFFER_H
#define QUELLMAR_COMPANIONS_PERIOD_BUFFER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "methods/pairs/periods.h"

namespace quellmar::companions {

// Records: what a series keeps of one period (e.g. BeamSeries).
template <class Records>
class PeriodBuffer {
 public:
  PeriodBuffer(size_t series, int32_t period_minutes)
      : series_(series), minutes_(period_minutes) {}

  // The records of one series in the period holding `time`; nullptr when
  // that period was finished already (the input's order rules it out).
  Records* at(size_t series, int64_t time) {
    const Period period = period_of(time, minutes_);
    if (period.end <= finished_) return nullptr;
    auto [it, fresh] = open_.try_emplace(period.start);
    if (fresh) it->second.resize(series_);
    return &it->second[series];
  }

  // Hands every open period that ends at or before `time` to
  // on_period(const Period&, std::vector<Records>&) in time order, and
  // drops it.
  template <class OnPeriod>
  void finish_before(int64_t time, OnPeriod&& on_period) {
    finished_ = std::max(finished_, time);
    while (!open_.empty()) {
      auto it = open_.begin();
      const Period period = period_of(it->first, minutes_);
      if (period.end > time) break;
      on_period(period, it->second);
      open_.erase(it);
    }
  }

 private:
  size_t series_;
  int32_t minutes_;
  std::map<int64_t, std::vector<Records>> open_;  // by period start
  int64_t finished_ = std::numeric_limits<int64_t>::min();
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PERIOD_BUFFER_H
