// SPDX-License-Identifier: MIT
// Stroke files (.kst): a stroke description with every stroke stored as recorded, in
// the host's chunk format, as `kstroke save` writes and `kstroke load` reads them.
#pragma once

// Chunk layout (host/dkf/dkf.h has the chunk format; all integers big-endian)
// ============
//
//   "LIST" type "kstk"       the whole file, so a cut anywhere shows as a cut chunk
//     "kver"  u32            format version, 2; a file without it is version 1, whose
//                            "kdoc" gives the background alpha first ([a, r, g, b])
//     "kdoc"  UTF-8 JSON     the document's settings: everything of the stroke
//                            description (README.md) except the strokes' events
//     "LIST" type "strk"     one per stroke of "kdoc", in the same order
//       "LIST" type "shap"   the host shape (host/dkf/ws_chunks.h): "shhd", "bzpt",
//                            and the stroke's time tables, "LIST" type "pnts"
//                            (stroke/shape_chunks.h)
//
// Writing records each stroke described by events (AppendVertex, as `kstroke render`
// does), so the file holds the shape the events make; a stroke already recorded is
// written as it is. Reading gives a document whose strokes are all `recorded`, and
// writing that document again gives the same bytes.
//
// Readers skip chunks they do not know. Within "pnts" a table may be absent in files
// from other writers: a missing spacing table means spacing on throughout (one entry
// at the stroke's end time), a missing parameter table a constant factor (1, or 0 for
// the angle) from the first to the last time of the time-distance table, which no
// stroke can do without. Any other defect ends the read with a StrokeFileError naming
// the file, the stroke and the chunk:
//   a.kst: strokes[1]: chunk "tmds", entry 3: expected a time after 0.5, got 0.5

#include <cstdint>
#include <string>
#include <vector>

#include "document/stroke_doc.h"
#include "kstroke/kstroke.hpp"

struct StrokeFileError : StrokeDocError {
  using StrokeDocError::StrokeDocError;
};

/// Newest format version this program reads and the one it writes.
constexpr uint32_t kStrokeFileVersion = 2;

/// The stroke file of `doc`. Throws StrokeFileError (a stroke the engine refuses to
/// record, or a recorded shape that would not read back).
std::vector<uint8_t> StrokeFileBytes(const StrokeDoc& doc);
/// Writes StrokeFileBytes(doc) to `path` through a temporary file (document/output_file.h).
/// `progress` (may be null) is asked before the file is put in place. Throws
/// StrokeFileError, OutputError, or long GX_Err_Cancelled when `progress` said stop.
void SaveStrokeFile(const StrokeDoc& doc, const std::string& path,
                    kstroke::Progress* progress = nullptr);

/// Reads a stroke file; `path` names it in messages and becomes the document's path.
StrokeDoc ParseStrokeFile(const std::vector<uint8_t>& bytes, const std::string& path);
StrokeDoc LoadStrokeFile(const std::string& path);

/// A stroke file when the name ends in ".kst" or the content starts with a chunk
/// ("LIST"), a JSON description otherwise. Throws StrokeDocError.
StrokeDoc LoadStrokeInput(const std::string& path);

/// `doc` as it would be written to `newPath`: clone images given by a relative path
/// are re-expressed relative to `newPath`'s folder, so they still name the same file.
StrokeDoc RelocateDoc(const StrokeDoc& doc, const std::string& newPath);
