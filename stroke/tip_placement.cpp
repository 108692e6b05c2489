// SPDX-License-Identifier: MIT
// Tip placement: walks the stroke in tip space from where the cache says placement
// stopped and places tips at brush spacing, forcing a tip at every spacing-off
// entry of the tip spacing table.
//
// Overview. GetTipParamsList copies the shape into tip space (see
// stroke/tip_placement.h), runs the placement loop on the copy, trims the tips to
// the stroke's start and end, and maps them to output pixels. The loop asks
// GetNextTipTime for one tip after another. A spaced tip lies one step along the
// path from the previous tip, the step being spacing × diameter × roundness at the
// previous tip; a step never carries past the next spacing-table entry (other than
// the last): the tip is placed at that entry's time instead. The last tip of a call
// is provisional: when the path ends part way through the step after it, its flow
// is faded by that part, and the cache is left on the tip before it so the next
// call places it again on the longer path.
#include "stroke/tip_placement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frame/errors.h"
#include "kstroke/progress.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "host/crv/crv.h"
#include "host/seq/seq.h"
#include "stroke/time_lookup.h"

namespace {

constexpr double kMinRoundness = 0.01;
constexpr double kMinStep = 0.05;  // tip-space pixels; bounds the tip count per length

// Tip locations waiting for their arc-length inversions, which are solved a batch at a
// time (CRV_EvaluatePointsFromS runs them interleaved, at about half the cost). A
// tip's table is prepared when the tip is placed, so a failure still comes at the tip
// that meets it; the batch's solves, on prepared tables, cannot fail. What is waiting
// is solved when the batch goes, also when an error passes, so the tips placed before
// it keep their locations.
class PendingLocations {
public:
  explicit PendingLocations(std::vector<Kp_TipLocAndParams>* placed) : tips(placed) {}
  ~PendingLocations() { Solve(); }
  PendingLocations(const PendingLocations&) = delete;
  PendingLocations& operator=(const PendingLocations&) = delete;

  /// Prepares the table of `segment` in `slot`; throws as EvaluateAtSValue would.
  void Prepare(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment,
               std::vector<SEQ_Head**>::iterator slot) {
    Kp_SegmentCurve(items, segments, segment, points[count], &curves[count]);
    SEQ_Head** table = *slot;
    // A table already in the slot is this curve's at this resolution (the cache is the
    // call's own), which is all preparing would make sure of.
    if (!table) {
      KSTROKE_HOST(CRV_PrepareTable(&curves[count], kKp_ArcResolution, &table));
      *slot = table;
    }
    tables[count] = table;
  }
  /// Queues the location of tip `index` at arc length s on the curve just prepared.
  void Add(std::size_t index, double s) {
    at[count] = s;
    tip[count] = index;
    slots[count] = &tables[count];
    if (++count == kBatch) Solve();
  }
  void Solve() noexcept {
    if (count == 0) return;
    V_Vector2T<double> found[kBatch];
    // Every table is prepared, so this answers 0; were it not to, the tips would keep
    // the location they were made with (0, 0) rather than a wrong one.
    if (CRV_EvaluatePointsFromS(curves, at, count, kKp_ArcResolution, slots, found) == 0)
      for (int32_t k = 0; k < count; ++k) (*tips)[tip[k]].location = found[k];
    count = 0;
  }

private:
  static constexpr int32_t kBatch = 16;
  std::vector<Kp_TipLocAndParams>* tips;
  int32_t count = 0;
  double points[kBatch][8];
  CRV_Curve curves[kBatch];
  SEQ_Head** tables[kBatch];
  SEQ_Head*** slots[kBatch];
  double at[kBatch];
  std::size_t tip[kBatch];
};

// Kp_SegmentLength for placement. A table already in the call's own cache is this
// segment's, built at placement's one resolution on the call's view of the path: its
// last sample is what the query would answer, without the curve made again and the
// table checked against it for every tip.
double PlacedSegmentLength(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment,
                           std::vector<SEQ_Head**>::iterator slot) {
  double length = 0.0;
  if (*slot && CRV_TableLength(*slot, &length) == 0) return length;
  return Kp_SegmentLength(items, segments, segment, slot);
}

// |x − 1| within rounding of 1; the second bound is 1e-12 in single precision.
bool NearOne(double x) {
  return std::fabs(x - 1.0) < std::max(1e-12 * std::max(x, 1.0), 1.000088900582341e-12);
}

}  // namespace

