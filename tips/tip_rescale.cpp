// SPDX-License-Identifier: MIT
// Resampling a tip's bitmap in place through its MIP pyramid and the tip rasterizer.
#include <cmath>
#include <cstdio>
#include <memory>

#include "frame/errors.h"
#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"

namespace {

constexpr double kMaxRescaledSide = 30000.0;

/// Rejects a factor the new size cannot be built from, naming the axis and value.
void CheckFactor(const char* axis, double factor, int32_t side) {
  char message[160];
  if (!(std::isfinite(factor) && factor > 0)) {
    std::snprintf(message, sizeof message, "tip rescale factor %s = %g is not a positive finite number",
                  axis, factor);
    KSTROKE_CHECK(false, message);
  }
  if (std::ceil(side * factor) > kMaxRescaledSide) {
    std::snprintf(message, sizeof message, "tip rescale factor %s = %g makes the tip wider than 30000",
                  axis, factor);
    KSTROKE_CHECK(false, message);
  }
}

}  // namespace

void K_BrushTip::Rescale(V_Vector2T<double> scale) {
  if (scale.x == 1.0 && scale.y == 1.0) return;
  const int32_t w = tipBuffer->GetWidth();
  const int32_t h = tipBuffer->GetHeight();
  CheckFactor("x", scale.x, w);
  CheckFactor("y", scale.y, h);

  K_BrushMIPMap map(*this);
  const int32_t newW = static_cast<int16_t>(std::ceil(w * scale.x));
  const int32_t newH = static_cast<int16_t>(std::ceil(h * scale.y));
  std::unique_ptr<GX_UnoBuffer> fresh(new GX_UnoBuffer(newW, newH, IsDeep() ? 16 : 8));
  if (!fresh) throw std::bad_alloc();
  KSTROKE_HOST(IsDeep() ? GX_FillDeepUnoBuffer(0, fresh.get()) : GX_FillUnoBuffer(0, fresh.get()));
  map.SetTransform(scale, 0.0, 1.0, 1.0, {newW * 0.5, newH * 0.5});
  map.RenderInto(*fresh);
  delete tipBuffer;
  tipBuffer = fresh.release();
}
