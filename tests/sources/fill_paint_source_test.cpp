// SPDX-License-Identifier: MIT
#include "kstroke/fill_paint_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "host/gx/gx_channels.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_modes.h"
#include "source_test_support.h"
#include "test_support.h"

namespace {

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
                        const GX_UnoBuffer& mask, V_Rect area, int32_t mode, K_TargetChannel target,
                        double opacity = 1.0, GX_ProgressInfo* progress = nullptr) {
    const V_Rect all = Rect(0, 0, dest->height, dest->width);
    source.Render(progress, all, all, &mask, opacity, K_Transform(), mode, target, 0, &area, dest);
  }
};

// Direct path
// ============================================================================

TEST_F(FillSource, TargetChannelsChooseWhatTheDirectPathWrites) {
  // Column 0 has no coverage, column 1 full coverage, column 2 half coverage. The
  // destination is partly transparent, so "colour only" and "as over opaque" differ.
  struct Case { const char* name; K_TargetChannel target; GX_Pixel8 full; Raw4 half; };
  const GX_Pixel8 before{100, 10, 20, 30};
  // `half` within 1 of the straight-colour source-over result.
  const Case kCases[] = {
      {"all channels", K_TargetChannel_RGBA, {255, 255, 128, 0}, {178, 186, 98, 8}},
      {"colour keeps alpha", K_TargetChannel_RGB, {100, 255, 128, 0}, {100, 186, 98, 8}},
      {"alpha takes red", K_TargetChannel_Alpha, {255, 10, 20, 30}, {178, 10, 20, 30}},
      {"colour as over opaque", K_TargetChannel_RGBOpaque, {100, 255, 128, 0}, {100, 133, 74, 15}},
      {"0 draws nothing", K_TargetChannel(0), before, {100, 10, 20, 30}},
      {"5 draws nothing", K_TargetChannel(5), before, {100, 10, 20, 30}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(3, 2, 8, [&](int, int) { return before; });
    auto mask = MakeMaskAt(3, 2, 8, [](int x, int) { return x == 0 ? 0 : x == 1 ? 1 : 128 / 255.0; });
    RenderAll(K_FillPaintSource(nullptr, kOrange), dest->GetLayer(), *mask, Rect(0, 0, 2, 3), kNormal,
              c.target);
    for (int y = 0; y < 2; ++y) {
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 0, y), before);
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 1, y), c.full);
      for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(PixelValues(*dest->GetLayer(), 2, y)[k], c.half[k], 1) << "channel " << k;
    }
  }
}

