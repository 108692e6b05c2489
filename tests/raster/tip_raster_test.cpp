// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "host/gx/gx_accumulate.h"
#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"
#include "raster/span_kernels.h"
#include "raster/tip_polygon.h"
#include "test_support.h"
#include "tips/tip_fixtures.h"

namespace {

class TipRaster : public TrackedTest {};

constexpr uint16_t kUntouched = 0xFFFF;  // above any 16-bit coverage

struct Drawn {
  std::vector<int> rows;  // rows with at least one written sample
  int firstCol = 1 << 30, lastCol = -1;
};

Drawn DrawnArea(const K_BrushMIPMap& map, int w, int h) {
  GX_UnoBuffer dst(w, h, 16);
  FillUno(&dst, kUntouched);
  map.RenderInto(dst);
  Drawn d;
  for (int y = 0; y < h; ++y) {
    bool any = false;
    for (int x = 0; x < w; ++x)
      if (dst.Row<uint16_t>(y)[x] != kUntouched) {
        any = true;
        d.firstCol = std::min(d.firstCol, x);
        d.lastCol = std::max(d.lastCol, x);
      }
    if (any) d.rows.push_back(y);
  }
  return d;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> r;
  for (int i = first; i <= last; ++i) r.push_back(i);
  return r;
}

// A polygon's vertices as {x, y, u, v}, to compare whole.
std::vector<std::array<double, 4>> Corners(const Kp_TipPolygon& p) {
  std::vector<std::array<double, 4>> out;
  for (int i = 0; i < p.vertexCount; ++i) out.push_back({p.vertices[i].x, p.vertices[i].y, p.vertices[i].u, p.vertices[i].v});
  return out;
}
using CornerList = std::vector<std::array<double, 4>>;

std::vector<std::vector<int>> RandomRows(int w, int h, int full, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<int>> rows(std::size_t(h), std::vector<int>(std::size_t(w), 0));
  for (auto& r : rows)
    for (int& s : r) s = int(rng() % uint32_t(full + 1));
  return rows;
}

TEST_F(TipRaster, RowsAndColumnsDrawn) {
  struct Case {
    const char* name; int tipW, tipH; double sx, sy, angle, cx, cy; std::vector<int> rows;
    int firstCol, lastCol;
  };
  const Case kCases[] = {
      {"axis-aligned: floor(ymin) to ceil(ymax) - 1", 10, 10, 1, 1, 0, 20.3, 20.7, Range(15, 25), 15, 26},
      {"one row: 3.17 to 3.43", 4, 4, 1, 0.05, 0, 10, 3.3, {3}, 8, 12},
      {"exactly 3.0 to 4.0", 4, 4, 1, 0.25, 0, 10, 3.5, {3}, 8, 12},
      {"2.85 to 3.15 spans two rows", 4, 4, 1, 0.075, 0, 10, 3.0, {2, 3}, 8, 12},
      {"left edge on 0 writes columns 0 to 10", 10, 10, 1, 1, 0, 5, 5.5, Range(0, 10), 0, 10},
      {"rotated 45 degrees", 10, 10, 1, 1, 45, 20, 20.3, Range(13, 27), 12, 28},
      {"clipped at the top", 10, 10, 1, 1, 0, 6, 2, Range(0, 6), 1, 11},
      // Vertices (17.92, 19.18), (21.91, 18.83) top, (22.08, 20.82), (18.09, 21.17)
      // bottom. The edges run out while the right chain still stands at (22.08, 20.82),
      // so row 21, entered by 0.17, is left out. Row 18 extrapolates the steep upper
      // left edge far to the right (to x = 31.4) and writes zeros there.
      {"rotated: shallow bottom row left out", 4, 2, 1, 1, 5, 20, 20, Range(18, 20), 17, 32},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(c.tipW, c.tipH, 32768), true);
    K_BrushMIPMap map(tip);
    map.SetTransform({c.sx, c.sy}, c.angle, 1.0, 1.0, {c.cx, c.cy});
    const Drawn d = DrawnArea(map, 40, 40);
    EXPECT_EQ(d.rows, c.rows);
    EXPECT_EQ(d.firstCol, c.firstCol);
    EXPECT_EQ(d.lastCol, c.lastCol);
  }
}

