#include "companions/wind/input.h"

#include <algorithm>
#include <map>

#include "disk/pda.h"

namespace quellmar::companions {

namespace {

// The gates of a decoded record that hold a velocity and an SNR.
size_t stored_gates(const RecordFacts& f, const MomentArrays& m) {
  const int64_t gates = std::min(
      {m.gate_count, static_cast<int64_t>(m.velocity.size()),
       static_cast<int64_t>(m.snr.size()), static_cast<int64_t>(f.gate_count)});
  return static_cast<size_t>(std::max<int64_t>(gates, 0));
}

void pool_record(const RecordFacts& f, const float* velocity, const float* snr,
                 size_t gates, std::map<SeriesKey, BeamSeries>* out) {
  BeamSeries& s = (*out)[{f.mode, f.beam, geometry_of(f)}];
  s.mode = f.mode;
  s.beam = f.beam;
  s.geometry = geometry_of(f);
  s.add(f.time, velocity, snr, static_cast<int32_t>(gates));
}

// The stored moments of each record, handed on at once.
class StoredMoments : public RecordMomentsSource {
 public:
  bool begin_pair(const std::string&, std::string*) override { return true; }
  void add(const RecordFacts& f, const MomentArrays& m) override {
    const size_t n = stored_gates(f, m);
    facts_ = f;
    velocity_.assign(m.velocity.begin(), m.velocity.begin() + n);
    snr_.assign(m.snr.begin(), m.snr.begin() + n);
    ready_ = true;
  }
  void finish() override {}
  bool next(RecordFacts* f, std::vector<float>* velocity,
            std::vector<float>* snr) override {
    if (!ready_) return false;
    ready_ = false;
    *f = facts_;
    velocity->swap(velocity_);
    snr->swap(snr_);
    return true;
  }

 private:
  RecordFacts facts_;
  std::vector<float> velocity_, snr_;
  bool ready_ = false;
};

// Pools the records the source has ready into the series.
void pool_ready(RecordMomentsSource* source,
                std::map<SeriesKey, BeamSeries>* out) {
  RecordFacts f;
  std::vector<float> velocity, snr;
  while (source->next(&f, &velocity, &snr)) {
    pool_record(f, velocity.data(), snr.data(),
                std::min(velocity.size(), snr.size()), out);
  }
}

}  // namespace

void add_wind_record(const RecordFacts& f, const MomentArrays& m,
                     std::map<SeriesKey, BeamSeries>* series) {
  pool_record(f, m.velocity.data(), m.snr.data(), stored_gates(f, m), series);
}

bool read_wind_input(const std::vector<std::string>& paths, int32_t radar,
                     WindInput* out, std::string* error,
                     RecordMomentsSource* source) {
  StoredMoments stored;
  if (source == nullptr) source = &stored;
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
                 std::to_string(kMaxPooledValues) +
                 " one run pools; give fewer files";
      return false;
    }
    return true;
  };
  request.begin_pair = [source](const std::string& path, std::string* message) {
    return source->begin_pair(path, message);
  };
  request.take = [source, &series](const RecordFacts& f,
                                   const MomentArrays& m) {
    source->add(f, m);
    pool_ready(source, &series);
  };
  request.finish = [source, &series] {
    source->finish();
    pool_ready(source, &series);
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
