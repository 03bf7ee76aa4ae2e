#include "methods/netcdf/file.h"

#include <netcdf.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "methods/netcdf/attributes.h"
#include "methods/netcdf/fields.h"
#include "methods/netcdf/rays.h"
#include "methods/pairs/time_text.h"

namespace quellmar::companions {

namespace {

void check(int status, const std::string& what) {
  if (status != NC_NOERR) {
    throw NcError(what + ": " + nc_strerror(status));
  }
}

// The dimension id; a length of 0 is declared unlimited, which has the
// current length 0 (a fixed dimension cannot be empty).
int def_dim(int ncid, const char* name, int64_t length) {
  int id = -1;
  check(
      nc_def_dim(ncid, name,
                 length == 0 ? NC_UNLIMITED : static_cast<size_t>(length), &id),
      std::string("dimension ") + name);
  return id;
}

int def_var(int ncid, const char* name, nc_type type,
            std::initializer_list<int> dims) {
  int id = -1;
  const std::vector<int> d(dims);
  check(nc_def_var(ncid, name, type, static_cast<int>(d.size()), d.data(), &id),
        std::string("variable ") + name);
  return id;
}

void text_att(int ncid, int var, const char* name, const std::string& value) {
  check(nc_put_att_text(ncid, var, name, value.size(), value.c_str()),
        std::string("attribute ") + name);
}

void float_att(int ncid, int var, const char* name, float value) {
  check(nc_put_att_float(ncid, var, name, NC_FLOAT, 1, &value),
        std::string("attribute ") + name);
}

void double_att(int ncid, int var, const char* name, double value) {
  check(nc_put_att_double(ncid, var, name, NC_DOUBLE, 1, &value),
        std::string("attribute ") + name);
}

// The standard attributes of a variable; empty texts are left out.
void describe(int ncid, int var, const char* long_name,
              const char* standard_name, const char* units) {
  if (*long_name != '\0') text_att(ncid, var, "long_name", long_name);
  if (*standard_name != '\0') {
    text_att(ncid, var, "standard_name", standard_name);
  }
  if (*units != '\0') text_att(ncid, var, "units", units);
}

}  // namespace

namespace {
// At most this many writes wait for the writer thread: with chunks of at
// most 256 KiB, a few MiB.
constexpr size_t kQueuedWrites = 32;
}  // namespace

NcFile::NcFile(const std::string& path) : path_(path) {
  check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_),
        "cannot create " + path);
}

NcFile::~NcFile() {
  rays_.reset();
  queue_.reset();
  store_.reset();
  if (ncid_ >= 0) nc_close(ncid_);
}

void NcFile::close() {
  if (rays_) rays_->finish();
  if (store_) store_->close();
  const int id = ncid_;
  ncid_ = -1;
  check(nc_close(id), "closing the file");
}

// The datasets of the fields and spectra, to which the chunks go whole;
// when one cannot be had, every chunk goes through the library.
ChunkTarget NcFile::open_chunks() {
  ChunkTarget t;
  queue_ = std::make_unique<WriteQueue>(kQueuedWrites);
  t.queue = queue_.get();
  t.deflate_level = deflate_level_;
  t.significant_digits = significant_digits_;
  store_ = std::make_unique<ChunkStore>(path_);
  bool all = store_->ok();
  t.field_datasets.assign(field_vars_.size(), -1);
  for (size_t k = 0; all && k < field_vars_.size(); ++k) {
    if (field_vars_[k] < 0) continue;
    t.field_datasets[k] = store_->dataset(fields_[k].name);
    all = t.field_datasets[k] >= 0;
  }
  if (all && var_spectra_ >= 0) {
    t.spectra_dataset = store_->dataset("spectra");
    all = t.spectra_dataset >= 0;
  }
  if (!all) store_->close();
  t.store = store_.get();
  return t;
}

bool NcFile::write_ray(const RecordFacts& ray, const MomentArrays& moments,
                       float nyquist) {
  return rays_->add(ray, moments, nyquist);
}

bool NcFile::write_ray_without_fields(const RecordFacts& ray,
                                      const MomentArrays& moments,
                                      float nyquist) {
  return rays_->add_ray(ray, moments, nyquist);
}

void NcFile::write_fields(int64_t gates,
                          const std::vector<const float*>& values) {
  rays_->add_given_fields(gates, values);
}

int64_t NcFile::rays_written() const { return rays_->added().rays(); }
int64_t NcFile::points_written() const { return rays_->added().points(); }
int64_t NcFile::sweeps_written() const { return rays_->added().sweeps(); }

