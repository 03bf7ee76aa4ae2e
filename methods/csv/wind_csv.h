// The quellmar-wind CSV table: one row per period, mode and height.

#ifndef QUELLMAR_COMPANIONS_WIND_CSV_H
#define QUELLMAR_COMPANIONS_WIND_CSV_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "methods/csv/csv_fields.h"
#include "methods/wind/profiles.h"

namespace quellmar::companions {

// Header row: time,mode,height_m,u,v,w,speed,direction,residual, then
// beam<B>_used,beam<B>_available for every beam number of any mode, in
// number order, then u_flag,v_flag,w_flag. Rows by period centre, then
// mode, then height from the grid's first gate; time in ISO 8601 UTC
// (period centre, whole seconds rounded down); empty fields for missing
// values and for beams the row's mode does not have or whose gates do not
// reach its height; flags as the QualityFlag numbers.
std::string wind_csv(const std::vector<ModeProfiles>& modes);

// The same table a period at a time, in table_order (csv_fields.h).
std::set<int32_t> csv_beam_numbers(const std::vector<ModeProfiles>& modes);
std::string wind_csv_header(const std::set<int32_t>& beam_numbers);
// The rows of one period of a mode: its results (only the height arrays
// and the counts are read) and the flags of u, v and w at its heights.
void append_wind_csv_rows(const std::set<int32_t>& beam_numbers,
                          const ModeProfiles& layout, const PeriodProfiles& p,
                          const uint8_t* u_flag, const uint8_t* v_flag,
                          const uint8_t* w_flag, std::string* out);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_CSV_H
