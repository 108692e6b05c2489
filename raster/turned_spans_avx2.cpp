// SPDX-License-Identifier: MIT
// Rows of turned dabs, eight samples at a time with AVX2 (chosen at run time; each
// function carries its own target attribute).
//
// Per level, each lane computes its sample index, row and fractions and the bounds
// test of the sampling rule; lanes outside the level read row 0 and are zeroed at the
// end. The two neighbours of a sample sit next to each other in a level row, so each
// of its two rows is one load: 16 bits at 8-bit depth, 32 at 16-bit. Then:
//   8 bits:  lane = bytes (a, b, c, d) = row y at x, x + 1, row y + 1 at x, x + 1;
//            words (a, c) × (255 − fx) + (b, d) × fx on 16-bit lanes gives (top, bottom),
//            and PMADDWD with (255 − fy, fy) the vertical sum.
//   16 bits: (a, b) and (c, d) as biased word pairs through PMADDWD (see Passes16 in
//            scaled_blocks_avx2.cpp), then (top, bottom) the same way.
// Every sum is reduced with Kp_Div255's formula, in the sampling rule's order.
#include "raster/turned_spans.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define KSTROKE_AVX2 __attribute__((target("avx2")))

namespace {

struct LevelView {
  const unsigned char* origin;  ///< sample (0, 0)
  int32_t rowBytes;
  __m128i shiftIndex;  ///< 16 + k
  __m128i shiftFraction;  ///< 8 + k
  __m256i width, height, stride;  ///< stride in samples

  KSTROKE_AVX2 LevelView(const Kp_MIPPyramid& p, int32_t k)
      : origin(p.levels[k]),
        rowBytes(p.rowBytes[k]),
        shiftIndex(_mm_cvtsi32_si128(16 + k)),
        shiftFraction(_mm_cvtsi32_si128(8 + k)),
        width(_mm256_set1_epi32(p.Width(k))),
        height(_mm256_set1_epi32(p.Height(k))),
        stride(_mm256_set1_epi32(p.rowBytes[k] / p.BytesPerSample())) {}
};

/// Kp_Div255 on 32-bit lanes.
KSTROKE_AVX2 inline __m256i Div255x32(__m256i sum) {
  const __m256i t = _mm256_add_epi32(sum, _mm256_set1_epi32(128));
  return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

/// Index, fractions, bounds test and sample offset of eight lanes at one level.
struct Lanes {
  __m256i fx, fy, inside;
  alignas(32) int32_t offset[8];
};

KSTROKE_AVX2 inline void Locate(const LevelView& l, __m256i u, __m256i v, Lanes* out) {
  const __m256i x = _mm256_sra_epi32(u, l.shiftIndex);
  const __m256i y = _mm256_sra_epi32(v, l.shiftIndex);
  const __m256i byte = _mm256_set1_epi32(255);
  out->fx = _mm256_and_si256(_mm256_srl_epi32(u, l.shiftFraction), byte);
  out->fy = _mm256_and_si256(_mm256_srl_epi32(v, l.shiftFraction), byte);
  const __m256i minus2 = _mm256_set1_epi32(-2);
  out->inside = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpgt_epi32(x, minus2), _mm256_cmpgt_epi32(l.width, x)),
      _mm256_and_si256(_mm256_cmpgt_epi32(y, minus2), _mm256_cmpgt_epi32(l.height, y)));
  const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(y, l.stride), x);
  _mm256_store_si256(reinterpret_cast<__m256i*>(out->offset), _mm256_and_si256(offset, out->inside));
}

/// Vertical blend of (top, bottom) word pairs, reduced; fy per lane.
KSTROKE_AVX2 inline __m256i VerticalPairs(__m256i pairs, __m256i fy) {
  const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), fy), _mm256_slli_epi32(fy, 16));
  return Div255x32(_mm256_madd_epi16(pairs, wy));
}

