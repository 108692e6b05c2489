// SPDX-License-Identifier: MIT
// Handle-based item lists. The head and the items share one tracked block that is
// reallocated (doubling) as the list grows. A new list is one block: the handle cell,
// then the head and its reserve; the first growth moves the head and items to a block
// of their own and leaves that first space unused until the list goes. Most lists
// (an arc-length table, a copy) never grow, and one allocation instead of two is a
// good part of the cost of making one.
#include "host/seq/seq.h"

#include <cstddef>
#include <cstring>

#include "host/y/y.h"

struct SEQ_Head {
  int32_t itemSize;
  int32_t count;
  int32_t capacity;
  bool withCell;  ///< lives in the handle cell's block, freed with it
  // Items follow the head, aligned for doubles.
};

namespace {

constexpr std::size_t kHeadBytes = (sizeof(SEQ_Head) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);

// The handle cell, padded so the head after it is aligned as a block start is.
constexpr std::size_t kCellBytes = (sizeof(SEQ_Head*) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);

unsigned char* Items(SEQ_Head* h) { return reinterpret_cast<unsigned char*>(h) + kHeadBytes; }

SEQ_Head* InitHead(void* at, int32_t itemSize, int32_t capacity, bool withCell) {
  auto* h = static_cast<SEQ_Head*>(at);
  h->itemSize = itemSize;
  h->count = 0;
  h->capacity = capacity;
  h->withCell = withCell;
  return h;
}

SEQ_Head* AllocateHead(int32_t itemSize, int32_t capacity) {
  const std::size_t bytes = kHeadBytes + std::size_t(itemSize) * std::size_t(capacity);
  void* block = Y_MemTrackedObject::Allocate(bytes);
  return block ? InitHead(block, itemSize, capacity, false) : nullptr;
}

void FreeHead(SEQ_Head* h) {
  if (h && !h->withCell) Y_MemTrackedObject::Free(h);
}

bool Valid(SEQ_Head** handle) { return handle && *handle; }

// Makes room for one more item, moving the block if needed.
int32_t Reserve(SEQ_Head** handle, int32_t needed) {
  SEQ_Head* h = *handle;
  if (needed <= h->capacity) return 0;
  if (needed > (INT32_MAX / 2) / h->itemSize) return Y_Err_OutOfMemory;
  int32_t capacity = h->capacity < 4 ? 4 : h->capacity;
  while (capacity < needed) capacity *= 2;
  SEQ_Head* grown = AllocateHead(h->itemSize, capacity);
  if (!grown) return Y_Err_OutOfMemory;
  grown->count = h->count;
  std::memcpy(Items(grown), Items(h), std::size_t(h->count) * std::size_t(h->itemSize));
  FreeHead(h);
  *handle = grown;
  return 0;
}

}  // namespace

int32_t SEQ_New(int32_t itemSize, int32_t reserve, SEQ_Head*** handle) {
  if (!handle) return SEQ_Err_BadHandle;
  *handle = nullptr;
  if (itemSize < 1 || reserve < 0 || reserve > (INT32_MAX / 2) / itemSize) return SEQ_Err_BadIndex;
  void* block = Y_MemTrackedObject::Allocate(kCellBytes + kHeadBytes +
                                             std::size_t(itemSize) * std::size_t(reserve));
  if (!block) return Y_Err_OutOfMemory;
  auto** cell = static_cast<SEQ_Head**>(block);
  *cell = InitHead(static_cast<unsigned char*>(block) + kCellBytes, itemSize, reserve, true);
  *handle = cell;
  return 0;
}

int32_t SEQ_Clone(SEQ_Head** src, SEQ_Head*** handle) {
  if (!handle) return SEQ_Err_BadHandle;
  *handle = nullptr;
  if (!Valid(src)) return SEQ_Err_BadHandle;
  SEQ_Head** copy = nullptr;
  const int32_t rc = SEQ_New((*src)->itemSize, (*src)->count, &copy);
  if (rc != 0) return rc;
  std::memcpy(Items(*copy), Items(*src), std::size_t((*src)->count) * std::size_t((*src)->itemSize));
  (*copy)->count = (*src)->count;
  *handle = copy;
  return 0;
}

