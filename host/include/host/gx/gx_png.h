// SPDX-License-Identifier: MIT
// Host pixel library, PNG files: layers and single-channel buffers out, worlds in.
//
// Layers are written as RGBA (8 bits per channel for an 8-bit layer, 16 bits for a 16-bit
// or float layer), channels exactly as stored: no premultiplication is added or removed.
// Value scaling between full values (255, 32768, 1.0) and the file's (255, 65535) rounds
// to nearest; float is clamped to 0..1 (NaN as 0). Every call answers 0 or a GX_Err_*
// code, and GX_PngLastMessage() then holds a one-line description naming the file.
//
// Rows are converted and written one at a time, and read one at a time straight into
// the world (an interlaced file, whose passes revisit every row, is read whole first),
// so no call holds a second copy of the image. A progress record, where one is given,
// hears (row, height) once per row; a non-zero answer stops the call, which answers
// that code and leaves no world and, for the path forms, no file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"

/// Writes a 4-channel layer (depth 8, 16 or 32) as an RGBA PNG: 8 → 8-bit file,
/// 16 and float → 16-bit file. GX_Err_BadArgument for a null path or pixels or an
/// empty layer, GX_Err_BadDepth for another depth, GX_Err_PngOpen / GX_Err_PngWrite
/// when the file cannot be made (a partly written file is removed).
int32_t GX_WritePng(const char* path, const GX_LayerDef& layer,
                    GX_ProgressInfo* progress = nullptr);

/// As GX_WritePng, into an open stream (left open, flushed, its write errors checked):
/// `name` only names it in messages. Whoever opened the stream removes what a failed
/// call left in it.
int32_t GX_WritePngStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          GX_ProgressInfo* progress = nullptr);

/// Writes a single-channel buffer as a grey PNG: 8-bit buffers as 8-bit grey, 16-bit
/// (0..32768) and float (0..1) buffers as 16-bit grey.
int32_t GX_WriteUnoPng(const char* path, const GX_UnoBuffer& buffer);

/// What a reader refuses before it allocates: images wider or taller than `maxSide`,
/// or of more than `maxPixels` pixels (0: no limit of that kind), so a small file that
/// claims a huge image costs nothing. `progress` may be null.
struct GX_PngReadOptions {
  int32_t maxSide = 0;
  int64_t maxPixels = 0;
  GX_ProgressInfo* progress = nullptr;
};

/// The size a PNG file's header gives, without reading its pixels. GX_Err_PngOpen,
/// GX_Err_PngFormat as GX_ReadPng.
int32_t GX_ReadPngSize(const char* path, int32_t* width, int32_t* height);

/// Reads any PNG (grey, palette, RGB, with or without alpha, 1..16 bits) into a new
/// world of `depth` 8, 16 or 32 (float) that the caller owns. Channels without alpha
/// read as opaque. On failure `*world` is null: GX_Err_BadDepth for another depth,
/// GX_Err_PngOpen when the file cannot be opened, GX_Err_PngFormat when it is not a
/// valid PNG, GX_Err_ImageTooLarge when its header exceeds `options`' limits (the
/// message gives the size), Y_Err_OutOfMemory when the world cannot be allocated, or
/// the progress record's own code.
int32_t GX_ReadPng(const char* path, int32_t depth, GX_World** world,
                   const GX_PngReadOptions* options = nullptr);

/// As GX_ReadPng, from an open stream positioned at the file's start (left open);
/// `name` only names it in messages.
int32_t GX_ReadPngStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_PngReadOptions* options = nullptr);

/// The message of the last failed PNG call on this thread ("" after a success).
const char* GX_PngLastMessage();
