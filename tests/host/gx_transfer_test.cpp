// SPDX-License-Identifier: MIT
// Transfer modes against pixels worked out by hand. Unit values: 8-bit v stands for
// v / 255, 16-bit for v / 32768.
#include "host/gx/gx_iterate.h"
#include "host/gx/gx_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "gx_test_support.h"

namespace {

using M = GX_TransferMode;
constexpr int32_t kNormal = int32_t(M::kNormal);

TEST(GxTransferModes, NumbersAreFixed) {
  // These numbers are stored with strokes and cross the engine boundary.
  const M kModes[] = {M::kCopy,     M::kNormal,  M::kDissolve, M::kAdd,
                      M::kMultiply, M::kScreen,  M::kOverlay,  M::kDarken,
                      M::kLighten,  M::kDifference, M::kErase};
  const int32_t kNumbers[] = {-2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(int32_t(kModes[i]), kNumbers[i]) << i;
  EXPECT_TRUE(GX_IsValidTransferMode(-2));
  EXPECT_FALSE(GX_IsValidTransferMode(-3));
  EXPECT_FALSE(GX_IsValidTransferMode(12));
}

/// One pixel through a depth's per-pixel function.
template <class P>
struct XferCase {
  const char* name;
  M mode;
  typename P::Pixel src, dst;
  typename P::Value mask, opacity;
  typename P::Pixel want;
};

template <class P>
void ExpectXfers(std::initializer_list<XferCase<P>> cases, double tolerance = 0) {
  for (const XferCase<P>& c : cases) {
    SCOPED_TRACE(c.name);
    typename P::Pixel d = c.dst;
    GXp_XferTable<P>()[int32_t(c.mode)](c.src, nullptr, c.mask, c.opacity, &d);
    EXPECT_TRUE(SamePixel(d, c.want, tolerance));
  }
}

TEST(GxTransferTables, ModesMatchHandComputedPixelsAtEveryDepth) {
  const GX_Pixel8 kSrc{255, 200, 100, 50}, kBlue{255, 0, 0, 255}, kMix{255, 40, 20, 214};
  ExpectXfers<GXp_Px8>({
      // Full weight, opaque source: a plain store.
      {"normal full", M::kNormal, kSrc, kBlue, 255, 255, kSrc},
      // w = 51/255 = 0.2 over an opaque backdrop: 0.2 cs + 0.8 cb.
      {"normal 0.2", M::kNormal, kSrc, kBlue, 255, 51, kMix},
      {"mask and opacity multiply", M::kNormal, kSrc, kBlue, 51, 255, kMix},
      // Over a transparent backdrop the colour is the source's, the alpha 0.2.
      {"normal over clear", M::kNormal, kSrc, {0, 0, 0, 0}, 255, 51, {51, 200, 100, 50}},
      // Source alpha 102 = 0.4 over opaque white: 0.4 cs + 0.6 cb.
      {"normal half alpha", M::kNormal, {102, 0, 100, 255}, {255, 255, 255, 255}, 255, 255,
       {255, 153, 193, 255}},
      {"unnumbered -1 is normal", M(-1), kSrc, kBlue, 255, 51, kMix},
      {"unnumbered 0 is normal", M(0), kSrc, kBlue, 255, 51, kMix},
      {"unnumbered 1 is normal", M(1), kSrc, kBlue, 255, 51, kMix},
      // 200 × 128 / 255 = 100.39.
      {"multiply", M::kMultiply, {255, 128, 255, 0}, {255, 200, 200, 200}, 255, 255,
       {255, 100, 200, 0}},
      // 100 + 100 − 100·100/255 = 160.78; 10 + 255 − 10 = 255.
      {"screen", M::kScreen, {255, 100, 0, 255}, {255, 100, 50, 10}, 255, 255, {255, 161, 50, 255}},
      {"add caps at full", M::kAdd, {255, 100, 200, 10}, {255, 100, 100, 10}, 255, 255,
       {255, 200, 255, 20}},
      // 0.2 × min(1, cb + cs) + 0.8 cb: 40 + 80, 51 + 80, 4 + 8.
      {"add 0.2", M::kAdd, {255, 100, 200, 10}, {255, 100, 100, 10}, 255, 51, {255, 120, 131, 12}},
      // cb 0.2 ≤ ½: 2 · 0.2 · 0.6 = 0.24 → 61.2; cb 0.8: screen(0.6, 0.6) = 0.84 → 214.2.
      {"overlay", M::kOverlay, {255, 153, 153, 153}, {255, 51, 204, 0}, 255, 255,
       {255, 61, 214, 0}},
      {"darken", M::kDarken, {255, 50, 150, 20}, {255, 100, 100, 100}, 255, 255,
       {255, 50, 100, 20}},
      {"lighten", M::kLighten, {255, 50, 150, 20}, {255, 100, 100, 100}, 255, 255,
       {255, 100, 150, 100}},
      {"difference", M::kDifference, {255, 50, 150, 20}, {255, 100, 100, 100}, 255, 255,
       {255, 50, 50, 80}},
      // Erase: 200 × (1 − 0.2) = 160; colour kept.
      {"erase", M::kErase, {255, 1, 2, 3}, {200, 10, 20, 30}, 255, 51, {160, 10, 20, 30}},
      // Copy replaces alpha too: a transparent source at full weight clears.
      {"copy clear source", M::kCopy, {0, 10, 20, 30}, {255, 100, 100, 100}, 255, 255,
       {0, 10, 20, 30}},
      // Premultiplied mix at 0.2: alpha 0.8, colour the backdrop's.
      {"copy clear source 0.2", M::kCopy, {0, 10, 20, 30}, {255, 100, 100, 100}, 255, 51,
       {204, 100, 100, 100}},
      {"copy onto clear 0.2", M::kCopy, {255, 0, 0, 0}, {0, 50, 50, 50}, 255, 51, {51, 0, 0, 0}},
      {"copy opaque 0.2", M::kCopy, kSrc, kBlue, 255, 51, kMix},
  });
  ExpectXfers<GXp_Px16>({
      // w = 8192 / 32768 = 0.25: 0.25 cs + 0.75 cb.
      {"16-bit normal 0.25", M::kNormal, {32768, 32768, 0, 16384}, {32768, 0, 32768, 0}, 32768,
       8192, {32768, 8192, 24576, 4096}},
      {"16-bit multiply", M::kMultiply, {32768, 16384, 32768, 0}, {32768, 16384, 1000, 5}, 32768,
       32768, {32768, 8192, 1000, 0}},
      // 16384 × (1 − 0.25) = 12288.
      {"16-bit erase", M::kErase, {32768, 0, 0, 0}, {16384, 7, 8, 9}, 8192, 32768,
       {12288, 7, 8, 9}},
      {"16-bit add caps at full", M::kAdd, {32768, 20000, 1, 0}, {32768, 20000, 2, 0}, 32768,
       32768, {32768, 32768, 3, 0}},
  });
  ExpectXfers<GXp_PxF>(
      {
          // Float colour is not clamped: 0.25 × 2.0, 0.25 × 0.5, 0.25 × −1.
          {"float normal keeps range", M::kNormal, {1, 2.0f, 0.5f, -1.0f}, {1, 0, 0, 0}, 0.5f,
           0.5f, {1, 0.5f, 0.125f, -0.25f}},
          {"float add above one", M::kAdd, {1, 0.75f, 0.5f, 0}, {1, 0.5f, 0.25f, 0}, 1, 1,
           {1, 1.25f, 0.75f, 0}},
          {"float copy", M::kCopy, {0.5f, 1, 1, 1}, {1, 0, 0, 0}, 1, 1, {0.5f, 1, 1, 1}},
      },
      1e-6);
}

TEST(GxTransferTables, ZeroCoverageLeavesEveryModeAlone) {
  for (int32_t mode = kGX_TransferModeFirst; mode <= kGX_TransferModeLast; ++mode) {
    SCOPED_TRACE(mode);
    GX_Pixel8 d8{90, 80, 70, 60};
    GXp_G_Xfer1_Opacity2_table8[mode](GX_Pixel8{255, 1, 2, 3}, nullptr, 0, 255, &d8);
    EXPECT_TRUE(SamePixel(d8, GX_Pixel8{90, 80, 70, 60}));
    GX_Pixel16 d16{900, 800, 700, 600};
    GXp_G_Xfer1_Opacity2_table16[mode](GX_Pixel16{32768, 1, 2, 3}, nullptr, 32768, 0, &d16);
    EXPECT_TRUE(SamePixel(d16, GX_Pixel16{900, 800, 700, 600}));
    GX_PixelFloat df{0.5f, 0.4f, 0.3f, 0.2f};
    GXp_G_Xfer1_Opacity2_tableF[mode](GX_PixelFloat{1, 1, 1, 1}, nullptr, 0.0f, 1.0f, &df);
    EXPECT_TRUE(SamePixel(df, GX_PixelFloat{0.5f, 0.4f, 0.3f, 0.2f}));
  }
}

TEST(GxTransferTables, DissolveTakesAboutTheWeightedShareOfPixelsRepeatably) {
  const int32_t n = 20000;
  std::vector<GX_Pixel8> row(n, GX_Pixel8{255, 0, 0, 0});
  // Source alpha 0.6 × weight 0.5 (mask 255, opacity 0.5 rounded as 128/255).
  const GX_Pixel8 src{153, 200, 100, 50};
  const GX_XferFunc8 dissolve = GXp_G_Xfer1_Opacity2_table8[int32_t(M::kDissolve)];
  for (GX_Pixel8& d : row) dissolve(src, nullptr, 255, 128, &d);
  int32_t taken = 0;
  for (const GX_Pixel8& d : row) {
    if (d.red == 200) {
      EXPECT_TRUE(SamePixel(d, GX_Pixel8{255, 200, 100, 50}));  // full alpha
      ++taken;
    } else {
      EXPECT_TRUE(SamePixel(d, GX_Pixel8{255, 0, 0, 0}));
    }
  }
  // Expected share 0.6 × 128/255 = 0.301; 4 standard deviations is ±0.013.
  EXPECT_NEAR(double(taken) / n, 0.301, 0.013);
  // The pattern belongs to the pixel: the same pixels are taken again.
  for (GX_Pixel8& d : row) {
    const bool wasTaken = d.red == 200;
    d = GX_Pixel8{255, 0, 0, 0};
    dissolve(src, nullptr, 255, 128, &d);
    EXPECT_EQ(d.red == 200, wasTaken);
  }
}

TEST(GxTransferTables, LinearBlendingMixesInLinearLight) {
  const GX_LinearBlendingTables& t = GX_LinearBlendingTables::Srgb();
  // ((0.5 + 0.055) / 1.055)^2.4 = 0.214041.
  EXPECT_NEAR(t.ToLinear(0.5f), 0.214041f, 1e-5);
  EXPECT_EQ(t.ToLinear(0.0f), 0.0f);
  EXPECT_NEAR(t.ToLinear(1.0f), 1.0f, 1e-6);
  for (int32_t i = 0; i <= 1000; ++i) {
    const float v = float(i) / 1000.0f;
    ASSERT_NEAR(t.FromLinear(t.ToLinear(v)), v, 1e-5) << v;
  }
  // Outside 0..1 the curve is mirrored: float layers may hold such values.
  EXPECT_NEAR(t.ToLinear(-0.5f), -0.214041f, 1e-5);

  // White at weight 0.2 over black: 0.2 in linear light is sRGB 0.484529 → 123.55.
  GX_Pixel8 d{255, 0, 0, 0};
  GXp_G_Xfer1_Opacity2_table8[kNormal](GX_Pixel8{255, 255, 255, 255}, &t, 255, 51, &d);
  EXPECT_TRUE(SamePixel(d, GX_Pixel8{255, 124, 124, 124}));
  // Without tables the stored values mix: 51.
  GX_Pixel8 plain{255, 0, 0, 0};
  GXp_G_Xfer1_Opacity2_table8[kNormal](GX_Pixel8{255, 255, 255, 255}, nullptr, 255, 51, &plain);
  EXPECT_TRUE(SamePixel(plain, GX_Pixel8{255, 51, 51, 51}));
}

TEST(GxBlendSingleChannel, MixesValueIntoAlphaOnly) {
  GX_Pixel8 row8[3] = {{0, 1, 2, 3}, {100, 4, 5, 6}, {255, 7, 8, 9}};
  const unsigned char mask8[3] = {255, 255, 0};
  // w = 0.2: 0 → 40, 100 → 120, third pixel uncovered.
  GX_BlendSingleChannel<GX_Pixel8, unsigned char>(3, 51, 200, mask8, row8);
  EXPECT_TRUE(SamePixel(row8[0], GX_Pixel8{40, 1, 2, 3}));
  EXPECT_TRUE(SamePixel(row8[1], GX_Pixel8{120, 4, 5, 6}));
  EXPECT_TRUE(SamePixel(row8[2], GX_Pixel8{255, 7, 8, 9}));

  GX_Pixel16 row16[2] = {{32768, 1, 2, 3}, {0, 4, 5, 6}};
  const unsigned short mask16[2] = {16384, 32768};
  // 32768 + (0 − 32768) × 0.5 = 16384; 0 + (0 − 0) = 0.
  GX_BlendSingleChannel<GX_Pixel16, unsigned short>(2, 32768, 0, mask16, row16);
  EXPECT_TRUE(SamePixel(row16[0], GX_Pixel16{16384, 1, 2, 3}));
  EXPECT_TRUE(SamePixel(row16[1], GX_Pixel16{0, 4, 5, 6}));

  GX_PixelFloat rowF[1] = {{0.5f, 0.1f, 0.2f, 0.3f}};
  const float maskF[1] = {0.5f};
  GX_BlendSingleChannel<GX_PixelFloat, float>(1, 1.0f, 1.0f, maskF, rowF);
  EXPECT_FLOAT_EQ(rowF[0].alpha, 0.75f);
  EXPECT_FLOAT_EQ(rowF[0].red, 0.1f);
}

// The SSE2 and (where the processor runs it) AVX2 forms of the row.
template <class P>
void RowForm(bool avx2, const typename P::Pixel& colour, const typename P::Value* mask, typename P::Value opacity,
             int32_t count, typename P::Pixel* dst, std::ptrdiff_t ahead, bool stream) {
  GXp_BlendColourNormalRowForm<P>(colour, mask, opacity, count, dst, ahead, stream, avx2);
}

// Blends the pixels `before` through `mask` three ways: the per-pixel Normal transfer,
// the row kernel in each form (with a prefetch and with streamed lines on alternate
// trials: neither may change a pixel) and its scalar form, and asserts that they agree
// by `same`.
template <class P, class Same>
void ExpectRowMatchesPixels(const typename P::Pixel& colour,
                            const std::vector<typename P::Value>& mask,
                            typename P::Value opacity,
                            const std::vector<typename P::Pixel>& before, int trial, Same same) {
  const int32_t count = int32_t(mask.size());
  std::vector<typename P::Pixel> want = before, scalar = before;
  const auto xfer = GXp_XferTable<P>()[kNormal];
  for (int32_t i = 0; i < count; ++i)
    if (mask[size_t(i)] != 0) xfer(colour, nullptr, mask[size_t(i)], opacity, &want[size_t(i)]);
  GXp_BlendColourNormalRowScalar<P>(colour, mask.data(), opacity, count, scalar.data());
  for (int32_t i = 0; i < count; ++i)
    ASSERT_TRUE(same(scalar[size_t(i)], want[size_t(i)])) << "trial " << trial << " pixel " << i;
  for (bool avx2 : {false, true}) {
    if (avx2 && !GX_HasAvx2()) continue;
    std::vector<typename P::Pixel> fast = before;
    ASSERT_FALSE(LeavesWideRegistersInUse([&] {
      RowForm<P>(avx2, colour, mask.data(), opacity, count, fast.data(), trial % 2 ? 256 : 0, trial % 4 < 2);
    })) << (avx2 ? "AVX2" : "SSE2") << " form, trial " << trial;
    GX_StreamFence();
    for (int32_t i = 0; i < count; ++i)
      ASSERT_TRUE(same(fast[size_t(i)], want[size_t(i)]))
          << (avx2 ? "AVX2" : "SSE2") << " form, trial " << trial << " pixel " << i << " mask "
          << +mask[size_t(i)] << ": " << SamePixel(fast[size_t(i)], want[size_t(i)]).message();
  }
}

// The row kernel against the per-pixel Normal transfer, bit for bit, on seeded random
// rows: runs of zero mask (skipped whole), partial and full coverage, translucent and
// opaque colours, opacities, destination alphas from empty to full (and 16-bit values
// above full, which a caller may hand over), runs of empty pixels, row lengths that
// leave scalar tails.
template <class P>
void CheckNormalRowAgainstPixels(uint32_t seed) {
  using Value = typename P::Value;
  using Pixel = typename P::Pixel;
  const uint32_t top = sizeof(Value) == 1 ? 255u : 65535u;
  std::mt19937 rng(seed);
  const auto value = [&](uint32_t hi) { return Value(rng() % (hi + 1)); };
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t count = int32_t(rng() % 160);
    // Channels of 0 and full are common (black, white, primaries) and blend apart;
    // 16-bit channels above full are clamped.
    const auto channel = [&] {
      const uint32_t kind = uint32_t(rng() % 5);
      return kind == 0 ? Value(0) : kind == 1 ? Value(P::kFull) : value(kind == 2 ? top : P::kFull);
    };
    const Pixel colour{rng() % 3 ? Value(P::kFull) : value(P::kFull), channel(), channel(),
                       channel()};
    const Value opacity = rng() % 2 ? Value(P::kFull) : value(P::kFull);
    std::vector<Value> mask(static_cast<size_t>(count));
    std::vector<Pixel> before(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      const uint32_t kind = rng() % 4;
      mask[size_t(i)] = kind == 0 ? Value(0) : kind == 1 ? Value(P::kFull) : value(P::kFull);
      if (i >= 20 && i < 40 + trial % 80 && trial % 2) mask[size_t(i)] = 0;  // empty runs
      if (i >= 124 && i < 140 && trial % 3 == 0) mask[size_t(i)] = Value(P::kFull);  // a core
      // A wide core: whole cache lines of pixels under full coverage, streamed.
      if (i >= 30 && i < 110 && trial % 5 == 0) mask[size_t(i)] = Value(P::kFull);
      const uint32_t hi = rng() % 8 == 0 ? top : uint32_t(P::kFull);
      before[size_t(i)] = Pixel{rng() % 4 == 0 ? Value(0) : value(hi), value(hi), value(hi),
                              value(hi)};
      if (trial % 4 == 1 && i >= 8 && i < 100) before[size_t(i)] = Pixel{0, 0, 0, 0};  // fresh layer
    }
    ASSERT_NO_FATAL_FAILURE(ExpectRowMatchesPixels<P>(
        colour, mask, opacity, before, trial,
        [](const Pixel& a, const Pixel& b) { return bool(SamePixel(a, b)); }));
  }
}

TEST(GxBlendColourNormalRow, MatchesThePerPixelTransferBitForBit) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    CheckNormalRowAgainstPixels<GXp_Px8>(seed);
    CheckNormalRowAgainstPixels<GXp_Px16>(seed);
  }
}

