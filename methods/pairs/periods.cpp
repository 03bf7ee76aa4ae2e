#include "methods/pairs/periods.h"

#include <algorithm>

namespace quellmar::companions {

namespace {

constexpr int64_t kDay = 86400;

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

Period period_of(int64_t time, int32_t minutes) {
  const int64_t length = static_cast<int64_t>(minutes) * 60;
  const int64_t day_start = floor_div(time, kDay) * kDay;
  Period p;
  p.start = day_start + (time - day_start) / length * length;
  p.end = std::min(p.start + length, day_start + kDay);
  return p;
}

}  // namespace quellmar::companions
