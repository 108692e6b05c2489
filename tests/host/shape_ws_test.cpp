// SPDX-License-Identifier: MIT
#include "host/ws/ws.h"

#include <memory>
#include <vector>

#include "host/crv/crv.h"
#include "test_support.h"
#include "ws_test_support.h"

namespace {

Pt Vertex(const WS_Shape& s, int32_t k) {
  Pt p;
  EXPECT_EQ(SEQ_GetItem(s.Points(), 3 * k, &p), 0);
  return p;
}

double SegmentLength(const WS_Shape& s, int32_t seg) {
  double xy[8];
  CRV_Curve c;
  const int32_t n = SEQ_Count(s.Points());
  for (int i = 0; i < 4; ++i) {
    Pt p;
    SEQ_GetItem(s.Points(), (3 * seg + i) % n, &p);
    xy[2 * i] = p.x;
    xy[2 * i + 1] = p.y;
    c.points[i] = xy + 2 * i;
  }
  SEQ_Head** table = nullptr;
  double len = 0;
  EXPECT_EQ(CRV_SFromT(&c, 1, 500, &table, &len), 0);
  SEQ_Dispose(table, 0);
  return len;
}

class WsShape : public TrackedTest {};

TEST_F(WsShape, AppendedVerticesFormStraightSegments) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {3, 4}, {3, 10}});
  EXPECT_EQ(s->NumVertices(), 3);
  EXPECT_EQ(s->BezTrueNumSegs(), 2);
  EXPECT_NEAR(SegmentLength(*s, 0), 5, 1e-9);
  EXPECT_NEAR(SegmentLength(*s, 1), 6, 1e-9);
  // Tangent points of a recorded polyline sit on the vertices.
  const std::vector<Pt> items = Items(*s);
  ASSERT_GE(items.size(), 7u);
  EXPECT_EQ(std::vector<Pt>(items.begin(), items.begin() + 7),
            (std::vector<Pt>{{0, 0}, {0, 0}, {3, 4}, {3, 4}, {3, 4}, {3, 10}, {3, 10}}));
  s->SetFlags(0);  // closed: a third segment back to the start
  EXPECT_EQ(s->BezTrueNumSegs(), 3);
}

TEST_F(WsShape, SegmentCounts) {
  struct Case { const char* name; int vertices; bool closed; int32_t segs; };
  const Case cases[] = {{"empty open", 0, false, 0}, {"one open", 1, false, 0},
                        {"two open", 2, false, 1},   {"one closed", 1, true, 0},
                        {"two closed", 2, true, 2},  {"four closed", 4, true, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WS_Shape s(kWS_KindMask, nullptr);
    s.SetFlags(kWS_FlagOpen);
    for (int i = 0; i < c.vertices; ++i) AppendAt(&s, Pt(float(i), float(i * i)));
    if (c.closed) s.SetFlags(0);
    EXPECT_EQ(s.BezTrueNumSegs(), c.segs);
  }
}

TEST_F(WsShape, InsertSplitsSegmentWithoutChangingThePath) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {8, 0}, {8, 8}});
  const double smooth = 1.0;
  ASSERT_EQ(s->MakeTangentsRavlo(&smooth), 0);
  const double before = SegmentLength(*s, 0) + SegmentLength(*s, 1);
  std::vector<Pt> samples(4);
  ASSERT_EQ(WS_ShapeGetValues(s.get(), 1, 4, samples.data(), nullptr), 0);
  int32_t index = -1;
  ASSERT_EQ(s->AddBezVertex(1.5, &index), 0);
  EXPECT_EQ(index, 6);
  EXPECT_EQ(s->NumVertices(), 4);
  // The new vertex is the old segment 1 at parameter 0.5.
  EXPECT_EQ(Vertex(*s, 2), samples[2]);
  const double after = SegmentLength(*s, 0) + SegmentLength(*s, 1) + SegmentLength(*s, 2);
  EXPECT_NEAR(after, before, 1e-5);
  EXPECT_EQ(Vertex(*s, 3), Pt(8, 8));

  // Five vertices fill the point list's block: the second of a middle vertex's three
  // points needs more room, and a refusal takes back the first.
  std::unique_ptr<WS_Shape> full = OpenPath({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
  const std::vector<Pt> whole = Items(*full);
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_EQ(full->AddBezVertex(1.5, &index), Y_Err_OutOfMemory);
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  EXPECT_EQ(Items(*full), whole);

  ASSERT_EQ(s->AddBezVertex(-2, &index), 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Vertex(*s, 0), Pt(0, 0));
  EXPECT_EQ(s->NumVertices(), 5);
  EXPECT_NEAR(SegmentLength(*s, 0), 0, 1e-12);
}

TEST_F(WsShape, RemoveKeepsNeighbourTangents) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
  const std::vector<Pt> before = Items(*s);
  ASSERT_EQ(s->RemoveBezVertex(3), 0);  // vertex 1
  const std::vector<Pt> after = Items(*s);
  ASSERT_EQ(after.size(), 9u);
  // Vertex 0 keeps its outgoing tangent, vertex 2 its incoming one.
  EXPECT_EQ(std::vector<Pt>(after.begin(), after.begin() + 4),
            (std::vector<Pt>{before[0], before[1], before[5], before[6]}));

  for (int32_t notAVertex : {1, 9, -3}) EXPECT_EQ(s->RemoveBezVertex(notAVertex), WS_Err_BadIndex);
  ASSERT_EQ(s->RemoveBezVertex(0), 0);
  EXPECT_EQ(Vertex(*s, 0), Pt(4, 4));
  EXPECT_EQ(s->NumVertices(), 2);
}

