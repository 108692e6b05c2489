// SPDX-License-Identifier: MIT
// Dab accumulation into the paint mask. One row kernel per mode, templated over the
// pixel traits; the mode picks the kernel once per call.
//
// Integer depths stay integer: with c the dab coverage, m the mask and op, fl the
// opacity and flow as values of the depth, every product goes through P::Mul (one
// rounding each). Build-up never passes its target because Mul(x, fl) ≤ x, and always
// reaches it because a step is at least one unit while flow is not 0.
#include "host/gx/gx_accumulate.h"

#include "host/gx/gx_pixel_traits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 form is compiled per function and runs only where GX_HasAvx2() says so.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define GX_HAVE_AVX2 1
#define GX_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#endif

namespace {

template <class P>
struct BuildUp {
  using V = typename P::Value;
  static V Apply(V m, V c, V op, V fl) {
    const V target = P::Mul(c, op);
    if (!(m < target)) return m;
    const V step = P::Mul(V(target - m), fl);
    // An integer step that rounds to 0 would leave the mask short of its target for
    // ever; one unit is still within the gap.
    if constexpr (!std::is_same<V, float>::value) {
      if (step == 0 && fl > 0) return V(m + 1);
    }
    return V(m + step);
  }
};

template <class P>
struct Additive {
  using V = typename P::Value;
  static V Apply(V m, V c, V op, V fl) {
    const V add = P::Mul(c, P::Mul(op, fl));
    // Sum in float for the float traits, in 32 bits for the integer ones.
    using Wide = std::conditional_t<std::is_same<V, float>::value, float, int32_t>;
    return V(std::min(Wide(m) + Wide(add), Wide(P::kFull)));
  }
};

template <class P>
struct Maximum {
  using V = typename P::Value;
  static V Apply(V m, V c, V op, V fl) { return std::max(m, P::Mul(c, P::Mul(op, fl))); }
};

template <class P>
using RowFn = void (*)(const typename P::Value* src, typename P::Value* dst, int32_t n,
                       typename P::Value op, typename P::Value fl);

template <class P, template <class> class Mode>
void Row(const typename P::Value* src, typename P::Value* dst, int32_t n, typename P::Value op,
         typename P::Value fl) noexcept {
  for (int32_t i = 0; i < n; ++i) {
    if (!(src[i] > 0)) continue;  // no coverage, nothing to add
    dst[i] = Mode<P>::Apply(dst[i], std::min(src[i], P::kFull), op, fl);
  }
}

template <class P>
void LargerRowScalar(const typename P::Value* src, typename P::Value* dst, int32_t n) noexcept {
  using V = typename P::Value;
  for (int32_t i = 0; i < n; ++i) dst[i] = std::max(dst[i], std::min(src[i], V(P::kFull)));
}

#if defined(__SSE2__)
inline __m128i Load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

/// Sixteen bytes of the row at once. SSE2 has no unsigned 16-bit min or max, but it
/// has the unsigned subtraction that stops at 0, a ⊖ b: min(a, b) = a − (a ⊖ b) and
/// max(a, b) = b + (a ⊖ b).
template <class P>
__m128i Larger16(__m128i d, __m128i c) {
  if constexpr (sizeof(typename P::Value) == 1) {
    return _mm_max_epu8(d, c);  // min(c, 255) is c
  } else {
    const __m128i capped = _mm_sub_epi16(c, _mm_subs_epu16(c, _mm_set1_epi16(int16_t(P::kFull))));
    return _mm_add_epi16(capped, _mm_subs_epu16(d, capped));
  }
}
#endif

/// dst = max(dst, min(src, full)) along a row. Taking the larger twice gives what
/// taking it once does, so the last vector of a row overlaps the one before it rather
/// than ending sample by sample; it is worked out from the row as it was before any
/// store, so no load waits on a store it half overlaps.
template <class P>
void LargerRow(const typename P::Value* src, typename P::Value* dst, int32_t n) noexcept {
#if defined(__SSE2__)
  constexpr int32_t kPer = int32_t(16 / sizeof(typename P::Value));
  if (n >= kPer) {
    const __m128i last = Larger16<P>(Load16(dst + n - kPer), Load16(src + n - kPer));
    int32_t i = 0;
    for (; i + kPer <= n; i += kPer)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                       Larger16<P>(Load16(dst + i), Load16(src + i)));
    if (i < n) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - kPer), last);
    return;
  }
