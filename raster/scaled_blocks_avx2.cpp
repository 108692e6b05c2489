// SPDX-License-Identifier: MIT
// The separable block kernels of scaled_blocks.h with 32-byte vectors, for processors
// with AVX2 (chosen at run time; each function carries its own target attribute, so
// nothing inline that other files share is built for AVX2).
//
// Horizontal pass: the columns of a strip fall into groups (8 at 8 bits, 4 at 16)
// whose samples lie within 16 bytes of the level row. Per group the plan keeps that
// window's start and a byte shuffle that picks each column's two neighbours out of
// it, with their weights 255 − f and f; a column outside the level picks zero bytes.
// Groups that do not fit a window (steps of two samples or more) are blended one
// column at a time. Vertical pass and level blend: H rows are 16-bit, so at 8 bits
// everything runs on 16-bit lanes and Kp_Div255 is one multiply-high (see Div255x8
// in span_kernels.cpp); at 16 bits the pairs go through PMADDWD biased by −16384.
#include "raster/scaled_blocks.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define KSTROKE_AVX2 __attribute__((target("avx2")))

namespace {

using kp_blocks::Columns;
using kp_blocks::HorizontalOne;
using kp_blocks::kNoSample;
using kp_blocks::kPadColumns;
using kp_blocks::kStripColumns;
using kp_blocks::OutRow;

KSTROKE_AVX2 inline __m256i Div255Lanes16(__m256i sum) {  // sum ≤ 255 × 255
  return _mm256_mulhi_epu16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

/// Kp_Div255 of a PMADDWD of samples biased by −16384 against weights summing to
/// 255: the bias returns as 16384 × 255.
KSTROKE_AVX2 inline __m256i Div255Biased32(__m256i madd) {
  const __m256i t = _mm256_add_epi32(madd, _mm256_set1_epi32(16384 * 255 + 128));
  return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

KSTROKE_AVX2 inline __m256i Window(const unsigned char* row, int32_t byteA, int32_t byteB) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + byteA));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + byteB));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

KSTROKE_AVX2 inline __m256i Load32(const void* q) {
  return _mm256_load_si256(static_cast<const __m256i*>(q));
}

/// Zeros over [0, c0) and [c1, padded) of an H row; both ends are whole vectors of 16
/// (8-bit passes) or 8 (16-bit passes) columns, so 8-column stores fit.
KSTROKE_AVX2 inline void ZeroOutside(uint16_t* h, int32_t c0, int32_t c1, int32_t padded) {
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < c0; i += 8) _mm_store_si128(reinterpret_cast<__m128i*>(h + i), zero);
  for (int32_t i = c1; i < padded; i += 8) _mm_store_si128(reinterpret_cast<__m128i*>(h + i), zero);
}

/// Zeros over [0, o0) and [o1, n) of an output row of at least `step` samples, in
/// vectors that stay inside it; any that reach into [o0, o1) are overwritten after.
template <class T>
KSTROKE_AVX2 inline void ClearOutside(T* dst, int32_t o0, int32_t o1, int32_t n) {
  constexpr int32_t kPer = int32_t(16 / sizeof(T));  // samples per 16-byte store
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < o0; i += kPer)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + std::min(i, n - kPer)), zero);
  for (int32_t i = o1; i < n; i += kPer)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + std::min(i, n - kPer)), zero);
}

/// Columns::Passing of eight t from its table (Columns::PassTable), whose entry
/// clamp(t, lowest, highest) − lowest each lane reads with the next one.
KSTROKE_AVX2 inline __m256i Passing(const int16_t* table, __m256i lowest, __m256i highest, __m256i t) {
  const __m256i at = _mm256_sub_epi32(_mm256_min_epi32(_mm256_max_epi32(t, lowest), highest), lowest);
  const __m256i pairs = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), at, 2);
  return _mm256_and_si256(pairs, _mm256_set1_epi32(0xFFFF));  // columns are never negative
}

