// quellmar-wind's CSV file, written from the netCDF file already written,
// a period at a time, so that the profiles are not held twice.

#ifndef QUELLMAR_COMPANIONS_CSV_WIND_CSV_FILE_H
#define QUELLMAR_COMPANIONS_CSV_WIND_CSV_FILE_H

#include <string>
#include <vector>

#include "methods/wind/profiles.h"

namespace quellmar::companions {

// Writes the CSV table of the profiles of the netCDF file at netcdf_path
// to path; modes hold the layout and the flags. False, with a message, when
// either file fails.
bool write_wind_csv_file(const std::string& path,
                         const std::string& netcdf_path,
                         const std::vector<ModeProfiles>& modes,
                         std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_CSV_WIND_CSV_FILE_H
