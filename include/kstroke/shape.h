// SPDX-License-Identifier: MIT
/// @file
/// K_Shape: a recorded brush stroke. A host Bezier path (WS_Shape, open, coordinates
/// relative to the layer rectangle) with time added: each vertex has the time the
/// pointer passed it, and the stroke carries time tables of the spacing flag and of
/// five brush parameter factors.
///
/// Time tables are vectors of (time, value) entries with strictly increasing times.
/// A path position is a vertex number, fractional between vertices.
#pragma once

#include <cstdint>
#include <vector>

#include "host/crv/crv.h"
#include "host/ws/ws.h"
#include "kstroke/kstroke_export.h"

struct GX_ProgressInfo;
struct K_StrokeGlobalProperties;
struct Kp_TipLocationCache;
struct Kp_StrokeTipLocsAndParams;
class CRVTableCache;
struct Kp_TipSpacePoints;

/// One entry of a stroke time table.
template <class T>
struct K_TimeTableEntry {
  double time;  ///< seconds from the stroke's start
  T value;      ///< the value from that time on
};

/// Index of `K_Shape::paramTables` and of `PaintPointerEvent::params`. The values
/// persist in files.
enum K_StrokeParam : int32_t {
  K_StrokeParam_Diameter = 0,
  K_StrokeParam_Opacity = 1,
  K_StrokeParam_Flow = 2,
  K_StrokeParam_Angle = 3,  ///< degrees
  K_StrokeParam_Roundness = 4,
};
constexpr int kK_StrokeParamCount = 5;  ///< the factors K_StrokeParam names

/// Most vertices AppendVertex records in one stroke. It appends at the fixed path
/// position 10922, which stops being past the end once the stroke has 10924 vertices;
/// a host continues a longer stroke as another one.
constexpr int32_t kK_MaxRecordedVertices = 10924;

/// One pointer sample as the host hands it to K_Shape::AppendVertex.
struct PaintPointerEvent {
  double time = 0.0;  ///< stroke time; must exceed the previous accepted sample's
  double x = 0.0;     ///< position, fraction of the layer rectangle's width
  double y = 0.0;     ///< position, fraction of the layer rectangle's height
  /// Diameter, opacity, flow, angle (degrees) and roundness factors, K_StrokeParam order.
  float params[kK_StrokeParamCount] = {1.0f, 1.0f, 1.0f, 0.0f, 1.0f};
  /// true: tips around this sample follow brush spacing; false: a tip is forced at
  /// exactly this sample's time.
  bool useSpacing = true;
  /// Add a vertex even when the sample lies exactly on the last vertex.
  bool addIfUnmoved = false;
};

/// A recorded brush stroke: the host's Bezier path with the time the pointer passed
/// each vertex, and time tables of the spacing flag and the parameter factors.
class KSTROKE_API K_Shape : public WS_Shape {
public:
  /// Arc length along the path at each time.
  using TimeDistanceTable = std::vector<K_TimeTableEntry<double>>;
  /// Whether tips follow the spacing from each time on (false forces one per sample).
  using TipSpacingTable = std::vector<K_TimeTableEntry<bool>>;
  /// One factor (K_StrokeParam) from each time on.
  using ParamTable = std::vector<K_TimeTableEntry<float>>;

  /// An empty stroke with no relative rectangle.
  K_Shape();
  /// An empty stroke: a host shape of kind kWS_KindStroke (2) with `relRect` (may be
  /// null), flagged open (1) and relative (8). Throws std::bad_alloc when the host
  /// cannot allocate its point list.
  explicit K_Shape(const V_FloatShortRect* relRect);
  /// Copies the host shape and every table.
  ///@{
  K_Shape(const K_Shape& other);
  K_Shape& operator=(const K_Shape& other);
  ///@}
  ~K_Shape() override;

