// Writing the rays of a converted file as the decoding pass meets them,
// through buffers of a fixed size: the per-ray and per-sweep variables in
// blocks of rays, the fields and spectra in whole chunks. Every write goes
// to the write queue (write_queue.h), whose thread makes the library calls
// while the caller decodes the next records; the chunks are packed
// (chunk_pack.h) on either thread and stored whole (chunk_store.h). Memory
// does not grow with the file, and every chunk is compressed once.

#ifndef QUELLMAR_COMPANIONS_NC_RAYS_H
#define QUELLMAR_COMPANIONS_NC_RAYS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "disk/pda.h"
#include "methods/netcdf/chunk_pack.h"
#include "methods/netcdf/chunk_store.h"
#include "methods/netcdf/fields.h"
#include "methods/netcdf/plan.h"
#include "methods/netcdf/write_queue.h"

namespace quellmar::companions {

// Length of the text variables' string dimension.
constexpr size_t kStringLength = 32;

// The variable ids the writer fills; -1 for a variable the file lacks.
struct RayVariables {
  int time = -1, azimuth = -1, elevation = -1, start_range = -1,
      gate_spacing = -1, prt = -1, nyquist = -1, n_gates = -1, start_index = -1,
      beam = -1, mode = -1, datacode = -1, spectral_points = -1;
  int sweep_number = -1, sweep_mode = -1, fixed_angle = -1, sweep_start = -1,
      sweep_end = -1;
  std::vector<int> fields;  // in the order of the field table
  int spectra = -1;
};

// Where the chunks of the fields and spectra go: with a store that is
// ok(), packed at the deflate level into the datasets given (per field of
// the table, -1 for an absent one); without, through the library's own
// writing of values, which packs them with its own filters.
struct ChunkTarget {
  WriteQueue* queue = nullptr;
  ChunkStore* store = nullptr;
  int deflate_level = 0;
  int significant_digits = 0;  // 0: exact; else as quantize() keeps them
  std::vector<int64_t> field_datasets;
  int64_t spectra_dataset = -1;
};

// Chunk shapes: fields are chunked along n_points; spectra in blocks of
// columns as wide as the shortest spectrum line, so that the columns past
// every line of a block of gates are never written and read as the fill
// value.
struct ChunkShapes {
  int64_t field_points = 1;
  int64_t spectra_rows = 1;
  int64_t spectra_columns = 1;
};
ChunkShapes chunk_shapes(const NcPlan& plan);

class ChunkBuffers;

class RayWriter {
 public:
  RayWriter(int ncid, const NcPlan& plan, std::vector<FieldSpec> fields,
            RayVariables vars, ChunkTarget target);

  // Adds the next ray, its fields from the moments; false, writing
  // nothing, when it lies beyond the plan. Throws NcError when a write
  // fails.
  bool add(const RecordFacts& ray, const MomentArrays& moments, float nyquist);
  // Adds the next ray without its fields, which add_given_fields adds
  // later in the same order.
  bool add_ray(const RecordFacts& ray, const MomentArrays& moments,
               float nyquist);
  // The fields of the next ray: per field of the table, gates values, or
  // nullptr for a field taken from no array (written as the fill value).
  void add_given_fields(int64_t gates, const std::vector<const float*>& values);
  // Queues what is buffered and waits until the queue has written it all.
  void finish();
  // The rays, gates and sweeps added so far.
  const RayCursor& added() const { return cursor_; }

 private:
  void flush_rays();
  void flush_sweeps();
  void flush_fields();
  void flush_spectra();
  void queue_field_chunk(size_t field);
  void queue_spectra_chunk(int64_t first_column, bool new_codes);
  bool direct() const;
  bool place_ray(const RecordFacts& f, float nyquist);
  void add_fields(const RecordFacts& f, const MomentArrays& m);
  void add_spectra(const RecordFacts& f, const MomentArrays& m);

  int ncid_;
  const NcPlan& plan_;
  std::vector<FieldSpec> fields_;
  RayVariables vars_;
  ChunkTarget target_;
  ChunkShapes shapes_;
  std::shared_ptr<ChunkBuffers> buffers_;
  RayCursor cursor_;

  // Per ray, from ray_first_ on.
  int64_t ray_first_ = 0;
  std::vector<double> time_;
  std::vector<float> azimuth_, elevation_, start_range_, spacing_, prt_,
      nyquist_;
  std::vector<int> n_gates_, start_index_, beam_, mode_, datacode_,
      spectral_points_;

  // Per finished sweep, from sweep_first_ on; the open sweep apart.
  int64_t sweep_first_ = 0;
  std::vector<int> sweep_start_, sweep_end_;
  std::vector<float> fixed_angle_;
  bool sweep_open_ = false;
  int sweep_open_start_ = 0, sweep_open_end_ = 0;
  float sweep_open_angle_ = 0.f;

  // Field slab: points slab_first_ .. slab_first_ + field_points.
  int64_t field_first_ = 0;
  int64_t field_used_ = 0;
  std::vector<std::vector<float>> field_values_;

  // Spectra slab: rows spectra_first_ .. + spectra_rows, each the longest
  // line wide; the length of the line each row holds.
  int64_t spectra_first_ = 0;
  int64_t spectra_used_ = 0;
  std::vector<float> spectra_values_;
  std::vector<int64_t> spectra_lengths_;
  std::vector<float> line_;
  // The deflate codes of each block of columns, made again every
  // kSlabsPerCodes slabs from the slab's chunk (see deflate_codes).
  static constexpr int64_t kSlabsPerCodes = 16;
  int64_t spectra_slabs_ = 0;
  std::vector<std::shared_ptr<const DeflateCodes>> spectra_codes_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_RAYS_H
