// SPDX-License-Identifier: MIT
// Transfers through a mask: the per-pixel transfer tables, single-channel blends and
// transfers, and the 4-channel rectangle transfer.
//
// Every entry point validates its arguments, clips its rectangles once, and then runs
// a row kernel chosen from a table indexed by mode; the kernels are the templates of
// host/pixels/gx_blend.h instantiated per depth and mode.
#include "host/gx/gx_transfer.h"

#include "host/pixels/gx_blend.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using gxp::ModeOps;

// Linear-light curve (IEC 61966-2-1).
// ====

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double LinearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}
/// Outside 0..1 the curve is mirrored through 0 and extended past 1 by the formula.
float CurveOutside(double v, double (*curve)(double)) {
  return float(v < 0.0 ? -curve(-v) : curve(v));
}
float Lookup(const float* table, float v) {
  const float pos = v * float(GX_LinearBlendingTables::kSteps);
  const int32_t i = std::min(int32_t(pos), GX_LinearBlendingTables::kSteps - 1);
  const float f = pos - float(i);
  return table[i] + (table[i + 1] - table[i]) * f;
}

// Per-pixel entries and row kernels.
// ====

template <class P, class Op>
void XferEntry(const typename P::Pixel& src, const GX_LinearBlendingTables* tables,
               typename P::Value mask, typename P::Value opacity, typename P::Pixel* dst) noexcept {
  const float dither = Op::kDither ? gxp::DitherAtAddress(dst) : 0.0f;
  gxp::BlendPixel<P, Op>(src, tables, gxp::Weight<P>(mask, opacity), dither, dst);
}

template <class P, class... Ops>
constexpr std::array<GX_XferFunc<P>, sizeof...(Ops)> PixelTable(std::tuple<Ops...>*) {
  return {{&XferEntry<P, Ops>...}};
}

constexpr auto kTable8 = PixelTable<GXp_Px8>(static_cast<ModeOps*>(nullptr));
constexpr auto kTable16 = PixelTable<GXp_Px16>(static_cast<ModeOps*>(nullptr));
constexpr auto kTableF = PixelTable<GXp_PxF>(static_cast<ModeOps*>(nullptr));

/// One row of a single-channel transfer: n samples, mask null for full coverage.
template <class P>
using SingleRowFn = void (*)(const typename P::Value* s, const typename P::Value* m,
                             typename P::Value* d, int32_t n, int32_t x, int32_t y);

template <class P, class Op>
void SingleRow(const typename P::Value* s, const typename P::Value* m, typename P::Value* d,
               int32_t n, int32_t x, int32_t y) noexcept {
  for (int32_t i = 0; i < n; ++i) {
    const float w = m ? std::min(std::max(P::ToUnit(m[i]), 0.0f), 1.0f) : 1.0f;
    if (!(w > 0.0f)) continue;
    const float dither = Op::kDither ? gxp::DitherAt(x + i, y, 0) : 0.0f;
    const float v = Op::template Single<P>(P::ToUnit(d[i]), P::ToUnit(s[i]), w, dither);
    d[i] = P::FromUnit(gxp::Clamp01<P>(v));
  }
}

template <class P, class... Ops>
constexpr std::array<SingleRowFn<P>, sizeof...(Ops)> SingleTable(std::tuple<Ops...>*) {
  return {{&SingleRow<P, Ops>...}};
}

/// Arguments of one 4-channel transfer row.
template <class P>
struct RowArgs {
  const typename P::Pixel* src;  // null: transparent source
  const typename P::Pixel* mask; // null: full coverage
  typename P::Pixel* dst;
  int32_t count;
  int32_t x, y;                  // destination position of the first pixel (dither)
  typename P::Value opacity;
  bool useSourceAlpha;
  bool colourOnly;
  int32_t seed;
  const GX_LinearBlendingTables* tables;
};

template <class P>
using RectRowFn = void (*)(const RowArgs<P>& a);

template <class P, class Op>
void RectRow(const RowArgs<P>& a) noexcept {
  using Pixel = typename P::Pixel;
  const Pixel transparent{};
  for (int32_t i = 0; i < a.count; ++i) {
    const typename P::Value m = a.mask ? a.mask[i].alpha : P::kFull;
    const float w = gxp::Weight<P>(m, a.opacity);
    if (!(w > 0.0f)) continue;
    Pixel s = a.src ? a.src[i] : transparent;
    if (!a.useSourceAlpha) s.alpha = P::kFull;
    const float dither = Op::kDither ? gxp::DitherAt(a.x + i, a.y, a.seed) : 0.0f;
    Pixel* d = a.dst + i;
    const auto keptAlpha = d->alpha;
    gxp::BlendPixel<P, Op>(s, a.tables, w, dither, d);
    if (a.colourOnly) d->alpha = keptAlpha;
  }
}

template <class P, class... Ops>
constexpr std::array<RectRowFn<P>, sizeof...(Ops)> RectTable(std::tuple<Ops...>*) {
  return {{&RectRow<P, Ops>...}};
}

// Drivers: clip, pick the kernel once, walk the rows.
// ====

