#include "companions/wind/input.h"

#include <algorithm>
#include <map>

#include "companions/common/pair_pool.h"
#include "disk/pda.h"

namespace quellmar::companions {

void add_wind_record(const RecordFacts& f, const MomentArrays& m,
                     std::map<SeriesKey, BeamSeries>* series) {
  const int64_t gates = std::min(
      {m.gate_count, static_cast<int64_t>(m.velocity.size()),
       static_cast<int64_t>(m.snr.size()), static_cast<int64_t>(f.gate_count)});
  BeamSeries& s = (*series)[{f.mode, f.beam, geometry_of(f)}];
  s.mode = f.mode;
  s.beam = f.beam;
  s.geometry = geometry_of(f);
  s.add(f.time, m.velocity.data(), m.snr.data(),
        static_cast<int32_t>(std::max<int64_t>(gates, 0)));
}

bool read_wind_input(const std::vector<std::string>& paths, int32_t radar,
                     WindInput* out, std::string* error) {
  std::map<SeriesKey, BeamSeries> series;
  PoolRequest request;
  request.program = "quellmar-wind";
  request.wanted = [radar](const RecordFacts& f) {
    return f.radar == radar && f.beam_described &&
           f.spectral_points < kRassSpectralPoints && f.gate_count > 0;
  };
  request.check = [&paths, radar](int64_t records, int64_t values,
                                  std::string* message) {
    if (records == 0) {
      *message = (paths.size() == 1 ? paths[0] : "the files") +
                 ": no wind-mode record of radar " + std::to_string(radar);
      return false;
    }
    if (values > kMaxPooledValues) {
      *message = "the wind records hold " + std::to_string(values) +
                 " gate values, more than the " +
                 std::to_string(kMaxPooledValues) + " one run pools; give " +
                 "fewer files";
      return false;
    }
    return true;
  };
  request.take = [&series](const RecordFacts& f, const MomentArrays& m) {
    add_wind_record(f, m, &series);
  };
  PoolResult pooled;
  if (!pool_pairs(paths, request, &pooled, error)) return false;

  out->site_name = pooled.site_name;
  out->records = pooled.records;
  out->findings = std::move(pooled.findings);
  out->series = keep_main_geometry(std::move(series), &out->findings);
  return true;
}

}  // namespace quellmar::companions
