#include "methods/rass/profiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "disk/pda.h"
#include "methods/pairs/period_buffer.h"
#include "methods/wind/fit.h"
#include "methods/wind/profile_stream.h"

namespace quellmar::companions {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

float finite_or_missing(double value) {
  const float f = static_cast<float>(value);
  return std::isfinite(f) ? f : kMissing;
}

bool is_vertical(const BeamGeometry& g) {
  return beam_pointing(g.azimuth, g.elevation).vertical;
}

// The consensus w of the wind modes' vertical beams, period by period:
// the wind stream hands each finished period's consensus of every wind
// mode's vertical beam here, and the RASS period of the same start reads
// it before it is dropped.
class WindW {
 public:
  WindW(const std::vector<ModeProfiles>& layouts, const RassMethod& method)
      : layouts_(layouts),
        columns_(layouts.size()),
        sign_(method.velocity_toward ? -1.0 : 1.0) {}

  // One finished period of wind mode mi.
  void take(size_t mi, const PeriodProfiles& p) {
    const ModeProfiles& m = layouts_[mi];
    const size_t b = static_cast<size_t>(m.reference_beam);
    const size_t gates = static_cast<size_t>(m.max_gates);
    columns_[mi][m.periods[p.period].start] = std::vector<float>(
        p.radial_velocity.begin() + static_cast<ptrdiff_t>(b * gates),
        p.radial_velocity.begin() + static_cast<ptrdiff_t>(b * gates + gates));
  }
  // Drops every period taken.
  void clear() {
    for (auto& c : columns_) c.clear();
  }

  // How each height is read from each wind mode's vertical beam.
  std::vector<HeightReading> readings(
      const std::vector<double>& heights) const {
    std::vector<HeightReading> out;
    for (const ModeProfiles& m : layouts_) {
      const ModeBeam& b = m.beams[static_cast<size_t>(m.reference_beam)];
      for (double z : heights) out.push_back(locate_height(b.gate_height, z));
    }
    return out;
  }

  // w at height h (of the readings' heights) in the period starting at
  // start: the first wind mode, by number, with a value there; NaN if none.
  double at(const std::vector<HeightReading>& readings, size_t levels,
            int64_t start, size_t h) const {
    for (size_t i = 0; i < layouts_.size(); ++i) {
      const auto p = columns_[i].find(start);
      const HeightReading& r = readings[i * levels + h];
      if (p == columns_[i].end() || r.lower < 0) continue;
      const std::vector<float>& column = p->second;
      const double lower = column[static_cast<size_t>(r.lower)];
      double value = lower;
      if (r.upper >= 0) {
        const double upper = column[static_cast<size_t>(r.upper)];
        value = lower + r.t * (upper - lower);
      }
      if (std::isnan(value)) continue;
      const ModeProfiles& m = layouts_[i];
      const ModeBeam& beam = m.beams[static_cast<size_t>(m.reference_beam)];
      const double up = beam_pointing(beam.azimuth_deg, beam.elevation_deg).up;
      return sign_ * value / up;
    }
    return kNaN;
  }

 private:
  std::vector<ModeProfiles> layouts_;
  std::vector<std::map<int64_t, std::vector<float>>> columns_;  // by start
  double sign_ = 1.0;
};

struct Member {
  float tv = 0.f;
  uint32_t index = 0;  // into the gate's dwell values
};

// The consensus of one gate in one period from its dwells' values.
void gate_consensus(const std::vector<DwellValue>& values, int32_t available,
                    const RassMethod& method, size_t at, RassProfiles* out) {
  std::vector<Member> members;
  int32_t ambiguous = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const DwellValue& v = values[i];
    if (v.status == UnfoldStatus::kAmbiguous) ++ambiguous;
    if (v.status != UnfoldStatus::kOk) continue;
    const float tv = static_cast<float>(v.tv);
    if (std::isfinite(tv)) members.push_back({tv, static_cast<uint32_t>(i)});
  }
  out->n_available[at] = available;
  out->n_ambiguous[at] = ambiguous;
  std::sort(members.begin(), members.end(),
            [](const Member& a, const Member& b) {
              return a.tv < b.tv || (a.tv == b.tv && a.index < b.index);
            });
  const ConsensusRun run =
      largest_run(members.size(), method.consensus.window,
                  [&members](size_t i) { return members[i].tv; });
  if (!consensus_accepted(run.size, available, method.consensus.min_fraction)) {
    return;
  }
  double tv = 0.0, raw = 0.0, w = 0.0, aux = 0.0;
  int32_t with_w = 0, with_aux = 0;
  bool same = false, wind = false;
  for (size_t i = run.first; i < run.first + run.size; ++i) {
    const DwellValue& v = values[members[i].index];
    tv += v.tv;
    raw += v.tv_uncorrected;
    if (v.source != kWNone) {
      w += v.w;
      ++with_w;
      (v.source == kWSameDwell ? same : wind) = true;
    }
    if (std::isfinite(v.auxiliary)) {
      aux += v.auxiliary;
      ++with_aux;
    }
  }
  const double n = static_cast<double>(run.size);
  out->n_used[at] = static_cast<int32_t>(run.size);
  out->tv[at] = finite_or_missing(tv / n);
  out->tv_uncorrected[at] = finite_or_missing(raw / n);
  out->spread[at] = finite_or_missing(run.spread);
  if (with_w > 0) out->w[at] = finite_or_missing(w / with_w);
  out->w_source[at] = same && wind ? kWMixed
                      : same       ? kWSameDwell
                      : wind       ? kWWindMode
                                   : kWNone;
  if (with_aux > 0) out->auxiliary[at] = finite_or_missing(aux / with_aux);
}

