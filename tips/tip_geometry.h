// SPDX-License-Identifier: MIT
// Fixed-point geometry of the computed tip, shared by its constructor and its extent.
//
// Units: semi-axes and half-extents in quarter pixels; cosine and sine as
// round(16384 × value); the soft-edge width E in normalised units where 65536 is the
// ellipse's radius. Pixel bounds are in pixels relative to the pixel holding the centre.
#pragma once

#include <cstdint>

class GX_UnoBuffer;
class K_TipNoise;

struct Kp_TipGeometry {
  int32_t axisAQp = 0;    ///< semi-axis along the tip's x, quarter pixels
  int32_t axisBQp = 0;    ///< semi-axis along the tip's y, 6..A
  int32_t cos14 = 16384;  ///< cos(angle) × 16384
  int32_t sin14 = 0;      ///< sin(angle) × 16384
  int32_t edgeWidth = 1;  ///< soft-edge width E, 1..65535
};

struct Kp_PixelBounds {
  int32_t top = 0, left = 0, bottom = 0, right = 0;  ///< right, bottom exclusive
};

/// v ≥ 0 → floor(v + 0.5), v < 0 → −floor(0.5 − v), clamped to 32 bits; NaN → 0.
int32_t Kp_RoundToInt(double v);
/// Clamps to −32768..32767.
int32_t Kp_Clamp16(int32_t v);

/// A, B, cosine, sine and E from the tip's stored members (diameter ≥ 0.5).
Kp_TipGeometry Kp_ComputeTipGeometry(double diameter, int32_t hardnessPercent,
                                     int32_t roundnessPercent, int32_t angleDegrees);
/// Pixel box of a tip with these half-extents (quarter pixels) around a centre in the
/// middle of its pixel.
Kp_PixelBounds Kp_TipPixelBounds(int32_t halfXQp, int32_t halfYQp);
/// Pixel box of the computed tip of geometry `g`: its ellipse turned, each half-extent
/// at most A − 1.
Kp_PixelBounds Kp_ComputedTipBounds(const Kp_TipGeometry& g);

/// Writes the computed tip's coverage into `buffer` (8 or 16 bits, the size of `b`):
/// 16 bits deep, 8 bits dithered by `noise` when `dither`, else from the falloff table.
/// The constructor divides by A, B and E through reciprocals, which give the quotients
/// exactly, and (not dithered, in a box centred on the tip) works out half the pixels,
/// mirroring the rest through the centre; `plainDivision` divides and works out every
/// pixel, the form the fast one is held to.
void Kp_FillComputedTip(GX_UnoBuffer* buffer, const Kp_TipGeometry& g, const Kp_PixelBounds& b,
                        bool dither, K_TipNoise* noise, bool plainDivision = false);
