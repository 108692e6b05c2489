// SPDX-License-Identifier: MIT
// The file chunks of a stroke's time tables (K_Shape::WriteExtraChunks and
// ReadExtraChunks) and the four-character code of each parameter table.
#pragma once

// Chunk layout
// ============
//
// One "LIST" chunk of list type "pnts" holds seven sub-chunks, written in this order:
//
//   tag     table               entry                                   bytes
//   "tmds"  timeDistanceTable   time f64, path position f64             16
//   "tpsp"  tipSpacingTable     time f64, spacing flag u8               9
//   "dmtr"  paramTables[0]      time f64, factor f32                    12
//   "optc"  paramTables[1]      as "dmtr"                               12
//   "flow"  paramTables[2]      as "dmtr"                               12
//   "angl"  paramTables[3]      as "dmtr"                               12
//   "rndn"  paramTables[4]      as "dmtr"                               12
//
// A sub-chunk's data is its entries back to back, so the entry count is the data size
// divided by the entry size; bytes after the last whole entry are ignored. Doubles
// and floats are IEEE 754, most significant byte first (Y_FpLongSwap / Y_FpShortSwap
// on the way in and out). The spacing flag is written 0 or 1 and read as true when
// non-zero. The list's announced content size is 56 (seven 8-byte sub-chunk headers)
// plus the seven data sizes; the chunk library corrects it for pad bytes. There is
// no version or count field. Readers skip sub-chunks they do not know.

#include <cstdint>

/// The chunk tag of parameter table `param` (a K_StrokeParam). An index outside 0…4
/// reports "Unknown paint stroke parameter type." and throws 3.
uint32_t Kp_StrokeParamChunkTag(int32_t param);
