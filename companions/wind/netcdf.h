// The quellmar-wind netCDF-4 file (CF-1.8, featureType timeSeriesProfile):
// global attributes and the position in the root group, one group
// "mode_<N>" per operating mode with orthogonal time x height profiles and
// the per-beam consensus values. docs/winds.md lists every variable.

#ifndef QUELLMAR_COMPANIONS_WIND_NETCDF_H
#define QUELLMAR_COMPANIONS_WIND_NETCDF_H

#include <string>
#include <vector>

#include "companions/common/nc_group.h"
#include "companions/wind/profiles.h"
#include "companions/wind/report.h"

namespace quellmar::companions {

// Fill value of every float variable that can miss values.
constexpr float kWindFill = kProfileFill;

// Writes the file at path (replacing what is there). Throws WindFileError.
void write_wind_netcdf(const std::string& path, const WindReport& report,
                       const std::vector<ModeProfiles>& modes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_NETCDF_H
