#include "methods/netcdf/rays.h"

#include <netcdf.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "methods/netcdf/chunk_pack.h"
#include "methods/netcdf/fields.h"
#include "methods/netcdf/file.h"
#include "methods/pairs/spectrum_shape.h"

namespace quellmar::companions {

namespace {

constexpr size_t kRayBlock = 4096;
constexpr int64_t kChunkValues = 65536;          // 256 KiB of floats
constexpr int64_t kSpectraSlabValues = 1 << 20;  // 4 MiB of floats
constexpr int64_t kSpectraChunkValues = 8192;    // 32 KiB of floats

void check(int status, const char* what) {
  if (status != NC_NOERR) {
    throw NcError(std::string("writing ") + what + ": " + nc_strerror(status));
  }
}

void put(int ncid, int var, const char* what, size_t start,
         const std::vector<double>& v) {
  const size_t count = v.size();
  check(nc_put_vara_double(ncid, var, &start, &count, v.data()), what);
}
void put(int ncid, int var, const char* what, size_t start,
         const std::vector<float>& v) {
  const size_t count = v.size();
  check(nc_put_vara_float(ncid, var, &start, &count, v.data()), what);
}
void put(int ncid, int var, const char* what, size_t start,
         const std::vector<int>& v) {
  const size_t count = v.size();
  check(nc_put_vara_int(ncid, var, &start, &count, v.data()), what);
}

}  // namespace

// The buffers of written chunks, kept for the next chunks so that their
// memory is not allocated and faulted in again for each one. Shared by the
// two threads.
class ChunkBuffers {
 public:
  std::vector<float> values(size_t n) {
    std::vector<float> v = take(values_);
    v.resize(n);
    return v;
  }
  std::vector<unsigned char> bytes() { return take(bytes_); }
  void give(std::vector<float>&& v) { keep(values_, std::move(v)); }
  void give(std::vector<unsigned char>&& v) { keep(bytes_, std::move(v)); }

 private:
  static constexpr size_t kKept = 32;
  template <typename T>
  T take(std::vector<T>& from) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from.empty()) return T();
    T v = std::move(from.back());
    from.pop_back();
    return v;
  }
  template <typename T>
  void keep(std::vector<T>& into, T&& v) {
    if (v.capacity() == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (into.size() < kKept) into.push_back(std::move(v));
  }
  std::mutex mutex_;
  std::vector<std::vector<float>> values_;
  std::vector<std::vector<unsigned char>> bytes_;
};

namespace {

// The values of one chunk, and what the file stores of it once packed
// (float values at level 0 are stored as they are). Its buffers go back to
// the pool when the chunk is written.
struct Chunk {
  std::shared_ptr<ChunkBuffers> pool;
  std::vector<float> values;
  std::vector<unsigned char> stored;
  std::shared_ptr<const DeflateCodes> codes;  // null: the chunk's own
  bool packed = false;
  explicit Chunk(std::shared_ptr<ChunkBuffers> p)
      : pool(std::move(p)), stored(pool->bytes()) {}
  ~Chunk() {
    pool->give(std::move(values));
    pool->give(std::move(stored));
  }
};

bool needs_packing(bool flags, const ChunkTarget& t) {
  return flags || t.deflate_level > 0 || t.significant_digits > 0;
}

void write_chunk(ChunkStore& store, int64_t dataset,
                 const std::vector<uint64_t>& offset, const Chunk& c) {
  if (c.packed) {
    store.write(dataset, offset, c.stored.data(), c.stored.size());
  } else {
    store.write(dataset, offset, c.values.data(),
                c.values.size() * sizeof(float));
  }
}

// The stored bytes of a chunk of float values, quantized when digits > 0,
// or of flag bytes when the variable is one of unsigned bytes (values 0 to
// 255, else the library's range error). Float values stored as they are
// stay in place.
void pack(Chunk& c, bool flags, int level, int digits, const char* name) {
  bool ok = false;
  if (!flags && digits > 0) {
    quantize(c.values.data(), c.values.size(), digits, kFillValue);
  }
  if (!flags && level <= 0) return;
  if (!flags) {
    ok = pack_chunk(c.values.data(), c.values.size() * sizeof(float),
                    sizeof(float), level, &c.stored, c.codes.get());
  } else {
    thread_local std::vector<unsigned char> bytes;
    bytes.resize(c.values.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
      const float v = c.values[i];
      if (!(v >= 0.0f && v <= 255.0f)) check(NC_ERANGE, name);
      bytes[i] = static_cast<unsigned char>(v);
    }
    ok = pack_chunk(bytes.data(), bytes.size(), 1, level, &c.stored);
  }
  if (!ok) check(NC_ENOMEM, name);
  c.packed = true;
}

float decibels(float linear) {
  return linear > 0.0f ? pda_power_db(linear) : kFillValue;
}

}  // namespace

