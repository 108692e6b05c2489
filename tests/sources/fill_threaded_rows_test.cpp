// SPDX-License-Identifier: MIT
// The fill source's row loop over a tall area runs on the host's worker threads; the
// pixels must equal those of the same area blended 16 rows at a time on the calling
// thread. Built with -DKSTROKE_SANITIZE=thread this is also the data-race check
// (README, "Performance").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "kstroke/fill_paint_source.h"
#include "source_test_support.h"
#include "test_support.h"

namespace {

class FillThreadedRows : public TrackedTest {};

float Pattern(int x, int y) { return float((x * 53 + y * 29) % 101) / 100.0f; }

template <class P, class T>
void RenderBothWays(int depth, int32_t mode, K_TargetChannel target, P (*pixel)(int, int),
                    T (*coverage)(int, int)) {
  constexpr int kW = 257, kH = 403;  // odd sizes: no row or tile boundary lines up
  auto threaded = MakeWorld<P>(kW, kH, depth, pixel);
  auto sliced = MakeWorld<P>(kW, kH, depth, pixel);
  auto mask = MakeMask<T>(kW, kH, depth, coverage);
  K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.8f, 0.25f, 0.5f});
  const V_Rect all = Rect(0, 0, kH, kW);
  V_Rect area = all;
  fill.Render(nullptr, all, all, mask.get(), 0.7, K_Transform(), mode, target, 0, &area,
              threaded->GetLayer());
  for (int top = 0; top < kH; top += 16) {
    V_Rect slice = Rect(top, 0, std::min(top + 16, kH), kW);
    fill.Render(nullptr, all, all, mask.get(), 0.7, K_Transform(), mode, target, 0, &slice,
                sliced->GetLayer());
  }
  const auto before = LayerBytes(*MakeWorld<P>(kW, kH, depth, pixel)->GetLayer());
  const auto a = LayerBytes(*threaded->GetLayer());
  EXPECT_NE(a, before);  // it painted
  ASSERT_EQ(a, LayerBytes(*sliced->GetLayer()));
}

TEST_F(FillThreadedRows, TallAreaMatchesSixteenRowSlices) {
  struct Case {
    const char* name;
    int depth;
    int32_t mode;
    K_TargetChannel target;
  };
  const Case kCases[] = {
      {"8-bit normal", 8, 2, K_TargetChannel_RGBA},
      {"8-bit multiply colour", 8, 5, K_TargetChannel_RGB},
      {"16-bit normal", 16, 2, K_TargetChannel_RGBA},
      {"16-bit alpha", 16, 2, K_TargetChannel_Alpha},
      {"float screen opaque", 32, 6, K_TargetChannel_RGBOpaque},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.depth == 8) {
      RenderBothWays<GX_Pixel8, uint8_t>(
          8, c.mode, c.target,
          [](int x, int y) {
            return GX_Pixel8{uint8_t(255 * Pattern(y, x)), uint8_t(255 * Pattern(x, y)), 90, 10};
          },
          [](int x, int y) { return uint8_t(255 * Pattern(x + 7, y)); });
    } else if (c.depth == 16) {
      RenderBothWays<GX_Pixel16, uint16_t>(
          16, c.mode, c.target,
          [](int x, int y) {
            return GX_Pixel16{uint16_t(32768 * Pattern(y, x)), uint16_t(32768 * Pattern(x, y)),
                              1200, 30000};
          },
          [](int x, int y) { return uint16_t(32768 * Pattern(x + 7, y)); });
    } else {
      RenderBothWays<GX_PixelFloat, float>(
          32, c.mode, c.target,
          [](int x, int y) { return GX_PixelFloat{Pattern(y, x), Pattern(x, y), 0.4f, 0.7f}; },
          [](int x, int y) { return Pattern(x + 7, y); });
    }
  }
}

}  // namespace
