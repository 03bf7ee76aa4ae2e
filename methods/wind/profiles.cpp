#include "methods/wind/profiles.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <numbers>
#include <thread>

#include "disk/pda.h"
#include "methods/wind/fit.h"
#include "methods/wind/precipitation_w.h"
#include "methods/wind/profile_stream.h"
#include "methods/wind/unfold.h"

namespace quellmar::companions {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
// A finite value as a float; NaN when it is not finite as a float.
float finite_or_missing(double value) {
  const float f = static_cast<float>(value);
  return std::isfinite(f) ? f : kMissing;
}

int32_t nearest(const HeightReading& r) {
  if (r.lower < 0 || r.upper < 0) return r.lower;
  return r.t <= 0.5 ? r.lower : r.upper;
}

ModeBeam describe_beam(const PlannedSeries& s, const WindMethod& method) {
  ModeBeam b;
  b.beam = s.beam;
  double az = std::fmod(s.geometry.azimuth + method.azimuth_offset_deg, 360.0);
  if (az < 0) az += 360.0;
  if (az >= 360.0) az = 0.0;
  b.azimuth_deg = az;
  b.elevation_deg = s.geometry.elevation;
  b.gates = s.gates;
  b.gate_height.resize(static_cast<size_t>(s.gates));
  for (int32_t g = 0; g < s.gates; ++g) {
    b.gate_height[static_cast<size_t>(g)] = pda_gate_height_m(
        s.geometry.first_gate_delay_ns, s.geometry.delay_offset_ns,
        s.geometry.gate_spacing_ns, g, b.elevation_deg);
  }
  return b;
}

// Consensus of every gate of one beam over one period's records.
void beam_consensus(const BeamSeries& s, size_t beam_index, size_t max_gates,
                    const WindMethod& method, PeriodProfiles* out) {
  static thread_local std::vector<std::vector<GateSample>> samples;
  samples.resize(static_cast<size_t>(s.gates));
  for (auto& gate : samples) gate.clear();
  for (size_t r = 0; r < s.records(); ++r) {
    const float* vel = s.velocity.data() + s.starts[r];
    const float* snr = s.snr.data() + s.starts[r];
    for (int32_t g = 0; g < s.gate_counts[r]; ++g) {
      samples[static_cast<size_t>(g)].push_back({vel[g], snr[g]});
    }
  }
  const double nyquist = s.nyquist_mixed ? 0.0 : s.nyquist_ms;
  for (int32_t g = 0; g < s.gates; ++g) {
    const Consensus c =
        consensus(samples[static_cast<size_t>(g)], method.consensus, nyquist);
    const size_t at = beam_index * max_gates + static_cast<size_t>(g);
    out->n_used[at] = c.used;
    out->n_available[at] = c.available;
    if (c.accepted) {
      out->radial_velocity[at] = finite_or_missing(c.velocity);
      out->mean_snr[at] = finite_or_missing(c.mean_snr);
    }
  }
}

// How each beam of a mode reads each grid height.
std::vector<HeightReading> mode_readings(ModeProfiles* m) {
  const size_t beams = m->beams.size();
  const size_t levels = m->height.size();
  std::vector<HeightReading> readings(beams * levels);
  for (size_t b = 0; b < beams; ++b) {
    for (size_t h = 0; h < levels; ++h) {
      HeightReading r;
      if (b == static_cast<size_t>(m->reference_beam)) {
        r.lower = static_cast<int32_t>(h);  // the grid is this beam's gates
      } else {
        r = locate_height(m->beams[b].gate_height, m->height[h]);
      }
      readings[b * levels + h] = r;
      m->nearest_gate[b * levels + h] = nearest(r);
    }
  }
  return readings;
}

// Beam swinging at every grid height of one period.
void fit_period(const ModeProfiles& m,
                const std::vector<HeightReading>& readings,
                const WindMethod& method, PeriodProfiles* p) {
  const size_t beams = m.beams.size();
  const size_t levels = m.height.size();
  const size_t gates = static_cast<size_t>(m.max_gates);
  std::vector<BeamPointing> pointings;
  for (const ModeBeam& beam : m.beams) {
    pointings.push_back(beam_pointing(beam.azimuth_deg, beam.elevation_deg));
  }
  const double sign = method.velocity_toward ? -1.0 : 1.0;
  std::vector<FitRow> rows, oblique;
  for (size_t h = 0; h < levels; ++h) {
    rows.clear();
    oblique.clear();
    bool precipitation = false, unfolded = false, vertical = false;
    double vertical_w = std::numeric_limits<double>::quiet_NaN();
    for (size_t b = 0; b < beams; ++b) {
      const HeightReading& r = readings[b * levels + h];
      if (r.lower < 0) continue;
      const size_t lower_at = b * gates + static_cast<size_t>(r.lower);
      const size_t upper_at =
          r.upper >= 0 ? b * gates + static_cast<size_t>(r.upper) : lower_at;
      uint8_t flags = p->gate_flag[lower_at] | p->gate_flag[upper_at];
      if (pointings[b].vertical && (flags & kGatePrecipitation) != 0) {
        precipitation = true;
        continue;
      }
      const double lower = p->radial_velocity[lower_at];
      if (std::isnan(lower)) continue;
      double value = lower;
      if (r.upper >= 0) {
        const double upper = p->radial_velocity[upper_at];
        if (std::isnan(upper)) continue;
        value = lower + r.t * (upper - lower);
      }
      const FitRow row{pointings[b], sign * value};
      if (pointings[b].vertical) {
        if (!vertical) vertical_w = row.radial_velocity / row.pointing.up;
        vertical = true;
      } else {
        oblique.push_back(row);
      }
      if ((flags & kGateUnfolded) != 0) unfolded = true;
      rows.push_back(row);
    }
    // w measured by a vertical beam: every beam in one fit. Otherwise (no
    // vertical beam, its value rain, or --assume-w-zero) u and v from the
    // oblique beams: with w solved by them where they can (opposite beams
    // cancel it), else with w = 0 assumed.
    WindFit fit;
    uint8_t how = 0;
    if (vertical && !method.assume_w_zero) {
      fit = fit_wind(rows);
    } else {
      if (!method.assume_w_zero) {
        fit = fit_wind(oblique);
        how = kWindObliqueOnly;
      }
      if (!fit.ok) {
        fit = fit_wind_w_zero(oblique);
        how = kWindAssumedWZero;
        fit.w = method.assume_w_zero ? vertical_w
                                     : std::numeric_limits<double>::quiet_NaN();
      }
      if (precipitation) {
        how |= kWindPrecipitation;
        if (!method.assume_w_zero)
          fit.w = std::numeric_limits<double>::quiet_NaN();
      }
    }
    if (unfolded) how |= kWindUnfolded;
    if (!fit.ok) continue;
    p->method_flag[h] = how;
    p->u[h] = finite_or_missing(fit.u);
    p->v[h] = finite_or_missing(fit.v);
    p->w[h] = finite_or_missing(fit.w);
    p->residual[h] = finite_or_missing(fit.residual);
    if (std::isnan(p->u[h]) || std::isnan(p->v[h])) continue;
    p->speed[h] = finite_or_missing(wind_speed(fit.u, fit.v));
    // Just below 360 can round up to 360 in single precision: that is 0.
    const float from = finite_or_missing(wind_from_direction(fit.u, fit.v));
    p->direction[h] = from >= 360.0f ? 0.0f : from;
  }
}

ModeProfiles mode_layout(int32_t mode,
                         const std::vector<const PlannedSeries*>& series,
                         const std::vector<int64_t>& period_starts,
                         const WindMethod& method,
                         std::vector<HeightReading>* readings) {
  ModeProfiles m;
  m.mode = mode;
  for (const PlannedSeries* s : series) {
    m.beams.push_back(describe_beam(*s, method));
    m.max_gates = std::max(m.max_gates, s->gates);
  }
  for (int64_t start : period_starts) {
    m.periods.push_back(period_of(start, method.period_minutes));
  }
  // The grid: the first vertical beam's gate heights, else the first
  // beam's.
  m.reference_beam = 0;
  for (size_t b = 0; b < m.beams.size(); ++b) {
    if (beam_pointing(m.beams[b].azimuth_deg, m.beams[b].elevation_deg)
            .vertical) {
      m.reference_beam = static_cast<int32_t>(b);
      break;
    }
  }
  m.height = m.beams[static_cast<size_t>(m.reference_beam)].gate_height;
  m.nearest_gate.assign(m.beams.size() * m.height.size(), -1);
  *readings = mode_readings(&m);
  return m;
}

}  // namespace

