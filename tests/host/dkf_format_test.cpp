// SPDX-License-Identifier: MIT
// Chunk files: exact bytes, round trips on disk and in memory, descents, cursors and
// the codes of calls made out of order.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "chunk_bytes.h"
#include "host/dkf/dkf.h"
#include "test_support.h"

namespace {

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

int32_t WriteChunk(DKF_File* f, const char (&tag)[5], const Bytes& data, int32_t announce) {
  DKF_ChunkWriteState st;
  if (int32_t rc = DKF_BeginChunkWrite(f, DKF_Tag(tag), announce, 0, &st)) return rc;
  int32_t n = int32_t(data.size());
  if (int32_t rc = DKF_WriteChunkData(f, &n, data.data())) return rc;
  return DKF_EndChunkWrite(f, &st);
}

// A list "form" holding "name" (odd: padded), a list "subl" with an empty "none",
// and "nums". The form's announcement leaves out the pad byte, as callers that add up
// their own sub-chunks do, so its size field must be patched.
void WriteSample(DKF_File* f) {
  DKF_ChunkWriteState form, subl;
  ASSERT_EQ(DKF_BeginChunkWrite(f, kDKF_TagList, 43, DKF_Tag("form"), &form), 0);
  ASSERT_EQ(WriteChunk(f, "name", Str("abc"), 3), 0);
  ASSERT_EQ(DKF_BeginChunkWrite(f, kDKF_TagList, 8, DKF_Tag("subl"), &subl), 0);
  ASSERT_EQ(WriteChunk(f, "none", {}, 0), 0);
  ASSERT_EQ(DKF_EndChunkWrite(f, &subl), 0);
  ASSERT_EQ(WriteChunk(f, "nums", {0, 1, 2, 3}, 4), 0);
  ASSERT_EQ(DKF_EndChunkWrite(f, &form), 0);
}

const Bytes kSampleBytes = Cat({
    Str("LIST"), {0, 0, 0, 48}, Str("form"),
    Str("name"), {0, 0, 0, 3}, Str("abc"), {0},
    Str("LIST"), {0, 0, 0, 12}, Str("subl"), Str("none"), {0, 0, 0, 0},
    Str("nums"), {0, 0, 0, 4}, {0, 1, 2, 3},
});

Bytes ReadAll(DKF_File* f) {
  int32_t left = -1;
  EXPECT_EQ(DKF_ChunkBytesLeft(f, &left), 0);
  Bytes b(static_cast<size_t>(left));
  int32_t n = left;
  EXPECT_EQ(DKF_ReadChunkData(f, &n, b.data()), 0);
  EXPECT_EQ(n, left);
  return b;
}

// Reads the sample back through descents, checking every chunk's description.
void CheckSample(DKF_File* f) {
  DKF_ScDescend form(f, kDKF_TagList, DKF_Tag("form"), nullptr, nullptr);
  ASSERT_EQ(form.Result(), 0);
  const DKF_ChunkInfo* info = form.GetChunkInfo();
  EXPECT_EQ(info->Tag(), kDKF_TagList);
  EXPECT_EQ(info->ListType(), DKF_Tag("form"));
  EXPECT_EQ(info->DataSize(), 44);
  EXPECT_EQ(info->DataOffset(), 12);
  EXPECT_EQ(info->Depth(), 1);
  {
    DKF_ScDescend nums(f, DKF_Tag("nums"), 0, info, nullptr);
    ASSERT_EQ(nums.Result(), 0);
    EXPECT_EQ(nums.GetChunkInfo()->Depth(), 2);
    EXPECT_EQ(ReadAll(f), (Bytes{0, 1, 2, 3}));
  }
  {
    DKF_ScDescend name(f, DKF_Tag("name"), 0, info, nullptr);
    ASSERT_EQ(name.Result(), 0);
    EXPECT_EQ(ReadAll(f), Str("abc"));
  }
  // Leaving "name" moves past its pad: the form's next bytes are the inner list.
  uint8_t next[4];
  int32_t n = 4;
  ASSERT_EQ(DKF_ReadChunkData(f, &n, next), 0);
  EXPECT_EQ(Bytes(next, next + 4), Str("LIST"));

  DKF_ScDescend subl(f, kDKF_TagList, 0, info, nullptr);
  ASSERT_EQ(subl.Result(), 0);
  EXPECT_EQ(subl.GetChunkInfo()->ListType(), DKF_Tag("subl"));
  EXPECT_EQ(subl.GetChunkInfo()->DataSize(), 8);
  DKF_ScDescend none(f, DKF_Tag("none"), 0, subl.GetChunkInfo(), nullptr);
  ASSERT_EQ(none.Result(), 0);
  EXPECT_EQ(none.GetChunkInfo()->DataSize(), 0);
  EXPECT_EQ(none.GetChunkInfo()->Depth(), 3);
}

class DkfFormat : public TrackedTest {};

TEST_F(DkfFormat, TheSampleHasExactBytesAndReadsBackInMemoryOnDiskAndFromACopy) {
  // Tags pack their first character highest.
  EXPECT_EQ(DKF_Tag("pnts"), 0x706E7473u);
  EXPECT_EQ(kDKF_TagList, 0x4C495354u);
  const std::string path = TestScratchDir() + "sample.dkf";
  for (const std::string how : {"memory", "disk", "copy"}) {
    SCOPED_TRACE(how);
    DKF_ScFile f;
    if (how == "copy") {
      ASSERT_EQ(DKF_OpenMemory(kSampleBytes.data(), kSampleBytes.size(), f.Out()), 0);
    } else if (how == "memory") {
      ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
      WriteSample(f.Get());
    } else {
      ASSERT_EQ(DKF_CreateFile(path.c_str(), f.Out()), 0);
      WriteSample(f.Get());
      ASSERT_EQ(f.Close(), 0);
      ASSERT_EQ(DKF_OpenFile(path.c_str(), f.Out()), 0);
    }
    EXPECT_EQ(FileBytes(f.Get()), kSampleBytes);
    CheckSample(f.Get());
    EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);
    EXPECT_EQ(f.Close(), 0);
  }
}