#endif
  LargerRowScalar<P>(src, dst, n);
}

#if defined(__SSE2__)
/// P::Mul on eight 16-bit lanes. At 8 bits a × b fits 16 bits and (a·b + 128)·257 >> 16
/// is GXp_DivFull8 for every such product. At 16 bits (a, b ≤ 32768) the product comes
/// in halves, hi·2^16 + lo, and (a·b + 16384) >> 15 = 2·hi + ((lo + 16384) >> 15); the
/// last term, 0 to 2, is taken as (lo >> 15) + (((lo & 0x7FFF) + 16384) >> 15) so that
/// no lane overflows.
template <class P>
__m128i MulLanes(__m128i a, __m128i b) {
  if constexpr (sizeof(typename P::Value) == 1) {
    return _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(a, b), _mm_set1_epi16(128)), _mm_set1_epi16(257));
  } else {
    const __m128i lo = _mm_mullo_epi16(a, b);
    const __m128i carry = _mm_add_epi16(
        _mm_srli_epi16(lo, 15),
        _mm_srli_epi16(_mm_add_epi16(_mm_and_si128(lo, _mm_set1_epi16(0x7FFF)), _mm_set1_epi16(0x4000)), 15));
    return _mm_add_epi16(_mm_slli_epi16(_mm_mulhi_epu16(a, b), 1), carry);
  }
}

/// MulLanes as a policy of the kernels below, which the AVX2 forms of the 16-bit short
/// rows swap for RoundingMul.
struct PlainMul {
  template <class P>
  static __m128i Lanes(__m128i a, __m128i b) {
    return MulLanes<P>(a, b);
  }
};

/// One build-up step on eight 16-bit lanes of mask m and coverage c (at most full).
template <class P, class Mul = PlainMul>
__m128i BuildUpLanes(__m128i m, __m128i c, __m128i op, __m128i fl, __m128i minStep) {
  const __m128i gap = _mm_subs_epu16(Mul::template Lanes<P>(c, op), m);  // target − m, or 0
  const __m128i step = Mul::template Lanes<P>(gap, fl);
  const __m128i floor = _mm_andnot_si128(_mm_cmpeq_epi16(gap, _mm_setzero_si128()), minStep);
  return _mm_add_epi16(m, _mm_add_epi16(floor, _mm_subs_epu16(step, floor)));  // m + max
}

/// Opacity, flow and the least step of a build-up, in every 16-bit lane.
struct BuildUpSteps {
  __m128i o, f, minStep;
  template <class V>
  BuildUpSteps(V op, V fl)
      : o(_mm_set1_epi16(int16_t(op))), f(_mm_set1_epi16(int16_t(fl))),
        minStep(_mm_set1_epi16(fl > 0 ? 1 : 0)) {}
};

/// One vector of a build-up: coverage c over mask m, 16 samples at 8 bits, 8 at 16
/// (kLowHalf: only the low eight bytes count, and at 8 bits only they are worked out).
template <class P, bool kLowHalf = false, class Mul = PlainMul>
__m128i BuildUpVector(__m128i c, __m128i m, const BuildUpSteps& s) {
  if constexpr (sizeof(typename P::Value) == 1) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = BuildUpLanes<P, Mul>(_mm_unpacklo_epi8(m, zero), _mm_unpacklo_epi8(c, zero),
                                            s.o, s.f, s.minStep);
    if (kLowHalf) return _mm_packus_epi16(lo, zero);
    const __m128i hi = BuildUpLanes<P, Mul>(_mm_unpackhi_epi8(m, zero), _mm_unpackhi_epi8(c, zero),
                                            s.o, s.f, s.minStep);
    return _mm_packus_epi16(lo, hi);
  } else {
    const __m128i full = _mm_set1_epi16(int16_t(P::kFull));
    c = _mm_sub_epi16(c, _mm_subs_epu16(c, full));  // min(c, full)
    return BuildUpLanes<P, Mul>(m, c, s.o, s.f, s.minStep);
  }
}

inline __m128i LoadHalf(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }

