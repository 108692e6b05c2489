// SPDX-License-Identifier: MIT
// PNG reading and writing through libpng.
//
// libpng reports errors by longjmp, so the functions that call it keep only plain
// locals, and every buffer and converter they touch is owned by their caller's job.
#include "host/gx/gx_png.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "host/pixels/gx_image_rows.h"

namespace {

using gxp::FileSample;
using gxp::ImageFail;
using gxp::ImageSucceed;

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

// 16-bit rows are kept in the machine's byte order; libpng swaps them to the file's.
bool LittleEndian() {
  const uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

void PackUnoRow(const GX_UnoBuffer& buffer, int32_t y, unsigned char* out) {
  const int32_t depth = buffer.GetDepth();
  auto* out16 = reinterpret_cast<uint16_t*>(out);
  for (int32_t x = 0; x < buffer.GetWidth(); ++x) {
    if (depth == 8) {
      out[x] = buffer.Row<uint8_t>(y)[x];
    } else if (depth == 16) {
      const uint32_t c = std::min<uint32_t>(buffer.Row<uint16_t>(y)[x], 32768u);
      out16[x] = uint16_t((c * 65535u + 16384u) / 32768u);
    } else {
      const float v = buffer.Row<float>(y)[x];
      out16[x] = v > 0.0f ? (v < 1.0f ? uint16_t(std::lround(v * 65535.0f)) : 65535) : 0;
    }
  }
}

// libpng calls ------------------------------------------------------------------------
// Everything these touch past a longjmp is owned by their caller's job record.

enum Outcome { kDone = 0, kLibpngError, kStopped, kTooLarge, kNoMemory };

struct WriteJob {
  int32_t width = 0, height = 0;
  int bitDepth = 8, colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  bool srgb = false;                                  ///< tag the file as sRGB
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
  if (job->srgb) png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_write_info(png, info);
  if (job->bitDepth == 16 && LittleEndian()) png_set_swap(png);
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
    return gxp::NoMemoryWriting(name);
  }
  const int outcome = WriteRows(file, job);
  if (outcome == kStopped) return gxp::Stopped(name, false, job->stopCode);
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  if (outcome != kDone || !flushed) {
    const std::string why = outcome != kDone ? job->err.text : std::strerror(errno);
    return ImageFail(GX_Err_ImageWrite, std::string("cannot write '") + name + "': " + why);
  }
  return ImageSucceed();
}

int32_t WritePath(const char* path, const std::function<int32_t(std::FILE*)>& write) {
  File file(std::fopen(path, "wb"));
  if (!file)
    return ImageFail(GX_Err_ImageOpen,
                     std::string("cannot create '") + path + "': " + std::strerror(errno));
  int32_t rc = write(file.get());
  if (std::fclose(file.release()) != 0 && rc == 0)
    rc = ImageFail(GX_Err_ImageWrite,
                   std::string("cannot write '") + path + "': " + std::strerror(errno));
  if (rc != 0) std::remove(path);
  return rc;
}

int32_t OpenForReading(const char* path, File* file) {
  file->reset(std::fopen(path, "rb"));
  if (!*file)
    return ImageFail(GX_Err_ImageOpen,
                     std::string("cannot open '") + path + "': " + std::strerror(errno));
  return 0;
}

struct ReadJob {
  const GX_ImageReadOptions* options = nullptr;
  int32_t depth = 8;
  bool headerOnly = false;  ///< only the size is wanted
  png_uint_32 width = 0, height = 0;
  gxp::FileColour colour;
  std::unique_ptr<GX_World> world;
  std::optional<gxp::RowDecoder> decoder;
  std::vector<unsigned char> pixels;  ///< one row, or the whole image when interlaced
  int32_t stopCode = 0;
  PngError err;
};

// The file's colour from its chunks (see the header for the order). No libpng error
// can come from these queries.
gxp::FileColour ColourOf(png_structp png, png_infop info) {
  gxp::FileColour c;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
    c.profile.assign(profile, profile + length);
    return c;
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) return c;
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) {
    // gAMA holds the encoding exponent × 100000: stored = linear^(gamma / 100000).
    if (gamma == 100000)
      c.encoding = GX_ColourEncoding::kLinear;
    else if (std::abs(gamma - 45455) > 455)
      c.gamma = 100000.0 / double(gamma);
  }
  double xy[8];
  if (png_get_cHRM(png, info, &xy[0], &xy[1], &xy[2], &xy[3], &xy[4], &xy[5], &xy[6], &xy[7]) &&
      !gxp::IsSrgbPrimaries(xy)) {
    c.hasPrimaries = true;
    std::memcpy(c.primaries, xy, sizeof xy);
  }
  return c;
}

