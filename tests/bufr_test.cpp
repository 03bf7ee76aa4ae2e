// BUFR messages of profiles, decoded with ecCodes' bufr_dump: the station,
// the averaging period, heights, values and quality indicators of both
// sequences; values BUFR cannot hold come back missing, never wrapped.

#if defined(QUELLMAR_WITH_BUFR) && defined(QUELLMAR_BUFR_DUMP)

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "methods/bufr/profile_bufr.h"
#include "tests/bufr_read.h"
#include "tests/test_support.h"

namespace {

using quellmar::companions::BufrProduct;
using quellmar::companions::BufrProfile;
using quellmar::companions::BufrStation;
using quellmar::test::bufr_number;

TEST(Bufr, WindAndVirtualTemperatureMessagesDecodeAndOutOfRangeIsMissing) {
  quellmar::test::TempDir dir;
  const std::string path = dir.file("p.bufr");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const BufrStation station{10, 393, 52.21, 14.12, 112.0, 482.0e6};
  BufrProfile wind;
  wind.end_time = 1020474000;  // 2002-05-04 01:00:00 UTC
  wind.period_minutes = 60;
  wind.heights = {562.0, 667.0, 772.0, 200000.0};
  wind.values[0] = {3.26f, 1000.0f, NAN, 1.0f};   // u
  wind.values[1] = {-2.04f, 1.0f, 2.0f, 1.0f};    // v
  wind.values[2] = {0.123f, -0.5f, 50.0f, 1.0f};  // w
  wind.quality[0] = {0, 1, 3, 0};
  wind.quality[1] = {0, 0, 1, 0};
  BufrProfile tv;
  tv.end_time = 1009843200 - 1800;  // 2001-12-31 23:30:00 UTC
  tv.period_minutes = 30;
  tv.heights = {300.0, 400.0};
  tv.values[0] = {288.16f, 500.0f};
  tv.quality[0] = {1, 0};
  quellmar::companions::write_bufr_profile(f, BufrProduct::kWind, station,
                                           wind);
  quellmar::companions::write_bufr_profile(f, BufrProduct::kVirtualTemperature,
                                           station, tv);
  std::fclose(f);

  const auto messages = quellmar::test::read_bufr(QUELLMAR_BUFR_DUMP, path);
  ASSERT_EQ(messages.size(), 2u);
  // Section 1 and 3 01 132 as WMO defines them: category 2 with the C-13
  // sub-categories 10 (wind profiler reports) and 11 (RASS temperature
  // profiles), a radar wind profiler (0 02 006 = 3), the mean frequency
  // (0 02 121, 1 MHz steps in these sequences), the nominal reporting time
  // (0 08 021 = 25) that the date and time give, then time averaged (2).
  // The dates: 2002-05-04 01:00 and 2001-12-31 23:30, in both sections.
  const int date[2][3] = {{2002, 5, 4}, {2001, 12, 31}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const auto& m = messages[i];
    EXPECT_EQ(bufr_number(m, "dataCategory"), 2);
    EXPECT_EQ(bufr_number(m, "internationalDataSubCategory"), 10 + i);
    EXPECT_EQ(bufr_number(m, "upperAirRemoteSensingInstrumentType"), 3);
    EXPECT_EQ(bufr_number(m, "meanFrequency"), 482.0e6);
    EXPECT_EQ(bufr_number(m, "#1#timeSignificance"), 25);
    EXPECT_EQ(bufr_number(m, "year"), date[i][0]);
    EXPECT_EQ(bufr_number(m, "month"), date[i][1]);
    EXPECT_EQ(bufr_number(m, "day"), date[i][2]);
    EXPECT_EQ(bufr_number(m, "typicalYear"), date[i][0]);
    EXPECT_EQ(bufr_number(m, "typicalMonth"), date[i][1]);
    EXPECT_EQ(bufr_number(m, "typicalDay"), date[i][2]);
  }
  for (const auto& m : messages) {
    EXPECT_EQ(m.at("edition"), "4");
    EXPECT_EQ(bufr_number(m, "blockNumber"), 10);
    EXPECT_EQ(bufr_number(m, "stationNumber"), 393);
    EXPECT_NEAR(bufr_number(m, "latitude", 1), 52.21, 1e-5);
    EXPECT_NEAR(bufr_number(m, "longitude", 1), 14.12, 1e-5);
    EXPECT_EQ(bufr_number(m, "heightOfStationGroundAboveMeanSeaLevel"), 112);
    EXPECT_EQ(bufr_number(m, "#2#timeSignificance"), 2);  // time averaged
  }
  const auto& w = messages[0];
  EXPECT_EQ(w.at("unexpandedDescriptors"), "309024");
  EXPECT_EQ(bufr_number(w, "hour"), 1);
  EXPECT_EQ(bufr_number(w, "minute"), 0);
  EXPECT_EQ(bufr_number(w, "timePeriod"), -60);
  const double u[] = {3.3, NAN, NAN, 1.0}, vv[] = {-2.0, 1.0, 2.0, 1.0};
  const double ww[] = {0.12, -0.5, NAN, 1.0};
  const double height[] = {562, 667, 772, NAN};
  const double quality[] = {0, 0, 1, 0, 3, 1, 0, 0};
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    const auto same = [](double a, double b) {
      return std::isnan(a) ? std::isnan(b) : std::fabs(a - b) < 1e-9;
    };
    EXPECT_TRUE(same(u[k - 1], bufr_number(w, "u", k)));
    EXPECT_TRUE(same(vv[k - 1], bufr_number(w, "v", k)));
    EXPECT_TRUE(same(ww[k - 1], bufr_number(w, "w", k)));
    EXPECT_TRUE(same(height[k - 1], bufr_number(w, "height", k)));
    EXPECT_EQ(quellmar::test::bufr_quality_at(w, 2 * k - 1),
              quality[2 * k - 2]);
    EXPECT_EQ(quellmar::test::bufr_quality_at(w, 2 * k), quality[2 * k - 1]);
  }
  const auto& t = messages[1];
  EXPECT_EQ(t.at("unexpandedDescriptors"), "309025");
  EXPECT_EQ(bufr_number(t, "hour"), 23);
  EXPECT_EQ(bufr_number(t, "minute"), 30);
  EXPECT_EQ(bufr_number(t, "timePeriod"), -30);
  EXPECT_NEAR(bufr_number(t, "virtualTemperature", 1), 288.2, 1e-9);
  EXPECT_TRUE(std::isnan(bufr_number(t, "virtualTemperature", 2)));
  EXPECT_EQ(bufr_number(t, "qualityInformation", 1), 1);
  EXPECT_EQ(bufr_number(t, "qualityInformation", 2), 0);
  EXPECT_EQ(bufr_number(t, "height", 2), 400);
}

TEST(Bufr, QualityIndicatorsFromFlags) {
  using quellmar::companions::bufr_quality;
  EXPECT_EQ(bufr_quality(0, true), 0);
  EXPECT_EQ(bufr_quality(1, true), 1);
  EXPECT_EQ(bufr_quality(2, true), 3);
  EXPECT_EQ(bufr_quality(0, false), 3);
  EXPECT_EQ(bufr_quality(0, 1, true), 1);  // u and v: suspect when either is
  EXPECT_EQ(bufr_quality(1, 2, true), 1);
  EXPECT_EQ(bufr_quality(0, 2, true), 3);
  EXPECT_EQ(bufr_quality(0, 0, true), 0);
  EXPECT_EQ(bufr_quality(1, 1, false), 3);
}

}  // namespace

#endif
