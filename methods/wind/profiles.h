// Wind profiles from the pooled records of a profiler: consensus averaging
// per beam, gate and period, then beam swinging per period and height on
// one height grid per operating mode. Modes are never mixed.

#ifndef QUELLMAR_COMPANIONS_WIND_PROFILES_H
#define QUELLMAR_COMPANIONS_WIND_PROFILES_H

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "methods/consensus/consensus.h"
#include "methods/pairs/pair_pool.h"
#include "methods/pairs/periods.h"
#include "methods/qc/time_height_check.h"

namespace quellmar::companions {

// When the vertical beam's values at a gate look like falling
// hydrometeors rather than air motion (stored moments): downward beyond
// the fall speed and broad, in at least min_share of the period's records
// that hold the gate (and in at least 3 of them).
struct PrecipitationRule {
  double fall_speed_m_s = 2.0;  // downward motion beyond this, m/s
  double min_width_m_s = 0.8;   // spectral width at least this, m/s
  double min_share = 0.5;       // of the records holding the gate
};

struct WindMethod {
  int32_t period_minutes = 60;
  ConsensusRule consensus{2.0, 0.4, -18.0, 3};
  PrecipitationRule precipitation;
  // u and v from the oblique beams alone with w = 0 everywhere.
  bool assume_w_zero = false;
  // Radial velocities unfolded beyond the Nyquist velocity by continuity.
  bool unfold = true;
  double azimuth_offset_deg = 0.0;
  bool velocity_toward = false;  // stored velocities positive toward the radar
  // The continuity check of u, v and w; none: every value is flagged good
  // (or missing).
  std::optional<ContinuityRule> quality = wind_quality_rule();

  // The step of the check for w (the rule's max_step is u's and v's),
  // m/s; the layer jump of w scales with it.
  double quality_w_step = 0.5;

  // The defaults of docs/qc.md: a step of 1.5 m/s, patterns of fewer than
  // 6 values suspect, neighbours up to 1 period and 1 height away, a
  // layer jumping by more than 7.5 m/s suspect.
  static ContinuityRule wind_quality_rule() { return {1.5, 6, 1, 1, 7.5}; }
};

// The records of one beam of one operating mode: each record's time and
// its gates' velocities and SNRs, back to back.
struct BeamSeries {
  int32_t mode = 0;
  int32_t beam = 0;
  BeamGeometry geometry;
  int32_t gates = 0;  // the most gates of any record
  std::vector<int32_t> times;
  std::vector<int32_t> gate_counts;
  std::vector<size_t> starts;
  std::vector<float> velocity;
  std::vector<float> snr;
  std::vector<float> width;  // m/s; NaN where the record gave none
  // The Nyquist velocity V of the records (m/s); 0 when unknown or when
  // the records disagree (then nothing is taken on the circle).
  float nyquist_ms = 0.f;
  bool nyquist_mixed = false;

  void add(int32_t time, const float* velocity_values, const float* snr_values,
           int32_t gate_count);
  // With the records' spectral widths (nullptr: none) and Nyquist velocity.
  void add(int32_t time, const float* velocity_values, const float* snr_values,
           const float* width_values, float nyquist, int32_t gate_count);
  size_t records() const { return times.size(); }
};

struct ModeBeam {
  int32_t beam = 0;
  double azimuth_deg = 0.0;  // offset applied, 0 to 360
  double elevation_deg = 0.0;
  int32_t gates = 0;
  std::vector<double> gate_height;  // m above the radar
};

// The profiles of one operating mode. Missing values are NaN in the float
// arrays.
struct ModeProfiles {
  int32_t mode = 0;
  std::vector<ModeBeam> beams;  // by beam number
  int32_t reference_beam = 0;   // index into beams: its gates are the grid
  int32_t max_gates = 0;
  std::vector<double> height;   // the grid, m above the radar
  std::vector<Period> periods;  // those with records, in time order

  // Per period, beam and gate (gate below max_gates).
  std::vector<float> radial_velocity;  // consensus, as stored (sign)
  std::vector<float> mean_snr;
  std::vector<int32_t> n_used;
  std::vector<int32_t> n_available;
  // Per period and height.
  std::vector<float> u, v, w, speed, direction, residual;
  // Per beam and height: the beam's gate nearest the height, -1 when the
  // height lies outside the beam's gates.
  std::vector<int32_t> nearest_gate;
  // Per period and height: the QualityFlag of u, v and w.
  std::vector<uint8_t> u_flag, v_flag, w_flag;
  // Per period and height: how u, v and w were found (WindMethodFlag bits).
  std::vector<uint8_t> method_flag;
  // Per period, beam and gate: GateFlag bits.
  std::vector<uint8_t> gate_flag;