TEST_F(TipRaster, UnscaledWholePixelTipIsCopied) {
  for (bool deep : {false, true}) {
    const int full = deep ? 32768 : 255;
    const auto rows = RandomRows(10, 7, full, 5);
    TestTip tip(rows, deep);
    K_BrushMIPMap map(tip);
    // Corners on whole pixels, and then off by less than 1/256 of a sample.
    for (double nudge : {0.0, 1.0 / 512}) {
      SCOPED_TRACE(testing::Message() << (deep ? "16 bit" : "8 bit") << " nudge " << nudge);
      map.SetTransform({1, 1}, 0, 1, 1, {7 + nudge, 4.5 + nudge});
      GX_UnoBuffer dst(14, 10, deep ? 16 : 8);
      FillUno(&dst, 7);
      map.RenderInto(dst);
      auto at = [&](int x, int y) { return SampleOf(dst, x, y); };
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(at(x + 2, y + 1), rows[std::size_t(y)][std::size_t(x)]);
      for (int y = 1; y <= 7; ++y) EXPECT_EQ(at(12, y), 0) << "right column reads the border";
      EXPECT_EQ(at(1, 3), 7) << "left of the polygon untouched";
      // The nudged polygon reaches into column 13 and row 8, which read the border.
      EXPECT_EQ(at(13, 3), nudge == 0 ? 7 : 0);
      EXPECT_EQ(at(5, 8), nudge == 0 ? 7 : 0);
      EXPECT_EQ(at(5, 0), 7) << "above the polygon untouched";
    }
  }
}

TEST_F(TipRaster, ClippingKeepsTheTextureInPlace) {
  struct Case { const char* name; double angle; double sx; bool deep; };
  const Case kCases[] = {{"unrotated", 0, 0.8, false}, {"rotated", 30, 0.8, true}, {"magnified", 0, 1.6, true},
                         {"rotated and blended", 70, 0.37, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(RandomRows(9, 8, c.deep ? 32768 : 255, 9), c.deep);
    K_BrushMIPMap map(tip);
    const int shift = 8;
    GX_UnoBuffer small(7, 6, c.deep ? 16 : 8), big(7 + 2 * shift, 6 + 2 * shift, c.deep ? 16 : 8);
    for (GX_UnoBuffer* b : {&small, &big}) FillUno(b, 0);
    // Centred near the top-left corner of `small`, so the dab is cut on the top and left;
    // `big` sees the whole dab, moved by a whole number of pixels.
    map.SetTransform({c.sx, c.sx}, c.angle, 1, 1, {1.25, 0.75});
    map.RenderInto(small);
    map.SetTransform({c.sx, c.sx}, c.angle, 1, 1, {1.25 + shift, 0.75 + shift});
    map.RenderInto(big);
    int nonZero = 0;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) {
        ASSERT_EQ(SampleOf(small, x, y), SampleOf(big, x + shift, y + shift)) << x << "," << y;
        nonZero += SampleOf(small, x, y) != 0;
      }
    EXPECT_GT(nonZero, 0);
  }
}

