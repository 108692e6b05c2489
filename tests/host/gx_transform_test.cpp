// SPDX-License-Identifier: MIT
#include "host/gx/gx_transform.h"

#include <gtest/gtest.h>

#include <memory>

#include "gx_test_support.h"

namespace {

constexpr int32_t kTransparent = int32_t(GX_EdgeMode::kTransparent);
constexpr int32_t kClamp = int32_t(GX_EdgeMode::kClamp);

/// Transforms `src` (null: none) into the whole of `dst` through `m`, source to
/// destination unless `backward`, at `s`, with the source's alpha and no dither.
int32_t Transform(const GX_World* src, const V_Matrix3& m, GX_World* dst,
                  const GX_TransferSettings& s = {}, const GX_MaskRecord* mask = nullptr,
                  int32_t quality = 1, int32_t edge = kTransparent, bool backward = false) {
  return GX_TransformWorld(nullptr, quality, 1, 0, src ? src->GetLayer() : nullptr, s, nullptr,
                           mask, m, edge, !backward, L(0, 0, dst->Width(), dst->Height()),
                           dst->GetLayer());
}

class GxTransform : public TrackedTest {
protected:
  /// Resamples `src` through source-to-destination `m` into a new transparent world.
  static std::unique_ptr<GX_World> Resample(GX_World* src, const V_Matrix3& m, int32_t w,
                                            int32_t h, int32_t quality = 1,
                                            int32_t edge = kTransparent) {
    std::unique_ptr<GX_World> dst = NewWorld(w, h, src->Depth());
    EXPECT_EQ(Transform(src, m, dst.get(), {}, nullptr, quality, edge), 0);
    return dst;
  }
};

template <class Pixel>
Pixel Numbered(int32_t x, int32_t y);
template <>
GX_Pixel8 Numbered<GX_Pixel8>(int32_t x, int32_t y) {
  return GX_Pixel8{uint8_t(100 + x), uint8_t(10 * x), uint8_t(10 * y), 7};
}
template <>
GX_Pixel16 Numbered<GX_Pixel16>(int32_t x, int32_t y) {
  return GX_Pixel16{uint16_t(20000 + x), uint16_t(1000 * x + 1), uint16_t(1000 * y + 3), 32768};
}
template <>
GX_PixelFloat Numbered<GX_PixelFloat>(int32_t x, int32_t y) {
  return GX_PixelFloat{1.0f, 0.125f * float(x), 0.25f * float(y), 1.5f};
}

template <class Pixel>
void CheckIdentityAndTranslate(int32_t depth) {
  SCOPED_TRACE(testing::Message() << depth << " bits");
  std::unique_ptr<GX_World> src = NewWorld(5, 4, depth);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 5; ++x) PixelOf<Pixel>(*src, x, y) = Numbered<Pixel>(x, y);
  struct Case { const char* name; double dx, dy; };
  const Case kCases[] = {{"identity", 0, 0}, {"translate 3, 2", 3, 2}, {"translate -2, 1", -2, 1}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    V_Matrix3 m;
    m.Translate(c.dx, c.dy);
    std::unique_ptr<GX_World> dst = NewWorld(8, 7, depth);
    ASSERT_EQ(Transform(src.get(), m, dst.get()), 0);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        const Pixel got = PixelOf<Pixel>(*dst, x, y);
        const int32_t sx = x - int32_t(c.dx), sy = y - int32_t(c.dy);
        if (sx < 0 || sy < 0 || sx >= 5 || sy >= 4)
          EXPECT_EQ(got.alpha, 0);  // no source pixel lands here
        else
          EXPECT_TRUE(SamePixel(got, Numbered<Pixel>(sx, sy)));
      }
    }
  }
}

TEST_F(GxTransform, IdentityAndWholePixelShiftsCopyExactlyAtEveryDepth) {
  CheckIdentityAndTranslate<GX_Pixel8>(8);
  CheckIdentityAndTranslate<GX_Pixel16>(16);
  CheckIdentityAndTranslate<GX_PixelFloat>(32);
}

