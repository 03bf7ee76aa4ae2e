#include "companions/wind/csv.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "companions/common/csv_fields.h"
#include "companions/common/time_text.h"

namespace quellmar::companions {

std::string wind_csv(const std::vector<ModeProfiles>& modes) {
  std::set<int32_t> beam_numbers;
  for (const ModeProfiles& m : modes) {
    for (const ModeBeam& b : m.beams) beam_numbers.insert(b.beam);
  }
  std::string out = "time,mode,height_m,u,v,w,speed,direction,residual";
  for (int32_t b : beam_numbers) {
    out += ",beam" + std::to_string(b) + "_used,beam" + std::to_string(b) +
           "_available";
  }
  out += '\n';

  // (period start, mode index, period index): modes share the period grid.
  std::vector<std::tuple<int64_t, size_t, size_t>> rows;
  for (size_t mi = 0; mi < modes.size(); ++mi) {
    for (size_t p = 0; p < modes[mi].periods.size(); ++p) {
      rows.emplace_back(modes[mi].periods[p].start, mi, p);
    }
  }
  std::sort(rows.begin(), rows.end());

  for (const auto& [start, mi, p] : rows) {
    const ModeProfiles& m = modes[mi];
    const std::string stamp =
        iso_time(static_cast<int64_t>(std::floor(m.periods[p].centre())));
    const std::string mode = std::to_string(m.mode);
    for (size_t h = 0; h < m.height.size(); ++h) {
      const size_t at = m.level(p, h);
      out += stamp;
      out += ',';
      out += mode;
      csv_number(&out, "%.1f", m.height[h]);
      csv_number(&out, "%.3f", m.u[at]);
      csv_number(&out, "%.3f", m.v[at]);
      csv_number(&out, "%.3f", m.w[at]);
      csv_number(&out, "%.3f", m.speed[at]);
      // A direction that rounds to 360.0 is written as 0.0.
      const float from = m.direction[at];
      csv_number(&out, "%.1f", std::round(from * 10.0) >= 3600.0 ? 0.0 : from);
      csv_number(&out, "%.3f", m.residual[at]);
      size_t b = 0;
      for (int32_t number : beam_numbers) {
        while (b < m.beams.size() && m.beams[b].beam < number) ++b;
        const int32_t gate = b < m.beams.size() && m.beams[b].beam == number
                                 ? m.nearest_gate[b * m.height.size() + h]
                                 : -1;
        if (gate < 0) {
          out += ",,";
          continue;
        }
        const size_t cell = m.cell(p, b, static_cast<size_t>(gate));
        csv_count(&out, m.n_used[cell]);
        csv_count(&out, m.n_available[cell]);
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace quellmar::companions