void NcFile::define(const NcPlan& plan, const PairInput& input,
                    const NcFileOptions& options) {
  plan_ = &plan;
  tx_frequency_ = input.first_block.radars[0].tx_frequency;
  time_coverage_start_ = iso_time(plan.first_time);
  time_coverage_end_ = iso_time(plan.last_time);
  deflate_level_ = options.deflate_level;
  significant_digits_ = options.significant_digits.value_or(0);
  fields_ = options.fields.empty()
                ? std::vector<FieldSpec>(std::begin(kFields), std::end(kFields))
                : options.fields;
  define_dimensions();
  put_global_attributes(input, options);
  define_coordinates(options);
  define_ray_and_sweep_variables();
  define_fields(options);
  check(nc_enddef(ncid_), "ending the definitions");
  write_plan_values(options);

  RayVariables v;
  auto id = [&](const char* name) {
    int var = -1;
    check(nc_inq_varid(ncid_, name, &var), name);
    return var;
  };
  v.time = id("time");
  v.azimuth = id("azimuth");
  v.elevation = id("elevation");
  v.start_range = id("ray_start_range");
  v.gate_spacing = id("ray_gate_spacing");
  v.prt = id("prt");
  v.nyquist = id("nyquist_velocity");
  v.n_gates = id("ray_n_gates");
  v.start_index = id("ray_start_index");
  v.beam = id("beam_index");
  v.mode = id("mode_index");
  v.datacode = id("datacode");
  v.spectral_points = id("spectral_points");
  v.sweep_number = id("sweep_number");
  v.sweep_mode = id("sweep_mode");
  v.fixed_angle = id("fixed_angle");
  v.sweep_start = id("sweep_start_ray_index");
  v.sweep_end = id("sweep_end_ray_index");
  v.fields = field_vars_;
  v.spectra = var_spectra_;
  rays_ = std::make_unique<RayWriter>(ncid_, plan, fields_, std::move(v),
                                      open_chunks());
}

void NcFile::define_dimensions() {
  const NcPlan& p = *plan_;
  dim_time_ = def_dim(ncid_, "time", p.rays);
  dim_range_ = def_dim(ncid_, "range", p.max_gates);
  dim_sweep_ = def_dim(ncid_, "sweep", p.sweeps);
  dim_points_ = def_dim(ncid_, "n_points", p.n_points);
  dim_string_ = def_dim(ncid_, "string_length", kStringLength);
  dim_frequency_ = def_dim(ncid_, "frequency", 1);
  if (p.spectrum_length > 0) {
    dim_spectrum_ = def_dim(ncid_, "spectrum_point", p.spectrum_length);
  }
}

void NcFile::put_global_attributes(const PairInput& input,
                                   const NcFileOptions& options) {
  GlobalAttributes g = global_attributes(input, *plan_);
  for (const auto& [name, value] : g.text) {
    text_att(ncid_, NC_GLOBAL, name.c_str(),
             name == "history" ? options.history : value);
  }
  check(
      nc_put_att_int(ncid_, NC_GLOBAL, "site_values", NC_INT, 4, g.site_values),
      "attribute site_values");
  for (const auto& [name, value] : options.attributes) {
    text_att(ncid_, NC_GLOBAL, name.c_str(), value);
  }
}

void NcFile::define_coordinates(const NcFileOptions& options) {
  int v = def_var(ncid_, "volume_number", NC_INT, {});
  describe(ncid_, v, "data_volume_index_number", "", "");
  v = def_var(ncid_, "time_coverage_start", NC_CHAR, {dim_string_});
  describe(ncid_, v, "data_volume_start_time_utc", "", "");
  v = def_var(ncid_, "time_coverage_end", NC_CHAR, {dim_string_});
  describe(ncid_, v, "data_volume_end_time_utc", "", "");

  const char* position[3][3] = {
      {"latitude", "latitude", "degrees_north"},
      {"longitude", "longitude", "degrees_east"},
      {"altitude", "altitude", "meters"},
  };
  const std::optional<double>* given[3] = {
      &options.latitude, &options.longitude, &options.altitude};
  for (int k = 0; k < 3; ++k) {
    const auto& p = position[k];
    v = def_var(ncid_, p[0], NC_DOUBLE, {});
    describe(ncid_, v, p[1], p[1], p[2]);
    double_att(ncid_, v, "_FillValue", kFillValue);
    text_att(ncid_, v, "comment",
             given[k]->has_value()
                 ? "given when the file was converted"
                 : "not recorded in a documented unit; the global attribute "
                   "site_values holds the header's four site values");
  }

  v = def_var(ncid_, "time", NC_DOUBLE, {dim_time_});
  describe(ncid_, v, "time_in_seconds_since_volume_start", "time", "");
  text_att(ncid_, v, "units", "seconds since " + iso_time(plan_->base_time));
  text_att(ncid_, v, "calendar", "gregorian");

  v = def_var(ncid_, "range", NC_FLOAT, {dim_range_});
  describe(ncid_, v, "range_to_measurement_volume",
           "projection_range_coordinate", "meters");
  text_att(ncid_, v, "axis", "radial_range_coordinate");
  text_att(ncid_, v, "spacing_is_constant", "true");
  if (plan_->max_gates > 0) {
    const RecordFacts& ray = plan_->range_ray;
    float_att(ncid_, v, "meters_to_center_of_first_gate", gate_range_m(ray, 0));
    float_att(ncid_, v, "meters_between_gates", gate_spacing_m(ray));
  }
  text_att(ncid_, v, "comment",
           "gates of the ray with the most gates; ray_start_range and "
           "ray_gate_spacing give every ray's own");

  v = def_var(ncid_, "azimuth", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "ray_azimuth_angle", "ray_azimuth_angle", "degrees");
  text_att(ncid_, v, "axis", "radial_azimuth_coordinate");
  v = def_var(ncid_, "elevation", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "ray_elevation_angle", "ray_elevation_angle", "degrees");
  text_att(ncid_, v, "axis", "radial_elevation_coordinate");
  text_att(ncid_, v, "positive", "up");
}

