#include "companions/wind/wind_bufr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#ifdef QUELLMAR_WITH_BUFR
#include "companions/bufr/profile_bufr.h"
#endif

namespace quellmar::companions {

#ifndef QUELLMAR_WITH_BUFR

const bool kWindBufrBuilt = false;

bool write_wind_bufr(const std::string&, const WindOptions&,
                     const std::vector<ModeProfiles>&, std::string* error) {
  *error = "BUFR export is not built";
  return false;
}

#else

const bool kWindBufrBuilt = true;

namespace {

BufrProfile wind_profile(const ModeProfiles& m, size_t p,
                         const WindOptions& options) {
  const WindMethod& method = options.report.method;
  const bool checked = method.quality.has_value();
  BufrProfile out;
  const Period& period = m.periods[p];
  out.end_time = period.end;
  out.period_minutes = static_cast<int32_t>((period.end - period.start) / 60);
  const size_t nh = m.height.size();
  for (size_t h = 0; h < nh; ++h) {
    const size_t at = p * nh + h;
    out.heights.push_back(*options.report.altitude + m.height[h]);
    out.values[0].push_back(m.u[at]);
    out.values[1].push_back(m.v[at]);
    out.values[2].push_back(m.w[at]);
    out.quality[0].push_back(bufr_quality(m.u_flag[at], m.v_flag[at], checked));
    out.quality[1].push_back(bufr_quality(m.w_flag[at], checked));
  }
  return out;
}

}  // namespace

bool write_wind_bufr(const std::string& path, const WindOptions& options,
                     const std::vector<ModeProfiles>& modes,
                     std::string* error) {
  BufrStation station;
  station.block = options.station.block.value_or(0);
  station.station = options.station.station.value_or(0);
  station.latitude = options.report.latitude.value_or(0.0);
  // BUFR holds longitudes from -180 to 180 degrees east.
  double longitude = options.report.longitude.value_or(0.0);
  if (longitude > 180.0) longitude -= 360.0;
  if (longitude < -180.0) longitude += 360.0;
  station.longitude = longitude;
  station.altitude = options.report.altitude.value_or(0.0);

  std::vector<std::tuple<int64_t, size_t, size_t> > order;
  for (size_t mi = 0; mi < modes.size(); ++mi) {
    for (size_t p = 0; p < modes[mi].periods.size(); ++p) {
      order.emplace_back(modes[mi].periods[p].start, mi, p);
    }
  }
  std::sort(order.begin(), order.end());

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  try {
    for (const auto& [start, mi, p] : order) {
      write_bufr_profile(f, BufrProduct::kWind, station,
                         wind_profile(modes[mi], p, options));
    }
  } catch (const BufrError& e) {
    std::fclose(f);
    *error = path + ": " + e.what();
    return false;
  }
  if (std::fclose(f) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

#endif

}  // namespace quellmar::companions
