// SPDX-License-Identifier: MIT
// K_Shape construction, copying, comparison and recording from pointer events.
#include "kstroke/shape.h"

#include <cmath>
#include <new>

#include "frame/errors.h"

namespace {

// Past the end of any stroke: the host appends the vertex at the end. Only up to a
// point: once the last vertex lies beyond it, the host would insert there instead, so
// recording stops at kK_MaxRecordedVertices (position 10922 is then the last but one).
constexpr double kAppendPosition = 10922.0;
static_assert(kK_MaxRecordedVertices == int32_t(kAppendPosition) + 2,
              "the last appended vertex sits one past the append position");

constexpr unsigned char kStrokeFlags = kWS_FlagOpen | kWS_FlagRelative;

template <class T>
bool SameTable(const std::vector<K_TimeTableEntry<T>>& a, const std::vector<K_TimeTableEntry<T>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!(a[i].time == b[i].time) || !(a[i].value == b[i].value)) return false;
  return true;
}

}  // namespace

K_Shape::K_Shape() : K_Shape(nullptr) {}

K_Shape::K_Shape(const V_FloatShortRect* relRect) : WS_Shape(kWS_KindStroke, relRect) {
  SetFlags(static_cast<unsigned char>(Flags() | kStrokeFlags));
}

K_Shape::K_Shape(const K_Shape& other) = default;

K_Shape& K_Shape::operator=(const K_Shape& other) = default;

K_Shape::~K_Shape() = default;

WS_Shape* K_Shape::Clone() const {
  try {
    return new K_Shape(*this);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

WS_Shape* K_Shape::CloneDefault(bool makeDefault) {
  if (makeDefault) return MakeDefault();
  try {
    return new K_Shape(nullptr);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int32_t K_Shape::AddBezVertex(double position, int32_t* index) {
  return Kp_CatchAtBoundary([&] { KSTROKE_HOST(WS_Shape::AddBezVertex(position, index)); });
}

int32_t K_Shape::RemoveBezVertex(int32_t index) {
  return Kp_CatchAtBoundary([&] { KSTROKE_HOST(WS_Shape::RemoveBezVertex(index)); });
}

int32_t K_Shape::AppendVertex(const PaintPointerEvent* event) {
  return Kp_CatchAtBoundary([&] {
    KSTROKE_CHECK(event && std::isfinite(event->time) && std::isfinite(event->x) &&
                      std::isfinite(event->y),
                  "pointer event is missing or has a non-finite time or position");
    const V_Vector2T<float> p(float(event->x), float(event->y));
    const int32_t items = SEQ_Count(Points());
    V_Vector2T<float> last;
    const bool hasVertex = items >= 3;
    if (hasVertex) KSTROKE_HOST(SEQ_GetItem(Points(), items - 3, &last));
    if (!timeDistanceTable.empty() && timeDistanceTable.back().time >= event->time) return;
    if (hasVertex && p == last && !event->addIfUnmoved) return;
    KSTROKE_CHECK(items / 3 < kK_MaxRecordedVertices,
                  "a recorded stroke holds at most 10924 vertices");

    int32_t index = 0;
    KSTROKE_HOST(AddBezVertex(kAppendPosition, &index));
    KSTROKE_HOST(WS_ShapeMoveBezVertex(this, index, p, 0, false));
    timeDistanceTable.push_back({event->time, double(index / 3)});

    if (!tipSpacingTable.empty() && event->useSpacing && tipSpacingTable.back().value)
      tipSpacingTable.back().time = event->time;
    else
      tipSpacingTable.push_back({event->time, event->useSpacing});

    // Keeping a run's first and latest entry keeps linear interpolation exact.
    for (int i = 0; i < kK_StrokeParamCount; ++i) {
      ParamTable& table = paramTables[i];
      const float v = event->params[i];
      const size_t n = table.size();
      if (n >= 2 && table[n - 1].value == v && table[n - 2].value == v)
        table.back().time = event->time;
      else
        table.push_back({event->time, v});
    }
  });
}

K_Shape* K_Shape::MakeDefault() {
  K_Shape* shape = nullptr;
  try {
    shape = new K_Shape(nullptr);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!shape) return nullptr;
  shape->SetFlags(static_cast<unsigned char>(shape->Flags() | kStrokeFlags));
  PaintPointerEvent first;
  first.time = 0.0;
  first.x = first.y = 0.25;
  for (float& f : first.params) f = 1.0f;
  first.useSpacing = false;
  PaintPointerEvent second = first;
  second.time = 1.0;
  second.x = second.y = 0.75;
  second.useSpacing = true;
  shape->AppendVertex(&first);
  shape->AppendVertex(&second);
  return shape;
}

bool K_Shape::operator==(const K_Shape& other) const {
  if (!WS_Shape::operator==(other)) return false;
  for (int i = 0; i < kK_StrokeParamCount; ++i)
    if (!SameTable(paramTables[i], other.paramTables[i])) return false;
  return SameTable(timeDistanceTable, other.timeDistanceTable) &&
         SameTable(tipSpacingTable, other.tipSpacingTable);
}
