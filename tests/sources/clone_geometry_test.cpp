// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>

#include "kstroke/clone_paint_source.h"
#include "source_test_support.h"
#include "test_support.h"

namespace {

TEST(CloneGeometry, IdentityPlacementGivesTheIdentityMatrix) {
  const V_Rect r = Rect(0, 0, 100, 200);
  const V_Matrix3 m = K_ClonePaintSource::GetSourceToDestTransform(V_Vector2T<double>(0, 0), 1.0,
                                                                   K_Transform(), r, r);
  EXPECT_TRUE(m == V_Matrix3());
}

TEST(CloneGeometry, MatrixMapsSourcePointsToDestination) {
  // Source rectangle 200 x 100 at (20, 10); source point (0.25, 0.5) is source pixel
  // (70, 60). Destination 400 x 300 at the origin; position (0.5, 0.5) is (200, 150).
  struct Case { const char* name; K_Transform t; double sourceAspect; V_Vector2T<double> in, out; };
  const K_Transform wide = Xf(0.5, 0.5, 0, 1, 1, 2);
  const Case kCases[] = {
      {"source point lands on position", Xf(0.5, 0.5), 1, {70, 60}, {200, 150}},
      {"unscaled shift", Xf(0.5, 0.5), 1, {75, 61}, {205, 151}},
      {"anchor displaces by its destination pixels", Xf(0.5, 0.5, 0, 1, 1, 1, 0.1, 0.2), 1, {70, 60},
       {160, 90}},
      {"scale about the source point", Xf(0.5, 0.5, 0, 2, 3), 1, {75, 61}, {210, 153}},
      {"rotation turns +x toward +y", Xf(0.5, 0.5, 90), 1, {80, 60}, {200, 160}},
      {"rotation turns +y toward -x", Xf(0.5, 0.5, 90), 1, {70, 65}, {195, 150}},
      {"destination aspect 2 halves x", wide, 1, {80, 60}, {205, 150}},
      {"anchor x in destination pixels under aspect", Xf(0.5, 0.5, 0, 1, 1, 2, 0.1, 0), 1, {70, 60},
       {160, 150}},
      {"anchor y also takes the aspect factor", Xf(0.5, 0.5, 0, 1, 1, 2, 0, 0.1), 1, {70, 60},
       {200, 90}},
      {"equal aspects cancel", wide, 2, {80, 60}, {210, 150}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const V_Matrix3 m = K_ClonePaintSource::GetSourceToDestTransform(
        V_Vector2T<double>(0.25, 0.5), c.sourceAspect, c.t, Rect(10, 20, 110, 220),
        Rect(0, 0, 300, 400));
    V_Vector2T<double> p = c.in;
    m.TransformPoint(&p);
    EXPECT_NEAR(p.x, c.out.x, 1e-9);
    EXPECT_NEAR(p.y, c.out.y, 1e-9);
  }
}

TEST(CloneGeometry, InPlaceNeedsIdentityAndAWholePixelOffset) {
  struct Case {
    const char* name; K_Transform t; double sourceAspect; V_Rect dest; bool inPlace;
    V_Vector2T<double> offset;
  };
  const V_Rect d200 = Rect(0, 0, 100, 200);
  const V_Rect d1000 = Rect(0, 0, 100, 1000);
  const K_Transform aspect2 = Xf(0, 0, 0, 1, 1, 2);
  const Case kCases[] = {
      {"identity", K_Transform(), 1, d200, true, {0, 0}},
      {"half the width to the right", Xf(0.5, 0), 1, d200, true, {100, 0}},
      {"10.004 is within 0.01 of 10", Xf(0.010004, 0), 1, d1000, true, {10.004, 0}},
      {"10.02 is not", Xf(0.01002, 0), 1, d1000, false, {10.02, 0}},
      {"-9.996 rounds to -10", Xf(-0.009996, 0), 1, d1000, true, {-9.996, 0}},
      {"scale 1 + 1e-11", Xf(0, 0, 0, 1 + 1e-11), 1, d200, false, {0, 0}},
      {"scale 1 + 1e-13", Xf(0, 0, 0, 1 + 1e-13), 1, d200, true, {0, 0}},
      {"rotation 1e-11", Xf(0, 0, 1e-11), 1, d200, false, {0, 0}},
      {"rotation 1e-13", Xf(0, 0, 1e-13), 1, d200, true, {0, 0}},
      {"aspect 2 over source aspect 2", aspect2, 2, d200, true, {0, 0}},
      {"aspect 2 over source aspect 1", aspect2, 1, d200, false, {0, 0}},
      {"offset is reported when not in place", Xf(0.5, 0, 0, 1, 2), 1, d200, false, {100, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    V_Vector2T<double> offset(-1, -1);
    EXPECT_EQ(K_ClonePaintSource::WillSampleInPlace(c.t, c.dest, c.dest, c.sourceAspect,
                                                    V_Vector2T<double>(0, 0), &offset),
              c.inPlace);
    EXPECT_NEAR(offset.x, c.offset.x, 1e-9);
    EXPECT_NEAR(offset.y, c.offset.y, 1e-9);
    EXPECT_EQ(K_ClonePaintSource::WillSampleInPlace(c.t, c.dest, c.dest, c.sourceAspect,
                                                    V_Vector2T<double>(0, 0), nullptr),
              c.inPlace);
  }
}

TEST(CloneGeometry, InPlaceOffsetSubtractsSourcePointFromAnchoredPosition) {
  // dest left 10 + 200 × (0.75 − 0.25) = 110; source left 4 + 40 × 0.5 = 24 → 86.
  // dest top 5 + 100 × (0.5 − 0) = 55; source top 2 + 20 × 0.25 = 7 → 48.
  V_Vector2T<double> offset;
  EXPECT_TRUE(K_ClonePaintSource::WillSampleInPlace(Xf(0.75, 0.5, 0, 1, 1, 1, 0.25, 0),
                                                    Rect(5, 10, 105, 210), Rect(2, 4, 22, 44), 1.0,
                                                    V_Vector2T<double>(0.5, 0.25), &offset));
  EXPECT_DOUBLE_EQ(offset.x, 86);
  EXPECT_DOUBLE_EQ(offset.y, 48);
}

TEST(CloneGeometry, BoundsInSourceMapBackAndClip) {
  struct Case { const char* name; K_Transform t; V_Rect region, expected; bool none; };
  const Case kCases[] = {
      {"identity", K_Transform(), Rect(10, 20, 30, 60), Rect(10, 20, 30, 60), false},
      {"shift by half the width", Xf(0.5, 0), Rect(10, 120, 30, 160), Rect(10, 20, 30, 60), false},
      {"clipped to the source", K_Transform(), Rect(-5, -10, 30, 260), Rect(0, 0, 30, 200), false},
      {"scale rounds outward", Xf(0, 0, 0, 2, 2), Rect(11, 21, 31, 61), Rect(5, 10, 16, 31), false},
      {"wholly outside stays inverted", K_Transform(), Rect(0, 300, 10, 400), Rect(0, 300, 10, 200),
       false},
      {"a singular matrix gives no bounds", Xf(0, 0, 0, 0, 1), Rect(0, 0, 10, 10), Rect(0, 0, 0, 0),
       true},
  };
  const V_Rect r = Rect(0, 0, 100, 200);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    boost::shared_ptr<V_Rect> got = K_ClonePaintSource::GetCloneBoundsInSource(
        c.region, V_Vector2T<double>(0, 0), r, r, c.t, 1.0);
    ASSERT_EQ(!got, c.none);
    if (got) {
      EXPECT_EQ(*got, c.expected);
    }
  }
}

TEST(CloneGeometry, BoundsOfARotatedRegion) {
  // 90° about the centre of a 100 × 100 square: the top strip of the destination
  // comes from the left strip of the source, bottom half.
  const V_Rect r = Rect(0, 0, 100, 100);
  boost::shared_ptr<V_Rect> got = K_ClonePaintSource::GetCloneBoundsInSource(
      Rect(0, 0, 10, 50), V_Vector2T<double>(0.5, 0.5), r, r, Xf(0.5, 0.5, 90), 1.0);
  ASSERT_TRUE(got);
  // Rounding noise of cos 90° may push an edge one pixel outward, never inward.
  EXPECT_EQ(got->left, 0);
  EXPECT_GE(got->right, 10);
  EXPECT_LE(got->right, 11);
  EXPECT_GE(got->top, 49);
  EXPECT_LE(got->top, 50);
  EXPECT_EQ(got->bottom, 100);
}

}  // namespace
