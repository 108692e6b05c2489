// SPDX-License-Identifier: MIT
#include "kstroke/clone_paint_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "host/gx/gx_lazy.h"
#include "source_test_support.h"
#include "test_support.h"

namespace {

constexpr int32_t kCopy = -2;

class CloneProbe : public K_ClonePaintSource {
public:
  using K_ClonePaintSource::GetPixelSource;
  using K_ClonePaintSource::GetSingleChannelPixelSource;
  using K_ClonePaintSource::K_ClonePaintSource;
};

/// Source pixel (x, y): alpha 100 + x, red 8x, green 20y, blue 7.
GX_Pixel8 SourcePixel(int x, int y) {
  return GX_Pixel8{uint8_t(100 + x), uint8_t(8 * x), uint8_t(20 * y), 7};
}
GX_Pixel8 OpaqueSourcePixel(int x, int y) {
  GX_Pixel8 p = SourcePixel(x, y);
  p.alpha = 255;
  return p;
}

class CloneSource : public TrackedTest {
protected:
  void SetUp() override {
    TrackedTest::SetUp();
    source = MakeWorld<GX_Pixel8>(30, 10, 8, SourcePixel);
  }
  void TearDown() override {
    source.reset();
    TrackedTest::TearDown();
  }
  /// A transformed clone whose placement shifts the source right by 40·posX pixels on
  /// a 40 × 10 layer.
  std::unique_ptr<CloneProbe> Shifted() {
    return std::unique_ptr<CloneProbe>(
        new CloneProbe(nullptr, source.get(), 1.0, V_Vector2T<double>(0, 0), Rect(0, 0, 10, 30)));
  }
  static K_Transform ShiftX(double pixels) { return Xf(pixels / 40.0); }
  std::unique_ptr<GX_World> source;
};

TEST_F(CloneSource, InPlaceRequestsReferenceShrinkOrPad) {
  // Without a source world nothing is supplied, except the transparent padding of the
  // copy mode.
  struct Case {
    const char* name; bool source; double shift; int32_t mode; V_Rect area, areaAfter; bool ownsPixels;
  };
  const Case kCases[] = {
      {"shrinks at the source's edge", true, 10, kNormal, Rect(0, 30, 5, 45), Rect(0, 30, 5, 40), false},
      {"9.996 reads as 10", true, 9.996, kNormal, Rect(0, 30, 5, 45), Rect(0, 30, 5, 40), false},
      {"copy mode pads", true, 10, kCopy, Rect(0, 30, 5, 45), Rect(0, 30, 5, 45), true},
      {"copy mode inside the source references", true, 10, kCopy, Rect(2, 12, 7, 20),
       Rect(2, 12, 7, 20), false},
      {"area before the source shrinks from the left", true, 10, kNormal, Rect(0, 4, 3, 15),
       Rect(0, 10, 3, 15), false},
      {"no source", false, 0, kNormal, Rect(0, 0, 5, 5), Rect(0, 0, 0, 0), false},
      {"no source, copy mode pads", false, 0, kCopy, Rect(0, 0, 5, 5), Rect(0, 0, 5, 5), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CloneProbe clone(nullptr, c.source ? source.get() : nullptr, 1.0, V_Vector2T<double>(0, 0),
                     Rect(0, 0, 10, 30));
    V_Rect area = c.area;
    const GX_World* w = clone.GetPixelSource(nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40),
                                             ShiftX(c.shift), 8, c.mode, &area);
    if (c.areaAfter.IsEmpty()) {
      EXPECT_TRUE(area.IsEmpty());
      EXPECT_EQ(w, nullptr);
      continue;
    }
    EXPECT_EQ(area, c.areaAfter);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->OwnsPixels(), c.ownsPixels);
    ASSERT_EQ(w->Width(), area.Width());
    ASSERT_EQ(w->Height(), area.Height());
    GX_LayerDef* layer = const_cast<GX_World*>(w)->GetLayer();
    for (int y = 0; y < w->Height(); ++y)
      for (int x = 0; x < w->Width(); ++x) {
        const int sx = area.left + x - int(std::lround(c.shift)), sy = area.top + y;
        const GX_Pixel8 got = PixelAt<GX_Pixel8>(layer, x, y);
        if (c.source && sx < 30)
          EXPECT_EQ(got, SourcePixel(sx, sy)) << "at " << x << "," << y;
        else
          EXPECT_EQ(got.alpha, 0) << "at " << x << "," << y;
      }
  }
}

