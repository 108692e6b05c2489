// SPDX-License-Identifier: MIT
// Channel moves, depth conversion of single-channel buffers, rectangle copies and
// alpha clearing.
#include "host/gx/gx_channels.h"

#include "host/gx/gx_pixel_traits.h"

#include <algorithm>
#include <cstring>

namespace {

bool BadPlaneArgs(const void* src, const void* dst, const V_Vector2T<int32_t>& size) {
  if (size.x < 0 || size.y < 0) return true;
  return (size.x > 0 && size.y > 0) && (!src || !dst);
}

template <class T>
const T* SampleAt(const void* base, int32_t rowBytes, int32_t stride, int32_t x, int32_t y) {
  return reinterpret_cast<const T*>(static_cast<const unsigned char*>(base) +
                                    std::ptrdiff_t(y) * rowBytes + std::ptrdiff_t(x) * stride);
}
template <class T>
T* SampleAt(void* base, int32_t rowBytes, int32_t stride, int32_t x, int32_t y) {
  return reinterpret_cast<T*>(static_cast<unsigned char*>(base) + std::ptrdiff_t(y) * rowBytes +
                              std::ptrdiff_t(x) * stride);
}

int32_t RowProgress(GX_ProgressInfo* progress, int32_t row, int32_t rows) {
  if ((row & 63) != 63) return 0;
  return GX_ReportProgress(progress, row + 1, rows);
}

bool HasPixels(const GX_LayerDef& layer) {
  return layer.data != nullptr || layer.width <= 0 || layer.height <= 0;
}

template <class T>
int32_t ConvertToFloat(GX_ProgressInfo* progress, const GX_UnoBuffer& src, const V_LRect& rect,
                       int32_t fullValue, GX_UnoBuffer* dst) {
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min({rect.right, src.GetWidth(), dst->GetWidth()});
  const int32_t bottom = std::min({rect.bottom, src.GetHeight(), dst->GetHeight()});
  const float full = float(fullValue);
  dst->MarkInk(V_LRect{left, top, right, bottom});
  for (int32_t y = top; y < bottom; ++y) {
    const T* s = src.Row<T>(y);
    float* d = dst->Row<float>(y);
    // Division rather than a reciprocal product keeps full → exactly 1.0.
    for (int32_t x = left; x < right; ++x) d[x] = float(s[x]) / full;
    if (int32_t rc = RowProgress(progress, y - top, bottom - top)) return rc;
  }
  return 0;
}

template <class Pixel>
void ClearAlphaRow(Pixel* row, int32_t from, int32_t to) {
  for (int32_t x = from; x < to; ++x) row[x].alpha = 0;
}

template <class Pixel>
int32_t ClearAlpha(GX_ProgressInfo* progress, const V_LRect& keep, GX_LayerDef* layer) {
  const bool none = keep.IsEmpty();
  const int32_t left = std::clamp(keep.left, 0, layer->width);
  const int32_t right = std::clamp(keep.right, left, layer->width);
  for (int32_t y = 0; y < layer->height; ++y) {
    Pixel* row = static_cast<Pixel*>(GXp_PixelAddress(*layer, 0, y));
    if (none || y < keep.top || y >= keep.bottom) {
      ClearAlphaRow(row, 0, layer->width);
    } else {
      ClearAlphaRow(row, 0, left);
      ClearAlphaRow(row, right, layer->width);
    }
    if (int32_t rc = RowProgress(progress, y, layer->height)) return rc;
  }
  return 0;
}

}  // namespace

template <class T>
int32_t GX_Deinterleave1(const void* src, int32_t srcPixelBytes, int32_t srcRowBytes, void* dst,
                         int32_t dstRowBytes, const V_Vector2T<int32_t>& size,
                         const V_LPoint& srcOrigin, const V_LPoint& dstOrigin) {
  if (BadPlaneArgs(src, dst, size) || srcPixelBytes < int32_t(sizeof(T)))
    return GX_Err_BadArgument;
  for (int32_t j = 0; j < size.y; ++j) {
    const T* s = SampleAt<T>(src, srcRowBytes, srcPixelBytes, srcOrigin.x, srcOrigin.y + j);
    T* d = SampleAt<T>(dst, dstRowBytes, int32_t(sizeof(T)), dstOrigin.x, dstOrigin.y + j);
    const std::ptrdiff_t step = srcPixelBytes / std::ptrdiff_t(sizeof(T));
    if (srcPixelBytes % int32_t(sizeof(T)) == 0) {
      for (int32_t i = 0; i < size.x; ++i) d[i] = s[i * step];
    } else {
      for (int32_t i = 0; i < size.x; ++i)
        std::memcpy(d + i, reinterpret_cast<const unsigned char*>(s) + std::ptrdiff_t(i) * srcPixelBytes,
                    sizeof(T));
    }
  }
  return 0;
}

template <class T>
int32_t GX_Interleave1to4(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes,
                          const V_Vector2T<int32_t>& size, const V_LPoint& srcOrigin,
                          const V_LPoint& dstOrigin) {
  if (BadPlaneArgs(src, dst, size)) return GX_Err_BadArgument;
  const int32_t pixelBytes = int32_t(4 * sizeof(T));
  for (int32_t j = 0; j < size.y; ++j) {
    const T* s = SampleAt<T>(src, srcRowBytes, int32_t(sizeof(T)), srcOrigin.x, srcOrigin.y + j);
    T* d = SampleAt<T>(dst, dstRowBytes, pixelBytes, dstOrigin.x, dstOrigin.y + j);
    for (int32_t i = 0; i < size.x; ++i) d[std::ptrdiff_t(i) * 4] = s[i];
  }
  return 0;
}

