// SPDX-License-Identifier: MIT
// Image files: the table of formats, recognising a file, and handing a read or a write
// to the format's own module.
#include "host/gx/gx_image.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "host/gx/gx_exr.h"
#include "host/gx/gx_jpeg.h"
#include "host/gx/gx_png.h"
#include "host/gx/gx_tiff.h"
#include "host/pixels/gx_image_rows.h"

namespace {

using ReadFn = int32_t (*)(std::FILE*, const char*, int32_t, GX_World**,
                           const GX_ImageReadOptions*);
using WriteFn = int32_t (*)(std::FILE*, const char*, const GX_LayerDef&,
                            const GX_ImageWriteOptions*);

struct Format {
  GX_ImageFormat format;
  const char* name;
  const char* extensions[3];  ///< lower case, with the dot; null-terminated
  ReadFn read;
  WriteFn write;
  GX_SampleType samples[4];   ///< written, kDefault-terminated
  GX_SampleType byDepth[3];   ///< default sample for 8-, 16-bit and float layers
};

constexpr GX_SampleType k8 = GX_SampleType::kUint8, k16 = GX_SampleType::kUint16,
                        kHalf = GX_SampleType::kHalf, kFloat = GX_SampleType::kFloat,
                        kNone = GX_SampleType::kDefault;

const Format kFormats[] = {
    {GX_ImageFormat::kPng, "PNG", {".png"}, &GX_ReadPngStream, &GX_WritePngStream,
     {k8, k16}, {k8, k16, k16}},
    {GX_ImageFormat::kTiff, "TIFF", {".tif", ".tiff"}, &GX_ReadTiffStream, &GX_WriteTiffStream,
     {k8, k16, kFloat}, {k8, k16, kFloat}},
    {GX_ImageFormat::kExr, "OpenEXR", {".exr"}, &GX_ReadExrStream, &GX_WriteExrStream,
     {kHalf, kFloat}, {kHalf, kHalf, kFloat}},
    {GX_ImageFormat::kJpeg, "JPEG", {".jpg", ".jpeg"}, &GX_ReadJpegStream, nullptr,
     {kNone}, {kNone, kNone, kNone}},
};

const Format* Find(GX_ImageFormat format) {
  for (const Format& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

GX_ImageFormat GX_ImageFormatForName(const char* name) {
  if (!name) return GX_ImageFormat::kUnknown;
  const std::string path = name;
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
    return GX_ImageFormat::kUnknown;
  const std::string ext = Lower(path.substr(dot));
  for (const Format& f : kFormats)
    for (const char* e : f.extensions)
      if (e && ext == e) return f.format;
  return GX_ImageFormat::kUnknown;
}

GX_ImageFormat GX_ImageFormatOfBytes(const unsigned char* h, std::size_t size) {
  if (!h || size < 4) return GX_ImageFormat::kUnknown;
  if (h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G') return GX_ImageFormat::kPng;
  if (h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return GX_ImageFormat::kJpeg;
  if (h[0] == 0x76 && h[1] == 0x2F && h[2] == 0x31 && h[3] == 0x01) return GX_ImageFormat::kExr;
  // Classic TIFF (42) and BigTIFF (43), either byte order.
  if ((h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
      (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43)))
    return GX_ImageFormat::kTiff;
  return GX_ImageFormat::kUnknown;
}

const char* GX_ImageFormatName(GX_ImageFormat format) {
  const Format* f = Find(format);
  return f ? f->name : "unknown";
}

const char* GX_SampleTypeName(GX_SampleType sample) {
  switch (sample) {
    case GX_SampleType::kUint8: return "8-bit";
    case GX_SampleType::kUint16: return "16-bit";
    case GX_SampleType::kHalf: return "half";
    case GX_SampleType::kFloat: return "float";
    default: return "default";
  }
}

bool GX_ImageWrites(GX_ImageFormat format, GX_SampleType sample) {
  const Format* f = Find(format);
  if (!f || !f->write) return false;
  if (sample == GX_SampleType::kDefault) return true;
  for (GX_SampleType s : f->samples)
    if (s == sample) return true;
  return false;
}

GX_SampleType GX_ImageDefaultSample(GX_ImageFormat format, int32_t depth) {
  const Format* f = Find(format);
  if (!f) return GX_SampleType::kDefault;
  return f->byDepth[depth == 8 ? 0 : depth == 16 ? 1 : 2];
}

const char* GX_ImageWritableFormats() {
  static const std::string text = [] {
    std::string s;
    for (const Format& f : kFormats) {
      if (!f.write) continue;
      if (!s.empty()) s += ", ";
      s += std::string(f.name) + " (";
      for (const char* e : f.extensions)
        if (e) s += std::string(e == f.extensions[0] ? "" : " or ") + e;
      s += ": ";
      for (const GX_SampleType* t = f.samples; *t != kNone; ++t)
        s += std::string(t == f.samples ? "" : (t[1] == kNone ? " or " : ", ")) +
             GX_SampleTypeName(*t);
      s += ")";
    }
    return s;
  }();
  return text.c_str();
}

int32_t GX_ReadImageStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                           const GX_ImageReadOptions* options) {
  if (int32_t rc = gxp::CheckReadArgs(file, name, depth, world)) return rc;
  unsigned char head[4] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (std::ferror(file) || std::fseek(file, 0, SEEK_SET) != 0)
    return gxp::ImageFail(GX_Err_ImageOpen,
                          std::string("cannot read '") + name + "': " + std::strerror(errno));
  const Format* f = Find(GX_ImageFormatOfBytes(head, got));
  if (!f || !f->read)
    return gxp::ImageFail(GX_Err_ImageFormat,
                          std::string("'") + name + "' is not a PNG, JPEG, TIFF or OpenEXR file");
  return f->read(file, name, depth, world, options);
}

int32_t GX_ReadImage(const char* path, int32_t depth, GX_World** world,
                     const GX_ImageReadOptions* options) {
  if (world) *world = nullptr;
  if (!path) return gxp::ImageFail(GX_Err_BadArgument, "no file to read");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file)
    return gxp::ImageFail(GX_Err_ImageOpen,
                          std::string("cannot open '") + path + "': " + std::strerror(errno));
  return GX_ReadImageStream(file.get(), path, depth, world, options);
}

int32_t GX_WriteImageStream(std::FILE* file, const char* name, GX_ImageFormat format,
                            const GX_LayerDef& layer, const GX_ImageWriteOptions* options) {
  const Format* f = Find(format);
  if (!f || !f->write)
    return gxp::ImageFail(GX_Err_ImageUnsupported,
                          std::string("cannot write '") + (name ? name : "(null)") + "' as " +
                              GX_ImageFormatName(format) + "; writable: " +
                              GX_ImageWritableFormats());
  return f->write(file, name, layer, options);
}

const char* GX_ImageLastMessage() { return gxp::LastImageMessage(); }
