// SPDX-License-Identifier: MIT
// K_Shape geometry and timing: segment curves, arc lengths through caller-kept
// tables, constant-speed retiming and polylines between two times.
#include <cmath>
#include <memory>

#include "frame/errors.h"
#include "kstroke/shape.h"
#include "stroke/time_lookup.h"
#include "stroke/tip_placement.h"

// CRVTableCache ---------------------------------------------------------------------
// =======================================================================================

CRVTableCache::~CRVTableCache() {
  for (SEQ_Head** table : slots)
    if (table) SEQ_Dispose(table, 0);
}

CRVTableCache::Slots::iterator CRVTableCache::Slot(int32_t segment) {
  if (slots.empty()) first = segment;
  if (segment < first) {
    slots.insert(slots.begin(), size_t(first - segment), nullptr);
    first = segment;
  }
  const size_t at = size_t(segment - first);
  if (at >= slots.size()) slots.resize(at + 1, nullptr);
  return slots.begin() + std::ptrdiff_t(at);
}

size_t CRVTableCache::Built() const {
  size_t n = 0;
  for (SEQ_Head** table : slots) n += table != nullptr;
  return n;
}

// Segments and arc length -------------------------------------------------------------
// =======================================================================================

void Kp_SegmentCurve(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment, double* points,
                     CRV_Curve* curve) {
  if (segment < 0 || segment >= segments) Kp_ThrowCode(kK_ErrBadSegment);
  curve->kind = kCRV_CubicPlanar;
  for (int32_t i = 0; i < 4; ++i) {
    const V_Vector2T<float> p = items[(3 * segment + i) % items.count];
    points[2 * i] = p.x;
    points[2 * i + 1] = p.y;
    curve->points[i] = points + 2 * i;
  }
}

double Kp_SegmentLength(const Kp_TipSpacePoints& items, int32_t segments, int32_t segment,
                        std::vector<SEQ_Head**>::iterator slot) {
  double length = 0.0;
  try {
    double points[8];
    CRV_Curve curve;
    Kp_SegmentCurve(items, segments, segment, points, &curve);
    SEQ_Head** table = *slot;
    KSTROKE_HOST(CRV_SFromT(&curve, 1.0, kKp_ArcResolution, &table, &length));
    *slot = table;
  } catch (long) {
    // Absorbed: the length found so far stands.
  } catch (const std::exception& e) {
    Y_TranslateAndReportException(e);
  }
  return length;
}

Kp_TipSpacePoints K_Shape::HeldPoints() const {
  const int32_t count = SEQ_Count(Points());
  return {static_cast<const V_Vector2T<float>*>(SEQ_Items(Points())), nullptr, count, count};
}

void K_Shape::GetBezCurveFromSegment(int32_t segment, double* points, CRV_Curve* curve) const {
  // Read in place: placement asks for a segment's curve once or twice per tip.
  Kp_SegmentCurve(HeldPoints(), BezTrueNumSegs(), segment, points, curve);
}

double K_Shape::GetSegmentLength(int32_t segment, std::vector<SEQ_Head**>::iterator slot) const {
  return Kp_SegmentLength(HeldPoints(), BezTrueNumSegs(), segment, slot);
}

void K_Shape::EvaluateAtSValue(double s, int32_t segment, std::vector<SEQ_Head**>::iterator slot,
                               V_Vector2T<double>* out) const {
  if (s == 0.0) {
    // The vertex itself, exactly: no arc-length rounding at a segment's start.
    V_Vector2T<float> v;
    KSTROKE_HOST(SEQ_GetItem(Points(), 3 * segment, &v));
    *out = V_Vector2T<double>(v.x, v.y);
    return;
  }
  double points[8];
  CRV_Curve curve;
  GetBezCurveFromSegment(segment, points, &curve);
  SEQ_Head** table = *slot;
  V_Vector2T<double> p;
  KSTROKE_HOST(CRV_EvaluatePointFromS(&curve, s, kKp_ArcResolution, &table, &p));
  *slot = table;
  *out = p;
}

std::vector<double> K_Shape::GetCumulativeLengths() const {
  const int32_t n = BezTrueNumSegs();
  std::vector<double> c(size_t(n) + 1, 0.0);
  CRVTableCache tables;
  for (int32_t k = 0; k < n; ++k) c[size_t(k) + 1] = c[size_t(k)] + GetSegmentLength(k, tables.Slot(k));
  return c;
}

// Timing ------------------------------------------------------------------------------
// =======================================================================================

double K_Shape::GetStrokeDuration() const {
  return timeDistanceTable.empty() ? 0.0 : timeDistanceTable.back().time;
}

void K_Shape::SetConstantVelocity() {
  const int32_t n = BezTrueNumSegs();
  if (n < 1 || tipSpacingTable.empty()) return;
  const double duration = tipSpacingTable.back().time;
  if (!(duration > 0.0) || !std::isfinite(duration)) return;
  const std::vector<double> c = GetCumulativeLengths();
  const double total = c[size_t(n)];
  const bool measurable = total > 0.0 && std::isfinite(total);
  TimeDistanceTable retimed;
  retimed.reserve(size_t(n) + 1);
  const double k = measurable ? duration / total : duration / n;
  for (int32_t i = 0; i <= n; ++i)
    retimed.push_back({k * (measurable ? c[size_t(i)] : double(i)), double(i)});
  timeDistanceTable.swap(retimed);
}

K_Shape* K_Shape::MakeFromWSShape(const WS_Shape* src) {
  KSTROKE_CHECK(src != nullptr, "no source shape to make a stroke from");
  std::unique_ptr<K_Shape> shape(MakeDefault());
  if (!shape) return nullptr;
  shape->WS_Shape::operator=(*src);
  shape->SetConstantVelocity();
  return shape.release();
}

void K_Shape::ShapeGetValues(double from, double to, int32_t perSegment,
                             std::vector<V_Vector2T<float>>* out) {
  if (!(from < to) || SEQ_Count(Points()) == 0 || timeDistanceTable.empty() || perSegment < 1)
    return;
  const double duration = timeDistanceTable.back().time;
  auto positionAt = [this](double time) {
    auto cursor = PlaceCursorAtOrBefore(timeDistanceTable, time);
    return double(float(ValueAtTime(timeDistanceTable, &cursor, time)));
  };
  const double p0 = positionAt(from * duration);
  const double p1 = positionAt(to * duration);
  const auto i0 = int32_t(p0);
  auto i1 = int32_t(p1);
  double f1 = p1 - i1;
  // A range that ends on a vertex does not take in the following segment.
  if (f1 > -1e-12 && f1 < 1e-12) {
    i1 -= 1;
    f1 = 1.0;
  }
  const int32_t segments = std::max(0, i1 - i0 + 1);
  out->resize(size_t(segments) * size_t(perSegment));
  for (int32_t k = i0; k <= i1; ++k)
    KSTROKE_HOST(WS_ShapeGetValues(this, k, perSegment, out->data() + size_t(k - i0) * size_t(perSegment),
                                   nullptr));
  const auto cutEnd = std::min(out->size(), size_t(std::max(0.0, (1.0 - f1) * perSegment)));
  out->resize(out->size() - cutEnd);
  const auto cutStart = std::min(out->size(), size_t(std::max(0.0, (p0 - i0) * perSegment)));
  out->erase(out->begin(), out->begin() + std::ptrdiff_t(cutStart));
}
