// SPDX-License-Identifier: MIT
// K_InteractRenderer: construction, the render call and paint compositing.
//
// Render = RenderTips (place the new tips, stamp them into the mask; stamp_tips.cpp)
// then RenderPaint (composite the paint source through the mask over the changed area).
// Both phases clip destRect to the layer the same way (Kp_WorkingFrame) and hand the
// area back relative to destRect's top-left on every path.
#include "kstroke/interact_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "frame/errors.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_channels.h"
#include "host/jot/jot.h"
#include "kstroke/clone_paint_source.h"
#include "kstroke/paint_source.h"
#include "kstroke/progress.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "stroke/tip_placement.h"
#include "render/mask_changes.h"
#include "render/tip_cache.h"
#include "render/working_frame.h"

namespace {

// Moves an area rectangle into the working frame for the life of the scope and back to
// destRect-relative coordinates when it ends, also when an exception passes.
class AreaInFrame {
public:
  AreaInFrame(V_Rect* area_, const V_Rect& destMoved)
      : area(area_), dx(destMoved.left), dy(destMoved.top) {
    *area = V_OffsetRect(*area, dx, dy);
  }
  ~AreaInFrame() { *area = V_OffsetRect(*area, -dx, -dy); }
  AreaInFrame(const AreaInFrame&) = delete;
  AreaInFrame& operator=(const AreaInFrame&) = delete;

private:
  V_Rect* area;
  int32_t dx, dy;
};

// GX_ConvertDeepUnoBuffer over the mask's inked runs of `rect`, row by row, with the
// progress reports the conversion of the whole rectangle makes (every 64 rows); as
// that conversion's answer is, a cancel stops the conversion and is not raised here.
void ConvertInkedToFloat(GX_ProgressInfo* progress, const GX_UnoBuffer& mask, const V_LRect& rect,
                         GX_UnoBuffer* out) {
  const int32_t top = std::max(rect.top, 0), bottom = std::min(rect.bottom, mask.GetHeight());
  const int32_t left = std::max(rect.left, 0), right = std::min(rect.right, mask.GetWidth());
  for (int32_t y = top; y < bottom; ++y) {
    GX_ForEachInkRun(mask, y, left, right, [&](int32_t x0, int32_t x1) {
      (void)GX_ConvertDeepUnoBuffer(nullptr, &mask, V_LRect{x0, y, x1, y + 1}, kGX_Full16, out);
    });
    if (((y - top) & 63) == 63 && GX_ReportProgress(progress, y - top + 1, bottom - top) != 0) return;
  }
}

// A call's tip list, a few hundred bytes a tip, is large enough that glibc maps it on
// its own or grows the heap for it, and gives it back when it is freed: every call (and
// every stroke drawn in one call) then faulted fresh pages in and, on a process with
// threads, paid for the other cores' address translations to be flushed when they went.
// The list's memory is kept for the thread's next call instead, up to kMaxSpareBytes.
class SpareTips {
public:
  explicit SpareTips(std::vector<Kp_TipLocAndParams>* tips_) : tips(tips_) {
    tips->swap(Spare());
    tips->clear();
  }
  ~SpareTips() {
    if (tips->capacity() * sizeof(Kp_TipLocAndParams) > kMaxSpareBytes) return;
    tips->clear();
    tips->swap(Spare());
  }
  SpareTips(const SpareTips&) = delete;
  SpareTips& operator=(const SpareTips&) = delete;

private:
  static constexpr std::size_t kMaxSpareBytes = std::size_t(4) << 20;
  static std::vector<Kp_TipLocAndParams>& Spare() {
    static thread_local std::vector<Kp_TipLocAndParams> spare;
    return spare;
  }
  std::vector<Kp_TipLocAndParams>* tips;
};

// The paint source's placement, from the stroke's properties.
K_Transform TransformOf(const K_StrokeGlobalProperties& props, double pixelAspect) {
  K_Transform t;
  t.anchor = V_Vector2T<double>(props.anchor.x, props.anchor.y);
  t.position = V_Vector2T<double>(props.position.x, props.position.y);
  t.scale = V_Vector2T<double>(props.scale.x, props.scale.y);
  t.rotation = props.rotation;
  t.pixelAspect = pixelAspect;
  return t;
}

void DeleteTipLocationCache(Kp_TipLocationCache* cache) {
  cache->~Kp_TipLocationCache();
  Y_MemTrackedObject::Free(cache);
}

}  // namespace

