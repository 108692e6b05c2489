// SPDX-License-Identifier: MIT
#include "kstroke/fill_paint_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>
#include <memory>

#include <boost/shared_ptr.hpp>

#include "host/gx/gx_lazy.h"
#include "host/gx/gx_modes.h"
#include "source_test_support.h"
#include "test_support.h"

namespace {

constexpr int32_t kNormal = 2;
constexpr int32_t kDissolve = 3;
constexpr int32_t kMultiply = 5;

const GX_PixelFloat kOrange{0.3f, 1.0f, 0.5f, 0.0f};  // alpha 0.3 must not matter

/// Exposes the pixel requests the general render makes.
class FillProbe : public K_FillPaintSource {
public:
  using K_FillPaintSource::GetPixelSource;
  using K_FillPaintSource::GetSingleChannelPixelSource;
  using K_FillPaintSource::K_FillPaintSource;
};

class FillSource : public TrackedTest {
protected:
  /// Renders `source` over `area` with the layer's full rectangle as layer and bounds.
  static void RenderAll(const K_FillPaintSource& source, GX_LayerDef* dest,
                        const GX_UnoBuffer& mask, V_Rect area, int32_t mode,
                        K_TargetChannel target, double opacity = 1.0,
                        GX_ProgressInfo* progress = nullptr) {
    const V_Rect all = Rect(0, 0, dest->height, dest->width);
    source.Render(progress, all, all, &mask, opacity, K_Transform(), mode, target, 0, &area,
                  dest);
  }
};

TEST_F(FillSource, TargetChannelsChooseWhatTheDirectPathWrites) {
  // Column 0 has no coverage, column 1 full coverage, column 2 half coverage. The
  // destination is partly transparent, so "colour only" and "as over opaque" differ.
  struct Case {
    const char* name;
    K_TargetChannel target;
    GX_Pixel8 full;
    GX_Pixel8 half;  // within 1 of the straight-colour source-over result
  };
  const GX_Pixel8 before{100, 10, 20, 30};
  const Case kCases[] = {
      {"all channels", K_TargetChannel_RGBA, {255, 255, 128, 0}, {178, 186, 98, 8}},
      {"colour keeps alpha", K_TargetChannel_RGB, {100, 255, 128, 0}, {100, 186, 98, 8}},
      {"alpha takes red", K_TargetChannel_Alpha, {255, 10, 20, 30}, {178, 10, 20, 30}},
      {"colour as over opaque", K_TargetChannel_RGBOpaque, {100, 255, 128, 0},
       {100, 133, 74, 15}},
      {"0 draws nothing", K_TargetChannel(0), before, before},
      {"5 draws nothing", K_TargetChannel(5), before, before},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(3, 2, 8, [&](int, int) { return before; });
    auto mask = MakeMask<uint8_t>(3, 2, 8, [](int x, int) { return uint8_t(x == 0 ? 0 : x == 1 ? 255 : 128); });
    K_FillPaintSource fill(nullptr, kOrange);
    RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 2, 3), kNormal, c.target);
    for (int y = 0; y < 2; ++y) {
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 0, y), before);
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 1, y), c.full);
      const GX_Pixel8 h = PixelAt<GX_Pixel8>(dest->GetLayer(), 2, y);
      EXPECT_NEAR(h.alpha, c.half.alpha, 1);
      EXPECT_NEAR(h.red, c.half.red, 1);
      EXPECT_NEAR(h.green, c.half.green, 1);
      EXPECT_NEAR(h.blue, c.half.blue, 1);
    }
  }
}

