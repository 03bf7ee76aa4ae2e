// The quellmar-wind CSV table: one row per period, mode and height.

#ifndef QUELLMAR_COMPANIONS_WIND_CSV_H
#define QUELLMAR_COMPANIONS_WIND_CSV_H

#include <string>
#include <vector>

#include "companions/wind/profiles.h"

namespace quellmar::companions {

// Header row: time,mode,height_m,u,v,w,speed,direction,residual, then
// beam<B>_used,beam<B>_available for every beam number of any mode, in
// number order. Rows by period centre, then mode, then height from the
// grid's first gate; time in ISO 8601 UTC (period centre, whole seconds
// rounded down); empty fields for missing values and for beams the row's
// mode does not have or whose gates do not reach its height.
std::string wind_csv(const std::vector<ModeProfiles>& modes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_CSV_H
