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
#include <functional>
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

// Rows between the layer and the file ---------------------------------------------------

// Row y of a layer in the file's channel order (RGBA) and byte order.
void PackLayerRow(const GX_LayerDef& layer, int32_t y, unsigned char* out) {
  const int32_t depth = layer.depth;
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

void PackUnoRow(const GX_UnoBuffer& buffer, int32_t y, unsigned char* out) {
  const int32_t depth = buffer.GetDepth();
  for (int32_t x = 0; x < buffer.GetWidth(); ++x) {
    if (depth == 8)
      out[x] = buffer.Row<uint8_t>(y)[x];
    else
      PutBig16(out + 2 * x, depth == 16 ? From16(buffer.Row<uint16_t>(y)[x])
                                        : FromFloat(buffer.Row<float>(y)[x]));
  }
}

// One RGBA row as read (8 bits, or 16 bits big-endian when `wide`) into row y.
void UnpackRow(const unsigned char* in, bool wide, GX_LayerDef* layer, int32_t y) {
  const std::size_t channelBytes = wide ? 2 : 1;
  const uint32_t fileFull = wide ? 65535u : 255u;
  for (int32_t x = 0; x < layer->width; ++x, in += 4 * channelBytes) {
    uint32_t c[4];  // r, g, b, a as read; 0..255 or 0..65535
    for (int i = 0; i < 4; ++i) c[i] = wide ? (uint32_t(in[2 * i]) << 8) | in[2 * i + 1] : in[i];
    void* px = GXp_PixelAddress(*layer, x, y);
    if (layer->depth == 8) {
      auto to8 = [&](uint32_t v) { return uint8_t(wide ? (v * 255u + 32767u) / 65535u : v); };
      *static_cast<GX_Pixel8*>(px) = {to8(c[3]), to8(c[0]), to8(c[1]), to8(c[2])};
    } else if (layer->depth == 16) {
      auto to16 = [&](uint32_t v) { return uint16_t((v * 32768u + fileFull / 2) / fileFull); };
      *static_cast<GX_Pixel16*>(px) = {to16(c[3]), to16(c[0]), to16(c[1]), to16(c[2])};
    } else {
      auto toF = [&](uint32_t v) { return float(v) / float(fileFull); };
      *static_cast<GX_PixelFloat*>(px) = {toF(c[3]), toF(c[0]), toF(c[1]), toF(c[2])};
    }
  }
}

// libpng calls ------------------------------------------------------------------------
// Everything these touch past a longjmp is owned by their caller's job record.

enum Outcome { kDone = 0, kLibpngError, kStopped, kTooLarge, kNoMemory };

struct WriteJob {
  int32_t width = 0, height = 0;
  int bitDepth = 8, colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  std::function<void(int32_t, unsigned char*)> pack;  ///< fills row y in file order
  std::vector<unsigned char> row;
  GX_ProgressInfo* progress = nullptr;
  int32_t stopCode = 0;
  PngError err;
};

int WriteRows(std::FILE* file, WriteJob* job) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &job->err, OnPngError, OnPngWarning);
  if (!png) return kLibpngError;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return kLibpngError;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return kLibpngError;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(job->width), png_uint_32(job->height), job->bitDepth,
               job->colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < job->height; ++y) {
    job->pack(y, job->row.data());
    png_write_row(png, job->row.data());
    if ((job->stopCode = GX_ReportProgress(job->progress, y + 1, job->height)) != 0) {
      png_destroy_write_struct(&png, &info);
      return kStopped;
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return kDone;
}

int32_t WriteStream(std::FILE* file, const char* name, WriteJob* job) {
  const std::size_t channels = job->colorType == PNG_COLOR_TYPE_GRAY ? 1 : 4;
  try {
    job->row.resize(std::size_t(job->width) * channels * std::size_t(job->bitDepth / 8));
  } catch (const std::bad_alloc&) {
    return Fail(Y_Err_OutOfMemory, std::string("out of memory writing '") + name + "'");
  }
  const int outcome = WriteRows(file, job);
  if (outcome == kStopped)
    return Fail(job->stopCode, std::string("writing '") + name + "' was stopped");
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  if (outcome != kDone || !flushed) {
    const std::string why = outcome != kDone ? job->err.text : std::strerror(errno);
    return Fail(GX_Err_PngWrite, std::string("cannot write '") + name + "': " + why);
  }
  return Succeed();
}

int32_t WritePath(const char* path, WriteJob* job) {
  File file(std::fopen(path, "wb"));
  if (!file)
    return Fail(GX_Err_PngOpen, std::string("cannot create '") + path + "': " + std::strerror(errno));
  int32_t rc = WriteStream(file.get(), path, job);
  if (std::fclose(file.release()) != 0 && rc == 0)
    rc = Fail(GX_Err_PngWrite, std::string("cannot write '") + path + "': " + std::strerror(errno));
  if (rc != 0) std::remove(path);
  return rc;
}

WriteJob LayerJob(const GX_LayerDef& layer, GX_ProgressInfo* progress) {
  WriteJob job;
  job.width = layer.width;
  job.height = layer.height;
  job.bitDepth = layer.depth == 8 ? 8 : 16;
  job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  job.pack = [&layer](int32_t y, unsigned char* out) { PackLayerRow(layer, y, out); };
  job.progress = progress;
  return job;
}

int32_t CheckLayer(const char* name, const GX_LayerDef& layer) {
  if (!name || !layer.data || layer.width <= 0 || layer.height <= 0)
    return Fail(GX_Err_BadArgument, std::string("cannot write '") + (name ? name : "(null)") +
                                        "': empty layer");
  if (GXp_WorldDepth(&layer) == 0)
    return Fail(GX_Err_BadDepth, std::string("cannot write '") + name + "': bad layer depth");
  return 0;
}

int32_t OpenForReading(const char* path, File* file) {
  file->reset(std::fopen(path, "rb"));
  if (!*file) return Fail(GX_Err_PngOpen, std::string("cannot open '") + path + "': " + std::strerror(errno));
  return 0;
}

bool OverLimits(const GX_PngReadOptions& o, png_uint_32 width, png_uint_32 height) {
  return (o.maxSide > 0 && (width > png_uint_32(o.maxSide) || height > png_uint_32(o.maxSide))) ||
         (o.maxPixels > 0 && uint64_t(width) * height > uint64_t(o.maxPixels)) ||
         width > png_uint_32(INT32_MAX) || height > png_uint_32(INT32_MAX);
}

struct ReadJob {
  const GX_PngReadOptions* options = nullptr;
  int32_t depth = 8;
  bool headerOnly = false;  ///< only the size is wanted
  png_uint_32 width = 0, height = 0;
  std::unique_ptr<GX_World> world;
  std::vector<unsigned char> pixels;  ///< one row, or the whole image when interlaced
  int32_t stopCode = 0;
  PngError err;
};

// The world and row storage, once the header has passed the limits. No libpng call.
int Prepare(ReadJob* job, std::size_t rowBytes, bool whole) noexcept {
  // The header was checked before libpng saw the file; this is the size it decodes.
  if (OverLimits(*job->options, job->width, job->height)) return kTooLarge;
  try {
    job->world.reset(GX_World::New(int32_t(job->width), int32_t(job->height), job->depth, 0));
    job->pixels.resize(whole ? rowBytes * job->height : rowBytes);
  } catch (...) {
    return kNoMemory;
  }
  return job->world ? kDone : kNoMemory;
}

int ReadRows(std::FILE* file, ReadJob* job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->err, OnPngError, OnPngWarning);
  if (!png) return kNoMemory;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return kNoMemory;
  }
  png_bytepp volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return kLibpngError;
  }
  png_init_io(png, file);
  png_set_sig_bytes(png, 8);
  // libpng's own ceiling stays in force (1,000,000 a side); ours is checked below
  // with a message that gives the size.
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  png_set_expand(png);  // palette → RGB, grey below 8 bits → 8, tRNS → alpha
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !hasTrns)
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  job->width = png_get_image_width(png, info);
  job->height = png_get_image_height(png, info);
  const bool wide = png_get_bit_depth(png, info) == 16;
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != std::size_t(job->width) * 4 * (wide ? 2 : 1))
    png_error(png, "unexpected row layout after expansion");
  const int prepared = Prepare(job, rowBytes, passes > 1);
  if (prepared != kDone) {
    png_destroy_read_struct(&png, &info, nullptr);
    return prepared;
  }
  GX_LayerDef* layer = job->world->GetLayer();
  const int32_t height = int32_t(job->height);
  if (passes > 1) {
    // Every pass revisits every row, so the rows are gathered whole first.
    rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * job->height));
    if (!rows) png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < job->height; ++y) rows[y] = job->pixels.data() + rowBytes * y;
    png_read_image(png, rows);
    std::free(rows);
    rows = nullptr;
  }
  for (int32_t y = 0; y < height; ++y) {
    unsigned char* row = job->pixels.data() + (passes > 1 ? rowBytes * std::size_t(y) : 0);
    if (passes == 1) png_read_row(png, row, nullptr);
    UnpackRow(row, wide, layer, y);
    if ((job->stopCode = GX_ReportProgress(job->options->progress, y + 1, height)) != 0) {
      png_destroy_read_struct(&png, &info, nullptr);
      return kStopped;
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return kDone;
}

// Reads the signature and the size from the header chunk, which a PNG must start with,
// so that limits hold before libpng sets aside anything for the image. The stream is
// left just past the signature, where libpng takes over.
int32_t ReadHead(std::FILE* file, const char* name, png_uint_32* width, png_uint_32* height) {
  unsigned char head[8 + 8 + 8];  // signature; length and type of IHDR; width, height
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (got < 8 || png_sig_cmp(head, 0, 8) != 0)
    return Fail(GX_Err_PngFormat, std::string("'") + name + "' is not a PNG file");
  if (got < sizeof head || std::memcmp(head + 12, "IHDR", 4) != 0)
    return Fail(GX_Err_PngFormat, std::string("cannot read '") + name + "': IHDR: missing");
  const auto be32 = [](const unsigned char* p) {
    return (png_uint_32(p[0]) << 24) | (png_uint_32(p[1]) << 16) | (png_uint_32(p[2]) << 8) | p[3];
  };
  *width = be32(head + 16);
  *height = be32(head + 20);
  if (std::fseek(file, 8, SEEK_SET) != 0)
    return Fail(GX_Err_PngOpen, std::string("cannot read '") + name + "': " + std::strerror(errno));
  return 0;
}

int32_t TooLarge(const char* path, const GX_PngReadOptions& o, png_uint_32 width,
                 png_uint_32 height) {
  std::string limits;
  if (o.maxSide > 0) limits = std::to_string(o.maxSide) + " pixels a side";
  if (o.maxPixels > 0)
    limits += (limits.empty() ? "" : " and ") + std::to_string(o.maxPixels) + " pixels in all";
  return Fail(GX_Err_ImageTooLarge, std::string("'") + path + "' is " + std::to_string(width) +
                                        " × " + std::to_string(height) + " pixels, over the limit of " +
                                        (limits.empty() ? std::string("this platform") : limits));
}

int32_t RunRead(std::FILE* file, const char* path, ReadJob* job) {
  if (int32_t rc = ReadHead(file, path, &job->width, &job->height)) return rc;
  if (OverLimits(*job->options, job->width, job->height))
    return TooLarge(path, *job->options, job->width, job->height);
  if (job->headerOnly) return Succeed();
  switch (ReadRows(file, job)) {
    case kDone: return Succeed();
    case kTooLarge: return TooLarge(path, *job->options, job->width, job->height);
    case kNoMemory: {
      const double bytes = double(job->width) * job->height * GXp_PixelBytes(job->depth);
      char size[32];
      std::snprintf(size, sizeof size, "%.1f MB", bytes / 1e6);
      return Fail(Y_Err_OutOfMemory, std::string("out of memory for '") + path + "' (" +
                                         std::to_string(job->width) + " × " +
                                         std::to_string(job->height) + " pixels, " + size + ")");
    }
    case kStopped:
      return Fail(job->stopCode, std::string("reading '") + path + "' was stopped");
    default:
      return Fail(GX_Err_PngFormat, std::string("cannot read '") + path + "': " + job->err.text);
  }
}

}  // namespace

