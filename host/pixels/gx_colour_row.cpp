// SPDX-License-Identifier: MIT
// One flat colour over a row of pixels through a row of mask values in the Normal
// mode: the inner loop of a filled stroke.
//
// The SSE2 form runs the per-pixel transfer's own float operations on four pixels at
// once, in the same order and with the same divisions (no reciprocals, no fused
// multiply-adds), so its results are those of the per-pixel function bit for bit;
// tests/host/gx_transfer_test.cpp holds the two against each other. Four empty
// destination pixels skip the operations whose outcome is known there (see VectorRun).
// A stroke's mask is mostly empty, so runs of zero coverage are passed over whole
// vectors at a time; its core is mostly full, so whole lines of the opaque colour may
// be streamed (the caller fences). Where the processor runs AVX2, eight pixels are done
// at once (VectorRunAvx2): the shortcuts as they are, the blend with the same float
// operations on eight lanes.
#include "host/gx/gx_transfer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gx_blend.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

namespace {

using NormalOp = gxp::Separable<gxp::BNormal>;

template <class P>
inline void ScalarPixel(const typename P::Pixel& colour, typename P::Value m,
                        typename P::Value opacity, typename P::Pixel* d) {
  gxp::BlendPixel<P, NormalOp>(colour, nullptr, gxp::Weight<P>(m, opacity), 0.0f, d);
}

template <class P>
void ScalarRun(const typename P::Pixel& colour, const typename P::Value* mask,
               typename P::Value opacity, int32_t count, typename P::Pixel* dst) {
  for (int32_t i = 0; i < count; ++i)
    if (mask[i] != 0) ScalarPixel<P>(colour, mask[i], opacity, dst + i);
}

#if defined(__SSE2__)

// Four pixels as one float vector per channel.
struct Quad4 {
  __m128 a, r, g, b;
};

// Depth-specific loads and stores of four pixels and four mask values.
// ====

struct Lanes8 {
  static constexpr float kFull = 255.0f;
  static __m128i Ints(const uint8_t* m) {
    int32_t v;
    std::memcpy(&v, m, 4);
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero), zero);
  }
  /// ToUnit of four values: v / 255, a true division as in the scalar traits.
  static __m128 Unit(__m128i v) { return _mm_div_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(kFull)); }
  static bool AllZero(const uint8_t* m) {
    uint32_t v;
    std::memcpy(&v, m, 4);
    return v == 0;
  }
  static bool AllFull(const uint8_t* m) {
    uint32_t v;
    std::memcpy(&v, m, 4);
    return v == 0xFFFFFFFFu;
  }
  /// The sixteen mask values of a cache line of pixels, all full.
  static bool AllFullLine(const uint8_t* m) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(-1))) == 0xFFFF;
  }
  /// Sixteen pixels of `packed` streamed to a 64-byte aligned line.
  static void Stream(__m128i packed, GX_Pixel8* p) {
    auto* q = reinterpret_cast<__m128i*>(p);
    for (int k = 0; k < 4; ++k) _mm_stream_si128(q + k, packed);
  }
  static Quad4 Load(const GX_Pixel8* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i byte = _mm_set1_epi32(0xFF);
    return {Unit(_mm_and_si128(v, byte)), Unit(_mm_and_si128(_mm_srli_epi32(v, 8), byte)),
            Unit(_mm_and_si128(_mm_srli_epi32(v, 16), byte)), Unit(_mm_srli_epi32(v, 24))};
  }
  static __m128i Pack(__m128i a, __m128i r, __m128i g, __m128i b) {
    return _mm_or_si128(_mm_or_si128(a, _mm_slli_epi32(r, 8)),
                        _mm_or_si128(_mm_slli_epi32(g, 16), _mm_slli_epi32(b, 24)));
  }
  static void Store(__m128i packed, GX_Pixel8* p) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
  }
  static __m128i LoadPacked(const GX_Pixel8* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static bool Empty(const GX_Pixel8* p) {
    const __m128i v = LoadPacked(p);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
  }
  /// Four empty pixels under coverage m (lanes): alpha m beside `channels` where m is
  /// not 0, `colour` where m is full (at 8 bits the same pixel), else left empty.
  static void StoreCoverage(__m128i m, __m128i covered, __m128i /*whole*/, __m128i channels,
                            __m128i /*colour*/, GX_Pixel8* p) {
    Store(_mm_and_si128(covered, _mm_or_si128(channels, m)), p);
  }
};

