// SPDX-License-Identifier: MIT
#include "document/recorded_shape.h"

#include "host/seq/seq.h"

namespace {

constexpr unsigned char kOpenRelative = kWS_FlagOpen | kWS_FlagRelative;

// The tracked allocator answers null rather than throwing.
std::unique_ptr<K_Shape> NewShape() {
  std::unique_ptr<K_Shape> shape(new K_Shape());
  if (!shape) throw std::bad_alloc();
  return shape;
}

void Host(int32_t rc) {
  if (rc != 0) throw long(rc);
}

template <class T, class U>
void CopyTable(const std::vector<T>& from, std::vector<U>* to) {
  to->clear();
  to->reserve(from.size());
  for (const auto& e : from) to->push_back({e.time, e.value});
}

}  // namespace

std::unique_ptr<K_Shape> ShapeFromRecorded(const DocRecorded& recorded) {
  std::unique_ptr<K_Shape> shape = NewShape();
  shape->SetFlags(recorded.closed ? static_cast<unsigned char>(kWS_FlagRelative) : kOpenRelative);
  for (const auto& vertex : recorded.vertices)
    for (const auto& p : vertex) {
      const V_Vector2T<float> item(p[0], p[1]);
      Host(SEQ_Append(shape->Points(), &item));
    }
  CopyTable(recorded.timeDistance, &shape->timeDistanceTable);
  CopyTable(recorded.spacing, &shape->tipSpacingTable);
  for (size_t i = 0; i < 5; ++i) CopyTable(recorded.params[i], &shape->paramTables[i]);
  return shape;
}

bool RecordableHeader(const K_Shape& shape) {
  return shape.Kind() == kWS_KindStroke && !shape.RelRect() &&
         (shape.Flags() | kWS_FlagOpen) == kOpenRelative;
}

DocRecorded RecordedFromShape(const K_Shape& shape) {
  DocRecorded rec;
  rec.closed = shape.IsClosed();
  const int32_t n = shape.NumVertices();
  rec.vertices.resize(size_t(n));
  for (int32_t k = 0; k < n; ++k)
    for (int32_t j = 0; j < 3; ++j) {
      V_Vector2T<float> item;
      Host(SEQ_GetItem(shape.Points(), 3 * k + j, &item));
      rec.vertices[size_t(k)][size_t(j)] = {item.x, item.y};
    }
  CopyTable(shape.timeDistanceTable, &rec.timeDistance);
  CopyTable(shape.tipSpacingTable, &rec.spacing);
  for (size_t i = 0; i < 5; ++i) CopyTable(shape.paramTables[i], &rec.params[i]);
  return rec;
}
