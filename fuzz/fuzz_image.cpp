// SPDX-License-Identifier: MIT
// libFuzzer targets: clone-image decoding, one per format (KSTROKE_FUZZ_FORMAT names the
// reader: 1 PNG, 2 TIFF, 3 OpenEXR, 4 JPEG, as GX_ImageFormat). Any bytes must either
// decode into a world of the size the header gives, within the reader's limits, or end
// in an image error code with a one-line message; nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/gx/gx_exr.h"
#include "host/gx/gx_jpeg.h"
#include "host/gx/gx_png.h"
#include "host/gx/gx_tiff.h"
#include "host/y/errors.h"

namespace {

using ReadFn = int32_t (*)(std::FILE*, const char*, int32_t, GX_World**,
                           const GX_ImageReadOptions*);

ReadFn Reader() {
  switch (GX_ImageFormat(KSTROKE_FUZZ_FORMAT)) {
    case GX_ImageFormat::kPng: return &GX_ReadPngStream;
    case GX_ImageFormat::kTiff: return &GX_ReadTiffStream;
    case GX_ImageFormat::kExr: return &GX_ReadExrStream;
    default: return &GX_ReadJpegStream;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Smaller limits than the program's, so one input cannot ask for a gigabyte: the
  // checks are the same whatever the numbers.
  GX_ImageReadOptions options;
  options.maxSide = 4096;
  options.maxPixels = int64_t(1) << 20;
  // The input's length picks the world's depth and colour, so every conversion is met.
  const int32_t depths[3] = {8, 16, 32};
  const int32_t depth = depths[size % 3];
  options.colour = (size / 3) % 2 ? GX_ColourEncoding::kLinear : GX_ColourEncoding::kSrgb;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  GX_World* raw = nullptr;
  const int32_t rc = Reader()(file, "fuzz", depth, &raw, &options);
  std::fclose(file);
  std::unique_ptr<GX_World> world(raw);
  if (rc == 0) {
    if (!world || world->Width() > options.maxSide || world->Height() > options.maxSide ||
        int64_t(world->Width()) * world->Height() > options.maxPixels)
      std::abort();
    return 0;
  }
  const char* message = GX_ImageLastMessage();
  if (world || message[0] == 0 || std::strchr(message, '\n')) std::abort();
  if (rc != GX_Err_ImageFormat && rc != GX_Err_ImageTooLarge && rc != Y_Err_OutOfMemory &&
      rc != GX_Err_ImageOpen)
    std::abort();
  return 0;
}
