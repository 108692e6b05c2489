// SPDX-License-Identifier: MIT
/// @file
/// Host list library: growable lists of fixed-size items, held through handles.
///
/// A list is always reached through a `SEQ_Head**` handle: the handle cell stays put
/// while the block it points at may move when the list grows, so a handle stays valid
/// across inserts. Every call answers 0 or a host error code (SEQ_Err_*, or
/// Y_Err_OutOfMemory when the tracked allocator refuses); items are copied in and out
/// by value. Storage comes from the tracked allocator, so a list that is never
/// disposed shows up as a leak in Y_MemTrackedObject's counters.
#pragma once

#include <cstdint>

#include "host/y/errors.h"

struct SEQ_Head;

/// Creates an empty list of items of `itemSize` bytes (≥ 1) with room for `reserve`
/// items (≥ 0). `*handle` receives the new handle, or null on failure.
int32_t SEQ_New(int32_t itemSize, int32_t reserve, SEQ_Head*** handle);
/// A new list holding a copy of every item of `src`.
int32_t SEQ_Clone(SEQ_Head** src, SEQ_Head*** handle);
/// Frees the list and its handle. `flags` must be 0 (the only form hosts use); a null
/// handle is accepted and does nothing.
int32_t SEQ_Dispose(SEQ_Head** handle, int32_t flags);

/// Number of items; 0 for a null handle.
int32_t SEQ_Count(SEQ_Head** handle);
/// Item size in bytes; 0 for a null handle.
int32_t SEQ_ItemSize(SEQ_Head** handle);

/// Copies item `index` (0 ≤ index < count) out to `item`.
int32_t SEQ_GetItem(SEQ_Head** handle, int32_t index, void* item);
/// Overwrites item `index` (0 ≤ index < count).
int32_t SEQ_SetItem(SEQ_Head** handle, int32_t index, const void* item);
/// The items in place, in order, to read or overwrite: valid until the list next grows,
/// shrinks or is disposed; null for a null handle. For code that walks or searches a
/// whole list, where a call and a copy per item would cost more than the work.
void* SEQ_Items(SEQ_Head** handle);
/// Inserts a copy of `item` before item `index` (0 ≤ index ≤ count; count appends).
int32_t SEQ_Insert(SEQ_Head** handle, int32_t index, const void* item);
/// Appends a copy of `item`.
int32_t SEQ_Append(SEQ_Head** handle, const void* item);
/// Appends copies of `count` (≥ 0) items laid out one after another at `items`.
int32_t SEQ_AppendItems(SEQ_Head** handle, int32_t count, const void* items);
/// Removes item `index` (0 ≤ index < count); later items move down by one.
int32_t SEQ_Remove(SEQ_Head** handle, int32_t index);
/// Removes every item, keeping the list.
int32_t SEQ_Clear(SEQ_Head** handle);
