// SPDX-License-Identifier: MIT
// Fast span kernels. Per call they fetch the level rows once; a row of constant v is
// tested once and cleared whole when it lies outside the level; at level 0 with unit
// steps the row splits into a cleared lead, a run with constant fractions (a plain
// copy when both fractions are 0, SSE2 vectors otherwise) and a cleared tail. Results
// match kp_ref bit for bit (tests/raster/span_kernels_test.cpp checks them on seeded
// random cases).
#include "raster/span_kernels.h"

#include "host/gx/gx.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "raster/scaled_blocks.h"
#include "raster/turned_spans.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX2 forms are compiled per function (not per file, so no inline function shared
// with other files is built for AVX2) and run only where the processor has it.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KSTROKE_HAVE_AVX2 1
#define KSTROKE_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#endif

namespace {

template <class T>
const T* LevelRow(const Kp_MIPPyramid& p, int32_t k, int32_t y) {
  return reinterpret_cast<const T*>(p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k]);
}

template <class T>
std::ptrdiff_t LevelStride(const Kp_MIPPyramid& p, int32_t k) {
  return p.rowBytes[k] / std::ptrdiff_t(sizeof(T));
}

/// Bilinear blend of the 2 × 2 samples at column x of rows r0 and r1 = r0 + stride.
template <class T>
uint32_t Blend(const T* r0, const T* r1, int32_t x, uint32_t fx, uint32_t fy) {
  const uint32_t top = Kp_Div255(uint32_t(r0[x]) * (255 - fx) + uint32_t(r0[x + 1]) * fx);
  const uint32_t bottom = Kp_Div255(uint32_t(r1[x]) * (255 - fx) + uint32_t(r1[x + 1]) * fx);
  return Kp_Div255(top * (255 - fy) + bottom * fy);
}

/// One level's rows for a row of constant v, already known to lie inside the level.
template <class T>
struct RowPair {
  const T* r0;
  const T* r1;
  int32_t width;
  int32_t shift;  ///< 16 + k
  uint32_t fy;

  RowPair(const Kp_MIPPyramid& p, int32_t k, Fx16 v)
      : r0(LevelRow<T>(p, k, v >> (16 + k))),
        r1(r0 + LevelStride<T>(p, k)),
        width(p.Width(k)),
        shift(16 + k),
        fy(uint32_t(v >> (8 + k)) & 255u) {}

  uint32_t Sample(Fx16 u) const {
    const int32_t x = u >> shift;
    if (x < -1 || x >= width) return 0;
    return Blend(r0, r1, x, uint32_t(u >> (shift - 8)) & 255u, fy);
  }
};

bool RowInside(const Kp_MIPPyramid& p, int32_t k, Fx16 v) {
  const int32_t y = v >> (16 + k);
  return y >= -1 && y < p.Height(k);
}

template <class T>
void Clear(T* dst, int32_t n) {
  std::memset(dst, 0, std::size_t(n) * sizeof(T));
}

// A run of samples with constant fractions: Blend on whole vectors. It reads the
// same samples Blend would (index n at most) and answers how many it wrote: all of
// them, or none for a run shorter than one vector, which the caller does one by one.
#if defined(__SSE2__)
/// Kp_Div255 on eight 16-bit lanes. With x = sum + 128 (at most 255 × 255 + 128, so
/// 16 bits hold it), (x + (x >> 8)) >> 8 is (x × 257) >> 16 for every such x, which
/// the high half of one unsigned multiply gives (a test walks the whole range).
inline __m128i Div255x8(__m128i sum) {
  return _mm_mulhi_epu16(_mm_add_epi16(sum, _mm_set1_epi16(128)), _mm_set1_epi16(257));
}

/// The raising store of the raise kernels: max(m, min(v, full)) into the mask vector at
/// `at`, whose samples are `m`. SSE2 has no unsigned 16-bit min or max; with a ⊖ b the
/// subtraction that stops at 0, min(a, b) = a − (a ⊖ b) and max(a, b) = b + (a ⊖ b).
inline void Raise(uint8_t* at, __m128i m, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_max_epu8(m, v));  // 8-bit v ≤ 255
}
inline void Raise(uint16_t* at, __m128i m, __m128i v) {
  const __m128i capped = _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(int16_t(Px16::kFull))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_add_epi16(capped, _mm_subs_epu16(m, capped)));
}

/// The last vector of a raised run reads its mask before the run stores anything: it
/// may overlap the vector before, and a load half over a store just made waits for the
/// store. Raising those samples again from their old values gives the same.
template <class T>
inline __m128i LastMask(bool raise, const T* dst, int32_t n, int32_t width) {
  return raise ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + n - width))
               : _mm_setzero_si128();
}

/// Stores v at dst + i, or with kRaise raises the samples there to it.
template <bool kRaise, class T>
inline void Put(T* dst, int32_t i, int32_t last, __m128i lastMask, __m128i v) {
  if constexpr (kRaise) {
    const __m128i m = i == last ? lastMask : _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    Raise(dst + i, m, v);
  } else {
    (void)last;
    (void)lastMask;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
  }
}

template <class T>
inline void RaiseScalar(const T* v, int32_t n, T* m) {
  constexpr T kFull = sizeof(T) == 1 ? T(255) : T(Px16::kFull);
  for (int32_t i = 0; i < n; ++i) m[i] = std::max(m[i], std::min(v[i], kFull));
}

