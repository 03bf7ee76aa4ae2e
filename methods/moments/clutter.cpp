#include "methods/moments/clutter.h"

#include <algorithm>
#include <cmath>

#include "disk/pda.h"
#include "methods/moments/recompute.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

namespace {

constexpr double kBandRise = 6.0;       // fluctuations of the side level
constexpr double kBandShoulder = 0.05;  // of the rise, 3 points out
constexpr double kMapShare = 0.5;       // of a beam's records
constexpr int64_t kFewestRecords = 3;   // of a beam, to count
constexpr int kSide = 5;                // the side levels: points 5 and 6 out
// Of each beam and mode, the spectra of the first kSurveyAll records and of
// every kSurveyStride-th after are read: a day's map at a fraction of a
// second reading.
constexpr int64_t kSurveyAll = 32;
constexpr int64_t kSurveyStride = 8;

}  // namespace

int narrow_band_at_zero(const float* s, const unsigned char* present,
                        int64_t points, int32_t averages) {
  const int64_t z = points / 2;
  if (z - kSide - 1 < 0 || z + kSide + 1 >= points) return kNoClutter;
  for (int64_t k = z - kSide - 1; k <= z + kSide + 1; ++k) {
    if (!present[k]) return kNoClutter;
  }
  const double f = 1.0 / std::sqrt(static_cast<double>(std::max(averages, 1)));
  const double left = 0.5 * (s[z - kSide] + s[z - kSide - 1]);
  const double right = 0.5 * (s[z + kSide] + s[z + kSide + 1]);
  const double centre = s[z];
  if (!(centre - std::max(left, right) > kBandRise * std::max(left, right) * f))
    return kNoClutter;
  for (const auto& [side, level] : {std::pair{-1, left}, std::pair{1, right}}) {
    const double shoulder = s[z + 3 * side] - level;
    if (!(shoulder < kBandShoulder * (centre - level) + 3.0 * level * f)) {
      return kNoClutter;
    }
  }
  int half = 0;
  while (half < kMaxClutterHalfWidth) {
    const int64_t j = half + 1;
    if (!(s[z - j] - left > 3.0 * left * f) &&
        !(s[z + j] - right > 3.0 * right * f)) {
      break;
    }
    ++half;
  }
  return half;
}

void ClutterSurvey::add(const RecordSpectra& r, int32_t mode, int32_t beam,
                        bool oblique) {
  if (!r.usable || r.points < 2) return;
  ++records_;
  Counts& c = (oblique ? oblique_ : vertical_)[{mode, beam}];
  const size_t gates = static_cast<size_t>(r.gates);
  if (c.seen.size() < gates) {
    c.seen.resize(gates, 0);
    c.widths.resize(gates, {});
  }
  ++c.records;
  for (int64_t g = 0; g < r.gates; ++g) {
    const size_t at = static_cast<size_t>(g * r.points);
    const int half = narrow_band_at_zero(
        r.values.data() + at, r.present.data() + at, r.points, r.averages);
    if (half == kNoClutter) continue;
    ++c.seen[static_cast<size_t>(g)];
    ++c.widths[static_cast<size_t>(g)][static_cast<size_t>(half)];
  }
}

