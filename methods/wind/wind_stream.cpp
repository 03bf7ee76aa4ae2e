#include "methods/wind/wind_stream.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <set>

#include "disk/pda.h"

namespace quellmar::companions {

namespace {

// Records handed to a source come back later: a period may be finished
// only when no record of it is still inside the source.
class SourcedRecords {
 public:
  SourcedRecords(RecordMomentsSource* source, ProfileStream* stream)
      : source_(source), stream_(stream) {}

  void add(size_t series, const RecordFacts& f) {
    source_->add(f, pda_moments);
    inside_.insert(f.time);
    series_.push_back(series);
    nyquist_.push_back(pda_get_nyquist_velocity());
    drain();
  }
  void finished(int64_t before) {
    if (before == std::numeric_limits<int64_t>::max()) {
      source_->finish();
    }
    before_ = std::max(before_, before);
    drain();
  }

 private:
  void drain() {
    RecordFacts f;
    while (source_->next(&f, &velocity_, &snr_)) {
      const size_t gates = std::min(velocity_.size(), snr_.size());
      // The spectra's clear-air peak gives w: no widths, so no
      // precipitation check on it.
      stream_->add(series_.front(), f.time,
                   {velocity_.data(), snr_.data(), nullptr, nyquist_.front(),
                    static_cast<int32_t>(gates)});
      series_.pop_front();
      nyquist_.pop_front();
      inside_.erase(inside_.find(f.time));
    }
    const int64_t oldest_inside = inside_.empty()
                                      ? std::numeric_limits<int64_t>::max()
                                      : *inside_.begin();
    stream_->finish_before(std::min(before_, oldest_inside));
  }

  RecordMomentsSource* source_;
  ProfileStream* stream_;
  std::multiset<int32_t> inside_;  // times of the records inside
  std::deque<size_t> series_;      // their series, in order
  std::deque<float> nyquist_;      // their Nyquist velocities, in order
  int64_t before_ = std::numeric_limits<int64_t>::min();
  std::vector<float> velocity_, snr_;
};

}  // namespace

bool stream_wind_profiles(
    const InputPlan& plan, const RecordChoice& choice, const WindMethod& method,
    const std::function<void(const std::vector<ModeProfiles>&)>& on_layouts,
    const ProfileStream::Sink& sink, int64_t* duplicates, std::string* error,
    RecordMomentsSource* source) {
  ProfileStream stream(plan.series, plan.period_starts, method, sink);
  on_layouts(stream.layouts());
  if (source == nullptr) {
    return read_input(
        plan, choice, nullptr,
        [&](size_t series, const RecordFacts& f) {
          const MomentArrays& m = pda_moments;
          const int32_t gates = stored_gates(f, m);
          const bool widths = std::ssize(m.width) >= gates;
          stream.add(series, f.time,
                     {m.velocity.data(), m.snr.data(),
                      widths ? m.width.data() : nullptr,
                      pda_get_nyquist_velocity(), gates});
        },
        [&](int64_t before) { stream.finish_before(before); }, duplicates,
        error);
  }
  SourcedRecords sourced(source, &stream);
  return read_input(
      plan, choice,
      [source](const std::string& path, std::string* e) {
        return source->begin_pair(path, e);
      },
      [&](size_t series, const RecordFacts& f) { sourced.add(series, f); },
      [&](int64_t before) { sourced.finished(before); }, duplicates, error);
}

}  // namespace quellmar::companions