TEST_F(CloneSource, ResamplingTurnsAndScalesAboutTheArea) {
  // Rotation 90 about the layer's centre: source (x, y) lands on (20 - y, 20 + x), and
  // what the source does not reach is transparent. Scale 2 about the origin: area
  // pixel (X, Y) shows source (X / 2, Y / 2), and the world starts at the area's
  // corner: its pixel (0, 0) is area pixel (4, 6), centre (4.5, 6.5), source (2.25,
  // 3.25), between source pixels 1..2 and 2..3.
  struct Probe { int x, y; double sx, sy; };  // sx < 0: transparent
  struct Case { const char* name; K_Transform t; V_Rect area; std::vector<Probe> probes; };
  const Case kCases[] = {
      {"turned", Xf(0.5, 0.5, 90), Rect(0, 0, 40, 40),
       {{15, 25, 5, 4}, {19, 20, 0, 0}, {10, 29, 9, 9}, {5, 5, -1, 0}, {30, 30, -1, 0}, {25, 25, -1, 0}}},
      {"scaled", Xf(0, 0, 0, 2, 2), Rect(6, 4, 10, 12), {{0, 0, 1.75, 2.75}, {3, 1, 3.25, 3.25}}},
  };
  auto opaque = MakeWorld<GX_Pixel8>(10, 10, 8, OpaqueSourcePixel);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CloneProbe clone(nullptr, opaque.get(), 1.0, V_Vector2T<double>(0, 0), Rect(0, 0, 10, 10));
    EXPECT_FALSE(clone.WillSampleInPlace(c.t, Rect(0, 0, 40, 40), nullptr));
    V_Rect area = c.area;
    const GX_World* w =
        clone.GetPixelSource(nullptr, Rect(0, 0, 40, 40), Rect(0, 0, 40, 40), c.t, 8, kNormal, &area);
    EXPECT_EQ(area, c.area);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->Width(), c.area.Width());
    ASSERT_EQ(w->Height(), c.area.Height());
    for (const Probe& p : c.probes) {
      SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
      const GX_Pixel8 got = PixelAt<GX_Pixel8>(const_cast<GX_World*>(w)->GetLayer(), p.x, p.y);
      EXPECT_EQ(got.alpha, p.sx < 0 ? 0 : 255);
      if (p.sx < 0) continue;
      EXPECT_NEAR(got.red, 8 * p.sx, 1);
      EXPECT_NEAR(got.green, 20 * p.sy, 1);
    }
  }
}

TEST_F(CloneSource, SingleChannelIsTheSourceAlphaAndZeroElsewhere) {
  // The first request covers the whole mask and leaves non-zero samples behind in
  // memory the second request may be given again. Alpha of source column x: 100 + x
  // at 8 bits, 1000 + x at 16, x / 64 in float.
  const V_Rect maskRect = Rect(0, 0, 10, 30);
  for (int depth : {8, 16, 32}) {
    const auto alpha = [&](int x) { return depth == 8 ? 100 + x : depth == 16 ? 1000 + x : x / 64.0; };
    auto world = MakeWorldAt(30, 10, depth, [&](int x, int) { return Raw4{alpha(x), 1, 2, 3}; });
    CloneProbe clone(nullptr, world.get(), 1.0, V_Vector2T<double>(0, 0), Rect(0, 0, 10, 30));
    for (int shift : {0, 10}) {
      SCOPED_TRACE(testing::Message() << depth << " bits, shift " << shift);
      const GX_UnoBuffer* b = clone.GetSingleChannelPixelSource(
          nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40), ShiftX(shift), int16_t(depth), kNormal,
          &maskRect);
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(b->GetDepth(), depth);
      ASSERT_EQ(b->GetWidth(), 30);
      ASSERT_EQ(b->GetHeight(), 10);
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 30; ++x)
          EXPECT_EQ(SampleOf(*b, x, y), x < shift ? 0 : alpha(x - shift)) << "at " << x << "," << y;
    }
  }
}

TEST_F(CloneSource, DepthChecksOfTheSingleChannelRequest) {
  OddDepthLayer odd;
  std::unique_ptr<GX_World> oddWorld(GX_World::NewReference(&odd.layer));
  auto deep = MakeWorldAt(4, 4, 16, [](int, int) { return Raw4{32768, 0, 0, 0}; });
  struct Case { const char* name; GX_World* world; int32_t reportCode; const char* message; };
  const Case kCases[] = {
      {"unknown depth", oddWorld.get(), 2425831, "Unknown world bitdepth in##CONDITIONNAME"},
      {"other depth", deep.get(), 0, "clone source depth 16 differs from destination depth 8"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Y_ResetVerificationReports();
    CloneProbe clone(nullptr, c.world, Rect(0, 0, 4, 4));
    auto dest = MakeWorld<GX_Pixel8>(4, 4, 8, [](int, int) { return GX_Pixel8{1, 2, 3, 4}; });
    auto mask = MakeMaskAt(4, 4, 8, [](int, int) { return 1.0; });
    ProgressRecorder rec;
    GX_ProgressInfo info = rec.Record();
    V_Rect area = Rect(0, 0, 4, 4);
    EXPECT_EQ(ThrownCode([&] {
                clone.Render(&info, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), mask.get(), 1.0,
                             K_Transform(), kNormal, K_TargetChannel_Alpha, 0, &area,
                             dest->GetLayer());
              }),
              3);
    EXPECT_EQ(Y_LastVerificationReport().message, c.message);
    EXPECT_EQ(Y_LastVerificationReport().code, c.reportCode);
    EXPECT_EQ(info.context, &rec);
    EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
    ASSERT_FALSE(rec.reports.empty());
    EXPECT_EQ(rec.reports.back(), std::make_pair(3, 3));
    EXPECT_EQ(PixelAt<GX_Pixel8>(dest->GetLayer(), 2, 2), (GX_Pixel8{1, 2, 3, 4}));
  }
}

