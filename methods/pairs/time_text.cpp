#include "methods/pairs/time_text.h"

#include <cstdio>

#include "disk/pda.h"

namespace quellmar::companions {

std::string iso_time(int64_t seconds) {
  const TimeKey key = pda_time_key_from_seconds(seconds);
  const int32_t year = key.year + 1900;
  int32_t month = 1;
  int32_t day = 1;
  month_and_day(year, key.day, &month, &day);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ",
                static_cast<int>(year), static_cast<int>(month),
                static_cast<int>(day), static_cast<int>(key.hour),
                static_cast<int>(key.minute), static_cast<int>(key.second));
  return text;
}

}  // namespace quellmar::companions