TEST_F(FillSource, DeepAndFloatLayersGetTheColourOnEitherPath) {
  // Column 0 has no coverage, the others full. Dissolve at full coverage takes every
  // pixel through the general render; the single-channel path writes red into alpha.
  struct Case {
    const char* name; int depth; int32_t mode; K_TargetChannel target; GX_PixelFloat colour;
    double before;  // every channel, fraction of full
    Raw4 painted;   // fractions of full
  };
  const GX_PixelFloat kBlue{1, 0.25f, 0.5f, 1.0f};
  const Case kCases[] = {
      {"16-bit direct", 16, kNormal, K_TargetChannel_RGBA, kOrange, 7 / 32768.0, {1, 1, 0.5, 0}},
      {"float direct keeps alpha", 32, kNormal, K_TargetChannel_RGB, {0, 0.25f, 0.5f, 0.75f}, 0.125,
       {0.125, 0.25, 0.5, 0.75}},
      {"16-bit general", 16, kDissolve, K_TargetChannel_RGBA, kBlue, 0.125, {1, 0.25, 0.5, 1}},
      {"16-bit general alpha", 16, kDissolve, K_TargetChannel_Alpha, kBlue, 0.125,
       {0.25, 0.125, 0.125, 0.125}},
      {"float general", 32, kDissolve, K_TargetChannel_RGBA, kBlue, 0.125, {1, 0.25, 0.5, 1}},
      {"float general alpha", 32, kDissolve, K_TargetChannel_Alpha, kBlue, 0.125,
       {0.25, 0.125, 0.125, 0.125}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const double full = FullScale(c.depth), b = c.before * full;
    auto dest = MakeWorldAt(3, 2, c.depth, [&](int, int) { return Raw4{b, b, b, b}; });
    auto mask = MakeMaskAt(3, 2, c.depth, [](int x, int) { return x ? 1.0 : 0.0; });
    RenderAll(K_FillPaintSource(nullptr, c.colour), dest->GetLayer(), *mask, Rect(0, 0, 2, 3), c.mode,
              c.target);
    Raw4 painted = c.painted;
    for (double& v : painted) v *= full;
    ExpectPixelsNear(*dest->GetLayer(), [&](int x, int) { return x ? painted : Raw4{b, b, b, b}; },
                     2e-7 * full);
  }
}

TEST_F(FillSource, OpacityIsTruncatedToTheDepth) {
  // White over opaque black at full coverage: the red that comes out is the opacity
  // the transfer function was given.
  struct Case { const char* name; int depth; double opacity, red; };
  const Case kCases[] = {
      {"8-bit 0.5 → 127", 8, 0.5, 127},          {"8-bit 0.99999 → 254", 8, 0.99999, 254},
      {"16-bit 0.5 → 16384", 16, 0.5, 16384},    {"16-bit 0.99999 → 32767", 16, 0.99999, 32767},
      {"float 0.5", 32, 0.5, 0.5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorldAt(1, 1, c.depth, [&](int, int) { return Raw4{FullScale(c.depth), 0, 0, 0}; });
    auto mask = MakeMaskAt(1, 1, c.depth, [](int, int) { return 1.0; });
    RenderAll(K_FillPaintSource(nullptr, GX_PixelFloat{1, 1, 1, 1}), dest->GetLayer(), *mask,
              Rect(0, 0, 1, 1), kNormal, K_TargetChannel_RGBA, c.opacity);
    EXPECT_NEAR(PixelValues(*dest->GetLayer(), 0, 0)[1], c.red, 1e-6);
  }
}

TEST_F(FillSource, PixelsOutsideMaskAndBoundsAreNeverTouched) {
  struct Case { const char* name; V_Rect area, bounds; int maskWidth, maskHeight; V_Rect painted; };
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
    auto mask = MakeMaskAt(c.maskWidth, c.maskHeight, 8, [](int, int) { return 1.0; });
    V_Rect area = c.area;
    K_FillPaintSource(nullptr, GX_PixelFloat{1, 0, 1, 0})
        .Render(nullptr, Rect(0, 0, 8, 8), c.bounds, mask.get(), 1.0, K_Transform(), kNormal,
                K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
    EXPECT_EQ(area, c.area);  // the direct path never shrinks the caller's area
    ExpectPixels8(dest->GetLayer(), [&](int x, int y) {
      const V_Rect& p = c.painted;
      const bool inside = x >= p.left && x < p.right && y >= p.top && y < p.bottom;
      return inside ? GX_Pixel8{255, 0, 255, 0} : before;
    });
  }
}

// Areas of more than 16 rows may run on the host's worker threads; 16 rows at a time
// run on the calling thread. The pixels must not depend on which. Built with
// -DKSTROKE_SANITIZE=thread (make tsan) these are also the data-race check.
struct RowCase { const char* name; int depth; int32_t mode; K_TargetChannel target; };
const RowCase kRowCases[] = {
    {"8-bit normal", 8, kNormal, K_TargetChannel_RGBA},
    {"8-bit multiply colour", 8, kMultiply, K_TargetChannel_RGB},
    {"16-bit normal", 16, kNormal, K_TargetChannel_RGBA},
    {"16-bit normal alpha", 16, kNormal, K_TargetChannel_Alpha},
    {"float multiply opaque", 32, kMultiply, K_TargetChannel_RGBOpaque},
    {"float screen opaque", 32, kScreen, K_TargetChannel_RGBOpaque},
};

TEST_F(FillSource, AreasEitherSideOfTheThreadingThresholdGiveIdenticalPixels) {
  // 17 rows of 963 pixels stay on the calling thread, 17 rows of 964 (16,388 pixels)
  // are the smallest area handed to the thread pool.
  for (const RowCase& c : kRowCases) {
    SCOPED_TRACE(c.name);
    ExpectWholeAreaMatchesSixteenRowSlices(963, 17, c.depth, c.mode, c.target);
    ExpectWholeAreaMatchesSixteenRowSlices(964, 17, c.depth, c.mode, c.target);
  }
}

class FillThreadedRows : public TrackedTest {};

TEST_F(FillThreadedRows, TallAreaMatchesSixteenRowSlices) {
  for (const RowCase& c : kRowCases) {
    SCOPED_TRACE(c.name);
    ExpectWholeAreaMatchesSixteenRowSlices(257, 403, c.depth, c.mode, c.target);  // no edges line up
  }
}

// Rendering over the pre-stroke pixels copies each row just before blending it; the
// pixels must be those of copying the whole area first and rendering: every depth,
// transfer modes on the direct path and dissolve (the general render), every target
// channel, areas the rows cover whole (one on the thread pool) and areas clipped by
// the bounds, the mask or the layer (copied first), and a mask whose ink map leaves
// cells out, which are copied too.
TEST_F(FillSource, RenderOverMatchesCopyingTheAreaThenRendering) {
  struct Case {
    const char* name; int depth; int32_t mode; K_TargetChannel target; int width, height; V_Rect area, bounds;
    bool narrowMask = false;  ///< a mask one column narrower than the layer
  };
  const Case kCases[] = {
      {"8-bit normal", 8, kNormal, K_TargetChannel_RGBA, 70, 40, Rect(3, 5, 37, 66), Rect(0, 0, 40, 70)},
      {"8-bit multiply colour", 8, kMultiply, K_TargetChannel_RGB, 70, 40, Rect(0, 0, 40, 70), Rect(0, 0, 40, 70)},
      {"16-bit normal alpha", 16, kNormal, K_TargetChannel_Alpha, 70, 40, Rect(3, 5, 37, 66), Rect(0, 0, 40, 70)},
      {"16-bit screen opaque", 16, kScreen, K_TargetChannel_RGBOpaque, 70, 40, Rect(1, 0, 9, 70), Rect(0, 0, 40, 70)},
      {"float normal", 32, kNormal, K_TargetChannel_RGBA, 70, 40, Rect(3, 5, 37, 66), Rect(0, 0, 40, 70)},
      {"dissolve", 8, kDissolve, K_TargetChannel_RGBA, 70, 40, Rect(3, 5, 37, 66), Rect(0, 0, 40, 70)},
      {"clipped by the bounds", 8, kNormal, K_TargetChannel_RGBA, 70, 40, Rect(3, 5, 37, 66), Rect(0, 0, 20, 70)},
      {"off the top-left", 16, kNormal, K_TargetChannel_RGBA, 70, 40, Rect(-4, -2, 30, 50), Rect(0, 0, 40, 70)},
      {"past the mask", 8, kNormal, K_TargetChannel_RGBA, 70, 40, Rect(3, 5, 37, 70), Rect(0, 0, 40, 70), true},
      {"on the thread pool", 8, kNormal, K_TargetChannel_RGBA, 964, 17, Rect(0, 0, 17, 964), Rect(0, 0, 17, 964)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const double full = FullScale(c.depth);
    const auto now = [&](int x, int y) { return Raw4{full * ((x + 2 * y) % 9) / 8.0, full * 0.5, full * (y % 5) / 4.0, full * 0.25}; };
    const auto before = [&](int x, int y) { return Raw4{full * ((3 * x + y) % 7) / 6.0, full * 0.1, full * 0.9, full * (x % 3) / 2.0}; };
    auto base = MakeWorldAt(c.width, c.height, c.depth, before);
    auto copied = MakeWorldAt(c.width, c.height, c.depth, now);
    auto rows = MakeWorldAt(c.width, c.height, c.depth, now);
    // The mask's ink map marks only some cells of each row, and leaves the first rows
    // unmarked.
    const int maskDepth = c.depth == 32 ? 16 : c.depth;
    const int maskWidth = c.width - (c.narrowMask ? 1 : 0);
    GX_UnoBuffer mask(maskWidth, c.height, maskDepth, GX_UnoBuffer::kZeroed);
    for (int y = 3; y < c.height; ++y) {
      for (int x = 20; x < std::min(maskWidth, 140); ++x)
        StoreSample(mask.Row<void>(y), x, maskDepth, FullScale(maskDepth) * ((x * 7 + y) % 11) / 10.0);
      mask.MarkInk(V_LRect{20, y, std::min(maskWidth, 140), y + 1});
    }
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.8f, 0.25f, 0.5f});
    const V_Rect layer = Rect(0, 0, c.height, c.width);
    V_Rect area = c.area;
    ASSERT_EQ(GX_CopyBits_Draft(nullptr, base->GetLayer(), copied->GetLayer(),
                                V_LRect{area.left, area.top, area.right, area.bottom},
                                V_LRect{area.left, area.top, area.right, area.bottom}),
              0);
    fill.Render(nullptr, layer, c.bounds, &mask, 0.7, K_Transform(), c.mode, c.target, 0, &area, copied->GetLayer());
    V_Rect over = c.area;
    fill.RenderOver(base->GetLayer(), nullptr, layer, c.bounds, &mask, 0.7, K_Transform(), c.mode, c.target, 0, &over,
                    rows->GetLayer());
    EXPECT_EQ(over, area);
    const auto want = LayerBytes(*copied->GetLayer());
    EXPECT_NE(want, LayerBytes(*MakeWorldAt(c.width, c.height, c.depth, now)->GetLayer())) << "nothing happened";
    EXPECT_EQ(LayerBytes(*rows->GetLayer()), want);
  }
}

TEST_F(FillSource, DeepMaskOverFloatPixelsPaintsAsItsFloatConversion) {
  // Runs longer than the piece converted at a time, values up to past full coverage,
  // and float pixels that are not all in 0..1: bit for bit what the converted mask paints.
  const int w = 601, h = 3;
  const auto pixel = [](int x, int y) {
    const double v = double((x * 37 + y * 101) % 97) / 80.0 - 0.1;
    return Raw4{v, 1.0 - v, v * 0.5, 0.25};
  };
  auto deep = MakeMaskAt(w, h, 16, [](int x, int y) {
    return (x + y) % 5 == 0 ? 0.0 : double((x * 7919 + y * 31) % 40000) / 32768.0;
  });
  std::unique_ptr<GX_UnoBuffer> converted(new GX_UnoBuffer(w, h, 32));
  ASSERT_EQ(GX_ConvertDeepUnoBuffer(nullptr, deep.get(), V_LRect{0, 0, w, h}, 32768,
                                    converted.get()),
            0);
  const K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 0.8f, 0.25f, 0.5f});
  for (int32_t mode : {kNormal, kMultiply, kScreen}) {
    for (K_TargetChannel target : {K_TargetChannel_RGBA, K_TargetChannel_RGB, K_TargetChannel_Alpha,
                                   K_TargetChannel_RGBOpaque}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", target " + std::to_string(int(target)));
      auto fromDeep = MakeWorldAt(w, h, 32, pixel), fromFloat = MakeWorldAt(w, h, 32, pixel);
      RenderAll(fill, fromDeep->GetLayer(), *deep, Rect(0, 2, h, w - 1), mode, target, 0.7);
      RenderAll(fill, fromFloat->GetLayer(), *converted, Rect(0, 2, h, w - 1), mode, target, 0.7);
      EXPECT_EQ(LayerBytes(*fromDeep->GetLayer()), LayerBytes(*fromFloat->GetLayer()));
      EXPECT_NE(LayerBytes(*fromDeep->GetLayer()),
                LayerBytes(*MakeWorldAt(w, h, 32, pixel)->GetLayer()))
          << "nothing painted";
    }
  }
  // The general render (dissolve) takes only a mask of the destination's depth.
  auto dest = MakeWorldAt(w, h, 32, pixel);
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, dest->GetLayer(), *deep, Rect(0, 0, h, w), kDissolve,
                        K_TargetChannel_RGBA);
            }),
            3);
  EXPECT_EQ(Y_LastVerificationReport().message,
            "paint mask depth 16 differs from destination depth 32");
}

