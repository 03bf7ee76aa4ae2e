// A BUFR file of profiles as the averaging programs write it (--bufr): the
// station from the command line, one message per profile. Built with or
// without ecCodes; without it, kBufrBuilt is false and nothing is written.

#ifndef QUELLMAR_COMPANIONS_BUFR_BUFR_FILE_H
#define QUELLMAR_COMPANIONS_BUFR_BUFR_FILE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "methods/bufr/profile_bufr.h"

namespace quellmar::companions {

// The station a BUFR message names (its WMO block and station numbers).
struct WmoStation {
  std::optional<int32_t> block;    // 0 to 99
  std::optional<int32_t> station;  // 0 to 999
};

// False when the program was built without ecCodes.
extern const bool kBufrBuilt;

// "--bufr: this PROGRAM is built without BUFR export (...)".
std::string bufr_not_built(const char* program);

// The station of the messages; the longitude brought into -180..180
// degrees east, as BUFR holds it.
BufrStation bufr_station(const WmoStation& station, double latitude,
                         double longitude, double altitude);

// Writes count messages to path, the i-th of profile(i). False, with a
// message, when the file cannot be written (or BUFR is not built).
bool write_bufr_file(const std::string& path, BufrProduct product,
                     const BufrStation& station, size_t count,
                     const std::function<BufrProfile(size_t)>& profile,
                     std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_BUFR_BUFR_FILE_H
