#include "companions/wind/profiles.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <numbers>
#include <set>
#include <thread>

#include "companions/wind/fit.h"
#include "disk/pda.h"

namespace quellmar::companions {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
constexpr int64_t kDay = 86400;

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// A finite value as a float; NaN when it is not finite as a float.
float finite_or_missing(double value) {
  const float f = static_cast<float>(value);
  return std::isfinite(f) ? f : kMissing;
}

int32_t nearest(const HeightReading& r) {
  if (r.lower < 0 || r.upper < 0) return r.lower;
  return r.t <= 0.5 ? r.lower : r.upper;
}

ModeBeam describe_beam(const BeamSeries& s, const WindMethod& method) {
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

// Consensus of every gate of one beam in every period of the mode.
void beam_consensus(const BeamSeries& s, size_t beam_index,
                    const std::map<int64_t, size_t>& period_index,
                    const WindMethod& method, ModeProfiles* m) {
  const size_t periods = m->periods.size();
  std::vector<std::vector<size_t>> by_period(periods);
  for (size_t r = 0; r < s.records(); ++r) {
    const int64_t start = period_of(s.times[r], method.period_minutes).start;
    by_period[period_index.at(start)].push_back(r);
  }
  std::vector<std::vector<GateSample>> samples(static_cast<size_t>(s.gates));
  for (size_t p = 0; p < periods; ++p) {
    if (by_period[p].empty()) continue;
    for (auto& gate : samples) gate.clear();
    for (size_t r : by_period[p]) {
      const float* vel = s.velocity.data() + s.starts[r];
      const float* snr = s.snr.data() + s.starts[r];
      for (int32_t g = 0; g < s.gate_counts[r]; ++g) {
        samples[static_cast<size_t>(g)].push_back({vel[g], snr[g]});
      }
    }
    for (int32_t g = 0; g < s.gates; ++g) {
      const Consensus c =
          consensus(samples[static_cast<size_t>(g)], method.consensus);
      const size_t at = m->cell(p, beam_index, static_cast<size_t>(g));
      m->n_used[at] = c.used;
      m->n_available[at] = c.available;
      if (c.accepted) {
        m->radial_velocity[at] = finite_or_missing(c.velocity);
        m->mean_snr[at] = finite_or_missing(c.mean_snr);
      }
    }
  }
}

// Beam swinging at every period and grid height.
void fit_mode(const WindMethod& method, ModeProfiles* m) {
  const size_t beams = m->beams.size();
  const size_t levels = m->height.size();
  std::vector<HeightReading> readings(beams * levels);
  std::vector<BeamPointing> pointings;
  for (size_t b = 0; b < beams; ++b) {
    const ModeBeam& beam = m->beams[b];
    pointings.push_back(beam_pointing(beam.azimuth_deg, beam.elevation_deg));
    for (size_t h = 0; h < levels; ++h) {
      HeightReading r;
      if (b == static_cast<size_t>(m->reference_beam)) {
        r.lower = static_cast<int32_t>(h);  // the grid is this beam's gates
      } else {
        r = locate_height(beam.gate_height, m->height[h]);
      }
      readings[b * levels + h] = r;
      m->nearest_gate[b * levels + h] = nearest(r);
    }
  }
  const double sign = method.velocity_toward ? -1.0 : 1.0;
  std::vector<FitRow> rows;
  for (size_t p = 0; p < m->periods.size(); ++p) {
    for (size_t h = 0; h < levels; ++h) {
      rows.clear();
      for (size_t b = 0; b < beams; ++b) {
        const HeightReading& r = readings[b * levels + h];
        if (r.lower < 0) continue;
        const double lower =
            m->radial_velocity[m->cell(p, b, static_cast<size_t>(r.lower))];
        if (std::isnan(lower)) continue;
        double value = lower;
        if (r.upper >= 0) {
          const double upper =
              m->radial_velocity[m->cell(p, b, static_cast<size_t>(r.upper))];
          if (std::isnan(upper)) continue;
          value = lower + r.t * (upper - lower);
        }
        rows.push_back({pointings[b], sign * value});
      }
      const WindFit fit = fit_wind(rows);
      if (!fit.ok) continue;
      const size_t at = m->level(p, h);
      m->u[at] = finite_or_missing(fit.u);
      m->v[at] = finite_or_missing(fit.v);
      m->w[at] = finite_or_missing(fit.w);
      m->residual[at] = finite_or_missing(fit.residual);
      if (std::isnan(m->u[at]) || std::isnan(m->v[at])) continue;
      m->speed[at] = finite_or_missing(wind_speed(fit.u, fit.v));
      // Just below 360 can round up to 360 in single precision: that is 0.
      const float from = finite_or_missing(wind_from_direction(fit.u, fit.v));
      m->direction[at] = from >= 360.0f ? 0.0f : from;
    }
  }
}

ModeProfiles mode_profiles(int32_t mode,
                           const std::vector<const BeamSeries*>& series,
                           const WindMethod& method) {
  ModeProfiles m;
  m.mode = mode;
  std::map<int64_t, size_t> period_index;
  for (const BeamSeries* s : series) {
    m.beams.push_back(describe_beam(*s, method));
    m.max_gates = std::max(m.max_gates, s->gates);
    for (int32_t t : s->times) {
      period_index.emplace(period_of(t, method.period_minutes).start, 0);
    }
  }
  for (auto& [start, index] : period_index) {
    index = m.periods.size();
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

  const size_t cells =
      m.periods.size() * m.beams.size() * static_cast<size_t>(m.max_gates);
  m.radial_velocity.assign(cells, kMissing);
  m.mean_snr.assign(cells, kMissing);
  m.n_used.assign(cells, 0);
  m.n_available.assign(cells, 0);
  const size_t levels = m.periods.size() * m.height.size();
  for (auto* field : {&m.u, &m.v, &m.w, &m.speed, &m.direction, &m.residual}) {
    field->assign(levels, kMissing);
  }
  m.nearest_gate.assign(m.beams.size() * m.height.size(), -1);

  // The beams' consensus values are independent of each other (each beam
  // writes only its own cells): on a machine with a second core a second
  // thread takes every other beam.
  auto beams_from = [&](size_t first, size_t step) {
    for (size_t b = first; b < series.size(); b += step) {
      beam_consensus(*series[b], b, period_index, method, &m);
    }
  };
  if (std::thread::hardware_concurrency() < 2 || series.size() < 2) {
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
  fit_mode(method, &m);
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

void BeamSeries::add(int32_t time, const float* velocity_values,
                     const float* snr_values, int32_t gate_count) {
  times.push_back(time);
  gate_counts.push_back(gate_count);
  starts.push_back(velocity.size());
  velocity.insert(velocity.end(), velocity_values,
                  velocity_values + gate_count);
  snr.insert(snr.end(), snr_values, snr_values + gate_count);
  gates = std::max(gates, gate_count);
}

Period period_of(int64_t time, int32_t minutes) {
  const int64_t length = static_cast<int64_t>(minutes) * 60;
  const int64_t day_start = floor_div(time, kDay) * kDay;
  Period p;
  p.start = day_start + (time - day_start) / length * length;
  p.end = std::min(p.start + length, day_start + kDay);
  return p;
}

double wind_speed(double u, double v) { return std::hypot(u, v); }

double wind_from_direction(double u, double v) {
  if (u == 0.0 && v == 0.0) return 0.0;
  double d = std::atan2(-u, -v) * 180.0 / std::numbers::pi;
  if (d < 0.0) d += 360.0;
  if (d >= 360.0) d -= 360.0;
  return d;
}

int64_t profile_cells(const std::vector<BeamSeries>& series,
                      const WindMethod& method) {
  struct Extent {
    std::set<int64_t> periods;
    int64_t beams = 0;
    int64_t gates = 0;
  };
  std::map<int32_t, Extent> modes;
  for (const BeamSeries& s : series) {
    Extent& e = modes[s.mode];
    ++e.beams;
    e.gates = std::max<int64_t>(e.gates, s.gates);
    for (int32_t t : s.times) {
      e.periods.insert(period_of(t, method.period_minutes).start);
    }
  }
  int64_t cells = 0;
  for (const auto& [mode, e] : modes) {
    cells += static_cast<int64_t>(e.periods.size()) * e.beams * e.gates;
  }
  return cells;
}

std::vector<ModeProfiles> compute_profiles(
    const std::vector<BeamSeries>& series, const WindMethod& method) {
  std::map<int32_t, std::vector<const BeamSeries*>> by_mode;
  for (const BeamSeries& s : series) by_mode[s.mode].push_back(&s);
  std::vector<ModeProfiles> out;
  for (auto& [mode, beams] : by_mode) {
    std::sort(beams.begin(), beams.end(),
              [](const BeamSeries* a, const BeamSeries* b) {
                return a->beam < b->beam;
              });
    out.push_back(mode_profiles(mode, beams, method));
  }
  return out;
}

}  // namespace quellmar::companions
