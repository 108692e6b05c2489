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

#include "raster/turned_plan_x86.h"
#define KSTROKE_AVX2 __attribute__((target("avx2")))

namespace {

struct LevelView {
  const unsigned char* origin;  ///< paired entry (0, 0)
  __m128i shiftIndex;           ///< 16 + k
  __m128i shiftFraction;        ///< 8 + k
  __m256i width, height, stride;  ///< stride in entries
  int32_t rowBytes;               ///< from one paired row to the next

  KSTROKE_AVX2 LevelView(const Kp_MIPPyramid& p, const Kp_PairedRows& paired, int32_t k)
      : origin(paired.origin[k]),
        shiftIndex(_mm_cvtsi32_si128(16 + k)),
        shiftFraction(_mm_cvtsi32_si128(8 + k)),
        width(_mm256_set1_epi32(p.Width(k))),
        height(_mm256_set1_epi32(p.Height(k))),
        stride(_mm256_set1_epi32(Kp_PairedStride(p, paired, k))),
        rowBytes(paired.rowBytes[k]) {}
};

/// Kp_Div255 on 32-bit lanes.
KSTROKE_AVX2 inline __m256i Div255x32(__m256i sum) {
  const __m256i t = _mm256_add_epi32(sum, _mm256_set1_epi32(128));
  return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

/// Fractions, bounds test and paired-entry index of eight lanes at one level; lanes
/// outside the level index entry (0, 0).
struct Lanes {
  __m256i fx, fy, inside, entry;
};

/// kChecked false: every lane is known to lie inside the level (Kp_TurnedRow).
template <bool kChecked>
KSTROKE_AVX2 inline void Locate(const LevelView& l, __m256i u, __m256i v, Lanes* out) {
  const __m256i x = _mm256_sra_epi32(u, l.shiftIndex);
  const __m256i y = _mm256_sra_epi32(v, l.shiftIndex);
  const __m256i byte = _mm256_set1_epi32(255);
  out->fx = _mm256_and_si256(_mm256_srl_epi32(u, l.shiftFraction), byte);
  out->fy = _mm256_and_si256(_mm256_srl_epi32(v, l.shiftFraction), byte);
  out->entry = _mm256_add_epi32(_mm256_mullo_epi32(y, l.stride), x);
  if (!kChecked) return;
  const __m256i minus2 = _mm256_set1_epi32(-2);
  out->inside = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpgt_epi32(x, minus2), _mm256_cmpgt_epi32(l.width, x)),
      _mm256_and_si256(_mm256_cmpgt_epi32(y, minus2), _mm256_cmpgt_epi32(l.height, y)));
  out->entry = _mm256_and_si256(out->entry, out->inside);
}

/// Vertical blend of (top, bottom) word pairs, reduced; fy per lane.
KSTROKE_AVX2 inline __m256i VerticalPairs(__m256i pairs, __m256i fy) {
  const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), fy), _mm256_slli_epi32(fy, 16));
  return Div255x32(_mm256_madd_epi16(pairs, wy));
}

/// The horizontal blends of eight lanes of bytes (a, c, b, d): row y at x, row y + 1 at
/// x, then both at x + 1, with fraction fx per lane: (top, bottom) word pairs.
KSTROKE_AVX2 inline __m256i HorizontalQuads8(__m256i quad, __m256i fx) {
  const __m256i pickLeft = _mm256_setr_epi8(  // words (a, c) of each lane
      0, -128, 1, -128, 4, -128, 5, -128, 8, -128, 9, -128, 12, -128, 13, -128,
      0, -128, 1, -128, 4, -128, 5, -128, 8, -128, 9, -128, 12, -128, 13, -128);
  const __m256i pickRight = _mm256_setr_epi8(  // words (b, d)
      2, -128, 3, -128, 6, -128, 7, -128, 10, -128, 11, -128, 14, -128, 15, -128,
      2, -128, 3, -128, 6, -128, 7, -128, 10, -128, 11, -128, 14, -128, 15, -128);
  const __m256i left = _mm256_shuffle_epi8(quad, pickLeft);
  const __m256i right = _mm256_shuffle_epi8(quad, pickRight);
  const __m256i w1 = _mm256_or_si256(fx, _mm256_slli_epi32(fx, 16));
  const __m256i w0 = _mm256_sub_epi16(_mm256_set1_epi16(255), w1);
  const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(left, w0), _mm256_mullo_epi16(right, w1));
  // (sum + 128) × 257 >> 16 is Kp_Div255 for sums up to 255 × 255 (span_kernels.cpp).
  return _mm256_mulhi_epu16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