TEST_F(WsShape, ClosedPathRemoveFirstVertexRewiresClosingSegment) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {4, 0}, {4, 4}});
  s->SetFlags(0);
  const std::vector<Pt> before = Items(*s);
  ASSERT_EQ(s->RemoveBezVertex(0), 0);
  const std::vector<Pt> after = Items(*s);
  ASSERT_EQ(after.size(), 6u);
  EXPECT_EQ(after[0], Pt(4, 0));
  EXPECT_EQ(after[5], before[2]);  // closing segment ends with vertex 1's incoming tangent
}

TEST_F(WsShape, MoveVertexCarriesTangents) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {4, 0}, {8, 0}});
  const double smooth = 1.0;
  ASSERT_EQ(s->MakeTangentsRavlo(&smooth), 0);
  std::vector<Pt> before = Items(*s);
  ASSERT_EQ(WS_ShapeMoveBezVertex(s.get(), 3, Pt(4, 2), 0, false), 0);
  std::vector<Pt> after = Items(*s);
  EXPECT_EQ(after[3], Pt(4, 2));
  EXPECT_EQ(after[2], Pt(before[2].x, before[2].y + 2));
  EXPECT_EQ(after[4], Pt(before[4].x, before[4].y + 2));
  ASSERT_EQ(WS_ShapeMoveBezVertex(s.get(), 3, Pt(1, 1), kWS_MoveVertexOnly, true), 0);
  after = Items(*s);
  EXPECT_EQ(after[3], Pt(5, 3));
  EXPECT_EQ(after[4], Pt(before[4].x, before[4].y + 2));
  EXPECT_EQ(WS_ShapeMoveBezVertex(s.get(), 4, Pt(0, 0), 0, false), WS_Err_BadIndex);
}

TEST_F(WsShape, RavloTangentsFollowNeighbourChords) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {6, 0}, {6, 6}});
  const double half = 0.5;
  ASSERT_EQ(s->MakeTangentsRavlo(&half), 0);
  const std::vector<Pt> it = Items(*s);
  EXPECT_EQ(it[1], Pt(1, 0));      // end: 0.5 / 3 of the chord (6, 0)
  EXPECT_EQ(it[2], Pt(5.5f, -0.5f));  // middle: ∓ 0.5 / 6 of (6, 6)
  EXPECT_EQ(it[4], Pt(6.5f, 0.5f));
  EXPECT_EQ(it[5], Pt(6, 5));      // end: 0.5 / 3 of the chord (0, 6)
  const double zero = 0;
  ASSERT_EQ(s->MakeTangentsRavlo(&zero), 0);
  EXPECT_NEAR(SegmentLength(*s, 0), 6, 1e-9);
  const double negative = -1;
  EXPECT_EQ(s->MakeTangentsRavlo(&negative), WS_Err_BadArgument);
}