/// The passes' calls for many rows at once (kp_blocks::AllRows), so a small block
/// makes one call per pass instead of one per row; compiled for AVX2, so the row passes
/// inline. The rows' column reach is worked out in bulk too.
template <class Passes>
struct RowBatches {
  /// Columns::Fill eight columns at a time. The last vector may write up to seven
  /// entries past the strip: the padding sets those that are read.
  KSTROKE_AVX2 static void FillColumns(Columns* c, int32_t k, int32_t w) noexcept {
    const uint32_t stride = uint32_t(c->step);
    const __m128i index = _mm_cvtsi32_si128(16 + k), fraction = _mm_cvtsi32_si128(8 + k);
    const __m256i lanes = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                             _mm256_set1_epi32(int32_t(stride)));
    const __m256i width = _mm256_set1_epi32(w), minus2 = _mm256_set1_epi32(-2);
    const __m256i outside = _mm256_set1_epi32(kNoSample), byte = _mm256_set1_epi32(255);
    __m256i at = _mm256_add_epi32(_mm256_set1_epi32(c->Start()), lanes);
    const __m256i step8 = _mm256_set1_epi32(int32_t(stride * 8u));
    for (int32_t i = 0; i < c->n; i += 8, at = _mm256_add_epi32(at, step8)) {
      const __m256i x = _mm256_sra_epi32(at, index);
      const __m256i in = _mm256_and_si256(_mm256_cmpgt_epi32(x, minus2), _mm256_cmpgt_epi32(width, x));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(c->x + i), _mm256_blendv_epi8(outside, x, in));
      const __m256i f = _mm256_and_si256(_mm256_srl_epi32(at, fraction), byte);
      const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(f, f), 0x08);
      const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_castsi256_si128(words));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(c->f + i), bytes);
    }
  }

  /// Level::ReachRows with the rows inside the level eight at a time: the ends of a
  /// row's ink span, one row up or down, are looked up in the column table
  /// (Columns::PassTable) by one gather each.
  template <class Level>
  KSTROKE_AVX2 static void RowReaches(const Level& level, int32_t first, int32_t count, int32_t* c0,
                                      int32_t* c1) noexcept {
    const Columns::Table table = level.cols.PassTable();
    const int32_t begin = std::clamp(-first, 0, count);
    const int32_t end = std::clamp(level.height - first, begin, count);  // rows inside the level
    if (!level.ink || !table.at || end - begin < 8) {
      level.ReachRows(first, count, c0, c1);
      return;
    }
    level.ReachRows(first, begin, c0, c1);
    level.ReachRows(first + end, count - end, c0 + end, c1 + end);
    const bool rising = level.cols.step >= 0;
    const __m256i lowest = _mm256_set1_epi32(table.lo - 1), highest = _mm256_set1_epi32(table.hi + 1);
    const __m256i one = _mm256_set1_epi32(1), two = _mm256_set1_epi32(2), all = _mm256_set1_epi32(-1);
    const __m256i round = _mm256_set1_epi32(Passes::kStep - 1), whole = _mm256_set1_epi32(-Passes::kStep);
    for (int32_t next = begin;; next += 8) {
      const int32_t i = std::min(next, end - 8);  // the last eight again: the same results
      // Eight spans (first, last): the in-lane shuffles give rows 0, 1, 4, 5, 2, 3, 6, 7.
      const auto* spans = reinterpret_cast<const __m256i*>(level.ink->rows + (first + i));
      const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(spans));
      const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(spans + 1));
      const __m256i firsts = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88)),
                                                      0xD8);
      const __m256i lasts = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD)),
                                                     0xD8);
      // Columns::Reach: rising, Passing(first − 1) to Passing(last + 1); falling,
      // Passing(last) to Passing(first − 2).
      const __m256i tFrom = rising ? _mm256_sub_epi32(firsts, one) : lasts;
      const __m256i tTo = rising ? _mm256_add_epi32(lasts, one) : _mm256_sub_epi32(firsts, two);
      const __m256i from = Passing(table.at, lowest, highest, tFrom);
      const __m256i to = Passing(table.at, lowest, highest, tTo);
      const __m256i empty = _mm256_cmpgt_epi32(firsts, lasts);
      const __m256i none = _mm256_or_si256(empty, _mm256_xor_si256(_mm256_cmpgt_epi32(to, from), all));
      const __m256i lo = _mm256_and_si256(from, whole);
      const __m256i hi = _mm256_and_si256(_mm256_add_epi32(to, round), whole);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(c0 + i),
                          _mm256_blendv_epi8(lo, _mm256_set1_epi32(INT32_MAX), none));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(c1 + i), _mm256_andnot_si256(none, hi));
      if (i + 8 >= end) return;
    }
  }

  template <class Plan, class T>
  KSTROKE_AVX2 static void HorizontalRows(const Plan& plan, const Columns& cols,
                                          const kp_blocks::HRows<T>& rows) noexcept {
    for (int32_t i = 0; i < rows.count; ++i)
      if (uint16_t* h = rows.Place(i))
        Passes::Horizontal(plan, cols, rows.Row(i), rows.c0[i], rows.c1[i], rows.padded, h);
  }
  template <class T, bool kTrilinear, class Rows>
  KSTROKE_AVX2 static void OutputRows(const Rows& rows) noexcept {
    for (int32_t j = 0; j < rows.count; ++j) {
      OutRow r{};
      int32_t o0, o1;
      rows.template At<kTrilinear>(j, &r, &o0, &o1);
      Passes::template Output<T, kTrilinear>(r, o0, o1, rows.n, rows.Dst(j));
    }
  }
};

