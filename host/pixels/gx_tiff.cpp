// SPDX-License-Identifier: MIT
// TIFF reading and writing through libtiff, on the caller's stdio stream.
//
// libtiff reads the first image directory as it opens a file; its allocations are
// capped (kMaxAlloc) so a directory that claims huge tables fails there, and the image
// size it gives is checked against the reader's limits before any pixel is decoded.
// Layouts the direct path knows (see the header) are decoded a scan line, or a row of
// tiles, at a time; the rest go through libtiff's RGBA interface a strip at a time.
#include "host/gx/gx_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "host/pixels/gx_image_rows.h"

namespace {

using gxp::FileSample;
using gxp::ImageFail;

/// Largest single allocation libtiff or this reader makes for one file.
constexpr tmsize_t kMaxAlloc = tmsize_t(256) << 20;

// libtiff on the caller's FILE*
// ====

std::FILE* AsFile(thandle_t h) { return static_cast<std::FILE*>(h); }

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
  return n < 0 ? -1 : tmsize_t(std::fread(buf, 1, std::size_t(n), AsFile(h)));
}
tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t n) {
  return n < 0 ? -1 : tmsize_t(std::fwrite(buf, 1, std::size_t(n), AsFile(h)));
}
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  if (off > toff_t(INT64_MAX) || fseeko(AsFile(h), off_t(off), whence) != 0) return toff_t(-1);
  return toff_t(ftello(AsFile(h)));
}
int CloseProc(thandle_t) { return 0; }  // the caller owns the stream
toff_t SizeProc(thandle_t h) {
  std::FILE* f = AsFile(h);
  const off_t at = ftello(f);
  if (at < 0 || fseeko(f, 0, SEEK_END) != 0) return 0;
  const off_t end = ftello(f);
  return fseeko(f, at, SEEK_SET) == 0 && end > 0 ? toff_t(end) : 0;
}
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

struct Errors {
  std::string first;  ///< the first error libtiff reported for this file
};

int OnError(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
  auto* e = static_cast<Errors*>(user);
  if (e->first.empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    std::string what = text;
    // libtiff names the file in its text; the caller's message names it already.
    const std::string file = tif ? std::string(TIFFFileName(tif)) + ": " : std::string();
    if (!file.empty() && what.compare(0, file.size(), file) == 0) what.erase(0, file.size());
    const bool named = module && *module && file.compare(0, file.size() - 2, module) != 0;
    e->first = (named ? std::string(module) + ": " : std::string()) + what;
  }
  return 1;  // handled: nothing reaches the global handler
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

Tiff Open(std::FILE* file, const char* name, const char* mode, Errors* errors) {
  // Errors raised where no file is known go to the global handlers, which would print
  // to stderr: they are silenced once, and every open brings its own.
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, errors);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, nullptr);
  Tiff tif(TIFFClientOpenExt(name, mode, file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                             MapProc, UnmapProc, opts));
  TIFFOpenOptionsFree(opts);
  return tif;
}

// Reading
// ====

struct Layout {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG;
  int colours = 1;          ///< 1 grey, 3 RGB
  bool alpha = false;       ///< the first extra sample is alpha
  bool associated = false;  ///< ... premultiplied
  bool direct = false;      ///< read at its own precision (see the header)
};

Layout LayoutOf(TIFF* tif) {
  Layout l;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
    l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  l.colours = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
  uint16_t extraCount = 0;
  uint16_t* extra = nullptr;
  if (l.samples > l.colours) {
    l.alpha = true;  // an unspecified extra sample is taken as straight alpha
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0)
      l.associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
  }
  const bool known = (l.bits == 8 || l.bits == 16)
                         ? l.format == SAMPLEFORMAT_UINT
                         : l.bits == 32 && l.format == SAMPLEFORMAT_IEEEFP;
  const bool photometric = l.photometric == PHOTOMETRIC_MINISBLACK ||
                           l.photometric == PHOTOMETRIC_MINISWHITE ||
                           l.photometric == PHOTOMETRIC_RGB;
  l.direct = known && photometric && l.planar == PLANARCONFIG_CONTIG && l.samples >= l.colours;
  return l;
}

gxp::FileColour ColourOf(TIFF* tif, const Layout& l) {
  gxp::FileColour c =
      gxp::FileColour::Of(l.direct && l.format == SAMPLEFORMAT_IEEEFP ? GX_ColourEncoding::kLinear
                                                                      : GX_ColourEncoding::kSrgb);
  uint32_t size = 0;
  void* data = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &data) && data && size > 0) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    c.profile.assign(bytes, bytes + size);
  }
  return c;
}

// One pixel row as the file holds it (`samples` per pixel) into RGBA of the same type.
template <class T>
void ToRgba(const T* in, const Layout& l, uint32_t width, T full, T* out) {
  for (uint32_t x = 0; x < width; ++x, in += l.samples, out += 4) {
    if (l.colours == 3) {
      out[0] = in[0], out[1] = in[1], out[2] = in[2];
    } else {
      const T v = l.photometric == PHOTOMETRIC_MINISWHITE ? T(full - in[0]) : in[0];
      out[0] = out[1] = out[2] = v;
    }
    out[3] = l.alpha ? in[l.colours] : full;
  }
}

