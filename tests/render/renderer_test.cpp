// SPDX-License-Identifier: MIT
#include "kstroke/interact_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include "golden_support.h"
#include "host/gx/gx_channels.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_modes.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "test_support.h"

namespace {

constexpr int kSize = 64;

struct Point { double t, x, y; bool spacing; };

void Append(K_Shape* shape, const Point& p) {
  PaintPointerEvent e;
  e.time = p.t;
  e.x = p.x;
  e.y = p.y;
  e.useSpacing = p.spacing;
  EXPECT_EQ(shape->AppendVertex(&e), 0);
}

std::unique_ptr<K_Shape> MakeStroke(const std::vector<Point>& points, size_t count) {
  std::unique_ptr<K_Shape> shape(new K_Shape());
  for (size_t i = 0; i < count; ++i) Append(shape.get(), points[i]);
  return shape;
}

// A diagonal-ish curve across the canvas, one sample per time unit.
std::vector<Point> Wave(int n) {
  std::vector<Point> p;
  for (int i = 0; i < n; ++i) {
    const double u = double(i) / (n - 1);
    p.push_back({double(i), 0.1 + 0.8 * u, 0.5 + 0.3 * std::sin(u * 6.0), i != 0});
  }
  return p;
}

K_StrokeGlobalProperties Brush() {
  K_StrokeGlobalProperties p;
  p.diameter = 9;
  p.hardness = 0.7;
  p.spacing = 0.2;
  p.flow = 0.6;
  p.transferMode = static_cast<int32_t>(GX_TransferMode::kNormal);
  p.accumulateMode = static_cast<int32_t>(GX_AccumulateMode::kBuildUp);
  return p;
}

std::unique_ptr<GX_World> WhiteCanvas(int depth, int size = kSize) {
  std::unique_ptr<GX_World> w(GX_World::New(size, size, depth, 0));
  const V_LRect all{0, 0, size, size};
  if (depth == 8) GX_Fill(nullptr, GX_Pixel8{255, 255, 255, 255}, all, w->GetLayer());
  if (depth == 16) GX_Fill16(nullptr, GX_Pixel16{32768, 32768, 32768, 32768}, all, w->GetLayer());
  if (depth == 32) GX_FillFloat(nullptr, GX_PixelFloat{1, 1, 1, 1}, all, w->GetLayer());
  return w;
}

double Channel(const GX_World& w, int x, int y, int c) {
  return GoldenChannel(*w.GetLayer(), x, y, c);
}

// Largest channel difference, in units of full scale, and the count of differing pixels.
std::pair<double, int> Compare(const GX_World& a, const GX_World& b) {
  double worst = 0;
  int differing = 0;
  for (int y = 0; y < a.GetLayer()->height; ++y)
    for (int x = 0; x < a.GetLayer()->width; ++x) {
      double d = 0;
      for (int c = 0; c < 4; ++c) d = std::max(d, std::fabs(Channel(a, x, y, c) - Channel(b, x, y, c)));
      worst = std::max(worst, d);
      differing += d > 0;
    }
  return {worst, differing};
}

struct Painter {
  explicit Painter(int depth, int size = kSize)
      : canvas(WhiteCanvas(depth, size)),
        source(new K_FillPaintSource(nullptr, GX_PixelFloat{1, 0.1f, 0.2f, 0.8f})) {
    preStroke.reset(GX_World::New(size, size, depth, 0));
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyWorldCopyOperator(preStroke));
    lazy.reset(new GX_LazyTilesCondition(GX_LazyTiles::kCopyTileSize, &op));
    renderer.reset(new K_InteractRenderer(int16_t(depth), source, preStroke, &lazy, true));
  }
  V_Rect Render(K_Shape* shape, const K_StrokeGlobalProperties& props, V_Rect dest,
                GX_ProgressInfo* progress = nullptr) {
    V_Rect area;
    renderer->Render(progress, shape, props, dest, 1.0, 7, canvas->GetLayer(), &area);
    return area;
  }
  std::unique_ptr<GX_World> canvas;
  boost::shared_ptr<K_PaintSource> source;
  boost::shared_ptr<GX_World> preStroke;
  boost::shared_ptr<GX_LazyTilesCondition> lazy;
  std::unique_ptr<K_InteractRenderer> renderer;
};

const V_Rect kWhole{0, 0, kSize, kSize};

class Renderer : public TrackedTest {};

