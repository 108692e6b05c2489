// SPDX-License-Identifier: MIT
/// @file
/// A host shape in a chunk file: its kind, flags, relative rectangle and Bezier points,
/// followed by whatever the shape adds through WriteExtraChunks.
#pragma once

// Chunk layout (big-endian, see host/dkf/dkf.h for the chunk format)
// ============
//
//   "LIST" type "shap"
//     "shhd"  kind u8, flags u8, has-rectangle u8 (0 or 1), reserved u8 (0),
//             then, with a rectangle, left, top, right, bottom as f32     4 or 20 bytes
//     "bzpt"  vertex count u32, then 3 × count point items (x f32, y f32),
//             three per vertex in the shape's list order                 4 + 24 × count
//     ...     the shape's own chunks (WS_Shape::WriteExtraChunks), e.g. a stroke's
//             "LIST" of type "pnts"
//
// Floats are stored bit for bit, so a round trip is lossless; a non-finite
// coordinate or rectangle edge is refused when read. The list's announced size leaves
// out the extra chunks (the chunk library patches it).

#include <cstdint>

#include "host/dkf/dkf.h"
#include "host/ws/ws.h"

/// Appends `shape` as a "shap" list at the end of `file`, calling its
/// WriteExtraChunks inside the list. Answers 0 or a code: the chunk library's, or the
/// code thrown by WriteExtraChunks (a thrown long as is, a std::exception translated
/// by Y_TranslateAndReportException); DKF_Err_BadArgument for a non-finite point or
/// rectangle edge. After a failure the file is incomplete and should be discarded.
int32_t WS_WriteShapeChunk(DKF_File* file, WS_Shape* shape);

/// The kind byte of the first "shap" list inside `parent` (null: the file's top level),
/// so a reader can make a shape of the right class before WS_ReadShapeChunk.
int32_t WS_PeekShapeKind(DKF_File* file, const DKF_ChunkInfo* parent, unsigned char* kind);

/// Replaces `shape`'s flags, rectangle and points by those of the first "shap" list
/// inside `parent` (null: the file's top level), then calls its ReadExtraChunks with
/// the list. Answers 0 or a code:
///   DKF_Err_NotFound     no "shap" list, or it lacks "shhd" or "bzpt"
///   DKF_Err_WrongKind    the file's shape kind is not `shape`'s kind
///   DKF_Err_BadFormat    "shhd" of the wrong size or rectangle flag, a non-finite value
///   DKF_Err_Overflow     a vertex count whose bytes do not fit in 32 bits
///   DKF_Err_PastChunkEnd a vertex count larger than "bzpt" holds
///   any other chunk-library code, or what ReadExtraChunks throws (as for writing).
/// The geometry is replaced only when it was read whole; a failure in ReadExtraChunks
/// leaves the new geometry with partly read extras.
int32_t WS_ReadShapeChunk(DKF_File* file, const DKF_ChunkInfo* parent, WS_Shape* shape);
