// SPDX-License-Identifier: MIT
/// @file
/// K_FillPaintSource: a constant colour laid down through the paint mask.
///
/// Colour conversion to a destination depth (single precision): 8 bits
/// truncate(c·255 + 0.5) clamped to 0..255, 16 bits truncate(c·32768 + 0.5) clamped to
/// 0..32768, float unchanged. Alpha is always full. The direct path converts the
/// opacity by truncation (0.5 → 127 at 8 bits, 16384 at 16 bits).
#pragma once

#include <cstdint>

#include <boost/scoped_ptr.hpp>

#include "host/gx/gx.h"
#include "kstroke/kstroke_export.h"
#include "kstroke/paint_source.h"

/// Lays one opaque colour down through the paint mask.
class KSTROKE_API K_FillPaintSource : public K_PixelBasedPaintSource {
public:
  /// `colour` is copied with its alpha set to 1.0: a fill is always opaque paint.
  /// `tables` are the host's, not owned.
  K_FillPaintSource(const GX_LinearBlendingTables* tables, const GX_PixelFloat& colour);
  /// Shares the lazy copy, copies tables and colour, and takes over both caches
  /// (`other`'s are empty afterwards).
  K_FillPaintSource(K_FillPaintSource& other);
  /// As the copy constructor; its own lazy copy and caches are released first.
  K_FillPaintSource& operator=(K_FillPaintSource& other);
  /// Releases the buffer cache, the world cache, then the lazy copy.
  ~K_FillPaintSource() override;

  /// Blends the colour straight into `dest`, row by row, with the host's per-pixel
  /// transfer functions, over `*area` clipped to `boundsRect` and to the mask (area
  /// pixel (x, y) is destination pixel (x, y)); `*area` itself is left as it is.
  /// Transfer mode 3 goes through K_PixelBasedPaintSource::Render instead.
  /// Target channel: 1 whole pixel, 2 colour with destination alpha put back, 3 alpha
  /// by the single-channel blend of the red value, 4 colour as over an opaque
  /// destination with alpha put back; any other value draws nothing. So does a
  /// destination depth other than 8, 16, 32 (no error). Areas of 17 rows or more and
  /// at least 16,384 pixels may be blended on several threads (rows are disjoint);
  /// progress is reported at most every 32 rows. `opacity` outside 0..1 is clamped
  /// for the integer depths, whose conversion would otherwise be undefined. A mask of
  /// another depth than `dest` is refused as in the general render, a transfer mode
  /// outside the host's tables throws GX_Err_BadMode (as the host's own transfers
  /// answer), and the rows are also clipped to `dest`. One other depth is taken: a
  /// float `dest` under a 16-bit mask (full coverage 32768), whose values are read as
  /// value / 32768, as GX_ConvertDeepUnoBuffer would convert them, a run at a time;
  /// the pixels are those of the converted mask, without the float copy of it.
  /// Throws host codes unchanged.
  void Render(GX_ProgressInfo* progress, const V_Rect& layerRect, const V_Rect& boundsRect,
              const GX_UnoBuffer* paintMask, double opacity, const K_Transform& transform,
              int32_t transferMode, K_TargetChannel targetChannel, int32_t transferParam,
              V_Rect* area, GX_LayerDef* dest) const override;

  /// Render over `base`: on the direct path, when the rows it blends are the whole
  /// area, each row is copied from `base` just before it is blended; otherwise as
  /// K_PaintSource::RenderOver. The pixels are the same either way. Render's checks
  /// (mask depth, transfer mode) come before anything is copied.
  void RenderOver(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
                  const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
                  const K_Transform& transform, int32_t transferMode, K_TargetChannel targetChannel,
                  int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const override;

  /// In every mode but the general render's (mode 3), which refuses a deep mask.
  bool TakesDeepMaskOnFloat(int32_t transferMode) const override;

  /// The colour, alpha 1.
  const GX_PixelFloat& GetColour() const { return colour; }

protected:
  bool SupportsSingleChannel() const override { return true; }
  /// A world of the area's size filled with the colour; the area is not changed.
  const GX_World* GetPixelSource(GX_ProgressInfo* progress, const V_Rect& layerRect,
                                 const V_Rect& boundsRect, const K_Transform& transform,
                                 int16_t depth, int32_t transferMode, V_Rect* area) const override;
  /// A buffer of `*maskRect`'s size filled with the colour's red value.
  const GX_UnoBuffer* GetSingleChannelPixelSource(GX_ProgressInfo* progress,
                                                  const V_Rect& layerRect, const V_Rect& boundsRect,
                                                  const K_Transform& transform, int16_t depth,
                                                  int32_t transferMode,
                                                  const V_Rect* maskRect) const override;

private:
  /// Render, or RenderOver with a `base`.
  void Blend(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
             const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
             const K_Transform& transform, int32_t transferMode, K_TargetChannel targetChannel,
             int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const;

  mutable boost::scoped_ptr<GX_World> worldCache;
  mutable boost::scoped_ptr<GX_UnoBuffer> bufferCache;
  GX_PixelFloat colour;
};