ChunkShapes chunk_shapes(const NcPlan& plan) {
  ChunkShapes s;
  const int64_t points = std::max<int64_t>(plan.n_points, 1);
  s.field_points = std::min(points, kChunkValues);
  const int64_t width = std::max<int64_t>(plan.spectrum_length, 1);
  s.spectra_columns =
      std::min(width, std::max<int64_t>(plan.shortest_spectrum, 64));
  s.spectra_rows = std::max<int64_t>(
      1, std::min({points, kSpectraChunkValues / s.spectra_columns,
                   kSpectraSlabValues / width}));
  return s;
}

RayWriter::RayWriter(int ncid, const NcPlan& plan,
                     std::vector<FieldSpec> fields, RayVariables vars,
                     ChunkTarget target)
    : ncid_(ncid),
      plan_(plan),
      fields_(std::move(fields)),
      vars_(std::move(vars)),
      target_(std::move(target)),
      shapes_(chunk_shapes(plan)),
      buffers_(std::make_shared<ChunkBuffers>()) {
  field_values_.resize(fields_.size());
  for (size_t k = 0; k < fields_.size(); ++k) {
    if (vars_.fields[k] >= 0) {
      field_values_[k].resize(static_cast<size_t>(shapes_.field_points));
    }
  }
  if (vars_.spectra >= 0) {
    spectra_values_.resize(
        static_cast<size_t>(shapes_.spectra_rows * plan_.spectrum_length));
    spectra_lengths_.resize(static_cast<size_t>(shapes_.spectra_rows));
  }
}

bool RayWriter::add(const RecordFacts& f, const MomentArrays& m,
                    float nyquist) {
  if (!place_ray(f, nyquist)) return false;
  add_fields(f, m);
  if (vars_.spectra >= 0) add_spectra(f, m);
  return true;
}

bool RayWriter::add_ray(const RecordFacts& f, const MomentArrays& m,
                        float nyquist) {
  if (!place_ray(f, nyquist)) return false;
  if (vars_.spectra >= 0) add_spectra(f, m);
  return true;
}

void RayWriter::add_given_fields(int64_t gates,
                                 const std::vector<const float*>& values) {
  int64_t g = 0;
  while (g < gates) {
    if (field_used_ == shapes_.field_points) flush_fields();
    const int64_t n = std::min(gates - g, shapes_.field_points - field_used_);
    for (size_t k = 0; k < fields_.size(); ++k) {
      if (vars_.fields[k] < 0) continue;
      float* out = field_values_[k].data() + field_used_;
      const float* src = k < values.size() ? values[k] : nullptr;
      if (src == nullptr) {
        std::fill_n(out, n, kFillValue);
      } else {
        std::copy_n(src + g, n, out);
      }
    }
    field_used_ += n;
    g += n;
  }
}

// The ray's place and its per-ray and per-sweep values.
bool RayWriter::place_ray(const RecordFacts& f, float nyquist) {
  RayCursor next = cursor_;
  const RayCursor::Place place = next.next(f);
  if (next.rays() > plan_.rays || next.points() > plan_.n_points ||
      next.sweeps() > plan_.sweeps) {
    return false;
  }
  cursor_ = next;

  time_.push_back(
      static_cast<double>(static_cast<int64_t>(f.time) - plan_.base_time));
  azimuth_.push_back(static_cast<float>(f.azimuth));
  elevation_.push_back(f.elevation);
  start_range_.push_back(gate_range_m(f, 0));
  spacing_.push_back(gate_spacing_m(f));
  prt_.push_back(static_cast<float>(f.ipp_ns * 1e-9));
  nyquist_.push_back(nyquist);
  n_gates_.push_back(f.gate_count);
  start_index_.push_back(static_cast<int>(place.start_index));
  beam_.push_back(f.beam);
  mode_.push_back(f.mode);
  datacode_.push_back(f.datacode);
  spectral_points_.push_back(f.spectral_points);
  if (time_.size() == kRayBlock) flush_rays();

  if (place.new_sweep) {
    if (sweep_open_) {
      sweep_start_.push_back(sweep_open_start_);
      sweep_end_.push_back(sweep_open_end_);
      fixed_angle_.push_back(sweep_open_angle_);
      if (sweep_start_.size() == kRayBlock) flush_sweeps();
    }
    sweep_open_ = true;
    sweep_open_start_ = static_cast<int>(place.ray);
    sweep_open_angle_ = f.elevation;
  }
  sweep_open_end_ = static_cast<int>(place.ray);
  return true;
}

