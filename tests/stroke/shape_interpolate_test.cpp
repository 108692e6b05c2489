// SPDX-License-Identifier: MIT
#include <cmath>
#include <typeinfo>
#include <vector>

#include "kstroke/shape.h"
#include "stroke_test_support.h"
#include "test_support.h"

namespace {

void ExpectNear(const Entries& got, const Entries& want, double tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(got[i].first, want[i].first, 1e-12);
    EXPECT_NEAR(got[i].second, want[i].second, tolerance);
  }
}

struct Key { double time, x; float diameter, opacity; bool spacing; };

void Record(K_Shape* s, std::initializer_list<Key> keys) {
  for (const Key& k : keys) Append(s, Event(k.time, k.x, 0.5, k.spacing, {k.diameter, k.opacity, 1, 0, 1}));
}

class ShapeInterpolate : public TrackedTest {
protected:
  // Built before TrackedTest::SetUp counts the live objects, freed after TearDown.
  ShapeInterpolate() {
    // a: 2 time units, one segment 0.1 → 0.5; diameter 1, opacity 1 → 0.
    Record(&a, {{0, 0.1, 1, 1, false}, {2, 0.5, 1, 0, true}});
    // b: 4 time units, two segments of 0.2; diameter 0.5 and opacity 1 throughout.
    Record(&b, {{0, 0.1, 0.5f, 1, true}, {2, 0.3, 0.5f, 1, true}, {4, 0.5, 0.5f, 1, true}});
    // Recording collapses runs of equal values; keep the middle entries here so the
    // normalised times 0, 0.5 and 1 all take part.
    b.paramTables[K_StrokeParam_Diameter] = {{0, 0.5f}, {2, 0.5f}, {4, 0.5f}};
    b.paramTables[K_StrokeParam_Opacity] = {{0, 1.0f}, {2, 1.0f}, {4, 1.0f}};
  }
  K_Shape a;
  K_Shape b;
};

TEST_F(ShapeInterpolate, TablesAtKeyFractions) {
  struct Case { const char* name; double t; Entries diameter, opacity, spacing, timing; };
  // Normalised times: a has 0, 1 and b 0, 0.5, 1, so every merged table has 0, 0.5, 1.
  const Case cases[] = {
      {"t = 0: a's values on a's duration", 0, {{0, 1}, {1, 1}, {2, 1}},
       {{0, 1}, {1, 0.5}, {2, 0}}, {{0, 0}, {2, 1}},
       // In-between path: (0.1) → (0.5) → (0.5), arc fractions 0, 1, 1.
       {{0, 0}, {1, 0.5}, {2, 2}}},
      {"t = 0.25", 0.25, {{0, 0.875}, {1.25, 0.875}, {2.5, 0.875}},
       {{0, 1}, {1.25, 0.625}, {2.5, 0.25}}, {{0, 0}, {2.5, 1}},
       // Path (0.1) → (0.45) → (0.5): fractions 0, 0.875, 1.
       {{0, 0}, {1.25, 0.5 / 0.875}, {2.5, 2}}},
      {"t = 0.5", 0.5, {{0, 0.75}, {1.5, 0.75}, {3, 0.75}},
       {{0, 1}, {1.5, 0.75}, {3, 0.5}}, {{0, 0}, {3, 1}},
       {{0, 0}, {1.5, 0.5 / 0.75}, {3, 2}}},
      {"t = 1: b's values on b's duration", 1, {{0, 0.5}, {2, 0.5}, {4, 0.5}},
       {{0, 1}, {2, 1}, {4, 1}}, {{0, 0}, {4, 1}},
       {{0, 0}, {2, 1}, {4, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    K_Shape out;
    ASSERT_EQ(WS_InterpolateShapes(a, b, c.t, &out), 0);
    ASSERT_EQ(out.NumVertices(), 3);
    ExpectNear(Pairs(out.paramTables[K_StrokeParam_Diameter]), c.diameter, 1e-7);
    ExpectNear(Pairs(out.paramTables[K_StrokeParam_Opacity]), c.opacity, 1e-7);
    ExpectNear(Pairs(out.tipSpacingTable), c.spacing, 0);  // a's flags: off, then on
    ExpectNear(Pairs(out.timeDistanceTable), c.timing, 1e-6);
    EXPECT_EQ(out.GetStrokeDuration(), 2 + 2 * c.t);
  }
}

TEST_F(ShapeInterpolate, KeyframesMustBeStrokes) {
  WS_Shape plain(kWS_KindMask, nullptr);
  K_Shape out;
  Record(&out, {{0, 0.2, 1, 1, true}, {1, 0.3, 1, 1, true}});
  const K_Shape before(out);
  EXPECT_THROW(WS_InterpolateShapes(plain, b, 0.5, &out), std::bad_cast);
  EXPECT_THROW(WS_InterpolateShapes(a, plain, 0.5, &out), std::bad_cast);
  // The host had already blended the vertices; the tables were not touched.
  EXPECT_EQ(out.timeDistanceTable.size(), before.timeDistanceTable.size());
  EXPECT_EQ(Pairs(out.paramTables[K_StrokeParam_Flow]), Pairs(before.paramTables[K_StrokeParam_Flow]));
}

TEST_F(ShapeInterpolate, KeyframesWithoutTimingAreAClearError) {
  K_Shape empty;
  K_Shape instant;  // one sample at time 0: its tables end at 0
  Record(&instant, {{0, 0.2, 1, 1, true}});
  struct Case { const char* name; const K_Shape* first; const K_Shape* second; double t; };
  const Case cases[] = {
      {"empty first", &empty, &b, 0.5}, {"empty second", &a, &empty, 0.5},
      {"ends at time 0", &a, &instant, 0.5}, {"NaN fraction", &a, &b, std::nan("")},
      {"duration not positive", &a, &b, -1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Y_ResetVerificationReports();
    K_Shape out(a);
    const K_Shape before(out);
    // Straight through the hook: the host's blend refuses a NaN fraction itself.
    WS_Shape& hooked = out;
    EXPECT_EQ(ThrownCode([&] { hooked.PostProcessInterpolate(c.first, c.second, c.t); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, "keyframe stroke has no usable timing");
    EXPECT_TRUE(out == before);
  }
}

TEST_F(ShapeInterpolate, DifferentVertexCountsEndOnTheLastVertex) {
  K_Shape c;
  Record(&c, {{0, 0.1, 1, 1, false}, {0.5, 0.2, 1, 1, true}, {1, 0.25, 1, 1, true},
              {3, 0.6, 1, 1, true}, {3.5, 0.7, 1, 1, true}});
  for (double t : {0.1, 0.6, 0.9}) {
    SCOPED_TRACE(t);
    K_Shape out;
    ASSERT_EQ(WS_InterpolateShapes(b, c, t, &out), 0);
    ASSERT_EQ(out.NumVertices(), 5);
    const auto& timing = out.timeDistanceTable;
    EXPECT_EQ(timing.back().value, 4.0);
    EXPECT_EQ(timing.back().time, 4 + (3.5 - 4) * t);
    for (size_t i = 1; i < timing.size(); ++i) {
      EXPECT_GT(timing[i].time, timing[i - 1].time);
      EXPECT_GE(timing[i].value, timing[i - 1].value);
    }
  }
}

}  // namespace
