// SPDX-License-Identifier: MIT
#include "render/working_frame.h"

#include <algorithm>

Kp_WorkingFrame::Kp_WorkingFrame(const V_Rect& destRect, GX_LayerDef* layer,
                                 GX_World* secondWorld)
    : destMoved(destRect), dest(layer), second(secondWorld ? secondWorld->GetLayer() : nullptr) {
  const int32_t layerW = layer->width, layerH = layer->height;
  clipped.top = static_cast<int16_t>(std::max<int32_t>(destRect.top, 0));
  clipped.left = static_cast<int16_t>(std::max<int32_t>(destRect.left, 0));
  clipped.bottom = static_cast<int16_t>(std::min<int32_t>(destRect.bottom, layerH));
  clipped.right = static_cast<int16_t>(std::min<int32_t>(destRect.right, layerW));
  // Nothing of destRect lies on the layer: there is no frame to draw into, and a
  // sub-world of no pixels cannot be made. Callers test clipped.IsEmpty().
  if (clipped.IsEmpty()) {
    clipped = V_Rect();
    return;
  }
  if (clipped.top == 0 && clipped.left == 0 && clipped.bottom == layerH &&
      clipped.right == layerW)
    return;

  {
    std::unique_ptr<GX_World> whole(GX_World::NewReference(layer));
    destSub.reset(GX_World::NewReference(whole.get(), clipped));
  }
  dest = destSub->GetLayer();
  if (secondWorld) {
    secondSub.reset(GX_World::NewReference(secondWorld, clipped));
    second = secondSub->GetLayer();
  }
  const int32_t dx = -clipped.left, dy = -clipped.top;
  clipped = V_OffsetRect(clipped, dx, dy);
  destMoved = V_OffsetRect(destMoved, dx, dy);
}