HeightReading locate_height(const std::vector<double>& heights, double z) {
  HeightReading r;
  if (heights.empty()) return r;
  const bool rising = heights.back() >= heights.front();
  const auto before = [rising](double a, double b) {
    return rising ? a < b : a > b;
  };
  const auto it = std::lower_bound(heights.begin(), heights.end(), z, before);
  const int32_t i = static_cast<int32_t>(it - heights.begin());
  if (it == heights.end()) return r;
  if (*it == z) {
    r.lower = i;
    return r;
  }
  if (i == 0) return r;
  r.lower = i - 1;
  r.upper = i;
  r.t = (z - heights[i - 1]) / (heights[i] - heights[i - 1]);
  return r;
}

void size_values(ModeProfiles* m) {
  const size_t cells =
      m->periods.size() * m->beams.size() * static_cast<size_t>(m->max_gates);
  m->radial_velocity.assign(cells, kMissing);
  m->mean_snr.assign(cells, kMissing);
  m->n_used.assign(cells, 0);
  m->n_available.assign(cells, 0);
  m->gate_flag.assign(cells, 0);
  const size_t levels = m->periods.size() * m->height.size();
  for (auto* field :
       {&m->u, &m->v, &m->w, &m->speed, &m->direction, &m->residual}) {
    field->assign(levels, kMissing);
  }
  m->method_flag.assign(levels, 0);
}

