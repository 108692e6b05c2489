// SPDX-License-Identifier: MIT
/// @file
/// Host shape library: the Bezier path object and its free functions.
///
/// Point list layout: three V_Vector2T<float> items per vertex, in a SEQ_ list:
///   item 3k     vertex k
///   item 3k + 1 vertex k's outgoing tangent point (toward vertex k + 1)
///   item 3k + 2 vertex k + 1's incoming tangent point
/// Segment k is the cubic through items 3k … 3k + 3, taken modulo the item count so
/// that the last segment of a closed path wraps to vertex 0. An open path of n
/// vertices has n − 1 segments (its last vertex's two tangent items are unused); a
/// closed one has n (n ≥ 2). A path position is a vertex number, fractional between
/// vertices: position k + f lies on segment k at Bezier parameter f.
///
/// Every operation that answers int32_t answers 0 or a host error code (WS_Err_*,
/// SEQ_Err_*, Y_Err_OutOfMemory).
#pragma once

#include <cstdint>

#include "host/seq/seq.h"
#include "host/v/v.h"
#include "host/y/y.h"

struct DKF_File;
class DKF_ChunkInfo;

/// Bits of the shape's flag byte.
enum : unsigned char {
  kWS_FlagOpen = 0x01,      ///< the path is open (no segment from the last vertex to the first)
  kWS_FlagSelected = 0x02,  ///< host UI state; kept and compared, never interpreted here
  kWS_FlagLocked = 0x04,    ///< host UI state; kept and compared, never interpreted here
  kWS_FlagRelative = 0x08,  ///< coordinates are fractions of a rectangle (see WS_RelToAbs)
};

/// Shape kinds the host knows. The kind is a tag that tells file readers which
/// class to make; the library keeps and compares it and does nothing else with it.
enum : unsigned char {
  kWS_KindMask = 1,    ///< a plain Bezier mask path
  kWS_KindStroke = 2,  ///< a paint stroke path (the engine's K_Shape)
};

/// How WS_ShapeMoveBezVertex moves: with kWS_MoveVertexOnly the tangent points stay.
constexpr uint32_t kWS_MoveVertexOnly = 0x01;

/// The host's Bezier path. Copies are deep. Allocated through the tracked allocator.
class WS_Shape : public Y_MemTrackedObject {
public:
  /// An empty path of the given kind. `relRect`, when given, is kept as the shape's
  /// relative rectangle. The flag byte starts at 0 (a closed, absolute path).
  /// Throws std::bad_alloc when the point list cannot be allocated.
  WS_Shape(unsigned char kind, const V_FloatShortRect* relRect);
  /// Deep copy (throws std::bad_alloc when the list cannot be copied).
  WS_Shape(const WS_Shape& other);
  /// Deep copy of kind, flags, rectangle and points; strong guarantee (throws
  /// std::bad_alloc and leaves this shape unchanged when the copy fails).
  WS_Shape& operator=(const WS_Shape& other);
  /// Equal when kind, flags, rectangle (presence and value) and every point item match.
  ///@{
  bool operator==(const WS_Shape& other) const;
  bool operator!=(const WS_Shape& other) const { return !(*this == other); }
  ///@}

  ~WS_Shape() override;
  /// A new copy of this shape, null when the allocator fails.
  virtual WS_Shape* Clone() const;
  /// A new empty shape of the same kind, flags and rectangle, null when the
  /// allocator fails. A plain shape has no default geometry, so `makeDefault` is
  /// ignored here; derived shapes give it a meaning.
  virtual WS_Shape* CloneDefault(bool makeDefault);
  /// Extra file data of derived shapes, read from inside the shape's list `parent` or
  /// written into the list being written; failures are thrown (a long code or a
  /// std::exception). A plain host shape has none: these do nothing.
  ///@{
  virtual void ReadExtraChunks(DKF_File* file, const DKF_ChunkInfo* parent);
  virtual void WriteExtraChunks(DKF_File* file);
  ///@}
  /// Inserts a vertex at path `position` and answers its list index (a multiple of 3)
  /// in `*index`. Inside segment k (k ≤ position < k + 1) the segment is split at
  /// parameter position − k, so the path keeps its shape. A position past the last
  /// segment (or any position on a path with no segment) appends a vertex equal to
  /// the last one: on an open path with its tangent points on it, on a closed path
  /// taking over the closing segment's tangent points so the path keeps its shape. A
  /// negative position prepends a copy of vertex 0, tangent points on it. The first
  /// vertex of an empty path is (0, 0). WS_Err_BadArgument for a NaN position or a
  /// null `index`.
  virtual int32_t AddBezVertex(double position, int32_t* index);
  /// Removes the vertex at list index `index` (a multiple of 3) with its two tangent
  /// points; its neighbours keep their own tangents. WS_Err_BadIndex otherwise.
  virtual int32_t RemoveBezVertex(int32_t index);
  /// Sets every tangent point automatically for a smooth path through the vertices
  /// (Catmull-Rom): vertex k's tangents lie on the line through k parallel to
  /// (vertex k+1 − vertex k−1), at ±smoothness / 6 of that vector. The ends of an open
  /// path use the one-sided chord at smoothness / 3. `smoothness` points at the
  /// factor; null means 1 (plain Catmull-Rom), 0 gives straight segments.
  /// WS_Err_BadArgument for a negative or non-finite factor.
  virtual int32_t MakeTangentsRavlo(const double* smoothness);
  /// Hook called by WS_InterpolateShapes on the in-between shape after the vertices
  /// are blended. A plain shape has nothing more to blend.
  virtual void PostProcessInterpolate(const WS_Shape* a, const WS_Shape* b, double t);

