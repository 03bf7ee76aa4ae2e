// Two simulations behind defaults of quellmar-wind, each with a fixed seed
// so that its table comes out the same on every run.
//
//   quellmar-wind-simulation acceptance [TRIALS]
//
// The acceptance rule of the consensus (docs/winds.md): how often a gate
// of noise alone is accepted, and how often a weak clear-air echo is kept,
// for 5, 10, 20 and 60 records per period. The records are made as a
// profiler makes its stored moments: averaged spectra of gamma-distributed
// noise (n averages), a Gaussian echo where there is one, and the moments
// of the strongest peak by the method of quellmar-moments.
//
//   quellmar-wind-simulation w-step
//
// The continuity check's step for w (docs/qc.md): hourly w fields of 72
// periods x 40 heights with Gaussian noise and six errors of +-1 m/s over
// 1 to 3 heights each, ten fields per noise level.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/consensus/consensus.h"
#include "methods/moments/method.h"
#include "methods/qc/time_height_check.h"

namespace {

using namespace quellmar::companions;

constexpr int kPoints = 64;
constexpr int kAverages = 32;
constexpr double kNyquist = 10.0;      // m/s
constexpr double kEchoVelocity = 3.0;  // m/s
constexpr double kEchoWidth = 0.5;     // m/s

// One record's moments at `gates` gates: noise alone (snr_db absent) or
// noise with an echo of that SNR.
std::vector<GateSample> record(std::mt19937_64& rng, int gates,
                               std::optional<double> snr_db) {
  RecordSpectra r;
  r.gates = gates;
  r.points = kPoints;
  r.nyquist = kNyquist;
  r.averages = kAverages;
  r.values.resize(static_cast<size_t>(gates) * kPoints);
  r.present.assign(r.values.size(), 1);
  std::gamma_distribution<double> noise(kAverages, 1.0 / kAverages);
  const double dv = 2 * kNyquist / kPoints;
  for (int g = 0; g < gates; ++g) {
    for (int k = 0; k < kPoints; ++k) {
      double s = noise(rng);
      if (snr_db) {
        // Echo power snr x (noise power over the band), Gaussian in v.
        const double total = std::pow(10.0, *snr_db / 10.0) * kPoints;
        const double v = pda_doppler_velocity_ms(k + 1, kPoints, kNyquist);
        const double z = (v - kEchoVelocity) / kEchoWidth;
        const double echo = total * dv /
                            (kEchoWidth * std::sqrt(2 * std::numbers::pi)) *
                            std::exp(-0.5 * z * z);
        // The echo fluctuates as the noise does.
        s += echo * noise(rng);
      }
      r.values[static_cast<size_t>(g) * kPoints + static_cast<size_t>(k)] =
          static_cast<float>(s);
    }
  }
  // Stored moments as a profiler writes them, a velocity in every gate:
  // the noise level (Hildebrand and Sekhon), the highest point and the
  // points next to it above the noise, their power-weighted velocity and
  // their power over the noise of the band.
  std::vector<GateSample> out;
  std::vector<double> sorted(kPoints);
  for (int g = 0; g < gates; ++g) {
    const float* s = r.values.data() + static_cast<size_t>(g) * kPoints;
    sorted.assign(s, s + kPoints);
    const double noise_level = hildebrand_sekhon(sorted, kAverages).mean;
    int top = 0;
    for (int k = 1; k < kPoints; ++k) {
      if (s[k] > s[top]) top = k;
    }
    double power = 0.0, moment = 0.0;
    const auto take = [&](int offset) {
      const int k = ((top + offset) % kPoints + kPoints) % kPoints;
      const double excess = s[k] - noise_level;
      if (excess <= 0) return false;
      power += excess;
      moment += excess * offset * dv;
      return true;
    };
    take(0);
    for (int d = 1; d < kPoints / 2 && take(d); ++d) {
    }
    for (int d = -1; d > -kPoints / 2 && take(d); --d) {
    }
    const double v0 = pda_doppler_velocity_ms(top + 1, kPoints, kNyquist);
    out.push_back(
        {static_cast<float>(fold_velocity(v0 + moment / power, kNyquist)),
         static_cast<float>(10 * std::log10(power / (noise_level * kPoints)))});
  }
  return out;
}

struct Rule {
  const char* name;
  ConsensusRule rule;
};

}  // namespace

// One w field with errors; the error cells marked in *error.
QualityField w_field(std::mt19937_64& rng, double noise_m_s,
                     std::vector<char>* error) {
  constexpr size_t kPeriods = 72, kHeights = 40;
  QualityField f;
  f.columns = kHeights;
  std::normal_distribution<double> noise(0.0, noise_m_s);
  std::uniform_int_distribution<size_t> period(2, kPeriods - 3);
  std::uniform_int_distribution<size_t> height(2, kHeights - 6);
  for (size_t p = 0; p < kPeriods; ++p) {
    f.slots.push_back(static_cast<int64_t>(p));
    for (size_t h = 0; h < kHeights; ++h) {
      // Slow sinking and rising with the day, weaker aloft.
      const double w = 0.2 * std::sin(2 * std::numbers::pi * p / 24.0) *
                       (1.0 - 0.5 * h / kHeights);
      f.values.push_back(static_cast<float>(w + noise(rng)));
    }
  }
  error->assign(f.values.size(), 0);
  for (int e = 0; e < 6; ++e) {
    const size_t p = period(rng), h = height(rng);
    const size_t span = 1 + static_cast<size_t>(e % 3);
    const double step = e % 2 == 0 ? 1.0 : -1.0;
    for (size_t k = 0; k < span; ++k) {
      const size_t at = p * kHeights + h + k;
      if ((*error)[at]) continue;
      f.values[at] = static_cast<float>(f.values[at] + step);
      (*error)[at] = 1;
    }
  }
  return f;
}