TEST_F(FillSource, DeepAndFloatLayersGetTheConvertedColour) {
  {
    auto dest = MakeWorld<GX_Pixel16>(2, 1, 16, [](int, int) { return GX_Pixel16{0, 7, 7, 7}; });
    auto mask = MakeMask<uint16_t>(2, 1, 16, [](int x, int) { return uint16_t(x ? 32768 : 0); });
    K_FillPaintSource fill(nullptr, kOrange);
    RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 1, 2), kNormal, K_TargetChannel_RGBA);
    EXPECT_EQ(PixelAt<GX_Pixel16>(dest->GetLayer(), 0, 0), (GX_Pixel16{0, 7, 7, 7}));
    EXPECT_EQ(PixelAt<GX_Pixel16>(dest->GetLayer(), 1, 0), (GX_Pixel16{32768, 32768, 16384, 0}));
  }
  {
    auto dest = MakeWorld<GX_PixelFloat>(2, 1, 32, [](int, int) { return GX_PixelFloat{1, 0, 0, 0}; });
    auto mask = MakeMask<float>(2, 1, 32, [](int x, int) { return x ? 1.0f : 0.0f; });
    K_FillPaintSource fill(nullptr, GX_PixelFloat{0, 0.25f, 0.5f, 0.75f});
    RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 1, 2), kNormal, K_TargetChannel_RGB);
    const GX_PixelFloat p = PixelAt<GX_PixelFloat>(dest->GetLayer(), 1, 0);
    EXPECT_FLOAT_EQ(p.alpha, 1.0f);
    EXPECT_FLOAT_EQ(p.red, 0.25f);
    EXPECT_FLOAT_EQ(p.green, 0.5f);
    EXPECT_FLOAT_EQ(p.blue, 0.75f);
    EXPECT_FLOAT_EQ(PixelAt<GX_PixelFloat>(dest->GetLayer(), 0, 0).red, 0.0f);
  }
}

TEST_F(FillSource, OpacityIsTruncatedToTheDepth) {
  // White over opaque black at full coverage: the red that comes out is the opacity
  // the transfer function was given.
  struct Case {
    const char* name;
    int depth;
    double opacity;
    double red;
  };
  const Case kCases[] = {
      {"8-bit 0.5 → 127", 8, 0.5, 127},           {"8-bit 0.99999 → 254", 8, 0.99999, 254},
      {"16-bit 0.5 → 16384", 16, 0.5, 16384},     {"16-bit 0.99999 → 32767", 16, 0.99999, 32767},
      {"float 0.5", 32, 0.5, 0.5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 1, 1, 1});
    double red = -1;
    if (c.depth == 8) {
      auto dest = MakeWorld<GX_Pixel8>(1, 1, 8, [](int, int) { return GX_Pixel8{255, 0, 0, 0}; });
      auto mask = MakeMask<uint8_t>(1, 1, 8, [](int, int) { return uint8_t(255); });
      RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 1, 1), kNormal, K_TargetChannel_RGBA, c.opacity);
      red = PixelAt<GX_Pixel8>(dest->GetLayer(), 0, 0).red;
    } else if (c.depth == 16) {
      auto dest = MakeWorld<GX_Pixel16>(1, 1, 16, [](int, int) { return GX_Pixel16{32768, 0, 0, 0}; });
      auto mask = MakeMask<uint16_t>(1, 1, 16, [](int, int) { return uint16_t(32768); });
      RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 1, 1), kNormal, K_TargetChannel_RGBA, c.opacity);
      red = PixelAt<GX_Pixel16>(dest->GetLayer(), 0, 0).red;
    } else {
      auto dest = MakeWorld<GX_PixelFloat>(1, 1, 32, [](int, int) { return GX_PixelFloat{1, 0, 0, 0}; });
      auto mask = MakeMask<float>(1, 1, 32, [](int, int) { return 1.0f; });
      RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 1, 1), kNormal, K_TargetChannel_RGBA, c.opacity);
      red = PixelAt<GX_PixelFloat>(dest->GetLayer(), 0, 0).red;
    }
    EXPECT_NEAR(red, c.red, 1e-6);
  }
}