// Float channels equal bit for bit, or both NaN: which NaN an operation passes on
// depends on the order the compiler gives a sum's or product's operands, in either form.
bool SameFloatPixel(const GX_PixelFloat& a, const GX_PixelFloat& b) {
  const float x[4] = {a.alpha, a.red, a.green, a.blue}, y[4] = {b.alpha, b.red, b.green, b.blue};
  for (int c = 0; c < 4; ++c)
    if (std::memcmp(&x[c], &y[c], sizeof(float)) != 0 && !(std::isnan(x[c]) && std::isnan(y[c])))
      return false;
  return true;
}

// The float row against the per-pixel transfer, bit for bit: float layers and masks
// hold anything, so besides 0..1 the values include both zeros, negatives, values past
// 1, infinities and NaN, in colour, coverage, opacity and the destination.
TEST(GxBlendColourNormalRow, FloatRowMatchesThePerPixelTransferBitForBit) {
  std::mt19937 rng(7);
  const float specials[] = {0.0f, -0.0f, 1.0f, -0.25f, 1.5f, 1e-30f,
                            std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()};
  const auto value = [&](int specialOdds) {
    if (int(rng() % 16) < specialOdds) return specials[rng() % 8];
    return float(rng() % 100001) / 100000.0f;
  };
  for (int trial = 0; trial < 600; ++trial) {
    const int32_t count = int32_t(rng() % 70);
    // The fill source's colour is opaque; translucent ones take the blend too.
    const GX_PixelFloat colour{trial % 3 ? 1.0f : value(3), value(3), value(3), value(3)};
    const float opacity = trial % 2 ? 1.0f : value(2);
    std::vector<float> mask(static_cast<size_t>(count));
    std::vector<GX_PixelFloat> before(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      const uint32_t kind = rng() % 4;
      mask[size_t(i)] = kind == 0 ? 0.0f : kind == 1 ? 1.0f : value(4);
      if (i >= 10 && i < 30 + trial % 30 && trial % 2) mask[size_t(i)] = 0.0f;  // empty runs
      if (i >= 40 && i < 60 && trial % 3 == 1) mask[size_t(i)] = 1.0f;  // an opaque core
      before[size_t(i)] = GX_PixelFloat{rng() % 4 == 0 ? 0.0f : value(3), value(3), value(3),
                                      value(3)};
    }
    ASSERT_NO_FATAL_FAILURE(
        ExpectRowMatchesPixels<GXp_PxF>(colour, mask, opacity, before, trial, SameFloatPixel));
  }
}

