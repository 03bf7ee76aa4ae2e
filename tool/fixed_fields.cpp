#include "tool/fixed_fields.h"

#include <cstring>

#include "tool/text_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quellmar {

namespace {

void format_one(float v, std::uint64_t* field, std::uint8_t* length) {
  char text[8];
  *length = static_cast<std::uint8_t>(format_fixed_width8<3>(text, v));
  std::memcpy(field, text, 8);
}

#if defined(__SSE2__)

// |v| * 1000 of two floats, exact in doubles.
inline __m128d scaled(__m128 v) {
  const __m128d abs_mask =
      _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
  return _mm_mul_pd(_mm_and_pd(_mm_cvtps_pd(v), abs_mask), _mm_set1_pd(1000.0));
}

// Four values: the text of each as
//   c0 c1 c2 c3 '.' d1 d2 d3
// where d1 d2 d3 are the decimals and c0..c3 the integer part right-aligned
// with its sign before it, spaces in front.
inline void format_four(const float* in, std::uint64_t* fields,
                        std::uint8_t* lengths) {
  const __m128 v = _mm_loadu_ps(in);
  __m128d s01 = scaled(v);
  __m128d s23 = scaled(_mm_movehl_ps(v, v));
  // Rounded below 1000000 (a tie at the limit goes to the even limit);
  // false for infinities and NaNs too. Those lanes are worked out as 0.
  const __m128d limit = _mm_set1_pd(999999.5);
  const __m128d ok01 = _mm_cmplt_pd(s01, limit);
  const __m128d ok23 = _mm_cmplt_pd(s23, limit);
  s01 = _mm_and_pd(s01, ok01);
  s23 = _mm_and_pd(s23, ok23);
  // Adding and taking away 1.5 * 2^52 rounds to an integer, to nearest
  // with ties to even, as printf rounds.
  const __m128d magic = _mm_set1_pd(6755399441055744.0);
  const __m128d r01 = _mm_sub_pd(_mm_add_pd(s01, magic), magic);
  const __m128d r23 = _mm_sub_pd(_mm_add_pd(s23, magic), magic);
  // Integer part r / 1000: r * 0.001 is within 3e-13 of the true quotient,
  // whose fraction is at most 0.999, so adding 1e-7 and truncating is
  // exact. The decimals are r - 1000 * integer part, exact in doubles.
  const __m128d third = _mm_set1_pd(0.001);
  const __m128d nudge = _mm_set1_pd(1e-7);
  const __m128d k = _mm_set1_pd(1000.0);
  const __m128d i01 = _mm_cvtepi32_pd(
      _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(r01, third), nudge)));
  const __m128d i23 = _mm_cvtepi32_pd(
      _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(r23, third), nudge)));
  const __m128i integer =
      _mm_unpacklo_epi64(_mm_cvttpd_epi32(i01), _mm_cvttpd_epi32(i23));
  const __m128i decimals =
      _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_sub_pd(r01, _mm_mul_pd(i01, k))),
                         _mm_cvttpd_epi32(_mm_sub_pd(r23, _mm_mul_pd(i23, k))));
  // Sixteen-bit lanes: 0..3 the integer parts, 4..7 the decimals, all
  // below 1000. Their digits: x / 100 = (x * 5243) >> 19 and, for x below
  // 100, x / 10 = (x * 6554) >> 16, both exact in this range.
  const __m128i x = _mm_packs_epi32(integer, decimals);
  const __m128i d100 =
      _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(5243)), 3);
  const __m128i r100 =
      _mm_sub_epi16(x, _mm_mullo_epi16(d100, _mm_set1_epi16(100)));
  const __m128i d10 = _mm_mulhi_epu16(r100, _mm_set1_epi16(6554));
  const __m128i d1 =
      _mm_sub_epi16(r100, _mm_mullo_epi16(d10, _mm_set1_epi16(10)));
  const __m128i zero_char = _mm_set1_epi16('0');
  const __m128i hundreds = _mm_add_epi16(d100, zero_char);
  const __m128i tens = _mm_add_epi16(d10, zero_char);
  const __m128i units = _mm_add_epi16(d1, zero_char);

  // Lanes 0..3: sign bit, integer part of 10 or more, of 100 or more.
  const __m128i sign32 = _mm_srai_epi32(_mm_castps_si128(v), 31);
  const __m128i negative = _mm_packs_epi32(sign32, _mm_setzero_si128());
  const __m128i ge10 = _mm_cmpgt_epi16(x, _mm_set1_epi16(9));
  const __m128i ge100 = _mm_cmpgt_epi16(x, _mm_set1_epi16(99));
  const __m128i space = _mm_set1_epi16(' ');
  const __m128i minus_step = _mm_set1_epi16('-' - ' ');
  const __m128i sign_char =
      _mm_add_epi16(space, _mm_and_si128(negative, minus_step));
  auto select = [](__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  };
  const __m128i c2 = select(ge10, tens, sign_char);
  const __m128i c1 = select(
      ge100, hundreds,
      _mm_add_epi16(space,
                    _mm_and_si128(_mm_and_si128(ge10, negative), minus_step)));
  const __m128i c0 = _mm_add_epi16(
      space, _mm_and_si128(_mm_and_si128(ge100, negative), minus_step));
  // Bytes 0..3 of each text from lanes 0..3, bytes 4..7 from lanes 4..7.
  const __m128i low = _mm_setr_epi16(-1, -1, -1, -1, 0, 0, 0, 0);
  const __m128i b0 = select(low, c0, _mm_set1_epi16('.'));
  const __m128i b1 = select(low, c1, hundreds);
  const __m128i b2 = select(low, c2, tens);
  const __m128i b3 = units;
  // Transpose: the eight bytes of text k are b0[k] b1[k] b2[k] b3[k]
  // b0[k+4] b1[k+4] b2[k+4] b3[k+4].
  const __m128i e01 =
      _mm_unpacklo_epi8(_mm_packus_epi16(b0, b0), _mm_packus_epi16(b1, b1));
  const __m128i e23 =
      _mm_unpacklo_epi8(_mm_packus_epi16(b2, b2), _mm_packus_epi16(b3, b3));
  const __m128i first = _mm_unpacklo_epi16(e01, e23);
  const __m128i second = _mm_unpackhi_epi16(e01, e23);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(fields),
                   _mm_unpacklo_epi32(first, second));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(fields + 2),
                   _mm_unpackhi_epi32(first, second));

  // Length: sign, one to three digits, point, three decimals; 0 when the
  // value does not fit.
  __m128i length = _mm_sub_epi16(_mm_set1_epi16(5), negative);
  length = _mm_sub_epi16(length, _mm_add_epi16(ge10, ge100));
  const __m128i ok = _mm_packs_epi32(
      _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(ok01), _mm_castpd_ps(ok23),
                                      _MM_SHUFFLE(2, 0, 2, 0))),
      _mm_setzero_si128());
  length = _mm_and_si128(length, ok);
  const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(length, length));
  std::memcpy(lengths, &packed, 4);
}

#endif

}  // namespace

void format_fields3(const float* v, std::size_t n, std::uint64_t* fields,
                    std::uint8_t* lengths) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) format_four(v + i, fields + i, lengths + i);
#endif
  for (; i < n; ++i) format_one(v[i], fields + i, lengths + i);
}

}  // namespace quellmar
