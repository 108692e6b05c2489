// SPDX-License-Identifier: MIT
/// @file
/// Host Bezier library: arc length of cubic Bezier curves and the point at a given
/// arc length.
///
/// Arc length is the integral of the speed |B'(t)|. A query builds, on first use, an
/// arc-length table for the curve: n equal parameter intervals, each integrated with
/// 4-point Gauss-Legendre, stored as n + 1 cumulative (t, s) samples in a SEQ_ list.
/// Where the processor has AVX (and KSTROKE_PORTABLE is not set) the rule's four
/// speeds are one vector; every answer is the same, bit for bit, either way.
/// `resolution` is the most intervals a table may have; a curve gets one interval per
/// pixel of its control polygon's length, |dx| + |dy| per side (at least one), since
/// shorter intervals of a smooth cubic add nothing to the accuracy and a stroke has
/// hundreds of short curves.
/// The caller keeps the table in a slot (a `SEQ_Head**`) and passes the slot with every
/// later query on the same curve; a slot built at another resolution is rebuilt in
/// place. Queries inside an interval integrate the remainder again, so
/// results are accurate to about 1e-12 of the length on smooth curves (a cusp, where
/// the speed touches zero, costs accuracy only in its own interval). The table belongs
/// to the caller, who disposes it with SEQ_Dispose(table, 0); passing one curve's
/// table with another curve gives meaningless answers.
#pragma once

#include <cstdint>

#include "host/seq/seq.h"
#include "host/v/v.h"

/// The curve kind hosts pass: a cubic Bezier in the plane.
constexpr int16_t kCRV_CubicPlanar = 2;

/// One cubic Bezier segment: `kind` (kCRV_CubicPlanar), then pointers to the four
/// control points, each a pair of doubles (x, y): start, start tangent, end tangent,
/// end. The curve does not own the points.
struct CRV_Curve {
  int16_t kind = kCRV_CubicPlanar;  ///< kCRV_CubicPlanar; any other kind is refused
  /// Start, start tangent, end tangent, end; each points at x then y.
  const double* points[4] = {nullptr, nullptr, nullptr, nullptr};
};

/// One sample of an arc-length table: parameter and arc length from the start.
struct CRV_ArcSample {
  double t;  ///< Bezier parameter, 0..1
  double s;  ///< arc length from the curve's start to t, in the points' units
};

/// Point of the curve at parameter t (no table needed).
V_Vector2T<double> CRV_EvaluatePoint(const CRV_Curve& curve, double t);

/// Arc length from the curve's start to parameter `t` (clamped to [0, 1]).
/// `resolution` ≥ 1; `*table` may be null (built and stored) or a table from an
/// earlier query on this curve. Answers CRV_Err_BadCurve for a bad record and
/// CRV_Err_BadResolution for a resolution below 1.
int32_t CRV_SFromT(const CRV_Curve* curve, double t, int32_t resolution, SEQ_Head*** table,
                   double* length);

/// Parameter at arc length `s` from the start; `s` outside [0, length] is clamped to
/// the curve's ends.
int32_t CRV_TFromS(const CRV_Curve* curve, double s, int32_t resolution, SEQ_Head*** table,
                   double* t);

/// The point at arc length `s` from the start (clamped as in CRV_TFromS).
int32_t CRV_EvaluatePointFromS(const CRV_Curve* curve, double s, int32_t resolution,
                               SEQ_Head*** table, V_Vector2T<double>* point);

/// The whole length a table holds (its last sample): what CRV_SFromT answers for
/// t = 1 on the table's own curve and resolution. CRV_Err_BadCurve for a null list or
/// one that is not a table.
int32_t CRV_TableLength(SEQ_Head** table, double* length);

/// Makes sure `*table` is the curve's table at this resolution, building it when
/// null or made at another resolution; the codes are those of the queries. A query
/// on a prepared table does no allocation and cannot fail.
int32_t CRV_PrepareTable(const CRV_Curve* curve, int32_t resolution, SEQ_Head*** table);

/// CRV_EvaluatePointFromS for `count` queries at once: points[k] is the point at arc
/// length s[k] of curves[k], through the table in the slot tables[k] (queries on one
/// curve may share a slot). Each point is the one the single query gives, bit for
/// bit; the inversions run four at a time, interleaved, which takes about half the
/// time of running them one after another. Every table is prepared first, in order:
/// on a failure the code is answered and no point is written. CRV_Err_BadCurve also
/// for a negative count or null arrays.
int32_t CRV_EvaluatePointsFromS(const CRV_Curve* curves, const double* s, int32_t count,
                                int32_t resolution, SEQ_Head*** const* tables,
                                V_Vector2T<double>* points);
