#include "methods/netcdf/wind_file.h"

#include <netcdf.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "methods/pairs/name_text.h"

namespace quellmar::companions {

namespace {

void write_root(Group& root, const WindReport& r,
                const std::vector<ModeProfiles>& modes) {
  const std::optional<ContinuityRule>& qc = r.method.quality;
  const std::string site = utf8_of_latin1(r.site_name);
  root.text(NC_GLOBAL, "Conventions", "CF-1.8");
  root.text(NC_GLOBAL, "featureType", "timeSeriesProfile");
  root.text(NC_GLOBAL, "title", "Radar wind profiler winds of " + site);
  root.text(NC_GLOBAL, "source",
            "radial velocities of radar wind profiler file pairs: consensus "
            "averaging per beam and gate, beam swinging by least squares");
  root.text(NC_GLOBAL, "history", "computed by quellmar-wind");
  root.integer(NC_GLOBAL, "period_minutes", r.method.period_minutes);
  root.number(NC_GLOBAL, "consensus_window_m_s", r.method.consensus.window);
  root.number(NC_GLOBAL, "min_fraction", r.method.consensus.min_fraction);
  root.integer(NC_GLOBAL, "min_count", r.method.consensus.min_count);
  root.text(NC_GLOBAL, "unfolding", r.method.unfold ? "continuity" : "none");
  root.text(NC_GLOBAL, "assume_w_zero", r.method.assume_w_zero ? "yes" : "no");
  root.number(NC_GLOBAL, "rain_fall_speed_m_s",
              r.method.precipitation.fall_speed_m_s);
  root.number(NC_GLOBAL, "rain_min_width_m_s",
              r.method.precipitation.min_width_m_s);
  if (r.method.consensus.min_snr) {
    root.number(NC_GLOBAL, "min_snr_db", *r.method.consensus.min_snr);
  } else {
    root.text(NC_GLOBAL, "min_snr_db", "none");
  }
  root.number(NC_GLOBAL, "azimuth_offset_deg", r.method.azimuth_offset_deg);
  root.text(NC_GLOBAL, "velocity_sign",
            r.method.velocity_toward ? "toward" : "away");
  root.integer(NC_GLOBAL, "radar", r.radar);
  quality_attributes(root, qc, "m_s");
  if (qc) {
    root.number(NC_GLOBAL, "qc_max_step_w_m_s", r.method.quality_w_step);
    root.number(NC_GLOBAL, "qc_layer_jump_m_s", qc->layer_jump);
  }
  root.text(NC_GLOBAL, "input_files", joined(r.input_files));
  root.text(NC_GLOBAL, "site_name", site);
  const SitePosition position{r.latitude, r.longitude, r.altitude};
  position_attributes(root, position);
  std::vector<std::string> numbers;
  for (const ModeProfiles& m : modes) numbers.push_back(std::to_string(m.mode));
  root.text(NC_GLOBAL, "modes", joined(numbers));

  position_variables(root, position);
}

struct DefinedMode {
  int u = -1, v = -1, w = -1, speed = -1, direction = -1, residual = -1;
  int radial_velocity = -1, n_used = -1, n_available = -1, mean_snr = -1;
  int u_flag = -1, v_flag = -1, w_flag = -1;
  int method_flag = -1, gate_flag = -1;
};

// A byte variable of flag bits.
int define_mask_flag(Group& g, const char* name, const char* long_name,
                     std::initializer_list<int> dims, const char* coordinates,
                     std::initializer_list<signed char> masks,
                     const char* meanings) {
  const int id = g.var(name, NC_BYTE, dims);
  g.text(id, "long_name", long_name);
  const std::vector<signed char> m(masks);
  nc_check(
      nc_put_att_schar(g.id(), id, "flag_masks", NC_BYTE, m.size(), m.data()),
      "attribute flag_masks");
  g.text(id, "flag_meanings", meanings);
  g.text(id, "coordinates", coordinates);
  return id;
}

// Defines a mode's group and writes its coordinates and beams; the values
// come period by period.
DefinedMode define_mode(Group& g, const ModeProfiles& m) {
  const size_t nt = m.periods.size(), nh = m.height.size();
  const size_t nb = m.beams.size(), ng = static_cast<size_t>(m.max_gates);
  g.integer(NC_GLOBAL, "operating_mode", m.mode);
  g.integer(NC_GLOBAL, "grid_beam",
            m.beams[static_cast<size_t>(m.reference_beam)].beam);
  const int time = g.dim("time", nt);
  const int height = g.dim("height", nh);
  const int nv = g.dim("nv", 2);
  const int beam = g.dim("beam", nb);
  const int gate = g.dim("gate", ng);

  const TimeAxis axis = define_time(g, time, nv);
  const int v_height = define_height(g, height);

  DefinedMode d;
  const struct {
    const char* name;
    const char* long_name;
    const char* standard_name;
    const char* units;
    int* id;
    const char* flag;  // its flag variable, or nullptr
    int* flag_id;
  } profiles[] = {
      {"eastward_wind", "eastward wind (u)", "eastward_wind", "m s-1", &d.u,
       "eastward_wind_flag", &d.u_flag},
      {"northward_wind", "northward wind (v)", "northward_wind", "m s-1", &d.v,
       "northward_wind_flag", &d.v_flag},
      {"upward_air_velocity", "upward air velocity (w)", "upward_air_velocity",
       "m s-1", &d.w, "upward_air_velocity_flag", &d.w_flag},
      {"wind_speed", "horizontal wind speed", "wind_speed", "m s-1", &d.speed,
       nullptr, nullptr},
      {"wind_from_direction", "direction the wind blows from",
       "wind_from_direction", "degree", &d.direction, nullptr, nullptr},
      {"fit_residual", "RMS residual of the beam-swinging fit", "", "m s-1",
       &d.residual, nullptr, nullptr},
  };
  for (const auto& p : profiles) {
    *p.id = g.var(p.name, NC_FLOAT, {time, height});
    g.describe(*p.id, p.long_name, p.standard_name, p.units);
    g.fill(*p.id);
    g.text(*p.id, "coordinates", "time height");
    if (p.flag != nullptr) g.text(*p.id, "ancillary_variables", p.flag);
  }
  for (const auto& p : profiles) {
    if (p.flag == nullptr) continue;
    *p.flag_id = define_quality_flag(g, p.flag, p.long_name, p.standard_name,
                                     {time, height});
  }

  const int v_beam = g.var("beam", NC_INT, {beam});
  g.describe(v_beam, "beam number", "", "");
  const int v_az = g.var("beam_azimuth", NC_FLOAT, {beam});
  g.describe(v_az, "beam azimuth, clockwise from north, offset applied", "",
             "degree");
  const int v_el = g.var("beam_elevation", NC_FLOAT, {beam});
  g.describe(v_el, "beam elevation above the horizon", "", "degree");
  const int v_gh = g.var("gate_height", NC_FLOAT, {beam, gate});
  g.describe(v_gh, "height of the gate centre above the radar", "", "m");
  g.fill(v_gh);
  d.radial_velocity = g.var("radial_velocity", NC_FLOAT, {time, beam, gate});
  g.describe(d.radial_velocity, "consensus radial velocity, sign as stored", "",
             "m s-1");
  g.fill(d.radial_velocity);
  d.n_used = g.var("n_used", NC_INT, {time, beam, gate});
  g.describe(d.n_used, "values in the accepted consensus (0: none accepted)",
             "", "1");
  d.n_available = g.var("n_available", NC_INT, {time, beam, gate});
  g.describe(d.n_available,
             "records of the beam in the period holding the gate", "", "1");
  d.mean_snr = g.var("mean_snr", NC_FLOAT, {time, beam, gate});
  g.describe(d.mean_snr, "mean signal-to-noise ratio of the consensus values",
             "", "dB");
  g.fill(d.mean_snr);
  d.method_flag = define_mask_flag(
      g, "wind_method_flag", "how u, v and w were found (0: every beam fitted)",
      {time, height}, "time height", {1, 2, 4, 8},
      "w_precipitation u_v_from_oblique_beams w_assumed_zero unfolded");
  d.gate_flag = define_mask_flag(g, "radial_velocity_flag",
                                 "what the method found at the gate",
                                 {time, beam, gate}, "time", {1, 2, 4},
                                 "precipitation unfolded unfolding_gave_up");

  put_time(g, axis, m.periods);
  put_height(g, v_height, m.height);
  std::vector<int> numbers;
  std::vector<float> azimuths, elevations;
  std::vector<float> gate_heights(nb * ng,
                                  std::numeric_limits<float>::quiet_NaN());
  for (size_t b = 0; b < nb; ++b) {
    numbers.push_back(m.beams[b].beam);
    azimuths.push_back(static_cast<float>(m.beams[b].azimuth_deg));
    elevations.push_back(static_cast<float>(m.beams[b].elevation_deg));
    for (size_t k = 0; k < m.beams[b].gate_height.size(); ++k) {
      gate_heights[b * ng + k] = static_cast<float>(m.beams[b].gate_height[k]);
    }
  }
  g.put(v_beam, numbers);
  g.put(v_az, azimuths);
  g.put(v_el, elevations);
  g.put(v_gh, filled(gate_heights));
  return d;
}

// Row `row` of a time x a (x b) variable.
void put_row(int group, int var, size_t row, size_t a, size_t b,
             const std::vector<float>& values) {
  if (values.empty()) return;
  std::vector<float> out = filled(values);
  const size_t start[3] = {row, 0, 0};
  const size_t count[3] = {1, a, b};
  nc_check(nc_put_vara_float(group, var, start, count, out.data()), "values");
}
void put_row(int group, int var, size_t row, size_t a, size_t b,
             const std::vector<int32_t>& values) {
  if (values.empty()) return;
  const size_t start[3] = {row, 0, 0};
  const size_t count[3] = {1, a, b};
  nc_check(nc_put_vara_int(group, var, start, count, values.data()), "values");
}
void put_bytes(int group, int var, size_t row, size_t a, size_t b,
               const std::vector<uint8_t>& values) {
  if (values.empty() || var < 0) return;
  const std::vector<signed char> out(values.begin(), values.end());
  const size_t start[3] = {row, 0, 0};
  const size_t count[3] = {1, a, b};
  nc_check(nc_put_vara_schar(group, var, start, count, out.data()), "flags");
}
std::vector<float> get_row(int group, int var, size_t row, size_t a, size_t b) {
  std::vector<float> out(a * (b == 0 ? 1 : b));
  if (out.empty()) return out;
  const size_t start[3] = {row, 0, 0};
  const size_t count[3] = {1, a, b};
  nc_check(nc_get_vara_float(group, var, start, count, out.data()), "values");
  for (float& v : out) {
    if (v == kWindFill) v = std::numeric_limits<float>::quiet_NaN();
  }
  return out;
}
std::vector<int32_t> get_counts(int group, int var, size_t row, size_t a,
                                size_t b) {
  std::vector<int32_t> out(a * b);
  if (out.empty()) return out;
  const size_t start[3] = {row, 0, 0};
  const size_t count[3] = {1, a, b};
  nc_check(nc_get_vara_int(group, var, start, count, out.data()), "values");
  return out;
}

}  // namespace

WindNetcdf::WindNetcdf(const std::string& path, const WindReport& report,
                       const std::vector<ModeProfiles>& layouts)
    : path_(path) {
  nc_check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_), path);
  try {
    Group root(ncid_);
    write_root(root, report, layouts);
    for (const ModeProfiles& m : layouts) {
      int gid = -1;
      const std::string name = "mode_" + std::to_string(m.mode);
      nc_check(nc_def_grp(ncid_, name.c_str(), &gid), "group " + name);
      Group group(gid);
      const DefinedMode d = define_mode(group, m);
      ModeIds ids;
      ids.group = gid;
      ids.heights = m.height.size();
      ids.beams = m.beams.size();
      ids.gates = static_cast<size_t>(m.max_gates);
      ids.u = d.u;
      ids.v = d.v;
      ids.w = d.w;
      ids.speed = d.speed;
      ids.direction = d.direction;
      ids.residual = d.residual;
      ids.radial_velocity = d.radial_velocity;
      ids.n_used = d.n_used;
      ids.n_available = d.n_available;
      ids.mean_snr = d.mean_snr;
      ids.u_flag = d.u_flag;
      ids.v_flag = d.v_flag;
      ids.w_flag = d.w_flag;
      ids.method_flag = d.method_flag;
      ids.gate_flag = d.gate_flag;
      modes_.push_back(ids);
    }
  } catch (...) {
    nc_close(ncid_);
    ncid_ = -1;
    throw;
  }
}