/// A build-up row of half a vector (eight bytes) to one vector: two halves, the second
/// overlapping the first, both worked out before either is stored.
template <class P, class Mul = PlainMul>
void BuildUpHalves(const typename P::Value* src, typename P::Value* dst, int32_t n,
                   typename P::Value op, typename P::Value fl) {
  constexpr int32_t kHalf = int32_t(8 / sizeof(typename P::Value));
  const BuildUpSteps s(op, fl);
  const __m128i first = BuildUpVector<P, true, Mul>(LoadHalf(src), LoadHalf(dst), s);
  const __m128i last =
      BuildUpVector<P, true, Mul>(LoadHalf(src + n - kHalf), LoadHalf(dst + n - kHalf), s);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), first);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n - kHalf), last);
}

/// A build-up row of at least one vector, in vectors. Each sample's step depends on
/// its own mask and coverage alone, so the row's last vector may overlap the one before
/// it: it is worked out from the row as it was before any store (as LargerRow's is)
/// and stored last, and every sample gets the value one step gives it.
template <class P, class Mul = PlainMul>
void BuildUpVectors(const typename P::Value* src, typename P::Value* dst, int32_t n,
                    typename P::Value op, typename P::Value fl) {
  constexpr int32_t kPer = int32_t(16 / sizeof(typename P::Value));
  const BuildUpSteps s(op, fl);
  const __m128i last = BuildUpVector<P, false, Mul>(Load16(src + n - kPer), Load16(dst + n - kPer), s);
  for (int32_t i = 0; i + kPer < n; i += kPer)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     BuildUpVector<P, false, Mul>(Load16(src + i), Load16(dst + i), s));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - kPer), last);
}
#endif

#if defined(GX_HAVE_AVX2)
/// MulLanes on sixteen 16-bit lanes. At 16 bits PMULHRSW gives (a·b + 16384) >> 15
/// itself for a, b below 32768 (their product fits its 32-bit intermediate, and its
/// (p >> 14) + 1 >> 1 is that rounding); full, 32768, reads as −32768 there, but full
/// times v is v, so a lane where either is full takes the other.
template <class P>
GX_AVX2 __m256i MulLanes256(__m256i a, __m256i b) {
  if constexpr (sizeof(typename P::Value) == 1) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(128)),
                              _mm256_set1_epi16(257));
  } else {
    const __m256i full = _mm256_set1_epi16(int16_t(P::kFull));
    const __m256i product = _mm256_blendv_epi8(_mm256_mulhrs_epi16(a, b), b, _mm256_cmpeq_epi16(a, full));
    return _mm256_blendv_epi8(product, a, _mm256_cmpeq_epi16(b, full));
  }
}

/// BuildUpLanes on sixteen lanes. At full opacity the target is the coverage itself
/// (c × full / full is c, exactly, at both depths), so its product is not formed.
template <class P, bool kFullOpacity>
GX_AVX2 __m256i BuildUpLanes256(__m256i m, __m256i c, __m256i op, __m256i fl, __m256i minStep) {
  const __m256i target = kFullOpacity ? c : MulLanes256<P>(c, op);
  const __m256i gap = _mm256_subs_epu16(target, m);
  const __m256i step = MulLanes256<P>(gap, fl);
  const __m256i floor = _mm256_andnot_si256(_mm256_cmpeq_epi16(gap, _mm256_setzero_si256()), minStep);
  return _mm256_add_epi16(m, _mm256_add_epi16(floor, _mm256_subs_epu16(step, floor)));
}

/// Sixteen samples of a build-up row at dst, as BuildUpVector does eight or sixteen.
template <class P, bool kFullOpacity>
GX_AVX2 void BuildUp16(const typename P::Value* src, typename P::Value* dst, __m256i o, __m256i f,
                       __m256i minStep, __m256i* out) {
  if constexpr (sizeof(typename P::Value) == 1) {
    const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    const __m256i m = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst)));
    *out = BuildUpLanes256<P, kFullOpacity>(m, c, o, f, minStep);
  } else {
    const __m256i full = _mm256_set1_epi16(int16_t(P::kFull));
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i c = _mm256_sub_epi16(raw, _mm256_subs_epu16(raw, full));  // min(raw, full)
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
    *out = BuildUpLanes256<P, kFullOpacity>(m, c, o, f, minStep);
  }
}

template <class P>
GX_AVX2 void Store16(__m256i v, typename P::Value* dst) {
  if constexpr (sizeof(typename P::Value) == 1) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), v);
  }
}

