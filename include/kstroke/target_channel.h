// SPDX-License-Identifier: MIT
// Which destination channels a stroke writes. Pixels are alpha, red, green, blue.
#pragma once

#include <cstdint>

/// The values cross the host boundary and are stored with strokes: keep them explicit.
/// Any other value is accepted where a K_TargetChannel is read; the paint sources then
/// draw nothing in the fill source's direct path and take the single-channel path in
/// the general one.
enum K_TargetChannel : int32_t {
  K_TargetChannel_RGBA = 1,        ///< every channel
  K_TargetChannel_RGB = 2,         ///< colour only; destination alpha is kept
  K_TargetChannel_Alpha = 3,       ///< alpha only
  K_TargetChannel_RGBOpaque = 4,   ///< colour as over an opaque destination; alpha kept
};
