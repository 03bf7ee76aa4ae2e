#include "methods/bufr/bufr_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quellmar::companions {

#ifdef QUELLMAR_WITH_BUFR
const bool kBufrBuilt = true;
#else
const bool kBufrBuilt = false;
#endif

std::string bufr_not_built(const char* program) {
  return std::string("--bufr: this ") + program +
         " is built without BUFR export (ecCodes, Debian libeccodes-dev, "
         "was not found)";
}

BufrStation bufr_station(const WmoStation& station, double latitude,
                         double longitude, double altitude) {
  BufrStation s;
  s.block = station.block.value_or(0);
  s.station = station.station.value_or(0);
  s.latitude = latitude;
  if (longitude > 180.0) longitude -= 360.0;
  if (longitude < -180.0) longitude += 360.0;
  s.longitude = longitude;
  s.altitude = altitude;
  return s;
}

bool write_bufr_file(const std::string& path, BufrProduct product,
                     const BufrStation& station, size_t count,
                     const std::function<BufrProfile(size_t)>& profile,
                     std::string* error) {
#ifndef QUELLMAR_WITH_BUFR
  (void)product;
  (void)station;
  (void)count;
  (void)profile;
  *error = path + ": BUFR export is not built";
  return false;
#else
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  try {
    for (size_t i = 0; i < count; ++i) {
      write_bufr_profile(f, product, station, profile(i));
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
#endif
}

}  // namespace quellmar::companions
