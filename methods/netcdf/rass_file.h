// The quellmar-rass netCDF-4 file (CF-1.8, featureType timeSeriesProfile):
// global attributes and the position in the root group, one group
// "mode_<N>" per operating mode with RASS dwells, with time x height
// profiles of the virtual temperature. docs/rass.md lists every variable.

#ifndef QUELLMAR_COMPANIONS_RASS_NETCDF_H
#define QUELLMAR_COMPANIONS_RASS_NETCDF_H

#include <string>
#include <vector>

#include "methods/netcdf/nc_group.h"
#include "methods/rass/method.h"
#include "methods/rass/profiles.h"

namespace quellmar::companions {

// What a quellmar-rass output says besides the profiles.
struct RassReport {
  std::string site_name;                 // bytes as stored in the HeaderBlock
  std::vector<std::string> input_files;  // as named on the command line
  RassMethod method;
  int32_t radar = 0;
  SitePosition position;
  std::string first_guess_file;  // --first-guess-file as given; empty: none
};

// The acoustic set most periods of the modes took (0: none gave a
// temperature), for the files' attributes and the report.
int32_t acoustic_set_taken(const std::vector<RassProfiles>& modes);

// Writes the file at path (replacing what is there). Throws OutputFileError.
void write_rass_netcdf(const std::string& path, const RassReport& report,
                       const std::vector<RassProfiles>& modes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_NETCDF_H
