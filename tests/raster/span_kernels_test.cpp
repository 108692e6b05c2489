// SPDX-License-Identifier: MIT
#include "raster/span_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "kstroke/brush_mipmap.h"
#include "raster/scaled_blocks.h"
#include "raster/turned_spans.h"
#include "test_support.h"
#include "tips/tip_fixtures.h"

namespace {

class SpanKernels : public TrackedTest {};

constexpr Fx16 kOne = kFx16One;

// One row (or a one-row block) without ink or paired rows.
Kp_SpanArgs Args(const K_BrushMIPMap& map, int level, Fx16 scale, int count, Fx16 u, Fx16 du,
                 Fx16 v, Fx16 dv) {
  return {&map.GetPyramid(), level, scale, count, u, du, v, dv, 1, 0, nullptr, nullptr, nullptr};
}

template <class T, class Kernel>
std::vector<int> RunSpan(Kernel kernel, const Kp_SpanArgs& a) {
  std::vector<T> out(std::size_t(a.count) + 1, T(0x5A));
  kernel(a, out.data());
  EXPECT_EQ(out.back(), T(0x5A)) << "wrote past the span";
  return std::vector<int>(out.begin(), out.end() - 1);
}

// The 8-bit vector kernels divide by 255 with one multiply: (x × 257) >> 16 for
// x = sum + 128. Every weighted sum of two 8-bit samples (up to 255 × 255) must give
// Kp_Div255's result that way.
TEST(SpanWeights, DivisionBy255AsOneMultiplyHoldsForEverySum) {
  for (uint32_t sum = 0; sum <= 255u * 255u; ++sum)
    ASSERT_EQ(((sum + 128) * 257) >> 16, Kp_Div255(sum)) << sum;
  EXPECT_EQ(Kp_Div255(255u * 255u), 255u);
  EXPECT_EQ(Kp_Div255(127), 0u);  // 127 / 255 rounds down, 128 / 255 up
  EXPECT_EQ(Kp_Div255(128), 1u);
}

TEST_F(SpanKernels, EqualNeighboursInterpolateExactly) {
  struct Case { const char* name; bool deep; int value; };
  const Case kCases[] = {{"8-bit 200", false, 200}, {"8-bit full", false, 255}, {"16-bit full", true, 32768},
                         {"16-bit 12345", true, 12345}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(6, 6, c.value), c.deep);
    K_BrushMIPMap map(tip);
    // Fractions everywhere inside the interior (neighbours all inside too).
    const Kp_SpanArgs a = Args(map, 0, kOne, 9, kOne / 3, 37 * 111, 2 * kOne + 1234, 0);
    const std::vector<int> got = c.deep ? RunSpan<uint16_t>(&kp_ref::BilinearSpan<Px16>, a)
                                        : RunSpan<uint8_t>(&kp_ref::BilinearSpan<Px8>, a);
    for (int s : got) EXPECT_EQ(s, c.value);
  }
}

TEST_F(SpanKernels, BorderAndOutsideSamples) {
  TestTip tip({{255, 0}}, false);
  K_BrushMIPMap map(tip);
  const Kp_MIPPyramid& p = map.GetPyramid();
  struct Case { const char* name; Fx16 u, v; int expected; };
  const Case kCases[] = {
      {"sample itself", 0, 0, 255},
      {"halfway to the right neighbour", kOne / 2, 0, 127},  // weights 255 − 128 and 128
      {"index −1 blends in from the border", -kOne / 2, 0, 128},
      {"index −2 is outside", -kOne - kOne / 2, 0, 0}, {"index w is outside", 2 * kOne, 0, 0},
      {"half a row below", 0, kOne / 2, 127}, {"row −1 blends in", 0, -kOne / 2, 128},
      {"row −2 is outside", 0, -kOne - 1, 0},
      {"quarter in both", kOne / 4, kOne / 4, 143},  // top 255·191/255 = 191, then 191·191/255
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(int(kp_ref::BilinearSample<Px8>(p, 0, c.u, c.v)), c.expected);
  }
}

