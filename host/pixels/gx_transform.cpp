// SPDX-License-Identifier: MIT
// Resampling a world through a matrix: each destination pixel centre is mapped back
// into the source, sampled (bilinear on premultiplied colour, or nearest), and the
// sample is blended in with the transfer kernels of host/pixels/gx_blend.h.
//
// Pixel centres sit at +0.5: source pixel (i, j) is the sample at (i + 0.5, j + 0.5),
// so an identity or whole-pixel translation lands exactly on source centres and
// copies pixels unchanged.
#include "host/gx/gx_transform.h"

#include <array>
#include <cmath>

#include "host/pixels/gx_blend.h"

namespace {

struct SampleArgs {
  const GX_LayerDef* src;  // null: nothing to sample
  bool bilinear;
  bool transparentEdges;
  bool useSourceAlpha;
};

/// Premultiplied source pixel (i, j), or a transparent one outside the source.
template <class P>
gxp::Unit Tap(const SampleArgs& a, int32_t i, int32_t j) {
  const GX_LayerDef& s = *a.src;
  if (i < 0 || j < 0 || i >= s.width || j >= s.height) {
    if (a.transparentEdges) return gxp::Unit{0.0f, 0.0f, 0.0f, 0.0f};
    i = std::clamp(i, 0, s.width - 1);
    j = std::clamp(j, 0, s.height - 1);
  }
  const auto& p = *static_cast<const typename P::Pixel*>(GXp_PixelAddress(s, i, j));
  const float alpha = a.useSourceAlpha ? P::ToUnit(p.alpha) : 1.0f;
  return gxp::Unit{alpha, P::ToUnit(p.red) * alpha, P::ToUnit(p.green) * alpha,
                   P::ToUnit(p.blue) * alpha};
}

/// Straight-colour sample at source position (u, v).
template <class P>
gxp::Unit Sample(const SampleArgs& a, double u, double v) {
  if (!a.src || a.src->width <= 0 || a.src->height <= 0) return gxp::Unit{0, 0, 0, 0};
  gxp::Unit s;
  if (a.bilinear) {
    const double fx = u - 0.5, fy = v - 0.5;
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const float ax = float(fx - x0), ay = float(fy - y0);
    const int32_t i = int32_t(x0), j = int32_t(y0);
    const gxp::Unit t00 = Tap<P>(a, i, j), t10 = Tap<P>(a, i + 1, j);
    const gxp::Unit t01 = Tap<P>(a, i, j + 1), t11 = Tap<P>(a, i + 1, j + 1);
    const auto lerp2 = [&](float c00, float c10, float c01, float c11) {
      const float top = c00 + (c10 - c00) * ax;
      const float bottom = c01 + (c11 - c01) * ax;
      return top + (bottom - top) * ay;
    };
    s.a = lerp2(t00.a, t10.a, t01.a, t11.a);
    s.r = lerp2(t00.r, t10.r, t01.r, t11.r);
    s.g = lerp2(t00.g, t10.g, t01.g, t11.g);
    s.b = lerp2(t00.b, t10.b, t01.b, t11.b);
  } else {
    s = Tap<P>(a, int32_t(std::floor(u)), int32_t(std::floor(v)));
  }
  if (!(s.a > 0.0f)) return gxp::Unit{0, 0, 0, 0};
  s.r /= s.a;
  s.g /= s.a;
  s.b /= s.a;
  return s;
}

template <class P>
using PixelFn = void (*)(const gxp::Unit& s, const GX_LinearBlendingTables* t, float w,
                         float dither, typename P::Pixel* d);

template <class P, class Op>
void BlendSample(const gxp::Unit& s, const GX_LinearBlendingTables* t, float w, float dither,
                 typename P::Pixel* d) {
  if (!(w > 0.0f)) return;
  if constexpr (Op::kStoreWhenOpaque) {
    // A whole-pixel landing of an opaque pixel at full weight is a plain store.
    if (w >= 1.0f && s.a >= 1.0f && !t) {
      d->alpha = P::kFull;
      d->red = P::FromUnit(s.r);
      d->green = P::FromUnit(s.g);
      d->blue = P::FromUnit(s.b);
      return;
    }
  }
  gxp::BlendUnit<P, Op>(s, t, w, dither, d);
}

template <class P, class... Ops>
constexpr std::array<PixelFn<P>, sizeof...(Ops)> SampleTable(std::tuple<Ops...>*) {
  return {{&BlendSample<P, Ops>...}};
}

template <class P>
int32_t Transform(GX_ProgressInfo* progress, const SampleArgs& a, int32_t ditherSeed,
                  const GX_TransferSettings& settings, const GX_LinearBlendingTables* tables,
                  const GX_MaskRecord* mask, const V_Matrix3& destToSource,
                  const V_LRect& destRect, GX_LayerDef* dest) {
  using Pixel = typename P::Pixel;
  static constexpr auto kBlend = SampleTable<P>(static_cast<gxp::ModeOps*>(nullptr));
  const PixelFn<P> blend = kBlend[std::size_t(settings.mode + gxp::kModeBias)];
  const typename P::Value opacity =
      P::FromUnit(std::min(std::max(settings.opacity, 0.0f), 1.0f));
  const bool colourOnly = settings.colourOnly != 0;
  const bool dithered = settings.mode == int32_t(GX_TransferMode::kDissolve);
  const int32_t left = std::max(destRect.left, 0), top = std::max(destRect.top, 0);
  const int32_t right = std::min(destRect.right, dest->width);
  const int32_t bottom = std::min(destRect.bottom, dest->height);
  for (int32_t y = top; y < bottom; ++y) {
    Pixel* row = static_cast<Pixel*>(GXp_PixelAddress(*dest, 0, y));
    for (int32_t x = left; x < right; ++x) {
      typename P::Value m = P::kFull;
      if (mask) {
        const int32_t mx = x - mask->x, my = y - mask->y;
        if (mx < 0 || my < 0 || mx >= mask->layer.width || my >= mask->layer.height) continue;
        m = static_cast<const Pixel*>(GXp_PixelAddress(mask->layer, mx, my))->alpha;
      }
      const float w = gxp::Weight<P>(m, opacity);
      if (!(w > 0.0f)) continue;
      V_Vector2T<double> p(x + 0.5, y + 0.5);
      destToSource.TransformPoint(&p);
      const gxp::Unit s = Sample<P>(a, p.x, p.y);
      const float dither = dithered ? gxp::DitherAt(x, y, ditherSeed) : 0.0f;
      const auto keptAlpha = row[x].alpha;
      blend(s, tables, w, dither, row + x);
      if (colourOnly) row[x].alpha = keptAlpha;
    }
    if (((y - top) & 63) == 63) {
      if (int32_t rc = GX_ReportProgress(progress, y - top + 1, bottom - top)) return rc;
    }
  }
  return 0;
}

bool HasPixels(const GX_LayerDef& layer) {
  return layer.data != nullptr || layer.width <= 0 || layer.height <= 0;
}

}  // namespace

