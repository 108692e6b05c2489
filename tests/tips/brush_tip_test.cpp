// SPDX-License-Identifier: MIT
#include "kstroke/brush_tip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "test_support.h"
#include "tips/tip_geometry.h"
#include "tips/tip_tables.h"

namespace {

class BrushTip : public TrackedTest {};

template <class T>
std::vector<std::vector<int>> Samples(const K_BrushTip& tip) {
  const GX_UnoBuffer& b = *tip.GetTip();
  std::vector<std::vector<int>> out(std::size_t(b.GetHeight()));
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x) out[std::size_t(y)].push_back(b.Row<T>(y)[x]);
  return out;
}

TEST(TipTables, FalloffMatchesReferenceRowsAndBell) {
  struct Row { int index; int value; };
  const Row kRows[] = {{0, 65280},   {64, 63709},  {128, 59221}, {256, 44214}, {384, 27166},
                       {512, 13737}, {640, 5717},  {768, 1958},  {896, 552}};
  for (const Row& r : kRows) EXPECT_EQ(kFalloffTable[std::size_t(r.index)], r.value) << r.index;

  const int kTail[24] = {97, 93, 89, 85, 81, 77, 73, 69, 65, 61, 57, 53,
                         49, 45, 41, 36, 32, 28, 24, 20, 16, 12, 8,  4};
  for (int i = 0; i < 24; ++i) EXPECT_EQ(kFalloffTable[std::size_t(1000 + i)], kTail[i]) << 1000 + i;

  // Bell shape within 0.2 % of full scale, strictly decreasing.
  const double k = 6.17;
  for (int i = 0; i < 1024; ++i) {
    const double x = (i + 0.5) / 1024.0;
    const double bell = 65280.0 * (std::exp(-k * x * x) - std::exp(-k)) / (1.0 - std::exp(-k));
    EXPECT_NEAR(kFalloffTable[std::size_t(i)], bell, 0.002 * 65280) << i;
    if (i > 0) {
      EXPECT_LT(kFalloffTable[std::size_t(i)], kFalloffTable[std::size_t(i - 1)]) << i;
    }
  }
}

TEST(TipTables, HypotEndsAndSamples) {
  EXPECT_EQ(kHypotTable[0], 16384);
  EXPECT_EQ(kHypotTable[128], 18318);  // 16384 × √1.25 = 18317.6
  EXPECT_EQ(kHypotTable[256], 23170);  // 16384 × √2 = 23170.47
  for (std::size_t i = 1; i < kHypotTable.size(); ++i) EXPECT_GE(kHypotTable[i], kHypotTable[i - 1]);
}

TEST_F(BrushTip, SizesAndHotSpots) {
  struct Case {
    const char* name; double diameter, hardness, roundness, angle; int width, height, hotX, hotY;
  };
  const Case kCases[] = {
      {"tiny tip clamps to 0.5", 0.3, 1.0, 1.0, 0, 1, 1, 2, 2},
      {"3 px is always soft", 3, 1.0, 1.0, 0, 5, 5, 10, 10},
      {"10 px hard", 10, 1.0, 1.0, 0, 13, 13, 26, 26},
      {"100 px hard", 100, 1.0, 1.0, 0, 103, 103, 206, 206},
      {"100 px soft reaches 1.65 radii", 100, 0.0, 1.0, 0, 165, 165, 330, 330},
      {"ellipse", 100, 1.0, 0.5, 0, 103, 53, 206, 106},
      {"ellipse at 90 degrees", 100, 1.0, 0.5, 90, 53, 103, 106, 206},
      {"roundness 0 keeps 1.5 px", 100, 1.0, 0.0, 0, 103, 3, 206, 6},
      // Half-heights that land just under a quarter-pixel boundary, and a turned round
      // tip, whose half-height is capped at the long axis.
      {"8 px ellipse", 8, 1.0, 0.5, 0, 11, 5, 22, 10},
      {"7 px soft at 45 degrees stays square", 7, 0.0, 1.0, 45, 11, 11, 22, 22},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    for (bool deep : {false, true}) {
      K_ComputedBrushTip tip(c.diameter, c.hardness, c.roundness, c.angle, false, deep);
      EXPECT_EQ(tip.GetExtent(), (V_Vector2T<short>{short(c.width), short(c.height)}));
      EXPECT_EQ(tip.GetHotSpot(), (V_Vector2T<short>{short(c.hotX), short(c.hotY)}));
      EXPECT_EQ(tip.IsDeep(), deep);
      EXPECT_EQ(tip.GetTip()->GetDepth(), deep ? 16 : 8);
    }
  }
}