TEST_F(Renderer, IncrementalCallsMatchOneCallOnTheFinalStroke) {
  const std::vector<Point> points = Wave(24);
  for (int depth : {8, 16, 32}) {
    SCOPED_TRACE(depth);
    Painter once(depth), growing(depth);
    once.Render(MakeStroke(points, points.size()).get(), Brush(), kWhole);
    // A growing stroke as a painting host delivers it: a few events per call.
    std::unique_ptr<K_Shape> shape(new K_Shape());
    for (size_t i = 0; i < points.size(); ++i) {
      Append(shape.get(), points[i]);
      if (i % 3 == 2 || i + 1 == points.size()) growing.Render(shape.get(), Brush(), kWhole);
    }
    const auto diff = Compare(*once.canvas, *growing.canvas);
    // Each provisional dab is taken back before it is stamped again, so the masks
    // agree; only the dissolve-free blend's rounding could differ, and it does not.
    EXPECT_EQ(diff.first, 0.0) << diff.second << " pixels differ";
    EXPECT_LT(Channel(*once.canvas, 32, 32, 1), 0.9) << "the stroke left no paint";
  }
}

// A paint source that passes each render on to a fill and keeps the rectangles it
// was asked to composite.
class AreaProbe : public K_PaintSource {
public:
  AreaProbe() : fill(new K_FillPaintSource(nullptr, GX_PixelFloat{1, 0.1f, 0.2f, 0.8f})) {}
  void Render(GX_ProgressInfo* progress, const V_Rect& layerRect, const V_Rect& boundsRect,
              const GX_UnoBuffer* paintMask, double opacity, const K_Transform& transform,
              int32_t mode, K_TargetChannel channel, int32_t param, V_Rect* area,
              GX_LayerDef* dest) const override {
    asked.push_back(*area);
    fill->Render(progress, layerRect, boundsRect, paintMask, opacity, transform, mode, channel,
                 param, area, dest);
  }
  bool TakesDeepMaskOnFloat(int32_t mode) const override { return fill->TakesDeepMaskOnFloat(mode); }
  int64_t Composited() const {
    int64_t n = 0;
    for (const V_Rect& r : asked) n += int64_t(r.Width()) * r.Height();
    return n;
  }
  boost::shared_ptr<K_PaintSource> fill;
  mutable std::vector<V_Rect> asked;
};

// Large dabs land mostly where earlier ones have raised the mask already: a call then
// composites only the bands of its area where the mask changed, and the layer ends as
// one call over the whole stroke leaves it, at every depth and accumulation path.
TEST_F(Renderer, LargeDabsCompositeOnlyWhatEachCallChanged) {
  constexpr int kLarge = 256;
  const V_Rect whole{0, 0, kLarge, kLarge};
  struct Case { const char* name; double diameter, hardness, roundness, angle, flow; };
  const Case kCases[] = {
      {"hard, raised in place", 100, 0.8, 1.0, 0, 1.0},
      {"soft, accumulated", 100, 0.2, 1.0, 0, 0.6},
      {"turned ellipse", 110, 0.6, 0.4, 30, 1.0},
  };
  const std::vector<Point> points = Wave(30);
  for (const Case& c : kCases)
    for (int depth : {8, 16, 32}) {
      SCOPED_TRACE(std::string(c.name) + ", depth " + std::to_string(depth));
      K_StrokeGlobalProperties props = Brush();
      props.diameter = c.diameter;
      props.hardness = c.hardness;
      props.roundness = c.roundness;
      props.angle = c.angle;
      props.flow = c.flow;
      props.spacing = 0.1;
      Painter once(depth, kLarge), growing(depth, kLarge);
      auto* probe = new AreaProbe();
      growing.renderer->SetPaintSource(boost::shared_ptr<K_PaintSource>(probe));
      once.renderer->SetPaintSource(probe->fill);
      once.Render(MakeStroke(points, points.size()).get(), props, whole);
      std::unique_ptr<K_Shape> shape(new K_Shape());
      int64_t areas = 0;
      for (size_t i = 0; i < points.size(); ++i) {
        Append(shape.get(), points[i]);
        if (i % 3 == 2 || i + 1 == points.size()) {
          const V_Rect a = growing.Render(shape.get(), props, whole);
          areas += int64_t(a.Width()) * a.Height();
        }
      }
      const auto diff = Compare(*once.canvas, *growing.canvas);
      EXPECT_EQ(diff.second, 0) << "largest difference " << diff.first;
      EXPECT_LT(probe->Composited() * 4, areas * 3) << "the calls composited their whole areas";
    }
}

