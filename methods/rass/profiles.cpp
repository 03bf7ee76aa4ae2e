#include "methods/rass/profiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// The air's motion from the wind modes, period by period: the wind stream
// hands each finished period of every wind mode here (the consensus of its
// vertical beam and the fitted u and v), and the RASS period of the same
// start reads it before it is dropped.
class WindAir {
 public:
  WindAir(const std::vector<ModeProfiles>& layouts, const RassMethod& method)
      : layouts_(layouts),
        columns_(layouts.size()),
        sign_(method.velocity_toward ? -1.0 : 1.0) {
    for (const ModeProfiles& m : layouts_) {
      int32_t vertical = -1;
      double up = 1.0;
      for (size_t b = 0; b < m.beams.size() && vertical < 0; ++b) {
        const BeamPointing p =
            beam_pointing(m.beams[b].azimuth_deg, m.beams[b].elevation_deg);
        if (p.vertical) {
          vertical = static_cast<int32_t>(b);
          up = p.up;
        }
      }
      vertical_.push_back(vertical);
      vertical_up_.push_back(up);
    }
  }

  // One finished period of wind mode mi.
  void take(size_t mi, const PeriodProfiles& p) {
    const ModeProfiles& m = layouts_[mi];
    Columns c;
    if (vertical_[mi] >= 0) {
      const size_t b = static_cast<size_t>(vertical_[mi]);
      const size_t gates = static_cast<size_t>(m.max_gates);
      const auto first =
          p.radial_velocity.begin() + static_cast<ptrdiff_t>(b * gates);
      c.vertical.assign(first, first + static_cast<ptrdiff_t>(gates));
      c.rain.assign(gates, 0);
      precipitation_of(p, b, gates, &c.rain);
    }
    c.u = p.u;
    c.v = p.v;
    columns_[mi][m.periods[p.period].start] = std::move(c);
  }
  // Drops every period taken.
  void clear() {
    for (auto& c : columns_) c.clear();
  }

  // How each height is read from each wind mode: its vertical beam's gates
  // (w) and its height grid (u, v).
  struct Readings {
    std::vector<HeightReading> vertical, grid;  // wind mode x height
    size_t levels = 0;
  };
  Readings readings(const std::vector<double>& heights) const {
    Readings out;
    out.levels = heights.size();
    for (size_t i = 0; i < layouts_.size(); ++i) {
      const ModeProfiles& m = layouts_[i];
      for (double z : heights) {
        out.vertical.push_back(
            vertical_[i] < 0
                ? HeightReading{}
                : locate_height(
                      m.beams[static_cast<size_t>(vertical_[i])].gate_height,
                      z));
        out.grid.push_back(locate_height(m.height, z));
      }
    }
    return out;
  }

  // The air's motion at height h (of the readings' heights) in the period
  // starting at start, along a beam pointing p: from the first wind mode,
  // by number, with a w there (a w flagged as precipitation counts).
  void at(const Readings& r, int64_t start, size_t h, const BeamPointing& p,
          AirMotion* air) const {
    for (size_t i = 0; i < layouts_.size(); ++i) {
      const auto found = columns_[i].find(start);
      if (found == columns_[i].end() || vertical_[i] < 0) continue;
      const Columns& c = found->second;
      const HeightReading& rv = r.vertical[i * r.levels + h];
      const double radial = read(c.vertical, rv);
      if (std::isnan(radial)) continue;
      const double w = sign_ * radial / vertical_up_[i];
      air->wind_rain = c.rain[static_cast<size_t>(rv.lower)] != 0 ||
                       (rv.upper >= 0 && c.rain[static_cast<size_t>(rv.upper)]);
      air->wind_w = w;
      if (p.vertical) {
        air->wind_along_beam = w * p.up;
      } else {
        const HeightReading& rg = r.grid[i * r.levels + h];
        const double u = read(c.u, rg), v = read(c.v, rg);
        air->wind_along_beam = u * p.east + v * p.north + w * p.up;
      }
      return;
    }
  }

 private:
  struct Columns {
    std::vector<float> vertical;  // the vertical beam's consensus, by gate
    std::vector<uint8_t> rain;    // its gates flagged as precipitation
    std::vector<float> u, v;      // by height of the mode's grid
  };
  static double read(const std::vector<float>& column, const HeightReading& r) {
    if (r.lower < 0 || static_cast<size_t>(r.lower) >= column.size()) {
      return kNaN;
    }
    const double lower = column[static_cast<size_t>(r.lower)];
    if (r.upper < 0 || static_cast<size_t>(r.upper) >= column.size()) {
      return lower;
    }
    const double upper = column[static_cast<size_t>(r.upper)];
    return lower + r.t * (upper - lower);
  }
  // The vertical beam's gates the wind method flagged as precipitation.
  static void precipitation_of(const PeriodProfiles& p, size_t beam,
                               size_t gates, std::vector<uint8_t>* rain) {
    for (size_t g = 0; g < gates; ++g) {
      (*rain)[g] = p.precipitation(beam, gates, g) ? 1 : 0;
    }
  }

