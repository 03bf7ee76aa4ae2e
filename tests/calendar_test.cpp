// Calendar: leap years, day of year <-> month and day, TimeKey order and
// the breakdown of record times.

#include <gtest/gtest.h>

#include "disk/pda.h"

TEST(LeapYear, FollowsTheGregorianRule) {
  EXPECT_TRUE(is_leap_year(1996));
  EXPECT_TRUE(is_leap_year(2000));
  EXPECT_FALSE(is_leap_year(1900));
  EXPECT_FALSE(is_leap_year(2002));
  EXPECT_FALSE(is_leap_year(2100));
  EXPECT_EQ(month_lengths[0][2], 28);
  EXPECT_EQ(month_lengths[1][2], 29);
}

TEST(DayOfYear, CountsMonthsBeforeTheDay) {
  EXPECT_EQ(day_of_year(2002, 3, 1), 60);
  EXPECT_EQ(day_of_year(2000, 3, 1), 61);
  EXPECT_EQ(day_of_year(2002, 1, 17), 17);
  EXPECT_EQ(day_of_year(2002, 12, 31), 365);
  EXPECT_EQ(day_of_year(2000, 12, 31), 366);
}

TEST(MonthAndDay, InvertsDayOfYear) {
  struct Case {
    int year, yday, month, day;
  } cases[] = {{2002, 60, 3, 1},    {2000, 60, 2, 29}, {2002, 365, 12, 31},
               {2000, 366, 12, 31}, {2002, 1, 1, 1},   {2002, 31, 1, 31},
               {2002, 32, 2, 1}};
  for (const Case& c : cases) {
    int32_t month = -1, day = -1;
    EXPECT_EQ(month_and_day(c.year, c.yday, &month, &day), 0);
    EXPECT_EQ(month, c.month) << c.year << " " << c.yday;
    EXPECT_EQ(day, c.day) << c.year << " " << c.yday;
  }
  for (int year : {1999, 2000, 2001, 2004}) {
    const int days = is_leap_year(year) ? 366 : 365;
    for (int yday = 1; yday <= days; ++yday) {
      int32_t month, day;
      month_and_day(year, yday, &month, &day);
      ASSERT_EQ(day_of_year(year, month, day), yday);
    }
  }
}

TEST(MonthAndDay, NonPositiveCountStaysInJanuary) {
  int32_t month = -1, day = 99;
  month_and_day(2002, 0, &month, &day);
  EXPECT_EQ(month, 1);
  EXPECT_EQ(day, 0);
  month_and_day(2002, -5, &month, &day);
  EXPECT_EQ(month, 1);
  EXPECT_EQ(day, -5);
}

TEST(CompareTime, FirstDifferingFieldDecides) {
  const TimeKey a = {102, 123, 0, 0, 0};
  const TimeKey b = {102, 122, 23, 59, 59};
  EXPECT_EQ(pda_compare_time(a, b), 1);
  EXPECT_EQ(pda_compare_time(b, a), -1);
  EXPECT_EQ(pda_compare_time(a, a), 0);
  EXPECT_EQ(pda_compare_time({90, 1, 0, 0, 0}, {102, 1, 0, 0, 0}), -1);
  EXPECT_EQ(pda_compare_time({102, 1, 0, 0, 1}, {102, 1, 0, 0, 0}), 1);
  EXPECT_EQ(pda_compare_time({102, 1, 0, 1, 0}, {102, 1, 0, 0, 59}), 1);
}

TEST(TimeBreakdown, CoversEpochNegativeAndFarTimes) {
  auto expect_key = [](int64_t t, TimeKey want) {
    const TimeKey k = pda_time_key_from_seconds(t);
    EXPECT_EQ(pda_compare_time(k, want), 0)
        << t << ": " << k.year << " " << k.day << " " << k.hour << " "
        << k.minute << " " << k.second;
  };
  expect_key(0, {70, 1, 0, 0, 0});
  expect_key(86399, {70, 1, 23, 59, 59});
  expect_key(86400, {70, 2, 0, 0, 0});
  expect_key(-1, {69, 365, 23, 59, 59});
  expect_key(-86400 * 365LL, {69, 1, 0, 0, 0});
  expect_key(951782400, {100, 60, 0, 0, 0});        // 2000-02-29
  expect_key(1020470400, {102, 124, 0, 0, 0});      // 2002-05-04
  expect_key(2147483647, {138, 19, 3, 14, 7});      // 2038-01-19 03:14:07
  expect_key(-2147483648LL, {1, 347, 20, 45, 52});  // 1901-12-13
}

TEST(TimeBreakdown, RoundTripsThroughCalendarDates) {
  for (int64_t t = -4'000'000'000LL; t < 4'000'000'000LL; t += 7'777'777) {
    const TimeKey k = pda_time_key_from_seconds(t);
    int32_t month, day;
    month_and_day(1900 + k.year, k.day, &month, &day);
    ASSERT_EQ(pda_seconds_from_date(1900 + k.year, month, day, k.hour, k.minute,
                                    k.second),
              t);
  }
}