TEST_F(GxTransform, BilinearScaleHasSoftTransparentEdges) {
  // Opaque 2 × 2 source, red [[0, 200], [100, 255]], scaled by 2.
  std::unique_ptr<GX_World> src = NewWorld(2, 2);
  PixelOf(*src, 0, 0) = GX_Pixel8{255, 0, 0, 0};
  PixelOf(*src, 1, 0) = GX_Pixel8{255, 200, 0, 0};
  PixelOf(*src, 0, 1) = GX_Pixel8{255, 100, 0, 0};
  PixelOf(*src, 1, 1) = GX_Pixel8{255, 255, 0, 0};
  V_Matrix3 m;
  m.Scale(2, 2);
  auto dst = Resample(src.get(), m, 6, 6);
  struct Probe { int32_t x, y; uint8_t alpha, red; };
  const Probe kProbes[] = {
      // Centre (0.5, 0.5) maps to source (0.25, 0.25): 3/4 of each axis lies on the
      // transparent outside, so alpha 0.75² = 0.5625 → 143 and the colour is (0, 0)'s.
      {0, 0, 143, 0},
      // Source (0.75, 0.75): weights 0.25 toward (1, ·) and (·, 1).
      // Top 0 + 200 × 0.25 = 50, bottom 100 + 155 × 0.25 = 138.75, 50 + 88.75 × 0.25.
      {1, 1, 255, 72},
      // Source (1.25, 1.25): weights 0.75: 150, 216.25, 150 + 66.25 × 0.75 = 199.69.
      {2, 2, 255, 200},
      {3, 3, 143, 255},
      // Source (2.25, 2.25): only a quarter of each axis still reaches pixel (1, 1).
      {4, 4, 16, 255},
      {5, 5, 0, 0},  // past the source: transparent
  };
  for (const Probe& p : kProbes) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    EXPECT_EQ(PixelOf(*dst, p.x, p.y).alpha, p.alpha);
    EXPECT_EQ(PixelOf(*dst, p.x, p.y).red, p.red);
  }
  // Nearest neighbour: 2 × 2 blocks with hard edges.
  auto nearest = Resample(src.get(), m, 5, 5, 0);
  EXPECT_EQ(PixelOf(*nearest, 1, 1).red, 0);
  EXPECT_EQ(PixelOf(*nearest, 2, 1).red, 200);
  EXPECT_EQ(PixelOf(*nearest, 3, 3).red, 255);
  EXPECT_EQ(PixelOf(*nearest, 3, 3).alpha, 255);
  EXPECT_EQ(PixelOf(*nearest, 4, 0).alpha, 0);
  // Clamped edges repeat the border instead of fading.
  auto clamped = Resample(src.get(), m, 5, 5, 1, kClamp);
  EXPECT_EQ(PixelOf(*clamped, 0, 0).alpha, 255);
  EXPECT_EQ(PixelOf(*clamped, 4, 4).red, 255);
}

TEST_F(GxTransform, RotationMapsRowToColumnAndLeavesTheRestAlone) {
  std::unique_ptr<GX_World> src = NewWorld(3, 1);
  for (int32_t x = 0; x < 3; ++x) PixelOf(*src, x, 0) = GX_Pixel8{255, uint8_t(50 * x + 10), 0, 0};
  // +90° turns +x toward +y: (x, y) → (−y, x); then one pixel right.
  V_Matrix3 m;
  m.Rotate(90);
  m.Translate(1, 0);
  std::unique_ptr<GX_World> dst = FilledWorld(3, 3, {9, 9, 9, 9});
  ASSERT_EQ(Transform(src.get(), m, dst.get()), 0);
  for (int32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(PixelOf(*dst, 0, y).red, 50 * y + 10);
    EXPECT_EQ(PixelOf(*dst, 0, y).alpha, 255);
    // Where no source pixel lands, Normal leaves the destination exactly as it was.
    EXPECT_EQ(PixelOf(*dst, 1, y).alpha, 9);
    EXPECT_EQ(PixelOf(*dst, 2, y).red, 9);
  }
  // The matrix may also be given destination-to-source.
  V_Matrix3 back;
  back.Translate(-1, 0);
  back.Rotate(-90);
  std::unique_ptr<GX_World> dst2 = NewWorld(3, 3);
  ASSERT_EQ(Transform(src.get(), back, dst2.get(), {}, nullptr, 1, kTransparent, true), 0);
  EXPECT_EQ(PixelOf(*dst2, 0, 2).red, 110);
}