  std::vector<ModeProfiles> layouts_;
  std::vector<int32_t> vertical_;    // per wind mode: its vertical beam or -1
  std::vector<double> vertical_up_;  // and that beam's upward cosine
  std::vector<std::map<int64_t, Columns>> columns_;  // by period start
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
  int32_t ambiguous = 0, rain = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const DwellValue& v = values[i];
    if (v.status == UnfoldStatus::kAmbiguous) ++ambiguous;
    if (v.rain) ++rain;
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
    if (rain > 0 && method.rain_w == RainW::kMissing) {
      out->w_source[at] = kWPrecipitationMissing;
    }
    return;
  }
  double tv = 0.0, raw = 0.0, w = 0.0, aux = 0.0;
  int32_t with_w = 0, with_aux = 0;
  bool same = false, wind = false, wet = false;
  for (size_t i = run.first; i < run.first + run.size; ++i) {
    const DwellValue& v = values[members[i].index];
    tv += v.tv;
    raw += v.tv_uncorrected;
    if (std::isfinite(v.w)) {
      w += v.w;
      ++with_w;
    }
    if (v.source != kWNone) (v.source == kWSameDwell ? same : wind) = true;
    wet = wet || v.rain;
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
  out->w_source[at] = wet            ? kWPrecipitation
                      : same && wind ? kWMixed
                      : same         ? kWSameDwell
                      : wind         ? kWWindMode
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
  m.acoustic_set.assign(m.periods.size(), 0);
  m.first_gate_ambiguous.assign(m.periods.size(), 0);
  m.n_used.assign(cells, 0);
  m.n_available.assign(cells, 0);
  m.n_ambiguous.assign(cells, 0);
  return m;
}

// The profile of period p from its dwells with the sound pulse in set
// `set` (1 or 2) and the clear air in the other, gate by gate from the
// lowest: each gate's dwells unfolded by continuity with the consensus of
// the nearest gate below that has one, else by the first guess. Writes
// the period's cells of m and its first_gate_ambiguous; returns the cells
// with a temperature.
int64_t rass_profile(const RassSeries& s, size_t p, int set,
                     const RassMethod& method, const WindAir& wind,
                     const WindAir::Readings& readings, RassProfiles* m) {
  const size_t levels = m->height.size();
  const double sine = pda_height_sine(m->elevation_deg);
  const BeamPointing pointing = beam_pointing(m->azimuth_deg, m->elevation_deg);
  const double sign = method.velocity_toward ? -1.0 : 1.0;
  const int64_t start = m->periods[p].start;
  const std::vector<float>& acoustic = s.velocity[set - 1];
  const std::vector<float>& clear = s.velocity[2 - set];
  const std::vector<float>& clear_width = s.width[2 - set];
  std::vector<double> surface(s.records());
  for (size_t r = 0; r < s.records(); ++r) {
    surface[r] = first_guess_k(method, 0.0, s.times[r]);
  }
  std::vector<DwellValue> values;
  double below_k = kNaN, below_z = 0.0;
  bool first_gate = true;
  int64_t cells = 0;
  for (size_t h = 0; h < levels; ++h) {
    const double z = m->height[h];
    AirMotion air;
    if (method.w_correction) wind.at(readings, start, h, pointing, &air);
    // The clear air of a vertical beam: precipitation?
    if (method.w_correction && pointing.vertical) {
      size_t with_clear = 0, falling = 0;
      const double up = sign / sine;
      for (size_t r = 0; r < s.records(); ++r) {
        if (static_cast<int32_t>(h) >= s.gate_counts[r]) continue;
        const double v = clear[s.starts[r] + h];
        if (!std::isfinite(v)) continue;
        ++with_clear;
        falling += clear_air_falls(up * v, clear_width[s.starts[r] + h]);
      }
      air.clear_air_rain = clear_air_is_rain(falling, with_clear);
    }
    values.clear();
    int32_t available = 0;
    UnfoldGuide guide;
    guide.below_k = below_k;
    guide.below_dz_m = z - below_z;
    for (size_t r = 0; r < s.records(); ++r) {
      if (static_cast<int32_t>(h) >= s.gate_counts[r]) continue;
      ++available;
      const size_t i = s.starts[r] + h;
      guide.first_guess_k =
          surface[r] - method.lapse_rate_k_per_km * z / 1000.0;
      air.clear_air = clear[i];
      values.push_back(dwell_value(method, acoustic[i], s.nyquist[r], guide,
                                   sine, pointing.vertical, air));
      values.back().auxiliary = s.auxiliary[i];
    }
    const size_t at = m->level(p, h);
    gate_consensus(values, available, method, at, m);
    if (available > 0 && first_gate) {
      first_gate = false;
      // The dwells could have agreed had the first guess told their
      // candidates apart.
      const int32_t ambiguous = m->n_ambiguous[at];
      m->first_gate_ambiguous[p] =
          std::isnan(m->tv[at]) && ambiguous >= 2 &&
          ambiguous >= method.consensus.min_fraction * available;
    }
    if (std::isfinite(m->tv_uncorrected[at])) {
      below_k = m->tv_uncorrected[at];
      below_z = z;
      ++cells;
    }
  }
  return cells;
}

