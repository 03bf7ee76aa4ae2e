// Reading back netCDF files in the tests (the netCDF C library).

#ifndef QUELLMAR_TESTS_NC_READ_H
#define QUELLMAR_TESTS_NC_READ_H

#include <netcdf.h>

#include <cstddef>
#include <vector>

namespace quellmar::test {

// Number of values of variable var of group ncid: the product of its
// dimension lengths.
inline size_t nc_var_length(int ncid, int var) {
  int dims = 0;
  nc_inq_varndims(ncid, var, &dims);
  std::vector<int> ids(static_cast<size_t>(dims));
  nc_inq_vardimid(ncid, var, ids.data());
  size_t n = 1;
  for (int d : ids) {
    size_t len = 0;
    nc_inq_dimlen(ncid, d, &len);
    n *= len;
  }
  return n;
}

}  // namespace quellmar::test

#endif  // QUELLMAR_TESTS_NC_READ_H
