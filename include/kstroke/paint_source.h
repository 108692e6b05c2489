// SPDX-License-Identifier: MIT
/// @file
/// Paint sources: what is laid down where the paint mask has coverage.
///
/// K_PaintSource is the root the renderer holds; K_PixelBasedPaintSource composites a
/// concrete source's pixels through the mask into the destination with the host's blend
/// operations. Coordinates: a V_Rect is {top, left, bottom, right}; "area coordinates"
/// are the paint mask's, and area pixel (x, y) is destination pixel
/// (boundsRect.left + x, boundsRect.top + y).
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "host/gx/gx.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_transfer.h"
#include "host/v/v.h"
#include "host/y/y.h"
#include "kstroke/kstroke_export.h"
#include "kstroke/stroke_props.h"
#include "kstroke/transform.h"

/// Abstract root of the paint sources. Allocated through Y_MemTrackedObject's tracked
/// operators; the renderer holds it by boost::shared_ptr.
class KSTROKE_API K_PaintSource : public Y_MemTrackedObject {
public:
  /// Composites this source through `paintMask` into `dest` over `*area`.
  ///
  /// `layerRect`: the destination layer's rectangle in area coordinates (its top-left
  /// addresses the lazy copy; the clone source's destination rectangle).
  /// `boundsRect`: writable bounds of `dest` in area coordinates.
  /// `paintMask`: one channel of `dest`'s depth; `*area` must lie inside it.
  /// `opacity` 0..1, `transferMode` a valid host transfer-table index,
  /// `transferParam` passed to the host. `*area` (in/out) may shrink to the part the
  /// source can supply; nothing happens when it is empty on entry.
  /// `progress` (may be null) is restored before returning, also on failure.
  /// Throws a long: host codes unchanged, 3 for a failed check.
  virtual void Render(GX_ProgressInfo* progress, const V_Rect& layerRect, const V_Rect& boundsRect,
                      const GX_UnoBuffer* paintMask, double opacity, const K_Transform& transform,
                      int32_t transferMode, K_TargetChannel targetChannel, int32_t transferParam,
                      V_Rect* area, GX_LayerDef* dest) const = 0;
  /// Render over the pixels of `base`, a layer of `dest`'s size and depth (the pixels
  /// from before the stroke, which a stroke delivered in several calls composites over
  /// each time): the same as copying `*area` from `base` into `dest` (GX_CopyBits_Draft,
  /// whose answer is not checked) and then calling Render with the same arguments. That
  /// is what this does; a source may instead copy each row just before it blends it,
  /// while the row is in cache. A null `base` copies nothing.
  virtual void RenderOver(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
                          const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
                          const K_Transform& transform, int32_t transferMode, K_TargetChannel targetChannel,
                          int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const;
  /// Whether Render takes a 16-bit paint mask (full coverage 32768) over float pixels
  /// in `transferMode`, reading it as the float mask GX_ConvertDeepUnoBuffer would
  /// make; otherwise the renderer converts the mask first. False unless a source
  /// overrides it.
  virtual bool TakesDeepMaskOnFloat(int32_t transferMode) const;
  ~K_PaintSource() override;

  /// Replaces the lazy copy of the destination (the previous one is released). The
  /// host sets it; the source makes its tiles valid before writing over them.
  void SetLazyCopy(boost::shared_ptr<GX_LazyTilesCondition> copy) const;
  /// The lazy copy of the destination, or null.
  const boost::shared_ptr<GX_LazyTilesCondition>& GetLazyCopy() const { return lazyCopy; }

protected:
  K_PaintSource() = default;
  /// A copy shares the lazy copy.
  ///@{
  K_PaintSource(const K_PaintSource&) = default;
  K_PaintSource& operator=(const K_PaintSource&) = default;
  ///@}

  /// The lazy copy of the destination (SetLazyCopy), or null.
  mutable boost::shared_ptr<GX_LazyTilesCondition> lazyCopy;
};

/// A paint source whose colour comes as pixels: a four-channel world for the area, or
/// one channel (the value written into alpha) for the whole mask.
///
/// Depths: 8, 16 and 32 (float) bits per channel. Any other destination depth reports
/// "Unknown world bitdepth in##CONDITIONNAME" (code 2425831) and throws 3; the check is
/// made after the lazy copy is secured, before anything is asked of the source.
/// The host's channel moves do not clip, so Render also refuses (report, then 3) a
/// paint mask of another depth than the destination ("paint mask depth 8 differs from
/// destination depth 16"), an area that is not inside the mask ("paint area exceeds
/// the paint mask") and, on the single-channel path, a region outside the destination
/// ("paint area exceeds the destination layer"). The renderer never passes these.
class KSTROKE_API K_PixelBasedPaintSource : public K_PaintSource {
public:
  /// Target channels 1 and 2 composite the source world with GX_TransferRect (2 sets
  /// the colour-only flag); the others blend one value into alpha when the source
  /// supports it. Progress is divided into three phases: the source's pixel work,
  /// the mask preparation, the transfer.
  void Render(GX_ProgressInfo* progress, const V_Rect& layerRect, const V_Rect& boundsRect,
              const GX_UnoBuffer* paintMask, double opacity, const K_Transform& transform,
              int32_t transferMode, K_TargetChannel targetChannel, int32_t transferParam,
              V_Rect* area, GX_LayerDef* dest) const override;
  ~K_PixelBasedPaintSource() override;

protected:
  /// `tables` are the host's, not owned, passed to every blend call.
  explicit K_PixelBasedPaintSource(const GX_LinearBlendingTables* tables);
  /// Shares the lazy copy and copies the tables pointer.
  ///@{
  K_PixelBasedPaintSource(const K_PixelBasedPaintSource& other) = default;
  K_PixelBasedPaintSource& operator=(const K_PixelBasedPaintSource& other) = default;
  ///@}

  /// True for the target channels that take the composite path (1 and 2).
  static bool IsComposite(K_TargetChannel channel);

  /// Whether the single-channel path may be used.
  virtual bool SupportsSingleChannel() const = 0;
  /// A four-channel world of `depth` whose pixel (0, 0) is the colour for area pixel
  /// (area.left, area.top) and which covers `*area`; may shrink `*area`. Owned by the
  /// source and valid until its next pixel request.
  virtual const GX_World* GetPixelSource(GX_ProgressInfo* progress, const V_Rect& layerRect,
                                         const V_Rect& boundsRect, const K_Transform& transform,
                                         int16_t depth, int32_t transferMode,
                                         V_Rect* area) const = 0;
  /// A one-channel buffer of `depth` and of `*maskRect`'s size, indexed in area
  /// coordinates. Owned by the source and valid until its next pixel request.
  virtual const GX_UnoBuffer* GetSingleChannelPixelSource(GX_ProgressInfo* progress,
                                                          const V_Rect& layerRect,
                                                          const V_Rect& boundsRect,
                                                          const K_Transform& transform,
                                                          int16_t depth, int32_t transferMode,
                                                          const V_Rect* maskRect) const = 0;

  const GX_LinearBlendingTables* blendingTables;  ///< the host's, not owned; null blends stored values
};
