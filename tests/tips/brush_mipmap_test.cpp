// SPDX-License-Identifier: MIT
#include "kstroke/brush_mipmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "test_support.h"
#include "tip_fixtures.h"
#include "tips/mip_pyramid.h"

namespace {

class BrushMipmap : public TrackedTest {};

// Sample (x, y) of level k, at the pyramid's depth.
int Sample(const Kp_MIPPyramid& p, int k, int x, int y) {
  const unsigned char* row = p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k];
  return p.bitsPerSample == 16 ? reinterpret_cast<const uint16_t*>(row)[x] : row[x];
}

TEST(HalveLine, FilterRoundsAndClamps) {
  struct Case { const char* name; std::vector<int> in; int maxValue; std::vector<int> out; };
  const Case kCases[] = {
      {"hard edge undershoots to 0", {0, 0, 255, 255, 0, 0}, 255, {0, 199, 72, 0}},
      {"flat run overshoots to 255", {0, 255, 255, 255, 255, 255, 0}, 255, {64, 255, 255, 64}},
      {"single sample halves with rounding", {255}, 255, {128}},
      {"single odd sample", {3}, 255, {2}},
      {"two samples", {100, 200}, 255, {(16 * 100 + 9 * 200 + 16) >> 5, (9 * 200 + 16) >> 5}},
      {"deep flat run", {32768, 32768, 32768, 32768, 32768}, 32768, {24576, 32768, 24576}},
      {"deep overshoot clamps to 32768", {0, 32768, 32768, 32768, 32768, 32768, 0}, 32768, {8192, 32768, 32768, 8192}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint16_t> in(c.in.begin(), c.in.end());
    // Outputs written with a stride, to check that it is honoured.
    std::vector<uint16_t> out(c.out.size() * 2, 7);
    Kp_HalveLine(in.data(), 1, int32_t(in.size()), out.data(), 2, c.maxValue);
    for (std::size_t i = 0; i < c.out.size(); ++i) {
      EXPECT_EQ(out[2 * i], c.out[i]) << i;
      EXPECT_EQ(out[2 * i + 1], 7) << "stride gap written";
    }
  }
}

// The level halving against Kp_HalveLine along every row, then down every column,
// on random samples (extremes included, so both clamps are reached) at every size
// from one sample up, where the bounds-free middle of a row is empty, short and long.
template <class T>
void ExpectHalveLevelMatchesLines(int32_t maxValue) {
  std::mt19937 rng(7);
  for (int32_t n = 1; n <= 19; ++n) {
    for (int32_t m : {1, 2, 3, 4, 5, 8, 11}) {
      const std::ptrdiff_t srcStride = n + 3, dstStride = (n >> 1) + 4;
      std::vector<T> src(std::size_t(srcStride * m));
      for (T& v : src) {
        const uint32_t r = rng() % 8;
        v = T(r == 0 ? 0 : r == 1 ? maxValue : int32_t(rng() % uint32_t(maxValue + 1)));
      }
      const int32_t cols = (n >> 1) + 1, rows = (m >> 1) + 1;
      std::vector<T> lines(std::size_t(dstStride * m)), expected(std::size_t(dstStride * rows), T(5));
      for (int32_t y = 0; y < m; ++y)
        Kp_HalveLine(src.data() + y * srcStride, 1, n, lines.data() + y * dstStride, 1, maxValue);
      for (int32_t x = 0; x < cols; ++x)
        Kp_HalveLine(lines.data() + x, dstStride, m, expected.data() + x, dstStride, maxValue);
      std::vector<T> scratch(std::size_t(dstStride * (m + 1)), T(9)), got(expected.size(), T(5));
      Kp_HalveLevel(src.data(), srcStride, n, m, scratch.data(), got.data(), dstStride, maxValue);
      ASSERT_EQ(got, expected) << n << " x " << m;
    }
  }
}

TEST(HalveLevel, MatchesTheFilterAlongRowsThenColumns) {
  ExpectHalveLevelMatchesLines<uint8_t>(255);
  ExpectHalveLevelMatchesLines<uint16_t>(32768);
}

TEST(MipLevels, CountFollowsLongerSide) {
  struct Case { int side; int levels; };
  const Case kCases[] = {{1, 3}, {2, 4}, {4, 5}, {16, 7}, {100, 10}, {1000, 13}, {4096, 15}, {30000, 15}};
  for (const Case& c : kCases) EXPECT_EQ(Kp_MIPLevelCount(c.side), c.levels) << c.side;
}

TEST_F(BrushMipmap, HeaderAndLevelSizes) {
  struct Case {
    const char* name; int w, h, value; bool deep;
    std::vector<std::pair<int, int>> sizes;  // width, height per level
    std::vector<int> firstSamples;           // sample (0, 0) per level, if given
  };
  const Case kCases[] = {
      {"4 x 4", 4, 4, 9, false, {{4, 4}, {3, 3}, {2, 2}, {2, 2}, {2, 2}}, {}},
      {"5 x 2 deep", 5, 2, 9, true, {{5, 2}, {3, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}}, {}},
      {"1 x 9", 1, 9, 9, false, {{1, 9}, {1, 5}, {1, 3}, {1, 2}, {1, 2}, {1, 2}, {1, 2}}, {}},
      {"one pixel halves twice", 1, 1, 255, false, {{1, 1}, {1, 1}, {1, 1}}, {255, 64, 16}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(c.w, c.h, c.value), c.deep);
    K_BrushMIPMap map(tip);
    const Kp_MIPPyramid& p = map.GetPyramid();
    const int bytes = c.deep ? 2 : 1;
    EXPECT_EQ(p.formatTag, 2);
    EXPECT_EQ(p.bitsPerSample, c.deep ? 16 : 8);
    EXPECT_EQ(p.planeCount, 1);
    ASSERT_EQ(p.levelCount, int(c.sizes.size()));
    int samples = 0;
    for (int k = 0; k < p.levelCount; ++k) {
      EXPECT_EQ(p.Width(k), c.sizes[std::size_t(k)].first) << k;
      EXPECT_EQ(p.Height(k), c.sizes[std::size_t(k)].second) << k;
      EXPECT_EQ(p.rowBytes[k], (p.Width(k) + 2) * bytes) << k;
      samples += (p.Width(k) + 2) * (p.Height(k) + 2);
      if (!c.firstSamples.empty()) {
        EXPECT_EQ(Sample(p, k, 0, 0), c.firstSamples[std::size_t(k)]) << k;
      }
      if (k > 0) {
        // Levels follow each other: the previous level's last border row ends where
        // this level's top border row starts.
        const unsigned char* prevEnd = p.levels[k - 1] - p.rowBytes[k - 1] - bytes +
                                       std::ptrdiff_t(p.rowBytes[k - 1]) * (p.Height(k - 1) + 2);
        EXPECT_EQ(p.levels[k] - p.rowBytes[k] - bytes, prevEnd) << k;
      }
    }
    EXPECT_EQ(p.planeBytes, samples * bytes);
    EXPECT_EQ(p.allPlanesBytes, p.planeBytes);
  }
}

TEST_F(BrushMipmap, BordersReadZeroOnEveryLevel) {
  for (bool deep : {false, true}) {
    SCOPED_TRACE(deep ? "16 bit" : "8 bit");
    const int full = deep ? 32768 : 255;
    TestTip tip(TestTip::Flat(37, 21, full), deep);
    K_BrushMIPMap map(tip);
    const Kp_MIPPyramid& p = map.GetPyramid();
    ASSERT_EQ(p.levelCount, 9);
    for (int k = 0; k < p.levelCount; ++k) {
      for (int x = -1; x <= p.Width(k); ++x) {
        EXPECT_EQ(Sample(p, k, x, -1), 0) << k;
        EXPECT_EQ(Sample(p, k, x, p.Height(k)), 0) << k;
      }
      for (int y = 0; y < p.Height(k); ++y) {
        EXPECT_EQ(Sample(p, k, -1, y), 0) << k;
        EXPECT_EQ(Sample(p, k, p.Width(k), y), 0) << k;
        for (int x = 0; x < p.Width(k); ++x) {
          EXPECT_GE(Sample(p, k, x, y), 0);
          EXPECT_LE(Sample(p, k, x, y), full);
        }
      }
    }
    // A flat interior stays full away from the edges of level 1.
    EXPECT_EQ(Sample(p, 1, 9, 5), full);
  }
}

TEST_F(BrushMipmap, LevelsAreSeparableHalvings) {
  // Level 1 of a 2-D tip equals halving rows then columns by hand.
  const std::vector<std::vector<int>> rows = {
      {0, 10, 50, 90, 30}, {20, 200, 255, 180, 40}, {5, 100, 240, 120, 0}, {0, 0, 60, 10, 0}};
  TestTip tip(rows, false);
  K_BrushMIPMap map(tip);
  const Kp_MIPPyramid& p = map.GetPyramid();
  ASSERT_EQ(p.Width(1), 3);
  ASSERT_EQ(p.Height(1), 3);
  // Horizontal pass, then vertical pass, with the (−1, 0, 9, 16, 9, 0, −1)/32 filter.
  auto halve = [](const std::vector<int>& x) {
    std::vector<int> out;
    const int n = int(x.size());
    auto at = [&](int j) { return j >= 0 && j < n ? x[std::size_t(j)] : 0; };
    for (int i = 0; i <= n / 2; ++i) {
      const int s = 16 * at(2 * i) + 9 * (at(2 * i - 1) + at(2 * i + 1)) - (at(2 * i - 3) + at(2 * i + 3)) + 16;
      out.push_back(std::min(std::max(s >> 5, 0), 255));
    }
    return out;
  };
  std::vector<std::vector<int>> h;
  for (const auto& r : rows) h.push_back(halve(r));
  for (int x = 0; x < 3; ++x) {
    std::vector<int> col;
    for (const auto& r : h) col.push_back(r[std::size_t(x)]);
    const std::vector<int> v = halve(col);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(Sample(p, 1, x, y), v[std::size_t(y)]) << x << "," << y;
  }
  // Level 0 is the tip itself, unchanged.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Sample(p, 0, x, y), rows[std::size_t(y)][std::size_t(x)]);
}

TEST_F(BrushMipmap, UntransformedMapHasNoBoundsAndDrawsNothing) {
  TestTip tip(TestTip::Flat(3, 3, 255), false);
  K_BrushMIPMap map(tip);
  EXPECT_EQ(map.GetRenderedBounds(), V_Rect{});
  GX_UnoBuffer dst(4, 4, 8);
  FillUno(&dst, 9);
  map.RenderInto(dst);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(SampleOf(dst, x, y), 9);
}

}  // namespace