void NcFile::define_ray_and_sweep_variables() {
  int v = def_var(ncid_, "ray_n_gates", NC_INT, {dim_time_});
  describe(ncid_, v, "number_of_gates", "", "");
  v = def_var(ncid_, "ray_start_index", NC_INT, {dim_time_});
  describe(ncid_, v, "array_index_to_start_of_ray", "", "");
  v = def_var(ncid_, "ray_start_range", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "start_range_for_ray", "", "meters");
  v = def_var(ncid_, "ray_gate_spacing", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "gate_spacing_for_ray", "", "meters");

  v = def_var(ncid_, "sweep_number", NC_INT, {dim_sweep_});
  describe(ncid_, v, "sweep_index_number_0_based", "", "");
  v = def_var(ncid_, "sweep_mode", NC_CHAR, {dim_sweep_, dim_string_});
  describe(ncid_, v, "scan_mode_for_sweep", "", "");
  text_att(ncid_, v, "options", "pointing");
  v = def_var(ncid_, "fixed_angle", NC_FLOAT, {dim_sweep_});
  describe(ncid_, v, "ray_target_fixed_angle", "target_fixed_angle", "degrees");
  v = def_var(ncid_, "sweep_start_ray_index", NC_INT, {dim_sweep_});
  describe(ncid_, v, "index_of_first_ray_in_sweep", "", "");
  v = def_var(ncid_, "sweep_end_ray_index", NC_INT, {dim_sweep_});
  describe(ncid_, v, "index_of_last_ray_in_sweep", "", "");

  v = def_var(ncid_, "frequency", NC_DOUBLE, {dim_frequency_});
  describe(ncid_, v, "transmission_frequency", "", "s-1");
  text_att(ncid_, v, "meta_group", "instrument_parameters");
  v = def_var(ncid_, "prt", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "pulse_repetition_time", "", "seconds");
  text_att(ncid_, v, "meta_group", "instrument_parameters");
  v = def_var(ncid_, "nyquist_velocity", NC_FLOAT, {dim_time_});
  describe(ncid_, v, "unambiguous_doppler_velocity", "", "m/s");
  text_att(ncid_, v, "meta_group", "instrument_parameters");

  v = def_var(ncid_, "beam_index", NC_INT, {dim_time_});
  describe(ncid_, v, "beam_table_entry_of_ray", "", "");
  v = def_var(ncid_, "mode_index", NC_INT, {dim_time_});
  describe(ncid_, v, "operating_mode_of_ray", "", "");
  v = def_var(ncid_, "datacode", NC_INT, {dim_time_});
  describe(ncid_, v, "record_format_code", "", "");
  v = def_var(ncid_, "spectral_points", NC_INT, {dim_time_});
  describe(ncid_, v, "spectral_points_of_ray_mode", "", "");
  text_att(ncid_, v, "comment", "2048 or more: a RASS dwell");
}

// Field and spectra values are stored in chunks of about 256 KiB (shapes
// in nc_rays.h), compressed with shuffle and deflate at the level asked
// for, which keep every value exact.
void compress(int ncid, int var, int level,
              std::initializer_list<int64_t> chunk) {
  std::vector<size_t> chunks;
  for (int64_t c : chunk) chunks.push_back(static_cast<size_t>(c));
  check(nc_def_var_chunking(ncid, var, NC_CHUNKED, chunks.data()), "chunking");
  if (level > 0) {
    check(nc_def_var_deflate(ncid, var, 1, 1, level), "compression");
  }
  // A chunk is written whole, once: the cache need not keep it.
  size_t bytes = sizeof(float);
  for (size_t c : chunks) bytes *= c;
  check(nc_set_var_chunk_cache(ncid, var, bytes, 1009, 1.0f), "chunk cache");
}

