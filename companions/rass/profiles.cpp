#include "companions/rass/profiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>

#include "companions/wind/fit.h"
#include "disk/pda.h"

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

// The consensus w of the wind modes' vertical beams: per wind mode its
// profiles, where each period lies, and how each RASS height is read.
class WindW {
 public:
  WindW(const std::vector<BeamSeries>& vertical, const RassMethod& method) {
    if (vertical.empty()) return;
    WindMethod wm;
    wm.period_minutes = method.period_minutes;
    wm.consensus.min_fraction = method.consensus.min_fraction;
    wm.velocity_toward = method.velocity_toward;
    modes_ = compute_profiles(vertical, wm);
    for (const ModeProfiles& m : modes_) {
      std::map<int64_t, size_t> index;
      for (size_t p = 0; p < m.periods.size(); ++p) {
        index[m.periods[p].start] = p;
      }
      periods_.push_back(std::move(index));
    }
    sign_ = method.velocity_toward ? -1.0 : 1.0;
  }

  // How each height is read from each wind mode's vertical beam.
  std::vector<HeightReading> readings(
      const std::vector<double>& heights) const {
    std::vector<HeightReading> out;
    for (const ModeProfiles& m : modes_) {
      const ModeBeam& b = m.beams[static_cast<size_t>(m.reference_beam)];
      for (double z : heights) out.push_back(locate_height(b.gate_height, z));
    }
    return out;
  }

  // w at height h (of the readings' heights) in the period starting at
  // start: the first wind mode, by number, with a value there; NaN if none.
  double at(const std::vector<HeightReading>& readings, size_t levels,
            int64_t start, size_t h) const {
    for (size_t i = 0; i < modes_.size(); ++i) {
      const ModeProfiles& m = modes_[i];
      const auto p = periods_[i].find(start);
      const HeightReading& r = readings[i * levels + h];
      if (p == periods_[i].end() || r.lower < 0) continue;
      const size_t b = static_cast<size_t>(m.reference_beam);
      const double lower =
          m.radial_velocity[m.cell(p->second, b, static_cast<size_t>(r.lower))];
      double value = lower;
      if (r.upper >= 0) {
        const double upper = m.radial_velocity[m.cell(
            p->second, b, static_cast<size_t>(r.upper))];
        value = lower + r.t * (upper - lower);
      }
      if (std::isnan(value)) continue;
      const ModeBeam& beam = m.beams[b];
      const double up = beam_pointing(beam.azimuth_deg, beam.elevation_deg).up;
      return sign_ * value / up;
    }
    return kNaN;
  }

 private:
  std::vector<ModeProfiles> modes_;
  std::vector<std::map<int64_t, size_t>> periods_;
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

RassProfiles mode_profiles(const RassSeries& s, const RassMethod& method,
                           const WindW& wind) {
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
  const double sine = pda_height_sine(m.elevation_deg);

  std::map<int64_t, std::vector<size_t>> by_period;
  for (size_t r = 0; r < s.records(); ++r) {
    by_period[period_of(s.times[r], method.period_minutes).start].push_back(r);
  }
  const size_t levels = m.height.size();
  const size_t cells = by_period.size() * levels;
  for (auto* field :
       {&m.tv, &m.tv_uncorrected, &m.w, &m.spread, &m.auxiliary}) {
    field->assign(cells, kMissing);
  }
  m.w_source.assign(cells, kWNone);
  m.n_used.assign(cells, 0);
  m.n_available.assign(cells, 0);
  m.n_ambiguous.assign(cells, 0);

  const std::vector<HeightReading> readings = wind.readings(m.height);
  std::vector<DwellValue> values;
  for (const auto& [start, records] : by_period) {
    const size_t p = m.periods.size();
    m.periods.push_back(period_of(start, method.period_minutes));
    for (size_t h = 0; h < levels; ++h) {
      const double wind_w =
          method.w_correction ? wind.at(readings, levels, start, h) : kNaN;
      values.clear();
      int32_t available = 0;
      for (size_t r : records) {
        if (static_cast<int32_t>(h) >= s.gate_counts[r]) continue;
        ++available;
        const size_t at = s.starts[r] + h;
        values.push_back(dwell_value(method, s.acoustic[at], s.nyquist[r],
                                     m.height[h], sine, s.clear_air[at],
                                     wind_w));
        values.back().auxiliary = s.auxiliary[at];
      }
      gate_consensus(values, available, method, m.level(p, h), &m);
    }
  }
  return m;
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

int64_t rass_profile_cells(const RassInput& input, const RassMethod& method) {
  int64_t cells = 0;
  for (const RassSeries& s : input.rass) {
    std::set<int64_t> periods;
    for (int32_t t : s.times) {
      periods.insert(period_of(t, method.period_minutes).start);
    }
    cells += static_cast<int64_t>(periods.size()) * s.gates;
  }
  WindMethod wm;
  wm.period_minutes = method.period_minutes;
  return cells + profile_cells(input.vertical_wind, wm);
}

std::vector<RassProfiles> compute_rass_profiles(
    const RassInput& input, const RassMethod& method,
    std::vector<std::string>* findings) {
  const WindW wind(
      method.w_correction ? input.vertical_wind : std::vector<BeamSeries>{},
      method);
  // The series come by mode, then beam.
  std::vector<RassProfiles> out;
  for (size_t i = 0; i < input.rass.size();) {
    size_t end = i;
    size_t chosen = i;
    bool vertical = false;
    for (;
         end < input.rass.size() && input.rass[end].mode == input.rass[i].mode;
         ++end) {
      if (!vertical && is_vertical(input.rass[end].geometry)) {
        chosen = end;
        vertical = true;
      }
    }
    for (size_t k = i; k < end; ++k) {
      if (k == chosen) continue;
      const RassSeries& s = input.rass[k];
      findings->push_back(
          "mode " + std::to_string(s.mode) + " beam " + std::to_string(s.beam) +
          ": " + std::to_string(s.records()) +
          " RASS dwell(s) set aside: the mode's temperatures come from beam " +
          std::to_string(input.rass[chosen].beam));
    }
    out.push_back(mode_profiles(input.rass[chosen], method, wind));
    i = end;
  }
  return out;
}

}  // namespace quellmar::companions
