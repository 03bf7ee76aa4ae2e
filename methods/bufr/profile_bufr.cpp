#include "methods/bufr/profile_bufr.h"

#include <eccodes.h>

#include <cmath>
#include <ctime>
#include <memory>

namespace quellmar::companions {

namespace {

// The elements a message holds values of, as the WMO table B has them:
// a value v is stored as round(v * 10^scale) - reference in `width` bits,
// all ones meaning missing.
struct Element {
  int scale;
  int64_t reference;
  int width;
};
constexpr Element kHeight{0, -1000, 17};         // 0 07 007, m
constexpr Element kWindUV{1, -4096, 13};         // 0 11 003, 0 11 004, m/s
constexpr Element kWindW{2, -4096, 13};          // 0 11 006, m/s
constexpr Element kVirtualTemp{1, 0, 12};        // 0 12 007, K
constexpr Element kStationHeight{1, -4000, 17};  // 0 07 030, m
// 0 02 121, Hz: table B has scale -8 in 7 bits; the sequences' operators
// 2 01 151 (width + 23) and 2 02 130 (scale + 2) make it -6 in 30 bits.
constexpr Element kMeanFrequency{-6, 0, 30};

// Code and common tables: C-13 international data sub-categories of data
// category 2, code table 0 02 006 and code table 0 08 021.
constexpr long kSubCategoryWindProfiler = 10;  // wind profiler reports
constexpr long kSubCategoryRass = 11;          // RASS temperature profiles
constexpr long kInstrumentRadarProfiler = 3;   // radar wind profiler
constexpr long kTimeAveraged = 2;
constexpr long kTimeNominalReporting = 25;

// A value as ecCodes takes it: missing when it is not finite or does not
// fit the element.
double encodable(double v, const Element& e) {
  if (!std::isfinite(v)) return CODES_MISSING_DOUBLE;
  const double count = std::round(v * std::pow(10.0, e.scale)) -
                       static_cast<double>(e.reference);
  const double top = std::ldexp(1.0, e.width) - 2.0;  // all ones: missing
  if (count < 0.0 || count > top) return CODES_MISSING_DOUBLE;
  return v;
}

void check(int status, const std::string& what) {
  if (status != CODES_SUCCESS) {
    throw BufrError("BUFR " + what + ": " + codes_get_error_message(status));
  }
}

struct HandleDeleter {
  void operator()(codes_handle* h) const { codes_handle_delete(h); }
};

}  // namespace

void write_bufr_profile(std::FILE* out, BufrProduct product,
                        const BufrStation& station, const BufrProfile& p) {
  const bool wind = product == BufrProduct::kWind;
  std::unique_ptr<codes_handle, HandleDeleter> owner(
      codes_bufr_handle_new_from_samples(nullptr, "BUFR4"));
  if (!owner) throw BufrError("BUFR: ecCodes has no BUFR4 sample");
  codes_handle* h = owner.get();
  const auto set_long = [h](const char* key, long value) {
    check(codes_set_long(h, key, value), key);
  };
  const auto set_double = [h](const char* key, double value) {
    check(codes_set_double(h, key, value), key);
  };
  const auto set_doubles = [h](const char* key, const std::vector<double>& v) {
    if (!v.empty())
      check(codes_set_double_array(h, key, v.data(), v.size()), key);
  };

  std::time_t end = static_cast<std::time_t>(p.end_time);
  std::tm t{};
  gmtime_r(&end, &t);

  // Sections 1 and 3. The sequences are in the master table from version
  // 36 on. Data category 2 (vertical soundings other than satellite) with
  // the international sub-category of Common Code table C-13: 10 wind
  // profiler reports, 11 RASS temperature profiles.
  set_long("bufrHeaderCentre", 65535);
  set_long("bufrHeaderSubCentre", 0);
  set_long("masterTablesVersionNumber", 36);
  set_long("localTablesVersionNumber", 0);
  set_long("dataCategory", 2);
  set_long("internationalDataSubCategory",
           wind ? kSubCategoryWindProfiler : kSubCategoryRass);
  set_long("dataSubCategory", 0);
  set_long("typicalYear", t.tm_year + 1900);
  set_long("typicalMonth", t.tm_mon + 1);
  set_long("typicalDay", t.tm_mday);
  set_long("typicalHour", t.tm_hour);
  set_long("typicalMinute", t.tm_min);
  set_long("typicalSecond", t.tm_sec);
  set_long("numberOfSubsets", 1);
  set_long("observedData", 1);
  set_long("compressedData", 0);
  const long levels = static_cast<long>(p.heights.size());
  check(codes_set_long_array(
            h, "inputExtendedDelayedDescriptorReplicationFactor", &levels, 1),
        "replication");
  const long sequence = wind ? 309024 : 309025;
  check(codes_set_long_array(h, "unexpandedDescriptors", &sequence, 1),
        "unexpandedDescriptors");

  // Section 4: the station, the time, the averaging, the levels.
  set_long("blockNumber", station.block);
  set_long("stationNumber", station.station);
  set_double("heightOfStationGroundAboveMeanSeaLevel",
             encodable(station.altitude, kStationHeight));
  // 3 01 132: the date and time that follow the first time significance
  // are the nominal reporting time (code 25), the end of the period.
  set_long("#1#timeSignificance", kTimeNominalReporting);
  set_long("year", t.tm_year + 1900);
  set_long("month", t.tm_mon + 1);
  set_long("day", t.tm_mday);
  set_long("hour", t.tm_hour);
  set_long("minute", t.tm_min);
  // 0 02 006, upper-air remote sensing instrument type: radar wind
  // profiler (code 3) for winds and RASS alike.
  set_long("upperAirRemoteSensingInstrumentType", kInstrumentRadarProfiler);
  // 0 02 121, mean frequency: the transmit frequency. Within 3 09 024 and
  // 3 09 025 the operators 2 01 151 and 2 02 130 widen it to 30 bits at a
  // scale of -6 (1 MHz steps).
  set_double("meanFrequency",
             encodable(station.transmit_frequency_hz, kMeanFrequency));
  // The second time significance: 2, time averaged, over -P minutes.
  set_long("#2#timeSignificance", kTimeAveraged);
  set_long("timePeriod", -static_cast<long>(p.period_minutes));

  // Latitude and longitude: the station's, then every level's.
  std::vector<double> lat(p.heights.size() + 1, station.latitude);
  std::vector<double> lon(p.heights.size() + 1, station.longitude);
  std::vector<double> heights;
  for (double z : p.heights) heights.push_back(encodable(z, kHeight));
  set_doubles("latitude", lat);
  set_doubles("longitude", lon);
  set_doubles("height", heights);
  const auto values = [&](size_t i, const Element& e) {
    std::vector<double> out;
    for (size_t k = 0; k < p.heights.size(); ++k) {
      out.push_back(
          encodable(k < p.values[i].size() ? p.values[i][k] : NAN, e));
    }
    return out;
  };
  const auto quality_of = [&](size_t i, size_t k) {
    return k < p.quality[i].size() ? static_cast<double>(p.quality[i][k])
                                   : static_cast<double>(kQualityNone);
  };
  std::vector<double> quality;
  if (wind) {
    set_doubles("u", values(0, kWindUV));
    set_doubles("v", values(1, kWindUV));
    set_doubles("w", values(2, kWindW));
    for (size_t k = 0; k < p.heights.size(); ++k) {
      quality.push_back(quality_of(0, k));
      quality.push_back(quality_of(1, k));
    }
  } else {
    set_doubles("virtualTemperature", values(0, kVirtualTemp));
    for (size_t k = 0; k < p.heights.size(); ++k) {
      quality.push_back(quality_of(0, k));
    }
  }
  set_doubles("qualityInformation", quality);
  set_long("pack", 1);

  const void* message = nullptr;
  size_t size = 0;
  check(codes_get_message(h, &message, &size), "message");
  if (std::fwrite(message, 1, size, out) != size) {
    throw BufrError("cannot write the BUFR message");
  }
}

}  // namespace quellmar::companions