  /// A new copy, null when the tracked allocator fails.
  WS_Shape* Clone() const override;
  /// `makeDefault` false: a new empty stroke (null rectangle); true: MakeDefault().
  /// Null when the tracked allocator fails.
  WS_Shape* CloneDefault(bool makeDefault) override;
  /// The host's insertion unchanged; the time tables are not touched. Answers 0 or
  /// the host's code (thrown codes and std::exceptions are caught and answered).
  int32_t AddBezVertex(double position, int32_t* index) override;
  /// The host's removal; the time tables are not touched (keeping them consistent
  /// after such edits is the caller's affair). Answers 0 or the failure code.
  int32_t RemoveBezVertex(int32_t index) override;
  /// Reads the time tables from the "LIST" chunk of type "pnts" inside `parent` (null:
  /// the file's top level); the chunk layout is at the top of stroke/shape_chunks.h.
  /// A table whose sub-chunk is absent keeps its contents; a table read from the file
  /// replaces it, and a parameter table read from the file is stretched so its last
  /// entry is no earlier than the time-distance table's last entry (tables kept from
  /// before the read are not stretched). Throws the chunk library's code on failure
  /// (DKF_Err_NotFound when the list is absent); the table being read then holds the
  /// entries read so far.
  void ReadExtraChunks(DKF_File* file, const DKF_ChunkInfo* parent) override;
  /// Appends the time tables as one "LIST" chunk of type "pnts" at the file's current
  /// place. Throws the chunk library's code on failure.
  void WriteExtraChunks(DKF_File* file) override;

  /// Adds one pointer sample: a vertex at (x, y) with its time, and the sample's
  /// spacing flag and factors in the tables. A sample whose time is not after the
  /// last accepted one, or that lies exactly on the last vertex (in float) without
  /// `addIfUnmoved`, is ignored. Runs of spacing-on samples collapse into one entry
  /// at the run's latest time; runs of equal factors keep their first entry and one
  /// at their latest time. Answers 0 (also for an ignored sample) or an error code:
  /// a host failure's code, 3 after a report for a null event or a non-finite time
  /// or position, or for a sample that would add vertex kK_MaxRecordedVertices + 1
  /// (the stroke is left as it was), the translated code of a std::exception. Never
  /// throws.
  virtual int32_t AppendVertex(const PaintPointerEvent* event);

  /// The default stroke: (0.25, 0.25) at time 0 with spacing off, then (0.75, 0.75)
  /// at time 1 with spacing on, every factor 1. Null when the allocator fails.
  static K_Shape* MakeDefault();

  /// Equal host shapes, then equal parameter tables, time-distance table and spacing
  /// table, entry by entry, compared exactly (a NaN never compares equal).
  ///@{
  bool operator==(const K_Shape& other) const;
  bool operator!=(const K_Shape& other) const { return !(*this == other); }
  ///@}

  /// The arc length reached at each recorded time.
  const TimeDistanceTable& GetTimeDistanceTable() const { return timeDistanceTable; }

  // Arc length, timing and evaluation ------------------------------------------
  // Segment k runs from vertex k to vertex k + 1; arc-length queries go through a
  // caller-kept table slot (null at first, filled by the host, resolution 500).

  /// Fills `points` with the segment's four control points (x0, y0 … x3, y3, list
  /// items 3k … 3k + 3 modulo the item count) and points `curve` at them. Throws 10
  /// for a segment outside [0, BezTrueNumSegs()).
  void GetBezCurveFromSegment(int32_t segment, double* points, CRV_Curve* curve) const;
  /// Arc length of the segment. Never throws: any failure (a bad segment included) is
  /// absorbed and the length found so far (0) is returned with the slot untouched.
  double GetSegmentLength(int32_t segment, std::vector<SEQ_Head**>::iterator slot) const;
  /// The point at arc length `s` from the segment's start. `s` exactly 0 gives vertex
  /// `segment` itself (list item 3 × segment, so the segment count gives the path's
  /// end point) without building a curve. Throws host codes and 10.
  void EvaluateAtSValue(double s, int32_t segment, std::vector<SEQ_Head**>::iterator slot,
                        V_Vector2T<double>* out) const;
  /// Cumulative arc lengths c[0 … n] of the n true segments (c[0] = 0), measured in
  /// the shape's own coordinates with tables that are disposed before it returns.
  std::vector<double> GetCumulativeLengths() const;
  /// Time of the last time-distance entry; 0 for an empty table.
  double GetStrokeDuration() const;
  /// Retimes the vertices for constant speed over the duration T = the last spacing
  /// entry's time: vertex i gets the time T × c[i] / c[n]. Nothing changes for a
  /// path with no segment, an empty spacing table or T not above 0. A path of zero
  /// total length has no speed to keep constant: its vertices are spread evenly over
  /// T (vertex i at T × i / n), the limit of a path whose segments shrink alike.
  void SetConstantVelocity();
  /// A stroke with `src`'s geometry: MakeDefault(), the host assignment of `src`
  /// (which copies the whole host shape: points, kind, flags, rectangle), then
  /// SetConstantVelocity(). Lasts 1 time unit with the default's spacing and factors.
  /// Null when the allocator fails; throws 3 for a null `src`; the new shape is
  /// deleted when a step throws.
  static K_Shape* MakeFromWSShape(const WS_Shape* src);
  /// The stroke between the fractions `from` and `to` of its duration as a polyline
  /// of `perSegment` points per segment (host sampling), trimmed to within a point
  /// spacing of each end. `out` is resized, not appended to. Does nothing when
  /// from ≥ to, the path has no points, the time-distance table is empty or
  /// perSegment < 1.
  void ShapeGetValues(double from, double to, int32_t perSegment,
                      std::vector<V_Vector2T<float>>* out);

