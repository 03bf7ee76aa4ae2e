#include "companions/wind/netcdf.h"

#include <netcdf.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "companions/common/name_text.h"

namespace quellmar::companions {

namespace {

void write_root(Group& root, const WindReport& r,
                const std::vector<ModeProfiles>& modes) {
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
  if (r.method.consensus.min_snr) {
    root.number(NC_GLOBAL, "min_snr_db", *r.method.consensus.min_snr);
  } else {
    root.text(NC_GLOBAL, "min_snr_db", "none");
  }
  root.number(NC_GLOBAL, "azimuth_offset_deg", r.method.azimuth_offset_deg);
  root.text(NC_GLOBAL, "velocity_sign",
            r.method.velocity_toward ? "toward" : "away");
  root.integer(NC_GLOBAL, "radar", r.radar);
  root.text(NC_GLOBAL, "input_files", joined(r.input_files));
  root.text(NC_GLOBAL, "site_name", site);
  const SitePosition position{r.latitude, r.longitude, r.altitude};
  position_attributes(root, position);
  std::vector<std::string> numbers;
  for (const ModeProfiles& m : modes) numbers.push_back(std::to_string(m.mode));
  root.text(NC_GLOBAL, "modes", joined(numbers));

  position_variables(root, position);
}

void write_mode(Group& g, const ModeProfiles& m) {
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

  const struct {
    const char* name;
    const char* long_name;
    const char* standard_name;
    const char* units;
    const std::vector<float>* values;
  } profiles[] = {
      {"eastward_wind", "eastward wind (u)", "eastward_wind", "m s-1", &m.u},
      {"northward_wind", "northward wind (v)", "northward_wind", "m s-1", &m.v},
      {"upward_air_velocity", "upward air velocity (w)", "upward_air_velocity",
       "m s-1", &m.w},
      {"wind_speed", "horizontal wind speed", "wind_speed", "m s-1", &m.speed},
      {"wind_from_direction", "direction the wind blows from",
       "wind_from_direction", "degree", &m.direction},
      {"fit_residual", "RMS residual of the beam-swinging fit", "", "m s-1",
       &m.residual},
  };
  std::vector<int> profile_ids;
  for (const auto& p : profiles) {
    const int v = g.var(p.name, NC_FLOAT, {time, height});
    g.describe(v, p.long_name, p.standard_name, p.units);
    g.fill(v);
    g.text(v, "coordinates", "time height");
    profile_ids.push_back(v);
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
  const int v_rv = g.var("radial_velocity", NC_FLOAT, {time, beam, gate});
  g.describe(v_rv, "consensus radial velocity, sign as stored", "", "m s-1");
  g.fill(v_rv);
  const int v_used = g.var("n_used", NC_INT, {time, beam, gate});
  g.describe(v_used, "values in the accepted consensus (0: none accepted)", "",
             "1");
  const int v_avail = g.var("n_available", NC_INT, {time, beam, gate});
  g.describe(v_avail, "records of the beam in the period holding the gate", "",
             "1");
  const int v_snr = g.var("mean_snr", NC_FLOAT, {time, beam, gate});
  g.describe(v_snr, "mean signal-to-noise ratio of the consensus values", "",
             "dB");
  g.fill(v_snr);

  std::vector<PeriodBounds> bounds;
  for (const Period& p : m.periods) {
    bounds.push_back(
        {static_cast<double>(p.start), static_cast<double>(p.end)});
  }
  put_time(g, axis, bounds);
  std::vector<float> heights;
  for (double h : m.height) heights.push_back(static_cast<float>(h));
  g.put(v_height, filled(heights));
  for (size_t i = 0; i < profile_ids.size(); ++i) {
    g.put(profile_ids[i], filled(*profiles[i].values));
  }
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
  g.put(v_rv, filled(m.radial_velocity));
  g.put(v_used, m.n_used);
  g.put(v_avail, m.n_available);
  g.put(v_snr, filled(m.mean_snr));
}

}  // namespace

void write_wind_netcdf(const std::string& path, const WindReport& report,
                       const std::vector<ModeProfiles>& modes) {
  int ncid = -1;
  nc_check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), path);
  try {
    Group root(ncid);
    write_root(root, report, modes);
    for (const ModeProfiles& m : modes) {
      int gid = -1;
      const std::string name = "mode_" + std::to_string(m.mode);
      nc_check(nc_def_grp(ncid, name.c_str(), &gid), "group " + name);
      Group group(gid);
      write_mode(group, m);
    }
  } catch (...) {
    nc_close(ncid);
    throw;
  }
  nc_check(nc_close(ncid), path);
}

}  // namespace quellmar::companions
