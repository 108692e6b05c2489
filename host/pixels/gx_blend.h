// SPDX-License-Identifier: MIT
// Blend kernels shared by the transfers and the resampler: one template per mode
// family over the pixel traits, working on unit fractions.
//
// A pixel is read into a Unit (straight colour, 0..1 for integer depths; colour
// decoded to linear light when tables are given), blended, and written back with one
// rounding per channel. Formulas: host/gx/gx_modes.h.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "host/gx/gx_modes.h"
#include "host/gx/gx_pixel_traits.h"
#include "host/gx/gx_transfer.h"

namespace gxp {

struct Unit {
  float a, r, g, b;
};

/// SplitMix64 finaliser: a well-mixed 64-bit value from any key.
inline uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
/// A threshold in [0, 1): the top 24 bits of the hash, exact in a float.
inline float DitherFromKey(uint64_t key) {
  return float(Mix64(key) >> 40) * (1.0f / 16777216.0f);
}
inline float DitherAt(int32_t x, int32_t y, int32_t seed) {
  return DitherFromKey((uint64_t(uint32_t(x)) << 32 | uint32_t(y)) ^
                       (uint64_t(uint32_t(seed)) * 0xD6E8FEB86659FD93ull));
}
inline float DitherAtAddress(const void* p) {
  return DitherFromKey(uint64_t(reinterpret_cast<uintptr_t>(p)));
}

template <class P>
inline Unit ToUnit(const typename P::Pixel& p, const GX_LinearBlendingTables* t) {
  Unit u{P::ToUnit(p.alpha), P::ToUnit(p.red), P::ToUnit(p.green), P::ToUnit(p.blue)};
  if (t) {
    u.r = t->ToLinear(u.r);
    u.g = t->ToLinear(u.g);
    u.b = t->ToLinear(u.b);
  }
  return u;
}

template <class P>
inline void FromUnit(Unit u, const GX_LinearBlendingTables* t, typename P::Pixel* p) {
  if (t) {
    u.r = t->FromLinear(u.r);
    u.g = t->FromLinear(u.g);
    u.b = t->FromLinear(u.b);
  }
  p->alpha = P::FromUnit(u.a);
  p->red = P::FromUnit(u.r);
  p->green = P::FromUnit(u.g);
  p->blue = P::FromUnit(u.b);
}

/// Integer depths clamp results to 0..1 here; the float traits leave them.
template <class P>
inline float Clamp01(float v) {
  if constexpr (std::is_same<P, GXp_PxF>::value) {
    return v;
  } else {
    return std::min(std::max(v, 0.0f), 1.0f);
  }
}

// Blend functions B(cb, cs) of the separable modes.
// ====

struct BNormal {
  static float Blend(float, float cs) { return cs; }
};
/// Integer depths cannot hold more than full, so the sum is capped there (Separable
/// clamps every B at integer depths); float keeps a high-dynamic-range layer's headroom.
struct BAdd {
  static float Blend(float cb, float cs) { return cb + cs; }
};
struct BMultiply {
  static float Blend(float cb, float cs) { return cb * cs; }
};
struct BScreen {
  static float Blend(float cb, float cs) { return cb + cs - cb * cs; }
};
struct BOverlay {
  static float Blend(float cb, float cs) {
    return cb <= 0.5f ? 2.0f * cb * cs : BScreen::Blend(2.0f * cb - 1.0f, cs);
  }
};
struct BDarken {
  static float Blend(float cb, float cs) { return std::min(cb, cs); }
};
struct BLighten {
  static float Blend(float cb, float cs) { return std::max(cb, cs); }
};
struct BDifference {
  static float Blend(float cb, float cs) { return std::fabs(cb - cs); }
};

// Mode families. Apply blends source s with weight w (0..1) into d and answers whether
// d changed; Single is the one-channel form d + (B(d, s) − d) × w.
// ====

template <class B>
struct Separable {
  /// Normal is the only family member for which a full-weight opaque source is a
  /// plain store.
  static constexpr bool kStoreWhenOpaque = std::is_same<B, BNormal>::value;
  static constexpr bool kDither = false;
  template <class P>
  static bool Apply(const Unit& s, float w, float, Unit* d) {
    const float sa = s.a * w;
    if (!(sa > 0.0f)) return false;
    const float da = d->a;
    const float keep = da * (1.0f - sa);  // backdrop weight left after the source
    const float ao = sa + keep;
    const auto mix = [&](float cs, float cb) {
      const float blended = (1.0f - da) * cs + da * Clamp01<P>(B::Blend(cb, cs));
      return (sa * blended + keep * cb) / ao;
    };
    d->r = mix(s.r, d->r);
    d->g = mix(s.g, d->g);
    d->b = mix(s.b, d->b);
    d->a = ao;
    return true;
  }
  template <class P>
  static float Single(float d, float s, float w, float) {
    return d + (Clamp01<P>(B::Blend(d, s)) - d) * w;
  }
};

struct Copy {
  static constexpr bool kStoreWhenOpaque = false;
  static constexpr bool kDither = false;
  template <class P>
  static bool Apply(const Unit& s, float w, float, Unit* d) {
    if (!(w > 0.0f)) return false;
    const float a = d->a + (s.a - d->a) * w;
    // Mix premultiplied so a transparent side contributes no colour.
    const auto mix = [&](float cs, float cb) {
      return a > 0.0f ? (cb * d->a + (cs * s.a - cb * d->a) * w) / a : cb + (cs - cb) * w;
    };
    d->r = mix(s.r, d->r);
    d->g = mix(s.g, d->g);
    d->b = mix(s.b, d->b);
    d->a = a;
    return true;
  }
  template <class P>
  static float Single(float d, float s, float w, float) { return d + (s - d) * w; }
};

struct Dissolve {
  static constexpr bool kStoreWhenOpaque = false;
  static constexpr bool kDither = true;
  template <class P>
  static bool Apply(const Unit& s, float w, float dither, Unit* d) {
    if (!(dither < s.a * w)) return false;
    *d = Unit{1.0f, s.r, s.g, s.b};
    return true;
  }
  template <class P>
  static float Single(float d, float s, float w, float dither) { return dither < w ? s : d; }
};

struct Erase {
  static constexpr bool kStoreWhenOpaque = false;
  static constexpr bool kDither = false;
  template <class P>
  static bool Apply(const Unit& s, float w, float, Unit* d) {
    const float sa = s.a * w;
    if (!(sa > 0.0f)) return false;
    d->a = d->a * (1.0f - sa);
    return true;
  }
  template <class P>
  static float Single(float d, float, float w, float) { return d - d * w; }
};

/// The mode families in table order, index = mode + 2 (-2..11; -1, 0, 1 are Normal).
using ModeOps = std::tuple<Copy, Separable<BNormal>, Separable<BNormal>, Separable<BNormal>,
                           Separable<BNormal>, Dissolve, Separable<BAdd>,
                           Separable<BMultiply>, Separable<BScreen>, Separable<BOverlay>,
                           Separable<BDarken>, Separable<BLighten>, Separable<BDifference>,
                           Erase>;
static_assert(std::tuple_size<ModeOps>::value == std::size_t(kGX_TransferModeCount),
              "one operation per transfer mode");
constexpr int32_t kModeBias = -kGX_TransferModeFirst;

/// Blends a unit source with weight w into a destination pixel.
template <class P, class Op>
inline void BlendUnit(const Unit& s, const GX_LinearBlendingTables* t, float w, float dither,
                      typename P::Pixel* d) {
  Unit du = ToUnit<P>(*d, t);
  Unit su = s;
  if (t) {
    su.r = t->ToLinear(su.r);
    su.g = t->ToLinear(su.g);
    su.b = t->ToLinear(su.b);
  }
  if (Op::template Apply<P>(su, w, dither, &du)) {
    du.r = Clamp01<P>(du.r);
    du.g = Clamp01<P>(du.g);
    du.b = Clamp01<P>(du.b);
    FromUnit<P>(du, t, d);
  }
}

/// Blends a pixel of the same depth. Cheap cases first: no weight leaves d alone, and
/// Normal at full weight with an opaque source is a plain store.
template <class P, class Op>
inline void BlendPixel(const typename P::Pixel& s, const GX_LinearBlendingTables* t, float w,
                       float dither, typename P::Pixel* d) {
  if (!(w > 0.0f)) return;
  if constexpr (Op::kStoreWhenOpaque) {
    if (w >= 1.0f && s.alpha >= P::kFull) {
      *d = s;
      return;
    }
  }
  const Unit su{P::ToUnit(s.alpha), P::ToUnit(s.red), P::ToUnit(s.green), P::ToUnit(s.blue)};
  BlendUnit<P, Op>(su, t, w, dither, d);
}

/// Weight of a mask value and an opacity, clamped to 0..1.
template <class P>
inline float Weight(typename P::Value mask, typename P::Value opacity) {
  return std::min(std::max(P::ToUnit(mask) * P::ToUnit(opacity), 0.0f), 1.0f);
}

}  // namespace gxp
