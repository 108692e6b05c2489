// SPDX-License-Identifier: MIT
// The general paint-source render: the concrete source supplies pixels, this file
// composites them through the paint mask with the host's blend operations.
//
// Two paths. Composite (target channels 1 and 2): the source's four-channel world is
// transferred through a mask world whose alpha is the paint mask. Single channel
// (the other targets): the destination's alpha plane is pulled into a one-channel
// buffer, the source's one-channel value is blended into it through the mask, and the
// plane is written back. Progress is split into three equal phases (source pixels,
// mask preparation, transfer) by one ProgressSubRange, which also restores the host's
// record on every way out.
#include "kstroke/paint_source.h"

#include <boost/scoped_ptr.hpp>

#include "frame/errors.h"
#include "host/gx/gx_channels.h"
#include "kstroke/progress.h"
#include "sources/source_support.h"

K_PaintSource::~K_PaintSource() = default;

bool K_PaintSource::TakesDeepMaskOnFloat(int32_t) const { return false; }

void K_PaintSource::RenderOver(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
                               const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
                               const K_Transform& transform, int32_t transferMode, K_TargetChannel targetChannel,
                               int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const {
  if (base) (void)GX_CopyBits_Draft(progress, base, dest, Kp_ToLRect(*area), Kp_ToLRect(*area));
  Render(progress, layerRect, boundsRect, paintMask, opacity, transform, transferMode, targetChannel,
         transferParam, area, dest);
}

void K_PaintSource::SetLazyCopy(boost::shared_ptr<GX_LazyTilesCondition> copy) const {
  lazyCopy = copy;
}

K_PixelBasedPaintSource::K_PixelBasedPaintSource(const GX_LinearBlendingTables* tables)
    : blendingTables(tables) {}

K_PixelBasedPaintSource::~K_PixelBasedPaintSource() = default;

bool K_PixelBasedPaintSource::IsComposite(K_TargetChannel channel) {
  return channel == K_TargetChannel_RGBA || channel == K_TargetChannel_RGB;
}

namespace {

constexpr int32_t kRenderPhases = 3;
// Host single-channel blend mode used to lay the source value into the alpha plane.
constexpr int32_t kUnoTransferMode = 2;
// Flags for the mask world; passed as the host expects them.
constexpr int32_t kMaskWorldFlags = 4;

// Alpha plane out of / into the destination region, for the depth's element type.
void AlphaPlaneOut(int32_t depth, const GX_LayerDef& dest, GX_UnoBuffer* plane,
                   const V_LPoint& srcOrigin) {
  const V_Vector2T<int32_t> size(plane->GetWidth(), plane->GetHeight());
  Kp_DispatchDepth(depth, [&](auto tag) {
    using T = typename decltype(tag)::Sample;
    KSTROKE_HOST(GX_Deinterleave1<T>(dest.data, 4 * int32_t(sizeof(T)), dest.rowBytes,
                                     plane->GetData(), plane->GetRowBytes(), size, srcOrigin,
                                     V_LPoint{0, 0}));
  });
}

void AlphaPlaneIn(int32_t depth, const GX_UnoBuffer& plane, GX_LayerDef* dest,
                  const V_LPoint& dstOrigin) {
  const V_Vector2T<int32_t> size(plane.GetWidth(), plane.GetHeight());
  Kp_DispatchDepth(depth, [&](auto tag) {
    using T = typename decltype(tag)::Sample;
    KSTROKE_HOST(GX_Interleave1to4<T>(plane.GetData(), plane.GetRowBytes(), dest->data,
                                      dest->rowBytes, size, V_LPoint{0, 0}, dstOrigin));
  });
}

}  // namespace

void K_PixelBasedPaintSource::Render(GX_ProgressInfo* progress, const V_Rect& layerRect,
                                     const V_Rect& boundsRect, const GX_UnoBuffer* paintMask,
                                     double opacity, const K_Transform& transform,
                                     int32_t transferMode, K_TargetChannel targetChannel,
                                     int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const {
  if (area->IsEmpty()) return;
  KSTROKE_CHECK(paintMask && dest, "paint render without a paint mask or a destination");
  ProgressSubRange phases(progress, kRenderPhases);

  const int32_t depth = GXp_WorldDepth(dest);
  if (lazyCopy)
    KSTROKE_HOST(lazyCopy->MakeValid(V_OffsetRect(*area, -layerRect.left, -layerRect.top)));
  Kp_CheckDepth(depth);
  Kp_CheckMaskDepth(*paintMask, depth);
  // The host's channel moves do not clip: the mask must cover the area.
  KSTROKE_CHECK(area->left >= 0 && area->top >= 0 && area->right <= paintMask->GetWidth() &&
                    area->bottom <= paintMask->GetHeight(),
                "paint area exceeds the paint mask");
  const int16_t depth16 = static_cast<int16_t>(depth);

  const bool composite = IsComposite(targetChannel) || !SupportsSingleChannel();
  if (!composite) {
    V_Rect maskRect;
    maskRect.bottom = static_cast<int16_t>(paintMask->GetHeight());
    maskRect.right = static_cast<int16_t>(paintMask->GetWidth());
    const GX_UnoBuffer* value = GetSingleChannelPixelSource(
        progress, layerRect, boundsRect, transform, depth16, transferMode, &maskRect);
    const int32_t x0 = boundsRect.left + area->left, y0 = boundsRect.top + area->top;
    KSTROKE_CHECK(x0 >= 0 && y0 >= 0 && x0 + area->Width() <= dest->width &&
                      y0 + area->Height() <= dest->height,
                  "paint area exceeds the destination layer");
    boost::scoped_ptr<GX_UnoBuffer> plane(
        Kp_Checked(new GX_UnoBuffer(area->Width(), area->Height(), depth)));
    const V_LPoint origin{x0, y0};
    AlphaPlaneOut(depth, *dest, plane.get(), origin);
    KSTROKE_HOST(GX_TransferUnoBuffers(progress, value, paintMask, kUnoTransferMode,
                                       Kp_ToLRect(*area), V_LPoint{0, 0}, plane.get()));
    AlphaPlaneIn(depth, *plane, dest, origin);
    return;
  }

  const GX_World* src =
      GetPixelSource(progress, layerRect, boundsRect, transform, depth16, transferMode, area);
  if (area->IsEmpty()) return;
  phases.Advance(1);

  const int32_t width = area->Width(), height = area->Height();
  boost::scoped_ptr<GX_World> maskWorld(GX_World::New(width, height, depth, kMaskWorldFlags));
  GX_MaskRecord mask;
  mask.layer = *maskWorld->GetLayer();
  mask.x = boundsRect.left + area->left;
  mask.y = boundsRect.top + area->top;
  mask.flags = 0;
  const GX_LayerDef& maskLayer = *maskWorld->GetLayer();
  Kp_DispatchDepth(depth, [&](auto tag) {
    using T = typename decltype(tag)::Sample;
    KSTROKE_HOST(GX_Interleave1to4<T>(
        paintMask->GetData(), paintMask->GetRowBytes(), maskLayer.data, maskLayer.rowBytes,
        V_Vector2T<int32_t>(width, height), V_LPoint{area->left, area->top}, V_LPoint{0, 0}));
  });
  phases.Advance(2);

  GX_TransferSettings settings;
  settings.mode = transferMode;
  settings.param = transferParam;
  settings.colourOnly = targetChannel == K_TargetChannel_RGB ? 1 : 0;
  settings.opacity = static_cast<float>(opacity);
  KSTROKE_HOST(GX_TransferRect(progress, 1, 1, 0, V_LRect{0, 0, width, height},
                               src ? src->GetLayer() : nullptr, settings, blendingTables, &mask,
                               boundsRect.left + area->left, boundsRect.top + area->top, dest));
}