TEST_F(FillSource, DirectPathReportsEveryThirtyTwoRowsAndStopsWhenCancelled) {
  // The calling thread reports at rows 0, 32, … relative to the area, before it blends
  // them; an answer of 41 cancels. An empty area reports nothing on either path.
  struct Case { const char* name; V_Rect area; int32_t mode; long failAt; Reports reports; bool paints; };
  const Case kCases[] = {
      {"rows 3..12 hold neither row 0 nor 32", Rect(3, 0, 13, 2), kNormal, -1, {}, true},
      {"rows 0..9", Rect(0, 0, 10, 2), kNormal, -1, {{0, 10}}, true},
      {"cancelled at row 0", Rect(0, 0, 10, 2), kNormal, 0, {{0, 10}}, false},
      {"empty area", Rect(1, 1, 1, 2), kNormal, -1, {}, false},
      {"empty area, general render", Rect(1, 1, 1, 2), kDissolve, -1, {}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(2, 40, 8, [](int, int) { return GX_Pixel8{1, 2, 3, 4}; });
    auto mask = MakeMaskAt(2, 40, 8, [](int, int) { return 1.0; });
    ProgressRecorder rec(c.failAt, 41);
    GX_ProgressInfo info = rec.Record();
    EXPECT_EQ(ThrownCode([&] {
                RenderAll(K_FillPaintSource(nullptr, kOrange), dest->GetLayer(), *mask, c.area, c.mode,
                          K_TargetChannel_RGBA, 1.0, &info);
              }),
              c.failAt < 0 ? -1 : 41);
    EXPECT_EQ(rec.reports, c.reports);
    EXPECT_EQ(info.context, &rec);
    EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), c.area.left, c.area.top) == (GX_Pixel8{1, 2, 3, 4}),
              !c.paints);
  }
}