struct Lanes16 {
  static constexpr float kFull = 32768.0f;
  static __m128i Ints(const uint16_t* m) {
    return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(m)),
                              _mm_setzero_si128());
  }
  /// v / 32768: dividing by a power of two is the same as multiplying by its inverse.
  static __m128 Unit(__m128i v) {
    return _mm_mul_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(1.0f / kFull));
  }
  static bool AllZero(const uint16_t* m) {
    uint64_t v;
    std::memcpy(&v, m, 8);
    return v == 0;
  }
  static bool AllFull(const uint16_t* m) {
    uint64_t v;
    std::memcpy(&v, m, 8);
    return v == 0x8000800080008000ull;
  }
  /// The eight mask values of a cache line of pixels, all full.
  static bool AllFullLine(const uint16_t* m) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_set1_epi16(int16_t(0x8000)))) == 0xFFFF;
  }
  // Two registers of two pixels each; lanes (alpha | red << 16) and (green | blue << 16).
  static void Split(const GX_Pixel16* p, __m128i* ar, __m128i* gb) {
    const __m128 lo = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m128 hi = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)));
    *ar = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    *gb = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
  }
  static Quad4 Load(const GX_Pixel16* p) {
    __m128i ar, gb;
    Split(p, &ar, &gb);
    const __m128i low = _mm_set1_epi32(0xFFFF);
    return {Unit(_mm_and_si128(ar, low)), Unit(_mm_srli_epi32(ar, 16)),
            Unit(_mm_and_si128(gb, low)), Unit(_mm_srli_epi32(gb, 16))};
  }
  struct Packed {
    __m128i ar, gb;
  };
  static Packed Pack(__m128i a, __m128i r, __m128i g, __m128i b) {
    return {_mm_or_si128(a, _mm_slli_epi32(r, 16)), _mm_or_si128(g, _mm_slli_epi32(b, 16))};
  }
  static Packed LoadPacked(const GX_Pixel16* p) {
    Packed k;
    Split(p, &k.ar, &k.gb);
    return k;
  }
  static bool Empty(const GX_Pixel16* p) {
    const __m128i v = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
  }
  static void Store(const Packed& k, GX_Pixel16* p) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(k.ar, k.gb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2), _mm_unpackhi_epi32(k.ar, k.gb));
  }
  /// Eight pixels of one packed colour (lanes all alike) streamed to an aligned line.
  static void Stream(const Packed& k, GX_Pixel16* p) {
    const __m128i two = _mm_unpacklo_epi32(k.ar, k.gb);
    auto* q = reinterpret_cast<__m128i*>(p);
    for (int c = 0; c < 4; ++c) _mm_stream_si128(q + c, two);
  }
  /// As Lanes8::StoreCoverage; coverage of full and more stores the colour unclamped,
  /// as full weight does, and partial coverage the clamped channels.
  static void StoreCoverage(__m128i m, __m128i covered, __m128i whole, const Packed& channels,
                            const Packed& colour, GX_Pixel16* p) {
    const __m128i ar = _mm_or_si128(_mm_and_si128(whole, colour.ar),
                                    _mm_andnot_si128(whole, _mm_or_si128(channels.ar, m)));
    const __m128i gb = _mm_or_si128(_mm_and_si128(whole, colour.gb),
                                    _mm_andnot_si128(whole, channels.gb));
    Store({_mm_and_si128(covered, ar), _mm_and_si128(covered, gb)}, p);
  }
};

template <class P> struct LanesOf;
template <> struct LanesOf<GXp_Px8> { using Type = Lanes8; };
template <> struct LanesOf<GXp_Px16> { using Type = Lanes16; };

// The scalar helpers' comparisons, NaN included: std::max(v, 0) is (v < 0 ? 0 : v),
// which MAXPS gives with zero as its first operand; likewise std::min(v, 1).
inline __m128 Clamp01(__m128 v) {
  return _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), v));
}

/// P::FromUnit on four lanes: f > 0 ? (f < 1 ? int(f × full + ½) : full) : 0.
template <class L>
inline __m128i FromUnit(__m128 f) {
  const __m128i scaled =
      _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(f, _mm_set1_ps(L::kFull)), _mm_set1_ps(0.5f)));
  const __m128i below = _mm_castps_si128(_mm_cmplt_ps(f, _mm_set1_ps(1.0f)));
  const __m128i above = _mm_castps_si128(_mm_cmpgt_ps(f, _mm_setzero_ps()));
  const __m128i full = _mm_set1_epi32(int32_t(L::kFull));
  const __m128i v = _mm_or_si128(_mm_and_si128(below, scaled), _mm_andnot_si128(below, full));
  return _mm_and_si128(above, v);
}

inline __m128i Select(__m128i m, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
}

/// What a row's pixels share: the colour as floats and packed, and which shortcuts
/// the colour and opacity allow. Quad() blends four pixels by the rules below.
template <class P>
struct NormalRow {
  using L = typename LanesOf<P>::Type;
  using Value = typename P::Value;
  using Pixel = typename P::Pixel;
  using Packed = decltype(L::Pack(_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                                  _mm_setzero_si128()));

  __m128 sA, opacityUnit;
  __m128 cs[3], csClamped[3];
  bool opaqueColour, fullStores, coverageIsAlpha;
  Packed packedColour, packedChannels;

  NormalRow() = default;
  NormalRow(const Pixel& colour, Value opacity) {
    const float a = P::ToUnit(colour.alpha), r = P::ToUnit(colour.red);
    const float g = P::ToUnit(colour.green), b = P::ToUnit(colour.blue);
    sA = _mm_set1_ps(a);
    cs[0] = _mm_set1_ps(r);
    cs[1] = _mm_set1_ps(g);
    cs[2] = _mm_set1_ps(b);
    csClamped[0] = _mm_set1_ps(gxp::Clamp01<P>(r));
    csClamped[1] = _mm_set1_ps(gxp::Clamp01<P>(g));
    csClamped[2] = _mm_set1_ps(gxp::Clamp01<P>(b));
    opacityUnit = _mm_set1_ps(P::ToUnit(opacity));
    opaqueColour = colour.alpha >= P::kFull;
    // Full coverage of an opaque colour at full opacity stores the colour: a stroke's
    // core, where four whole pixels can be written without any arithmetic.
    fullStores = opaqueColour && opacity == P::kFull;
    // The colour at exactly full alpha and full opacity, over empty pixels (the edges
    // of a stroke on a fresh layer): the weight is m / full and the alpha FromUnit of
    // it, which is m itself (at 16 bits m / 32768 × 32768 is exact; at 8 bits the
    // quotient and the product are each within half a unit in the last place, far
    // inside the ½ that FromUnit truncates away). So the pixel is the mask value beside
    // the colour's channels, with no float arithmetic at all.
    coverageIsAlpha = colour.alpha == P::kFull && opacity == P::kFull;
    packedColour = L::Pack(_mm_set1_epi32(colour.alpha), _mm_set1_epi32(colour.red),
                           _mm_set1_epi32(colour.green), _mm_set1_epi32(colour.blue));
    packedChannels = L::Pack(_mm_setzero_si128(), _mm_set1_epi32(std::min<int32_t>(colour.red, P::kFull)),
                             _mm_set1_epi32(std::min<int32_t>(colour.green, P::kFull)),
                             _mm_set1_epi32(std::min<int32_t>(colour.blue, P::kFull)));
  }

