// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, OpenEXR files (OpenEXR 3). Colour, limits, progress and messages:
/// host/gx/gx_image.h.
///
/// Layers are written as scan-line RGBA files of half or float channels, ZIP-compressed,
/// linear light with sRGB's (Rec. 709) chromaticities, colour premultiplied by alpha as
/// the format expects. Float samples are written as they are: values above 1 and below
/// 0 survive, and a float layer written as float and read back into a float linear
/// layer is unchanged wherever alpha is 1 (elsewhere within the rounding of one
/// multiplication and division; colour under alpha 0 reads as 0).
///
/// Reading takes the first part of any scan-line or tiled file (level 0 of a mipmapped
/// one): R, G, B and A, each optional (colour 0, alpha 1), or Y as grey when there is no
/// colour channel; other channels are ignored. The data window is the image. Colour is
/// converted from the file's chromaticities when they are not sRGB's. The data window
/// and tile size are read from the header and checked before the library is given the
/// file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

/// Reads an OpenEXR file from an open stream (left open; it must allow seeking) into a
/// new world; arguments and answers as GX_ReadImage.
int32_t GX_ReadExrStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_ImageReadOptions* options = nullptr);

/// Writes a layer as OpenEXR of `options->sample` half or float (default: float for
/// float layers, else half) into an open stream; answers as GX_WriteImageStream.
int32_t GX_WriteExrStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          const GX_ImageWriteOptions* options = nullptr);
