#include "methods/bufr/wind_bufr.h"

#include "methods/bufr/bufr_file.h"
#include "methods/csv/wind_csv.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

namespace {

BufrProfile wind_profile(const ModeProfiles& m, size_t p,
                         const WindReport& report) {
  const WindMethod& method = report.method;
  const bool checked = method.quality.has_value();
  BufrProfile out;
  const Period& period = m.periods[p];
  out.end_time = period.end;
  out.period_minutes = static_cast<int32_t>((period.end - period.start) / 60);
  const size_t nh = m.height.size();
  for (size_t h = 0; h < nh; ++h) {
    const size_t at = p * nh + h;
    out.heights.push_back(*report.altitude + m.height[h]);
    out.values[0].push_back(m.u[at]);
    out.values[1].push_back(m.v[at]);
    out.values[2].push_back(m.w[at]);
    out.quality[0].push_back(bufr_quality(m.u_flag[at], m.v_flag[at], checked));
    out.quality[1].push_back(bufr_quality(m.w_flag[at], checked));
  }
  return out;
}

}  // namespace

bool write_wind_bufr(const std::string& path, const WindReport& r,
                     const WmoStation& station,
                     const std::vector<ModeProfiles>& modes,
                     std::string* error) {
  const auto order = table_order(modes);
  BufrStation site =
      bufr_station(station, r.latitude.value_or(0.0), r.longitude.value_or(0.0),
                   r.altitude.value_or(0.0));
  if (!r.input_files.empty()) {
    site.transmit_frequency_hz = transmit_frequency_hz(r.input_files.front());
  }
  return write_bufr_file(
      path, BufrProduct::kWind, site, order.size(),
      [&](size_t i) {
        const auto& [start, mi, p] = order[i];
        return wind_profile(modes[mi], p, r);
      },
      error);
}

}  // namespace quellmar::companions
