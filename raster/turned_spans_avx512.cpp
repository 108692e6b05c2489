// SPDX-License-Identifier: MIT
// Rows of turned dabs at 8 bits, sixteen samples at a time with AVX-512 (F, BW, VL;
// chosen at run time, each function with its own target attribute). The arithmetic is
// turned_spans_avx2.cpp's 8-bit form on twice the lanes; what the wider registers add:
//   - the bounds test is a lane mask, and the gather loads only the lanes inside the
//     level, leaving zeros elsewhere, so no lane needs zeroing afterwards (all four
//     neighbours 0 give 0 at every step of the rule);
//   - a row's last vector takes only the lanes before the row's end, so every row, of
//     any length, is drawn here and nothing is gathered twice;
//   - results narrow to bytes with one instruction (VPMOVDB).
// At 16 bits a sample's four neighbours are eight bytes; their gathers and the two
// reductions per row pair cost as much on sixteen lanes as on eight, measured, so the
// 16-bit rows keep the AVX2 form.
#include "raster/turned_spans.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#if !defined(__clang__)
// GCC 12 at -O0 takes the unmasked AVX-512 shifts and gathers, which start from an
// undefined vector, for uses of an uninitialised one (a false alarm; the header is
// included after this, so the setting covers its inline bodies too).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "raster/turned_plan_x86.h"
#define KSTROKE_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))

namespace {

struct LevelView {
  const unsigned char* origin;  ///< paired entry (0, 0)
  __m128i shiftIndex;           ///< 16 + k
  __m128i shiftFraction;        ///< 8 + k
  __m512i width, height, stride;  ///< stride in entries

  KSTROKE_AVX512 LevelView(const Kp_MIPPyramid& p, const Kp_PairedRows& paired, int32_t k)
      : origin(paired.origin[k]),
        shiftIndex(_mm_cvtsi32_si128(16 + k)),
        shiftFraction(_mm_cvtsi32_si128(8 + k)),
        width(_mm512_set1_epi32(p.Width(k))),
        height(_mm512_set1_epi32(p.Height(k))),
        stride(_mm512_set1_epi32(Kp_PairedStride(p, paired, k))) {}
};

/// Kp_Div255 on 32-bit lanes.
KSTROKE_AVX512 inline __m512i Div255x32(__m512i sum) {
  const __m512i t = _mm512_add_epi32(sum, _mm512_set1_epi32(128));
  return _mm512_srli_epi32(_mm512_add_epi32(t, _mm512_srli_epi32(t, 8)), 8);
}

/// Sixteen bilinear samples of one level; kChecked false: every lane is known to lie
/// inside the level (Kp_TurnedRow).
template <bool kChecked>
KSTROKE_AVX512 inline __m512i Sample(const LevelView& l, __m512i u, __m512i v, __mmask16 lanes) {
  const __m512i x = _mm512_sra_epi32(u, l.shiftIndex);
  const __m512i y = _mm512_sra_epi32(v, l.shiftIndex);
  const __m512i byte = _mm512_set1_epi32(255);
  const __m512i fx = _mm512_and_si512(_mm512_srl_epi32(u, l.shiftFraction), byte);
  const __m512i fy = _mm512_and_si512(_mm512_srl_epi32(v, l.shiftFraction), byte);
  const __m512i entry = _mm512_add_epi32(_mm512_mullo_epi32(y, l.stride), x);
  if (kChecked) {
    const __m512i minus2 = _mm512_set1_epi32(-2);
    lanes = _kand_mask16(_kand_mask16(lanes, _kand_mask16(_mm512_cmpgt_epi32_mask(x, minus2),
                                                          _mm512_cmpgt_epi32_mask(l.width, x))),
                         _kand_mask16(_mm512_cmpgt_epi32_mask(y, minus2), _mm512_cmpgt_epi32_mask(l.height, y)));
  }
  // Bytes (a, c, b, d) of each lane: row y at x, row y + 1 at x, then both at x + 1.
  const __m512i quad = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, entry, l.origin, 2);
  // Words (a, c) and (b, d) of each lane.
  const __m512i pickLeft = _mm512_set4_epi32(0x800d800c, 0x80098008, 0x80058004, 0x80018000);
  const __m512i pickRight = _mm512_set4_epi32(0x800f800e, 0x800b800a, 0x80078006, 0x80038002);
  const __m512i left = _mm512_shuffle_epi8(quad, pickLeft);
  const __m512i right = _mm512_shuffle_epi8(quad, pickRight);
  const __m512i w1 = _mm512_or_si512(fx, _mm512_slli_epi32(fx, 16));
  const __m512i w0 = _mm512_sub_epi16(_mm512_set1_epi16(255), w1);
  const __m512i sum = _mm512_add_epi16(_mm512_mullo_epi16(left, w0), _mm512_mullo_epi16(right, w1));
  // (sum + 128) × 257 >> 16 is Kp_Div255 for sums up to 255 × 255 (span_kernels.cpp).
  const __m512i topBottom =
      _mm512_mulhi_epu16(_mm512_add_epi16(sum, _mm512_set1_epi16(128)), _mm512_set1_epi16(257));
  const __m512i wy = _mm512_or_si512(_mm512_sub_epi32(byte, fy), _mm512_slli_epi32(fy, 16));
  return Div255x32(_mm512_madd_epi16(topBottom, wy));
}

