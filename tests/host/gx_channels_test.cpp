// SPDX-License-Identifier: MIT
#include "host/gx/gx_channels.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gx_test_support.h"

namespace {

/// Moves a 3 × 2 region of the alpha channel of a 5 × 4 image (rows padded by one
/// pixel) out into a plane and back into a second image, for one sample type.
template <class T>
void CheckChannelRoundTrip(const char* type) {
  SCOPED_TRACE(type);
  const int32_t w = 5, h = 4, rowPixels = 6;
  std::vector<T> image(std::size_t(rowPixels * h * 4));
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = T(i % 200);
  const int32_t pixelBytes = int32_t(4 * sizeof(T));
  const int32_t rowBytes = rowPixels * pixelBytes;
  // The plane is 4 wide: the region goes to its (1, 0).
  std::vector<T> plane(4 * 2, T(0));
  const int32_t planeRowBytes = int32_t(4 * sizeof(T));
  ASSERT_EQ(GX_Deinterleave1<T>(image.data(), pixelBytes, rowBytes, plane.data(), planeRowBytes,
                                V_Vector2T<int32_t>(3, 2), P(2, 1), P(1, 0)),
            0);
  for (int32_t j = 0; j < 2; ++j) {
    EXPECT_EQ(plane[std::size_t(j * 4)], T(0));  // column 0 untouched
    for (int32_t i = 0; i < 3; ++i) {
      const std::size_t pixel = std::size_t((1 + j) * rowPixels + 2 + i);
      EXPECT_EQ(plane[std::size_t(j * 4 + 1 + i)], image[pixel * 4]) << i << "," << j;
    }
  }
  // Back into a copy at another place: only the alpha channel of the region changes.
  std::vector<T> second(image.size(), T(7));
  ASSERT_EQ(GX_Interleave1to4<T>(plane.data(), planeRowBytes, second.data(), rowBytes,
                                 V_Vector2T<int32_t>(3, 2), P(1, 0), P(0, 2)),
            0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const T* p = &second[std::size_t((y * rowPixels + x) * 4)];
      const bool inside = x < 3 && y >= 2;
      const T expectedAlpha =
          inside ? image[std::size_t(((y - 2 + 1) * rowPixels + x + 2) * 4)] : T(7);
      EXPECT_EQ(p[0], expectedAlpha) << x << "," << y;
      for (int k = 1; k < 4; ++k) EXPECT_EQ(p[k], T(7)) << x << "," << y << " channel " << k;
    }
  }
}

TEST(GxChannels, DeinterleaveAndInterleaveRoundTripAtEveryDepth) {
  CheckChannelRoundTrip<unsigned char>("unsigned char");
  CheckChannelRoundTrip<unsigned short>("unsigned short");
  CheckChannelRoundTrip<float>("float");
}

TEST(GxChannels, PlaneMovesRejectBadArguments) {
  unsigned char buf[16] = {};
  const V_Vector2T<int32_t> one(1, 1);
  EXPECT_EQ(GX_Deinterleave1<unsigned char>(nullptr, 4, 4, buf, 1, one, P(0, 0), P(0, 0)),
            GX_Err_BadArgument);
  EXPECT_EQ(GX_Deinterleave1<unsigned short>(buf, 1, 8, buf, 2, one, P(0, 0), P(0, 0)),
            GX_Err_BadArgument);  // stride smaller than a sample
  EXPECT_EQ(GX_Interleave1to4<float>(buf, 4, nullptr, 16, one, P(0, 0), P(0, 0)),
            GX_Err_BadArgument);
  EXPECT_EQ(GX_Interleave1to4<float>(buf, 4, buf, 16, V_Vector2T<int32_t>(-1, 1), P(0, 0),
                                     P(0, 0)),
            GX_Err_BadArgument);
  // An empty size needs no data.
  EXPECT_EQ(GX_Interleave1to4<float>(nullptr, 4, nullptr, 16, V_Vector2T<int32_t>(0, 3), P(0, 0),
                                     P(0, 0)),
            0);
}

class GxConvert : public TrackedTest {};

TEST_F(GxConvert, DeepRegionBecomesFloatWithFullAtOne) {
  GX_UnoBuffer deep(3, 2, 16), flat(3, 2, 32);
  const uint16_t values[6] = {0, 16384, 32768, 8192, 1, 40000};
  for (int32_t i = 0; i < 6; ++i) deep.Row<uint16_t>(i / 3)[i % 3] = values[i];
  GX_FillFloatUnoBuffer(-1.0f, &flat);
  ASSERT_EQ(GX_ConvertDeepUnoBuffer(nullptr, &deep, L(1, 0, 5, 2), 32768, &flat), 0);
  const float want[6] = {-1.0f, 0.5f, 1.0f, -1.0f, 1.0f / 32768.0f, 40000.0f / 32768.0f};
  for (int32_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(flat.Row<float>(i / 3)[i % 3], want[i]) << i;

  GX_UnoBuffer eight(1, 1, 8);
  GX_FillUnoBuffer(255, &eight);
  ASSERT_EQ(GX_ConvertDeepUnoBuffer(nullptr, &eight, L(0, 0, 1, 1), 255, &flat), 0);
  EXPECT_EQ(flat.Row<float>(0)[0], 1.0f);

  EXPECT_EQ(GX_ConvertDeepUnoBuffer(nullptr, &deep, L(0, 0, 1, 1), 0, &flat), GX_Err_BadArgument);
  EXPECT_EQ(GX_ConvertDeepUnoBuffer(nullptr, nullptr, L(0, 0, 1, 1), 1, &flat), GX_Err_BadArgument);
  EXPECT_EQ(GX_ConvertDeepUnoBuffer(nullptr, &deep, L(0, 0, 1, 1), 1, &deep), GX_Err_BadDepth);
  EXPECT_EQ(GX_ConvertDeepUnoBuffer(nullptr, &flat, L(0, 0, 1, 1), 1, &flat), GX_Err_BadDepth);
}

class GxCopyBits : public TrackedTest {
protected:
  /// A 4 × 4 source whose pixel (x, y) has red x, green y.
  static std::unique_ptr<GX_World> Numbered() {
    std::unique_ptr<GX_World> w = NewWorld(4, 4);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 4; ++x) PixelOf(*w, x, y) = GX_Pixel8{255, uint8_t(x), uint8_t(y), 0};
    return w;
  }
};

