// SPDX-License-Identifier: MIT
#include "host/crv/crv.h"

#include <cmath>

#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Bez {
  double xy[8];
  CRV_Curve curve;
  Bez(V_Vector2T<double> a, V_Vector2T<double> b, V_Vector2T<double> c, V_Vector2T<double> d)
      : xy{a.x, a.y, b.x, b.y, c.x, c.y, d.x, d.y} {
    for (int i = 0; i < 4; ++i) curve.points[i] = xy + 2 * i;
  }
};

// A quarter of the unit circle with the usual 4/3·tan(θ/4) handles; its radius
// deviates from 1 by at most 2.7e-4, so its length is π/2 within that relative error.
Bez QuarterArc(double r) {
  const double k = 4.0 / 3.0 * std::tan(kPi / 8) * r;
  return Bez({r, 0}, {r, k}, {k, r}, {0, r});
}

class CrvCurve : public TrackedTest {};

TEST_F(CrvCurve, StraightLineLengthsAreExact) {
  struct Case { const char* name; Bez bez; double length; };
  const Case cases[] = {
      {"3-4-5 handles on ends", Bez({0, 0}, {0, 0}, {3, 4}, {3, 4}), 5},
      {"uniform thirds", Bez({1, 1}, {2, 1}, {3, 1}, {4, 1}), 3},
      {"handles bunched near start", Bez({0, 0}, {1, 0}, {1.5, 0}, {10, 0}), 10},
      {"point", Bez({2, 2}, {2, 2}, {2, 2}, {2, 2}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SEQ_Head** table = nullptr;
    double len = -1;
    ASSERT_EQ(CRV_SFromT(&c.bez.curve, 1.0, 500, &table, &len), 0);
    ASSERT_NE(table, nullptr);
    EXPECT_NEAR(len, c.length, 1e-12);
    // Point at half the length lies at the middle of the segment.
    V_Vector2T<double> mid;
    ASSERT_EQ(CRV_EvaluatePointFromS(&c.bez.curve, c.length / 2, 500, &table, &mid), 0);
    EXPECT_NEAR(mid.x, (c.bez.xy[0] + c.bez.xy[6]) / 2, 1e-9);
    EXPECT_NEAR(mid.y, (c.bez.xy[1] + c.bez.xy[7]) / 2, 1e-9);
    SEQ_Dispose(table, 0);
  }
}

TEST_F(CrvCurve, QuarterArcLengthAndPointAtLength) {
  for (double r : {1.0, 50.0}) {
    SCOPED_TRACE(r);
    Bez arc = QuarterArc(r);
    SEQ_Head** table = nullptr;
    double len = 0;
    ASSERT_EQ(CRV_SFromT(&arc.curve, 1.0, 500, &table, &len), 0);
    EXPECT_NEAR(len, kPi / 2 * r, 3e-4 * r);
    // By symmetry the middle of the arc (t = 0.5) is at half the length, on the diagonal.
    double half = 0;
    ASSERT_EQ(CRV_SFromT(&arc.curve, 0.5, 500, &table, &half), 0);
    EXPECT_NEAR(half, len / 2, 1e-12 * r);
    V_Vector2T<double> p;
    ASSERT_EQ(CRV_EvaluatePointFromS(&arc.curve, len / 2, 500, &table, &p), 0);
    EXPECT_NEAR(p.x, p.y, 1e-10 * r);
    EXPECT_NEAR(std::hypot(p.x, p.y), r, 3e-4 * r);
    // A point at length s from the start subtends the angle s / r.
    ASSERT_EQ(CRV_EvaluatePointFromS(&arc.curve, len / 3, 500, &table, &p), 0);
    EXPECT_NEAR(std::atan2(p.y, p.x), kPi / 6, 1e-3);
    // s and t round-trip.
    double t = 0;
    ASSERT_EQ(CRV_TFromS(&arc.curve, 0.3 * len, 500, &table, &t), 0);
    double s = 0;
    ASSERT_EQ(CRV_SFromT(&arc.curve, t, 500, &table, &s), 0);
    EXPECT_NEAR(s, 0.3 * len, 1e-11 * r);
    SEQ_Dispose(table, 0);
  }
}

TEST_F(CrvCurve, TableIntervalsFollowLengthUpToResolution) {
  // A quarter arc's control polygon, measured |dx| + |dy| per side, is 2·r long.
  struct Case { double radius; int32_t resolution; int32_t samples; };
  const Case cases[] = {
      {0.4, 500, 2},      // shorter than one interval: one
      {12.3, 500, 26},    // ceil(24.6) = 25 intervals
      {1000, 500, 501},   // capped at the resolution
      {1000, 4, 5},       // a coarse resolution still caps
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.radius);
    Bez arc = QuarterArc(c.radius);
    SEQ_Head** table = nullptr;
    double len = 0;
    ASSERT_EQ(CRV_SFromT(&arc.curve, 1.0, c.resolution, &table, &len), 0);
    EXPECT_EQ(SEQ_Count(table), c.samples);
    EXPECT_NEAR(len, kPi / 2 * c.radius, 3e-4 * c.radius);  // the cubic's own error
    SEQ_Head** first = table;
    ASSERT_EQ(CRV_SFromT(&arc.curve, 0.25, c.resolution, &table, &len), 0);
    EXPECT_EQ(table, first);  // reused, not rebuilt
    SEQ_Dispose(table, 0);
  }
  // A table built at another resolution is rebuilt in place.
  Bez arc = QuarterArc(1000);
  SEQ_Head** table = nullptr;
  double fine = 0, coarse = 0;
  ASSERT_EQ(CRV_SFromT(&arc.curve, 1.0, 500, &table, &fine), 0);
  ASSERT_EQ(CRV_SFromT(&arc.curve, 1.0, 4, &table, &coarse), 0);
  EXPECT_EQ(SEQ_Count(table), 5);
  EXPECT_NEAR(coarse, fine, 1e-9 * fine);  // 8-point intervals: the count barely matters
  SEQ_Dispose(table, 0);
}

TEST_F(CrvCurve, ClampsAndRejects) {
  Bez line({0, 0}, {0, 0}, {3, 4}, {3, 4});
  SEQ_Head** table = nullptr;
  V_Vector2T<double> p;
  ASSERT_EQ(CRV_EvaluatePointFromS(&line.curve, 99, 500, &table, &p), 0);
  EXPECT_EQ(p, V_Vector2T<double>(3, 4));
  ASSERT_EQ(CRV_EvaluatePointFromS(&line.curve, -1, 500, &table, &p), 0);
  EXPECT_EQ(p, V_Vector2T<double>(0, 0));
  double len = 0;
  EXPECT_EQ(CRV_SFromT(&line.curve, 1, 0, &table, &len), CRV_Err_BadResolution);
  CRV_Curve bad = line.curve;
  bad.kind = 3;
  EXPECT_EQ(CRV_SFromT(&bad, 1, 500, &table, &len), CRV_Err_BadCurve);
  bad = line.curve;
  bad.points[2] = nullptr;
  EXPECT_EQ(CRV_SFromT(&bad, 1, 500, &table, &len), CRV_Err_BadCurve);
  SEQ_Dispose(table, 0);
}

}  // namespace