int32_t InterpolateRun(const uint8_t* r0, const uint8_t* r1, int32_t n, uint32_t fx, uint32_t fy,
                       uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wx0 = _mm_set1_epi16(int16_t(255 - fx)), wx1 = _mm_set1_epi16(int16_t(fx));
  const __m128i wy0 = _mm_set1_epi16(int16_t(255 - fy)), wy1 = _mm_set1_epi16(int16_t(fy));
  const auto load = [](const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  if (n < 16) return 0;
  for (int32_t i = 0;; i += 16) {
    // The last vector overlaps the one before: samples are written twice, the same.
    if (i > n - 16) i = n - 16;
    const __m128i a = load(r0 + i), b = load(r0 + i + 1), c = load(r1 + i), d = load(r1 + i + 1);
    __m128i half[2];
    for (int h = 0; h < 2; ++h) {
      const auto widen = [&](__m128i v) {
        return h == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero);
      };
      const __m128i top = Div255x8(
          _mm_add_epi16(_mm_mullo_epi16(widen(a), wx0), _mm_mullo_epi16(widen(b), wx1)));
      const __m128i bottom = Div255x8(
          _mm_add_epi16(_mm_mullo_epi16(widen(c), wx0), _mm_mullo_epi16(widen(d), wx1)));
      half[h] = Div255x8(_mm_add_epi16(_mm_mullo_epi16(top, wy0), _mm_mullo_epi16(bottom, wy1)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(half[0], half[1]));
    if (i == n - 16) return n;
  }
}

// 16-bit samples reach 32768, one past the signed 16-bit range. Biased by −16384 they
// fit it, so PMADDWD forms a × (255 − f) + b × f in one step; the bias comes back as
// the constant 16384 × 255, added with Kp_Div255's rounding term.
inline __m128i Lerp16(__m128i pairs, __m128i weights) {
  const __m128i t =
      _mm_add_epi32(_mm_madd_epi16(pairs, weights), _mm_set1_epi32(16384 * 255 + 128));
  return _mm_srli_epi32(_mm_add_epi32(t, _mm_srli_epi32(t, 8)), 8);
}

/// Eight results of 0..32768 in two 32-bit halves, packed biased by −16384.
inline __m128i PackBiased16(__m128i lo, __m128i hi) {
  const __m128i bias = _mm_set1_epi32(16384);
  return _mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias));
}

int32_t InterpolateRun(const uint16_t* r0, const uint16_t* r1, int32_t n, uint32_t fx,
                       uint32_t fy, uint16_t* dst) {
  if (n < 8) return 0;
  // Weight pairs (255 − f, f) in each 32-bit lane, matching (a, b) sample pairs.
  const __m128i wx = _mm_set1_epi32(int32_t((fx << 16) | (255 - fx)));
  const __m128i wy = _mm_set1_epi32(int32_t((fy << 16) | (255 - fy)));
  const __m128i bias = _mm_set1_epi16(16384);
  const auto load = [&](const uint16_t* p) {
    return _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bias);
  };
  for (int32_t i = 0;; i += 8) {
    if (i > n - 8) i = n - 8;  // overlapping last vector, as above
    const __m128i a = load(r0 + i), b = load(r0 + i + 1), c = load(r1 + i), d = load(r1 + i + 1);
    const __m128i top = PackBiased16(Lerp16(_mm_unpacklo_epi16(a, b), wx),
                                     Lerp16(_mm_unpackhi_epi16(a, b), wx));
    const __m128i bottom = PackBiased16(Lerp16(_mm_unpacklo_epi16(c, d), wx),
                                        Lerp16(_mm_unpackhi_epi16(c, d), wx));
    const __m128i out = PackBiased16(Lerp16(_mm_unpacklo_epi16(top, bottom), wy),
                                     Lerp16(_mm_unpackhi_epi16(top, bottom), wy));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi16(out, bias));
    if (i == n - 8) return n;
  }
}

// Separable passes for whole blocks: a row of horizontal blends (the `top` of Blend)
// is made once per level row and serves as the bottom of one output row and the top
// of the next. Both passes end with an overlapping vector; runs shorter than one
// vector (small dabs) go sample by sample, still blending each level row once.
struct Passes8 {
  static constexpr int32_t kWidth = 16;
  static __m128i Lerp(__m128i a, __m128i b, __m128i w0, __m128i w1, bool high) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i p = high ? _mm_unpackhi_epi8(a, zero) : _mm_unpacklo_epi8(a, zero);
    const __m128i q = high ? _mm_unpackhi_epi8(b, zero) : _mm_unpacklo_epi8(b, zero);
    return Div255x8(_mm_add_epi16(_mm_mullo_epi16(p, w0), _mm_mullo_epi16(q, w1)));
  }
  static __m128i Mix(__m128i a, __m128i b, __m128i w0, __m128i w1) {
    return _mm_packus_epi16(Lerp(a, b, w0, w1, false), Lerp(a, b, w0, w1, true));
  }
  static __m128i Load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  }
  /// Mix of the low eight samples of a and b, in the low half of the result.
  static __m128i MixHalf(__m128i a, __m128i b, __m128i w0, __m128i w1) {
    const __m128i r = Lerp(a, b, w0, w1, false);
    return _mm_packus_epi16(r, r);
  }
  static void Run(const uint8_t* a, const uint8_t* b, int32_t n, uint32_t f, uint8_t* out) {
    if (n < kWidth) {
      for (int32_t i = 0; i < n; ++i)
        out[i] = uint8_t(Kp_Div255(uint32_t(a[i]) * (255 - f) + uint32_t(b[i]) * f));
      return;
    }
    const __m128i w0 = _mm_set1_epi16(int16_t(255 - f)), w1 = _mm_set1_epi16(int16_t(f));
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), Mix(Load(a + i), Load(b + i), w0, w1));
      if (i == n - kWidth) return;
    }
  }
  /// Horizontal: sample i with sample i + 1 of one level row.
  static void Horizontal(const uint8_t* r, int32_t n, uint32_t fx, uint8_t* h) {
    Run(r, r + 1, n, fx, h);
  }
  /// Vertical: two horizontal rows into the output.
  static void Vertical(const uint8_t* h0, const uint8_t* h1, int32_t n, uint32_t fy,
                       uint8_t* dst) {
    Run(h0, h1, n, fy, dst);
  }
  /// Horizontal of level row r into h1 and, vector by vector while it is still in a
  /// register, Vertical of h0 and it into dst. (Reading h1 back right after writing it
  /// would meet the overlapping last store half way and wait for it.)
  /// With kRaise the output raises dst (max) instead of replacing it; the overlapping
  /// last vector raises some samples twice to the same values, which changes nothing.
  template <bool kRaise = false>
  static void Fused(const uint8_t* r, const uint8_t* h0, int32_t n, uint32_t fx, uint32_t fy,
                    uint8_t* h1, uint8_t* dst) {
    if (n < kWidth) {
      Horizontal(r, n, fx, h1);
      if constexpr (!kRaise) return Vertical(h0, h1, n, fy, dst);
      uint8_t out[kWidth];
      Vertical(h0, h1, n, fy, out);
      return RaiseScalar(out, n, dst);
    }
    const __m128i wx0 = _mm_set1_epi16(int16_t(255 - fx)), wx1 = _mm_set1_epi16(int16_t(fx));
    const __m128i wy0 = _mm_set1_epi16(int16_t(255 - fy)), wy1 = _mm_set1_epi16(int16_t(fy));
    const __m128i lastMask = LastMask(kRaise, dst, n, kWidth);
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m128i h = Mix(Load(r + i), Load(r + i + 1), wx0, wx1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(h1 + i), h);
      Put<kRaise>(dst, i, n - kWidth, lastMask, Mix(Load(h0 + i), h, wy0, wy1));
      if (i == n - kWidth) return;
    }
  }
};