/// The bilinear blend of eight quads; fractions fx and fy per lane.
KSTROKE_AVX2 inline __m256i BlendQuads8(__m256i quad, __m256i fx, __m256i fy) {
  return VerticalPairs(HorizontalQuads8(quad, fx), fy);
}

/// Eight quads from their paired entries at 8 bits: one 32-bit gather.
KSTROKE_AVX2 inline __m256i Quads8(const LevelView& l, __m256i entry) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(l.origin), entry, 2);
}

template <bool kChecked>
KSTROKE_AVX2 inline __m256i Sample8(const LevelView& l, __m256i u, __m256i v) {
  Lanes s;
  Locate<kChecked>(l, u, v, &s);
  const __m256i r = BlendQuads8(Quads8(l, s.entry), s.fx, s.fy);
  return kChecked ? _mm256_and_si256(r, s.inside) : r;
}

/// Kp_Div255 of a PMADDWD of samples biased by −16384 against weights summing to 255.
KSTROKE_AVX2 inline __m256i Div255Biased(__m256i madd) {
  return Div255x32(_mm256_add_epi32(madd, _mm256_set1_epi32(16384 * 255)));
}

/// At 16 bits the lanes come out in the order 0, 1, 4, 5, 2, 3, 6, 7 (BlendQuads16);
/// both levels alike, so the blend of the two needs no reordering, only the store.
/// Lanes in the natural order put in that order.
KSTROKE_AVX2 inline __m256i Mixed16(__m256i lanes) {
  return _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
}

/// Eight quads from their paired entries at 16 bits (words a, c, b, d each), four to a
/// vector. Eight 64-bit loads: this processor's gathers take about a cycle per element,
/// and plain loads do as well here, ahead of the arithmetic.
KSTROKE_AVX2 inline void Quads16(const LevelView& l, __m256i entry, __m256i* q0, __m256i* q1) {
  alignas(32) int32_t e[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(e), entry);
  alignas(32) uint64_t q[8];
  for (int j = 0; j < 8; ++j) std::memcpy(&q[j], l.origin + 4 * std::ptrdiff_t(e[j]), 8);
  *q0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(q));
  *q1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(q + 4));
}

/// The horizontal blends of the eight quads of Quads16 with fraction fx per lane:
/// (top, bottom) biased word pairs, lanes in the order 0, 1, 4, 5, 2, 3, 6, 7.
KSTROKE_AVX2 inline __m256i HorizontalQuads16(__m256i q0, __m256i q1, __m256i fx) {
  const __m256i order = _mm256_setr_epi8(  // words (a, b, c, d)
      0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15,
      0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
  const __m256i bias = _mm256_set1_epi16(16384);
  const __m256i lo = _mm256_sub_epi16(
      _mm256_shuffle_epi8(q0, order), bias);
  const __m256i hi = _mm256_sub_epi16(
      _mm256_shuffle_epi8(q1, order), bias);
  // Weights (255 − fx, fx) for both pairs of each sample: lanes 0, 0, 1, 1, ... 7, 7.
  const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), fx), _mm256_slli_epi32(fx, 16));
  const __m256i wLo = _mm256_permutevar8x32_epi32(wx, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
  const __m256i wHi = _mm256_permutevar8x32_epi32(wx, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
  // (top, bottom) of samples 0..3 and 4..7 as 32-bit lanes, then as biased word pairs:
  // the in-lane pack gives the samples in the order 0, 1, 4, 5, 2, 3, 6, 7.
  const __m256i bias32 = _mm256_set1_epi32(16384);
  const __m256i tbLo = _mm256_sub_epi32(Div255Biased(_mm256_madd_epi16(lo, wLo)), bias32);
  const __m256i tbHi = _mm256_sub_epi32(Div255Biased(_mm256_madd_epi16(hi, wHi)), bias32);
  return _mm256_packs_epi32(tbLo, tbHi);
}

/// The vertical blend of HorizontalQuads16's pairs; fraction fy per lane in their order.
KSTROKE_AVX2 inline __m256i VerticalPairs16(__m256i pairs, __m256i fy) {
  const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(255), fy), _mm256_slli_epi32(fy, 16));
  return Div255Biased(_mm256_madd_epi16(pairs, wy));
}