/// The 16-bit products of MulLanes256 on eight lanes, for the short rows' kernels.
struct RoundingMul {
  template <class P>
  GX_AVX2 static __m128i Lanes(__m128i a, __m128i b) {
    static_assert(sizeof(typename P::Value) == 2, "the 8-bit products need no rounding multiply");
    const __m128i full = _mm_set1_epi16(int16_t(P::kFull));
    const __m128i product = _mm_blendv_epi8(_mm_mulhrs_epi16(a, b), b, _mm_cmpeq_epi16(a, full));
    return _mm_blendv_epi8(product, a, _mm_cmpeq_epi16(b, full));
  }
};

/// Rows of 4 to 15 samples at 16 bits, as BuildUpHalves and BuildUpVectors with
/// RoundingMul's products.
GX_AVX2 __attribute__((flatten)) void BuildUpHalvesAvx2(const uint16_t* src, uint16_t* dst, int32_t n,
                                                        uint16_t op, uint16_t fl) {
  BuildUpHalves<GXp_Px16, RoundingMul>(src, dst, n, op, fl);
}
GX_AVX2 __attribute__((flatten)) void BuildUpEightsAvx2(const uint16_t* src, uint16_t* dst, int32_t n,
                                                        uint16_t op, uint16_t fl) {
  BuildUpVectors<GXp_Px16, RoundingMul>(src, dst, n, op, fl);
}

/// BuildUpVectors sixteen samples at a time, for rows of at least sixteen; the last
/// sixteen overlap as there.
template <class P, bool kFullOpacity>
GX_AVX2 void BuildUpVectorsAvx2(const typename P::Value* src, typename P::Value* dst, int32_t n,
                                typename P::Value op, typename P::Value fl) {
  const __m256i o = _mm256_set1_epi16(int16_t(op)), f = _mm256_set1_epi16(int16_t(fl));
  const __m256i minStep = _mm256_set1_epi16(fl > 0 ? 1 : 0);
  __m256i last, v;
  BuildUp16<P, kFullOpacity>(src + n - 16, dst + n - 16, o, f, minStep, &last);
  for (int32_t i = 0; i + 16 < n; i += 16) {
    BuildUp16<P, kFullOpacity>(src + i, dst + i, o, f, minStep, &v);
    Store16<P>(v, dst + i);
  }
  Store16<P>(last, dst + n - 16);
}

/// Rows of 8 to 15 samples at 8 bits: the first eight and the last eight (overlapping
/// where the row is shorter than sixteen) as the two halves of one sixteen-lane vector,
/// both worked out before either is stored.
template <bool kFullOpacity>
GX_AVX2 void BuildUpHalves8Avx2(const uint8_t* src, uint8_t* dst, int32_t n, uint8_t op, uint8_t fl) {
  const __m256i c = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(LoadHalf(src), LoadHalf(src + n - 8)));
  const __m256i m = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(LoadHalf(dst), LoadHalf(dst + n - 8)));
  const __m256i r = BuildUpLanes256<GXp_Px8, kFullOpacity>(
      m, c, _mm256_set1_epi16(op), _mm256_set1_epi16(fl), _mm256_set1_epi16(fl > 0 ? 1 : 0));
  const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n - 8), _mm_unpackhi_epi64(bytes, bytes));
}

/// Rows of 4 to 7 samples at 8 bits: the first four and the last four, the same way,
/// on eight lanes.
GX_AVX2 void BuildUpQuarters8Avx2(const uint8_t* src, uint8_t* dst, int32_t n, uint8_t op, uint8_t fl) {
  const auto four = [](const uint8_t* at) {
    int32_t v;
    std::memcpy(&v, at, 4);
    return v;
  };
  const __m128i zero = _mm_setzero_si128();
  const __m128i c = _mm_unpacklo_epi8(_mm_setr_epi32(four(src), four(src + n - 4), 0, 0), zero);
  const __m128i m = _mm_unpacklo_epi8(_mm_setr_epi32(four(dst), four(dst + n - 4), 0, 0), zero);
  const BuildUpSteps s(op, fl);
  const __m128i bytes = _mm_packus_epi16(BuildUpLanes<GXp_Px8>(m, c, s.o, s.f, s.minStep), zero);
  const int32_t first = _mm_cvtsi128_si32(bytes), last = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 4));
  std::memcpy(dst, &first, 4);
  std::memcpy(dst + n - 4, &last, 4);
}
#endif