struct Passes16 {
  static constexpr int32_t kWidth = 8;
  /// Blends of biased sample pairs, packed biased.
  static __m128i Mix(__m128i a, __m128i b, __m128i w) {
    return PackBiased16(Lerp16(_mm_unpacklo_epi16(a, b), w), Lerp16(_mm_unpackhi_epi16(a, b), w));
  }
  static __m128i Load(const uint16_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  }
  // Horizontal rows are kept biased by −16384, ready for the next multiply-add.
  static void Run(const uint16_t* a, const uint16_t* b, int32_t n, uint32_t f, bool inBiased,
                  bool outBiased, uint16_t* out) {
    if (n < kWidth) {
      const auto in = [&](uint16_t v) {
        return inBiased ? uint32_t(int32_t(int16_t(v)) + 16384) : uint32_t(v);
      };
      for (int32_t i = 0; i < n; ++i) {
        const uint32_t r = Kp_Div255(in(a[i]) * (255 - f) + in(b[i]) * f);
        out[i] = uint16_t(outBiased ? r - 16384 : r);
      }
      return;
    }
    const __m128i w = _mm_set1_epi32(int32_t((f << 16) | (255 - f)));
    const __m128i bias = _mm_set1_epi16(16384);
    const __m128i inBias = inBiased ? _mm_setzero_si128() : bias;
    const __m128i outBias = outBiased ? _mm_setzero_si128() : bias;
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m128i r =
          Mix(_mm_sub_epi16(Load(a + i), inBias), _mm_sub_epi16(Load(b + i), inBias), w);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi16(r, outBias));
      if (i == n - kWidth) return;
    }
  }
  static void Horizontal(const uint16_t* r, int32_t n, uint32_t fx, uint16_t* h) {
    Run(r, r + 1, n, fx, false, true, h);
  }
  static void Vertical(const uint16_t* h0, const uint16_t* h1, int32_t n, uint32_t fy,
                       uint16_t* dst) {
    Run(h0, h1, n, fy, true, false, dst);
  }
  /// As Passes8::Fused; h0 and h1 hold biased rows.
  template <bool kRaise = false>
  static void Fused(const uint16_t* r, const uint16_t* h0, int32_t n, uint32_t fx,
                    uint32_t fy, uint16_t* h1, uint16_t* dst) {
    if (n < kWidth) {
      Horizontal(r, n, fx, h1);
      if constexpr (!kRaise) return Vertical(h0, h1, n, fy, dst);
      uint16_t out[kWidth];
      Vertical(h0, h1, n, fy, out);
      return RaiseScalar(out, n, dst);
    }
    const __m128i wx = _mm_set1_epi32(int32_t((fx << 16) | (255 - fx)));
    const __m128i wy = _mm_set1_epi32(int32_t((fy << 16) | (255 - fy)));
    const __m128i bias = _mm_set1_epi16(16384);
    const __m128i lastMask = LastMask(kRaise, dst, n, kWidth);
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m128i h =
          Mix(_mm_sub_epi16(Load(r + i), bias), _mm_sub_epi16(Load(r + i + 1), bias), wx);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(h1 + i), h);
      Put<kRaise>(dst, i, n - kWidth, lastMask, _mm_add_epi16(Mix(Load(h0 + i), h, wy), bias));
      if (i == n - kWidth) return;
    }
  }
};

template <class T> struct PassesOf;
template <> struct PassesOf<uint8_t> { using Type = Passes8; };
template <> struct PassesOf<uint16_t> { using Type = Passes16; };

#if defined(KSTROKE_HAVE_AVX2)
// The same passes on 32-byte vectors. Unpacking and packing work within each 16-byte
// half, so a half's samples come back in their own order; runs shorter than one wide
// vector take the 16-byte forms.
KSTROKE_AVX2 inline __m256i Div255x16(__m256i sum) {  // as Div255x8
  return _mm256_mulhi_epu16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)),
                            _mm256_set1_epi16(257));
}

KSTROKE_AVX2 inline void Raise(uint8_t* at, __m256i m, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm256_max_epu8(m, v));
}
KSTROKE_AVX2 inline void Raise(uint16_t* at, __m256i m, __m256i v) {
  const __m256i capped = _mm256_min_epu16(v, _mm256_set1_epi16(int16_t(Px16::kFull)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm256_max_epu16(m, capped));
}
template <class T>
KSTROKE_AVX2 inline __m256i LastMask256(bool raise, const T* dst, int32_t n, int32_t width) {
  return raise ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + n - width))
               : _mm256_setzero_si256();
}
template <bool kRaise, class T>
KSTROKE_AVX2 inline void Put(T* dst, int32_t i, int32_t last, __m256i lastMask, __m256i v) {
  if constexpr (kRaise) {
    const __m256i m =
        i == last ? lastMask : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    Raise(dst + i, m, v);
  } else {
    (void)last;
    (void)lastMask;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
  }
}