// 8-bit samples
// ====================================================================================

struct Passes8 : RowBatches<Passes8> {
  static constexpr int32_t kStep = 16;  ///< two groups of 8 columns
  static constexpr int32_t kGroups = (kStripColumns + kPadColumns) / 8;

  template <class T>
  struct Plan {
    int32_t base[kGroups];
    bool wide[kGroups];
    bool anyWide;
    alignas(32) uint8_t ctrlA[kGroups][16];
    alignas(32) uint8_t ctrlB[kGroups][16];
    alignas(32) uint16_t w0[kGroups][8];
    alignas(32) uint16_t w1[kGroups][8];

    KSTROKE_AVX2 void Build(const Columns& cols, const Kp_MIPPyramid&, int32_t) noexcept {
      const int32_t groups = (cols.n + kStep - 1) / kStep * 2;
      anyWide = false;
      for (int32_t g = 0; g < groups; ++g) {
        int32_t lo = 0, hi = 0;
        const bool all = cols.GroupBounds(8 * g, 8, &lo, &hi);
        base[g] = lo == INT32_MAX ? 0 : lo;
        wide[g] = lo != INT32_MAX && hi - lo > 14;  // x + 1 must stay inside 16 bytes
        anyWide = anyWide || wide[g];
        if (all && !wide[g]) {
          // Every column inside: the shuffle picks byte x − base (then x − base + 1)
          // into the low byte of each word and zero (0x80) into the high one.
          const __m256i d = _mm256_sub_epi32(
              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols.x + 8 * g)), _mm256_set1_epi32(lo));
          const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(d), _mm256_extracti128_si256(d, 1));
          const __m128i pickA = _mm_or_si128(words, _mm_set1_epi16(int16_t(0x8000)));
          _mm_store_si128(reinterpret_cast<__m128i*>(ctrlA[g]), pickA);
          _mm_store_si128(reinterpret_cast<__m128i*>(ctrlB[g]), _mm_add_epi16(pickA, _mm_set1_epi16(1)));
          const __m128i f = _mm_unpacklo_epi8(
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cols.f + 8 * g)), _mm_setzero_si128());
          _mm_store_si128(reinterpret_cast<__m128i*>(w1[g]), f);
          _mm_store_si128(reinterpret_cast<__m128i*>(w0[g]), _mm_sub_epi16(_mm_set1_epi16(255), f));
          continue;
        }
        for (int32_t j = 0; j < 8; ++j) {
          const int32_t x = cols.x[8 * g + j];
          const bool in = x != kNoSample && !wide[g];
          ctrlA[g][2 * j] = in ? uint8_t(x - base[g]) : 0x80;
          ctrlB[g][2 * j] = in ? uint8_t(x - base[g] + 1) : 0x80;
          ctrlA[g][2 * j + 1] = ctrlB[g][2 * j + 1] = 0x80;
          w0[g][j] = uint16_t(255 - cols.f[8 * g + j]);
          w1[g][j] = cols.f[8 * g + j];
        }
      }
    }
  };

  template <class T>
  KSTROKE_AVX2 static void Horizontal(const Plan<T>& plan, const Columns& cols, const T* row,
                                      int32_t c0, int32_t c1, int32_t padded, uint16_t* h) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(row);
    ZeroOutside(h, c0, c1, padded);
    for (int32_t c = c0; c < c1; c += kStep) {
      const int32_t g = c / 8;
      if (plan.anyWide && (plan.wide[g] || plan.wide[g + 1])) {
        for (int32_t i = c; i < c + kStep; ++i) h[i] = HorizontalOne(row, cols, i);
        continue;
      }
      const __m256i win = Window(bytes, plan.base[g], plan.base[g + 1]);
      const __m256i a = _mm256_shuffle_epi8(win, Load32(plan.ctrlA[g]));
      const __m256i b = _mm256_shuffle_epi8(win, Load32(plan.ctrlB[g]));
      const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, Load32(plan.w0[g])),
                                           _mm256_mullo_epi16(b, Load32(plan.w1[g])));
      _mm256_store_si256(reinterpret_cast<__m256i*>(h + c), Div255Lanes16(sum));
    }
  }

  /// (255 − f) × h0 + f × h1, reduced, on 16 lanes.
  KSTROKE_AVX2 static __m256i Vertical(const uint16_t* h0, const uint16_t* h1, int32_t i,
                                       __m256i w0, __m256i w1) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0 + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1 + i));
    return Div255Lanes16(_mm256_add_epi16(_mm256_mullo_epi16(a, w0), _mm256_mullo_epi16(b, w1)));
  }

  template <class T, bool kTrilinear>
  KSTROKE_AVX2 static void Output(const OutRow& r, int32_t o0, int32_t o1, int32_t n, T* dst) noexcept {
    if (n < kStep) return kp_blocks::ScalarPasses::Output<T, kTrilinear>(r, o0, o1, n, dst);
    ClearOutside(dst, o0, o1, n);
    if (o1 <= o0) return;
    const __m256i fa0 = _mm256_set1_epi16(int16_t(255 - r.fa)), fa1 = _mm256_set1_epi16(int16_t(r.fa));
    const __m256i fb0 = _mm256_set1_epi16(int16_t(255 - r.fb)), fb1 = _mm256_set1_epi16(int16_t(r.fb));
    const __m256i l0 = _mm256_set1_epi16(int16_t(255 - r.weight)), l1 = _mm256_set1_epi16(int16_t(r.weight));
    // Vectors over [o0, o1), the last moved back to end inside the strip: columns
    // computed twice come out the same.
    for (int32_t next = o0;; next += kStep) {
      const int32_t i = std::min(next, n - kStep);
      __m256i s = Vertical(r.a0, r.a1, i, fa0, fa1);
      if (kTrilinear) {
        const __m256i b = Vertical(r.b0, r.b1, i, fb0, fb1);
        s = Div255Lanes16(_mm256_add_epi16(_mm256_mullo_epi16(s, l0), _mm256_mullo_epi16(b, l1)));
      }
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(s, s), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm256_castsi256_si128(packed));
      if (i + kStep >= o1) return;
    }
  }

};

