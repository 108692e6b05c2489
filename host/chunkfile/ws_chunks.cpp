// SPDX-License-Identifier: MIT
// Host shapes in chunk files; the layout is at the top of host/dkf/ws_chunks.h.
#include "host/dkf/ws_chunks.h"

#include <cmath>
#include <exception>
#include <new>

#include "host/seq/seq.h"
#include "host/v/v.h"
#include "host/y/y.h"

namespace {

constexpr uint32_t kTagShape = DKF_Tag("shap");
constexpr uint32_t kTagHeader = DKF_Tag("shhd");
constexpr uint32_t kTagPoints = DKF_Tag("bzpt");

constexpr int32_t kHeaderBytes = 4;
constexpr int32_t kRectBytes = 16;
constexpr int32_t kItemBytes = 8;
constexpr int32_t kVertexBytes = 3 * kItemBytes;

// Runs a shape's virtual chunk hook, which may throw as the engine does.
template <class Hook>
int32_t CallHook(Hook&& hook) noexcept {
  try {
    hook();
    return 0;
  } catch (long code) {
    return static_cast<int32_t>(code);
  } catch (const std::exception& e) {
    return Y_TranslateAndReportException(e);
  }
}

int32_t WriteHeaderChunk(DKF_File* file, const WS_Shape& shape) {
  const V_FloatShortRect* rect = shape.RelRect();
  DKF_ChunkWriteState state;
  const int32_t size = kHeaderBytes + (rect ? kRectBytes : 0);
  if (int32_t rc = DKF_BeginChunkWrite(file, kTagHeader, size, 0, &state)) return rc;
  DKF_WriteCursor w(file);
  w.U8(shape.Kind());
  w.U8(shape.Flags());
  w.U8(rect ? 1 : 0);
  w.U8(0);
  if (rect) {
    if (!std::isfinite(rect->left) || !std::isfinite(rect->top) ||
        !std::isfinite(rect->right) || !std::isfinite(rect->bottom))
      return DKF_Err_BadArgument;
    w.F32(rect->left);
    w.F32(rect->top);
    w.F32(rect->right);
    w.F32(rect->bottom);
  }
  if (!w.Ok()) return w.Result();
  return DKF_EndChunkWrite(file, &state);
}

int32_t WritePointsChunk(DKF_File* file, const WS_Shape& shape) {
  SEQ_Head** points = shape.Points();
  const int32_t items = SEQ_Count(points);
  const int32_t vertices = items / 3;
  DKF_ChunkWriteState state;
  const int64_t size = 4 + int64_t(vertices) * kVertexBytes;
  if (size > INT32_MAX) return DKF_Err_ChunkTooLarge;
  if (int32_t rc = DKF_BeginChunkWrite(file, kTagPoints, int32_t(size), 0, &state)) return rc;
  DKF_WriteCursor w(file);
  w.U32(uint32_t(vertices));
  for (int32_t i = 0; i < 3 * vertices && w.Ok(); ++i) {
    V_Vector2T<float> p;
    if (int32_t rc = SEQ_GetItem(points, i, &p)) return rc;
    // The reader refuses non-finite values, so they are never written.
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return DKF_Err_BadArgument;
    w.F32(p.x);
    w.F32(p.y);
  }
  if (!w.Ok()) return w.Result();
  return DKF_EndChunkWrite(file, &state);
}

struct ShapeHeader {
  unsigned char kind = 0;
  unsigned char flags = 0;
  bool hasRect = false;
  V_FloatShortRect rect;
};

int32_t ReadHeaderChunk(DKF_File* file, const DKF_ChunkInfo* list, ShapeHeader* h) {
  DKF_ScDescend sub(file, kTagHeader, 0, list, nullptr);
  if (sub.Result()) return sub.Result();
  const int32_t size = sub.GetChunkInfo()->DataSize();
  if (size != kHeaderBytes && size != kHeaderBytes + kRectBytes) return DKF_Err_BadFormat;
  DKF_ReadCursor r(file);
  uint8_t kind = 0, flags = 0, hasRect = 0, reserved = 0;
  r.U8(&kind);
  r.U8(&flags);
  r.U8(&hasRect);
  r.U8(&reserved);
  if (!r.Ok()) return r.Result();
  if (hasRect > 1 || size != kHeaderBytes + (hasRect ? kRectBytes : 0)) return DKF_Err_BadFormat;
  h->kind = kind;
  h->flags = flags;
  h->hasRect = hasRect != 0;
  if (h->hasRect) {
    r.F32(&h->rect.left);
    r.F32(&h->rect.top);
    r.F32(&h->rect.right);
    r.F32(&h->rect.bottom);
    if (!r.Ok()) return r.Result();
    const V_FloatShortRect& q = h->rect;
    if (!std::isfinite(q.left) || !std::isfinite(q.top) || !std::isfinite(q.right) ||
        !std::isfinite(q.bottom))
      return DKF_Err_BadFormat;
  }
  return 0;
}

int32_t ReadPointsChunk(DKF_File* file, const DKF_ChunkInfo* list, SEQ_Head** points) {
  DKF_ScDescend sub(file, kTagPoints, 0, list, nullptr);
  if (sub.Result()) return sub.Result();
  DKF_ReadCursor r(file);
  uint32_t vertices = 0;
  if (!r.U32(&vertices)) return r.Result();
  if (vertices > uint32_t(INT32_MAX)) return DKF_Err_Overflow;
  if (!r.Preflight(int32_t(vertices), kVertexBytes)) return r.Result();
  for (int32_t i = 0; i < 3 * int32_t(vertices); ++i) {
    V_Vector2T<float> p;
    r.F32(&p.x);
    r.F32(&p.y);
    if (!r.Ok()) return r.Result();
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return DKF_Err_BadFormat;
    if (int32_t rc = SEQ_Append(points, &p)) return rc;
  }
  return 0;
}

}  // namespace