TEST_F(FillSource, DirectPathRefusesWhatItCannotIndex) {
  auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return GX_Pixel8{1, 2, 3, 4}; });
  auto mask = MakeMaskAt(4, 4, 8, [](int, int) { return 1.0; });
  auto deepMask = MakeMaskAt(4, 4, 16, [](int, int) { return 1.0; });
  const K_FillPaintSource fill(nullptr, kOrange);
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, dest->GetLayer(), *mask, Rect(0, 0, 4, 4), 12, K_TargetChannel_RGBA);
            }),
            GX_Err_BadMode);
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, dest->GetLayer(), *deepMask, Rect(0, 0, 4, 4), kNormal,
                        K_TargetChannel_RGBA);
            }),
            3);
  EXPECT_EQ(Y_LastVerificationReport().message,
            "paint mask depth 16 differs from destination depth 8");
  EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 0, 0), (GX_Pixel8{1, 2, 3, 4}));

  // Bounds and mask larger than a 4 × 4 layer: only the layer's own pixels change.
  auto big = MakeMaskAt(8, 8, 8, [](int, int) { return 1.0; });
  std::unique_ptr<GX_World> wide(GX_World::New(8, 4, 8, 0));
  std::unique_ptr<GX_World> part(GX_World::NewReference(wide.get(), Rect(0, 0, 4, 4)));
  V_Rect area = Rect(0, 0, 8, 8);
  fill.Render(nullptr, Rect(0, 0, 8, 8), Rect(0, 0, 8, 8), big.get(), 1.0, K_Transform(), kNormal,
              K_TargetChannel_RGBA, 0, &area, part->GetLayer());
  EXPECT_EQ(PixelAt<GX_Pixel8>(wide->GetLayer(), 3, 3), (GX_Pixel8{255, 255, 128, 0}));
  EXPECT_EQ(PixelAt<GX_Pixel8>(wide->GetLayer(), 4, 0), (GX_Pixel8{0, 0, 0, 0}));
}