KSTROKE_AVX2 inline __m256i Lerp16Wide(__m256i pairs, __m256i weights) {
  const __m256i t = _mm256_add_epi32(_mm256_madd_epi16(pairs, weights),
                                     _mm256_set1_epi32(16384 * 255 + 128));
  return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

struct Passes8Avx2 {
  static constexpr int32_t kWidth = 32;
  KSTROKE_AVX2 static void Run(const uint8_t* a, const uint8_t* b, int32_t n, uint32_t f,
                               uint8_t* out) {
    if (n < kWidth) return Passes8::Run(a, b, n, f, out);
    const __m256i w0 = _mm256_set1_epi16(int16_t(255 - f)), w1 = _mm256_set1_epi16(int16_t(f));
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                          Mix(Load(a + i), Load(b + i), w0, w1));
      if (i == n - kWidth) return;
    }
  }
  KSTROKE_AVX2 static void Horizontal(const uint8_t* r, int32_t n, uint32_t fx, uint8_t* h) {
    Run(r, r + 1, n, fx, h);
  }
  KSTROKE_AVX2 static __m256i Mix(__m256i a, __m256i b, __m256i w0, __m256i w1) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo =
        Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(a, zero), w0),
                                   _mm256_mullo_epi16(_mm256_unpacklo_epi8(b, zero), w1)));
    const __m256i hi =
        Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(a, zero), w0),
                                   _mm256_mullo_epi16(_mm256_unpackhi_epi8(b, zero), w1)));
    return _mm256_packus_epi16(lo, hi);
  }
  template <bool kRaise = false>
  KSTROKE_AVX2 static void Fused(const uint8_t* r, const uint8_t* h0, int32_t n, uint32_t fx,
                                 uint32_t fy, uint8_t* h1, uint8_t* dst) {
    if (n < kWidth) return Passes8::Fused<kRaise>(r, h0, n, fx, fy, h1, dst);
    const __m256i wx0 = _mm256_set1_epi16(int16_t(255 - fx));
    const __m256i wx1 = _mm256_set1_epi16(int16_t(fx));
    const __m256i wy0 = _mm256_set1_epi16(int16_t(255 - fy));
    const __m256i wy1 = _mm256_set1_epi16(int16_t(fy));
    const __m256i lastMask = LastMask256(kRaise, dst, n, kWidth);
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m256i h = Mix(Load(r + i), Load(r + i + 1), wx0, wx1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(h1 + i), h);
      Put<kRaise>(dst, i, n - kWidth, lastMask, Mix(Load(h0 + i), h, wy0, wy1));
      if (i == n - kWidth) return;
    }
  }
  KSTROKE_AVX2 static __m256i Load(const uint8_t* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  }
};

struct Passes16Avx2 {
  static constexpr int32_t kWidth = 16;
  KSTROKE_AVX2 static void Run(const uint16_t* a, const uint16_t* b, int32_t n, uint32_t f,
                               bool inBiased, bool outBiased, uint16_t* out) {
    if (n < kWidth) return Passes16::Run(a, b, n, f, inBiased, outBiased, out);
    const __m256i w = _mm256_set1_epi32(int32_t((f << 16) | (255 - f)));
    const __m256i bias = _mm256_set1_epi16(16384);
    const __m256i inBias = inBiased ? _mm256_setzero_si256() : bias;
    const __m256i outBias = outBiased ? _mm256_setzero_si256() : bias;
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m256i r = Mix(_mm256_sub_epi16(Load(a + i), inBias),
                            _mm256_sub_epi16(Load(b + i), inBias), w);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_add_epi16(r, outBias));
      if (i == n - kWidth) return;
    }
  }
  KSTROKE_AVX2 static void Horizontal(const uint16_t* r, int32_t n, uint32_t fx, uint16_t* h) {
    Run(r, r + 1, n, fx, false, true, h);
  }
  KSTROKE_AVX2 static __m256i Mix(__m256i a, __m256i b, __m256i w) {
    const __m256i bias32 = _mm256_set1_epi32(16384);
    const __m256i lo = Lerp16Wide(_mm256_unpacklo_epi16(a, b), w);
    const __m256i hi = Lerp16Wide(_mm256_unpackhi_epi16(a, b), w);
    return _mm256_packs_epi32(_mm256_sub_epi32(lo, bias32), _mm256_sub_epi32(hi, bias32));
  }
  template <bool kRaise = false>
  KSTROKE_AVX2 static void Fused(const uint16_t* r, const uint16_t* h0, int32_t n, uint32_t fx,
                                 uint32_t fy, uint16_t* h1, uint16_t* dst) {
    if (n < kWidth) return Passes16::Fused<kRaise>(r, h0, n, fx, fy, h1, dst);
    const __m256i wx = _mm256_set1_epi32(int32_t((fx << 16) | (255 - fx)));
    const __m256i wy = _mm256_set1_epi32(int32_t((fy << 16) | (255 - fy)));
    const __m256i bias = _mm256_set1_epi16(16384);
    const __m256i lastMask = LastMask256(kRaise, dst, n, kWidth);
    for (int32_t i = 0;; i += kWidth) {
      if (i > n - kWidth) i = n - kWidth;
      const __m256i h = Mix(_mm256_sub_epi16(Load(r + i), bias),
                            _mm256_sub_epi16(Load(r + i + 1), bias), wx);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(h1 + i), h);
      Put<kRaise>(dst, i, n - kWidth, lastMask, _mm256_add_epi16(Mix(Load(h0 + i), h, wy), bias));
      if (i == n - kWidth) return;
    }
  }
  KSTROKE_AVX2 static __m256i Load(const uint16_t* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  }
};

template <class T> struct WidePassesOf;
template <> struct WidePassesOf<uint8_t> { using Type = Passes8Avx2; };
template <> struct WidePassesOf<uint16_t> { using Type = Passes16Avx2; };
#endif
#else
template <class T>
int32_t InterpolateRun(const T*, const T*, int32_t, uint32_t, uint32_t, T*) {
  return 0;
}
#endif

/// True when u + i·du for i < count stays inside the 32-bit range (no wrap).
bool NoWrap(Fx16 u, Fx16 du, int32_t count) {
  const int64_t last = int64_t(u) + int64_t(du) * (count > 0 ? count - 1 : 0);
  return last >= INT32_MIN && last <= INT32_MAX;
}

/// Level 0, du = 1.0, v constant: lead of zeros, interpolated run, tail of zeros.
template <class T>
void UnitRow(const RowPair<T>& rows, Fx16 u, int32_t count, T* dst) {
  const int64_t x0 = u >> 16;
  const uint32_t fx = uint32_t(u >> 8) & 255u;
  const int32_t lead = int32_t(std::clamp<int64_t>(-1 - x0, 0, count));
  const int32_t end = int32_t(std::clamp<int64_t>(rows.width - x0, lead, count));
  Clear(dst, lead);
  if (end > lead) {
    const T* r0 = rows.r0 + (x0 + lead);
    const T* r1 = rows.r1 + (x0 + lead);
    if (fx == 0 && rows.fy == 0) {
      // Weights (255, 0) reproduce a sample exactly: a whole-sample row is a copy.
      std::memcpy(dst + lead, r0, std::size_t(end - lead) * sizeof(T));
    } else {
      const int32_t done = lead + InterpolateRun(r0, r1, end - lead, fx, rows.fy, dst + lead);
      for (int32_t i = done; i < end; ++i)
        dst[i] = static_cast<T>(Blend(r0, r1, i - lead, fx, rows.fy));
    }
  }
  Clear(dst + end, count - end);
}


