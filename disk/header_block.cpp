// HeaderBlock reader, parameter block queries and the selection state.
//
// A HeaderBlock is packed little-endian with no length field and no magic
// number. Its preamble is
//
//   0  int16  header_version (100..999)
//   2  int16  discarded
//   4  int16  met_instrument_count   } version 103 and above only
//   6  5 x int16 discarded           }
//
// and the site and radar parts follow at offset 4 (versions 100..102) or 16
// (103 and above), field after field as RadarRecord lists them, up to a
// closing int32 whose read proves the block whole: 568 bytes in all for the
// old versions, 580 plus 2 per met instrument for the new ones, the met
// instrument list (int16 each) closing the block.
//
// Numeric fields are read whole or not at all: a field cut by the end of
// the file keeps its previous content. Character fields take the bytes
// that are there.

#include <cstdio>
#include <cstring>

#include "disk/disk_state.h"
#include "disk/pda.h"

ParameterBlock pda_parameters;
int32_t selected_radar = 0;
int32_t selected_beam = 0;

namespace {

using quellmar::disk::ByteStream;
using quellmar::disk::read_i16;
using quellmar::disk::read_i32;

void read_chars(ByteStream& s, char* dst, size_t n) { s.read(dst, n); }

void skip_bytes(ByteStream& s, size_t n) {
  unsigned char scratch[16];
  while (n > 0) {
    size_t take = n < sizeof scratch ? n : sizeof scratch;
    if (s.read(scratch, take) != take) return;
    n -= take;
  }
}

void read_mode(ByteStream& s, ModeEntry& m) {
  read_i32(s, &m.ipp_ns);
  read_i32(s, &m.pulse_width);
  read_i32(s, &m.first_gate_delay_ns);
  read_i32(s, &m.gate_spacing_ns);
  read_i16(s, &m.gate_count);
  read_i16(s, &m.coherent_integrations);
  read_i16(s, &m.spectral_averages);
  read_i16(s, &m.spectral_points);
  read_i16(s, &m.delay_offset_ns);
  read_i16(s, &m.kept_26);
  read_i16(s, &m.kept_28);
  read_i16(s, &m.mode_extra);
}

void read_radar(ByteStream& s, RadarRecord& r) {
  read_chars(s, r.radar_name, sizeof r.radar_name);
  read_i16(s, &r.radar_value);
  read_i32(s, &r.tx_frequency);
  read_i32(s, &r.kept_84);
  for (int16_t& v : r.kept_88) read_i16(s, &v);
  read_i16(s, &r.beam_count);
  read_i16(s, &r.kept_96);
  for (ModeEntry& m : r.modes) read_mode(s, m);
  for (BeamEntry& b : r.beams) {
    int16_t discarded;
    read_i16(s, &b.direction_index);
    read_i16(s, &b.mode_index);
    read_i16(s, &discarded);
  }
  for (int32_t& v : r.kept_286) read_i32(s, &v);
  for (DirectionEntry& d : r.directions) {
    read_chars(s, d.direction_name, sizeof d.direction_name);
    read_i16(s, &d.azimuth);
    read_i16(s, &d.elevation);
    read_i16(s, &d.kept_16);
  }
  for (int16_t& v : r.pulse_table_keys) read_i16(s, &v);
  for (int16_t& v : r.pulse_table_values) read_i16(s, &v);
  for (int16_t& v : r.kept_484) read_i16(s, &v);
  read_i16(s, &r.window1_start);
  read_i16(s, &r.window1_points);
  read_i16(s, &r.window2_start);
  read_i16(s, &r.window2_points);
  for (int16_t& v : r.spectrum_extra) read_i16(s, &v);
  read_i16(s, &r.kept_512);
  for (int16_t& v : r.kept_514) read_i16(s, &v);
}

bool radar_in_range(int32_t radar) {
  return radar >= 0 && radar <= pda_parameters.radar_count - 1 && radar < 1;
}

}  // namespace