TEST_F(FillSource, UnknownDepthFailsOnlyTheGeneralRender) {
  OddDepthLayer odd;
  auto mask = MakeMaskAt(4, 4, 8, [](int, int) { return 1.0; });
  const K_FillPaintSource fill(nullptr, kOrange);
  RenderAll(fill, &odd.layer, *mask, Rect(0, 0, 4, 4), kNormal, K_TargetChannel_RGBA);
  EXPECT_EQ(Y_LastVerificationReport().count, 0);

  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(ThrownCode([&] {
              RenderAll(fill, &odd.layer, *mask, Rect(0, 0, 4, 4), kDissolve, K_TargetChannel_RGBA, 1, &info);
            }),
            3);
  EXPECT_EQ(Y_LastVerificationReport().message, "Unknown world bitdepth in##CONDITIONNAME");
  EXPECT_EQ(Y_LastVerificationReport().code, 2425831);
  EXPECT_EQ(info.context, &rec);
  EXPECT_TRUE(odd.Untouched());
}

TEST_F(FillSource, LazyCopyIsSecuredBeforeThePaint) {
  // The pre-stroke copy is addressed relative to the layer rectangle's top-left and
  // must hold the pixels as they were before this render painted over them.
  struct Case { const char* name; V_Rect layerRect; int tileX, tileY; };
  const Case kCases[] = {{"layer at the origin", Rect(0, 0, 16, 16), 2, 2},
                         {"layer moved by (4, 4)", Rect(4, 4, 20, 20), 1, 1}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(16, 16, 8, [](int x, int y) {
      return GX_Pixel8{255, uint8_t(x), uint8_t(y), 0};
    });
    boost::shared_ptr<GX_World> preStroke(GX_World::New(16, 16, 8, 0));
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyWorldCopyOperator(preStroke));
    static_cast<GX_LazyWorldCopyOperator*>(op.get())->SetSourceLayer(dest->GetLayer());
    boost::shared_ptr<GX_LazyTilesCondition> lazy(new GX_LazyTilesCondition(4, &op));
    auto mask = MakeMaskAt(16, 16, 8, [](int, int) { return 1.0; });
    K_FillPaintSource fill(nullptr, GX_PixelFloat{1, 1, 1, 1});
    fill.SetLazyCopy(lazy);
    V_Rect area = Rect(8, 8, 12, 12);
    fill.Render(nullptr, c.layerRect, Rect(0, 0, 16, 16), mask.get(), 1.0, K_Transform(), kNormal,
                K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
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

// General render
// ============================================================================

TEST_F(FillSource, PixelRequestsAreFlatInTheLayerDepth) {
  struct Case { const char* name; int depth; GX_PixelFloat colour; Raw4 want; };
  const Case kCases[] = {
      {"8-bit rounds half up", 8, {0.3f, 0.5f, 0.2f, 1.0f}, {255, 128, 51, 255}},
      {"8-bit clamps", 8, {0, -0.2f, 1.3f, 0.004f}, {255, 0, 255, 1}},
      {"16-bit", 16, {0, 0.5f, 0.1f, 1.0f}, {32768, 16384, 3277, 32768}},
      {"16-bit clamps", 16, {0, 1.3f, -0.2f, 0.0f}, {32768, 32768, 0, 0}},
      {"float passes through", 32, {0, -0.2f, 1.3f, 0.5f}, {1.0, -0.2f, 1.3f, 0.5}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const FillProbe fill(nullptr, c.colour);
    V_Rect area = Rect(5, 7, 8, 11);
    const GX_World* w = fill.GetPixelSource(nullptr, Rect(0, 0, 20, 20), Rect(0, 0, 20, 20),
                                            K_Transform(), int16_t(c.depth), kNormal, &area);
    EXPECT_EQ(area, Rect(5, 7, 8, 11));
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->Width(), 4);
    ASSERT_EQ(w->Height(), 3);
    const V_Rect maskRect = Rect(0, 0, 2, 3);
    const GX_UnoBuffer* b =
        fill.GetSingleChannelPixelSource(nullptr, Rect(0, 0, 20, 20), Rect(0, 0, 20, 20),
                                         K_Transform(), int16_t(c.depth), kNormal, &maskRect);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->GetWidth(), 3);
    ASSERT_EQ(b->GetHeight(), 2);
    ExpectPixelsNear(*w->GetLayer(), [&](int, int) { return c.want; }, 1e-6);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_NEAR(SampleOf(*b, x, y), c.want[1], 1e-6);
  }
}

TEST_F(FillSource, DissolveGoesThroughTheGeneralRender) {
  // At full coverage Dissolve takes every pixel, so the result is the colour; the
  // general render shows itself in its three-phase progress.
  struct Case { const char* name; K_TargetChannel target; GX_Pixel8 painted; bool phases; };
  const Case kCases[] = {
      {"composite", K_TargetChannel_RGBA, {255, 0, 255, 51}, true},
      {"colour only", K_TargetChannel_RGB, {90, 0, 255, 51}, true},
      {"single channel takes red", K_TargetChannel_Alpha, {0, 1, 2, 3}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(4, 3, 8, [](int, int) { return GX_Pixel8{90, 1, 2, 3}; });
    auto mask = MakeMaskAt(4, 3, 8, [](int x, int) { return x < 2 ? 1.0 : 0.0; });
    ProgressRecorder rec;
    GX_ProgressInfo info = rec.Record();
    RenderAll(K_FillPaintSource(nullptr, GX_PixelFloat{1, 0, 1, 0.2f}), dest->GetLayer(), *mask,
              Rect(0, 0, 3, 4), kDissolve, c.target, 1.0, &info);
    ExpectPixels8(dest->GetLayer(),
                  [&](int x, int) { return x < 2 ? c.painted : GX_Pixel8{90, 1, 2, 3}; });
    ASSERT_FALSE(rec.reports.empty());
    EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));
    const auto seen = [&](int32_t step) {
      return std::count(rec.reports.begin(), rec.reports.end(), std::make_pair(step, 3)) > 0;
    };
    EXPECT_EQ(seen(1) && seen(2), c.phases);  // the composite path reports (1, 3) and (2, 3)
    EXPECT_EQ(info.context, &rec);
    EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
    EXPECT_EQ(info.abortCheck, nullptr);
  }
}

