// The averaging periods of the programs that average over time
// (quellmar-wind, quellmar-rass).

#ifndef QUELLMAR_COMPANIONS_PERIODS_H
#define QUELLMAR_COMPANIONS_PERIODS_H

#include <cstdint>

namespace quellmar::companions {

// An averaging period: [start, end) in seconds since 1970-01-01 00:00:00
// UTC. Periods start at 00:00 UTC of every day and follow each other; a
// length that does not divide the day leaves a shorter last period.
struct Period {
  int64_t start = 0;
  int64_t end = 0;
  double centre() const { return 0.5 * static_cast<double>(start + end); }
};
Period period_of(int64_t time, int32_t minutes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PERIODS_H