  /// Four pixels through four mask values.
  void Quad(const Value* mask, Pixel* dst) const {
    if (L::AllZero(mask)) return;
    if (fullStores && L::AllFull(mask)) return L::Store(packedColour, dst);
    if (coverageIsAlpha && L::Empty(dst)) {
      const __m128i m = L::Ints(mask);
      const __m128i covered = _mm_xor_si128(_mm_cmpeq_epi32(m, _mm_setzero_si128()), _mm_set1_epi32(-1));
      // Coverage of full and more is full weight: the colour as it is.
      const __m128i whole = _mm_cmpgt_epi32(m, _mm_set1_epi32(P::kFull - 1));
      return L::StoreCoverage(m, covered, whole, packedChannels, packedColour, dst);
    }
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    const __m128 w = _mm_min_ps(one, _mm_max_ps(zero, _mm_mul_ps(L::Unit(L::Ints(mask)), opacityUnit)));
    const __m128 sa = _mm_mul_ps(sA, w);
    // Pixels with no weight (w or sa not above 0) stay; full weight of an opaque
    // colour stores the colour itself.
    const __m128i changed = _mm_castps_si128(_mm_and_ps(_mm_cmpgt_ps(w, zero), _mm_cmpgt_ps(sa, zero)));
    const __m128i store = opaqueColour ? _mm_castps_si128(_mm_cmpge_ps(w, one)) : _mm_setzero_si128();
    if (L::Empty(dst)) {
      // Four empty pixels, as under a stroke on a fresh layer. With da and cb zero the
      // blend below makes alpha sa and each channel (sa × cs) / sa: cs = c / full within
      // three roundings, which FromUnit (×full + ½, truncated) takes back to c itself,
      // or to full where c is above it. So the channels are the colour's, undivided.
      const Packed blended = L::Pack(FromUnit<L>(sa), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128());
      if constexpr (sizeof(Value) == 1) {
        L::Store(Select(store, packedColour, _mm_and_si128(changed, _mm_or_si128(blended, packedChannels))), dst);
      } else {
        L::Store({Select(store, packedColour.ar, _mm_and_si128(changed, _mm_or_si128(blended.ar, packedChannels.ar))),
                  Select(store, packedColour.gb, _mm_and_si128(changed, packedChannels.gb))},
                 dst);
      }
      return;
    }
    const Quad4 d = L::Load(dst);
    const __m128 da = d.a;
    const __m128 keep = _mm_mul_ps(da, _mm_sub_ps(one, sa));
    const __m128 ao = _mm_add_ps(sa, keep);
    const __m128 oneMinusDa = _mm_sub_ps(one, da);
    const __m128 cb[3] = {d.r, d.g, d.b};
    __m128i out[3];
    for (int c = 0; c < 3; ++c) {
      const __m128 blended = _mm_add_ps(_mm_mul_ps(oneMinusDa, cs[c]), _mm_mul_ps(da, csClamped[c]));
      const __m128 mixed = _mm_div_ps(_mm_add_ps(_mm_mul_ps(sa, blended), _mm_mul_ps(keep, cb[c])), ao);
      out[c] = FromUnit<L>(Clamp01(mixed));
    }
    const Packed blendedPixels = L::Pack(FromUnit<L>(ao), out[0], out[1], out[2]);
    const Packed original = L::LoadPacked(dst);
    if constexpr (sizeof(Value) == 1) {
      L::Store(Select(store, packedColour, Select(changed, blendedPixels, original)), dst);
    } else {
      L::Store({Select(store, packedColour.ar, Select(changed, blendedPixels.ar, original.ar)),
                Select(store, packedColour.gb, Select(changed, blendedPixels.gb, original.gb))},
               dst);
    }
  }
};

/// The NormalRow of a colour and opacity, made once for the rows that share them: a
/// composite calls the row kernel once a row with the same two, and making the row's
/// constants (five true divisions among them) cost about what a short row's pixels do.
/// One per thread, so it needs no lock.
template <class P>
const NormalRow<P>& RowOf(const typename P::Pixel& colour, typename P::Value opacity) {
  // Constant-initialised, so the thread's copy is reached without a guard on each call.
  struct Kept {
    bool made = false;
    typename P::Pixel colour{};
    typename P::Value opacity{};
    NormalRow<P> row;
  };
  static thread_local Kept kept;
  if (!kept.made || std::memcmp(&kept.colour, &colour, sizeof colour) != 0 || kept.opacity != opacity) {
    kept.row = NormalRow<P>(colour, opacity);
    kept.colour = colour;
    kept.opacity = opacity;
    kept.made = true;
  }
  return kept.row;
}

template <class P>
void VectorRun(const typename P::Pixel& colour, const typename P::Value* mask,
               typename P::Value opacity, int32_t count, typename P::Pixel* dst,
               std::ptrdiff_t ahead, bool stream) {
  using L = typename LanesOf<P>::Type;
  const NormalRow<P>& row = RowOf<P>(colour, opacity);
  // Empty mask is passed over 64 bytes, then 16 bytes at a time: most of a stroke's
  // box is empty. Those tests run where a vector of mask starts; inside one that had
  // ink, quads are tested alone.
  constexpr int32_t kPerVector = int32_t(16 / sizeof(typename P::Value));
  const auto load = [](const typename P::Value* m) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
  };
  const auto isZero = [](__m128i v) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
  };
  constexpr int32_t kPerLine = int32_t(64 / sizeof(typename P::Pixel));
  int32_t i = 0;
  while (i + 4 <= count) {
    if ((i & (kPerVector - 1)) == 0) {
      if (i + 4 * kPerVector <= count) {
        const typename P::Value* m = mask + i;
        if (isZero(_mm_or_si128(_mm_or_si128(load(m), load(m + kPerVector)),
                                _mm_or_si128(load(m + 2 * kPerVector), load(m + 3 * kPerVector))))) {
          i += 4 * kPerVector;
          continue;
        }
      }
      if (i + kPerVector <= count && isZero(load(mask + i))) {
        i += kPerVector;
        continue;
      }
    }
    if (L::AllZero(mask + i)) {
      i += 4;
      continue;
    }
    if (ahead != 0)
      _mm_prefetch(reinterpret_cast<const char*>(dst + i) + ahead, _MM_HINT_T0);
    // A whole cache line under full coverage is streamed rather than stored: the line
    // need not be read in first, and a stroke's core is most of its pixels.
    if (row.fullStores && stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 63) == 0 &&
        i + kPerLine <= count && L::AllFullLine(mask + i)) {
      L::Stream(row.packedColour, dst + i);
      i += kPerLine;
      continue;
    }
    row.Quad(mask + i, dst + i);
    i += 4;
  }
  ScalarRun<P>(colour, mask + i, opacity, count - i, dst + i);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define GX_COLOUR_ROW_AVX2 1