void BeamSeries::add(int32_t time, const float* velocity_values,
                     const float* snr_values, int32_t gate_count) {
  add(time, velocity_values, snr_values, nullptr, 0.f, gate_count);
}

void BeamSeries::add(int32_t time, const float* velocity_values,
                     const float* snr_values, const float* width_values,
                     float nyquist, int32_t gate_count) {
  if (times.empty()) {
    nyquist_ms = nyquist;
  } else if (nyquist != nyquist_ms) {
    nyquist_mixed = true;
  }
  // Widths are kept while every record gives them (a record without
  // them drops them all: the precipitation check then makes no flags).
  if (width_values != nullptr && width.size() == velocity.size()) {
    width.insert(width.end(), width_values, width_values + gate_count);
  } else {
    width.clear();
  }
  times.push_back(time);
  gate_counts.push_back(gate_count);
  starts.push_back(velocity.size());
  velocity.insert(velocity.end(), velocity_values,
                  velocity_values + gate_count);
  snr.insert(snr.end(), snr_values, snr_values + gate_count);
  gates = std::max(gates, gate_count);
}

double wind_speed(double u, double v) { return std::hypot(u, v); }

double wind_from_direction(double u, double v) {
  if (u == 0.0 && v == 0.0) return 0.0;
  double d = std::atan2(-u, -v) * 180.0 / std::numbers::pi;
  if (d < 0.0) d += 360.0;
  if (d >= 360.0) d -= 360.0;
  return d;
}