/// The bilinear blend of the eight quads of Quads16, lanes out in the order 0, 1, 4, 5,
/// 2, 3, 6, 7; fractions fx and fy per lane, in the natural order.
KSTROKE_AVX2 inline __m256i BlendQuads16(__m256i q0, __m256i q1, __m256i fx, __m256i fy) {
  return VerticalPairs16(HorizontalQuads16(q0, q1, fx), Mixed16(fy));
}

template <bool kChecked>
KSTROKE_AVX2 inline __m256i Sample16(const LevelView& l, __m256i u, __m256i v) {
  Lanes s;
  Locate<kChecked>(l, u, v, &s);
  __m256i q0, q1;
  Quads16(l, s.entry, &q0, &q1);
  const __m256i r = BlendQuads16(q0, q1, s.fx, s.fy);
  return kChecked ? _mm256_and_si256(r, Mixed16(s.inside)) : r;
}

template <class T, bool kChecked>
KSTROKE_AVX2 inline __m256i Sample(const LevelView& l, __m256i u, __m256i v) {
  if constexpr (sizeof(T) == 1)
    return Sample8<kChecked>(l, u, v);
  else
    return Sample16<kChecked>(l, u, v);
}

/// Eight results of 0..full into eight samples of T.
KSTROKE_AVX2 inline void Store8(uint8_t* dst, __m256i r) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(r, r), 0x08);
  const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_castsi256_si128(words));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
}
KSTROKE_AVX2 inline void Store8(uint16_t* dst, __m256i r) {
  // Lanes in the order 0, 1, 4, 5, 2, 3, 6, 7 (Sample16): the in-lane pack of r with
  // itself puts 0, 1, 4, 5 in the low half and 2, 3, 6, 7 in the high half.
  const __m256i words = _mm256_packus_epi32(r, r);
  const __m128i lo = _mm256_castsi256_si128(words), hi = _mm256_extracti128_si256(words, 1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi32(lo, hi));
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

template <class T, bool kTrilinear, bool kChecked>
KSTROKE_AVX2 inline __m256i Blend(const LevelView& fine, const LevelView& coarse, __m256i u, __m256i v,
                                  __m256i w0, __m256i w1) {
  const __m256i a = Sample<T, kChecked>(fine, u, v);
  if (!kTrilinear) return a;
  const __m256i b = Sample<T, kChecked>(coarse, u, v);
  return Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(a, w0), _mm256_mullo_epi32(b, w1)));
}

/// Raises eight mask samples to the results: max(m, min(s, full)); s never passes
/// full, and raising twice to the same values is raising once.
KSTROKE_AVX2 inline void Raise8(uint8_t* dst, __m256i r) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(r, r), 0x08);
  const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_castsi256_si128(words));
  const __m128i m = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_max_epu8(m, bytes));
}
KSTROKE_AVX2 inline void Raise8(uint16_t* dst, __m256i r) {
  const __m256i words = _mm256_packus_epi32(r, r);  // lane order as in Store8
  const __m128i lo = _mm256_castsi256_si128(words), hi = _mm256_extracti128_si256(words, 1);
  const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_max_epu16(m, _mm_unpacklo_epi32(lo, hi)));
}