#define GX_AVX2 __attribute__((target("avx2")))

/// A pixel's bytes repeated across a 256-bit vector.
template <class Pixel>
GX_AVX2 inline __m256i Broadcast(const Pixel& p) {
  if constexpr (sizeof(Pixel) == 4) {
    int32_t v;
    std::memcpy(&v, &p, 4);
    return _mm256_set1_epi32(v);
  } else {
    long long v;
    std::memcpy(&v, &p, 8);
    return _mm256_set1_epi64x(v);
  }
}

// Eight pixels as one float vector (of eight) per channel, and the depth-specific
// loads and stores. At 16 bits two registers hold four pixels each; their channels are
// gathered in the lane order 0, 1, 4, 5, 2, 3, 6, 7 (as SHUFPS picks them from both
// halves), the mask values are put in that order too, and the stores undo it.
struct Oct {
  __m256 a, r, g, b;
};

struct Wide8 {
  static constexpr float kFull = 255.0f;
  GX_AVX2 static __m256i Ints(__m128i m) { return _mm256_cvtepu8_epi32(m); }
  GX_AVX2 static __m256 Unit(__m256i v) { return _mm256_div_ps(_mm256_cvtepi32_ps(v), _mm256_set1_ps(kFull)); }
  struct Packed {
    __m256i v;
  };
  GX_AVX2 static Packed LoadPacked(const GX_Pixel8* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
  }
  GX_AVX2 static Oct Load(const Packed& k) {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    return {Unit(_mm256_and_si256(k.v, byte)), Unit(_mm256_and_si256(_mm256_srli_epi32(k.v, 8), byte)),
            Unit(_mm256_and_si256(_mm256_srli_epi32(k.v, 16), byte)), Unit(_mm256_srli_epi32(k.v, 24))};
  }
  GX_AVX2 static Packed Pack(__m256i a, __m256i r, __m256i g, __m256i b) {
    return {_mm256_or_si256(_mm256_or_si256(a, _mm256_slli_epi32(r, 8)),
                            _mm256_or_si256(_mm256_slli_epi32(g, 16), _mm256_slli_epi32(b, 24)))};
  }
  GX_AVX2 static Packed Select(__m256i m, const Packed& x, const Packed& y) {
    return {_mm256_blendv_epi8(y.v, x.v, m)};
  }
  GX_AVX2 static void Store(const Packed& k, GX_Pixel8* p) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), k.v);
  }
};

struct Wide16 {
  static constexpr float kFull = 32768.0f;
  GX_AVX2 static __m256i Ints(__m128i m) {
    return _mm256_permutevar8x32_epi32(_mm256_cvtepu16_epi32(m), _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
  }
  GX_AVX2 static __m256 Unit(__m256i v) { return _mm256_mul_ps(_mm256_cvtepi32_ps(v), _mm256_set1_ps(1.0f / kFull)); }
  struct Packed {
    __m256i ar, gb;  ///< alpha | red << 16, green | blue << 16
  };
  GX_AVX2 static Packed LoadPacked(const GX_Pixel16* p) {
    const __m256 lo = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    const __m256 hi = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 4)));
    return {_mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))),
            _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)))};
  }
  GX_AVX2 static Oct Load(const Packed& k) {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    return {Unit(_mm256_and_si256(k.ar, low)), Unit(_mm256_srli_epi32(k.ar, 16)), Unit(_mm256_and_si256(k.gb, low)),
            Unit(_mm256_srli_epi32(k.gb, 16))};
  }
  GX_AVX2 static Packed Pack(__m256i a, __m256i r, __m256i g, __m256i b) {
    return {_mm256_or_si256(a, _mm256_slli_epi32(r, 16)), _mm256_or_si256(g, _mm256_slli_epi32(b, 16))};
  }
  GX_AVX2 static Packed Select(__m256i m, const Packed& x, const Packed& y) {
    return {_mm256_blendv_epi8(y.ar, x.ar, m), _mm256_blendv_epi8(y.gb, x.gb, m)};
  }
  GX_AVX2 static void Store(const Packed& k, GX_Pixel16* p) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_unpacklo_epi32(k.ar, k.gb));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 4), _mm256_unpackhi_epi32(k.ar, k.gb));
  }
};

template <class P> struct WideOf;
template <> struct WideOf<GXp_Px8> { using Type = Wide8; };
template <> struct WideOf<GXp_Px16> { using Type = Wide16; };

/// FromUnit on eight lanes (see FromUnit above).
template <class W>
GX_AVX2 inline __m256i FromUnit8(__m256 f) {
  const __m256i scaled =
      _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(f, _mm256_set1_ps(W::kFull)), _mm256_set1_ps(0.5f)));
  const __m256i below = _mm256_castps_si256(_mm256_cmp_ps(f, _mm256_set1_ps(1.0f), _CMP_LT_OQ));
  const __m256i above = _mm256_castps_si256(_mm256_cmp_ps(f, _mm256_setzero_ps(), _CMP_GT_OQ));
  const __m256i v = _mm256_blendv_epi8(_mm256_set1_epi32(int32_t(W::kFull)), scaled, below);
  return _mm256_and_si256(above, v);
}

/// A vector of four floats in both halves.
GX_AVX2 inline __m256 Twice(__m128 v) { return _mm256_set_m128(v, v); }

