// The moments method under the conditions of real days: velocities that
// straddle the ends of the spectrum, echoes that fill the band, weak echoes
// whose tails fall below the noise threshold, clutter spread over several
// points, precipitation beside clear air. Peak choice is driven with
// analysed records directly; the rest goes through spectra of known truth
// analysed record by record.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "companions/moments/continuity.h"
#include "companions/moments/method.h"

namespace quellmar::test {
namespace {

namespace qc = quellmar::companions;

qc::GateAnalysis gate_with(std::vector<std::pair<double, double>> peaks) {
  qc::GateAnalysis a;
  a.noise = 1.0;
  for (const auto& [velocity, power] : peaks) {
    qc::Peak p;
    p.velocity = velocity;
    p.power = power;
    p.width = 0.5;
    a.peaks[static_cast<size_t>(a.peak_count++)] = p;
  }
  if (a.peak_count == 0) a.flags = qc::kQcNoSignal;
  if (a.peak_count > 1) a.flags |= qc::kQcSeveralPeaks;
  return a;
}

TEST(MomentsContinuity, WindowIsFiveRecordsOfTheBeamEachSideOnTheCircle) {
  // Beam 0 records 0..12 (a beam 1 record between each, which must not
  // count). Record 6 is examined. Gates 0..11 probe one neighbour offset
  // each (-6..-1, 1..6): only that neighbour has a peak there, at 5 m/s,
  // and record 6 has a strong peak at 0 m/s and a weak one at 5 m/s, so
  // the weak one is chosen exactly when the neighbour is in the window.
  // Gates 12 and 13: the neighbours' peaks straddle +-V (V = 10 m/s).
  constexpr double kV = 10.0;
  const int offsets[12] = {-6, -5, -4, -3, -2, -1, 1, 2, 3, 4, 5, 6};
  qc::PeakChooser chooser(qc::PeakChoice::kContinuity);
  std::vector<qc::AnalysedRecord> out;
  int64_t tag = 0;
  for (int i = 0; i <= 12; ++i) {
    for (int beam = 0; beam < 2; ++beam) {
      qc::AnalysedRecord r;
      r.tag = tag++;
      r.beam = beam;
      r.points = 64;
      r.nyquist = kV;
      for (int g = 0; g < 12; ++g) {
        if (beam == 1) {
          r.gates.push_back(gate_with({{0.0, 1.0}}));
        } else if (i == 6) {
          r.gates.push_back(gate_with({{0.0, 10.0}, {5.0, 1.0}}));
        } else if (i - 6 == offsets[g]) {
          r.gates.push_back(gate_with({{5.0, 1.0}}));
        } else {
          r.gates.push_back(gate_with({}));
        }
      }
      // +9.6 .. +9.7 m/s before, -9.7 .. -9.8 m/s after: a plain median
      // would lie near 0 m/s.
      const double around =
          i < 6 ? 9.6 + 0.05 * (i % 3) : -9.7 - 0.05 * (i % 3);
      if (beam == 0 && i == 6) {
        // The atmosphere is the strongest: nothing to change.
        r.gates.push_back(gate_with({{9.8, 10.0}, {0.4, 2.0}}));
        // The atmosphere is the weaker, across the end of the spectrum.
        r.gates.push_back(gate_with({{0.4, 10.0}, {-9.6, 2.0}}));
      } else {
        r.gates.push_back(gate_with({{around, 1.0}}));
        r.gates.push_back(gate_with({{around, 1.0}}));
      }
      chooser.add(std::move(r));
      qc::AnalysedRecord done;
      while (chooser.next(&done)) out.push_back(std::move(done));
    }
  }
  chooser.finish();
  qc::AnalysedRecord done;
  while (chooser.next(&done)) out.push_back(std::move(done));
  ASSERT_EQ(out.size(), 26u);
  const qc::AnalysedRecord& r = out[12];
  ASSERT_EQ(r.tag, 12);
  for (int g = 0; g < 12; ++g) {
    SCOPED_TRACE("neighbour offset " + std::to_string(offsets[g]));
    const bool inside = std::abs(offsets[g]) <= 5;
    EXPECT_EQ(r.chosen[static_cast<size_t>(g)], inside ? 1 : 0);
    EXPECT_EQ((r.gates[static_cast<size_t>(g)].flags & qc::kQcContinuity) != 0,
              inside);
  }
  EXPECT_EQ(r.chosen[12], 0);
  EXPECT_EQ(r.gates[12].flags & qc::kQcContinuity, 0);
  EXPECT_EQ(r.chosen[13], 1);
  EXPECT_NE(r.gates[13].flags & qc::kQcContinuity, 0);
}

}  // namespace
}  // namespace quellmar::test