/// Reports every 64 rows: often enough for a bar, rare enough to cost nothing.
int32_t RowProgress(GX_ProgressInfo* progress, int32_t row, int32_t rows) {
  if ((row & 63) != 63) return 0;
  return GX_ReportProgress(progress, row + 1, rows);
}

template <class P>
int32_t TransferUno(GX_ProgressInfo* progress, const GX_UnoBuffer& src, const GX_UnoBuffer* mask,
                    int32_t mode, const V_LRect& srcRect, const V_LPoint& dstPoint,
                    GX_UnoBuffer* dst) {
  using Value = typename P::Value;
  static constexpr auto kRows = SingleTable<P>(static_cast<ModeOps*>(nullptr));
  // Clip the source rectangle to the source and the mask, then the destination.
  int32_t left = std::max(srcRect.left, 0), top = std::max(srcRect.top, 0);
  int32_t right = std::min(srcRect.right, src.GetWidth());
  int32_t bottom = std::min(srcRect.bottom, src.GetHeight());
  if (mask) {
    right = std::min(right, mask->GetWidth());
    bottom = std::min(bottom, mask->GetHeight());
  }
  const int32_t dx = dstPoint.x - srcRect.left, dy = dstPoint.y - srcRect.top;
  left = std::max(left, -dx);
  top = std::max(top, -dy);
  right = std::min(right, dst->GetWidth() - dx);
  bottom = std::min(bottom, dst->GetHeight() - dy);
  if (right <= left || bottom <= top) return 0;
  dst->MarkInk(V_LRect{left + dx, top + dy, right + dx, bottom + dy});
  const SingleRowFn<P> row = kRows[std::size_t(mode + gxp::kModeBias)];
  for (int32_t y = top; y < bottom; ++y) {
    row(src.Row<Value>(y) + left, mask ? mask->Row<Value>(y) + left : nullptr,
        dst->Row<Value>(y + dy) + left + dx, right - left, left + dx, y + dy);
    if (int32_t rc = RowProgress(progress, y - top, bottom - top)) return rc;
  }
  return 0;
}

template <class P>
int32_t TransferRectAt(GX_ProgressInfo* progress, int32_t useSourceAlpha, int32_t ditherSeed,
                       const V_LRect& srcRect, const GX_LayerDef* src,
                       const GX_TransferSettings& settings, const GX_LinearBlendingTables* tables,
                       const GX_MaskRecord* mask, int32_t destX, int32_t destY,
                       GX_LayerDef* dest) {
  using Pixel = typename P::Pixel;
  static constexpr auto kRows = RectTable<P>(static_cast<ModeOps*>(nullptr));
  // Work in destination coordinates: [left, right) × [top, bottom).
  const int32_t dx = destX - srcRect.left, dy = destY - srcRect.top;
  int32_t left = std::max(destX, 0), top = std::max(destY, 0);
  int32_t right = std::min(srcRect.right + dx, dest->width);
  int32_t bottom = std::min(srcRect.bottom + dy, dest->height);
  if (src) {  // pixels outside the source are not transferred
    left = std::max(left, dx);
    top = std::max(top, dy);
    right = std::min(right, src->width + dx);
    bottom = std::min(bottom, src->height + dy);
  }
  if (mask) {  // coverage is 0 outside the mask
    left = std::max(left, mask->x);
    top = std::max(top, mask->y);
    right = std::min(right, mask->x + mask->layer.width);
    bottom = std::min(bottom, mask->y + mask->layer.height);
  }
  if (right <= left || bottom <= top) return 0;
  RowArgs<P> a{};
  a.count = right - left;
  a.x = left;
  a.opacity = P::FromUnit(std::min(std::max(settings.opacity, 0.0f), 1.0f));
  a.useSourceAlpha = useSourceAlpha != 0;
  a.colourOnly = settings.colourOnly != 0;
  a.seed = ditherSeed;
  a.tables = tables;
  const RectRowFn<P> row = kRows[std::size_t(settings.mode + gxp::kModeBias)];
  for (int32_t y = top; y < bottom; ++y) {
    a.y = y;
    a.src = src ? static_cast<const Pixel*>(GXp_PixelAddress(*src, left - dx, y - dy)) : nullptr;
    a.mask = mask ? static_cast<const Pixel*>(
                        GXp_PixelAddress(mask->layer, left - mask->x, y - mask->y))
                  : nullptr;
    a.dst = static_cast<Pixel*>(GXp_PixelAddress(*dest, left, y));
    row(a);
    if (int32_t rc = RowProgress(progress, y - top, bottom - top)) return rc;
  }
  return 0;
}

bool HasPixels(const GX_LayerDef& layer) {
  return layer.data != nullptr || layer.width <= 0 || layer.height <= 0;
}

}  // namespace

// Exported tables: each points at its mode −2 entry plus 2, so table[mode] works for
// every valid mode, −2 included.
const GX_XferFunc8* const GXp_G_Xfer1_Opacity2_table8 = kTable8.data() + gxp::kModeBias;
const GX_XferFunc16* const GXp_G_Xfer1_Opacity2_table16 = kTable16.data() + gxp::kModeBias;
const GX_XferFuncF* const GXp_G_Xfer1_Opacity2_tableF = kTableF.data() + gxp::kModeBias;

