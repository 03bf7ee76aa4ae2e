// The converted file: a netCDF-4 file after the CF-Radial 1.4 conventions,
// written with the netCDF C library. docs/companions.md lists every
// dimension, variable and attribute.
//
// Rays of different modes have different gate counts, so the moments use
// the variable-gates layout: every field is one long array over the
// n_points dimension, ray after ray, and ray_start_index / ray_n_gates
// tell where each ray's gates lie.

#ifndef QUELLMAR_COMPANIONS_NC_FILE_H
#define QUELLMAR_COMPANIONS_NC_FILE_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "companions/nc_plan.h"
#include "companions/pair_scan.h"
#include "disk/pda.h"

namespace qcomp {

// A failed netCDF call, with the library's words for it.
class NcError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Value of every field and spectrum entry that holds no data.
constexpr float kFillValue = -9999.0f;

class NcFile {
 public:
  // Creates the file at path, replacing one that is there. Throws NcError.
  explicit NcFile(const std::string& path);
  // Closes the file if close() was not reached.
  ~NcFile();
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;

  // Defines the dimensions, variables and attributes and writes everything
  // the plan knows: times, angles, ranges, ray and sweep variables. The
  // plan must outlive the file object.
  void define(const NcPlan& plan, const PairInput& input);

  // Writes the moments (and spectra) of ray number ray from the decoded
  // arrays, and its Nyquist velocity.
  void write_ray(size_t ray, const MomentArrays& moments, float nyquist);

  void close();

 private:
  void define_dimensions();
  void define_coordinates();
  void define_ray_and_sweep_variables();
  void define_fields();
  void put_global_attributes(const PairInput& input);
  void write_plan_values();

  int ncid_ = -1;
  const NcPlan* plan_ = nullptr;
  int dim_time_ = -1, dim_range_ = -1, dim_sweep_ = -1, dim_points_ = -1;
  int dim_string_ = -1, dim_spectrum_ = -1, dim_frequency_ = -1;
  int var_nyquist_ = -1, var_spectra_ = -1;
  std::vector<int> field_vars_;  // -1 for the second set when absent
  std::string time_coverage_start_, time_coverage_end_;
  int32_t tx_frequency_ = 0;
};

}  // namespace qcomp

#endif  // QUELLMAR_COMPANIONS_NC_FILE_H