KSTROKE_AVX2 inline __m256i Sample8(const LevelView& l, __m256i u, __m256i v) {
  Lanes s;
  Locate(l, u, v, &s);
  uint32_t q[8];
  for (int j = 0; j < 8; ++j) {
    const unsigned char* at = l.origin + s.offset[j];
    uint16_t top, bottom;
    std::memcpy(&top, at, 2);
    std::memcpy(&bottom, at + l.rowBytes, 2);
    q[j] = uint32_t(top) | uint32_t(bottom) << 16;
  }
  const __m256i quad = _mm256_setr_epi32(int32_t(q[0]), int32_t(q[1]), int32_t(q[2]), int32_t(q[3]),
                                         int32_t(q[4]), int32_t(q[5]), int32_t(q[6]), int32_t(q[7]));
  const __m256i pickLeft = _mm256_setr_epi8(  // words (a, c) of each lane
      0, -128, 2, -128, 4, -128, 6, -128, 8, -128, 10, -128, 12, -128, 14, -128,
      0, -128, 2, -128, 4, -128, 6, -128, 8, -128, 10, -128, 12, -128, 14, -128);
  const __m256i pickRight = _mm256_setr_epi8(  // words (b, d)
      1, -128, 3, -128, 5, -128, 7, -128, 9, -128, 11, -128, 13, -128, 15, -128,
      1, -128, 3, -128, 5, -128, 7, -128, 9, -128, 11, -128, 13, -128, 15, -128);
  const __m256i left = _mm256_shuffle_epi8(quad, pickLeft);
  const __m256i right = _mm256_shuffle_epi8(quad, pickRight);
  const __m256i w1 = _mm256_or_si256(s.fx, _mm256_slli_epi32(s.fx, 16));
  const __m256i w0 = _mm256_sub_epi16(_mm256_set1_epi16(255), w1);
  const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(left, w0), _mm256_mullo_epi16(right, w1));
  // (sum + 128) × 257 >> 16 is Kp_Div255 for sums up to 255 × 255 (span_kernels.cpp).
  const __m256i topBottom =
      _mm256_mulhi_epu16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
  return _mm256_and_si256(VerticalPairs(topBottom, s.fy), s.inside);
}

/// Kp_Div255 of a PMADDWD of samples biased by −16384 against weights summing to 255.
KSTROKE_AVX2 inline __m256i Div255Biased(__m256i madd) {
  return Div255x32(_mm256_add_epi32(madd, _mm256_set1_epi32(16384 * 255)));
}

KSTROKE_AVX2 inline __m256i Sample16(const LevelView& l, __m256i u, __m256i v) {
  Lanes s;
  Locate(l, u, v, &s);
  uint32_t top[8], bottom[8];
  for (int j = 0; j < 8; ++j) {
    const unsigned char* at = l.origin + 2 * std::ptrdiff_t(s.offset[j]);
    std::memcpy(&top[j], at, 4);
    std::memcpy(&bottom[j], at + l.rowBytes, 4);
  }
  const __m256i bias = _mm256_set1_epi16(16384);
  const __m256i a = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(top)), bias);
  const __m256i b = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom)), bias);
  const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), s.fx), _mm256_slli_epi32(s.fx, 16));
  const __m256i t = Div255Biased(_mm256_madd_epi16(a, wx));
  const __m256i d = Div255Biased(_mm256_madd_epi16(b, wx));
  const __m256i bias32 = _mm256_set1_epi32(16384);
  const __m256i pairs = _mm256_or_si256(_mm256_and_si256(_mm256_sub_epi32(t, bias32), _mm256_set1_epi32(0xFFFF)),
                                        _mm256_slli_epi32(_mm256_sub_epi32(d, bias32), 16));
  const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), s.fy), _mm256_slli_epi32(s.fy, 16));
  return _mm256_and_si256(Div255Biased(_mm256_madd_epi16(pairs, wy)), s.inside);
}

template <class T>
KSTROKE_AVX2 inline __m256i Sample(const LevelView& l, __m256i u, __m256i v) {
  if constexpr (sizeof(T) == 1)
    return Sample8(l, u, v);
  else
    return Sample16(l, u, v);
}

/// Eight results of 0..full into eight samples of T.
KSTROKE_AVX2 inline void Store8(uint8_t* dst, __m256i r) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(r, r), 0x08);
  const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_castsi256_si128(words));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
}
KSTROKE_AVX2 inline void Store8(uint16_t* dst, __m256i r) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(r, r), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(words));
}