// 16-bit samples
// ====================================================================================

struct Passes16 : RowBatches<Passes16> {
  static constexpr int32_t kStep = 8;  ///< two groups of 4 columns
  static constexpr int32_t kGroups = (kStripColumns + kPadColumns) / 4;

  template <class T>
  struct Plan {
    int32_t base[kGroups];  ///< in bytes
    bool wide[kGroups];
    bool anyWide;
    alignas(32) uint8_t ctrl[kGroups][16];
    alignas(32) uint32_t w[kGroups][4];  ///< (255 − f) | f << 16

    KSTROKE_AVX2 void Build(const Columns& cols, const Kp_MIPPyramid&, int32_t) noexcept {
      const int32_t groups = (cols.n + kStep - 1) / kStep * 2;
      anyWide = false;
      for (int32_t g = 0; g < groups; ++g) {
        int32_t lo = 0, hi = 0;
        const bool all = cols.GroupBounds(4 * g, 4, &lo, &hi);
        const int32_t first = lo == INT32_MAX ? 0 : lo;
        base[g] = 2 * first;
        wide[g] = lo != INT32_MAX && hi - lo > 6;  // 8 samples per window
        anyWide = anyWide || wide[g];
        if (all && !wide[g]) {
          // Every column inside: bytes 2d, 2d + 1, 2d + 2, 2d + 3 for d = x − first,
          // the two samples of the column as words.
          const __m128i d = _mm_slli_epi32(
              _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cols.x + 4 * g)), _mm_set1_epi32(first)), 1);
          const __m128i spread = _mm_or_si128(_mm_or_si128(d, _mm_slli_epi32(d, 8)),
                                              _mm_or_si128(_mm_slli_epi32(d, 16), _mm_slli_epi32(d, 24)));
          _mm_store_si128(reinterpret_cast<__m128i*>(ctrl[g]),
                          _mm_add_epi8(spread, _mm_set1_epi32(0x03020100)));
          const __m128i f = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(
              int32_t(uint32_t(cols.f[4 * g]) | uint32_t(cols.f[4 * g + 1]) << 8 |
                      uint32_t(cols.f[4 * g + 2]) << 16 | uint32_t(cols.f[4 * g + 3]) << 24)));
          _mm_store_si128(reinterpret_cast<__m128i*>(w[g]),
                          _mm_or_si128(_mm_sub_epi32(_mm_set1_epi32(255), f), _mm_slli_epi32(f, 16)));
          continue;
        }
        for (int32_t j = 0; j < 4; ++j) {
          const int32_t x = cols.x[4 * g + j];
          const bool in = x != kNoSample && !wide[g];
          const uint8_t a = in ? uint8_t(2 * (x - first)) : 0;
          const uint8_t pick[4] = {a, uint8_t(a + 1), uint8_t(a + 2), uint8_t(a + 3)};
          for (int32_t q = 0; q < 4; ++q) ctrl[g][4 * j + q] = in ? pick[q] : 0x80;
          // Outside the level both samples read 0; weights (255, 0) then give 0 (the
          // bias term needs weights that sum to 255).
          const uint32_t f = in ? cols.f[4 * g + j] : 0;
          w[g][j] = (255 - f) | f << 16;
        }
      }
    }
  };

  template <class T>
  KSTROKE_AVX2 static void Horizontal(const Plan<T>& plan, const Columns& cols, const T* row,
                                      int32_t c0, int32_t c1, int32_t padded, uint16_t* h) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(row);
    ZeroOutside(h, c0, c1, padded);
    if (plan.anyWide) {
      for (int32_t c = c0; c < c1; c += kStep) {
        const int32_t g = c / 4;
        if (plan.wide[g] || plan.wide[g + 1]) {
          for (int32_t i = c; i < c + kStep; ++i) h[i] = HorizontalOne(row, cols, i);
        } else {
          _mm_store_si128(reinterpret_cast<__m128i*>(h + c), _mm256_castsi256_si128(Eight(plan, bytes, g)));
        }
      }
      return;
    }
    // Sixteen columns per step: two vectors of eight results pack into one store.
    int32_t c = c0;
    for (; c + 16 <= c1; c += 16) {
      const int32_t g = c >> 2;
      const __m256i packed = _mm256_permute4x64_epi64(
          _mm256_packus_epi32(Results(plan, bytes, g), Results(plan, bytes, g + 2)), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(h + c), packed);
    }
    if (c < c1) _mm_store_si128(reinterpret_cast<__m128i*>(h + c), _mm256_castsi256_si128(Eight(plan, bytes, c >> 2)));
  }

  /// Columns 4g .. 4g + 7 as 32-bit results in column order.
  template <class T>
  KSTROKE_AVX2 static __m256i Results(const Plan<T>& plan, const unsigned char* bytes, int32_t g) {
    const __m256i win = Window(bytes, plan.base[g], plan.base[g + 1]);
    const __m256i pairs = _mm256_sub_epi16(
        _mm256_shuffle_epi8(win, _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.ctrl[g]))),
        _mm256_set1_epi16(16384));
    return Div255Biased32(_mm256_madd_epi16(pairs, _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.w[g]))));
  }
  /// The same packed to eight 16-bit values in the low half: 0..32768 packs unsigned,
  /// and the lane order comes back with one permute.
  template <class T>
  KSTROKE_AVX2 static __m256i Eight(const Plan<T>& plan, const unsigned char* bytes, int32_t g) {
    const __m256i s = Results(plan, bytes, g);
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(s, s), 0x08);
  }

  /// Eight (255 − f) × h0 + f × h1, reduced, as 32-bit lanes in column order.
  KSTROKE_AVX2 static __m256i Vertical(const uint16_t* h0, const uint16_t* h1, int32_t i, __m256i w) {
    const __m128i bias = _mm_set1_epi16(16384);
    const __m128i a = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h0 + i)), bias);
    const __m128i b = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h1 + i)), bias);
    const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                                  _mm_unpackhi_epi16(a, b), 1);
    return Div255Biased32(_mm256_madd_epi16(pairs, w));
  }

  /// The same for sixteen columns, in the in-lane order of the unpacks: columns
  /// i .. i + 3 and i + 8 .. i + 11 in *lo, the others in *hi. Packing lo with hi puts
  /// them back in column order.
  KSTROKE_AVX2 static void Vertical16(const uint16_t* h0, const uint16_t* h1, int32_t i, __m256i w,
                                      __m256i* lo, __m256i* hi) {
    const __m256i bias = _mm256_set1_epi16(16384);
    const __m256i a = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0 + i)), bias);
    const __m256i b = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1 + i)), bias);
    *lo = Div255Biased32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
    *hi = Div255Biased32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
  }

  /// (255 − weight) × s + weight × t, reduced, for 32-bit lanes of 0 .. 32768: biased
  /// into the two halves of each lane, one PMADDWD does both products and the sum.
  KSTROKE_AVX2 static __m256i LevelBlend(__m256i s, __m256i t, __m256i w) {
    const __m256i bias = _mm256_set1_epi32(16384);
    const __m256i pairs = _mm256_blend_epi16(_mm256_sub_epi32(s, bias),
                                             _mm256_slli_epi32(_mm256_sub_epi32(t, bias), 16), 0xAA);
    return Div255Biased32(_mm256_madd_epi16(pairs, w));
  }

  template <class T, bool kTrilinear>
  KSTROKE_AVX2 static void Output(const OutRow& r, int32_t o0, int32_t o1, int32_t n, T* dst) noexcept {
    if (n < kStep) return kp_blocks::ScalarPasses::Output<T, kTrilinear>(r, o0, o1, n, dst);
    ClearOutside(dst, o0, o1, n);
    if (o1 <= o0) return;
    const __m256i wa = _mm256_set1_epi32(int32_t((255 - r.fa) | r.fa << 16));
    const __m256i wb = _mm256_set1_epi32(int32_t((255 - r.fb) | r.fb << 16));
    const __m256i wl = _mm256_set1_epi32(int32_t((255 - r.weight) | r.weight << 16));
    if (n >= 16) {
      // Sixteen columns a step, as in Passes8::Output; the eight-column loop below is
      // left for strips of 8 to 15.
      for (int32_t next = o0;; next += 16) {
        const int32_t i = std::min(next, n - 16);
        __m256i lo, hi;
        Vertical16(r.a0, r.a1, i, wa, &lo, &hi);
        if (kTrilinear) {
          __m256i blo, bhi;
          Vertical16(r.b0, r.b1, i, wb, &blo, &bhi);
          lo = LevelBlend(lo, blo, wl);
          hi = LevelBlend(hi, bhi, wl);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi32(lo, hi));
        if (i + 16 >= o1) return;
      }
    }
    for (int32_t next = o0;; next += kStep) {
      const int32_t i = std::min(next, n - kStep);
      __m256i s = Vertical(r.a0, r.a1, i, wa);
      if (kTrilinear) s = LevelBlend(s, Vertical(r.b0, r.b1, i, wb), wl);
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(s, s), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm256_castsi256_si128(packed));
      if (i + kStep >= o1) return;
    }
  }

};

