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

/// A source whose pixels name their own area position: red = 10·x, green = 10·y for
/// area pixel (x, y), opaque; its single channel is 10·x + y. It records which pixel
/// request the render made, and can shrink the area.
class ProbeSource : public K_PixelBasedPaintSource {
public:
  explicit ProbeSource(bool singleChannel, const V_Rect* shrink = nullptr)
      : K_PixelBasedPaintSource(nullptr), single(singleChannel), shrinkTo(shrink) {}

  mutable std::vector<std::string> calls;

protected:
  bool SupportsSingleChannel() const override { return single; }
  const GX_World* GetPixelSource(GX_ProgressInfo*, const V_Rect&, const V_Rect&, const K_Transform&,
                                 int16_t depth, int32_t, V_Rect* area) const override {
    calls.push_back("pixels");
    if (shrinkTo) *area = *shrinkTo;
    world.reset(GX_World::New(area->Width(), area->Height(), depth, 0));
    for (int y = 0; y < area->Height(); ++y)
      for (int x = 0; x < area->Width(); ++x)
        PixelAt<GX_Pixel8>(world->GetLayer(), x, y) =
            GX_Pixel8{255, uint8_t(10 * (area->left + x)), uint8_t(10 * (area->top + y)), 0};
    return world.get();
  }
  const GX_UnoBuffer* GetSingleChannelPixelSource(GX_ProgressInfo*, const V_Rect&, const V_Rect&,
                                                  const K_Transform&, int16_t depth, int32_t,
                                                  const V_Rect* maskRect) const override {
    calls.push_back("single");
    buffer.reset(new GX_UnoBuffer(maskRect->Width(), maskRect->Height(), depth));
    for (int y = 0; y < maskRect->Height(); ++y)
      for (int x = 0; x < maskRect->Width(); ++x) buffer->Row<uint8_t>(y)[x] = uint8_t(10 * x + y);
    return buffer.get();
  }

private:
  bool single;
  const V_Rect* shrinkTo;
  mutable boost::scoped_ptr<GX_World> world;
  mutable boost::scoped_ptr<GX_UnoBuffer> buffer;
};

const GX_Pixel8 kBefore{100, 1, 2, 3};

class PixelBasedRender : public TrackedTest {
protected:
  /// Renders `probe` over a 4 × 4 layer of kBefore through a full 4 × 4 mask; answers
  /// the area as the render left it.
  V_Rect Render4(const ProbeSource& probe, V_Rect area, K_TargetChannel target,
                 GX_ProgressInfo* progress = nullptr) {
    dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
    auto mask = MakeMaskAt(4, 4, 8, [](int, int) { return 1.0; });
    probe.Render(progress, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0, K_Transform(),
                 kNormal, target, 0, &area, dest->GetLayer());
    return area;
  }
  void TearDown() override {
    dest.reset();
    TrackedTest::TearDown();
  }
  std::unique_ptr<GX_World> dest;
};

TEST_F(PixelBasedRender, TargetChannelChoosesThePath) {
  struct Case { const char* name; K_TargetChannel target; bool supportsSingle; const char* call; };
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
    ProbeSource probe(c.supportsSingle);
    Render4(probe, Rect(0, 0, 4, 4), c.target);
    EXPECT_EQ(probe.calls, std::vector<std::string>{c.call});
  }
}

TEST_F(PixelBasedRender, AreaPixelsLandInsideTheBoundsThroughTheMask) {
  // Bounds start at (2, 1): area pixel (x, y) is destination pixel (x + 2, y + 1). The
  // area spans columns 1..3 and rows 1..2; the mask covers columns 1 and 2 only.
  struct Case {
    const char* name; K_TargetChannel target;
    double opacity;  // plays no part in the single-channel path
    bool shrink;     // the source shrinks the area to start at column 2
  };
  const Case kCases[] = {
      {"all channels", K_TargetChannel_RGBA, 1, false},
      {"colour keeps alpha", K_TargetChannel_RGB, 1, false},
      {"single channel writes only alpha", K_TargetChannel_Alpha, 0, false},
      {"the shrunk area is painted and returned", K_TargetChannel_RGBA, 1, true},
  };
  const V_Rect shrunk = Rect(1, 2, 3, 4);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto world = MakeWorld<GX_Pixel8>(8, 6, 8, [](int, int) { return kBefore; });
    auto mask = MakeMaskAt(5, 4, 8, [](int x, int) { return x == 1 || x == 2 ? 1.0 : 0.0; });
    ProbeSource probe(true, c.shrink ? &shrunk : nullptr);
    V_Rect area = Rect(1, 1, 3, 4);
    probe.Render(nullptr, Rect(0, 0, 6, 8), Rect(1, 2, 6, 8), mask.get(), c.opacity, K_Transform(),
                 kNormal, c.target, 0, &area, world->GetLayer());
    EXPECT_EQ(area, c.shrink ? shrunk : Rect(1, 1, 3, 4));
    ExpectPixels8(world->GetLayer(), [&](int x, int y) {
      const int ax = x - 2, ay = y - 1;
      GX_Pixel8 want = kBefore;
      if (ay >= 1 && ay < 3 && ax >= (c.shrink ? 2 : 1) && ax <= 2) {
        if (c.target == K_TargetChannel_Alpha)
          want.alpha = uint8_t(10 * ax + ay);
        else
          want = GX_Pixel8{c.target == K_TargetChannel_RGB ? kBefore.alpha : uint8_t(255),
                           uint8_t(10 * ax), uint8_t(10 * ay), 0};
      }
      return want;
    });
  }
}

