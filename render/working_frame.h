// SPDX-License-Identifier: MIT
// The working frame shared by both render phases: destRect clipped to the layer, with
// sub-world references on the clipped part that are released on every exit.
#pragma once

#include <memory>

#include "host/gx/gx.h"
#include "host/v/v.h"

struct Kp_WorkingFrame {
  /// Clips `destRect` to `layer`. When the clipped rectangle is the whole layer, the
  /// layer itself is the frame; otherwise `dest` (and `second`, when a second world is
  /// given) are sub-world references on the clipped part and both rectangles are moved
  /// so that the clipped one starts at (0, 0). When destRect misses the layer, `clipped`
  /// is empty (all zero) and `dest` is the layer itself: nothing may be drawn.
  Kp_WorkingFrame(const V_Rect& destRect, GX_LayerDef* layer, GX_World* secondWorld);

  V_Rect clipped;        ///< working frame bounds, origin (0, 0); empty when off the layer
  V_Rect destMoved;      ///< destRect in working-frame coordinates
  GX_LayerDef* dest;     ///< the destination to draw into
  GX_LayerDef* second;   ///< the second world's layer (null without one)

private:
  std::unique_ptr<GX_World> destSub;
  std::unique_ptr<GX_World> secondSub;
};

inline V_LRect Kp_ToLRect(const V_Rect& r) { return V_LRect{r.left, r.top, r.right, r.bottom}; }
