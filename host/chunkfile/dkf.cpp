// SPDX-License-Identifier: MIT
// Chunk files: the disk and memory stores, the chunk writer, the descent-based reader
// and the big-endian cursors. The layout and the meaning of each code are in
// host/include/host/dkf/dkf.h.
//
// The file keeps a stack of frames, one per chunk being written or entered for
// reading; the top frame bounds every data read and receives every data write. Every
// header the reader passes is checked against its parent's end before anything of
// it is used, so no offset taken from the file can point outside the file.
#include "host/dkf/dkf.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "host/y/y.h"

namespace {

constexpr int64_t kMaxBytes = std::numeric_limits<int32_t>::max();
constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max();

uint32_t LoadU32(const uint8_t* p) noexcept {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
         uint32_t(p[3]);
}

void StoreU32(uint8_t* p, uint32_t v) noexcept {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

}  // namespace

// DKF_File - stores and frames
// ====================================================================================

struct DKF_File : Y_MemTrackedObject {
  struct Frame {
    int64_t begin = 0;         // first data byte (after a list type)
    int64_t end = kUnbounded;  // one past the last data byte; unbounded while writing
    int64_t next = 0;          // where the position goes when a read frame is left
    int64_t headerOffset = -1;
    int32_t depth = 0;
    bool writing = false;
    bool isList = false;
  };

  // One chunk header as read and checked against its parent.
  struct Header {
    uint32_t tag = 0;
    uint32_t listType = 0;
    int64_t dataOffset = 0;
    int32_t dataSize = 0;
    int64_t next = 0;  // the following sibling (past the pad)
  };

  FILE* disk = nullptr;
  std::vector<uint8_t> memory;
  bool writable = false;
  int64_t size = 0;
  int64_t pos = 0;
  int32_t writeFailure = 0;  // sticky: after an I/O failure the writer stays failed
  std::vector<Frame> frames;

  ~DKF_File() override {
    if (disk) std::fclose(disk);
  }

  bool Writing() const noexcept { return !frames.empty() && frames.back().writing; }
  int64_t ReadEnd() const noexcept { return frames.empty() ? size : frames.back().end; }

  int32_t ReadAt(int64_t offset, void* dst, int64_t n) noexcept {
    if (n == 0) return 0;
    if (offset < 0 || n < 0 || offset > size || n > size - offset) return DKF_Err_Truncated;
    if (!disk) {
      std::memcpy(dst, memory.data() + offset, size_t(n));
      return 0;
    }
    if (fseeko(disk, off_t(offset), SEEK_SET) != 0) return DKF_Err_Io;
    return std::fread(dst, 1, size_t(n), disk) == size_t(n) ? 0 : DKF_Err_Io;
  }

  int32_t WriteAt(int64_t offset, const void* src, int64_t n) noexcept {
    if (n == 0) return 0;
    if (offset + n > kMaxBytes) return DKF_Err_ChunkTooLarge;
    if (!disk) {
      try {
        if (size_t(offset + n) > memory.size()) memory.resize(size_t(offset + n));
      } catch (const std::bad_alloc&) {
        return Y_Err_OutOfMemory;
      }
      std::memcpy(memory.data() + offset, src, size_t(n));
    } else {
      if (fseeko(disk, off_t(offset), SEEK_SET) != 0) return DKF_Err_Io;
      if (std::fwrite(src, 1, size_t(n), disk) != size_t(n)) return DKF_Err_Io;
    }
    if (offset + n > size) size = offset + n;
    return 0;
  }

