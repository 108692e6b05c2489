// SPDX-License-Identifier: MIT
#include "stroke/tip_placement.h"

#include <cmath>
#include <memory>
#include <vector>

#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "stroke_test_support.h"
#include "test_support.h"

namespace {

using Tips = std::vector<Kp_TipLocAndParams>;

constexpr double kLayer = 64;  // px; relative coordinates are px / 64, exact in float

struct Sample { double time, xPx, yPx; bool spacing; float diameter = 1, opacity = 1; };

void Append(K_Shape* s, const Sample& m) {
  Append(s, Event(m.time, m.xPx / kLayer, m.yPx / kLayer, m.spacing, {m.diameter, m.opacity, 1, 0, 1}));
}

std::unique_ptr<K_Shape> Stroke(std::initializer_list<Sample> samples) {
  auto s = std::make_unique<K_Shape>();
  for (const Sample& m : samples) Append(s.get(), m);
  return s;
}

Tips Place(const K_Shape& s, const K_StrokeGlobalProperties& props, Kp_TipLocationCache* cache,
           GX_ProgressInfo* progress = nullptr, double pixelAspect = 1.0) {
  const V_Rect layer{0, 0, int16_t(kLayer), int16_t(kLayer)};
  Kp_StrokeTipLocsAndParams out;
  s.GetTipParamsList(progress, &layer, pixelAspect, &props, cache, &out);
  EXPECT_EQ(out.endTime, s.GetStrokeDuration());
  return out.tips;
}

Tips PlaceFresh(const K_Shape& s, const K_StrokeGlobalProperties& props, double pixelAspect = 1.0) {
  Kp_TipLocationCache cache;
  return Place(s, props, &cache, nullptr, pixelAspect);
}

K_StrokeGlobalProperties Props(double diameter, double spacing) {
  K_StrokeGlobalProperties props;
  props.diameter = diameter;
  props.spacing = spacing;
  return props;
}

class TipPlacement : public TrackedTest {};

TEST_F(TipPlacement, ForcedTipsStepsAndLastTipFade) {
  // Steps of 10 × 0.25 = 2.5 px along y = 8, timed by arc length. A spacing-off event
  // forces a tip exactly on its vertex, and the steps resume from it; a stroke whose
  // first event is on starts one step along. The last tip fades to the share of a step
  // the path runs on past it, unless a spacing-off event placed it.
  struct Tip { double x, time; float flow; bool forced; };
  struct Case { const char* name; std::unique_ptr<K_Shape> stroke; std::vector<Tip> tips; };
  Case cases[] = {
      // A (8) off, B (12) on, C (14) off, D (20) on: the spaced tip at 15.5 would pass
      // over C's forced tip and is not placed; the path ends 1 px = 40 % of a step on.
      {"forced tips restart the steps",
       Stroke({{0, 8, 8, false}, {1, 12, 8, true}, {2, 14, 8, false}, {3, 20, 8, true}}),
       {{8, 0, 1, true}, {10.5, 0.625, 1, false}, {13, 1.5, 1, false}, {14, 2, 1, true},
        {16.5, 2 + 2.5 / 6, 1, false}, {19, 2 + 5.0 / 6, 0.4f, false}}},
      {"first event off: tip on the first vertex", Stroke({{0, 8, 8, false}, {1, 14, 8, true}}),
       {{8, 0, 1, true}, {10.5, 2.5 / 6, 1, false}, {13, 5.0 / 6, 0.4f, false}}},
      {"first event on: first tip one step along", Stroke({{0, 8, 8, true}, {1, 14, 8, true}}),
       {{10.5, 2.5 / 6, 1, false}, {13, 5.0 / 6, 0.4f, false}}},
      {"one vertex, spacing on: no tip", Stroke({{0, 8, 8, true}}), {}},
      {"one vertex, spacing off: one tip", Stroke({{0, 8, 8, false}}), {{8, 0, 1, true}}},
      {"last tip at a spacing-off event: no fade", Stroke({{0, 8, 8, false}, {1, 9, 8, false}}),
       {{8, 0, 1, true}, {9, 1, 1, true}}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Tips tips = PlaceFresh(*c.stroke, K_StrokeGlobalProperties());
    ASSERT_EQ(tips.size(), c.tips.size());
    for (size_t i = 0; i < tips.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_NEAR(tips[i].location.x, c.tips[i].x, c.tips[i].forced ? 0 : 1e-9);
      EXPECT_NEAR(tips[i].location.y, 8, 1e-9);
      EXPECT_NEAR(tips[i].time, c.tips[i].time, c.tips[i].forced ? 0 : 1e-12);
      EXPECT_NEAR(tips[i].flow, c.tips[i].flow, 1e-6);
      EXPECT_EQ(tips[i].diameter, 1.0f);
    }
  }
}

TEST_F(TipPlacement, StepLengthAndItsFloors) {
  // 31.97 px: no step count lands exactly on the end.
  std::unique_ptr<K_Shape> s = Stroke({{0, 8, 8, false}, {1, 39.97, 8, true}});
  struct Case { const char* name; double diameter, spacing, roundness, step; };
  const Case cases[] = {
      {"plain", 10, 0.25, 1, 2.5}, {"roundness product floored at 0.01", 100, 0.25, 0.001, 0.25},
      {"step floored at 0.05", 0.1, 0.1, 1, 0.05}, {"roundness scales the step", 10, 0.5, 0.5, 2.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    K_StrokeGlobalProperties props = Props(c.diameter, c.spacing);
    props.roundness = c.roundness;
    const Tips tips = PlaceFresh(*s, props);
    ASSERT_GE(tips.size(), 3u);
    EXPECT_NEAR(tips[1].location.x - tips[0].location.x, c.step, 1e-9);
    EXPECT_NEAR(tips[2].location.x - tips[1].location.x, c.step, 1e-9);
    EXPECT_EQ(tips.size(), size_t(std::floor(31.97 / c.step)) + 1);
  }
}

TEST_F(TipPlacement, DiameterFactorSetsTheNextStep) {
  std::unique_ptr<K_Shape> s = Stroke({{0, 8, 32, false}, {1, 18, 32, true}, {2, 28, 32, true, 2}});
  const Tips tips = PlaceFresh(*s, K_StrokeGlobalProperties());
  // Past x = 18 the factor grows from 1 to 2, so the steps grow with it.
  for (size_t i = 1; i + 1 < tips.size(); ++i) {
    const double step = tips[i + 1].location.x - tips[i].location.x;
    EXPECT_NEAR(step, 2.5 * tips[i].diameter, 1e-9) << i;
  }
  EXPECT_GT(tips.back().diameter, 1.5f);
}

TEST_F(TipPlacement, GrowingStrokeGivesTheSameTipsAsOneCall) {
  std::vector<Sample> samples = {{0, 4, 4, false},    {0.5, 9, 6, true},   {1, 15, 11, true},
                                 {1.3, 16, 12, true},  {2, 20, 20, false},  {2.2, 24, 21, true},
                                 {3, 31, 25, true},    {3.4, 31.5, 25, true}, {4, 40, 30, false},
                                 {5, 47, 37, true}};
  for (Sample& m : samples) m.opacity = float(0.5 + 0.1 * m.time);
  K_Shape full;
  for (const Sample& m : samples) Append(&full, m);
  const K_StrokeGlobalProperties props = Props(7, 0.3);
  const Tips once = PlaceFresh(full, props);
  ASSERT_GT(once.size(), 20u);

  // The host delivers the same stroke sample by sample and renders after each.
  K_Shape growing;
  Kp_TipLocationCache cache;
  Tips collected;
  for (const Sample& m : samples) {
    Append(&growing, m);
    const Tips batch = Place(growing, props, &cache);
    // Each call starts with the previous call's provisional last tip again.
    if (!collected.empty() && !batch.empty()) {
      EXPECT_NEAR(batch.front().time, collected.back().time, 1e-12);
      collected.pop_back();
    }
    collected.insert(collected.end(), batch.begin(), batch.end());
  }
  ASSERT_EQ(collected.size(), once.size());
  for (size_t i = 0; i < once.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(collected[i].location.x, once[i].location.x, 1e-9);
    EXPECT_NEAR(collected[i].location.y, once[i].location.y, 1e-9);
    EXPECT_NEAR(collected[i].time, once[i].time, 1e-12);
    EXPECT_EQ(collected[i].opacity, once[i].opacity);
    EXPECT_EQ(collected[i].flow, once[i].flow);
  }
}

TEST_F(TipPlacement, RepeatedCallReturnsOnlyTheProvisionalTip) {
  std::unique_ptr<K_Shape> s = Stroke({{0, 8, 8, false}, {1, 20, 8, true}});
  Kp_TipLocationCache cache;
  const Tips first = Place(*s, K_StrokeGlobalProperties(), &cache);
  ASSERT_GE(first.size(), 3u);
  EXPECT_TRUE(cache.started);
  EXPECT_NEAR(cache.time, first[first.size() - 2].time, 1e-12);
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call);
    const Tips again = Place(*s, K_StrokeGlobalProperties(), &cache);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].location.x, first.back().location.x);
    EXPECT_EQ(again[0].flow, first.back().flow);
  }
  // A call that places nothing leaves the cache all zero.
  std::unique_ptr<K_Shape> none = Stroke({{0, 8, 8, true}});
  Kp_TipLocationCache fresh;
  EXPECT_TRUE(Place(*none, K_StrokeGlobalProperties(), &fresh).empty());
  EXPECT_FALSE(fresh.started);
  EXPECT_EQ(fresh.time, 0.0);
  EXPECT_EQ(fresh.segment, 0);
}

