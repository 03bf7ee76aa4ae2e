// Beam information and spectral window queries.
//
// pda_get_beam_info turns the raw header fields of one beam of the selected
// radar into the values the tool prints: direction, elevation in degrees,
// mode timing and gate heights in whole metres, from the gate geometry
// rule (gate_geometry.cpp).

#include <cstring>

#include "disk/disk_state.h"
#include "disk/pda.h"

BeamInfo pda_beam_info;

namespace {

// Whole metres of height for a two-way delay: its slant range x the height
// sine, plus 0.5, truncated toward zero.
int32_t height_m(int32_t delay_ns, float sine_factor) {
  return static_cast<int32_t>(
      pda_range_of_delay_m(delay_ns) * static_cast<double>(sine_factor) + 0.5);
}

}  // namespace

int pda_get_beam_info(int32_t beam, char* direction_name) {
  if (selected_radar < 0 || selected_radar > pda_parameters.radar_count - 1 ||
      selected_radar >= 1) {
    return 0;
  }
  RadarRecord& r = pda_parameters.radars[selected_radar];
  int32_t usable = r.beam_count < kBeamCount ? r.beam_count : kBeamCount;
  if (beam < 0 || beam > usable - 1) return 0;
  const int32_t d = r.beams[beam].direction_index;
  const int32_t m = r.beams[beam].mode_index;
  if (d < 0 || d >= kDirectionCount || m < 0 || m >= kModeCount) return 0;

  DirectionEntry& dir = r.directions[d];
  const ModeEntry& mode = r.modes[m];
  BeamInfo info;
  info.azimuth = dir.azimuth;
  // Elevations above 90 are hundredths of a degree; converted in place.
  if (dir.elevation > 90)
    dir.elevation = static_cast<int16_t>(dir.elevation / 100);
  info.elevation = dir.elevation;
  pda_internal::copy_field_name(direction_name, dir.direction_name,
                                sizeof dir.direction_name);
  info.ipp_ns = mode.ipp_ns;
  info.pulse_width = mode.pulse_width;
  const float sine_factor = pda_height_sine(info.elevation);
  info.first_gate_delay_ns = mode.first_gate_delay_ns;
  info.gate_spacing_ns = mode.gate_spacing_ns;
  info.delay_offset_ns = mode.delay_offset_ns;
  // The difference wraps as 32-bit arithmetic does.
  const int32_t first_delay =
      static_cast<int32_t>(static_cast<uint32_t>(info.first_gate_delay_ns) -
                           static_cast<uint32_t>(info.delay_offset_ns));
  info.first_gate_height_m = height_m(first_delay, sine_factor);
  info.gate_spacing_m = height_m(info.gate_spacing_ns, sine_factor);
  info.gate_count = mode.gate_count;
  info.coherent_integrations = mode.coherent_integrations;
  info.spectral_averages = mode.spectral_averages;
  info.spectral_points = mode.spectral_points;
  info.pulse_table_value = -1;
  for (int i = 0; i < 4; ++i) {
    if (r.pulse_table_keys[i] == info.pulse_width) {
      info.pulse_table_value = r.pulse_table_values[i];
    }
  }
  info.mode_extra = mode.mode_extra;
  pda_beam_info = info;
  return 1;
}

int32_t pda_get_spectrum_windows(int32_t* window1_start,
                                 int32_t* window1_points,
                                 int32_t* window2_start,
                                 int32_t* window2_points, int32_t* extra1,
                                 int32_t* extra2, int32_t* extra3,
                                 int32_t* extra4, int32_t* extra5) {
  const RadarRecord& r = pda_parameters.radars[0];
  *window1_start = r.window1_start;
  *window1_points = r.window1_points;
  *window2_start = r.window2_start;
  *window2_points = r.window2_points;
  *extra1 = r.spectrum_extra[1];
  *extra2 = r.spectrum_extra[2];
  *extra3 = r.spectrum_extra[3];
  *extra4 = r.spectrum_extra[4];
  *extra5 = r.spectrum_extra[5];
  return r.spectrum_extra[0];
}

int32_t pda_spectrum_index(int32_t point, int32_t gate) {
  const RadarRecord& r = pda_parameters.radars[0];
  const ModeEntry* mode = pda_internal::record_mode();
  const int64_t gates = mode == nullptr ? 0 : mode->gate_count;
  if (gate < 0 || gate >= gates) return -1;
  const int64_t p = point;
  const int64_t w1s = r.window1_start, w1n = r.window1_points;
  const int64_t w2s = r.window2_start, w2n = r.window2_points;
  if (p < w2s - 1) return -1;
  int64_t offset = 0;
  if (p >= w2s - 1 && p <= w2s + w2n - 2) offset = p - w2s + 1;
  if (p > w2s + w2n - 2 && p < w1s - 1) return -1;
  if (p >= w1s - 1 && p <= w1s + w1n - 2) offset = p - w1s + 1 + w2n;
  if (p > w1s + w1n - 2) return -1;
  return static_cast<int32_t>(gate * (w1n + w2n) + offset);
}

namespace pda_internal {

float nyquist_velocity(int32_t tx_frequency, int32_t ipp_ns,
                       int32_t coherent_integrations) {
  if (tx_frequency == 0 || ipp_ns == 0 || coherent_integrations == 0) {
    return 0.0f;
  }
  double v = 149.9 / (static_cast<double>(tx_frequency) / 100.0);
  v = v * 5e8 / ipp_ns / coherent_integrations;
  return static_cast<float>(v);
}

}  // namespace pda_internal

float pda_get_nyquist_velocity() {
  const ModeEntry* mode = pda_internal::record_mode();
  if (mode == nullptr) return 0.0f;
  return pda_internal::nyquist_velocity(pda_parameters.radars[0].tx_frequency,
                                        mode->ipp_ns,
                                        mode->coherent_integrations);
}