TEST_F(GxTransform, BlendsThroughMaskAndOpacityInsideTheRectangle) {
  std::unique_ptr<GX_World> src = FilledWorld(4, 4, {255, 200, 100, 50});
  std::unique_ptr<GX_World> dst = FilledWorld(4, 4, {255, 0, 0, 255});
  std::unique_ptr<GX_World> maskWorld = NewWorld(1, 1);
  PixelOf(*maskWorld, 0, 0).alpha = 255;
  const GX_MaskRecord mask{*maskWorld->GetLayer(), 1, 1, 0};
  GX_TransferSettings s;
  s.opacity = 0.2f;  // 51 / 255
  ASSERT_EQ(GX_TransformWorld(nullptr, 1, 1, 0, src->GetLayer(), s, nullptr, &mask, V_Matrix3(),
                              kTransparent, true, L(0, 0, 2, 2), dst->GetLayer()),
            0);
  EXPECT_EQ(PixelOf(*dst, 1, 1).red, 40);   // 0.2 × 200
  EXPECT_EQ(PixelOf(*dst, 1, 1).blue, 214); // 0.2 × 50 + 0.8 × 255
  EXPECT_EQ(PixelOf(*dst, 0, 0).red, 0);    // outside the mask
  EXPECT_EQ(PixelOf(*dst, 2, 2).red, 0);
}

TEST_F(GxTransform, RejectsBadArgumentsWithExactCodes) {
  std::unique_ptr<GX_World> w8 = NewWorld(2, 2), w16 = NewWorld(2, 2, 16);
  V_Matrix3 singular;
  singular.Scale(0, 1);
  struct Case {
    const char* name;
    int32_t quality, edge, mode;
    const GX_LayerDef* src;
    const V_Matrix3* matrix;
    GX_LayerDef* dest;
    int32_t code;
  };
  const V_Matrix3 identity;
  GX_LayerDef* l8 = w8->GetLayer();
  const Case kCases[] = {
      {"null destination", 1, kTransparent, 2, l8, &identity, nullptr, GX_Err_BadArgument},
      {"quality 5", 5, kTransparent, 2, l8, &identity, l8, GX_Err_BadArgument},
      {"edge mode 2", 1, 2, 2, l8, &identity, l8, GX_Err_BadArgument},
      {"depths differ", 1, kTransparent, 2, w16->GetLayer(), &identity, l8, GX_Err_BadDepth},
      {"mode 99", 1, kTransparent, 99, l8, &identity, l8, GX_Err_BadMode},
      {"singular matrix", 1, kTransparent, 2, l8, &singular, l8, V_Err_Singular},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_TransferSettings s;
    s.mode = c.mode;
    EXPECT_EQ(GX_TransformWorld(nullptr, c.quality, 1, 0, c.src, s, nullptr, nullptr, *c.matrix,
                                c.edge, true, L(0, 0, 2, 2), c.dest),
              c.code);
  }
  // No source layer: the destination stays as it was.
  GX_Fill(nullptr, GX_Pixel8{1, 2, 3, 4}, L(0, 0, 2, 2), w8->GetLayer());
  ASSERT_EQ(Transform(nullptr, identity, w8.get()), 0);
  EXPECT_EQ(PixelOf(*w8, 1, 1).alpha, 1);
}

}  // namespace
