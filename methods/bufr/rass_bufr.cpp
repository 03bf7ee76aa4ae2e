#include "methods/bufr/rass_bufr.h"

#include "methods/csv/csv_fields.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

namespace {

// One period of a mode as a 3 09 025 message: heights above sea level.
BufrProfile tv_profile(const RassProfiles& m, size_t p, double altitude,
                       bool checked) {
  BufrProfile out;
  const Period& period = m.periods[p];
  out.end_time = period.end;
  out.period_minutes = static_cast<int32_t>((period.end - period.start) / 60);
  for (size_t h = 0; h < m.height.size(); ++h) {
    const size_t at = m.level(p, h);
    out.heights.push_back(altitude + m.height[h]);
    out.values[0].push_back(m.tv[at]);
    out.quality[0].push_back(bufr_quality(m.tv_flag[at], checked));
  }
  return out;
}

}  // namespace

bool write_rass_bufr(const std::string& path, const RassReport& report,
                     const WmoStation& station,
                     const std::vector<RassProfiles>& modes,
                     std::string* error) {
  const SitePosition& at = report.position;
  const auto order = table_order(modes);
  const bool checked = report.method.quality.has_value();
  BufrStation site =
      bufr_station(station, at.latitude.value_or(0.0),
                   at.longitude.value_or(0.0), at.altitude.value_or(0.0));
  if (!report.input_files.empty()) {
    site.transmit_frequency_hz =
        transmit_frequency_hz(report.input_files.front());
  }
  return write_bufr_file(
      path, BufrProduct::kVirtualTemperature, site, order.size(),
      [&](size_t i) {
        const auto& [start, mi, p] = order[i];
        return tv_profile(modes[mi], p, at.altitude.value_or(0.0), checked);
      },
      error);
}

}  // namespace quellmar::companions
