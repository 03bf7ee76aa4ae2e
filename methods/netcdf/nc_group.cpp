#include "methods/netcdf/nc_group.h"

#include <cmath>
#include <limits>

namespace quellmar::companions {

namespace {
constexpr const char* kTimeUnits = "seconds since 1970-01-01 00:00:00";
}  // namespace

void nc_check(int status, const std::string& what) {
  if (status != NC_NOERR) {
    throw OutputFileError(what + ": " + nc_strerror(status));
  }
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += ", ";
    out += parts[i];
  }
  return out;
}

std::vector<float> filled(const std::vector<float>& values) {
  std::vector<float> out(values);
  for (float& v : out) {
    if (!std::isfinite(v)) v = kProfileFill;
  }
  return out;
}

int Group::dim(const char* name, size_t length) {
  int d = -1;
  nc_check(nc_def_dim(id_, name, length == 0 ? NC_UNLIMITED : length, &d),
           std::string("dimension ") + name);
  return d;
}

int Group::var(const char* name, nc_type type,
               std::initializer_list<int> dims) {
  int v = -1;
  const std::vector<int> d(dims);
  nc_check(
      nc_def_var(id_, name, type, static_cast<int>(d.size()), d.data(), &v),
      std::string("variable ") + name);
  return v;
}

void Group::text(int var, const char* name, const std::string& value) {
  nc_check(nc_put_att_text(id_, var, name, value.size(), value.c_str()),
           std::string("attribute ") + name);
}

void Group::number(int var, const char* name, double value) {
  nc_check(nc_put_att_double(id_, var, name, NC_DOUBLE, 1, &value),
           std::string("attribute ") + name);
}

void Group::integer(int var, const char* name, int value) {
  nc_check(nc_put_att_int(id_, var, name, NC_INT, 1, &value),
           std::string("attribute ") + name);
}

void Group::fill(int var) {
  const float f = kProfileFill;
  nc_check(nc_put_att_float(id_, var, "_FillValue", NC_FLOAT, 1, &f),
           "attribute _FillValue");
}

void Group::describe(int var, const char* long_name, const char* standard_name,
                     const char* units) {
  text(var, "long_name", long_name);
  if (*standard_name != '\0') text(var, "standard_name", standard_name);
  if (*units != '\0') text(var, "units", units);
}

void Group::put(int var, const std::vector<float>& v) {
  if (!v.empty()) nc_check(nc_put_var_float(id_, var, v.data()), "values");
}
void Group::put(int var, const std::vector<double>& v) {
  if (!v.empty()) nc_check(nc_put_var_double(id_, var, v.data()), "values");
}
void Group::put(int var, const std::vector<int>& v) {
  if (!v.empty()) nc_check(nc_put_var_int(id_, var, v.data()), "values");
}
void Group::put(int var, const std::vector<signed char>& v) {
  if (!v.empty()) nc_check(nc_put_var_schar(id_, var, v.data()), "values");
}

void position_attributes(Group& root, const SitePosition& p) {
  if (p.latitude) root.number(NC_GLOBAL, "latitude", *p.latitude);
  if (p.longitude) root.number(NC_GLOBAL, "longitude", *p.longitude);
  if (p.altitude) root.number(NC_GLOBAL, "altitude", *p.altitude);
}

void position_variables(Group& root, const SitePosition& p) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    const char* units;
    std::optional<double> value;
  } position[] = {{"latitude", "degrees_north", p.latitude},
                  {"longitude", "degrees_east", p.longitude},
                  {"altitude", "m", p.altitude}};
  int ids[3];
  for (int i = 0; i < 3; ++i) {
    ids[i] = root.var(position[i].name, NC_DOUBLE, {});
    root.describe(ids[i], position[i].name, position[i].name,
                  position[i].units);
    root.text(ids[i], "comment", "NaN when not given on the command line");
  }
  for (int i = 0; i < 3; ++i) {
    const double v = position[i].value.value_or(nan);
    nc_check(nc_put_var_double(root.id(), ids[i], &v), position[i].name);
  }
}

TimeAxis define_time(Group& g, int time_dim, int nv_dim) {
  TimeAxis axis;
  axis.time = g.var("time", NC_DOUBLE, {time_dim});
  g.describe(axis.time, "centre of the averaging period", "time", kTimeUnits);
  g.text(axis.time, "calendar", "standard");
  g.text(axis.time, "bounds", "time_bounds");
  g.text(axis.time, "axis", "T");
  axis.bounds = g.var("time_bounds", NC_DOUBLE, {time_dim, nv_dim});
  g.text(axis.bounds, "units", kTimeUnits);
  g.text(axis.bounds, "calendar", "standard");
  return axis;
}

void put_time(Group& g, const TimeAxis& axis,
              const std::vector<Period>& periods) {
  std::vector<double> centres, bounds;
  for (const Period& p : periods) {
    const double start = static_cast<double>(p.start);
    const double end = static_cast<double>(p.end);
    centres.push_back(0.5 * (start + end));
    bounds.push_back(start);
    bounds.push_back(end);
  }
  g.put(axis.time, centres);
  g.put(axis.bounds, bounds);
}

void put_height(Group& g, int height_var, const std::vector<double>& height_m) {
  std::vector<float> heights;
  for (double h : height_m) heights.push_back(static_cast<float>(h));
  g.put(height_var, filled(heights));
}

int define_height(Group& g, int height_dim) {
  const int v = g.var("height", NC_FLOAT, {height_dim});
  g.describe(v, "height above the radar", "height", "m");
  g.text(v, "positive", "up");
  g.text(v, "axis", "Z");
  return v;
}

int define_quality_flag(Group& g, const char* name, const char* of_long_name,
                        const char* of_standard_name,
                        std::initializer_list<int> dims) {
  const int id = g.var(name, NC_BYTE, dims);
  g.text(id, "long_name",
         std::string("quality flag of ") + of_long_name +
             " by the time-height continuity check");
  g.text(id, "standard_name", std::string(of_standard_name) + " status_flag");
  const signed char values[3] = {kFlagGood, kFlagSuspect, kFlagMissing};
  nc_check(nc_put_att_schar(g.id(), id, "flag_values", NC_BYTE, 3, values),
           "attribute flag_values");
  g.text(id, "flag_meanings", "good suspect missing");
  g.text(id, "coordinates", "time height");
  return id;
}

void quality_attributes(Group& root, const std::optional<ContinuityRule>& qc,
                        const char* step_units) {
  if (!qc) {
    root.text(NC_GLOBAL, "qc_method", "none");
    return;
  }
  root.text(NC_GLOBAL, "qc_method", "time-height continuity (patterns)");
  root.number(NC_GLOBAL, (std::string("qc_max_step_") + step_units).c_str(),
              qc->max_step);
  root.integer(NC_GLOBAL, "qc_min_pattern", qc->min_pattern);
  root.integer(NC_GLOBAL, "qc_periods", qc->periods);
  root.integer(NC_GLOBAL, "qc_heights", qc->heights);
}

}  // namespace quellmar::companions