TEST_F(FillSource, PixelsOutsideMaskAndBoundsAreNeverTouched) {
  struct Case {
    const char* name;
    V_Rect area;
    V_Rect bounds;
    int maskWidth, maskHeight;
    V_Rect painted;
  };
  const Case kCases[] = {
      {"clipped by bounds and mask", Rect(0, 0, 8, 8), Rect(0, 0, 8, 4), 6, 5, Rect(0, 0, 5, 4)},
      {"area off the top-left", Rect(-3, -3, 2, 2), Rect(0, 0, 8, 8), 8, 8, Rect(0, 0, 2, 2)},
      {"inner area", Rect(2, 3, 5, 7), Rect(0, 0, 8, 8), 8, 8, Rect(2, 3, 5, 7)},
      {"area outside the mask", Rect(6, 6, 8, 8), Rect(0, 0, 8, 8), 5, 5, Rect(0, 0, 0, 0)},
  };
  const GX_Pixel8 before{200, 1, 2, 3};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(8, 8, 8, [&](int, int) { return before; });
    auto mask = MakeMask<uint8_t>(c.maskWidth, c.maskHeight, 8, [](int, int) { return uint8_t(255); });
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0, 1, 0});
    V_Rect area = c.area;
    fill.Render(nullptr, Rect(0, 0, 8, 8), c.bounds, mask.get(), 1.0, K_Transform(), kNormal,
                K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
    EXPECT_EQ(area, c.area);  // the direct path never shrinks the caller's area
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= c.painted.left && x < c.painted.right && y >= c.painted.top &&
                            y < c.painted.bottom;
        EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y),
                  (inside ? GX_Pixel8{255, 0, 255, 0} : before))
            << "at " << x << "," << y;
      }
  }
}

TEST_F(FillSource, SixteenAndSeventeenRowsGiveIdenticalPixels) {
  // 17 rows at once may run on several threads; 16 rows plus one row run on the
  // calling thread. The pixels must not depend on which.
  struct Case {
    const char* name;
    int depth;
    int32_t mode;
    K_TargetChannel target;
  };
  const Case kCases[] = {
      {"8-bit normal", 8, kNormal, K_TargetChannel_RGBA},
      {"8-bit multiply colour", 8, kMultiply, K_TargetChannel_RGB},
      {"16-bit normal alpha", 16, kNormal, K_TargetChannel_Alpha},
      {"float multiply opaque", 32, kMultiply, K_TargetChannel_RGBOpaque},
  };
  constexpr int kW = 23, kH = 17;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto pattern = [&](int x, int y) { return float((x * 37 + y * 11) % 97) / 96.0f; };
    std::unique_ptr<GX_World> a, b, orig;
    std::unique_ptr<GX_UnoBuffer> mask;
    if (c.depth == 8) {
      auto px = [&](int x, int y) {
        return GX_Pixel8{uint8_t(255 * pattern(y, x)), uint8_t(255 * pattern(x, y)), 40, 200};
      };
      a = MakeWorld<GX_Pixel8>(kW, kH, 8, px);
      b = MakeWorld<GX_Pixel8>(kW, kH, 8, px);
      orig = MakeWorld<GX_Pixel8>(kW, kH, 8, px);
      mask = MakeMask<uint8_t>(kW, kH, 8, [&](int x, int y) { return uint8_t(255 * pattern(x + 3, y)); });
    } else if (c.depth == 16) {
      auto px = [&](int x, int y) {
        return GX_Pixel16{uint16_t(32768 * pattern(y, x)), uint16_t(32768 * pattern(x, y)), 400, 9000};
      };
      a = MakeWorld<GX_Pixel16>(kW, kH, 16, px);
      b = MakeWorld<GX_Pixel16>(kW, kH, 16, px);
      orig = MakeWorld<GX_Pixel16>(kW, kH, 16, px);
      mask = MakeMask<uint16_t>(kW, kH, 16, [&](int x, int y) { return uint16_t(32768 * pattern(x + 3, y)); });
    } else {
      auto px = [&](int x, int y) { return GX_PixelFloat{pattern(y, x), pattern(x, y), 0.2f, 0.9f}; };
      a = MakeWorld<GX_PixelFloat>(kW, kH, 32, px);
      b = MakeWorld<GX_PixelFloat>(kW, kH, 32, px);
      orig = MakeWorld<GX_PixelFloat>(kW, kH, 32, px);
      mask = MakeMask<float>(kW, kH, 32, [&](int x, int y) { return pattern(x + 3, y); });
    }
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.9f, 0.3f, 0.6f});
    RenderAll(fill, a->GetLayer(), *mask, Rect(0, 0, kH, kW), c.mode, c.target, 0.8);
    RenderAll(fill, b->GetLayer(), *mask, Rect(0, 0, 16, kW), c.mode, c.target, 0.8);
    RenderAll(fill, b->GetLayer(), *mask, Rect(16, 0, kH, kW), c.mode, c.target, 0.8);
    EXPECT_EQ(LayerBytes(*a->GetLayer()), LayerBytes(*b->GetLayer()));
    EXPECT_NE(LayerBytes(*a->GetLayer()), LayerBytes(*orig->GetLayer()));  // it did paint
  }
}

