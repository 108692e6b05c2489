// SPDX-License-Identifier: MIT
// The fill source: a flat colour. Besides the flat world and buffer the general render
// asks for, it has a direct path that blends the colour into the destination row by
// row with the host's per-pixel transfer functions, with no intermediate image. Rows
// are independent, so the host may spread a tall area over threads.
#include "kstroke/fill_paint_source.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "frame/errors.h"
#include "host/gx/gx_iterate.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_transfer.h"
#include "sources/source_support.h"

// Colour and opacity conversion - one traits struct per depth
// ============================================================================

namespace {

// Dissolve takes the general render, so that its dither pattern comes from the host's
// rectangle transfer like every other source's.
constexpr int32_t kGeneralPathMode = 3;
// At most one progress report per this many rows.
constexpr int32_t kProgressRowStride = 32;
// Rows ahead whose pixels the Normal row kernel fetches while it blends this one: a
// stroke's next rows lie under the same columns.
constexpr std::ptrdiff_t kPrefetchRows = 4;
// Up to this many rows, or below this many pixels, the row loop stays on the calling
// thread. Handing rows to the thread pool costs a few microseconds whatever the rows
// hold; a stroke delivered a few events at a time composites areas of a few thousand
// pixels, which take about as long.
constexpr int32_t kStaticRowLimit = 16;
constexpr int64_t kStaticPixelLimit = 16384;
// Full lines are streamed past the cache only where the area's pixels outgrow a core's
// cache (1 MB here). A render call while the stroke grows repaints a dab's box or
// two, and the next call restores and repaints most of it again: streamed, those
// lines would come back from memory each time.
constexpr int64_t kStreamMinBytes = int64_t(2) << 20;
constexpr int32_t kFlatWorldFlags = 4;
// A deep mask's full coverage, and the columns of it turned into float at a time for
// a float destination.
constexpr float kDeepFull = 32768.0f;
constexpr int32_t kDeepPiece = 256;

// Opacity for the integer depths, whose conversion is undefined outside the range; NaN
// counts as 0.
double UnitClamp(double o) { return o > 0.0 ? (o < 1.0 ? o : 1.0) : 0.0; }

struct Fill8 : Kp_Depth8 {
  static constexpr float kFull = 255.0f;
  static Sample Channel(float c) {
    const float v = c * kFull;
    if (!(v >= 0.0f)) return 0;  // NaN included: the cast would be undefined
    if (v > kFull) return 255;
    return static_cast<Sample>(v + 0.5f);
  }
  static Sample Opacity(double o) { return static_cast<Sample>(UnitClamp(o) * 255.0); }
  static constexpr Sample kFullAlpha = 255;
  static const auto& Table() { return GXp_G_Xfer1_Opacity2_table8; }
  using Traits = GXp_Px8;
};

struct Fill16 : Kp_Depth16 {
  static constexpr float kFull = 32768.0f;
  static Sample Channel(float c) {
    const float v = c * kFull;
    if (!(v >= 0.0f)) return 0;
    if (v > kFull) return 32768;
    return static_cast<Sample>(v + 0.5f);
  }
  static Sample Opacity(double o) { return static_cast<Sample>(UnitClamp(o) * 32768.0); }
  static constexpr Sample kFullAlpha = 32768;
  static const auto& Table() { return GXp_G_Xfer1_Opacity2_table16; }
  using Traits = GXp_Px16;
};

struct FillF : Kp_DepthF {
  static Sample Channel(float c) { return c; }
  static Sample Opacity(double o) { return static_cast<float>(o); }
  static constexpr Sample kFullAlpha = 1.0f;
  static const auto& Table() { return GXp_G_Xfer1_Opacity2_tableF; }
  using Traits = GXp_PxF;
};

// Table slots -1 to 2 all hold the Normal transfer.
bool IsNormalMode(int32_t mode) {
  return mode >= -1 && mode <= int32_t(GX_TransferMode::kNormal);
}

template <class D>
typename D::Pixel Convert(const GX_PixelFloat& c) {
  typename D::Pixel p;
  p.alpha = D::Channel(c.alpha);
  p.red = D::Channel(c.red);
  p.green = D::Channel(c.green);
  p.blue = D::Channel(c.blue);
  return p;
}

// Direct path - row loop
// ============================================================================

template <class D>
struct RowLoop {
  using Pixel = typename D::Pixel;
  using Sample = typename D::Sample;