TEST(SpanWeights, LevelPairWeight) {
  struct Case { int level; Fx16 scale; int weight; };
  const Case kCases[] = {
      {0, 65536, 0},   {0, 32768, 255}, {0, 49152, 128}, {0, 32769, 255},
      {1, 20000, 199}, {3, 8192, 0},    {3, 4096, 255},  {14, 3, 128},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(Kp_TrilinearWeight(c.level, c.scale), c.weight) << c.level << " " << c.scale;
}

TEST_F(SpanKernels, ConstantRowIsJudgedAtTheFinerLevel) {
  TestTip tip(TestTip::Flat(4, 4, 255), false);
  K_BrushMIPMap map(tip);
  // v = −1.5: level 0 row −2 (outside), level 1 row −1 with fraction 64 (inside).
  const Fx16 v = -kOne - kOne / 2;
  Kp_SpanArgs a = Args(map, 0, 49152, 4, 0, kOne, v, 0);
  for (int s : RunSpan<uint8_t>(&kp_ref::TrilinearSpan<Px8>, a)) EXPECT_EQ(s, 0);
  for (int s : RunSpan<uint8_t>(&TrilinearSpan<Px8>, a)) EXPECT_EQ(s, 0);
  // Per-sample testing (v changing along the row) lets level 1 through on its own.
  a.dv = 1;
  const std::vector<int> perSample = RunSpan<uint8_t>(&kp_ref::TrilinearSpan<Px8>, a);
  EXPECT_GT(perSample[0], 0);
  EXPECT_EQ(perSample, RunSpan<uint8_t>(&TrilinearSpan<Px8>, a));
}

TEST_F(SpanKernels, TrilinearAtAPowerOfTwoIsBilinear) {
  std::mt19937 rng(11);
  std::vector<std::vector<int>> rows(23, std::vector<int>(17));
  for (auto& r : rows)
    for (int& s : r) s = int(rng() % 256);
  TestTip tip(rows, false);
  K_BrushMIPMap map(tip);
  for (int level = 0; level + 1 < map.GetPyramid().levelCount; ++level) {
    SCOPED_TRACE(level);
    const Kp_SpanArgs a = Args(map, level, kOne >> level, 30, -kOne * 2 + 77, 41000, 3 * kOne + 999, 1700);
    EXPECT_EQ(RunSpan<uint8_t>(&TrilinearSpan<Px8>, a), RunSpan<uint8_t>(&BilinearSpan<Px8>, a));
  }
}

TEST_F(SpanKernels, BlockClearsRowsAboveTheBitmap) {
  TestTip tip(TestTip::Flat(3, 2, 200), false);
  K_BrushMIPMap map(tip);
  Kp_SpanArgs a = Args(map, 0, kOne, 3, 0, kOne, -3 * kOne + kOne / 2, kOne);
  a.rows = 6;
  a.rowBytes = 4;
  for (auto kernel : {&kp_ref::BilinearBlock<Px8>, &BilinearBlock<Px8>}) {
    std::vector<uint8_t> out(24, 0x5A);
    kernel(a, out.data());
    const int expectedFirst[6] = {0, 0, 100, 200, 100, 0};  // rows at v = −2.5 .. 2.5
    for (int j = 0; j < 6; ++j) {
      EXPECT_EQ(out[std::size_t(4 * j)], expectedFirst[j]) << j;
      EXPECT_EQ(out[std::size_t(4 * j + 3)], 0x5A) << "row padding written";
    }
  }
}

TEST_F(SpanKernels, CopyBlockShiftsWholeSamples) {
  for (bool deep : {false, true}) {
    SCOPED_TRACE(deep ? "16 bit" : "8 bit");
    TestTip tip({{10, 20, 30, 40}, {50, 60, 70, 80}}, deep);
    K_BrushMIPMap map(tip);
    const int bytes = deep ? 2 : 1;
    std::vector<uint8_t> out(std::size_t(3 * 8 * bytes), 0x5A);
    CopyBlock(map.GetPyramid(), -3, 0, 8, 3, 8 * bytes, out.data());
    const int expected[3][8] = {{0, 0, 0, 10, 20, 30, 40, 0}, {0, 0, 0, 50, 60, 70, 80, 0}, {0}};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 8; ++i) {
        uint16_t got = 0;  // little-endian: the low byte alone at 8 bits
        std::memcpy(&got, &out[std::size_t((j * 8 + i) * bytes)], std::size_t(bytes));
        EXPECT_EQ(got, expected[j][i]) << i << "," << j;
      }
  }
}

