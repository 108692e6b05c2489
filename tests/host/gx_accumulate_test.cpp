// SPDX-License-Identifier: MIT
// Dab accumulation into the paint mask, and the fixed-point helpers it rests on.
#include "host/gx/gx_accumulate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <vector>

#include "host/gx/gx_pixel_traits.h"
#include "gx_test_support.h"

namespace {

constexpr int32_t kBuildUp = int32_t(GX_AccumulateMode::kBuildUp);
constexpr int32_t kAdditive = int32_t(GX_AccumulateMode::kAdditive);
constexpr int32_t kMaximum = int32_t(GX_AccumulateMode::kMaximum);

TEST(GxFixedPoint, DivisionHelpersRoundToNearest) {
  // Every product of two 8-bit values: floor(x / 255 + ½) = floor((2x + 255) / 510).
  for (uint32_t x = 0; x <= 255u * 255u; ++x)
    ASSERT_EQ(GXp_DivFull8(x), (2 * x + 255) / 510) << x;
  // Every product of two 16-bit values up to full: halves round up.
  for (uint32_t a = 0; a <= 32768u; a += 97)
    for (uint32_t b = 0; b <= 32768u; b += 89)
      ASSERT_EQ(GXp_DivFull16(a * b), (2 * a * b + 32768) / 65536) << a << "*" << b;
  EXPECT_EQ(GXp_Px8::Mul(255, 255), 255);
  EXPECT_EQ(GXp_Px16::Mul(32768, 32768), 32768);
  EXPECT_EQ(GXp_Px8::FromUnit(0.5f), 128);  // 127.5 rounds up
  EXPECT_EQ(GXp_Px8::FromUnit(-1.0f), 0);
  EXPECT_EQ(GXp_Px16::FromUnit(2.0f), 32768);
  EXPECT_EQ(GXp_Px8::FromUnit(std::numeric_limits<float>::quiet_NaN()), 0);
  for (int32_t v = 0; v <= 255; ++v) ASSERT_EQ(GXp_Px8::FromUnit(GXp_Px8::ToUnit(uint8_t(v))), v);
}

/// Accumulates all of `dab` into `mask` at (0, 0).
int32_t Accumulate(const GX_UnoBuffer& dab, int32_t mode, float opacity, float flow,
                   GX_UnoBuffer* mask) {
  return GX_AccumulateUnoBuffers(nullptr, &dab, mode, opacity, flow,
                                 L(0, 0, dab.GetWidth(), dab.GetHeight()), P(0, 0), mask);
}

class GxAccumulate : public TrackedTest {};

TEST_F(GxAccumulate, ModesMatchHandComputedMasksAtEveryDepth) {
  // Values of the depth; the mask after one and after two dabs.
  struct Case {
    const char* name;
    int32_t depth, mode;
    float opacity, flow;
    double coverage, start, after1, after2;
  };
  const Case kCases[] = {
      // Target 255 × 128/255 = 128; 128 × 128/255 = 64.25 → 64; then 64 + 32.1 → 96.
      {"build-up halves the way", 8, kBuildUp, 0.5f, 0.5f, 255, 0, 64, 96},
      {"build-up above target stays", 8, kBuildUp, 0.5f, 0.5f, 255, 200, 200, 200},
      {"build-up full flow jumps to target", 8, kBuildUp, 0.5f, 1.0f, 255, 10, 128, 128},
      // Partial coverage 102 = 0.4: target 102 × 128/255 = 51.2 → 51; 51 × 0.2 = 10.2 → 10.
      {"build-up partial coverage", 8, kBuildUp, 0.5f, 0.2f, 102, 0, 10, 18},
      // 1 × 77/255 rounds to 0, yet the last unit is taken; the target is never passed.
      {"build-up takes the last unit", 8, kBuildUp, 0.5f, 0.3f, 255, 127, 128, 128},
      {"no coverage changes nothing", 8, kBuildUp, 1.0f, 1.0f, 0, 33, 33, 33},
      // 255 × 0.2 = 51 added each time, capped at 255.
      {"additive", 8, kAdditive, 1.0f, 0.2f, 255, 100, 151, 202},
      {"additive caps at full", 8, kAdditive, 1.0f, 0.5f, 255, 200, 255, 255},
      // 128 × 0.5 → 64; the mask keeps the larger value.
      {"maximum", 8, kMaximum, 0.5f, 1.0f, 128, 50, 64, 64},
      {"maximum keeps higher mask", 8, kMaximum, 1.0f, 1.0f, 128, 200, 200, 200},
      {"opacity clamps to one", 8, kMaximum, 3.0f, 1.0f, 128, 0, 128, 128},
      // Target 16384; 16384 × 0.25 = 4096, then 4096 + 12288 × 0.25.
      {"16-bit build-up", 16, kBuildUp, 0.5f, 0.25f, 32768, 0, 4096, 7168},
      {"16-bit additive caps at full", 16, kAdditive, 1.0f, 0.25f, 32768, 30000, 32768, 32768},
      // 0.1 + (0.5 − 0.1) × 0.5 = 0.3, then 0.3 + 0.2 × 0.5.
      {"float build-up", 32, kBuildUp, 0.5f, 0.5f, 1, 0.1, 0.3, 0.4},
      {"float additive caps at one", 32, kAdditive, 1.0f, 0.5f, 1, 0.9, 1, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_UnoBuffer dab(1, 1, c.depth), mask(1, 1, c.depth);
    FillUno(&dab, c.coverage);
    FillUno(&mask, c.start);
    const double tolerance = c.depth == 32 ? 1e-7 : 0;
    ASSERT_EQ(Accumulate(dab, c.mode, c.opacity, c.flow, &mask), 0);
    EXPECT_NEAR(SampleOf(mask, 0, 0), c.after1, tolerance);
    ASSERT_EQ(Accumulate(dab, c.mode, c.opacity, c.flow, &mask), 0);
    EXPECT_NEAR(SampleOf(mask, 0, 0), c.after2, tolerance);
  }
}

// Every 8-bit (coverage, mask) pair at several opacity and flow pairs, the full-full
// shortcut included, against the rule written sample by sample: t = Mul(c, op); below
// t the mask moves by Mul(t − m, fl), at least one unit while flow is not 0.
TEST_F(GxAccumulate, BuildUpRowsFollowTheRuleForEveryEightBitPair) {
  GX_UnoBuffer dab(256, 256, 8), mask(256, 256, 8);
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) dab.Row<uint8_t>(y)[x] = uint8_t(x);
  const float settings[][2] = {{1, 1}, {1, 0.5f}, {0.5f, 1}, {0.7f, 0.3f}, {1, 0}, {0.2f, 0.01f}};
  for (const auto& s : settings) {
    SCOPED_TRACE(testing::Message() << "opacity " << s[0] << " flow " << s[1]);
    for (int32_t y = 0; y < 256; ++y)
      for (int32_t x = 0; x < 256; ++x) mask.Row<uint8_t>(y)[x] = uint8_t(y);
    ASSERT_EQ(Accumulate(dab, kBuildUp, s[0], s[1], &mask), 0);
    const uint8_t op = GXp_Px8::FromUnit(s[0]), fl = GXp_Px8::FromUnit(s[1]);
    for (int32_t m = 0; m < 256; ++m)
      for (int32_t c = 0; c < 256; ++c) {
        const int32_t t = GXp_Px8::Mul(uint8_t(c), op);
        int32_t want = m;
        if (m < t) want = m + std::max<int32_t>(GXp_Px8::Mul(uint8_t(t - m), fl), fl > 0);
        ASSERT_EQ(mask.Row<uint8_t>(m)[c], want) << "mask " << m << " coverage " << c;
      }
  }
}

// At 16 bits: every coverage from 0 to full and some past it, over mask values across
// the range (full and past it included), at opacity and flow pairs that take in full,
// 0, 1 and 32767, against the same rule. The products of the vector forms are checked
// for every coverage against each factor.
TEST_F(GxAccumulate, BuildUpRowsFollowTheRuleForEverySixteenBitCoverage) {
  std::vector<uint16_t> coverage;
  for (uint32_t c = 0; c <= 32768; ++c) coverage.push_back(uint16_t(c));
  for (uint32_t c : {32769u, 40000u, 65535u}) coverage.push_back(uint16_t(c));
  std::vector<uint16_t> masks = {1, 2, 16383, 16384, 32767, 32768, 32769, 65535};
  for (uint32_t m = 0; m <= 32768; m += 257) masks.push_back(uint16_t(m));
  const int32_t width = int32_t(coverage.size()), height = int32_t(masks.size());
  GX_UnoBuffer dab(width, height, 16), mask(width, height, 16);
  for (int32_t y = 0; y < height; ++y) std::copy(coverage.begin(), coverage.end(), dab.Row<uint16_t>(y));
  const float settings[][2] = {{1, 0.5f}, {0.5f, 1}, {0.7f, 0.3f}, {1, 0}, {3.0518e-5f, 1}, {1, 0.99997f},
                               {0.99997f, 3.0518e-5f}};
  for (const auto& s : settings) {
    const uint16_t op = GXp_Px16::FromUnit(s[0]), fl = GXp_Px16::FromUnit(s[1]);
    SCOPED_TRACE(testing::Message() << "opacity " << op << " flow " << fl);
    for (int32_t y = 0; y < height; ++y) std::fill_n(mask.Row<uint16_t>(y), width, masks[std::size_t(y)]);
    ASSERT_EQ(Accumulate(dab, kBuildUp, s[0], s[1], &mask), 0);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const int32_t m = masks[std::size_t(y)];
        const int32_t t = GXp_Px16::Mul(std::min<uint16_t>(coverage[std::size_t(x)], 32768), op);
        int32_t want = m;
        if (m < t) want = m + std::max<int32_t>(GXp_Px16::Mul(uint16_t(t - m), fl), fl > 0);
        ASSERT_EQ(mask.Row<uint16_t>(y)[x], want) << "mask " << m << " coverage " << coverage[std::size_t(x)];
      }
  }
}