  V_Rect r;
  GX_ProgressInfo* progress;
  int32_t transferMode;
  K_TargetChannel target;
  Sample opacity;
  const Pixel* colour;
  const GX_UnoBuffer* mask;
  const GX_LinearBlendingTables* tables;
  GX_LayerDef* dest;
  const GX_LayerDef* base;  ///< each row of r is copied from here first, or null
  bool normalRow;  ///< Normal mode without tables: GX_BlendColourNormalRow does the row
  bool stream;     ///< full lines of the opaque colour may bypass the cache

  static int32_t Row(void* context, int32_t threadIndex, int32_t i) {
    const RowLoop& loop = *static_cast<const RowLoop*>(context);
    const int32_t y = loop.r.top + i;
    if (threadIndex == 0 && loop.progress && y % kProgressRowStride == 0) {
      const int32_t rc =
          GX_ReportProgress(loop.progress, y - loop.r.top, loop.r.bottom - loop.r.top);
      if (rc != 0) return rc;
    }
    if (loop.base)
      std::memcpy(GXp_PixelAddress(*loop.dest, loop.r.left, y), GXp_PixelAddress(*loop.base, loop.r.left, y),
                  std::size_t(loop.r.right - loop.r.left) * sizeof(Pixel));
    // NOTE: every transfer mode leaves a pixel of zero coverage as it is, so the cells
    // the mask's ink map knows to be empty are passed over, and the kernels skip the
    // zero samples of the rest: the area is the bounding box of the changed dabs, and
    // most of a stroke's box is empty mask.
    GX_ForEachInkRun(*loop.mask, y, loop.r.left, loop.r.right,
                     [&](int32_t x0, int32_t x1) { loop.Span(y, x0, x1); });
    return 0;
  }

  void Span(int32_t y, int32_t left, int32_t right) const {
    auto* dst = static_cast<Pixel*>(GXp_PixelAddress(*dest, left, y));
    if (y + kPrefetchRows < mask->GetHeight()) {
      // The mask under the same columns a few rows on, as the row kernel fetches the
      // pixels there: the mask was written dab by dab long before and is not in cache.
      const char* ahead = mask->template Row<char>(int32_t(y + kPrefetchRows));
      const int32_t bytes = mask->GetDepth() / 8;
      for (int32_t x = left * bytes; x < right * bytes; x += 64) __builtin_prefetch(ahead + x);
    }
    if constexpr (std::is_same_v<Sample, float>) {
      if (mask->GetDepth() == 16) {
        // A deep mask under float pixels: each run is turned into float coverage a
        // piece at a time, as GX_ConvertDeepUnoBuffer turns it (a power-of-two
        // divisor, so the quotient is exact), and blended from there.
        const uint16_t* deep = mask->template Row<uint16_t>(y) + left;
        float coverage[kDeepPiece];
        for (int32_t x = 0; x < right - left; x += kDeepPiece) {
          const int32_t n = std::min(kDeepPiece, right - left - x);
          for (int32_t k = 0; k < n; ++k) coverage[k] = float(deep[x + k]) / kDeepFull;
          Blend(dst + x, coverage, n);
        }
        return;
      }
    }
    Blend(dst, mask->template Row<Sample>(y) + left, right - left);
  }

  void Blend(Pixel* dst, const Sample* m, int32_t count) const {
    const auto xfer = D::Table()[transferMode];
    switch (target) {
      case K_TargetChannel_RGBA:
        // The common stroke: a whole run at once, four pixels at a time.
        if (normalRow) {
          // Streamed lines are fenced when the row iteration ends its share.
          GX_BlendColourNormalRow<typename D::Traits>(*colour, m, opacity, count, dst,
                                                      kPrefetchRows * dest->rowBytes, stream);
          break;
        }
        for (int32_t x = 0; x < count; ++x)
          if (m[x] != 0) xfer(*colour, tables, m[x], opacity, dst + x);
        break;
      case K_TargetChannel_RGB:
        for (int32_t x = 0; x < count; ++x) {
          if (m[x] == 0) continue;
          const Sample a = dst[x].alpha;
          xfer(*colour, tables, m[x], opacity, dst + x);
          dst[x].alpha = a;
        }
        break;
      case K_TargetChannel_RGBOpaque:
        for (int32_t x = 0; x < count; ++x) {
          if (m[x] == 0) continue;
          const Sample a = dst[x].alpha;
          dst[x].alpha = D::kFullAlpha;
          xfer(*colour, tables, m[x], opacity, dst + x);
          dst[x].alpha = a;
        }
        break;
      case K_TargetChannel_Alpha:
        GX_BlendSingleChannel<Pixel, Sample>(count, opacity, colour->red, m, dst);
        break;
      default:
        break;
    }
  }

