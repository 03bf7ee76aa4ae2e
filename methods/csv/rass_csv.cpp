#include "methods/csv/rass_csv.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "methods/csv/csv_fields.h"
#include "methods/pairs/time_text.h"

namespace quellmar::companions {

const char* w_source_name(signed char source) {
  switch (source) {
    case kWSameDwell:
      return "same_dwell";
    case kWWindMode:
      return "wind_mode";
    case kWMixed:
      return "mixed";
    case kWPrecipitation:
      return "precipitation_uncorrected";
    case kWPrecipitationMissing:
      return "precipitation_missing";
    default:
      return "none";
  }
}

std::string rass_csv(const std::vector<RassProfiles>& modes) {
  std::string out =
      "time,mode,height_m,tv_k,tv_uncorrected_k,w_m_s,w_source,spread_k,"
      "stored_auxiliary,n_used,n_available,n_ambiguous,tv_flag\n";
  for (const auto& [start, mi, p] : table_order(modes)) {
    const RassProfiles& m = modes[mi];
    const std::string stamp =
        iso_time(static_cast<int64_t>(std::floor(m.periods[p].centre())));
    const std::string mode = std::to_string(m.mode);
    for (size_t h = 0; h < m.height.size(); ++h) {
      const size_t at = m.level(p, h);
      out += stamp;
      out += ',';
      out += mode;
      csv_number(&out, "%.1f", m.height[h]);
      csv_number(&out, "%.2f", m.tv[at]);
      csv_number(&out, "%.2f", m.tv_uncorrected[at]);
      csv_number(&out, "%.3f", m.w[at]);
      out += ',';
      if (!std::isnan(m.tv[at])) out += w_source_name(m.w_source[at]);
      csv_number(&out, "%.2f", m.spread[at]);
      csv_number(&out, "%.1f", m.auxiliary[at]);
      csv_count(&out, m.n_used[at]);
      csv_count(&out, m.n_available[at]);
      csv_count(&out, m.n_ambiguous[at]);
      csv_count(&out, m.tv_flag[at]);
      out += '\n';
    }
  }
  return out;
}

}  // namespace quellmar::companions
