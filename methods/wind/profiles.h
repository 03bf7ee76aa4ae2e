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

struct WindMethod {
  int32_t period_minutes = 60;
  ConsensusRule consensus;
  double azimuth_offset_deg = 0.0;
  bool velocity_toward = false;  // stored velocities positive toward the radar
  // The continuity check of u, v and w; none: every value is flagged good
  // (or missing).
  std::optional<ContinuityRule> quality = wind_quality_rule();

  // The defaults of docs/qc.md: a step of 1.5 m/s, patterns of fewer than
  // 6 values suspect, neighbours up to 1 period and 1 height away.
  static ContinuityRule wind_quality_rule() { return {1.5, 6, 1, 1}; }
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

  void add(int32_t time, const float* velocity_values, const float* snr_values,
           int32_t gate_count);
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

// The results of one period of one mode: the arrays of ModeProfiles for
// that period alone.
struct PeriodProfiles {
  size_t period = 0;  // index into the mode's periods
  std::vector<float> radial_velocity, mean_snr;  // beam x gate
  std::vector<int32_t> n_used, n_available;
  std::vector<float> u, v, w, speed, direction, residual;  // height
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