int32_t GX_WritePng(const char* path, const GX_LayerDef& layer, GX_ProgressInfo* progress) {
  if (int32_t rc = CheckLayer(path, layer)) return rc;
  WriteJob job = LayerJob(layer, progress);
  return WritePath(path, &job);
}

int32_t GX_WritePngStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          GX_ProgressInfo* progress) {
  if (int32_t rc = CheckLayer(name, layer)) return rc;
  if (!file) return Fail(GX_Err_BadArgument, std::string("cannot write '") + name + "': no stream");
  WriteJob job = LayerJob(layer, progress);
  return WriteStream(file, name, &job);
}

int32_t GX_WriteUnoPng(const char* path, const GX_UnoBuffer& buffer) {
  if (!path || buffer.GetWidth() <= 0 || buffer.GetHeight() <= 0)
    return Fail(GX_Err_BadArgument, std::string("cannot write '") + (path ? path : "(null)") +
                                        "': empty buffer");
  WriteJob job;
  job.width = buffer.GetWidth();
  job.height = buffer.GetHeight();
  job.bitDepth = buffer.GetDepth() == 8 ? 8 : 16;
  job.colorType = PNG_COLOR_TYPE_GRAY;
  job.pack = [&buffer](int32_t y, unsigned char* out) { PackUnoRow(buffer, y, out); };
  return WritePath(path, &job);
}

