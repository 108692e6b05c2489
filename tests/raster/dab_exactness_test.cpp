// SPDX-License-Identifier: MIT
// Whole dabs drawn by the fast kernels against the same dabs drawn by the reference
// kernels: computed tips of many sizes and softnesses, at scales that pick single
// levels and blended pairs, turned and unturned, squeezed, mirrored, stretched by the
// pixel aspect, at random sub-pixel phases, partly off the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"
#include "raster/span_kernels.h"
#include "raster/tip_polygon.h"
#include "raster/turned_plan_x86.h"
#include "raster/turned_spans.h"
#include "test_support.h"
#include "tips/tip_fixtures.h"

namespace {

class DabExactness : public TrackedTest {};

// Where the processor lacks a width, Kp_KernelsFor gives the next narrower one.
constexpr Kp_Vectors kEveryWidth[] = {Kp_Vectors::k16Byte, Kp_Vectors::kAvx2, Kp_Vectors::kAvx512};

const char* WidthName(Kp_Vectors v) {
  return v == Kp_Vectors::k16Byte ? "16-byte vectors" : v == Kp_Vectors::kAvx2 ? "AVX2" : "AVX-512";
}

struct Dab {
  double diameter, hardness, tipRoundness; double sx, sy, angle, roundness, aspect;
  double cx, cy;  ///< centre as a fraction of the buffer
};

Dab RandomDab(std::mt19937& rng) {
  const auto pick = [&](std::initializer_list<double> v) { return *(v.begin() + rng() % v.size()); };
  const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * double(rng() % 100001) / 100000.0; };
  Dab d;
  d.diameter = pick({1.5, 3, 7, 12, 20, 33, 45, 64, 90, 130});
  d.hardness = pick({0.0, 0.2, 0.5, 0.8, 1.0});
  d.tipRoundness = pick({1.0, 1.0, 0.6, 0.3});
  // Exact powers of two and 1 select single levels; the rest blend pairs.
  const double s = rng() % 4 == 0 ? pick({1.0, 0.5, 0.25, 2.0}) : std::exp(uniform(std::log(0.03), std::log(2.5)));
  d.sx = d.sy = s;
  if (rng() % 5 == 0) d.sy = s * uniform(0.4, 1.6);
  if (rng() % 6 == 0) d.sx = -d.sx;
  if (rng() % 6 == 0) d.sy = -d.sy;
  d.angle = rng() % 2 == 0 ? 0.0 : uniform(-180, 180);
  d.roundness = rng() % 3 == 0 ? uniform(0.1, 1.0) : 1.0;
  d.aspect = rng() % 6 == 0 ? pick({0.7, 1.6, 2.5}) : 1.0;
  d.cx = rng() % 5 == 0 ? uniform(-0.2, 1.2) : uniform(0.45, 0.55);
  d.cy = rng() % 5 == 0 ? uniform(-0.2, 1.2) : uniform(0.45, 0.55);
  return d;
}

std::vector<uint8_t> Draw(const K_BrushMIPMap& map, const Kp_KernelTable& kernels, bool withInk,
                          int w, int h, int depth) {
  GX_UnoBuffer dst(w, h, depth);
  // Not cleared to 0: every sample the scan covers must be written, zeros included.
  FillUno(&dst, depth == 16 ? 0xA5A5 : 0xA5);
  EXPECT_FALSE(LeavesWideRegistersInUse([&] {
    Kp_RenderTip(map.GetPolygon(), map.GetPyramid(), withInk ? &map.GetInk() : nullptr,
                 withInk ? &map.GetPairedRows() : nullptr, kernels, dst);
  })) << "the kernels left the wide registers' upper halves in use";
  std::vector<uint8_t> bytes(std::size_t(dst.GetRowBytes()) * std::size_t(h));
  std::memcpy(bytes.data(), dst.GetData(), bytes.size());
  return bytes;
}

TEST_F(DabExactness, FastDabsMatchTheReferenceBitForBit) {
  std::mt19937 rng(1707);
  for (int depth : {8, 16}) {
    const bool deep = depth == 16;
    for (int trial = 0; trial < 300; ++trial) {
      const Dab d = RandomDab(rng);
      SCOPED_TRACE(testing::Message() << depth << " bits, trial " << trial << ": diameter " << d.diameter
                                      << ", hardness " << d.hardness << ", tip roundness " << d.tipRoundness
                                      << ", scale " << d.sx << " x " << d.sy << ", angle " << d.angle
                                      << ", roundness " << d.roundness << ", aspect " << d.aspect
                                      << ", centre " << d.cx << ", " << d.cy);
      K_ComputedBrushTip tip(d.diameter, d.hardness, d.tipRoundness, 0.0, false, deep);
      K_BrushMIPMap map(tip);
      const V_Vector2T<short> e = tip.GetMaximumExtent(d.aspect, {d.sx, d.sy});
      const int w = std::max<int>(e.x, 1), h = std::max<int>(e.y, 1);
      map.SetTransform({d.sx, d.sy}, d.angle, d.roundness, d.aspect, {w * d.cx, h * d.cy});
      const std::vector<uint8_t> want = Draw(map, Kp_ReferenceKernels(deep), false, w, h, depth);
      for (Kp_Vectors v : kEveryWidth)
        for (bool withInk : {true, false}) {
          ASSERT_EQ(Draw(map, Kp_KernelsFor(deep, v), withInk, w, h, depth), want)
              << WidthName(v) << (withInk ? ", ink and paired rows" : ", neither");
        }
    }
  }
}

