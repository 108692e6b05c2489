// SPDX-License-Identifier: MIT
// Pointer events as painters expect them: taps, curves, the stabiliser and symmetry.
#include "document/stroke_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "document/render_document.h"
#include "document/symmetry.h"
#include "golden_support.h"
#include "kstroke/stroke_props.h"
#include "stroke/tip_placement.h"
#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

DocStroke StrokeOf(const std::vector<std::array<double, 3>>& txy) {
  DocStroke s;
  for (const auto& p : txy) {
    DocEvent e;
    e.time = p[0];
    e.x = p[1];
    e.y = p[2];
    s.events.push_back(e);
  }
  return s;
}

// Samples every `degrees` around a circle of `radius` pixels on a 512² canvas, from 0
// up to `upTo` degrees.
DocStroke Circle(double radius, double degrees, double upTo) {
  std::vector<std::array<double, 3>> txy;
  for (double a = 0; a <= upTo + 1e-9; a += degrees)
    txy.push_back({a / 360, (256 + radius * std::cos(a * kPi / 180)) / 512,
                   (256 + radius * std::sin(a * kPi / 180)) / 512});
  return StrokeOf(txy);
}

// The tips of the whole recorded stroke, in canvas pixels.
std::vector<V_Vector2T<double>> TipCentres(const K_Shape& shape, const DocBrush& brush) {
  K_StrokeGlobalProperties props;
  props.diameter = brush.diameter;
  props.spacing = brush.spacing;
  Kp_TipLocationCache cache;
  Kp_StrokeTipLocsAndParams tips;
  const V_Rect frame{0, 0, 512, 512};
  shape.GetTipParamsList(nullptr, &frame, 1.0, &props, &cache, &tips);
  std::vector<V_Vector2T<double>> out;
  for (const auto& t : tips.tips) out.push_back(t.location);
  return out;
}

std::vector<std::array<float, 2>> Vertices(const K_Shape& shape) {
  std::vector<std::array<float, 2>> out;
  for (int32_t k = 0; k < shape.NumVertices(); ++k) {
    V_Vector2T<float> p;
    EXPECT_EQ(SEQ_GetItem(shape.Points(), 3 * k, &p), 0);
    out.push_back({p.x, p.y});
  }
  return out;
}

class StrokeInput : public TrackedTest {};

TEST_F(StrokeInput, EveryStrokeStartsWithADabWhereThePenLands) {
  // One event, two on one spot, and a moving stroke whose first event asks for spacing:
  // the first tip is always a forced one at the first event.
  const DocStroke kStrokes[] = {StrokeOf({{0, 0.5, 0.5}}), StrokeOf({{0, 0.5, 0.5}, {1, 0.5, 0.5}}),
                                StrokeOf({{0, 0.2, 0.5}, {1, 0.8, 0.5}})};
  for (const DocStroke& s : kStrokes) {
    SCOPED_TRACE(s.events.size());
    const std::unique_ptr<K_Shape> shape = RecordStroke(s, 512, 512, "t");
    ASSERT_FALSE(shape->tipSpacingTable.empty());
    EXPECT_EQ(shape->tipSpacingTable.front().time, 0.0);
    EXPECT_FALSE(shape->tipSpacingTable.front().value);
    const auto tips = TipCentres(*shape, s.brush);
    ASSERT_FALSE(tips.empty());
    EXPECT_NEAR(tips.front().x, s.events[0].x * 512, 1e-4);
    EXPECT_NEAR(tips.front().y, s.events[0].y * 512, 1e-4);
  }
  // And the tap shows on the canvas.
  StrokeDoc tap;
  tap.width = tap.height = 64;
  tap.strokes.push_back(StrokeOf({{0, 0.5, 0.5}}));
  const std::unique_ptr<GX_World> canvas = RenderDocument(tap, nullptr);
  EXPECT_EQ(static_cast<const GX_Pixel8*>(GXp_PixelAddress(*canvas->GetLayer(), 32, 32))->red, 0);
}