// The longest run of samples a block keeps its horizontal rows for (a dab's width).
constexpr int32_t kBlockRunMax = 2560;

#if defined(__SSE2__)
/// Eight samples of a small block's row at a time, the passes' arithmetic on one
/// vector: 8-bit samples in the low half, 16-bit ones biased by −16384 between passes
/// as Passes16 keeps them.
struct Eight8 {
  using T = uint8_t;
  __m128i wx0, wx1, wy0, wy1;
  Eight8(uint32_t fx, uint32_t fy)
      : wx0(_mm_set1_epi16(int16_t(255 - fx))), wx1(_mm_set1_epi16(int16_t(fx))),
        wy0(_mm_set1_epi16(int16_t(255 - fy))), wy1(_mm_set1_epi16(int16_t(fy))) {}
  static __m128i Load(const T* q) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)); }
  __m128i Horizontal(const T* r) const { return Passes8::MixHalf(Load(r), Load(r + 1), wx0, wx1); }
  __m128i Vertical(__m128i h0, __m128i h1) const { return Passes8::MixHalf(h0, h1, wy0, wy1); }
  static void Store(T* q, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(q), v); }
  static void Raise(T* q, __m128i m, __m128i v) { Store(q, _mm_max_epu8(m, v)); }
};
struct Eight16 {
  using T = uint16_t;
  __m128i wx, wy, bias = _mm_set1_epi16(16384);
  Eight16(uint32_t fx, uint32_t fy)
      : wx(_mm_set1_epi32(int32_t((fx << 16) | (255 - fx)))),
        wy(_mm_set1_epi32(int32_t((fy << 16) | (255 - fy)))) {}
  static __m128i Load(const T* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }
  __m128i Horizontal(const T* r) const {
    return Passes16::Mix(_mm_sub_epi16(Load(r), bias), _mm_sub_epi16(Load(r + 1), bias), wx);
  }
  __m128i Vertical(__m128i h0, __m128i h1) const { return _mm_add_epi16(Passes16::Mix(h0, h1, wy), bias); }
  static void Store(T* q, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(q), v); }
  static void Raise(T* q, __m128i m, __m128i v) { ::Raise(q, m, v); }
};
template <class T> struct EightOf;
template <> struct EightOf<uint8_t> { using Type = Eight8; };
template <> struct EightOf<uint16_t> { using Type = Eight16; };

// The rows of a unit block from level row v >> 16 on: rows outside the level are
// cleared, or, raising, left as they are (raising by 0 changes nothing), and so is the
// lead before the ink; `draw(row, y)` draws the rest of each row from level rows y and
// y + 1.
template <class T, bool kRaise, class Draw>
[[gnu::always_inline]] inline void ForUnitBlockRows(const Kp_SpanArgs& a, int32_t lead, T* dst,
                                                    Draw&& draw) {
  const Kp_MIPPyramid& p = *a.pyramid;
  auto* out = reinterpret_cast<unsigned char*>(dst);
  int32_t y = a.v >> 16;
  for (int32_t j = 0; j < a.rows; ++j, ++y, out += a.rowBytes) {
    T* row = reinterpret_cast<T*>(out);
    if (y < -1 || y >= p.Height(0)) {
      if (!kRaise) Clear(row, a.count);
      continue;
    }
    if (!kRaise) Clear(row, lead);
    draw(row, y);
  }
}

// A small dab's rows, 8 to 16 samples of ink (the passes' vectors start at 16 samples
// at 8 bits): each row as two overlapping vectors of eight, at its start and end, with
// the horizontal blends of the level row below kept in registers for the next output
// row. Overlapping samples come out the same from both vectors; the raise reads both
// vectors' mask samples before it stores either.
template <class T, bool kRaise>
void SmallUnitBlock(const Kp_SpanArgs& a, int64_t x0, int32_t lead, int32_t end, uint32_t fx,
                    uint32_t fy, T* dst) {
  using E = typename EightOf<T>::Type;
  const Kp_MIPPyramid& p = *a.pyramid;
  const E e(fx, fy);
  const int32_t back = end - lead - 8;
  __m128i h0a = _mm_setzero_si128(), h0b = h0a;
  int32_t held = INT32_MIN;  // the level row whose horizontal blends h0a and h0b hold
  ForUnitBlockRows<T, kRaise>(a, lead, dst, [&](T* row, int32_t y) {
    if (held != y) {
      const T* r = LevelRow<T>(p, 0, y) + x0 + lead;
      h0a = e.Horizontal(r);
      h0b = e.Horizontal(r + back);
    }
    const T* r = LevelRow<T>(p, 0, y + 1) + x0 + lead;
    const __m128i h1a = e.Horizontal(r), h1b = e.Horizontal(r + back);
    T* o = row + lead;
    if constexpr (kRaise) {
      const __m128i ma = E::Load(o), mb = E::Load(o + back);
      E::Raise(o, ma, e.Vertical(h0a, h1a));
      E::Raise(o + back, mb, e.Vertical(h0b, h1b));
    } else {
      E::Store(o, e.Vertical(h0a, h1a));
      E::Store(o + back, e.Vertical(h0b, h1b));
      Clear(row + end, a.count - end);
    }
    h0a = h1a;
    h0b = h1b;
    held = y + 1;
  });
}
#endif

