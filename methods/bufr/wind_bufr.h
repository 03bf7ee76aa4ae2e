// quellmar-wind's BUFR file: one message (3 09 024) per period and mode,
// from the profiles' u, v, w and their flags.

#ifndef QUELLMAR_COMPANIONS_WIND_WIND_BUFR_H
#define QUELLMAR_COMPANIONS_WIND_WIND_BUFR_H

#include <string>
#include <vector>

#include "methods/bufr/bufr_file.h"
#include "methods/wind/profiles.h"
#include "methods/wind/report.h"

namespace quellmar::companions {

// Writes the messages of every period, by period start and then mode, to
// path. The modes hold u, v, w and their flags; heights above sea level
// are the altitude plus the grid heights. False, with a message, when the
// file cannot be written (or BUFR is not built).
bool write_wind_bufr(const std::string& path, const WindReport& report,
                     const WmoStation& station,
                     const std::vector<ModeProfiles>& modes,
                     std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_WIND_BUFR_H