void RowToRgba(const unsigned char* in, const Layout& l, uint32_t width, void* out) {
  if (l.bits == 8)
    ToRgba<uint8_t>(in, l, width, 255, static_cast<uint8_t*>(out));
  else if (l.bits == 16)
    ToRgba<uint16_t>(reinterpret_cast<const uint16_t*>(in), l, width, 65535,
                     static_cast<uint16_t*>(out));
  else
    ToRgba<float>(reinterpret_cast<const float*>(in), l, width, 1.0f, static_cast<float*>(out));
}

struct ReadState {
  const char* name;
  const GX_ImageReadOptions* options;
  GX_World* world;
  std::optional<gxp::RowDecoder> decoder;
  std::vector<unsigned char> rgba;  ///< one decoded row, RGBA
  Errors* errors;
};

int32_t Failed(const ReadState& s, const char* what) {
  return gxp::CorruptFile(s.name, s.errors->first.empty() ? std::string(what) : s.errors->first);
}

// Hands row y, in s->rgba, to the decoder, which reports it.
int32_t StoreRow(ReadState* s, uint32_t y) {
  if (int32_t rc =
          s->decoder->Store(s->rgba.data(), s->world->GetLayer(), int32_t(y), s->options->progress))
    return gxp::Stopped(s->name, true, rc);
  return 0;
}

int32_t ReadDirect(TIFF* tif, const Layout& l, ReadState* s) {
  const std::size_t pixelBytes = std::size_t(l.samples) * (l.bits / 8);
  const std::size_t rowBytes = pixelBytes * l.width;
  if (!TIFFIsTiled(tif)) {
    if (tmsize_t(rowBytes) > kMaxAlloc || TIFFScanlineSize64(tif) != uint64_t(rowBytes))
      return Failed(*s, "unexpected scan line size");
    std::vector<unsigned char> line(rowBytes);
    for (uint32_t y = 0; y < l.height; ++y) {
      if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return Failed(*s, "damaged scan line");
      RowToRgba(line.data(), l, l.width, s->rgba.data());
      if (int32_t rc = StoreRow(s, y)) return rc;
    }
    return 0;
  }
  uint32_t tileW = 0, tileH = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
  const uint64_t tileBytes = TIFFTileSize64(tif);
  const uint64_t bandRows = std::min<uint64_t>(tileH, l.height);
  if (tileW == 0 || tileH == 0 || tileBytes != uint64_t(tileW) * tileH * pixelBytes ||
      tileBytes > uint64_t(kMaxAlloc) || bandRows * rowBytes > uint64_t(kMaxAlloc))
    return Failed(*s, "unexpected tile size");
  std::vector<unsigned char> tile(tileBytes), band(std::size_t(bandRows) * rowBytes);
  for (uint32_t top = 0; top < l.height; top += tileH) {
    const uint32_t rows = std::min(tileH, l.height - top);
    for (uint32_t left = 0; left < l.width; left += tileW) {
      if (TIFFReadTile(tif, tile.data(), left, top, 0, 0) < 0) return Failed(*s, "damaged tile");
      const uint32_t cols = std::min(tileW, l.width - left);
      for (uint32_t r = 0; r < rows; ++r)
        std::memcpy(&band[r * rowBytes + left * pixelBytes], &tile[r * tileW * pixelBytes],
                    cols * pixelBytes);
    }
    for (uint32_t r = 0; r < rows; ++r) {
      RowToRgba(&band[r * rowBytes], l, l.width, s->rgba.data());
      if (int32_t rc = StoreRow(s, top + r)) return rc;
    }
  }
  return 0;
}

// Everything else, at 8 bits through libtiff's RGBA interface, whose pixels are
// premultiplied whenever there is alpha.
int32_t ReadRgba(TIFF* tif, const Layout& l, ReadState* s) {
  char why[1024] = "";
  if (!TIFFRGBAImageOK(tif, why)) return gxp::CorruptFile(s->name, why);
  TIFFRGBAImage img;
  if (!TIFFRGBAImageBegin(&img, tif, 1, why)) return gxp::CorruptFile(s->name, why);
  struct End {
    TIFFRGBAImage* img;
    ~End() { TIFFRGBAImageEnd(img); }
  } end{&img};
  img.req_orientation = ORIENTATION_TOPLEFT;
  uint32_t band = 0;
  if (TIFFIsTiled(tif))
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
  else
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
  band = std::max<uint32_t>(1, std::min(band, l.height));
  if (uint64_t(band) * l.width * 4 > uint64_t(kMaxAlloc))
    return gxp::CorruptFile(s->name,
                            "strips of " + std::to_string(band) + " rows are too large to decode");
  std::vector<uint32_t> raster(std::size_t(band) * l.width);
  s->decoder.reset();
  s->decoder.emplace(FileSample::kU8, img.alpha != 0, ColourOf(tif, l), s->options->colour,
                     int32_t(l.width));
  for (uint32_t top = 0; top < l.height; top += band) {
    const uint32_t rows = std::min(band, l.height - top);
    img.row_offset = int(top);
    img.col_offset = 0;
    if (!TIFFRGBAImageGet(&img, raster.data(), l.width, rows)) return Failed(*s, "damaged strip");
    for (uint32_t r = 0; r < rows; ++r) {
      // Each value packs r, g, b, a from the low byte up, whatever the byte order.
      const uint32_t* in = &raster[std::size_t(r) * l.width];
      std::vector<unsigned char>& row = s->rgba;
      for (uint32_t x = 0; x < l.width; ++x) {
        row[4 * x] = uint8_t(TIFFGetR(in[x]));
        row[4 * x + 1] = uint8_t(TIFFGetG(in[x]));
        row[4 * x + 2] = uint8_t(TIFFGetB(in[x]));
        row[4 * x + 3] = uint8_t(TIFFGetA(in[x]));
      }
      if (int32_t rc = StoreRow(s, top + r)) return rc;
    }
  }
  return 0;
}

}  // namespace