// An opaque colour at full opacity over a fresh layer, every mask value at each depth
// (16-bit ones past full included): the row writes the coverage as alpha beside the
// colour's channels, which must be what the per-pixel transfer makes of it.
template <class P>
void CheckEveryCoverageOverEmptyPixels(const typename P::Pixel& colour) {
  using Value = typename P::Value;
  const int32_t count = sizeof(Value) == 1 ? 256 + 3 : 65536 + 3;  // + a scalar tail
  std::vector<Value> mask(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) mask[size_t(i)] = Value(i);
  // Trial 2: no prefetch, no streamed lines.
  ExpectRowMatchesPixels<P>(
      colour, mask, Value(P::kFull), std::vector<typename P::Pixel>(mask.size(), {0, 0, 0, 0}), 2,
      [](const typename P::Pixel& a, const typename P::Pixel& b) { return bool(SamePixel(a, b)); });
}

// Whole lines under full coverage may be streamed, but only lines wholly full and
// never past the row's end: the last pixel is half or fully covered, the mask goes on
// full beyond the end, and the pixels there must stay as they were.
template <class P>
void CheckStreamedLinesStopAtTheEnd(const typename P::Pixel& colour) {
  using Pixel = typename P::Pixel;
  using Value = typename P::Value;
  const Pixel old{1, 2, 3, 4};
  alignas(64) Pixel row[64];
  for (bool halfLast : {true, false})
    for (int32_t count = 1; count <= 40; ++count) {
      std::vector<Value> mask(64, Value(P::kFull));
      if (halfLast) mask[std::size_t(count - 1)] = Value(P::kFull / 2);
      Pixel last = old;
      GXp_XferTable<P>()[kNormal](colour, nullptr, mask[std::size_t(count - 1)], mask[0], &last);
      for (bool avx2 : {false, true}) {
        std::fill(row, row + 64, old);
        RowForm<P>(avx2, colour, mask.data(), mask[0], count, row, 0, true);
        GX_StreamFence();
        for (int32_t i = 0; i < 64; ++i)
          ASSERT_TRUE(SamePixel(row[i], i < count - 1 ? colour : i == count - 1 ? last : old))
              << (avx2 ? "AVX2" : "SSE2") << " form, " << count << " pixels, last "
              << (halfLast ? "half" : "fully") << " covered, " << i;
      }
    }
}