  // Tip placement ----------------------------------------------------------------

  /// Appends the tips that are new since `cache` (plus the previous call's
  /// provisional last tip again) to `out->tips`, trimmed to props->start … end and
  /// mapped to the pixel frame of `layerRect` (the rectangle the unit square maps
  /// to), and sets `out->endTime`; advances `*cache`. The renderer passes an empty
  /// list: trimming and mapping apply to the whole list. The shape is not changed.
  /// Throws 3 after a report for an invalid spacing, diameter, empty time-distance
  /// or spacing table (tested in that order, before anything else), a null argument
  /// or a pixel aspect that is not a positive finite number; host and progress codes
  /// as they come. On a throw the cache holds the last tip placed and `out->tips` the
  /// tips placed so far, untrimmed and in tip space.
  void GetTipParamsList(GX_ProgressInfo* progress, const V_Rect* layerRect, double pixelAspect,
                        const K_StrokeGlobalProperties* props, Kp_TipLocationCache* cache,
                        Kp_StrokeTipLocsAndParams* out) const;

  /// (time, path position): one entry per appended vertex.
  TimeDistanceTable timeDistanceTable;
  /// (time, spacing on).
  TipSpacingTable tipSpacingTable;
  /// (time, factor) per K_StrokeParam.
  ParamTable paramTables[kK_StrokeParamCount];

protected:
  /// Interpolates timing, spacing and factors between keyframe strokes `a` and `b` at
  /// fraction t after the host has blended the vertices into this shape. Both must
  /// be K_Shapes (std::bad_cast otherwise, nothing changed). Every table it
  /// normalises (a's and b's time-distance and parameter tables, a's spacing table)
  /// must be non-empty and end at a finite time above 0, and the in-between duration
  /// must be above 0: otherwise it reports "keyframe stroke has no usable timing"
  /// and throws 3 with this shape unchanged, so no NaN time can arise. Positions
  /// past the end of a keyframe's path count as its end.
  void PostProcessInterpolate(const WS_Shape* a, const WS_Shape* b, double t) override;

private:
  /// The list items as they are, as placement reads them.
  Kp_TipSpacePoints HeldPoints() const;
  void GetTipParamsListImp(GX_ProgressInfo* progress, const K_StrokeGlobalProperties* props,
                           const Kp_TipSpacePoints& items, Kp_TipLocationCache* cache,
                           CRVTableCache* tables, Kp_StrokeTipLocsAndParams* out) const;
  bool GetNextTipTime(const Kp_TipLocationCache& previous, const K_StrokeGlobalProperties* props,
                      const Kp_TipSpacePoints& items, TipSpacingTable::const_iterator* spacingCursor,
                      ParamTable::const_iterator* diameterCursor,
                      ParamTable::const_iterator* roundnessCursor,
                      TimeDistanceTable::const_iterator* distanceCursor, CRVTableCache* tables,
                      double* lastTipScale, Kp_TipLocationCache* next) const;
};