TEST_F(TipRaster, PolygonSetUp) {
  TestTip tip(TestTip::Flat(10, 6, 255), false);
  K_BrushMIPMap map(tip);
  const Kp_TipPolygon& poly = map.GetPolygon();

  map.SetTransform({1, 1}, 0, 1, 1, {20, 10});
  ASSERT_EQ(poly.vertexCount, 4);
  EXPECT_TRUE(poly.axisAligned);
  const CornerList kExpected = {{15, 7, 0, 0}, {25, 7, 10, 0}, {25, 13, 10, 6}, {15, 13, 0, 6}};
  EXPECT_EQ(Corners(poly), kExpected);
  EXPECT_EQ(map.GetRenderedBounds(), (V_Rect{7, 15, 13, 25}));
  // Bounds are the vertices' floor and ceiling, also for fractional, negative and
  // turned placements.
  struct Placed { double angle, cx, cy; };
  const Placed kPlaced[] = {{0, 20.5, 10.25}, {0, -3.5, -2}, {30, 0.3, -0.7}, {-75, -12.25, 8.5},
                            {45, 100, 50}, {0, -5, -3}};
  for (const Placed& c : kPlaced) {
    SCOPED_TRACE(testing::Message() << c.angle << " at " << c.cx << ", " << c.cy);
    map.SetTransform({1.3, 0.7}, c.angle, 1, 1, {c.cx, c.cy});
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (int i = 0; i < poly.vertexCount; ++i) {
      x0 = std::min(x0, poly.vertices[i].x);
      x1 = std::max(x1, poly.vertices[i].x);
      y0 = std::min(y0, poly.vertices[i].y);
      y1 = std::max(y1, poly.vertices[i].y);
    }
    EXPECT_EQ(map.GetRenderedBounds(),
              (V_Rect{int16_t(std::floor(y0)), int16_t(std::floor(x0)), int16_t(std::ceil(y1)),
                      int16_t(std::ceil(x1))}));
  }
  map.SetTransform({1, 1}, 0, 1, 1, {20, 10});

  // Unturned, the 10 × 6 rectangle is scaled about the centre, its height also by the
  // roundness, which counts as 0.05 below that (NaN too) and as 1 above 1.
  struct Scaled { double sx, sy, roundness, halfW, halfH; };
  const Scaled kScaled[] = {{2, 4, 0, 10, 0.6},   {2, 4, 0.04, 10, 0.6}, {2, 4, 0.05, 10, 0.6},
                            {2, 4, 0.5, 10, 6},   {2, 4, 1, 10, 12},     {2, 4, 1.01, 10, 12},
                            {2, 4, std::nan(""), 10, 0.6}, {1, 1, 0.5, 5, 1.5}, {0.5, 1, 1, 2.5, 3}};
  for (const Scaled& c : kScaled) {
    SCOPED_TRACE(testing::Message() << c.sx << " x " << c.sy << ", roundness " << c.roundness);
    map.SetTransform({c.sx, c.sy}, 0, c.roundness, 1, {20, 10});
    const double want[4][2] = {{20 - c.halfW, 10 - c.halfH}, {20 + c.halfW, 10 - c.halfH},
                               {20 + c.halfW, 10 + c.halfH}, {20 - c.halfW, 10 + c.halfH}};
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(poly.vertices[i].x, want[i][0], 1e-12) << i;
      EXPECT_NEAR(poly.vertices[i].y, want[i][1], 1e-12) << i;
      EXPECT_EQ(poly.vertices[i].u, kExpected[std::size_t(i)][2]);
    }
  }

  map.SetTransform({0.01, 0.01}, 0, 1, 1, {20, 10});
  EXPECT_NEAR(poly.vertices[1].x - poly.vertices[0].x, 0.26, 1e-12) << "never thinner than 0.26 px";
  EXPECT_NEAR(poly.vertices[3].y - poly.vertices[0].y, 0.26, 1e-12);
  EXPECT_NEAR(poly.minScale, 0.026, 1e-12);

  map.SetTransform({0.7, 0.9}, 25, 1, 1, {20, 10});
  CornerList mirroredBack = Corners(poly);
  for (auto& corner : mirroredBack) corner = {corner[0], corner[1], 10 - corner[2], 6 - corner[3]};
  map.SetTransform({-0.7, -0.9}, 25, 1, 1, {20, 10});
  EXPECT_EQ(Corners(poly), mirroredBack) << "mirroring moves no vertex and flips the texture";
  EXPECT_FALSE(poly.axisAligned);

  map.SetTransform({1, 1}, 0, 1, 2.0, {20, 10});
  EXPECT_EQ(Corners(poly), (CornerList{{17.5, 7, 0, 0}, {22.5, 7, 10, 0}, {22.5, 13, 10, 6}, {17.5, 13, 0, 6}}))
      << "pixel aspect 2 halves the width";

  // A positive angle turns anticlockwise on the y-down raster: the top-right corner
  // (+5, −3) goes to (−3, −5) at 90 degrees.
  map.SetTransform({1, 1}, 90, 1, 1, {20, 10});
  EXPECT_NEAR(poly.vertices[1].x, 17, 1e-12);
  EXPECT_NEAR(poly.vertices[1].y, 5, 1e-12);
}