TEST_F(WsShape, CopyAssignCompareAndTransform) {
  const V_FloatShortRect unit;
  WS_Shape a(kWS_KindStroke, &unit);
  a.SetFlags(kWS_FlagOpen | kWS_FlagRelative);
  AppendAt(&a, Pt(0.25f, 0.5f));
  AppendAt(&a, Pt(0.75f, 0.5f));
  WS_Shape b(a);
  EXPECT_TRUE(a == b);
  ASSERT_EQ(WS_ShapeMoveBezVertex(&b, 3, Pt(0.75f, 0.25f), 0, false), 0);
  EXPECT_FALSE(a == b);
  WS_Shape c(kWS_KindMask, nullptr);
  EXPECT_FALSE(c == a);
  c = a;
  EXPECT_TRUE(c == a);
  EXPECT_NE(c.Points(), a.Points());  // deep copy
  c.SetFlags(kWS_FlagOpen);
  EXPECT_FALSE(c == a);

  V_Matrix3 m;
  m.Scale(100, 200);
  m.Translate(10, 20);
  a.Transform(m);
  EXPECT_EQ(Vertex(a, 0), Pt(35, 120));
  EXPECT_EQ(Vertex(a, 1), Pt(85, 120));

  ASSERT_EQ(WS_RelToAbs(V_FloatShortRect{10, 20, 30, 60}, &b), 0);
  EXPECT_EQ(Vertex(b, 0), Pt(15, 40));
  EXPECT_EQ(Vertex(b, 1), Pt(25, 30));
  EXPECT_EQ(b.Flags() & kWS_FlagRelative, 0);
  EXPECT_EQ(WS_RelToAbs(V_FloatShortRect{}, &b), WS_Err_BadArgument);

  std::unique_ptr<WS_Shape> clone(a.Clone()), empty(a.CloneDefault(true));
  ASSERT_TRUE(clone && empty);
  EXPECT_TRUE(*clone == a);
  EXPECT_EQ(empty->NumVertices(), 0);
  EXPECT_EQ(empty->Kind(), kWS_KindStroke);
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_EQ(a.Clone(), nullptr);
  Y_MemTrackedObject::FailAllocationsAfter(1);  // object yes, point list no
  EXPECT_EQ(a.Clone(), nullptr);
}

TEST_F(WsShape, GetValuesSamplesAtEqualParameters) {
  std::unique_ptr<WS_Shape> s = OpenPath({{0, 0}, {8, 0}, {8, 4}});
  std::vector<Pt> pts(4);
  ASSERT_EQ(WS_ShapeGetValues(s.get(), 0, 4, pts.data(), nullptr), 0);
  // Handles on the vertices: B(t) = 8·(3t² − 2t³) along x.
  const float want[4] = {0, 1.25f, 4, 6.75f};
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(pts[i].x, want[i]) << i;
  EXPECT_EQ(WS_ShapeGetValues(s.get(), 2, 4, pts.data(), nullptr), WS_Err_BadIndex);
  EXPECT_EQ(WS_ShapeGetValues(s.get(), 0, 0, pts.data(), nullptr), WS_Err_BadArgument);
}

TEST_F(WsShape, InterpolatePadsShorterPathAndCallsHook) {
  struct Hooked : WS_Shape {
    Hooked() : WS_Shape(kWS_KindMask, nullptr) {}
    void PostProcessInterpolate(const WS_Shape* a, const WS_Shape* b, double t) override {
      seenA = a, seenB = b, seenT = t;
    }
    const WS_Shape* seenA = nullptr;
    const WS_Shape* seenB = nullptr;
    double seenT = -1;
  };
  std::unique_ptr<WS_Shape> a = OpenPath({{0, 0}, {10, 0}});
  std::unique_ptr<WS_Shape> b = OpenPath({{0, 10}, {20, 10}, {20, 30}});
  Hooked out;
  ASSERT_EQ(WS_InterpolateShapes(*a, *b, 0.25, &out), 0);
  ASSERT_EQ(out.NumVertices(), 3);
  EXPECT_EQ(Vertex(out, 0), Pt(0, 2.5f));
  EXPECT_EQ(Vertex(out, 1), Pt(12.5f, 2.5f));
  EXPECT_EQ(Vertex(out, 2), Pt(12.5f, 7.5f));  // a's last vertex (10, 0) towards (20, 30)
  EXPECT_EQ(out.seenA, a.get());
  EXPECT_EQ(out.seenB, b.get());
  EXPECT_EQ(out.seenT, 0.25);
}

}  // namespace