TEST_F(StrokeInput, CurvesPassThroughSamplesOnACircleWithinHalfAPixel) {
  // Ten samples a turn, radius 100 px. Straight segments cut the corners by
  // 100 · (1 − cos 18°) = 4.9 px; the curve stays within half a pixel. The first and
  // last segments, whose outer neighbour is a mirror image, are left out.
  for (const char* smoothing : {"curve", "none"}) {
    SCOPED_TRACE(smoothing);
    DocStroke s = Circle(100, 36, 360);
    s.brush.smoothing = smoothing;
    s.brush.diameter = 4;
    s.brush.spacing = 0.25;
    const std::unique_ptr<K_Shape> shape = RecordStroke(s, 512, 512, "circle");
    ASSERT_EQ(shape->NumVertices(), 11);
    double worst = 0;
    size_t checked = 0;
    for (const auto& t : TipCentres(*shape, s.brush)) {
      const double angle = std::atan2(t.y - 256, t.x - 256) * 180 / kPi;
      const double along = angle < 0 ? angle + 360 : angle;
      if (along < 36 || along > 324) continue;
      worst = std::max(worst, std::fabs(std::hypot(t.x - 256, t.y - 256) - 100));
      ++checked;
    }
    EXPECT_GT(checked, 100u);
    if (std::string(smoothing) == "curve")
      EXPECT_LT(worst, 0.5);
    else
      EXPECT_GT(worst, 4.5);
  }
}

TEST_F(StrokeInput, TheStabiliserLagsAndCatchesUp) {
  // The pointer jumps 100 px right and stays; with strength 0.5 the brush covers half
  // the remaining way per sample, then catches up after the last event.
  DocStroke s = StrokeOf({{0, 0.0, 0.5}, {1, 0.5, 0.5}, {2, 0.5, 0.5 + 1e-6}, {3, 0.5, 0.5 + 2e-6}});
  s.brush.stabiliser = 0.5;
  const std::unique_ptr<K_Shape> shape = RecordStroke(s, 200, 200, "lag");
  const auto v = Vertices(*shape);
  ASSERT_GE(v.size(), 5u);
  EXPECT_EQ(v[1][0], float(50.0 / 200));
  EXPECT_EQ(v[2][0], float(75.0 / 200));
  EXPECT_EQ(v[3][0], float(87.5 / 200));
  EXPECT_EQ(v.back(), (std::array<float, 2>{{0.5f, float(0.5 + 2e-6)}})) << "ends on the pointer";
  // Catch-up vertices come after the last event, one event interval apart.
  const auto& td = shape->timeDistanceTable;
  EXPECT_EQ(td[4].time, 4.0);
  EXPECT_EQ(td.back().time, double(td.size() - 1));
  EXPECT_LE(td.size(), 4u + 9u) << "within a quarter pixel in a handful of samples";
  // A stabiliser of 0.99 would need some 600 samples: the catch-up stops after 200 and
  // the last vertex jumps onto the pointer.
  DocStroke slow = StrokeOf({{0, 0.0, 0.5}, {1, 0.5, 0.5}});
  slow.brush.stabiliser = 0.99;
  const std::unique_ptr<K_Shape> capped = RecordStroke(slow, 200, 200, "cap");
  EXPECT_EQ(capped->NumVertices(), 2 + 200 + 1);
  EXPECT_EQ(capped->timeDistanceTable.back().time, 202.0);
  EXPECT_EQ(Vertices(*capped).back(), (std::array<float, 2>{{0.5f, 0.5f}}));
}

TEST_F(StrokeInput, BatchingDoesNotChangeTheStroke) {
  // The provisional last dab of each call is taken back, curves wait for the next
  // sample and the stabiliser catches up at the end, yet one event per render call and
  // all events in one call paint the same pixels.
  StrokeDoc doc = LoadStrokeDoc(KSTROKE_SOURCE_DIR "/examples/pressure.json");
  doc.strokes[0].brush.smoothing = "curve";
  doc.strokes[0].brush.stabiliser = 0.4;
  doc.strokes[0].brush.dynamics.factors[3] = {
      {DynamicsInput::kDirection, {{-180, -180}, {180, 180}}}};
  doc.strokes[0].brush.roundness = 0.5;
  doc.batch = 1;
  const std::unique_ptr<GX_World> one = RenderDocument(doc, nullptr);
  doc.batch = 1000000;
  const std::unique_ptr<GX_World> all = RenderDocument(doc, nullptr);
  EXPECT_EQ(RowsDiffering(*one, *all), 0);
}

