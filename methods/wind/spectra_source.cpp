#include "methods/wind/spectra_source.h"

#include <limits>
#include <map>

#include "methods/moments/clutter.h"

namespace quellmar::companions {

SpectraMoments::SpectraMoments(const MomentsMethod& method, int32_t radar)
    : method_(method),
      radar_(radar),
      moments_(method, method.axis == AxisChoice::kCentredReversed) {}

bool SpectraMoments::begin_pair(const std::string& path, std::string* error) {
  // The clutter map and the axis from one reading of the file.
  const bool auto_axis = method_.axis == AxisChoice::kAuto;
  std::map<int32_t, std::vector<int8_t>> clutter;
  AxisTally tally(method_);
  if (method_.clutter && !learn_clutter_map(path, radar_, &clutter, error,
                                            auto_axis ? &tally : nullptr)) {
    return false;
  }
  moments_.set_clutter_map(std::move(clutter));
  if (!auto_axis) return true;
  AxisVerdict verdict = tally.verdict();
  if (!method_.clutter &&
      !choose_axis(path, radar_, method_, &verdict, error)) {
    return false;
  }
  moments_.set_reversed(verdict.reversed);
  notes_.push_back(path + ": velocity axis " + verdict.text);
  return true;
}

void SpectraMoments::add(const RecordFacts& f, const MomentArrays& m) {
  waiting_.push_back(f);
  moments_.add(tag_++, f, m, pda_get_nyquist_velocity(),
               current_spectral_averages(f));
}

void SpectraMoments::finish() { moments_.finish(); }

bool SpectraMoments::next(RecordFacts* f, std::vector<float>* velocity,
                          std::vector<float>* snr) {
  int64_t tag = 0;
  if (waiting_.empty() || !moments_.next(&tag, &gates_)) return false;
  *f = waiting_.front();
  waiting_.pop_front();
  velocity->resize(gates_.size());
  snr->resize(gates_.size());
  for (size_t g = 0; g < gates_.size(); ++g) {
    // Clear air only: a gate that sees nothing but precipitation gives no
    // velocity to the wind.
    const bool rain = gates_[g].precipitation_only;
    (*velocity)[g] =
        rain ? std::numeric_limits<float>::quiet_NaN() : gates_[g].velocity;
    (*snr)[g] = rain ? std::numeric_limits<float>::quiet_NaN() : gates_[g].snr;
  }
  return true;
}

}  // namespace quellmar::companions