TEST_F(TipPlacement, ScaleSpreadsTipsWithoutAddingAny) {
  std::unique_ptr<K_Shape> s = Stroke({{0, 8, 8, false}, {1, 20, 13, true}, {2, 30, 8, true}});
  K_StrokeGlobalProperties props;
  props.anchor = V_Vector2T<double>(8 / kLayer, 8 / kLayer);
  props.position = props.anchor;
  const Tips plain = PlaceFresh(*s, props);
  props.scale = V_Vector2T<double>(2, 2);
  const Tips scaled = PlaceFresh(*s, props);
  ASSERT_EQ(scaled.size(), plain.size());
  ASSERT_GT(plain.size(), 5u);
  for (size_t i = 1; i < plain.size(); ++i) {
    SCOPED_TRACE(i);
    const auto step = [i](const Tips& t) {
      return std::hypot(t[i].location.x - t[i - 1].location.x, t[i].location.y - t[i - 1].location.y);
    };
    EXPECT_NEAR(step(scaled), 2 * step(plain), 1e-9);
    EXPECT_EQ(scaled[i].time, plain[i].time);
  }
}

TEST_F(TipPlacement, OutputMapping) {
  // Horizontal stroke from the anchor (16, 32) px on a 64 × 64 layer at (100, 200).
  std::unique_ptr<K_Shape> s = Stroke({{0, 16, 32, false}, {1, 26, 32, true}});
  K_StrokeGlobalProperties props;
  props.anchor = V_Vector2T<double>(0.25, 0.5);
  props.position = V_Vector2T<double>(0.5, 0.5);
  const V_Rect layer{200, 100, 264, 164};
  // `second`: where the tip one step (2.5 tip-space px) along lands.
  struct Case { const char* name; double aspect, rotation; V_Vector2T<double> second; };
  const Case cases[] = {
      {"plain", 1, 0, {134.5, 232}}, {"rotated 90: +x turns toward +y", 1, 90, {132, 234.5}},
      // Tip space has square pixels: 2.5 of them are 1.25 pixels twice as wide.
      {"pixel aspect 2", 2, 0, {133.25, 232}}, {"pixel aspect 2, rotated", 2, 90, {132, 234.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    props.rotation = c.rotation;
    Kp_TipLocationCache cache;
    Kp_StrokeTipLocsAndParams out;
    s->GetTipParamsList(nullptr, &layer, c.aspect, &props, &cache, &out);
    ASSERT_GE(out.tips.size(), 2u);
    EXPECT_NEAR(out.tips[0].location.x, 132, 1e-9);
    EXPECT_NEAR(out.tips[0].location.y, 232, 1e-9);
    EXPECT_NEAR(out.tips[1].location.x, c.second.x, 1e-9);
    EXPECT_NEAR(out.tips[1].location.y, c.second.y, 1e-9);
  }
}

TEST_F(TipPlacement, TrimToRange) {
  auto make = [] {
    Kp_StrokeTipLocsAndParams out;
    out.endTime = 1.0;
    for (double t : {0.0, 0.2, 0.4, 0.6, 0.8, 1.0}) {
      Kp_TipLocAndParams tip;
      tip.time = t;
      tip.flow = 1.0f;
      out.tips.push_back(tip);
    }
    return out;
  };
  struct Case { const char* name; double start, end; std::vector<double> times; float firstFlow, lastFlow; };
  const Case cases[] = {
      {"whole stroke", 0, 1, {0, 0.2, 0.4, 0.6, 0.8, 1.0}, 1, 1},
      // Tips at or after 0.5 go; the last one keeps the half of (0.4, 0.6) before 0.5.
      {"end 0.5", 0, 0.5, {0, 0.2, 0.4}, 1, 0.5f},
      {"start 0.3", 0.3, 1, {0.2, 0.4, 0.6, 0.8, 1.0}, 0.5f, 1},
      {"one tip left", 0.45, 0.5, {0.4}, 0.25f, 0.25f},
      // The tip before the start survives, faded by both ends: 0.25 + 0.8 − 1.
      {"range between two tips", 0.55, 0.56, {0.4}, 0.05f, 0.05f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Kp_StrokeTipLocsAndParams out = make();
    TrimTipsToRange(&out, c.start, c.end);
    ASSERT_EQ(out.tips.size(), c.times.size());
    for (size_t i = 0; i < c.times.size(); ++i) EXPECT_DOUBLE_EQ(out.tips[i].time, c.times[i]);
    EXPECT_NEAR(out.tips.front().flow, c.firstFlow, 1e-6);
    EXPECT_NEAR(out.tips.back().flow, c.lastFlow, 1e-6);
  }
}

TEST_F(TipPlacement, TrimEndHalfThroughPlacement) {
  // 24 px in one time unit: tips every 2.5 px; half the end time is at 12 px.
  std::unique_ptr<K_Shape> s = Stroke({{0, 8, 8, false}, {1, 32, 8, true}});
  K_StrokeGlobalProperties props;
  props.end = 0.5;
  const Tips tips = PlaceFresh(*s, props);
  ASSERT_EQ(tips.size(), 5u);  // at 0, 2.5, … 10 px
  EXPECT_NEAR(tips.back().location.x, 18, 1e-9);
  // 12 px lies 80 % of the way from the last tip (10) to the removed one (12.5).
  EXPECT_NEAR(tips.back().flow, 0.8, 1e-6);
  EXPECT_EQ(tips.front().flow, 1.0f);
}

TEST_F(TipPlacement, InvalidInputsReportInOrder) {
  std::unique_ptr<K_Shape> good(K_Shape::MakeDefault());
  K_Shape noTiming;
  K_Shape noSpacing(*good);
  noSpacing.tipSpacingTable.clear();
  struct Case { const char* name; const K_Shape* shape; double spacing, diameter; const char* message; };
  const char* kBadSpacing = "WARNING: Brush spacing is invalid in the paint system.";
  const Case cases[] = {
      {"zero spacing", good.get(), 0, 10, kBadSpacing},
      {"negative spacing", good.get(), -1, 10, kBadSpacing},
      {"NaN spacing", good.get(), std::nan(""), 10, kBadSpacing},
      {"spacing before diameter", &noTiming, 0, 0, kBadSpacing},
      {"NaN diameter", good.get(), 0.25, std::nan(""), "WARNING: Brush diameter is invalid in the paint system."},
      {"no timing", &noTiming, 0.25, 10,
       "WARNING: Paint timing information is missing in the paint system."},
      {"no spacing table", &noSpacing, 0.25, 10, "WARNING: Brush spacing is missing in the paint system."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Y_ResetVerificationReports();
    EXPECT_EQ(ThrownCode([&] { PlaceFresh(*c.shape, Props(c.diameter, c.spacing)); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, c.message);
    EXPECT_EQ(Y_LastVerificationReport().count, 1);
  }

  // A location that was never filled cannot lead to a next tip.
  Kp_TipLocationCache broken;
  broken.time = -1;
  EXPECT_EQ(ThrownCode([&] { Place(*good, K_StrokeGlobalProperties(), &broken); }), 3);
  EXPECT_EQ(Y_LastVerificationReport().message, "WARNING: Paint system unable to calculate next tip.");

  EXPECT_EQ(ThrownCode([&] { PlaceFresh(*good, K_StrokeGlobalProperties(), 0); }), 3);
  EXPECT_EQ(Y_LastVerificationReport().message, "pixel aspect 0 is not a positive finite number");
}

TEST_F(TipPlacement, ProgressPerSegmentAndCancellation) {
  std::unique_ptr<K_Shape> s =
      Stroke({{0, 8, 8, false}, {1, 18, 8, true}, {2, 28, 8, true}, {3, 38, 8, true}});
  ProgressRecorder recorder;
  GX_ProgressInfo info = recorder.Record();
  Kp_TipLocationCache cache;
  const Tips tips = Place(*s, K_StrokeGlobalProperties(), &cache, &info);
  ASSERT_FALSE(tips.empty());
  const std::vector<std::pair<int32_t, int32_t>> want = {{1, 3}, {2, 3}, {3, 3}};
  EXPECT_EQ(recorder.reports, want);
  EXPECT_EQ(info.progress, &ProgressRecorder::Callback);  // restored
  EXPECT_EQ(info.context, &recorder);

  // Cancelled at the step into segment 2: the error reaches the caller, tables are
  // freed (TrackedTest), the cache holds the last tip placed, the tips are raw.
  ProgressRecorder cancel(1, 77);
  GX_ProgressInfo cancelInfo = cancel.Record();
  Kp_TipLocationCache partial;
  const V_Rect layer{0, 0, 64, 64};
  Kp_StrokeTipLocsAndParams out;
  K_StrokeGlobalProperties props;
  EXPECT_EQ(ThrownCode([&] { s->GetTipParamsList(&cancelInfo, &layer, 1.0, &props, &partial, &out); }), 77);
  EXPECT_EQ(cancelInfo.progress, &ProgressRecorder::Callback);
  ASSERT_FALSE(out.tips.empty());
  EXPECT_TRUE(partial.started);
  EXPECT_EQ(partial.time, out.tips.back().time);
  EXPECT_EQ(partial.segment, 1);
  EXPECT_GT(out.tips.back().location.x, 18.0);  // segment 1 runs from 18 to 28 px
  EXPECT_LE(out.tips.back().location.x, 28.0);
  // Every tip placed before the error has its place, the one the whole run gives (the
  // output mapping is the identity here).
  ASSERT_LE(out.tips.size(), tips.size());
  for (size_t i = 0; i < out.tips.size(); ++i) EXPECT_EQ(out.tips[i].location, tips[i].location) << i;
}

}  // namespace