TEST(GxBlendColourNormalRow, EveryCoverageOverEmptyPixelsMatchesThePerPixelTransfer) {
  CheckStreamedLinesStopAtTheEnd<GXp_Px8>(GX_Pixel8{255, 0, 128, 255});
  CheckStreamedLinesStopAtTheEnd<GXp_Px16>(GX_Pixel16{32768, 0, 16384, 32768});
  CheckEveryCoverageOverEmptyPixels<GXp_Px8>(GX_Pixel8{255, 0, 128, 255});
  CheckEveryCoverageOverEmptyPixels<GXp_Px16>(GX_Pixel16{32768, 0, 16384, 32768});
  // Channels past full: partial coverage takes them clamped, full weight as they are.
  CheckEveryCoverageOverEmptyPixels<GXp_Px16>(GX_Pixel16{32768, 40000, 65535, 1});
}

class GxTransfer : public TrackedTest {};

TEST_F(GxTransfer, SingleChannelBlendsThroughMaskAtOffsets) {
  GX_UnoBuffer src(4, 3, 8), mask(4, 3, 8), dst(5, 5, 8);
  GX_FillUnoBuffer(200, &src);
  GX_FillUnoBuffer(0, &mask);
  GX_FillUnoBuffer(100, &dst);
  mask.Row<uint8_t>(1)[1] = 255;
  mask.Row<uint8_t>(1)[2] = 51;
  mask.Row<uint8_t>(2)[1] = 255;
  mask.Row<uint8_t>(2)[3] = 255;  // outside srcRect: never read
  // Source (1..3, 1..3) lands on destination (3..5, 0..2); column 4 is the last.
  ASSERT_EQ(GX_TransferUnoBuffers(nullptr, &src, &mask, kNormal, L(1, 1, 3, 3), P(3, 0), &dst), 0);
  const uint8_t want[5][5] = {
      {100, 100, 100, 200, 120},  // mask 255 → 200; mask 0.2 → 100 + 100 × 0.2
      {100, 100, 100, 200, 100},
      {100, 100, 100, 100, 100},
      {100, 100, 100, 100, 100},
      {100, 100, 100, 100, 100},
  };
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(dst.Row<uint8_t>(y)[x], want[y][x]) << x << "," << y;

  // Erase on one channel: d × (1 − m); a point hanging off the right edge is clipped.
  ASSERT_EQ(GX_TransferUnoBuffers(nullptr, &src, &mask, int32_t(M::kErase), L(1, 1, 3, 3),
                                  P(4, 3), &dst),
            0);
  EXPECT_EQ(dst.Row<uint8_t>(3)[4], 0);
  EXPECT_EQ(dst.Row<uint8_t>(4)[4], 0);
  EXPECT_EQ(dst.Row<uint8_t>(3)[3], 100);

  // No mask: full coverage. 16-bit Copy.
  GX_UnoBuffer s16(2, 2, 16), d16(2, 2, 16);
  GX_FillDeepUnoBuffer(1234, &s16);
  GX_FillDeepUnoBuffer(9, &d16);
  ASSERT_EQ(GX_TransferUnoBuffers(nullptr, &s16, nullptr, int32_t(M::kCopy), L(0, 0, 2, 1),
                                  P(0, 1), &d16),
            0);
  EXPECT_EQ(d16.Row<uint16_t>(0)[0], 9);
  EXPECT_EQ(d16.Row<uint16_t>(1)[1], 1234);
}