TEST_F(BrushTip, StoredMembersTruncate) {
  struct Case { double diameter, hardness, roundness, angle, wantDiameter; int32_t hard, round, deg; };
  const Case kCases[] = {{0.2, 0.999, 0.505, -0.7, 0.5, 99, 50, 0}, {7, 0, 1, -45.6, 7, 0, 100, -45},
                         {7, 0, 1, 44.6, 7, 0, 100, 45},
                         {std::nan(""), std::nan(""), 1, 0, 0.5, 0, 100, 0}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.diameter << " " << c.hardness << " " << c.angle);
    K_ComputedBrushTip t(c.diameter, c.hardness, c.roundness, c.angle, false, false);
    EXPECT_EQ(t.GetDiameter(), c.wantDiameter);
    EXPECT_EQ(t.GetHardnessPercent(), c.hard);
    EXPECT_EQ(t.GetRoundnessPercent(), c.round);
    EXPECT_EQ(t.GetAngleDegrees(), c.deg);
  }
}

TEST_F(BrushTip, HardEdgeFallsOverTheOuterRing) {
  // 100 px, hardness 1: A = 207 quarter pixels, E = 3165. Along the centre row the
  // normalised radius is x × 1266.4, so columns up to 49 are inside the soft edge,
  // 50 and 51 lie on it and 52 would be outside.
  K_ComputedBrushTip tip(100, 1.0, 1.0, 0, false, false);
  const auto s = Samples<uint8_t>(tip);
  const std::vector<int>& row = s[51];
  ASSERT_EQ(row.size(), 103u);
  for (int x = 0; x <= 49; ++x) EXPECT_EQ(row[std::size_t(51 + x)], 255) << x;
  EXPECT_GT(row[101], 0);
  EXPECT_LT(row[101], 255);
  EXPECT_GT(row[102], 0);
  EXPECT_LT(row[102], row[101]);
  EXPECT_EQ(s[0][0], 0);  // the corner lies outside the circle
}

TEST_F(BrushTip, RoundTipsAreSymmetricAndMonotone) {
  for (double hardness : {0.0, 0.5, 1.0}) {
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << "hardness " << hardness << " deep " << deep);
      K_ComputedBrushTip tip(31, hardness, 1.0, 0, false, deep);
      const auto s = deep ? Samples<uint16_t>(tip) : Samples<uint8_t>(tip);
      const std::size_t n = s.size();
      ASSERT_EQ(s[0].size(), n);
      const std::size_t c = n / 2;
      EXPECT_EQ(s[c][c], deep ? 32768 : 255);
      for (std::size_t y = 0; y < n; ++y)
        for (std::size_t x = 0; x < n; ++x) {
          EXPECT_EQ(s[y][x], s[y][n - 1 - x]);
          EXPECT_EQ(s[y][x], s[n - 1 - y][x]);
          EXPECT_EQ(s[y][x], s[x][y]);
        }
      for (std::size_t x = c + 1; x < n; ++x) EXPECT_LE(s[c][x], s[c][x - 1]) << x;
      for (std::size_t d = 1; c + d < n; ++d) EXPECT_LE(s[c + d][c + d], s[c + d - 1][c + d - 1]);
    }
  }
}

