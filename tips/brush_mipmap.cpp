// SPDX-License-Identifier: MIT
// Construction of a tip's MIP pyramid. The rasterizer half of K_BrushMIPMap lives in
// raster/tip_raster.cpp.
#include "kstroke/brush_mipmap.h"

#include <cstring>

#include "kstroke/brush_tip.h"
#include "raster/tip_ink.h"
#include "raster/tip_polygon.h"
#include "raster/turned_spans.h"
#include "tips/mip_pyramid.h"

namespace {

// Sample data starts at a multiple of 16 after the header.
constexpr std::size_t kHeaderBytes = (sizeof(Kp_MIPPyramid) + 15) & ~std::size_t(15);
// Zero bytes after the last level: vector kernels load 16 bytes from any sample of a
// row, which reaches past the end of the last level's bottom border.
constexpr std::size_t kTailBytes = 64;

/// Zeroes the top and bottom border rows and the side samples of every interior row.
template <class T>
void ClearLevelBorder(T* interior, std::ptrdiff_t stride, int32_t w, int32_t h) {
  T* top = interior - stride - 1;
  std::fill(top, top + w + 2, T(0));
  T* bottom = interior + std::ptrdiff_t(h) * stride - 1;
  std::fill(bottom, bottom + w + 2, T(0));
  for (int32_t row = 0; row < h; ++row) {
    interior[row * stride - 1] = 0;
    interior[row * stride + w] = 0;
  }
}

template <class T>
void BuildLevels(Kp_MIPPyramid* p, const GX_UnoBuffer& src, int32_t maxValue) {
  const std::ptrdiff_t stride0 = p->rowBytes[0] / std::ptrdiff_t(sizeof(T));
  T* level0 = reinterpret_cast<T*>(p->levels[0]);
  ClearLevelBorder(level0, stride0, p->Width(0), p->Height(0));
  for (int32_t row = 0; row < p->Height(0); ++row)
    std::memcpy(level0 + row * stride0, src.Row<T>(row), std::size_t(p->Width(0)) * sizeof(T));

  // One scratch array, sized for the first (largest) halving, serves every level: a
  // row per source row and one of zeros.
  // Recycled: a big brush's pyramid is rebuilt with every stroke.
  GX_Block scratchBlock(std::size_t((p->Width(0) >> 1) + 3) * std::size_t(p->Height(0) + 1) * sizeof(T), true);
  T* scratch = reinterpret_cast<T*>(scratchBlock.Data());
  for (int32_t k = 1; k < p->levelCount; ++k) {
    const std::ptrdiff_t srcStride = p->rowBytes[k - 1] / std::ptrdiff_t(sizeof(T));
    const std::ptrdiff_t dstStride = p->rowBytes[k] / std::ptrdiff_t(sizeof(T));
    T* dst = reinterpret_cast<T*>(p->levels[k]);
    Kp_HalveLevel(reinterpret_cast<const T*>(p->levels[k - 1]), srcStride, p->Width(k - 1),
                  p->Height(k - 1), scratch, dst, dstStride, maxValue);
    ClearLevelBorder(dst, dstStride, p->Width(k), p->Height(k));
  }
}

}  // namespace

struct K_BrushMIPMap::Levels {
  GX_Block block;  ///< header + all levels, zero-filled
  Kp_PyramidInk ink;
  Kp_PairedRows paired;
};

K_BrushMIPMap::K_BrushMIPMap(const K_BrushTip& tip) {
  const GX_UnoBuffer& src = *tip.GetTip();
  const int32_t bytes = src.GetDepth() == 16 ? 2 : 1;
  // Widths and heights are 16-bit quantities throughout the tip code.
  const int32_t w = static_cast<uint16_t>(src.GetWidth());
  const int32_t h = static_cast<uint16_t>(src.GetHeight());

  int32_t widths[kKp_MaxMIPLevels], heights[kKp_MaxMIPLevels];
  const int32_t count = Kp_MIPLevelCount(std::max(w, h));
  std::size_t samples = 0;
  for (int32_t k = 0; k < count; ++k) {
    widths[k] = k == 0 ? w : (widths[k - 1] >> 1) + 1;
    heights[k] = k == 0 ? h : (heights[k - 1] >> 1) + 1;
    samples += std::size_t(widths[k] + 2) * std::size_t(heights[k] + 2);
  }
  const std::size_t planeBytes = samples * std::size_t(bytes);

  auto built = std::make_shared<Levels>();
  GX_Block& block = built->block;
  block = GX_Block(kHeaderBytes + planeBytes + kTailBytes, true);
  Kp_MIPPyramid* const header = reinterpret_cast<Kp_MIPPyramid*>(block.Data());
  header->formatTag = kKp_MIPFormatTag;
  header->bitsPerSample = bytes * 8;
  header->planeBytes = static_cast<int32_t>(planeBytes);
  header->planeCount = 1;
  header->allPlanesBytes = header->planeBytes * header->planeCount;
  header->levelCount = count;
  unsigned char* at = block.Data() + kHeaderBytes;
  for (int32_t k = 0; k < count; ++k) {
    header->rowBytes[k] = (widths[k] + 2) * bytes;
    header->sizes[k][0] = heights[k];
    header->sizes[k][1] = widths[k];
    header->levels[k] = at + header->rowBytes[k] + bytes;  // skip the top row and left border
    at += std::size_t(header->rowBytes[k]) * std::size_t(heights[k] + 2);
  }
  if (bytes == 2)
    BuildLevels<uint16_t>(header, src, 32768);
  else
    BuildLevels<uint8_t>(header, src, 255);
  Kp_MeasureInk(*header, &built->ink);
  Kp_PairRows(*header, &built->paired);

  pyramid = header;
  ink = &built->ink;
  paired = &built->paired;
  levels = std::move(built);
  polygon.reset(new Kp_TipPolygon());
}

K_BrushMIPMap::K_BrushMIPMap(const K_BrushMIPMap& other, SharePyramid)
    : levels(other.levels), pyramid(other.pyramid), ink(other.ink), paired(other.paired),
      polygon(new Kp_TipPolygon()) {}

K_BrushMIPMap::~K_BrushMIPMap() = default;
