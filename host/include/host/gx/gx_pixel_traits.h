// SPDX-License-Identifier: MIT
/// @file
/// Pixel traits: one struct per depth, so each pixel kernel is written once as a
/// template over GXp_Px8, GXp_Px16 or GXp_PxF.
///
/// Fixed point: an 8-bit value v stands for v / 255, a 16-bit value for v / 32768 (full
/// is a power of two so that 16-bit products divide by a shift), float for itself.
/// Integer products are divided back to the value range by GXp_DivFull8 / GXp_DivFull16
/// only, and values become unit fractions through ToUnit only; conversion back from a
/// unit fraction (FromUnit) rounds to nearest and clamps to 0..full.
#pragma once

#include "host/gx/gx.h"

#include <cstdint>

/// Rounded x / 255 for 0 ≤ x ≤ 255 × 255 (the product of two 8-bit values).
/// Derivation: with t = x + 128, (t + (t >> 8)) >> 8 equals floor(x / 255 + ½) for
/// every x in range (t / 256 × 257 / 256 approximates t / 255 with an error below
/// 1 / 256 on that range); checked exhaustively by the tests.
constexpr uint32_t GXp_DivFull8(uint32_t x) {
  const uint32_t t = x + 128u;
  return (t + (t >> 8)) >> 8;
}

/// Rounded x / 32768 (halves up) for 0 ≤ x < 2^32 − 2^14.
constexpr uint32_t GXp_DivFull16(uint32_t x) { return (x + 16384u) >> 15; }

/// Traits of 8-bit pixels: full is 255.
struct GXp_Px8 {
  using Value = uint8_t;    ///< one sample
  using Pixel = GX_Pixel8;  ///< one 4-channel pixel
  static constexpr int32_t kDepth = 8;  ///< bits per sample, as in GX_LayerDef::depth
  static constexpr Value kFull = 255;   ///< the value that stands for 1
  /// a × b / full, rounded.
  static constexpr Value Mul(Value a, Value b) {
    return static_cast<Value>(GXp_DivFull8(uint32_t(a) * b));
  }
  /// v / 255 correctly rounded, so full is exactly 1 and FromUnit(ToUnit(v)) == v.
  static constexpr float ToUnit(Value v) { return float(v) / 255.0f; }
  /// Rounds to nearest, clamps to 0..255; NaN gives 0.
  static constexpr Value FromUnit(float f) {
    return f > 0.0f ? (f < 1.0f ? static_cast<Value>(f * 255.0f + 0.5f) : kFull) : Value(0);
  }
};

/// Traits of 16-bit ("deep") pixels: full is 32768.
struct GXp_Px16 {
  using Value = uint16_t;    ///< one sample
  using Pixel = GX_Pixel16;  ///< one 4-channel pixel
  static constexpr int32_t kDepth = 16;  ///< bits per sample, as in GX_LayerDef::depth
  static constexpr Value kFull = 32768;  ///< the value that stands for 1
  /// a × b / full, rounded (halves up).
  static constexpr Value Mul(Value a, Value b) {
    return static_cast<Value>(GXp_DivFull16(uint32_t(a) * b));
  }
  /// v / 32768, exact (a power of two), so FromUnit(ToUnit(v)) == v for 0..full.
  static constexpr float ToUnit(Value v) { return float(v) / 32768.0f; }
  /// Rounds to nearest, clamps to 0..32768; NaN gives 0.
  static constexpr Value FromUnit(float f) {
    return f > 0.0f ? (f < 1.0f ? static_cast<Value>(f * 32768.0f + 0.5f) : kFull)
                    : Value(0);
  }
};

/// Float values are not clamped: colour may lie outside 0..1 (high dynamic range).
struct GXp_PxF {
  using Value = float;          ///< one sample
  using Pixel = GX_PixelFloat;  ///< one 4-channel pixel
  static constexpr int32_t kDepth = 32;  ///< bits per sample, as in GX_LayerDef::depth
  static constexpr Value kFull = 1.0f;   ///< the value that stands for 1
  /// The plain product, unrounded and unclamped.
  static constexpr Value Mul(Value a, Value b) { return a * b; }
  /// The value itself, in either direction: float samples are unit fractions already.
  ///@{
  static constexpr float ToUnit(Value v) { return v; }
  static constexpr Value FromUnit(float f) { return f; }
  ///@}
};

/// Traits for a sample type: GXp_PxOf<uint16_t> is GXp_Px16. Only uint8_t, uint16_t and
/// float have them.
template <class T> struct GXp_PxOfT;
/// 8-bit samples.
template <> struct GXp_PxOfT<uint8_t> { using Type = GXp_Px8; /**< their traits */ };
/// 16-bit samples.
template <> struct GXp_PxOfT<uint16_t> { using Type = GXp_Px16; /**< their traits */ };
/// Float samples.
template <> struct GXp_PxOfT<float> { using Type = GXp_PxF; /**< their traits */ };
/// The traits struct of sample type T (GXp_Px8, GXp_Px16 or GXp_PxF).
template <class T> using GXp_PxOf = typename GXp_PxOfT<T>::Type;
