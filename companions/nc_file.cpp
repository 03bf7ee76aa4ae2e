#include "companions/nc_file.h"

#include <netcdf.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "companions/nc_spectra.h"
#include "companions/time_text.h"
#include "tool/output_files.h"

namespace qcomp {

namespace {

constexpr size_t kStringLength = 32;

void check(int status, const std::string& what) {
  if (status != NC_NOERR) {
    throw NcError(what + ": " + nc_strerror(status));
  }
}

// Name fields are NUL-terminated bytes of no declared encoding; they are
// taken as Latin-1 and written as UTF-8, which every reader accepts.
std::string name_text(const char* field, size_t width) {
  std::string out;
  for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
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

struct FieldSpec {
  const char* name;
  const char* long_name;
  const char* standard_name;
  const char* units;
  const char* comment;
  bool second_set;
};

const FieldSpec kFields[] = {
    {"VEL", "radial_velocity",
     "radial_velocity_of_scatterers_away_from_instrument", "m/s", "", false},
    {"WIDTH", "doppler_spectrum_width", "doppler_spectrum_width", "m/s", "",
     false},
    {"SNR", "signal_to_noise_ratio", "signal_to_noise_ratio", "dB", "", false},
    {"NOISE", "noise_level", "", "dB", "", false},
    {"SIGNAL_POWER", "signal_power", "", "dB",
     "10 log10 of the decoded linear signal power; fill value where that "
     "power is not positive",
     false},
    {"VEL2", "radial_velocity_second_set",
     "radial_velocity_of_scatterers_away_from_instrument", "m/s",
     "second moment set", true},
    {"WIDTH2", "doppler_spectrum_width_second_set", "doppler_spectrum_width",
     "m/s", "second moment set", true},
    {"SNR2", "signal_to_noise_ratio_second_set", "signal_to_noise_ratio", "dB",
     "second moment set", true},
    {"SIGNAL_POWER2", "signal_power_second_set", "", "dB",
     "second moment set; 10 log10 of the decoded linear signal power; fill "
     "value where that power is not positive",
     true},
    {"AUX2", "auxiliary_value_second_set", "", "",
     "second moment set: the stored auxiliary count divided by 10", true},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

float at(const std::vector<float>& values, int64_t g) {
  return g < static_cast<int64_t>(values.size()) ? values[g] : 0.0f;
}

float decibels(float linear) {
  return linear > 0.0f ? power_db(linear) : kFillValue;
}

float field_value(int field, const MomentArrays& m, int64_t g) {
  switch (field) {
    case 0:
      return at(m.velocity, g);
    case 1:
      return at(m.width, g);
    case 2:
      return at(m.snr, g);
    case 3:
      return at(m.noise, g);
    case 4:
      return decibels(at(m.signal_power, g));
    case 5:
      return at(m.velocity2, g);
    case 6:
      return at(m.width2, g);
    case 7:
      return at(m.snr2, g);
    case 8:
      return decibels(at(m.signal_power2, g));
    default:
      return at(m.aux2, g);
  }
}

}  // namespace

NcFile::NcFile(const std::string& path) {
  check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_),
        "cannot create " + path);
}

NcFile::~NcFile() {
  if (ncid_ >= 0) nc_close(ncid_);
}

void NcFile::close() {
  const int id = ncid_;
  ncid_ = -1;
  check(nc_close(id), "closing the file");
}

void NcFile::define(const NcPlan& plan, const PairInput& input) {
  plan_ = &plan;
  tx_frequency_ = input.first_block.radars[0].tx_frequency;
  time_coverage_start_ = iso_time(plan.first_time);
  time_coverage_end_ = iso_time(plan.last_time);
  define_dimensions();
  put_global_attributes(input);
  define_coordinates();
  define_ray_and_sweep_variables();
  define_fields();
  check(nc_enddef(ncid_), "ending the definitions");
  write_plan_values();
}

void NcFile::define_dimensions() {
  const NcPlan& p = *plan_;
  dim_time_ = def_dim(ncid_, "time", static_cast<int64_t>(p.rays.size()));
  dim_range_ = def_dim(ncid_, "range", p.max_gates);
  dim_sweep_ = def_dim(ncid_, "sweep", static_cast<int64_t>(p.sweeps.size()));
  dim_points_ = def_dim(ncid_, "n_points", p.n_points);
  dim_string_ = def_dim(ncid_, "string_length", kStringLength);
  dim_frequency_ = def_dim(ncid_, "frequency", 1);
  if (p.spectrum_length > 0) {
    dim_spectrum_ = def_dim(ncid_, "spectrum_point", p.spectrum_length);
  }
}

void NcFile::put_global_attributes(const PairInput& input) {
  const ParameterBlock& b = input.first_block;
  const std::string site = name_text(b.site_name, sizeof b.site_name);
  text_att(ncid_, NC_GLOBAL, "Conventions", "CF/Radial instrument_parameters");
  text_att(ncid_, NC_GLOBAL, "version", "1.4");
  text_att(ncid_, NC_GLOBAL, "title", "Radar wind profiler dwells of " + site);
  text_att(ncid_, NC_GLOBAL, "institution", "");
  text_att(ncid_, NC_GLOBAL, "references", "");
  const std::string header_name = input.header_path.substr(input.prefix.size());
  text_att(ncid_, NC_GLOBAL, "source",
           "profiler file pair " +
               name_text(input.name.c_str(), input.name.size()) + " / " +
               name_text(header_name.c_str(), header_name.size()));
  text_att(ncid_, NC_GLOBAL, "history", "converted by quellmar-nc");
  text_att(ncid_, NC_GLOBAL, "comment",
           "one ray per data record; moments in the variable-gates layout");
  text_att(ncid_, NC_GLOBAL, "instrument_name", site);
  text_att(ncid_, NC_GLOBAL, "instrument_type", "radar");
  text_att(ncid_, NC_GLOBAL, "platform_type", "fixed");
  text_att(ncid_, NC_GLOBAL, "n_gates_vary", "true");
  text_att(ncid_, NC_GLOBAL, "time_coverage_start", time_coverage_start_);
  text_att(ncid_, NC_GLOBAL, "time_coverage_end", time_coverage_end_);
  text_att(ncid_, NC_GLOBAL, "radar_name",
           name_text(b.radars[0].radar_name, sizeof b.radars[0].radar_name));
  const int values[4] = {b.site_value_1, b.site_value_2, b.site_value_3,
                         b.site_value_4};
  check(nc_put_att_int(ncid_, NC_GLOBAL, "site_values", NC_INT, 4, values),
        "attribute site_values");
}

void NcFile::define_coordinates() {
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
  for (const auto& p : position) {
    v = def_var(ncid_, p[0], NC_DOUBLE, {});
    describe(ncid_, v, p[1], p[1], p[2]);
    double_att(ncid_, v, "_FillValue", kFillValue);
    text_att(ncid_, v, "comment",
             "not recorded in a documented unit; the global attribute "
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
    const RecordFacts& ray = plan_->rays[plan_->range_ray];
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
  var_nyquist_ = def_var(ncid_, "nyquist_velocity", NC_FLOAT, {dim_time_});
  describe(ncid_, var_nyquist_, "unambiguous_doppler_velocity", "", "m/s");
  text_att(ncid_, var_nyquist_, "meta_group", "instrument_parameters");

  v = def_var(ncid_, "beam_index", NC_INT, {dim_time_});
  describe(ncid_, v, "beam_table_entry_of_ray", "", "");
  v = def_var(ncid_, "mode_index", NC_INT, {dim_time_});
  describe(ncid_, v, "operating_mode_of_ray", "", "");
  v = def_var(ncid_, "datacode", NC_INT, {dim_time_});
  describe(ncid_, v, "record_format_code", "", "");
}

// Field and spectra values are stored compressed (shuffle and deflate,
// which keep every value exact) in chunks of about 256 KiB.
void compress(int ncid, int var, int64_t points, int64_t row) {
  const int64_t gates = std::max<int64_t>(
      1, std::min<int64_t>(points, 65536 / std::max<int64_t>(row, 1)));
  const size_t chunks[2] = {static_cast<size_t>(gates),
                            static_cast<size_t>(std::max<int64_t>(row, 1))};
  check(nc_def_var_chunking(ncid, var, NC_CHUNKED, chunks), "chunking");
  check(nc_def_var_deflate(ncid, var, 1, 1, 1), "compression");
}

void NcFile::define_fields() {
  field_vars_.assign(kFieldCount, -1);
  for (int k = 0; k < kFieldCount; ++k) {
    const FieldSpec& f = kFields[k];
    if (f.second_set && !plan_->second_set) continue;
    const int v = def_var(ncid_, f.name, NC_FLOAT, {dim_points_});
    describe(ncid_, v, f.long_name, f.standard_name, f.units);
    float_att(ncid_, v, "_FillValue", kFillValue);
    compress(ncid_, v, plan_->n_points, 1);
    if (*f.comment != '\0') text_att(ncid_, v, "comment", f.comment);
    field_vars_[k] = v;
  }
  if (plan_->spectrum_length > 0) {
    var_spectra_ =
        def_var(ncid_, "spectra", NC_FLOAT, {dim_points_, dim_spectrum_});
    describe(ncid_, var_spectra_, "doppler_spectrum", "", "");
    float_att(ncid_, var_spectra_, "_FillValue", kFillValue);
    compress(ncid_, var_spectra_, plan_->n_points, plan_->spectrum_length);
    text_att(ncid_, var_spectra_, "comment",
             "per gate, the spectrum as the .ras text file places it: with "
             "two spectral windows value k is spectral point k + 1 (0 where "
             "no window covers it, window 2 only when placed); with one "
             "window the window's values alone; fill value beyond");
  }
}

void NcFile::write_plan_values() {
  const NcPlan& p = *plan_;
  const size_t rays = p.rays.size();
  std::vector<double> time(rays);
  std::vector<float> azimuth(rays), elevation(rays), start_range(rays),
      spacing(rays), prt(rays);
  std::vector<int> n_gates(rays), start_index(rays), beam(rays), mode(rays),
      datacode(rays);
  for (size_t i = 0; i < rays; ++i) {
    const RecordFacts& f = p.rays[i];
    time[i] = static_cast<double>(static_cast<int64_t>(f.time) - p.base_time);
    azimuth[i] = static_cast<float>(f.azimuth);
    elevation[i] = f.elevation;
    start_range[i] = gate_range_m(f, 0);
    spacing[i] = gate_spacing_m(f);
    prt[i] = static_cast<float>(f.ipp_ns * 1e-9);
    n_gates[i] = f.gate_count;
    start_index[i] = static_cast<int>(p.start_index[i]);
    beam[i] = f.beam;
    mode[i] = f.mode;
    datacode[i] = f.datacode;
  }
  auto put = [&](const char* name, auto& values) {
    int v = -1;
    check(nc_inq_varid(ncid_, name, &v), name);
    if (values.empty()) return;
    using T = typename std::decay_t<decltype(values)>::value_type;
    int status;
    if constexpr (std::is_same_v<T, double>) {
      status = nc_put_var_double(ncid_, v, values.data());
    } else if constexpr (std::is_same_v<T, float>) {
      status = nc_put_var_float(ncid_, v, values.data());
    } else {
      status = nc_put_var_int(ncid_, v, values.data());
    }
    check(status, std::string("writing ") + name);
  };
  put("time", time);
  put("azimuth", azimuth);
  put("elevation", elevation);
  put("ray_start_range", start_range);
  put("ray_gate_spacing", spacing);
  put("prt", prt);
  put("ray_n_gates", n_gates);
  put("ray_start_index", start_index);
  put("beam_index", beam);
  put("mode_index", mode);
  put("datacode", datacode);

  std::vector<float> range(static_cast<size_t>(p.max_gates));
  for (int32_t g = 0; g < p.max_gates; ++g) {
    range[g] = gate_range_m(p.rays[p.range_ray], g);
  }
  put("range", range);

  const size_t sweeps = p.sweeps.size();
  std::vector<int> number(sweeps), first(sweeps), last(sweeps);
  std::vector<float> angle(sweeps);
  std::vector<char> modes(sweeps * kStringLength, '\0');
  for (size_t s = 0; s < sweeps; ++s) {
    number[s] = static_cast<int>(s);
    first[s] = p.sweeps[s].first_ray;
    last[s] = p.sweeps[s].last_ray;
    angle[s] = p.sweeps[s].fixed_angle;
    const std::string pointing = "pointing";
    pointing.copy(&modes[s * kStringLength], pointing.size());
  }
  put("sweep_number", number);
  put("sweep_start_ray_index", first);
  put("sweep_end_ray_index", last);
  put("fixed_angle", angle);
  int v = -1;
  check(nc_inq_varid(ncid_, "sweep_mode", &v), "sweep_mode");
  check(nc_put_var_text(ncid_, v, modes.data()), "writing sweep_mode");

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
}

void NcFile::write_ray(size_t ray, const MomentArrays& m, float nyquist) {
  const RecordFacts& f = plan_->rays[ray];
  check(nc_put_var1_float(ncid_, var_nyquist_, &ray, &nyquist),
        "writing nyquist_velocity");
  const size_t gates = static_cast<size_t>(f.gate_count);
  if (gates == 0) return;
  const size_t start = static_cast<size_t>(plan_->start_index[ray]);
  std::vector<float> values(gates);
  for (int k = 0; k < kFieldCount; ++k) {
    if (field_vars_[k] < 0) continue;
    const bool present = !kFields[k].second_set || f.second_set;
    for (size_t g = 0; g < gates; ++g) {
      values[g] =
          present ? field_value(k, m, static_cast<int64_t>(g)) : kFillValue;
    }
    check(
        nc_put_vara_float(ncid_, field_vars_[k], &start, &gates, values.data()),
        std::string("writing ") + kFields[k].name);
  }
  if (var_spectra_ < 0) return;
  // Rows go out in blocks of at most about a million values, so that a
  // header announcing huge spectra cannot exhaust memory.
  const size_t width = static_cast<size_t>(plan_->spectrum_length);
  const size_t block = std::max<size_t>(1, (size_t{1} << 20) / width);
  const bool positional = f.datacode % 100 == 17;
  std::vector<float> rows;
  for (size_t first = 0; first < gates; first += block) {
    const size_t count = std::min(block, gates - first);
    rows.assign(count * width, kFillValue);
    for (size_t g = first; g < first + count; ++g) {
      if (f.spectra_flag == 0 || static_cast<int64_t>(g) >= m.gate_count) {
        break;
      }
      const std::vector<float> line =
          spectrum_line(m.spectra_row(static_cast<int64_t>(g)), m.row_length,
                        f.windows, f.spectral_points, positional);
      std::copy_n(
          line.begin(), std::min(line.size(), width),
          rows.begin() + static_cast<std::ptrdiff_t>((g - first) * width));
    }
    const size_t starts[2] = {start + first, 0};
    const size_t counts[2] = {count, width};
    check(nc_put_vara_float(ncid_, var_spectra_, starts, counts, rows.data()),
          "writing spectra");
  }
}

}  // namespace qcomp
