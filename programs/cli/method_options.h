// The options of the moments method, shared by quellmar-moments and
// quellmar-wind --from-spectra, bound to the method's own defaults.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H
#define QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H

#include "methods/moments/method.h"
#include "programs/cli/option_table.h"

namespace quellmar::companions {

// --peak, --clutter-points, --no-clutter, --no-interference, --min-points
// and --axis.
void add_moments_method(OptionTable& table, MomentsMethod* method);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H
