// Writer of profiler header files (HeaderBlocks) and data files (records).
//
// Builds test inputs, the sample file pair and benchmark input byte by byte,
// little-endian and packed. It shares no code with the reader in disk/: every
// offset and width here is taken from the file format itself, so that the
// writer can check the reader and not merely agree with it.
//
// The writer does not validate: it writes whatever it is given, including
// values that a reader must reject, so that damaged files can be built.

#ifndef QUELLMAR_WRITER_FORMAT_WRITER_H_
#define QUELLMAR_WRITER_FORMAT_WRITER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellmar::writer {

// ---------------------------------------------------------------------------
// Byte buffer
// ---------------------------------------------------------------------------

// A growable byte buffer. Every multi-byte value is assembled byte by byte in
// little-endian order, independent of the host's byte order.
struct Bytes {
  std::vector<std::uint8_t> buf;

  void put_i8(std::int8_t v);
  void put_u8(std::uint8_t v);
  void put_i16(std::int16_t v);
  void put_u16(std::uint16_t v);
  void put_i32(std::int32_t v);
  void put_u32(std::uint32_t v);
  void put_f32(float v);  // IEEE single, bit for bit
  // Fixed-width character field: the bytes of `text`, cut to `width`, padded
  // with NULs. A text of exactly `width` bytes leaves no NUL in the field.
  void put_chars(std::string_view text, std::size_t width);
  void put_zeros(std::size_t n);
  void append(const Bytes& other);

  std::size_t size() const { return buf.size(); }
  const std::uint8_t* data() const { return buf.data(); }

  // Overwrite a value already written; the bytes must lie inside the buffer
  // (std::out_of_range otherwise).
  void patch_u8(std::size_t offset, std::uint8_t v);
  void patch_i16(std::size_t offset, std::int16_t v);
  void patch_i32(std::size_t offset, std::int32_t v);
  void patch_f32(std::size_t offset, float v);

  // Drop everything from byte `n` on; no effect when n >= size().
  void truncate(std::size_t n);

  // Little-endian reads, for checks; std::out_of_range outside the buffer.
  std::uint8_t get_u8(std::size_t offset) const;
  std::int16_t get_i16(std::size_t offset) const;
  std::uint16_t get_u16(std::size_t offset) const;
  std::int32_t get_i32(std::size_t offset) const;
  std::uint32_t get_u32(std::size_t offset) const;
  float get_f32(std::size_t offset) const;
  // `n` raw bytes from `offset` as a string (NULs included).
  std::string get_chars(std::size_t offset, std::size_t n) const;
};

// ---------------------------------------------------------------------------
// Damage helpers
// ---------------------------------------------------------------------------

// Copy of the first `n` bytes (the whole buffer when n >= size()).
Bytes cut(const Bytes& b, std::size_t n);
// Set `n` bytes from `offset` to `value` (0 by default), clipped to the end.
void fill_range(Bytes& b, std::size_t offset, std::size_t n,
                std::uint8_t value = 0);
void zero_range(Bytes& b, std::size_t offset, std::size_t n);
// Overwrite bytes from `offset` with `src`, growing the buffer if needed.
void overwrite(Bytes& b, std::size_t offset, const Bytes& src);

// ---------------------------------------------------------------------------
// Header file: HeaderBlock
// ---------------------------------------------------------------------------

// ModeEntry, 32 bytes.
struct ModeSpec {
  std::int32_t ipp_ns = 40000;
  std::int32_t pulse_width = 700;
  std::int32_t first_gate_delay_ns = 3000;
  std::int32_t gate_spacing_ns = 700;
  std::int16_t gate_count = 10;
  std::int16_t coherent_integrations = 100;
  std::int16_t spectral_averages = 30;
  std::int16_t spectral_points = 64;
  std::int16_t delay_offset_ns = 0;
  std::int16_t kept_26 = 0;
  std::int16_t kept_28 = 0;
  std::int16_t mode_extra = 0;
};

// BeamEntry, 6 bytes.
struct BeamSpec {
  std::int16_t direction_index = 0;
  std::int16_t mode_index = 0;
  std::int16_t third_word = 0;  // read and thrown away by readers
};

