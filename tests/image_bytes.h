// SPDX-License-Identifier: MIT
// Image files built by hand, byte by byte: headers that claim an image size and hold no
// pixels, for readers that must refuse a size before they decode anything.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace image_bytes {

inline void Le(std::string* s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s->push_back(char((v >> (8 * i)) & 255));
}
inline void Be(std::string* s, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) s->push_back(char((v >> (8 * i)) & 255));
}

/// Signature, an RGBA IHDR of the size, IEND.
inline std::string PngClaiming(uint32_t width, uint32_t height) {
  std::string ihdr = "IHDR";
  Be(&ihdr, width, 4);
  Be(&ihdr, height, 4);
  ihdr += std::string("\x08\x06\x00\x00\x00", 5);
  std::string png("\x89PNG\r\n\x1A\n", 8);
  Be(&png, 13, 4);
  png += ihdr;
  Be(&png, crc32(0, reinterpret_cast<const Bytef*>(ihdr.data()), uInt(ihdr.size())), 4);
  Be(&png, 0, 4);
  png += "IEND";
  Be(&png, 0xAE426082, 4);
  return png;
}

/// A little-endian TIFF whose one directory describes an 8-bit grey image of the size
/// in one uncompressed strip, with no pixel data.
inline std::string TiffClaiming(uint32_t width, uint32_t height) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };  // count 1; SHORT 3, LONG 4
  const Entry entries[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},
                           {259, 3, 1},     {262, 3, 1},      {273, 4, 8},
                           {277, 3, 1},     {278, 4, height}, {279, 4, width * height}};
  std::string tiff = "II";
  Le(&tiff, 42, 2);
  Le(&tiff, 8, 4);
  Le(&tiff, sizeof entries / sizeof entries[0], 2);
  for (const Entry& e : entries) {
    Le(&tiff, e.tag, 2);
    Le(&tiff, e.type, 2);
    Le(&tiff, 1, 4);
    Le(&tiff, e.value, 4);
  }
  Le(&tiff, 0, 4);
  return tiff;
}

/// Magic, version 2, a dataWindow of the size, the header's end.
inline std::string ExrClaiming(int32_t width, int32_t height) {
  std::string exr("\x76\x2f\x31\x01\x02\x00\x00\x00", 8);
  exr += std::string("dataWindow\0box2i\0", 17);
  Le(&exr, 16, 4);
  for (int32_t v : {0, 0, width - 1, height - 1}) Le(&exr, uint32_t(v), 4);
  exr.push_back('\0');
  return exr;
}

/// SOI, a baseline frame header of three components at the size, a scan header.
inline std::string JpegClaiming(uint16_t width, uint16_t height) {
  std::string jpg("\xFF\xD8\xFF\xC0\x00\x11\x08", 7);
  Be(&jpg, height, 2);
  Be(&jpg, width, 2);
  jpg += std::string("\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00", 10);
  jpg += std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00", 14);
  return jpg;
}

}  // namespace image_bytes