/// NormalRow::Quad's blend of eight pixels at once, by the same float operations in
/// the same order on each lane; `empty`: all eight pixels are 0 (Quad's empty case).
template <class P>
GX_AVX2 inline void BlendEight(const NormalRow<P>& row, __m128i mask, bool empty, typename P::Pixel* dst) {
  using W = typename WideOf<P>::Type;
  using Packed = typename W::Packed;
  const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
  const __m256 w = _mm256_min_ps(one, _mm256_max_ps(zero, _mm256_mul_ps(W::Unit(W::Ints(mask)), Twice(row.opacityUnit))));
  const __m256 sa = _mm256_mul_ps(Twice(row.sA), w);
  const __m256i changed = _mm256_castps_si256(
      _mm256_and_ps(_mm256_cmp_ps(w, zero, _CMP_GT_OQ), _mm256_cmp_ps(sa, zero, _CMP_GT_OQ)));
  const __m256i store = row.opaqueColour ? _mm256_castps_si256(_mm256_cmp_ps(w, one, _CMP_GE_OQ))
                                         : _mm256_setzero_si256();
  Packed colour, channels;
  if constexpr (sizeof(typename P::Value) == 1) {
    colour = {_mm256_set_m128i(row.packedColour, row.packedColour)};
    channels = {_mm256_set_m128i(row.packedChannels, row.packedChannels)};
  } else {
    colour = {_mm256_set_m128i(row.packedColour.ar, row.packedColour.ar),
              _mm256_set_m128i(row.packedColour.gb, row.packedColour.gb)};
    channels = {_mm256_set_m128i(row.packedChannels.ar, row.packedChannels.ar),
                _mm256_set_m128i(row.packedChannels.gb, row.packedChannels.gb)};
  }
  const __m256i none = _mm256_setzero_si256();
  if (empty) {
    // Quad's empty case: alpha FromUnit(sa) beside the colour's channels.
    const Packed blended = W::Pack(FromUnit8<W>(sa), none, none, none);
    Packed out;
    if constexpr (sizeof(typename P::Value) == 1) {
      out = {_mm256_and_si256(changed, _mm256_or_si256(blended.v, channels.v))};
    } else {
      out = {_mm256_and_si256(changed, _mm256_or_si256(blended.ar, channels.ar)),
             _mm256_and_si256(changed, channels.gb)};
    }
    return W::Store(W::Select(store, colour, out), dst);
  }
  const Packed original = W::LoadPacked(dst);
  const Oct d = W::Load(original);
  const __m256 da = d.a;
  const __m256 keep = _mm256_mul_ps(da, _mm256_sub_ps(one, sa));
  const __m256 ao = _mm256_add_ps(sa, keep);
  const __m256 oneMinusDa = _mm256_sub_ps(one, da);
  const __m256 cb[3] = {d.r, d.g, d.b};
  __m256i out[3];
  for (int c = 0; c < 3; ++c) {
    const __m256 blended =
        _mm256_add_ps(_mm256_mul_ps(oneMinusDa, Twice(row.cs[c])), _mm256_mul_ps(da, Twice(row.csClamped[c])));
    const __m256 mixed = _mm256_div_ps(_mm256_add_ps(_mm256_mul_ps(sa, blended), _mm256_mul_ps(keep, cb[c])), ao);
    // Quad clamps to 0..1 first; FromUnit8 gives the same for every value (NaN: 0).
    out[c] = FromUnit8<W>(mixed);
  }
  const Packed blendedPixels = W::Pack(FromUnit8<W>(ao), out[0], out[1], out[2]);
  W::Store(W::Select(store, colour, W::Select(changed, blendedPixels, original)), dst);
}