TEST_F(BrushTip, AngleNinetyTransposesAnEllipse) {
  K_ComputedBrushTip flat(40, 0.7, 0.4, 0, false, false);
  K_ComputedBrushTip turned(40, 0.7, 0.4, 90, false, false);
  const auto a = Samples<uint8_t>(flat);
  const auto b = Samples<uint8_t>(turned);
  ASSERT_EQ(a.size(), b[0].size());
  ASSERT_EQ(a[0].size(), b.size());
  for (std::size_t y = 0; y < a.size(); ++y)
    for (std::size_t x = 0; x < a[0].size(); ++x) EXPECT_EQ(a[y][x], b[x][y]);
}

TEST_F(BrushTip, DeepAndDitheredAgreeWithTableMode) {
  const auto tip8 = [](bool dither, K_TipNoise* noise) {
    return Samples<uint8_t>(K_ComputedBrushTip(24, 0.3, 0.8, 30, dither, false, noise));
  };
  const auto tip16 = [](bool dither) { return Samples<uint16_t>(K_ComputedBrushTip(24, 0.3, 0.8, 30, dither, true)); };
  K_TipNoise noise(7), other(8);
  const auto t = tip8(false, nullptr);
  const auto d = tip8(true, &noise);
  noise.Seed(7);
  const auto h = tip16(false);
  EXPECT_EQ(d, tip8(true, &noise)) << "same seed, same tip";
  EXPECT_NE(d, tip8(true, &other)) << "another seed, other noise";
  EXPECT_EQ(h, tip16(true)) << "dithering does nothing at 16 bits";
  int bumped = 0;
  for (std::size_t y = 0; y < t.size(); ++y)
    for (std::size_t x = 0; x < t[0].size(); ++x) {
      const int diff = d[y][x] - t[y][x];
      EXPECT_TRUE(diff == 0 || diff == 1) << x << "," << y;
      bumped += diff;
      // 16 bits: profile × 128 / 255, so its high part is the 8-bit value.
      EXPECT_NEAR(h[y][x] * 255.0 / 32768.0, t[y][x], 1.0) << x << "," << y;
      EXPECT_LE(h[y][x], 32768);
    }
  EXPECT_GT(bumped, 0) << "noise lifts some edge pixels";
}

// The constructor's fill (reciprocal divisions, half the pixels mirrored) against plain
// divisions of every pixel, sample for sample, on random tips from half a pixel to 400
// across at every depth and mode.
TEST_F(BrushTip, TheFastFillGivesThePlainTip) {
  std::mt19937 rng(11);
  const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * double(rng() % 100001) / 100000.0; };
  for (int i = 0; i < 48; ++i) {
    const double diameter = std::exp(uniform(std::log(0.5), std::log(400.0)));
    const double hardness = uniform(0, 1), roundness = uniform(0.02, 1), angle = uniform(-180, 180);
    const int mode = i % 3;  // table, dithered, deep
    SCOPED_TRACE(testing::Message() << "d " << diameter << " h " << hardness << " r " << roundness
                                    << " a " << angle << " mode " << mode);
    K_TipNoise noise(uint32_t(i + 1));
    const K_ComputedBrushTip tip(diameter, hardness, roundness, angle, mode == 1, mode == 2, &noise);
    const Kp_TipGeometry g = Kp_ComputeTipGeometry(tip.GetDiameter(), tip.GetHardnessPercent(),
                                                   tip.GetRoundnessPercent(), tip.GetAngleDegrees());
    const GX_UnoBuffer& fast = *tip.GetTip();
    GX_UnoBuffer plain(fast.GetWidth(), fast.GetHeight(), fast.GetDepth());
    noise.Seed(uint32_t(i + 1));
    Kp_FillComputedTip(&plain, g, Kp_ComputedTipBounds(g), mode == 1, &noise, true);
    const std::size_t rowBytes = std::size_t(fast.GetWidth()) * std::size_t(fast.GetDepth() / 8);
    for (int y = 0; y < fast.GetHeight(); ++y)
      ASSERT_EQ(std::memcmp(fast.Row<uint8_t>(y), plain.Row<uint8_t>(y), rowBytes), 0) << "row " << y;
  }
}