// Whatever may have left the layer behind the mask, or changes what compositing gives,
// makes every later call composite its whole area again.
TEST_F(Renderer, CallsCompositeWholeAreasOnceTheLayerMayLag) {
  constexpr int kLarge = 256;
  const V_Rect whole{0, 0, kLarge, kLarge};
  struct Case { const char* name; void (*between)(Painter&, K_Shape*, K_StrokeGlobalProperties*); };
  const Case kCases[] = {
      {"nothing (bands are used)", [](Painter&, K_Shape*, K_StrokeGlobalProperties*) {}},
      {"mask handed out", [](Painter& p, K_Shape*, K_StrokeGlobalProperties*) { (void)p.renderer->GetPaintMask(); }},
      {"tips stamped on their own",
       [](Painter& p, K_Shape* s, K_StrokeGlobalProperties* props) {
         V_Rect area;
         p.renderer->RenderTips(nullptr, s, *props, V_Rect{0, 0, kLarge, kLarge}, 1.0, 7, p.canvas->GetLayer(), &area);
         p.renderer->RenderPaint(nullptr, *props, V_Rect{0, 0, kLarge, kLarge}, 1.0, p.canvas->GetLayer(), &area);
       }},
      {"settings changed", [](Painter&, K_Shape*, K_StrokeGlobalProperties* props) { props->position.x = 0.25f; }},
      {"source swapped", [](Painter& p, K_Shape*, K_StrokeGlobalProperties*) {
         p.renderer->SetPaintSource(p.renderer->GetPaintSource());
       }},
  };
  const std::vector<Point> points = Wave(24);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Painter p(8, kLarge);
    auto* probe = new AreaProbe();
    p.renderer->SetPaintSource(boost::shared_ptr<K_PaintSource>(probe));
    K_StrokeGlobalProperties props = Brush();
    props.diameter = 100;
    props.flow = 1;
    std::unique_ptr<K_Shape> shape = MakeStroke(points, 12);
    p.Render(shape.get(), props, whole);  // the first call has nothing to compare with
    p.Render(shape.get(), props, whole);
    c.between(p, shape.get(), &props);
    for (size_t i = 12; i < 15; ++i) Append(shape.get(), points[i]);
    probe->asked.clear();
    const V_Rect area = p.Render(shape.get(), props, whole);
    ASSERT_FALSE(area.IsEmpty());
    const bool banded = std::string(c.name) == "nothing (bands are used)";
    EXPECT_EQ(probe->asked.size() == 1 && probe->asked[0] == area, !banded);
  }
}

TEST_F(Renderer, PaintsOnlyInsideTheDestinationRectangle) {
  struct Case { const char* name; V_Rect dest; };  // {top, left, bottom, right}
  const Case cases[] = {
      {"equal to the layer", kWhole}, {"inside the layer", V_Rect{10, 20, 50, 44}},
      {"partly outside", V_Rect{-16, 30, 40, 90}},
  };
  const std::vector<Point> points = Wave(16);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Painter p(8);
    std::unique_ptr<K_Shape> shape = MakeStroke(points, points.size());
    const V_Rect area = p.Render(shape.get(), Brush(), c.dest);
    ASSERT_FALSE(area.IsEmpty());
    const V_Rect clipped = V_IntersectRect(c.dest, kWhole);
    // The area comes back relative to destRect's top-left and lies within it.
    const V_Rect areaInLayer{int16_t(area.top + c.dest.top), int16_t(area.left + c.dest.left),
                             int16_t(area.bottom + c.dest.top), int16_t(area.right + c.dest.left)};
    EXPECT_EQ(V_IntersectRect(areaInLayer, clipped), areaInLayer);
    int painted = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const bool inside = x >= clipped.left && x < clipped.right && y >= clipped.top &&
                            y < clipped.bottom;
        const bool changed = Channel(*p.canvas, x, y, 1) != 1.0;
        if (!inside) {
          EXPECT_FALSE(changed) << "pixel " << x << "," << y << " outside";
        }
        painted += changed;
      }
    EXPECT_GT(painted, 20);
  }
}

// A paint source that records the mask it was handed.
class MaskProbe : public K_PaintSource {
public:
  explicit MaskProbe(bool deep) : takesDeep(deep) {}
  void Render(GX_ProgressInfo*, const V_Rect&, const V_Rect&, const GX_UnoBuffer* paintMask, double,
              const K_Transform&, int32_t, K_TargetChannel, int32_t, V_Rect*,
              GX_LayerDef*) const override {
    depths.push_back(paintMask->GetDepth());
  }
  bool TakesDeepMaskOnFloat(int32_t mode) const override { return takesDeep && mode == 2; }
  bool takesDeep;
  mutable std::vector<int32_t> depths;
};