namespace quellmar::disk {

void copy_field_name(char* dst, const char* src, size_t width) {
  size_t n = 0;
  while (n + 1 < width && src[n] != '\0') ++n;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace quellmar::disk

int pda_read_header_block() {
  ByteStream& s = quellmar::disk::pair.header;
  ParameterBlock& p = pda_parameters;

  int16_t version;
  if (!read_i16(s, &version)) return -1;
  p.header_version = version;
  if (version < 100 || version > 999) return -10;
  skip_bytes(s, 2);
  if (version >= 103) {
    int16_t count;
    if (!read_i16(s, &count)) count = 0;
    p.met_instrument_count = count < 0 ? 0 : count;
    skip_bytes(s, 10);
  }

  read_chars(s, p.site_name, sizeof p.site_name);
  read_i16(s, &p.site_value_1);
  read_i16(s, &p.site_value_2);
  read_i16(s, &p.site_value_3);
  read_i16(s, &p.site_value_4);
  read_i16(s, &p.radar_count);
  RadarRecord& r = p.radars[0];
  read_radar(s, r);

  // Fix-ups: window 2 absent is marked by a count of 1; an empty window 1
  // covers the whole spectrum of mode 0.
  if (r.window2_points <= 1) {
    r.window2_points = 1;
    r.window2_start = 1;
  }
  if (r.window1_points <= 0) {
    r.window1_start = 1;
    quellmar::disk::record.radar_index = 0;
    quellmar::disk::record.mode_index = 0;
    r.window1_points = r.modes[0].spectral_points;
  }
  p.radar_count = 1;

  int32_t closing;
  if (!read_i32(s, &closing)) return -4;
  if (version < 103) {
    p.met_instrument_count = 0;
    return 0;
  }
  if (p.met_instrument_count == 0) return 0;
  if (p.met_instrument_count > kMaxMetInstruments) {
    quellmar::disk::note_problem(DiskProblem::kMetListTooLong,
                                 quellmar::disk::pair.current_offset,
                                 p.met_instrument_count);
    quellmar::disk::message(
        "\ndisk: Too many met inst;  modify arrays in met routine");
    return -3;
  }
  int read = 0;
  while (read < p.met_instrument_count &&
         read_i16(s, &p.met_instrument_list[read])) {
    ++read;
  }
  if (read < p.met_instrument_count) {
    quellmar::disk::note_problem(DiskProblem::kMetListCut,
                                 quellmar::disk::pair.current_offset,
                                 p.met_instrument_count);
    quellmar::disk::message("disk: cannot read all %d inst\n",
                            p.met_instrument_count);
    return -3;
  }
  return 0;
}

void pda_get_site_name(char name[32]) {
  quellmar::disk::copy_field_name(name, pda_parameters.site_name,
                                  sizeof pda_parameters.site_name);
}

void pda_get_site_values(int32_t* value_1, int32_t* value_2) {
  *value_1 = pda_parameters.site_value_1;
  *value_2 = pda_parameters.site_value_2;
}

int32_t pda_get_site_value_3() { return pda_parameters.site_value_3; }
int32_t pda_get_site_value_4() { return pda_parameters.site_value_4; }
int32_t pda_get_radar_count() { return pda_parameters.radar_count; }

int pda_get_radar_info(int32_t radar, char name[32], int32_t* radar_value,
                       int32_t* tx_frequency) {
  if (!radar_in_range(radar)) return 0;
  const RadarRecord& r = pda_parameters.radars[radar];
  quellmar::disk::copy_field_name(name, r.radar_name, sizeof r.radar_name);
  *radar_value = r.radar_value;
  *tx_frequency = r.tx_frequency;
  return 1;
}

int32_t pda_get_beam_count(int32_t radar) {
  if (!radar_in_range(radar)) return 0;
  return pda_parameters.radars[radar].beam_count;
}

int pda_select_radar(int32_t radar) {
  if (radar != -1 && !radar_in_range(radar)) return 0;
  selected_radar = radar;
  return 1;
}

int pda_select_beam(int32_t beam) {
  if (beam != -1) {
    // With any radar selected, the one RadarRecord there is decides.
    const int32_t radar = selected_radar == -1 ? 0 : selected_radar;
    if (!radar_in_range(radar)) return 0;
    int32_t usable = pda_parameters.radars[radar].beam_count;
    if (usable > kBeamCount) usable = kBeamCount;
    if (beam < 0 || beam > usable - 1) return 0;
  }
  selected_beam = beam;
  return 1;
}

int32_t pda_get_record_beam() { return quellmar::disk::record.beam_index; }
int32_t pda_get_record_radar() { return quellmar::disk::record.radar_index; }
int32_t pda_get_record_datacode() { return quellmar::disk::record.datacode; }

int32_t pda_get_met_instruments(int32_t* instruments) {
  int32_t count = pda_parameters.met_instrument_count;
  if (count > kMaxMetInstruments) count = kMaxMetInstruments;
  for (int32_t i = 0; i < count; ++i) {
    instruments[i] = pda_parameters.met_instrument_list[i];
  }
  return count;
}