/// BuildUp sample by sample without branches, for rows shorter than half a register.
template <class P>
void BuildUpSamples(const typename P::Value* src, typename P::Value* dst, int32_t n,
                    typename P::Value op, typename P::Value fl) noexcept {
  using V = typename P::Value;
  const uint32_t minStep = fl > 0 ? 1u : 0u;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t m = dst[i];
    const uint32_t c = std::min<uint32_t>(src[i], uint32_t(P::kFull));
    const uint32_t target = P::Mul(V(c), op);
    const uint32_t gap = target > m ? target - m : 0u;
    const uint32_t step = P::Mul(V(gap), fl);
    // A step that rounds to 0 would leave the mask short of its target for ever.
    const uint32_t floor = gap > 0 ? minStep : 0u;
    dst[i] = V(m + std::max(step, floor));
  }
}

/// LargerRow with the row kernels' signature (opacity and flow are full).
template <class P>
void LargerSamples(const typename P::Value* src, typename P::Value* dst, int32_t n,
                   typename P::Value, typename P::Value) noexcept {
  LargerRow<P>(src, dst, n);
}

/// The BuildUp kernel for rows of n samples at the integer depths, chosen once for a
/// whole rectangle: at full opacity and flow (a plain opaque stroke) the target is the
/// coverage and one step reaches it, so the mask becomes the larger of the two;
/// otherwise vectors of sixteen samples with AVX2 or of one SSE2 register, the last one
/// overlapping, two half registers when the row is shorter than one, or sample by
/// sample when it is shorter than half. With AVX2 the short rows have forms of their
/// own: at 16 bits rows of one register or half of one take their products by
/// PMULHRSW, at 8 bits rows of 8 to 15 samples are one wide vector and rows of 4 to 7
/// one register. All give the values of BuildUp::Apply.
/// Zero coverage needs no test of its own: its target is 0, which no mask value is
/// below.
template <class P>
RowFn<P> BuildUpKernel(int32_t n, typename P::Value op, typename P::Value fl, bool avx2) noexcept {
  using V = typename P::Value;
  if (op == P::kFull && fl == P::kFull) return &LargerSamples<P>;
#if defined(GX_HAVE_AVX2)
  if (avx2 && n >= 16)
    return op == P::kFull ? &BuildUpVectorsAvx2<P, true> : &BuildUpVectorsAvx2<P, false>;
  if constexpr (sizeof(V) == 2) {
    if (avx2 && n >= 8) return &BuildUpEightsAvx2;
    if (avx2 && n >= 4) return &BuildUpHalvesAvx2;
  } else {
    if (avx2 && n >= 8) return op == P::kFull ? &BuildUpHalves8Avx2<true> : &BuildUpHalves8Avx2<false>;
    if (avx2 && n >= 4) return &BuildUpQuarters8Avx2;
  }
#else
  (void)avx2;
#endif
#if defined(__SSE2__)
  if (n >= int32_t(16 / sizeof(V))) return &BuildUpVectors<P>;
  if (n >= int32_t(8 / sizeof(V))) return &BuildUpHalves<P>;
#endif
  return &BuildUpSamples<P>;
}

/// The row kernel of an accumulate mode for rows of n samples.
template <class P>
RowFn<P> RowKernel(int32_t mode, int32_t n, typename P::Value op, typename P::Value fl) noexcept {
  switch (GX_AccumulateMode(mode)) {
    case GX_AccumulateMode::kBuildUp:
      if constexpr (std::is_same<typename P::Value, float>::value) {
        return &Row<P, BuildUp>;
      } else {
        static const bool avx2 = GX_HasAvx2();
        return BuildUpKernel<P>(n, op, fl, avx2);
      }
    case GX_AccumulateMode::kAdditive:
      return &Row<P, Additive>;
    default:
      return &Row<P, Maximum>;
  }
}

/// An opacity or flow fraction (clamped to 0..1) as a value of the depth: what the
/// kernels multiply by, and what GX_AccumulateIsRaise compares with full.
template <class P>
typename P::Value ValueOf(float fraction) {
  return P::FromUnit(std::min(std::max(fraction, 0.0f), 1.0f));
}