  /// Number of Bezier segments: n − 1 for an open path of n ≥ 1 vertices, n for a
  /// closed one of n ≥ 2, else 0.
  int32_t BezTrueNumSegs() const;
  /// Number of vertices: the point list's items / 3.
  int32_t NumVertices() const { return SEQ_Count(pointList) / 3; }
  /// Maps every point item (vertices and tangent points) through `m`.
  void Transform(const V_Matrix3& m);

  /// The point list (three items per vertex, see the top of this header).
  SEQ_Head** Points() const { return pointList; }
  /// The kind given at construction (kWS_KindMask, kWS_KindStroke, or a host's own).
  unsigned char Kind() const { return shapeKind; }
  /// The flag byte (kWS_Flag* bits); SetFlags replaces it whole and moves no point.
  ///@{
  unsigned char Flags() const { return flagBits; }
  void SetFlags(unsigned char f) { flagBits = f; }
  ///@}
  /// True unless kWS_FlagOpen is set.
  bool IsClosed() const { return (flagBits & kWS_FlagOpen) == 0; }
  /// The relative rectangle, or null when the shape has none.
  const V_FloatShortRect* RelRect() const { return hasRect ? &rect : nullptr; }

private:
  unsigned char shapeKind;
  unsigned char flagBits = 0;
  bool hasRect = false;
  V_FloatShortRect rect;
  SEQ_Head** pointList = nullptr;
};

/// `count` points (≥ 1) along segment `segment`, at Bezier parameters i / count for
/// i = 0 … count − 1 (the segment's end point is the next segment's first point).
/// `unused` is ignored (hosts pass null).
int32_t WS_ShapeGetValues(WS_Shape* shape, int32_t segment, int32_t count,
                          V_Vector2T<float>* points, V_Vector2T<float>*** unused);

/// Moves the vertex at list index `index` to `point`, moving its two tangent points
/// by the same offset unless `flags` has kWS_MoveVertexOnly. With `relative` true
/// `point` is an offset added to the vertex rather than its new place.
int32_t WS_ShapeMoveBezVertex(WS_Shape* shape, int32_t index, const V_Vector2T<float>& point,
                              uint32_t flags, bool relative);

/// Converts a relative shape to absolute coordinates: every point p becomes
/// (left + p.x·(right − left), top + p.y·(bottom − top)) and kWS_FlagRelative is
/// cleared. WS_Err_BadArgument (shape unchanged) when the shape is not relative.
int32_t WS_RelToAbs(const V_FloatShortRect& rect, WS_Shape* shape);

/// Writes into `*out` the in-between of `a` and `b` at fraction t (0 gives a, 1 gives
/// b): every point item is a + (b − a)·t. `out` keeps its own kind, flags and
/// rectangle. When the vertex counts differ, the shorter path is padded with copies
/// of its last vertex (three items each), so the longer path's extra vertices grow
/// out of that end; an empty shape stands for the other one, and two empty shapes give
/// an empty shape. Then calls
/// out->PostProcessInterpolate(&a, &b, t), whose exceptions pass to the caller.
int32_t WS_InterpolateShapes(const WS_Shape& a, const WS_Shape& b, double t, WS_Shape* out);