TEST_F(TipRaster, LevelSelection) {
  struct Case { const char* name; double minScale; int levelCount; int level; bool filtered; Fx16 scale; };
  const Case kCases[] = {
      {"magnified", 1.7, 10, 0, false, 65536}, {"unscaled", 1.0, 10, 0, false, 65536},
      {"exactly a half", 0.5, 10, 1, false, 32768},
      {"between a half and a quarter", 0.375, 10, 1, true, 24576},
      {"exactly a quarter", 0.25, 10, 2, false, 16384},
      {"just under one", 0.99, 10, 0, true, 64880},
      {"pair past a 2-level pyramid", 0.3, 2, 1, false, 19660},
      {"single level past a 3-level pyramid", 1.0 / 16, 3, 2, false, 4096},
      {"tiny scale stops at 15 and clamps", 1e-9, 15, 14, false, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Kp_RasterContext ctx;
    Kp_SelectLevel(c.minScale, c.levelCount, &ctx);
    EXPECT_EQ(ctx.level, c.level);
    EXPECT_EQ(ctx.filtered, c.filtered);
    EXPECT_EQ(ctx.scale, c.scale);
  }
}

TEST_F(TipRaster, OutOfRangeNonFiniteOrMismatchedDabsDrawNothing) {
  // The drawn area is looked for in a 16-bit buffer: an 8-bit tip is left alone there.
  struct Case { const char* name; double aspect, cx; bool deep; };
  const Case kCases[] = {{"beyond 30000", 1.0, 40000, true}, {"at 30000", 1.0, 30001.5, true},
                         {"zero aspect", 0.0, 5, true},      {"NaN centre", 1.0, std::nan(""), true},
                         {"8-bit tip", 1.0, 5, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(3, 3, c.deep ? 32768 : 255), c.deep);
    K_BrushMIPMap map(tip);
    map.SetTransform({1, 1}, 10, 1, c.aspect, {c.cx, 5});
    if (c.deep) {
      EXPECT_EQ(map.GetRenderedBounds(), V_Rect{});
    }
    EXPECT_TRUE(DrawnArea(map, 12, 12).rows.empty());
  }
}

TEST_F(TipRaster, RotationMemoIsPerThread) {
  TestTip tip(TestTip::Flat(8, 4, 255), false);
  K_BrushMIPMap map(tip);
  map.SetTransform({1, 1}, 30, 1, 1, {10, 10});
  const Kp_RotationMemo memo = Kp_ThreadRotationMemo();
  EXPECT_EQ(memo.angle, 30);
  EXPECT_NEAR(memo.cosine, std::sqrt(3.0) / 2, 1e-15);
  EXPECT_NEAR(memo.sine, 0.5, 1e-15);
  const Kp_TipPolygon first = map.GetPolygon();
  map.SetTransform({1, 1}, 30, 1, 1, {10, 10});  // a memo hit
  const Kp_TipPolygon hit = map.GetPolygon();

  Kp_RotationMemo other;
  Kp_TipPolygon fresh;
  std::thread t([&] {
    other = Kp_ThreadRotationMemo();
    K_BrushMIPMap local(tip);
    local.SetTransform({1, 1}, 30, 1, 1, {10, 10});
    fresh = local.GetPolygon();
  });
  t.join();
  EXPECT_EQ(other.angle, 0) << "a new thread starts from angle 0";
  EXPECT_EQ(other.cosine, 1);
  EXPECT_EQ(other.sine, 0);
  EXPECT_EQ(Corners(hit), Corners(first));
  EXPECT_EQ(Corners(fresh), Corners(first));
}

TEST_F(TipRaster, ShrunkDabKeepsItsMass) {
  // A flat tip drawn at a scale keeps about scale² of its coverage, at every level
  // choice: single levels, blended pairs, and rotated.
  struct Case { double scale; double angle; };
  const Case kCases[] = {{1.0, 0}, {0.5, 0}, {0.375, 0}, {0.2, 0}, {0.7, 33}, {2.0, 0}, {1.3, 60}};
  TestTip tip(TestTip::Flat(32, 32, 255), false);
  K_BrushMIPMap map(tip);
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " angle " << c.angle);
    GX_UnoBuffer dst(100, 100, 8);
    FillUno(&dst, 0);
    map.SetTransform({c.scale, c.scale}, c.angle, 1, 1, {50, 50});
    map.RenderInto(dst);
    double sum = 0;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x) sum += dst.Row<uint8_t>(y)[x];
    const double expected = 32.0 * 32.0 * c.scale * c.scale * 255;
    EXPECT_NEAR(sum / expected, 1.0, 0.12);
  }
}


