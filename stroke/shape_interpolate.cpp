// SPDX-License-Identifier: MIT
// Keyframe interpolation of a stroke's tables. Timing is blended in a normalised
// form (time as a fraction of the duration, path position as a fraction of the arc
// length) so strokes of different durations and vertex counts blend smoothly; the
// result is brought back to the in-between duration and vertex numbering.
#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "frame/errors.h"
#include "kstroke/shape.h"
#include "stroke/time_lookup.h"

namespace {

template <class T>
using Table = std::vector<K_TimeTableEntry<T>>;

template <class T>
bool Normalisable(const Table<T>& table) {
  return !table.empty() && table.back().time > 0.0 && std::isfinite(table.back().time);
}

// Scales the times so the last entry lies at `end`. The last entry is set to `end`
// exactly: x · (1 / x) is not always 1 in floating point, and the merge below must
// see both keyframes end at the same time.
template <class T>
void RescaleTimes(Table<T>* table, double end) {
  if (table->empty()) return;
  const double factor = end / table->back().time;
  for (auto& e : *table) e.time *= factor;
  table->back().time = end;
}

template <class T>
Table<T> Normalised(const Table<T>& table) {
  Table<T> copy = table;
  RescaleTimes(&copy, 1.0);
  return copy;
}

// Sorted union of two tables' times; an equal time is taken once.
template <class T>
std::vector<double> MergedTimes(const Table<T>& a, const Table<T>& b) {
  std::vector<double> times;
  times.reserve(a.size() + b.size());
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].time < b[j].time) {
      times.push_back(a[i++].time);
    } else if (b[j].time < a[i].time) {
      times.push_back(b[j++].time);
    } else {
      times.push_back(a[i].time);
      ++i, ++j;
    }
  }
  for (; i < a.size(); ++i) times.push_back(a[i].time);
  for (; j < b.size(); ++j) times.push_back(b[j].time);
  return times;
}

// Path positions → fractions of the arc length of the path with cumulative lengths c.
void PositionsToFractions(const std::vector<double>& c, Table<double>* table) {
  const auto n = int32_t(c.size()) - 1;
  const double total = c.back();
  if (!(total > 0.0)) {
    table->back().value = 1.0;
    return;
  }
  for (auto& e : *table) {
    const int32_t i = std::min(n, std::max(0, int32_t(e.value)));
    double f = c[size_t(i)] / total;
    if (i + 1 <= n) f += (c[size_t(i) + 1] - c[size_t(i)]) / total * (e.value - i);
    e.value = f;
  }
}

// Fractions of the arc length → path positions on the path with cumulative lengths c.
void FractionsToPositions(const std::vector<double>& c, Table<double>* table) {
  const double total = c.back();
  if (!(total > 0.0)) {
    table->back().value = 1.0;
    return;
  }
  std::vector<double> fractions(c.size());
  for (size_t k = 0; k < c.size(); ++k) fractions[k] = c[k] / total;
  for (auto& e : *table) {
    const double f = e.value;
    const auto j = size_t(std::upper_bound(fractions.begin(), fractions.end(), f) - fractions.begin());
    if (j == 0) {
      e.value = 0.0;
    } else if (j == fractions.size()) {
      e.value = double(j - 1);
    } else {
      const size_t i = j - 1;
      e.value = double(i) + (f - fractions[i]) / (fractions[j] - fractions[i]);
    }
  }
}

}  // namespace

void K_Shape::PostProcessInterpolate(const WS_Shape* a, const WS_Shape* b, double t) {
  if (!a || !b) throw std::bad_cast();
  const K_Shape& ka = dynamic_cast<const K_Shape&>(*a);
  const K_Shape& kb = dynamic_cast<const K_Shape&>(*b);

  bool usable = Normalisable(ka.timeDistanceTable) && Normalisable(kb.timeDistanceTable) &&
                Normalisable(ka.tipSpacingTable);
  for (int i = 0; i < kK_StrokeParamCount; ++i)
    usable = usable && Normalisable(ka.paramTables[i]) && Normalisable(kb.paramTables[i]);
  const double ta = usable ? ka.timeDistanceTable.back().time : 0.0;
  const double tb = usable ? kb.timeDistanceTable.back().time : 0.0;
  const double duration = ta + (tb - ta) * t;
  KSTROKE_CHECK(usable && duration > 0.0 && std::isfinite(duration),
                "keyframe stroke has no usable timing");

  // Timing, through arc-length fractions of each keyframe's own path.
  Table<double> da = Normalised(ka.timeDistanceTable);
  Table<double> db = Normalised(kb.timeDistanceTable);
  PositionsToFractions(ka.GetCumulativeLengths(), &da);
  PositionsToFractions(kb.GetCumulativeLengths(), &db);
  TimeDistanceTable timing;
  {
    auto ca = da.cbegin();
    auto cb = db.cbegin();
    for (double tau : MergedTimes(da, db)) {
      const double va = float(ValueAtTime(da, &ca, tau));
      const double vb = float(ValueAtTime(db, &cb, tau));
      timing.push_back({tau, va + (vb - va) * t});
    }
  }
  RescaleTimes(&timing, duration);
  FractionsToPositions(GetCumulativeLengths(), &timing);

  // Spacing flags are a's alone.
  TipSpacingTable spacing = ka.tipSpacingTable;
  RescaleTimes(&spacing, duration);

  ParamTable params[kK_StrokeParamCount];
  for (int i = 0; i < kK_StrokeParamCount; ++i) {
    const ParamTable pa = Normalised(ka.paramTables[i]);
    const ParamTable pb = Normalised(kb.paramTables[i]);
    auto ca = pa.cbegin();
    auto cb = pb.cbegin();
    for (double tau : MergedTimes(pa, pb)) {
      const float va = ValueAtTime(pa, &ca, tau);
      const float vb = ValueAtTime(pb, &cb, tau);
      const float diff = vb - va;
      params[i].push_back({tau, float(va + double(diff) * t)});
    }
    RescaleTimes(&params[i], duration);
  }

  timeDistanceTable.swap(timing);
  tipSpacingTable.swap(spacing);
  for (int i = 0; i < kK_StrokeParamCount; ++i) paramTables[i].swap(params[i]);
}
