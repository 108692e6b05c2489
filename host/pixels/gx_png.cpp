// SPDX-License-Identifier: MIT
// PNG reading and writing through libpng.
//
// libpng reports errors by longjmp, so the functions that call it keep only plain
// locals, and every buffer they touch is owned by their caller.
#include "host/gx/gx_png.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

thread_local std::string tLastMessage;

int32_t Fail(int32_t code, const std::string& message) {
  tLastMessage = message;
  return code;
}

int32_t Succeed() {
  tLastMessage.clear();
  return 0;
}

struct PngError {
  char text[200] = "";
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* err = static_cast<PngError*>(png_get_error_ptr(png));
  std::snprintf(err->text, sizeof err->text, "%s", message);
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Conversions ------------------------------------------------------------------------

uint16_t From16(uint16_t v) {  // 0..32768 → 0..65535
  const uint32_t c = std::min<uint32_t>(v, 32768);
  return static_cast<uint16_t>((c * 65535u + 16384u) / 32768u);
}
uint16_t FromFloat(float v) {
  if (!(v > 0)) return 0;
  return static_cast<uint16_t>(std::lround(std::min(v, 1.0f) * 65535.0f));
}
void PutBig16(unsigned char* out, uint16_t v) {
  out[0] = static_cast<unsigned char>(v >> 8);
  out[1] = static_cast<unsigned char>(v & 255);
}

// libpng calls ------------------------------------------------------------------------

/// Writes prepared rows (already in the file's byte order). 0 or 1 with err->text set.
int WriteRows(std::FILE* file, int32_t width, int32_t height, int bitDepth, int colorType,
              png_bytepp rows, PngError* err) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, err, OnPngError, OnPngWarning);
  if (!png) return 1;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return 1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 1;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}

struct ReadResult {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 8;
  std::vector<unsigned char>* pixels = nullptr;  ///< RGBA rows, big-endian at 16 bits
};

/// Reads the whole image as RGBA at 8 or 16 bits. 0 or 1 with err->text set.
int ReadRows(std::FILE* file, ReadResult* out, PngError* err) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, err, OnPngError, OnPngWarning);
  if (!png) return 1;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return 1;
  }
  png_bytepp volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  png_init_io(png, file);
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  png_set_expand(png);  // palette → RGB, grey below 8 bits → 8, tRNS → alpha
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !hasTrns)
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->bitDepth = png_get_bit_depth(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != std::size_t(out->width) * 4 * std::size_t(out->bitDepth / 8))
    png_error(png, "unexpected row layout after expansion");
  // Allocation failures inside the jump region are reported through libpng.
  std::vector<unsigned char>& pixels = *out->pixels;
  pixels.resize(rowBytes * out->height);
  rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * std::max<png_uint_32>(out->height, 1)));
  if (!rows) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < out->height; ++y) rows[y] = pixels.data() + rowBytes * y;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

int32_t WriteFile(const char* path, int32_t width, int32_t height, int bitDepth, int colorType,
                  std::vector<std::vector<unsigned char>>& data) {
  std::vector<png_bytep> rows;
  for (auto& r : data) rows.push_back(r.data());
  File file(std::fopen(path, "wb"));
  if (!file)
    return Fail(GX_Err_PngOpen, std::string("cannot create '") + path + "': " + std::strerror(errno));
  PngError err;
  const int bad = WriteRows(file.get(), width, height, bitDepth, colorType, rows.data(), &err);
  const bool closedBad = std::fclose(file.release()) != 0;
  if (bad || closedBad) {
    std::remove(path);
    return Fail(GX_Err_PngWrite, std::string("cannot write '") + path + "': " +
                                     (bad ? err.text : "error closing the file"));
  }
  return Succeed();
}

}  // namespace

int32_t GX_WritePng(const char* path, const GX_LayerDef& layer) {
  if (!path || !layer.data || layer.width <= 0 || layer.height <= 0)
    return Fail(GX_Err_BadArgument, std::string("cannot write '") + (path ? path : "(null)") +
                                        "': empty layer");
  const int32_t depth = GXp_WorldDepth(&layer);
  if (depth == 0) return Fail(GX_Err_BadDepth, std::string("cannot write '") + path + "': bad layer depth");
  const int bitDepth = depth == 8 ? 8 : 16;
  std::vector<std::vector<unsigned char>> data(std::size_t(layer.height));
  for (int32_t y = 0; y < layer.height; ++y) {
    std::vector<unsigned char>& row = data[std::size_t(y)];
    row.resize(std::size_t(layer.width) * 4 * std::size_t(bitDepth / 8));
    unsigned char* out = row.data();
    for (int32_t x = 0; x < layer.width; ++x) {
      const void* px = GXp_PixelAddress(layer, x, y);
      if (depth == 8) {
        const auto* p = static_cast<const GX_Pixel8*>(px);
        *out++ = p->red;
        *out++ = p->green;
        *out++ = p->blue;
        *out++ = p->alpha;
        continue;
      }
      uint16_t c[4];
      if (depth == 16) {
        const auto* p = static_cast<const GX_Pixel16*>(px);
        c[0] = From16(p->red), c[1] = From16(p->green), c[2] = From16(p->blue), c[3] = From16(p->alpha);
      } else {
        const auto* p = static_cast<const GX_PixelFloat*>(px);
        c[0] = FromFloat(p->red), c[1] = FromFloat(p->green), c[2] = FromFloat(p->blue),
        c[3] = FromFloat(p->alpha);
      }
      for (uint16_t v : c) {
        PutBig16(out, v);
        out += 2;
      }
    }
  }
  return WriteFile(path, layer.width, layer.height, bitDepth, PNG_COLOR_TYPE_RGB_ALPHA, data);
}