  // Reads and checks the header at `at` inside a parent whose data ends at `end`.
  // A header or body cut short by the end of the file is truncation; a body past the
  // end of an enclosing chunk is a size lie.
  int32_t ReadHeader(int64_t at, int64_t end, bool parentIsRoot, Header* h) noexcept {
    const int64_t room = end - at;
    if (room < kDKF_HeaderBytes) return DKF_Err_Truncated;
    uint8_t raw[kDKF_HeaderBytes];
    if (int32_t rc = ReadAt(at, raw, kDKF_HeaderBytes)) return rc;
    h->tag = LoadU32(raw);
    const int64_t bodySize = LoadU32(raw + 4);
    if (bodySize > room - kDKF_HeaderBytes)
      return parentIsRoot ? DKF_Err_Truncated : DKF_Err_ChunkTooLarge;
    h->listType = 0;
    h->dataOffset = at + kDKF_HeaderBytes;
    h->dataSize = int32_t(bodySize);  // < room ≤ file size < 2 GiB
    if (h->tag == kDKF_TagList) {
      if (bodySize < kDKF_ListTypeBytes) return DKF_Err_BadFormat;
      uint8_t type[kDKF_ListTypeBytes];
      if (int32_t rc = ReadAt(h->dataOffset, type, kDKF_ListTypeBytes)) return rc;
      h->listType = LoadU32(type);
      h->dataOffset += kDKF_ListTypeBytes;
      h->dataSize -= kDKF_ListTypeBytes;
    }
    // A pad byte missing at the very end of the parent is tolerated.
    h->next = at + kDKF_HeaderBytes + bodySize + (bodySize & 1);
    if (h->next > end) h->next = end;
    return 0;
  }

  // Checks every chunk in [begin, end) whose children sit at `depth`, recursing into
  // lists; the recursion is bounded by kDKF_MaxDepth.
  int32_t Walk(int64_t begin, int64_t end, int32_t depth) noexcept {
    for (int64_t at = begin; at < end;) {
      if (depth > kDKF_MaxDepth) return DKF_Err_TooDeep;
      Header h;
      if (int32_t rc = ReadHeader(at, end, depth == 1, &h)) return rc;
      if (h.tag == kDKF_TagList) {
        if (int32_t rc = Walk(h.dataOffset, h.dataOffset + h.dataSize, depth + 1)) return rc;
      }
      at = h.next;
    }
    return 0;
  }

