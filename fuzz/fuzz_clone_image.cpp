// SPDX-License-Identifier: MIT
// libFuzzer target: clone-image decoding. Any bytes must either decode into a world of
// the size the header gives, within the reader's limits, or end in a PNG error code
// with a message; nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/gx/gx_png.h"
#include "host/y/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Smaller limits than the program's, so one input cannot ask for a gigabyte: the
  // checks are the same whatever the numbers.
  GX_ImageReadOptions options;
  options.maxSide = 4096;
  options.maxPixels = int64_t(1) << 20;
  const int32_t depths[3] = {8, 16, 32};
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  GX_World* raw = nullptr;
  const int32_t depth = depths[size % 3];
  const int32_t rc = GX_ReadPngStream(file, "fuzz.png", depth, &raw, &options);
  std::fclose(file);
  std::unique_ptr<GX_World> world(raw);
  if (rc == 0) {
    if (!world || world->Width() > options.maxSide || world->Height() > options.maxSide ||
        int64_t(world->Width()) * world->Height() > options.maxPixels)
      std::abort();
    return 0;
  }
  if (world || GX_PngLastMessage()[0] == 0) std::abort();
  if (rc != GX_Err_ImageFormat && rc != GX_Err_ImageTooLarge && rc != Y_Err_OutOfMemory &&
      rc != GX_Err_ImageOpen)
    std::abort();
  return 0;
}
