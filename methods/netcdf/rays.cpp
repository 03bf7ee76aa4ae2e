#include "methods/netcdf/rays.h"

#include <netcdf.h>

#include <algorithm>
#include <cstring>
#include <string>

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
                     std::vector<FieldSpec> fields, RayVariables vars)
    : ncid_(ncid),
      plan_(plan),
      fields_(std::move(fields)),
      vars_(std::move(vars)),
      shapes_(chunk_shapes(plan)) {
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
    float* row = spectra_values_.data() + spectra_used_ * width;
    std::fill_n(row, width, kFillValue);
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

void RayWriter::flush_rays() {
  if (time_.empty()) return;
  const size_t s = static_cast<size_t>(ray_first_);
  put(ncid_, vars_.time, "time", s, time_);
  put(ncid_, vars_.azimuth, "azimuth", s, azimuth_);
  put(ncid_, vars_.elevation, "elevation", s, elevation_);
  put(ncid_, vars_.start_range, "ray_start_range", s, start_range_);
  put(ncid_, vars_.gate_spacing, "ray_gate_spacing", s, spacing_);
  put(ncid_, vars_.prt, "prt", s, prt_);
  put(ncid_, vars_.nyquist, "nyquist_velocity", s, nyquist_);
  put(ncid_, vars_.n_gates, "ray_n_gates", s, n_gates_);
  put(ncid_, vars_.start_index, "ray_start_index", s, start_index_);
  put(ncid_, vars_.beam, "beam_index", s, beam_);
  put(ncid_, vars_.mode, "mode_index", s, mode_);
  put(ncid_, vars_.datacode, "datacode", s, datacode_);
  put(ncid_, vars_.spectral_points, "spectral_points", s, spectral_points_);
  ray_first_ += static_cast<int64_t>(time_.size());
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
  std::vector<int> number(n);
  for (size_t i = 0; i < n; ++i) number[i] = static_cast<int>(s + i);
  put(ncid_, vars_.sweep_number, "sweep_number", s, number);
  put(ncid_, vars_.sweep_start, "sweep_start_ray_index", s, sweep_start_);
  put(ncid_, vars_.sweep_end, "sweep_end_ray_index", s, sweep_end_);
  put(ncid_, vars_.fixed_angle, "fixed_angle", s, fixed_angle_);
  std::vector<char> modes(n * kStringLength, '\0');
  const std::string pointing = "pointing";
  for (size_t i = 0; i < n; ++i) {
    pointing.copy(&modes[i * kStringLength], pointing.size());
  }
  const size_t starts[2] = {s, 0};
  const size_t counts[2] = {n, kStringLength};
  check(nc_put_vara_text(ncid_, vars_.sweep_mode, starts, counts, modes.data()),
        "sweep_mode");
  sweep_first_ += static_cast<int64_t>(n);
  sweep_start_.clear();
  sweep_end_.clear();
  fixed_angle_.clear();
}

void RayWriter::flush_fields() {
  if (field_used_ == 0) return;
  const size_t start = static_cast<size_t>(field_first_);
  const size_t count = static_cast<size_t>(field_used_);
  for (size_t k = 0; k < fields_.size(); ++k) {
    if (vars_.fields[k] < 0) continue;
    check(nc_put_vara_float(ncid_, vars_.fields[k], &start, &count,
                            field_values_[k].data()),
          fields_[k].name);
  }
  field_first_ += field_used_;
  field_used_ = 0;
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
  if (columns > 0) {
    float* values = spectra_values_.data();
    if (columns < width) {
      for (int64_t r = 1; r < spectra_used_; ++r) {
        std::memmove(values + r * columns, values + r * width,
                     static_cast<size_t>(columns) * sizeof(float));
      }
    }
    const size_t starts[2] = {static_cast<size_t>(spectra_first_), 0};
    const size_t counts[2] = {static_cast<size_t>(spectra_used_),
                              static_cast<size_t>(columns)};
    check(nc_put_vara_float(ncid_, vars_.spectra, starts, counts, values),
          "spectra");
  }
  spectra_first_ += spectra_used_;
  spectra_used_ = 0;
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
}

}  // namespace quellmar::companions