TEST_F(DkfFormat, EndPatchesAWrongAnnouncementAndPadsOddData) {
  struct Case { const char* name; int32_t announce; Bytes data; Bytes expected; };
  const Case cases[] = {
      {"exact, even", 2, {7, 8}, Cat({Str("data"), {0, 0, 0, 2}, {7, 8}})},
      {"exact, odd", 1, {7}, Cat({Str("data"), {0, 0, 0, 1}, {7, 0}})},
      {"announced 0, wrote 5", 0, {1, 2, 3, 4, 5},
       Cat({Str("data"), {0, 0, 0, 5}, {1, 2, 3, 4, 5, 0}})},
      {"announced too much", 300, {9}, Cat({Str("data"), {0, 0, 0, 1}, {9, 0}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DKF_ScFile f;
    ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
    ASSERT_EQ(WriteChunk(f.Get(), "data", c.data, c.announce), 0);
    EXPECT_EQ(FileBytes(f.Get()), c.expected);
  }
}

TEST_F(DkfFormat, TopLevelChunksAreAppendedAfterReading) {
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  ASSERT_EQ(WriteChunk(f.Get(), "aaaa", {1}, 1), 0);
  {
    DKF_ScDescend a(f.Get(), DKF_Tag("aaaa"), 0, nullptr, nullptr);
    ASSERT_EQ(a.Result(), 0);
  }
  ASSERT_EQ(WriteChunk(f.Get(), "bbbb", {2, 3}, 2), 0);
  EXPECT_EQ(FileBytes(f.Get()),
            Cat({Str("aaaa"), {0, 0, 0, 1, 1, 0}, Str("bbbb"), {0, 0, 0, 2, 2, 3}}));
  DKF_ChunkInfo root;
  ASSERT_EQ(DKF_GetRootInfo(f.Get(), &root), 0);
  EXPECT_EQ(root.DataSize(), 20);
  EXPECT_EQ(root.Depth(), 0);
  DKF_ScDescend b(f.Get(), DKF_Tag("bbbb"), 0, &root, nullptr);
  ASSERT_EQ(b.Result(), 0);
  EXPECT_EQ(ReadAll(f.Get()), (Bytes{2, 3}));
}

TEST_F(DkfFormat, DescentMatchesListTypeAndReportsAbsence) {
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  for (const char* type : {"aaaa", "bbbb"}) {
    DKF_ChunkWriteState st;
    const char tag[5] = {type[0], type[1], type[2], type[3], 0};
    ASSERT_EQ(DKF_BeginChunkWrite(f.Get(), kDKF_TagList, 0, DKF_Tag(tag), &st), 0);
    ASSERT_EQ(DKF_EndChunkWrite(f.Get(), &st), 0);
  }
  struct Case { const char* name; uint32_t tag, type; bool withFlag; int32_t result; bool found; uint32_t listType; };
  const Case cases[] = {
      {"type 0 takes the first list", kDKF_TagList, 0, true, 0, true, DKF_Tag("aaaa")},
      {"type picks the second list", kDKF_TagList, DKF_Tag("bbbb"), true, 0, true, DKF_Tag("bbbb")},
      {"absent type with a flag", kDKF_TagList, DKF_Tag("cccc"), true, 0, false, 0},
      {"absent tag with a flag", DKF_Tag("none"), 0, true, 0, false, 0},
      {"absent tag without a flag", DKF_Tag("none"), 0, false, DKF_Err_NotFound, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool found = !c.found;
    DKF_ScDescend d(f.Get(), c.tag, c.type, nullptr, c.withFlag ? &found : nullptr);
    EXPECT_EQ(d.Result(), c.result);
    EXPECT_EQ(d.Entered(), c.found);
    if (c.withFlag) {
      EXPECT_EQ(found, c.found);
    }
    EXPECT_EQ(d.GetChunkInfo()->ListType(), c.listType);
  }
}

TEST_F(DkfFormat, CallsOutOfOrderAnswerTheirCodes) {
  // Each call starts on an empty memory file, an empty read-only one, or a memory file
  // with a "data" chunk begun on `st`.
  enum Start { kEmpty, kReadOnly, kWriting };
  using S = DKF_ChunkWriteState;
  using Op = std::function<int32_t(DKF_File* f, S* st)>;
  struct Case { const char* name; Start start; Op op; int32_t code; };
  const auto begin = [](DKF_File* f, const char (&tag)[5], S* st) {
    return DKF_BeginChunkWrite(f, DKF_Tag(tag), 0, 0, st);
  };
  const auto write = [](DKF_File* f, int32_t n) {
    uint8_t b = 0;
    return DKF_WriteChunkData(f, &n, &b);
  };
  const Case cases[] = {
      {"end without begin", kEmpty, [](DKF_File* f, S* st) { return DKF_EndChunkWrite(f, st); }, DKF_Err_BadState},
      {"end of the outer chunk while the inner is open", kEmpty,
       [&](DKF_File* f, S* outer) {
         DKF_ChunkWriteState inner;
         begin(f, "LIST", outer);  // rejected: no list type
         begin(f, "outr", outer);
         begin(f, "innr", &inner);
         return DKF_EndChunkWrite(f, outer);
       }, DKF_Err_BadState},
      {"end twice", kWriting, [](DKF_File* f, S* st) { DKF_EndChunkWrite(f, st); return DKF_EndChunkWrite(f, st); }, DKF_Err_BadState},
      {"write outside any chunk", kEmpty, [&](DKF_File* f, S*) { return write(f, 1); }, DKF_Err_BadState},
      {"LIST without a list type", kEmpty, [](DKF_File* f, S* st) { return DKF_BeginChunkWrite(f, kDKF_TagList, 0, 0, st); }, DKF_Err_BadArgument},
      {"list type on a plain chunk", kEmpty, [](DKF_File* f, S* st) { return DKF_BeginChunkWrite(f, DKF_Tag("data"), 0, DKF_Tag("type"), st); }, DKF_Err_BadArgument},
      {"negative size", kEmpty, [](DKF_File* f, S* st) { return DKF_BeginChunkWrite(f, DKF_Tag("data"), -1, 0, st); }, DKF_Err_BadArgument},
      {"negative write count", kWriting, [&](DKF_File* f, S*) { return write(f, -1); }, DKF_Err_BadArgument},
      {"null state", kEmpty, [](DKF_File* f, S*) { return DKF_BeginChunkWrite(f, DKF_Tag("data"), 0, 0, nullptr); }, DKF_Err_BadArgument},
      {"begin on a read-only file", kReadOnly, [&](DKF_File* f, S* st) { return begin(f, "data", st); }, DKF_Err_ReadOnly},
      {"write on a read-only file", kReadOnly, [&](DKF_File* f, S*) { return write(f, 1); }, DKF_Err_ReadOnly},
      {"descend while writing", kWriting,
       [](DKF_File* f, S*) {
         bool found = false;
         return DKF_ScDescend(f, DKF_Tag("data"), 0, nullptr, &found).Result();
       }, DKF_Err_BadState},
      {"read while writing", kWriting, [](DKF_File* f, S*) { int32_t n = 0; return DKF_ReadChunkData(f, &n, nullptr); }, DKF_Err_BadState},
      {"begin while a descent is entered", kWriting,
       [&](DKF_File* f, S* st) {
         DKF_EndChunkWrite(f, st);
         DKF_ScDescend d(f, DKF_Tag("data"), 0, nullptr, nullptr);
         return begin(f, "more", st);
       }, DKF_Err_BadState},
      {"write nested beyond the depth limit", kEmpty,
       [](DKF_File* f, S*) {
         std::vector<DKF_ChunkWriteState> st(kDKF_MaxDepth + 1);
         for (int32_t i = 0; i < kDKF_MaxDepth; ++i)
           if (DKF_BeginChunkWrite(f, kDKF_TagList, 0, DKF_Tag("nest"), &st[size_t(i)])) return -1;
         return DKF_BeginChunkWrite(f, kDKF_TagList, 0, DKF_Tag("nest"), &st.back());
       }, DKF_Err_TooDeep},
      {"descend with another file's chunk info", kEmpty,
       [](DKF_File* f, S*) {
         DKF_ScFile other;
         DKF_NewMemoryFile(other.Out());
         DKF_ChunkInfo root;
         DKF_GetRootInfo(other.Get(), &root);
         return DKF_ScDescend(f, DKF_Tag("data"), 0, &root, nullptr).Result();
       }, DKF_Err_BadArgument},
      {"read past the end of the chunk", kEmpty,
       [](DKF_File* f, S*) {
         WriteChunk(f, "data", {1, 2, 3}, 3);
         DKF_ScDescend d(f, DKF_Tag("data"), 0, nullptr, nullptr);
         uint8_t b[4] = {9, 9, 9, 9};
         int32_t n = 4;
         const int32_t rc = DKF_ReadChunkData(f, &n, b);
         // All or nothing: nothing was transferred.
         return n == 0 && b[0] == 9 ? rc : -1;
       }, DKF_Err_PastChunkEnd},
      {"close with a chunk still open", kEmpty,
       [&](DKF_File*, S* st) {
         DKF_File* g = nullptr;
         DKF_NewMemoryFile(&g);
         begin(g, "open", st);
         return DKF_CloseFile(g);
       }, DKF_Err_BadState},
      {"open a missing file", kEmpty, [](DKF_File*, S*) { DKF_ScFile g; return DKF_OpenFile("/nonexistent/dir/x.dkf", g.Out()); }, DKF_Err_Io},
      {"create in a missing directory", kEmpty, [](DKF_File*, S*) { DKF_ScFile g; return DKF_CreateFile("/nonexistent/dir/x.dkf", g.Out()); }, DKF_Err_Io},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DKF_ScFile f;
    DKF_ChunkWriteState st;
    if (c.start == kReadOnly) {
      ASSERT_EQ(DKF_OpenMemory(nullptr, 0, f.Out()), 0);
    } else {
      ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
    }
    if (c.start == kWriting) {
      ASSERT_EQ(begin(f.Get(), "data", &st), 0);
    }
    EXPECT_EQ(c.op(f.Get(), &st), c.code);
  }
}

TEST_F(DkfFormat, AWriteFailureSticks) {
  // /dev/full accepts the open and buffers the first bytes, then refuses to store them.
  DKF_File* f = nullptr;
  if (DKF_CreateFile("/dev/full", &f) != 0) GTEST_SKIP() << "no /dev/full";
  DKF_ChunkWriteState st;
  int32_t rc = DKF_BeginChunkWrite(f, DKF_Tag("data"), 0, 0, &st);
  std::vector<uint8_t> block(1 << 16, 0x55);
  for (int i = 0; i < 4 && rc == 0; ++i) {
    int32_t n = int32_t(block.size());
    rc = DKF_WriteChunkData(f, &n, block.data());
  }
  EXPECT_EQ(rc, DKF_Err_Io);
  int32_t n = 1;
  EXPECT_EQ(DKF_WriteChunkData(f, &n, block.data()), DKF_Err_Io);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(DKF_EndChunkWrite(f, &st), DKF_Err_Io);
  DKF_ChunkWriteState again;
  EXPECT_EQ(DKF_BeginChunkWrite(f, DKF_Tag("more"), 0, 0, &again), DKF_Err_Io);
  DKF_CloseFile(f);
}

TEST_F(DkfFormat, CursorsWriteBigEndianFieldsAndReadThemBack) {
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  DKF_ChunkWriteState st;
  ASSERT_EQ(DKF_BeginChunkWrite(f.Get(), DKF_Tag("flds"), 0, 0, &st), 0);
  DKF_WriteCursor w(f.Get());
  w.U8(0xAB);
  w.U16(0x1234);
  w.U32(0xDEADBEEF);
  w.I32(-2);
  w.F32(1.5f);
  w.F64(-2.0000000000000004);  // both halves of the bit pattern hold ones
  ASSERT_TRUE(w.Ok());
  ASSERT_EQ(DKF_EndChunkWrite(f.Get(), &st), 0);
  const Bytes expected = Cat({Str("flds"), {0, 0, 0, 23}, {0xAB, 0x12, 0x34},
                              {0xDE, 0xAD, 0xBE, 0xEF}, {0xFF, 0xFF, 0xFF, 0xFE},
                              {0x3F, 0xC0, 0, 0}, {0xC0, 0, 0, 0, 0, 0, 0, 1}, {0}});
  EXPECT_EQ(FileBytes(f.Get()), expected);

  DKF_ScDescend d(f.Get(), DKF_Tag("flds"), 0, nullptr, nullptr);
  ASSERT_EQ(d.Result(), 0);
  DKF_ReadCursor r(f.Get());
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  int32_t i32 = 0;
  // A neighbour after each float: a read stores its own bytes and no more.
  float f32[2] = {0, 3.3f};
  double f64[2] = {0, 3.3};
  EXPECT_TRUE(r.Preflight(23, 1));
  r.U8(&u8);
  r.U16(&u16);
  r.U32(&u32);
  r.I32(&i32);
  r.F32(&f32[0]);
  r.F64(&f64[0]);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(std::make_tuple(u8, u16, u32, i32, f32[0], f64[0], f32[1], f64[1]),
            std::make_tuple(uint8_t(0xAB), uint16_t(0x1234), 0xDEADBEEFu, -2, 1.5f,
                            -2.0000000000000004, 3.3f, 3.3));
  // Preflight refuses sizes that cannot be and totals the chunk does not hold.
  const int32_t kPreflights[][3] = {
      {-1, 4, DKF_Err_BadArgument}, {4, -1, DKF_Err_BadArgument}, {1, 1, DKF_Err_PastChunkEnd}};
  for (const auto& p : kPreflights) {
    DKF_ReadCursor again(f.Get());
    EXPECT_FALSE(again.Preflight(p[0], p[1]));
    EXPECT_EQ(again.Result(), p[2]) << p[0] << " × " << p[1];
  }
}

TEST_F(DkfFormat, CursorFailuresStick) {
  DKF_ScFile f;
  ASSERT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  DKF_WriteCursor w(f.Get());
  EXPECT_FALSE(w.U16(1));  // outside any chunk
  DKF_ChunkWriteState st;
  ASSERT_EQ(DKF_BeginChunkWrite(f.Get(), DKF_Tag("shrt"), 0, 0, &st), 0);
  EXPECT_FALSE(w.U32(2));  // a chunk is open now, but this cursor has failed
  EXPECT_EQ(w.Result(), DKF_Err_BadState);
  int32_t three = 3;
  ASSERT_EQ(DKF_WriteChunkData(f.Get(), &three, Bytes{1, 2, 3}.data()), 0);
  ASSERT_EQ(DKF_EndChunkWrite(f.Get(), &st), 0);
  EXPECT_EQ(FileBytes(f.Get()), Cat({Str("shrt"), Be32(3), {1, 2, 3, 0}}));
  DKF_ScDescend d(f.Get(), DKF_Tag("shrt"), 0, nullptr, nullptr);
  ASSERT_EQ(d.Result(), 0);
  DKF_ReadCursor r(f.Get());
  uint32_t u32 = 7;
  EXPECT_FALSE(r.U32(&u32));
  EXPECT_EQ(u32, 0u);
  // Three bytes remain, but a failed cursor reads nothing more.
  uint8_t u8 = 7;
  EXPECT_FALSE(r.U8(&u8));
  EXPECT_EQ(u8, 0);
  EXPECT_FALSE(r.Preflight(0, 1));
  r.Fail(DKF_Err_BadFormat);
  EXPECT_EQ(r.Result(), DKF_Err_PastChunkEnd);
  int32_t left = 0;
  ASSERT_EQ(DKF_ChunkBytesLeft(f.Get(), &left), 0);
  EXPECT_EQ(left, 3);
}

}  // namespace
