// SPDX-License-Identifier: MIT
// Forward-only cursor lookups into a stroke's time tables, shared by timing,
// tip placement and interpolation.
//
// A cursor is an iterator into one table that only ever moves forward, so a run of
// lookups at non-decreasing arguments costs constant time per lookup. A cursor at
// the table's end stands for an empty table. Callers place a cursor on the first
// entry, or with PlaceCursorAtOrBefore for a run that starts later in the table.
#pragma once

#include <algorithm>
#include <iterator>
#include <vector>

#include "kstroke/shape.h"

/// Value at time t (linear between entries, held beyond the ends); 0 for an empty
/// table. The float form takes the difference of the two values in single precision
/// and rounds the result to float.
float ValueAtTime(const K_Shape::ParamTable& table, K_Shape::ParamTable::const_iterator* cursor,
                  double t);
double ValueAtTime(const K_Shape::TimeDistanceTable& table,
                   K_Shape::TimeDistanceTable::const_iterator* cursor, double t);

/// Time at path position p, reading the time-distance table from value to time.
/// 0 for an empty table.
double TimeAtPosition(const K_Shape::TimeDistanceTable& table,
                      K_Shape::TimeDistanceTable::const_iterator* cursor, double p);

/// Spacing flag at time t: an entry's own flag at its time or past the last entry;
/// between two entries, on when either is on. A cursor at the end reports
/// "WARNING: Unexpected empty tip spacing table in the paint system." and throws 3.
bool SpacingAtTime(const K_Shape::TipSpacingTable& table,
                   K_Shape::TipSpacingTable::const_iterator* cursor, double t);

/// A cursor on the last entry whose time is at or before t; the first entry when
/// none is; the end of an empty table.
template <class T>
typename std::vector<K_TimeTableEntry<T>>::const_iterator PlaceCursorAtOrBefore(
    const std::vector<K_TimeTableEntry<T>>& table, double t) {
  auto it = std::upper_bound(table.begin(), table.end(), t,
                             [](double v, const K_TimeTableEntry<T>& e) { return v < e.time; });
  if (it != table.begin()) --it;
  return it;
}