// Fast kernels against the reference
// ====================================================================================

struct RandomCase { std::vector<std::vector<int>> rows; bool deep; };

RandomCase RandomTip(std::mt19937& rng) {
  RandomCase c;
  c.deep = rng() % 2 == 1;
  const int full = c.deep ? 32768 : 255;
  const int w = 1 + int(rng() % (rng() % 8 == 0 ? 90 : 24));
  const int h = 1 + int(rng() % (rng() % 8 == 0 ? 90 : 24));
  const int style = int(rng() % 4);
  c.rows.assign(std::size_t(h), std::vector<int>(std::size_t(w)));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = int(rng() % uint32_t(full + 1));
      if (style == 1) s = full;                             // flat: exact reproduction
      if (style == 2) s = rng() % 4 == 0 ? 0 : full - int(rng() % 3);  // near-full with holes
      if (style == 3) {  // a disc with empty corners and rows, as round tips have
        const double dx = (x + 0.5) / w - 0.5, dy = (y + 0.5) / h - 0.5;
        if (dx * dx + dy * dy > 0.2 || y % 7 == 3) s = 0;
      }
      c.rows[std::size_t(y)][std::size_t(x)] = s;
    }
  return c;
}

Fx16 RandomCoord(std::mt19937& rng, int extent, int level) {
  switch (rng() % 8) {
    case 0:  // whole samples
      return Fx16((int(rng() % uint32_t(extent + 8)) - 4) * kOne);
    case 1:  // near the 32-bit ends, where sums wrap
      return rng() % 2 ? std::numeric_limits<Fx16>::max() - Fx16(rng() % 400000)
                       : std::numeric_limits<Fx16>::min() + Fx16(rng() % 400000);
    default: {
      const int64_t span = int64_t(extent + 6) << (16 + level);
      return Fx16(int64_t(rng() % uint64_t(span)) - (int64_t(3) << (16 + level)));
    }
  }
}

Fx16 RandomStep(std::mt19937& rng, int level) {
  switch (rng() % 6) {
    case 0: return kOne;
    case 1: return kOne << level;
    case 2: return 0;
    case 3: return -Fx16(rng() % uint32_t(2 * kOne));
    default: return Fx16(rng() % uint32_t(3 * kOne));
  }
}