std::map<int32_t, std::vector<int8_t>> ClutterSurvey::bands() const {
  std::map<int32_t, std::vector<int8_t>> out;
  std::map<int32_t, std::vector<const Counts*>> beams;
  for (const auto& [key, c] : oblique_) {
    if (c.records >= kFewestRecords) beams[key.first].push_back(&c);
  }
  // A mode without oblique beams: its vertical beams decide.
  std::map<int32_t, std::vector<const Counts*>> vertical;
  for (const auto& [key, c] : vertical_) {
    if (c.records >= kFewestRecords && !beams.count(key.first)) {
      vertical[key.first].push_back(&c);
    }
  }
  beams.insert(vertical.begin(), vertical.end());
  for (const auto& [mode, counts] : beams) {
    size_t gates = 0;
    for (const Counts* c : counts) gates = std::max(gates, c->seen.size());
    std::vector<int8_t>& band = out[mode];
    band.assign(gates, kNoClutter);
    for (size_t g = 0; g < gates; ++g) {
      bool everywhere = true;
      std::array<int64_t, kMaxClutterHalfWidth + 1> widths{};
      int64_t seen = 0;
      for (const Counts* c : counts) {
        const int64_t here = g < c->seen.size() ? c->seen[g] : 0;
        everywhere &= static_cast<double>(here) >=
                      kMapShare * static_cast<double>(c->records);
        if (g < c->widths.size()) {
          for (size_t w = 0; w < widths.size(); ++w) {
            widths[w] += c->widths[g][w];
          }
        }
        seen += here;
      }
      if (!everywhere || seen == 0) continue;
      // The median half-width of the bands seen.
      int64_t below = 0;
      for (size_t w = 0; w < widths.size(); ++w) {
        below += widths[w];
        if (2 * below >= seen) {
          band[g] = static_cast<int8_t>(w);
          break;
        }
      }
    }
  }
  return out;
}

FirstLook::FirstLook(int32_t radar, bool survey, AxisTally* axis)
    : radar_(radar), survey_on_(survey), axis_(axis) {}

bool FirstLook::done() const {
  return !survey_on_ && (axis_ == nullptr || axis_->full());
}

void FirstLook::add(const RecordFacts& f) {
  if (done() || (radar_ >= 0 && f.radar != radar_) || f.spectra_flag == 0 ||
      f.spectral_points >= kRassSpectralPoints || !f.beam_described) {
    return;
  }
  const int64_t index = seen_[{f.mode, f.beam}]++;
  const bool for_axis = axis_ != nullptr && !axis_->full();
  const bool for_survey =
      survey_on_ && (index < kSurveyAll || index % kSurveyStride == 0);
  if (!for_axis && !for_survey) return;
  pda_decode_record();
  if (for_axis) axis_->add(f, pda_moments, pda_get_nyquist_velocity());
  if (for_survey) {
    load_record_spectra(f, pda_moments, pda_get_nyquist_velocity(),
                        current_spectral_averages(f), false, &spectra_);
    const double elevation =
        f.elevation > 90.0f ? f.elevation / 100.0 : f.elevation;
    survey_.add(spectra_, f.mode, f.beam, elevation < 85.0);
  }
  pda_release_moments();
}

std::map<int32_t, std::vector<int8_t>> FirstLook::bands() const {
  return survey_on_ ? survey_.bands()
                    : std::map<int32_t, std::vector<int8_t>>{};
}

namespace {

// Reads the pair at path as look, up to the end of its records or until
// look is done; leaves the access module reset.
bool read_first_look(const std::string& path, FirstLook& look,
                     std::string* error) {
  PairInput input;
  if (!open_pair(path, &input, error)) return false;
  int new_header = 0;
  while (!look.done() && pda_read_record_header(&new_header) == 0) {
    const int64_t offset = pda_current_offset();
    look.add(current_facts());
    if (pda_current_offset() == offset) pda_advance_record();
  }
  pda_release_moments();
  pda_reset();
  return true;
}

}  // namespace

bool learn_clutter_map(const std::string& path, int32_t radar,
                       std::map<int32_t, std::vector<int8_t>>* bands,
                       std::string* error, AxisTally* axis) {
  FirstLook look(radar, true, axis);
  if (!read_first_look(path, look, error)) return false;
  *bands = look.bands();
  return true;
}

bool choose_axis(const std::string& path, int32_t radar,
                 const MomentsMethod& method, AxisVerdict* verdict,
                 std::string* error) {
  AxisTally tally(method);
  FirstLook look(radar, false, &tally);
  if (!read_first_look(path, look, error)) return false;
  *verdict = tally.verdict();
  return true;
}

}  // namespace quellmar::companions