// Raising the mask to a dab in place must give, bit for bit, what drawing the dab into
// a cleared buffer and accumulating it at full opacity and flow gives: soft and hard
// round tips of several sizes at both depths, every kind of sub-pixel offset, over
// masks already holding ink (16-bit values past full included), unturned at their own
// size and, where the processor has the vector row kernels, turned at several scales,
// also in a buffer just large enough for the tip's ellipse, which a turned tip's
// corners overhang (only the bounds inside the buffer are raised and accumulated).
// Dabs the raise form cannot draw (scaled and unturned; turned without those kernels)
// are declined.
TEST_F(TipRaster, RaisingAMaskMatchesDrawingAsideAndAccumulating) {
  std::mt19937 rng(99);
  for (bool deep : {false, true}) {
    const int depth = deep ? 16 : 8;
    for (double diameter : {3.0, 17.0, 40.0, 75.0}) {
      for (double hardness : {0.0, 0.8, 1.0}) {
        SCOPED_TRACE(testing::Message() << depth << " bits, diameter " << diameter
                                        << ", hardness " << hardness);
        K_ComputedBrushTip tip(diameter, hardness, 0.6, 0.0, 0.0, deep);
        K_BrushMIPMap map(tip);
        struct Placement { double scale, angle; };
        const Placement kPlacements[] = {{1, 0}, {1, 30}, {0.7, 33}, {1.3, -60}, {0.45, 71}, {1, 45}};
        for (int trial = 0; trial < 48; ++trial) {
          const Placement& at = kPlacements[trial % 6];
          // Room for the whole turned tip rectangle (up to √2 of the tip), or the
          // stamping buffer's own size, which holds the ellipse at any angle.
          const bool tight = trial % 12 >= 6;
          const double room = tight ? at.scale : 2.0;
          const V_Vector2T<short> extent = tip.GetMaximumExtent(1.0, V_Vector2T<double>(room, room));
          GX_UnoBuffer scratch(extent.x, extent.y, depth);
          const double fx = trial == 0 ? 0.0 : double(rng() % 1000) / 1000.0;
          const double fy = trial == 1 ? 0.0 : double(rng() % 1000) / 1000.0;
          map.SetTransform(V_Vector2T<double>(at.scale, at.scale), at.angle, 1.0, 1.0,
                           V_Vector2T<double>(extent.x / 2 + fx, extent.y / 2 + fy));
          const V_Rect b = map.GetRenderedBounds();
          const V_Rect box = V_IntersectRect(b, V_Rect{0, 0, extent.y, extent.x});
          const int32_t w = extent.x + 20, h = extent.y + 20;
          GX_UnoBuffer raised(w, h, depth), accumulated(w, h, depth);
          const std::size_t bytes = std::size_t(raised.GetRowBytes()) * std::size_t(h);
          for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
              StoreSample(raised.Row<void>(y), x, depth, rng() % 3 == 0 ? 0 : int(rng() % (deep ? 65536u : 256u)));
          std::memcpy(accumulated.GetData(), raised.GetData(), bytes);
          const V_LPoint origin{int32_t(rng() % 20), int32_t(rng() % 20)};
          if (at.angle != 0 && !Kp_HasAvx2()) {
            EXPECT_FALSE(map.RaiseInto(raised, origin, box));
            continue;
          }
          const std::vector<uint8_t> start(raised.Row<uint8_t>(0), raised.Row<uint8_t>(0) + bytes);
          bool took = false;
          ASSERT_FALSE(LeavesWideRegistersInUse([&] { took = map.RaiseInto(raised, origin, box); }))
              << "trial " << trial;
          ASSERT_TRUE(took) << "trial " << trial;
          FillUno(&scratch, 0);
          map.RenderInto(scratch);
          ASSERT_EQ(GX_AccumulateUnoBuffers(nullptr, &scratch, int32_t(GX_AccumulateMode::kBuildUp),
                                            1.0f, 1.0f, V_LRect{b.left, b.top, b.right, b.bottom},
                                            V_LPoint{origin.x + b.left, origin.y + b.top},
                                            &accumulated),
                    0);
          ASSERT_EQ(std::memcmp(raised.GetData(), accumulated.GetData(), bytes), 0)
              << "trial " << trial << " offset " << fx << ", " << fy;
          if (!Kp_HasAvx512()) continue;
          // RaiseInto took the widest rows; the AVX2 ones must raise the same.
          std::memcpy(raised.GetData(), start.data(), bytes);
          ASSERT_FALSE(LeavesWideRegistersInUse([&] {
            took = Kp_RaiseTip(map.GetPolygon(), map.GetPyramid(), &map.GetInk(), &map.GetPairedRows(),
                               Kp_KernelsFor(deep, Kp_Vectors::kAvx2), raised, origin, box);
          })) << "AVX2, trial " << trial;
          ASSERT_TRUE(took) << "AVX2, trial " << trial;
          ASSERT_EQ(std::memcmp(raised.GetData(), accumulated.GetData(), bytes), 0)
              << "AVX2, trial " << trial << " offset " << fx << ", " << fy;
        }
        // Scaled and unturned: not the unit-step case, so declined.
        const V_Vector2T<short> extent = tip.GetMaximumExtent(1.0, V_Vector2T<double>(1, 1));
        GX_UnoBuffer mask(extent.x * 2 + 8, extent.y * 2 + 8, depth);
        const V_Vector2T<double> centre(extent.x / 2 + 0.3, extent.y / 2 + 0.6);
        map.SetTransform(V_Vector2T<double>(0.7, 0.7), 0.0, 1.0, 1.0, centre);
        EXPECT_FALSE(map.RaiseInto(mask, V_LPoint{0, 0}, map.GetRenderedBounds()));
      }
    }
  }
}

