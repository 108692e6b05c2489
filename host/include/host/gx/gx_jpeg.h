// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, JPEG files (libjpeg-turbo), read only. Colour, limits, progress
/// and messages: host/gx/gx_image.h.
///
/// Grey, YCbCr and RGB files read as RGB, opaque; CMYK and YCCK files are converted
/// without a profile: inks count as stored inverted (255: no ink) when the file has an
/// APP14 marker, as plain otherwise, and each colour is (1 − ink) × (1 − black). Colour
/// comes from an embedded ICC profile (APP2), else sRGB (CMYK files: always sRGB).
/// Baseline files are decoded a row at a time; progressive ones are held by the library
/// as coefficients while their scans arrive (at most 1000 scans, so a hostile file
/// cannot make decoding endless). Data cut short or corrupt is an error, not grey.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

/// Reads a JPEG file from an open stream (left open) into a new world; arguments and
/// answers as GX_ReadImage.
int32_t GX_ReadJpegStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                          const GX_ImageReadOptions* options = nullptr);