TEST_F(FillSource, PixelRequestsAreFlatInTheLayerDepth) {
  struct Case {
    const char* name;
    int depth;
    GX_PixelFloat colour;
    double alpha, red, green, blue;
  };
  const Case kCases[] = {
      {"8-bit rounds half up", 8, {0.3f, 0.5f, 0.2f, 1.0f}, 255, 128, 51, 255},
      {"8-bit clamps", 8, {0, -0.2f, 1.3f, 0.004f}, 255, 0, 255, 1},
      {"16-bit", 16, {0, 0.5f, 0.1f, 1.0f}, 32768, 16384, 3277, 32768},
      {"16-bit clamps", 16, {0, 1.3f, -0.2f, 0.0f}, 32768, 32768, 0, 0},
      {"float passes through", 32, {0, -0.2f, 1.3f, 0.5f}, 1.0, -0.2f, 1.3f, 0.5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FillProbe fill(nullptr, c.colour);
    V_Rect area = Rect(5, 7, 8, 11);
    const GX_World* w = fill.GetPixelSource(nullptr, Rect(0, 0, 20, 20), Rect(0, 0, 20, 20),
                                            K_Transform(), int16_t(c.depth), kNormal, &area);
    EXPECT_EQ(area, Rect(5, 7, 8, 11));
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->Width(), 4);
    ASSERT_EQ(w->Height(), 3);
    const V_Rect maskRect = Rect(0, 0, 2, 3);
    const GX_UnoBuffer* b = fill.GetSingleChannelPixelSource(
        nullptr, Rect(0, 0, 20, 20), Rect(0, 0, 20, 20), K_Transform(), int16_t(c.depth), kNormal,
        &maskRect);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->GetWidth(), 3);
    ASSERT_EQ(b->GetHeight(), 2);
    GX_LayerDef* layer = const_cast<GX_World*>(w)->GetLayer();
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        double got[4];
        if (c.depth == 8) {
          const GX_Pixel8 p = PixelAt<GX_Pixel8>(layer, x, y);
          got[0] = p.alpha, got[1] = p.red, got[2] = p.green, got[3] = p.blue;
        } else if (c.depth == 16) {
          const GX_Pixel16 p = PixelAt<GX_Pixel16>(layer, x, y);
          got[0] = p.alpha, got[1] = p.red, got[2] = p.green, got[3] = p.blue;
        } else {
          const GX_PixelFloat p = PixelAt<GX_PixelFloat>(layer, x, y);
          got[0] = p.alpha, got[1] = p.red, got[2] = p.green, got[3] = p.blue;
        }
        EXPECT_NEAR(got[0], c.alpha, 1e-6);
        EXPECT_NEAR(got[1], c.red, 1e-6);
        EXPECT_NEAR(got[2], c.green, 1e-6);
        EXPECT_NEAR(got[3], c.blue, 1e-6);
      }
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const double v = c.depth == 8    ? b->Row<uint8_t>(y)[x]
                         : c.depth == 16 ? b->Row<uint16_t>(y)[x]
                                         : b->Row<float>(y)[x];
        EXPECT_NEAR(v, c.red, 1e-6);
      }
  }
}

