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

#include "companions/moments/clutter.h"
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

// Spectra of known truth: S_k = (sum of echoes + N) X_k, each echo a
// Gaussian of unit sum over the points (summed over its aliases) times its
// power SNR N P, X_k gamma distributed with shape n and mean 1.
constexpr double kV = 10.0;  // m/s
constexpr int kPoints = 64;
constexpr int kAverages = 30;
constexpr double kNoise = 1000.0;
constexpr double kStep = 2.0 * kV / kPoints;

struct Echo {
  double velocity;  // m/s
  double width;     // m/s
  double snr_db;
};

double point_velocity(int k) { return (k - kPoints / 2) * kStep; }

// The mean of the spectrum: the echoes plus N.
std::vector<double> mean_spectrum(const std::vector<Echo>& echoes) {
  std::vector<double> s(kPoints, kNoise);
  for (int k = 0; k < kPoints; ++k) {
    for (const Echo& e : echoes) {
      const double power = std::pow(10.0, e.snr_db / 10.0) * kNoise * kPoints;
      for (int alias = -2; alias <= 2; ++alias) {
        const double d = point_velocity(k) - e.velocity + 2.0 * kV * alias;
        s[static_cast<size_t>(k)] +=
            power * kStep * std::exp(-0.5 * d * d / (e.width * e.width)) /
            (std::sqrt(2 * M_PI) * e.width);
      }
    }
  }
  return s;
}

std::vector<float> known_spectrum(const std::vector<Echo>& echoes,
                                  std::mt19937& rng) {
  std::gamma_distribution<double> x(kAverages, 1.0 / kAverages);
  const std::vector<double> mean = mean_spectrum(echoes);
  std::vector<float> s(kPoints);
  for (int k = 0; k < kPoints; ++k) {
    s[static_cast<size_t>(k)] =
        static_cast<float>(mean[static_cast<size_t>(k)] * x(rng));
  }
  return s;
}

qc::RecordSpectra known_record(const std::vector<std::vector<Echo>>& gates,
                               std::mt19937& rng) {
  qc::RecordSpectra r;
  r.gates = static_cast<int64_t>(gates.size());
  r.points = kPoints;
  r.nyquist = kV;
  r.averages = kAverages;
  for (const auto& echoes : gates) {
    const std::vector<float> s = known_spectrum(echoes, rng);
    r.values.insert(r.values.end(), s.begin(), s.end());
  }
  r.present.assign(r.values.size(), 1);
  return r;
}

// The moments of every gate's strongest peak.
std::vector<qc::GateMoments> strongest_moments(qc::RecordSpectra& r,
                                               const qc::MomentsMethod& m) {
  std::vector<qc::GateAnalysis> gates;
  qc::analyse_record(r, m, &gates);
  std::vector<qc::GateMoments> out;
  for (const auto& a : gates) out.push_back(qc::gate_moments(a, 0, r.points));
  return out;
}

TEST(MomentsNoise, EchoFillingTheBandTakesTheNoiseOfNeighbouringGates) {
  // Gates 8..13: an echo of 20 dB, 3 m/s wide, fills most of the band
  // (V = 10 m/s); the other gates hold a narrow 5 dB echo. The noise must
  // be within 1 dB of the truth everywhere, taken from neighbours exactly
  // at the broad gates, and the broad echo's SNR unbiased.
  std::mt19937 rng(31);
  constexpr int kGates = 24, kRecords = 20;
  auto broad = [](int g) { return g >= 8 && g < 14; };
  double snr_sum = 0.0, width_sum = 0.0;
  int broad_count = 0;
  for (int rec = 0; rec < kRecords; ++rec) {
    std::vector<std::vector<Echo>> gates;
    for (int g = 0; g < kGates; ++g) {
      gates.push_back({broad(g) ? Echo{2.0, 3.0, 20.0} : Echo{-3.0, 0.6, 5.0}});
    }
    qc::RecordSpectra r = known_record(gates, rng);
    const auto m = strongest_moments(r, qc::MomentsMethod{});
    for (int g = 0; g < kGates; ++g) {
      SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                   std::to_string(g));
      const qc::GateMoments& x = m[static_cast<size_t>(g)];
      EXPECT_NEAR(x.noise_db, 30.0, 1.0);
      EXPECT_EQ((x.flags & qc::kQcNoiseFromNeighbours) != 0, broad(g));
      if (!broad(g)) continue;
      EXPECT_NEAR(x.velocity, 2.0, 0.5);
      snr_sum += x.snr;
      width_sum += x.width;
      ++broad_count;
    }
  }
  EXPECT_NEAR(snr_sum / broad_count, 20.0, 0.3);
  EXPECT_NEAR(width_sum / broad_count, 3.0, 0.15);
}

