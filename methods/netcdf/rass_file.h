// The quellmar-rass netCDF-4 file (CF-1.8, featureType timeSeriesProfile):
// global attributes and the position in the root group, one group
// "mode_<N>" per operating mode with RASS dwells, with time x height
// profiles of the virtual temperature. docs/rass.md lists every variable.

#ifndef QUELLMAR_COMPANIONS_RASS_NETCDF_H
#define QUELLMAR_COMPANIONS_RASS_NETCDF_H

#include <string>
#include <vector>

#include "methods/rass/profiles.h"
#include "programs/rass/options.h"

namespace quellmar::companions {

// Writes the file at path (replacing what is there). Throws OutputFileError.
void write_rass_netcdf(const std::string& path, const RassReport& report,
                       const std::vector<RassProfiles>& modes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_NETCDF_H