WindNetcdf::WindNetcdf(const std::string& path,
                       const std::vector<ModeProfiles>& layouts)
    : path_(path) {
  nc_check(nc_open(path.c_str(), NC_NOWRITE, &ncid_), path);
  try {
    for (const ModeProfiles& m : layouts) {
      ModeIds ids;
      const std::string name = "mode_" + std::to_string(m.mode);
      nc_check(nc_inq_grp_ncid(ncid_, name.c_str(), &ids.group),
               "group " + name);
      ids.heights = m.height.size();
      ids.beams = m.beams.size();
      ids.gates = static_cast<size_t>(m.max_gates);
      const std::pair<const char*, int*> vars[] = {
          {"eastward_wind", &ids.u},
          {"northward_wind", &ids.v},
          {"upward_air_velocity", &ids.w},
          {"wind_speed", &ids.speed},
          {"wind_from_direction", &ids.direction},
          {"fit_residual", &ids.residual},
          {"n_used", &ids.n_used},
          {"n_available", &ids.n_available}};
      for (const auto& [var, id] : vars) {
        nc_check(nc_inq_varid(ids.group, var, id), var);
      }
      modes_.push_back(ids);
    }
  } catch (...) {
    nc_close(ncid_);
    ncid_ = -1;
    throw;
  }
}