void RayWriter::add_fields(const RecordFacts& f, const MomentArrays& m) {
  const int64_t gates = f.gate_count;
  int64_t g = 0;
  while (g < gates) {
    if (field_used_ == shapes_.field_points) flush_fields();
    const int64_t n = std::min(gates - g, shapes_.field_points - field_used_);
    for (size_t k = 0; k < fields_.size(); ++k) {
      if (vars_.fields[k] < 0) continue;
      float* out = field_values_[k].data() + field_used_;
      if ((fields_[k].second_set && !f.second_set) ||
          fields_[k].values == nullptr) {
        std::fill_n(out, n, kFillValue);
        continue;
      }
      const std::vector<float>& src = m.*fields_[k].values;
      const int64_t have =
          std::clamp<int64_t>(static_cast<int64_t>(src.size()) - g, 0, n);
      if (fields_[k].decibels) {
        for (int64_t i = 0; i < have; ++i) out[i] = decibels(src[g + i]);
        std::fill(out + have, out + n, decibels(0.0f));
      } else {
        std::copy_n(src.data() + g, have, out);
        std::fill(out + have, out + n, 0.0f);
      }
    }
    field_used_ += n;
    g += n;
  }
}

void RayWriter::add_spectra(const RecordFacts& f, const MomentArrays& m) {
  const int64_t width = plan_.spectrum_length;
  const SpectrumLineShape shape = spectrum_line_shape(f);
  for (int64_t g = 0; g < f.gate_count; ++g) {
    if (spectra_used_ == shapes_.spectra_rows) flush_spectra();
    // The row's values past its line are filled when the slab is flushed,
    // as far as the slab's widest line reaches.
    float* row = spectra_values_.data() + spectra_used_ * width;
    int64_t length = 0;
    if (f.spectra_flag != 0 && g < m.gate_count) {
      const int64_t n = pda_spectrum_line_length(shape, m.row_length);
      if (n <= width) {
        pda_spectrum_line(shape, m.spectra_row(g), m.row_length, row);
      } else {
        line_.resize(static_cast<size_t>(n));
        pda_spectrum_line(shape, m.spectra_row(g), m.row_length, line_.data());
        std::copy_n(line_.data(), width, row);
      }
      length = std::min(n, width);
    }
    spectra_lengths_[static_cast<size_t>(spectra_used_)] = length;
    ++spectra_used_;
  }
}

bool RayWriter::direct() const {
  return target_.store != nullptr && target_.store->ok();
}

void RayWriter::flush_rays() {
  if (time_.empty()) return;
  const size_t s = static_cast<size_t>(ray_first_);
  ray_first_ += static_cast<int64_t>(time_.size());
  target_.queue->add(
      {}, [ncid = ncid_, v = vars_, s, time = std::move(time_),
           azimuth = std::move(azimuth_), elevation = std::move(elevation_),
           start_range = std::move(start_range_), spacing = std::move(spacing_),
           prt = std::move(prt_), nyquist = std::move(nyquist_),
           n_gates = std::move(n_gates_), start_index = std::move(start_index_),
           beam = std::move(beam_), mode = std::move(mode_),
           datacode = std::move(datacode_),
           spectral_points = std::move(spectral_points_)] {
        put(ncid, v.time, "time", s, time);
        put(ncid, v.azimuth, "azimuth", s, azimuth);
        put(ncid, v.elevation, "elevation", s, elevation);
        put(ncid, v.start_range, "ray_start_range", s, start_range);
        put(ncid, v.gate_spacing, "ray_gate_spacing", s, spacing);
        put(ncid, v.prt, "prt", s, prt);
        put(ncid, v.nyquist, "nyquist_velocity", s, nyquist);
        put(ncid, v.n_gates, "ray_n_gates", s, n_gates);
        put(ncid, v.start_index, "ray_start_index", s, start_index);
        put(ncid, v.beam, "beam_index", s, beam);
        put(ncid, v.mode, "mode_index", s, mode);
        put(ncid, v.datacode, "datacode", s, datacode);
        put(ncid, v.spectral_points, "spectral_points", s, spectral_points);
      });
  for (auto* v :
       {&azimuth_, &elevation_, &start_range_, &spacing_, &prt_, &nyquist_}) {
    v->clear();
  }
  for (auto* v : {&n_gates_, &start_index_, &beam_, &mode_, &datacode_,
                  &spectral_points_}) {
    v->clear();
  }
  time_.clear();
}

