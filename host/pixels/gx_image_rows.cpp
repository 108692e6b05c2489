// SPDX-License-Identifier: MIT
// Shared parts of the image readers and writers: messages, checks, colour conversion
// (sRGB curve through GX_LinearBlendingTables, profiles through Little CMS) and row
// conversion between files and layers.
#include "host/pixels/gx_image_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/gx/gx_pixel_traits.h"
#include "host/gx/gx_transfer.h"

namespace gxp {

namespace {

thread_local std::string tLastMessage;

std::string SizeText(uint64_t width, uint64_t height) {
  return std::to_string(width) + " × " + std::to_string(height) + " pixels";
}

// Unit fractions to file samples: rounded to nearest, clamped, NaN as 0.
uint8_t ToU8(float v) { return v > 0.0f ? (v < 1.0f ? uint8_t(v * 255.0f + 0.5f) : 255) : 0; }
uint16_t ToU16(float v) {
  return v > 0.0f ? (v < 1.0f ? uint16_t(std::lround(v * 65535.0f)) : 65535) : 0;
}

// A linear-light profile with sRGB's primaries and white.
cmsHPROFILE LinearSrgbProfile() {
  const cmsCIExyY white{kSrgbPrimaries[0], kSrgbPrimaries[1], 1.0};
  const cmsCIExyYTRIPLE rgb{{kSrgbPrimaries[2], kSrgbPrimaries[3], 1.0},
                            {kSrgbPrimaries[4], kSrgbPrimaries[5], 1.0},
                            {kSrgbPrimaries[6], kSrgbPrimaries[7], 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  if (!linear) return nullptr;
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &rgb, curves);
  cmsFreeToneCurve(linear);
  return p;
}

cmsHPROFILE EncodingProfileHandle(GX_ColourEncoding e) {
  return e == GX_ColourEncoding::kLinear ? LinearSrgbProfile() : cmsCreate_sRGBProfile();
}

// A profile for a file's primaries and curve (no ICC profile of its own).
cmsHPROFILE PrimariesProfile(const FileColour& c) {
  const double* p = c.primaries;
  const cmsCIExyY white{p[0], p[1], 1.0};
  const cmsCIExyYTRIPLE rgb{{p[2], p[3], 1.0}, {p[4], p[5], 1.0}, {p[6], p[7], 1.0}};
  cmsToneCurve* curve = nullptr;
  if (c.gamma > 0) {
    curve = cmsBuildGamma(nullptr, c.gamma);
  } else if (c.encoding == GX_ColourEncoding::kLinear) {
    curve = cmsBuildGamma(nullptr, 1.0);
  } else {
    // IEC 61966-2-1: Y = ((X + 0.055) / 1.055)^2.4 above 0.04045, X / 12.92 below.
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  }
  if (!curve) return nullptr;
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &rgb, curves);
  cmsFreeToneCurve(curve);
  return profile;
}

struct ProfileCloser {
  cmsHPROFILE p;
  ~ProfileCloser() {
    if (p) cmsCloseProfile(p);
  }
};

// The encoding a profile amounts to, when it is sRGB's primaries (or grey) with the sRGB
// curve or a linear one, as the profiles this library writes and the common sRGB
// profiles are: such files then take the exact paths. `*encoding` is set on true.
bool SameAsEncoding(cmsHPROFILE p, bool rgb, GX_ColourEncoding* encoding) {
  if (!cmsIsMatrixShaper(p)) return false;
  if (rgb) {
    ProfileCloser srgb{cmsCreate_sRGBProfile()};
    if (!srgb.p) return false;
    for (cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
      const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, tag));
      const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.p, tag));
      if (!a || !b || std::fabs(a->X - b->X) > 1e-3 || std::fabs(a->Y - b->Y) > 1e-3 ||
          std::fabs(a->Z - b->Z) > 1e-3)
        return false;
    }
  }
  const std::initializer_list<cmsTagSignature> rgbCurves = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                                            cmsSigBlueTRCTag};
  const std::initializer_list<cmsTagSignature> greyCurve = {cmsSigGrayTRCTag};
  const GX_LinearBlendingTables& t = GX_LinearBlendingTables::Srgb();
  bool srgbCurve = true, linearCurve = true;
  for (cmsTagSignature tag : rgb ? rgbCurves : greyCurve) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, tag));
    if (!curve) return false;
    for (int i = 0; i <= 32; ++i) {
      const float v = float(i) / 32.0f;
      const float y = cmsEvalToneCurveFloat(curve, v);
      srgbCurve = srgbCurve && std::fabs(y - t.ToLinear(v)) < 2e-4f;
      linearCurve = linearCurve && std::fabs(y - v) < 2e-4f;
    }
  }
  if (!srgbCurve && !linearCurve) return false;
  *encoding = srgbCurve ? GX_ColourEncoding::kSrgb : GX_ColourEncoding::kLinear;
  return true;
}

