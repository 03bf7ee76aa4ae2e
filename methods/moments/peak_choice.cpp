#include "methods/moments/peak_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quellmar::companions {

namespace {

// The distance between two velocities on the circle of the spectrum.
double circular_distance(double a, double b, double nyquist) {
  const double d = std::fabs(a - b);
  if (!(nyquist > 0.0)) return d;
  const double span = 2.0 * nyquist;
  const double r = std::fmod(d, span);
  return std::min(r, span - r);
}

// The median of velocities on the circle of width 2V: each is unwrapped to
// within V of their circular mean (the direction of the sum of the unit
// vectors at angles pi v / V) and the median of the unwrapped values is
// folded back into [-V, V). Velocities that straddle +-V thus gather near
// +-V instead of averaging to 0 m/s. values is reordered.
double circular_median(std::vector<float>& values, double nyquist) {
  if (nyquist > 0.0) {
    const double scale = M_PI / nyquist;
    double s = 0.0, c = 0.0;
    for (const float v : values) {
      s += std::sin(scale * v);
      c += std::cos(scale * v);
    }
    // No preferred direction (opposite velocities balance): the plain
    // median, as unwrapping about an arbitrary centre would be no better.
    if (std::hypot(s, c) > 1e-9 * static_cast<double>(values.size())) {
      const double centre = std::atan2(s, c) / scale;
      const double span = 2.0 * nyquist;
      for (float& v : values) {
        const double d = v - centre;
        v = static_cast<float>(centre + d - span * std::floor(d / span + 0.5));
      }
    }
  }
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  double median = values[mid];
  if (values.size() % 2 == 0) {
    const float below = *std::max_element(values.begin(), values.begin() + mid);
    median = 0.5 * (median + below);
  }
  if (!(nyquist > 0.0)) return median;
  const double span = 2.0 * nyquist;
  return median - span * std::floor((median + nyquist) / span);
}

}  // namespace

void PeakChooser::add(AnalysedRecord record) {
  auto e = std::make_shared<Entry>();
  e->record = std::move(record);
  const size_t gates = e->record.gates.size();
  e->record.chosen.assign(gates, -1);
  e->record.precip.assign(gates, -1);
  e->first_pass.assign(gates, std::numeric_limits<float>::quiet_NaN());
  precipitation_candidates(e->record.gates, e->record.elevation,
                           e->record.nyquist, &e->candidates);
  e->order = order_++;
  for (size_t g = 0; g < gates; ++g) {
    const GateAnalysis& a = e->record.gates[g];
    if (a.peak_count > 0) {
      e->record.chosen[g] = 0;
      // Neighbours follow the clear air, not the rain.
      const int clear = e->candidates[g].clear;
      e->first_pass[g] =
          static_cast<float>(a.peaks[clear >= 0 ? clear : 0].velocity);
    }
  }
  if (choice_ == PeakChoice::kStrongest) {
    for (size_t g = 0; g < gates; ++g) {
      if (e->candidates[g].precip >= 0) take_precipitation(*e, g);
    }
    keep_vertical_rain(*e);
    mark_rain_alone(*e);
    e->decided = true;
    waiting_.push_back(std::move(e));
    return;
  }
  auto& beam = beams_[e->record.beam];
  beam.push_back(e);
  waiting_.push_back(std::move(e));
  // The record kSpan back in this beam now has its kSpan later ones.
  size_t undecided = 0;
  while (undecided < beam.size() && beam[undecided]->decided) ++undecided;
  if (beam.size() - undecided > kSpan) {
    decide(*beam[undecided], beam, undecided);
    trim(beam);
  }
  // Too many waiting: the oldest (the oldest undecided of its beam) is
  // decided with the records there are.
  if (waiting_.size() > kMaxWaiting && !waiting_.front()->decided) {
    Beam& b = beams_[waiting_.front()->record.beam];
    size_t at = 0;
    while (at < b.size() && b[at] != waiting_.front()) ++at;
    if (at < b.size()) {
      decide(*b[at], b, at);
      trim(b);
    }
  }
}

void PeakChooser::trim(Beam& beam) {
  size_t decided = 0;
  while (decided < beam.size() && beam[decided]->decided) ++decided;
  while (decided > kSpan) {
    beam.pop_front();
    --decided;
  }
}

void PeakChooser::finish() {
  for (auto& [number, beam] : beams_) {
    for (size_t i = 0; i < beam.size(); ++i) {
      if (!beam[i]->decided) decide(*beam[i], beam, i);
    }
  }
}

bool PeakChooser::next(AnalysedRecord* record) {
  if (waiting_.empty() || !waiting_.front()->decided) return false;
  *record = std::move(waiting_.front()->record);
  waiting_.pop_front();
  return true;
}

void PeakChooser::take_precipitation(Entry& e, size_t g) {
  const PrecipitationCandidate& c = e.candidates[g];
  e.record.chosen[g] = c.clear >= 0 ? c.clear : c.precip;
  e.record.precip[g] = c.precip;
  e.record.gates[g].flags |= kQcPrecipitation;
}