/// What every row of one dab shares.
struct DabSetUp {
  LevelView fine, coarse;
  uint32_t weight;
  __m256i w0, w1;

  KSTROKE_AVX2 DabSetUp(const Kp_SpanArgs& a, bool trilinear, uint32_t weight_)
      : fine(*a.pyramid, *a.paired, a.level),
        coarse(*a.pyramid, *a.paired, trilinear ? a.level + 1 : a.level),
        weight(weight_),
        w0(_mm256_set1_epi32(int32_t(255 - weight_))),
        w1(_mm256_set1_epi32(int32_t(weight_))) {}
};

/// The row `a` as `plan` lays it out. kRaise: the results raise the destination
/// (Raise8) and the zeros outside the ink's reach are not written, raising by 0 being
/// no change.
template <class T, bool kTrilinear, bool kRaise>
KSTROKE_AVX2 inline void TurnedRowWith(const DabSetUp& dab, const Kp_SpanArgs& a, const Kp_TurnedRow& plan,
                                       T* out) {
  const Kp_MIPPyramid& p = *a.pyramid;
  const uint32_t weight = dab.weight;
  const int32_t level = a.level, count = a.count;
  const uint32_t u0 = uint32_t(a.u), v0 = uint32_t(a.v), du = uint32_t(a.du), dv = uint32_t(a.dv);
  T* const dst = out;
  if (count < 8) {
    uint32_t u = u0, v = v0;
    for (int32_t i = 0; i < count; ++i, u += du, v += dv) {
      if (i < plan.begin || i >= plan.end) {
        if (!kRaise) dst[i] = 0;
        continue;
      }
      const uint32_t s0 = SampleOne<T>(p, level, u, v);
      const T s = static_cast<T>(
          kTrilinear ? Kp_Div255((255 - weight) * s0 + weight * SampleOne<T>(p, level + 1, u, v)) : s0);
      dst[i] = kRaise ? std::max(dst[i], s) : s;
    }
    return;
  }
  // Zeros outside [begin, end), in vectors that stay inside the row; any that reach
  // into [begin, end) are overwritten below.
  const __m256i zero = _mm256_setzero_si256();
  if (!kRaise) {
    for (int32_t i = 0; i < plan.begin; i += 8) Store8(dst + std::min(i, count - 8), zero);
    for (int32_t i = plan.end; i < count; i += 8) Store8(dst + std::min(i, count - 8), zero);
  }
  if (plan.end <= plan.begin) return;

  const LevelView& fine = dab.fine;
  const LevelView& coarse = dab.coarse;
  const __m256i laneU = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(a.du));
  const __m256i laneV = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(a.dv));
  const __m256i step8U = _mm256_set1_epi32(int32_t(du * 8u)), step8V = _mm256_set1_epi32(int32_t(dv * 8u));
  const __m256i w0 = dab.w0, w1 = dab.w1;
  // Vectors of eight from `begin`, the last moved back to end inside the row: samples
  // computed twice, or left of `begin` (zeros), come out as the rule gives them. Lane
  // j samples u + (i + j)·du; the additions wrap as the coordinates do.
  int32_t i = std::min(plan.begin, count - 8);
  __m256i uu = _mm256_add_epi32(_mm256_set1_epi32(int32_t(u0 + uint32_t(i) * du)), laneU);
  __m256i vv = _mm256_add_epi32(_mm256_set1_epi32(int32_t(v0 + uint32_t(i) * dv)), laneV);
  for (;;) {
    const bool inside = i >= plan.insideBegin && i + 8 <= plan.insideEnd;
    const __m256i r = inside ? Blend<T, kTrilinear, false>(fine, coarse, uu, vv, w0, w1)
                             : Blend<T, kTrilinear, true>(fine, coarse, uu, vv, w0, w1);
    if (kRaise)
      Raise8(dst + i, r);
    else
      Store8(dst + i, r);
    if (i + 8 >= plan.end) return;
    if (i + 16 <= count) {
      i += 8;
      uu = _mm256_add_epi32(uu, step8U);
      vv = _mm256_add_epi32(vv, step8V);
    } else {
      i = count - 8;
      uu = _mm256_add_epi32(_mm256_set1_epi32(int32_t(u0 + uint32_t(i) * du)), laneU);
      vv = _mm256_add_epi32(_mm256_set1_epi32(int32_t(v0 + uint32_t(i) * dv)), laneV);
    }
  }
}

