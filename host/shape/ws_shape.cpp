// SPDX-License-Identifier: MIT
// The host Bezier path: point-list editing, automatic tangents, sampling, and the
// vertex blend used for keyframe animation. Layout of the list: host/ws/ws.h.
#include "host/ws/ws.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "host/crv/crv.h"

namespace {

using Pt = V_Vector2T<float>;

// Points are read and written in place: recording a stroke edits a handful of them
// per pointer event, and a call and a copy for each would cost more than the edit.
// An index outside the list reads as (0, 0) and writes nowhere, as the list calls do.
Pt Item(SEQ_Head** list, int32_t i) {
  if (i < 0 || i >= SEQ_Count(list)) return Pt();
  return static_cast<const Pt*>(SEQ_Items(list))[i];
}

void SetItem(SEQ_Head** list, int32_t i, const Pt& p) {
  if (i >= 0 && i < SEQ_Count(list)) static_cast<Pt*>(SEQ_Items(list))[i] = p;
}

Pt Lerp(const Pt& a, const Pt& b, float f) { return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f}; }

SEQ_Head** NewPointList() {
  SEQ_Head** list = nullptr;
  if (SEQ_New(int32_t(sizeof(Pt)), 0, &list) != 0) throw std::bad_alloc();
  return list;
}

// Inserts three items at `at`; all or nothing.
int32_t InsertTriple(SEQ_Head** list, int32_t at, const Pt (&items)[3]) {
  if (at == SEQ_Count(list)) return SEQ_AppendItems(list, 3, items);  // at once, or not at all
  for (int j = 0; j < 3; ++j) {
    const int32_t rc = SEQ_Insert(list, at + j, &items[j]);
    if (rc != 0) {
      for (int u = j - 1; u >= 0; --u) SEQ_Remove(list, at + u);
      return rc;
    }
  }
  return 0;
}

bool IsVertexIndex(SEQ_Head** list, int32_t index) {
  return index >= 0 && index % 3 == 0 && index < SEQ_Count(list);
}

}  // namespace

WS_Shape::WS_Shape(unsigned char kind, const V_FloatShortRect* relRect)
    : shapeKind(kind), hasRect(relRect != nullptr), pointList(NewPointList()) {
  if (relRect) rect = *relRect;
}

WS_Shape::WS_Shape(const WS_Shape& other)
    : Y_MemTrackedObject(other),
      shapeKind(other.shapeKind),
      flagBits(other.flagBits),
      hasRect(other.hasRect),
      rect(other.rect) {
  if (SEQ_Clone(other.pointList, &pointList) != 0) throw std::bad_alloc();
}

WS_Shape& WS_Shape::operator=(const WS_Shape& other) {
  if (this == &other) return *this;
  SEQ_Head** copy = nullptr;
  if (SEQ_Clone(other.pointList, &copy) != 0) throw std::bad_alloc();
  SEQ_Dispose(pointList, 0);
  pointList = copy;
  shapeKind = other.shapeKind;
  flagBits = other.flagBits;
  hasRect = other.hasRect;
  rect = other.rect;
  return *this;
}

bool WS_Shape::operator==(const WS_Shape& other) const {
  if (shapeKind != other.shapeKind || flagBits != other.flagBits || hasRect != other.hasRect)
    return false;
  if (hasRect && !(rect == other.rect)) return false;
  const int32_t count = SEQ_Count(pointList);
  if (count != SEQ_Count(other.pointList)) return false;
  for (int32_t i = 0; i < count; ++i)
    if (Item(pointList, i) != Item(other.pointList, i)) return false;
  return true;
}

WS_Shape::~WS_Shape() { SEQ_Dispose(pointList, 0); }