int32_t GX_ReadPngSize(const char* path, int32_t* width, int32_t* height) {
  if (!path || !width || !height) return Fail(GX_Err_BadArgument, "no file or size to read");
  File file;
  if (int32_t rc = OpenForReading(path, &file)) return rc;
  const GX_PngReadOptions none;
  ReadJob job;
  job.options = &none;
  job.headerOnly = true;
  if (int32_t rc = RunRead(file.get(), path, &job)) return rc;
  *width = int32_t(std::min<png_uint_32>(job.width, INT32_MAX));
  *height = int32_t(std::min<png_uint_32>(job.height, INT32_MAX));
  return 0;
}

int32_t GX_ReadPngStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_PngReadOptions* options) {
  if (!world) return Fail(GX_Err_BadArgument, "no world to read into");
  *world = nullptr;
  if (!file || !name) return Fail(GX_Err_BadArgument, "no file to read");
  if (depth != 8 && depth != 16 && depth != 32)
    return Fail(GX_Err_BadDepth, std::string("cannot read '") + name + "' at depth " + std::to_string(depth));
  const GX_PngReadOptions none;
  ReadJob job;
  job.options = options ? options : &none;
  job.depth = depth;
  if (int32_t rc = RunRead(file, name, &job)) return rc;
  *world = job.world.release();
  return 0;
}

int32_t GX_ReadPng(const char* path, int32_t depth, GX_World** world,
                   const GX_PngReadOptions* options) {
  if (!world) return Fail(GX_Err_BadArgument, "no world to read into");
  *world = nullptr;
  if (!path) return Fail(GX_Err_BadArgument, "no file to read");
  if (depth != 8 && depth != 16 && depth != 32)
    return Fail(GX_Err_BadDepth, std::string("cannot read '") + path + "' at depth " + std::to_string(depth));
  File file;
  if (int32_t rc = OpenForReading(path, &file)) return rc;
  return GX_ReadPngStream(file.get(), path, depth, world, options);
}

const char* GX_PngLastMessage() { return tLastMessage.c_str(); }
