// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, PNG files (libpng): layers and single-channel buffers out,
/// worlds in. Colour, limits, progress and messages: host/gx/gx_image.h.
///
/// Layers are written as RGBA, 8 bits per channel or 16, sRGB-encoded and tagged so
/// (sRGB chunk, with the gAMA and cHRM chunks that stand for it); channels are straight,
/// as stored. Value scaling between full values (255, 32768, 1.0) and the file's (255,
/// 65535) rounds to nearest; float is clamped to 0..1 (NaN as 0).
///
/// Reading takes the file's colour from, in this order: an iCCP profile; the sRGB
/// chunk; gAMA (a value within 1 % of 1/2.2 counts as sRGB, 1.0 as linear, anything
/// else as that power law) with cHRM's primaries; nothing, which means sRGB. Rows are
/// read one at a time straight into the world (an interlaced file, whose passes revisit
/// every row, is read whole first).
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

/// Writes a 4-channel layer (depth 8, 16 or 32) as an RGBA PNG of `options->sample`
/// 8 or 16 (default: 8 for 8-bit layers, else 16). GX_Err_BadArgument for a null path
/// or pixels or an empty layer, GX_Err_BadDepth for another depth,
/// GX_Err_ImageUnsupported for another sample type, GX_Err_ImageOpen / GX_Err_ImageWrite
/// when the file cannot be made (a partly written file is removed).
int32_t GX_WritePng(const char* path, const GX_LayerDef& layer,
                    const GX_ImageWriteOptions* options = nullptr);

/// As GX_WritePng, into an open stream (left open, flushed, its write errors checked;
/// no seeking, so a pipe will do): `name` only names it in messages. Whoever opened the
/// stream removes what a failed call left in it.
int32_t GX_WritePngStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          const GX_ImageWriteOptions* options = nullptr);

/// Writes a single-channel buffer as a grey PNG: 8-bit buffers as 8-bit grey, 16-bit
/// (0..32768) and float (0..1) buffers as 16-bit grey. Masks, not colour: untagged.
int32_t GX_WriteUnoPng(const char* path, const GX_UnoBuffer& buffer);

/// The size a PNG file's header gives, without reading its pixels. GX_Err_ImageOpen,
/// GX_Err_ImageFormat as GX_ReadPng.
int32_t GX_ReadPngSize(const char* path, int32_t* width, int32_t* height);

/// Reads any PNG (grey, palette, RGB, with or without alpha, 1..16 bits) into a new
/// world; arguments and answers as GX_ReadImage (host/gx/gx_image.h).
int32_t GX_ReadPng(const char* path, int32_t depth, GX_World** world,
                   const GX_ImageReadOptions* options = nullptr);

/// As GX_ReadPng, from an open stream positioned at the file's start (left open);
/// `name` only names it in messages.
int32_t GX_ReadPngStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_ImageReadOptions* options = nullptr);

/// The message of the last failed image call on this thread ("" after a success);
/// the same as GX_ImageLastMessage().
const char* GX_PngLastMessage();