TEST_F(PixelBasedRender, ProgressRisesThroughThreeThirds) {
  ProbeSource probe(true);
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  Render4(probe, Rect(0, 0, 4, 4), K_TargetChannel_RGBA, &info);
  const auto one = std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(1, 3));
  const auto two = std::find(rec.reports.begin(), rec.reports.end(), std::make_pair(2, 3));
  ASSERT_LT(one, two);
  ASSERT_NE(two, rec.reports.end());
  EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));
  double last = 0;
  for (auto it = rec.reports.begin(); it != rec.reports.end(); ++it) {
    ASSERT_GT(it->second, 0);
    const double f = double(it->first) / it->second;
    EXPECT_GE(f, last);
    if (it > two) {
      EXPECT_GE(f, 2.0 / 3.0) << "the transfer reports in the last third";
    }
    last = f;
  }
  EXPECT_EQ(info.context, &rec);
}

TEST_F(PixelBasedRender, EmptyOrShrunkToNothingPaintsNothing) {
  // An empty area touches neither progress nor source; an area the source shrinks to
  // nothing ends after the pixel request, closing the progress range.
  struct Case { const char* name; V_Rect area; bool shrinks; Reports reports; };
  const V_Rect nothing = Rect(2, 2, 2, 3);
  const Case kCases[] = {{"empty area", Rect(3, 0, 1, 4), false, {}},
                         {"shrunk to nothing", Rect(0, 0, 4, 4), true, {{3, 3}}}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ProbeSource probe(true, c.shrinks ? &nothing : nullptr);
    ProgressRecorder rec;
    GX_ProgressInfo info = rec.Record();
    EXPECT_TRUE(Render4(probe, c.area, K_TargetChannel_RGBA, &info).IsEmpty());
    EXPECT_EQ(probe.calls.size(), c.shrinks ? 1u : 0u);
    EXPECT_EQ(rec.reports, c.reports);
    EXPECT_EQ(info.context, &rec);
    ExpectPixels8(dest->GetLayer(), [](int, int) { return kBefore; });
  }
}

TEST_F(PixelBasedRender, RefusesMasksAndAreasTheHostCouldNotReadSafely) {
  struct Case {
    const char* name; int maskDepth, maskWidth; V_Rect area, bounds; K_TargetChannel target;
    const char* message;
  };
  const Case kCases[] = {
      {"mask of another depth", 16, 4, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), K_TargetChannel_RGBA,
       "paint mask depth 16 differs from destination depth 8"},
      {"area past the mask", 8, 3, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), K_TargetChannel_RGBA,
       "paint area exceeds the paint mask"},
      {"area before the mask", 8, 4, Rect(-1, 0, 2, 2), Rect(0, 0, 4, 4), K_TargetChannel_Alpha,
       "paint area exceeds the paint mask"},
      {"single channel past the layer", 8, 4, Rect(0, 0, 4, 4), Rect(1, 1, 5, 5),
       K_TargetChannel_Alpha, "paint area exceeds the destination layer"},
      {"no mask", 0, 0, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), K_TargetChannel_RGBA,
       "paint render without a paint mask or a destination"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Y_ResetVerificationReports();
    auto world = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return kBefore; });
    std::unique_ptr<GX_UnoBuffer> mask(c.maskDepth ? new GX_UnoBuffer(c.maskWidth, 4, c.maskDepth)
                                                   : nullptr);
    V_Rect area = c.area;
    EXPECT_EQ(ThrownCode([&] {
                ProbeSource(true).Render(nullptr, Rect(0, 0, 4, 4), c.bounds, mask.get(), 1.0,
                                         K_Transform(), kNormal, c.target, 0, &area, world->GetLayer());
              }),
              3);
    EXPECT_EQ(Y_LastVerificationReport().message, c.message);
    EXPECT_EQ(Y_LastVerificationReport().code, 0);
  }
}

}  // namespace