K_InteractRenderer::K_InteractRenderer(int16_t depth_, boost::shared_ptr<K_PaintSource> source,
                                       boost::shared_ptr<GX_World> preStroke,
                                       boost::shared_ptr<GX_LazyTilesCondition>* lazyCopy,
                                       bool restoreFromPreStroke_)
    : depth(depth_),
      restoreFromPreStroke(restoreFromPreStroke_),
      paintSource(source),
      preStrokeBuffer(preStroke) {
  // The cache is a plain record; it still comes from the tracked allocator so a leaked
  // renderer shows in the host's counters.
  void* raw = Y_MemTrackedObject::Allocate(sizeof(Kp_TipLocationCache));
  if (!raw) throw std::bad_alloc();
  tipLocationCache.reset(new (raw) Kp_TipLocationCache(), &DeleteTipLocationCache);
  if (lazyCopy) lazyCopyPreStroke = *lazyCopy;
  tipCache.reset(new Kp_TipCache());
  maskChanges.reset(new Kp_MaskChanges());
  Unsettle();
}

void K_InteractRenderer::Unsettle() const {
  if (!maskChanges) return;
  // Before the first call, a pre-stroke copy filled from the layer on demand agrees
  // with the layer wherever the stroke has not painted, which is everywhere.
  maskChanges->inSync = !maskChanges->begun && lazyCopyPreStroke && preStrokeBuffer &&
                        restoreFromPreStroke;
}

K_InteractRenderer::~K_InteractRenderer() {
  // Reverse order of declaration, as the members would go anyway; spelled out because
  // the backup may be large and the mask is shared with the host.
  maskChanges.reset();
  tipCache.reset();
  lastTipBackup.reset();
  lazyCopyPreStroke.reset();
  tipLocationCache.reset();
  preStrokeBuffer.reset();
  paintSource.reset();
  paintMask.reset();
}

void K_InteractRenderer::ReleaseSharedTips() { Kp_ForgetSharedTips(); }

boost::shared_ptr<GX_LazyTiles> K_InteractRenderer::GetPaintMask() const {
  Unsettle();  // the caller may write the mask's samples
  if (paintMask) {
    if (auto* filler = dynamic_cast<GX_LazyFillUnoBufferOperator*>(paintMask->GetOperator()))
      if (GX_UnoBuffer* buffer = filler->GetBuffer()) buffer->DropInkMap();
  }
  return paintMask;
}

// Render
// ============================================================================

void K_InteractRenderer::Render(GX_ProgressInfo* progress, K_Shape* shape,
                                const K_StrokeGlobalProperties& props, const V_Rect& destRect,
                                double pixelAspect, int32_t seed, GX_LayerDef* layer,
                                V_Rect* area) {
  V_Rect local;
  if (!area) area = &local;
  Kp_MaskChanges& changes = *maskChanges;
  Kp_MaskChanges::Settings settings;
  settings.layer = layer;
  settings.pixels = layer ? layer->data : nullptr;
  settings.destRect = destRect;
  if (layer) settings.layerBounds = V_Rect{0, 0, int16_t(layer->height), int16_t(layer->width)};
  settings.transferMode = props.transferMode;
  settings.targetChannel = props.targetChannel;
  settings.transform = TransformOf(props, pixelAspect);
  // Until this call has composited everything it changes, the layer may lag the mask.
  const bool inSync = changes.inSync;
  changes.inSync = false;
  changes.begun = true;
  const bool track = inSync && changes.haveLast && changes.last == settings && changes.Due();
  changes.useBands = false;
  PlaceAndStamp(progress, shape, props, destRect, pixelAspect, seed, layer, area,
                track ? &changes : nullptr);
  Paint(progress, props, destRect, pixelAspect, layer, area, track && changes.useBands);
  ProgressSubRange range(progress, 2);
  range.Advance(1);
  changes.last = settings;
  changes.haveLast = true;
  changes.inSync = inSync;
}