/// VectorRun eight pixels at a time: where all eight take one of the shortcuts (no ink,
/// full stores, coverage as alpha over empty pixels), which is most of a stroke's
/// pixels, that; else the blend (BlendEight), which also takes the last one to seven.
template <class P>
GX_AVX2 void VectorRunAvx2(const typename P::Pixel& colour, const typename P::Value* mask,
                           typename P::Value opacity, int32_t count, typename P::Pixel* dst,
                           std::ptrdiff_t ahead, bool stream) {
  using Value = typename P::Value;
  using Pixel = typename P::Pixel;
  constexpr bool k8 = sizeof(Value) == 1;
  constexpr int32_t kPerLine = int32_t(64 / sizeof(Pixel));
  const NormalRow<P>& row = RowOf<P>(colour, opacity);
  const __m256i whole = Broadcast(colour);
  const __m256i channels = Broadcast(Pixel{0, Value(std::min<int32_t>(colour.red, P::kFull)),
                                           Value(std::min<int32_t>(colour.green, P::kFull)),
                                           Value(std::min<int32_t>(colour.blue, P::kFull))});
  const __m128i fullMask = k8 ? _mm_set1_epi8(char(P::kFull)) : _mm_set1_epi16(short(P::kFull));
  const auto eight = [](const Value* m) {
    return k8 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(m))
              : _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
  };
  const auto px = [](Pixel* p, int32_t k) { return reinterpret_cast<__m256i*>(p) + k; };
  const auto allFull = [&](__m128i m) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(k8 ? _mm_unpacklo_epi64(m, m) : m, fullMask)) == 0xFFFF;
  };
  int32_t i = 0;
  while (i + 8 <= count) {
    const __m128i m = eight(mask + i);
    if (_mm_testz_si128(m, m)) {
      // No ink: a stroke's box is mostly empty, passed over 32 values at a time.
      i += 8;
      while (i + 32 <= count) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i));
        const __m256i b = k8 ? a : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i + 16));
        const __m256i any = _mm256_or_si256(a, b);
        if (!_mm256_testz_si256(any, any)) break;
        i += 32;
      }
      continue;
    }
    if (row.fullStores && allFull(m)) {
      // A run under full coverage: the opaque colour, whole cache lines streamed (see
      // VectorRun). At 16 bits eight pixels are a line; at 8 bits two eights are.
      do {
        if (ahead != 0) _mm_prefetch(reinterpret_cast<const char*>(dst + i) + ahead, _MM_HINT_T0);
        if (stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 63) == 0 &&
            (!k8 || (i + kPerLine <= count && allFull(eight(mask + i + 8))))) {
          _mm256_stream_si256(px(dst + i, 0), whole);
          _mm256_stream_si256(px(dst + i, 1), whole);
          i += kPerLine;
        } else {
          _mm256_storeu_si256(px(dst + i, 0), whole);
          if (!k8) _mm256_storeu_si256(px(dst + i, 1), whole);
          i += 8;
        }
      } while (i + 8 <= count && allFull(eight(mask + i)));
      continue;
    }
    if (ahead != 0) _mm_prefetch(reinterpret_cast<const char*>(dst + i) + ahead, _MM_HINT_T0);
    const __m256i d0 = _mm256_loadu_si256(px(dst + i, 0));
    const __m256i d = k8 ? d0 : _mm256_or_si256(d0, _mm256_loadu_si256(px(dst + i, 1)));
    const bool empty = _mm256_testz_si256(d, d);
    if (row.coverageIsAlpha && empty) {
      // Eight empty pixels: the mask value beside the colour's channels, the colour
      // itself from full coverage up, nothing where the mask is 0 (L::StoreCoverage).
      if constexpr (k8) {
        const __m256i m32 = _mm256_cvtepu8_epi32(m);
        const __m256i none = _mm256_cmpeq_epi32(m32, _mm256_setzero_si256());
        _mm256_storeu_si256(px(dst + i, 0), _mm256_andnot_si256(none, _mm256_or_si256(channels, m32)));
      } else {
        for (int32_t k = 0; k < 2; ++k) {
          const __m256i m64 = _mm256_cvtepu16_epi64(k == 0 ? m : _mm_unpackhi_epi64(m, m));
          const __m256i none = _mm256_cmpeq_epi64(m64, _mm256_setzero_si256());
          const __m256i full = _mm256_cmpgt_epi64(m64, _mm256_set1_epi64x(P::kFull - 1));
          const __m256i partial = _mm256_or_si256(channels, m64);
          _mm256_storeu_si256(px(dst + i, k),
                              _mm256_andnot_si256(none, _mm256_blendv_epi8(partial, whole, full)));
        }
      }
      i += 8;
      continue;
    }
    // The rest are blended, shortcut or not: each shortcut gives what the blend gives
    // (the tests hold both to the per-pixel transfer), so eight never split into fours.
    BlendEight<P>(row, m, empty, dst + i);
    i += 8;
  }
  if (i < count) {
    // The last one to seven pixels as eight, padded with pixels of no coverage, which
    // every lane leaves alone: each lane's answer is the per-pixel one, so the end of
    // an ink run costs one step, where a form for fours and the per-pixel blend (its
    // true divisions pixel by pixel) took several.
    const int32_t n = count - i;
    alignas(16) Value m8[16] = {};
    alignas(32) Pixel d8[8] = {};
    std::memcpy(m8, mask + i, std::size_t(n) * sizeof(Value));
    std::memcpy(d8, dst + i, std::size_t(n) * sizeof(Pixel));
    const __m128i m = eight(m8);
    if (!_mm_testz_si128(m, m)) {
      const __m256i d0 = _mm256_load_si256(px(d8, 0));
      const __m256i d = k8 ? d0 : _mm256_or_si256(d0, _mm256_load_si256(px(d8, 1)));
      BlendEight<P>(row, m, _mm256_testz_si256(d, d), d8);
      std::memcpy(dst + i, d8, std::size_t(n) * sizeof(Pixel));
    }
  }
  // The compiler may leave the wide registers' upper halves in use on the way out;
  // code run after this, SSE code of other libraries too, would then pay for them on
  // every instruction (measured: a peer's SSE strokes at half speed).
  _mm256_zeroupper();
}
#endif

// Float pixels are one vector each. Four are turned into a vector per channel, blended
// with the per-pixel function's operations in its order (at float depth its clamps
// and conversions are the identity), and turned back. Full weight of an opaque colour
// stores the colour, as the per-pixel function does; there is no empty-pixel shortcut:
// a float layer's alpha and channels may hold anything, so none is known in advance.
void VectorRunFloat(const GX_PixelFloat& colour, const float* mask, float opacity,
                    int32_t count, GX_PixelFloat* dst, std::ptrdiff_t ahead, bool stream) {
  const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
  const __m128 opacityV = _mm_set1_ps(opacity);
  const __m128 sA = _mm_set1_ps(colour.alpha);
  const __m128 cs[3] = {_mm_set1_ps(colour.red), _mm_set1_ps(colour.green),
                        _mm_set1_ps(colour.blue)};
  const __m128 colourPixel = _mm_setr_ps(colour.alpha, colour.red, colour.green, colour.blue);
  const bool opaqueColour = colour.alpha >= 1.0f;
  float* const out = reinterpret_cast<float*>(dst);
  const auto lane = [](__m128 v, int k) -> __m128 {
    switch (k) {
      case 0: return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0));
      case 1: return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1));
      case 2: return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2));
      default: return _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3));
    }
  };
  int32_t i = 0;
  while (i + 4 <= count) {
    // Zero coverage (either sign) leaves pixels alone: sixteen, then four at a time.
    if (i + 16 <= count) {
      const __m128 z = _mm_and_ps(
          _mm_and_ps(_mm_cmpeq_ps(_mm_loadu_ps(mask + i), zero),
                     _mm_cmpeq_ps(_mm_loadu_ps(mask + i + 4), zero)),
          _mm_and_ps(_mm_cmpeq_ps(_mm_loadu_ps(mask + i + 8), zero),
                     _mm_cmpeq_ps(_mm_loadu_ps(mask + i + 12), zero)));
      if (_mm_movemask_ps(z) == 0xF) {
        i += 16;
        continue;
      }
    }
    const __m128 m = _mm_loadu_ps(mask + i);
    if (_mm_movemask_ps(_mm_cmpeq_ps(m, zero)) == 0xF) {
      i += 4;
      continue;
    }
    // Weight<PxF>: min(max(m × opacity, 0), 1), NaN kept as the scalar comparisons keep it.
    const __m128 w = _mm_min_ps(one, _mm_max_ps(zero, _mm_mul_ps(m, opacityV)));
    const __m128 store = opaqueColour ? _mm_cmpge_ps(w, one) : zero;
    const int storeBits = _mm_movemask_ps(store);
    if (ahead != 0)
      _mm_prefetch(reinterpret_cast<const char*>(dst + i) + ahead, _MM_HINT_T0);
    if (storeBits == 0xF) {
      // Four pixels are one cache line: streamed when it is one, not read in first.
      if (stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 63) == 0) {
        for (int k = 0; k < 4; ++k) _mm_stream_ps(out + 4 * (i + k), colourPixel);
      } else {
        for (int k = 0; k < 4; ++k) _mm_storeu_ps(out + 4 * (i + k), colourPixel);
      }
      i += 4;
      continue;
    }
    const __m128 sa = _mm_mul_ps(sA, w);
    const __m128 changed = _mm_and_ps(_mm_cmpgt_ps(w, zero), _mm_cmpgt_ps(sa, zero));
    if ((_mm_movemask_ps(changed) | storeBits) == 0) {
      i += 4;
      continue;
    }
    __m128 p0 = _mm_loadu_ps(out + 4 * i), p1 = _mm_loadu_ps(out + 4 * i + 4);
    __m128 p2 = _mm_loadu_ps(out + 4 * i + 8), p3 = _mm_loadu_ps(out + 4 * i + 12);
    const __m128 original[4] = {p0, p1, p2, p3};
    _MM_TRANSPOSE4_PS(p0, p1, p2, p3);  // p0 alpha, p1 red, p2 green, p3 blue
    const __m128 da = p0;
    const __m128 keep = _mm_mul_ps(da, _mm_sub_ps(one, sa));
    const __m128 ao = _mm_add_ps(sa, keep);
    const __m128 oneMinusDa = _mm_sub_ps(one, da);
    const __m128 cb[3] = {p1, p2, p3};
    __m128 mixed[3];
    for (int c = 0; c < 3; ++c) {
      const __m128 blended = _mm_add_ps(_mm_mul_ps(oneMinusDa, cs[c]), _mm_mul_ps(da, cs[c]));
      mixed[c] = _mm_div_ps(_mm_add_ps(_mm_mul_ps(sa, blended), _mm_mul_ps(keep, cb[c])), ao);
    }
    __m128 q0 = ao, q1 = mixed[0], q2 = mixed[1], q3 = mixed[2];
    _MM_TRANSPOSE4_PS(q0, q1, q2, q3);
    const __m128 blendedPixels[4] = {q0, q1, q2, q3};
    for (int k = 0; k < 4; ++k) {
      const __m128 s = lane(store, k), c = lane(changed, k);
      const __m128 v = _mm_or_ps(_mm_and_ps(c, blendedPixels[k]), _mm_andnot_ps(c, original[k]));
      _mm_storeu_ps(out + 4 * (i + k), _mm_or_ps(_mm_and_ps(s, colourPixel), _mm_andnot_ps(s, v)));
    }
    i += 4;
  }
  ScalarRun<GXp_PxF>(colour, mask + i, opacity, count - i, dst + i);
}