TEST_F(GxTransfer, SingleChannelRejectsBadArguments) {
  GX_UnoBuffer a(2, 2, 8), b(2, 2, 8), deep(2, 2, 16);
  struct Case {
    const char* name;
    const GX_UnoBuffer *src, *mask;
    int32_t mode;
    GX_UnoBuffer* dst;
    int32_t code;
  };
  const Case kCases[] = {
      {"null source", nullptr, &b, kNormal, &a, GX_Err_BadArgument},
      {"null destination", &a, &b, kNormal, nullptr, GX_Err_BadArgument},
      {"mask depth", &a, &deep, kNormal, &b, GX_Err_BadDepth},
      {"destination depth", &a, nullptr, kNormal, &deep, GX_Err_BadDepth},
      {"mode below", &a, nullptr, -3, &b, GX_Err_BadMode},
      {"mode above", &a, nullptr, 12, &b, GX_Err_BadMode},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GX_TransferUnoBuffers(nullptr, c.src, c.mask, c.mode, L(0, 0, 2, 2), P(0, 0), c.dst),
              c.code);
  }
}

TEST_F(GxTransfer, RectBlendsSourceRectangleThroughPositionedMask) {
  std::unique_ptr<GX_World> src = FilledWorld(4, 4, {255, 200, 100, 50});
  std::unique_ptr<GX_World> dest = FilledWorld(6, 6, {255, 0, 0, 255});
  std::unique_ptr<GX_World> maskWorld = NewWorld(2, 2);
  PixelOf(*maskWorld, 0, 0).alpha = 255;
  PixelOf(*maskWorld, 1, 0).alpha = 51;
  PixelOf(*maskWorld, 1, 1).alpha = 255;
  const GX_MaskRecord mask{*maskWorld->GetLayer(), 2, 3, 0};
  ASSERT_EQ(GX_TransferRect(nullptr, 1, 1, 0, L(1, 1, 4, 4), src->GetLayer(), GX_TransferSettings(),
                            nullptr, &mask, 2, 3, dest->GetLayer()),
            0);
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 6; ++x) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      GX_Pixel8 want{255, 0, 0, 255};
      if ((x == 2 && y == 3) || (x == 3 && y == 4)) want = GX_Pixel8{255, 200, 100, 50};
      if (x == 3 && y == 3) want = GX_Pixel8{255, 40, 20, 214};  // mask 0.2
      EXPECT_TRUE(SamePixel(PixelOf(*dest, x, y), want));
    }
  }
}

