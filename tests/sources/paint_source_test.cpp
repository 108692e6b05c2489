// SPDX-License-Identifier: MIT
#include "kstroke/paint_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/scoped_ptr.hpp>

#include "source_test_support.h"
#include "test_support.h"

namespace {

constexpr int32_t kNormal = 2;

/// A source whose pixels name their own area position: red = 10·x, green = 10·y for
/// area pixel (x, y), opaque; its single channel is 10·x + y. It records which pixel
/// request the render made, and can shrink the area.
class ProbeSource : public K_PixelBasedPaintSource {
public:
  explicit ProbeSource(bool singleChannel) : K_PixelBasedPaintSource(nullptr), single(singleChannel) {}

  mutable std::vector<std::string> calls;
  bool shrink = false;
  V_Rect shrinkTo;

protected:
  bool SupportsSingleChannel() const override { return single; }
  const GX_World* GetPixelSource(GX_ProgressInfo*, const V_Rect&, const V_Rect&,
                                 const K_Transform&, int16_t depth, int32_t,
                                 V_Rect* area) const override {
    calls.push_back("pixels");
    if (shrink) *area = shrinkTo;
    world.reset(GX_World::New(area->Width(), area->Height(), depth, 0));
    for (int y = 0; y < area->Height(); ++y)
      for (int x = 0; x < area->Width(); ++x)
        PixelAt<GX_Pixel8>(world->GetLayer(), x, y) =
            GX_Pixel8{255, uint8_t(10 * (area->left + x)), uint8_t(10 * (area->top + y)), 0};
    return world.get();
  }
  const GX_UnoBuffer* GetSingleChannelPixelSource(GX_ProgressInfo*, const V_Rect&,
                                                  const V_Rect&, const K_Transform&,
                                                  int16_t depth, int32_t,
                                                  const V_Rect* maskRect) const override {
    calls.push_back("single");
    buffer.reset(new GX_UnoBuffer(maskRect->Width(), maskRect->Height(), depth));
    for (int y = 0; y < maskRect->Height(); ++y)
      for (int x = 0; x < maskRect->Width(); ++x) buffer->Row<uint8_t>(y)[x] = uint8_t(10 * x + y);
    return buffer.get();
  }

private:
  bool single;
  mutable boost::scoped_ptr<GX_World> world;
  mutable boost::scoped_ptr<GX_UnoBuffer> buffer;
};

class PixelBasedRender : public TrackedTest {};

const GX_Pixel8 kBefore{100, 1, 2, 3};

TEST_F(PixelBasedRender, TargetChannelChoosesThePath) {
  struct Case {
    const char* name;
    K_TargetChannel target;
    bool supportsSingle;
    const char* call;
  };
  const Case kCases[] = {
      {"1 composites", K_TargetChannel_RGBA, true, "pixels"},
      {"2 composites", K_TargetChannel_RGB, true, "pixels"},
      {"3 single channel", K_TargetChannel_Alpha, true, "single"},
      {"4 single channel", K_TargetChannel_RGBOpaque, true, "single"},
      {"0 single channel", K_TargetChannel(0), true, "single"},
      {"3 without single-channel support", K_TargetChannel_Alpha, false, "pixels"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
    auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
    ProbeSource probe(c.supportsSingle);
    V_Rect area = Rect(0, 0, 4, 4);
    probe.Render(nullptr, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
                 kNormal, c.target, 0, &area, dest->GetLayer());
    EXPECT_EQ(probe.calls, std::vector<std::string>{c.call});
  }
}

TEST_F(PixelBasedRender, CompositePlacesAreaPixelsInsideTheBounds) {
  // Bounds start at (2, 1): area pixel (x, y) is destination pixel (x + 2, y + 1).
  struct Case {
    const char* name;
    K_TargetChannel target;
    uint8_t alpha;
  };
  const Case kCases[] = {
      {"all channels", K_TargetChannel_RGBA, 255},
      {"colour keeps alpha", K_TargetChannel_RGB, 100},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto dest = MakeWorld<GX_Pixel8>(8, 6, 8, [](int, int) { return kBefore; });
    // Coverage only at area columns 1 and 2; the area spans columns 1..3, rows 1..2.
    auto mask = MakeMask<uint8_t>(5, 4, 8, [](int x, int) { return uint8_t(x == 1 || x == 2 ? 255 : 0); });
    ProbeSource probe(true);
    V_Rect area = Rect(1, 1, 3, 4);
    probe.Render(nullptr, Rect(0, 0, 6, 8), Rect(1, 2, 6, 8), mask.get(), 1.0, K_Transform(),
                 kNormal, c.target, 0, &area, dest->GetLayer());
    EXPECT_EQ(area, Rect(1, 1, 3, 4));
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        const int ax = x - 2, ay = y - 1;
        const bool painted = ay >= 1 && ay < 3 && (ax == 1 || ax == 2);
        const GX_Pixel8 want =
            painted ? GX_Pixel8{c.alpha, uint8_t(10 * ax), uint8_t(10 * ay), 0} : kBefore;
        EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y), want) << "at " << x << "," << y;
      }
  }
}

