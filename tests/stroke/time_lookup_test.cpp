// SPDX-License-Identifier: MIT
#include "stroke/time_lookup.h"

#include "test_support.h"

namespace {

class TimeLookup : public TrackedTest {};

TEST_F(TimeLookup, ValueAtTimeInterpolatesAndHolds) {
  const K_Shape::ParamTable table = {{0, 1.0f}, {2, 0.5f}, {4, 0.5f}, {5, 1.0f}};
  struct Case { double t; float want; };
  // Increasing queries through one cursor, as placement makes them.
  const Case cases[] = {{-1, 1.0f}, {0, 1.0f},  {1, 0.75f}, {2, 0.5f},
                        {3, 0.5f},  {4.5, 0.75f}, {5, 1.0f}, {9, 1.0f}};
  auto cursor = table.cbegin();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(ValueAtTime(table, &cursor, c.t), c.want);
  }
  EXPECT_EQ(cursor, table.cend() - 1);
  const K_Shape::ParamTable empty;
  auto end = empty.cbegin();
  EXPECT_EQ(ValueAtTime(empty, &end, 1.0), 0.0f);
}

TEST_F(TimeLookup, FloatFormRoundsLikeSinglePrecision) {
  // 0.1f − 0.3f in float, scaled by 1/3 in double, rounded to float.
  const K_Shape::ParamTable table = {{0, 0.3f}, {3, 0.1f}};
  auto cursor = table.cbegin();
  const float diff = 0.1f - 0.3f;
  EXPECT_EQ(ValueAtTime(table, &cursor, 1.0), float(0.3f + 1.0 / 3.0 * double(diff)));
}

TEST_F(TimeLookup, DistanceTableBothDirections) {
  const K_Shape::TimeDistanceTable table = {{0, 0}, {2, 1}, {8, 2}};
  auto c1 = table.cbegin();
  EXPECT_DOUBLE_EQ(ValueAtTime(table, &c1, 5), 1.5);
  EXPECT_DOUBLE_EQ(ValueAtTime(table, &c1, 8), 2);
  auto c2 = table.cbegin();
  struct Case { double p; double want; };
  const Case cases[] = {{-0.5, 0}, {0, 0}, {0.5, 1}, {1, 2}, {1.25, 3.5}, {2, 8}, {3, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    EXPECT_DOUBLE_EQ(TimeAtPosition(table, &c2, c.p), c.want);
  }
  const K_Shape::TimeDistanceTable empty;
  auto e = empty.cbegin();
  EXPECT_EQ(TimeAtPosition(empty, &e, 1), 0.0);
  EXPECT_EQ(ValueAtTime(empty, &e, 1), 0.0);
}

TEST_F(TimeLookup, SpacingBetweenEntriesIsOnWhenEitherIs) {
  const K_Shape::TipSpacingTable table = {{0, false}, {3, true}, {4, false}, {5, false}};
  struct Case { double t; bool want; };
  const Case cases[] = {{0, false}, {1, true}, {3, true}, {3.5, true},
                        {4, false}, {4.5, false}, {5, false}, {6, false}};
  auto cursor = table.cbegin();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(SpacingAtTime(table, &cursor, c.t), c.want);
  }
}

TEST_F(TimeLookup, SpacingAtEndOfTableIsAReportedError) {
  const K_Shape::TipSpacingTable empty;
  auto cursor = empty.cbegin();
  EXPECT_EQ(ThrownCode([&] { SpacingAtTime(empty, &cursor, 0); }), 3);
  EXPECT_EQ(Y_LastVerificationReport().message,
            "WARNING: Unexpected empty tip spacing table in the paint system.");
  EXPECT_EQ(Y_LastVerificationReport().code, 0);
  EXPECT_EQ(Y_LastVerificationReport().file, "");
}

TEST_F(TimeLookup, PlaceCursorAtOrBefore) {
  const K_Shape::ParamTable table = {{1, 0}, {2, 0}, {3, 0}};
  for (const auto& [t, index] : {std::pair{0.5, 0}, {2.0, 1}, {2.5, 1}, {7.0, 2}})
    EXPECT_EQ(PlaceCursorAtOrBefore(table, t) - table.cbegin(), index) << t;
  const K_Shape::ParamTable empty;
  EXPECT_EQ(PlaceCursorAtOrBefore(empty, 1.0), empty.cend());
}

}  // namespace
