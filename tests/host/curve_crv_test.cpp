// SPDX-License-Identifier: MIT
#include "host/crv/crv.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

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

// An inversion answers inside the table interval that holds its length, the one a
// bisection of the table finds, and its point lies at that length: curves whose speed
// is even, curves that start or end at rest (arc length far from even in t, so the
// interval is far from its share of the length), loops, and curves at random.
TEST_F(CrvCurve, InversionsLandInTheIntervalHoldingTheirLength) {
  std::vector<std::unique_ptr<Bez>> curves;
  curves.push_back(std::make_unique<Bez>(V_Vector2T<double>(0, 0), V_Vector2T<double>(0, 0), V_Vector2T<double>(0, 0),
                                         V_Vector2T<double>(40, 0)));
  curves.push_back(std::make_unique<Bez>(V_Vector2T<double>(0, 0), V_Vector2T<double>(30, 0), V_Vector2T<double>(30, 0),
                                         V_Vector2T<double>(30, 0)));
  curves.push_back(std::make_unique<Bez>(V_Vector2T<double>(0, 0), V_Vector2T<double>(60, 60), V_Vector2T<double>(-60, 60),
                                         V_Vector2T<double>(0, 0)));
  std::mt19937 rng(77);
  const auto coordinate = [&] { return double(int(rng() % 8001) - 4000) / 100.0; };
  for (int k = 0; k < 30; ++k)
    curves.push_back(std::make_unique<Bez>(V_Vector2T<double>(coordinate(), coordinate()),
                                           V_Vector2T<double>(coordinate(), coordinate()),
                                           V_Vector2T<double>(coordinate(), coordinate()),
                                           V_Vector2T<double>(coordinate(), coordinate())));
  for (std::size_t c = 0; c < curves.size(); ++c) {
    SCOPED_TRACE(c);
    SEQ_Head** table = nullptr;
    double len = 0;
    ASSERT_EQ(CRV_SFromT(&curves[c]->curve, 1.0, 500, &table, &len), 0);
    const auto* samples = static_cast<const CRV_ArcSample*>(SEQ_Items(table));
    const int32_t n = SEQ_Count(table) - 1;
    for (int k = 1; k < 200; ++k) {
      const double s = len * k / 200.0;
      int32_t lo = 0, hi = n;
      while (hi - lo > 1) (samples[(lo + hi) / 2].s <= s ? lo : hi) = (lo + hi) / 2;
      double t = -1, back = -1;
      ASSERT_EQ(CRV_TFromS(&curves[c]->curve, s, 500, &table, &t), 0);
      EXPECT_GE(t, samples[lo].t) << "length " << s;
      EXPECT_LE(t, samples[hi].t) << "length " << s;
      ASSERT_EQ(CRV_SFromT(&curves[c]->curve, t, 500, &table, &back), 0);
      EXPECT_NEAR(back, s, 1e-9 * std::max(1.0, len));
    }
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

// Many inversions at once give the single query's points bit for bit: over curves of
// every kind (a cusp, a point, an arc, a line with bunched handles), lengths inside,
// on and past both ends and NaN, counts that do not fill the last group of four, and
// slots shared by the queries of one curve, some built by the batch itself.
TEST_F(CrvCurve, PointsFromSMatchOneByOne) {
  Bez fixed[] = {QuarterArc(50), Bez({0, 0}, {10, 10}, {0, 10}, {10, 0}), Bez({2, 2}, {2, 2}, {2, 2}, {2, 2}),
                 Bez({0, 0}, {1, 0}, {1.5, 0}, {10, 0}), QuarterArc(0.3)};
  // And stroke-sized curves at random, with cusps and loops among them: the batch's
  // inversions run side by side, and each must end where it ends alone.
  std::mt19937 rng(31);
  const auto coordinate = [&] { return double(int(rng() % 4001) - 2000) / 100.0; };
  std::vector<std::unique_ptr<Bez>> drawn;
  for (int k = 0; k < 40; ++k)
    drawn.push_back(std::make_unique<Bez>(V_Vector2T<double>(coordinate(), coordinate()),
                                          V_Vector2T<double>(coordinate(), coordinate()),
                                          V_Vector2T<double>(coordinate(), coordinate()),
                                          V_Vector2T<double>(coordinate(), coordinate())));
  std::vector<Bez*> curves;
  for (Bez& b : fixed) curves.push_back(&b);
  for (auto& b : drawn) curves.push_back(b.get());
  const int kCurves = int(curves.size());
  std::vector<SEQ_Head**> single(std::size_t(kCurves), nullptr), batch(std::size_t(kCurves), nullptr);
  std::vector<CRV_Curve> which;
  std::vector<double> at;
  std::vector<SEQ_Head***> slots;
  std::vector<V_Vector2T<double>> want;
  for (int c = 0; c < kCurves; ++c) {
    double len = 0;
    ASSERT_EQ(CRV_SFromT(&curves[c]->curve, 1.0, 500, &single[c], &len), 0);
    // Half the batch's slots start empty, for the batch to fill.
    if (c % 2 == 0) {
      ASSERT_EQ(CRV_PrepareTable(&curves[c]->curve, 500, &batch[c]), 0);
    }
    std::vector<double> lengths = {-1, 0, 1e-300, len, len * (1 + 1e-15), len + 1, std::nan("")};
    for (int k = 1; k < 41; ++k) lengths.push_back(len * k / 37);
    for (double s : lengths) {
      V_Vector2T<double> p;
      ASSERT_EQ(CRV_EvaluatePointFromS(&curves[c]->curve, s, 500, &single[c], &p), 0);
      which.push_back(curves[c]->curve);
      at.push_back(s);
      slots.push_back(&batch[c]);
      want.push_back(p);
    }
  }
  for (int32_t count : {int32_t(want.size()), int32_t(want.size()) - 2, 13, 9, 3, 1}) {
    SCOPED_TRACE(count);
    std::vector<V_Vector2T<double>> got(want.size(), V_Vector2T<double>(-7, -7));
    ASSERT_EQ(CRV_EvaluatePointsFromS(which.data(), at.data(), count, 500, slots.data(), got.data()), 0);
    for (int32_t k = 0; k < count; ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(got[k].x, want[k].x);
      EXPECT_EQ(got[k].y, want[k].y);
    }
    if (count < int32_t(got.size())) {
      EXPECT_EQ(got[size_t(count)], V_Vector2T<double>(-7, -7));
    }
  }
  for (int c = 0; c < kCurves; ++c) {
    // The batch filled the empty slots and kept the prepared ones.
    ASSERT_NE(batch[c], nullptr);
    EXPECT_EQ(SEQ_Count(batch[c]), SEQ_Count(single[c]));
    SEQ_Dispose(single[c], 0);
    SEQ_Dispose(batch[c], 0);
  }
}

TEST_F(CrvCurve, PreparedTablesAreKeptAndFailuresWriteNothing) {
  Bez arc = QuarterArc(12.3);
  SEQ_Head** table = nullptr;
  ASSERT_EQ(CRV_PrepareTable(&arc.curve, 500, &table), 0);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(SEQ_Count(table), 26);
  SEQ_Head** prepared = table;
  V_Vector2T<double> p;
  ASSERT_EQ(CRV_EvaluatePointFromS(&arc.curve, 3, 500, &table, &p), 0);
  EXPECT_EQ(table, prepared);
  ASSERT_EQ(CRV_PrepareTable(&arc.curve, 500, &table), 0);
  EXPECT_EQ(table, prepared);

  CRV_Curve bad = arc.curve;
  bad.kind = 3;
  EXPECT_EQ(CRV_PrepareTable(&bad, 500, &table), CRV_Err_BadCurve);
  EXPECT_EQ(CRV_PrepareTable(&arc.curve, 0, &table), CRV_Err_BadResolution);
  EXPECT_EQ(CRV_PrepareTable(&arc.curve, 500, nullptr), CRV_Err_BadCurve);

  // A table's whole length is CRV_SFromT's answer at t = 1, bit for bit; lists that are
  // not tables are refused.
  double whole = 0, kept = -1;
  ASSERT_EQ(CRV_SFromT(&arc.curve, 1.0, 500, &table, &whole), 0);
  EXPECT_EQ(CRV_TableLength(table, &kept), 0);
  EXPECT_EQ(kept, whole);
  SEQ_Head** bytes = nullptr;
  ASSERT_EQ(SEQ_New(1, 4, &bytes), 0);
  SEQ_Head** lone = nullptr;
  ASSERT_EQ(SEQ_New(int32_t(sizeof(CRV_ArcSample)), 1, &lone), 0);
  const CRV_ArcSample start{0, 0};
  ASSERT_EQ(SEQ_Append(lone, &start), 0);
  for (SEQ_Head** notTable : {static_cast<SEQ_Head**>(nullptr), bytes, lone}) {
    kept = -1;
    EXPECT_EQ(CRV_TableLength(notTable, &kept), CRV_Err_BadCurve);
    EXPECT_EQ(kept, -1);
  }
  EXPECT_EQ(CRV_TableLength(table, nullptr), CRV_Err_BadCurve);
  SEQ_Dispose(bytes, 0);
  SEQ_Dispose(lone, 0);

  SEQ_Head** other = nullptr;
  const CRV_Curve three[3] = {arc.curve, arc.curve, bad};
  const double at[3] = {1, 2, 3};
  SEQ_Head*** slots[3] = {&table, &other, &table};
  struct Case {
    const char* name;
    const CRV_Curve* curves;
    const double* s;
    int32_t count, resolution;
    SEQ_Head*** const* slots;
    int32_t code;
  };
  const Case cases[] = {
      {"a bad curve after two good ones", three, at, 3, 500, slots, CRV_Err_BadCurve},
      {"resolution 0", three, at, 2, 0, slots, CRV_Err_BadResolution},
      {"negative count", three, at, -1, 500, slots, CRV_Err_BadCurve},
      {"no curves", nullptr, at, 1, 500, slots, CRV_Err_BadCurve},
      {"no lengths", three, nullptr, 1, 500, slots, CRV_Err_BadCurve},
      {"no slots", three, at, 1, 500, nullptr, CRV_Err_BadCurve},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    V_Vector2T<double> got[3] = {{-7, -7}, {-7, -7}, {-7, -7}};
    EXPECT_EQ(CRV_EvaluatePointsFromS(c.curves, c.s, c.count, c.resolution, c.slots, got), c.code);
    for (const V_Vector2T<double>& g : got) EXPECT_EQ(g, V_Vector2T<double>(-7, -7));
  }
  EXPECT_EQ(CRV_EvaluatePointsFromS(nullptr, nullptr, 0, 500, nullptr, nullptr), 0);
  SEQ_Dispose(other, 0);
  SEQ_Dispose(table, 0);
}

// The table's samples, whichever vector form built them, are the plain scalar rule's:
// 4-point Gauss-Legendre on each interval, summed from the start, bit for bit.
TEST_F(CrvCurve, TableSamplesAreTheScalarRulesBitForBit) {
  const Bez curves[] = {QuarterArc(50), Bez({0, 0}, {10, 10}, {0, 10}, {10, 0}),
                        Bez({0, 0}, {1, 0}, {1.5, 0}, {10, 0}), Bez({3, -2}, {-40, 7}, {90, 55}, {-1, 0.5})};
  const double nodes[2] = {0.3399810435848563, 0.8611363115940526};
  const double weights[2] = {0.6521451548625461, 0.3478548451374538};
  for (const Bez& b : curves) {
    SEQ_Head** table = nullptr;
    ASSERT_EQ(CRV_PrepareTable(&b.curve, 500, &table), 0);
    const int32_t n = SEQ_Count(table) - 1;
    const auto* got = static_cast<const CRV_ArcSample*>(SEQ_Items(table));
    // B'(t) per axis as c + t·(b + t·a), from the control-point differences.
    double a[2], bb[2], c[2];
    for (int k = 0; k < 2; ++k) {
      const double d0 = b.xy[2 + k] - b.xy[k], d1 = b.xy[4 + k] - b.xy[2 + k], d2 = b.xy[6 + k] - b.xy[4 + k];
      c[k] = 3 * d0;
      bb[k] = 6 * (d1 - d0);
      a[k] = 3 * (d0 - 2 * d1 + d2);
    }
    const auto speed = [&](double t) {
      const double dx = c[0] + t * (bb[0] + t * a[0]), dy = c[1] + t * (bb[1] + t * a[1]);
      return std::sqrt(dx * dx + dy * dy);
    };
    double s = 0, t = 0;
    EXPECT_EQ(got[0].s, 0.0);
    for (int32_t j = 1; j <= n; ++j) {
      const double t0 = t;
      t = double(j) / n;
      const double half = 0.5 * (t - t0), mid = 0.5 * (t0 + t);
      double sum = 0;
      for (int i = 0; i < 2; ++i) sum += weights[i] * (speed(mid - half * nodes[i]) + speed(mid + half * nodes[i]));
      s += sum * half;
      ASSERT_EQ(got[j].t, t) << j;
      ASSERT_EQ(got[j].s, s) << j;
    }
    SEQ_Dispose(table, 0);
  }
}

}  // namespace