int32_t GX_TransformWorld(GX_ProgressInfo* progress, int32_t quality, int32_t useSourceAlpha,
                          int32_t ditherSeed, const GX_LayerDef* src,
                          const GX_TransferSettings& settings,
                          const GX_LinearBlendingTables* tables, const GX_MaskRecord* mask,
                          const V_Matrix3& matrix, int32_t edgeMode, bool matrixIsSourceToDest,
                          const V_LRect& destRect, GX_LayerDef* dest) {
  if (!dest || !HasPixels(*dest) || (src && !HasPixels(*src)) ||
      (mask && !HasPixels(mask->layer)))
    return GX_Err_BadArgument;
  if ((quality != 0 && quality != 1) || (useSourceAlpha != 0 && useSourceAlpha != 1) ||
      (edgeMode != int32_t(GX_EdgeMode::kClamp) &&
       edgeMode != int32_t(GX_EdgeMode::kTransparent)) ||
      !std::isfinite(settings.opacity))
    return GX_Err_BadArgument;
  const int32_t depth = GXp_WorldDepth(dest);
  if (depth == 0 || (src && GXp_WorldDepth(src) != depth) ||
      (mask && GXp_WorldDepth(&mask->layer) != depth))
    return GX_Err_BadDepth;
  if (!GX_IsValidTransferMode(settings.mode)) return GX_Err_BadMode;
  V_Matrix3 destToSource = matrix;
  if (matrixIsSourceToDest) {
    if (int32_t rc = destToSource.Invert()) return rc;
  }
  const SampleArgs a{src, quality == 1, edgeMode == int32_t(GX_EdgeMode::kTransparent),
                     useSourceAlpha == 1};
  switch (depth) {
    case 8:
      return Transform<GXp_Px8>(progress, a, ditherSeed, settings, tables, mask, destToSource,
                                destRect, dest);
    case 16:
      return Transform<GXp_Px16>(progress, a, ditherSeed, settings, tables, mask, destToSource,
                                 destRect, dest);
    default:
      return Transform<GXp_PxF>(progress, a, ditherSeed, settings, tables, mask, destToSource,
                                destRect, dest);
  }
}