template <class T, bool kTrilinear, bool kRaise>
KSTROKE_AVX2 void TurnedRow(const Kp_SpanArgs& a, uint32_t weight, T* out) {
  const DabSetUp dab(a, kTrilinear, weight);
  TurnedRowWith<T, kTrilinear, kRaise>(dab, a, Kp_PlanTurnedRow(a, kTrilinear), out);
}

template <class T, bool kTrilinear, bool kRaise>
KSTROKE_AVX2 void TurnedRows(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) {
  const DabSetUp dab(common, kTrilinear, kTrilinear ? uint32_t(Kp_TrilinearWeight(common.level, common.scale)) : 0);
  const int32_t height = common.pyramid->Height(common.level);
  Kp_RowPlanner planner;
  Kp_SpanArgs a = common;
  for (int32_t k = 0; k < n; ++k) {
    const Kp_RowArgs& row = rows[k];
    T* dst = static_cast<T*>(row.dst);
    a.count = row.count;
    a.u = row.u;
    a.du = row.du;
    a.v = row.v;
    a.dv = row.dv;
    // A row of constant v is judged once, at level L: outside it, all zeros.
    const int32_t y = row.v >> (16 + common.level);
    if (row.dv == 0 && (y < -1 || y >= height)) {
      if (!kRaise) std::memset(dst, 0, std::size_t(row.count) * sizeof(T));
      continue;
    }
    TurnedRowWith<T, kTrilinear, kRaise>(dab, a, Kp_PlanTurnedRowAvx2(a, kTrilinear, &planner), dst);
  }
}

/// One level's columns of an unturned block, eight of them, worked out once for all its
/// rows: the byte offsets of their paired entries in a paired row (0 outside the level,
/// so the loads stay in the row), fractions, and the lanes that sample (in the lane
/// order the blend gives them).
struct Columns {
  alignas(32) int32_t offset[8];
  __m256i fx, sampled;
};

template <class T>
KSTROKE_AVX2 inline void ColumnsAt(const LevelView& l, __m256i u, Columns* c) {
  const __m256i x = _mm256_sra_epi32(u, l.shiftIndex);
  c->fx = _mm256_and_si256(_mm256_srl_epi32(u, l.shiftFraction), _mm256_set1_epi32(255));
  const __m256i inside =
      _mm256_and_si256(_mm256_cmpgt_epi32(x, _mm256_set1_epi32(-2)), _mm256_cmpgt_epi32(l.width, x));
  const __m256i entryBytes = _mm256_slli_epi32(_mm256_and_si256(x, inside), sizeof(T) == 1 ? 1 : 2);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c->offset), entryBytes);
  c->sampled = sizeof(T) == 1 ? inside : Mixed16(inside);
}

/// The four bytes (8 bits) or eight (16 bits) at `at`.
KSTROKE_AVX2 inline int32_t Load32(const unsigned char* at) {
  int32_t v;
  std::memcpy(&v, at, 4);
  return v;
}
KSTROKE_AVX2 inline int64_t Load64(const unsigned char* at) {
  int64_t v;
  std::memcpy(&v, at, 8);
  return v;
}

