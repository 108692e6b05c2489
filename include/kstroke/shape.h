// SPDX-License-Identifier: MIT
// K_Shape: a recorded brush stroke. A host Bezier path (WS_Shape, open, coordinates
// relative to the layer rectangle) with time added: each vertex has the time the
// pointer passed it, and the stroke carries time tables of the spacing flag and of
// five brush parameter factors.
//
// Time tables are vectors of (time, value) entries with strictly increasing times.
// A path position is a vertex number, fractional between vertices.
#pragma once

#include <cstdint>
#include <vector>

#include "host/ws/ws.h"
#include "kstroke/kstroke_export.h"

/// One entry of a stroke time table.
template <class T>
struct K_TimeTableEntry {
  double time;
  T value;
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
constexpr int kK_StrokeParamCount = 5;

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

class KSTROKE_API K_Shape : public WS_Shape {
public:
  using TimeDistanceTable = std::vector<K_TimeTableEntry<double>>;
  using TipSpacingTable = std::vector<K_TimeTableEntry<bool>>;
  using ParamTable = std::vector<K_TimeTableEntry<float>>;

  /// An empty stroke with no relative rectangle.
  K_Shape();
  /// An empty stroke: a host shape of kind kWS_KindStroke (2) with `relRect` (may be
  /// null), flagged open (1) and relative (8). Throws std::bad_alloc when the host
  /// cannot allocate its point list.
  explicit K_Shape(const V_FloatShortRect* relRect);
  /// Copies the host shape and every table.
  K_Shape(const K_Shape& other);
  K_Shape& operator=(const K_Shape& other);
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
  // The file chunks of the time tables (ReadExtraChunks, WriteExtraChunks) are
  // declared here and live in stroke/shape_chunks.cpp.

  /// Adds one pointer sample: a vertex at (x, y) with its time, and the sample's
  /// spacing flag and factors in the tables. A sample whose time is not after the
  /// last accepted one, or that lies exactly on the last vertex (in float) without
  /// `addIfUnmoved`, is ignored. Runs of spacing-on samples collapse into one entry
  /// at the run's latest time; runs of equal factors keep their first entry and one
  /// at their latest time. Answers 0 (also for an ignored sample) or an error code:
  /// a host failure's code, 3 after a report for a null event or a non-finite time
  /// or position, the translated code of a std::exception. Never throws.
  virtual int32_t AppendVertex(const PaintPointerEvent* event);

  /// The default stroke: (0.25, 0.25) at time 0 with spacing off, then (0.75, 0.75)
  /// at time 1 with spacing on, every factor 1. Null when the allocator fails.
  static K_Shape* MakeDefault();

  /// Equal host shapes, then equal parameter tables, time-distance table and spacing
  /// table, entry by entry, compared exactly (a NaN never compares equal).
  bool operator==(const K_Shape& other) const;
  bool operator!=(const K_Shape& other) const { return !(*this == other); }

  const TimeDistanceTable& GetTimeDistanceTable() const { return timeDistanceTable; }

  /// (time, path position): one entry per appended vertex.
  TimeDistanceTable timeDistanceTable;
  /// (time, spacing on).
  TipSpacingTable tipSpacingTable;
  /// (time, factor) per K_StrokeParam.
  ParamTable paramTables[kK_StrokeParamCount];
};