// The median of |v| over the finite values of a set in a period (of at
// most about 256 of them, evenly spread: enough to tell sound from air).
double median_speed(const std::vector<float>& values) {
  constexpr size_t kSample = 256;
  const size_t stride = std::max<size_t>(1, values.size() / kSample);
  std::vector<float> a;
  a.reserve(std::min(values.size(), 2 * kSample));
  for (size_t i = 0; i < values.size(); i += stride) {
    if (std::isfinite(values[i])) a.push_back(std::fabs(values[i]));
  }
  if (a.empty()) return 0.0;
  std::nth_element(a.begin(), a.begin() + static_cast<ptrdiff_t>(a.size() / 2),
                   a.end());
  return a[a.size() / 2];
}

// The consensus of every gate of period p from that period's dwells, with
// the method's acoustic set or, with kAcousticSetAuto, set 1 when the
// dwells have one set and otherwise the set whose stored velocities lie
// farther from 0: the other one holds the air's motion, a few m/s, while
// the sound's lie near the speed of sound (unaliased) or anywhere in
// [-V, V) as c folds (aliased).
void rass_period(const RassSeries& s, size_t p, const RassMethod& method,
                 const WindAir& wind, const WindAir::Readings& readings,
                 RassProfiles* m) {
  int set = method.acoustic_set;
  if (set == kAcousticSetAuto) {
    set = s.second_set &&
                  median_speed(s.velocity[1]) > median_speed(s.velocity[0])
              ? 2
              : 1;
  }
  const int64_t cells = rass_profile(s, p, set, method, wind, readings, m);
  m->acoustic_set[p] = cells > 0 ? static_cast<uint8_t>(set) : 0;
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
                       double nyquist, const UnfoldGuide& guide, double sine,
                       bool vertical, const AirMotion& air) {
  DwellValue out;
  const double s = method.velocity_toward ? -1.0 : 1.0;
  const Unfolded u =
      unfold_speed(s * acoustic + method.sound_offset_m_s, nyquist, guide);
  out.status = u.status;
  if (u.status != UnfoldStatus::kOk) return out;
  out.tv_uncorrected = virtual_temperature(u.speed);
  out.tv = out.tv_uncorrected;
  if (!method.w_correction) return out;
  // A true w from the wind modes, where it is air motion.
  const double wind_w =
      std::isfinite(air.wind_w) && !air.wind_rain ? air.wind_w : kNaN;
  double corrected = u.speed;
  bool rain = false;
  if (std::isfinite(air.clear_air)) {
    // The clear-air velocity is the air's whole motion along the beam.
    rain = air.clear_air_rain;
    corrected = u.speed - s * air.clear_air;
    out.w = vertical ? s * air.clear_air / sine : wind_w;
    out.source = kWSameDwell;
  } else if (air.wind_rain) {
    rain = true;
  } else if (std::isfinite(air.wind_along_beam)) {
    corrected = u.speed - air.wind_along_beam;
    out.w = wind_w;
    out.source = kWWindMode;
  } else {
    return out;
  }
  if (rain) {
    // Falling hydrometeors are no air motion: nothing is corrected.
    out.rain = true;
    out.source = kWNone;
    out.w = kNaN;
    if (method.rain_w == RainW::kMissing) out.status = UnfoldStatus::kNone;
    return out;
  }
  const double tv = virtual_temperature(corrected);
  const double t0 =
      std::isfinite(guide.below_k) ? out.tv_uncorrected : guide.first_guess_k;
  if (!(corrected > 0.0) || !(std::fabs(tv - t0) <= kPlausibleK) ||
      (vertical && out.source == kWSameDwell && !std::isfinite(out.w))) {
    out.status = UnfoldStatus::kNone;  // a motion that makes no temperature
    return out;
  }
  out.tv = tv;
  return out;
}

bool clear_air_falls(double w, double width) {
  constexpr double kFallSpeed = 2.0;  // m/s downward
  constexpr double kMinWidth = 0.8;   // m/s
  return (w <= -kFallSpeed) & (width >= kMinWidth);
}

bool clear_air_is_rain(size_t falling, size_t n) {
  constexpr double kMinShare = 0.5;
  constexpr size_t kMinCount = 3;
  return falling >= kMinCount &&
         static_cast<double>(falling) >= kMinShare * static_cast<double>(n);
}

