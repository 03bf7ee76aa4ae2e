// quellmar-rass's BUFR file: one message (3 09 025) per period and mode,
// from the profiles' virtual temperatures and their flags.

#ifndef QUELLMAR_COMPANIONS_BUFR_RASS_BUFR_H
#define QUELLMAR_COMPANIONS_BUFR_RASS_BUFR_H

#include <string>
#include <vector>

#include "methods/bufr/bufr_file.h"
#include "methods/netcdf/rass_file.h"
#include "methods/rass/profiles.h"

namespace quellmar::companions {

// Writes the messages of every period, by period start and then mode, to
// path; heights above sea level are the altitude plus the gate heights.
// False, with a message, when the file cannot be written (or BUFR is not
// built).
bool write_rass_bufr(const std::string& path, const RassReport& report,
                     const WmoStation& station,
                     const std::vector<RassProfiles>& modes,
                     std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_BUFR_RASS_BUFR_H