ProfileStream::ProfileStream(
    const std::vector<PlannedSeries>& plan,
    const std::vector<std::vector<int64_t>>& period_starts,
    const WindMethod& method, Sink sink)
    : method_(method),
      sink_(std::move(sink)),
      places_(plan.size()),
      open_(plan.size(), method.period_minutes) {
  std::map<int32_t, std::vector<size_t>> by_mode;
  for (size_t i = 0; i < plan.size(); ++i) by_mode[plan[i].mode].push_back(i);
  for (auto& [mode, indices] : by_mode) {
    std::sort(indices.begin(), indices.end(),
              [&](size_t a, size_t b) { return plan[a].beam < plan[b].beam; });
    std::vector<const PlannedSeries*> beams;
    std::vector<int64_t> starts;
    for (size_t b = 0; b < indices.size(); ++b) {
      beams.push_back(&plan[indices[b]]);
      places_[indices[b]] = {modes_.size(), b};
      const std::vector<int64_t>& own = period_starts[indices[b]];
      starts.insert(starts.end(), own.begin(), own.end());
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    readings_.emplace_back();
    modes_.push_back(
        mode_layout(mode, beams, starts, method, &readings_.back()));
    for (size_t b = 0; b < indices.size(); ++b) {
      const ModeBeam& beam = modes_.back().beams[b];
      places_[indices[b]].vertical =
          beam_pointing(beam.azimuth_deg, beam.elevation_deg).vertical;
    }
    mode_series_.push_back(std::move(indices));
  }
  previous_.resize(modes_.size());
}

void ProfileStream::add(size_t series, int32_t time, const float* velocity,
                        const float* snr, int32_t gate_count) {
  add(series, time, {velocity, snr, nullptr, 0.f, gate_count});
}

void ProfileStream::add(size_t series, int32_t time,
                        const RecordValues& values) {
  BeamSeries* s = open_.at(series, time);
  if (s == nullptr) return;
  const Place& place = places_[series];
  const ModeBeam& beam = modes_[place.mode].beams[place.beam];
  const int32_t gates = beam.gates;
  // Only a vertical beam's widths are looked at (rain in w).
  s->add(time, values.velocity, values.snr,
         place.vertical ? values.width : nullptr, values.nyquist_ms,
         std::clamp(values.gate_count, 0, gates));
  s->gates = gates;
}

void ProfileStream::finish_before(int64_t time) {
  open_.finish_before(
      time, [this](const Period& p, std::vector<BeamSeries>& records) {
        finish(p.start, records);
      });
}

void ProfileStream::finish(int64_t start, std::vector<BeamSeries>& records) {
  for (size_t mi = 0; mi < modes_.size(); ++mi) {
    const ModeProfiles& m = modes_[mi];
    const auto at = std::lower_bound(
        m.periods.begin(), m.periods.end(), start,
        [](const Period& p, int64_t s) { return p.start < s; });
    if (at == m.periods.end() || at->start != start) continue;
    PeriodProfiles p;
    p.period = static_cast<size_t>(at - m.periods.begin());
    const size_t gates = static_cast<size_t>(m.max_gates);
    const size_t cells = m.beams.size() * gates;
    p.radial_velocity.assign(cells, kMissing);
    p.mean_snr.assign(cells, kMissing);
    p.n_used.assign(cells, 0);
    p.n_available.assign(cells, 0);
    p.gate_flag.assign(cells, 0);
    for (auto* field :
         {&p.u, &p.v, &p.w, &p.speed, &p.direction, &p.residual}) {
      field->assign(m.height.size(), kMissing);
    }
    p.method_flag.assign(m.height.size(), 0);
    const std::vector<size_t>& series = mode_series_[mi];
    // The beams' consensus values are independent of each other (each
    // beam writes only its own cells): with a second core and enough
    // values, a second thread takes every other beam.
    size_t values = 0;
    for (size_t i : series) values += records[i].velocity.size();
    auto beams_from = [&](size_t first, size_t step) {
      for (size_t b = first; b < series.size(); b += step) {
        beam_consensus(records[series[b]], b, gates, method_, &p);
      }
    };
    constexpr size_t kWorthAThread = 32768;
    if (std::thread::hardware_concurrency() < 2 || series.size() < 2 ||
        values < kWorthAThread) {
      beams_from(0, 1);
    } else {
      std::exception_ptr failure;
      std::thread second([&] {
        try {
          beams_from(1, 2);
        } catch (...) {
          failure = std::current_exception();
        }
      });
      try {
        beams_from(0, 2);
      } catch (...) {
        second.join();
        throw;
      }
      second.join();
      if (failure) std::rethrow_exception(failure);
    }
    examine_period(mi, *at, records, &p);
    fit_period(m, readings_[mi], method_, &p);
    sink_(mi, p);
  }
}

void ProfileStream::examine_period(size_t mi, const Period& period,
                                   const std::vector<BeamSeries>& records,
                                   PeriodProfiles* p) {
  const ModeProfiles& m = modes_[mi];
  const std::vector<size_t>& series = mode_series_[mi];
  const size_t gates = static_cast<size_t>(m.max_gates);
  const double sign = method_.velocity_toward ? -1.0 : 1.0;
  Previous& previous = previous_[mi];
  const bool adjacent = previous.end == period.start;
  for (size_t b = 0; b < series.size(); ++b) {
    const BeamSeries& s = records[series[b]];
    const BeamPointing pointing =
        beam_pointing(m.beams[b].azimuth_deg, m.beams[b].elevation_deg);
    uint8_t* flags = p->gate_flag.data() + b * gates;
    if (pointing.vertical) {
      flag_precipitation(s, sign / pointing.up, method_.precipitation, flags);
    }
    if (method_.unfold && !s.nyquist_mixed && s.nyquist_ms > 0) {
      unfold_column(p->radial_velocity.data() + b * gates,
                    static_cast<size_t>(s.gates),
                    adjacent ? previous.values.data() + b * gates : nullptr,
                    s.nyquist_ms, UnfoldRule{}, flags);
    }
  }
  previous.end = period.end;
  previous.values = p->radial_velocity;
}

QualityField quality_field(const ModeProfiles& m, int32_t period_minutes,
                           const std::vector<float>& values) {
  QualityField f;
  f.columns = m.height.size();
  for (const Period& p : m.periods) {
    f.slots.push_back(period_slot(p.start, period_minutes));
  }
  f.values = values;
  return f;
}

void set_quality_flags(ModeProfiles* m, const WindMethod& method) {
  const std::pair<const std::vector<float>*, std::vector<uint8_t>*> fields[] = {
      {&m->u, &m->u_flag}, {&m->v, &m->v_flag}, {&m->w, &m->w_flag}};
  for (const auto& [values, flags] : fields) {
    std::optional<ContinuityRule> rule = method.quality;
    if (rule && values == &m->w && rule->max_step > 0) {
      rule->layer_jump *= method.quality_w_step / rule->max_step;
      rule->max_step = method.quality_w_step;
    }
    *flags =
        quality_flags(quality_field(*m, method.period_minutes, *values), rule);
  }
  // u and v with w = 0 assumed where the vertical beam saw rain: the
  // oblique beams see the fall speed too, which then enters u and v
  // (times tan e). Such values are suspect whatever the check says.
  for (size_t i = 0; i < m->method_flag.size() && i < m->u_flag.size(); ++i) {
    constexpr uint8_t kRainWZero = kWindPrecipitation | kWindAssumedWZero;
    if ((m->method_flag[i] & kRainWZero) != kRainWZero) continue;
    for (std::vector<uint8_t>* f : {&m->u_flag, &m->v_flag}) {
      if ((*f)[i] == kFlagGood) (*f)[i] = kFlagSuspect;
    }
  }
}

std::vector<ModeProfiles> compute_profiles(
    const std::vector<BeamSeries>& series, const WindMethod& method) {
  std::vector<PlannedSeries> plan;
  std::vector<std::vector<int64_t>> starts;
  for (const BeamSeries& s : series) {
    PlannedSeries p;
    p.mode = s.mode;
    p.beam = s.beam;
    p.geometry = s.geometry;
    p.gates = s.gates;
    plan.push_back(std::move(p));
    std::vector<int64_t> own;
    for (int32_t t : s.times) {
      own.push_back(period_of(t, method.period_minutes).start);
    }
    std::sort(own.begin(), own.end());
    own.erase(std::unique(own.begin(), own.end()), own.end());
    starts.push_back(std::move(own));
  }
  std::vector<ModeProfiles> out;
  ProfileStream stream(plan, starts, method,
                       [&out](size_t mi, const PeriodProfiles& p) {
                         store_period(p, &out[mi]);
                       });
  out = stream.layouts();
  for (ModeProfiles& m : out) size_values(&m);
  for (size_t i = 0; i < series.size(); ++i) {
    const BeamSeries& s = series[i];
    for (size_t r = 0; r < s.records(); ++r) {
      stream.add(i, s.times[r], s.velocity.data() + s.starts[r],
                 s.snr.data() + s.starts[r], s.gate_counts[r]);
    }
  }
  stream.finish_before(std::numeric_limits<int64_t>::max());
  for (ModeProfiles& m : out) set_quality_flags(&m, method);
  return out;
}

void store_period(const PeriodProfiles& p, ModeProfiles* m) {
  const size_t cells = p.radial_velocity.size();
  const size_t first = p.period * cells;
  std::copy(p.radial_velocity.begin(), p.radial_velocity.end(),
            m->radial_velocity.begin() + static_cast<ptrdiff_t>(first));
  std::copy(p.mean_snr.begin(), p.mean_snr.end(),
            m->mean_snr.begin() + static_cast<ptrdiff_t>(first));
  std::copy(p.n_used.begin(), p.n_used.end(),
            m->n_used.begin() + static_cast<ptrdiff_t>(first));
  std::copy(p.n_available.begin(), p.n_available.end(),
            m->n_available.begin() + static_cast<ptrdiff_t>(first));
  if (!p.gate_flag.empty()) {
    std::copy(p.gate_flag.begin(), p.gate_flag.end(),
              m->gate_flag.begin() + static_cast<ptrdiff_t>(first));
  }
  const size_t level = p.period * m->height.size();
  const std::pair<const std::vector<float>*, std::vector<float>*> fields[] = {
      {&p.u, &m->u},
      {&p.v, &m->v},
      {&p.w, &m->w},
      {&p.speed, &m->speed},
      {&p.direction, &m->direction},
      {&p.residual, &m->residual}};
  for (const auto& [from, to] : fields) {
    std::copy(from->begin(), from->end(),
              to->begin() + static_cast<ptrdiff_t>(level));
  }
  if (!p.method_flag.empty()) {
    std::copy(p.method_flag.begin(), p.method_flag.end(),
              m->method_flag.begin() + static_cast<ptrdiff_t>(level));
  }
}

}  // namespace quellmar::companions
