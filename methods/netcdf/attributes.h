// The global attributes of a converted file, and the attributes of its
// field variables: what quellmar-nc writes and what the Python extension
// hands to xarray, from one statement.

#ifndef QUELLMAR_COMPANIONS_NC_ATTRIBUTES_H
#define QUELLMAR_COMPANIONS_NC_ATTRIBUTES_H

#include <string>
#include <utility>
#include <vector>

#include "methods/netcdf/fields.h"
#include "methods/netcdf/plan.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

using TextAttributes = std::vector<std::pair<std::string, std::string>>;

struct GlobalAttributes {
  TextAttributes text;                // in the order they are written
  int site_values[4] = {0, 0, 0, 0};  // the header's four raw site values
};

GlobalAttributes global_attributes(const PairInput& input, const NcPlan& plan);

// long_name, standard_name and units of a field; empty texts left out.
TextAttributes field_description(const FieldSpec& field);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_ATTRIBUTES_H