TEST_F(PixelBasedRender, SingleChannelWritesOnlyAlphaInsideTheBounds) {
  auto dest = MakeWorld<GX_Pixel8>(8, 6, 8, [](int, int) { return kBefore; });
  auto mask = MakeMask<uint8_t>(5, 4, 8, [](int x, int) { return uint8_t(x == 3 ? 0 : 255); });
  ProbeSource probe(true);
  V_Rect area = Rect(1, 1, 3, 4);
  // Opacity plays no part in the single-channel path.
  probe.Render(nullptr, Rect(0, 0, 6, 8), Rect(1, 2, 6, 8), mask.get(), 0.0, K_Transform(),
               kNormal, K_TargetChannel_Alpha, 0, &area, dest->GetLayer());
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const int ax = x - 2, ay = y - 1;
      const bool painted = ay >= 1 && ay < 3 && ax >= 1 && ax < 3;
      const GX_Pixel8 want = painted ? GX_Pixel8{uint8_t(10 * ax + ay), 1, 2, 3} : kBefore;
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y), want) << "at " << x << "," << y;
    }
}

TEST_F(PixelBasedRender, ProgressRisesThroughThreeThirds) {
  auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
  auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
  ProbeSource probe(true);
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  V_Rect area = Rect(0, 0, 4, 4);
  probe.Render(&info, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
               kNormal, K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
  ASSERT_GE(rec.reports.size(), 3u);
  const auto one = std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(1, 3));
  const auto two = std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(2, 3));
  ASSERT_NE(one, rec.reports.end());
  ASSERT_NE(two, rec.reports.end());
  EXPECT_LT(one, two);
  EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));
  double last = 0;
  for (const auto& r : rec.reports) {
    ASSERT_GT(r.second, 0);
    const double f = double(r.first) / r.second;
    EXPECT_GE(f, last);
    last = f;
  }
  // Everything the transfer reported lies in the last third.
  for (auto it = two; it != rec.reports.end(); ++it)
    EXPECT_GE(double(it->first) / it->second, 2.0 / 3.0);
  EXPECT_EQ(info.context, &rec);
}

TEST_F(PixelBasedRender, ShrinkingToNothingEndsAfterThePixelRequest) {
  auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
  auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
  ProbeSource probe(true);
  probe.shrink = true;
  probe.shrinkTo = Rect(2, 2, 2, 3);
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  V_Rect area = Rect(0, 0, 4, 4);
  probe.Render(&info, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
               kNormal, K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
  EXPECT_TRUE(area.IsEmpty());
  EXPECT_EQ(rec.reports, (std::vector<std::pair<int32_t, int32_t>>{{3, 3}}));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y), kBefore);
}

TEST_F(PixelBasedRender, ShrunkAreaIsWhatGetsPaintedAndReturned) {
  auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
  auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
  ProbeSource probe(true);
  probe.shrink = true;
  probe.shrinkTo = Rect(1, 2, 3, 4);
  V_Rect area = Rect(0, 0, 4, 4);
  probe.Render(nullptr, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
               kNormal, K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
  EXPECT_EQ(area, Rect(1, 2, 3, 4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool painted = y >= 1 && y < 3 && x >= 2;
      EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), x, y),
                (painted ? GX_Pixel8{255, uint8_t(10 * x), uint8_t(10 * y), 0} : kBefore))
          << "at " << x << "," << y;
    }
}

TEST_F(PixelBasedRender, EmptyAreaTouchesNeitherProgressNorSource) {
  auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
  auto mask = MakeMask<uint8_t>(4, 4, 8, [](int, int) { return uint8_t(255); });
  ProbeSource probe(true);
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  V_Rect area = Rect(3, 0, 1, 4);
  probe.Render(&info, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
               kNormal, K_TargetChannel_RGBA, 0, &area, dest->GetLayer());
  EXPECT_TRUE(probe.calls.empty());
  EXPECT_TRUE(rec.reports.empty());
  EXPECT_EQ(info.context, &rec);
}

TEST_F(PixelBasedRender, RefusesMasksAndAreasTheHostCouldNotReadSafely) {
  struct Case {
    const char* name;
    int maskDepth, maskWidth, maskHeight;
    V_Rect area, bounds;
    K_TargetChannel target;
    const char* message;
  };
  const Case kCases[] = {
      {"mask of another depth", 16, 4, 4, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4),
       K_TargetChannel_RGBA, "paint mask depth 16 differs from destination depth 8"},
      {"area past the mask", 8, 3, 4, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), K_TargetChannel_RGBA,
       "paint area exceeds the paint mask"},
      {"area before the mask", 8, 4, 4, Rect(-1, 0, 2, 2), Rect(0, 0, 4, 4),
       K_TargetChannel_Alpha, "paint area exceeds the paint mask"},
      {"single channel past the layer", 8, 4, 4, Rect(0, 0, 4, 4), Rect(1, 1, 5, 5),
       K_TargetChannel_Alpha, "paint area exceeds the destination layer"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Y_ResetVerificationReports();
    auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
    std::unique_ptr<GX_UnoBuffer> mask(new GX_UnoBuffer(c.maskWidth, c.maskHeight, c.maskDepth));
    ProbeSource probe(true);
    V_Rect area = c.area;
    EXPECT_EQ(ThrownCode([&] {
                probe.Render(nullptr, Rect(0, 0, 4, 4), c.bounds, mask.get(), 1.0,
                             K_Transform(), kNormal, c.target, 0, &area, dest->GetLayer());
              }),
              3);
    EXPECT_EQ(Y_LastVerificationReport().message, c.message);
    EXPECT_EQ(Y_LastVerificationReport().code, 0);
  }
}

}  // namespace
