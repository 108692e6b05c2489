// SPDX-License-Identifier: MIT
// Golden-image comparison for whole renders.
//
// Tolerances are fractions of full scale, so one number serves 8, 16 and float. Deep and
// float renders are kept as 16-bit PNG. KSTROKE_UPDATE_GOLDEN=1 rewrites the golden
// first (look at it before committing). On a mismatch the actual render and a diff
// mask are written under <build>/test_out/<subdir>/ and the failure names the largest
// channel difference and the count of pixels past the tolerance.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"
#include "host/gx/gx_png.h"

inline double GoldenChannel(const GX_LayerDef& l, int x, int y, int c) {
  const void* p = GXp_PixelAddress(l, x, y);
  if (l.depth == 8) return static_cast<const uint8_t*>(p)[c] / 255.0;
  if (l.depth == 16) return static_cast<const uint16_t*>(p)[c] / 32768.0;
  return static_cast<const float*>(p)[c];
}

inline void ExpectMatchesGolden(const GX_World& actual, const std::string& subdir,
                                const std::string& name, double tolerance) {
  namespace fs = std::filesystem;
  const fs::path outDir = fs::path(KSTROKE_BINARY_DIR) / "test_out" / subdir;
  const fs::path golden = fs::path(KSTROKE_GOLDEN_DIR) / subdir / name;
  const char* update = std::getenv("KSTROKE_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    fs::create_directories(golden.parent_path());
    ASSERT_EQ(GX_WritePng(golden.c_str(), *actual.GetLayer()), 0) << GX_PngLastMessage();
  }
  GX_World* raw = nullptr;
  ASSERT_EQ(GX_ReadPng(golden.c_str(), actual.Depth(), &raw), 0) << GX_PngLastMessage();
  std::unique_ptr<GX_World> expected(raw);
  ASSERT_EQ(expected->Width(), actual.Width());
  ASSERT_EQ(expected->Height(), actual.Height());

  std::unique_ptr<GX_World> diff(GX_World::New(actual.Width(), actual.Height(), 8, 0));
  double largest = 0;
  long differing = 0;
  for (int y = 0; y < actual.Height(); ++y)
    for (int x = 0; x < actual.Width(); ++x) {
      double d = 0;
      for (int c = 0; c < 4; ++c)
        d = std::max(d, std::fabs(GoldenChannel(*actual.GetLayer(), x, y, c) -
                                  GoldenChannel(*expected->GetLayer(), x, y, c)));
      largest = std::max(largest, d);
      const bool bad = d > tolerance;
      differing += bad;
      *static_cast<GX_Pixel8*>(GXp_PixelAddress(*diff->GetLayer(), x, y)) =
          bad ? GX_Pixel8{255, 255, 0, 0} : GX_Pixel8{255, 0, 0, 0};
    }
  if (differing > 0) {
    fs::create_directories(outDir);
    EXPECT_EQ(GX_WritePng((outDir / name).c_str(), *actual.GetLayer()), 0);
    EXPECT_EQ(GX_WritePng((outDir / ("diff_" + name)).c_str(), *diff->GetLayer()), 0);
  }
  EXPECT_EQ(differing, 0) << name << ": " << differing << " pixels differ, largest difference "
                          << largest << " of full scale (tolerance " << tolerance
                          << "); actual and diff in " << outDir;
}

/// How many rows of two worlds of one size and depth differ in any pixel byte.
inline long RowsDiffering(const GX_World& a, const GX_World& b) {
  const GX_LayerDef &la = *a.GetLayer(), &lb = *b.GetLayer();
  const std::size_t bytes = std::size_t(la.width) * std::size_t(GXp_PixelBytes(la.depth));
  long n = 0;
  for (int y = 0; y < la.height; ++y)
    n += std::memcmp(GXp_PixelAddress(la, 0, y), GXp_PixelAddress(lb, 0, y), bytes) != 0;
  return n;
}

/// Whether two image files of any supported format hold the same pixels when read at
/// `depth`: files written at different times may differ in chunks and compression.
inline ::testing::AssertionResult SameImagePixels(const std::string& a, const std::string& b,
                                                  int depth = 8) {
  GX_World* rawA = nullptr;
  GX_World* rawB = nullptr;
  if (GX_ReadImage(a.c_str(), depth, &rawA) != 0)
    return ::testing::AssertionFailure() << GX_ImageLastMessage();
  std::unique_ptr<GX_World> wa(rawA);
  if (GX_ReadImage(b.c_str(), depth, &rawB) != 0)
    return ::testing::AssertionFailure() << GX_ImageLastMessage();
  std::unique_ptr<GX_World> wb(rawB);
  if (wa->Width() != wb->Width() || wa->Height() != wb->Height())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < wa->Height(); ++y)
    for (int x = 0; x < wa->Width(); ++x)
      for (int c = 0; c < 4; ++c)
        if (GoldenChannel(*wa->GetLayer(), x, y, c) != GoldenChannel(*wb->GetLayer(), x, y, c))
          return ::testing::AssertionFailure()
                 << "pixel (" << x << ", " << y << ") channel " << c << " differs";
  return ::testing::AssertionSuccess();
}