// The library quantizes what it writes itself; the chunks written whole
// are quantized alike before they are packed (chunk_pack.h).
void quantize_var(int ncid, int var, int digits) {
  if (digits <= 0) return;
  check(nc_def_var_quantize(ncid, var, NC_QUANTIZE_GRANULARBR, digits),
        "quantization");
}

void NcFile::define_fields(const NcFileOptions& options) {
  const int deflate_level = options.deflate_level;
  const int digits = options.significant_digits.value_or(0);
  const ChunkShapes shapes = chunk_shapes(*plan_);
  field_vars_.assign(fields_.size(), -1);
  for (size_t k = 0; k < fields_.size(); ++k) {
    const FieldSpec& f = fields_[k];
    if (f.second_set && !plan_->second_set) continue;
    const bool flags = f.flag_count > 0;
    const int v =
        def_var(ncid_, f.name, flags ? NC_UBYTE : NC_FLOAT, {dim_points_});
    for (const auto& [name, value] : field_description(f)) {
      text_att(ncid_, v, name.c_str(), value);
    }
    if (flags) {
      check(nc_put_att_uchar(ncid_, v, "flag_masks", NC_UBYTE,
                             static_cast<size_t>(f.flag_count), f.flag_masks),
            "attribute flag_masks");
      text_att(ncid_, v, "flag_meanings", f.flag_meanings);
    } else {
      float_att(ncid_, v, "_FillValue", kFillValue);
      quantize_var(ncid_, v, digits);
    }
    compress(ncid_, v, deflate_level, {shapes.field_points});
    if (*f.comment != '\0') text_att(ncid_, v, "comment", f.comment);
    field_vars_[k] = v;
  }
  if (plan_->spectrum_length > 0) {
    var_spectra_ =
        def_var(ncid_, "spectra", NC_FLOAT, {dim_points_, dim_spectrum_});
    describe(ncid_, var_spectra_, "doppler_spectrum", "", "");
    float_att(ncid_, var_spectra_, "_FillValue", kFillValue);
    quantize_var(ncid_, var_spectra_, digits);
    compress(ncid_, var_spectra_, deflate_level,
             {shapes.spectra_rows, shapes.spectra_columns});
    text_att(ncid_, var_spectra_, "comment",
             "per gate, the spectrum as the .ras text file places it: with "
             "two spectral windows value k is spectral point k + 1 (0 where "
             "no window covers it, window 2 only when placed); with one "
             "window the window's values alone; fill value beyond");
  }
}

void NcFile::write_plan_values(const NcFileOptions& options) {
  const NcPlan& p = *plan_;
  int v = -1;
  std::vector<float> range(static_cast<size_t>(p.max_gates));
  for (int32_t g = 0; g < p.max_gates; ++g) {
    range[g] = gate_range_m(p.range_ray, g);
  }
  check(nc_inq_varid(ncid_, "range", &v), "range");
  if (!range.empty()) {
    check(nc_put_var_float(ncid_, v, range.data()), "writing range");
  }

  const int volume = 0;
  check(nc_inq_varid(ncid_, "volume_number", &v), "volume_number");
  check(nc_put_var_int(ncid_, v, &volume), "writing volume_number");
  for (const auto& [name, text] :
       {std::pair<const char*, const std::string&>{"time_coverage_start",
                                                   time_coverage_start_},
        {"time_coverage_end", time_coverage_end_}}) {
    std::vector<char> chars(kStringLength, '\0');
    text.copy(chars.data(), kStringLength);
    check(nc_inq_varid(ncid_, name, &v), name);
    check(nc_put_var_text(ncid_, v, chars.data()),
          std::string("writing ") + name);
  }
  const double frequency_hz = tx_frequency_ * 1e4;
  check(nc_inq_varid(ncid_, "frequency", &v), "frequency");
  check(nc_put_var_double(ncid_, v, &frequency_hz), "writing frequency");
  for (const auto& [name, value] :
       {std::pair<const char*, const std::optional<double>&>{"latitude",
                                                             options.latitude},
        {"longitude", options.longitude},
        {"altitude", options.altitude}}) {
    if (!value) continue;
    check(nc_inq_varid(ncid_, name, &v), name);
    check(nc_put_var_double(ncid_, v, &*value), std::string("writing ") + name);
  }
}

}  // namespace quellmar::companions
