// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, image files: which format a file is, and reading and writing every
/// supported format through that format's own library (gx_png.h, gx_tiff.h, gx_exr.h,
/// gx_jpeg.h hold the per-format calls).
///
/// Formats. PNG (libpng) reads and writes 8 and 16 bits; TIFF (libtiff) 8 and 16 bits
/// and 32-bit float; OpenEXR (OpenEXR 3) half and float; JPEG (libjpeg-turbo) is read
/// only. A file to read is recognised by its first bytes, whatever its name; a file to
/// write takes the format its name's extension gives.
///
/// Colour. A layer's colour channels are either sRGB-encoded or linear light
/// (GX_ColourEncoding); alpha is always linear coverage and layers are never
/// premultiplied. Files are written in their format's own colour and tagged with it:
/// PNG and integer TIFF sRGB-encoded (PNG with its sRGB chunk, TIFF with an sRGB ICC
/// profile), float TIFF and OpenEXR linear light with sRGB primaries (TIFF with a
/// linear ICC profile, OpenEXR with its chromaticities), OpenEXR premultiplied as the
/// format expects. Files are read from the colour they are tagged with (an ICC profile,
/// PNG's sRGB, gAMA and cHRM chunks, OpenEXR chromaticities) into the layer's encoding;
/// an untagged file is taken to be in its format's own colour. Conversions between
/// sRGB and linear use GX_LinearBlendingTables::Srgb(), profiles go through Little CMS.
///
/// Every call answers 0 or a GX_Err_* code, and GX_ImageLastMessage() then holds a
/// one-line description naming the file. Readers check the size a file's header gives
/// against their limits before they set aside memory for pixels, then decode row by row
/// straight into the new world (formats whose layout forbids it keep one band of rows,
/// such as a row of tiles). Readers and writers report (row, height) once per row to a
/// progress record where one is given; a non-zero answer stops the call, which answers
/// that code and leaves no world.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/gx/gx.h"

/// What a layer's colour values mean.
enum class GX_ColourEncoding : int32_t {
  kSrgb = 0,    ///< sRGB-encoded (IEC 61966-2-1), as 8- and 16-bit images usually are
  kLinear = 1,  ///< linear light with sRGB primaries
};

/// An image file format; kUnknown for none recognised.
enum class GX_ImageFormat : int32_t { kUnknown = 0, kPng = 1, kTiff = 2, kExr = 3, kJpeg = 4 };

/// Sample type of a written file.
enum class GX_SampleType : int32_t {
  kDefault = 0,  ///< the format's choice for the layer's depth (GX_ImageDefaultSample)
  kUint8 = 8,
  kUint16 = 16,
  kHalf = 17,   ///< 16-bit float
  kFloat = 32,  ///< 32-bit float
};

/// What a reader refuses before it allocates: images wider or taller than `maxSide`,
/// or of more than `maxPixels` pixels (0: no limit of that kind), so a small file that
/// claims a huge image costs nothing. `progress` may be null. `colour` is the encoding
/// of the new world: the file's values are converted into it.
struct GX_ImageReadOptions {
  int32_t maxSide = 0;                  ///< widest and tallest image accepted; 0: any
  int64_t maxPixels = 0;                ///< most pixels (width × height) accepted; 0: any
  GX_ProgressInfo* progress = nullptr;  ///< per-row reports and cancellation; not owned
  GX_ColourEncoding colour = GX_ColourEncoding::kSrgb;  ///< encoding of the new world
};

/// How a layer is written: `colour` is the layer's encoding (the writer converts to the
/// file's), `sample` the file's sample type. `progress` may be null.
struct GX_ImageWriteOptions {
  GX_SampleType sample = GX_SampleType::kDefault;       ///< the file's sample type
  GX_ColourEncoding colour = GX_ColourEncoding::kSrgb;  ///< the layer's encoding
  GX_ProgressInfo* progress = nullptr;                  ///< per-row reports; not owned
};

/// The format a file name's extension gives (.png; .tif, .tiff; .exr; .jpg, .jpeg;
/// any case), or kUnknown.
GX_ImageFormat GX_ImageFormatForName(const char* name);
/// The format whose signature starts `head` (`size` bytes; 4 are enough), or kUnknown.
GX_ImageFormat GX_ImageFormatOfBytes(const unsigned char* head, std::size_t size);
/// "PNG", "TIFF", "OpenEXR", "JPEG"; "unknown".
const char* GX_ImageFormatName(GX_ImageFormat format);
/// "8-bit", "16-bit", "half", "float"; "default" for kDefault or any other value.
const char* GX_SampleTypeName(GX_SampleType sample);

/// Whether `format` writes files of `sample` (kDefault: whether it writes at all).
bool GX_ImageWrites(GX_ImageFormat format, GX_SampleType sample);
/// The sample type `format` writes for a layer of `depth` when none is asked for: PNG
/// 8 bits for 8-bit layers, else 16; TIFF 8, 16 or float as the layer; OpenEXR float for
/// float layers, else half. kDefault for a format that does not write.
GX_SampleType GX_ImageDefaultSample(GX_ImageFormat format, int32_t depth);
/// What can be written, for messages: "PNG (.png: 8-bit or 16-bit), TIFF (...), ...".
const char* GX_ImageWritableFormats();

/// Reads an image of any supported format into a new world of `depth` 8, 16 or 32
/// (float) that the caller owns. Channels a file lacks read as opaque alpha, and grey
/// as equal red, green and blue. On failure `*world` is null: GX_Err_BadDepth for
/// another depth, GX_Err_ImageOpen when the file cannot be opened or read,
/// GX_Err_ImageFormat when it is no supported format or is corrupt, GX_Err_ImageTooLarge
/// when its header exceeds `options`' limits (the message gives the size),
/// Y_Err_OutOfMemory when the world cannot be allocated, or the progress record's own
/// code.
int32_t GX_ReadImage(const char* path, int32_t depth, GX_World** world,
                     const GX_ImageReadOptions* options = nullptr);
/// As GX_ReadImage, from an open stream positioned at the file's start (left open; it
/// must allow seeking); `name` only names it in messages.
int32_t GX_ReadImageStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                           const GX_ImageReadOptions* options = nullptr);

/// Writes a 4-channel layer (depth 8, 16 or 32) in `format` into an open stream (left
/// open, flushed, its write errors checked; OpenEXR and TIFF seek in it, so it must be
/// a file); `name` only names it in messages, and whoever opened the stream removes
/// what a failed call left in it. GX_Err_BadArgument for a null stream or name or an
/// empty layer, GX_Err_BadDepth for another depth, GX_Err_ImageUnsupported for a format
/// or sample type that cannot be written (the message lists what can),
/// GX_Err_ImageWrite when writing fails, or the progress record's own code.
int32_t GX_WriteImageStream(std::FILE* file, const char* name, GX_ImageFormat format,
                            const GX_LayerDef& layer,
                            const GX_ImageWriteOptions* options = nullptr);

/// The message of the last failed image call on this thread ("" after a success).
const char* GX_ImageLastMessage();