void RayWriter::flush_sweeps() {
  const size_t n = sweep_start_.size();
  if (n == 0) return;
  const size_t s = static_cast<size_t>(sweep_first_);
  sweep_first_ += static_cast<int64_t>(n);
  std::vector<int> number(n);
  for (size_t i = 0; i < n; ++i) number[i] = static_cast<int>(s + i);
  std::vector<char> modes(n * kStringLength, '\0');
  const std::string pointing = "pointing";
  for (size_t i = 0; i < n; ++i) {
    pointing.copy(&modes[i * kStringLength], pointing.size());
  }
  target_.queue->add(
      {}, [ncid = ncid_, v = vars_, s, n, number = std::move(number),
           starts = std::move(sweep_start_), ends = std::move(sweep_end_),
           angles = std::move(fixed_angle_), modes = std::move(modes)] {
        put(ncid, v.sweep_number, "sweep_number", s, number);
        put(ncid, v.sweep_start, "sweep_start_ray_index", s, starts);
        put(ncid, v.sweep_end, "sweep_end_ray_index", s, ends);
        put(ncid, v.fixed_angle, "fixed_angle", s, angles);
        const size_t at[2] = {s, 0};
        const size_t count[2] = {n, kStringLength};
        check(nc_put_vara_text(ncid, v.sweep_mode, at, count, modes.data()),
              "sweep_mode");
      });
  sweep_start_.clear();
  sweep_end_.clear();
  fixed_angle_.clear();
}

void RayWriter::flush_fields() {
  if (field_used_ == 0) return;
  for (size_t k = 0; k < fields_.size(); ++k) {
    if (vars_.fields[k] >= 0) queue_field_chunk(k);
  }
  field_first_ += field_used_;
  field_used_ = 0;
}

// One chunk of field k: points field_first_ .. + field_used_, the rest of
// the chunk (past the last point of the file) the fill value, as HDF5
// fills it.
void RayWriter::queue_field_chunk(size_t k) {
  auto chunk = std::make_shared<Chunk>(buffers_);
  chunk->values = std::move(field_values_[k]);
  field_values_[k] =
      buffers_->values(static_cast<size_t>(shapes_.field_points));
  const FieldSpec& f = fields_[k];
  const bool flags = f.flag_count > 0;
  const int64_t first = field_first_;
  const int64_t used = field_used_;
  if (!direct()) {
    target_.queue->add({}, [ncid = ncid_, var = vars_.fields[k], chunk, first,
                            used, name = f.name] {
      const size_t start = static_cast<size_t>(first);
      const size_t count = static_cast<size_t>(used);
      check(nc_put_vara_float(ncid, var, &start, &count, chunk->values.data()),
            name);
    });
    return;
  }
  std::fill(chunk->values.begin() + used, chunk->values.end(),
            flags ? 255.0f : kFillValue);
  std::function<void()> packing;
  if (needs_packing(flags, target_)) {
    packing = [chunk, flags, level = target_.deflate_level,
               digits = target_.significant_digits,
               name = f.name] { pack(*chunk, flags, level, digits, name); };
  }
  target_.queue->add(
      std::move(packing), [store = target_.store,
                           dataset = target_.field_datasets[k], chunk, first] {
        write_chunk(*store, dataset, {static_cast<uint64_t>(first)}, *chunk);
      });
}