TEST_F(StrokeInput, SymmetryCopiesAreMovedStrokes) {
  StrokeDoc doc;
  doc.width = doc.height = 100;
  DocStroke s = StrokeOf({{0, 0.2, 0.3}, {1, 0.7, 0.5}});
  s.brush.angle = 30;
  s.events[1].params = std::array<float, 5>{{1, 1, 1, 10, 1}};
  s.symmetry.mirror = "vertical";
  s.symmetry.rotate = 4;
  doc.strokes = {s};
  const StrokeDoc expanded = ExpandSymmetry(doc);
  ASSERT_EQ(expanded.strokes.size(), 8u);
  // Copy 1 mirrors left-right; copy 2 turns a quarter counter-clockwise on the screen.
  const auto first = Vertices(*RecordStroke(expanded.strokes[0], 100, 100, "0"));
  const std::unique_ptr<K_Shape> mirroredShape = RecordStroke(expanded.strokes[1], 100, 100, "1");
  const auto mirrored = Vertices(*mirroredShape);
  const std::unique_ptr<K_Shape> turnedShape = RecordStroke(expanded.strokes[2], 100, 100, "2");
  const auto turned = Vertices(*turnedShape);
  EXPECT_EQ(first[0], (std::array<float, 2>{{0.2f, 0.3f}}));
  EXPECT_EQ(mirrored[0], (std::array<float, 2>{{0.8f, 0.3f}}));
  EXPECT_NEAR(turned[0][0], 0.3, 1e-6);  // (−30, −20) from the centre → (−20, 30)
  EXPECT_NEAR(turned[0][1], 0.8, 1e-6);
  EXPECT_EQ(expanded.strokes[1].brush.angle, -30);
  EXPECT_EQ(expanded.strokes[2].brush.angle, 120);
  EXPECT_EQ(mirroredShape->paramTables[3].back().value, -10.0f);
  EXPECT_EQ(turnedShape->paramTables[3].back().value, 10.0f);
  for (const DocStroke& c : expanded.strokes) EXPECT_TRUE(c.symmetry == DocSymmetry());

  // A left-right mirror about the canvas's middle paints a picture that is its own
  // mirror image, give or take the rasterizer's rounding. (An unturned tip: the sampling of
  // a turned one is not mirror-exact between +a and −a.)
  StrokeDoc pair = LoadStrokeDoc(KSTROKE_SOURCE_DIR "/examples/ellipse.json");
  pair.strokes.resize(1);
  pair.strokes[0].brush.roundness = 1;
  pair.strokes[0].brush.angle = 0;
  pair.strokes[0].symmetry.mirror = "vertical";
  const std::unique_ptr<GX_World> canvas = RenderDocument(pair, nullptr);
  const GX_LayerDef& l = *canvas->GetLayer();
  int worst = 0;
  long painted = 0;
  for (int y = 0; y < l.height; ++y)
    for (int x = 0; x < l.width; ++x) {
      const auto* a = static_cast<const GX_Pixel8*>(GXp_PixelAddress(l, x, y));
      const auto* b = static_cast<const GX_Pixel8*>(GXp_PixelAddress(l, l.width - 1 - x, y));
      worst = std::max(worst, std::abs(int(a->red) - int(b->red)));
      painted += a->red < 128;
    }
  EXPECT_LE(worst, 3);
  EXPECT_GT(painted, 2000);
}

// Two turns round a circle, the tip's angle following the direction: the recorded
// angles never jump by more than half a turn (the engine interpolates between them, so
// a jump would spin the tip), and each is the direction of its motion up to whole turns.
TEST_F(StrokeInput, AnAngleFollowingTheDirectionTakesTheShortWayRound) {
  DocStroke s = Circle(100, 10, 720);
  s.brush.dynamics = Dynamics();
  s.brush.dynamics.factors[3] = {{DynamicsInput::kDirection, {{-180, -180}, {180, 180}}}};
  const std::unique_ptr<K_Shape> shape = RecordStroke(s, 512, 512, "t");
  const auto& angles = shape->paramTables[K_StrokeParam_Angle];
  ASSERT_EQ(angles.size(), s.events.size());
  for (size_t k = 1; k < angles.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_LE(std::fabs(angles[k].value - angles[k - 1].value), 180.0f);
    // The motion into sample k runs along the tangent at (k − ½)·10°, clockwise on the
    // screen: −((k − ½)·10 + 90) degrees up from the x axis. The factor is its negative
    // (the engine turns tips clockwise).
    const double heading = -(std::fmod((static_cast<double>(k) - 0.5) * 10 + 90, 360.0));
    const double turns = (-angles[k].value - heading) / 360;
    EXPECT_NEAR(turns, std::round(turns), 1e-4) << angles[k].value << " vs " << heading;
  }
  EXPECT_GT(angles.back().value, 600.0f) << "two clockwise turns accumulate";
}

}  // namespace
