// What quellmar-moments writes in quellmar-nc's layout: its field variables
// and the attributes that name the method.

#ifndef QUELLMAR_COMPANIONS_NC_MOMENTS_FIELDS_H
#define QUELLMAR_COMPANIONS_NC_MOMENTS_FIELDS_H

#include <string>
#include <utility>
#include <vector>

#include "methods/moments/method.h"
#include "methods/netcdf/fields.h"

namespace quellmar::companions {

// The field table: the recomputed moments, the stored ones when kept, the
// QC flags. Values come from the caller, so no decoded array is named for
// the recomputed ones.
std::vector<FieldSpec> moments_fields(bool keep_stored);

// The method and every parameter as global attributes; axis is the
// velocity axis taken (and why, for --axis auto).
std::vector<std::pair<std::string, std::string>> moments_attributes(
    const MomentsMethod& method, const std::string& axis);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_MOMENTS_FIELDS_H