int32_t WS_WriteShapeChunk(DKF_File* file, WS_Shape* shape) {
  if (!file || !shape) return DKF_Err_BadArgument;
  const V_FloatShortRect* rect = shape->RelRect();
  const int64_t vertices = SEQ_Count(shape->Points()) / 3;
  // Without the extra chunks, which only the shape knows; End patches the size.
  const int64_t announced = 2 * kDKF_HeaderBytes + kHeaderBytes + (rect ? kRectBytes : 0) + 4 +
                            vertices * kVertexBytes;
  if (announced > INT32_MAX) return DKF_Err_ChunkTooLarge;
  DKF_ChunkWriteState state;
  if (int32_t rc = DKF_BeginChunkWrite(file, kDKF_TagList, int32_t(announced), kTagShape, &state))
    return rc;
  if (int32_t rc = WriteHeaderChunk(file, *shape)) return rc;
  if (int32_t rc = WritePointsChunk(file, *shape)) return rc;
  if (int32_t rc = CallHook([&] { shape->WriteExtraChunks(file); })) return rc;
  return DKF_EndChunkWrite(file, &state);
}

int32_t WS_PeekShapeKind(DKF_File* file, const DKF_ChunkInfo* parent, unsigned char* kind) {
  if (!file || !kind) return DKF_Err_BadArgument;
  DKF_ScDescend list(file, kDKF_TagList, kTagShape, parent, nullptr);
  if (list.Result()) return list.Result();
  ShapeHeader h;
  if (int32_t rc = ReadHeaderChunk(file, list.GetChunkInfo(), &h)) return rc;
  *kind = h.kind;
  return 0;
}

int32_t WS_ReadShapeChunk(DKF_File* file, const DKF_ChunkInfo* parent, WS_Shape* shape) {
  if (!file || !shape) return DKF_Err_BadArgument;
  DKF_ScDescend list(file, kDKF_TagList, kTagShape, parent, nullptr);
  if (list.Result()) return list.Result();
  ShapeHeader h;
  if (int32_t rc = ReadHeaderChunk(file, list.GetChunkInfo(), &h)) return rc;
  if (h.kind != shape->Kind()) return DKF_Err_WrongKind;
  try {
    // Read into a scratch shape so a failure leaves `shape` as it was; assigning the
    // base part keeps a derived shape's own data for ReadExtraChunks to replace.
    WS_Shape scratch(h.kind, h.hasRect ? &h.rect : nullptr);
    scratch.SetFlags(h.flags);
    if (int32_t rc = ReadPointsChunk(file, list.GetChunkInfo(), scratch.Points())) return rc;
    static_cast<WS_Shape&>(*shape) = scratch;
  } catch (const std::bad_alloc&) {
    return Y_Err_OutOfMemory;
  }
  return CallHook([&] { shape->ReadExtraChunks(file, list.GetChunkInfo()); });
}
