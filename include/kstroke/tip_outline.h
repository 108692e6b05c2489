// SPDX-License-Identifier: MIT
/// @file
/// Brush tip outlines for the host's interface (cursors, previews), drawn through the
/// host's drawing interface: the effective size, roundness and angle of the tip, the hard
/// core on request, and a centre mark whose colour and shape encode a style. Everything
/// is drawn twice: a thin black shadow offset by about one pixel, then the colour.
#pragma once

#include <cstdint>

#include "host/inkwork/inkwork.h"
#include "host/v/v.h"
#include "kstroke/kstroke_export.h"

namespace paint_brushtip {

/// What to outline and how. The host fills it; the drawing functions write some
/// fields back (noted per field).
struct BrushTipRec {
  double zoom = 1.0;  ///< screen pixels per brush pixel
  /// Extra horizontal and vertical scale of the outline about its centre; (1, 1) is
  /// none. x also widens the image CreateTipOutlineImage makes.
  V_Vector2T<float> scale{1.0f, 1.0f};
  /// Centre of the outline in the drawing's pixels. A component equal to -1 is
  /// computed and written back; any other value is used as given.
  V_Vector2T<float> center{-1.0f, -1.0f};
  double diameter = 1.0;   ///< brush diameter in brush pixels
  double hardness = 100.0; ///< percent, 0..100
  /// Percent; values below 1 count as 1. Written back as 100 when the outline is
  /// smaller than 4 screen pixels (too small to show roundness).
  double roundness = 100.0;
  double angle = 0.0;      ///< degrees
  /// 0: white outline. 1: green outline, plus-shaped centre mark. 2: red outline,
  /// horizontal centre dash. 3, 4: as 1, 2 with a diagonal stroke instead of the
  /// centre mark. Other values draw as 0.
  int32_t style = 0;
  /// Outline at the full diameter, plus a second circle for the hard core.
  bool showHardness = false;
};

/// Strokes the outline into `context`'s surface under its current transform, with
/// pens and paths from its supplier. Writes back `center` components given as -1 and,
/// for outlines under 4 screen pixels, `roundness` = 100. The surface's state stack is
/// left as found. Nothing is validated; the drawing interface's exceptions pass
/// through, and every pen and path made is released on every path.
KSTROKE_API void DrawTipOutline(kelvo::inkwork::Inkwork* context, BrushTipRec& rec);

/// An image of just the outline, on a transparent background, about zoom × diameter
/// (× scale.x wide) plus a 2-pixel margin. Sizes over 1000 screen pixels are reduced
/// by writing back zoom = 1 and diameter = 1000; sizes up to 4 are drawn on an image
/// sized for 12 screen pixels (16 × 16 at scale 1), centred in it unless the centre is
/// given. Writes back what DrawTipOutline writes. Exceptions
/// of the drawing interface pass through; the surface is released on every path.
KSTROKE_API kelvo::inkwork::ImageP CreateTipOutlineImage(
    kelvo::inkwork::SupplierInterface* supplier, BrushTipRec& rec);

}  // namespace paint_brushtip
