// Record times as text.

#ifndef QUELLMAR_COMPANIONS_TIME_TEXT_H
#define QUELLMAR_COMPANIONS_TIME_TEXT_H

#include <cstdint>
#include <string>

namespace quellmar::companions {

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970-01-01 00:00:00 UTC, with
// the access module's calendar.
std::string iso_time(int64_t seconds);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_TIME_TEXT_H