// Dabs wider than one strip of the separable blocks (512 samples), and a turned one
// as wide, at both depths.
TEST_F(DabExactness, WideDabsMatchTheReference) {
  struct Case { double scale, angle; };
  const Case kCases[] = {{0.93, 0}, {0.61, 0}, {1.0, 0}, {0.93, 21}};
  for (bool deep : {false, true}) {
    K_ComputedBrushTip tip(900, 0.3, 1.0, 0.0, false, deep);  // a soft tip, 1.35 times as wide
    K_BrushMIPMap map(tip);
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message() << (deep ? 16 : 8) << " bits, scale " << c.scale << ", angle " << c.angle);
      const V_Vector2T<short> e = tip.GetMaximumExtent(1.0, {c.scale, c.scale});
      map.SetTransform({c.scale, c.scale}, c.angle, 1.0, 1.0, {e.x * 0.5 + 0.37, e.y * 0.5 + 0.81});
      ASSERT_GT(map.GetRenderedBounds().Width(), 600);
      const std::vector<uint8_t> want = Draw(map, Kp_ReferenceKernels(deep), false, e.x, e.y, deep ? 16 : 8);
      for (Kp_Vectors v : kEveryWidth)
        ASSERT_EQ(Draw(map, Kp_KernelsFor(deep, v), true, e.x, e.y, deep ? 16 : 8), want) << WidthName(v);
    }
  }
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The vector rows plan with one planner per batch; its plans must be the scalar plan's
// exactly: a begin or end too far in draws zeros where there is ink, an inside run too
// wide reads outside the level. Rows run in threes sharing their steps, as a dab's do,
// and their steps include 0 on each bound (u, v, u + v, u − v).
TEST_F(DabExactness, VectorRowPlansAreTheScalarOnes) {
  if (!Kp_HasAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(4242);
  const auto any = [&](int32_t span) { return int32_t(int64_t(rng() % (2 * uint64_t(span) + 1)) - span); };
  for (bool deep : {false, true})
    for (double diameter : {3.0, 20.0, 70.0}) {
      K_ComputedBrushTip tip(diameter, 0.6, 1.0, 0.0, false, deep);
      K_BrushMIPMap map(tip);
      const Kp_MIPPyramid& p = map.GetPyramid();
      for (int32_t level = 0; level < p.levelCount; ++level)
        for (bool trilinear : {false, true}) {
          if (trilinear && level + 1 >= p.levelCount) continue;
          Kp_SpanArgs a;
          a.pyramid = &p;
          a.ink = &map.GetInk();
          a.level = level;
          Kp_RowPlanner planner;
          const int32_t reach = (p.Width(level) + 4) << (16 + level);
          for (int trial = 0; trial < 600; ++trial) {
            if (trial % 3 == 0) {
              const int32_t flat = int32_t(rng() % 6);
              a.du = flat == 0 ? 0 : any(3 << 16);
              a.dv = flat == 1 ? 0 : flat == 2 ? a.du : flat == 3 ? -a.du : any(3 << 16);
            }
            a.count = 1 + int32_t(rng() % 90);
            a.u = rng() % 8 == 0 ? any(INT32_MAX) : any(reach);
            a.v = rng() % 8 == 0 ? any(INT32_MAX) : any(reach);
            const Kp_TurnedRow want = Kp_PlanTurnedRow(a, trilinear);
            const Kp_TurnedRow got = Kp_PlanTurnedRowAvx2(a, trilinear, &planner);
            ASSERT_TRUE(got.begin == want.begin && got.end == want.end && got.insideBegin == want.insideBegin &&
                        got.insideEnd == want.insideEnd)
                << (deep ? 16 : 8) << " bits, diameter " << diameter << ", level " << level
                << (trilinear ? " and the next" : "") << ", row u " << a.u << " du " << a.du << " v " << a.v
                << " dv " << a.dv << " count " << a.count << ": [" << got.begin << ", " << got.end << ") inside ["
                << got.insideBegin << ", " << got.insideEnd << "), want [" << want.begin << ", " << want.end
                << ") inside [" << want.insideBegin << ", " << want.insideEnd << ")";
          }
        }
    }
}
#endif

}  // namespace