// The world, row storage and converter, once the header has passed the limits. No
// libpng call.
int Prepare(ReadJob* job, std::size_t rowBytes, bool whole, bool wide) noexcept {
  // The header was checked before libpng saw the file; this is the size it decodes.
  if (gxp::OverLimits(*job->options, job->width, job->height)) return kTooLarge;
  try {
    job->world.reset(gxp::NewWorldOrNull(job->width, job->height, job->depth));
    if (!job->world) return kNoMemory;
    job->pixels.resize(whole ? rowBytes * job->height : rowBytes);
    job->decoder.emplace(wide ? FileSample::kU16 : FileSample::kU8, false, job->colour,
                         job->options->colour, int32_t(job->width));
  } catch (...) {
    return kNoMemory;
  }
  return kDone;
}

int ReadRows(std::FILE* file, ReadJob* job) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->err, OnPngError, OnPngWarning);
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
  if (LittleEndian()) png_set_swap(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  job->width = png_get_image_width(png, info);
  job->height = png_get_image_height(png, info);
  job->colour = ColourOf(png, info);
  const bool wide = png_get_bit_depth(png, info) == 16;
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != std::size_t(job->width) * 4 * (wide ? 2 : 1))
    png_error(png, "unexpected row layout after expansion");
  const int prepared = Prepare(job, rowBytes, passes > 1, wide);
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
    if ((job->stopCode = job->decoder->Store(row, layer, y, job->options->progress)) != 0) {
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
    return ImageFail(GX_Err_ImageFormat, std::string("'") + name + "' is not a PNG file");
  if (got < sizeof head || std::memcmp(head + 12, "IHDR", 4) != 0)
    return ImageFail(GX_Err_ImageFormat, std::string("cannot read '") + name + "': IHDR: missing");
  const auto be32 = [](const unsigned char* p) {
    return (png_uint_32(p[0]) << 24) | (png_uint_32(p[1]) << 16) | (png_uint_32(p[2]) << 8) | p[3];
  };
  *width = be32(head + 16);
  *height = be32(head + 20);
  if (std::fseek(file, 8, SEEK_SET) != 0)
    return ImageFail(GX_Err_ImageOpen,
                     std::string("cannot read '") + name + "': " + std::strerror(errno));
  return 0;
}

int32_t RunRead(std::FILE* file, const char* path, ReadJob* job) {
  if (int32_t rc = ReadHead(file, path, &job->width, &job->height)) return rc;
  if (gxp::OverLimits(*job->options, job->width, job->height))
    return gxp::TooLarge(path, *job->options, job->width, job->height);
  if (job->headerOnly) return ImageSucceed();
  switch (ReadRows(file, job)) {
    case kDone: return ImageSucceed();
    case kTooLarge: return gxp::TooLarge(path, *job->options, job->width, job->height);
    case kNoMemory: return gxp::NoMemoryFor(path, job->width, job->height, job->depth);
    case kStopped: return gxp::Stopped(path, true, job->stopCode);
    default: return gxp::CorruptFile(path, job->err.text);
  }
}

}  // namespace

