// SPDX-License-Identifier: MIT
// K_Shape's time tables in chunk files: exact bytes, reading hand-made lists, and the
// codes of broken ones.
#include "stroke/shape_chunks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chunk_bytes.h"
#include "host/dkf/dkf.h"
#include "host/dkf/ws_chunks.h"
#include "kstroke/shape.h"
#include "stroke_test_support.h"
#include "test_support.h"

namespace {

// IEEE 754 big-endian constants, written out by hand.
const Bytes kD0 = {0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kD05 = {0x3F, 0xE0, 0, 0, 0, 0, 0, 0};
const Bytes kD1 = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
const Bytes kD2 = {0x40, 0x00, 0, 0, 0, 0, 0, 0};
const Bytes kD3 = {0x40, 0x08, 0, 0, 0, 0, 0, 0};
const Bytes kF1 = {0x3F, 0x80, 0, 0};
const Bytes kF05 = {0x3F, 0x00, 0, 0};
const Bytes kF025 = {0x3E, 0x80, 0, 0};

// A shape whose every table holds one recognisable "old" entry.
void FillOld(K_Shape* s) {
  s->timeDistanceTable = {{9.0, 9.0}};
  s->tipSpacingTable = {{9.0, false}};
  for (auto& t : s->paramTables) t = {{9.0, 0.125f}};
}

// Reads `bytes` into `shape` from the file's top level; answers the thrown code or 0.
long ReadInto(K_Shape* shape, const Bytes& bytes) {
  DKF_ScFile f;
  EXPECT_EQ(DKF_OpenMemory(bytes.data(), bytes.size(), f.Out()), 0);
  DKF_ChunkInfo root;
  EXPECT_EQ(DKF_GetRootInfo(f.Get(), &root), 0);
  const long code = ThrownCode([&] { shape->ReadExtraChunks(f.Get(), &root); });
  return code == -1 ? 0 : code;
}

// What `shape` writes into a new memory file.
Bytes Written(K_Shape* shape) {
  DKF_ScFile f;
  EXPECT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  shape->WriteExtraChunks(f.Get());
  return FileBytes(f.Get());
}

class ShapeChunks : public TrackedTest {};

TEST_F(ShapeChunks, ParameterCodesAndUnknownIndex) {
  const char* tags[] = {"dmtr", "optc", "flow", "angl", "rndn"};
  for (int32_t i = 0; i < kK_StrokeParamCount; ++i) {
    SCOPED_TRACE(i);
    const Bytes expected = Str(tags[i]);
    EXPECT_EQ(Be32(Kp_StrokeParamChunkTag(i)), expected);
  }
  for (int32_t bad : {5, 6, -1}) {
    SCOPED_TRACE(bad);
    Y_ResetVerificationReports();
    EXPECT_EQ(ThrownCode([&] { Kp_StrokeParamChunkTag(bad); }), 3);
    EXPECT_EQ(Y_LastVerificationReport().message, "Unknown paint stroke parameter type.");
    EXPECT_EQ(Y_LastVerificationReport().count, 1);
  }
}

TEST_F(ShapeChunks, DefaultStrokeWritesExactBytes) {
  std::unique_ptr<K_Shape> shape(K_Shape::MakeDefault());
  ASSERT_TRUE(shape);
  const Bytes param = Cat({Str("xxxx"), Be32(24), kD0, kF1, kD1, kF1});
  auto paramChunk = [&](const char* tag) { return Cat({Str(tag), Bytes(param.begin() + 4, param.end())}); };
  const Bytes expected = Cat({
      // 230 = 226 announced (56 + 32 + 18 + 5 × 24) + the list type.
      Str("LIST"), {0, 0, 0, 230}, Str("pnts"),
      Str("tmds"), Be32(32), kD0, kD0, kD1, kD1,
      Str("tpsp"), Be32(18), kD0, {0}, kD1, {1},
      paramChunk("dmtr"), paramChunk("optc"), paramChunk("flow"), paramChunk("angl"),
      paramChunk("rndn"),
  });
  EXPECT_EQ(expected.size(), 238u);
  EXPECT_EQ(Written(shape.get()), expected);
}

TEST_F(ShapeChunks, RecordedStrokeRoundTripsOnDiskAndInMemory) {
  K_Shape stroke;
  const double times[] = {0.0, 0.25, 0.5, 1.75, 2.0};
  for (int i = 0; i < 5; ++i)
    Append(&stroke, Event(times[i], 0.1 * i, 0.05 * i * i, i != 2,
                          {1.0f - 0.1f * float(i), 1, 1, 15.0f * float(i), 1}));
  // 3 spacing entries make an odd sub-chunk, so the list carries a pad byte.
  ASSERT_EQ(stroke.tipSpacingTable.size(), 3u);

  const std::string path = std::string(KSTROKE_BINARY_DIR) + "/shape_chunks_test.dkf";
  for (bool onDisk : {false, true}) {
    SCOPED_TRACE(onDisk ? "disk" : "memory");
    DKF_ScFile f;
    ASSERT_EQ(onDisk ? DKF_CreateFile(path.c_str(), f.Out()) : DKF_NewMemoryFile(f.Out()), 0);
    stroke.WriteExtraChunks(f.Get());
    EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);
    K_Shape back;
    FillOld(&back);
    DKF_ChunkInfo root;
    ASSERT_EQ(DKF_GetRootInfo(f.Get(), &root), 0);
    back.ReadExtraChunks(f.Get(), &root);
    EXPECT_EQ(Pairs(back.timeDistanceTable), Pairs(stroke.timeDistanceTable));
    EXPECT_EQ(Pairs(back.tipSpacingTable), Pairs(stroke.tipSpacingTable));
    for (int i = 0; i < kK_StrokeParamCount; ++i)
      EXPECT_EQ(Pairs(back.paramTables[i]), Pairs(stroke.paramTables[i])) << "param " << i;
  }
  std::remove(path.c_str());
}

TEST_F(ShapeChunks, WholeStrokeRoundTripsThroughTheHostShapeChunk) {
  const V_FloatShortRect rect{0, 0, 640, 480};
  K_Shape stroke(&rect);
  for (int i = 0; i < 6; ++i)
    Append(&stroke, Event(0.1 * i, 0.5 + 0.3 * std::sin(i), 0.5 + 0.3 * std::cos(i), true,
                          {1, 0.2f * float(i), 1, 0, i % 2 ? 0.5f : 1.0f}));
  ASSERT_EQ(stroke.MakeTangentsRavlo(nullptr), 0);
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  ASSERT_EQ(WS_WriteShapeChunk(f.Get(), &stroke), 0);
  EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);