template <class P>
void CompareRandom(const K_BrushMIPMap& map, std::mt19937& rng, int caseIndex) {
  using T = typename P::Value;
  const Kp_MIPPyramid& p = map.GetPyramid();
  const int extent = std::max(p.Width(0), p.Height(0));
  const bool pair = p.levelCount > 1;
  const int level = int(rng() % uint32_t(pair ? p.levelCount - 1 : 1));
  Kp_SpanArgs a;
  a.pyramid = &p;
  a.ink = rng() % 4 == 0 ? nullptr : &map.GetInk();
  a.paired = rng() % 4 == 0 ? nullptr : &map.GetPairedRows();
  a.level = level;
  const Fx16 hi = kOne >> level, lo = kOne >> (level + 1);
  a.scale = rng() % 4 == 0 ? (rng() % 2 ? hi : lo + 1) : lo + Fx16(rng() % uint32_t(hi - lo + 1));
  a.count = int(rng() % 70);
  a.u = RandomCoord(rng, extent, level);
  a.du = RandomStep(rng, level);
  a.v = RandomCoord(rng, extent, level);
  a.dv = rng() % 2 ? 0 : RandomStep(rng, level);
  // Some tall blocks: the separable path then also sees strips narrower than a vector.
  a.rows = 1 + int(rng() % (rng() % 4 == 0 ? 24 : 6));
  const int pad = int(rng() % 3);
  a.rowBytes = (a.count + pad) * int(sizeof(T));

  const std::size_t samples = std::size_t(a.rows) * std::size_t(a.count + pad) + 1;
  auto check = [&](const char* name, auto fast, auto ref) {
    std::vector<T> got(samples, T(0xA5)), want(samples, T(0xA5));
    fast(a, got.data());
    ref(a, want.data());
    ASSERT_EQ(got, want) << name << " differs from the reference in case " << caseIndex << ": level "
                         << a.level << ", scale " << a.scale << ", " << a.count << " x " << a.rows
                         << ", u " << a.u << " + " << a.du << ", v " << a.v << " + " << a.dv
                         << (a.ink ? ", with ink" : "");
  };
  check("BilinearSpan", &BilinearSpan<P>, &kp_ref::BilinearSpan<P>);
  check("BilinearSpanAvx2", &BilinearSpanAvx2<P>, &kp_ref::BilinearSpan<P>);
  check("BilinearBlock", &BilinearBlock<P>, &kp_ref::BilinearBlock<P>);
  check("BilinearBlockAvx2", &BilinearBlockAvx2<P>, &kp_ref::BilinearBlock<P>);
  if (pair) {
    check("TrilinearSpan", &TrilinearSpan<P>, &kp_ref::TrilinearSpan<P>);
    check("TrilinearSpanAvx2", &TrilinearSpanAvx2<P>, &kp_ref::TrilinearSpan<P>);
    check("TrilinearBlock", &TrilinearBlock<P>, &kp_ref::TrilinearBlock<P>);
    check("TrilinearBlockAvx2", &TrilinearBlockAvx2<P>, &kp_ref::TrilinearBlock<P>);
  }
  const int32_t x0 = int32_t(rng() % uint32_t(extent + 10)) - 5;
  const int32_t y0 = int32_t(rng() % uint32_t(extent + 10)) - 5;
  std::vector<T> got(samples, T(0xA5)), want(samples, T(0xA5));
  CopyBlock(p, x0, y0, a.count, a.rows, a.rowBytes, got.data());
  kp_ref::CopyBlock(p, x0, y0, a.count, a.rows, a.rowBytes, want.data());
  ASSERT_EQ(got, want) << "CopyBlock differs from the reference in case " << caseIndex;
}

TEST_F(SpanKernels, PairedRowsHoldEachSampleAndTheOneBelowOnARecycledBlock) {
  struct Case {
    const char* name; int w, h; bool deep;
  };
  const Case kCases[] = {{"8-bit, odd sides", 151, 143, false}, {"16-bit", 120, 90, true}, {"small", 9, 4, true}};
  std::mt19937 rng(7);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<int>> rows(std::size_t(c.h), std::vector<int>(std::size_t(c.w)));
    for (auto& row : rows)
      for (int& v : row) v = int(rng() % (c.deep ? 32769u : 256u));
    TestTip tip(rows, c.deep);
    K_BrushMIPMap map(tip);
    const Kp_MIPPyramid& p = map.GetPyramid();
    // A pairing that left garbage everywhere, its tail too: the next pairing of the
    // same pyramid gets that block back (unless it is too small to be kept).
    const void* dirtyBlock = nullptr;
    {
      Kp_PairedRows dirty;
      Kp_PairRows(p, &dirty);
      std::memset(dirty.block.Data(), 0xA5, dirty.block.Size());
      dirtyBlock = dirty.block.Data();
    }
    Kp_PairedRows paired;
    Kp_PairRows(p, &paired);
#if defined(__SANITIZE_ADDRESS__)
    const bool recycled = false;  // nothing is recycled under AddressSanitizer
#else
    const bool recycled = paired.block.Size() >= (std::size_t(32) << 10);
#endif
    if (recycled) {
      EXPECT_EQ(paired.block.Data(), dirtyBlock);
    }
    const int bytes = p.BytesPerSample();
    const auto sample = [&](const unsigned char* at) {
      return bytes == 2 ? int(*reinterpret_cast<const uint16_t*>(at)) : int(*at);
    };
    int64_t wrong = 0;
    for (int k = 0; k < p.levelCount; ++k)
      for (int y = -1; y < p.Height(k); ++y)
        for (int x = -1; x <= p.Width(k); ++x) {
          const unsigned char* above = p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k] + x * bytes;
          const unsigned char* entry = paired.origin[k] + std::ptrdiff_t(y) * paired.rowBytes[k] + 2 * x * bytes;
          wrong += sample(entry) != sample(above) || sample(entry + bytes) != sample(above + p.rowBytes[k]);
        }
    EXPECT_EQ(wrong, 0);
    const unsigned char* end = paired.block.Data() + paired.block.Size();
    EXPECT_EQ(std::count(end - 64, end, 0), 64) << "the tail past the last level reads as zero";
  }
}