// Entry point ---------------------------------------------------------------------------
// =======================================================================================

void K_Shape::GetTipParamsList(GX_ProgressInfo* progress, const V_Rect* layerRect,
                               double pixelAspect, const K_StrokeGlobalProperties* props,
                               Kp_TipLocationCache* cache, Kp_StrokeTipLocsAndParams* out) const {
  KSTROKE_CHECK(props != nullptr, "no brush properties for tip placement");
  KSTROKE_CHECK(props->spacing > 0, "WARNING: Brush spacing is invalid in the paint system.");
  KSTROKE_CHECK(props->diameter > 0, "WARNING: Brush diameter is invalid in the paint system.");
  KSTROKE_CHECK(!timeDistanceTable.empty(),
                "WARNING: Paint timing information is missing in the paint system.");
  KSTROKE_CHECK(!tipSpacingTable.empty(), "WARNING: Brush spacing is missing in the paint system.");
  KSTROKE_CHECK(layerRect && cache && out, "tip placement needs a layer rectangle, cache and output");
  if (!(pixelAspect > 0) || !std::isfinite(pixelAspect)) {
    char message[96];
    std::snprintf(message, sizeof message, "pixel aspect %g is not a positive finite number",
                  pixelAspect);
    Kp_FailCheck(0, __LINE__, message);
  }

  // 16-bit differences, as the rectangle's own fields are.
  const auto width = static_cast<int16_t>(layerRect->right - layerRect->left);
  const auto height = static_cast<int16_t>(layerRect->bottom - layerRect->top);
  V_Matrix3 toTipSpace;
  toTipSpace.SetIdentity();
  toTipSpace.Translate(-props->anchor.x, -props->anchor.y);
  toTipSpace.Scale(width * pixelAspect, height);
  toTipSpace.Rotate(props->rotation);
  // The path in tip space, as a copy of the shape moved by the matrix would hold it.
  // A relative shape's points convert to absolute ones with the unit rectangle, 0 +
  // p·1, which is p again. Placement reads only the segments from where the cache says
  // it stopped, so only their points are moved (one segment before, to spare the
  // boundary any doubt), each as WS_Shape::Transform moves it: through doubles, stored
  // back as floats. A stroke rendered as it grows would otherwise copy and move its
  // whole path, and copy its tables, on every call.
  Kp_TipSpacePoints items = HeldPoints();
  items.first = std::min(3 * std::max(cache->segment - 1, 0), items.count);
  std::vector<V_Vector2T<float>> moved(size_t(items.count - items.first));
  for (size_t i = 0; i < moved.size(); ++i) {
    const V_Vector2T<float>& p = items.held[size_t(items.first) + i];
    V_Vector2T<double> d(p.x, p.y);
    toTipSpace.TransformPoint(&d);
    moved[i] = V_Vector2T<float>(float(d.x), float(d.y));
  }
  items.moved = moved.data();

  {
    CRVTableCache tables;
    GetTipParamsListImp(progress, props, items, cache, &tables, out);
  }
  TrimTipsToRange(out, props->start, props->end);

  V_Matrix3 toOutput;
  toOutput.SetIdentity();
  toOutput.Rotate(-props->rotation);
  toOutput.Scale(props->scale.x, props->scale.y);
  toOutput.Rotate(props->rotation);
  toOutput.Scale(1.0 / pixelAspect, 1.0);
  toOutput.Translate(layerRect->left + width * props->position.x,
                     layerRect->top + height * props->position.y);
  for (Kp_TipLocAndParams& tip : out->tips) toOutput.TransformPoint(&tip.location);
}

// Placement loop ------------------------------------------------------------------------
// =======================================================================================