/// Seeded samples of a depth: an eighth each 0, full and (at 16 bits) past full, the
/// rest anywhere from 0 to full.
template <class Traits>
class SampleValues {
public:
  explicit SampleValues(uint32_t seed_) : seed(seed_) {}
  typename Traits::Value operator()() {
    using V = typename Traits::Value;
    seed = seed * 1664525u + 1013904223u;
    const uint32_t r = seed >> 8;
    switch (r & 7) {
      case 0: return V(0);
      case 1: return V(Traits::kFull);
      case 2: return V(sizeof(V) == 1 ? 254u : 32768u + (r >> 3) % 32768u);
      default: return V((r >> 3) % (uint32_t(Traits::kFull) + 1));
    }
  }

private:
  uint32_t seed;
};

// Rows of every width up to `widest` at 8 and 16 bits, seeded, against the same rule:
// masks and coverage at and past full included, at each opacity and flow pair. A row
// ends on a vector that overlaps the one before it; through the call the dab is placed
// one sample in, with `right` mask samples past it, so the samples on either side must
// stay as they were. The row kernel is also run alone in its SSE2 and (where the
// processor has it) AVX2 forms.
template <class Traits>
void CheckBuildUpAtEveryWidth(int32_t depth, uint32_t seed,
                              std::initializer_list<std::array<float, 2>> settings,
                              int32_t widest, int32_t rows, int32_t right) {
  using V = typename Traits::Value;
  SampleValues<Traits> value(seed);
  for (const auto& s : settings) {
    const V op = Traits::FromUnit(s[0]), fl = Traits::FromUnit(s[1]);
    for (int32_t width = 1; width <= widest; ++width) {
      SCOPED_TRACE(testing::Message() << depth << " bits, opacity " << s[0] << " flow " << s[1]
                                      << " width " << width);
      const int32_t span = width + 1 + right;
      GX_UnoBuffer dab(width, rows, depth), mask(span, rows, depth);
      std::vector<V> before(std::size_t(span * rows)), want(before.size());
      for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < width; ++x) dab.Row<V>(y)[x] = value();
        for (int32_t x = 0; x < span; ++x)
          before[std::size_t(y * span + x)] = mask.Row<V>(y)[x] = value();
      }
      for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < span; ++x) {
          const int32_t m = before[std::size_t(y * span + x)];
          int32_t w = m;
          if (x >= 1 && x <= width) {
            const V c = std::min<V>(dab.Row<V>(y)[x - 1], V(Traits::kFull));
            const int32_t t = Traits::Mul(c, op);
            if (m < t) w = m + std::max<int32_t>(Traits::Mul(V(t - m), fl), fl > 0);
          }
          want[std::size_t(y * span + x)] = V(w);
        }
      ASSERT_EQ(GX_AccumulateUnoBuffers(nullptr, &dab, kBuildUp, s[0], s[1], L(0, 0, width, rows),
                                        P(1, 0), &mask),
                0);
      for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < span; ++x)
          ASSERT_EQ(mask.Row<V>(y)[x], want[std::size_t(y * span + x)])
              << "x " << x << " y " << y << " mask " << +before[std::size_t(y * span + x)];
      for (bool avx2 : {false, true}) {
        for (int32_t y = 0; y < rows; ++y) {
          std::vector<V> row(before.begin() + y * span, before.begin() + (y + 1) * span);
          ASSERT_FALSE(LeavesWideRegistersInUse(
              [&] { GXp_BuildUpRow<Traits>(dab.Row<V>(y), row.data() + 1, width, op, fl, avx2); }))
              << (avx2 ? "AVX2" : "SSE2") << " form";
          for (int32_t x = 0; x < span; ++x)
            ASSERT_EQ(row[std::size_t(x)], want[std::size_t(y * span + x)])
                << (avx2 ? "AVX2" : "SSE2") << " form, x " << x;
        }
      }
    }
  }
}