TEST_F(Renderer, FloatLayersConvertTheMaskForSourcesThatDoNotTakeItDeep) {
  struct Case { const char* name; int depth; bool takesDeep; int32_t mode; int32_t seen; };
  const Case kCases[] = {
      {"float, source takes the deep mask", 32, true, 2, 16},
      {"float, not in this mode", 32, true, 5, 32},
      {"float, source asks for float", 32, false, 2, 32},
      {"16-bit layer", 16, true, 2, 16},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Painter p(c.depth);
    auto* probe = new MaskProbe(c.takesDeep);
    p.renderer->SetPaintSource(boost::shared_ptr<K_PaintSource>(probe));
    K_StrokeGlobalProperties props = Brush();
    props.transferMode = c.mode;
    p.Render(MakeStroke(Wave(8), 8).get(), props, kWhole);
    EXPECT_EQ(probe->depths, std::vector<int32_t>{c.seen});
  }
}

TEST_F(Renderer, NothingToStampChangesNothing) {
  // A scale within 1e-12 of 0 stamps nothing and makes no mask; a destination off the
  // layer changes nothing and leaves the stroke whole for a later call over the layer.
  struct Case { const char* name; double scaleX; V_Rect dest; };  // {top, left, bottom, right}
  const Case kCases[] = {
      {"zero scale", 0, kWhole},           {"scale 5e-13", 5e-13, kWhole},
      {"scale -5e-13", -5e-13, kWhole},    {"right of the layer", 1, {0, 64, 64, 128}},
      {"above", 1, {-40, -40, -1, 30}},    {"below", 1, {70, 0, 90, 64}},
      {"empty", 1, {10, 10, 10, 40}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Painter p(8);
    std::unique_ptr<K_Shape> shape = MakeStroke(Wave(10), 10);
    K_StrokeGlobalProperties props = Brush();
    props.scale.x = c.scaleX;
    V_Rect area{1, 2, 3, 4};
    p.renderer->Render(nullptr, shape.get(), props, c.dest, 1.0, 7, p.canvas->GetLayer(), &area);
    EXPECT_TRUE(area.IsEmpty());
    EXPECT_EQ(Compare(*p.canvas, *WhiteCanvas(8)).second, 0);
    if (c.scaleX != 1) {
      EXPECT_FALSE(p.renderer->GetPaintMask());
    } else {
      EXPECT_FALSE(p.Render(shape.get(), Brush(), kWhole).IsEmpty());
    }
  }
}

TEST_F(Renderer, DabsAtTheLayerEdgeAreClipped) {
  Painter p(16);
  // Along the left edge, half of every dab lies outside the layer.
  std::vector<Point> edge;
  for (int i = 0; i < 8; ++i) edge.push_back({double(i), 0.0, 0.1 + 0.1 * i, i != 0});
  std::unique_ptr<K_Shape> shape = MakeStroke(edge, edge.size());
  const V_Rect area = p.Render(shape.get(), Brush(), kWhole);
  EXPECT_EQ(area.left, 0);
  EXPECT_LT(Channel(*p.canvas, 0, 32, 1), 0.5);
  EXPECT_EQ(Channel(*p.canvas, 20, 32, 1), 1.0);
}

TEST_F(Renderer, CopiesContinueTheSameStroke) {
  // Rendering half a stroke with one renderer and the rest with its copy gives what one
  // renderer gives: the copy shares the mask, the placement cache and the backup.
  const std::vector<Point> points = Wave(16);
  Painter one(8), split(8);
  std::unique_ptr<K_Shape> a = MakeStroke(points, 8), b = MakeStroke(points, 8);
  one.Render(a.get(), Brush(), kWhole);
  split.Render(b.get(), Brush(), kWhole);
  K_InteractRenderer copy(*split.renderer);
  EXPECT_EQ(copy.GetPaintMask(), split.renderer->GetPaintMask());
  std::unique_ptr<K_Shape> fullA = MakeStroke(points, 16), fullB = MakeStroke(points, 16);
  one.Render(fullA.get(), Brush(), kWhole);
  V_Rect area;
  copy.Render(nullptr, fullB.get(), Brush(), kWhole, 1.0, 7, split.canvas->GetLayer(), &area);
  EXPECT_EQ(Compare(*one.canvas, *split.canvas).second, 0);
}

TEST_F(Renderer, MaskSamplesTheHostWritesAreComposited) {
  // The renderer composites only the mask cells it inked itself until the host takes
  // the mask: a sample written through GetPaintMask, far from any dab but inside the
  // next call's area, must be painted, and everything else must come out as a renderer
  // that never gave its mask away paints it.
  const int32_t w = 400, h = 100;
  const V_Rect dest{0, 0, int16_t(h), int16_t(w)};
  const auto stroke = [&](size_t count) {
    // Along the bottom, then back up across the canvas: the second call's area is
    // wide and mostly empty, over tiles the first call made valid.
    const std::vector<Point> path = {{0, 20.0 / w, 0.9, false},
                                     {1, 360.0 / w, 0.9, true},
                                     {2, 40.0 / w, 0.1, true}};
    return MakeStroke(path, count);
  };
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    struct Canvas {
      std::unique_ptr<GX_World> pixels; std::unique_ptr<K_InteractRenderer> renderer;
    } kept, taken;
    for (Canvas* c : {&kept, &taken}) {
      c->pixels.reset(GX_World::New(w, h, depth, 0));
      boost::shared_ptr<K_PaintSource> ink(new K_FillPaintSource(nullptr, GX_PixelFloat{1, 0, 0, 0}));
      c->renderer.reset(new K_InteractRenderer(int16_t(depth), ink, boost::shared_ptr<GX_World>(),
                                               nullptr, false));
      c->renderer->Render(nullptr, stroke(2).get(), Brush(), dest, 1.0, 7, c->pixels->GetLayer(),
                          nullptr);
    }
    GX_UnoBuffer* mask =
        dynamic_cast<GX_LazyFillUnoBufferOperator*>(taken.renderer->GetPaintMask()->GetOperator())
            ->GetBuffer();
    EXPECT_FALSE(mask->HasInkMap());
    if (depth == 8)
      mask->Row<uint8_t>(15)[330] = 255;
    else
      mask->Row<uint16_t>(15)[330] = 32768;
    V_Rect areaKept, areaTaken;
    kept.renderer->Render(nullptr, stroke(3).get(), Brush(), dest, 1.0, 7, kept.pixels->GetLayer(),
                          &areaKept);
    taken.renderer->Render(nullptr, stroke(3).get(), Brush(), dest, 1.0, 7,
                           taken.pixels->GetLayer(), &areaTaken);
    EXPECT_EQ(areaKept, areaTaken);
    ASSERT_TRUE(areaTaken.top <= 15 && areaTaken.left <= 330 && areaTaken.right > 330)
        << "the written sample must lie in the second call's area";
    int differing = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const auto* a = static_cast<const unsigned char*>(GXp_PixelAddress(*kept.pixels->GetLayer(), x, y));
        const auto* b = static_cast<const unsigned char*>(GXp_PixelAddress(*taken.pixels->GetLayer(), x, y));
        if (std::memcmp(a, b, std::size_t(GXp_PixelBytes(depth))) != 0) {
          ++differing;
          EXPECT_TRUE(x == 330 && y == 15) << "pixel " << x << "," << y;
        }
      }
    EXPECT_EQ(differing, 1);
  }
}

