// SPDX-License-Identifier: MIT
// Tip stamping: the dab loop of RenderTips.
//
// The tip is computed at the resolution of the less stretched axis (AdjustTipScale),
// kept from call to call while the brush stays the same (render/tip_cache.h), and
// drawn per dab through its MIP map into a scratch buffer of the
// tip's maximum extent, which is then accumulated into the lazy-tiled paint mask with
// the dab's opacity and flow; an opaque unrotated dab raises the mask in place instead
// (K_BrushMIPMap::RaiseInto), which comes to the same. Placement repeats the previous
// call's last tip, so that dab is taken back first: the mask under it was saved before
// it was stamped.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "frame/errors.h"
#include "host/gx/gx_accumulate.h"
#include "host/gx/gx_lazy.h"
#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"
#include "kstroke/interact_renderer.h"
#include "kstroke/progress.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "stroke/tip_placement.h"
#include "render/mask_changes.h"
#include "render/tip_cache.h"
#include "render/working_frame.h"

namespace {

// A dab is never more than this many pixels across along either axis.
constexpr double kMaxDabDiameter = 2500.0;
// Scales whose magnitude is below this count as zero: nothing is stamped.
constexpr double kZeroScale = 1e-12;

struct AdjustedTip {
  double diameter;
  V_Vector2T<double> scale;
};

// Computes the tip at the resolution of the less stretched axis and leaves only the
// remaining stretch in the scale; never below one pixel.
AdjustedTip AdjustTipScale(double diameter, V_Vector2T<double> scale) {
  const double ax = std::fabs(scale.x), ay = std::fabs(scale.y);
  diameter = std::min({diameter, kMaxDabDiameter / ax, kMaxDabDiameter / ay});
  const double m = std::min(ax, ay);
  if (!(m >= kZeroScale)) Kp_ThrowCode(Vp_ReportErr("tip scale divided by zero"));
  diameter *= m;
  scale.x /= m;
  scale.y /= m;
  if (diameter < 1.0) {
    scale.x *= diameter;
    scale.y *= diameter;
    diameter = 1.0;
  }
  return {diameter, scale};
}

// Copies a rectangle of samples between two single-channel buffers of one depth.
void CopySamples(const GX_UnoBuffer& src, int32_t srcX, int32_t srcY, GX_UnoBuffer* dst,
                 int32_t dstX, int32_t dstY, int32_t width, int32_t height) {
  const int32_t bytes = src.GetBytesPerSample();
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(dst->Row<unsigned char>(dstY + y) + std::ptrdiff_t(dstX) * bytes,
                src.Row<unsigned char>(srcY + y) + std::ptrdiff_t(srcX) * bytes,
                std::size_t(width) * bytes);
}

// Clears the samples of `r` (clipped to the buffer) to 0, and perhaps some beside it in
// the rows it spans. A small dab's rows are a few bytes each, and a call per row cost
// more than clearing them: while the rows' whole span is not much more than the rows,
// it goes in one call. The scratch buffer's other samples are not read.
void ClearSamples(GX_UnoBuffer* buffer, const V_Rect& r) {
  const V_Rect in = V_IntersectRect(r, V_Rect{0, 0, int16_t(buffer->GetHeight()), int16_t(buffer->GetWidth())});
  if (in.IsEmpty()) return;
  const int32_t bytes = buffer->GetBytesPerSample();
  const std::size_t row = std::size_t(in.right - in.left) * std::size_t(bytes);
  const std::size_t rows = std::size_t(in.bottom - in.top);
  unsigned char* first = buffer->Row<unsigned char>(in.top) + std::ptrdiff_t(in.left) * bytes;
  const std::size_t span = (rows - 1) * std::size_t(buffer->GetRowBytes()) + row;
  if (span <= 2 * rows * row + 256) {
    std::memset(first, 0, span);
    return;
  }
  for (int32_t y = in.top; y < in.bottom; ++y)
    std::memset(buffer->Row<unsigned char>(y) + std::ptrdiff_t(in.left) * bytes, 0, row);
}

// Asks for the mask lines under `next` that `current` does not cover. A stroke's mask
// comes cold from the pool, and without this nearly every row of a dab raised or
// accumulated into it waits on a miss; asked for while the dab before is drawn, the
// lines arrive in time. Rows the two boxes share miss only beyond the current box's
// columns.
void PrefetchDabLines(const GX_UnoBuffer& mask, const V_LRect& next, const V_LRect& current) {
  const int32_t bytes = mask.GetBytesPerSample();
  const int32_t left = std::max(next.left, 0), right = std::min(next.right, mask.GetWidth());
  if (right <= left) return;
  const auto lines = [&](int32_t y, int32_t x0, int32_t x1) {  // samples [x0, x1)
    if (x1 <= x0) return;
    const auto* row = mask.Row<unsigned char>(y);
    const auto first = reinterpret_cast<std::uintptr_t>(row + std::ptrdiff_t(x0) * bytes) & ~std::uintptr_t(63);
    const auto end = reinterpret_cast<std::uintptr_t>(row + std::ptrdiff_t(x1) * bytes);
    for (std::uintptr_t a = first; a < end; a += 64)
      __builtin_prefetch(reinterpret_cast<const void*>(a), 1);
  };
  const int32_t bottom = std::min(next.bottom, mask.GetHeight());
  for (int32_t y = std::max(next.top, 0); y < bottom; ++y) {
    if (y < current.top || y >= current.bottom) {
      lines(y, left, right);
    } else {
      lines(y, left, std::min(right, current.left));
      lines(y, std::max(left, current.right), right);
    }
  }
}

template <class T>
T* NewTracked(T* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void K_InteractRenderer::StampTips(GX_ProgressInfo* progress,
                                   const Kp_StrokeTipLocsAndParams& list,
                                   const K_StrokeGlobalProperties& props, bool deep,
                                   const V_Rect& clipped, double pixelAspect, int32_t seed,
                                   V_Rect* area, Kp_MaskChanges* changes) {
  ProgressSubRange range(progress, 4);
  *area = V_Rect();
  const auto& tips = list.tips;
  if (tips.empty() || std::fabs(props.scale.x) < kZeroScale ||
      std::fabs(props.scale.y) < kZeroScale)
    return;
  range.Advance(1);

  if (!paintMask) {
    boost::scoped_ptr<GX_UnoBuffer> buffer(
        NewTracked(new GX_UnoBuffer(clipped.Width(), clipped.Height(), deep ? 16 : 8,
                                    GX_UnoBuffer::kZeroed)));
    boost::scoped_ptr<GX_LazyOperator> op(
        NewTracked(new GX_LazyFillUnoBufferOperator(&buffer, 0)));
    paintMask.reset(NewTracked(new GX_LazyTiles(GX_LazyTiles::kDefaultTileSize, &op)));
  }
  range.Advance(2);

  auto* filler = dynamic_cast<GX_LazyFillUnoBufferOperator*>(paintMask->GetOperator());
  KSTROKE_CHECK(filler != nullptr, "Unable to access paint fill buffer.");
  GX_UnoBuffer* mask = filler->GetBuffer();
  KSTROKE_CHECK(mask != nullptr, "Unable to access paint buffer.");

  const AdjustedTip adjusted =
      AdjustTipScale(props.diameter, V_Vector2T<double>(props.scale.x, props.scale.y));
  tipCache->Prepare(Kp_TipCache::Key{adjusted.diameter, props.hardness, props.roundness,
                                     props.dither, deep, seed});
  const K_ComputedBrushTip* tip = &tipCache->Tip();
  K_BrushMIPMap& mip = tipCache->Map();
  const V_Vector2T<short> extent = tip->GetMaximumExtent(pixelAspect, adjusted.scale);
  const int32_t halfX = static_cast<int32_t>(extent.x * 0.5);
  const int32_t halfY = static_cast<int32_t>(extent.y * 0.5);
  // A dab's box starts here, wrapped to 16 bits as the box's edges are; the kept
  // rectangle below must cover every box the loop writes.
  const auto corner = [&](const Kp_TipLocAndParams& t) {
    return V_LPoint{static_cast<int16_t>(static_cast<int32_t>(t.location.x) - halfX),
                    static_cast<int16_t>(static_cast<int32_t>(t.location.y) - halfY)};
  };

  if (changes) {
    // Everything the call may write: the provisional dab taken back and each dab's box,
    // cut as the loop below cuts it.
    V_LRect reach{0, 0, 0, 0};
    const auto add = [&](const V_LRect& r) {
      if (r.right <= r.left || r.bottom <= r.top) return;
      reach = reach.right <= reach.left
                  ? r
                  : V_LRect{std::min(reach.left, r.left), std::min(reach.top, r.top),
                            std::max(reach.right, r.right), std::max(reach.bottom, r.bottom)};
    };
    if (lastTipBackup) add(lastTipRect);
    for (const Kp_TipLocAndParams& t : tips) {
      const V_LPoint c = corner(t);
      add(V_LRect{std::max(c.x, 0), std::max(c.y, 0), std::min(c.x + extent.x, mask->GetWidth()),
                  std::min(c.y + extent.y, mask->GetHeight())});
    }
    KSTROKE_HOST(paintMask->MakeValid(reach));
    changes->Keep(*mask, reach);
  }

  {
    ProgressSubRange dabs(progress, 100);
    if (lastTipBackup) {
      mask->MarkInk(lastTipRect);
      CopySamples(*lastTipBackup, 0, 0, mask, lastTipRect.left, lastTipRect.top,
                  lastTipRect.right - lastTipRect.left, lastTipRect.bottom - lastTipRect.top);
      // The mask changed there, whether or not a dab of this call covers it again.
      if (lastTipRect.right > lastTipRect.left && lastTipRect.bottom > lastTipRect.top)
        *area = V_Rect{int16_t(lastTipRect.top), int16_t(lastTipRect.left),
                       int16_t(lastTipRect.bottom), int16_t(lastTipRect.right)};
    }
    bool backedUp = false;
    const uint32_t n = static_cast<uint32_t>(tips.size());
    for (uint32_t i = 0; i < n; ++i) {
      // One step of the hundred per share of the tips, so the host sees the dab loop
      // move through its whole part of the call.
      dabs.Advance(static_cast<int32_t>(100u * (i + 1) / n));
      const Kp_TipLocAndParams& t = tips[i];
      const int32_t ix = static_cast<int32_t>(t.location.x);
      const int32_t iy = static_cast<int32_t>(t.location.y);
      const double fx = t.location.x - ix, fy = t.location.y - iy;
      const V_LPoint at = corner(t);
      const int32_t left = at.x, top = at.y;
      V_Rect box;
      box.left = static_cast<int16_t>(left);
      box.top = static_cast<int16_t>(top);
      box.right = static_cast<int16_t>(left + extent.x);
      box.bottom = static_cast<int16_t>(top + extent.y);
      if (V_IntersectRect(box, clipped).IsEmpty()) continue;

      const Kp_TipCache::DabKey drawn{adjusted.scale.x * t.diameter, adjusted.scale.y * t.diameter,
                                      props.angle - (t.angle + props.rotation), t.roundness, pixelAspect,
                                      halfX + fx, halfY + fy, extent.x, extent.y};
      mip.SetTransform(V_Vector2T<double>(drawn.scaleX, drawn.scaleY), drawn.angle, drawn.roundness,
                       drawn.aspect, V_Vector2T<double>(drawn.centreX, drawn.centreY));
      if (i + 1 < n) {
        const Kp_TipLocAndParams& u = tips[i + 1];
        const int32_t nextLeft = static_cast<int32_t>(u.location.x) - halfX;
        const int32_t nextTop = static_cast<int32_t>(u.location.y) - halfY;
        PrefetchDabLines(*mask, V_LRect{nextLeft, nextTop, nextLeft + extent.x, nextTop + extent.y},
                         V_LRect{left, top, left + extent.x, top + extent.y});
      }
      const V_Rect b = mip.GetRenderedBounds();
      const V_LPoint p{left + b.left, top + b.top};
      V_Rect dab;
      dab.left = static_cast<int16_t>(p.x);
      dab.top = static_cast<int16_t>(p.y);
      dab.right = static_cast<int16_t>(p.x + b.Width());
      dab.bottom = static_cast<int16_t>(p.y + b.Height());
      const V_Rect r = V_IntersectRect(dab, clipped);
      if (r.IsEmpty()) continue;
      KSTROKE_HOST(paintMask->MakeValid(Kp_ToLRect(r)));

      if (i + 1 == n) {
        // The provisional dab: keep the mask as it is without it, so the next call can
        // take it back before stamping the same tip at its final place.
        lastTipRect.left = std::clamp<int32_t>(p.x, 0, mask->GetWidth());
        lastTipRect.top = std::clamp<int32_t>(p.y, 0, mask->GetHeight());
        lastTipRect.right = std::clamp<int32_t>(p.x + b.Width(), 0, mask->GetWidth());
        lastTipRect.bottom = std::clamp<int32_t>(p.y + b.Height(), 0, mask->GetHeight());
        // The backup is as large as the largest dab box so far, not the mask: its rows
        // lie together, where the next call finds them still in cache, not a mask row
        // apart, and a stroke does not hold a second mask-sized buffer for it.
        const int32_t w = lastTipRect.right - lastTipRect.left, h = lastTipRect.bottom - lastTipRect.top;
        if (!lastTipBackup || lastTipBackup->GetWidth() < w || lastTipBackup->GetHeight() < h ||
            lastTipBackup->GetDepth() != mask->GetDepth()) {
          const int32_t keepW = lastTipBackup ? lastTipBackup->GetWidth() : 1;
          const int32_t keepH = lastTipBackup ? lastTipBackup->GetHeight() : 1;
          lastTipBackup.reset(NewTracked(
              new GX_UnoBuffer(std::max(w, keepW), std::max(h, keepH), mask->GetDepth())));
        }
        CopySamples(*mask, lastTipRect.left, lastTipRect.top, lastTipBackup.get(), 0, 0, w, h);
        backedUp = true;
      }
      const float opacity = static_cast<float>(props.opacity * t.opacity);
      const float flow = static_cast<float>(props.flow * t.flow);
      // An opaque dab within the mask raises the mask to itself in place (RaiseInto),
      // which is what drawing it aside and accumulating gives, without the buffer's
      // clearing, writing and reading back. Only the part of its bounds inside the
      // scratch buffer is accumulated (a turned tip's corners reach past it).
      const V_Rect inScratch = V_IntersectRect(b, V_Rect{0, 0, extent.y, extent.x});
      const bool raised =
          GX_AccumulateIsRaise(props.accumulateMode, opacity, flow, mask->GetDepth()) &&
          !inScratch.IsEmpty() && mip.RaiseInto(*mask, V_LPoint{left, top}, inScratch);
      if (raised) {
        mask->MarkInk(V_LRect{p.x, p.y, p.x + b.Width(), p.y + b.Height()});
      } else {
        // Made the first time a dab is drawn aside (opaque strokes may never need it)
        // and kept with the tip, so a dab drawn again as it was is not drawn twice.
        GX_UnoBuffer& scratch = tipCache->Scratch(extent.x, extent.y, deep ? 16 : 8);
        if (!tipCache->Holds(drawn)) {
          tipCache->Forget();
          // Only the dab's bounds are drawn and accumulated, so only they need
          // clearing: a pressure stroke's dabs are often much smaller than the buffer,
          // which is sized for the largest.
          ClearSamples(&scratch, b);
          mip.RenderInto(scratch);
          tipCache->Drew(drawn);
        }
        KSTROKE_HOST(GX_AccumulateUnoBuffers(progress, &scratch, props.accumulateMode, opacity, flow,
                                             Kp_ToLRect(b), p, mask));
      }
      *area = area->IsEmpty() ? r : V_UnionRect(*area, r);
    }
    if (!backedUp) lastTipBackup.reset();
  }
  range.Advance(3);
  *area = V_IntersectRect(*area, clipped);
  KSTROKE_HOST(paintMask->MakeValid(Kp_ToLRect(*area)));
  if (changes) changes->Finish(*mask, Kp_ToLRect(*area));
}