void K_InteractRenderer::RenderTips(GX_ProgressInfo* progress, K_Shape* shape,
                                    const K_StrokeGlobalProperties& props,
                                    const V_Rect& destRect, double pixelAspect, int32_t seed,
                                    GX_LayerDef* layer, V_Rect* area) {
  // What this call stamps is composited, if at all, where the host chooses.
  maskChanges->begun = true;
  Unsettle();
  PlaceAndStamp(progress, shape, props, destRect, pixelAspect, seed, layer, area, nullptr);
}

void K_InteractRenderer::PlaceAndStamp(GX_ProgressInfo* progress, K_Shape* shape,
                                       const K_StrokeGlobalProperties& props,
                                       const V_Rect& destRect, double pixelAspect, int32_t seed,
                                       GX_LayerDef* layer, V_Rect* area, Kp_MaskChanges* changes) {
  V_Rect local;
  if (!area) area = &local;
  Kp_WorkingFrame frame(destRect, layer, nullptr);
  ProgressSubRange range(progress, 2);
  if (frame.clipped.IsEmpty()) {
    // destRect misses the layer: nothing to stamp, and placement stays where it was so
    // a later call over the layer continues the stroke from there.
    *area = V_Rect();
    return;
  }
  Kp_StrokeTipLocsAndParams tips;
  SpareTips spare(&tips.tips);
  shape->GetTipParamsList(progress, &frame.destMoved, pixelAspect, &props,
                          tipLocationCache.get(), &tips);
  range.Advance(1);
  StampTips(progress, tips, props, depth != 8, frame.clipped, pixelAspect, seed, area, changes);
  if (!tips.tips.empty()) lastTipTime = tips.tips.back().time;
  if (JOT_HasSink()) {
    char text[96];
    std::snprintf(text, sizeof text, "%zu tips placed, area %d x %d", tips.tips.size(),
                  area->Width(), area->Height());
    JOT_Log(10, "K", "RenderTips", text);
  }
  // NOTE: an empty area stays {0, 0, 0, 0}; its coordinates carry no meaning.
  if (!area->IsEmpty()) *area = V_OffsetRect(*area, -frame.destMoved.left, -frame.destMoved.top);
}

// Paint compositing
// ============================================================================

void K_InteractRenderer::RenderPaint(GX_ProgressInfo* progress,
                                     const K_StrokeGlobalProperties& props,
                                     const V_Rect& destRect, double pixelAspect,
                                     GX_LayerDef* layer, V_Rect* area) {
  maskChanges->begun = true;
  Unsettle();
  Paint(progress, props, destRect, pixelAspect, layer, area, false);
}

