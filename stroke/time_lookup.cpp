// SPDX-License-Identifier: MIT
#include "stroke/time_lookup.h"

#include "frame/errors.h"

namespace {

// Moves the cursor on while the next entry's key is below the query (or, with
// `inclusive`, at or below it), where the key is the entry's time or value.
template <class It, class Key>
void Advance(It* cursor, It end, double query, bool inclusive, Key key) {
  for (It next = std::next(*cursor); next != end; ++next) {
    const double k = key(*next);
    if (!(inclusive ? query >= k : query > k)) break;
    *cursor = next;
  }
}

}  // namespace

float ValueAtTime(const K_Shape::ParamTable& table, K_Shape::ParamTable::const_iterator* cursor,
                  double t) {
  if (*cursor == table.end()) return 0.0f;
  Advance(cursor, table.end(), t, false, [](const K_TimeTableEntry<float>& e) { return e.time; });
  const auto& e = **cursor;
  const auto next = std::next(*cursor);
  if (e.time > t || next == table.end()) return e.value;
  const float diff = next->value - e.value;
  return float(e.value + (t - e.time) / (next->time - e.time) * double(diff));
}

double ValueAtTime(const K_Shape::TimeDistanceTable& table,
                   K_Shape::TimeDistanceTable::const_iterator* cursor, double t) {
  if (*cursor == table.end()) return 0.0;
  Advance(cursor, table.end(), t, false, [](const K_TimeTableEntry<double>& e) { return e.time; });
  const auto& e = **cursor;
  const auto next = std::next(*cursor);
  if (e.time > t || next == table.end()) return e.value;
  return e.value + (t - e.time) / (next->time - e.time) * (next->value - e.value);
}

double TimeAtPosition(const K_Shape::TimeDistanceTable& table,
                      K_Shape::TimeDistanceTable::const_iterator* cursor, double p) {
  if (*cursor == table.end()) return 0.0;
  Advance(cursor, table.end(), p, true, [](const K_TimeTableEntry<double>& e) { return e.value; });
  const auto& e = **cursor;
  const auto next = std::next(*cursor);
  if (e.value > p || next == table.end()) return e.time;
  return e.time + (p - e.value) / (next->value - e.value) * (next->time - e.time);
}

bool SpacingAtTime(const K_Shape::TipSpacingTable& table,
                   K_Shape::TipSpacingTable::const_iterator* cursor, double t) {
  KSTROKE_CHECK(*cursor != table.end(),
                "WARNING: Unexpected empty tip spacing table in the paint system.");
  Advance(cursor, table.end(), t, true, [](const K_TimeTableEntry<bool>& e) { return e.time; });
  const auto& e = **cursor;
  const auto next = std::next(*cursor);
  if (e.time == t || next == table.end()) return e.value;
  return e.value || next->value;
}