int w_step_table() {
  const double steps[] = {1.5, 1.0, 0.7, 0.5, 0.4, 0.3};
  const double noises[] = {0.1, 0.2, 0.3};
  std::printf(
      "| step | missed at noise 0.1 | false at 0.1 / 0.2 / 0.3 m/s |\n"
      "|---|---|---|\n");
  for (double step : steps) {
    const ContinuityRule rule{step, 6, 1, 1};
    int64_t missed = 0, errors = 0;
    double false_share[3] = {};
    for (size_t n = 0; n < std::size(noises); ++n) {
      std::mt19937_64 rng(4242 + n);
      int64_t clean = 0, flagged = 0;
      for (int field = 0; field < 10; ++field) {
        std::vector<char> error;
        const QualityField f = w_field(rng, noises[n], &error);
        const std::vector<uint8_t> flags = continuity_flags(f, rule);
        for (size_t i = 0; i < flags.size(); ++i) {
          if (error[i]) {
            if (n == 0) {
              ++errors;
              missed += flags[i] != kFlagSuspect;
            }
          } else {
            ++clean;
            flagged += flags[i] == kFlagSuspect;
          }
        }
      }
      false_share[n] = 100.0 * static_cast<double>(flagged) / clean;
    }
    std::printf("| %.1f | %lld of %lld | %.2f / %.2f / %.2f %% |\n", step,
                static_cast<long long>(missed), static_cast<long long>(errors),
                false_share[0], false_share[1], false_share[2]);
  }
  return 0;
}

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "w-step" && argc == 2) return w_step_table();
  const int trials = argc > 2 ? std::atoi(argv[2]) : 4000;
  if (what != "acceptance" || trials <= 0 || argc > 3) {
    std::fprintf(stderr,
                 "usage: quellmar-wind-simulation acceptance [TRIALS]\n"
                 "       quellmar-wind-simulation w-step\n");
    return 2;
  }
  const Rule rules[] = {
      {"2, 40 %", {2.0, 0.4, {}, 2}},
      {"3, 40 %", {2.0, 0.4, {}, 3}},
      {"3, 50 %", {2.0, 0.5, {}, 3}},
      {"4, 40 %", {2.0, 0.4, {}, 4}},
      {"3, 40 %, -20 dB", {2.0, 0.4, -20.0, 3}},
      {"3, 50 %, -20 dB", {2.0, 0.5, -20.0, 3}},
      {"3, 40 %, -18 dB", {2.0, 0.4, -18.0, 3}},
  };
  const std::optional<double> echoes[] = {std::nullopt, -10.0, -13.0, -16.0};
  const int record_counts[] = {5, 10, 20, 60};
  std::printf(
      "window 2 m/s, V = %.0f m/s, %d points, %d averages, echo "
      "%.1f m/s wide at %.0f m/s; %d gates per cell\n\n",
      kNyquist, kPoints, kAverages, kEchoWidth, kEchoVelocity, trials);
  std::printf("| gate | records |");
  for (const Rule& r : rules) std::printf(" %s |", r.name);
  std::printf("\n|---|---|");
  for (size_t i = 0; i < std::size(rules); ++i) std::printf("---|");
  std::printf("\n");
  for (const std::optional<double>& echo : echoes) {
    for (int n : record_counts) {
      std::mt19937_64 rng(20260 + n + (echo ? static_cast<int>(-*echo) : 0));
      // trials gates, each with n records.
      std::vector<std::vector<GateSample>> gates(static_cast<size_t>(trials));
      for (int r = 0; r < n; ++r) {
        const std::vector<GateSample> one = record(rng, trials, echo);
        for (int g = 0; g < trials; ++g) {
          gates[static_cast<size_t>(g)].push_back(one[static_cast<size_t>(g)]);
        }
      }
      const std::string what =
          echo ? "echo " + std::to_string(static_cast<int>(*echo)) + " dB"
               : std::string("noise only");
      std::printf("| %s | %d |", what.c_str(), n);
      for (const Rule& rule : rules) {
        int accepted = 0, right = 0;
        for (const std::vector<GateSample>& g : gates) {
          std::vector<GateSample> copy = g;
          const Consensus c = consensus(copy, rule.rule, kNyquist);
          if (!c.accepted) continue;
          ++accepted;
          if (std::abs(c.velocity - kEchoVelocity) <= 1.0) ++right;
        }
        // Noise: share accepted; echo: share kept within 1 m/s of the truth.
        const int shown = echo ? right : accepted;
        std::printf(" %.1f %% |", 100.0 * shown / trials);
      }
      std::printf("\n");
    }
  }
  return 0;
}