TEST(MomentsTails, WeakEchoesKeepTheirWidthAndPower) {
  // Echoes 0.6 m/s wide at -5 and -10 dB, anywhere in -5 .. 5 m/s: over
  // 2400 gates each, the width, SNR and velocity of the peak found at the
  // echo are without bias (the region above the threshold alone gives
  // -9% and -30% in width, -0.2 and -0.8 dB in SNR).
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> anywhere(-5.0, 5.0);
  constexpr double kWidth = 0.6;
  for (const double snr : {-5.0, -10.0}) {
    SCOPED_TRACE("SNR " + std::to_string(snr) + " dB");
    double width = 0.0, power = 0.0, offset = 0.0;
    int found = 0, lost = 0;
    for (int rec = 0; rec < 100; ++rec) {
      std::vector<std::vector<Echo>> gates;
      for (int g = 0; g < 24; ++g) {
        gates.push_back({Echo{anywhere(rng), kWidth, snr}});
      }
      qc::RecordSpectra r = known_record(gates, rng);
      qc::MomentsMethod method;
      method.clutter = method.interference = false;
      const auto m = strongest_moments(r, method);
      for (size_t g = 0; g < gates.size(); ++g) {
        const double d = m[g].velocity - gates[g][0].velocity;
        if (!(std::fabs(d) < 2 * kWidth)) {
          ++lost;
          continue;
        }
        width += m[g].width;
        power += m[g].snr;
        offset += d;
        ++found;
      }
    }
    EXPECT_LT(lost, found / 20);
    EXPECT_NEAR(width / found, kWidth, 0.03 * kWidth);
    EXPECT_NEAR(power / found, snr, 0.15);
    // About three standard errors of the mean offset.
    EXPECT_NEAR(offset / found, 0.0, 0.006);
  }
}

// Clutter of three shapes at gates 0..5 of every beam, strongest in gate 0
// (3000 N at 0 m/s, falling 3 dB a gate): the vertical beam holds a calm
// echo at 0 m/s as narrow as the clutter (0.4 m/s) at every gate, the two
// oblique beams echoes well apart from 0 m/s.
enum class ClutterShape { kSpike, kHann, kGaussian };
constexpr int kClutterGates = 6;

double clutter_at(ClutterShape shape, int g, int offset) {
  if (g >= kClutterGates) return 0.0;
  const double top = 3000.0 * kNoise * std::pow(10.0, -0.3 * g);
  switch (shape) {
    case ClutterShape::kSpike:
      return offset == 0 ? top : 0.0;
    case ClutterShape::kHann:
      return offset == 0 ? top : std::abs(offset) == 1 ? 0.25 * top : 0.0;
    case ClutterShape::kGaussian:
      return top * std::exp(-0.5 * offset * offset);
  }
  return 0.0;
}

Echo clutter_day_echo(int beam, int g) {
  const double snr = 15.0 - 0.4 * g;
  if (beam == 0) return {0.0, 0.4, snr};
  const double v = 5.5 + 0.1 * g;
  return {beam == 1 ? v : -v, 0.8, snr};
}