TEST_F(FillSource, EveryFailedReportOfTheGeneralRenderRestoresProgress) {
  // Run once to learn the reports, then cancel at each of them in turn: the record
  // comes back intact every time, and only the final (3, 3) cannot cancel.
  auto run = [&](ProgressRecorder* rec) {
    auto dest = MakeWorld<GX_Pixel8>(3, 70, 8, [](int, int) { return GX_Pixel8{255, 0, 0, 0}; });
    auto mask = MakeMaskAt(3, 70, 8, [](int, int) { return 1.0; });
    GX_ProgressInfo info = rec->Record();
    const long code = ThrownCode([&] {
      RenderAll(K_FillPaintSource(nullptr, kOrange), dest->GetLayer(), *mask, Rect(0, 0, 70, 3),
                kDissolve, K_TargetChannel_RGBA, 1.0, &info);
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
    ProgressRecorder rec(long(i), 600 + int32_t(i));
    const long code = run(&rec);
    if (i + 1 == clean.reports.size()) {
      EXPECT_EQ(code, -1);
    } else {
      EXPECT_EQ(code, 600 + long(i));
      EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));  // the closing report still came
    }
  }
}

TEST_F(FillSource, CopyingTakesOverTheCaches) {
  const std::size_t live = Y_MemTrackedObject::LiveObjects();
  boost::shared_ptr<FillProbe> a(new FillProbe(nullptr, kOrange));
  V_Rect area = Rect(0, 0, 2, 2);
  ASSERT_NE(a->GetPixelSource(nullptr, area, area, K_Transform(), 8, kNormal, &area), nullptr);
  ASSERT_NE(a->GetSingleChannelPixelSource(nullptr, area, area, K_Transform(), 8, kNormal, &area),
            nullptr);
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
