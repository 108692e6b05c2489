// SPDX-License-Identifier: MIT
// The clone source's pixels, checkout and ownership. Geometry is in clone_geometry.cpp.
//
// A pixel request either reads the source in place (a whole-pixel shift: reference the
// source's pixels, or copy them into a transparent-padded world for transfer mode -2)
// or resamples the source through the source-to-destination matrix into a new world.
// The result is cached only to keep it alive until the next request.
#include "kstroke/clone_paint_source.h"

#include <cmath>
#include <string>

#include "frame/errors.h"
#include "host/gx/gx_channels.h"
#include "host/gx/gx_transform.h"
#include "sources/source_support.h"

namespace {

// Transfer mode whose in-place copy must cover the whole area, padding with
// transparent pixels where the source ends.
constexpr int32_t kPaddedCopyMode = -2;
// Mode of the plain copy GX_TransformWorld resamples with.
constexpr int32_t kResampleCopyMode = 2;
// Destination pixels no source pixel reaches stay transparent.
constexpr int32_t kResampleEdgeMode = 1;

}  // namespace

// Construction, copying and ownership
// ============================================================================

K_ClonePaintSource::K_ClonePaintSource(const GX_LinearBlendingTables* tables,
                                       GX_World* sourceWorld_, V_Rect sourceRect_)
    : K_PixelBasedPaintSource(tables),
      sourceWorld(sourceWorld_),
      sourcePixelAspect(1.0),
      sourcePoint(0.0, 0.0),
      sourceRect(sourceRect_),
      untransformed(true) {}

K_ClonePaintSource::K_ClonePaintSource(const GX_LinearBlendingTables* tables,
                                       GX_World* sourceWorld_, double sourcePixelAspect_,
                                       V_Vector2T<double> sourcePoint_, V_Rect sourceRect_)
    : K_PixelBasedPaintSource(tables),
      sourceWorld(sourceWorld_),
      sourcePixelAspect(sourcePixelAspect_),
      sourcePoint(sourcePoint_),
      sourceRect(sourceRect_),
      untransformed(false) {}

K_ClonePaintSource::K_ClonePaintSource(K_ClonePaintSource& other)
    : K_PixelBasedPaintSource(other),
      sourceWorld(other.sourceWorld),
      sourcePixelAspect(other.sourcePixelAspect),
      sourcePoint(other.sourcePoint),
      sourceRect(other.sourceRect),
      untransformed(other.untransformed),
      ownedObjects(other.ownedObjects),
      checkoutManager(other.checkoutManager) {
  pixelCache.swap(other.pixelCache);
  channelCache.swap(other.channelCache);
}

K_ClonePaintSource& K_ClonePaintSource::operator=(K_ClonePaintSource& other) {
  if (this == &other) return *this;
  K_PixelBasedPaintSource::operator=(other);
  sourceWorld = other.sourceWorld;
  sourcePixelAspect = other.sourcePixelAspect;
  sourcePoint = other.sourcePoint;
  sourceRect = other.sourceRect;
  untransformed = other.untransformed;
  pixelCache.reset();
  channelCache.reset();
  pixelCache.swap(other.pixelCache);
  channelCache.swap(other.channelCache);
  ownedObjects = other.ownedObjects;
  checkoutManager = other.checkoutManager;
  return *this;
}

K_ClonePaintSource::~K_ClonePaintSource() = default;

void K_ClonePaintSource::SetSourceWorld(GX_World* world, V_Vector2T<int16_t> origin) {
  sourceWorld = world;
  sourceRect = V_OffsetRect(sourceRect, origin.x - sourceRect.left, origin.y - sourceRect.top);
}

void K_ClonePaintSource::SetCheckoutManager(boost::shared_ptr<K_CheckoutManager> manager) {
  checkoutManager = manager;
}

void K_ClonePaintSource::DoLayerCheckout() {
  if (checkoutManager) checkoutManager->CheckOut(this);
}

void K_ClonePaintSource::DoLayerCheckin() const {
  if (checkoutManager) checkoutManager->CheckIn();
}

void K_ClonePaintSource::OwnObject(boost::shared_ptr<void> object) {
  ownedObjects.push_back(object);
}

// Pixel requests
// ============================================================================