TEST(MomentsClutter, BandsAreFoundByTheMapAndCalmEchoesKeptElsewhere) {
  constexpr int kGates = 24, kRecords = 60;  // beams 0, 1, 2 in turn
  for (const ClutterShape shape :
       {ClutterShape::kSpike, ClutterShape::kHann, ClutterShape::kGaussian}) {
    for (const int32_t k : {0, 1}) {
      SCOPED_TRACE("shape " + std::to_string(static_cast<int>(shape)) +
                   ", --clutter-points " + std::to_string(k));
      std::mt19937 rng(11);
      std::gamma_distribution<double> x(kAverages, 1.0 / kAverages);
      std::vector<qc::RecordSpectra> records;
      qc::ClutterSurvey survey;
      for (int rec = 0; rec < kRecords; ++rec) {
        const int beam = rec % 3;
        qc::RecordSpectra r;
        r.gates = kGates;
        r.points = kPoints;
        r.nyquist = kV;
        r.averages = kAverages;
        for (int g = 0; g < kGates; ++g) {
          const std::vector<double> mean =
              mean_spectrum({clutter_day_echo(beam, g)});
          for (int j = 0; j < kPoints; ++j) {
            const double c = clutter_at(shape, g, j - kPoints / 2);
            r.values.push_back(static_cast<float>(
                (mean[static_cast<size_t>(j)] + c) * x(rng)));
          }
        }
        r.present.assign(r.values.size(), 1);
        survey.add(r, 0, beam, beam != 0);
        records.push_back(std::move(r));
      }
      const auto map = survey.bands();
      ASSERT_EQ(map.count(0), 1u);
      const std::vector<int8_t>& bands = map.at(0);
      ASSERT_EQ(bands.size(), static_cast<size_t>(kGates));
      for (int g = 0; g < kGates; ++g) {
        EXPECT_EQ(bands[static_cast<size_t>(g)] >= 0, g < kClutterGates)
            << "gate " << g;
      }
      qc::MomentsMethod method;
      method.clutter_points = k;
      method.interference = false;
      // Per point of the band, the mean left under the oblique beams'
      // clutter once removed, over the noise: N there in truth.
      std::vector<double> left(9, 0.0);
      int oblique_clutter = 0;
      double calm_width = 0.0, calm_snr = 0.0;
      int calm = 0;
      for (int rec = 0; rec < kRecords; ++rec) {
        const int beam = rec % 3;
        qc::RecordSpectra& r = records[static_cast<size_t>(rec)];
        std::vector<qc::GateAnalysis> gates;
        qc::analyse_record(r, method, &gates, &bands);
        for (int g = 0; g < kGates; ++g) {
          SCOPED_TRACE("record " + std::to_string(rec) + " gate " +
                       std::to_string(g));
          const qc::GateAnalysis& a = gates[static_cast<size_t>(g)];
          EXPECT_EQ((a.flags & qc::kQcClutter) != 0, g < kClutterGates);
          const qc::GateMoments m = qc::gate_moments(a, 0, kPoints);
          const Echo truth = clutter_day_echo(beam, g);
          // A calm vertical echo under clutter goes with it (the limit of
          // the rule); everywhere else the velocity is the truth's.
          if (beam != 0 || g >= kClutterGates) {
            EXPECT_NEAR(m.velocity, truth.velocity, 0.5 * kStep);
          }
          if (beam != 0 && g < kClutterGates) {
            const std::vector<double> mean = mean_spectrum({truth});
            for (int j = -4; j <= 4; ++j) {
              const size_t at = static_cast<size_t>(kPoints / 2 + j);
              left[static_cast<size_t>(j + 4)] +=
                  (r.values[static_cast<size_t>(g * kPoints) + at] - mean[at]) /
                  kNoise;
            }
            ++oblique_clutter;
          }
          if (beam == 0 && g >= kClutterGates) {
            calm_width += m.width;
            calm_snr += m.snr - truth.snr_db;
            ++calm;
          }
        }
      }
      for (int j = -4; j <= 4; ++j) {
        EXPECT_NEAR(left[static_cast<size_t>(j + 4)] / oblique_clutter, 0.0,
                    0.1)
            << "point " << j << " from 0 m/s";
      }
      // The calm echo where the map finds no clutter: width and power kept.
      EXPECT_NEAR(calm_width / calm, 0.4, 0.03 * 0.4);
      EXPECT_NEAR(calm_snr / calm, 0.0, 0.2);
    }
  }
}

}  // namespace
}  // namespace quellmar::test