TEST_F(GxCopyBits, CopiesClipsAndScalesByNearestNeighbour) {
  auto src = Numbered();
  // want: the source pixel shown at destination (x, y) of a 4 × 4 destination, as
  // "xy" pairs, or ".." for untouched.
  struct Case { const char* name; V_LRect srcRect, dstRect; const char* want[4]; };
  const Case kCases[] = {
      {"same size shifted", L(0, 0, 2, 2), L(1, 2, 3, 4),
       {"........", "........", "..0010..", "..0111.."}},
      {"reaching past both layers", L(2, 2, 6, 6), L(-1, -1, 3, 3),
       {"33......", "........", "........", "........"}},
      {"double size", L(1, 1, 3, 3), L(0, 0, 4, 4),
       {"11112121", "11112121", "12122222", "12122222"}},
      {"half size", L(0, 0, 4, 4), L(0, 0, 2, 2),
       {"1131....", "1333....", "........", "........"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<GX_World> dst = NewWorld(4, 4);
    ASSERT_EQ(GX_CopyBits_Draft(nullptr, src->GetLayer(), dst->GetLayer(), c.srcRect, c.dstRect), 0);
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 4; ++x) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        const char* cell = c.want[y] + 2 * x;
        const GX_Pixel8 got = PixelOf(*dst, x, y);
        if (cell[0] == '.') {
          EXPECT_EQ(got.alpha, 0);
        } else {
          EXPECT_EQ(got.alpha, 255);
          EXPECT_EQ(got.red, cell[0] - '0');
          EXPECT_EQ(got.green, cell[1] - '0');
        }
      }
    }
  }
}

TEST_F(GxCopyBits, RejectsBadArgumentsAndCancels) {
  auto src = Numbered();
  std::unique_ptr<GX_World> deep = NewWorld(4, 4, 16);
  EXPECT_EQ(GX_CopyBits_Draft(nullptr, nullptr, src->GetLayer(), L(0, 0, 1, 1), L(0, 0, 1, 1)),
            GX_Err_BadArgument);
  EXPECT_EQ(GX_CopyBits_Draft(nullptr, src->GetLayer(), deep->GetLayer(), L(0, 0, 1, 1),
                              L(0, 0, 1, 1)),
            GX_Err_BadDepth);
  std::unique_ptr<GX_World> tall = NewWorld(1, 128), tall2 = NewWorld(1, 128);
  ProgressRecorder rec(0, 9);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(GX_CopyBits_Draft(&info, tall->GetLayer(), tall2->GetLayer(), L(0, 0, 1, 128),
                              L(0, 0, 1, 128)),
            9);
}

TEST_F(GxCopyBits, ClearAlphaExceptRectKeepsColourAndTheRectangle) {
  struct Case { const char* name; V_LRect keep; const char* alive; };  // '#': alpha survives
  const Case kCases[] = {
      {"inner rectangle", L(1, 1, 3, 2), ".....##....."},
      {"rectangle past the layer", L(2, -5, 9, 2), "..##..##...."},
      {"empty clears everything", L(0, 0, 0, 0), "............"},
      {"whole layer", L(0, 0, 4, 3), "############"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<GX_World> w = NewWorld(4, 3, 16);
    GX_Fill16(nullptr, GX_Pixel16{32768, 1, 2, 3}, L(0, 0, 4, 3), w->GetLayer());
    ASSERT_EQ(GX_ClearAlphaExceptRect(nullptr, c.keep, w->GetLayer()), 0);
    for (int32_t i = 0; i < 12; ++i) {
      const uint16_t alpha = c.alive[i] == '#' ? 32768 : 0;
      EXPECT_TRUE(SamePixel(PixelOf<GX_Pixel16>(*w, i % 4, i / 4), GX_Pixel16{alpha, 1, 2, 3}))
          << i;
    }
  }
  GX_LayerDef odd;
  odd.depth = 12;
  EXPECT_EQ(GX_ClearAlphaExceptRect(nullptr, L(0, 0, 0, 0), &odd), GX_Err_BadDepth);
  EXPECT_EQ(GX_ClearAlphaExceptRect(nullptr, L(0, 0, 0, 0), nullptr), GX_Err_BadArgument);
}

}  // namespace
