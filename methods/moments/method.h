// The per-gate method of quellmar-moments: the Doppler moments of a gate
// recomputed from its spectrum with an objective noise level (Hildebrand and
// Sekhon), the ground-clutter spike at 0 m/s and interference lines taken
// out, and the spectrum's peak regions found and measured. docs/moments.md
// gives the formulas. Standard library only (with the access module's
// Doppler axis), so that tests, fuzz targets and quellmar-wind reach it.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_METHOD_H
#define QUELLMAR_COMPANIONS_MOMENTS_METHOD_H

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quellmar::companions {

enum class PeakChoice { kContinuity, kStrongest };
enum class AxisChoice { kAuto, kCentred, kCentredReversed };

struct MomentsMethod {
  PeakChoice peak = PeakChoice::kContinuity;
  int32_t clutter_points = 1;  // K: points either side of 0 m/s replaced
  bool clutter = true;
  bool interference = true;
  int32_t min_points = 3;  // M: the fewest points of a peak region
  // Half-width, in widths of the peak, of the window about its centroid
  // over which its moments are taken (tails below the threshold kept);
  // 0: the peak region alone.
  double tail_widths = 3.0;
  AxisChoice axis = AxisChoice::kAuto;
};

// Bits of a gate's QC flags.
enum QcFlag : uint8_t {
  kQcNoSignal = 1,              // no peak region (also set with kQcUnusable)
  kQcClutter = 2,               // a clutter spike at 0 m/s was replaced
  kQcInterference = 4,          // an interference line was replaced
  kQcSeveralPeaks = 8,          // more than one peak region
  kQcContinuity = 16,           // continuity chose another than the strongest
  kQcUnusable = 32,             // the spectrum cannot be used (non-finite or
                                // negative values, no Nyquist velocity, ...)
  kQcNoiseFromNeighbours = 64,  // the gate's own noise set was too small:
                                // noise of the nearest gates taken
  kQcPrecipitation = 128,       // a precipitation echo in the gate
};
// The flag_masks and flag_meanings of the QC_FLAGS variable, in bit order.
extern const std::array<uint8_t, 8> kQcMasks;
extern const char* const kQcMeanings;

// The smallest noise set of a gate: a quarter of its present values. An
// echo filling most of the band leaves fewer, its own lowest values.
constexpr int64_t kNoiseSetShare = 4;

// The noise level of a spectrum (Hildebrand and Sekhon 1974).
struct NoiseLevel {
  double mean = 0.0;       // N, the mean of the noise set
  double threshold = 0.0;  // the largest value of the noise set
  int64_t count = 0;       // values in the noise set; 0: no estimate
};
// The noise set of values (any order, all finite): the largest set of the
// lowest values whose mean N and variance Q satisfy n Q <= N^2 (n: spectral
// averages, at least 1). Sorts the values in place.
NoiseLevel hildebrand_sekhon(std::vector<double>& values, int32_t averages);
// The present values of a spectrum (present[k] != 0; finite and not
// negative) in ascending order, as the noise of a gate takes them (-0 as
// +0): a counting pass into narrow buckets from the lowest value, the values
// far above it sorted apart.
void sort_present_values(const float* values, const unsigned char* present,
                         int64_t points, std::vector<double>* sorted);

// A peak region measured: P_s = sum (S_k - N) over its points, the
// power-weighted mean velocity and the standard deviation about it.
struct Peak {
  double power = 0.0;     // linear, in the spectra's units
  double velocity = 0.0;  // m/s, within [-V, V)
  double width = 0.0;     // m/s
};

// The analysis of one gate: its noise and its strongest peak regions.
constexpr int kPeaksKept = 4;
struct GateAnalysis {
  double noise = 0.0;  // N, linear; valid unless kQcUnusable
  uint8_t flags = 0;
  int32_t peak_count = 0;  // peaks held, strongest first (at most kPeaksKept)
  std::array<Peak, kPeaksKept> peaks{};
};

// The spectra of one record, gate-major: gates rows of points values, with
// present[i] 0 for a point outside every spectral window.
struct RecordSpectra {
  int64_t gates = 0;
  int64_t points = 0;     // P, spectral points
  double nyquist = 0.0;   // V, m/s
  int32_t averages = 1;   // n, spectral averages
  bool reversed = false;  // the centred-reversed axis
  bool usable = true;     // false: every gate is unusable (bad windows)
  std::vector<float> values;
  std::vector<unsigned char> present;
};

// Noise, clutter, interference and peaks of every gate of a record. The
// spectra are changed in place where clutter and lines are replaced.
// clutter_bands (optional): per gate, the half-width in points of the
// clutter band the file's clutter map found there, negative where clean
// (see clutter.h); without it, or where clean, only a spike one point wide
// is taken for clutter.
void analyse_record(RecordSpectra& record, const MomentsMethod& method,
                    std::vector<GateAnalysis>* gates,
                    const std::vector<int8_t>* clutter_bands = nullptr);

// The moments written for a gate: VEL, WIDTH, SNR, NOISE and SIGNAL_POWER
// (dB), NaN where missing.
struct GateMoments {
  float velocity, width, snr, noise_db, power_db;
  uint8_t flags;
  // The precipitation peak's velocity, width and SNR; NaN when none.
  float precip_velocity = std::numeric_limits<float>::quiet_NaN();
  float precip_width = std::numeric_limits<float>::quiet_NaN();
  float precip_snr = std::numeric_limits<float>::quiet_NaN();
  // The moments are the precipitation's (no clear air seen).
  bool precipitation_only = false;
};
// The moments of peak `chosen` of a gate (-1: none) over P points, and of
// its precipitation peak `precip` (-1: none).
GateMoments gate_moments(const GateAnalysis& gate, int chosen, int64_t points,
                         int precip = -1);

// The method and every parameter, as one line for the file's attributes.
std::string describe_method(const MomentsMethod& method);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_METHOD_H