TEST_F(GxTransfer, RectColourOnlyKeepsAlphaAndOpaqueFlagIgnoresSourceAlpha) {
  std::unique_ptr<GX_World> src = FilledWorld(2, 1, {0, 200, 100, 50});
  std::unique_ptr<GX_World> dest = FilledWorld(2, 1, {100, 0, 0, 0});
  GX_TransferSettings settings;
  settings.colourOnly = 1;
  // useSourceAlpha 0: the transparent source counts as opaque.
  ASSERT_EQ(GX_TransferRect(nullptr, 1, 0, 0, L(0, 0, 1, 1), src->GetLayer(), settings, nullptr,
                            nullptr, 0, 0, dest->GetLayer()),
            0);
  EXPECT_TRUE(SamePixel(PixelOf(*dest, 0, 0), GX_Pixel8{100, 200, 100, 50}));
  EXPECT_TRUE(SamePixel(PixelOf(*dest, 1, 0), GX_Pixel8{100, 0, 0, 0}));
  // With its alpha the source is transparent and nothing changes.
  settings.colourOnly = 0;
  ASSERT_EQ(GX_TransferRect(nullptr, 1, 1, 0, L(1, 0, 2, 1), src->GetLayer(), settings, nullptr,
                            nullptr, 1, 0, dest->GetLayer()),
            0);
  EXPECT_TRUE(SamePixel(PixelOf(*dest, 1, 0), GX_Pixel8{100, 0, 0, 0}));
  // Opacity 0.2 with a missing source and Copy: a transparent source fades alpha
  // 100 → 80 and keeps the colour.
  settings.mode = int32_t(M::kCopy);
  settings.opacity = 0.2f;
  ASSERT_EQ(GX_TransferRect(nullptr, 1, 1, 0, L(0, 0, 1, 1), nullptr, settings, nullptr, nullptr,
                            1, 0, dest->GetLayer()),
            0);
  EXPECT_TRUE(SamePixel(PixelOf(*dest, 1, 0), GX_Pixel8{80, 0, 0, 0}));
}