float PowerMirrored(float v, double exponent) {
  return v < 0.0f ? -float(std::pow(-double(v), exponent)) : float(std::pow(double(v), exponent));
}

}  // namespace

// Messages and checks
// ====

int32_t ImageFail(int32_t code, const std::string& message) {
  tLastMessage = message;
  return code;
}

int32_t ImageSucceed() {
  tLastMessage.clear();
  return 0;
}

const char* LastImageMessage() { return tLastMessage.c_str(); }

int32_t CheckReadArgs(std::FILE* file, const char* name, int32_t depth, GX_World** world) {
  if (!world) return ImageFail(GX_Err_BadArgument, "no world to read into");
  *world = nullptr;
  if (!file || !name) return ImageFail(GX_Err_BadArgument, "no file to read");
  if (depth != 8 && depth != 16 && depth != 32)
    return ImageFail(GX_Err_BadDepth,
                     std::string("cannot read '") + name + "' at depth " + std::to_string(depth));
  return 0;
}

int32_t CheckWriteArgs(const char* name, const GX_LayerDef& layer, GX_ImageFormat format,
                       const GX_ImageWriteOptions& options, GX_SampleType* sample) {
  if (!name || !layer.data || layer.width <= 0 || layer.height <= 0)
    return ImageFail(GX_Err_BadArgument,
                     std::string("cannot write '") + (name ? name : "(null)") + "': empty layer");
  if (GXp_WorldDepth(&layer) == 0)
    return ImageFail(GX_Err_BadDepth, std::string("cannot write '") + name + "': bad layer depth");
  *sample = options.sample == GX_SampleType::kDefault ? GX_ImageDefaultSample(format, layer.depth)
                                                      : options.sample;
  if (!GX_ImageWrites(format, *sample))
    return ImageFail(GX_Err_ImageUnsupported,
                     std::string("cannot write '") + name + "' as " + GX_ImageFormatName(format) +
                         " of " + GX_SampleTypeName(*sample) +
                         " samples; writable: " + GX_ImageWritableFormats());
  return 0;
}

int32_t StartRead(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                  const GX_ImageReadOptions* options, const GX_ImageReadOptions** used) {
  static const GX_ImageReadOptions kDefaults;
  *used = options ? options : &kDefaults;
  return CheckReadArgs(file, name, depth, world);
}

int32_t StartWrite(std::FILE* file, const char* name, const GX_LayerDef& layer,
                   GX_ImageFormat format, const GX_ImageWriteOptions* options,
                   const GX_ImageWriteOptions** used, GX_SampleType* sample) {
  static const GX_ImageWriteOptions kDefaults;
  *used = options ? options : &kDefaults;
  if (int32_t rc = CheckWriteArgs(name, layer, format, **used, sample)) return rc;
  if (!file)
    return ImageFail(GX_Err_BadArgument, std::string("cannot write '") + name + "': no stream");
  return 0;
}

int32_t NoMemoryWriting(const char* name) {
  return ImageFail(Y_Err_OutOfMemory, std::string("out of memory writing '") + name + "'");
}

bool OverLimits(const GX_ImageReadOptions& o, uint64_t width, uint64_t height) {
  // Sides are below 2^31 first, so their product cannot overflow.
  if (width > uint64_t(INT32_MAX) || height > uint64_t(INT32_MAX)) return true;
  return (o.maxSide > 0 && (width > uint64_t(o.maxSide) || height > uint64_t(o.maxSide))) ||
         (o.maxPixels > 0 && width * height > uint64_t(o.maxPixels));
}