// A mode's profiles without values: the beam's heights and the periods
// of its records.
RassProfiles rass_layout(const PlannedSeries& s,
                         const std::vector<int64_t>& period_starts,
                         const RassMethod& method) {
  RassProfiles m;
  m.mode = s.mode;
  m.beam = s.beam;
  double az = std::fmod(static_cast<double>(s.geometry.azimuth), 360.0);
  if (az < 0) az += 360.0;
  m.azimuth_deg = az;
  m.elevation_deg = s.geometry.elevation;
  for (int32_t g = 0; g < s.gates; ++g) {
    m.height.push_back(pda_gate_height_m(
        s.geometry.first_gate_delay_ns, s.geometry.delay_offset_ns,
        s.geometry.gate_spacing_ns, g, m.elevation_deg));
  }
  for (int64_t start : period_starts) {
    m.periods.push_back(period_of(start, method.period_minutes));
  }
  const size_t cells = m.periods.size() * m.height.size();
  for (auto* field :
       {&m.tv, &m.tv_uncorrected, &m.w, &m.spread, &m.auxiliary}) {
    field->assign(cells, kMissing);
  }
  m.w_source.assign(cells, kWNone);
  m.n_used.assign(cells, 0);
  m.n_available.assign(cells, 0);
  m.n_ambiguous.assign(cells, 0);
  return m;
}

// The consensus of every gate of period p from that period's dwells.
void rass_period(const RassSeries& s, size_t p, const RassMethod& method,
                 const WindW& wind, const std::vector<HeightReading>& readings,
                 RassProfiles* m) {
  const size_t levels = m->height.size();
  const double sine = pda_height_sine(m->elevation_deg);
  const int64_t start = m->periods[p].start;
  std::vector<DwellValue> values;
  for (size_t h = 0; h < levels; ++h) {
    const double wind_w =
        method.w_correction ? wind.at(readings, levels, start, h) : kNaN;
    values.clear();
    int32_t available = 0;
    for (size_t r = 0; r < s.records(); ++r) {
      if (static_cast<int32_t>(h) >= s.gate_counts[r]) continue;
      ++available;
      const size_t at = s.starts[r] + h;
      values.push_back(dwell_value(method, s.acoustic[at], s.nyquist[r],
                                   m->height[h], sine, s.clear_air[at],
                                   wind_w));
      values.back().auxiliary = s.auxiliary[at];
    }
    gate_consensus(values, available, method, m->level(p, h), m);
  }
}

// Of the RASS series of the plan (by mode, then beam), the one of each mode
// that gives its profiles: its vertical beam, else its lowest-numbered one.
std::vector<size_t> chosen_series(const InputPlan& plan,
                                  std::vector<std::string>* findings) {
  std::vector<size_t> rass;
  for (size_t i = 0; i < plan.series.size(); ++i) {
    if (is_rass_series(plan.series[i].spectral_points)) rass.push_back(i);
  }
  std::vector<size_t> chosen;
  for (size_t i = 0; i < rass.size();) {
    const int32_t mode = plan.series[rass[i]].mode;
    size_t end = i;
    size_t pick = rass[i];
    bool vertical = false;
    for (; end < rass.size() && plan.series[rass[end]].mode == mode; ++end) {
      if (!vertical && is_vertical(plan.series[rass[end]].geometry)) {
        pick = rass[end];
        vertical = true;
      }
    }
    for (size_t k = i; k < end; ++k) {
      if (rass[k] == pick || findings == nullptr) continue;
      const PlannedSeries& s = plan.series[rass[k]];
      findings->push_back(
          "mode " + std::to_string(s.mode) + " beam " + std::to_string(s.beam) +
          ": " + std::to_string(s.records) +
          " RASS dwell(s) set aside: the mode's temperatures come from beam " +
          std::to_string(plan.series[pick].beam));
    }
    chosen.push_back(pick);
    i = end;
  }
  return chosen;
}

}  // namespace

