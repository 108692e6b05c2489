// SPDX-License-Identifier: MIT
// Host shapes in chunk files: exact bytes, lossless round trips, the extra-chunk
// hooks, and the codes of malformed shape chunks.
#include "host/dkf/ws_chunks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "chunk_bytes.h"
#include "test_support.h"
#include "ws_test_support.h"

namespace {

bool SameBits(const WS_Shape& a, const WS_Shape& b) {
  const auto ia = Items(a), ib = Items(b);
  if (ia.size() != ib.size()) return false;
  return ia.empty() || std::memcmp(ia.data(), ib.data(), ia.size() * sizeof(Pt)) == 0;
}

int32_t ReadFrom(const Bytes& bytes, WS_Shape* shape) {
  DKF_ScFile f;
  EXPECT_EQ(DKF_OpenMemory(bytes.data(), bytes.size(), f.Out()), 0);
  return WS_ReadShapeChunk(f.Get(), nullptr, shape);
}

// A shape that stores one byte of its own in an "xtra" chunk, or throws on demand.
class HookShape : public WS_Shape {
public:
  HookShape() : WS_Shape(kWS_KindMask, nullptr) {}
  uint8_t extra = 0;
  std::function<void()> thrower;

  void WriteExtraChunks(DKF_File* file) override {
    if (thrower) thrower();
    DKF_ChunkWriteState st;
    if (int32_t rc = DKF_BeginChunkWrite(file, DKF_Tag("xtra"), 1, 0, &st)) throw long(rc);
    int32_t n = 1;
    if (int32_t rc = DKF_WriteChunkData(file, &n, &extra)) throw long(rc);
    if (int32_t rc = DKF_EndChunkWrite(file, &st)) throw long(rc);
  }
  void ReadExtraChunks(DKF_File* file, const DKF_ChunkInfo* parent) override {
    if (thrower) thrower();
    DKF_ScDescend d(file, DKF_Tag("xtra"), 0, parent, nullptr);
    if (d.Result()) throw long(d.Result());
    int32_t n = 1;
    if (int32_t rc = DKF_ReadChunkData(file, &n, &extra)) throw long(rc);
  }
};

class WsChunks : public TrackedTest {};

TEST_F(WsChunks, SmallShapeHasExactBytes) {
  const V_FloatShortRect rect{0, 0, 100, 50};
  WS_Shape shape(kWS_KindMask, &rect);
  shape.SetFlags(kWS_FlagOpen | kWS_FlagRelative);
  AppendAt(&shape, Pt(1, 2));
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  ASSERT_EQ(WS_WriteShapeChunk(f.Get(), &shape), 0);
  const Bytes one = {0x3F, 0x80, 0, 0}, two = {0x40, 0, 0, 0};
  const Bytes expected = Cat({
      Str("LIST"), Be32(68), Str("shap"),
      Str("shhd"), Be32(20), {1, 9, 1, 0}, Be32(0), Be32(0), {0x42, 0xC8, 0, 0}, {0x42, 0x48, 0, 0},
      Str("bzpt"), Be32(28), Be32(1), one, two, one, two, one, two,
  });
  EXPECT_EQ(FileBytes(f.Get()), expected);
  unsigned char kind = 0;
  EXPECT_EQ(WS_PeekShapeKind(f.Get(), nullptr, &kind), 0);
  EXPECT_EQ(kind, kWS_KindMask);
}

TEST_F(WsChunks, ShapesRoundTripBitForBit) {
  const V_FloatShortRect rect{-3.25f, 1e-30f, 7000.5f, 12345.678f};
  struct Case { const char* name; bool withRect; unsigned char flags; std::vector<Pt> points; bool smooth; bool onDisk; };
  const Case cases[] = {
      {"empty closed shape", false, 0, {}, false, false},
      {"open relative path with a rectangle", true, kWS_FlagOpen | kWS_FlagRelative,
       {{0.1f, 0.2f}, {0.35f, 0.9f}, {0.8f, 0.15f}, {1.0f, 1.0f}}, true, false},
      {"closed path with awkward floats, on disk", false, kWS_FlagSelected,
       {{-0.0f, 1e-40f}, {3.4e38f, -1.17549435e-38f}, {1.0f / 3.0f, 2.0f / 3.0f}}, true, true},
  };
  const std::string path = TestScratchDir() + "shape.dkf";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WS_Shape shape(kWS_KindMask, c.withRect ? &rect : nullptr);
    for (Pt p : c.points) AppendAt(&shape, p);
    if (c.smooth) {
      ASSERT_EQ(shape.MakeTangentsRavlo(nullptr), 0);
    }
    shape.SetFlags(c.flags);
    DKF_ScFile f;
    ASSERT_EQ(c.onDisk ? DKF_CreateFile(path.c_str(), f.Out()) : DKF_NewMemoryFile(f.Out()), 0);
    ASSERT_EQ(WS_WriteShapeChunk(f.Get(), &shape), 0);
    if (c.onDisk) {
      ASSERT_EQ(f.Close(), 0);
      ASSERT_EQ(DKF_OpenFile(path.c_str(), f.Out()), 0);
    }
    WS_Shape back(kWS_KindMask, &rect);
    AppendAt(&back, Pt(5, 5));
    ASSERT_EQ(WS_ReadShapeChunk(f.Get(), nullptr, &back), 0);
    EXPECT_TRUE(back == shape);
    EXPECT_TRUE(SameBits(back, shape));
    EXPECT_EQ(back.RelRect() != nullptr, c.withRect);
  }
}

