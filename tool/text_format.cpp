#include "tool/text_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <string>

namespace quellmar::tool {
namespace {

__extension__ using u128 = unsigned __int128;

// "00" "01" ... "99": two decimal digits per entry.
constexpr char kDigitPairs[201] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

// kPow10[i] == 10^i for i in 0..19.
constexpr auto kPow10 = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : powers) {
    entry = power;
    power *= 10;  // wraps harmlessly after the last entry
  }
  return powers;
}();

// Number of decimal digits of v (1 for zero).
inline int CountDigits(std::uint64_t v) {
  // Counting v | 1 instead of v changes nothing for v > 0 (an even number
  // and its successor have as many digits) and yields 1 for zero.
  v |= 1;
  // bit_width * log10(2) estimates the count; it is low by at most one.
  const int estimate = (std::bit_width(v) * 1233) >> 12;
  return estimate + (v >= kPow10[estimate] ? 1 : 0);
}

// Writes `count` spaces at out, where count <= 8 is the common case.
// REQUIRES: out has room for max(count, 8) bytes.
inline char* WriteSpaces(char* out, std::size_t count) {
  if (count <= 8) {
    std::memcpy(out, "        ", 8);
  } else {
    std::memset(out, ' ', count);
  }
  return out + count;
}

// Writes the decimal digits of v so that they end just before `end`, with
// no leading zeros (a single '0' for zero). Returns the first digit.
inline char* WriteDigitsBackward(char* end, std::uint64_t v) {
  while (v >= 100) {
    const std::uint64_t pair = v % 100;
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * v, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// Writes exactly `count` digits of v (v < 10^count), zero-filled on the
// left, ending just before `end`. Returns the first digit.
inline char* WriteFixedDigitsBackward(char* end, std::uint64_t v, int count) {
  while (count >= 2) {
    const std::uint64_t pair = v % 100;
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
    count -= 2;
  }
  if (count == 1) *--end = static_cast<char>('0' + v);
  return end;
}

// As WriteDigitsBackward, for 128-bit values.
char* WriteDigitsBackward128(char* end, u128 v) {
  constexpr std::uint64_t kChunk = 10000000000000000000ull;  // 10^19
  while (v > ~std::uint64_t{0}) {
    const std::uint64_t low = static_cast<std::uint64_t>(v % kChunk);
    v /= kChunk;
    end = WriteFixedDigitsBackward(end, low, 19);
  }
  return WriteDigitsBackward(end, static_cast<std::uint64_t>(v));
}

// Copies [begin, end) to out in a field of |width| characters, padded with
// spaces on the left, or on the right when width is negative (printf's
// "%*" conventions).
inline char* EmitPadded(char* out, const char* begin, const char* end,
                        int width) {
  const std::size_t len = static_cast<std::size_t>(end - begin);
  if (width >= 0) {
    if (static_cast<std::size_t>(width) > len) {
      const std::size_t pad = static_cast<std::size_t>(width) - len;
      std::memset(out, ' ', pad);
      out += pad;
    }
    std::memcpy(out, begin, len);
    return out + len;
  }
  std::memcpy(out, begin, len);
  out += len;
  const std::size_t field = 0 - static_cast<std::size_t>(width);
  if (field > len) {
    std::memset(out, ' ', field - len);
    out += field - len;
  }
  return out;
}

char* FormatFixedWithSnprintf(char* out, float v, int width, int precision) {
  const double d = v;
  const int len = std::snprintf(nullptr, 0, "%*.*f", width, precision, d);
  if (len <= 0) return out;
  std::string text(static_cast<std::size_t>(len) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%*.*f", width, precision, d);
  std::memcpy(out, text.data(), static_cast<std::size_t>(len));
  return out + len;
}

}  // namespace

char* format_int(char* out, std::int64_t v, int width, bool zero_pad) {
  if (width < 0) {
    // Left-justified: padded with spaces on the right, never with zeros.
    char tmp[kMaxFormattedLength];
    return EmitPadded(out, tmp, format_int(tmp, v, 0, false), width);
  }
  const bool negative = v < 0;
  // Two's complement negation in unsigned arithmetic also covers INT64_MIN.
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(v)
                                           : static_cast<std::uint64_t>(v);
  const int digits = CountDigits(magnitude);
  const std::size_t len = static_cast<std::size_t>(digits) + negative;
  const std::size_t field = static_cast<std::size_t>(width);
  const std::size_t pad = field > len ? field - len : 0;
  if (zero_pad) {
    *out = '-';
    out += negative;
    std::memset(out, '0', pad);
    out += pad;
  } else {
    out = WriteSpaces(out, pad);
    *out = '-';
    out += negative;
  }
  char* const end = out + digits;
  WriteDigitsBackward(end, magnitude);
  return end;
}

char* format_fixed(char* out, float v, int width, int precision) {
  if (precision < 0) precision = 0;
  if (precision > kMaxNativePrecision) {
    return FormatFixedWithSnprintf(out, v, width, precision);
  }
  if (width < 0) {
    // Left-justified: padded with spaces on the right.
    char tmp[kMaxFormattedLength];
    return EmitPadded(out, tmp, format_fixed(tmp, v, 0, precision), width);
  }
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
  const bool negative = (bits >> 31) != 0;
  const std::uint32_t biased_exponent = (bits >> 23) & 0xff;
  const std::uint32_t fraction_field = bits & 0x7fffff;

  // Fast path: |v| < 2^23 (biased exponent below 150), so the integer part
  // has at most 7 digits; the result is written in place.
  if (biased_exponent < 150) {
    const std::uint64_t mantissa =
        biased_exponent != 0 ? (fraction_field | 0x800000u) : fraction_field;
    const int shift = biased_exponent != 0
                          ? 150 - static_cast<int>(biased_exponent)
                          : 149;  // 1..149
    const std::uint64_t scale = kPow10[precision];
    std::uint64_t integer_part = 0;
    std::uint64_t decimals = 0;  // the rounded fraction times scale
    // With scaled < 2^54 (mantissa < 2^24, scale < 2^30), shifts of 55 or
    // more leave a value strictly below one half: it rounds to zero.
    if (shift <= 54) {
      const std::uint64_t mask = (std::uint64_t{1} << shift) - 1;
      integer_part = mantissa >> shift;
      const std::uint64_t scaled = (mantissa & mask) * scale;
      decimals = scaled >> shift;
      const std::uint64_t rest = scaled & mask;
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      // Exact ties go to the even neighbour of the whole scaled number.
      // Branch-free: the direction is unpredictable for typical data.
      const std::uint64_t odd = (integer_part * scale + decimals) & 1;
      decimals += static_cast<std::uint64_t>(rest > half) |
                  (static_cast<std::uint64_t>(rest == half) & odd);
      const std::uint64_t carry = decimals == scale;
      integer_part += carry;
      decimals -= carry * scale;
    }
    const std::size_t body = static_cast<std::size_t>(
        CountDigits(integer_part) + (precision > 0 ? precision + 1 : 0));
    const std::size_t len = body + negative;
    const std::size_t field = static_cast<std::size_t>(width);
    out = WriteSpaces(out, field > len ? field - len : 0);
    // Sign written unconditionally and kept only when needed: the sign of
    // typical data is unpredictable.
    *out = '-';
    out += negative;
    char* const end = out + body;
    char* p = end;
    if (precision > 0) {
      p = WriteFixedDigitsBackward(p, decimals, precision);
      *--p = '.';
    }
    WriteDigitsBackward(p, integer_part);
    return end;
  }

  // Infinities, NaNs, and integers of 24 to 128 bits (all decimals zero).
  // Longest result: sign, 39 integer digits, point, 9 decimals.
  char tmp[56];
  char* const end = tmp + sizeof tmp;
  char* begin = end;
  if (biased_exponent == 0xff) {
    begin -= 3;
    std::memcpy(begin, fraction_field != 0 ? "nan" : "inf", 3);
  } else {
    // |v| = mantissa * 2^exponent exactly, with exponent 0..104.
    const std::uint64_t mantissa = fraction_field | 0x800000u;
    const int exponent = static_cast<int>(biased_exponent) - 150;
    begin -= precision;
    std::memset(begin, '0', static_cast<std::size_t>(precision));
    if (precision > 0) *--begin = '.';
    if (exponent <= 40) {
      begin = WriteDigitsBackward(begin, mantissa << exponent);
    } else {
      begin = WriteDigitsBackward128(begin, u128{mantissa} << exponent);
    }
  }
  if (negative) *--begin = '-';
  return EmitPadded(out, begin, end, width);
}

TextBuffer::TextBuffer(std::size_t initial_capacity)
    : data_(std::make_unique_for_overwrite<char[]>(
          std::max<std::size_t>(initial_capacity, kMaxFormattedLength))),
      capacity_(std::max<std::size_t>(initial_capacity, kMaxFormattedLength)) {}

void TextBuffer::Grow(std::size_t n) {
  const std::size_t needed = size_ + n;
  const std::size_t new_capacity = std::max(needed, capacity_ * 2);
  auto fresh = std::make_unique_for_overwrite<char[]>(new_capacity);
  if (size_ > 0) std::memcpy(fresh.get(), data_.get(), size_);
  data_ = std::move(fresh);
  capacity_ = new_capacity;
}

}  // namespace quellmar::tool