#if defined(GX_COLOUR_ROW_AVX2)
/// Two 4 × 4 transposes at once, one per 128-bit half.
GX_AVX2 inline void Transpose4x2(__m256& r0, __m256& r1, __m256& r2, __m256& r3) {
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
  const __m256 t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
  r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
  r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
  r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
  r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

/// VectorRunFloat eight pixels at a time, with its operations in its order on eight
/// lanes. Register k holds pixels k and k + 4, one in each half, so the transposes
/// give each channel of the eight in pixel order, the mask's order.
GX_AVX2 void VectorRunFloatAvx2(const GX_PixelFloat& colour, const float* mask, float opacity,
                                int32_t count, GX_PixelFloat* dst, std::ptrdiff_t ahead, bool stream) {
  const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
  const __m256 opacityV = _mm256_set1_ps(opacity);
  const __m256 sA = _mm256_set1_ps(colour.alpha);
  const __m256 cs[3] = {_mm256_set1_ps(colour.red), _mm256_set1_ps(colour.green), _mm256_set1_ps(colour.blue)};
  const __m256 colourTwice = _mm256_setr_ps(colour.alpha, colour.red, colour.green, colour.blue, colour.alpha,
                                            colour.red, colour.green, colour.blue);
  const bool opaqueColour = colour.alpha >= 1.0f;
  float* const out = reinterpret_cast<float*>(dst);
  int32_t i = 0;
  while (i + 8 <= count) {
    // Zero coverage (either sign) leaves pixels alone: sixteen, then eight at a time.
    if (i + 16 <= count) {
      const __m256 z = _mm256_and_ps(_mm256_cmp_ps(_mm256_loadu_ps(mask + i), zero, _CMP_EQ_OQ),
                                     _mm256_cmp_ps(_mm256_loadu_ps(mask + i + 8), zero, _CMP_EQ_OQ));
      if (_mm256_movemask_ps(z) == 0xFF) {
        i += 16;
        continue;
      }
    }
    const __m256 m = _mm256_loadu_ps(mask + i);
    if (_mm256_movemask_ps(_mm256_cmp_ps(m, zero, _CMP_EQ_OQ)) == 0xFF) {
      i += 8;
      continue;
    }
    const __m256 w = _mm256_min_ps(one, _mm256_max_ps(zero, _mm256_mul_ps(m, opacityV)));
    const __m256 store = opaqueColour ? _mm256_cmp_ps(w, one, _CMP_GE_OS) : zero;
    const int storeBits = _mm256_movemask_ps(store);
    if (ahead != 0) {
      _mm_prefetch(reinterpret_cast<const char*>(dst + i) + ahead, _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(dst + i + 4) + ahead, _MM_HINT_T0);
    }
    if (storeBits == 0xFF) {
      // Eight pixels are two cache lines: streamed when they are whole lines.
      auto* q = reinterpret_cast<__m256*>(out + 4 * i);
      if (stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 63) == 0) {
        for (int k = 0; k < 4; ++k) _mm256_stream_ps(reinterpret_cast<float*>(q + k), colourTwice);
      } else {
        for (int k = 0; k < 4; ++k) _mm256_storeu_ps(reinterpret_cast<float*>(q + k), colourTwice);
      }
      i += 8;
      continue;
    }
    const __m256 sa = _mm256_mul_ps(sA, w);
    const __m256 changed = _mm256_and_ps(_mm256_cmp_ps(w, zero, _CMP_GT_OS), _mm256_cmp_ps(sa, zero, _CMP_GT_OS));
    if ((_mm256_movemask_ps(changed) | storeBits) == 0) {
      i += 8;
      continue;
    }
    __m256 p[4];
    for (int k = 0; k < 4; ++k) p[k] = _mm256_loadu2_m128(out + 4 * (i + k + 4), out + 4 * (i + k));
    const __m256 original[4] = {p[0], p[1], p[2], p[3]};
    Transpose4x2(p[0], p[1], p[2], p[3]);  // alpha, red, green, blue of pixels 0 .. 7
    const __m256 da = p[0];
    const __m256 keep = _mm256_mul_ps(da, _mm256_sub_ps(one, sa));
    const __m256 ao = _mm256_add_ps(sa, keep);
    const __m256 oneMinusDa = _mm256_sub_ps(one, da);
    __m256 q[4] = {ao, zero, zero, zero};
    for (int c = 0; c < 3; ++c) {
      const __m256 blended = _mm256_add_ps(_mm256_mul_ps(oneMinusDa, cs[c]), _mm256_mul_ps(da, cs[c]));
      q[c + 1] = _mm256_div_ps(_mm256_add_ps(_mm256_mul_ps(sa, blended), _mm256_mul_ps(keep, p[c + 1])), ao);
    }
    Transpose4x2(q[0], q[1], q[2], q[3]);  // register k: pixels k and k + 4 again
    for (int k = 0; k < 4; ++k) {
      const __m256i pick = _mm256_setr_epi32(k, k, k, k, k + 4, k + 4, k + 4, k + 4);
      const __m256 s = _mm256_permutevar8x32_ps(store, pick), c = _mm256_permutevar8x32_ps(changed, pick);
      const __m256 v = _mm256_blendv_ps(original[k], q[k], c);
      _mm256_storeu2_m128(out + 4 * (i + k + 4), out + 4 * (i + k), _mm256_blendv_ps(v, colourTwice, s));
    }
    i += 8;
  }
  // See VectorRunAvx2: the tail must not run with the upper halves in use.
  _mm256_zeroupper();
  VectorRunFloat(colour, mask + i, opacity, count - i, dst + i, ahead, stream);
}
#endif