int32_t TooLarge(const char* name, const GX_ImageReadOptions& o, uint64_t width, uint64_t height) {
  std::string limits;
  if (o.maxSide > 0) limits = std::to_string(o.maxSide) + " pixels a side";
  if (o.maxPixels > 0)
    limits += (limits.empty() ? "" : " and ") + std::to_string(o.maxPixels) + " pixels in all";
  return ImageFail(GX_Err_ImageTooLarge,
                   std::string("'") + name + "' is " + SizeText(width, height) +
                       ", over the limit of " +
                       (limits.empty() ? std::string("this platform") : limits));
}

int32_t NoMemoryFor(const char* name, uint64_t width, uint64_t height, int32_t depth) {
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB",
                double(width) * double(height) * GXp_PixelBytes(depth) / 1e6);
  return ImageFail(Y_Err_OutOfMemory, std::string("out of memory for '") + name + "' (" +
                                          SizeText(width, height) + ", " + size + ")");
}

int32_t CorruptFile(const char* name, const std::string& why) {
  return ImageFail(GX_Err_ImageFormat, std::string("cannot read '") + name + "': " + OneLine(why));
}

int32_t Stopped(const char* name, bool reading, int32_t code) {
  return ImageFail(code, std::string(reading ? "reading '" : "writing '") + name + "' was stopped");
}