/// The results (0..255) of the lanes set in `lanes` into dst; the others stay.
KSTROKE_AVX512 inline void Put(uint8_t* dst, __m512i r, __mmask16 lanes, bool raise) {
  __m128i bytes = _mm512_cvtepi32_epi8(r);
  if (raise) bytes = _mm_max_epu8(_mm_maskz_loadu_epi8(lanes, dst), bytes);
  _mm_mask_storeu_epi8(dst, lanes, bytes);
}

/// The first n lanes.
KSTROKE_AVX512 inline __mmask16 FirstLanes(int32_t n) {
  return n >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1);
}

/// Zeros over [from, to).
KSTROKE_AVX512 inline void Zero(uint8_t* dst, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; i += 16) _mm_mask_storeu_epi8(dst + i, FirstLanes(to - i), _mm_setzero_si128());
}

/// One row, as TurnedRowWith in turned_spans_avx2.cpp draws it.
template <bool kTrilinear, bool kRaise>
KSTROKE_AVX512 inline void Row(const LevelView& fine, const LevelView& coarse, __m512i w0, __m512i w1,
                               const Kp_SpanArgs& a, Kp_RowPlanner* planner, uint8_t* dst) {
  const Kp_TurnedRow plan = Kp_PlanTurnedRowAvx2(a, kTrilinear, planner);
  if (!kRaise) {
    Zero(dst, 0, plan.begin);
    Zero(dst, std::max(plan.end, plan.begin), a.count);
  }
  if (plan.end <= plan.begin) return;
  const uint32_t du = uint32_t(a.du), dv = uint32_t(a.dv);
  const __m512i index = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i stepU = _mm512_set1_epi32(int32_t(du * 16u)), stepV = _mm512_set1_epi32(int32_t(dv * 16u));
  // Vectors of sixteen from `begin`; the last takes only the lanes before `end`, so
  // nothing is gathered or written past it. The additions wrap as the coordinates do.
  const int32_t begin = plan.begin;
  __m512i uu = _mm512_add_epi32(_mm512_set1_epi32(int32_t(uint32_t(a.u) + uint32_t(begin) * du)),
                                _mm512_mullo_epi32(index, _mm512_set1_epi32(a.du)));
  __m512i vv = _mm512_add_epi32(_mm512_set1_epi32(int32_t(uint32_t(a.v) + uint32_t(begin) * dv)),
                                _mm512_mullo_epi32(index, _mm512_set1_epi32(a.dv)));
  for (int32_t i = begin; i < plan.end; i += 16) {
    const int32_t n = plan.end - i;
    const __mmask16 lanes = FirstLanes(n);
    const bool inside = i >= plan.insideBegin && i + n <= plan.insideEnd;
    __m512i r = inside ? Sample<false>(fine, uu, vv, lanes) : Sample<true>(fine, uu, vv, lanes);
    if (kTrilinear) {
      const __m512i b = inside ? Sample<false>(coarse, uu, vv, lanes) : Sample<true>(coarse, uu, vv, lanes);
      r = Div255x32(_mm512_add_epi32(_mm512_mullo_epi32(r, w0), _mm512_mullo_epi32(b, w1)));
    }
    Put(dst + i, r, lanes, kRaise);
    uu = _mm512_add_epi32(uu, stepU);
    vv = _mm512_add_epi32(vv, stepV);
  }
}

template <bool kTrilinear, bool kRaise>
KSTROKE_AVX512 void Rows(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) {
  const LevelView fine(*common.pyramid, *common.paired, common.level);
  const LevelView coarse(*common.pyramid, *common.paired, kTrilinear ? common.level + 1 : common.level);
  const uint32_t weight = kTrilinear ? uint32_t(Kp_TrilinearWeight(common.level, common.scale)) : 0;
  const __m512i w0 = _mm512_set1_epi32(int32_t(255 - weight)), w1 = _mm512_set1_epi32(int32_t(weight));
  const int32_t height = common.pyramid->Height(common.level);
  Kp_RowPlanner planner;
  Kp_SpanArgs a = common;
  for (int32_t k = 0; k < n; ++k) {
    const Kp_RowArgs& row = rows[k];
    auto* dst = static_cast<uint8_t*>(row.dst);
    // A row of constant v is judged once, at level L: outside it, all zeros.
    const int32_t y = row.v >> (16 + common.level);
    if (row.dv == 0 && (y < -1 || y >= height)) {
      if (!kRaise) std::memset(dst, 0, std::size_t(row.count));
      continue;
    }
    a.count = row.count;
    a.u = row.u;
    a.du = row.du;
    a.v = row.v;
    a.dv = row.dv;
    Row<kTrilinear, kRaise>(fine, coarse, w0, w1, a, &planner, dst);
  }
}

}  // namespace

template <bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx512(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) noexcept {
  Rows<kTrilinear, kRaise>(common, rows, n);
}

#else

template <bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx512(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept {}

#endif

template void Kp_TurnedRowsAvx512<false, false>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept;
template void Kp_TurnedRowsAvx512<true, false>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept;
template void Kp_TurnedRowsAvx512<false, true>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept;
template void Kp_TurnedRowsAvx512<true, true>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept;