TEST_F(Renderer, FailedChecksReportTheirMessages) {
  std::unique_ptr<K_Shape> shape = MakeStroke(Wave(6), 6);
  {
    // A lazy copy whose operator is not a world copy.
    Painter p(8);
    boost::scoped_ptr<GX_UnoBuffer> buffer(new GX_UnoBuffer(kSize, kSize, 8));
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyFillUnoBufferOperator(&buffer, 0));
    p.renderer->SetLazyCopyPreStroke(boost::shared_ptr<GX_LazyTilesCondition>(
        new GX_LazyTilesCondition(GX_LazyTiles::kDefaultTileSize, &op)));
    EXPECT_EQ(ThrownCode([&] { p.Render(shape.get(), Brush(), kWhole); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, "NULL copy operator while rendering paint.");
  }
  {
    // A mask whose operator copies worlds instead of filling a buffer.
    Painter p(8);
    boost::shared_ptr<GX_World> w(GX_World::New(kSize, kSize, 8, 0));
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyWorldCopyOperator(w));
    p.renderer->SetPaintMask(boost::shared_ptr<GX_LazyTiles>(
        new GX_LazyTiles(GX_LazyTiles::kDefaultTileSize, &op)));
    EXPECT_EQ(ThrownCode([&] { p.Render(shape.get(), Brush(), kWhole); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, "Unable to access paint fill buffer.");
    V_Rect area{0, 0, 10, 10};
    EXPECT_EQ(ThrownCode([&] {
                p.renderer->RenderPaint(nullptr, Brush(), kWhole, 1.0, p.canvas->GetLayer(), &area);
              }),
              3);
    EXPECT_EQ(Y_LastVerificationReport().message, "Unable to access paint fill buffer operator.");
  }
  {
    // Placement's own checks reach the host unchanged.
    Painter p(8);
    K_StrokeGlobalProperties props = Brush();
    props.spacing = 0;
    EXPECT_EQ(ThrownCode([&] { p.Render(shape.get(), props, kWhole); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message,
              "WARNING: Brush spacing is invalid in the paint system.");
  }
}

TEST_F(Renderer, CancelStopsTheCallAndRestoresTheProgressRecord) {
  Painter p(8);
  std::unique_ptr<K_Shape> shape = MakeStroke(Wave(30), 30);
  ProgressRecorder rec(5, GX_Err_Cancelled);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(ThrownCode([&] { p.Render(shape.get(), Brush(), kWhole, &info); }), GX_Err_Cancelled);
  EXPECT_EQ(info.context, &rec);
  EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
}

TEST_F(Renderer, DabLoopMovesThroughItsShareOfTheCall) {
  // RenderTips spans the host's whole range before Render's own two steps: its second
  // half is stamping, whose steps 2 to 3 of 4 are the dab loop, so the dabs move the
  // host's fraction from 0.75 to 0.875, one hundredth of that at a time.
  Painter p(8);
  std::unique_ptr<K_Shape> shape = MakeStroke(Wave(40), 40);
  K_StrokeGlobalProperties props = Brush();
  props.spacing = 0.05;  // some hundreds of tips
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  p.Render(shape.get(), props, kWhole, &info);
  ASSERT_FALSE(rec.reports.empty());
  EXPECT_EQ(rec.reports.back(), std::make_pair(2, 2)) << "every phase closed";
  // RenderTips' reports come first; RenderPaint then starts the range again.
  std::vector<double> dabs;
  for (const auto& r : rec.reports) {
    EXPECT_GE(r.first, 0);
    EXPECT_LE(r.first, r.second);
    const double f = double(r.first) / r.second;
    if (!dabs.empty() && f < dabs.back()) break;
    if (f > 0.75 && f <= 0.875) dabs.push_back(f);
  }
  const std::set<double> inDabLoop(dabs.begin(), dabs.end());
  ASSERT_EQ(inDabLoop.size(), 100u);
  EXPECT_DOUBLE_EQ(*inDabLoop.begin(), 0.75 + 0.125 / 100);
  EXPECT_DOUBLE_EQ(*inDabLoop.rbegin(), 0.875);
}

TEST_F(Renderer, RendersOnTwoThreadsMatchTheSameRendersInTurn) {
  // Dithered tips draw their noise from the renderer's own generator, so renders on
  // two threads at once give the pixels they give one after the other.
  const auto paint = [](Painter* p, double phase) {
    std::vector<Point> points = Wave(30);
    for (Point& q : points) q.y = 0.5 + 0.35 * std::sin(q.x * 7 + phase);
    std::unique_ptr<K_Shape> shape(new K_Shape());
    K_StrokeGlobalProperties props = Brush();
    props.dither = true;
    props.hardness = 0.2;
    props.diameter = 14;
    for (size_t i = 0; i < points.size(); ++i) {
      Append(shape.get(), {points[i].t, points[i].x, points[i].y, true});
      V_Rect area;
      p->renderer->Render(nullptr, shape.get(), props, kWhole, 1.0, int32_t(phase * 10) + 1,
                          p->canvas->GetLayer(), &area);
    }
  };
  Painter aTurn(8), bTurn(8);
  paint(&aTurn, 0.0);
  paint(&bTurn, 2.0);
  for (int round = 0; round < 4; ++round) {
    Painter a(8), b(8);
    std::thread ta(paint, &a, 0.0), tb(paint, &b, 2.0);
    ta.join();
    tb.join();
    EXPECT_EQ(Compare(*a.canvas, *aTurn.canvas).second, 0) << "round " << round;
    EXPECT_EQ(Compare(*b.canvas, *bTurn.canvas).second, 0) << "round " << round;
  }
  EXPECT_GT(Compare(*aTurn.canvas, *bTurn.canvas).second, 0) << "the two strokes differ";
}

}  // namespace