WS_Shape* WS_Shape::Clone() const {
  try {
    return new WS_Shape(*this);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

WS_Shape* WS_Shape::CloneDefault(bool /*makeDefault*/) {
  try {
    WS_Shape* s = new WS_Shape(shapeKind, RelRect());
    if (s) s->flagBits = flagBits;
    return s;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void WS_Shape::ReadExtraChunks(DKF_File* /*file*/, const DKF_ChunkInfo* /*parent*/) {}

void WS_Shape::WriteExtraChunks(DKF_File* /*file*/) {}

void WS_Shape::PostProcessInterpolate(const WS_Shape* /*a*/, const WS_Shape* /*b*/, double /*t*/) {}

int32_t WS_Shape::BezTrueNumSegs() const {
  const int32_t n = NumVertices();
  if (IsClosed()) return n >= 2 ? n : 0;
  return n >= 1 ? n - 1 : 0;
}

int32_t WS_Shape::AddBezVertex(double position, int32_t* index) {
  if (!index || std::isnan(position)) return WS_Err_BadArgument;
  const int32_t n = NumVertices();
  const int32_t segs = BezTrueNumSegs();
  if (n == 0) {
    const Pt origin[3] = {};
    const int32_t rc = InsertTriple(pointList, 0, origin);
    if (rc == 0) *index = 0;
    return rc;
  }
  if (position < 0) {
    const Pt v0 = Item(pointList, 0);
    const Pt triple[3] = {v0, v0, v0};
    const int32_t rc = InsertTriple(pointList, 0, triple);
    if (rc == 0) *index = 0;
    return rc;
  }
  if (position >= double(segs)) {
    // Append after the last vertex. On a closed path the new vertex takes over the
    // closing segment's tangents, so the path's shape is kept.
    const int32_t last = 3 * (n - 1);
    const Pt l = Item(pointList, last);
    const Pt triple[3] = {l, IsClosed() ? Item(pointList, last + 1) : l,
                          IsClosed() ? Item(pointList, last + 2) : l};
    const int32_t rc = InsertTriple(pointList, 3 * n, triple);
    if (rc != 0) return rc;
    SetItem(pointList, last + 1, l);
    SetItem(pointList, last + 2, l);
    *index = 3 * n;
    return 0;
  }
  // Split segment i at parameter f (de Casteljau keeps both halves on the old curve).
  const auto i = int32_t(position);
  const auto f = float(position - i);
  const int32_t count = SEQ_Count(pointList);
  const Pt p0 = Item(pointList, 3 * i), p1 = Item(pointList, 3 * i + 1),
           p2 = Item(pointList, 3 * i + 2), p3 = Item(pointList, (3 * i + 3) % count);
  const Pt p01 = Lerp(p0, p1, f), p12 = Lerp(p1, p2, f), p23 = Lerp(p2, p3, f);
  const Pt p012 = Lerp(p01, p12, f), p123 = Lerp(p12, p23, f);
  const Pt triple[3] = {Lerp(p012, p123, f), p123, p23};
  const int32_t rc = InsertTriple(pointList, 3 * i + 3, triple);
  if (rc != 0) return rc;
  SEQ_SetItem(pointList, 3 * i + 1, &p01);
  SEQ_SetItem(pointList, 3 * i + 2, &p012);
  *index = 3 * i + 3;
  return 0;
}

int32_t WS_Shape::RemoveBezVertex(int32_t index) {
  if (!IsVertexIndex(pointList, index)) return WS_Err_BadIndex;
  if (index == 0) {
    // The closing segment keeps its start tangent and takes vertex 1's incoming one.
    const Pt incoming1 = Item(pointList, 2);
    for (int j = 0; j < 3; ++j) SEQ_Remove(pointList, 0);
    if (IsClosed() && SEQ_Count(pointList) > 0)
      SEQ_SetItem(pointList, SEQ_Count(pointList) - 1, &incoming1);
    return 0;
  }
  // Drop the vertex with its own two tangents: items index − 1 … index + 1.
  for (int j = 0; j < 3; ++j) SEQ_Remove(pointList, index - 1);
  return 0;
}

int32_t WS_Shape::MakeTangentsRavlo(const double* smoothness) {
  const double s = smoothness ? *smoothness : 1.0;
  if (!(s >= 0) || !std::isfinite(s)) return WS_Err_BadArgument;
  const int32_t n = NumVertices();
  const int32_t count = SEQ_Count(pointList);
  const bool closed = IsClosed();
  for (int32_t k = 0; k < n; ++k) {
    const Pt v = Item(pointList, 3 * k);
    Pt out = v, in = v;
    if (n >= 2) {
      const bool first = k == 0 && !closed, last = k == n - 1 && !closed;
      const Pt prev = Item(pointList, 3 * ((k + n - 1) % n));
      const Pt next = Item(pointList, 3 * ((k + 1) % n));
      double dx, dy, scale;
      if (first) {
        dx = next.x - v.x, dy = next.y - v.y, scale = s / 3;
      } else if (last) {
        dx = v.x - prev.x, dy = v.y - prev.y, scale = s / 3;
      } else {
        dx = next.x - prev.x, dy = next.y - prev.y, scale = s / 6;
      }
      out = Pt(float(v.x + dx * scale), float(v.y + dy * scale));
      in = Pt(float(v.x - dx * scale), float(v.y - dy * scale));
    }
    SetItem(pointList, 3 * k + 1, out);
    if (k > 0) SetItem(pointList, 3 * k - 1, in);
    else if (closed) SetItem(pointList, count - 1, in);
  }
  // The unused incoming item after the last vertex of an open path sits on it.
  if (!closed && n >= 1) {
    const Pt v = Item(pointList, 3 * (n - 1));
    SetItem(pointList, 3 * n - 1, v);
  }
  return 0;
}

void WS_Shape::Transform(const V_Matrix3& m) {
  const int32_t count = SEQ_Count(pointList);
  auto* points = static_cast<Pt*>(SEQ_Items(pointList));
  for (int32_t i = 0; i < count; ++i) {
    V_Vector2T<double> d(points[i].x, points[i].y);
    m.TransformPoint(&d);
    points[i] = Pt(float(d.x), float(d.y));
  }
}

int32_t WS_ShapeGetValues(WS_Shape* shape, int32_t segment, int32_t count,
                          V_Vector2T<float>* points, V_Vector2T<float>*** /*unused*/) {
  if (!shape || !points || count < 1) return WS_Err_BadArgument;
  if (segment < 0 || segment >= shape->BezTrueNumSegs()) return WS_Err_BadIndex;
  SEQ_Head** list = shape->Points();
  const int32_t items = SEQ_Count(list);
  double xy[8];
  CRV_Curve curve;
  for (int32_t i = 0; i < 4; ++i) {
    const Pt p = Item(list, (3 * segment + i) % items);
    xy[2 * i] = p.x;
    xy[2 * i + 1] = p.y;
    curve.points[i] = xy + 2 * i;
  }
  for (int32_t i = 0; i < count; ++i) {
    const V_Vector2T<double> p = CRV_EvaluatePoint(curve, double(i) / count);
    points[i] = Pt(float(p.x), float(p.y));
  }
  return 0;
}

int32_t WS_ShapeMoveBezVertex(WS_Shape* shape, int32_t index, const V_Vector2T<float>& point,
                              uint32_t flags, bool relative) {
  if (!shape) return WS_Err_BadArgument;
  SEQ_Head** list = shape->Points();
  if (!IsVertexIndex(list, index)) return WS_Err_BadIndex;
  const Pt v = Item(list, index);
  const Pt target = relative ? Pt(v.x + point.x, v.y + point.y) : point;
  const Pt delta(target.x - v.x, target.y - v.y);
  SetItem(list, index, target);
  if (flags & kWS_MoveVertexOnly) return 0;
  const int32_t count = SEQ_Count(list);
  int32_t tangents[3] = {index + 1, -1, -1};
  if (index > 0) tangents[1] = index - 1;
  else if (shape->IsClosed()) tangents[1] = count - 1;
  // The unused item after an open path's last vertex travels with it.
  if (!shape->IsClosed() && index + 3 == count) tangents[2] = index + 2;
  for (int32_t t : tangents) {
    if (t < 0) continue;
    const Pt p = Item(list, t);
    // A tangent point on the vertex stays exactly on it (no float drift).
    const Pt moved = p == v ? target : Pt(p.x + delta.x, p.y + delta.y);
    SetItem(list, t, moved);
  }
  return 0;
}

int32_t WS_RelToAbs(const V_FloatShortRect& rect, WS_Shape* shape) {
  if (!shape || !(shape->Flags() & kWS_FlagRelative)) return WS_Err_BadArgument;
  V_Matrix3 m;
  m.Scale(double(rect.right) - rect.left, double(rect.bottom) - rect.top);
  m.Translate(rect.left, rect.top);
  shape->Transform(m);
  shape->SetFlags(static_cast<unsigned char>(shape->Flags() & ~kWS_FlagRelative));
  return 0;
}

int32_t WS_InterpolateShapes(const WS_Shape& a, const WS_Shape& b, double t, WS_Shape* out) {
  if (!out || std::isnan(t)) return WS_Err_BadArgument;
  SEQ_Head** la = a.Points();
  SEQ_Head** lb = b.Points();
  const int32_t na = a.NumVertices(), nb = b.NumVertices();
  const int32_t n = std::max(na, nb);
  SEQ_Head** blended = nullptr;
  int32_t rc = SEQ_New(int32_t(sizeof(Pt)), 3 * n, &blended);
  if (rc != 0) return rc;
  // Item i of a path, padded past its end with its last vertex; an empty path
  // stands for the other one.
  auto pick = [](SEQ_Head** own, int32_t nOwn, SEQ_Head** other, int32_t i) {
    if (nOwn == 0) return Item(other, i);
    return i < 3 * nOwn ? Item(own, i) : Item(own, 3 * (nOwn - 1));
  };
  for (int32_t i = 0; rc == 0 && i < 3 * n; ++i) {
    const Pt pa = pick(la, na, lb, i), pb = pick(lb, nb, la, i);
    const Pt p(float(pa.x + (double(pb.x) - pa.x) * t), float(pa.y + (double(pb.y) - pa.y) * t));
    rc = SEQ_Append(blended, &p);
  }
  SEQ_Head** dest = out->Points();
  if (rc == 0) rc = SEQ_Clear(dest);
  for (int32_t i = 0; rc == 0 && i < 3 * n; ++i) {
    const Pt p = Item(blended, i);
    rc = SEQ_Append(dest, &p);
  }
  SEQ_Dispose(blended, 0);
  if (rc != 0) return rc;
  out->PostProcessInterpolate(&a, &b, t);
  return 0;
}