// DirectionEntry, 18 bytes. `name` goes into char[12] as put_chars does.
struct DirectionSpec {
  std::string name;
  std::int16_t azimuth = 0;
  std::int16_t elevation = 90;  // whole degrees if <= 90, else hundredths
  std::int16_t kept = 0;
};

// Every field of a HeaderBlock, in file order. The defaults give a complete,
// consistent version 102 block: one radar, one vertical beam using mode 0
// (10 gates, 64 spectral points), window 1 covering the whole spectrum and
// no window 2. The (kept) words are named after their offset in a version
// 100-102 block; from version 103 on they lie 12 bytes further on.
struct HeaderSpec {
  // Preamble.
  std::int16_t header_version = 102;
  std::int16_t discarded_word = 0;
  // Version 103 and above only. The count written is this value when set,
  // else the length of met_instrument_list.
  std::optional<std::int16_t> met_instrument_count;
  std::array<std::int16_t, 5> discarded_words_103{};

  // Site part.
  std::string site_name = "TESTSITE";  // char[32]
  std::int16_t site_value_1 = 0;
  std::int16_t site_value_2 = 0;
  std::int16_t site_value_3 = 0;
  std::int16_t site_value_4 = 0;
  std::int16_t radar_count = 1;

  // Radar part.
  std::string radar_name = "RADAR0";  // char[32]
  std::int16_t radar_value = 0;
  std::int32_t tx_frequency = 91500;  // hundredths of a MHz
  std::int32_t kept_84 = 0;
  std::array<std::int16_t, 3> kept_88{};
  std::int16_t beam_count = 1;
  std::int16_t kept_96 = 0;
  std::array<ModeSpec, 4> modes{};
  std::array<BeamSpec, 10> beams{};
  std::array<std::int32_t, 5> kept_286{};
  std::array<DirectionSpec, 9> directions{DirectionSpec{"VERTICAL", 0, 90, 0}};
  std::array<std::int16_t, 4> pulse_table_keys{};
  std::array<std::int16_t, 4> pulse_table_values{};
  std::array<std::int16_t, 4> kept_484{};
  std::int16_t window1_start = 1;
  std::int16_t window1_points = 64;
  std::int16_t window2_start = 1;
  std::int16_t window2_points = 1;  // 1 = no window 2
  std::array<std::int16_t, 6> spectrum_extra{};
  std::int16_t kept_512 = 0;
  std::array<std::int16_t, 25> kept_514{};
  std::int32_t closing = 0;

  // Written after the closing field, version 103 and above only. Every entry
  // is written, whatever the count says.
  std::vector<std::int16_t> met_instrument_list;
};

// Size of a well-formed block: 568 for versions below 103, otherwise 580 plus
// 2 per met instrument.
std::size_t header_block_size(int header_version, int met_instrument_count);

// Offset of a site/radar part field in a block of the given version: the
// offset in a version 100-102 block, plus 12 from version 103 on.
std::size_t header_field_offset(int header_version, std::size_t offset_in_v102);

Bytes encode_header(const HeaderSpec& spec);

// ---------------------------------------------------------------------------
// Data file: records
// ---------------------------------------------------------------------------

// N: datacode >= 3000 (own spectra flag, 4-byte length, overrides always).
// S: datacode < 3000 in a spectra file (4-byte length, optional overrides).
// M: datacode < 3000 in a moments file (2-byte length, optional overrides).
enum class Layout { N, S, M };

// The layout a reader picks for `datacode` given the spectra flag then in
// effect.
Layout layout_for(std::int16_t datacode, bool spectra_flag_in_effect);

// Bytes before the body: N 24; S 18 (+4 with overrides); M 16 (+4).
// `has_overrides` is ignored for N.
std::size_t record_header_size(Layout layout, bool has_overrides);
// 4 for N and S, 2 for M.
std::size_t trailer_width(Layout layout);
// The length a layout S or M record must exceed for a reader to take the
// override words as present: M 5*G + 18, S 5*G + 4*G*P + 22 (wide enough not
// to overflow). Layout N has no bound; the result is then -1.
std::int64_t override_bound(Layout layout, std::int16_t gate_count,
                            std::int16_t spectral_points);

