// SPDX-License-Identifier: MIT
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "kstroke/shape.h"
#include "stroke/tip_placement.h"
#include "stroke_test_support.h"
#include "test_support.h"

namespace {

using Pt = V_Vector2T<float>;
using Samples = std::vector<std::array<double, 3>>;  // time, x, y

// A stroke recorded from `samples`, each added even when unmoved if `unmoved`.
std::unique_ptr<K_Shape> Recorded(const Samples& samples, bool unmoved = false) {
  auto s = std::make_unique<K_Shape>();
  for (const auto& m : samples) {
    PaintPointerEvent e = Event(m[0], m[1], m[2]);
    e.addIfUnmoved = unmoved;
    Append(s.get(), e);
  }
  return s;
}

// Straight segments of lengths 1 and 3: (0,0) → (1,0) → (1,3).
std::unique_ptr<K_Shape> OneThree(double lastTime) { return Recorded({{0, 0, 0}, {1, 1, 0}, {lastTime, 1, 3}}); }

// Times exact to 1e-12, arc positions exact.
void ExpectDistances(const K_Shape& s, const Entries& want) {
  const Entries got = Pairs(s.timeDistanceTable);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got[i].first, want[i].first, 1e-12) << i;
    EXPECT_EQ(got[i].second, want[i].second) << i;
  }
}

class ShapeTiming : public TrackedTest {};

TEST_F(ShapeTiming, MakeFromHostShapeTimesByArcLength) {
  WS_Shape host(kWS_KindMask, nullptr);
  host.SetFlags(kWS_FlagOpen);
  for (Pt p : {Pt(0, 0), Pt(1, 0), Pt(1, 3)}) {
    int32_t index = 0;
    ASSERT_EQ(host.AddBezVertex(1e9, &index), 0);
    ASSERT_EQ(WS_ShapeMoveBezVertex(&host, index, p, 0, false), 0);
  }
  std::unique_ptr<K_Shape> s(K_Shape::MakeFromWSShape(&host));
  ASSERT_NE(s, nullptr);
  ExpectDistances(*s, {{0, 0}, {0.25, 1}, {1, 2}});
  EXPECT_TRUE(static_cast<const WS_Shape&>(*s) == host);
  // The default's spacing and factors stay: a forced tip at the start, all factors 1.
  EXPECT_EQ(s->tipSpacingTable.size(), 2u);
  EXPECT_FALSE(s->tipSpacingTable[0].value);
  EXPECT_EQ(s->GetStrokeDuration(), 1.0);
  EXPECT_EQ(ThrownCode([] { K_Shape::MakeFromWSShape(nullptr); }), 3);
}