/// Level 0 with unit steps across and down: both fractions are the same on every row,
/// so each level row is blended horizontally once. Answers false, having written
/// nothing, when the block does not qualify (or without SSE2).
#if defined(__SSE2__)
template <class T, class Passes, bool kRaise = false>
[[gnu::always_inline]] inline bool UnitBlockWith(const Kp_SpanArgs& a, T* dst) {
  const Kp_MIPPyramid& p = *a.pyramid;
  if (a.level != 0 || a.du != kFx16One || a.dv != kFx16One || a.count > kBlockRunMax ||
      !NoWrap(a.u, a.du, a.count) || !NoWrap(a.v, a.dv, a.rows))
    return false;
  const int64_t x0 = a.u >> 16;
  const int32_t lead = int32_t(std::clamp<int64_t>(-1 - x0, 0, a.count));
  const int32_t end = int32_t(std::clamp<int64_t>(p.Width(0) - x0, lead, a.count));
  const int32_t n = end - lead;
  const uint32_t fx = uint32_t(a.u >> 8) & 255u, fy = uint32_t(a.v >> 8) & 255u;
  if (n >= 8 && n <= 16) {
    SmallUnitBlock<T, kRaise>(a, x0, lead, end, fx, fy, dst);
    return true;
  }
  T rows[2][kBlockRunMax];
  T* h0 = rows[0];
  T* h1 = rows[1];
  int32_t held = INT32_MIN;  // the level row whose horizontal blend h0 holds
  ForUnitBlockRows<T, kRaise>(a, lead, dst, [&](T* row, int32_t y) {
    if (n > 0) {
      if (held != y) Passes::Horizontal(LevelRow<T>(p, 0, y) + x0 + lead, n, fx, h0);
      Passes::template Fused<kRaise>(LevelRow<T>(p, 0, y + 1) + x0 + lead, h0, n, fx, fy, h1,
                                     row + lead);
    }
    if (!kRaise) Clear(row + end, a.count - end);
    std::swap(h0, h1);
    held = y + 1;
  });
  return true;
}
#endif

template <class T>
bool UnitBlock(const Kp_SpanArgs& a, T* dst) {
#if defined(__SSE2__)
  return UnitBlockWith<T, typename PassesOf<T>::Type>(a, dst);
#else
  (void)a;
  (void)dst;
  return false;
#endif
}

#if defined(KSTROKE_HAVE_AVX2)
template <class T>
KSTROKE_AVX2 bool UnitBlockAvx2(const Kp_SpanArgs& a, T* dst) {
  return UnitBlockWith<T, typename WidePassesOf<T>::Type>(a, dst);
}
template <class T>
KSTROKE_AVX2 bool UnitBlockRaiseAvx2(const Kp_SpanArgs& a, T* dst) {
  return UnitBlockWith<T, typename WidePassesOf<T>::Type, true>(a, dst);
}
#endif

template <class T>
bool UnitBlockRaise(const Kp_SpanArgs& a, T* dst, bool avx2) {
#if defined(KSTROKE_HAVE_AVX2)
  if (avx2 && Kp_HasAvx2()) return UnitBlockRaiseAvx2(a, dst);
#endif
  (void)avx2;
#if defined(__SSE2__)
  return UnitBlockWith<T, typename PassesOf<T>::Type, true>(a, dst);
#else
  (void)a;
  (void)dst;
  return false;
#endif
}


template <class T>
uint32_t SampleChecked(const Kp_MIPPyramid& p, int32_t k, Fx16 u, Fx16 v) {
  const int32_t x = u >> (16 + k);
  const int32_t y = v >> (16 + k);
  if (x < -1 || x >= p.Width(k) || y < -1 || y >= p.Height(k)) return 0;
  const T* r0 = LevelRow<T>(p, k, y);
  return Blend(r0, r0 + LevelStride<T>(p, k), x, uint32_t(u >> (8 + k)) & 255u,
               uint32_t(v >> (8 + k)) & 255u);
}

/// A row with dv != 0: zeros where the ink does not reach, each sample tested on
/// both axes at each level elsewhere (eight at a time with kWide).
template <class T, bool kTrilinear, bool kWide>
void TurnedSpan(const Kp_SpanArgs& a, uint32_t weight, T* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  if (kWide && a.paired) return Kp_TurnedRowAvx2<T, kTrilinear>(a, weight, dst);
#endif
  const Kp_TurnedRow plan = Kp_PlanTurnedRow(a, kTrilinear);
  Clear(dst, plan.begin);
  Clear(dst + plan.end, a.count - plan.end);
  const Kp_MIPPyramid& p = *a.pyramid;
  uint32_t u = uint32_t(a.u) + uint32_t(plan.begin) * uint32_t(a.du);
  uint32_t v = uint32_t(a.v) + uint32_t(plan.begin) * uint32_t(a.dv);
  for (int32_t i = plan.begin; i < plan.end; ++i, u += uint32_t(a.du), v += uint32_t(a.dv)) {
    const uint32_t s0 = SampleChecked<T>(p, a.level, Fx16(u), Fx16(v));
    if (!kTrilinear) {
      dst[i] = static_cast<T>(s0);
      continue;
    }
    const uint32_t s1 = SampleChecked<T>(p, a.level + 1, Fx16(u), Fx16(v));
    dst[i] = static_cast<T>(Kp_Div255((255 - weight) * s0 + weight * s1));
  }
}

}  // namespace

int32_t Kp_TrilinearWeight(int32_t level, Fx16 scale) noexcept {
  // 255 / (65536 >> (L + 1)) for every level, the same quotients a division gives;
  // the row kernels of turned dabs ask once per row.
  static constexpr double kPerStep[16] = {
      255.0 / 32768, 255.0 / 16384, 255.0 / 8192, 255.0 / 4096, 255.0 / 2048, 255.0 / 1024,
      255.0 / 512,   255.0 / 256,   255.0 / 128,  255.0 / 64,   255.0 / 32,   255.0 / 16,
      255.0 / 8,     255.0 / 4,     255.0 / 2,    255.0 / 1};
  const double w = kPerStep[level & 15] * double((65536 >> level) - scale) + 0.5;
  // Truncation and the clamp commute here: both ends are whole numbers.
  return static_cast<int32_t>(std::clamp(w, 0.0, 255.0));
}

template <class P>
void BilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  using T = typename P::Value;
  const Kp_MIPPyramid& p = *a.pyramid;
  if (a.dv == 0) {
    if (!RowInside(p, a.level, a.v)) return Clear(dst, a.count);
    const RowPair<T> rows(p, a.level, a.v);
    if (a.level == 0 && a.du == kFx16One && NoWrap(a.u, a.du, a.count))
      return UnitRow(rows, a.u, a.count, dst);
    uint32_t u = uint32_t(a.u);
    for (int32_t i = 0; i < a.count; ++i, u += uint32_t(a.du))
      dst[i] = static_cast<T>(rows.Sample(Fx16(u)));
    return;
  }
  TurnedSpan<T, false, false>(a, 0, dst);
}

