// SPDX-License-Identifier: MIT
/// @file
/// K_InteractRenderer: renders one brush stroke, incrementally, while it is drawn.
///
/// One Render call places the tips that are new since the previous call, stamps them
/// into the stroke's paint mask (RenderTips), then composites the paint source through
/// the whole mask over the changed area (RenderPaint). The mask, the placement cache and
/// the backup of the mask under the provisional last dab live across calls, held by
/// shared pointers: copies of a renderer continue the same stroke.
///
/// Working frame: the destination layer's pixel grid with its origin at the top-left of
/// destRect clipped to the layer. The mask and tip positions are in working-frame
/// pixels; the `area` arguments are relative to destRect's top-left corner.
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "kstroke/kstroke_export.h"

class GX_LazyTiles;
class GX_LazyTilesCondition;
class K_PaintSource;
class K_Shape;
struct K_StrokeGlobalProperties;
struct Kp_TipLocationCache;
struct Kp_MaskChanges;
class Kp_TipCache;
struct Kp_StrokeTipLocsAndParams;

/// Renders one stroke into a layer while it is drawn: each Render call stamps the tips
/// new since the last one into the paint mask and composites the changed area.
///
/// Between the Render calls of one stroke that restores from a lazily filled pre-stroke
/// copy, the layer's pixels under the mask are the renderer's: a call restores and
/// composites only where it changed the mask (by bands of rows, in a large area), as
/// the rest of the area holds what compositing it again would give. A host that writes
/// those pixels between calls, or calls RenderTips and RenderPaint on their own, gets
/// whole areas composited from then on.
class KSTROKE_API K_InteractRenderer {
public:
  /// `depth` 8, 16 or 32 (float) is the destination's; 8 gives an 8-bit mask, deeper
  /// layers a 16-bit mask (full coverage 32768). `lazyCopy` may be null.
  /// `restoreFromPreStroke`: put the pre-stroke pixels back under the area before
  /// compositing, so the mask's coverage is never applied twice.
  K_InteractRenderer(int16_t depth, boost::shared_ptr<K_PaintSource> source,
                     boost::shared_ptr<GX_World> preStroke,
                     boost::shared_ptr<GX_LazyTilesCondition>* lazyCopy,
                     bool restoreFromPreStroke);
  /// A copy shares everything the original holds: mask, paint source, pre-stroke
  /// buffer, lazy copy and caches; the two then render one stroke.
  ///@{
  K_InteractRenderer(const K_InteractRenderer&) = default;
  K_InteractRenderer& operator=(const K_InteractRenderer&) = default;
  ///@}
  ~K_InteractRenderer();

  /// Renderers share the tips they compute (the tip's bitmap and MIP pyramid) with the
  /// renderers after them: a painter draws stroke after stroke with one brush, and each
  /// stroke has a renderer of its own. The last 8 brushes' tips are kept, up to 64 MB
  /// in all. This lets go of them (a renderer holding one keeps it until it ends).
  static void ReleaseSharedTips();

  /// The mask, shared with the caller, who may write its samples directly: its
  /// buffer's ink map is dropped first, so from then on compositing reads the whole
  /// area instead of only the cells the renderer knows it inked.
  boost::shared_ptr<GX_LazyTiles> GetPaintMask() const;
  /// Strokes into `mask` from now on (one channel, the mask depth above).
  void SetPaintMask(boost::shared_ptr<GX_LazyTiles> mask) {
    paintMask = mask;
    Unsettle();
  }
  /// What the mask lays down: the stroke's paint source.
  ///@{
  boost::shared_ptr<K_PaintSource>& GetPaintSource() { return paintSource; }
  void SetPaintSource(boost::shared_ptr<K_PaintSource> source) {
    paintSource = source;
    Unsettle();
  }
  ///@}
  /// The layer as it was before the stroke, which restoring reads; of the layer's
  /// size and depth.
  ///@{
  boost::shared_ptr<GX_World>& GetPreStrokeBuffer() { return preStrokeBuffer; }
  void SetPreStrokeBuffer(boost::shared_ptr<GX_World> buffer) {
    preStrokeBuffer = buffer;
    Unsettle();
  }
  ///@}
  /// The lazy tiles that fill the pre-stroke buffer from the layer the first time each
  /// tile is needed; null when the buffer is complete already.
  ///@{
  boost::shared_ptr<GX_LazyTilesCondition>& GetLazyCopyPreStroke() { return lazyCopyPreStroke; }
  void SetLazyCopyPreStroke(boost::shared_ptr<GX_LazyTilesCondition> copy) {
    lazyCopyPreStroke = copy;
    Unsettle();
  }
  ///@}
  /// The time of the last tip of the latest call that placed tips (informational).
  double GetLastTipTime() const { return lastTipTime; }