DwellValue dwell_value(const RassMethod& method, double acoustic,
                       double nyquist, double height_m, double sine,
                       double clear_air, double wind_w) {
  DwellValue out;
  const double s = method.velocity_toward ? -1.0 : 1.0;
  const double t0 = first_guess_k(method, height_m);
  const Unfolded u =
      unfold_speed(s * acoustic + method.sound_offset_m_s, nyquist, t0);
  out.status = u.status;
  if (u.status != UnfoldStatus::kOk) return out;
  out.tv_uncorrected = virtual_temperature(u.speed);
  out.tv = out.tv_uncorrected;
  if (!method.w_correction) return out;
  double corrected = u.speed;
  if (std::isfinite(clear_air)) {
    // The clear-air velocity is the air's motion along the beam, w sin(e).
    corrected = u.speed - s * clear_air;
    out.w = s * clear_air / sine;
    out.source = kWSameDwell;
  } else if (std::isfinite(wind_w)) {
    corrected = u.speed - wind_w * sine;
    out.w = wind_w;
    out.source = kWWindMode;
  } else {
    return out;
  }
  const double tv = virtual_temperature(corrected);
  if (!(corrected > 0.0) || !(std::fabs(tv - t0) <= kPlausibleK) ||
      !std::isfinite(out.w)) {
    out.status = UnfoldStatus::kNone;  // a w that makes no temperature
    return out;
  }
  out.tv = tv;
  return out;
}

int64_t rass_profile_cells(const InputPlan& plan) {
  int64_t cells = 0;
  for (size_t i : chosen_series(plan, nullptr)) {
    cells += static_cast<int64_t>(plan.period_starts[i].size()) *
             plan.series[i].gates;
  }
  return cells;
}

void set_rass_flags(RassProfiles* m, const RassMethod& method) {
  QualityField field;
  field.columns = m->height.size();
  for (const Period& p : m->periods) {
    field.slots.push_back(period_slot(p.start, method.period_minutes));
  }
  field.values = m->tv;
  m->tv_flag = quality_flags(field, method.quality);
}

bool stream_rass_profiles(const InputPlan& plan, const RecordChoice& choice,
                          const RassMethod& method, RassRun* run,
                          std::string* error) {
  const std::vector<size_t> chosen = chosen_series(plan, &run->findings);
  if (chosen.empty()) {
    *error = "no RASS dwells in the input";
    return false;
  }
  // Per series of the plan: the RASS mode it gives (or -1), its index
  // among the wind series (or -1).
  std::vector<int64_t> rass_mode(plan.series.size(), -1);
  std::vector<int64_t> wind_index(plan.series.size(), -1);
  for (size_t k = 0; k < chosen.size(); ++k) {
    rass_mode[chosen[k]] = static_cast<int64_t>(k);
  }
  std::vector<PlannedSeries> wind_series;
  std::vector<std::vector<int64_t>> wind_starts;
  for (size_t i = 0; i < plan.series.size(); ++i) {
    if (is_rass_series(plan.series[i].spectral_points)) continue;
    wind_index[i] = static_cast<int64_t>(wind_series.size());
    wind_series.push_back(plan.series[i]);
    wind_starts.push_back(plan.period_starts[i]);
  }

  WindMethod wm;
  wm.period_minutes = method.period_minutes;
  wm.consensus.min_fraction = method.consensus.min_fraction;
  wm.velocity_toward = method.velocity_toward;
  wm.quality.reset();
  std::unique_ptr<WindW> wind_w;
  ProfileStream wind(
      wind_series, wind_starts, wm,
      [&wind_w](size_t mi, const PeriodProfiles& p) { wind_w->take(mi, p); });
  wind_w = std::make_unique<WindW>(wind.layouts(), method);

  std::vector<RassProfiles>& modes = run->modes;
  std::vector<std::vector<HeightReading>> readings;
  for (size_t i : chosen) {
    modes.push_back(rass_layout(plan.series[i], plan.period_starts[i], method));
    readings.push_back(wind_w->readings(modes.back().height));
  }

  PeriodBuffer<RassSeries> open(plan.series.size(), method.period_minutes);
  const auto finish = [&](const Period& period,
                          std::vector<RassSeries>& records) {
    for (size_t k = 0; k < chosen.size(); ++k) {
      const RassSeries& s = records[chosen[k]];
      if (s.records() == 0) continue;
      RassProfiles& m = modes[k];
      const auto at = std::lower_bound(
          m.periods.begin(), m.periods.end(), period.start,
          [](const Period& p, int64_t start) { return p.start < start; });
      if (at == m.periods.end() || at->start != period.start) continue;
      rass_period(s, static_cast<size_t>(at - m.periods.begin()), method,
                  *wind_w, readings[k], &m);
    }
  };
  const bool read = read_input(
      plan, choice, nullptr,
      [&](size_t series, const RecordFacts& f) {
        const MomentArrays& m = pda_moments;
        if (rass_mode[series] >= 0) {
          RassSeries* s = open.at(series, f.time);
          if (s == nullptr) return;
          add_dwell(f, m, method, s);
          ++run->dwells;
        } else if (wind_index[series] >= 0) {
          wind.add(static_cast<size_t>(wind_index[series]), f.time,
                   m.velocity.data(), m.snr.data(), stored_gates(f, m));
        }
      },
      [&](int64_t before) {
        // The wind periods first: the RASS periods of the same starts read
        // their w.
        wind.finish_before(before);
        open.finish_before(before, finish);
        wind_w->clear();
      },
      &run->duplicates, error);
  if (!read) return false;
  for (RassProfiles& m : modes) set_rass_flags(&m, method);
  return true;
}

}  // namespace quellmar::companions