/// One sample by the rule, for the tail.
template <class T>
uint32_t SampleOne(const Kp_MIPPyramid& p, int32_t k, uint32_t u, uint32_t v) {
  const int32_t x = int32_t(u) >> (16 + k), y = int32_t(v) >> (16 + k);
  if (x < -1 || x >= p.Width(k) || y < -1 || y >= p.Height(k)) return 0;
  const T* r0 = reinterpret_cast<const T*>(p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k]);
  const T* r1 = reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(r0) + p.rowBytes[k]);
  const uint32_t fx = (u >> (8 + k)) & 255u, fy = (v >> (8 + k)) & 255u;
  const uint32_t top = Kp_Div255(uint32_t(r0[x]) * (255 - fx) + uint32_t(r0[x + 1]) * fx);
  const uint32_t bottom = Kp_Div255(uint32_t(r1[x]) * (255 - fx) + uint32_t(r1[x + 1]) * fx);
  return Kp_Div255(top * (255 - fy) + bottom * fy);
}

template <class T, bool kTrilinear>
KSTROKE_AVX2 void TurnedRun(const Kp_SpanArgs& a, uint32_t weight, int32_t begin, int32_t end, T* dst) {
  const Kp_MIPPyramid& p = *a.pyramid;
  const int32_t level = a.level;
  if (a.count < 8) {
    uint32_t u = uint32_t(a.u) + uint32_t(begin) * uint32_t(a.du);
    uint32_t v = uint32_t(a.v) + uint32_t(begin) * uint32_t(a.dv);
    for (int32_t i = begin; i < end; ++i, u += uint32_t(a.du), v += uint32_t(a.dv)) {
      const uint32_t s0 = SampleOne<T>(p, level, u, v);
      dst[i] = static_cast<T>(
          kTrilinear ? Kp_Div255((255 - weight) * s0 + weight * SampleOne<T>(p, level + 1, u, v)) : s0);
    }
    return;
  }
  const LevelView fine(p, level);
  const LevelView coarse(p, kTrilinear ? level + 1 : level);
  const __m256i laneU = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(a.du));
  const __m256i laneV = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(a.dv));
  const __m256i w0 = _mm256_set1_epi32(int32_t(255 - weight)), w1 = _mm256_set1_epi32(int32_t(weight));
  // Vectors of eight from `begin`, the last moved back to end inside the row: samples
  // computed twice, or left of `begin` (zeros), come out as the rule gives them.
  for (int32_t next = begin;; next += 8) {
    const int32_t i = std::min(next, a.count - 8);
    // Lane j samples u + (i + j)·du; the additions wrap as the coordinates do.
    const __m256i uu = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(a.u) + uint32_t(i) * uint32_t(a.du))), laneU);
    const __m256i vv = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(a.v) + uint32_t(i) * uint32_t(a.dv))), laneV);
    __m256i r = Sample<T>(fine, uu, vv);
    if (kTrilinear) {
      const __m256i b = Sample<T>(coarse, uu, vv);
      r = Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(r, w0), _mm256_mullo_epi32(b, w1)));
    }
    Store8(dst + i, r);
    if (i + 8 >= end) return;
  }
}

}  // namespace

template <class T, bool kTrilinear>
void Kp_TurnedRunAvx2(const Kp_SpanArgs& a, uint32_t weight, int32_t begin, int32_t end,
                      T* dst) noexcept {
  TurnedRun<T, kTrilinear>(a, weight, begin, end, dst);
}

#else

template <class T, bool kTrilinear>
void Kp_TurnedRunAvx2(const Kp_SpanArgs&, uint32_t, int32_t, int32_t, T*) noexcept {}

#endif

template void Kp_TurnedRunAvx2<uint8_t, false>(const Kp_SpanArgs&, uint32_t, int32_t, int32_t, uint8_t*) noexcept;
template void Kp_TurnedRunAvx2<uint8_t, true>(const Kp_SpanArgs&, uint32_t, int32_t, int32_t, uint8_t*) noexcept;
template void Kp_TurnedRunAvx2<uint16_t, false>(const Kp_SpanArgs&, uint32_t, int32_t, int32_t, uint16_t*) noexcept;
template void Kp_TurnedRunAvx2<uint16_t, true>(const Kp_SpanArgs&, uint32_t, int32_t, int32_t, uint16_t*) noexcept;