TEST_F(CloneSource, RenderPaintsTheClonedPixels) {
  // Untransformed, with the source rectangle 5 right and 2 down of the layer's: the
  // layer shows source pixel p + (5, 2), whatever the transform says, and only where
  // the source reaches.
  struct Case { const char* name; K_TargetChannel target; bool colour, alpha; };
  const Case kCases[] = {
      {"all channels", K_TargetChannel_RGBA, true, true},
      {"colour only", K_TargetChannel_RGB, true, false},
      {"alpha", K_TargetChannel_Alpha, false, true},
      {"opaque colour takes alpha for a clone", K_TargetChannel_RGBOpaque, false, true},
  };
  auto opaque = MakeWorld<GX_Pixel8>(30, 10, 8, OpaqueSourcePixel);
  const GX_Pixel8 before{60, 1, 2, 3};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    boost::shared_ptr<K_ClonePaintSource> clone(
        new K_ClonePaintSource(nullptr, opaque.get(), Rect(2, 5, 12, 35)));
    auto dest = MakeWorld<GX_Pixel8>(30, 10, 8, [&](int, int) { return before; });
    auto mask = MakeMaskAt(30, 10, 8, [](int x, int) { return x % 4 ? 1.0 : 0.0; });
    V_Rect area = Rect(0, 0, 10, 30);
    clone->Render(nullptr, Rect(0, 0, 10, 30), Rect(0, 0, 10, 30), mask.get(), 1.0,
                  Xf(0, 0, 45, 3, 3), kNormal, c.target, 0, &area, dest->GetLayer());
    // The composite path hands back the part the source covers; the single-channel
    // path leaves the area as it was.
    EXPECT_EQ(area, c.colour ? Rect(0, 0, 8, 25) : Rect(0, 0, 10, 30));
    ExpectPixels8(dest->GetLayer(), [&](int x, int y) {
      const bool reached = x + 5 < 30 && y + 2 < 10 && x % 4 != 0;
      const GX_Pixel8 src = reached ? OpaqueSourcePixel(x + 5, y + 2) : GX_Pixel8{0, 0, 0, 0};
      GX_Pixel8 want = before;
      if (x % 4 != 0) {
        // The alpha path blends the source alpha (0 where it does not reach).
        if (c.alpha) want.alpha = c.colour ? (reached ? 255 : before.alpha) : src.alpha;
        if (c.colour && reached) want.red = src.red, want.green = src.green, want.blue = src.blue;
      }
      return want;
    });
  }
}

TEST_F(CloneSource, MemberInPlaceTestUsesTheSourcesPlacement) {
  const K_Transform rotated = Xf(0, 0, 30);
  V_Vector2T<double> offset;
  CloneProbe untransformed(nullptr, source.get(), Rect(3, 4, 13, 34));
  EXPECT_TRUE(untransformed.IsUntransformed());
  EXPECT_EQ(untransformed.GetSourcePixelAspect(), 1.0);
  EXPECT_TRUE(untransformed.WillSampleInPlace(rotated, Rect(10, 20, 50, 60), &offset));
  EXPECT_EQ(offset, V_Vector2T<double>(16, 7));

  // Transformed: dest left 20 + 40 × 0.5 − (4 + 30 × 0.5) = 21; top 10 + 0 − (3 + 0) = 7.
  CloneProbe placed(nullptr, source.get(), 1.0, V_Vector2T<double>(0.5, 0), Rect(3, 4, 13, 34));
  EXPECT_TRUE(placed.WillSampleInPlace(Xf(0.5), Rect(10, 20, 50, 60), &offset));
  EXPECT_EQ(offset, V_Vector2T<double>(21, 7));
  EXPECT_FALSE(placed.WillSampleInPlace(rotated, Rect(10, 20, 50, 60), &offset));
}