template <class P>
void TrilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  using T = typename P::Value;
  const Kp_MIPPyramid& p = *a.pyramid;
  const uint32_t w1 = uint32_t(Kp_TrilinearWeight(a.level, a.scale));
  const uint32_t w0 = 255 - w1;
  if (a.dv == 0) {
    if (!RowInside(p, a.level, a.v)) return Clear(dst, a.count);
    // Level L's row is inside, so level L + 1's (half the index) is too.
    const RowPair<T> fine(p, a.level, a.v);
    const RowPair<T> coarse(p, a.level + 1, a.v);
    uint32_t u = uint32_t(a.u);
    const uint32_t du = uint32_t(a.du);
    int32_t i = 0;
    for (; i + 4 <= a.count; i += 4) {
      const Fx16 u0 = Fx16(u), u1 = Fx16(u + du), u2 = Fx16(u + 2 * du), u3 = Fx16(u + 3 * du);
      dst[i] = static_cast<T>(Kp_Div255(w0 * fine.Sample(u0) + w1 * coarse.Sample(u0)));
      dst[i + 1] = static_cast<T>(Kp_Div255(w0 * fine.Sample(u1) + w1 * coarse.Sample(u1)));
      dst[i + 2] = static_cast<T>(Kp_Div255(w0 * fine.Sample(u2) + w1 * coarse.Sample(u2)));
      dst[i + 3] = static_cast<T>(Kp_Div255(w0 * fine.Sample(u3) + w1 * coarse.Sample(u3)));
      u += 4 * du;
    }
    for (; i < a.count; ++i, u += du)
      dst[i] = static_cast<T>(Kp_Div255(w0 * fine.Sample(Fx16(u)) + w1 * coarse.Sample(Fx16(u))));
    return;
  }
  TurnedSpan<T, true, false>(a, w1, dst);
}

template <class P>
void BilinearSpanAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  if (a.dv != 0 && Kp_HasAvx2()) return TurnedSpan<typename P::Value, false, true>(a, 0, dst);
#endif
  BilinearSpan<P>(a, dst);
}

template <class P, bool kTrilinear>
void SpanRaiseAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  // A row of constant v outside level L is all zeros by the row rule: nothing to raise.
  if (a.dv == 0 && !RowInside(*a.pyramid, a.level, a.v)) return;
  const uint32_t weight = kTrilinear ? uint32_t(Kp_TrilinearWeight(a.level, a.scale)) : 0;
  Kp_TurnedRowRaiseAvx2<typename P::Value, kTrilinear>(a, weight, dst);
#else
  (void)a;
  (void)dst;
#endif
}

template <class P>
void TrilinearSpanAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  if (a.dv != 0 && Kp_HasAvx2())
    return TurnedSpan<typename P::Value, true, true>(a, uint32_t(Kp_TrilinearWeight(a.level, a.scale)), dst);
#endif
  TrilinearSpan<P>(a, dst);
}

namespace {

/// Block = one constant-v row kernel call per row: for blocks too small to repay the
/// separable set-up.
template <class P, void (*kRow)(const Kp_SpanArgs&, typename P::Value*) noexcept>
void BlockRows(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  Kp_SpanArgs row = a;
  row.dv = 0;
  auto* out = reinterpret_cast<unsigned char*>(dst);
  uint32_t v = uint32_t(a.v);
  for (int32_t j = 0; j < a.rows; ++j, v += uint32_t(a.dv), out += a.rowBytes) {
    row.v = Fx16(v);
    kRow(row, reinterpret_cast<typename P::Value*>(out));
  }
}

// Below this many samples a block is drawn row by row.
constexpr int64_t kSeparableMinSamples = 64;

bool Small(const Kp_SpanArgs& a) { return int64_t(a.count) * a.rows < kSeparableMinSamples; }

#if defined(KSTROKE_HAVE_AVX2)
/// A small block's rows through the turned-row kernel, eight samples at a time: it keeps
/// the rule for rows of constant v. For the short, wide blocks that Kp_SmallBlockAvx2
/// leaves (rows of more than kKp_SmallBlockMax samples), with the paired rows; false,
/// having drawn nothing, otherwise. (Larger blocks cost less through the separable
/// kernel, whose set-up they repay.)
template <class P, bool kTrilinear>
bool ShortBlockRowsAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  if (!Small(a) || !a.paired || a.count < 8) return false;
  constexpr int32_t kBatch = 32;
  Kp_RowArgs rows[kBatch];
  auto* out = reinterpret_cast<unsigned char*>(dst);
  uint32_t v = uint32_t(a.v);
  for (int32_t j = 0; j < a.rows;) {
    const int32_t n = std::min(kBatch, a.rows - j);
    for (int32_t k = 0; k < n; ++k, ++j, v += uint32_t(a.dv), out += a.rowBytes)
      rows[k] = Kp_RowArgs{a.count, a.u, a.du, Fx16(v), 0, out};
    Kp_TurnedRowsAvx2<typename P::Value, kTrilinear, false>(a, rows, n);
  }
  return true;
}
#endif

}  // namespace

template <class P>
void BilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  if (UnitBlock(a, dst)) return;
  if (Small(a)) return BlockRows<P, &BilinearSpan<P>>(a, dst);
  kp_blocks::SeparableBlock<typename P::Value, kp_blocks::ScalarPasses, false>(a, dst);
}

template <class P>
void BilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  if (Kp_HasAvx2()) {
    if (UnitBlockAvx2(a, dst)) return;
    if (Kp_SmallBlockAvx2(a, false, dst)) return;
    if (ShortBlockRowsAvx2<P, false>(a, dst)) return;
    if (Small(a)) return BlockRows<P, &BilinearSpan<P>>(a, dst);
    return ScaledBilinearBlockAvx2<P>(a, dst);
  }
#endif
  BilinearBlock<P>(a, dst);
}

bool Kp_UnitBlockRaise(bool deep, bool avx2, const Kp_SpanArgs& a, void* dst) noexcept {
  return deep ? UnitBlockRaise(a, static_cast<uint16_t*>(dst), avx2)
              : UnitBlockRaise(a, static_cast<uint8_t*>(dst), avx2);
}

bool Kp_PortableForced() noexcept { return GX_PortableForced(); }