  static void Describe(DKF_ChunkInfo* info, const DKF_File* owner, uint32_t tag,
                       uint32_t listType, int32_t dataSize, int64_t dataOffset,
                       int32_t depth) noexcept {
    info->owner_ = owner;
    info->tag_ = tag;
    info->listType_ = listType;
    info->dataSize_ = dataSize;
    info->dataOffset_ = dataOffset;
    info->depth_ = depth;
  }
};

// Files
// ====================================================================================

namespace {

int32_t NewFile(DKF_File** out) {
  if (!out) return DKF_Err_BadArgument;
  *out = nullptr;
  DKF_File* f = new DKF_File;
  if (!f) return Y_Err_OutOfMemory;
  *out = f;
  return 0;
}

}  // namespace

int32_t DKF_CreateFile(const char* path, DKF_File** file) {
  if (!path) return DKF_Err_BadArgument;
  if (int32_t rc = NewFile(file)) return rc;
  DKF_File* f = *file;
  f->disk = std::fopen(path, "w+b");
  f->writable = true;
  if (!f->disk) {
    delete f;
    *file = nullptr;
    return DKF_Err_Io;
  }
  return 0;
}

int32_t DKF_OpenFile(const char* path, DKF_File** file) {
  if (!path) return DKF_Err_BadArgument;
  if (int32_t rc = NewFile(file)) return rc;
  DKF_File* f = *file;
  f->disk = std::fopen(path, "rb");
  int32_t rc = 0;
  if (!f->disk || fseeko(f->disk, 0, SEEK_END) != 0) {
    rc = DKF_Err_Io;
  } else {
    const off_t end = ftello(f->disk);
    if (end < 0) rc = DKF_Err_Io;
    else if (end > kMaxBytes) rc = DKF_Err_ChunkTooLarge;
    else f->size = end;
  }
  if (rc) {
    delete f;
    *file = nullptr;
  }
  return rc;
}

int32_t DKF_NewMemoryFile(DKF_File** file) {
  if (int32_t rc = NewFile(file)) return rc;
  (*file)->writable = true;
  return 0;
}

int32_t DKF_OpenMemory(const void* data, size_t size, DKF_File** file) {
  if (!data && size) return DKF_Err_BadArgument;
  if (size > size_t(kMaxBytes)) return DKF_Err_ChunkTooLarge;
  if (int32_t rc = NewFile(file)) return rc;
  DKF_File* f = *file;
  try {
    const auto* bytes = static_cast<const uint8_t*>(data);
    f->memory.assign(bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    delete f;
    *file = nullptr;
    return Y_Err_OutOfMemory;
  }
  f->size = int64_t(size);
  return 0;
}

int32_t DKF_CloseFile(DKF_File* file) {
  if (!file) return 0;
  int32_t rc = file->Writing() ? DKF_Err_BadState : 0;
  if (file->disk) {
    const int closed = std::fclose(file->disk);
    file->disk = nullptr;
    if (closed != 0 && rc == 0) rc = DKF_Err_Io;
  }
  delete file;
  return rc;
}

int32_t DKF_GetBytes(DKF_File* file, std::vector<uint8_t>* bytes) {
  if (!file || !bytes) return DKF_Err_BadArgument;
  try {
    bytes->resize(size_t(file->size));
  } catch (const std::bad_alloc&) {
    return Y_Err_OutOfMemory;
  }
  return file->ReadAt(0, bytes->data(), file->size);
}

int32_t DKF_GetRootInfo(DKF_File* file, DKF_ChunkInfo* info) {
  if (!file || !info) return DKF_Err_BadArgument;
  DKF_File::Describe(info, file, 0, 0, int32_t(file->size), 0, 0);
  return 0;
}

// Writing
// ====================================================================================

int32_t DKF_BeginChunkWrite(DKF_File* file, uint32_t tag, int32_t size, uint32_t listType,
                            DKF_ChunkWriteState* state) {
  if (!file || !state || size < 0) return DKF_Err_BadArgument;
  const bool isList = tag == kDKF_TagList;
  if (isList != (listType != 0)) return DKF_Err_BadArgument;
  if (!file->writable) return DKF_Err_ReadOnly;
  if (file->writeFailure) return file->writeFailure;
  if (!file->frames.empty() && !file->Writing()) return DKF_Err_BadState;
  const int32_t depth = file->frames.empty() ? 1 : file->frames.back().depth + 1;
  if (depth > kDKF_MaxDepth) return DKF_Err_TooDeep;
  const int64_t bodySize = int64_t(size) + (isList ? kDKF_ListTypeBytes : 0);
  if (bodySize > kMaxBytes) return DKF_Err_ChunkTooLarge;

  if (file->frames.empty()) file->pos = file->size;  // top-level chunks are appended
  uint8_t header[kDKF_HeaderBytes + kDKF_ListTypeBytes];
  StoreU32(header, tag);
  StoreU32(header + 4, uint32_t(bodySize));
  StoreU32(header + 8, listType);
  const int64_t headerBytes = kDKF_HeaderBytes + (isList ? kDKF_ListTypeBytes : 0);
  if (int32_t rc = file->WriteAt(file->pos, header, headerBytes)) {
    file->writeFailure = rc;
    return rc;
  }
  DKF_File::Frame frame;
  frame.headerOffset = file->pos;
  frame.begin = file->pos + headerBytes;
  frame.depth = depth;
  frame.writing = true;
  frame.isList = isList;
  try {
    file->frames.push_back(frame);
  } catch (const std::bad_alloc&) {
    return Y_Err_OutOfMemory;
  }
  file->pos = frame.begin;
  state->headerOffset = frame.headerOffset;
  state->announced = size;
  state->depth = depth;
  return 0;
}

int32_t DKF_EndChunkWrite(DKF_File* file, DKF_ChunkWriteState* state) {
  if (!file || !state) return DKF_Err_BadArgument;
  if (!file->Writing() || state->headerOffset < 0 ||
      file->frames.back().headerOffset != state->headerOffset)
    return DKF_Err_BadState;
  const DKF_File::Frame frame = file->frames.back();
  file->frames.pop_back();
  state->headerOffset = -1;
  if (file->writeFailure) return file->writeFailure;

  const int64_t bodySize = file->pos - frame.begin + (frame.isList ? kDKF_ListTypeBytes : 0);
  int32_t rc = 0;
  if (bodySize & 1) {
    const uint8_t pad = 0;
    rc = file->WriteAt(file->pos, &pad, 1);
    if (rc == 0) ++file->pos;
  }
  const int64_t announcedBody =
      int64_t(state->announced) + (frame.isList ? kDKF_ListTypeBytes : 0);
  if (rc == 0 && bodySize != announcedBody) {
    uint8_t field[4];
    StoreU32(field, uint32_t(bodySize));
    rc = file->WriteAt(frame.headerOffset + 4, field, 4);
  }
  if (rc) file->writeFailure = rc;
  return rc;
}

int32_t DKF_WriteChunkData(DKF_File* file, int32_t* count, const void* data) {
  if (!file || !count || *count < 0 || (!data && *count > 0)) {
    if (count) *count = 0;
    return DKF_Err_BadArgument;
  }
  const int64_t n = *count;
  *count = 0;
  if (!file->writable) return DKF_Err_ReadOnly;
  if (file->writeFailure) return file->writeFailure;
  if (!file->Writing()) return DKF_Err_BadState;
  if (int32_t rc = file->WriteAt(file->pos, data, n)) {
    file->writeFailure = rc;
    return rc;
  }
  file->pos += n;
  *count = int32_t(n);
  return 0;
}

// Reading
// ====================================================================================

int32_t DKF_ReadChunkData(DKF_File* file, int32_t* count, void* data) {
  if (!file || !count || *count < 0 || (!data && *count > 0)) {
    if (count) *count = 0;
    return DKF_Err_BadArgument;
  }
  const int64_t n = *count;
  *count = 0;
  if (file->Writing()) return DKF_Err_BadState;
  if (n > file->ReadEnd() - file->pos) return DKF_Err_PastChunkEnd;
  if (int32_t rc = file->ReadAt(file->pos, data, n)) return rc;
  file->pos += n;
  *count = int32_t(n);
  return 0;
}

int32_t DKF_ChunkBytesLeft(DKF_File* file, int32_t* left) {
  if (!file || !left) return DKF_Err_BadArgument;
  *left = 0;
  if (file->Writing()) return DKF_Err_BadState;
  const int64_t n = file->ReadEnd() - file->pos;
  *left = n > 0 ? int32_t(n) : 0;
  return 0;
}

int32_t DKF_CheckStructure(DKF_File* file) {
  if (!file) return DKF_Err_BadArgument;
  if (file->Writing()) return DKF_Err_BadState;
  return file->Walk(0, file->size, 1);
}

DKF_ScDescend::DKF_ScDescend(DKF_File* file, uint32_t tag, uint32_t type,
                             const DKF_ChunkInfo* parent, bool* found)
    : file_(file) {
  if (found) *found = false;
  if (!file_ || (parent && parent->owner_ != file_)) {
    result_ = DKF_Err_BadArgument;
    return;
  }
  if (file_->Writing()) {
    result_ = DKF_Err_BadState;
    return;
  }
  DKF_ChunkInfo root;
  if (!parent) {
    DKF_GetRootInfo(file_, &root);
    parent = &root;
  }
  const int32_t depth = parent->depth_ + 1;
  if (depth > kDKF_MaxDepth) {
    result_ = DKF_Err_TooDeep;
    return;
  }
  const int64_t end = parent->dataOffset_ + parent->dataSize_;
  if (end > file_->size) {
    result_ = DKF_Err_Truncated;
    return;
  }
  for (int64_t at = parent->dataOffset_; at < end;) {
    DKF_File::Header h;
    if ((result_ = file_->ReadHeader(at, end, depth == 1, &h)) != 0) return;
    if (h.tag == tag && (tag != kDKF_TagList || type == 0 || h.listType == type)) {
      DKF_File::Frame frame;
      frame.begin = h.dataOffset;
      frame.end = h.dataOffset + h.dataSize;
      frame.next = h.next;
      frame.headerOffset = at;
      frame.depth = depth;
      frame.isList = h.tag == kDKF_TagList;
      try {
        file_->frames.push_back(frame);
      } catch (const std::bad_alloc&) {
        result_ = Y_Err_OutOfMemory;
        return;
      }
      DKF_File::Describe(&info_, file_, h.tag, h.listType, h.dataSize, h.dataOffset, depth);
      frameIndex_ = file_->frames.size() - 1;
      file_->pos = h.dataOffset;
      entered_ = true;
      if (found) *found = true;
      return;
    }
    at = h.next;
  }
  if (!found) result_ = DKF_Err_NotFound;
}

DKF_ScDescend::~DKF_ScDescend() {
  if (!entered_ || file_->frames.size() <= frameIndex_) return;
  file_->pos = file_->frames[frameIndex_].next;
  file_->frames.resize(frameIndex_);
}

// Cursors
// ====================================================================================

bool DKF_ReadCursor::Bytes(void* data, int32_t count) {
  if (result_ == 0) {
    int32_t n = count;
    result_ = DKF_ReadChunkData(file_, &n, data);
  }
  if (result_ != 0 && data && count > 0) std::memset(data, 0, size_t(count));
  return result_ == 0;
}

bool DKF_ReadCursor::U8(uint8_t* v) { return Bytes(v, 1); }

bool DKF_ReadCursor::U16(uint16_t* v) {
  uint8_t b[2];
  const bool ok = Bytes(b, 2);
  *v = uint16_t((b[0] << 8) | b[1]);
  return ok;
}

bool DKF_ReadCursor::U32(uint32_t* v) {
  uint8_t b[4];
  const bool ok = Bytes(b, 4);
  *v = LoadU32(b);
  return ok;
}

bool DKF_ReadCursor::I32(int32_t* v) {
  uint32_t u = 0;
  const bool ok = U32(&u);
  std::memcpy(v, &u, 4);
  return ok;
}

bool DKF_ReadCursor::F32(float* v) {
  uint32_t u = 0;
  const bool ok = U32(&u);
  std::memcpy(v, &u, 4);
  return ok;
}

bool DKF_ReadCursor::F64(double* v) {
  uint32_t hi = 0, lo = 0;
  U32(&hi);
  const bool ok = U32(&lo);
  const uint64_t u = (uint64_t(hi) << 32) | lo;
  std::memcpy(v, &u, 8);
  return ok;
}

bool DKF_ReadCursor::Preflight(int32_t count, int32_t elementSize) {
  if (result_ != 0) return false;
  if (count < 0 || elementSize < 0) {
    result_ = DKF_Err_BadArgument;
    return false;
  }
  const int64_t total = int64_t(count) * int64_t(elementSize);
  if (total > kMaxBytes) {
    result_ = DKF_Err_Overflow;
    return false;
  }
  int32_t left = 0;
  if ((result_ = DKF_ChunkBytesLeft(file_, &left)) != 0) return false;
  if (total > left) result_ = DKF_Err_PastChunkEnd;
  return result_ == 0;
}

void DKF_ReadCursor::Fail(int32_t code) noexcept {
  if (result_ == 0) result_ = code;
}

bool DKF_WriteCursor::Bytes(const void* data, int32_t count) {
  if (result_ == 0) {
    int32_t n = count;
    result_ = DKF_WriteChunkData(file_, &n, data);
  }
  return result_ == 0;
}

bool DKF_WriteCursor::U8(uint8_t v) { return Bytes(&v, 1); }

bool DKF_WriteCursor::U16(uint16_t v) {
  const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
  return Bytes(b, 2);
}

bool DKF_WriteCursor::U32(uint32_t v) {
  uint8_t b[4];
  StoreU32(b, v);
  return Bytes(b, 4);
}

bool DKF_WriteCursor::I32(int32_t v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return U32(u);
}

bool DKF_WriteCursor::F32(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return U32(u);
}

bool DKF_WriteCursor::F64(double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  U32(uint32_t(u >> 32));
  return U32(uint32_t(u));
}