TEST_F(GxAccumulate, BuildUpRowsFollowTheRuleAtEveryWidth) {
  const std::initializer_list<std::array<float, 2>> kSettings = {
      {1, 0.5f}, {0.5f, 1}, {0.7f, 0.3f}, {1, 0}, {0.2f, 0.01f}, {0.999f, 0.0001f}};
  CheckBuildUpAtEveryWidth<GXp_Px8>(8, 777, kSettings, 80, 2, 1);
  CheckBuildUpAtEveryWidth<GXp_Px16>(16, 777, kSettings, 40, 2, 1);
}

// A plain opaque stroke (opacity and flow full) makes each mask sample the larger of
// itself and the coverage (coverage above full counting as full): the same rule, at
// every width up to 80 samples, with samples at and past full on both sides.
TEST_F(GxAccumulate, OpaqueBuildUpTakesTheLargerOfMaskAndCoverageAtEveryWidth) {
  CheckBuildUpAtEveryWidth<GXp_Px8>(8, 12345, {{1, 1}}, 80, 3, 4);
  CheckBuildUpAtEveryWidth<GXp_Px16>(16, 12345, {{1, 1}}, 80, 3, 4);
}

TEST_F(GxAccumulate, DabIsClippedToMaskAndSource) {
  struct Case { const char* name; V_LRect srcRect; V_LPoint dstPoint; const char* want; };
  // want: the 4 × 4 mask, '#' = 255 and '.' = 0.
  const Case kCases[] = {
      {"inside", L(0, 0, 3, 3), P(1, 0), ".###.###.###...."},
      {"hangs off top left", L(0, 0, 3, 3), P(-1, -2), "##.............."},
      {"hangs off bottom right", L(0, 0, 3, 3), P(2, 3), "..............##"},
      {"source sub-rectangle", L(1, 1, 3, 2), P(0, 0), "##.............."},
      {"source rectangle past the dab", L(2, 2, 6, 6), P(0, 0), "#..............."},
      {"entirely outside", L(0, 0, 3, 3), P(4, 0), "................"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_UnoBuffer dab(3, 3, 8), mask(4, 4, 8);
    GX_FillUnoBuffer(255, &dab);
    GX_FillUnoBuffer(0, &mask);
    ASSERT_EQ(GX_AccumulateUnoBuffers(nullptr, &dab, kMaximum, 1.0f, 1.0f, c.srcRect, c.dstPoint,
                                      &mask),
              0);
    for (int32_t i = 0; i < 16; ++i)
      EXPECT_EQ(mask.Row<uint8_t>(i / 4)[i % 4], c.want[i] == '#' ? 255 : 0) << "sample " << i;
  }
}

TEST_F(GxAccumulate, RejectsBadArgumentsWithExactCodes) {
  GX_UnoBuffer a(2, 2, 8), b(2, 2, 8), deep(2, 2, 16);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    const GX_UnoBuffer* src;
    int32_t mode;
    float opacity, flow;
    GX_UnoBuffer* mask;
    int32_t code;
  };
  const Case kCases[] = {
      {"null dab", nullptr, kBuildUp, 1, 1, &b, GX_Err_BadArgument},
      {"null mask", &a, kBuildUp, 1, 1, nullptr, GX_Err_BadArgument},
      {"NaN opacity", &a, kBuildUp, nan, 1, &b, GX_Err_BadArgument},
      {"infinite flow", &a, kBuildUp, 1, std::numeric_limits<float>::infinity(), &b,
       GX_Err_BadArgument},
      {"depths differ", &a, kBuildUp, 1, 1, &deep, GX_Err_BadDepth},
      {"mode 3", &a, 3, 1, 1, &b, GX_Err_BadMode},
      {"mode -1", &a, -1, 1, 1, &b, GX_Err_BadMode},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GX_AccumulateUnoBuffers(nullptr, c.src, c.mode, c.opacity, c.flow, L(0, 0, 2, 2),
                                      P(0, 0), c.mask),
              c.code);
  }
  GX_UnoBuffer tall(1, 100, 8), tallMask(1, 100, 8);
  ProgressRecorder rec(0, 5);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(GX_AccumulateUnoBuffers(&info, &tall, kBuildUp, 1, 1, L(0, 0, 1, 100), P(0, 0),
                                    &tallMask),
            5);
}

}  // namespace