int32_t SEQ_Dispose(SEQ_Head** handle, int32_t flags) {
  if (flags != 0) return SEQ_Err_BadIndex;
  if (!handle) return 0;
  FreeHead(*handle);
  Y_MemTrackedObject::Free(handle);
  return 0;
}

int32_t SEQ_Count(SEQ_Head** handle) { return Valid(handle) ? (*handle)->count : 0; }

int32_t SEQ_ItemSize(SEQ_Head** handle) { return Valid(handle) ? (*handle)->itemSize : 0; }

int32_t SEQ_GetItem(SEQ_Head** handle, int32_t index, void* item) {
  if (!Valid(handle) || !item) return SEQ_Err_BadHandle;
  SEQ_Head* h = *handle;
  if (index < 0 || index >= h->count) return SEQ_Err_BadIndex;
  std::memcpy(item, Items(h) + std::size_t(index) * std::size_t(h->itemSize), std::size_t(h->itemSize));
  return 0;
}

int32_t SEQ_SetItem(SEQ_Head** handle, int32_t index, const void* item) {
  if (!Valid(handle) || !item) return SEQ_Err_BadHandle;
  SEQ_Head* h = *handle;
  if (index < 0 || index >= h->count) return SEQ_Err_BadIndex;
  std::memcpy(Items(h) + std::size_t(index) * std::size_t(h->itemSize), item, std::size_t(h->itemSize));
  return 0;
}

void* SEQ_Items(SEQ_Head** handle) { return Valid(handle) ? Items(*handle) : nullptr; }

int32_t SEQ_Insert(SEQ_Head** handle, int32_t index, const void* item) {
  if (!Valid(handle) || !item) return SEQ_Err_BadHandle;
  if (index < 0 || index > (*handle)->count) return SEQ_Err_BadIndex;
  const int32_t rc = Reserve(handle, (*handle)->count + 1);
  if (rc != 0) return rc;
  SEQ_Head* h = *handle;
  const std::size_t size = std::size_t(h->itemSize);
  unsigned char* at = Items(h) + std::size_t(index) * size;
  std::memmove(at + size, at, std::size_t(h->count - index) * size);
  std::memcpy(at, item, size);
  ++h->count;
  return 0;
}

int32_t SEQ_Append(SEQ_Head** handle, const void* item) {
  return SEQ_Insert(handle, SEQ_Count(handle), item);
}

int32_t SEQ_AppendItems(SEQ_Head** handle, int32_t count, const void* items) {
  if (!Valid(handle) || (count > 0 && !items)) return SEQ_Err_BadHandle;
  if (count < 0 || count > INT32_MAX - (*handle)->count) return SEQ_Err_BadIndex;
  const int32_t rc = Reserve(handle, (*handle)->count + count);
  if (rc != 0) return rc;
  SEQ_Head* h = *handle;
  const std::size_t size = std::size_t(h->itemSize);
  if (count > 0) std::memcpy(Items(h) + std::size_t(h->count) * size, items, std::size_t(count) * size);
  h->count += count;
  return 0;
}

int32_t SEQ_Remove(SEQ_Head** handle, int32_t index) {
  if (!Valid(handle)) return SEQ_Err_BadHandle;
  SEQ_Head* h = *handle;
  if (index < 0 || index >= h->count) return SEQ_Err_BadIndex;
  const std::size_t size = std::size_t(h->itemSize);
  unsigned char* at = Items(h) + std::size_t(index) * size;
  std::memmove(at, at + size, std::size_t(h->count - index - 1) * size);
  --h->count;
  return 0;
}

int32_t SEQ_Clear(SEQ_Head** handle) {
  if (!Valid(handle)) return SEQ_Err_BadHandle;
  (*handle)->count = 0;
  return 0;
}
