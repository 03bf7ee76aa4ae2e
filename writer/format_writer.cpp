#include "writer/format_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quellmar::writer {

namespace {

// Bytes before the site part: version, discarded word and, from version 103
// on, the met instrument count and five discarded words.
constexpr std::size_t kShortPreamble = 4;
constexpr std::size_t kLongPreamble = 16;
constexpr std::size_t kShortBlockSize = 568;
constexpr std::size_t kLongBlockFixedSize = 580;
constexpr int kLongPreambleVersion = 103;
constexpr int kOwnFlagDatacode = 3000;

std::uint32_t float_bits(float v) {
  std::uint32_t bits;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

void check_range(const Bytes& b, std::size_t offset, std::size_t width) {
  if (offset > b.size() || width > b.size() - offset) {
    throw std::out_of_range("writer: byte range outside buffer");
  }
}

void put_mode(Bytes& b, const ModeSpec& m) {
  b.put_i32(m.ipp_ns);
  b.put_i32(m.pulse_width);
  b.put_i32(m.first_gate_delay_ns);
  b.put_i32(m.gate_spacing_ns);
  b.put_i16(m.gate_count);
  b.put_i16(m.coherent_integrations);
  b.put_i16(m.spectral_averages);
  b.put_i16(m.spectral_points);
  b.put_i16(m.delay_offset_ns);
  b.put_i16(m.kept_26);
  b.put_i16(m.kept_28);
  b.put_i16(m.mode_extra);
}

}  // namespace

// --- Bytes -----------------------------------------------------------------

void Bytes::put_u8(std::uint8_t v) { buf.push_back(v); }

void Bytes::put_i8(std::int8_t v) { put_u8(static_cast<std::uint8_t>(v)); }

void Bytes::put_u16(std::uint16_t v) {
  put_u8(static_cast<std::uint8_t>(v & 0xFFu));
  put_u8(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

void Bytes::put_i16(std::int16_t v) { put_u16(static_cast<std::uint16_t>(v)); }

void Bytes::put_u32(std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) {
    put_u8(static_cast<std::uint8_t>((v >> shift) & 0xFFu));
  }
}

void Bytes::put_i32(std::int32_t v) { put_u32(static_cast<std::uint32_t>(v)); }

void Bytes::put_f32(float v) { put_u32(float_bits(v)); }

void Bytes::put_chars(std::string_view text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    put_u8(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
  }
}

void Bytes::put_zeros(std::size_t n) { buf.insert(buf.end(), n, 0); }

void Bytes::append(const Bytes& other) {
  buf.insert(buf.end(), other.buf.begin(), other.buf.end());
}

void Bytes::patch_u8(std::size_t offset, std::uint8_t v) {
  check_range(*this, offset, 1);
  buf[offset] = v;
}

void Bytes::patch_i16(std::size_t offset, std::int16_t v) {
  check_range(*this, offset, 2);
  const auto u = static_cast<std::uint16_t>(v);
  buf[offset] = static_cast<std::uint8_t>(u & 0xFFu);
  buf[offset + 1] = static_cast<std::uint8_t>((u >> 8) & 0xFFu);
}

void Bytes::patch_i32(std::size_t offset, std::int32_t v) {
  check_range(*this, offset, 4);
  const auto u = static_cast<std::uint32_t>(v);
  for (std::size_t i = 0; i < 4; ++i) {
    buf[offset + i] = static_cast<std::uint8_t>((u >> (8 * i)) & 0xFFu);
  }
}

void Bytes::patch_f32(std::size_t offset, float v) {
  patch_i32(offset, static_cast<std::int32_t>(float_bits(v)));
}

void Bytes::truncate(std::size_t n) {
  if (n < buf.size()) buf.resize(n);
}

std::uint8_t Bytes::get_u8(std::size_t offset) const {
  check_range(*this, offset, 1);
  return buf[offset];
}

std::uint16_t Bytes::get_u16(std::size_t offset) const {
  check_range(*this, offset, 2);
  return static_cast<std::uint16_t>(buf[offset] | (buf[offset + 1] << 8));
}

std::int16_t Bytes::get_i16(std::size_t offset) const {
  return static_cast<std::int16_t>(get_u16(offset));
}

std::uint32_t Bytes::get_u32(std::size_t offset) const {
  check_range(*this, offset, 4);
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    v |= static_cast<std::uint32_t>(buf[offset + i]) << (8 * i);
  }
  return v;
}

std::int32_t Bytes::get_i32(std::size_t offset) const {
  return static_cast<std::int32_t>(get_u32(offset));
}

float Bytes::get_f32(std::size_t offset) const {
  const std::uint32_t bits = get_u32(offset);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string Bytes::get_chars(std::size_t offset, std::size_t n) const {
  check_range(*this, offset, n);
  return std::string(buf.begin() + static_cast<std::ptrdiff_t>(offset),
                     buf.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

// --- Damage helpers --------------------------------------------------------

Bytes cut(const Bytes& b, std::size_t n) {
  Bytes out = b;
  out.truncate(n);
  return out;
}

void fill_range(Bytes& b, std::size_t offset, std::size_t n,
                std::uint8_t value) {
  for (std::size_t i = offset; i < b.size() && i - offset < n; ++i) {
    b.buf[i] = value;
  }
}

void zero_range(Bytes& b, std::size_t offset, std::size_t n) {
  fill_range(b, offset, n, 0);
}

void overwrite(Bytes& b, std::size_t offset, const Bytes& src) {
  if (b.size() < offset + src.size()) b.buf.resize(offset + src.size(), 0);
  std::copy(src.buf.begin(), src.buf.end(),
            b.buf.begin() + static_cast<std::ptrdiff_t>(offset));
}

// --- HeaderBlock -----------------------------------------------------------

std::size_t header_block_size(int header_version, int met_instrument_count) {
  if (header_version < kLongPreambleVersion) return kShortBlockSize;
  return kLongBlockFixedSize +
         2 * static_cast<std::size_t>(met_instrument_count);
}

std::size_t header_field_offset(int header_version,
                                std::size_t offset_in_v102) {
  const std::size_t shift = header_version >= kLongPreambleVersion
                                ? kLongPreamble - kShortPreamble
                                : 0;
  return offset_in_v102 + shift;
}

Bytes encode_header(const HeaderSpec& s) {
  Bytes b;
  const bool long_preamble = s.header_version >= kLongPreambleVersion;

  b.put_i16(s.header_version);
  b.put_i16(s.discarded_word);
  if (long_preamble) {
    b.put_i16(s.met_instrument_count.value_or(
        static_cast<std::int16_t>(s.met_instrument_list.size())));
    for (std::int16_t w : s.discarded_words_103) b.put_i16(w);
  }

  // Site part.
  b.put_chars(s.site_name, 32);
  b.put_i16(s.site_value_1);
  b.put_i16(s.site_value_2);
  b.put_i16(s.site_value_3);
  b.put_i16(s.site_value_4);
  b.put_i16(s.radar_count);

  // Radar part.
  b.put_chars(s.radar_name, 32);
  b.put_i16(s.radar_value);
  b.put_i32(s.tx_frequency);
  b.put_i32(s.kept_84);
  for (std::int16_t w : s.kept_88) b.put_i16(w);
  b.put_i16(s.beam_count);
  b.put_i16(s.kept_96);
  for (const ModeSpec& m : s.modes) put_mode(b, m);
  for (const BeamSpec& beam : s.beams) {
    b.put_i16(beam.direction_index);
    b.put_i16(beam.mode_index);
    b.put_i16(beam.third_word);
  }
  for (std::int32_t w : s.kept_286) b.put_i32(w);
  for (const DirectionSpec& d : s.directions) {
    b.put_chars(d.name, 12);
    b.put_i16(d.azimuth);
    b.put_i16(d.elevation);
    b.put_i16(d.kept);
  }
  for (std::int16_t w : s.pulse_table_keys) b.put_i16(w);
  for (std::int16_t w : s.pulse_table_values) b.put_i16(w);
  for (std::int16_t w : s.kept_484) b.put_i16(w);
  b.put_i16(s.window1_start);
  b.put_i16(s.window1_points);
  b.put_i16(s.window2_start);
  b.put_i16(s.window2_points);
  for (std::int16_t w : s.spectrum_extra) b.put_i16(w);
  b.put_i16(s.kept_512);
  for (std::int16_t w : s.kept_514) b.put_i16(w);
  b.put_i32(s.closing);

  if (long_preamble) {
    for (std::int16_t entry : s.met_instrument_list) b.put_i16(entry);
  }
  return b;
}

// --- Records ---------------------------------------------------------------

Layout layout_for(std::int16_t datacode, bool spectra_flag_in_effect) {
  if (datacode >= kOwnFlagDatacode) return Layout::N;
  return spectra_flag_in_effect ? Layout::S : Layout::M;
}

std::size_t record_header_size(Layout layout, bool has_overrides) {
  switch (layout) {
    case Layout::N:
      return 24;
    case Layout::S:
      return has_overrides ? 22 : 18;
    case Layout::M:
      return has_overrides ? 20 : 16;
  }
  return 0;
}

std::size_t trailer_width(Layout layout) { return layout == Layout::M ? 2 : 4; }

std::int64_t override_bound(Layout layout, std::int16_t gate_count,
                            std::int16_t spectral_points) {
  const std::int64_t g = gate_count;
  const std::int64_t p = spectral_points;
  switch (layout) {
    case Layout::N:
      return -1;
    case Layout::S:
      return 5 * g + 4 * g * p + 22;
    case Layout::M:
      return 5 * g + 18;
  }
  return -1;
}

std::int32_t computed_record_length(const RecordSpec& spec) {
  const std::size_t total =
      record_header_size(spec.layout, spec.has_overrides) + spec.body.size() +
      trailer_width(spec.layout);
  return static_cast<std::int32_t>(total);
}

Bytes encode_record(const RecordSpec& spec) {
  const std::int32_t length =
      spec.record_length.value_or(computed_record_length(spec));
  const std::int32_t trailer = spec.trailer.value_or(length);
  const bool overrides = spec.layout == Layout::N || spec.has_overrides;

  Bytes b;
  b.put_i16(spec.datacode);
  if (spec.layout == Layout::M) {
    b.put_i16(static_cast<std::int16_t>(length));
  } else {
    b.put_i32(length);
  }
  if (spec.layout == Layout::N) b.put_i16(spec.spectra_flag);
  b.put_i32(spec.header_offset);
  b.put_i32(spec.record_time);
  b.put_i16(spec.radar_index);
  b.put_i16(spec.beam_index);
  if (overrides) {
    b.put_i16(spec.coherent_integrations);
    b.put_i16(spec.spectral_averages);
  }
  b.append(spec.body);
  if (!spec.omit_trailer) {
    if (spec.layout == Layout::M) {
      b.put_i16(static_cast<std::int16_t>(trailer));
    } else {
      b.put_i32(trailer);
    }
  }
  return b;
}

// --- Bodies ----------------------------------------------------------------

bool uses_16bit_moments(std::int16_t datacode) {
  return datacode / 100 % 10 != 0;
}

bool has_second_set(std::int16_t datacode) {
  const int last_two = datacode % 100;
  return last_two == 16 || (last_two == 17 && uses_16bit_moments(datacode));
}

bool has_met_values(std::int16_t datacode) {
  return datacode >= kOwnFlagDatacode;
}

bool positional_spectra(std::int16_t datacode) { return datacode % 100 == 17; }

void put_first_set_16(Bytes& b, const std::vector<GateMoments>& gates) {
  for (const GateMoments& g : gates) {
    b.put_i16(g.velocity);
    b.put_u16(g.width);
    b.put_i16(g.snr);
    b.put_i16(g.noise_or_aux);
  }
}

void put_first_set_x0xx(Bytes& b, const std::vector<GateMoments>& gates) {
  for (const GateMoments& g : gates) {
    b.put_i16(g.velocity);
    b.put_u8(static_cast<std::uint8_t>(g.width));
    b.put_i8(static_cast<std::int8_t>(g.snr));
    b.put_i8(static_cast<std::int8_t>(g.noise_or_aux));
  }
}

void put_second_set_16(Bytes& b, const std::vector<GateMoments>& gates) {
  put_first_set_16(b, gates);  // same widths; the last word is the aux value
}

void put_second_set_x0xx(Bytes& b, const std::vector<GateMoments>& gates) {
  for (const GateMoments& g : gates) {
    b.put_i16(g.velocity);
    b.put_u8(static_cast<std::uint8_t>(g.width));
    b.put_i8(static_cast<std::int8_t>(g.snr));
    b.put_i16(g.noise_or_aux);
  }
}

void put_met_values(Bytes& b, const std::vector<std::int32_t>& values) {
  for (std::int32_t v : values) b.put_i32(v);
}

void put_spectra(Bytes& b, const std::vector<std::vector<float>>& rows) {
  for (const std::vector<float>& row : rows) {
    for (float v : row) b.put_f32(v);
  }
}

Bytes encode_body(const BodySpec& spec) {
  Bytes b;
  const bool wide = uses_16bit_moments(spec.datacode);
  if (wide) {
    put_first_set_16(b, spec.moments);
  } else {
    put_first_set_x0xx(b, spec.moments);
  }
  if (has_second_set(spec.datacode)) {
    if (wide) {
      put_second_set_16(b, spec.second);
    } else {
      put_second_set_x0xx(b, spec.second);
    }
  }
  if (has_met_values(spec.datacode)) put_met_values(b, spec.met_values);
  put_spectra(b, spec.spectra);
  return b;
}

// --- Files -----------------------------------------------------------------

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("writer: cannot create " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("writer: cannot write " + path);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("writer: cannot open " + path);
  Bytes b;
  b.buf.assign(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
  return b;
}

}  // namespace quellmar::writer