int64_t rass_profile_cells(const InputPlan& plan) {
  int64_t cells = 0;
  for (size_t i : chosen_series(plan, nullptr)) {
    cells += static_cast<int64_t>(plan.period_starts[i].size()) *
             plan.series[i].gates;
  }
  return cells;
}

std::vector<std::string> rass_run_notes(const std::vector<RassProfiles>& modes,
                                        const RassMethod& method) {
  std::vector<std::string> out;
  for (const RassProfiles& m : modes) {
    const std::string mode = "mode " + std::to_string(m.mode) + ": ";
    int64_t sets[3] = {0, 0, 0}, ambiguous = 0;
    for (size_t p = 0; p < m.periods.size(); ++p) {
      if (m.acoustic_set[p] <= 2) ++sets[m.acoustic_set[p]];
      if (m.first_gate_ambiguous[p]) ++ambiguous;
    }
    const std::string periods = std::to_string(m.periods.size());
    if (method.acoustic_set == kAcousticSetAuto) {
      std::string line = mode + "the sound pulse (--acoustic-set auto) ";
      if (sets[1] == 0 && sets[2] == 0) {
        line += "found in no set";
      } else {
        for (int set = 1; set <= 2; ++set) {
          if (sets[set] == 0) continue;
          if (line.back() != ' ') line += ", ";
          line += "in set " + std::to_string(set) + " in " +
                  std::to_string(sets[set]) + " of " + periods + " period(s)";
        }
      }
      out.push_back(line);
    }
    const double spacing = candidate_spacing_k(
        m.nyquist_m_s, first_guess_k(method, 0.0, 0) - 10.0);
    if (method.first_guess_series.empty() && spacing < 2.0 * kPlausibleK) {
      char text[320];
      std::snprintf(text, sizeof text,
                    "the candidates of the unfolding lie %.0f K apart, less "
                    "than the first guess's band of +-%.0f K twice: a first "
                    "guess more than %.0f K off gives a wrong profile; check "
                    "--first-guess (%.1f C at the radar) or give "
                    "--first-guess-file",
                    spacing, kPlausibleK, std::max(0.0, spacing - kPlausibleK),
                    method.first_guess_c);
      out.push_back(mode + text);
    }
    if (ambiguous > 0) {
      out.push_back(mode + "the first gate of " + std::to_string(ambiguous) +
                    " of " + periods +
                    " period(s) was ambiguous; their temperatures are flagged "
                    "suspect");
    }
  }
  return out;
}

void set_rass_flags(RassProfiles* m, const RassMethod& method) {
  QualityField field;
  field.columns = m->height.size();
  for (const Period& p : m->periods) {
    field.slots.push_back(period_slot(p.start, method.period_minutes));
  }
  field.values = m->tv;
  m->tv_flag = quality_flags(field, method.quality);
  // What the check cannot see: a temperature left uncorrected in
  // precipitation, a profile whose first gate was ambiguous.
  const size_t levels = m->height.size();
  for (size_t p = 0; p < m->periods.size(); ++p) {
    for (size_t h = 0; h < levels; ++h) {
      const size_t at = m->level(p, h);
      if (m->tv_flag[at] == kFlagGood &&
          (m->w_source[at] == kWPrecipitation || m->first_gate_ambiguous[p])) {
        m->tv_flag[at] = kFlagSuspect;
      }
    }
  }
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
  std::unique_ptr<WindAir> wind_w;
  ProfileStream wind(
      wind_series, wind_starts, wm,
      [&wind_w](size_t mi, const PeriodProfiles& p) { wind_w->take(mi, p); });
  wind_w = std::make_unique<WindAir>(wind.layouts(), method);

  std::vector<RassProfiles>& modes = run->modes;
  std::vector<WindAir::Readings> readings;
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
      if (s.records() > 0) m.nyquist_m_s = s.nyquist.back();
    }
  };
  const bool read = read_input(
      plan, choice, nullptr,
      [&](size_t series, const RecordFacts& f) {
        const MomentArrays& m = pda_moments;
        if (rass_mode[series] >= 0) {
          RassSeries* s = open.at(series, f.time);
          if (s == nullptr) return;
          add_dwell(f, m, s);
          ++run->dwells;
        } else if (wind_index[series] >= 0) {
          // With the widths and V: the wind method's precipitation check
          // of the vertical beams, and its consensus on the circle.
          const int32_t gates = stored_gates(f, m);
          const bool widths = std::ssize(m.width) >= gates;
          wind.add(static_cast<size_t>(wind_index[series]), f.time,
                   {m.velocity.data(), m.snr.data(),
                    widths ? m.width.data() : nullptr,
                    pda_get_nyquist_velocity(), gates});
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
