#include "methods/netcdf/rass_file.h"

#include <netcdf.h>

#include "methods/csv/rass_csv.h"
#include "methods/pairs/name_text.h"

namespace quellmar::companions {

namespace {

void write_root(Group& root, const RassReport& r,
                const std::vector<RassProfiles>& modes) {
  const RassMethod& method = r.method;
  const std::string site = utf8_of_latin1(r.site_name);
  root.text(NC_GLOBAL, "Conventions", "CF-1.8");
  root.text(NC_GLOBAL, "featureType", "timeSeriesProfile");
  root.text(NC_GLOBAL, "title", "RASS virtual temperatures of " + site);
  root.text(NC_GLOBAL, "source",
            "acoustic velocities of the RASS dwells of radar wind profiler "
            "file pairs: unfolded by continuity with the gate below and a "
            "first guess, corrected for the air's motion along the beam, "
            "consensus averaging per gate");
  root.text(NC_GLOBAL, "history", "computed by quellmar-rass");
  root.integer(NC_GLOBAL, "period_minutes", method.period_minutes);
  root.number(NC_GLOBAL, "consensus_window_k", method.consensus.window);
  root.number(NC_GLOBAL, "min_fraction", method.consensus.min_fraction);
  root.integer(NC_GLOBAL, "acoustic_set", acoustic_set_taken(modes));
  root.text(NC_GLOBAL, "acoustic_set_choice",
            method.acoustic_set == kAcousticSetAuto ? "auto" : "given");
  root.number(NC_GLOBAL, "sound_offset_m_s", method.sound_offset_m_s);
  root.number(NC_GLOBAL, "first_guess_deg_c", method.first_guess_c);
  if (!r.first_guess_file.empty()) {
    root.text(NC_GLOBAL, "first_guess_file", r.first_guess_file);
  }
  root.text(NC_GLOBAL, "precipitation_w",
            method.rain_w == RainW::kMissing ? "missing" : "uncorrected");
  root.number(NC_GLOBAL, "lapse_rate_k_per_km", method.lapse_rate_k_per_km);
  root.text(NC_GLOBAL, "w_correction", method.w_correction ? "yes" : "no");
  root.text(NC_GLOBAL, "velocity_sign",
            method.velocity_toward ? "toward" : "away");
  root.integer(NC_GLOBAL, "radar", r.radar);
  quality_attributes(root, method.quality, "k");
  root.text(NC_GLOBAL, "input_files", joined(r.input_files));
  root.text(NC_GLOBAL, "site_name", site);
  position_attributes(root, r.position);
  std::vector<std::string> numbers;
  for (const RassProfiles& m : modes) numbers.push_back(std::to_string(m.mode));
  root.text(NC_GLOBAL, "modes", joined(numbers));
  position_variables(root, r.position);
}

void write_mode(Group& g, const RassProfiles& m) {
  g.integer(NC_GLOBAL, "operating_mode", m.mode);
  g.integer(NC_GLOBAL, "rass_beam", m.beam);
  g.number(NC_GLOBAL, "beam_azimuth", m.azimuth_deg);
  g.number(NC_GLOBAL, "beam_elevation", m.elevation_deg);
  const int time = g.dim("time", m.periods.size());
  const int height = g.dim("height", m.height.size());
  const int nv = g.dim("nv", 2);
  const TimeAxis axis = define_time(g, time, nv);
  const int v_height = define_height(g, height);

  const struct {
    const char* name;
    const char* long_name;
    const char* standard_name;
    const char* units;
    const std::vector<float>* values;
  } profiles[] = {
      {"virtual_temperature",
       "virtual temperature, corrected for vertical air motion",
       "virtual_temperature", "K", &m.tv},
      {"virtual_temperature_uncorrected",
       "virtual temperature without the vertical air motion correction", "",
       "K", &m.tv_uncorrected},
      {"upward_air_velocity", "vertical air velocity used for the correction",
       "upward_air_velocity", "m s-1", &m.w},
      {"virtual_temperature_spread",
       "highest less lowest virtual temperature of the consensus set", "", "K",
       &m.spread},
      {"stored_auxiliary",
       "mean auxiliary value of the second moment set of the consensus set", "",
       "", &m.auxiliary},
  };
  std::vector<int> ids;
  for (const auto& p : profiles) {
    const int v = g.var(p.name, NC_FLOAT, {time, height});
    g.describe(v, p.long_name, p.standard_name, p.units);
    g.fill(v);
    g.text(v, "coordinates", "time height");
    ids.push_back(v);
  }
  g.text(ids[0], "ancillary_variables", "virtual_temperature_flag");
  const int v_flag =
      define_quality_flag(g, "virtual_temperature_flag", profiles[0].long_name,
                          profiles[0].standard_name, {time, height});
  g.text(ids[4], "comment",
         "units as stored by the on-site processor (the stored value / 10), "
         "often its own temperature; not converted");
  const int v_source =
      g.var("upward_air_velocity_source", NC_BYTE, {time, height});
  g.describe(v_source, "where the w of the correction came from", "", "");
  const std::vector<signed char> flags = {
      kWNone,  kWSameDwell,     kWWindMode,
      kWMixed, kWPrecipitation, kWPrecipitationMissing};
  nc_check(nc_put_att_schar(g.id(), v_source, "flag_values", NC_BYTE,
                            flags.size(), flags.data()),
           "attribute flag_values");
  std::string meanings;
  for (signed char f : flags) {
    if (!meanings.empty()) meanings += ' ';
    meanings += w_source_name(f);
  }
  g.text(v_source, "flag_meanings", meanings);
  const struct {
    const char* name;
    const char* long_name;
    const std::vector<int32_t>* values;
  } counts[] = {
      {"n_used", "dwells in the accepted consensus (0: none accepted)",
       &m.n_used},
      {"n_available", "RASS dwells of the period holding the gate",
       &m.n_available},
      {"n_ambiguous", "dwells whose unfolding was ambiguous (left out)",
       &m.n_ambiguous},
  };
  std::vector<int> count_ids;
  for (const auto& c : counts) {
    const int v = g.var(c.name, NC_INT, {time, height});
    g.describe(v, c.long_name, "", "1");
    count_ids.push_back(v);
  }

  const int v_set = g.var("acoustic_set", NC_BYTE, {time});
  g.describe(v_set, "the moment set that held the sound pulse", "", "");
  g.text(v_set, "comment", "0: no set gave a temperature in the period");
  const int v_first = g.var("first_gate_ambiguous", NC_BYTE, {time});
  g.describe(v_first,
             "the profile's first gate could not be unfolded by the first "
             "guess (its temperatures are flagged suspect)",
             "", "");
  const std::vector<signed char> yes_no = {0, 1};
  nc_check(nc_put_att_schar(g.id(), v_first, "flag_values", NC_BYTE,
                            yes_no.size(), yes_no.data()),
           "attribute flag_values");
  g.text(v_first, "flag_meanings", "no yes");

  put_time(g, axis, m.periods);
  g.put(v_set,
        std::vector<signed char>(m.acoustic_set.begin(), m.acoustic_set.end()));
  g.put(v_first, std::vector<signed char>(m.first_gate_ambiguous.begin(),
                                          m.first_gate_ambiguous.end()));
  put_height(g, v_height, m.height);
  for (size_t i = 0; i < ids.size(); ++i) {
    g.put(ids[i], filled(*profiles[i].values));
  }
  g.put(v_source, m.w_source);
  g.put(v_flag, std::vector<signed char>(m.tv_flag.begin(), m.tv_flag.end()));
  for (size_t i = 0; i < count_ids.size(); ++i) {
    g.put(count_ids[i], *counts[i].values);
  }
}

}  // namespace

int32_t acoustic_set_taken(const std::vector<RassProfiles>& modes) {
  int64_t periods[3] = {0, 0, 0};
  for (const RassProfiles& m : modes) {
    for (uint8_t set : m.acoustic_set) {
      if (set == 1 || set == 2) ++periods[set];
    }
  }
  if (periods[1] == 0 && periods[2] == 0) return 0;
  return periods[2] > periods[1] ? 2 : 1;
}

void write_rass_netcdf(const std::string& path, const RassReport& report,
                       const std::vector<RassProfiles>& modes) {
  int ncid = -1;
  nc_check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), path);
  try {
    Group root(ncid);
    write_root(root, report, modes);
    for (const RassProfiles& m : modes) {
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