TEST_F(CloneSource, InPlaceSecuresTheLazyCopyUnderTheSourceRegion) {
  // The lazy copy holds the layer the clone reads: tiles under the source region
  // (layer coordinates) are made valid before they are read; resampling leaves it.
  boost::shared_ptr<GX_World> preStroke(GX_World::New(40, 10, 8, 0));
  auto layer = MakeWorld<GX_Pixel8>(40, 10, 8, [](int, int) { return GX_Pixel8{}; });
  boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyWorldCopyOperator(preStroke));
  static_cast<GX_LazyWorldCopyOperator*>(op.get())->SetSourceLayer(layer->GetLayer());
  boost::shared_ptr<GX_LazyTilesCondition> lazy(new GX_LazyTilesCondition(4, &op));
  auto clone = Shifted();
  clone->SetLazyCopy(lazy);
  V_Rect area = Rect(0, 30, 4, 34);  // source region x 20..23
  clone->GetPixelSource(nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40), ShiftX(10), 8, kNormal,
                        &area);
  EXPECT_EQ(lazy->CountValidTiles(), 1);
  EXPECT_TRUE(lazy->IsTileValid(5, 0));

  lazy->InvalidateAll();
  area = Rect(0, 30, 4, 34);
  clone->GetPixelSource(nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40), Xf(10 / 40.0, 0, 0, 2), 8,
                        kNormal, &area);
  EXPECT_EQ(lazy->CountValidTiles(), 0);
}

struct CountingManager : K_CheckoutManager {
  std::vector<K_ClonePaintSource*> checkedOut;
  int checkins = 0;
  GX_World* world = nullptr;
  void CheckOut(K_ClonePaintSource* s) override {
    checkedOut.push_back(s);
    s->SetSourceWorld(world, V_Vector2T<int16_t>(1, 2));
  }
  void CheckIn() override { ++checkins; }
};

TEST_F(CloneSource, CheckoutCallsTheHostsManager) {
  CloneProbe clone(nullptr, nullptr, Rect(0, 0, 10, 30));
  clone.DoLayerCheckout();  // no manager: nothing happens
  clone.DoLayerCheckin();

  boost::shared_ptr<CountingManager> manager(new CountingManager);
  manager->world = source.get();
  clone.SetCheckoutManager(manager);
  clone.DoLayerCheckout();
  ASSERT_EQ(manager->checkedOut.size(), 1u);
  EXPECT_EQ(manager->checkedOut[0], &clone);
  EXPECT_EQ(clone.GetSourceWorld(), source.get());
  EXPECT_EQ(clone.GetSourceRect(), Rect(2, 1, 12, 31));
  EXPECT_EQ(manager->checkins, 0);
  clone.DoLayerCheckin();
  EXPECT_EQ(manager->checkins, 1);
}

TEST_F(CloneSource, CopiesShareOwnedObjectsAndManagerButMoveCaches) {
  const std::size_t live = Y_MemTrackedObject::LiveObjects();
  boost::shared_ptr<int> owned(new int(5));
  boost::weak_ptr<int> watch(owned);
  boost::shared_ptr<CountingManager> manager(new CountingManager);
  auto original = Shifted();
  original->OwnObject(owned);
  original->SetCheckoutManager(manager);
  owned.reset();
  EXPECT_FALSE(watch.expired());

  V_Rect area = Rect(0, 0, 4, 4);
  const V_Rect maskRect = Rect(0, 0, 4, 4);
  original->GetPixelSource(nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40), ShiftX(3), 8, kNormal,
                           &area);
  original->GetSingleChannelPixelSource(nullptr, Rect(0, 0, 10, 40), Rect(0, 0, 10, 40), ShiftX(3),
                                        8, kNormal, &maskRect);
  // original, its reference world and its channel buffer
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);
  {
    CloneProbe copy(*original);
    EXPECT_EQ(copy.GetCheckoutManager(), manager.get());
    EXPECT_EQ(copy.GetSourceWorld(), source.get());
    EXPECT_FALSE(copy.IsUntransformed());
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);  // moved, not copied
    original.reset();
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 2);  // the caches went with the copy
    EXPECT_FALSE(watch.expired());                           // and so did the owned object
    EXPECT_EQ(manager.use_count(), 2);

    CloneProbe assigned(nullptr, nullptr, Rect(0, 0, 1, 1));
    assigned = copy;
    EXPECT_EQ(assigned.GetCheckoutManager(), manager.get());
    EXPECT_EQ(assigned.GetSourceRect(), Rect(0, 0, 10, 30));
    EXPECT_EQ(manager.use_count(), 3);
  }
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(manager.use_count(), 1);
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live);
}

}  // namespace
