// Radial velocities beyond the Nyquist velocity: one beam's consensus
// values of a period, folded onto [-V, V), unfolded by continuity with
// the gate below and with the same gate in the previous period.

#ifndef QUELLMAR_COMPANIONS_WIND_UNFOLD_H
#define QUELLMAR_COMPANIONS_WIND_UNFOLD_H

#include <cstddef>
#include <cstdint>

namespace quellmar::companions {

struct UnfoldRule {
  // A candidate v + 2kV is taken only within this share of V of its
  // reference (the gate below, the previous period's gate).
  double max_step_share = 0.5;
  // The gate below: the nearest accepted gate at most this many gates
  // below.
  int32_t max_gap_gates = 3;
};

// Unfolds values[0..gates) in place (NaN: no consensus). previous: the
// same beam's unfolded values of the period just before (nullptr: none).
// For each gate from the lowest up, each reference there is (the nearest
// unfolded gate at most max_gap_gates below, the previous period's value)
// names the k whose v + 2kV lies nearest it; that reference is sure when
// the candidate lies within max_step_share x V of it. The gate takes that
// k when a reference is sure and no sure reference names another k; a
// gate with no reference at all starts a profile where its value is
// unambiguous, |v| <= max_step_share x V (k = 0). Gates below the lowest
// start are then unfolded downward from it the same way. Every other gate
// with a value gives up: NaN, with kGateUnfoldGaveUp in flags; a gate with
// k != 0 gets kGateUnfolded.
void unfold_column(float* values, size_t gates, const float* previous,
                   double nyquist, const UnfoldRule& rule, uint8_t* flags);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_UNFOLD_H
