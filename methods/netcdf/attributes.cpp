#include "methods/netcdf/attributes.h"

#include "methods/pairs/name_text.h"
#include "methods/pairs/time_text.h"

namespace quellmar::companions {

GlobalAttributes global_attributes(const PairInput& input, const NcPlan& plan) {
  const ParameterBlock& b = input.first_block;
  const std::string site = name_text(b.site_name, sizeof b.site_name);
  const std::string header_name = input.header_path.substr(input.prefix.size());
  GlobalAttributes g;
  g.text = {
      {"Conventions", "CF/Radial instrument_parameters"},
      {"version", "1.4"},
      {"title", "Radar wind profiler dwells of " + site},
      {"institution", ""},
      {"references", ""},
      {"source", "profiler file pair " +
                     name_text(input.name.c_str(), input.name.size()) + " / " +
                     name_text(header_name.c_str(), header_name.size())},
      {"history", "converted by quellmar-nc"},
      {"comment",
       "one ray per data record; moments in the variable-gates layout"},
      {"instrument_name", site},
      {"instrument_type", "radar"},
      {"platform_type", "fixed"},
      {"n_gates_vary", "true"},
      {"time_coverage_start", iso_time(plan.first_time)},
      {"time_coverage_end", iso_time(plan.last_time)},
      {"radar_name",
       name_text(b.radars[0].radar_name, sizeof b.radars[0].radar_name)},
  };
  g.site_values[0] = b.site_value_1;
  g.site_values[1] = b.site_value_2;
  g.site_values[2] = b.site_value_3;
  g.site_values[3] = b.site_value_4;
  return g;
}

TextAttributes field_description(const FieldSpec& f) {
  TextAttributes a;
  if (*f.long_name != '\0') a.emplace_back("long_name", f.long_name);
  if (*f.standard_name != '\0') {
    a.emplace_back("standard_name", f.standard_name);
  }
  if (*f.units != '\0') a.emplace_back("units", f.units);
  return a;
}

}  // namespace quellmar::companions