  /// Renders what is new in `shape` into `layer` over `destRect` (layer pixels; may
  /// extend past the layer). `area` (may be null) receives the changed rectangle,
  /// relative to destRect's top-left. `seed` seeds the dither of the computed tip: the
  /// noise comes from a generator of the call's own (K_TipNoise), so renderers on
  /// different threads give the pixels they give one after the other. A destRect that misses
  /// the layer changes nothing and gives an empty area.
  /// Throws a long: host and progress codes unchanged, 3 for a failed check.
  void Render(GX_ProgressInfo* progress, K_Shape* shape, const K_StrokeGlobalProperties& props,
              const V_Rect& destRect, double pixelAspect, int32_t seed, GX_LayerDef* layer,
              V_Rect* area);
  /// Places and stamps the new tips; `*area` becomes the union of the stamped dab
  /// rectangles and of the previous call's provisional dab, taken back (relative to
  /// destRect), empty when nothing was stamped.
  void RenderTips(GX_ProgressInfo* progress, K_Shape* shape,
                  const K_StrokeGlobalProperties& props, const V_Rect& destRect,
                  double pixelAspect, int32_t seed, GX_LayerDef* layer, V_Rect* area);
  /// Composites the paint source through the mask over `*area` (relative to destRect).
  void RenderPaint(GX_ProgressInfo* progress, const K_StrokeGlobalProperties& props,
                   const V_Rect& destRect, double pixelAspect, GX_LayerDef* layer,
                   V_Rect* area);

private:
  /// The two phases; `changes` (may be null) tracks what the stamping changes, and
  /// `banded` composites only its bands.
  void PlaceAndStamp(GX_ProgressInfo* progress, K_Shape* shape,
                     const K_StrokeGlobalProperties& props, const V_Rect& destRect,
                     double pixelAspect, int32_t seed, GX_LayerDef* layer, V_Rect* area,
                     Kp_MaskChanges* changes);
  void Paint(GX_ProgressInfo* progress, const K_StrokeGlobalProperties& props,
             const V_Rect& destRect, double pixelAspect, GX_LayerDef* layer, V_Rect* area,
             bool banded);
  void StampTips(GX_ProgressInfo* progress, const Kp_StrokeTipLocsAndParams& tips,
                 const K_StrokeGlobalProperties& props, bool deep, const V_Rect& clipped,
                 double pixelAspect, int32_t seed, V_Rect* area, Kp_MaskChanges* changes);
  void CompositePaint(GX_ProgressInfo* progress, const K_StrokeGlobalProperties& props,
                      GX_LayerDef* preStroke, const V_Rect& destMoved, const V_Rect& clipped,
                      double pixelAspect, const GX_UnoBuffer* mask, GX_LayerDef* dest,
                      V_Rect* area, bool banded);
  /// Something the layer's agreement with the mask rests on may have changed: once a
  /// call has composited, every later call composites its whole area (see the class
  /// comment); before that, whether the layer agrees is decided afresh.
  void Unsettle() const;

  int16_t depth;
  bool restoreFromPreStroke;
  boost::shared_ptr<GX_LazyTiles> paintMask;
  boost::shared_ptr<K_PaintSource> paintSource;
  boost::shared_ptr<GX_World> preStrokeBuffer;
  boost::shared_ptr<Kp_TipLocationCache> tipLocationCache;
  boost::shared_ptr<GX_LazyTilesCondition> lazyCopyPreStroke;
  boost::shared_ptr<GX_UnoBuffer> lastTipBackup;
  boost::shared_ptr<Kp_TipCache> tipCache;  ///< the last call's tip, for the next
  boost::shared_ptr<Kp_MaskChanges> maskChanges;
  V_LRect lastTipRect;
  double lastTipTime = 0;
};