bool Kp_HasAvx2() noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  // Asked per block: kept here rather than called across into the host each time.
  static const bool has = GX_HasAvx2();
  return has;
#else
  return false;
#endif
}

bool Kp_HasAvx512() noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  // The compiler's check includes the system saving the 64-byte registers.
  static const bool has = Kp_HasAvx2() && __builtin_cpu_supports("avx512f") &&
                          __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  return has;
#else
  return false;
#endif
}

template <class P>
void TrilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  if (Small(a)) return BlockRows<P, &TrilinearSpan<P>>(a, dst);
  kp_blocks::SeparableBlock<typename P::Value, kp_blocks::ScalarPasses, true>(a, dst);
}

template <class P>
void TrilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
#if defined(KSTROKE_HAVE_AVX2)
  if (Kp_HasAvx2()) {
    if (Kp_SmallBlockAvx2(a, true, dst)) return;
    if (ShortBlockRowsAvx2<P, true>(a, dst)) return;
    if (!Small(a)) return ScaledTrilinearBlockAvx2<P>(a, dst);
  }
#endif
  TrilinearBlock<P>(a, dst);
}

void CopyBlock(const Kp_MIPPyramid& p, int32_t x0, int32_t y0, int32_t count, int32_t rows,
               int32_t rowBytes, void* dst) noexcept {
  const std::size_t bytes = std::size_t(p.BytesPerSample());
  const int32_t lead = int32_t(std::clamp<int64_t>(-int64_t(x0), 0, count));
  const int32_t end = int32_t(std::clamp<int64_t>(int64_t(p.Width(0)) - x0, lead, count));
  unsigned char* out = static_cast<unsigned char*>(dst);
  for (int32_t j = 0; j < rows; ++j, out += rowBytes) {
    const int64_t y = int64_t(y0) + j;
    if (y < 0 || y >= p.Height(0)) {
      std::memset(out, 0, std::size_t(count) * bytes);
      continue;
    }
    const unsigned char* src = p.levels[0] + std::ptrdiff_t(y) * p.rowBytes[0];
    std::memset(out, 0, std::size_t(lead) * bytes);
    std::memcpy(out + std::size_t(lead) * bytes, src + (int64_t(x0) + lead) * int64_t(bytes),
                std::size_t(end - lead) * bytes);
    std::memset(out + std::size_t(end) * bytes, 0, std::size_t(count - end) * bytes);
  }
}

#define KSTROKE_FAST_INSTANTIATE(P)                                        \
  template void BilinearSpan<P>(const Kp_SpanArgs&, P::Value*) noexcept;   \
  template void TrilinearSpan<P>(const Kp_SpanArgs&, P::Value*) noexcept;  \
  template void BilinearSpanAvx2<P>(const Kp_SpanArgs&, P::Value*) noexcept;   \
  template void TrilinearSpanAvx2<P>(const Kp_SpanArgs&, P::Value*) noexcept;  \
  template void BilinearBlock<P>(const Kp_SpanArgs&, P::Value*) noexcept;  \
  template void BilinearBlockAvx2<P>(const Kp_SpanArgs&, P::Value*) noexcept;  \
  template void TrilinearBlock<P>(const Kp_SpanArgs&, P::Value*) noexcept;   \
  template void TrilinearBlockAvx2<P>(const Kp_SpanArgs&, P::Value*) noexcept;
KSTROKE_FAST_INSTANTIATE(Px8)
KSTROKE_FAST_INSTANTIATE(Px16)
#undef KSTROKE_FAST_INSTANTIATE

namespace {

template <class P, bool kWide>
constexpr Kp_KernelTable MakeTable() {
  return {kWide ? &Kp_Erased<P, &BilinearSpanAvx2<P>> : &Kp_Erased<P, &BilinearSpan<P>>,
          kWide ? &Kp_Erased<P, &TrilinearSpanAvx2<P>> : &Kp_Erased<P, &TrilinearSpan<P>>,
          kWide ? &Kp_Erased<P, &BilinearBlockAvx2<P>> : &Kp_Erased<P, &BilinearBlock<P>>,
          kWide ? &Kp_Erased<P, &TrilinearBlockAvx2<P>> : &Kp_Erased<P, &TrilinearBlock<P>>,
          kWide ? &Kp_Erased<P, &SpanRaiseAvx2<P, false>> : nullptr,
          kWide ? &Kp_Erased<P, &SpanRaiseAvx2<P, true>> : nullptr,
          kWide ? &Kp_TurnedRowsAvx2<typename P::Value, false, false> : nullptr,
          kWide ? &Kp_TurnedRowsAvx2<typename P::Value, true, false> : nullptr,
          kWide ? &Kp_TurnedRowsAvx2<typename P::Value, false, true> : nullptr,
          kWide ? &Kp_TurnedRowsAvx2<typename P::Value, true, true> : nullptr};
}

/// The AVX2 table with the 8-bit turned rows on sixteen lanes.
constexpr Kp_KernelTable MakeAvx512Table8() {
  Kp_KernelTable t = MakeTable<Px8, true>();
  t.bilinearRows = &Kp_TurnedRowsAvx512<false, false>;
  t.trilinearRows = &Kp_TurnedRowsAvx512<true, false>;
  t.bilinearRowsRaise = &Kp_TurnedRowsAvx512<false, true>;
  t.trilinearRowsRaise = &Kp_TurnedRowsAvx512<true, true>;
  return t;
}

const Kp_KernelTable kTables[3][2] = {{MakeTable<Px8, false>(), MakeTable<Px16, false>()},
                                      {MakeTable<Px8, true>(), MakeTable<Px16, true>()},
                                      {MakeAvx512Table8(), MakeTable<Px16, true>()}};

Kp_Vectors WidestVectors() noexcept {
  return Kp_HasAvx512() ? Kp_Vectors::kAvx512 : Kp_HasAvx2() ? Kp_Vectors::kAvx2 : Kp_Vectors::k16Byte;
}

}  // namespace

const Kp_KernelTable& Kp_Kernels(bool deep) noexcept { return Kp_KernelsFor(deep, WidestVectors()); }

const Kp_KernelTable& Kp_KernelsFor(bool deep, Kp_Vectors widest) noexcept {
  const Kp_Vectors v = std::min(widest, WidestVectors());
  return kTables[int(v)][deep ? 1 : 0];
}
