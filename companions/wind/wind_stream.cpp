#include "companions/wind/wind_stream.h"

#include <algorithm>

#include "disk/pda.h"

namespace quellmar::companions {

bool stream_wind_profiles(
    const InputPlan& plan, const RecordChoice& choice, const WindMethod& method,
    const std::function<void(const std::vector<ModeProfiles>&)>& on_layouts,
    const ProfileStream::Sink& sink, int64_t* duplicates, std::string* error) {
  ProfileStream stream(plan.series, plan.period_starts, method, sink);
  on_layouts(stream.layouts());
  return read_input(
      plan, choice,
      [&](size_t series, const RecordFacts& f) {
        // The first moment set: velocity and SNR of each gate.
        const MomentArrays& m = pda_moments;
        const int64_t gates =
            std::min({m.gate_count, static_cast<int64_t>(m.velocity.size()),
                      static_cast<int64_t>(m.snr.size()),
                      static_cast<int64_t>(f.gate_count)});
        stream.add(series, f.time, m.velocity.data(), m.snr.data(),
                   static_cast<int32_t>(std::max<int64_t>(gates, 0)));
      },
      [&](int64_t before) { stream.finish_before(before); }, duplicates, error);
}

}  // namespace quellmar::companions