  unsigned char kind = 0;
  ASSERT_EQ(WS_PeekShapeKind(f.Get(), nullptr, &kind), 0);
  EXPECT_EQ(kind, kWS_KindStroke);
  std::unique_ptr<K_Shape> back(K_Shape::MakeDefault());
  ASSERT_TRUE(back);
  ASSERT_EQ(WS_ReadShapeChunk(f.Get(), nullptr, back.get()), 0);
  EXPECT_TRUE(*back == stroke);

  // A stroke list missing from the shape chunk is the read's failure.
  WS_Shape plain(kWS_KindStroke, nullptr);
  DKF_ScFile g;
  ASSERT_EQ(DKF_NewMemoryFile(g.Out()), 0);
  ASSERT_EQ(WS_WriteShapeChunk(g.Get(), &plain), 0);
  K_Shape target;
  EXPECT_EQ(WS_ReadShapeChunk(g.Get(), nullptr, &target), DKF_Err_NotFound);
}

TEST_F(ShapeChunks, ReadsHandMadeLists) {
  const Bytes tmds2 = Chunk("tmds", Cat({kD0, kD0, kD2, kD1}));  // ends at time 2
  const Bytes param1 = Chunk("dmtr", Cat({kD0, kF05}));
  struct Case { const char* name; Bytes kids; std::function<void(const K_Shape&)> check; };
  const Case cases[] = {
      {"a 20-byte tpsp is two entries; the 2 spare bytes are skipped",
       Cat({Chunk("tmds", Cat({kD0, kD0})), Chunk("tpsp", Cat({kD0, {1}, kD1, {0}, {0xAA, 0xBB}})),
            param1}),
       [](const K_Shape& s) {
         EXPECT_EQ(Pairs(s.tipSpacingTable), (Entries{{0, 1}, {1, 0}}));
         EXPECT_EQ(Pairs(s.paramTables[0]), (Entries{{0, 0.5}}));
       }},
      {"absent sub-chunks keep their tables",
       Cat({tmds2, Chunk("optc", Cat({kD0, kF025, kD1, kF05}))}),
       [](const K_Shape& s) {
         EXPECT_EQ(Pairs(s.timeDistanceTable), (Entries{{0, 0}, {2, 1}}));
         EXPECT_EQ(Pairs(s.tipSpacingTable), (Entries{{9, 0}}));
         EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Opacity]), (Entries{{0, 0.25}, {2, 0.5}}));
         for (int i : {0, 2, 3, 4}) EXPECT_EQ(Pairs(s.paramTables[i]), (Entries{{9, 0.125}})) << i;
       }},
      {"parameter tables are stretched to the stroke's end, never shortened",
       Cat({tmds2, Chunk("flow", Cat({kD0, kF1, kD05, kF05})), Chunk("dmtr", Cat({kD3, kF1}))}),
       [](const K_Shape& s) {
         EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Flow]), (Entries{{0, 1}, {2, 0.5}}));
         EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Diameter]), (Entries{{3, 1}}));
       }},
      {"tmds and tpsp are not stretched",
       Cat({Chunk("tmds", Cat({kD3, kD0})), Chunk("tpsp", Cat({kD05, {1}}))}),
       [](const K_Shape& s) {
         EXPECT_EQ(Pairs(s.tipSpacingTable), (Entries{{0.5, 1}}));
       }},
      {"an empty sub-chunk empties its table; an empty stroke stretches nothing",
       Cat({Chunk("tmds", {}), Chunk("rndn", Cat({kD05, kF1})), Chunk("angl", {})}),
       [](const K_Shape& s) {
         EXPECT_TRUE(s.timeDistanceTable.empty());
         EXPECT_TRUE(s.paramTables[K_StrokeParam_Angle].empty());
         EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Roundness]), (Entries{{0.5, 1}}));
       }},
      {"unknown sub-chunks and any order are accepted",
       Cat({Chunk("rndn", Cat({kD0, kF025})), Chunk("junk", {1, 2, 3}), tmds2}),
       [](const K_Shape& s) {
         EXPECT_EQ(Pairs(s.paramTables[K_StrokeParam_Roundness]), (Entries{{2, 0.25}}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    K_Shape shape;
    FillOld(&shape);
    // Another list and a plain chunk come first: the reader picks "pnts" by its type.
    const Bytes file = Cat({List("othr", Chunk("tmds", {})), Chunk("head", {0}), List("pnts", c.kids)});
    ASSERT_EQ(ReadInto(&shape, file), 0);
    c.check(shape);
  }
}

TEST_F(ShapeChunks, ASpacingByteOf7IsWrittenBackAs1) {
  K_Shape shape;
  ASSERT_EQ(ReadInto(&shape, List("pnts", Chunk("tpsp", Cat({kD1, {7}})))), 0);
  const Bytes expected = Cat({Str("LIST"), Be32(4 + 56 + 9 + 1), Str("pnts"),
                              Str("tmds"), Be32(0), Str("tpsp"), Be32(9), kD1, {1}, {0},
                              Str("dmtr"), Be32(0), Str("optc"), Be32(0), Str("flow"), Be32(0),
                              Str("angl"), Be32(0), Str("rndn"), Be32(0)});
  EXPECT_EQ(Written(&shape), expected);
}

TEST_F(ShapeChunks, BrokenListsThrowTheHostCode) {
  const Bytes tmds = Chunk("tmds", Cat({kD0, kD0, kD1, kD1}));
  const Bytes tpsp = Chunk("tpsp", Cat({kD0, {1}}));
  const Bytes good = List("pnts", Cat({tmds, tpsp, Chunk("dmtr", Cat({kD0, kF05}))}));
  // The list's size field cut to end 4 bytes into the "dmtr" header.
  const uint32_t cutListSize = uint32_t(4 + tmds.size() + tpsp.size() + 4);
  struct Case { const char* name; Bytes file; long code; bool tmdsReplaced; };
  const Case cases[] = {
      {"no list of type pnts", List("othr", tmds), DKF_Err_NotFound, false},
      {"file cut inside the list", Bytes(good.begin(), good.end() - 6), DKF_Err_Truncated, false},
      {"list ends inside a sub-chunk header",
       Cat({Str("LIST"), Be32(cutListSize), Bytes(good.begin() + 8, good.end())}),
       DKF_Err_Truncated, true},
      {"sub-chunk larger than the list",
       List("pnts", Cat({tmds, tpsp, RawChunk("dmtr", 200, Cat({kD0, kF05}))})),
       DKF_Err_ChunkTooLarge, true},
      {"list too short for its type", Chunk("LIST", {'p', 'n'}), DKF_Err_BadFormat, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    K_Shape shape;
    FillOld(&shape);
    EXPECT_EQ(ReadInto(&shape, c.file), c.code);
    EXPECT_EQ(shape.timeDistanceTable.size(), c.tmdsReplaced ? 2u : 1u);
    // Tables after the failure point are untouched.
    EXPECT_EQ(Pairs(shape.paramTables[K_StrokeParam_Diameter]), (Entries{{9, 0.125}}));
  }

  K_Shape shape;
  DKF_ScFile readOnly;
  ASSERT_EQ(DKF_OpenMemory(good.data(), good.size(), readOnly.Out()), 0);
  EXPECT_EQ(ThrownCode([&] { shape.WriteExtraChunks(readOnly.Get()); }), DKF_Err_ReadOnly);
  EXPECT_EQ(ThrownCode([&] { shape.ReadExtraChunks(nullptr, nullptr); }), DKF_Err_BadArgument);
}

}  // namespace
