// SPDX-License-Identifier: MIT
// K_Shape's time tables in the host's chunk files; the layout is at the top of
// stroke/shape_chunks.h. Every field goes through its own host call, so a failure
// is thrown at the field where it happened.
#include "stroke/shape_chunks.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "frame/errors.h"
#include "host/dkf/dkf.h"
#include "kstroke/shape.h"

namespace {

constexpr uint32_t kTagPoints = DKF_Tag("pnts");
constexpr uint32_t kTagTimeDistance = DKF_Tag("tmds");
constexpr uint32_t kTagTipSpacing = DKF_Tag("tpsp");
constexpr uint32_t kParamTags[kK_StrokeParamCount] = {
    DKF_Tag("dmtr"), DKF_Tag("optc"), DKF_Tag("flow"), DKF_Tag("angl"), DKF_Tag("rndn")};

constexpr int32_t kSubChunkCount = 2 + kK_StrokeParamCount;
constexpr int32_t kTimeBytes = 8;

// Bytes of one entry's value in the file.
template <class T>
constexpr int32_t kValueBytes = 0;
template <>
constexpr int32_t kValueBytes<double> = 8;
template <>
constexpr int32_t kValueBytes<float> = 4;
template <>
constexpr int32_t kValueBytes<bool> = 1;

template <class T>
constexpr int32_t kEntryBytes = kTimeBytes + kValueBytes<T>;
static_assert(kEntryBytes<double> == 16 && kEntryBytes<bool> == 9 && kEntryBytes<float> == 12,
              "entry sizes are fixed by the file format");

template <class T>
using Table = std::vector<K_TimeTableEntry<T>>;

template <class T>
int64_t TableBytes(const Table<T>& table) {
  return int64_t(table.size()) * kEntryBytes<T>;
}

// Writing - one host call per field
// ====================================================================================

void WriteField(DKF_File* file, const void* data, int32_t bytes) {
  int32_t count = bytes;
  KSTROKE_HOST(DKF_WriteChunkData(file, &count, data));
}

void WriteValue(DKF_File* file, double v) {
  Y_FpLongSwap(&v);
  WriteField(file, &v, 8);
}

void WriteValue(DKF_File* file, float v) {
  Y_FpShortSwap(&v);
  WriteField(file, &v, 4);
}

void WriteValue(DKF_File* file, bool v) {
  const uint8_t byte = v ? 1 : 0;
  WriteField(file, &byte, 1);
}

template <class T>
void WriteTable(DKF_File* file, uint32_t tag, const Table<T>& table) {
  DKF_ChunkWriteState state;
  KSTROKE_HOST(DKF_BeginChunkWrite(file, tag, int32_t(TableBytes(table)), 0, &state));
  for (const K_TimeTableEntry<T>& e : table) {
    WriteValue(file, e.time);
    WriteValue(file, e.value);
  }
  KSTROKE_HOST(DKF_EndChunkWrite(file, &state));
}

// Reading
// ====================================================================================

void ReadField(DKF_File* file, void* data, int32_t bytes) {
  int32_t count = bytes;
  KSTROKE_HOST(DKF_ReadChunkData(file, &count, data));
}

void ReadValue(DKF_File* file, double* v) {
  ReadField(file, v, 8);
  Y_FpLongSwap(v);
}

void ReadValue(DKF_File* file, float* v) {
  ReadField(file, v, 4);
  Y_FpShortSwap(v);
}

void ReadValue(DKF_File* file, bool* v) {
  uint8_t byte = 0;
  ReadField(file, &byte, 1);
  *v = byte != 0;
}

// Replaces `table` by the sub-chunk `tag` of `list`; answers false, leaving the table
// alone, when there is no such sub-chunk. Bytes after the last whole entry are left
// unread; leaving the sub-chunk skips them.
template <class T>
bool ReadTable(DKF_File* file, const DKF_ChunkInfo* list, uint32_t tag, Table<T>* table) {
  bool found = false;
  DKF_ScDescend sub(file, tag, 0, list, &found);
  KSTROKE_HOST(sub.Result());
  if (!found) return false;
  // The descent checked the size against the file, so the reservation is bounded by
  // the bytes that are really there.
  const int32_t count = sub.GetChunkInfo()->DataSize() / kEntryBytes<T>;
  table->clear();
  table->reserve(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    K_TimeTableEntry<T> entry{};
    ReadValue(file, &entry.time);
    ReadValue(file, &entry.value);
    table->push_back(entry);
  }
  return true;
}

}  // namespace

uint32_t Kp_StrokeParamChunkTag(int32_t param) {
  KSTROKE_CHECK(param >= 0 && param < kK_StrokeParamCount, "Unknown paint stroke parameter type.");
  return kParamTags[param];
}

void K_Shape::WriteExtraChunks(DKF_File* file) {
  int64_t content = int64_t(kSubChunkCount) * kDKF_HeaderBytes +
                    TableBytes(timeDistanceTable) + TableBytes(tipSpacingTable);
  for (const ParamTable& table : paramTables) content += TableBytes(table);
  // A chunk's size field has 32 bits; the host would refuse the same.
  if (content > std::numeric_limits<int32_t>::max()) Kp_ThrowCode(DKF_Err_ChunkTooLarge);

  DKF_ChunkWriteState state;
  KSTROKE_HOST(DKF_BeginChunkWrite(file, kDKF_TagList, int32_t(content), kTagPoints, &state));
  WriteTable(file, kTagTimeDistance, timeDistanceTable);
  WriteTable(file, kTagTipSpacing, tipSpacingTable);
  for (int32_t i = 0; i < kK_StrokeParamCount; ++i)
    WriteTable(file, Kp_StrokeParamChunkTag(i), paramTables[i]);
  KSTROKE_HOST(DKF_EndChunkWrite(file, &state));
}

void K_Shape::ReadExtraChunks(DKF_File* file, const DKF_ChunkInfo* parent) {
  DKF_ScDescend list(file, kDKF_TagList, kTagPoints, parent, nullptr);
  KSTROKE_HOST(list.Result());
  const DKF_ChunkInfo* info = list.GetChunkInfo();
  ReadTable(file, info, kTagTimeDistance, &timeDistanceTable);
  ReadTable(file, info, kTagTipSpacing, &tipSpacingTable);
  for (int32_t i = 0; i < kK_StrokeParamCount; ++i) {
    ParamTable& table = paramTables[i];
    // Every parameter table read reaches the end of the stroke, so a factor is
    // defined at every tip time.
    if (ReadTable(file, info, Kp_StrokeParamChunkTag(i), &table) && !table.empty() &&
        !timeDistanceTable.empty())
      table.back().time = std::max(table.back().time, timeDistanceTable.back().time);
  }
}