#endif

}  // namespace

template <>
void GXp_BlendColourNormalRowForm<GXp_PxF>(const GX_PixelFloat& colour, const float* mask, float opacity,
                                           int32_t count, GX_PixelFloat* dst, std::ptrdiff_t prefetchAhead,
                                           bool streamFullLines, bool avx2) {
#if defined(GX_COLOUR_ROW_AVX2)
  if (avx2 && GX_HasAvx2())
    return VectorRunFloatAvx2(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines);
#else
  (void)avx2;
#endif
#if defined(__SSE2__)
  VectorRunFloat(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines);
#else
  (void)prefetchAhead;
  (void)streamFullLines;
  ScalarRun<GXp_PxF>(colour, mask, opacity, count, dst);
#endif
}

template <>
void GX_BlendColourNormalRow<GXp_PxF>(const GX_PixelFloat& colour, const float* mask,
                                      float opacity, int32_t count, GX_PixelFloat* dst,
                                      std::ptrdiff_t prefetchAhead, bool streamFullLines) {
  GXp_BlendColourNormalRowForm<GXp_PxF>(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines,
                                        true);
}

template <class P>
void GXp_BlendColourNormalRowForm(const typename P::Pixel& colour, const typename P::Value* mask,
                                  typename P::Value opacity, int32_t count, typename P::Pixel* dst,
                                  std::ptrdiff_t prefetchAhead, bool streamFullLines, bool avx2) {
#if defined(GX_COLOUR_ROW_AVX2)
  if (avx2 && GX_HasAvx2())
    return VectorRunAvx2<P>(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines);
#else
  (void)avx2;
#endif
#if defined(__SSE2__)
  VectorRun<P>(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines);
#else
  (void)prefetchAhead;
  (void)streamFullLines;
  ScalarRun<P>(colour, mask, opacity, count, dst);
#endif
}

template <class P>
void GX_BlendColourNormalRow(const typename P::Pixel& colour, const typename P::Value* mask,
                             typename P::Value opacity, int32_t count, typename P::Pixel* dst,
                             std::ptrdiff_t prefetchAhead, bool streamFullLines) {
  GXp_BlendColourNormalRowForm<P>(colour, mask, opacity, count, dst, prefetchAhead, streamFullLines, true);
}

template <class P>
void GXp_BlendColourNormalRowScalar(const typename P::Pixel& colour,
                                    const typename P::Value* mask, typename P::Value opacity,
                                    int32_t count, typename P::Pixel* dst) {
  ScalarRun<P>(colour, mask, opacity, count, dst);
}

template void GX_BlendColourNormalRow<GXp_Px8>(const GX_Pixel8&, const uint8_t*, uint8_t, int32_t,
                                               GX_Pixel8*, std::ptrdiff_t, bool);
template void GX_BlendColourNormalRow<GXp_Px16>(const GX_Pixel16&, const uint16_t*, uint16_t,
                                                int32_t, GX_Pixel16*, std::ptrdiff_t, bool);
template void GXp_BlendColourNormalRowForm<GXp_Px8>(const GX_Pixel8&, const uint8_t*, uint8_t, int32_t,
                                                    GX_Pixel8*, std::ptrdiff_t, bool, bool);
template void GXp_BlendColourNormalRowForm<GXp_Px16>(const GX_Pixel16&, const uint16_t*, uint16_t,
                                                     int32_t, GX_Pixel16*, std::ptrdiff_t, bool, bool);
template void GXp_BlendColourNormalRowScalar<GXp_Px8>(const GX_Pixel8&, const uint8_t*, uint8_t,
                                                      int32_t, GX_Pixel8*);
template void GXp_BlendColourNormalRowScalar<GXp_Px16>(const GX_Pixel16&, const uint16_t*,
                                                       uint16_t, int32_t, GX_Pixel16*);
template void GXp_BlendColourNormalRowScalar<GXp_PxF>(const GX_PixelFloat&, const float*, float,
                                                      int32_t, GX_PixelFloat*);
