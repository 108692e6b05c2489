// SPDX-License-Identifier: MIT
// Records of tip placement shared with the renderer: where placement stopped, the
// placed tips with their parameter factors, and the per-call arc-length table cache.
//
// Tip space: the stroke moved so its anchor is the origin, scaled from
// layer-relative units to square pixels (width × pixelAspect, height) and rotated by
// the stroke rotation. Spacing is measured there, before the stroke's scale, so the
// scale changes how far apart tips land in the output but not how many there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/crv/crv.h"
#include "host/seq/seq.h"
#include "host/v/v.h"

/// One location on the stroke path: the previous tip or the next one. The renderer
/// keeps one between calls, created all zero (no tip yet, start of segment 0 at
/// time 0). Placement writes −1 into time, distance and segment of a location it is
/// about to compute, so a time of −1 marks a location that was never filled.
struct Kp_TipLocationCache {
  double time = 0.0;      ///< stroke time of the tip
  double distance = 0.0;  ///< tip-space arc length from the start of `segment`; −1: derive from time
  int32_t segment = 0;    ///< true Bezier segment holding the tip; the segment count at the path's end
  bool spaced = false;    ///< placed by spacing (true) or at a spacing-table entry's time (false)
  bool started = false;   ///< the cache holds a placed tip
};

/// One placed tip.
struct Kp_TipLocAndParams {
  V_Vector2T<double> location;  ///< centre: tip space during placement, output pixels on return
  double time = 0.0;            ///< stroke time
  float diameter = 0.0f;        ///< factors read from the parameter tables at `time`
  float opacity = 0.0f;
  float flow = 0.0f;  ///< may be faded for the provisional last tip and at the trim edges
  float angle = 0.0f;  ///< degrees
  float roundness = 0.0f;
};

/// The output of placement.
struct Kp_StrokeTipLocsAndParams {
  std::vector<Kp_TipLocAndParams> tips;  ///< in placement (increasing time) order
  double endTime = 0.0;                  ///< the stroke's end time (last time-distance entry)
};

/// The resolution of every arc-length query placement makes.
constexpr int32_t kKp_ArcResolution = 500;

/// A shape's list items as placement reads them: items `first` to `count` − 1 moved
/// into tip space (`moved`), the ones before as the shape holds them (`held`). Placement
/// reads only the segments from where its cache stopped, so only their points are
/// moved for a call, instead of the whole stroke being copied and moved on every call
/// of a stroke rendered as it grows.
struct Kp_TipSpacePoints {
  const V_Vector2T<float>* held = nullptr;   ///< all `count` items of the shape's list
  const V_Vector2T<float>* moved = nullptr;  ///< items first … count − 1, moved
  int32_t first = 0;
  int32_t count = 0;
  V_Vector2T<float> operator[](int32_t i) const { return i >= first ? moved[i - first] : held[i]; }
};

/// The curve of `segment` (of `segments`) through `items`: list items 3k … 3k + 3
/// modulo the count into `points`, `curve` pointed at them. Throws 10 for a segment
/// outside [0, segments).
void Kp_SegmentCurve(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment, double* points,
                     CRV_Curve* curve);
/// Arc length of `segment` through `items`, its table kept in `slot`; never throws:
/// a failure (a bad segment included) is absorbed and 0 returned, the slot untouched.
double Kp_SegmentLength(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment,
                        std::vector<SEQ_Head**>::iterator slot);

/// One arc-length table slot per true segment of one shape (null until the host
/// builds the table on the first query). Grows on demand; every built table is
/// disposed when the cache is destroyed, also during exception unwinding. Slots are
/// held from the lowest segment asked for, not from segment 0: a stroke rendered as
/// it grows places tips on its last few segments only, and slots for all the others
/// cost a fill and a walk of the whole stroke on every call.
class CRVTableCache {
public:
  using Slots = std::vector<SEQ_Head**>;
  CRVTableCache() = default;
  ~CRVTableCache();
  CRVTableCache(const CRVTableCache&) = delete;
  CRVTableCache& operator=(const CRVTableCache&) = delete;

  /// The slot of `segment` (≥ 0), growing the cache with null slots as needed. The
  /// iterator is good until the next call.
  Slots::iterator Slot(int32_t segment);
  /// Number of slots whose table has been built.
  std::size_t Built() const;

private:
  Slots slots;        ///< segments first, first + 1, …
  int32_t first = 0;  ///< the segment of slots[0]
};

/// Trims the tips to the stroke times [start·T, end·T] (T = out->endTime), keeping
/// the last tip before the start, and fades the flow of the first and last tips
/// left by the part of their interval inside the range. `end` equal to 1 (within
/// 1e-12) keeps a tip at exactly T.
void TrimTipsToRange(Kp_StrokeTipLocsAndParams* out, double start, double end);
