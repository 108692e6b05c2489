// SPDX-License-Identifier: MIT
/// @file
/// Host chunk-file library: a big-endian chunked format on disk or in memory, written
/// chunk by chunk and read by scoped descents, with a reader hardened against hostile files.
#pragma once

// File layout
// ===========
//
// A file is a plain sequence of top-level chunks; there is no root form and no file
// header. The "root" of a file is a pseudo-chunk spanning the whole file (depth 0).
//
//   chunk      := tag:u32 size:u32 body pad
//   body       := `size` bytes
//   pad        := one zero byte when `size` is odd, nothing otherwise (not in `size`)
//   list body  := listType:u32 chunk*        (chunks whose tag is "LIST")
//
// All integers are big-endian. A tag is four characters packed so the first character
// is the most significant byte ("LIST" = 0x4C495354, see DKF_Tag).
//
// A list chunk's `size` on disk counts its list type too (so any reader can skip any
// chunk by `size` + pad), but the size callers deal with, both the one announced to
// DKF_BeginChunkWrite and DKF_ChunkInfo::DataSize(), is the contents after the list
// type: a "LIST" announced with 226 has 230 in its size field.
//
// Limits: files and chunks are below 2 GiB (sizes are int32_t at the interface);
// nesting is at most kDKF_MaxDepth chunks deep.
//
// Results
// =======
//
// Every call answers 0 or a DKF_Err_* code (host/y/errors.h); the engine throws any
// non-zero answer unchanged. Hostile input never crashes the reader; it answers:
//   DKF_Err_Io             the operating system refused an open, read, write or close
//   DKF_Err_Truncated      a chunk header is cut short by the end of its parent or of
//                          the file, or a top-level chunk's body by the end of the file
//   DKF_Err_ChunkTooLarge  a chunk's size runs past the end of its parent chunk, or a
//                          file or chunk reaches 2 GiB
//   DKF_Err_Overflow       a count × element size does not fit in 32 bits
//   DKF_Err_TooDeep        a descent or a chunk write beyond kDKF_MaxDepth
//   DKF_Err_NotFound       a required chunk is absent (DKF_ScDescend without a found flag)
//   DKF_Err_BadState       calls out of order: ending a chunk that is not the innermost
//                          open one, writing outside a chunk being written, descending
//                          while writing, closing with a chunk still open
//   DKF_Err_BadFormat      a "LIST" chunk too short to hold its list type
//   DKF_Err_PastChunkEnd   a read past the end of the entered chunk
//   DKF_Err_BadArgument    null pointers, negative counts, a list type on a chunk that is
//                          not "LIST" (or none on one that is), another file's chunk info
//   DKF_Err_ReadOnly       a write to a file opened for reading
//   DKF_Err_WrongKind      a shape chunk holds another kind of shape (host/dkf/ws_chunks.h)
//
// Writing
// =======
//
// Chunks are appended at the end of the file. DKF_BeginChunkWrite writes the header
// with the announced size; DKF_EndChunkWrite pads odd data and, when the bytes written
// differ from the announcement, patches the size field with the true count. The
// announcement is therefore a hint: a list's announcement that leaves out its
// sub-chunks' pad bytes still yields a correct file.
//
// Reading
// =======
//
// DKF_ScDescend finds a chunk among the direct children of a parent chunk (or of the
// root), checking every header it passes, and enters it: reads then start at its first
// data byte (after the list type) and may not run past its end. Destroying the descent
// ascends: the file position moves past the chunk and its pad.
//
// A DKF_File is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/y/errors.h"

/// An open chunk file (on disk or in memory). Created by DKF_CreateFile, DKF_OpenFile,
/// DKF_NewMemoryFile or DKF_OpenMemory; released by DKF_CloseFile (or DKF_ScFile).
struct DKF_File;

/// Deepest nesting the reader enters or the writer produces; the root is depth 0 and
/// a top-level chunk depth 1.
constexpr int32_t kDKF_MaxDepth = 32;

/// Size of a chunk header (tag and size) and of a list type, in bytes.
///@{
constexpr int32_t kDKF_HeaderBytes = 8;
constexpr int32_t kDKF_ListTypeBytes = 4;
///@}