int32_t GX_WriteUnoPng(const char* path, const GX_UnoBuffer& buffer) {
  if (!path || buffer.GetWidth() <= 0 || buffer.GetHeight() <= 0)
    return Fail(GX_Err_BadArgument, std::string("cannot write '") + (path ? path : "(null)") +
                                        "': empty buffer");
  const int32_t depth = buffer.GetDepth();
  const int bitDepth = depth == 8 ? 8 : 16;
  std::vector<std::vector<unsigned char>> data(std::size_t(buffer.GetHeight()));
  for (int32_t y = 0; y < buffer.GetHeight(); ++y) {
    std::vector<unsigned char>& row = data[std::size_t(y)];
    row.resize(std::size_t(buffer.GetWidth()) * std::size_t(bitDepth / 8));
    for (int32_t x = 0; x < buffer.GetWidth(); ++x) {
      if (depth == 8)
        row[std::size_t(x)] = buffer.Row<uint8_t>(y)[x];
      else
        PutBig16(&row[std::size_t(2 * x)],
                 depth == 16 ? From16(buffer.Row<uint16_t>(y)[x]) : FromFloat(buffer.Row<float>(y)[x]));
    }
  }
  return WriteFile(path, buffer.GetWidth(), buffer.GetHeight(), bitDepth, PNG_COLOR_TYPE_GRAY, data);
}

int32_t GX_ReadPng(const char* path, int32_t depth, GX_World** world) {
  if (!world) return Fail(GX_Err_BadArgument, "no world to read into");
  *world = nullptr;
  if (!path) return Fail(GX_Err_BadArgument, "no file to read");
  if (depth != 8 && depth != 16 && depth != 32)
    return Fail(GX_Err_BadDepth, std::string("cannot read '") + path + "' at depth " + std::to_string(depth));
  File file(std::fopen(path, "rb"));
  if (!file) return Fail(GX_Err_PngOpen, std::string("cannot open '") + path + "': " + std::strerror(errno));
  unsigned char signature[8];
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0)
    return Fail(GX_Err_PngFormat, std::string("'") + path + "' is not a PNG file");

  std::vector<unsigned char> pixels;
  ReadResult r;
  r.pixels = &pixels;
  PngError err;
  if (ReadRows(file.get(), &r, &err) != 0)
    return Fail(GX_Err_PngFormat, std::string("cannot read '") + path + "': " + err.text);

  std::unique_ptr<GX_World> out;
  try {
    out.reset(GX_World::New(int32_t(r.width), int32_t(r.height), depth, 0));
  } catch (const std::bad_alloc&) {
    return Fail(Y_Err_OutOfMemory, std::string("out of memory for '") + path + "'");
  } catch (const std::invalid_argument&) {
    return Fail(GX_Err_PngFormat, std::string("'") + path + "' is too large");
  }
  if (!out) return Fail(Y_Err_OutOfMemory, std::string("out of memory for '") + path + "'");
  const bool wide = r.bitDepth == 16;
  const std::size_t channelBytes = wide ? 2 : 1;
  GX_LayerDef& layer = *out->GetLayer();
  for (int32_t y = 0; y < layer.height; ++y) {
    const unsigned char* in = pixels.data() + std::size_t(y) * std::size_t(r.width) * 4 * channelBytes;
    for (int32_t x = 0; x < layer.width; ++x, in += 4 * channelBytes) {
      uint32_t c[4];  // r, g, b, a as read; 0..255 or 0..65535
      for (int i = 0; i < 4; ++i)
        c[i] = wide ? (uint32_t(in[2 * i]) << 8) | in[2 * i + 1] : in[i];
      const uint32_t fileFull = wide ? 65535u : 255u;
      void* px = GXp_PixelAddress(layer, x, y);
      if (depth == 8) {
        auto to8 = [&](uint32_t v) { return uint8_t(wide ? (v * 255u + 32767u) / 65535u : v); };
        *static_cast<GX_Pixel8*>(px) = {to8(c[3]), to8(c[0]), to8(c[1]), to8(c[2])};
      } else if (depth == 16) {
        auto to16 = [&](uint32_t v) { return uint16_t((v * 32768u + fileFull / 2) / fileFull); };
        *static_cast<GX_Pixel16*>(px) = {to16(c[3]), to16(c[0]), to16(c[1]), to16(c[2])};
      } else {
        auto toF = [&](uint32_t v) { return float(v) / float(fileFull); };
        *static_cast<GX_PixelFloat*>(px) = {toF(c[3]), toF(c[0]), toF(c[1]), toF(c[2])};
      }
    }
  }
  *world = out.release();
  return Succeed();
}

const char* GX_PngLastMessage() { return tLastMessage.c_str(); }
