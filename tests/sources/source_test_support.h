// SPDX-License-Identifier: MIT
// Small builders shared by the paint source tests: rectangles, layers with a pixel
// pattern, masks.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "host/gx/gx.h"
#include "host/v/v.h"

inline V_Rect Rect(int top, int left, int bottom, int right) {
  V_Rect r;
  r.top = static_cast<int16_t>(top);
  r.left = static_cast<int16_t>(left);
  r.bottom = static_cast<int16_t>(bottom);
  r.right = static_cast<int16_t>(right);
  return r;
}

template <class P>
P& PixelAt(GX_LayerDef* layer, int x, int y) {
  return *static_cast<P*>(GXp_PixelAddress(*layer, x, y));
}

/// A world whose every pixel is `f(x, y)`.
template <class P>
std::unique_ptr<GX_World> MakeWorld(int width, int height, int depth,
                                    const std::function<P(int, int)>& f) {
  std::unique_ptr<GX_World> w(GX_World::New(width, height, depth, 0));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) PixelAt<P>(w->GetLayer(), x, y) = f(x, y);
  return w;
}

/// A single-channel buffer whose every sample is `f(x, y)`.
template <class T>
std::unique_ptr<GX_UnoBuffer> MakeMask(int width, int height, int depth,
                                       const std::function<T(int, int)>& f) {
  std::unique_ptr<GX_UnoBuffer> b(new GX_UnoBuffer(width, height, depth));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b->Row<T>(y)[x] = f(x, y);
  return b;
}

/// Every byte of a layer's pixel rows (padding excluded), for whole-image comparisons.
inline std::vector<unsigned char> LayerBytes(const GX_LayerDef& layer) {
  const int rowLen = layer.width * GXp_PixelBytes(layer.depth);
  std::vector<unsigned char> out(std::size_t(rowLen) * std::size_t(layer.height));
  for (int y = 0; y < layer.height; ++y)
    std::memcpy(out.data() + std::size_t(y) * rowLen,
                static_cast<const unsigned char*>(layer.data) + std::size_t(y) * layer.rowBytes,
                std::size_t(rowLen));
  return out;
}

inline bool operator==(const GX_Pixel8& a, const GX_Pixel8& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline bool operator==(const GX_Pixel16& a, const GX_Pixel16& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline std::ostream& operator<<(std::ostream& os, const GX_Pixel8& p) {
  return os << '(' << int(p.alpha) << ',' << int(p.red) << ',' << int(p.green) << ','
            << int(p.blue) << ')';
}
inline std::ostream& operator<<(std::ostream& os, const GX_Pixel16& p) {
  return os << '(' << p.alpha << ',' << p.red << ',' << p.green << ',' << p.blue << ')';
}
