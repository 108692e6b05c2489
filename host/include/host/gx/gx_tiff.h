// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, TIFF files (libtiff). Colour, limits, progress and messages:
/// host/gx/gx_image.h.
///
/// Layers are written as RGBA with unassociated (straight) alpha, Deflate-compressed
/// with a predictor, one strip per few rows: 8- and 16-bit files sRGB-encoded, float
/// files linear light, each with the ICC profile that says so.
///
/// Reading: grey, grey with alpha, RGB and RGBA images of 8 or 16 bits or 32-bit float,
/// interleaved, in strips or tiles, are read at their own precision, a row (or a row of
/// tiles) at a time; associated alpha is divided out. Every other kind libtiff decodes
/// (palette, 1 to 4 bits, separate planes, YCbCr, CMYK, JPEG-compressed, ...) is read
/// through libtiff's RGBA interface at 8 bits, a strip at a time. Colour comes from an
/// embedded ICC profile; without one, integer files are taken as sRGB and float files
/// as linear light. Only the first image of a file is read.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

/// Reads a TIFF file from an open stream (left open; it must allow seeking) into a new
/// world; arguments and answers as GX_ReadImage.
int32_t GX_ReadTiffStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                          const GX_ImageReadOptions* options = nullptr);

/// Writes a layer as TIFF of `options->sample` 8, 16 or float (default: as the layer)
/// into an open stream; answers as GX_WriteImageStream.
int32_t GX_WriteTiffStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                           const GX_ImageWriteOptions* options = nullptr);
