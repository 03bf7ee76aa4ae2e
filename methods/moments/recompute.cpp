#include "methods/moments/recompute.h"

#include <algorithm>
#include <cmath>

#include "methods/pairs/spectrum_shape.h"

namespace quellmar::companions {

namespace {

// A window that starts before point 1 or ends past the last point.
bool window_outside(int64_t start, int64_t count, int64_t points) {
  return start < 1 || count < 0 || start - 1 + count > points;
}

}  // namespace

const char* axis_name(AxisChoice axis) {
  switch (axis) {
    case AxisChoice::kCentred:
      return "centred";
    case AxisChoice::kCentredReversed:
      return "centred-reversed";
    case AxisChoice::kAuto:
      break;
  }
  return "auto";
}

void load_record_spectra(const RecordFacts& f, const MomentArrays& m,
                         float nyquist, int32_t averages, bool reversed,
                         RecordSpectra* out) {
  RecordSpectra& r = *out;
  r.gates = std::min<int64_t>(m.gate_count, std::max(f.gate_count, 0));
  r.points = std::max(f.spectral_points, 0);
  r.nyquist = nyquist;
  r.averages = averages;
  r.reversed = reversed;
  const SpectrumWindows& w = f.windows;
  r.usable = f.spectra_flag != 0 && r.points >= 2 &&
             !window_outside(w.window1_start, w.window1_points, r.points) &&
             (w.window2_points <= 1 ||
              !window_outside(w.window2_start, w.window2_points, r.points));
  const size_t n = static_cast<size_t>(r.gates * r.points);
  r.values.resize(n);
  r.present.resize(n);
  if (!r.usable) return;
  const SpectrumLineShape shape = spectrum_line_shape(f);
  for (int64_t g = 0; g < r.gates; ++g) {
    pda_spectrum_points(shape, m.spectra_row(g), m.row_length,
                        r.values.data() + g * r.points,
                        r.present.data() + g * r.points);
  }
}

int32_t current_spectral_averages(const RecordFacts& f) {
  if (f.mode < 0 || f.mode >= kModeCount) return 1;
  return std::max<int32_t>(
      pda_parameters.radars[0].modes[f.mode].spectral_averages, 1);
}

RecomputedMoments::RecomputedMoments(const MomentsMethod& method, bool reversed)
    : method_(method),
      reversed_(reversed),
      chooser_(method.peak),
      queue_([this](RecordToAnalyse& job) {
        analyse_record(job.spectra, method_, &job.record.gates,
                       job.clutter_bands);
      }) {}

void RecomputedMoments::add(int64_t tag, const RecordFacts& f,
                            const MomentArrays& m, float nyquist,
                            int32_t averages) {
  std::unique_ptr<RecordToAnalyse> job;
  if (spare_.empty()) {
    job = std::make_unique<RecordToAnalyse>();
  } else {
    job = std::move(spare_.back());
    spare_.pop_back();
  }
  load_record_spectra(f, m, nyquist, averages, reversed_, &job->spectra);
  AnalysedRecord& a = job->record;
  a.tag = tag;
  a.beam = f.beam;
  a.mode = f.mode;
  a.points = job->spectra.points;
  a.nyquist = nyquist;
  a.elevation = f.elevation > 90.0f ? f.elevation / 100.0 : f.elevation;
  a.chosen.clear();
  a.precip.clear();
  job->header_gates = f.gate_count;
  const auto bands = clutter_.find(f.mode);
  job->clutter_bands = bands == clutter_.end() ? nullptr : &bands->second;
  queue_.add(std::move(job));
  collect(kQueuedRecords);
}

void RecomputedMoments::collect(size_t keep) {
  while (queue_.size() > keep) {
    std::unique_ptr<RecordToAnalyse> job = queue_.take();
    AnalysedRecord& a = job->record;
    // Gates the record header counts beyond the decoded ones.
    if (static_cast<int64_t>(a.gates.size()) < job->header_gates) {
      GateAnalysis none;
      none.flags = kQcUnusable | kQcNoSignal;
      a.gates.resize(static_cast<size_t>(job->header_gates), none);
    }
    chooser_.add(std::move(a));
    a = AnalysedRecord{};
    spare_.push_back(std::move(job));
  }
}

void RecomputedMoments::finish() {
  collect(0);
  chooser_.finish();
}

bool RecomputedMoments::next(int64_t* tag, std::vector<GateMoments>* gates) {
  if (!chooser_.next(&analysed_)) return false;
  *tag = analysed_.tag;
  gates->resize(analysed_.gates.size());
  for (size_t g = 0; g < analysed_.gates.size(); ++g) {
    (*gates)[g] = gate_moments(analysed_.gates[g], analysed_.chosen[g],
                               analysed_.points, analysed_.precip[g]);
  }
  return true;
}

AxisTally::AxisTally(const MomentsMethod& method)
    : strongest_(method), queue_([this](RecordToAnalyse& job) {
        analyse_record(job.spectra, strongest_, &job.record.gates);
      }) {
  strongest_.peak = PeakChoice::kStrongest;
}

void AxisTally::add(const RecordFacts& f, const MomentArrays& m,
                    float nyquist) {
  ++records_;
  auto job = std::make_unique<RecordToAnalyse>();
  load_record_spectra(f, m, nyquist, current_spectral_averages(f), false,
                      &job->spectra);
  queued_bytes_ += job->spectra.values.size() * (sizeof(float) + 1);
  stored_.push_back({m.velocity, m.snr});
  queue_.add(std::move(job));
  while (queued_bytes_ > kQueuedBytes) count_oldest();
}

void AxisTally::count_oldest() {
  const std::unique_ptr<RecordToAnalyse> job = queue_.take();
  if (!job) return;
  const Stored m = std::move(stored_.front());
  stored_.pop_front();
  const RecordSpectra& spectra = job->spectra;
  queued_bytes_ -= spectra.values.size() * (sizeof(float) + 1);
  const std::vector<GateAnalysis>& gates = job->record.gates;
  const double step =
      spectra.points > 0
          ? 2.0 * spectra.nyquist / static_cast<double>(spectra.points)
          : 0.0;
  const double near = std::max(2.0 * step, 0.1 * spectra.nyquist);
  for (size_t g = 0; g < gates.size(); ++g) {
    if (g >= m.velocity.size() || g >= m.snr.size()) break;
    const GateMoments x = gate_moments(gates[g], 0, spectra.points);
    const double stored = m.velocity[g];
    if (!(x.snr > -10.0f) || !(m.snr[g] > -10.0f) ||
        !(std::fabs(stored) >= 4.0 * step) ||
        !(std::fabs(stored) <= 0.8 * spectra.nyquist)) {
      continue;
    }
    ++confident_;
    centred_ += std::fabs(x.velocity - stored) <= near;
    reversed_ += std::fabs(-x.velocity - stored) <= near;
  }
}

AxisVerdict AxisTally::verdict() {
  while (!stored_.empty()) count_oldest();
  AxisVerdict v;
  v.confident = confident_;
  v.reversed = reversed_ > centred_;
  v.agreeing = std::max(centred_, reversed_);
  const std::string name = v.reversed ? "centred-reversed" : "centred";
  if (confident_ == 0) {
    v.text = name + " (no gate of the first " + std::to_string(records_) +
             " records where stored and recomputed moments are both "
             "confident)";
  } else {
    char share[32];
    std::snprintf(share, sizeof share, "%.1f%%",
                  100.0 * static_cast<double>(v.agreeing) /
                      static_cast<double>(confident_));
    v.text = name + " (" + share + " of " + std::to_string(confident_) +
             " confident gates of the first " + std::to_string(records_) +
             " records agree)";
  }
  return v;
}

}  // namespace quellmar::companions
