// SPDX-License-Identifier: MIT
// The chunk reader on hostile files: each file of tests/host/corpus/ breaks one rule,
// and both a descent to it and a whole-file check must answer that rule's code.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/dkf/dkf.h"
#include "host/dkf/ws_chunks.h"
#include "test_support.h"
#include "ws_test_support.h"

namespace {

std::string CorpusPath(const char* name) {
  return std::string(KSTROKE_SOURCE_DIR) + "/tests/host/corpus/" + name;
}

struct Step { uint32_t tag; uint32_t type; };

// Descends along `path`, each step inside the previous one, and answers the first
// non-zero result (or 0). The descents are left in reverse order.
int32_t DescendPath(DKF_File* f, const std::vector<Step>& path) {
  std::vector<std::unique_ptr<DKF_ScDescend>> open;
  int32_t rc = 0;
  for (const Step& s : path) {
    const DKF_ChunkInfo* parent = open.empty() ? nullptr : open.back()->GetChunkInfo();
    open.push_back(std::make_unique<DKF_ScDescend>(f, s.tag, s.type, parent, nullptr));
    if ((rc = open.back()->Result()) != 0) break;
  }
  while (!open.empty()) open.pop_back();
  return rc;
}

class DkfCorpus : public TrackedTest {};

TEST_F(DkfCorpus, EveryBadFileAnswersItsCode) {
  const Step list = {kDKF_TagList, 0};
  const Step data = {DKF_Tag("data"), 0};
  struct Case { const char* file; std::vector<Step> path; int32_t descent; int32_t structure; };
  const Case cases[] = {
      {"truncated_header.dkf", {list}, DKF_Err_Truncated, DKF_Err_Truncated},
      {"truncated_body.dkf", {data}, DKF_Err_Truncated, DKF_Err_Truncated},
      {"huge_size.dkf", {data}, DKF_Err_Truncated, DKF_Err_Truncated},
      {"child_past_parent.dkf", {list, data}, DKF_Err_ChunkTooLarge, DKF_Err_ChunkTooLarge},
      {"nested_huge_size.dkf", {list, data}, DKF_Err_ChunkTooLarge, DKF_Err_ChunkTooLarge},
      {"list_without_type.dkf", {list}, DKF_Err_BadFormat, DKF_Err_BadFormat},
      // The good chunk is found before the stray bytes; a search past it is not.
      {"trailing_garbage.dkf", {data}, 0, DKF_Err_Truncated},
      {"trailing_garbage.dkf", {{DKF_Tag("zzzz"), 0}}, DKF_Err_Truncated, DKF_Err_Truncated},
      {"deep_nesting.dkf", std::vector<Step>(kDKF_MaxDepth, list), 0, DKF_Err_TooDeep},
      {"deep_nesting.dkf", std::vector<Step>(kDKF_MaxDepth + 1, list), DKF_Err_TooDeep, DKF_Err_TooDeep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    DKF_ScFile f;
    ASSERT_EQ(DKF_OpenFile(CorpusPath(c.file).c_str(), f.Out()), 0);
    EXPECT_EQ(DescendPath(f.Get(), c.path), c.descent);
    EXPECT_EQ(DKF_CheckStructure(f.Get()), c.structure);
    // The same bytes in memory fail the same way.
    std::vector<uint8_t> bytes;
    ASSERT_EQ(DKF_GetBytes(f.Get(), &bytes), 0);
    DKF_ScFile m;
    ASSERT_EQ(DKF_OpenMemory(bytes.data(), bytes.size(), m.Out()), 0);
    EXPECT_EQ(DescendPath(m.Get(), c.path), c.descent);
  }
}

TEST_F(DkfCorpus, CountsAreCheckedBeforeArraysAreRead) {
  struct Case { const char* file; int32_t code; };
  const Case cases[] = {
      {"count_overflow.dkf", DKF_Err_Overflow},
      {"count_past_end.dkf", DKF_Err_PastChunkEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    DKF_ScFile f;
    ASSERT_EQ(DKF_OpenFile(CorpusPath(c.file).c_str(), f.Out()), 0);
    EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);
    DKF_ScDescend d(f.Get(), DKF_Tag("arry"), 0, nullptr, nullptr);
    ASSERT_EQ(d.Result(), 0);
    DKF_ReadCursor r(f.Get());
    int32_t count = 0;
    ASSERT_TRUE(r.I32(&count));
    EXPECT_FALSE(r.Preflight(count, 16));
    EXPECT_EQ(r.Result(), c.code);
  }
}

TEST_F(DkfCorpus, EmptyAndPadlessFilesAreWellFormed) {
  const uint8_t padless[] = {'o', 'd', 'd', '!', 0, 0, 0, 1, 42};
  struct Case { const char* name; const uint8_t* data; size_t size; };
  const Case cases[] = {{"empty", nullptr, 0}, {"pad missing at the end", padless, sizeof padless}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DKF_ScFile f;
    ASSERT_EQ(DKF_OpenMemory(c.data, c.size, f.Out()), 0);
    EXPECT_EQ(DKF_CheckStructure(f.Get()), 0);
    bool found = true;
    {
      DKF_ScDescend d(f.Get(), DKF_Tag("odd!"), 0, nullptr, &found);
      EXPECT_EQ(d.Result(), 0);
    }
    EXPECT_EQ(found, c.size > 0);
    // Leaving the chunk stops at the file's end, not past it where the pad would be.
    int32_t none = 0;
    EXPECT_EQ(DKF_ReadChunkData(f.Get(), &none, nullptr), 0);
  }
}

// A file of one shape chunk: nested lists, odd and even sizes.
std::vector<uint8_t> ShapeFile() {
  V_FloatShortRect rect;
  WS_Shape shape(kWS_KindMask, &rect);
  for (float x : {0.1f, 0.7f, 0.4f}) AppendAt(&shape, Pt(x, 1 - x));
  DKF_ScFile f;
  EXPECT_EQ(DKF_NewMemoryFile(f.Out()), 0);
  EXPECT_EQ(WS_WriteShapeChunk(f.Get(), &shape), 0);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(DKF_GetBytes(f.Get(), &bytes), 0);
  return bytes;
}

TEST_F(DkfCorpus, EveryProperPrefixOfAChunkIsTruncated) {
  const std::vector<uint8_t> bytes = ShapeFile();
  for (size_t n = 1; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    DKF_ScFile f;
    ASSERT_EQ(DKF_OpenMemory(bytes.data(), n, f.Out()), 0);
    EXPECT_EQ(DKF_CheckStructure(f.Get()), DKF_Err_Truncated);
    WS_Shape shape(kWS_KindMask, nullptr);
    EXPECT_EQ(WS_ReadShapeChunk(f.Get(), nullptr, &shape), DKF_Err_Truncated);
  }
}

// Random byte damage: whatever the reader answers is one of its documented codes, and
// (under the sanitizer build) it never touches memory outside the file.
TEST_F(DkfCorpus, RandomDamageAnswersOnlyDocumentedCodes) {
  const std::vector<uint8_t> good = ShapeFile();
  const std::set<int32_t> structural = {0, DKF_Err_Truncated, DKF_Err_ChunkTooLarge,
                                        DKF_Err_BadFormat};
  const std::set<int32_t> shapeCodes = {0, DKF_Err_Truncated, DKF_Err_ChunkTooLarge,
                                        DKF_Err_BadFormat, DKF_Err_NotFound, DKF_Err_WrongKind,
                                        DKF_Err_Overflow, DKF_Err_PastChunkEnd};
  std::mt19937 rng(20261206);
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> bad = good;
    const int flips = 1 + int(rng() % 4);
    for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = uint8_t(rng());
    if (rng() % 4 == 0) bad.resize(rng() % bad.size());
    DKF_ScFile f;
    ASSERT_EQ(DKF_OpenMemory(bad.data(), bad.size(), f.Out()), 0);
    const int32_t structure = DKF_CheckStructure(f.Get());
    WS_Shape shape(kWS_KindMask, nullptr);
    const int32_t read = WS_ReadShapeChunk(f.Get(), nullptr, &shape);
    ASSERT_TRUE(structural.count(structure)) << "case " << i << " answered " << structure;
    ASSERT_TRUE(shapeCodes.count(read)) << "case " << i << " answered " << read;
    // A file whose structure checks out never fails a descent on structure.
    if (structure == 0) {
      ASSERT_NE(read, DKF_Err_Truncated) << "case " << i;
      ASSERT_NE(read, DKF_Err_ChunkTooLarge) << "case " << i;
    }
  }
}

}  // namespace