// Outside the mask, or with a box the polygon does not start in, the raise form
// declines and leaves the mask alone; it takes only masks of the tip's depth.
TEST_F(TipRaster, RaiseDeclinesBoxesOffTheMask) {
  K_ComputedBrushTip tip(20.0, 0.8, 1.0, 0.0, 0.0, false);
  K_BrushMIPMap map(tip);
  map.SetTransform(V_Vector2T<double>(1, 1), 0.0, 1.0, 1.0, V_Vector2T<double>(12.5, 12.5));
  const V_Rect b = map.GetRenderedBounds();
  GX_UnoBuffer mask(30, 30, 8), deep(30, 30, 16);
  FillUno(&mask, 0);
  struct Case {
    const char* name; V_LPoint origin;
  } const cases[] = {{"left of the mask", {-5, 0}}, {"above it", {0, -3}}, {"past its right", {10, 0}},
                     {"below it", {0, 12}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(map.RaiseInto(mask, c.origin, b));
  }
  EXPECT_FALSE(map.RaiseInto(deep, V_LPoint{0, 0}, b));
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(mask.Row<uint8_t>(y)[x], 0) << x << "," << y;
  EXPECT_TRUE(map.RaiseInto(mask, V_LPoint{0, 0}, b));
  EXPECT_EQ(mask.Row<uint8_t>(12)[12], 255);  // the core of an 80 % hard tip
}

// An unturned dab's rectangle skips the chain walk; it must draw what the walk draws,
// byte for byte: round tips of several sizes and tips inked to their edges (where
// the bottom row's v shows) at both depths, scaled (MIP levels and level pairs),
// mirrored, squashed, under a pixel aspect, at every kind of sub-pixel offset
// (rectangles a row thick, bottom rows entered by less and more than half), clipped
// on every side and lying partly off the buffer, drawing aside and raising.
TEST_F(TipRaster, RectangleShortcutDrawsWhatTheWalkDraws) {
  std::mt19937 rng(7);
  const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * double(rng() % 100000) / 100000.0; };
  for (bool deep : {false, true}) {
    const int depth = deep ? 16 : 8;
    for (int kind = 0; kind < 7; ++kind) {
      const double diameters[] = {2.0, 9.0, 21.0, 48.0};
      std::unique_ptr<K_BrushTip> tip;
      if (kind < 4)
        tip = std::make_unique<K_ComputedBrushTip>(diameters[kind], 0.7, 0.0, 0.0, 0.0, deep);
      else
        tip = std::make_unique<TestTip>(RandomRows(3 + 9 * (kind - 4), 5 + 7 * (kind - 4), deep ? 32768 : 255,
                                                   unsigned(kind)),
                                        deep);
      K_BrushMIPMap map(*tip);
      for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(testing::Message() << depth << " bits, tip " << kind << ", trial " << trial);
        const bool raise = trial % 3 == 0;
        const double scale = raise ? 1.0 : trial % 7 == 1 ? 1.0 : uniform(0.02, 2.5);
        const double sx = trial % 11 == 5 ? -scale : scale, sy = trial % 13 == 4 ? -scale : scale;
        const double roundness = raise || trial % 4 == 0 ? 1.0 : uniform(0.01, 1.0);
        const double aspect = raise || trial % 5 != 2 ? 1.0 : uniform(0.5, 2.0);
        const int32_t w = 70, h = 60;
        // Whole, half and arbitrary offsets; centres near and past the edges.
        const double fractions[] = {0.0, 0.5, 0.25, 0.75, uniform(0, 1), uniform(0, 1)};
        const V_Vector2T<double> centre(uniform(-20, 90) + fractions[rng() % 6], uniform(-20, 80) + fractions[rng() % 6]);
        map.SetTransform(V_Vector2T<double>(sx, sy), 0.0, roundness, aspect, centre);
        const Kp_TipPolygon& poly = map.GetPolygon();
        if (poly.vertexCount == 0 || !Kp_PolygonInRange(poly)) continue;
        GX_UnoBuffer walked(w, h, depth), cut(w, h, depth);
        for (int32_t y = 0; y < h; ++y)
          for (int32_t x = 0; x < w; ++x) StoreSample(walked.Row<void>(y), x, depth, int(rng() % (deep ? 32769u : 256u)));
        const std::size_t bytes = std::size_t(walked.GetRowBytes()) * std::size_t(h);
        std::memcpy(cut.GetData(), walked.GetData(), bytes);
        Kp_RasterContext ctx;
        ctx.clipLeft = int32_t(rng() % 8);
        ctx.clipTop = int32_t(rng() % 8);
        ctx.clipRight = w - int32_t(rng() % 8);
        ctx.clipBottom = h - int32_t(rng() % 8);
        ctx.depth = depth;
        ctx.rowBytes = walked.GetRowBytes();
        ctx.pyramid = &map.GetPyramid();
        ctx.ink = &map.GetInk();
        ctx.paired = &map.GetPairedRows();
        ctx.kernels = &Kp_Kernels(deep);
        Kp_SelectLevel(poly.minScale, ctx.pyramid->levelCount, &ctx);
        ctx.span = ctx.filtered ? ctx.kernels->trilinearSpan : ctx.kernels->bilinearSpan;
        ctx.rows = ctx.filtered ? ctx.kernels->trilinearRows : ctx.kernels->bilinearRows;
        ctx.raise = raise;
        const auto origin = [&](GX_UnoBuffer& b) {
          return b.Row<unsigned char>(ctx.clipTop) + std::ptrdiff_t(ctx.clipLeft) * (depth / 8);
        };
        ctx.data = origin(walked);
        Kp_ScanPolygonByWalk(poly, ctx);
        const bool walkDeclined = ctx.declined;
        ctx.declined = false;
        ctx.data = origin(cut);
        Kp_ScanPolygon(poly, ctx);
        EXPECT_EQ(ctx.declined, walkDeclined);
        ASSERT_EQ(std::memcmp(walked.GetData(), cut.GetData(), bytes), 0)
            << "centre " << centre.x << ", " << centre.y << " scale " << sx << ", " << sy << " roundness "
            << roundness << " aspect " << aspect << (raise ? " raised" : "");
      }
    }
  }
}

}  // namespace
