#include "companions/rass/input.h"

#include <algorithm>
#include <limits>
#include <map>

#include "companions/wind/fit.h"
#include "companions/wind/input.h"
#include "disk/pda.h"

namespace quellmar::companions {

namespace {

bool is_rass(const RecordFacts& f, int32_t radar) {
  return f.radar == radar && f.beam_described && f.gate_count > 0 &&
         f.spectral_points >= kRassSpectralPoints;
}

bool is_vertical_wind(const RecordFacts& f, int32_t radar) {
  return f.radar == radar && f.beam_described && f.gate_count > 0 &&
         f.spectral_points < kRassSpectralPoints &&
         beam_pointing(f.azimuth, f.elevation).vertical;
}

// n values of the array, or NaN for those it lacks.
void append(std::vector<float>* out, const std::vector<float>& values,
            bool present, int64_t n) {
  for (int64_t g = 0; g < n; ++g) {
    out->push_back(present && g < static_cast<int64_t>(values.size())
                       ? values[static_cast<size_t>(g)]
                       : std::numeric_limits<float>::quiet_NaN());
  }
}

void add_dwell(const RecordFacts& f, const MomentArrays& m,
               const RassMethod& method, RassSeries* s) {
  const int64_t gates =
      std::max<int64_t>(0, std::min({m.gate_count, int64_t{f.gate_count},
                                     static_cast<int64_t>(m.velocity.size())}));
  const bool second = f.second_set;
  const bool acoustic_first = method.acoustic_set == 1;
  s->times.push_back(f.time);
  s->nyquist.push_back(pda_get_nyquist_velocity());
  s->gate_counts.push_back(static_cast<int32_t>(gates));
  s->starts.push_back(s->acoustic.size());
  append(&s->acoustic, acoustic_first ? m.velocity : m.velocity2,
         acoustic_first || second, gates);
  append(&s->clear_air, acoustic_first ? m.velocity2 : m.velocity, second,
         gates);
  append(&s->auxiliary, m.aux2, second, gates);
  s->gates = std::max(s->gates, static_cast<int32_t>(gates));
}

}  // namespace

bool read_rass_input(const std::vector<std::string>& paths, int32_t radar,
                     const RassMethod& method, RassInput* out,
                     std::string* error) {
  std::map<SeriesKey, RassSeries> rass;
  std::map<SeriesKey, BeamSeries> wind;
  int64_t dwells = 0;
  PoolRequest request;
  request.program = "quellmar-rass";
  request.wanted = [&](const RecordFacts& f) {
    if (is_rass(f, radar)) {
      ++dwells;
      return true;
    }
    return method.w_correction && is_vertical_wind(f, radar);
  };
  request.check = [&dwells](int64_t, int64_t values, std::string* message) {
    if (dwells == 0) {
      *message = "no RASS dwells in the input";
      return false;
    }
    if (values > kMaxRassValues) {
      *message = "the RASS and vertical wind records hold " +
                 std::to_string(values) + " gate values, more than the " +
                 std::to_string(kMaxRassValues) +
                 " one run pools; give fewer files";
      return false;
    }
    return true;
  };
  request.take = [&](const RecordFacts& f, const MomentArrays& m) {
    const SeriesKey key{f.mode, f.beam, geometry_of(f)};
    if (f.spectral_points >= kRassSpectralPoints) {
      RassSeries& s = rass[key];
      s.mode = f.mode;
      s.beam = f.beam;
      s.geometry = geometry_of(f);
      add_dwell(f, m, method, &s);
      return;
    }
    add_wind_record(f, m, &wind);
  };
  PoolResult pooled;
  if (!pool_pairs(paths, request, &pooled, error)) return false;

  out->site_name = pooled.site_name;
  out->dwells = dwells;
  out->findings = std::move(pooled.findings);
  out->rass = keep_main_geometry(std::move(rass), &out->findings);
  out->vertical_wind = keep_main_geometry(std::move(wind), &out->findings);
  return true;
}

}  // namespace quellmar::companions
