// SPDX-License-Identifier: MIT
#include "render/tip_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "test_support.h"

namespace {

class TipCache : public TrackedTest {};

bool SameBitmap(const K_BrushTip& a, const K_BrushTip& b) {
  const GX_UnoBuffer& x = *a.GetTip();
  const GX_UnoBuffer& y = *b.GetTip();
  if (x.GetWidth() != y.GetWidth() || x.GetHeight() != y.GetHeight() || x.GetDepth() != y.GetDepth())
    return false;
  for (int32_t row = 0; row < x.GetHeight(); ++row)
    if (std::memcmp(x.Row<unsigned char>(row), y.Row<unsigned char>(row),
                    std::size_t(x.GetWidth() * x.GetBytesPerSample())) != 0)
      return false;
  return true;
}

// The tip is kept while its key holds and computed afresh when any of its parameters
// changes; the seed counts only for a dithered tip. A kept or recomputed tip is the
// one a fresh computation with noise seeded with the seed gives.
TEST_F(TipCache, KeepsTheTipOnlyWhileItsParametersHold) {
  const Kp_TipCache::Key base{30.0, 0.6, 0.8, false, false, 7};
  struct Case { const char* name; Kp_TipCache::Key key; bool kept; };
  auto with = [&](auto change) {
    Kp_TipCache::Key k = base;
    change(k);
    return k;
  };
  const Case kCases[] = {
      {"the same brush", base, true},
      {"another seed, not dithered", with([](Kp_TipCache::Key& k) { k.seed = 8; }), true},
      {"another diameter", with([](Kp_TipCache::Key& k) { k.diameter = 30.5; }), false},
      {"another hardness", with([](Kp_TipCache::Key& k) { k.hardness = 0.61; }), false},
      {"another roundness", with([](Kp_TipCache::Key& k) { k.roundness = 0.9; }), false},
      {"16 bits", with([](Kp_TipCache::Key& k) { k.deep = true; }), false},
      {"dithered", with([](Kp_TipCache::Key& k) { k.dither = true; }), false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Kp_TipCache cache;
    cache.Prepare(base);
    cache.Prepare(c.key);
    EXPECT_EQ(cache.Changes(), c.kept ? 1 : 2);
    K_TipNoise noise(uint32_t(c.key.seed));
    K_ComputedBrushTip fresh(c.key.diameter, c.key.hardness, c.key.roundness, 0.0, c.key.dither,
                             c.key.deep, &noise);
    EXPECT_TRUE(SameBitmap(cache.Tip(), fresh));
  }
  // A dithered tip is kept for the same seed and recomputed for another.
  Kp_TipCache cache;
  Kp_TipCache::Key dithered = with([](Kp_TipCache::Key& k) { k.dither = true; });
  cache.Prepare(dithered);
  cache.Prepare(dithered);
  EXPECT_EQ(cache.Changes(), 1);
  dithered.seed = 99;
  cache.Prepare(dithered);
  EXPECT_EQ(cache.Changes(), 2);
  K_TipNoise noise(99);
  K_ComputedBrushTip fresh(dithered.diameter, dithered.hardness, dithered.roundness, 0.0, true,
                           false, &noise);
  EXPECT_TRUE(SameBitmap(cache.Tip(), fresh));
}

// A tip computed by one cache is found by the next for the same key, the very bitmap
// and pyramid, each cache drawing through a map of its own; the oldest beyond
// kSharedTips, and all of them once forgotten, are computed again.
TEST_F(TipCache, SharesTipsWithTheCachesAfter) {
  const Kp_TipCache::Key key{24.0, 0.7, 0.9, false, false, 3};
  Kp_TipCache first, second;
  first.Prepare(key);
  second.Prepare(key);
  EXPECT_EQ(first.Computed(), 1);
  EXPECT_EQ(second.Computed(), 0);
  EXPECT_EQ(second.Changes(), 1);
  EXPECT_EQ(&first.Tip(), &second.Tip());
  EXPECT_EQ(&first.Map().GetPyramid(), &second.Map().GetPyramid());
  EXPECT_NE(&first.Map(), &second.Map()) << "each cache places its own dab";
  // Placing a dab in one map leaves the other's alone.
  first.Map().SetTransform(V_Vector2T<double>(1.0, 1.0), 0.0, 1.0, 1.0, V_Vector2T<double>(12.0, 12.0));
  second.Map().SetTransform(V_Vector2T<double>(0.5, 0.5), 30.0, 1.0, 1.0, V_Vector2T<double>(6.0, 6.0));
  EXPECT_NE(first.Map().GetRenderedBounds(), second.Map().GetRenderedBounds());
  // The first cache's tip outlives it in the second.
  {
    Kp_TipCache gone;
    gone.Prepare(Kp_TipCache::Key{25.0, 0.7, 0.9, false, false, 3});
  }
  Kp_TipCache later;
  later.Prepare(Kp_TipCache::Key{25.0, 0.7, 0.9, false, false, 3});
  EXPECT_EQ(later.Computed(), 0);
  // kSharedTips more brushes push the first out.
  for (std::size_t i = 0; i < Kp_TipCache::kSharedTips; ++i) {
    Kp_TipCache other;
    other.Prepare(Kp_TipCache::Key{10.0 + double(i), 0.7, 0.9, false, false, 3});
    EXPECT_EQ(other.Computed(), 1) << i;
  }
  Kp_TipCache again;
  again.Prepare(key);
  EXPECT_EQ(again.Computed(), 1);
  K_InteractRenderer::ReleaseSharedTips();
  Kp_TipCache afterForgetting;
  afterForgetting.Prepare(key);
  EXPECT_EQ(afterForgetting.Computed(), 1);
  K_TipNoise noise(3);
  K_ComputedBrushTip fresh(key.diameter, key.hardness, key.roundness, 0.0, false, false, &noise);
  EXPECT_TRUE(SameBitmap(again.Tip(), fresh));
  EXPECT_TRUE(SameBitmap(second.Tip(), fresh));
}

// The scratch buffer's dab is reused only for the same SetTransform arguments and
// buffer size, and is forgotten when the tip or the buffer changes.
TEST_F(TipCache, KeepsADrawnDabOnlyForTheSameTransformAndTip) {
  const Kp_TipCache::Key tipKey{30.0, 0.6, 0.8, false, false, 7};
  const Kp_TipCache::DabKey dab{0.7, 0.7, 33.0, 0.5, 1.0, 20.25, 19.5, 41, 41};
  using Change = void (*)(Kp_TipCache::DabKey&);
  const Change kChanges[] = {
      [](Kp_TipCache::DabKey& d) { d.scaleX = 0.71; }, [](Kp_TipCache::DabKey& d) { d.scaleY = 0.69; },
      [](Kp_TipCache::DabKey& d) { d.angle = 33.5; },  [](Kp_TipCache::DabKey& d) { d.roundness = 0.6; },
      [](Kp_TipCache::DabKey& d) { d.aspect = 2.0; },  [](Kp_TipCache::DabKey& d) { d.centreX = 20.5; },
      [](Kp_TipCache::DabKey& d) { d.centreY = 19.0; }, [](Kp_TipCache::DabKey& d) { d.width = 42; },
      [](Kp_TipCache::DabKey& d) { d.height = 40; },
  };
  Kp_TipCache cache;
  cache.Prepare(tipKey);
  GX_UnoBuffer& scratch = cache.Scratch(41, 41, 8);
  EXPECT_FALSE(cache.Holds(dab));
  cache.Drew(dab);
  EXPECT_TRUE(cache.Holds(dab));
  for (std::size_t i = 0; i < std::size(kChanges); ++i) {
    Kp_TipCache::DabKey other = dab;
    kChanges[i](other);
    EXPECT_FALSE(cache.Holds(other)) << "field change " << i;
  }
  cache.Prepare(tipKey);
  EXPECT_EQ(&cache.Scratch(41, 41, 8), &scratch) << "the same size keeps the buffer";
  EXPECT_TRUE(cache.Holds(dab)) << "the same tip keeps the dab";
  cache.Scratch(41, 41, 16);
  EXPECT_FALSE(cache.Holds(dab)) << "a new buffer holds no dab";
  cache.Drew(dab);
  cache.Prepare(Kp_TipCache::Key{31.0, 0.6, 0.8, false, false, 7});
  EXPECT_FALSE(cache.Holds(dab)) << "a new tip forgets the dab";
}

}  // namespace
