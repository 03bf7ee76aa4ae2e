// The quellmar-rass CSV table: one row per period, mode and height.

#ifndef QUELLMAR_COMPANIONS_RASS_CSV_H
#define QUELLMAR_COMPANIONS_RASS_CSV_H

#include <string>
#include <vector>

#include "methods/rass/profiles.h"

namespace quellmar::companions {

// The name of a w source in the CSV table and the netCDF flag meanings.
const char* w_source_name(signed char source);

// Header row time,mode,height_m,tv_k,tv_uncorrected_k,w_m_s,w_source,
// spread_k,stored_auxiliary,n_used,n_available,n_ambiguous,tv_flag (the
// QualityFlag number of tv). Rows by period
// centre, then mode, then height from the first gate; time in ISO 8601 UTC
// (period centre, whole seconds rounded down); empty fields for missing
// values (and for the w source where there is no temperature).
std::string rass_csv(const std::vector<RassProfiles>& modes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_RASS_CSV_H