TEST_F(SpanKernels, FastFormsMatchTheReferenceBitForBit) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 4000; ++i) {
    const RandomCase c = RandomTip(rng);
    TestTip tip(c.rows, c.deep);
    K_BrushMIPMap map(tip);
    for (int k = 0; k < 5; ++k) {
      const int caseIndex = i * 5 + k;
      if (c.deep)
        CompareRandom<Px16>(map, rng, caseIndex);
      else
        CompareRandom<Px8>(map, rng, caseIndex);
      if (HasFatalFailure()) return;
    }
  }
}

// The small unturned blocks, at every width they take (and the first they decline),
// bilinear and trilinear, over random tips, coordinates (wrapping ones too) and steps:
// the reference's samples, and nothing written past a row or when declining.
TEST_F(SpanKernels, SmallBlocksMatchTheReferenceAtEveryWidth) {
  if (!Kp_HasAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(5150);
  int drawn = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const RandomCase c = RandomTip(rng);
    TestTip tip(c.rows, c.deep);
    K_BrushMIPMap map(tip);
    const Kp_MIPPyramid& p = map.GetPyramid();
    const int extent = std::max(p.Width(0), p.Height(0));
    const int bytes = c.deep ? 2 : 1;
    for (int count = 0; count <= kKp_SmallBlockMax + 1; ++count) {
      const bool trilinear = p.levelCount > 1 && rng() % 4 != 0;
      const int level = int(rng() % uint32_t(trilinear ? p.levelCount - 1 : p.levelCount));
      Kp_SpanArgs a = Args(map, level, kOne >> level, count, RandomCoord(rng, extent, level), RandomStep(rng, level),
                           RandomCoord(rng, extent, level), RandomStep(rng, level));
      if (trilinear) a.scale = (kOne >> (level + 1)) + Fx16(rng() % uint32_t((kOne >> (level + 1)) + 1));
      a.rows = 1 + int(rng() % 14);
      a.rowBytes = (count + 3) * bytes;
      a.paired = rng() % 8 == 0 ? nullptr : &map.GetPairedRows();
      const std::size_t size = std::size_t(a.rows * a.rowBytes);
      std::vector<uint8_t> got(size, 0xA5), want(size, 0xA5);
      const auto& reference = Kp_ReferenceKernels(c.deep);
      (trilinear ? reference.trilinearBlock : reference.bilinearBlock)(a, want.data());
      const bool took = c.deep ? Kp_SmallBlockAvx2(a, trilinear, reinterpret_cast<uint16_t*>(got.data()))
                               : Kp_SmallBlockAvx2(a, trilinear, got.data());
      const bool takes = count >= 1 && count <= kKp_SmallBlockMax && a.paired;
      ASSERT_EQ(took, takes) << count;
      ASSERT_EQ(got, took ? want : std::vector<uint8_t>(size, 0xA5))
          << (c.deep ? 16 : 8) << " bits, trial " << trial << ", " << count << " x " << a.rows << " at level "
          << a.level << (trilinear ? ", trilinear" : ", bilinear") << ", u " << a.u << " + " << a.du << ", v " << a.v
          << " + " << a.dv;
      drawn += took;
    }
  }
  EXPECT_GT(drawn, 8000);
}