template <class P>
int32_t Accumulate(GX_ProgressInfo* progress, const GX_UnoBuffer& src, int32_t mode, float opacity,
                   float flow, const V_LRect& srcRect, const V_LPoint& dstPoint,
                   GX_UnoBuffer* mask) {
  using V = typename P::Value;
  const int32_t dx = dstPoint.x - srcRect.left, dy = dstPoint.y - srcRect.top;
  const int32_t left = std::max({srcRect.left, 0, -dx});
  const int32_t top = std::max({srcRect.top, 0, -dy});
  const int32_t right = std::min({srcRect.right, src.GetWidth(), mask->GetWidth() - dx});
  const int32_t bottom = std::min({srcRect.bottom, src.GetHeight(), mask->GetHeight() - dy});
  if (right <= left || bottom <= top) return 0;
  mask->MarkInk(V_LRect{left + dx, top + dy, right + dx, bottom + dy});
  const V op = ValueOf<P>(opacity);
  const V fl = ValueOf<P>(flow);
  const RowFn<P> row = RowKernel<P>(mode, right - left, op, fl);
  // Rows by pointer steps: most dabs are a few rows of a few samples, where working out
  // each row's address from scratch was a fair part of the cost.
  const unsigned char* in = reinterpret_cast<const unsigned char*>(src.Row<V>(top) + left);
  unsigned char* out = reinterpret_cast<unsigned char*>(mask->Row<V>(top + dy) + left + dx);
  const std::ptrdiff_t inStep = src.GetRowBytes(), outStep = mask->GetRowBytes();
  const int32_t n = right - left;
  for (int32_t y = top; y < bottom; ++y, in += inStep, out += outStep) {
    row(reinterpret_cast<const V*>(in), reinterpret_cast<V*>(out), n, op, fl);
    // Every 64 rows, like the other pixel operations.
    if (((y - top) & 63) == 63) {
      if (int32_t rc = GX_ReportProgress(progress, y - top + 1, bottom - top)) return rc;
    }
  }
  return 0;
}

}  // namespace

int32_t GX_AccumulateUnoBuffers(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                                int32_t accumulateMode, float opacity, float flow,
                                const V_LRect& srcRect, const V_LPoint& dstPoint,
                                GX_UnoBuffer* mask) {
  if (!src || !mask || !std::isfinite(opacity) || !std::isfinite(flow)) return GX_Err_BadArgument;
  if (src->GetDepth() != mask->GetDepth()) return GX_Err_BadDepth;
  if (!GX_IsValidAccumulateMode(accumulateMode)) return GX_Err_BadMode;
  switch (src->GetDepth()) {
    case 8:
      return Accumulate<GXp_Px8>(progress, *src, accumulateMode, opacity, flow, srcRect, dstPoint,
                                 mask);
    case 16:
      return Accumulate<GXp_Px16>(progress, *src, accumulateMode, opacity, flow, srcRect,
                                  dstPoint, mask);
    default:
      return Accumulate<GXp_PxF>(progress, *src, accumulateMode, opacity, flow, srcRect,
                                 dstPoint, mask);
  }
}

bool GX_AccumulateIsRaise(int32_t accumulateMode, float opacity, float flow, int32_t depth) {
  if (accumulateMode != int32_t(GX_AccumulateMode::kBuildUp) || !std::isfinite(opacity) ||
      !std::isfinite(flow))
    return false;
  const auto full = [&](auto traits) {
    using P = decltype(traits);
    return ValueOf<P>(opacity) == P::kFull && ValueOf<P>(flow) == P::kFull;
  };
  if (depth == 8) return full(GXp_Px8{});
  if (depth == 16) return full(GXp_Px16{});
  return false;
}

template <class P>
void GXp_BuildUpRow(const typename P::Value* src, typename P::Value* dst, int32_t n,
                    typename P::Value op, typename P::Value fl, bool avx2) {
  BuildUpKernel<P>(n, op, fl, avx2 && GX_HasAvx2())(src, dst, n, op, fl);
}

template void GXp_BuildUpRow<GXp_Px8>(const uint8_t*, uint8_t*, int32_t, uint8_t, uint8_t, bool);
template void GXp_BuildUpRow<GXp_Px16>(const uint16_t*, uint16_t*, int32_t, uint16_t, uint16_t,
                                       bool);