TEST_F(FillSource, DissolveGoesThroughTheGeneralRender) {
  // At full coverage Dissolve takes every pixel, so the result is the colour; the
  // general render shows itself in its three-phase progress.
  struct Case {
    const char* name;
    K_TargetChannel target;
    GX_Pixel8 painted;
    bool phases;  // composite path: reports (1, 3) and (2, 3)
  };
  const Case kCases[] = {
      {"composite", K_TargetChannel_RGBA, {255, 0, 255, 51}, true},
      {"colour only", K_TargetChannel_RGB, {90, 0, 255, 51}, true},
      {"single channel takes red", K_TargetChannel_Alpha, {0, 1, 2, 3}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(4, 3, 8, [](int, int) { return GX_Pixel8{90, 1, 2, 3}; });
    auto mask = MakeMask<uint8_t>(4, 3, 8, [](int x, int) { return uint8_t(x < 2 ? 255 : 0); });
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0, 1, 0.2f});
    ProgressRecorder rec;
    GX_ProgressInfo info = rec.Record();
    RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 3, 4), kDissolve, c.target, 1.0, &info);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y),
                  (x < 2 ? c.painted : GX_Pixel8{90, 1, 2, 3}))
            << "at " << x << "," << y;
    ASSERT_FALSE(rec.reports.empty());
    EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));
    const bool sawPhases =
        std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(1, 3)) != rec.reports.end() &&
        std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(2, 3)) != rec.reports.end();
    EXPECT_EQ(sawPhases, c.phases);
    EXPECT_EQ(info.context, &rec);
    EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
    EXPECT_EQ(info.abortCheck, nullptr);
  }
}

TEST_F(FillSource, GeneralRenderAtDeepAndFloatDepths) {
  // Colour (r 0.25, g 0.5, b 1): composite writes it with full alpha where the mask
  // is full; the single-channel path writes the red value into alpha only.
  struct Case {
    const char* name;
    int depth;
    K_TargetChannel target;
    double alpha, red, green, blue;  // fractions of full
  };
  const Case kCases[] = {
      {"16-bit composite", 16, K_TargetChannel_RGBA, 1, 0.25, 0.5, 1},
      {"16-bit alpha", 16, K_TargetChannel_Alpha, 0.25, 0.125, 0.125, 0.125},
      {"float composite", 32, K_TargetChannel_RGBA, 1, 0.25, 0.5, 1},
      {"float alpha", 32, K_TargetChannel_Alpha, 0.25, 0.125, 0.125, 0.125},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const double full = c.depth == 16 ? 32768 : 1;
    std::unique_ptr<GX_World> dest;
    std::unique_ptr<GX_UnoBuffer> mask;
    if (c.depth == 16) {
      dest = MakeWorld<GX_Pixel16>(3, 2, 16, [](int, int) { return GX_Pixel16{4096, 4096, 4096, 4096}; });
      mask = MakeMask<uint16_t>(3, 2, 16, [](int x, int) { return uint16_t(x ? 32768 : 0); });
    } else {
      dest = MakeWorld<GX_PixelFloat>(3, 2, 32, [](int, int) { return GX_PixelFloat{0.125f, 0.125f, 0.125f, 0.125f}; });
      mask = MakeMask<float>(3, 2, 32, [](int x, int) { return x ? 1.0f : 0.0f; });
    }
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.25f, 0.5f, 1.0f});
    RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 2, 3), kDissolve, c.target);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        double got[4];
        if (c.depth == 16) {
          const GX_Pixel16 p = PixelAt<GX_Pixel16>(dest->GetLayer(), x, y);
          got[0] = p.alpha, got[1] = p.red, got[2] = p.green, got[3] = p.blue;
        } else {
          const GX_PixelFloat p = PixelAt<GX_PixelFloat>(dest->GetLayer(), x, y);
          got[0] = p.alpha, got[1] = p.red, got[2] = p.green, got[3] = p.blue;
        }
        const double want[4] = {x ? c.alpha : 0.125, x ? c.red : 0.125, x ? c.green : 0.125,
                                x ? c.blue : 0.125};
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k] / full, want[k], 1e-6) << x << "," << y << " ch " << k;
      }
  }
}

TEST_F(FillSource, DirectPathReportsEveryThirtyTwoRowsOfTheCallingThread) {
  auto dest = MakeWorld<GX_Pixel8>(2, 40, 8, [](int, int) { return GX_Pixel8{}; });
  auto mask = MakeMask<uint8_t>(2, 40, 8, [](int, int) { return uint8_t(255); });
  K_FillPaintSource fill(nullptr, kOrange);
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  // Rows 3..12: static iteration, row 0 and 32 are not in the area, so no report.
  RenderAll(fill, dest->GetLayer(), *mask, Rect(3, 0, 13, 2), kNormal, K_TargetChannel_RGBA, 1.0, &info);
  EXPECT_TRUE(rec.reports.empty());
  // Rows 0..9: one report, for row 0, relative to the clipped area.
  RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 10, 2), kNormal, K_TargetChannel_RGBA, 1.0, &info);
  EXPECT_EQ(rec.reports, (std::vector<std::pair<int32_t, int32_t>>{{0, 10}}));
}

