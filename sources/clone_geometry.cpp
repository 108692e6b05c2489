// SPDX-License-Identifier: MIT
// Clone source geometry: the source-to-destination matrix, the whole-pixel-shift test
// and the source bounds a destination region needs. The matrix is laid out in
// include/kstroke/clone_paint_source.h.
#include "kstroke/clone_paint_source.h"

#include <cmath>
#include <exception>

#include "frame/errors.h"

namespace {

// Widths are taken in 16-bit arithmetic, as the rectangle stores them, and only then
// widened: a rectangle wider than 32767 wraps exactly as the host's own code does.
double Width16(const V_Rect& r) { return static_cast<int16_t>(r.right - r.left); }
double Height16(const V_Rect& r) { return static_cast<int16_t>(r.bottom - r.top); }

// Tolerances of the in-place test: the transform must be exactly the identity up to
// rounding noise, while the offset may miss a whole pixel by 0.01 (squared: 1e-4).
constexpr double kIdentityEps = 1e-12;
constexpr double kWholePixelDist2 = 0.0001;

bool NearZero(double v) { return v > -kIdentityEps && v < kIdentityEps; }

}  // namespace

V_Matrix3 K_ClonePaintSource::GetSourceToDestTransform(const V_Vector2T<double>& sourcePoint,
                                                       double sourcePixelAspect,
                                                       K_Transform transform,
                                                       const V_Rect& sourceRect,
                                                       const V_Rect& destRect) {
  const double sW = Width16(sourceRect), sH = Height16(sourceRect);
  const double dW = Width16(destRect), dH = Height16(destRect);
  const double s0x = sourceRect.left + sW * sourcePoint.x;
  const double s0y = sourceRect.top + sH * sourcePoint.y;
  // The anchor is measured in destination pixels but applied before the source is
  // made square, so it is brought into source pixels by the aspect ratio of the two;
  // the vertical component gets the same factor.
  const double aspectRatio = transform.pixelAspect / sourcePixelAspect;
  const double ox = dW * transform.anchor.x * aspectRatio;
  const double oy = dH * transform.anchor.y * aspectRatio;

  V_Matrix3 m;
  m.SetIdentity();
  m.Translate(-s0x - ox, -s0y - oy);
  m.Scale(sourcePixelAspect * transform.scale.x, transform.scale.y);
  m.Rotate(transform.rotation);
  m.Scale(1.0 / transform.pixelAspect, 1.0);
  m.Translate(destRect.left + dW * transform.position.x, destRect.top + dH * transform.position.y);
  return m;
}

bool K_ClonePaintSource::WillSampleInPlace(const K_Transform& transform, const V_Rect& destRect,
                                           const V_Rect& sourceRect, double sourcePixelAspect,
                                           const V_Vector2T<double>& sourcePoint,
                                           V_Vector2T<double>* offset) {
  const double sW = Width16(sourceRect), sH = Height16(sourceRect);
  const double dW = Width16(destRect), dH = Height16(destRect);
  const double offX = destRect.left + dW * (transform.position.x - transform.anchor.x) -
                      (sourceRect.left + sW * sourcePoint.x);
  const double offY = destRect.top + dH * (transform.position.y - transform.anchor.y) -
                      (sourceRect.top + sH * sourcePoint.y);
  if (offset) *offset = V_Vector2T<double>(offX, offY);

  if (!NearZero(transform.scale.x - 1.0) || !NearZero(transform.rotation) ||
      !NearZero(transform.scale.y - 1.0) ||
      !NearZero(transform.pixelAspect - sourcePixelAspect))
    return false;
  const double fx = offX - std::floor(offX + 0.5);
  const double fy = offY - std::floor(offY + 0.5);
  return fx * fx + fy * fy <= kWholePixelDist2;
}

bool K_ClonePaintSource::WillSampleInPlace(const K_Transform& transform, const V_Rect& destRect,
                                           V_Vector2T<double>* offset) const {
  if (untransformed) {
    if (offset)
      *offset = V_Vector2T<double>(double(destRect.left) - sourceRect.left,
                                   double(destRect.top) - sourceRect.top);
    return true;
  }
  return WillSampleInPlace(transform, destRect, sourceRect, sourcePixelAspect, sourcePoint,
                           offset);
}

boost::shared_ptr<V_Rect> K_ClonePaintSource::GetCloneBoundsInSource(
    const V_Rect& destRegion, const V_Vector2T<double>& sourcePoint, const V_Rect& sourceRect,
    const V_Rect& destRect, const K_Transform& transform, double sourcePixelAspect) {
  V_Matrix3 m =
      GetSourceToDestTransform(sourcePoint, sourcePixelAspect, transform, sourceRect, destRect);
  V_Rect r = destRegion;
  // This operation answers the host rather than throwing at it: a failed mapping
  // means "no bounds", except when the failure carries no code, in which case the
  // rectangle is handed back unclipped, as far as it got.
  bool failed = false;
  int32_t code = 0;
  try {
    KSTROKE_HOST(m.Invert());
    m.TransformRect(&r, nullptr, nullptr);
  } catch (long thrown) {
    failed = true;
    code = static_cast<int32_t>(thrown);
  } catch (const std::exception& e) {
    failed = true;
    code = Y_TranslateAndReportException(e);
  }
  if (failed && code != 0) return boost::shared_ptr<V_Rect>();
  if (!failed) {
    if (r.top < sourceRect.top) r.top = sourceRect.top;
    if (r.left < sourceRect.left) r.left = sourceRect.left;
    if (r.bottom > sourceRect.bottom) r.bottom = sourceRect.bottom;
    if (r.right > sourceRect.right) r.right = sourceRect.right;
  }
  return boost::shared_ptr<V_Rect>(new V_Rect(r));
}
