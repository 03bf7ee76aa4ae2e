// Gate geometry: where the range gates of a beam lie.
//
// A gate's centre is a two-way delay after the pulse: the mode's first gate
// delay less its delay offset, plus one gate spacing per gate. Light covers
// 0.15 m of range per nanosecond of two-way delay. The height above the
// radar is the slant range times a sine factor of the beam's elevation.

#include <cmath>

#include "disk/pda.h"

int64_t pda_gate_delay_ns(int32_t first_gate_delay_ns, int32_t delay_offset_ns,
                          int32_t gate_spacing_ns, int64_t gate) {
  return static_cast<int64_t>(first_gate_delay_ns) - delay_offset_ns +
         gate * gate_spacing_ns;
}

double pda_range_of_delay_m(int64_t delay_ns) {
  return static_cast<double>(delay_ns) * 0.15;
}

float pda_height_sine(double elevation_deg) {
  if (!(elevation_deg > 0.0)) return 1.0f;
  return static_cast<float>(std::sin(elevation_deg * 3.141592 / 180.0));
}

double pda_gate_height_m(int32_t first_gate_delay_ns, int32_t delay_offset_ns,
                         int32_t gate_spacing_ns, int64_t gate,
                         double elevation_deg) {
  return pda_range_of_delay_m(pda_gate_delay_ns(
             first_gate_delay_ns, delay_offset_ns, gate_spacing_ns, gate)) *
         static_cast<double>(pda_height_sine(elevation_deg));
}