TEST_F(FillSource, CancelInTheRowLoopIsThrown) {
  auto dest = MakeWorld<GX_Pixel8>(2, 8, 8, [](int, int) { return GX_Pixel8{}; });
  auto mask = MakeMask<uint8_t>(2, 8, 8, [](int, int) { return uint8_t(255); });
  K_FillPaintSource fill(nullptr, kOrange);
  ProgressRecorder rec;
  rec.failAt = 0;
  rec.failCode = 41;
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 8, 2), kNormal,
                        K_TargetChannel_RGBA, 1.0, &info);
            }),
            41);
  // Row 0 reports before it is blended, so nothing was painted.
  EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 0, 0), (GX_Pixel8{0, 0, 0, 0}));
  EXPECT_EQ(info.context, &rec);
}

TEST_F(FillSource, EveryFailedReportOfTheGeneralRenderRestoresProgress) {
  // Run once to learn the reports, then cancel at each of them in turn: the record
  // comes back intact every time, and only the final (3, 3) cannot cancel.
  auto run = [&](ProgressRecorder* rec) {
    auto dest = MakeWorld<GX_Pixel8>(3, 70, 8, [](int, int) { return GX_Pixel8{255, 0, 0, 0}; });
    auto mask = MakeMask<uint8_t>(3, 70, 8, [](int, int) { return uint8_t(255); });
    K_FillPaintSource fill(nullptr, kOrange);
    GX_ProgressInfo info = rec->Record();
    const long code = ThrownCode([&] {
      RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 70, 3), kDissolve,
                K_TargetChannel_RGBA, 1.0, &info);
    });
    EXPECT_EQ(info.context, rec);
    EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
    EXPECT_EQ(info.abortCheck, nullptr);
    return code;
  };
  ProgressRecorder clean;
  ASSERT_EQ(run(&clean), -1);
  ASSERT_GE(clean.reports.size(), 4u);  // host work, (1, 3), (2, 3), (3, 3)
  for (std::size_t i = 0; i < clean.reports.size(); ++i) {
    SCOPED_TRACE(i);
    ProgressRecorder rec;
    rec.failAt = long(i);
    rec.failCode = 600 + int32_t(i);
    const long code = run(&rec);
    if (i + 1 == clean.reports.size()) {
      EXPECT_EQ(code, -1);
    } else {
      EXPECT_EQ(code, 600 + long(i));
      EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));  // the closing report still came
    }
  }
}

TEST_F(FillSource, UnknownDepthFailsOnlyTheGeneralRender) {
  std::vector<unsigned char> pixels(4 * 4 * 4, 77);
  GX_LayerDef odd;
  odd.width = 4;
  odd.height = 4;
  odd.rowBytes = 16;
  odd.depth = 12;
  odd.data = pixels.data();
  auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
  K_FillPaintSource fill(nullptr, kOrange);

  RenderAll(fill, &odd, *mask, Rect(0, 0, 4, 4), kNormal, K_TargetChannel_RGBA);
  EXPECT_EQ(Y_LastVerificationReport().count, 0);
  EXPECT_EQ(pixels, std::vector<unsigned char>(4 * 4 * 4, 77));

  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, &odd, *mask, Rect(0, 0, 4, 4), kDissolve, K_TargetChannel_RGBA,
                        1.0, &info);
            }),
            3);
  EXPECT_EQ(Y_LastVerificationReport().message, "Unknown world bitdepth in##CONDITIONNAME");
  EXPECT_EQ(Y_LastVerificationReport().code, 2425831);
  EXPECT_EQ(info.context, &rec);
  EXPECT_EQ(pixels, std::vector<unsigned char>(4 * 4 * 4, 77));
}