void K_Shape::GetTipParamsListImp(GX_ProgressInfo* progress, const K_StrokeGlobalProperties* props,
                                  const Kp_TipSpacePoints& items, Kp_TipLocationCache* cache,
                                  CRVTableCache* tables, Kp_StrokeTipLocsAndParams* out) const {
  out->endTime = timeDistanceTable.back().time;
  const int32_t n = BezTrueNumSegs();
  ProgressSubRange range(progress, n);

  ParamTable::const_iterator params[kK_StrokeParamCount];
  for (int i = 0; i < kK_StrokeParamCount; ++i)
    params[i] = PlaceCursorAtOrBefore(paramTables[i], cache->time);
  auto spacingCursor = tipSpacingTable.cbegin();
  auto distanceCursor = timeDistanceTable.cbegin();

  Kp_TipLocationCache prev;
  double lastTipScale = 1.0;
  Kp_TipLocationCache next;
  auto nextTip = [&] {
    return GetNextTipTime(*cache, props, items, &spacingCursor, &params[K_StrokeParam_Diameter],
                          &params[K_StrokeParam_Roundness], &distanceCursor, tables, &lastTipScale,
                          &next);
  };
  PendingLocations located(&out->tips);
  for (bool found = nextTip(); found; found = nextTip()) {
    if (next.segment != cache->segment) range.Advance(std::min(next.segment, n));
    Kp_TipLocAndParams tip;
    tip.time = next.time;
    float* factors[kK_StrokeParamCount] = {&tip.diameter, &tip.opacity, &tip.flow, &tip.angle,
                                           &tip.roundness};
    for (int i = 0; i < kK_StrokeParamCount; ++i)
      *factors[i] = ValueAtTime(paramTables[i], &params[i], next.time);
    // A tip on a vertex is that vertex, exactly; any other waits for its inversion.
    const bool onVertex = next.distance == 0.0;
    if (onVertex) {
      const int32_t at = 3 * next.segment;
      if (at < 0 || at >= items.count) Kp_ThrowCode(SEQ_Err_BadIndex);  // as SEQ_GetItem answers
      tip.location = V_Vector2T<double>(items[at].x, items[at].y);
    } else {
      located.Prepare(items, n, next.segment, tables->Slot(next.segment));
    }
    out->tips.push_back(tip);
    if (!onVertex) located.Add(out->tips.size() - 1, next.distance);
    prev = *cache;
    *cache = next;
    cache->started = true;
  }
  located.Solve();
  if (!out->tips.empty() && cache->spaced)
    out->tips.back().flow = float(double(out->tips.back().flow) * lastTipScale);
  *cache = prev;
}