/// The 16-bit quads at row + o[0] and row + o[1].
KSTROKE_AVX2 inline __m128i TwoQuads16(const unsigned char* row, const int32_t* o) {
  return _mm_insert_epi64(_mm_cvtsi64_si128(Load64(row + o[0])), Load64(row + o[1]), 1);
}

/// Level row y of eight columns, fraction fy in every lane; 0 in the lanes that do not
/// sample. The quads are put together in registers from plain loads: a gather of eight
/// took longer on this processor, and so did storing the loads and reading them back
/// as one vector.
template <class T>
KSTROKE_AVX2 inline __m256i SampleColumns(const LevelView& l, const Columns& c, int32_t y, __m256i fy) {
  const unsigned char* row = l.origin + std::ptrdiff_t(y) * l.rowBytes;
  const int32_t* o = c.offset;
  __m256i r;
  if constexpr (sizeof(T) == 1) {
    __m128i a = _mm_cvtsi32_si128(Load32(row + o[0]));
    __m128i b = _mm_cvtsi32_si128(Load32(row + o[4]));
    a = _mm_insert_epi32(a, Load32(row + o[1]), 1);
    b = _mm_insert_epi32(b, Load32(row + o[5]), 1);
    a = _mm_insert_epi32(a, Load32(row + o[2]), 2);
    b = _mm_insert_epi32(b, Load32(row + o[6]), 2);
    a = _mm_insert_epi32(a, Load32(row + o[3]), 3);
    b = _mm_insert_epi32(b, Load32(row + o[7]), 3);
    r = BlendQuads8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), c.fx, fy);
  } else {
    const __m256i q0 = _mm256_inserti128_si256(_mm256_castsi128_si256(TwoQuads16(row, o)), TwoQuads16(row, o + 2), 1);
    const __m256i q1 =
        _mm256_inserti128_si256(_mm256_castsi128_si256(TwoQuads16(row, o + 4)), TwoQuads16(row, o + 6), 1);
    r = VerticalPairs16(HorizontalQuads16(q0, q1, c.fx), fy);  // fy is the same in every lane
  }
  return _mm256_and_si256(r, c.sampled);
}

/// An unturned block of up to kKp_SmallBlockMax samples a row (see Kp_SmallBlockAvx2),
/// in vectors of eight whose columns are set up once.
template <class T, bool kTrilinear>
KSTROKE_AVX2 void SmallBlock(const Kp_SpanArgs& a, T* dst) {
  const Kp_MIPPyramid& p = *a.pyramid;
  const int32_t level = a.level, count = a.count;
  const DabSetUp dab(a, kTrilinear, kTrilinear ? uint32_t(Kp_TrilinearWeight(level, a.scale)) : 0);
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const int32_t heightFine = p.Height(level);
  // Vectors of eight from the row's start, the last moved back to end with the row; a
  // row of fewer than eight samples keeps only its own lanes. Each vector goes down the
  // whole block with its columns in registers.
  for (int32_t start = 0; start < count; start += 8) {
    const int32_t first = std::max(0, std::min(start, count - 8));
    const uint32_t u0 = uint32_t(a.u) + uint32_t(first) * uint32_t(a.du);  // wraps as the rule's sums do
    const __m256i u =
        _mm256_add_epi32(_mm256_set1_epi32(int32_t(u0)), _mm256_mullo_epi32(lane, _mm256_set1_epi32(a.du)));
    Columns fine, coarse;
    ColumnsAt<T>(dab.fine, u, &fine);
    if (kTrilinear) ColumnsAt<T>(dab.coarse, u, &coarse);
    auto* out = reinterpret_cast<unsigned char*>(dst + first);
    uint32_t v = uint32_t(a.v);
    for (int32_t j = 0; j < a.rows; ++j, v += uint32_t(a.dv), out += a.rowBytes) {
      // A row is judged at level L (the rule for rows of constant v). Level L + 1 has
      // (h(L) >> 1) + 1 rows, so its row y >> 1 is inside too; its columns are not:
      // x = −2 at level L is −1 at level L + 1.
      const int32_t y = int32_t(v) >> (16 + level);
      __m256i r = _mm256_setzero_si256();
      if (y >= -1 && y < heightFine) {
        r = SampleColumns<T>(dab.fine, fine, y, _mm256_set1_epi32(int32_t((v >> (8 + level)) & 255u)));
        if (kTrilinear) {
          const __m256i b = SampleColumns<T>(dab.coarse, coarse, int32_t(v) >> (17 + level),
                                             _mm256_set1_epi32(int32_t((v >> (9 + level)) & 255u)));
          r = Div255x32(_mm256_add_epi32(_mm256_mullo_epi32(r, dab.w0), _mm256_mullo_epi32(b, dab.w1)));
        }
      }
      T* row = reinterpret_cast<T*>(out);
      if (count >= 8) {
        Store8(row, r);
      } else {
        alignas(16) T part[8];
        Store8(part, r);
        std::memcpy(row, part, std::size_t(count) * sizeof(T));
      }
    }
  }
}

}  // namespace

