// SPDX-License-Identifier: MIT
#include "host/seq/seq.h"

#include "test_support.h"

namespace {

/// Item i of a list of int32_t.
int32_t ItemAt(SEQ_Head** h, int32_t i) {
  int32_t v = -999;
  EXPECT_EQ(SEQ_GetItem(h, i, &v), 0) << i;
  return v;
}

class SeqList : public TrackedTest {};

TEST_F(SeqList, InsertRemoveKeepOrderAcrossGrowth) {
  SEQ_Head** h = nullptr;
  ASSERT_EQ(SEQ_New(sizeof(int32_t), 0, &h), 0);
  for (int32_t v = 0; v < 100; ++v) ASSERT_EQ(SEQ_Append(h, &v), 0);
  const int32_t front = -1;
  ASSERT_EQ(SEQ_Insert(h, 0, &front), 0);
  ASSERT_EQ(SEQ_Remove(h, 50), 0);  // drops the value 49
  ASSERT_EQ(SEQ_Count(h), 100);
  EXPECT_EQ(ItemAt(h, 0), -1);
  EXPECT_EQ(ItemAt(h, 50), 50);
  EXPECT_EQ(ItemAt(h, 99), 99);
  const int32_t seven = 7;
  ASSERT_EQ(SEQ_SetItem(h, 99, &seven), 0);
  EXPECT_EQ(ItemAt(h, 99), 7);

  SEQ_Head** copy = nullptr;
  ASSERT_EQ(SEQ_Clone(h, &copy), 0);
  ASSERT_EQ(SEQ_Clear(h), 0);
  EXPECT_EQ(SEQ_Count(h), 0);
  EXPECT_EQ(SEQ_Count(copy), 100);
  EXPECT_EQ(ItemAt(copy, 99), 7);
  EXPECT_EQ(SEQ_Dispose(copy, 0), 0);
  EXPECT_EQ(SEQ_Dispose(h, 0), 0);
}

TEST_F(SeqList, BulkAppendAndInPlaceItemsAgreeWithSingleItems) {
  SEQ_Head** h = nullptr;
  ASSERT_EQ(SEQ_New(sizeof(int32_t), 1, &h), 0);
  const int32_t first = 5;
  ASSERT_EQ(SEQ_Append(h, &first), 0);
  // The reserve is full: a refused allocation leaves the list as it was.
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_EQ(SEQ_Append(h, &first), Y_Err_OutOfMemory);
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  int32_t block[37];
  for (int32_t i = 0; i < 37; ++i) block[i] = 100 + i;
  ASSERT_EQ(SEQ_AppendItems(h, 37, block), 0);  // grows past the reserve
  ASSERT_EQ(SEQ_AppendItems(h, 0, nullptr), 0);  // nothing to add is not an error
  ASSERT_EQ(SEQ_Count(h), 38);
  auto* items = static_cast<int32_t*>(SEQ_Items(h));
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items[0], 5);
  for (int32_t i = 1; i < 38; ++i) {
    EXPECT_EQ(ItemAt(h, i), 99 + i);
    EXPECT_EQ(items[i], 99 + i);
  }
  items[37] = -4;  // written in place, read back by value
  EXPECT_EQ(ItemAt(h, 37), -4);
  EXPECT_EQ(SEQ_Items(nullptr), nullptr);

  struct Case { const char* name; int32_t got; int32_t want; };
  const Case cases[] = {
      {"null handle", SEQ_AppendItems(nullptr, 1, block), SEQ_Err_BadHandle},
      {"no items", SEQ_AppendItems(h, 1, nullptr), SEQ_Err_BadHandle},
      {"negative count", SEQ_AppendItems(h, -1, block), SEQ_Err_BadIndex},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_EQ(SEQ_AppendItems(h, 37, block), Y_Err_OutOfMemory);  // needs to grow
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  EXPECT_EQ(SEQ_Count(h), 38);
  EXPECT_EQ(SEQ_Dispose(h, 0), 0);
}

TEST_F(SeqList, BadArgumentsAnswerCodes) {
  SEQ_Head** h = nullptr;
  ASSERT_EQ(SEQ_New(8, 2, &h), 0);
  double d = 1;
  struct Case { const char* name; int32_t got; int32_t want; };
  const Case cases[] = {
      {"get from empty", SEQ_GetItem(h, 0, &d), SEQ_Err_BadIndex},
      {"insert past end", SEQ_Insert(h, 1, &d), SEQ_Err_BadIndex},
      {"remove negative", SEQ_Remove(h, -1), SEQ_Err_BadIndex},
      {"null handle", SEQ_GetItem(nullptr, 0, &d), SEQ_Err_BadHandle},
      {"no handle out", SEQ_New(4, 0, nullptr), SEQ_Err_BadHandle},
      {"dispose flags", SEQ_Dispose(h, 1), SEQ_Err_BadIndex},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_EQ(SEQ_Count(nullptr), 0);
  EXPECT_EQ(SEQ_Dispose(nullptr, 0), 0);
  EXPECT_EQ(SEQ_Dispose(h, 0), 0);
}

}  // namespace