void PeakChooser::decide(Entry& e, const Beam& beam, size_t at) {
  const size_t from = at >= kSpan ? at - kSpan : 0;
  const size_t to = std::min(beam.size(), at + kSpan + 1);
  const size_t near_from =
      at >= kPrecipitationSpan ? at - kPrecipitationSpan : 0;
  const size_t near_to = std::min(beam.size(), at + kPrecipitationSpan + 1);
  for (size_t g = 0; g < e.record.gates.size(); ++g) {
    const GateAnalysis& a = e.record.gates[g];
    if (e.candidates[g].precip >= 0) {
      // Precipitation lasts: seen at this gate or one next to it in a
      // neighbouring record of the beam, at about the same velocity (birds
      // above the wind, whose clear air lies toward the radar from them,
      // next to a rain hour are not its rain).
      bool lasting = false;
      const double velocity = e.candidates[g].velocity;
      for (size_t i = near_from; i < near_to && !lasting; ++i) {
        if (i == at) continue;
        const auto& c = beam[i]->candidates;
        for (size_t h = g > 0 ? g - 1 : 0; h <= g + 1 && h < c.size(); ++h) {
          lasting |= c[h].precip >= 0 &&
                     circular_distance(c[h].velocity, velocity,
                                       e.record.nyquist) <= kPrecipitationDrift;
        }
      }
      if (lasting) {
        take_precipitation(e, g);
        continue;
      }
    }
    if (a.peak_count < 2) continue;
    scratch_.clear();
    for (size_t i = from; i < to; ++i) {
      if (i == at) continue;
      const std::vector<float>& fp = beam[i]->first_pass;
      if (g < fp.size() && !std::isnan(fp[g])) scratch_.push_back(fp[g]);
    }
    if (scratch_.empty()) continue;
    const double median = circular_median(scratch_, e.record.nyquist);
    int best = 0;
    double best_distance = std::numeric_limits<double>::infinity();
    for (int k = 0; k < a.peak_count; ++k) {
      const double d =
          circular_distance(a.peaks[k].velocity, median, e.record.nyquist);
      if (d < best_distance) {
        best_distance = d;
        best = k;
      }
    }
    e.record.chosen[g] = best;
    if (best != 0) e.record.gates[g].flags |= kQcContinuity;
  }
  keep_vertical_rain(e);
  mark_rain_alone(e);
  e.decided = true;
}

void PeakChooser::keep_vertical_rain(const Entry& e) {
  if (e.record.elevation < kVerticalElevation) return;
  const size_t gates = e.record.gates.size();
  VerticalRain v;
  v.order = e.order;
  v.mode = e.record.mode;
  v.width.assign(gates, 0.0f);
  v.velocity.assign(gates, 0.0f);
  for (size_t g = 0; g < gates; ++g) {
    const int p = e.record.precip[g];
    if (p < 0 || p >= e.record.gates[g].peak_count) continue;
    const Peak& q = e.record.gates[g].peaks[static_cast<size_t>(p)];
    v.width[g] = static_cast<float>(q.width);
    v.velocity[g] = static_cast<float>(q.velocity);
  }
  vertical_rain_.push_back(std::move(v));
  if (vertical_rain_.size() > kMaxWaiting + 1) vertical_rain_.pop_front();
}

void PeakChooser::mark_rain_alone(Entry& e) const {
  const bool vertical = e.record.elevation >= kVerticalElevation;
  const VerticalRain* before = nullptr;
  const VerticalRain* after = nullptr;
  for (const VerticalRain& v : vertical_rain_) {
    if (v.mode != e.record.mode || v.order == e.order) continue;
    if (v.order < e.order && (before == nullptr || v.order > before->order)) {
      before = &v;
    }
    if (v.order > e.order && (after == nullptr || v.order < after->order)) {
      after = &v;
    }
  }
  if (before == nullptr && after == nullptr) return;
  // As wide as the vertical beam's precipitation at the gate (and, in
  // the vertical beam, as fast).
  const double nyquist = e.record.nyquist;
  auto like_rain = [vertical, nyquist](const VerticalRain* v, size_t g,
                                       const Peak& p) {
    return v != nullptr && g < v->width.size() && v->width[g] > 0.0f &&
           p.width >= kRainWidthShare * v->width[g] &&
           (!vertical || circular_distance(p.velocity, v->velocity[g],
                                           nyquist) <= kPrecipitationDrift);
  };
  for (size_t g = 0; g < e.record.gates.size(); ++g) {
    GateAnalysis& a = e.record.gates[g];
    const int chosen = e.record.chosen[g];
    if ((a.flags & kQcPrecipitation) || chosen < 0 || chosen >= a.peak_count) {
      continue;
    }
    const Peak& p = a.peaks[static_cast<size_t>(chosen)];
    if (!like_rain(before, g, p) && !like_rain(after, g, p)) continue;
    e.record.precip[g] = chosen;
    a.flags |= kQcPrecipitation;
  }
}

}  // namespace quellmar::companions