TEST_F(WsChunks, ExtraChunksGoInsideTheShapeList) {
  HookShape shape;
  AppendAt(&shape, Pt(0.5f, 0.5f));
  shape.extra = 0xC3;
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  ASSERT_EQ(WS_WriteShapeChunk(f.Get(), &shape), 0);
  EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);
  // The announcement left out "xtra" (8 + 1 + pad); the size field holds the truth.
  const Bytes bytes = FileBytes(f.Get());
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), Be32(uint32_t(bytes.size() - 8)));
  EXPECT_EQ(Bytes(bytes.end() - 10, bytes.end()), Cat({Str("xtra"), Be32(1), {0xC3, 0}}));

  HookShape back;
  ASSERT_EQ(WS_ReadShapeChunk(f.Get(), nullptr, &back), 0);
  EXPECT_EQ(back.extra, 0xC3);
  EXPECT_TRUE(static_cast<const WS_Shape&>(back) == shape);
}

TEST_F(WsChunks, HookExceptionsBecomeCodes) {
  struct Case { const char* name; std::function<void()> thrower; int32_t code; };
  const Case cases[] = {
      {"thrown long", [] { throw 77L; }, 77},
      {"std::exception", [] { throw std::runtime_error("hook failed"); }, Y_Err_Generic},
      {"bad_alloc", [] { throw std::bad_alloc(); }, Y_Err_OutOfMemory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HookShape shape;
    DKF_ScFile f;
    ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
    ASSERT_EQ(WS_WriteShapeChunk(f.Get(), &shape), 0);
    shape.thrower = c.thrower;
    EXPECT_EQ(WS_ReadShapeChunk(f.Get(), nullptr, &shape), c.code);
    DKF_ScFile g;
    ASSERT_EQ(DKF_NewMemoryFile(g.Out()), 0);
    EXPECT_EQ(WS_WriteShapeChunk(g.Get(), &shape), c.code);
  }
}

TEST_F(WsChunks, MalformedShapeChunksAnswerTheirCodes) {
  const Bytes header = Chunk("shhd", {1, 1, 0, 0});
  const Bytes onePoint = Cat({Be32(1), Bytes(24, 0)});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  uint32_t nanBits;
  std::memcpy(&nanBits, &nan, 4);
  struct Case { const char* name; Bytes file; int32_t code; };
  const Case cases[] = {
      {"no shape list", List("othr", Cat({header, Chunk("bzpt", onePoint)})), DKF_Err_NotFound},
      {"no header", List("shap", Chunk("bzpt", onePoint)), DKF_Err_NotFound},
      {"no points", List("shap", header), DKF_Err_NotFound},
      {"another kind", List("shap", Cat({Chunk("shhd", {2, 1, 0, 0}), Chunk("bzpt", onePoint)})), DKF_Err_WrongKind},
      {"header of 3 bytes", List("shap", Cat({Chunk("shhd", {1, 1, 0}), Chunk("bzpt", onePoint)})), DKF_Err_BadFormat},
      {"rectangle flag without a rectangle", List("shap", Cat({Chunk("shhd", {1, 1, 1, 0}), Chunk("bzpt", onePoint)})), DKF_Err_BadFormat},
      {"rectangle flag 2", List("shap", Cat({Chunk("shhd", Cat({{1, 1, 2, 0}, Bytes(16, 0)})), Chunk("bzpt", onePoint)})), DKF_Err_BadFormat},
      {"infinite rectangle edge",
       List("shap", Cat({Chunk("shhd", Cat({{1, 1, 1, 0}, Be32(0), Be32(0x7F800000), Be32(0), Be32(0)})), Chunk("bzpt", onePoint)})),
       DKF_Err_BadFormat},
      {"NaN coordinate", List("shap", Cat({header, Chunk("bzpt", Cat({Be32(1), Be32(nanBits), Bytes(20, 0)}))})), DKF_Err_BadFormat},
      {"count × 24 overflows", List("shap", Cat({header, Chunk("bzpt", Cat({Be32(0x10000000), Bytes(24, 0)}))})), DKF_Err_Overflow},
      {"count above 2^31", List("shap", Cat({header, Chunk("bzpt", Cat({Be32(0x80000001), Bytes(24, 0)}))})), DKF_Err_Overflow},
      {"count past the data", List("shap", Cat({header, Chunk("bzpt", Cat({Be32(2), Bytes(24, 0)}))})), DKF_Err_PastChunkEnd},
      {"count field cut short", List("shap", Cat({header, Chunk("bzpt", {0, 0})})), DKF_Err_PastChunkEnd},
      {"points larger than the list", List("shap", Cat({header, RawChunk("bzpt", 400, onePoint)})), DKF_Err_ChunkTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WS_Shape shape(kWS_KindMask, nullptr);
    AppendAt(&shape, Pt(5, 6));
    const WS_Shape before = shape;
    EXPECT_EQ(ReadFrom(c.file, &shape), c.code);
    EXPECT_TRUE(shape == before) << "a failed read changed the shape";
  }
  WS_Shape shape(kWS_KindMask, nullptr);
  EXPECT_EQ(WS_ReadShapeChunk(nullptr, nullptr, &shape), DKF_Err_BadArgument);
  EXPECT_EQ(WS_WriteShapeChunk(nullptr, &shape), DKF_Err_BadArgument);
}

TEST_F(WsChunks, NonFiniteGeometryIsNeverWritten) {
  const V_FloatShortRect infinite{0, 0, std::numeric_limits<float>::infinity(), 1};
  struct Case { const char* name; bool badRect; Pt point; };
  const Case cases[] = {
      {"infinite rectangle edge", true, {0, 0}},
      {"NaN point", false, {std::numeric_limits<float>::quiet_NaN(), 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WS_Shape shape(kWS_KindMask, c.badRect ? &infinite : nullptr);
    AppendAt(&shape, c.point);
    DKF_ScFile f;
    ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
    EXPECT_EQ(WS_WriteShapeChunk(f.Get(), &shape), DKF_Err_BadArgument);
  }
}

}  // namespace
