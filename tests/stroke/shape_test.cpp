// SPDX-License-Identifier: MIT
#include "kstroke/shape.h"

#include <cmath>
#include <memory>
#include <vector>

#include "stroke_test_support.h"
#include "test_support.h"

namespace {

using Pt = V_Vector2T<float>;

class KShape : public TrackedTest {};

TEST_F(KShape, ConstructionSetsHostKindAndFlags) {
  const V_FloatShortRect rect{0, 0, 640, 480};
  K_Shape withRect(&rect);
  EXPECT_EQ(withRect.Kind(), 2);
  EXPECT_EQ(withRect.Flags(), 1 | 8);
  ASSERT_NE(withRect.RelRect(), nullptr);
  EXPECT_TRUE(*withRect.RelRect() == rect);
  EXPECT_EQ(K_Shape().RelRect(), nullptr);
}

TEST_F(KShape, AppendVertexRecordsVertexAndTables) {
  K_Shape s;
  Append(&s, Event(0.5, 0.1, 0.2, false, {1, 1, 1, 30, 1}));
  Append(&s, Event(0.75, 0.3, 0.4, true));
  EXPECT_EQ(s.NumVertices(), 2);
  EXPECT_EQ(Vertex(s, 0), Pt(0.1f, 0.2f));
  EXPECT_EQ(Vertex(s, 1), Pt(0.3f, 0.4f));
  EXPECT_EQ(Pairs(s.timeDistanceTable), (Entries{{0.5, 0}, {0.75, 1}}));
  EXPECT_EQ(Pairs(s.tipSpacingTable), (Entries{{0.5, 0}, {0.75, 1}}));
  EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Angle]), (Entries{{0.5, 30}, {0.75, 0}}));
}

TEST_F(KShape, IgnoredSamplesLeaveShapeUnchanged) {
  K_Shape s;
  Append(&s, Event(1.0, 0.5, 0.5));
  const K_Shape before(s);
  struct Case { const char* name; PaintPointerEvent event; };
  const Case cases[] = {
      {"same time", Event(1.0, 0.6, 0.6)}, {"earlier time", Event(0.5, 0.6, 0.6)},
      {"same point", Event(2.0, 0.5, 0.5)},
      // 0.5 + 1e-12 rounds to the same float as 0.5.
      {"same point after float rounding", Event(2.0, 0.5 + 1e-12, 0.5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(s.AppendVertex(&c.event), 0);
    EXPECT_TRUE(s == before);
  }
  PaintPointerEvent unmoved = Event(2.0, 0.5, 0.5);
  unmoved.addIfUnmoved = true;
  Append(&s, unmoved);
  EXPECT_EQ(s.NumVertices(), 2);
  EXPECT_EQ(s.timeDistanceTable.back().value, 1.0);
}

TEST_F(KShape, RunsOfEqualValuesCollapse) {
  // Spacing flags keep the latest of a run of on and every off; factors keep the first
  // and latest entry of a run, whatever their value.
  K_Shape s;
  const bool flags[] = {false, true, true, true, false, false, true};
  const float diameters[] = {1, 1, 1, 0.5f, 0.5f, 0.5f, 0.5f};
  const Entries expected[] = {
      {{0, 1}},
      {{0, 1}, {1, 1}},
      {{0, 1}, {2, 1}},
      {{0, 1}, {2, 1}, {3, 0.5}},
      {{0, 1}, {2, 1}, {3, 0.5}, {4, 0.5}},
      {{0, 1}, {2, 1}, {3, 0.5}, {5, 0.5}},
      {{0, 1}, {2, 1}, {3, 0.5}, {6, 0.5}},
  };
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    Append(&s, Event(i, 0.1 * i, 0.0, flags[i], {diameters[i], 1, 1, 0, 1}));
    EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Diameter]), expected[i]);
  }
  EXPECT_EQ(Pairs(s.tipSpacingTable), (Entries{{0, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 1}}));
  EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Flow]), (Entries{{0, 1}, {6, 1}}));
}

TEST_F(KShape, MakeDefaultIsTheMiddleDiagonal) {
  std::unique_ptr<K_Shape> d(K_Shape::MakeDefault());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->NumVertices(), 2);
  EXPECT_EQ(d->Flags(), 1 | 8);
  EXPECT_EQ(Vertex(*d, 0), Pt(0.25f, 0.25f));
  EXPECT_EQ(Vertex(*d, 1), Pt(0.75f, 0.75f));
  // Its tables are checked byte for byte by ShapeChunks.DefaultStrokeWritesExactBytes.
}