template <class T>
bool Kp_SmallBlockAvx2(const Kp_SpanArgs& a, bool trilinear, T* dst) noexcept {
  if (a.count < 1 || a.count > kKp_SmallBlockMax || !a.paired) return false;
  if (trilinear)
    SmallBlock<T, true>(a, dst);
  else
    SmallBlock<T, false>(a, dst);
  return true;
}

template <class T, bool kTrilinear>
void Kp_TurnedRowAvx2(const Kp_SpanArgs& a, uint32_t weight, T* dst) noexcept {
  TurnedRow<T, kTrilinear, false>(a, weight, dst);
}

template <class T, bool kTrilinear>
void Kp_TurnedRowRaiseAvx2(const Kp_SpanArgs& a, uint32_t weight, T* dst) noexcept {
  TurnedRow<T, kTrilinear, true>(a, weight, dst);
}

template <class T, bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx2(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) noexcept {
  TurnedRows<T, kTrilinear, kRaise>(common, rows, n);
}

#else

template <class T>
bool Kp_SmallBlockAvx2(const Kp_SpanArgs&, bool, T*) noexcept {
  return false;
}
template <class T, bool kTrilinear>
void Kp_TurnedRowAvx2(const Kp_SpanArgs&, uint32_t, T*) noexcept {}
template <class T, bool kTrilinear>
void Kp_TurnedRowRaiseAvx2(const Kp_SpanArgs&, uint32_t, T*) noexcept {}
template <class T, bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx2(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept {}

#endif

#define KSTROKE_TURNED_INSTANTIATE(T, kTrilinear)                                                 \
  template void Kp_TurnedRowAvx2<T, kTrilinear>(const Kp_SpanArgs&, uint32_t, T*) noexcept;        \
  template void Kp_TurnedRowRaiseAvx2<T, kTrilinear>(const Kp_SpanArgs&, uint32_t, T*) noexcept;   \
  template void Kp_TurnedRowsAvx2<T, kTrilinear, false>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept; \
  template void Kp_TurnedRowsAvx2<T, kTrilinear, true>(const Kp_SpanArgs&, const Kp_RowArgs*, int32_t) noexcept;
template bool Kp_SmallBlockAvx2<uint8_t>(const Kp_SpanArgs&, bool, uint8_t*) noexcept;
template bool Kp_SmallBlockAvx2<uint16_t>(const Kp_SpanArgs&, bool, uint16_t*) noexcept;
KSTROKE_TURNED_INSTANTIATE(uint8_t, false)
KSTROKE_TURNED_INSTANTIATE(uint8_t, true)
KSTROKE_TURNED_INSTANTIATE(uint16_t, false)
KSTROKE_TURNED_INSTANTIATE(uint16_t, true)
#undef KSTROKE_TURNED_INSTANTIATE