template <class T> struct PassesFor;
template <> struct PassesFor<uint8_t> { using Type = Passes8; };
template <> struct PassesFor<uint16_t> { using Type = Passes16; };

}  // namespace

template <class P>
void ScaledBilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  using T = typename P::Value;
  kp_blocks::SeparableBlock<T, typename PassesFor<T>::Type, false>(a, dst);
}

template <class P>
void ScaledTrilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  using T = typename P::Value;
  kp_blocks::SeparableBlock<T, typename PassesFor<T>::Type, true>(a, dst);
}

#else

// Without the AVX2 forms the table never picks these; they are the portable passes
// so the names still link.
template <class P>
void ScaledBilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  kp_blocks::SeparableBlock<typename P::Value, kp_blocks::ScalarPasses, false>(a, dst);
}
template <class P>
void ScaledTrilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  kp_blocks::SeparableBlock<typename P::Value, kp_blocks::ScalarPasses, true>(a, dst);
}

#endif

template void ScaledBilinearBlockAvx2<Px8>(const Kp_SpanArgs&, Px8::Value*) noexcept;
template void ScaledBilinearBlockAvx2<Px16>(const Kp_SpanArgs&, Px16::Value*) noexcept;
template void ScaledTrilinearBlockAvx2<Px8>(const Kp_SpanArgs&, Px8::Value*) noexcept;
template void ScaledTrilinearBlockAvx2<Px16>(const Kp_SpanArgs&, Px16::Value*) noexcept;