// A tip of five rows of `w` random samples, a third of them full.
std::vector<std::vector<int>> UnitBlockRows(std::mt19937& rng, int w, bool deep) {
  const int full = deep ? 32768 : 255;
  std::vector<std::vector<int>> rows(5, std::vector<int>(std::size_t(w)));
  for (auto& row : rows)
    for (int& v : row) v = rng() % 3 == 0 ? full : int(rng() % uint32_t(full + 1));
  return rows;
}

// Sub-sample offsets of a whole-dab block, none included.
constexpr Fx16 kUnitBlockOffsets[] = {0, 1 << 8, 77 << 8, 255 << 8};

// Seven rows of the whole tip and its border at level 0, unit steps, shifted by
// `offset`; destination rows `spare` samples longer than the block.
Kp_SpanArgs UnitBlockArgs(const K_BrushMIPMap& map, int w, Fx16 offset, int spare, bool deep) {
  Kp_SpanArgs a = Args(map, 0, kOne, w + 2, -kOne - offset, kOne, -kOne + offset / 3, kOne);
  a.rows = 7;
  a.rowBytes = (a.count + spare) * (deep ? 2 : 1);
  return a;
}

// Whole dabs at their own size: level 0, unit steps, every width from one sample to
// past two wide vectors, sub-sample offsets including none, both vector widths, rows
// longer than the block. The block form must match the reference; the raise form must
// give the larger of the mask and the reference block, sample by sample, over a mask
// of random values (16-bit ones past full included) that the block both raises and
// leaves. The raise form declines what is not a unit-step level-0 block and writes
// nothing then.
TEST_F(SpanKernels, UnitStepBlocksAndRaisesMatchTheReferenceAtEveryWidth) {
  std::mt19937 rng(7);
  for (bool deep : {false, true}) {
    const int bytes = deep ? 2 : 1;
    const uint32_t full = deep ? 32768u : 255u, top = deep ? 65535u : 255u;
    for (int w = 1; w <= 80; ++w) {
      SCOPED_TRACE(testing::Message() << (deep ? "16" : "8") << " bit, width " << w);
      TestTip tip(UnitBlockRows(rng, w, deep), deep);
      K_BrushMIPMap map(tip);
      for (Fx16 offset : kUnitBlockOffsets) {
        const Kp_SpanArgs a = UnitBlockArgs(map, w, offset, 3, deep);
        std::vector<uint8_t> drawn(std::size_t(a.rows * a.rowBytes), 0xA5);
        Kp_ReferenceKernels(deep).bilinearBlock(a, drawn.data());
        for (bool avx2 : {false, true}) {
          SCOPED_TRACE(testing::Message() << "offset " << offset << (avx2 ? ", AVX2" : ""));
          std::vector<uint8_t> got(drawn.size(), 0xA5);
          Kp_KernelsFor(deep, avx2 ? Kp_Vectors::kAvx2 : Kp_Vectors::k16Byte).bilinearBlock(a, got.data());
          ASSERT_EQ(got, drawn) << "block";
          std::vector<uint8_t> mask(drawn.size());
          for (std::size_t k = 0; k < mask.size(); k += std::size_t(bytes)) {
            const uint32_t v = rng() % 4 == 0 ? 0u : uint32_t(rng() % (top + 1));
            std::memcpy(&mask[k], &v, std::size_t(bytes));  // little-endian low bytes
          }
          std::vector<uint8_t> want = mask;
          for (int j = 0; j < a.rows; ++j)
            for (int i = 0; i < a.count; ++i) {
              const std::size_t at = std::size_t(j * a.rowBytes + i * bytes);
              uint32_t m = 0, d = 0;
              std::memcpy(&m, &want[at], std::size_t(bytes));
              std::memcpy(&d, &drawn[at], std::size_t(bytes));
              const uint32_t raised = std::max(m, std::min(d, full));
              std::memcpy(&want[at], &raised, std::size_t(bytes));
            }
          ASSERT_TRUE(Kp_UnitBlockRaise(deep, avx2, a, mask.data()));
          ASSERT_EQ(mask, want) << "raise";
        }
      }
    }
  }
  TestTip tip(TestTip::Flat(8, 8, 200), false);
  K_BrushMIPMap map(tip);
  for (const Kp_SpanArgs& a : {Args(map, 1, kOne / 2, 4, 0, kOne, 0, kOne),
                               Args(map, 0, kOne, 4, 0, kOne / 2, 0, kOne)}) {
    std::vector<uint8_t> mask(64, 7);
    Kp_SpanArgs b = a;
    b.rows = 2;
    b.rowBytes = 8;
    EXPECT_FALSE(Kp_UnitBlockRaise(false, true, b, mask.data()));
    EXPECT_EQ(mask, std::vector<uint8_t>(64, 7));
  }
}