const GX_World* K_ClonePaintSource::GetPixelSource(GX_ProgressInfo* progress,
                                                   const V_Rect& layerRect,
                                                   const V_Rect& boundsRect,
                                                   const K_Transform& transform, int16_t depth,
                                                   int32_t transferMode, V_Rect* area) const {
  V_Vector2T<double> offset;
  if (WillSampleInPlace(transform, layerRect, &offset)) {
    // The same rounding as the renderer's pre-stroke copy of a clone's source.
    const int32_t dx = static_cast<int32_t>(std::floor(offset.x + 0.5));
    const int32_t dy = static_cast<int32_t>(std::floor(offset.y + 0.5));
    *area = V_OffsetRect(*area, -dx, -dy);  // now in source pixels
    if (lazyCopy)
      KSTROKE_HOST(lazyCopy->MakeValid(
          V_OffsetRect(V_ClipRect(*area, boundsRect), -layerRect.left, -layerRect.top)));
    V_Rect sourceBounds;
    if (sourceWorld) {
      sourceBounds.bottom = static_cast<int16_t>(sourceWorld->Height());
      sourceBounds.right = static_cast<int16_t>(sourceWorld->Width());
    }
    V_Rect c = V_IntersectRect(*area, sourceBounds);

    if (transferMode == kPaddedCopyMode && !area->IsEmpty() && c != *area) {
      pixelCache.reset();
      pixelCache.reset(GX_World::New(area->Width(), area->Height(), depth, 0));
      const V_Rect inCache = V_OffsetRect(c, -area->left, -area->top);
      if (sourceWorld)
        KSTROKE_HOST(GX_CopyBits_Draft(progress, sourceWorld->GetLayer(), pixelCache->GetLayer(),
                                       Kp_ToLRect(c), Kp_ToLRect(inCache)));
      KSTROKE_HOST(GX_ClearAlphaExceptRect(progress, Kp_ToLRect(inCache), pixelCache->GetLayer()));
      c = *area;
    } else {
      pixelCache.reset();
      // Without a source the area shrinks to nothing and no world is needed.
      if (sourceWorld) pixelCache.reset(GX_World::NewReference(sourceWorld, c));
    }
    *area = V_OffsetRect(c, dx, dy);
    return pixelCache.get();
  }

  V_Matrix3 m =
      GetSourceToDestTransform(sourcePoint, sourcePixelAspect, transform, sourceRect, layerRect);
  m.Translate(-area->left, -area->top);
  const int32_t width = area->Width(), height = area->Height();
  pixelCache.reset();
  pixelCache.reset(GX_World::New(width, height, depth, 0));
  KSTROKE_HOST(GX_ClearAlphaExceptRect(nullptr, V_LRect{0, 0, 0, 0}, pixelCache->GetLayer()));
  GX_TransferSettings settings;
  settings.mode = kResampleCopyMode;
  settings.colourOnly = 0;
  settings.opacity = 1.0f;
  KSTROKE_HOST(GX_TransformWorld(nullptr, 1, 1, 0, sourceWorld ? sourceWorld->GetLayer() : nullptr,
                                 settings, nullptr, nullptr, m, kResampleEdgeMode, true,
                                 V_LRect{0, 0, width, height}, pixelCache->GetLayer()));
  return pixelCache.get();
}

const GX_UnoBuffer* K_ClonePaintSource::GetSingleChannelPixelSource(
    GX_ProgressInfo* progress, const V_Rect& layerRect, const V_Rect& boundsRect,
    const K_Transform& transform, int16_t depth, int32_t transferMode,
    const V_Rect* maskRect) const {
  V_Rect r = *maskRect;
  const GX_World* src =
      GetPixelSource(progress, layerRect, boundsRect, transform, depth, transferMode, &r);
  channelCache.reset();
  channelCache.reset(Kp_Checked(new GX_UnoBuffer(maskRect->Width(), maskRect->Height(), depth)));
  GX_UnoBuffer* buffer = channelCache.get();
  if ((!maskRect->IsEmpty() || !r.IsEmpty()) && r != *maskRect) {
    switch (depth) {
      case 8:
        KSTROKE_HOST(GX_FillUnoBuffer(0, buffer));
        break;
      case 16:
        KSTROKE_HOST(GX_FillDeepUnoBuffer(0, buffer));
        break;
      case 32:
        KSTROKE_HOST(GX_FillFloatUnoBuffer(0.0f, buffer));
        break;
      default:
        break;
    }
  }
  if (!src || r.IsEmpty()) return buffer;

  const GX_LayerDef& layer = *src->GetLayer();
  const int32_t srcDepth = GXp_WorldDepth(&layer);
  Kp_CheckDepth(srcDepth);
  // A source of another depth than the buffer would be read with the wrong sample
  // size and overrun the buffer.
  if (srcDepth != depth) {
    const std::string message = "clone source depth " + std::to_string(srcDepth) +
                                " differs from destination depth " + std::to_string(depth);
    Kp_FailCheck(0, __LINE__, message.c_str());
  }
  Kp_DispatchDepth(srcDepth, [&](auto tag) {
    using T = typename decltype(tag)::Sample;
    KSTROKE_HOST(GX_Deinterleave1<T>(layer.data, 4 * int32_t(sizeof(T)), layer.rowBytes,
                                     buffer->GetData(), buffer->GetRowBytes(),
                                     V_Vector2T<int32_t>(r.Width(), r.Height()), V_LPoint{0, 0},
                                     V_LPoint{r.left, r.top}));
  });
  return buffer;
}
