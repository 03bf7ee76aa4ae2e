// Fuzz target for the per-gate moments method: arbitrary spectra (NaN,
// infinities, zeros, negative values, one point, all equal) through the
// clutter map, the analysis (noise floor, clutter band, valleys, tail
// windows) and the peak choice with precipitation of quellmar-moments.
// Never a crash, and never a non-finite moment given as valid.
//
// Input: byte 0 gates - 1 (mod 8), byte 1-2 spectral points (mod 300),
// byte 3 spectral averages, bytes 4-7 the Nyquist velocity (float), byte 8
// method switches (bit 4: no tail window; bit 5: the clutter map learnt
// from the records; bits 6-7 otherwise: a clutter band of that half-width
// at every gate, 0: none), byte 9 K and M; then float values, gate after
// gate (missing ones read as 0), and one presence bit per value after
// them.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "methods/moments/clutter.h"
#include "methods/moments/method.h"
#include "methods/moments/peak_choice.h"

using namespace quellmar::companions;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  RecordSpectra r;
  r.gates = 1 + data[0] % 8;
  r.points = (data[1] | (data[2] << 8)) % 300;
  r.averages = data[3];
  float nyquist = 0.0f;
  std::memcpy(&nyquist, data + 4, sizeof nyquist);
  r.nyquist = nyquist;
  MomentsMethod method;
  method.clutter = data[8] & 1;
  method.interference = data[8] & 2;
  method.peak = data[8] & 4 ? PeakChoice::kStrongest : PeakChoice::kContinuity;
  r.reversed = data[8] & 8;
  method.clutter_points = data[9] % 5;
  method.min_points = 1 + (data[9] >> 4) % 5;
  method.tail_widths = data[8] & 16 ? 0.0 : 3.0;
  const size_t n = static_cast<size_t>(r.gates * r.points);
  r.values.assign(n, 0.0f);
  r.present.assign(n, 1);
  const uint8_t* p = data + 10;
  size_t left = size - 10;
  for (size_t i = 0; i < n && left >= 4; ++i, p += 4, left -= 4) {
    std::memcpy(&r.values[i], p, 4);
  }
  for (size_t i = 0; i < n && left > 0; ++i) {
    r.present[i] = (p[i / 8] >> (i % 8)) & 1;
    if (i % 8 == 7) {
      --left;
    }
  }
  // Records of beams 0 (vertical) and 1 (oblique) in turn.
  std::vector<int8_t> bands;
  if (data[8] & 32) {
    ClutterSurvey survey;
    for (int record = 0; record < 3; ++record) {
      survey.add(r, 0, record % 2, record % 2 == 1);
    }
    const auto map = survey.bands();
    if (map.count(0)) bands = map.at(0);
  } else if (data[8] >> 6) {
    bands.assign(static_cast<size_t>(r.gates),
                 static_cast<int8_t>((data[8] >> 6) - 1));
  }
  PeakChooser chooser(method.peak);
  for (int record = 0; record < 3; ++record) {
    RecordSpectra copy = r;
    AnalysedRecord a;
    a.beam = record % 2;
    a.points = r.points;
    a.nyquist = r.nyquist;
    a.elevation = record % 2 ? 75.0 : 90.0;
    analyse_record(copy, method, &a.gates, bands.empty() ? nullptr : &bands);
    chooser.add(std::move(a));
  }
  chooser.finish();
  AnalysedRecord out;
  while (chooser.next(&out)) {
    for (size_t g = 0; g < out.gates.size(); ++g) {
      if (out.chosen[g] >= out.gates[g].peak_count ||
          out.precip[g] >= out.gates[g].peak_count ||
          ((out.gates[g].flags & kQcPrecipitation) != 0) !=
              (out.precip[g] >= 0)) {
        std::abort();
      }
      const GateMoments m =
          gate_moments(out.gates[g], out.chosen[g], out.points, out.precip[g]);
      if (!std::isnan(m.precip_velocity) &&
          !(std::isfinite(m.precip_velocity) && std::isfinite(m.precip_width) &&
            std::isfinite(m.precip_snr) &&
            std::fabs(m.precip_velocity) <= r.nyquist * 1.0001)) {
        std::abort();
      }
      if (!std::isnan(m.velocity) &&
          !(std::isfinite(m.velocity) && std::isfinite(m.width) &&
            std::isfinite(m.snr) && std::isfinite(m.noise_db) &&
            std::isfinite(m.power_db) && (m.flags & kQcNoSignal) == 0)) {
        std::abort();
      }
      if (!std::isnan(m.velocity) &&
          std::fabs(m.velocity) > r.nyquist * 1.0001) {
        std::abort();
      }
    }
  }
  return 0;
}