WindNetcdf::~WindNetcdf() {
  if (ncid_ >= 0) nc_close(ncid_);
}

void WindNetcdf::put(size_t mi, const PeriodProfiles& p) {
  const ModeIds& d = modes_[mi];
  const size_t row = p.period;
  for (const auto& [var, values] :
       {std::pair{d.u, &p.u}, std::pair{d.v, &p.v}, std::pair{d.w, &p.w},
        std::pair{d.speed, &p.speed}, std::pair{d.direction, &p.direction},
        std::pair{d.residual, &p.residual}}) {
    put_row(d.group, var, row, d.heights, 1, *values);
  }
  put_row(d.group, d.radial_velocity, row, d.beams, d.gates, p.radial_velocity);
  put_row(d.group, d.n_used, row, d.beams, d.gates, p.n_used);
  put_row(d.group, d.n_available, row, d.beams, d.gates, p.n_available);
  put_row(d.group, d.mean_snr, row, d.beams, d.gates, p.mean_snr);
  put_bytes(d.group, d.method_flag, row, d.heights, 1, p.method_flag);
  put_bytes(d.group, d.gate_flag, row, d.beams, d.gates, p.gate_flag);
}

void WindNetcdf::put_flags(size_t mi, const std::vector<uint8_t>& u_flag,
                           const std::vector<uint8_t>& v_flag,
                           const std::vector<uint8_t>& w_flag) {
  const ModeIds& d = modes_[mi];
  for (const auto& [var, flags] :
       {std::pair{d.u_flag, &u_flag}, std::pair{d.v_flag, &v_flag},
        std::pair{d.w_flag, &w_flag}}) {
    if (flags->empty()) continue;
    const std::vector<signed char> bytes(flags->begin(), flags->end());
    nc_check(nc_put_var_schar(d.group, var, bytes.data()), "flags");
  }
}

PeriodProfiles WindNetcdf::get(size_t mi, size_t period) const {
  const ModeIds& d = modes_[mi];
  PeriodProfiles p;
  p.period = period;
  p.u = get_row(d.group, d.u, period, d.heights, 1);
  p.v = get_row(d.group, d.v, period, d.heights, 1);
  p.w = get_row(d.group, d.w, period, d.heights, 1);
  p.speed = get_row(d.group, d.speed, period, d.heights, 1);
  p.direction = get_row(d.group, d.direction, period, d.heights, 1);
  p.residual = get_row(d.group, d.residual, period, d.heights, 1);
  p.n_used = get_counts(d.group, d.n_used, period, d.beams, d.gates);
  p.n_available = get_counts(d.group, d.n_available, period, d.beams, d.gates);
  return p;
}

void WindNetcdf::close() {
  const int id = ncid_;
  ncid_ = -1;
  nc_check(nc_close(id), path_);
}

}  // namespace quellmar::companions
