// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kstroke/brush_tip.h"
#include "test_support.h"
#include "tip_fixtures.h"

namespace {

class TipRescale : public TrackedTest {};

double Mass(const K_BrushTip& tip) {
  const GX_UnoBuffer& b = *tip.GetTip();
  double sum = 0;
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x)
      sum += b.GetDepth() == 16 ? b.Row<uint16_t>(y)[x] / 32768.0 : b.Row<uint8_t>(y)[x] / 255.0;
  return sum;
}

TEST_F(TipRescale, UnitScaleKeepsTheBuffer) {
  K_ComputedBrushTip tip(9, 1, 1, 0, false, false);
  const GX_UnoBuffer* before = tip.GetTip();
  tip.Rescale({1, 1});
  EXPECT_EQ(tip.GetTip(), before);
}

TEST_F(TipRescale, NewSizesAndPreservedMass) {
  struct Case { const char* name; double sx, sy; bool deep; int width, height; };
  // A 9 × 9 flat tip: new size ceil(9 × factor).
  const Case kCases[] = {
      {"half", 0.5, 0.5, false, 5, 5}, {"double, deep", 2, 2, true, 18, 18},
      {"stretch", 1.5, 0.34, false, 14, 4}, {"one axis only", 1, 3, true, 9, 27},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(9, 9, c.deep ? 32768 : 255), c.deep);
    tip.SetHotSpot({18, 18});
    const double before = Mass(tip);
    tip.Rescale({c.sx, c.sy});
    EXPECT_EQ(tip.GetExtent(), (V_Vector2T<short>{short(c.width), short(c.height)}));
    EXPECT_EQ(tip.IsDeep(), c.deep);
    EXPECT_EQ(tip.GetHotSpot(), (V_Vector2T<short>{18, 18})) << "hot spot is kept";
    // Unequal factors sample the coarser level along both axes and blur the edges.
    EXPECT_NEAR(Mass(tip) / (before * c.sx * c.sy), 1.0, 0.2);
  }
}

TEST_F(TipRescale, RescaledRoundTipStaysSymmetric) {
  K_ComputedBrushTip tip(20, 0.5, 1, 0, false, true);
  tip.Rescale({0.6, 0.6});
  const GX_UnoBuffer& b = *tip.GetTip();
  ASSERT_EQ(b.GetWidth(), b.GetHeight());
  // Mirror symmetry up to the half-sample the pyramid's sample grid puts off centre.
  int peak = 0;
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x) {
      peak = std::max(peak, int(b.Row<uint16_t>(y)[x]));
      // Rows are filtered and blended before columns, so rounding differs slightly.
      EXPECT_NEAR(b.Row<uint16_t>(y)[x], b.Row<uint16_t>(x)[y], 33) << "transpose " << x << "," << y;
    }
  EXPECT_GT(peak, 30000);
}

TEST_F(TipRescale, RejectsBadFactorsAndKeepsTheTip) {
  struct Case { const char* name; double sx, sy; const char* message; };
  const double inf = std::numeric_limits<double>::infinity();
  const Case kCases[] = {
      {"zero", 0, 1, "tip rescale factor x = 0 is not a positive finite number"},
      {"negative", 1, -2, "tip rescale factor y = -2 is not a positive finite number"},
      {"NaN", std::nan(""), 1, "tip rescale factor x = nan is not a positive finite number"},
      {"infinite", 1, inf, "tip rescale factor y = inf is not a positive finite number"},
      {"too large", 4000, 1, "tip rescale factor x = 4000 makes the tip wider than 30000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TestTip tip(TestTip::Flat(9, 9, 255), false);
    const GX_UnoBuffer* before = tip.GetTip();
    Y_ResetVerificationReports();
    EXPECT_EQ(ThrownCode([&] { tip.Rescale({c.sx, c.sy}); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, c.message);
    EXPECT_EQ(Y_LastVerificationReport().count, 1);
    EXPECT_EQ(tip.GetTip(), before);
  }
}

TEST_F(TipRescale, AllocationFailureKeepsTheTip) {
  TestTip tip(TestTip::Flat(9, 9, 255), false);
  const GX_UnoBuffer* before = tip.GetTip();
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_THROW(tip.Rescale({2, 2}), std::bad_alloc);
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  EXPECT_EQ(tip.GetTip(), before);
}

}  // namespace