  void Run() {
    const int32_t rows = r.bottom - r.top;
    if (rows <= kStaticRowLimit || int64_t(rows) * (r.right - r.left) < kStaticPixelLimit)
      KSTROKE_HOST(GX_IterateGeneric_Static(rows, this, &Row));
    else
      KSTROKE_HOST(GX_IterateGeneric(rows, this, &Row));
  }
};

// The area cut to the bounds and to the mask, from (0, 0) on: the direct path's rows
// before the layer cuts them too.
V_Rect MaskRows(const V_Rect& area, const V_Rect& bounds, const GX_UnoBuffer& mask) {
  V_Rect maskBounds;
  maskBounds.bottom = static_cast<int16_t>(mask.GetHeight());
  maskBounds.right = static_cast<int16_t>(mask.GetWidth());
  V_Rect r = V_ClipRect(V_ClipRect(area, bounds), maskBounds);
  r.left = std::max<int16_t>(r.left, 0);
  r.top = std::max<int16_t>(r.top, 0);
  return r;
}

// The layer's rectangle: bounds larger than it would let the rows run past its pixels.
V_Rect LayerBounds(const GX_LayerDef& layer) {
  V_Rect r;
  r.bottom = static_cast<int16_t>(layer.height);
  r.right = static_cast<int16_t>(layer.width);
  return r;
}

template <class D>
void BlendDirect(GX_ProgressInfo* progress, const V_Rect& r, int32_t transferMode,
                 K_TargetChannel target, double opacity, const GX_PixelFloat& colour,
                 const GX_UnoBuffer* mask, const GX_LinearBlendingTables* tables,
                 GX_LayerDef* dest, const GX_LayerDef* base) {
  const typename D::Pixel c = Convert<D>(colour);
  const bool normalRow = IsNormalMode(transferMode) && tables == nullptr;
  const bool stream =
      int64_t(r.right - r.left) * (r.bottom - r.top) * int64_t(sizeof(c)) >= kStreamMinBytes;
  RowLoop<D> loop{r, progress, transferMode, target, D::Opacity(opacity), &c, mask, tables,
                  dest, base, normalRow, stream};
  loop.Run();
}

}  // namespace

// K_FillPaintSource
// ============================================================================

K_FillPaintSource::K_FillPaintSource(const GX_LinearBlendingTables* tables,
                                     const GX_PixelFloat& colour_)
    : K_PixelBasedPaintSource(tables), colour(colour_) {
  colour.alpha = 1.0f;
}

K_FillPaintSource::K_FillPaintSource(K_FillPaintSource& other)
    : K_PixelBasedPaintSource(other), colour(other.colour) {
  worldCache.swap(other.worldCache);
  bufferCache.swap(other.bufferCache);
}

K_FillPaintSource& K_FillPaintSource::operator=(K_FillPaintSource& other) {
  if (this == &other) return *this;
  K_PixelBasedPaintSource::operator=(other);
  worldCache.reset();
  bufferCache.reset();
  worldCache.swap(other.worldCache);
  bufferCache.swap(other.bufferCache);
  colour = other.colour;
  return *this;
}

K_FillPaintSource::~K_FillPaintSource() = default;

bool K_FillPaintSource::TakesDeepMaskOnFloat(int32_t transferMode) const {
  return transferMode != kGeneralPathMode;
}

void K_FillPaintSource::Render(GX_ProgressInfo* progress, const V_Rect& layerRect,
                               const V_Rect& boundsRect, const GX_UnoBuffer* paintMask,
                               double opacity, const K_Transform& transform, int32_t transferMode,
                               K_TargetChannel targetChannel, int32_t transferParam, V_Rect* area,
                               GX_LayerDef* dest) const {
  Blend(nullptr, progress, layerRect, boundsRect, paintMask, opacity, transform, transferMode, targetChannel,
        transferParam, area, dest);
}

void K_FillPaintSource::RenderOver(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
                                   const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
                                   const K_Transform& transform, int32_t transferMode,
                                   K_TargetChannel targetChannel, int32_t transferParam, V_Rect* area,
                                   GX_LayerDef* dest) const {
  // Row by row only where the direct path blends every row of the area, whole, and the
  // base is a layer like the destination; anything else is copied first, as the
  // default does.
  const bool rows = base && !area->IsEmpty() && paintMask && dest && transferMode != kGeneralPathMode &&
                    GXp_PixelBytes(GXp_WorldDepth(dest)) != 0 && GXp_WorldDepth(base) == GXp_WorldDepth(dest) &&
                    base->width == dest->width && base->height == dest->height &&
                    V_ClipRect(MaskRows(*area, boundsRect, *paintMask), LayerBounds(*dest)) == *area;
  if (!rows) {
    K_PaintSource::RenderOver(base, progress, layerRect, boundsRect, paintMask, opacity, transform, transferMode,
                              targetChannel, transferParam, area, dest);
    return;
  }
  Blend(base, progress, layerRect, boundsRect, paintMask, opacity, transform, transferMode, targetChannel,
        transferParam, area, dest);
}