void K_InteractRenderer::Paint(GX_ProgressInfo* progress, const K_StrokeGlobalProperties& props,
                               const V_Rect& destRect, double pixelAspect, GX_LayerDef* layer,
                               V_Rect* area, bool banded) {
  V_Rect local;
  if (!area) area = &local;
  if (area->IsEmpty()) return;
  Kp_WorkingFrame frame(destRect, layer, preStrokeBuffer.get());
  if (frame.clipped.IsEmpty()) {
    *area = V_Rect();
    return;
  }
  AreaInFrame inFrame(area, frame.destMoved);

  if (lazyCopyPreStroke) {
    auto* copier = dynamic_cast<GX_LazyWorldCopyOperator*>(lazyCopyPreStroke->GetOperator());
    KSTROKE_CHECK(copier != nullptr, "NULL copy operator while rendering paint.");
    copier->SetSourceLayer(layer);
  }
  if (!paintMask) return;

  auto* filler = dynamic_cast<GX_LazyFillUnoBufferOperator*>(paintMask->GetOperator());
  KSTROKE_CHECK(filler != nullptr, "Unable to access paint fill buffer operator.");
  GX_UnoBuffer* maskBuffer = filler->GetBuffer();
  KSTROKE_CHECK(maskBuffer != nullptr, "Unable to access paint buffer.");

  std::unique_ptr<GX_UnoBuffer> floatMask;
  const GX_UnoBuffer* mask = maskBuffer;
  // A source that reads the deep mask as float coverage itself gets it as it is; the
  // others get the converted mask: a zeroed buffer (from the host's pool of cleared
  // blocks) with an ink map, where only the cells the mask has inked are converted and
  // marked, so the composite passes over the rest of the area, where the mask is 0 and
  // the float mask 0.0 as well.
  if (depth == 32 && !(paintSource && paintSource->TakesDeepMaskOnFloat(props.transferMode))) {
    floatMask.reset(new GX_UnoBuffer(maskBuffer->GetWidth(), maskBuffer->GetHeight(), 32,
                                     GX_UnoBuffer::kZeroed));
    if (!floatMask) throw std::bad_alloc();
    if (banded) {
      for (const V_LRect& band : maskChanges->bands)
        ConvertInkedToFloat(nullptr, *maskBuffer, band, floatMask.get());
    } else {
      ConvertInkedToFloat(progress, *maskBuffer, Kp_ToLRect(*area), floatMask.get());
    }
    mask = floatMask.get();
  }
  CompositePaint(progress, props, frame.second, frame.destMoved, frame.clipped, pixelAspect,
                 mask, frame.dest, area, banded);
}

void K_InteractRenderer::CompositePaint(GX_ProgressInfo* progress,
                                        const K_StrokeGlobalProperties& props,
                                        GX_LayerDef* preStroke, const V_Rect& destMoved,
                                        const V_Rect& clipped, double pixelAspect,
                                        const GX_UnoBuffer* mask, GX_LayerDef* dest,
                                        V_Rect* area, bool banded) {
  if (area->IsEmpty()) return;
  KSTROKE_CHECK(paintSource != nullptr, "A stroke with paint needs a paint source.");
  const K_Transform transform = TransformOf(props, pixelAspect);

  // One rectangle: the area, or each band of it the call changed (mask_changes.h).
  const auto composite = [&](GX_ProgressInfo* report, V_Rect* part) {
    if (lazyCopyPreStroke) {
      KSTROKE_HOST(lazyCopyPreStroke->MakeValid(
          Kp_ToLRect(V_OffsetRect(*part, -destMoved.left, -destMoved.top))));
      const auto* clone = dynamic_cast<const K_ClonePaintSource*>(paintSource.get());
      if (clone && preStroke) {
        // A clone that samples the layer it paints into must read the pre-stroke pixels
        // under its source region, rounded to whole pixels as the clone reads them.
        V_Vector2T<double> offset;
        (void)clone->WillSampleInPlace(transform, destMoved, &offset);
        const int32_t sx = static_cast<int32_t>(std::floor(offset.x + 0.5));
        const int32_t sy = static_cast<int32_t>(std::floor(offset.y + 0.5));
        KSTROKE_HOST(
            lazyCopyPreStroke->ConditionalMakeValid(Kp_ToLRect(V_OffsetRect(*part, -sx, -sy))));
      }
    }
    if (preStroke && restoreFromPreStroke)
      paintSource->RenderOver(preStroke, report, destMoved, clipped, mask, 1.0, transform, props.transferMode,
                              props.targetChannel, 0, part, dest);
    else
      paintSource->Render(report, destMoved, clipped, mask, 1.0, transform, props.transferMode,
                          props.targetChannel, 0, part, dest);
  };
  if (!banded) {
    composite(progress, area);
    return;
  }
  // The area the host is told of stays the whole area: what it shows there is current.
  const auto& bands = maskChanges->bands;
  ProgressSubRange steps(progress, static_cast<int32_t>(bands.size()));
  for (size_t k = 0; k < bands.size(); ++k) {
    const V_LRect& band = bands[k];
    V_Rect part{int16_t(band.top), int16_t(band.left), int16_t(band.bottom), int16_t(band.right)};
    composite(progress, &part);
    steps.Advance(static_cast<int32_t>(k + 1));
  }
}