TEST(TipNoise, IsTheCLibrarySequenceForEverySeed) {
  // Seeds that take each branch of the seeding: 0 (counts as 1), small, one whose
  // congruential steps go negative, and seeds past 2³¹ that start as negative words.
  const uint32_t kSeeds[] = {0, 1, 7, 127773, 2147483647u, 2147483648u, 4294967295u};
#ifdef __GLIBC__
  for (uint32_t seed : kSeeds) {
    SCOPED_TRACE(seed);
    K_TipNoise noise(seed);
    std::srand(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(noise.Next(), std::rand()) << i;
  }
#endif
  // The first numbers after srand(1), as the GNU C library gives them: fixed, so the
  // sequence is the same on platforms with another rand().
  K_TipNoise one(1);
  const int32_t kFirst[] = {1804289383, 846930886, 1681692777, 1714636915, 1957747793};
  for (int32_t expected : kFirst) EXPECT_EQ(one.Next(), expected);
  K_TipNoise zero(0);
  one.Seed(1);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(zero.Next(), one.Next());
}

TEST_F(BrushTip, OutOfRangeHardnessAndAngleDrawUsableTips) {
  // Hardness past 0..1 counts as its nearest end (beyond about 2.5 the semi-axis
  // would turn negative); the angle keeps its whole degrees and draws modulo 360.
  struct Case {
    const char* name; double hardness, angle; double sameHardness, sameAngle;
    int32_t percent, degrees;
  };
  const Case kCases[] = {
      {"harder than hard", 3.0, 20, 1.0, 20, 100, 20}, {"far harder", 1e300, 20, 1.0, 20, 100, 20},
      {"softer than soft", -4.0, 20, 0.0, 20, 0, 20},
      {"a million degrees and more", 0.5, 1000030.0, 0.5, -50.5, 50, 1000030},
      {"negative turns", 0.5, -3600030.6, 0.5, -30.6, 50, -3600030},
      {"past 32 bits", 0.5, 1e12 + 150, 0.5, 70, 50, 70},  // 1e12 = 360 · 2777777777 + 280
      {"not a number", 0.5, std::nan(""), 0.5, 0, 50, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    K_ComputedBrushTip odd(40, c.hardness, 0.4, c.angle, false, false);
    K_ComputedBrushTip plain(40, c.sameHardness, 0.4, c.sameAngle, false, false);
    EXPECT_EQ(odd.GetHardnessPercent(), c.percent);
    EXPECT_EQ(odd.GetAngleDegrees(), c.degrees);
    EXPECT_EQ(odd.GetHotSpot(), plain.GetHotSpot());
    EXPECT_EQ(Samples<uint8_t>(odd), Samples<uint8_t>(plain));
  }
}

TEST_F(BrushTip, MaximumExtentHoldsAnyRotation) {
  struct Case { const char* name; double diameter; double aspect; double sx, sy; short w, h; };
  const Case kCases[] = {
      {"100 px at 1", 100, 1.0, 1.0, 1.0, 105, 105},  // W = 103 + 2
      {"largest factor wins", 100, 1.0, -0.5, 2.0, 210, 210},
      {"aspect widens", 100, 0.5, 1.0, 1.0, 210, 105},
      {"aspect narrows, rounded up", 100, 2.0, 1.0, 1.0, 53, 105},
      {"0.5 px", 0.3, 1.0, 1.0, 1.0, 3, 3},
      {"angle is ignored", 10, 1.0, 1.5, 1.0, 23, 23},  // W = 15, 22.5 → 23
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    K_ComputedBrushTip tip(c.diameter, 1.0, 0.3, 60, false, false);
    EXPECT_EQ(tip.GetMaximumExtent(c.aspect, {c.sx, c.sy}), (V_Vector2T<short>{c.w, c.h}));
  }
}

}  // namespace