TEST_F(ShapeTiming, SetConstantVelocity) {
  // Samples (time, point), added even when unmoved.
  struct Case { const char* name; Samples samples; Entries want; };
  const Case cases[] = {
      {"lengths 1 and 3 over 8", {{0, 0, 0}, {1, 1, 0}, {8, 1, 3}}, {{0, 0}, {2, 1}, {8, 2}}},
      {"single vertex unchanged", {{0.5, 0.2f, 0.2f}}, {{0.5, 0}}},
      // No length: vertices spread evenly over the duration instead of dividing by 0.
      {"zero length", {{0, 0.5, 0.5}, {1, 0.5, 0.5}, {6, 0.5, 0.5}}, {{0, 0}, {3, 1}, {6, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<K_Shape> s = Recorded(c.samples, true);
    s->SetConstantVelocity();
    ExpectDistances(*s, c.want);
  }
}

TEST_F(ShapeTiming, StrokeDuration) {
  EXPECT_EQ(K_Shape().GetStrokeDuration(), 0.0);
  std::unique_ptr<K_Shape> d(K_Shape::MakeDefault());
  EXPECT_EQ(d->GetStrokeDuration(), 1.0);
  EXPECT_EQ(OneThree(8)->GetStrokeDuration(), 8.0);
}

TEST_F(ShapeTiming, CurvesLengthsAndPoints) {
  std::unique_ptr<K_Shape> s = OneThree(2);
  double points[8];
  CRV_Curve curve;
  s->GetBezCurveFromSegment(1, points, &curve);
  EXPECT_EQ(curve.kind, 2);
  const double want[8] = {1, 0, 1, 0, 1, 3, 1, 3};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(points[i], want[i]) << i;
  EXPECT_EQ(curve.points[2], points + 4);
  EXPECT_EQ(ThrownCode([&] { s->GetBezCurveFromSegment(2, points, &curve); }), 10);
  EXPECT_EQ(ThrownCode([&] { s->GetBezCurveFromSegment(-1, points, &curve); }), 10);

  CRVTableCache tables;
  EXPECT_NEAR(s->GetSegmentLength(1, tables.Slot(1)), 3, 1e-12);
  EXPECT_NE(*tables.Slot(1), nullptr);
  EXPECT_EQ(s->GetSegmentLength(5, tables.Slot(5)), 0.0);  // absorbed
  EXPECT_EQ(*tables.Slot(5), nullptr);
  EXPECT_EQ(tables.Built(), 1u);

  V_Vector2T<double> p;
  s->EvaluateAtSValue(1.5, 1, tables.Slot(1), &p);
  EXPECT_NEAR(p.x, 1, 1e-12);
  EXPECT_NEAR(p.y, 1.5, 1e-9);
  s->EvaluateAtSValue(0, 1, tables.Slot(1), &p);
  EXPECT_EQ(p, V_Vector2T<double>(1, 0));
  s->EvaluateAtSValue(0, 2, tables.Slot(2), &p);  // the segment count: the path's end
  EXPECT_EQ(p, V_Vector2T<double>(1, 3));
  EXPECT_EQ(*tables.Slot(2), nullptr);

  const std::vector<double> c = s->GetCumulativeLengths();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], 0.0);
  EXPECT_NEAR(c[1], 1, 1e-12);
  EXPECT_NEAR(c[2], 4, 1e-12);
}

// The cache holds slots from the lowest segment asked for; slots asked below it, past
// it and again keep their tables, and every table goes with the cache (TrackedTest).
TEST_F(ShapeTiming, TableCacheKeepsSlotsAskedInAnyOrder) {
  const std::unique_ptr<K_Shape> s =
      Recorded({{0, 0, 0}, {1, 1, 0}, {2, 1, 3}, {3, 4, 3}, {4, 4, 4}, {5, 6, 4}});
  CRVTableCache tables;
  const double lengths[5] = {1, 3, 3, 1, 2};
  SEQ_Head** built[5] = {};
  for (int32_t segment : {3, 1, 4, 0, 3}) {
    EXPECT_NEAR(s->GetSegmentLength(segment, tables.Slot(segment)), lengths[segment], 1e-12) << segment;
    if (!built[segment]) built[segment] = *tables.Slot(segment);
  }
  for (int32_t segment = 0; segment < 5; ++segment) EXPECT_EQ(*tables.Slot(segment), built[segment]) << segment;
  EXPECT_EQ(built[2], nullptr);
  EXPECT_EQ(tables.Built(), 4u);
}

TEST_F(ShapeTiming, EvaluateAtZeroIsTheVertexExactly) {
  // A curved segment whose arc-length evaluation at 0 is not needed at all.
  const std::unique_ptr<K_Shape> s = Recorded({{0, 0.1, 0.7}, {1, 0.3, 0.2}, {2, 0.9, 0.4}});
  const double smooth = 1;
  ASSERT_EQ(s->MakeTangentsRavlo(&smooth), 0);
  CRVTableCache tables;
  V_Vector2T<double> p;
  s->EvaluateAtSValue(0, 1, tables.Slot(1), &p);
  EXPECT_EQ(p, V_Vector2T<double>(0.3f, 0.2f));
  EXPECT_EQ(tables.Built(), 0u);
}

TEST_F(ShapeTiming, ShapeGetValues) {
  // Two straight segments (0,0) → (4,0) → (4,4), one time unit each.
  const std::unique_ptr<K_Shape> s = Recorded({{0, 0, 0}, {1, 4, 0}, {2, 4, 4}});
  std::vector<V_Vector2T<float>> out = {{9, 9}};
  s->ShapeGetValues(0.5, 0.5, 4, &out);
  EXPECT_EQ(out.size(), 1u);  // untouched

  s->ShapeGetValues(0, 1, 4, &out);
  ASSERT_EQ(out.size(), 8u);  // ends on the last vertex: nothing cut
  EXPECT_EQ(out[0], Pt(0, 0));
  EXPECT_EQ(out[4], Pt(4, 0));

  // Positions 0.5 … 1.5: half of each segment's samples. Handles on the vertices
  // make B(t) = 4·(3t² − 2t³) along each segment.
  s->ShapeGetValues(0.25, 0.75, 4, &out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_FLOAT_EQ(out[0].x, 2.0f);
  EXPECT_FLOAT_EQ(out[1].x, 3.375f);
  EXPECT_EQ(out[2], Pt(4, 0));
  EXPECT_FLOAT_EQ(out[3].y, 0.625f);

  // Ending exactly on vertex 1 keeps segment 1 out.
  s->ShapeGetValues(0, 0.5, 4, &out);
  EXPECT_EQ(out.size(), 4u);
  K_Shape empty;
  empty.ShapeGetValues(0, 1, 4, &out);
  EXPECT_EQ(out.size(), 4u);
}

}  // namespace