TEST_F(FillSource, EmptyAreaDoesNothing) {
  for (int32_t mode : {kNormal, kDissolve}) {
    SCOPED_TRACE(mode);
    auto dest = MakeWorld<GX_Pixel8>(2, 2, 8, [](int, int) { return GX_Pixel8{1, 2, 3, 4}; });
    auto mask = MakeMask<uint8_t>(2, 2, 8, [](int, int) { return uint8_t(255); });
    K_FillPaintSource fill(nullptr, kOrange);
    ProgressRecorder rec;
    GX_ProgressInfo info = rec.Record();
    RenderAll(fill, dest->GetLayer(), *mask, Rect(1, 1, 1, 2), mode, K_TargetChannel_RGBA, 1.0, &info);
    EXPECT_TRUE(rec.reports.empty());
    EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 1, 1), (GX_Pixel8{1, 2, 3, 4}));
  }
}

TEST_F(FillSource, LazyCopyIsSecuredBeforeThePaint) {
  // The pre-stroke copy is addressed relative to the layer rectangle's top-left and
  // must hold the pixels as they were before this render painted over them.
  struct Case {
    const char* name;
    V_Rect layerRect;
    int tileX, tileY;
  };
  const Case kCases[] = {
      {"layer at the origin", Rect(0, 0, 16, 16), 2, 2},
      {"layer moved by (4, 4)", Rect(4, 4, 20, 20), 1, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(16, 16, 8, [](int x, int y) {
      return GX_Pixel8{255, uint8_t(x), uint8_t(y), 0};
    });
    boost::shared_ptr<GX_World> preStroke(GX_World::New(16, 16, 8, 0));
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyWorldCopyOperator(preStroke));
    static_cast<GX_LazyWorldCopyOperator*>(op.get())->SetSourceLayer(dest->GetLayer());
    boost::shared_ptr<GX_LazyTilesCondition> lazy(new GX_LazyTilesCondition(4, &op));
    auto mask = MakeMask<uint8_t>(16, 16, 8, [](int, int) { return uint8_t(255); });
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 1, 1, 1});
    fill.SetLazyCopy(lazy);
    EXPECT_EQ(fill.GetLazyCopy(), lazy);
    V_Rect area = Rect(8, 8, 12, 12);
    fill.Render(nullptr, c.layerRect, Rect(0, 0, 16, 16), mask.get(), 1.0, K_Transform(),
                kNormal, K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
    EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 9, 9), (GX_Pixel8{255, 255, 255, 255}));
    EXPECT_EQ(lazy->CountValidTiles(), 1);
    EXPECT_TRUE(lazy->IsTileValid(c.tileX, c.tileY));
    const int px = c.tileX * 4 + 1, py = c.tileY * 4 + 1;
    EXPECT_EQ(PixelAt<GX_Pixel8>(preStroke->GetLayer(), px, py),
              (GX_Pixel8{255, uint8_t(px), uint8_t(py), 0}));
    fill.SetLazyCopy(boost::shared_ptr<GX_LazyTilesCondition>());
    EXPECT_EQ(lazy.use_count(), 1);
  }
}

TEST_F(FillSource, CopyingTakesOverTheCaches) {
  const std::size_t live = Y_MemTrackedObject::LiveObjects();
  boost::shared_ptr<FillProbe> a(new FillProbe(nullptr, kOrange));
  V_Rect area = Rect(0, 0, 2, 2);
  const GX_World* w = a->GetPixelSource(nullptr, area, area, K_Transform(), 8, kNormal, &area);
  const GX_UnoBuffer* b = a->GetSingleChannelPixelSource(nullptr, area, area, K_Transform(), 8,
                                                         kNormal, &area);
  ASSERT_NE(w, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);  // source, world, buffer
  {
    FillProbe copy(*a);  // on the stack: only the caches are counted
    EXPECT_EQ(copy.GetColour().red, 1.0f);
    EXPECT_EQ(copy.GetColour().alpha, 1.0f);
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);  // moved, not copied
  }
  // The copy took the world and buffer with it.
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 1);
  EXPECT_NE(a->GetPixelSource(nullptr, area, area, K_Transform(), 8, kNormal, &area), nullptr);
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 2);

  FillProbe other(nullptr, GX_PixelFloat{1, 0, 0, 1});
  other.GetPixelSource(nullptr, area, area, K_Transform(), 8, kNormal, &area);
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);
  other = *a;  // releases its own world, takes a's
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 2);
  EXPECT_EQ(other.GetColour().blue, 0.0f);
  a.reset();
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 1);  // other still holds the world
}

}  // namespace