TEST_F(GxTransfer, RectRejectsBadArgumentsAndCancelsWithTheCallbacksCode) {
  std::unique_ptr<GX_World> w8 = NewWorld(2, 2), w16 = NewWorld(2, 2, 16);
  const GX_MaskRecord deepMask{*w16->GetLayer(), 0, 0, 0};
  GX_LayerDef* l8 = w8->GetLayer();
  struct Case {
    const char* name;
    int32_t quality, useSourceAlpha;
    const GX_LayerDef* src;
    int32_t mode;
    float opacity;
    const GX_MaskRecord* mask;
    GX_LayerDef* dest;
    int32_t code;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case kCases[] = {
      {"null destination", 1, 1, l8, kNormal, 1, nullptr, nullptr, GX_Err_BadArgument},
      {"quality 2", 2, 1, l8, kNormal, 1, nullptr, l8, GX_Err_BadArgument},
      {"source alpha flag 3", 1, 3, l8, kNormal, 1, nullptr, l8, GX_Err_BadArgument},
      {"opacity NaN", 1, 1, l8, kNormal, nan, nullptr, l8, GX_Err_BadArgument},
      {"source depth", 1, 1, w16->GetLayer(), kNormal, 1, nullptr, l8, GX_Err_BadDepth},
      {"mask depth", 1, 1, l8, kNormal, 1, &deepMask, l8, GX_Err_BadDepth},
      {"mode 12", 1, 1, l8, 12, 1, nullptr, l8, GX_Err_BadMode},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_TransferSettings s;
    s.mode = c.mode;
    s.opacity = c.opacity;
    EXPECT_EQ(GX_TransferRect(nullptr, c.quality, c.useSourceAlpha, 0, L(0, 0, 2, 2), c.src, s,
                              nullptr, c.mask, 0, 0, c.dest),
              c.code);
  }

  std::unique_ptr<GX_World> src = NewWorld(3, 200, 16), dest = NewWorld(3, 200, 16);
  ProgressRecorder rec(1, 42);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(GX_TransferRect(&info, 1, 1, 0, L(0, 0, 3, 200), src->GetLayer(), GX_TransferSettings(),
                            nullptr, nullptr, 0, 0, dest->GetLayer()),
            42);
  EXPECT_EQ(rec.reports, (std::vector<std::pair<int32_t, int32_t>>{{64, 200}, {128, 200}}));
}

}  // namespace
