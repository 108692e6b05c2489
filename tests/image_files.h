// SPDX-License-Identifier: MIT
// Image files made by a format's own library, as another program would hand them to
// the readers: JPEG, which the program only reads.
#pragma once

#include <stdio.h>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

/// A JPEG of `width` × `height` pixels of `components` samples in `space`; `row(y, out)`
/// fills row y. `icc`, when given, is embedded as the file's profile.
inline std::string MakeJpeg(int width, int height, J_COLOR_SPACE space, int components,
                            const std::function<void(int, uint8_t*)>& row, int quality = 100,
                            bool progressive = false,
                            const std::vector<unsigned char>* icc = nullptr) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  if (icc) jpeg_write_icc_profile(&c, icc->data(), unsigned(icc->size()));
  std::vector<uint8_t> line(std::size_t(width) * std::size_t(components));
  while (c.next_scanline < c.image_height) {
    row(int(c.next_scanline), line.data());
    JSAMPROW r = line.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  std::free(mem);
  return out;
}