TEST_F(KShape, EqualityLooksAtEveryTable) {
  std::unique_ptr<K_Shape> base(K_Shape::MakeDefault());
  ASSERT_NE(base, nullptr);
  struct Case { const char* name; void (*edit)(K_Shape*); };
  const Case cases[] = {
      {"param time", [](K_Shape* s) { s->paramTables[K_StrokeParam_Roundness][1].time = 1.5; }},
      {"param value", [](K_Shape* s) { s->paramTables[K_StrokeParam_Opacity][0].value = 0.5f; }},
      {"param length", [](K_Shape* s) { s->paramTables[K_StrokeParam_Angle].pop_back(); }},
      {"distance value", [](K_Shape* s) { s->timeDistanceTable[1].value = 1.5; }},
      {"spacing flag", [](K_Shape* s) { s->tipSpacingTable[0].value = true; }},
      {"spacing time", [](K_Shape* s) { s->tipSpacingTable[1].time = 2; }},
      {"NaN time", [](K_Shape* s) { s->timeDistanceTable[0].time = std::nan(""); }},
      {"geometry", [](K_Shape* s) { WS_ShapeMoveBezVertex(s, 0, Pt(0, 0), 0, false); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    K_Shape copy(*base);
    EXPECT_TRUE(copy == *base);
    c.edit(&copy);
    EXPECT_FALSE(copy == *base);
  }
}

TEST_F(KShape, CloneAndCloneDefault) {
  std::unique_ptr<K_Shape> d(K_Shape::MakeDefault());
  ASSERT_NE(d, nullptr);
  const WS_Shape* asHost = d.get();
  struct Case { const char* name; std::unique_ptr<WS_Shape> made; const K_Shape& want; };
  const K_Shape empty;
  const Case cases[] = {{"clone", std::unique_ptr<WS_Shape>(asHost->Clone()), *d},
                        {"empty", std::unique_ptr<WS_Shape>(d->CloneDefault(false)), empty},
                        {"default", std::unique_ptr<WS_Shape>(d->CloneDefault(true)), *d}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* k = dynamic_cast<K_Shape*>(c.made.get());
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(*k == c.want);
  }
}

TEST_F(KShape, AllocationFailuresComeBackAsNullOrCodes) {
  std::unique_ptr<K_Shape> d(K_Shape::MakeDefault());
  ASSERT_NE(d, nullptr);
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_EQ(d->Clone(), nullptr);
  EXPECT_EQ(d->CloneDefault(false), nullptr);
  EXPECT_EQ(K_Shape::MakeDefault(), nullptr);
  Y_MemTrackedObject::FailAllocationsAfter(1);  // the object, not its point list
  EXPECT_EQ(K_Shape::MakeDefault(), nullptr);
  Y_MemTrackedObject::FailAllocationsAfter(0);
  const PaintPointerEvent e = Event(2, 0.9, 0.9);
  EXPECT_EQ(d->AppendVertex(&e), Y_Err_OutOfMemory);  // the point list cannot grow
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  EXPECT_EQ(d->NumVertices(), 2);
  EXPECT_EQ(d->timeDistanceTable.size(), 2u);
}

TEST_F(KShape, BadEventsAreReportedCodes) {
  K_Shape s;
  const PaintPointerEvent nanTime = Event(std::nan(""), 0.1, 0.1), infX = Event(1, INFINITY, 0.1);
  for (const PaintPointerEvent* e : {static_cast<const PaintPointerEvent*>(nullptr), &nanTime, &infX}) {
    Y_ResetVerificationReports();
    EXPECT_EQ(s.AppendVertex(e), 3);
    EXPECT_EQ(Y_LastVerificationReport().message,
              "pointer event is missing or has a non-finite time or position");
  }
  EXPECT_EQ(s.NumVertices(), 0);
}

TEST_F(KShape, RecordingStopsWhereAppendingWouldInsert) {
  // Every recorded vertex lands at the end, in order, up to the limit; the next sample
  // is refused and changes nothing, rather than slipping in before the last vertex.
  K_Shape s;
  for (int32_t k = 0; k < kK_MaxRecordedVertices; ++k) {
    const PaintPointerEvent e = Event(k, (k % 100) / 100.0, k / 20000.0);
    ASSERT_EQ(s.AppendVertex(&e), 0) << k;
  }
  ASSERT_EQ(s.NumVertices(), kK_MaxRecordedVertices);
  EXPECT_EQ(s.timeDistanceTable.back().value, kK_MaxRecordedVertices - 1.0);
  EXPECT_EQ(Vertex(s, kK_MaxRecordedVertices - 1), Pt(0.23f, float(10923 / 20000.0)));
  const K_Shape full(s);
  const PaintPointerEvent more = Event(kK_MaxRecordedVertices, 0.5, 0.9);
  EXPECT_EQ(s.AppendVertex(&more), 3);
  EXPECT_EQ(Y_LastVerificationReport().message, "a recorded stroke holds at most 10924 vertices");
  EXPECT_TRUE(s == full);
  // A sample that adds no vertex is still ignored quietly.
  Append(&s, Event(kK_MaxRecordedVertices + 1, 0.23, 10923 / 20000.0));
}

TEST_F(KShape, HostVertexEditsLeaveTablesAlone) {
  std::unique_ptr<K_Shape> d(K_Shape::MakeDefault());
  ASSERT_NE(d, nullptr);
  const K_Shape before(*d);
  int32_t index = -1;
  ASSERT_EQ(d->AddBezVertex(0.5, &index), 0);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(d->NumVertices(), 3);
  EXPECT_EQ(Vertex(*d, 1), Pt(0.5f, 0.5f));
  EXPECT_EQ(Pairs(d->timeDistanceTable), Pairs(before.timeDistanceTable));
  EXPECT_EQ(d->RemoveBezVertex(4), WS_Err_BadIndex);
  EXPECT_EQ(d->AddBezVertex(0.5, nullptr), WS_Err_BadArgument);
  ASSERT_EQ(d->RemoveBezVertex(3), 0);
  EXPECT_TRUE(*d == before);
}

}  // namespace