bool K_Shape::GetNextTipTime(const Kp_TipLocationCache& previous,
                             const K_StrokeGlobalProperties* props, const Kp_TipSpacePoints& items,
                             TipSpacingTable::const_iterator* spacingCursor,
                             ParamTable::const_iterator* diameterCursor,
                             ParamTable::const_iterator* roundnessCursor,
                             TimeDistanceTable::const_iterator* distanceCursor,
                             CRVTableCache* tables, double* lastTipScale,
                             Kp_TipLocationCache* next) const {
  const int32_t n = BezTrueNumSegs();
  *lastTipScale = 1.0;
  next->time = -1.0;
  next->distance = -1.0;
  next->segment = -1;

  // The kind of the next tip comes from the spacing table.
  bool spacedStep = false;
  if (previous.started) {
    if (SpacingAtTime(tipSpacingTable, spacingCursor, previous.time)) {
      spacedStep = true;
      // NOTE: a spacing-off entry before the previous tip has had its forced tip
      // already. Within one call the cursor left it right after that tip; a call
      // that resumes from the cache finds it again here and must leave it too, or
      // the following spacing-on entry would be taken for a tip boundary and a call
      // on a growing stroke would place tips that one call on the whole stroke
      // does not.
      if (!(*spacingCursor)->value && (*spacingCursor)->time < previous.time) ++*spacingCursor;
    } else if (++*spacingCursor == tipSpacingTable.end()) {
      return false;
    }
  }
  if (!spacedStep) {
    const K_TimeTableEntry<bool>& e = **spacingCursor;
    if (e.value) {
      spacedStep = true;
    } else {
      next->spaced = false;
      next->time = e.time;
    }
  }

  if (spacedStep) {
    const double d =
        double(ValueAtTime(paramTables[K_StrokeParam_Diameter], diameterCursor, previous.time)) *
        props->diameter;
    const double r = std::max(
        kMinRoundness,
        double(ValueAtTime(paramTables[K_StrokeParam_Roundness], roundnessCursor, previous.time)) *
            props->roundness);
    const double step = std::max(kMinStep, r * d * props->spacing);

    next->distance = previous.distance + step;
    next->segment = previous.segment;
    double len = 0.0;
    while (next->segment < n) {
      len = PlacedSegmentLength(items, n, next->segment, tables->Slot(next->segment));
      if (next->distance <= len) break;
      next->segment += 1;
      next->distance -= len;
    }
    const double p = len == 0.0 ? double(next->segment) : next->segment + next->distance / len;

    // The time-distance cursor moves only once the spaced tip is kept: a dropped tip
    // lies after the entry that replaces it, and the cursor must not pass that entry.
    auto probe = *distanceCursor;
    next->time = TimeAtPosition(timeDistanceTable, &probe, p);
    next->spaced = true;

    auto reached = *spacingCursor;
    SpacingAtTime(tipSpacingTable, &reached, next->time);
    if (reached > *spacingCursor && std::next(reached) != tipSpacingTable.end()) {
      ++*spacingCursor;
      next->spaced = false;
      next->time = (*spacingCursor)->time;
      next->distance = -1.0;
    } else {
      *distanceCursor = probe;
      if (next->segment >= n) {
        *lastTipScale = 1.0 - next->distance / step;
        return false;
      }
    }
  }

  KSTROKE_CHECK(previous.time != -1.0, "WARNING: Paint system unable to calculate next tip.");
  if (next->distance != -1.0) return true;

  // A tip at a spacing entry's time: find where on the path that time is.
  const double p = ValueAtTime(timeDistanceTable, distanceCursor, next->time);
  next->segment = int32_t(p);
  const double f = p - next->segment;
  if (next->segment > n || (next->segment == n && f > 0)) return false;
  next->distance = f == 0.0 ? 0.0 : f * PlacedSegmentLength(items, n, next->segment, tables->Slot(next->segment));
  return true;
}

// Trimming ------------------------------------------------------------------------------
// =======================================================================================

void TrimTipsToRange(Kp_StrokeTipLocsAndParams* out, double start, double end) {
  std::vector<Kp_TipLocAndParams>& tips = out->tips;
  const double total = out->endTime;
  const double tStart = start * total;
  double tEnd = end * total;
  if (NearOne(end) && !NearOne(start)) tEnd += 1.0;  // keeps a tip at exactly T

  auto byTime = [](const Kp_TipLocAndParams& tip, double t) { return tip.time < t; };
  auto first = std::lower_bound(tips.begin(), tips.end(), tStart, byTime);
  if (first != tips.begin()) --first;
  tips.erase(tips.begin(), first);

  double startScale = 1.0;
  if (!tips.empty()) {
    const double t0 = tips[0].time;
    const double t1 = tips.size() > 1 ? tips[1].time : total;
    if (t1 - t0 > 0 && tStart > t0) startScale = (t1 - tStart) / (t1 - t0);
  }

  auto past = std::lower_bound(tips.begin(), tips.end(), tEnd, byTime);
  const double tNext = past != tips.end() ? past->time : total;
  tips.erase(past, tips.end());

  double endScale = 1.0;
  if (!tips.empty()) {
    const double tLast = tips.back().time;
    if (tNext - tLast > 0) endScale = (end * total - tLast) / (tNext - tLast);
  }

  if (tips.size() == 1) {
    tips[0].flow = float(double(tips[0].flow) * std::max(0.0, startScale + endScale - 1.0));
  } else if (tips.size() > 1) {
    tips.front().flow = float(double(tips.front().flow) * startScale);
    tips.back().flow = float(double(tips.back().flow) * endScale);
  }
}