// Only the blocks of columns that some row's line reaches are written; the
// rest of the slab is the fill value, which unwritten chunks read as.
void RayWriter::flush_spectra() {
  if (spectra_used_ == 0) return;
  const int64_t width = plan_.spectrum_length;
  const int64_t longest = *std::max_element(
      spectra_lengths_.begin(), spectra_lengths_.begin() + spectra_used_);
  const int64_t block = shapes_.spectra_columns;
  const int64_t columns =
      std::min(width, (longest + block - 1) / block * block);
  for (int64_t r = 0; r < spectra_used_; ++r) {
    const int64_t length = spectra_lengths_[static_cast<size_t>(r)];
    float* row = spectra_values_.data() + r * width;
    if (length < columns) std::fill(row + length, row + columns, kFillValue);
  }
  if (direct()) {
    const bool new_codes = spectra_slabs_++ % kSlabsPerCodes == 0;
    for (int64_t c = 0; c < columns; c += block) {
      queue_spectra_chunk(c, new_codes);
    }
  } else if (columns > 0) {
    auto chunk = std::make_shared<Chunk>(buffers_);
    chunk->values.assign(spectra_values_.begin(),
                         spectra_values_.begin() + spectra_used_ * width);
    float* values = chunk->values.data();
    if (columns < width) {
      for (int64_t r = 1; r < spectra_used_; ++r) {
        std::memmove(values + r * columns, values + r * width,
                     static_cast<size_t>(columns) * sizeof(float));
      }
    }
    target_.queue->add({}, [ncid = ncid_, var = vars_.spectra, chunk,
                            first = spectra_first_, rows = spectra_used_,
                            columns] {
      const size_t starts[2] = {static_cast<size_t>(first), 0};
      const size_t counts[2] = {static_cast<size_t>(rows),
                                static_cast<size_t>(columns)};
      check(nc_put_vara_float(ncid, var, starts, counts, chunk->values.data()),
            "spectra");
    });
  }
  spectra_first_ += spectra_used_;
  spectra_used_ = 0;
}

// The chunk of the slab's rows and the block of columns from first_column:
// rows past the last gate of the file and columns past the widest line
// the fill value, as HDF5 fills them.
void RayWriter::queue_spectra_chunk(int64_t first_column, bool new_codes) {
  const int64_t width = plan_.spectrum_length;
  const int64_t rows = shapes_.spectra_rows;
  const int64_t block = shapes_.spectra_columns;
  const int64_t taken = std::min(block, width - first_column);
  auto chunk = std::make_shared<Chunk>(buffers_);
  chunk->values = buffers_->values(static_cast<size_t>(rows * block));
  float* out = chunk->values.data();
  for (int64_t r = 0; r < spectra_used_; ++r) {
    std::copy_n(spectra_values_.data() + r * width + first_column, taken,
                out + r * block);
    std::fill(out + r * block + taken, out + (r + 1) * block, kFillValue);
  }
  std::fill(out + spectra_used_ * block, out + rows * block, kFillValue);
  // Codes shared by the block's chunks at level 1, made here, on the
  // decoding thread, so that every chunk's bytes are the same whichever
  // thread packs it. Quantized values keep their own codes.
  if (target_.deflate_level == 1 && target_.significant_digits == 0) {
    const size_t k = static_cast<size_t>(first_column / block);
    if (spectra_codes_.size() <= k) spectra_codes_.resize(k + 1);
    if (new_codes || !spectra_codes_[k]) {
      spectra_codes_[k] = deflate_codes(
          out, chunk->values.size() * sizeof(float), sizeof(float));
    }
    chunk->codes = spectra_codes_[k];
  }
  std::function<void()> packing;
  if (needs_packing(false, target_)) {
    packing = [chunk, level = target_.deflate_level,
               digits = target_.significant_digits] {
      pack(*chunk, false, level, digits, "spectra");
    };
  }
  target_.queue->add(
      std::move(packing),
      [store = target_.store, dataset = target_.spectra_dataset, chunk,
       offset = std::vector<uint64_t>{static_cast<uint64_t>(spectra_first_),
                                      static_cast<uint64_t>(first_column)}] {
        write_chunk(*store, dataset, offset, *chunk);
      });
}

void RayWriter::finish() {
  if (sweep_open_) {
    sweep_start_.push_back(sweep_open_start_);
    sweep_end_.push_back(sweep_open_end_);
    fixed_angle_.push_back(sweep_open_angle_);
    sweep_open_ = false;
  }
  flush_rays();
  flush_sweeps();
  flush_fields();
  flush_spectra();
  target_.queue->finish();
}

}  // namespace quellmar::companions
