// Wind profiles period by period as the records come: a period's
// consensus and fit are made, and its records dropped, as soon as the
// period is finished.

#ifndef QUELLMAR_COMPANIONS_WIND_PROFILE_STREAM_H
#define QUELLMAR_COMPANIONS_WIND_PROFILE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "methods/pairs/pair_input.h"
#include "methods/pairs/period_buffer.h"
#include "methods/wind/profiles.h"

namespace quellmar::companions {

// Profiles period by period as the records come: the consensus of a
// period is formed, and its records dropped, once the period is finished.
// The series are planned beforehand (beams, geometry, gates; no records),
// with the starts of the periods each one's records fall in.
// One record's values at its gates (the arrays hold gate_count values).
struct RecordValues {
  const float* velocity = nullptr;  // m/s
  const float* snr = nullptr;       // dB
  const float* width = nullptr;     // m/s; nullptr: none
  float nyquist_ms = 0.f;           // V of the record's mode; 0: unknown
  int32_t gate_count = 0;
};

class ProfileStream {
 public:
  using Sink = std::function<void(size_t mode, const PeriodProfiles&)>;
  ProfileStream(const std::vector<PlannedSeries>& plan,
                const std::vector<std::vector<int64_t>>& period_starts,
                const WindMethod& method, Sink sink);

  // Every mode's layout: all of ModeProfiles but the values.
  const std::vector<ModeProfiles>& layouts() const { return modes_; }

  // One record of the planned series index. A record of a period already
  // finished is not taken (the input's order rules it out).
  // Without widths and Nyquist velocity (no precipitation check, nothing on
  // the circle); the RecordValues form takes both.
  void add(size_t series, int32_t time, const float* velocity, const float* snr,
           int32_t gate_count);
  void add(size_t series, int32_t time, const RecordValues& values);
  // Hands every period that ends at or before `time` to the sink, in time
  // order and, within a period, by mode.
  void finish_before(int64_t time);

 private:
  struct Place {
    size_t mode = 0;
    size_t beam = 0;
    bool vertical = false;  // the beam's widths are kept (rain in w)
  };
  void finish(int64_t start, std::vector<BeamSeries>& records);
  // The gate flags of a period's consensus values: precipitation in the
  // vertical beams, unfolding beyond the Nyquist velocity.
  void examine_period(size_t mi, const Period& period,
                      const std::vector<BeamSeries>& records,
                      PeriodProfiles* p);
  // Per mode: the unfolded values (beam x gate) of the last period and
  // its end.
  struct Previous {
    int64_t end = std::numeric_limits<int64_t>::min();
    std::vector<float> values;
  };

  WindMethod method_;
  Sink sink_;
  std::vector<ModeProfiles> modes_;
  std::vector<Place> places_;                         // per series
  std::vector<std::vector<size_t>> mode_series_;      // per mode, by beam
  std::vector<std::vector<HeightReading>> readings_;  // per mode: beam x height
  PeriodBuffer<BeamSeries> open_;   // the records of the open periods
  std::vector<Previous> previous_;  // per mode
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_PROFILE_STREAM_H
