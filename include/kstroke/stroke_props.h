// SPDX-License-Identifier: MIT
/// @file
/// Stroke-wide brush settings the host passes to tip placement and rendering, and the
/// channel selection of the paint.
#pragma once

#include <cstdint>

#include "host/v/v.h"

/// Which channels the paint writes. The values cross the host boundary and persist.
/// Any other value is accepted where one is read: the fill source's direct path then
/// draws nothing, and the general render takes the single-channel path.
enum K_TargetChannel : int32_t {
  K_TargetChannel_RGBA = 1,       ///< alpha and the three colour channels
  K_TargetChannel_RGB = 2,        ///< the colour channels; alpha is left as it is
  K_TargetChannel_Alpha = 3,      ///< alpha alone
  K_TargetChannel_RGBOpaque = 4,  ///< the colour channels, over a destination taken as opaque
};

/// The stroke-wide brush settings. Filled by the host and only read by the engine.
/// The defaults are a round, hard 10-pixel brush at a quarter-diameter spacing with
/// no transform, so a default-constructed record is valid for placement.
struct K_StrokeGlobalProperties {
  /// Leading host fields the engine never reads; their content is the host's affair.
  unsigned char hostData[16] = {};

  int32_t accumulateMode = 0;  ///< how a dab accumulates into the paint mask
  double start = 0.0;          ///< trim start, fraction of the stroke's end time
  double end = 1.0;            ///< trim end, fraction of the stroke's end time
  double opacity = 1.0;        ///< multiplies each tip's opacity factor
  double flow = 1.0;           ///< multiplies each tip's flow factor
  double diameter = 10.0;      ///< brush diameter in tip-space pixels; must be > 0
  double angle = 0.0;          ///< brush angle, degrees
  double roundness = 1.0;      ///< brush roundness; also scales the spacing step
  double hardness = 1.0;       ///< brush hardness
  double spacing = 0.25;       ///< tip distance as a fraction of the diameter; must be > 0
  int32_t transferMode = 0;    ///< transfer mode of the paint
  K_TargetChannel targetChannel = K_TargetChannel_RGBA;  ///< the channels painted
  V_Vector2T<double> anchor{0.0, 0.0};    ///< stroke anchor, fraction of the layer rectangle
  V_Vector2T<double> position{0.0, 0.0};  ///< where the anchor lands, same units
  V_Vector2T<double> scale{1.0, 1.0};     ///< stroke scale factors
  double rotation = 0.0;                  ///< stroke rotation, degrees
  bool dither = false;                    ///< dither the computed tip
};