struct RecordSpec {
  std::int16_t datacode = 2100;
  Layout layout = Layout::M;
  // Written in the length field when set; otherwise the true length: record
  // header (with overrides if present) + body + trailer width. For layout M
  // the field and the trailer are 16 bits: the low 16 bits are written.
  std::optional<std::int32_t> record_length;
  std::int16_t spectra_flag = 0;  // layout N only
  std::int32_t header_offset = 0;
  std::int32_t record_time = 0;  // seconds since 1970 UTC
  std::int16_t radar_index = 0;
  std::int16_t beam_index = 0;
  // Layout N always carries the two override words; S and M carry them when
  // this is set (whether a reader sees them depends on record_length).
  bool has_overrides = false;
  std::int16_t coherent_integrations = 100;
  std::int16_t spectral_averages = 30;
  Bytes body;
  // Trailer value when set, else the record length as written above.
  std::optional<std::int32_t> trailer;
  // Leave the trailer bytes out. The computed length still counts them, so
  // the record reads as one cut short before its trailer.
  bool omit_trailer = false;
};

// The length written for `spec` when record_length is not set.
std::int32_t computed_record_length(const RecordSpec& spec);

Bytes encode_record(const RecordSpec& spec);

// ---------------------------------------------------------------------------
// Record bodies
// ---------------------------------------------------------------------------

// One gate of a moment set, as stored counts (no unit conversion). In the
// x0xx encoding the fields are cut to the narrower widths (width to uint8,
// snr and first-set noise to int8) by keeping the low bits.
struct GateMoments {
  std::int16_t velocity = 0;
  std::uint16_t width = 0;
  std::int16_t snr = 0;  // hundredths of a dB (16-bit), dB (x0xx)
  // First set: noise, hundredths of a dB (16-bit) or dB (x0xx).
  // Second set: auxiliary value in tenths (int16 in both encodings).
  std::int16_t noise_or_aux = 0;
};

// What the datacode selects.
bool uses_16bit_moments(std::int16_t datacode);  // hundreds digit non-zero
bool has_second_set(std::int16_t datacode);      // %100 == 16, or 17 in 16-bit
bool has_met_values(std::int16_t datacode);      // >= 3000
bool positional_spectra(std::int16_t datacode);  // %100 == 17

// First moment set: 8 bytes per gate (int16, uint16, int16, int16).
void put_first_set_16(Bytes& b, const std::vector<GateMoments>& gates);
// First moment set: 5 bytes per gate (int16, uint8, int8, int8).
void put_first_set_x0xx(Bytes& b, const std::vector<GateMoments>& gates);
// Second moment set: 8 bytes per gate (int16, uint16, int16, int16 aux).
void put_second_set_16(Bytes& b, const std::vector<GateMoments>& gates);
// Second moment set: 6 bytes per gate (int16, uint8, int8, int16 aux).
void put_second_set_x0xx(Bytes& b, const std::vector<GateMoments>& gates);
// Met values: one int32 each.
void put_met_values(Bytes& b, const std::vector<std::int32_t>& values);
// Spectra: float32 values, row after row (one row per gate) as given. The
// caller arranges the rows: P values per gate for the compact arrangement,
// window 1 then window 2 values per gate for the positional one.
void put_spectra(Bytes& b, const std::vector<std::vector<float>>& rows);

struct BodySpec {
  std::int16_t datacode = 2100;
  std::vector<GateMoments> moments;
  std::vector<GateMoments> second;       // written only if the datacode has one
  std::vector<std::int32_t> met_values;  // written only if datacode >= 3000
  std::vector<std::vector<float>> spectra;  // written whenever non-empty
};

// First set (encoding by the hundreds digit), second set, met values and
// spectra, in file order, as the datacode selects.
Bytes encode_body(const BodySpec& spec);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Create or replace `path` with the bytes; std::runtime_error on failure.
void write_file(const std::string& path, const Bytes& bytes);
// Whole file contents; std::runtime_error when it cannot be opened.
Bytes read_file(const std::string& path);

}  // namespace quellmar::writer

#endif  // QUELLMAR_WRITER_FORMAT_WRITER_H_