// A block's level rows are blended only over the columns their inked samples reach:
// exactly the columns inside the level whose x lies in first − 1 .. last, found by a
// table over the strip's x or, sampling far apart across a level wider than the table,
// by a search.
TEST_F(SpanKernels, BlockColumnsReachExactlyTheInkedSamples) {
  TestTip tip(TestTip::Flat(2400, 2, 255), false);
  K_BrushMIPMap map(tip);
  const Kp_MIPPyramid& p = map.GetPyramid();
  struct Case {
    const char* name;
    Fx16 duLo, duHi;  ///< step range, in 1/65536 of a level-0 sample
    bool whole;       ///< u and du whole samples of level 2: columns land on sample edges
  };
  const Case kCases[] = {{"magnified", kOne / 7, kOne, false},
                         {"shrunk", kOne, 3 * kOne, false},
                         {"backwards", -3 * kOne, -kOne / 5, false},
                         {"still", 0, 0, false},
                         {"far apart", 3 * kOne, 40 * kOne, false},
                         {"far apart backwards", -40 * kOne, -3 * kOne, false},
                         {"on edges", kOne, 3 * kOne, true},
                         {"far apart on edges", -40 * kOne, 40 * kOne, true}};
  std::mt19937 rng(1717);
  auto cols = std::make_unique<kp_blocks::Columns>();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    for (int trial = 0; trial < 300; ++trial) {
      const int k = int(rng() % 3);
      const int n = 1 + int(rng() % kp_blocks::kStripColumns);
      Fx16 du = c.duLo + Fx16(rng() % uint32_t(c.duHi - c.duLo + 1));
      Fx16 u = Fx16(int64_t(rng() % uint32_t(2500 * kOne)) - 50 * int64_t(kOne));
      if (c.whole) {
        du &= ~(4 * kOne - 1);
        u &= ~(4 * kOne - 1);
      }
      cols->Build(p, k, u, du, n, 0, kp_blocks::Columns::Fill);
      const int w = p.Width(k);
      const int first = int(rng() % uint32_t(w + 4)) - 2;
      const int last = first + int(rng() % 40) - 5;
      int c0 = -1, c1 = -1;
      cols->Reach(first, last, &c0, &c1);
      int want0 = INT32_MAX, want1 = INT32_MIN;
      for (int i = 0; i < n; ++i) {
        const int x = int32_t(uint32_t(u) + uint32_t(i) * uint32_t(du)) >> (16 + k);
        if (x < -1 || x >= w || x < first - 1 || x > last) continue;
        want0 = std::min(want0, i);
        want1 = std::max(want1, i + 1);
      }
      SCOPED_TRACE(testing::Message() << "u " << u << " du " << du << " n " << n << " level " << k
                                      << " reach " << first << ".." << last);
      ASSERT_TRUE(cols->ordered);  // the steps are kept small enough not to wrap
      if (want0 > want1) {
        EXPECT_EQ(c0, c1);
      } else {
        EXPECT_EQ(c0, want0);
        EXPECT_EQ(c1, want1);
      }
      // The table the vector passes read answers the same, clamped at both ends.
      const kp_blocks::Columns::Table table = cols->PassTable();
      if (!table.at) continue;
      const auto passing = [&](int t) {
        return table.at[std::clamp(t, table.lo - 1, table.hi + 1) - table.lo + 1];
      };
      const int t0 = passing(du >= 0 ? first - 1 : last), t1 = passing(du >= 0 ? last + 1 : first - 2);
      EXPECT_EQ(t0, c0);
      EXPECT_EQ(std::max(t0, t1), c1);
    }
  }
}

}  // namespace
