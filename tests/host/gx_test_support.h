// SPDX-License-Identifier: MIT
// Scratch files, pixel access, comparison and set-up shared by the host pixel tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "host/gx/gx.h"
#include "test_support.h"

/// A file of this test process's scratch folder.
inline std::string Scratch(const std::string& name) { return TestScratchDir() + name; }

/// A whole file's bytes, and a file written with `bytes`.
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

/// Pixel (x, y) of a world, as its depth's pixel type.
template <class Pixel = GX_Pixel8>
Pixel& PixelOf(const GX_World& w, int32_t x, int32_t y) {
  return *static_cast<Pixel*>(GXp_PixelAddress(*w.GetLayer(), x, y));
}

/// A new world of `width` × `height` at `depth`, every pixel zero.
inline std::unique_ptr<GX_World> NewWorld(int32_t width, int32_t height, int32_t depth = 8) {
  return std::unique_ptr<GX_World>(GX_World::New(width, height, depth, 0));
}

/// A new 8-bit world with every pixel `fill`.
inline std::unique_ptr<GX_World> FilledWorld(int32_t width, int32_t height, GX_Pixel8 fill) {
  std::unique_ptr<GX_World> w = NewWorld(width, height);
  EXPECT_EQ(GX_Fill(nullptr, fill, L(0, 0, width, height), w->GetLayer()), 0);
  return w;
}

/// Whether two pixels hold the same channels; within `tolerance` for float pixels.
template <class Pixel>
::testing::AssertionResult SamePixel(const Pixel& got, const Pixel& want, double tolerance = 0) {
  const double g[4] = {double(got.alpha), double(got.red), double(got.green), double(got.blue)};
  const double w[4] = {double(want.alpha), double(want.red), double(want.green), double(want.blue)};
  for (int c = 0; c < 4; ++c)
    if (!(std::fabs(g[c] - w[c]) <= tolerance))
      return ::testing::AssertionFailure() << "got (" << g[0] << ", " << g[1] << ", " << g[2]
                                           << ", " << g[3] << ") want (" << w[0] << ", " << w[1]
                                           << ", " << w[2] << ", " << w[3] << ")";
  return ::testing::AssertionSuccess();
}

/// Fills a single-channel buffer of any depth with `v`, a value of the depth, through
/// the depth's own fill.
inline int32_t FillUno(GX_UnoBuffer* b, double v) {
  if (b->GetDepth() == 8) return GX_FillUnoBuffer(uint8_t(v), b);
  if (b->GetDepth() == 16) return GX_FillDeepUnoBuffer(uint16_t(v), b);
  return GX_FillFloatUnoBuffer(float(v), b);
}