int32_t GX_WritePngStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          const GX_ImageWriteOptions* options) {
  const GX_ImageWriteOptions* used;
  GX_SampleType sample;
  if (int32_t rc =
          gxp::StartWrite(file, name, layer, GX_ImageFormat::kPng, options, &used, &sample))
    return rc;
  const GX_ImageWriteOptions& o = *used;
  const bool wide = sample == GX_SampleType::kUint16;
  std::optional<gxp::RowEncoder> encoder;
  try {
    encoder.emplace(layer, o.colour, wide ? FileSample::kU16 : FileSample::kU8,
                    GX_ColourEncoding::kSrgb, false);
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryWriting(name);
  }
  WriteJob job;
  job.width = layer.width;
  job.height = layer.height;
  job.bitDepth = wide ? 16 : 8;
  job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  job.srgb = true;
  job.pack = [&encoder](int32_t y, unsigned char* out) { encoder->Load(y, out); };
  job.progress = o.progress;
  return WriteStream(file, name, &job);
}

int32_t GX_WritePng(const char* path, const GX_LayerDef& layer,
                    const GX_ImageWriteOptions* options) {
  // Checked before the file is made, so a bad call leaves an existing file alone.
  GX_SampleType sample;
  const GX_ImageWriteOptions defaults;
  if (int32_t rc = gxp::CheckWriteArgs(path, layer, GX_ImageFormat::kPng,
                                       options ? *options : defaults, &sample))
    return rc;
  return WritePath(path, [&](std::FILE* f) { return GX_WritePngStream(f, path, layer, options); });
}

int32_t GX_WriteUnoPng(const char* path, const GX_UnoBuffer& buffer) {
  if (!path || buffer.GetWidth() <= 0 || buffer.GetHeight() <= 0)
    return ImageFail(GX_Err_BadArgument,
                     std::string("cannot write '") + (path ? path : "(null)") + "': empty buffer");
  WriteJob job;
  job.width = buffer.GetWidth();
  job.height = buffer.GetHeight();
  job.bitDepth = buffer.GetDepth() == 8 ? 8 : 16;
  job.colorType = PNG_COLOR_TYPE_GRAY;
  job.pack = [&buffer](int32_t y, unsigned char* out) { PackUnoRow(buffer, y, out); };
  return WritePath(path, [&](std::FILE* f) { return WriteStream(f, path, &job); });
}

int32_t GX_ReadPngSize(const char* path, int32_t* width, int32_t* height) {
  if (!path || !width || !height) return ImageFail(GX_Err_BadArgument, "no file or size to read");
  File file;
  if (int32_t rc = OpenForReading(path, &file)) return rc;
  const GX_ImageReadOptions none;
  ReadJob job;
  job.options = &none;
  job.headerOnly = true;
  if (int32_t rc = RunRead(file.get(), path, &job)) return rc;
  *width = int32_t(std::min<png_uint_32>(job.width, INT32_MAX));
  *height = int32_t(std::min<png_uint_32>(job.height, INT32_MAX));
  return 0;
}

int32_t GX_ReadPngStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_ImageReadOptions* options) {
  ReadJob job;
  if (int32_t rc = gxp::StartRead(file, name, depth, world, options, &job.options)) return rc;
  job.depth = depth;
  if (int32_t rc = RunRead(file, name, &job)) return rc;
  *world = job.world.release();
  return 0;
}

int32_t GX_ReadPng(const char* path, int32_t depth, GX_World** world,
                   const GX_ImageReadOptions* options) {
  if (world) *world = nullptr;
  if (!path) return gxp::CheckReadArgs(nullptr, nullptr, depth, world);
  File file;
  if (int32_t rc = OpenForReading(path, &file)) return rc;
  return GX_ReadPngStream(file.get(), path, depth, world, options);
}

const char* GX_PngLastMessage() { return gxp::LastImageMessage(); }