/// The 32-bit value of a four-character tag, first character most significant.
constexpr uint32_t DKF_Tag(const char (&s)[5]) noexcept {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

/// Tag of a list chunk, whose body starts with a list type and holds sub-chunks.
constexpr uint32_t kDKF_TagList = DKF_Tag("LIST");

/// Where a chunk lies in its file, as found by a descent (or the whole file for the root).
class DKF_ChunkInfo {
public:
  /// An empty description (no chunk): zero tag, size and offset.
  DKF_ChunkInfo() = default;

  /// The chunk's four-character tag (see DKF_Tag); 0 for the root.
  uint32_t Tag() const noexcept { return tag_; }
  /// The list type of a "LIST" chunk, 0 for any other chunk and for the root.
  uint32_t ListType() const noexcept { return listType_; }
  /// Bytes of contents: after the list type for a "LIST" chunk, excluding the pad byte.
  int32_t DataSize() const noexcept { return dataSize_; }
  /// File offset of the first content byte.
  int64_t DataOffset() const noexcept { return dataOffset_; }
  /// 0 for the root, 1 for a top-level chunk, and so on.
  int32_t Depth() const noexcept { return depth_; }

private:
  friend struct DKF_File;
  friend class DKF_ScDescend;
  friend int32_t DKF_GetRootInfo(DKF_File* file, DKF_ChunkInfo* info);

  const DKF_File* owner_ = nullptr;
  uint32_t tag_ = 0;
  uint32_t listType_ = 0;
  int32_t dataSize_ = 0;
  int64_t dataOffset_ = 0;
  int32_t depth_ = 0;
};

/// Bookkeeping of one chunk being written, filled by DKF_BeginChunkWrite and consumed by
/// DKF_EndChunkWrite. Callers keep it on the stack and do not look inside.
struct DKF_ChunkWriteState {
  int64_t headerOffset = -1;  ///< offset of the chunk's tag; -1 when not begun
  int32_t announced = 0;      ///< size given to DKF_BeginChunkWrite
  int32_t depth = 0;          ///< nesting depth of the chunk
};

// Files ============================================================================

/// Creates (or truncates) a file on disk for writing and reading.
int32_t DKF_CreateFile(const char* path, DKF_File** file);
/// Opens an existing file on disk for reading only.
int32_t DKF_OpenFile(const char* path, DKF_File** file);
/// A new, empty file in memory, for writing and reading.
int32_t DKF_NewMemoryFile(DKF_File** file);
/// A read-only file in memory holding a copy of `size` bytes at `data`.
int32_t DKF_OpenMemory(const void* data, size_t size, DKF_File** file);
/// Flushes and releases the file (null is accepted). Answers DKF_Err_Io when the
/// operating system fails to close it, DKF_Err_BadState when a chunk write was left
/// unfinished; the file is released in every case. Descents into the file must have
/// ended before.
int32_t DKF_CloseFile(DKF_File* file);
/// A copy of the whole file's bytes (disk or memory).
int32_t DKF_GetBytes(DKF_File* file, std::vector<uint8_t>* bytes);
/// The root pseudo-chunk: the whole file at its current size, depth 0.
int32_t DKF_GetRootInfo(DKF_File* file, DKF_ChunkInfo* info);

/// Owns a DKF_File and closes it when destroyed (ignoring the close result; call
/// Close() to see it).
class DKF_ScFile {
public:
  DKF_ScFile() = default;
  /// Takes ownership of `file` (null: holds nothing).
  explicit DKF_ScFile(DKF_File* file) noexcept : file_(file) {}
  ~DKF_ScFile() { Close(); }
  DKF_ScFile(const DKF_ScFile&) = delete;
  DKF_ScFile& operator=(const DKF_ScFile&) = delete;

  /// The file held, still owned by this object; null when none.
  DKF_File* Get() const noexcept { return file_; }
  /// For the out-parameter of the open and create calls; closes any file held first.
  DKF_File** Out() noexcept {
    Close();
    return &file_;
  }
  /// Closes the file now and answers DKF_CloseFile's code (0 when nothing was held).
  int32_t Close() noexcept {
    DKF_File* f = file_;
    file_ = nullptr;
    return DKF_CloseFile(f);
  }

private:
  DKF_File* file_ = nullptr;
};

// Writing ==========================================================================

/// Appends a chunk header and opens the chunk for data. `size` is the announced data
/// size (contents after the list type for a list); `listType` is non-zero exactly when
/// `tag` is "LIST". `state` must stay alive until the matching DKF_EndChunkWrite.
int32_t DKF_BeginChunkWrite(DKF_File* file, uint32_t tag, int32_t size, uint32_t listType,
                            DKF_ChunkWriteState* state);
/// Closes the innermost open chunk, which `state` must describe: pads odd data with a
/// zero byte and patches the size field when it differs from the announcement.
int32_t DKF_EndChunkWrite(DKF_File* file, DKF_ChunkWriteState* state);
/// Writes `*count` bytes into the innermost chunk being written. On failure `*count`
/// becomes 0 and, on an I/O failure, every later write answers the same code.
int32_t DKF_WriteChunkData(DKF_File* file, int32_t* count, const void* data);

// Reading ==========================================================================

/// Reads `*count` bytes at the current position of the entered chunk (or of the file's
/// top level when none is entered). All or nothing: a read that would pass the chunk's
/// end reads nothing, sets `*count` to 0 and answers DKF_Err_PastChunkEnd.
int32_t DKF_ReadChunkData(DKF_File* file, int32_t* count, void* data);
/// Bytes left to read in the entered chunk (or the file's top level).
int32_t DKF_ChunkBytesLeft(DKF_File* file, int32_t* left);
/// Walks every chunk of the file, lists included, and answers the first structural
/// error (the codes a descent would give), or 0 for a well-formed file.
int32_t DKF_CheckStructure(DKF_File* file);

/// Scoped descent into the first child of `parent` (null: the file's top level) whose
/// tag is `tag` and, for "LIST", whose list type is `type` (0 matches any list type;
/// `type` is ignored for other tags).
///
/// With `found` given, absence sets *found = false and is no failure; without it,
/// absence is DKF_Err_NotFound. A malformed chunk met on the way fails the descent in
/// both cases. The engine checks a descent with `KSTROKE_HOST(descent.Result())`.
/// Descents nest and must be destroyed in reverse order of construction (as scoped
/// objects are).
class DKF_ScDescend {
public:
  /// Searches and enters at once; the outcome is in Result() and Entered(). A
  /// `parent` must come from the same file (else DKF_Err_BadArgument), and no chunk may
  /// be open for writing (else DKF_Err_BadState).
  DKF_ScDescend(DKF_File* file, uint32_t tag, uint32_t type, const DKF_ChunkInfo* parent,
                bool* found);
  ~DKF_ScDescend();
  DKF_ScDescend(const DKF_ScDescend&) = delete;
  DKF_ScDescend& operator=(const DKF_ScDescend&) = delete;

  /// 0 when the chunk was entered or (with a found flag) is absent; else the failure.
  int32_t Result() const noexcept { return result_; }
  /// Whether the chunk was found and entered: reads now come from it.
  bool Entered() const noexcept { return entered_; }
  /// The chunk entered; an empty description when nothing was entered.
  const DKF_ChunkInfo* GetChunkInfo() const noexcept { return &info_; }

private:
  DKF_File* file_;
  DKF_ChunkInfo info_;
  size_t frameIndex_ = 0;
  int32_t result_ = 0;
  bool entered_ = false;
};

// Cursors ==========================================================================

/// Reads big-endian fields from the entered chunk with a sticky failure: after the
/// first failed read, every later read does nothing, outputs zero and fails, and
/// Result() keeps the first code. Preflight checks count × size before array reads.
class DKF_ReadCursor {
public:
  /// A cursor at the file's current read position; the file must outlive it.
  explicit DKF_ReadCursor(DKF_File* file) noexcept : file_(file) {}

  /// Reads `count` raw bytes into `data` (zeroed on failure); false once failed.
  bool Bytes(void* data, int32_t count);
  /// Reads one big-endian field into `*v` (F32, F64: the IEEE bit pattern, unchanged);
  /// false, and `*v` zero, once the cursor has failed.
  ///@{
  bool U8(uint8_t* v);
  bool U16(uint16_t* v);
  bool U32(uint32_t* v);
  bool I32(int32_t* v);
  bool F32(float* v);
  bool F64(double* v);
  ///@}
  /// Checks that `count` elements of `elementSize` bytes fit in 32 bits (else
  /// DKF_Err_Overflow) and in what is left of the chunk (else DKF_Err_PastChunkEnd).
  bool Preflight(int32_t count, int32_t elementSize);
  /// Marks the cursor failed with `code` (0 is ignored); for checks of the caller's own.
  void Fail(int32_t code) noexcept;

  /// True while no read or check has failed.
  bool Ok() const noexcept { return result_ == 0; }
  /// 0, or the code of the first failure.
  int32_t Result() const noexcept { return result_; }

private:
  DKF_File* file_;
  int32_t result_ = 0;
};

/// Writes big-endian fields into the chunk being written, with a sticky failure like
/// DKF_ReadCursor.
class DKF_WriteCursor {
public:
  /// A cursor at the end of the innermost chunk being written; the file must outlive it.
  explicit DKF_WriteCursor(DKF_File* file) noexcept : file_(file) {}

  /// Appends `count` raw bytes from `data`; false, writing nothing, once failed.
  bool Bytes(const void* data, int32_t count);
  /// Appends `v` big-endian (F32, F64: the IEEE bit pattern, unchanged); false,
  /// writing nothing, once the cursor has failed.
  ///@{
  bool U8(uint8_t v);
  bool U16(uint16_t v);
  bool U32(uint32_t v);
  bool I32(int32_t v);
  bool F32(float v);
  bool F64(double v);
  ///@}

  /// True while no write has failed.
  bool Ok() const noexcept { return result_ == 0; }
  /// 0, or the code of the first failure.
  int32_t Result() const noexcept { return result_; }

private:
  DKF_File* file_;
  int32_t result_ = 0;
};