GX_World* NewWorldOrNull(uint64_t width, uint64_t height, int32_t depth) noexcept {
  try {
    return GX_World::New(int32_t(width), int32_t(height), depth, 0);
  } catch (...) {
    return nullptr;
  }
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (out.size() >= 120) {
      out += "…";
      break;
    }
    out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Colour
// ====

const double kSrgbPrimaries[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};

bool IsSrgbPrimaries(const double xy[8]) {
  for (int i = 0; i < 8; ++i)
    if (!(std::fabs(xy[i] - kSrgbPrimaries[i]) <= 0.001)) return false;
  return true;
}

ColourConverter::ColourConverter(const FileColour& from, GX_ColourEncoding to) : target(to) {
  GX_ColourEncoding fromEncoding = from.encoding;
  if (!from.profile.empty() || (from.hasPrimaries && !IsSrgbPrimaries(from.primaries))) {
    ProfileCloser source{
        from.profile.empty()
            ? PrimariesProfile(from)
            : cmsOpenProfileFromMem(from.profile.data(), cmsUInt32Number(from.profile.size()))};
    ProfileCloser dest{EncodingProfileHandle(to)};
    // The colour space from the profile's header (bytes 16 to 19), read here: a
    // damaged profile may hold any value there, which no enumeration names.
    const auto* head = from.profile.data();
    const bool rgb = from.profile.empty() ||
                     (from.profile.size() >= 20 && std::memcmp(head + 16, "RGB ", 4) == 0);
    const bool grey = from.profile.size() >= 20 && std::memcmp(head + 16, "GRAY", 4) == 0;
    if (source.p && !from.profile.empty() && (rgb || grey) &&
        SameAsEncoding(source.p, rgb, &fromEncoding)) {
      if (fromEncoding != to) kind = to == GX_ColourEncoding::kLinear ? kToLinear : kToSrgb;
      return;
    }
    if (source.p && dest.p && (rgb || grey)) {
      // Rows are RGBA; a grey profile reads red and leaves green, blue and alpha as
      // extra channels, which the transform writes over or (alpha) leaves alone.
      const cmsUInt32Number greyFormat =
          FLOAT_SH(1) | COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(4);
      transform = cmsCreateTransform(source.p, rgb ? TYPE_RGBA_FLT : greyFormat, dest.p,
                                     TYPE_RGBA_FLT, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    }
    if (transform) {
      kind = kProfile;
      return;
    }
  }
  if (from.gamma > 0) {
    kind = kPower;
    exponent = from.gamma;
  } else if (fromEncoding != to) {
    kind = to == GX_ColourEncoding::kLinear ? kToLinear : kToSrgb;
  }
}

ColourConverter::~ColourConverter() {
  if (transform) cmsDeleteTransform(transform);
}

void ColourConverter::Apply(float* rgba, int32_t count) const {
  const GX_LinearBlendingTables& t = GX_LinearBlendingTables::Srgb();
  switch (kind) {
    case kIdentity: return;
    case kProfile: cmsDoTransform(transform, rgba, rgba, cmsUInt32Number(count)); return;
    case kToLinear:
      for (int32_t i = 0; i < count; ++i, rgba += 4)
        for (int c = 0; c < 3; ++c) rgba[c] = t.ToLinear(rgba[c]);
      return;
    case kToSrgb:
      for (int32_t i = 0; i < count; ++i, rgba += 4)
        for (int c = 0; c < 3; ++c) rgba[c] = t.FromLinear(rgba[c]);
      return;
    case kPower:
      for (int32_t i = 0; i < count; ++i, rgba += 4)
        for (int c = 0; c < 3; ++c) {
          const float linear = PowerMirrored(rgba[c], exponent);
          rgba[c] = target == GX_ColourEncoding::kLinear ? linear : t.FromLinear(linear);
        }
      return;
  }
}

std::vector<unsigned char> EncodingProfile(GX_ColourEncoding encoding) {
  ProfileCloser p{EncodingProfileHandle(encoding)};
  std::vector<unsigned char> bytes;
  cmsUInt32Number size = 0;
  if (!p.p || !cmsSaveProfileToMem(p.p, nullptr, &size) || size == 0) return bytes;
  bytes.resize(size);
  if (!cmsSaveProfileToMem(p.p, bytes.data(), &size)) bytes.clear();
  return bytes;
}

// Rows
// ====

RowDecoder::RowDecoder(FileSample sample_, bool premultiplied_, const FileColour& from,
                       GX_ColourEncoding to, int32_t width)
    : sample(sample_),
      premultiplied(premultiplied_),
      convert(from, to),
      unit(std::size_t(width) * 4) {}

int32_t RowDecoder::Store(const void* row, GX_LayerDef* layer, int32_t y,
                          GX_ProgressInfo* progress) {
  Convert(row, layer, y);
  return GX_ReportProgress(progress, y + 1, layer->height);
}

void RowDecoder::Convert(const void* row, GX_LayerDef* layer, int32_t y) {
  const int32_t width = layer->width;
  const int32_t depth = layer->depth;
  if (!premultiplied && convert.Identity() && sample != FileSample::kFloat) {
    // Integer to integer in the same colour: exact rescaling, rounded to nearest.
    const bool wide = sample == FileSample::kU16;
    const uint32_t full = wide ? 65535u : 255u;
    const auto* in8 = static_cast<const uint8_t*>(row);
    const auto* in16 = static_cast<const uint16_t*>(row);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t c[4];  // r, g, b, a
      for (int i = 0; i < 4; ++i) c[i] = wide ? in16[4 * x + i] : in8[4 * x + i];
      void* px = GXp_PixelAddress(*layer, x, y);
      if (depth == 8) {
        auto to8 = [&](uint32_t v) { return uint8_t(wide ? (v * 255u + 32767u) / 65535u : v); };
        *static_cast<GX_Pixel8*>(px) = {to8(c[3]), to8(c[0]), to8(c[1]), to8(c[2])};
      } else if (depth == 16) {
        auto to16 = [&](uint32_t v) { return uint16_t((v * 32768u + full / 2) / full); };
        *static_cast<GX_Pixel16*>(px) = {to16(c[3]), to16(c[0]), to16(c[1]), to16(c[2])};
      } else {
        auto toF = [&](uint32_t v) { return float(v) / float(full); };
        *static_cast<GX_PixelFloat*>(px) = {toF(c[3]), toF(c[0]), toF(c[1]), toF(c[2])};
      }
    }
    return;
  }
  float* u = unit.data();
  const std::size_t n = std::size_t(width) * 4;
  if (sample == FileSample::kU8) {
    for (std::size_t i = 0; i < n; ++i) u[i] = float(static_cast<const uint8_t*>(row)[i]) / 255.0f;
  } else if (sample == FileSample::kU16) {
    for (std::size_t i = 0; i < n; ++i)
      u[i] = float(static_cast<const uint16_t*>(row)[i]) / 65535.0f;
  } else {
    std::memcpy(u, row, n * sizeof(float));
  }
  if (premultiplied)
    for (std::size_t i = 0; i < n; i += 4)
      if (u[i + 3] != 0.0f)
        for (int c = 0; c < 3; ++c) u[i + c] /= u[i + 3];
  convert.Apply(u, width);
  for (int32_t x = 0; x < width; ++x, u += 4) {
    void* px = GXp_PixelAddress(*layer, x, y);
    if (depth == 8) {
      *static_cast<GX_Pixel8*>(px) = {GXp_Px8::FromUnit(u[3]), GXp_Px8::FromUnit(u[0]),
                                      GXp_Px8::FromUnit(u[1]), GXp_Px8::FromUnit(u[2])};
    } else if (depth == 16) {
      *static_cast<GX_Pixel16*>(px) = {GXp_Px16::FromUnit(u[3]), GXp_Px16::FromUnit(u[0]),
                                       GXp_Px16::FromUnit(u[1]), GXp_Px16::FromUnit(u[2])};
    } else {
      *static_cast<GX_PixelFloat*>(px) = {u[3], u[0], u[1], u[2]};
    }
  }
}

RowEncoder::RowEncoder(const GX_LayerDef& layer_, GX_ColourEncoding from, FileSample sample_,
                       GX_ColourEncoding fileEncoding, bool premultiply_)
    : layer(layer_),
      sample(sample_),
      premultiply(premultiply_),
      convert(FileColour::Of(from), fileEncoding),
      unit(std::size_t(layer_.width) * 4) {}

void RowEncoder::Load(int32_t y, void* out) {
  const int32_t width = layer.width;
  const int32_t depth = layer.depth;
  auto* out8 = static_cast<uint8_t*>(out);
  auto* out16 = static_cast<uint16_t*>(out);
  if (!premultiply && convert.Identity() && sample != FileSample::kFloat && depth != 32) {
    // Integer to integer in the same colour: exact rescaling, rounded to nearest.
    for (int32_t x = 0; x < width; ++x) {
      const void* px = GXp_PixelAddress(layer, x, y);
      uint32_t c[4];  // r, g, b, a at the layer's depth
      if (depth == 8) {
        const auto* p = static_cast<const GX_Pixel8*>(px);
        c[0] = p->red, c[1] = p->green, c[2] = p->blue, c[3] = p->alpha;
      } else {
        const auto* p = static_cast<const GX_Pixel16*>(px);
        c[0] = p->red, c[1] = p->green, c[2] = p->blue, c[3] = p->alpha;
      }
      for (int i = 0; i < 4; ++i) {
        if (depth == 8 && sample == FileSample::kU8) {
          out8[4 * x + i] = uint8_t(c[i]);
        } else if (depth == 8) {
          out16[4 * x + i] = uint16_t(c[i] * 257u);
        } else {
          const uint32_t v = std::min<uint32_t>(c[i], 32768u);
          if (sample == FileSample::kU8)
            out8[4 * x + i] = uint8_t((v * 255u + 16384u) / 32768u);
          else
            out16[4 * x + i] = uint16_t((v * 65535u + 16384u) / 32768u);
        }
      }
    }
    return;
  }
  float* u = unit.data();
  for (int32_t x = 0; x < width; ++x) {
    const void* px = GXp_PixelAddress(layer, x, y);
    float* o = u + 4 * x;
    if (depth == 8) {
      const auto* p = static_cast<const GX_Pixel8*>(px);
      o[0] = GXp_Px8::ToUnit(p->red), o[1] = GXp_Px8::ToUnit(p->green);
      o[2] = GXp_Px8::ToUnit(p->blue), o[3] = GXp_Px8::ToUnit(p->alpha);
    } else if (depth == 16) {
      const auto* p = static_cast<const GX_Pixel16*>(px);
      o[0] = GXp_Px16::ToUnit(p->red), o[1] = GXp_Px16::ToUnit(p->green);
      o[2] = GXp_Px16::ToUnit(p->blue), o[3] = GXp_Px16::ToUnit(p->alpha);
    } else {
      const auto* p = static_cast<const GX_PixelFloat*>(px);
      o[0] = p->red, o[1] = p->green, o[2] = p->blue, o[3] = p->alpha;
    }
  }
  convert.Apply(u, width);
  const std::size_t n = std::size_t(width) * 4;
  if (premultiply)
    for (std::size_t i = 0; i < n; i += 4)
      for (int c = 0; c < 3; ++c) u[i + c] *= u[i + 3];
  if (sample == FileSample::kU8) {
    for (std::size_t i = 0; i < n; ++i) out8[i] = ToU8(u[i]);
  } else if (sample == FileSample::kU16) {
    for (std::size_t i = 0; i < n; ++i) out16[i] = ToU16(u[i]);
  } else {
    std::memcpy(out, u, n * sizeof(float));
  }
}

}  // namespace gxp
