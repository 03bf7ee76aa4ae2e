// Calendar arithmetic: the month table, the leap-year rule, TimeKey order
// and conversions between day of year, month and day, and seconds since
// 1970. All of it is proleptic Gregorian in UTC and independent of the
// platform's time conversion, so every 32-bit record time (negative ones
// included) has a breakdown.

#include "disk/disk_state.h"
#include "disk/pda.h"

const int32_t month_lengths[2][13] = {
    {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

bool is_leap_year(int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int pda_compare_time(const TimeKey& a, const TimeKey& b) {
  const int32_t fa[5] = {a.year, a.day, a.hour, a.minute, a.second};
  const int32_t fb[5] = {b.year, b.day, b.hour, b.minute, b.second};
  for (int i = 0; i < 5; ++i) {
    if (fa[i] > fb[i]) return 1;
    if (fa[i] < fb[i]) return -1;
  }
  return 0;
}

int32_t day_of_year(int32_t year, int32_t month, int32_t day) {
  const int32_t* row = month_lengths[is_leap_year(year) ? 1 : 0];
  for (int32_t m = 1; m < month && m <= 12; ++m) day += row[m];
  return day;
}

int month_and_day(int32_t year, int32_t day_of_year, int32_t* month,
                  int32_t* day) {
  const int32_t* row = month_lengths[is_leap_year(year) ? 1 : 0];
  int32_t m = 1;
  // The table ends with December; a count past the year stays there.
  while (m < 12 && day_of_year > row[m]) {
    day_of_year -= row[m];
    ++m;
  }
  *month = m;
  *day = day_of_year;
  return 0;
}

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Civil year of a count of days since 1970-01-01, and the day of that year
// counted from 0.
void year_and_day_from_days(int64_t z, int64_t* year, int64_t* yday) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);  // from 1 Mar
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  *year = y;
  *yday = z - 719468 - days_from_civil(y, 1, 1);
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

TimeKey pda_time_key_from_seconds(int64_t seconds) {
  const int64_t days = floor_div(seconds, 86400);
  const int64_t rest = seconds - days * 86400;
  int64_t year = 0;
  int64_t yday = 0;
  year_and_day_from_days(days, &year, &yday);
  TimeKey key;
  key.year = static_cast<int32_t>(year - 1900);
  key.day = static_cast<int32_t>(yday + 1);
  key.hour = static_cast<int32_t>(rest / 3600);
  key.minute = static_cast<int32_t>(rest / 60 % 60);
  key.second = static_cast<int32_t>(rest % 60);
  return key;
}

int64_t pda_seconds_from_date(int64_t year, int32_t month, int32_t day,
                              int32_t hour, int32_t minute, int32_t second) {
  return days_from_civil(year, month, day) * 86400 + hour * 3600LL +
         minute * 60LL + second;
}

int32_t pda_get_time(int32_t* year, int32_t* day, int32_t* hour,
                     int32_t* minute, int32_t* second) {
  const TimeKey& key = quellmar::disk::record.key;
  *year = key.year;
  *day = key.day;
  *hour = key.hour;
  *minute = key.minute;
  *second = key.second;
  return quellmar::disk::record.record_time;
}