void K_FillPaintSource::Blend(const GX_LayerDef* base, GX_ProgressInfo* progress, const V_Rect& layerRect,
                              const V_Rect& boundsRect, const GX_UnoBuffer* paintMask, double opacity,
                              const K_Transform& transform, int32_t transferMode, K_TargetChannel targetChannel,
                              int32_t transferParam, V_Rect* area, GX_LayerDef* dest) const {
  if (area->IsEmpty()) return;
  KSTROKE_CHECK(paintMask && dest, "paint render without a paint mask or a destination");
  V_Rect r = MaskRows(*area, boundsRect, *paintMask);
  if (r.IsEmpty()) return;

  if (lazyCopy)
    KSTROKE_HOST(lazyCopy->MakeValid(V_OffsetRect(r, -layerRect.left, -layerRect.top)));
  const int32_t depth = GXp_WorldDepth(dest);

  if (transferMode == kGeneralPathMode) {
    K_PixelBasedPaintSource::Render(progress, layerRect, boundsRect, paintMask, opacity, transform,
                                    transferMode, targetChannel, transferParam, area, dest);
    return;
  }

  if (GXp_PixelBytes(depth) == 0) return;  // an unknown depth draws nothing
  if (!(depth == 32 && paintMask->GetDepth() == 16)) Kp_CheckMaskDepth(*paintMask, depth);
  // The per-pixel tables are indexed without a check of their own; answer as the
  // host's rectangle transfer does for a mode it does not know.
  if (!GX_IsValidTransferMode(transferMode)) Kp_ThrowCode(GX_Err_BadMode);
  r = V_ClipRect(r, LayerBounds(*dest));
  if (r.IsEmpty()) return;
  // The rows are blended in `dest`'s own pixels, with no world standing for it (an
  // allocation per call, and a stroke delivered as it grows makes a hundred calls).
  switch (depth) {
    case 8:
      BlendDirect<Fill8>(progress, r, transferMode, targetChannel, opacity, colour, paintMask,
                         blendingTables, dest, base);
      break;
    case 16:
      BlendDirect<Fill16>(progress, r, transferMode, targetChannel, opacity, colour, paintMask,
                          blendingTables, dest, base);
      break;
    case 32:
      BlendDirect<FillF>(progress, r, transferMode, targetChannel, opacity, colour, paintMask,
                         blendingTables, dest, base);
      break;
    default:
      break;
  }
}

// Pixel requests of the general render
// ============================================================================

const GX_World* K_FillPaintSource::GetPixelSource(GX_ProgressInfo* progress, const V_Rect&,
                                                  const V_Rect&, const K_Transform&, int16_t depth,
                                                  int32_t, V_Rect* area) const {
  const int32_t width = area->Width(), height = area->Height();
  worldCache.reset(GX_World::New(width, height, depth, kFlatWorldFlags));
  GX_LayerDef* layer = worldCache->GetLayer();
  const V_LRect all{0, 0, width, height};
  switch (depth) {
    case 8:
      KSTROKE_HOST(GX_Fill(progress, Convert<Fill8>(colour), all, layer));
      break;
    case 16:
      KSTROKE_HOST(GX_Fill16(progress, Convert<Fill16>(colour), all, layer));
      break;
    case 32:
      KSTROKE_HOST(GX_FillFloat(progress, Convert<FillF>(colour), all, layer));
      break;
    default:
      break;
  }
  return worldCache.get();
}

const GX_UnoBuffer* K_FillPaintSource::GetSingleChannelPixelSource(GX_ProgressInfo*, const V_Rect&,
                                                                   const V_Rect&,
                                                                   const K_Transform&,
                                                                   int16_t depth, int32_t,
                                                                   const V_Rect* maskRect) const {
  bufferCache.reset();
  bufferCache.reset(Kp_Checked(new GX_UnoBuffer(maskRect->Width(), maskRect->Height(), depth)));
  switch (depth) {
    case 8:
      KSTROKE_HOST(GX_FillUnoBuffer(Fill8::Channel(colour.red), bufferCache.get()));
      break;
    case 16:
      KSTROKE_HOST(GX_FillDeepUnoBuffer(Fill16::Channel(colour.red), bufferCache.get()));
      break;
    case 32:
      KSTROKE_HOST(GX_FillFloatUnoBuffer(colour.red, bufferCache.get()));
      break;
    default:
      break;
  }
  return bufferCache.get();
}
