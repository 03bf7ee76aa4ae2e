#include "methods/csv/wind_csv.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "methods/csv/csv_fields.h"
#include "methods/pairs/time_text.h"

namespace quellmar::companions {

namespace {

// One period of a mode out of the whole-run arrays.
PeriodProfiles period_of_mode(const ModeProfiles& m, size_t p) {
  PeriodProfiles out;
  out.period = p;
  const size_t nh = m.height.size();
  const auto levels = [&](const std::vector<float>& all) {
    return std::vector<float>(
        all.begin() + static_cast<ptrdiff_t>(p * nh),
        all.begin() + static_cast<ptrdiff_t>(p * nh + nh));
  };
  out.u = levels(m.u);
  out.v = levels(m.v);
  out.w = levels(m.w);
  out.speed = levels(m.speed);
  out.direction = levels(m.direction);
  out.residual = levels(m.residual);
  const size_t cells = m.beams.size() * static_cast<size_t>(m.max_gates);
  const auto first = static_cast<ptrdiff_t>(p * cells);
  const auto last = static_cast<ptrdiff_t>(p * cells + cells);
  out.n_used.assign(m.n_used.begin() + first, m.n_used.begin() + last);
  out.n_available.assign(m.n_available.begin() + first,
                         m.n_available.begin() + last);
  return out;
}

}  // namespace

std::set<int32_t> csv_beam_numbers(const std::vector<ModeProfiles>& modes) {
  std::set<int32_t> beam_numbers;
  for (const ModeProfiles& m : modes) {
    for (const ModeBeam& b : m.beams) beam_numbers.insert(b.beam);
  }
  return beam_numbers;
}

std::string wind_csv_header(const std::set<int32_t>& beam_numbers) {
  std::string out = "time,mode,height_m,u,v,w,speed,direction,residual";
  for (int32_t b : beam_numbers) {
    out += ",beam" + std::to_string(b) + "_used,beam" + std::to_string(b) +
           "_available";
  }
  out += ",u_flag,v_flag,w_flag\n";
  return out;
}

void append_wind_csv_rows(const std::set<int32_t>& beam_numbers,
                          const ModeProfiles& m, const PeriodProfiles& p,
                          const uint8_t* u_flag, const uint8_t* v_flag,
                          const uint8_t* w_flag, std::string* out) {
  const std::string stamp =
      iso_time(static_cast<int64_t>(std::floor(m.periods[p.period].centre())));
  const std::string mode = std::to_string(m.mode);
  const size_t gates = static_cast<size_t>(m.max_gates);
  for (size_t h = 0; h < m.height.size(); ++h) {
    *out += stamp;
    *out += ',';
    *out += mode;
    csv_number(out, "%.1f", m.height[h]);
    csv_number(out, "%.3f", p.u[h]);
    csv_number(out, "%.3f", p.v[h]);
    csv_number(out, "%.3f", p.w[h]);
    csv_number(out, "%.3f", p.speed[h]);
    // A direction that rounds to 360.0 is written as 0.0.
    const float from = p.direction[h];
    csv_number(out, "%.1f", std::round(from * 10.0) >= 3600.0 ? 0.0 : from);
    csv_number(out, "%.3f", p.residual[h]);
    size_t b = 0;
    for (int32_t number : beam_numbers) {
      while (b < m.beams.size() && m.beams[b].beam < number) ++b;
      const int32_t gate = b < m.beams.size() && m.beams[b].beam == number
                               ? m.nearest_gate[b * m.height.size() + h]
                               : -1;
      if (gate < 0) {
        *out += ",,";
        continue;
      }
      const size_t cell = b * gates + static_cast<size_t>(gate);
      csv_count(out, p.n_used[cell]);
      csv_count(out, p.n_available[cell]);
    }
    for (const uint8_t* flags : {u_flag, v_flag, w_flag})
      csv_count(out, flags[h]);
    *out += '\n';
  }
}

std::string wind_csv(const std::vector<ModeProfiles>& modes) {
  const std::set<int32_t> beam_numbers = csv_beam_numbers(modes);
  std::string out = wind_csv_header(beam_numbers);
  for (const auto& [start, mi, p] : table_order(modes)) {
    const ModeProfiles& m = modes[mi];
    const size_t at = p * m.height.size();
    append_wind_csv_rows(beam_numbers, m, period_of_mode(m, p),
                         m.u_flag.data() + at, m.v_flag.data() + at,
                         m.w_flag.data() + at, &out);
  }
  return out;
}

}  // namespace quellmar::companions
