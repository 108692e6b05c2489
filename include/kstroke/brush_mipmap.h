// SPDX-License-Identifier: MIT
/// @file
/// The MIP pyramid of a brush tip and the transformed-tip rasterizer that draws from it.
///
/// A K_BrushMIPMap is built from a tip just before the tip is drawn at some scale. It
/// holds the tip's bitmap and ever smaller copies (each level half the size of the one
/// before, 7-tap half-band filtered, with a one-sample zero border), and the tip polygon
/// of the current dab. Per dab: SetTransform, clear the destination, RenderInto,
/// GetRenderedBounds.
///
/// Choices where the rasterizer's rules leave room:
/// - Coordinate range. The scan keeps its running minimum and maximum y from ±30000, so
///   a polygon with a vertex coordinate not strictly inside (−30000, 30000), or not
///   finite (a zero pixel aspect, an infinite scale), is not drawn at all, and its
///   rendered bounds are empty. Callers keep dab buffers far below that size.
/// - Level pair past the pyramid. A scale picks level L alone or the pair (L, L + 1).
///   When the pair would read past the last level of this pyramid, the last level is
///   sampled alone (bilinear, unblended); a single level past the end becomes the last
///   level. The 0.26-pixel minimum size keeps the pair inside for tips up to 4259
///   samples on the longer side, so this only matters for larger tips.
/// - Texture steps beyond the 16.16 range (a very large tip squeezed to 0.26 pixel)
///   saturate at the 32-bit limits instead of wrapping.
#pragma once

#include <cstdint>
#include <memory>

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "host/y/y.h"
#include "kstroke/kstroke_export.h"

class K_BrushTip;
struct Kp_MIPPyramid;
struct Kp_PairedRows;
struct Kp_PyramidInk;
struct Kp_TipPolygon;

/// A brush tip's MIP pyramid and the rasterizer that draws the tip from it under a
/// dab's transform (this file's opening comment has the order of calls).
class KSTROKE_API K_BrushMIPMap : public Y_MemTrackedObject {
public:
  /// Builds the pyramid from the tip's buffer (8 or 16 bits, rows exactly w × bytes per
  /// sample long). Width and height are taken as 16-bit values, so tips up to 32767
  /// samples a side are supported at either depth. The tip is not changed.
  /// Allocation failures propagate as std::bad_alloc with nothing leaked.
  explicit K_BrushMIPMap(const K_BrushTip& tip);
  /// Tag of the constructor that shares a pyramid.
  struct SharePyramid {};
  /// A map of `other`'s pyramid, which it shares (it is never written once built, and
  /// lives as long as any map of it), with a dab transform of its own: maps on several
  /// threads may draw from one pyramid. Throws std::bad_alloc.
  K_BrushMIPMap(const K_BrushMIPMap& other, SharePyramid);
  ~K_BrushMIPMap() override;
  K_BrushMIPMap(const K_BrushMIPMap&) = delete;
  K_BrushMIPMap& operator=(const K_BrushMIPMap&) = delete;

  /// Places the tip: scaled by `scale` (a negative component mirrors the texture only),
  /// turned by `angleDeg` (positive = anticlockwise on the y-down raster), squeezed
  /// vertically by `roundness` (clamped to 0.05..1), its x divided by `pixelAspect`
  /// about the centre, and centred on `center` (destination pixels, fractions allowed).
  /// The dab is never thinner than 0.26 pixel on either axis.
  void SetTransform(V_Vector2T<double> scale, double angleDeg, double roundness,
                    double pixelAspect, V_Vector2T<double> center);

  /// Draws the current polygon into `dst`, which must have the tip's depth (8 or 16
  /// bits); a buffer of any other depth is left alone.
  /// Pixels inside the drawn spans are overwritten, all others left alone: clear the
  /// buffer first. Reports nothing.
  void RenderInto(GX_UnoBuffer& dst) const;

  /// Draws the part of the current polygon inside `box` (RenderInto's coordinates;
  /// the rendered bounds, typically) at `origin` of `mask`, raising each mask sample m
  /// under a drawn sample s to max(m, min(s, full)) instead of storing s: an opaque dab
  /// taken straight into a paint mask, the same as drawing it into a cleared buffer
  /// (whose column 0 is `box`'s origin) and keeping the larger values inside `box`.
  /// Drawn this way: an unrotated dab sampled from the full-size level at unit steps,
  /// and, where the processor has the vector row kernels (AVX2), any turned dab; the
  /// box must lie inside the mask. For any other it answers false. It may have raised
  /// some samples by then, which does no harm: raising twice to the same values is
  /// raising once. True, with nothing drawn, when RenderInto would draw nothing.
  bool RaiseInto(GX_UnoBuffer& mask, V_LPoint origin, const V_Rect& box) const;

  /// (floor of least y, floor of least x, ceiling of greatest y, ceiling of greatest x)
  /// over the polygon's vertices; all zeros before the first SetTransform, for an empty
  /// box, or for a polygon outside the coordinate range above.
  V_Rect GetRenderedBounds() const;

  /// The pyramid header at the start of the owned block (tests and benchmarks).
  const Kp_MIPPyramid& GetPyramid() const { return *pyramid; }
  /// Where each level holds non-zero samples (tests).
  const Kp_PyramidInk& GetInk() const { return *ink; }
  /// The levels with each sample paired with the one below (tests).
  const Kp_PairedRows& GetPairedRows() const { return *paired; }
  /// The current tip polygon.
  const Kp_TipPolygon& GetPolygon() const { return *polygon; }

private:
  struct Levels;  ///< the block of header and levels, the ink and the paired rows
  std::shared_ptr<const Levels> levels;     ///< read only once built; shared by SharePyramid
  const Kp_MIPPyramid* pyramid = nullptr;   ///< the header at the start of the levels' block
  const Kp_PyramidInk* ink = nullptr;       ///< where each level holds non-zero samples
  const Kp_PairedRows* paired = nullptr;    ///< for turned dabs' vector kernels
  std::unique_ptr<Kp_TipPolygon> polygon;   ///< this map's dab
};
