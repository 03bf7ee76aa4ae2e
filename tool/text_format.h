// Fast printf-compatible text formatting for bulk output.
//
// The formatters here produce exactly the bytes that glibc's printf family
// produces for the corresponding conversions, without locale lookups, format
// string parsing or iostreams:
//
//   format_int(out, v, w, false)    == printf("%*ld", w, v)
//   format_int(out, v, w, true)     == printf("%0*ld", w, v)
//   format_fixed(out, f, w, p)      == printf("%*.*f", w, p, (double)f)
//
// format_fixed rounds the exact binary value of the float to p decimals,
// resolving exact ties to even (glibc's behaviour in the default rounding
// mode). The sign is printed whenever the sign bit is set, so -0.0f and
// small negative values that round to zero print as "-0.00"; infinities
// print as "inf"/"-inf" and NaNs as "nan"/"-nan". Every finite float is
// printed in full (FLT_MAX has 39 integer digits).
//
// TextBuffer is a growable byte buffer built on these functions, meant to
// be filled in a hot loop and flushed to a file in large blocks.

#ifndef QUELLMAR_TOOL_TEXT_FORMAT_H
#define QUELLMAR_TOOL_TEXT_FORMAT_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace quellmar::tool {

// Largest precision handled natively by format_fixed; larger precisions
// are delegated to snprintf.
inline constexpr int kMaxNativePrecision = 9;

// Upper bound on the bytes written by format_int, or by format_fixed with a
// precision of at most kMaxNativePrecision, not counting the padding
// requested by the width (the output is max(|width|, unpadded length)
// bytes). The formatters may use all of this room as scratch space.
inline constexpr std::size_t kMaxFormattedLength = 64;

// Widths follow printf's "%*" conventions: the output is padded to at least
// |width| characters, on the left when width > 0 and with spaces on the
// right when width < 0 (which also disables zero padding); 0 means no
// minimum. Nothing is NUL-terminated; each function returns the end of the
// bytes it wrote.

// Writes v in decimal, padded with spaces, or with zeros after the sign when
// zero_pad is set. REQUIRES: out has room for max(|width|,
// kMaxFormattedLength) bytes.
char* format_int(char* out, std::int64_t v, int width, bool zero_pad = false);

// Writes v with `precision` digits after the decimal point (no point when
// precision is 0), padded with spaces. A negative precision is treated as 0.
// REQUIRES: out has room for max(|width|, kMaxFormattedLength) bytes when
// precision <= kMaxNativePrecision, and for max(|width|, 64 + precision)
// bytes otherwise.
char* format_fixed(char* out, float v, int width, int precision);

// A double argument would be silently narrowed; only floats are supported.
char* format_fixed(char* out, double v, int width, int precision) = delete;

namespace fast_fixed_detail {

// Text of 0..999: the digits from the lowest byte up, the count of digits
// in the highest byte.
inline constexpr auto kIntegerText = [] {
  std::array<std::uint32_t, 1000> table{};
  for (std::uint32_t n = 0; n < 1000; ++n) {
    const std::uint32_t count = n >= 100 ? 3 : n >= 10 ? 2 : 1;
    std::uint32_t entry = count << 24;
    std::uint32_t rest = n;
    for (std::uint32_t i = count; i-- > 0; rest /= 10) {
      entry |= ('0' + rest % 10) << (8 * i);
    }
    table[n] = entry;
  }
  return table;
}();

// '.' and the kPrecision digits of 0 .. 10^kPrecision - 1, from the lowest
// byte up.
template <int kPrecision>
inline constexpr auto kPointAndDecimals = [] {
  constexpr std::uint32_t kCount = kPrecision == 1   ? 10
                                   : kPrecision == 2 ? 100
                                                     : 1000;
  std::array<std::uint32_t, kCount> table{};
  for (std::uint32_t n = 0; n < kCount; ++n) {
    std::uint32_t entry = '.';
    std::uint32_t rest = n;
    for (std::uint32_t i = kPrecision; i > 0; --i, rest /= 10) {
      entry |= ('0' + rest % 10) << (8 * i);
    }
    table[n] = entry;
  }
  return table;
}();

// |v| rounded to kPrecision decimals, when that is below 1000: the sign bit,
// the integer part and the decimals as an integer (0 .. 10^kPrecision - 1).
// ok is false for anything else (|v| >= 999.9995..., infinities, NaNs).
struct ShortFixed {
  bool ok;
  std::size_t negative;
  std::uint64_t integer_part;
  std::uint64_t decimals;
};

template <int kPrecision>
inline ShortFixed split_short_fixed(float v) {
  constexpr std::uint64_t kScale = kPrecision == 1   ? 10
                                   : kPrecision == 2 ? 100
                                                     : 1000;
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  ShortFixed r{false, bits >> 31, 0, 0};
  // |v| * 10^kPrecision is exact in a double (24 + 10 significant bits).
  const double scaled = std::fabs(static_cast<double>(v)) * kScale;
  // Rounded below 1000 * kScale (a tie at the limit goes to the even
  // limit); false for infinities and NaNs as well.
  if (!(scaled < 1000.0 * kScale - 0.5)) return r;
  // Adding 1.5 * 2^52 rounds to an integer in the low bits of the sum, to
  // nearest with ties to even, as printf rounds.
  const double sum = scaled + 6755399441055744.0;
  std::uint64_t sum_bits;
  std::memcpy(&sum_bits, &sum, sizeof sum_bits);
  const std::uint64_t n = sum_bits - 0x4338000000000000ull;
  r.integer_part = n / kScale;
  r.decimals = n % kScale;
  r.ok = true;
  return r;
}

}  // namespace fast_fixed_detail