  size_t cell(size_t period, size_t beam, size_t gate) const {
    return (period * beams.size() + beam) * static_cast<size_t>(max_gates) +
           gate;
  }
  size_t level(size_t period, size_t h) const {
    return period * height.size() + h;
  }
};

// How a height is read from one beam's gates: exactly at gate `lower`
// (upper < 0), or between gates lower and upper at fraction t; nothing when
// lower < 0.
struct HeightReading {
  int32_t lower = -1;
  int32_t upper = -1;
  double t = 0.0;
};
// Gate heights are an affine function of the gate number, so they are
// monotonic (or all equal): the height is found by bisection, and a height
// outside the gates is not read (no extrapolation).
HeightReading locate_height(const std::vector<double>& heights, double z);

// The most cells (period x beam x gate, or period x height) whole-run
// arrays are sized for when a caller holds them all; quellmar-wind itself
// writes them period by period.
constexpr int64_t kMaxProfileCells = int64_t{1} << 26;

// One ModeProfiles per operating mode present, by mode number, flags
// included. Every series must have a distinct (mode, beam).
std::vector<ModeProfiles> compute_profiles(
    const std::vector<BeamSeries>& series, const WindMethod& method);

// What the method found about one beam's consensus value at one gate
// (bits).
enum GateFlag : uint8_t {
  // A vertical beam's values looked like falling hydrometeors
  // (PrecipitationRule): the value is kept in radial_velocity but is not
  // air motion, and w is not taken from it.
  kGatePrecipitation = 1,
  // The value was unfolded beyond the Nyquist velocity (a multiple of 2V
  // added).
  kGateUnfolded = 2,
  // An accepted consensus that could not be unfolded with confidence: the
  // value is missing.
  kGateUnfoldGaveUp = 4,
};

// How u, v and w of one period and height were found (bits); 0: the fit
// of every beam with a value there.
enum WindMethodFlag : uint8_t {
  // The vertical beam looked like precipitation there: w is missing and
  // u, v come from the oblique beams.
  kWindPrecipitation = 1,
  // u and v from the oblique beams alone, w solved by them (opposite
  // beams cancel it) and not reported where the vertical beam is
  // precipitation.
  kWindObliqueOnly = 2,
  // u and v from one oblique beam per axis with w = 0 assumed.
  kWindAssumedWZero = 4,
  // A value used was unfolded beyond the Nyquist velocity.
  kWindUnfolded = 8,
};

// The results of one period of one mode: the arrays of ModeProfiles for
// that period alone.
struct PeriodProfiles {
  size_t period = 0;  // index into the mode's periods
  std::vector<float> radial_velocity, mean_snr;  // beam x gate
  std::vector<int32_t> n_used, n_available;
  std::vector<uint8_t> gate_flag;                          // beam x gate
  std::vector<float> u, v, w, speed, direction, residual;  // height
  std::vector<uint8_t> method_flag;                        // height

  // The gate of beam index b (of max_gates gates per beam) looked like
  // precipitation: its value is no air motion.
  bool precipitation(size_t b, size_t max_gates, size_t gate) const {
    const size_t at = b * max_gates + gate;
    return at < gate_flag.size() && (gate_flag[at] & kGatePrecipitation) != 0;
  }
};

// Sizes the whole-run arrays of a layout for all its periods (missing
// values, zero counts).
void size_values(ModeProfiles* m);

// Copies one period's results into the whole-run arrays of its mode
// (sized for all periods).
void store_period(const PeriodProfiles& p, ModeProfiles* m);

// The flags of u, v and w by the method's continuity check (or none).
void set_quality_flags(ModeProfiles* m, const WindMethod& method);

// The period x height field of one quantity of a mode, for the
// continuity check: one slot per period of the day's regular grid.
QualityField quality_field(const ModeProfiles& m, int32_t period_minutes,
                           const std::vector<float>& values);

// Wind speed and the direction the wind blows from (degrees, 0 to 360; a
// calm gives 0).
double wind_speed(double u, double v);
double wind_from_direction(double u, double v);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_PROFILES_H