int32_t GX_ReadTiffStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                          const GX_ImageReadOptions* options) {
  const GX_ImageReadOptions* used;
  if (int32_t rc = gxp::StartRead(file, name, depth, world, options, &used)) return rc;
  const GX_ImageReadOptions& o = *used;
  Errors errors;
  Tiff tif = Open(file, name, "rm", &errors);
  if (!tif) return gxp::CorruptFile(name, errors.first.empty() ? "not a TIFF file" : errors.first);
  const Layout l = LayoutOf(tif.get());
  if (l.width == 0 || l.height == 0) return gxp::CorruptFile(name, "no image size");
  if (gxp::OverLimits(o, l.width, l.height)) return gxp::TooLarge(name, o, l.width, l.height);
  std::unique_ptr<GX_World> result(gxp::NewWorldOrNull(l.width, l.height, depth));
  ReadState s{name, &o, result.get(), std::nullopt, {}, &errors};
  try {
    if (!result) throw std::bad_alloc();
    const FileSample sample = l.bits == 8    ? FileSample::kU8
                              : l.bits == 16 ? FileSample::kU16
                                             : FileSample::kFloat;
    s.rgba.resize(std::size_t(l.width) * 4 * (l.direct ? l.bits / 8 : 1));
    if (l.direct)
      s.decoder.emplace(sample, l.alpha && l.associated, ColourOf(tif.get(), l), o.colour,
                        int32_t(l.width));
    if (int32_t rc = l.direct ? ReadDirect(tif.get(), l, &s) : ReadRgba(tif.get(), l, &s))
      return rc;
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryFor(name, l.width, l.height, depth);
  }
  *world = result.release();
  return gxp::ImageSucceed();
}

int32_t GX_WriteTiffStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                           const GX_ImageWriteOptions* options) {
  const GX_ImageWriteOptions* used;
  GX_SampleType sample;
  if (int32_t rc =
          gxp::StartWrite(file, name, layer, GX_ImageFormat::kTiff, options, &used, &sample))
    return rc;
  const GX_ImageWriteOptions& o = *used;
  const bool isFloat = sample == GX_SampleType::kFloat;
  const uint16_t bits = isFloat ? 32 : sample == GX_SampleType::kUint16 ? 16 : 8;
  const GX_ColourEncoding fileColour =
      isFloat ? GX_ColourEncoding::kLinear : GX_ColourEncoding::kSrgb;
  std::vector<unsigned char> row;
  std::optional<gxp::RowEncoder> encoder;
  std::vector<unsigned char> profile;
  try {
    row.resize(std::size_t(layer.width) * 4 * (bits / 8));
    encoder.emplace(layer, o.colour,
                    isFloat      ? FileSample::kFloat
                    : bits == 16 ? FileSample::kU16
                                 : FileSample::kU8,
                    fileColour, false);
    profile = gxp::EncodingProfile(fileColour);
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryWriting(name);
  }
  Errors errors;
  auto fail = [&](const char* what) {
    return ImageFail(GX_Err_ImageWrite,
                     std::string("cannot write '") + name +
                         "': " + gxp::OneLine(errors.first.empty() ? what : errors.first));
  };
  Tiff tif = Open(file, name, "w", &errors);
  if (!tif) return fail("cannot start the file");
  const uint16_t alpha[1] = {EXTRASAMPLE_UNASSALPHA};
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(layer.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(layer.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), alpha);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_PREDICTOR, isFloat ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  if (!profile.empty())
    TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.data());
  for (int32_t y = 0; y < layer.height; ++y) {
    encoder->Load(y, row.data());
    if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) return fail("a scan line failed");
    if (int32_t rc = GX_ReportProgress(o.progress, y + 1, layer.height))
      return gxp::Stopped(name, false, rc);
  }
  if (!TIFFFlush(t)) return fail("the directory failed");
  tif.reset();
  if (std::fflush(file) != 0 || std::ferror(file)) return fail(std::strerror(errno));
  return gxp::ImageSucceed();
}
