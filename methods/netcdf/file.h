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
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/netcdf/chunk_store.h"
#include "methods/netcdf/fields.h"
#include "methods/netcdf/plan.h"
#include "methods/netcdf/write_queue.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

// A failed netCDF call, with the library's words for it.
class NcError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Value of every field and spectrum entry that holds no data.
constexpr float kFillValue = -9999.0f;

class RayWriter;
struct ChunkTarget;

struct NcFileOptions {
  int deflate_level = 1;  // 0: fields and spectra stored uncompressed
  // The float fields and the spectra kept to this many significant
  // decimal digits (1..7, netCDF's Granular BitRound quantization, which
  // the library records in the attribute
  // _QuantizeGranularBitRoundNumberOfSignificantDigits); none: exact.
  std::optional<int32_t> significant_digits;
  // Where the radar stands; the location variables hold the fill value
  // without them.
  std::optional<double> latitude;   // degrees north
  std::optional<double> longitude;  // degrees east
  std::optional<double> altitude;   // metres
  // The field variables; empty: those of kFields (quellmar-nc's).
  std::vector<FieldSpec> fields;
  // The history attribute, and text attributes added after the others.
  std::string history = "converted by quellmar-nc";
  std::vector<std::pair<std::string, std::string>> attributes;
};

class NcFile {
 public:
  // Creates the file at path, replacing one that is there. Throws NcError.
  explicit NcFile(const std::string& path);
  // Closes the file if close() was not reached, dropping what is queued.
  ~NcFile();
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;

  // Defines the dimensions, variables and attributes and writes what the
  // plan knows: the range coordinate, the frequency, the coverage times and
  // the location. The plan must outlive the file object.
  void define(const NcPlan& plan, const PairInput& input,
              const NcFileOptions& options);

  // Writes the next ray from its record's facts, its decoded arrays and its
  // Nyquist velocity (buffered: see nc_rays.h). False, writing nothing,
  // when the ray lies beyond the plan.
  bool write_ray(const RecordFacts& ray, const MomentArrays& moments,
                 float nyquist);
  // For a field table whose values the caller gives: writes the next ray
  // with its spectra but not its fields, which write_fields gives later,
  // ray after ray in the same order.
  bool write_ray_without_fields(const RecordFacts& ray,
                                const MomentArrays& moments, float nyquist);
  // The field values of the next ray (gates values per field, in the order
  // of the field table; nullptr for a field taken from the moments).
  void write_fields(int64_t gates, const std::vector<const float*>& values);
  // The rays, gates and sweeps written so far.
  int64_t rays_written() const;
  int64_t points_written() const;
  int64_t sweeps_written() const;

  // Writes what is buffered and closes the file.
  void close();

 private:
  void define_dimensions();
  void define_coordinates(const NcFileOptions& options);
  void define_ray_and_sweep_variables();
  void define_fields(const NcFileOptions& options);
  std::vector<FieldSpec> fields_;
  void put_global_attributes(const PairInput& input,
                             const NcFileOptions& options);
  void write_plan_values(const NcFileOptions& options);

  ChunkTarget open_chunks();

  std::string path_;
  int ncid_ = -1;
  const NcPlan* plan_ = nullptr;
  int deflate_level_ = 0;
  int significant_digits_ = 0;
  int dim_time_ = -1, dim_range_ = -1, dim_sweep_ = -1, dim_points_ = -1;
  int dim_string_ = -1, dim_spectrum_ = -1, dim_frequency_ = -1;
  int var_spectra_ = -1;
  std::vector<int> field_vars_;  // -1 for the second set when absent
  // Declared in the order they are closed in: the queue's thread first,
  // then the store's handle, then (by hand) the netCDF file.
  std::unique_ptr<ChunkStore> store_;
  std::unique_ptr<WriteQueue> queue_;
  std::unique_ptr<RayWriter> rays_;
  std::string time_coverage_start_, time_coverage_end_;
  int32_t tx_frequency_ = 0;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_FILE_H
