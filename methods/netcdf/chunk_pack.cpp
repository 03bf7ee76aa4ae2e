#include "methods/netcdf/chunk_pack.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef QUELLMAR_WITH_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef QUELLMAR_WITH_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace quellmar::companions {

struct DeflateCodes {
#ifdef QUELLMAR_WITH_ISAL
  isal_hufftables tables;
#endif
};

namespace {

// HDF5's shuffle: byte k of value i goes to k * count + i; the bytes past
// the last whole value stay where they are.
void shuffle(const unsigned char* in, size_t bytes, size_t element_size,
             unsigned char* out) {
  const size_t count = bytes / element_size;
  if (element_size == 4) {
    unsigned char* plane[4] = {out, out + count, out + 2 * count,
                               out + 3 * count};
    for (size_t i = 0; i < count; ++i) {
      plane[0][i] = in[4 * i];
      plane[1][i] = in[4 * i + 1];
      plane[2][i] = in[4 * i + 2];
      plane[3][i] = in[4 * i + 3];
    }
  } else {
    for (size_t k = 0; k < element_size; ++k) {
      for (size_t i = 0; i < count; ++i) {
        out[k * count + i] = in[i * element_size + k];
      }
    }
  }
  const size_t whole = count * element_size;
  std::memcpy(out + whole, in + whole, bytes - whole);
}

#ifdef QUELLMAR_WITH_LIBDEFLATE
// The compressors of one thread, one per level, made when first used.
struct Compressors {
  std::array<libdeflate_compressor*, 10> by_level{};
  ~Compressors() {
    for (libdeflate_compressor* c : by_level) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* get(int level) {
    if (by_level[level] == nullptr) {
      by_level[level] = libdeflate_alloc_compressor(level);
    }
    return by_level[level];
  }
};
thread_local Compressors compressors;
#endif

// One zlib stream of the bytes at level into *out; false on failure. The
// stream is made in a buffer of this thread that is kept for the next
// chunk, and copied out at its own length.
bool deflate(const unsigned char* in, size_t bytes, int level,
             const DeflateCodes* codes, std::vector<unsigned char>* stored) {
  (void)codes;  // used with ISA-L only
  thread_local std::unique_ptr<unsigned char[]> scratch;
  thread_local size_t scratch_bytes = 0;
  auto room = [&](size_t need) {
    if (need > scratch_bytes) {
      scratch.reset(new unsigned char[need]);
      scratch_bytes = need;
    }
    return scratch.get();
  };
#ifdef QUELLMAR_WITH_ISAL
  // Level 1, the default, by ISA-L's igzip at its level 1: about three
  // times as fast as libdeflate, streams 2 to 8 % larger. A chunk whose
  // stream would not fit the buffer goes to the compressors below.
  if (level == 1 && bytes <= 0x7fffffffu) {
    thread_local std::vector<uint8_t> level_buffer(ISAL_DEF_LVL1_DEFAULT);
    const size_t bound = bytes + bytes / 8 + 1024;
    unsigned char* out = room(bound);
    isal_zstream z;
    isal_deflate_stateless_init(&z);
    if (codes != nullptr) {
      // Level 0 with the codes given: no codes to build for this chunk.
      z.level = 0;
      z.hufftables = const_cast<isal_hufftables*>(&codes->tables);
    } else {
      z.level = 1;
      z.level_buf = level_buffer.data();
      z.level_buf_size = static_cast<uint32_t>(level_buffer.size());
    }
    z.gzip_flag = IGZIP_ZLIB;
    z.next_in = const_cast<uint8_t*>(in);
    z.avail_in = static_cast<uint32_t>(bytes);
    z.next_out = out;
    z.avail_out = static_cast<uint32_t>(std::min<size_t>(bound, 0xffffffffu));
    z.end_of_stream = 1;
    z.flush = NO_FLUSH;
    if (isal_deflate_stateless(&z) == COMP_OK) {
      stored->assign(out, z.next_out);
      return true;
    }
  }
#endif
#ifdef QUELLMAR_WITH_LIBDEFLATE
  if (libdeflate_compressor* c = compressors.get(level)) {
    const size_t bound = libdeflate_zlib_compress_bound(c, bytes);
    unsigned char* out = room(bound);
    const size_t n = libdeflate_zlib_compress(c, in, bytes, out, bound);
    stored->assign(out, out + n);
    return n > 0;
  }
#endif
  uLongf length = compressBound(bytes);
  unsigned char* out = room(length);
  if (compress2(out, &length, in, bytes, level) != Z_OK) return false;
  stored->assign(out, out + length);
  return true;
}

}  // namespace

namespace {

// The mantissa bits the library's formula keeps of v (23 or more: all).
int kept_bits(double v, int digits) {
  const double digits_per_bit = std::log10(2.0);
  const double bits_per_digit = std::log2(10.0);
  int exponent = 0;
  const double mantissa = std::fabs(std::frexp(v, &exponent));
  const double log10_mantissa = std::log10(mantissa);
  const double before_point =
      std::floor(exponent * digits_per_bit + log10_mantissa) + 1.0;
  const int power =
      static_cast<int>(std::floor(bits_per_digit * (before_point - digits)));
  return std::abs(static_cast<int>(
                      std::floor(exponent - bits_per_digit * log10_mantissa)) -
                  power) -
         1;
}

uint32_t round_bits(uint32_t bits, int kept) {
  if (kept >= 23) return bits;
  const uint32_t keep = ~uint32_t{0} << (23 - (kept < 0 ? 0 : kept));
  const uint32_t half = ~keep & (keep >> 1);
  return (bits + half) & keep;
}

float from_fields(uint32_t exponent_field, uint32_t mantissa_field) {
  const uint32_t bits = (exponent_field << 23) | mantissa_field;
  float f = 0.0f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Within one binary exponent (mantissa fields 1 .. 2^23 - 1) the formula's
// kept bits change at most once: floor(e - log2(10) log10 |m|) is e for
// 0.5 < |m| < 1, and e log10 2 + log10 |m| spans less than one. So the
// kept bits of an exponent are one count below a mantissa threshold and
// one from it, found once per exponent by bisection with the formula
// itself; mantissa field 0 (|m| = 0.5), subnormals and the non-finite
// take the formula directly.
struct ExponentRule {
  bool ready = false;
  uint32_t threshold = 0;
  int below = 0, from = 0;
};

int kept_bits_fast(uint32_t bits, float v, int digits,
                   std::array<ExponentRule, 256>& rules) {
  const uint32_t e = (bits >> 23) & 0xffu;
  const uint32_t m = bits & 0x7fffffu;
  if (e == 0 || m == 0) return kept_bits(v, digits);
  ExponentRule& r = rules[e];
  if (!r.ready) {
    r.below = kept_bits(from_fields(e, 1), digits);
    r.from = kept_bits(from_fields(e, 0x7fffff), digits);
    r.threshold = 0x800000;
    if (r.from != r.below) {
      uint32_t low = 1, high = 0x7fffff;
      while (high - low > 1) {
        const uint32_t mid = low + (high - low) / 2;
        if (kept_bits(from_fields(e, mid), digits) == r.below) {
          low = mid;
        } else {
          high = mid;
        }
      }
      r.threshold = high;
    }
    r.ready = true;
  }
  return m < r.threshold ? r.below : r.from;
}

}  // namespace

void quantize(float* values, size_t count, int digits, float fill) {
  thread_local std::array<ExponentRule, 256> rules;
  thread_local int rules_digits = -1;
  if (rules_digits != digits) {
    rules = {};
    rules_digits = digits;
  }
  for (size_t i = 0; i < count; ++i) {
    const float v = values[i];
    if (v == fill || v == 0.0f || !std::isfinite(v)) continue;
    uint32_t bits = 0;
    std::memcpy(&bits, &values[i], sizeof bits);
    bits = round_bits(bits, kept_bits_fast(bits, v, digits, rules));
    std::memcpy(&values[i], &bits, sizeof bits);
  }
}

std::shared_ptr<const DeflateCodes> deflate_codes(const void* values,
                                                  size_t bytes,
                                                  size_t element_size) {
#ifdef QUELLMAR_WITH_ISAL
  if (bytes == 0 || bytes > 0x7fffffffu) return nullptr;
  std::vector<unsigned char> shuffled(bytes);
  shuffle(static_cast<const unsigned char*>(values), bytes, element_size,
          shuffled.data());
  isal_huff_histogram histogram;
  std::memset(&histogram, 0, sizeof histogram);
  isal_update_histogram(shuffled.data(), static_cast<int>(bytes), &histogram);
  auto codes = std::make_shared<DeflateCodes>();
  if (isal_create_hufftables(&codes->tables, &histogram) != 0) return nullptr;
  return codes;
#else
  (void)values;
  (void)bytes;
  (void)element_size;
  return nullptr;
#endif
}

bool pack_chunk(const void* values, size_t bytes, size_t element_size,
                int level, std::vector<unsigned char>* stored,
                const DeflateCodes* codes) {
  const auto* in = static_cast<const unsigned char*>(values);
  if (level <= 0) {
    stored->assign(in, in + bytes);
    return true;
  }
  if (level > 9) level = 9;
  if (level != 1) codes = nullptr;
  if (element_size <= 1) return deflate(in, bytes, level, codes, stored);
  thread_local std::vector<unsigned char> shuffled;
  shuffled.resize(bytes);
  shuffle(in, bytes, element_size, shuffled.data());
  return deflate(shuffled.data(), bytes, level, codes, stored);
}

}  // namespace quellmar::companions