// format_fixed for a precision fixed at compile time, specialised for the
// values that bulk output is made of: when |v| rounded to kPrecision
// decimals is below 1000, the text is assembled from two small tables with
// a few stores; anything else goes through format_fixed. Same bytes as
// format_fixed(out, v, width, kPrecision).
// REQUIRES: 1 <= kPrecision <= 3, 0 <= width <= 16, and out has room for
// kMaxFormattedLength bytes.
template <int kPrecision>
inline char* format_fixed_fast(char* out, float v, int width) {
  static_assert(kPrecision >= 1 && kPrecision <= 3);
  const fast_fixed_detail::ShortFixed f =
      fast_fixed_detail::split_short_fixed<kPrecision>(v);
  if (!f.ok) return format_fixed(out, v, width, kPrecision);
  const std::uint32_t integer_text =
      fast_fixed_detail::kIntegerText[f.integer_part];
  const std::uint32_t decimal_text =
      fast_fixed_detail::kPointAndDecimals<kPrecision>[f.decimals];
  const std::size_t digits = integer_text >> 24;
  const std::size_t length = f.negative + digits + 1 + kPrecision;
  const std::size_t field = static_cast<std::size_t>(width);
  std::memcpy(out, "                ", 16);
  out += field > length ? field - length : 0;
  *out = '-';
  out += f.negative;
  std::memcpy(out, &integer_text, 4);
  out += digits;
  std::memcpy(out, &decimal_text, 4);
  return out + 1 + kPrecision;
}

// printf("%8.*f", kPrecision, v) for the common case that the text without
// padding fits the eight characters: writes exactly eight bytes at out and
// returns the length of the text without its padding (so a text of
// length <= 7 also reads as " " followed by "%7.*f"). Returns 0, with the
// eight bytes at out unspecified, when |v| rounds to 1000 or more or is not
// finite; format_fixed handles those. Each call depends on nothing but v,
// so fields of fixed width can be written side by side in parallel.
// REQUIRES: 1 <= kPrecision <= 3; out has room for 8 bytes.
template <int kPrecision>
inline std::size_t format_fixed_width8(char* out, float v) {
  static_assert(kPrecision >= 1 && kPrecision <= 3);
  const fast_fixed_detail::ShortFixed f =
      fast_fixed_detail::split_short_fixed<kPrecision>(v);
  const std::uint64_t integer_text =
      fast_fixed_detail::kIntegerText[f.integer_part];
  const std::uint64_t decimal_text =
      fast_fixed_detail::kPointAndDecimals<kPrecision>[f.decimals];
  const std::size_t digits = integer_text >> 24;
  // Sign, integer digits, point and decimals from the lowest byte up: at
  // most 1 + 3 + 1 + 3 = 8 bytes.
  std::uint64_t text =
      (integer_text & 0xffffff) | (decimal_text << (8 * digits));
  text = (text << (8 * f.negative)) | ('-' * f.negative);
  const std::size_t length = f.negative + digits + 1 + kPrecision;
  const unsigned pad_bits = 8 * static_cast<unsigned>(8 - length);
  const std::uint64_t field =
      (text << pad_bits) |
      (0x2020202020202020ull & ((std::uint64_t{1} << pad_bits) - 1));
  std::memcpy(out, &field, 8);
  return f.ok ? length : 0;
}

// Growable output buffer. Not thread-safe; movable, not copyable.
class TextBuffer {
 public:
  explicit TextBuffer(std::size_t initial_capacity = 1 << 16);
  // A moved-from buffer is empty and still usable.
  TextBuffer(TextBuffer&& other) noexcept
      : data_(std::move(other.data_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  TextBuffer& operator=(TextBuffer&& other) noexcept {
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void append(std::string_view s) {
    Reserve(s.size());
    if (!s.empty()) std::memcpy(data_.get() + size_, s.data(), s.size());
    size_ += s.size();
  }
  void append_char(char c) {
    Reserve(1);
    data_[size_++] = c;
  }
  // Same bytes as printf("%*ld", width, v), or "%0*ld" with zero_pad.
  void append_int(std::int64_t v, int width = 0, bool zero_pad = false) {
    Reserve(Room(width, kMaxFormattedLength));
    size_ = format_int(data_.get() + size_, v, width, zero_pad) - data_.get();
  }

  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_.get(), size_}; }
  // Forgets the contents but keeps the storage.
  void clear() { size_ = 0; }
  // Direct writing for hot loops: tail(n) makes room for n more bytes and
  // returns where they go; commit(end) keeps the bytes written up to end.
  char* tail(std::size_t n) {
    Reserve(n);
    return data_.get() + size_;
  }
  void commit(const char* end) {
    size_ = static_cast<std::size_t>(end - data_.get());
  }

 private:
  static std::size_t Room(int width, std::size_t minimum) {
    const std::size_t field = width >= 0 ? static_cast<std::size_t>(width)
                                         : 0 - static_cast<std::size_t>(width);
    return field > minimum ? field : minimum;
  }
  void Reserve(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
  }
  void Grow(std::size_t n);

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quellmar::tool

#endif  // QUELLMAR_TOOL_TEXT_FORMAT_H
