// SPDX-License-Identifier: MIT
// Canvas pixels as the page draws them: 8-bit sRGB RGBA with straight alpha, behind the
// 32-byte header of app/studio/session.h.
//
// An 8-bit sRGB canvas goes out as it is (its bytes only reordered), so the page shows
// exactly what a PNG of it holds. A 16-bit one is rounded to 8 bits (full 32768 → 255);
// a linear canvas (float, or one asked for) is encoded to sRGB, clamped to 0..1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/gx/gx.h"
#include "host/inkwork/inkwork.h"
#include "kstroke/kstroke.hpp"

/// Bytes of one pixel of `depth` (4, 8, 16).
std::size_t PixelBytes(kstroke::Depth depth);

/// The header and the pixels of `rect` (clipped to the canvas; empty is a header alone).
std::string EncodePicture(uint32_t kind, uint32_t a, uint32_t b, const kstroke::Rect& rect,
                          float milliseconds, const kstroke::Canvas& canvas);

/// Pixels of `rect` of `canvas` into `rgba` (4 bytes a pixel, rows packed).
void DisplayPixels(const kstroke::Canvas& canvas, const kstroke::Rect& rect, uint8_t* rgba);

/// The brush cursor: kind 4, its centre (`centreX`, `centreY`) as left and top.
std::string EncodeCursor(const kelvo::inkwork::Image& outline, float centreX, float centreY,
                         float milliseconds);

/// Copies `world` (of the canvas's size and depth) into `canvas`.
void CopyWorld(const GX_World& world, kstroke::Canvas* canvas);