GX_LinearBlendingTables::GX_LinearBlendingTables() {
  for (int32_t i = 0; i <= kSteps; ++i) {
    const double v = double(i) / kSteps;
    toLinear[i] = float(SrgbToLinear(v));
    fromLinear[i] = float(LinearToSrgb(v));
  }
}

const GX_LinearBlendingTables& GX_LinearBlendingTables::Srgb() {
  static const GX_LinearBlendingTables tables;
  return tables;
}

float GX_LinearBlendingTables::ToLinear(float v) const {
  if (v >= 0.0f && v <= 1.0f) return Lookup(toLinear, v);
  return CurveOutside(v, &SrgbToLinear);
}

float GX_LinearBlendingTables::FromLinear(float v) const {
  if (v >= 0.0f && v <= 1.0f) return Lookup(fromLinear, v);
  return CurveOutside(v, &LinearToSrgb);
}

template <class P, class T>
void GX_BlendSingleChannel(int32_t count, T opacity, T value, const T* mask, P* dst) {
  using Px = GXp_PxOf<T>;
  static_assert(std::is_same<typename Px::Pixel, P>::value, "pixel and sample types differ");
  if (!mask || !dst) return;
  const float v = Px::ToUnit(value);
  for (int32_t i = 0; i < count; ++i) {
    const float w = gxp::Weight<Px>(mask[i], opacity);
    if (!(w > 0.0f)) continue;
    const float a = gxp::Copy::Single<Px>(Px::ToUnit(dst[i].alpha), v, w, 0.0f);
    dst[i].alpha = Px::FromUnit(gxp::Clamp01<Px>(a));
  }
}

template void GX_BlendSingleChannel<GX_Pixel8, unsigned char>(int32_t, unsigned char,
                                                              unsigned char,
                                                              const unsigned char*, GX_Pixel8*);
template void GX_BlendSingleChannel<GX_Pixel16, unsigned short>(int32_t, unsigned short,
                                                                unsigned short,
                                                                const unsigned short*,
                                                                GX_Pixel16*);
template void GX_BlendSingleChannel<GX_PixelFloat, float>(int32_t, float, float, const float*,
                                                          GX_PixelFloat*);

int32_t GX_TransferUnoBuffers(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                              const GX_UnoBuffer* mask, int32_t mode, const V_LRect& srcRect,
                              const V_LPoint& dstPoint, GX_UnoBuffer* dst) {
  if (!src || !dst) return GX_Err_BadArgument;
  const int32_t depth = src->GetDepth();
  if (dst->GetDepth() != depth || (mask && mask->GetDepth() != depth)) return GX_Err_BadDepth;
  if (!GX_IsValidTransferMode(mode)) return GX_Err_BadMode;
  switch (depth) {
    case 8: return TransferUno<GXp_Px8>(progress, *src, mask, mode, srcRect, dstPoint, dst);
    case 16: return TransferUno<GXp_Px16>(progress, *src, mask, mode, srcRect, dstPoint, dst);
    default: return TransferUno<GXp_PxF>(progress, *src, mask, mode, srcRect, dstPoint, dst);
  }
}

int32_t GX_TransferRect(GX_ProgressInfo* progress, int32_t quality, int32_t useSourceAlpha,
                        int32_t ditherSeed, const V_LRect& srcRect, const GX_LayerDef* src,
                        const GX_TransferSettings& settings,
                        const GX_LinearBlendingTables* tables, const GX_MaskRecord* mask,
                        int32_t destX, int32_t destY, GX_LayerDef* dest) {
  if (!dest || !HasPixels(*dest) || (src && !HasPixels(*src)) ||
      (mask && !HasPixels(mask->layer)))
    return GX_Err_BadArgument;
  if ((quality != 0 && quality != 1) || (useSourceAlpha != 0 && useSourceAlpha != 1) ||
      !std::isfinite(settings.opacity))
    return GX_Err_BadArgument;
  const int32_t depth = GXp_WorldDepth(dest);
  if (depth == 0 || (src && GXp_WorldDepth(src) != depth) ||
      (mask && GXp_WorldDepth(&mask->layer) != depth))
    return GX_Err_BadDepth;
  if (!GX_IsValidTransferMode(settings.mode)) return GX_Err_BadMode;
  switch (depth) {
    case 8:
      return TransferRectAt<GXp_Px8>(progress, useSourceAlpha, ditherSeed, srcRect, src, settings,
                                     tables, mask, destX, destY, dest);
    case 16:
      return TransferRectAt<GXp_Px16>(progress, useSourceAlpha, ditherSeed, srcRect, src,
                                      settings, tables, mask, destX, destY, dest);
    default:
      return TransferRectAt<GXp_PxF>(progress, useSourceAlpha, ditherSeed, srcRect, src, settings,
                                     tables, mask, destX, destY, dest);
  }
}