template int32_t GX_Deinterleave1<unsigned char>(const void*, int32_t, int32_t, void*, int32_t,
                                                 const V_Vector2T<int32_t>&, const V_LPoint&,
                                                 const V_LPoint&);
template int32_t GX_Deinterleave1<unsigned short>(const void*, int32_t, int32_t, void*, int32_t,
                                                  const V_Vector2T<int32_t>&, const V_LPoint&,
                                                  const V_LPoint&);
template int32_t GX_Deinterleave1<float>(const void*, int32_t, int32_t, void*, int32_t,
                                         const V_Vector2T<int32_t>&, const V_LPoint&,
                                         const V_LPoint&);
template int32_t GX_Interleave1to4<unsigned char>(const void*, int32_t, void*, int32_t,
                                                  const V_Vector2T<int32_t>&, const V_LPoint&,
                                                  const V_LPoint&);
template int32_t GX_Interleave1to4<unsigned short>(const void*, int32_t, void*, int32_t,
                                                   const V_Vector2T<int32_t>&, const V_LPoint&,
                                                   const V_LPoint&);
template int32_t GX_Interleave1to4<float>(const void*, int32_t, void*, int32_t,
                                          const V_Vector2T<int32_t>&, const V_LPoint&,
                                          const V_LPoint&);

int32_t GX_ConvertDeepUnoBuffer(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                                const V_LRect& rect, int32_t fullValue, GX_UnoBuffer* dst) {
  if (!src || !dst || fullValue < 1) return GX_Err_BadArgument;
  if (dst->GetDepth() != 32) return GX_Err_BadDepth;
  switch (src->GetDepth()) {
    case 8: return ConvertToFloat<uint8_t>(progress, *src, rect, fullValue, dst);
    case 16: return ConvertToFloat<uint16_t>(progress, *src, rect, fullValue, dst);
    default: return GX_Err_BadDepth;
  }
}

int32_t GX_CopyBits_Draft(GX_ProgressInfo* progress, const GX_LayerDef* src, GX_LayerDef* dst,
                          const V_LRect& srcRect, const V_LRect& dstRect) {
  if (!src || !dst || !HasPixels(*src) || !HasPixels(*dst)) return GX_Err_BadArgument;
  const int32_t depth = GXp_WorldDepth(src);
  if (depth == 0 || GXp_WorldDepth(dst) != depth) return GX_Err_BadDepth;
  if (srcRect.IsEmpty() || dstRect.IsEmpty()) return 0;
  const int64_t sw = int64_t(srcRect.right) - srcRect.left, sh = int64_t(srcRect.bottom) - srcRect.top;
  const int64_t dw = int64_t(dstRect.right) - dstRect.left, dh = int64_t(dstRect.bottom) - dstRect.top;
  const int32_t pixelBytes = GXp_PixelBytes(depth);
  const int32_t top = std::max(dstRect.top, 0), bottom = std::min(dstRect.bottom, dst->height);
  const int32_t left = std::max(dstRect.left, 0), right = std::min(dstRect.right, dst->width);
  // Source of destination column X: srcRect.left + floor((X − dstRect.left + ½) × sw / dw),
  // exact integer form: ((2 (X − dstRect.left) + 1) × sw) / (2 dw).
  const auto mapX = [&](int32_t x) {
    return int32_t(srcRect.left + ((2 * int64_t(x - dstRect.left) + 1) * sw) / (2 * dw));
  };
  const auto mapY = [&](int32_t y) {
    return int32_t(srcRect.top + ((2 * int64_t(y - dstRect.top) + 1) * sh) / (2 * dh));
  };
  const bool sameSize = sw == dw;
  for (int32_t y = top; y < bottom; ++y) {
    const int32_t sy = mapY(y);
    if (sy >= 0 && sy < src->height) {
      unsigned char* d = static_cast<unsigned char*>(GXp_PixelAddress(*dst, 0, y));
      if (sameSize) {
        // Pixel-for-pixel: one block per row, cut to the source's columns.
        const int32_t shift = srcRect.left - dstRect.left;
        const int32_t from = std::max(left, -shift), to = std::min(right, src->width - shift);
        if (from < to)
          std::memmove(d + std::ptrdiff_t(from) * pixelBytes,
                       GXp_PixelAddress(*src, from + shift, sy),
                       std::size_t(to - from) * std::size_t(pixelBytes));
      } else {
        for (int32_t x = left; x < right; ++x) {
          const int32_t sx = mapX(x);
          if (sx < 0 || sx >= src->width) continue;
          std::memcpy(d + std::ptrdiff_t(x) * pixelBytes, GXp_PixelAddress(*src, sx, sy),
                      std::size_t(pixelBytes));
        }
      }
    }
    if (int32_t rc = RowProgress(progress, y - top, bottom - top)) return rc;
  }
  return 0;
}

int32_t GX_ClearAlphaExceptRect(GX_ProgressInfo* progress, const V_LRect& keep,
                                GX_LayerDef* layer) {
  if (!layer || !HasPixels(*layer)) return GX_Err_BadArgument;
  switch (GXp_WorldDepth(layer)) {
    case 8: return ClearAlpha<GX_Pixel8>(progress, keep, layer);
    case 16: return ClearAlpha<GX_Pixel16>(progress, keep, layer);
    case 32: return ClearAlpha<GX_PixelFloat>(progress, keep, layer);
    default: return GX_Err_BadDepth;
  }
}
