// SPDX-License-Identifier: MIT
// Small builders shared by the paint source tests: rectangles, layers and masks with a
// pattern at any depth, and the whole-area against 16-row-slices comparison of the fill.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "host/gx/gx.h"
#include "host/gx/gx_modes.h"
#include "host/v/v.h"
#include "kstroke/fill_paint_source.h"
#include "test_support.h"

// Transfer modes as the paint sources take them: plain numbers.
constexpr int32_t kNormal = int32_t(GX_TransferMode::kNormal);
constexpr int32_t kDissolve = int32_t(GX_TransferMode::kDissolve);
constexpr int32_t kMultiply = int32_t(GX_TransferMode::kMultiply);
constexpr int32_t kScreen = int32_t(GX_TransferMode::kScreen);

inline V_Rect Rect(int top, int left, int bottom, int right) {
  return V_Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

/// A placement: position and anchor in fractions of the destination, rotation in degrees.
inline K_Transform Xf(double posX = 0, double posY = 0, double rotation = 0, double scaleX = 1,
                      double scaleY = 1, double aspect = 1, double anchorX = 0, double anchorY = 0) {
  K_Transform t;
  t.position = V_Vector2T<double>(posX, posY);
  t.rotation = rotation;
  t.scale = V_Vector2T<double>(scaleX, scaleY);
  t.pixelAspect = aspect;
  t.anchor = V_Vector2T<double>(anchorX, anchorY);
  return t;
}

inline bool operator==(const GX_Pixel8& a, const GX_Pixel8& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline std::ostream& operator<<(std::ostream& os, const GX_Pixel8& p) {
  return os << '(' << int(p.alpha) << ',' << int(p.red) << ',' << int(p.green) << ',' << int(p.blue)
            << ')';
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

using Reports = std::vector<std::pair<int32_t, int32_t>>;

// Any depth: samples as raw numbers (0..255, 0..32768 or float), channels in the order
// alpha, red, green, blue.
using Raw4 = std::array<double, 4>;

inline double FullScale(int depth) { return depth == 8 ? 255 : depth == 16 ? 32768 : 1; }

inline Raw4 PixelValues(const GX_LayerDef& l, int x, int y) {
  const void* p = GXp_PixelAddress(l, x, y);
  Raw4 v;
  for (int c = 0; c < 4; ++c)
    v[std::size_t(c)] = l.depth == 8    ? static_cast<const uint8_t*>(p)[c]
                        : l.depth == 16 ? static_cast<const uint16_t*>(p)[c]
                                        : static_cast<const float*>(p)[c];
  return v;
}

/// Checks every pixel of an 8-bit layer against `want(x, y)`.
inline void ExpectPixels8(GX_LayerDef* layer, const std::function<GX_Pixel8(int, int)>& want) {
  for (int y = 0; y < layer->height; ++y)
    for (int x = 0; x < layer->width; ++x)
      EXPECT_EQ(PixelAt<GX_Pixel8>(layer, x, y), want(x, y)) << "at " << x << "," << y;
}

/// Checks every pixel of a layer of any depth against raw values `want(x, y)`.
inline void ExpectPixelsNear(const GX_LayerDef& layer, const std::function<Raw4(int, int)>& want,
                             double tolerance) {
  for (int y = 0; y < layer.height; ++y)
    for (int x = 0; x < layer.width; ++x)
      for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(PixelValues(layer, x, y)[c], want(x, y)[c], tolerance)
            << "at " << x << "," << y << " channel " << c;
}

/// A world of `depth` whose pixel (x, y) is `f(x, y)`, raw values rounded to the sample type.
inline std::unique_ptr<GX_World> MakeWorldAt(int width, int height, int depth,
                                             const std::function<Raw4(int, int)>& f) {
  std::unique_ptr<GX_World> w(GX_World::New(width, height, depth, 0));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      void* p = GXp_PixelAddress(*w->GetLayer(), x, y);
      const Raw4 v = f(x, y);
      for (int c = 0; c < 4; ++c) StoreSample(p, c, depth, v[std::size_t(c)]);
    }
  return w;
}

/// A mask of `depth` whose sample (x, y) is `f(x, y)` in fractions of full scale, rounded.
inline std::unique_ptr<GX_UnoBuffer> MakeMaskAt(int width, int height, int depth,
                                                const std::function<double(int, int)>& f) {
  std::unique_ptr<GX_UnoBuffer> b(new GX_UnoBuffer(width, height, depth));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) StoreSample(b->Row<void>(y), x, depth, f(x, y) * FullScale(depth));
  return b;
}

/// A 4 × 4 layer of a depth no code knows (12), every byte 77.
struct OddDepthLayer {
  std::vector<unsigned char> pixels = std::vector<unsigned char>(4 * 4 * 4, 77);
  GX_LayerDef layer;
  OddDepthLayer() {
    layer.width = layer.height = 4;
    layer.rowBytes = 16;
    layer.depth = 12;
    layer.data = pixels.data();
  }
  bool Untouched() const { return pixels == std::vector<unsigned char>(4 * 4 * 4, 77); }
};

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

/// Fills a `width` × `height` patterned layer at once and a copy of it 16 rows at a time
/// (rows the calling thread blends alone); the two must agree byte for byte, and differ
/// from the layer before.
inline void ExpectWholeAreaMatchesSixteenRowSlices(int width, int height, int depth,
                                                   int32_t mode, K_TargetChannel target) {
  const auto pattern = [](int x, int y) { return double((x * 53 + y * 29) % 101) / 100.0; };
  const double full = FullScale(depth);
  const auto pixel = [&](int x, int y) {
    return Raw4{full * pattern(y, x), full * pattern(x, y), 0.4 * full, 0.7 * full};
  };
  auto whole = MakeWorldAt(width, height, depth, pixel);
  auto sliced = MakeWorldAt(width, height, depth, pixel);
  auto mask = MakeMaskAt(width, height, depth, [&](int x, int y) { return pattern(x + 7, y); });
  K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.8f, 0.25f, 0.5f});
  const V_Rect all = Rect(0, 0, height, width);
  V_Rect area = all;
  fill.Render(nullptr, all, all, mask.get(), 0.7, K_Transform(), mode, target, 0, &area,
              whole->GetLayer());
  for (int top = 0; top < height; top += 16) {
    V_Rect slice = Rect(top, 0, std::min(top + 16, height), width);
    fill.Render(nullptr, all, all, mask.get(), 0.7, K_Transform(), mode, target, 0, &slice,
                sliced->GetLayer());
  }
  const auto got = LayerBytes(*whole->GetLayer());
  EXPECT_NE(got, LayerBytes(*MakeWorldAt(width, height, depth, pixel)->GetLayer())) << "no paint";
  EXPECT_EQ(got, LayerBytes(*sliced->GetLayer()));
}

