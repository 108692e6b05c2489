// SPDX-License-Identifier: MIT
// Image files of every format: round trips at each depth and sample type, the colour
// files are written in and read from, the layouts each reader meets, and damaged files.
//
// Files this reader did not write are made here with each format's own library, and
// written files are inspected with it, so a fault shared by our reader and writer
// cannot pass unseen. Expected colour values come from the sRGB curve's formula, not
// from the tables under test.
#include "host/gx/gx_image.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfTiledOutputFile.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "golden_support.h"
#include "host/gx/gx_exr.h"
#include "host/gx/gx_jpeg.h"
#include "host/gx/gx_pixel_traits.h"
#include "host/gx/gx_png.h"
#include "host/gx/gx_tiff.h"
#include "image_bytes.h"
#include "image_files.h"
#include "gx_test_support.h"

namespace {

namespace fs = std::filesystem;
using Enc = GX_ColourEncoding;

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double LinearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

/// Channel c (0 alpha, 1 red, 2 green, 3 blue) of pixel (x, y) as a unit value.
double At(const GX_World& w, int x, int y, int c) { return GoldenChannel(*w.GetLayer(), x, y, c); }

void Set(GX_World* w, int x, int y, std::array<double, 4> argb) {
  void* p = GXp_PixelAddress(*w->GetLayer(), x, y);
  for (int c = 0; c < 4; ++c) {
    const float v = float(argb[c]);
    if (w->Depth() == 8) static_cast<uint8_t*>(p)[c] = GXp_Px8::FromUnit(v);
    if (w->Depth() == 16) static_cast<uint16_t*>(p)[c] = GXp_Px16::FromUnit(v);
    if (w->Depth() == 32) static_cast<float*>(p)[c] = v;
  }
}

/// 23 × 7 pixels, no two alike; alpha cycles 1, 1/4, 1/2, 3/4. With `hdr`, red runs
/// from below 0 to above 1 (float layers only).
std::unique_ptr<GX_World> Pattern(int depth, bool hdr = false) {
  std::unique_ptr<GX_World> w(GX_World::New(23, 7, depth, 0));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 23; ++x) {
      const double alpha = x % 4 == 0 ? 1.0 : (x % 4) / 4.0;
      const double red = hdr ? (x - 5) * 0.137 : std::fmod(x * 0.043 + y * 0.011, 1.0);
      Set(w.get(), x, y, {alpha, red, y / 6.0, std::fmod(x * y * 0.0173, 1.0)});
    }
  return w;
}

int32_t WriteFile(const std::string& path, GX_ImageFormat format, const GX_LayerDef& layer,
                  const GX_ImageWriteOptions& options) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  const int32_t rc = GX_WriteImageStream(f, path.c_str(), format, layer, &options);
  std::fclose(f);
  return rc;
}

std::unique_ptr<GX_World> ReadFile(const std::string& path, int depth, Enc colour) {
  GX_ImageReadOptions o;
  o.colour = colour;
  GX_World* raw = nullptr;
  EXPECT_EQ(GX_ReadImage(path.c_str(), depth, &raw, &o), 0) << GX_ImageLastMessage();
  return std::unique_ptr<GX_World>(raw);
}

/// Channel c of pixel (x, y) of a picture, as a unit value.
using Channels = std::function<double(int x, int y, int c)>;

/// Reads `path` and holds it to `width` × `height` pixels, each channel within
/// `tolerance` of `want` (a tolerance of 0 asks for the value itself).
void ExpectReadsAs(const std::string& path, int depth, Enc colour, int width, int height,
                   const Channels& want, const Channels& tolerance) {
  std::unique_ptr<GX_World> w = ReadFile(path, depth, colour);
  ASSERT_TRUE(w);
  ASSERT_EQ(w->Width(), width);
  ASSERT_EQ(w->Height(), height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(At(*w, x, y, c), want(x, y, c), tolerance(x, y, c))
            << x << ", " << y << " channel " << c;
}

class GxImage : public TrackedTest {};

// Formats and names
// ====

TEST_F(GxImage, FormatsComeFromExtensionsAndSignatures) {
  using F = GX_ImageFormat;
  const struct { const char* name; F format; } kNames[] = {
      {"a.png", F::kPng},      {"dir/B.PNG", F::kPng},     {"c.tif", F::kTiff},
      {"d.TIFF", F::kTiff},    {"e.exr", F::kExr},         {"f.jpg", F::kJpeg},
      {"g.JPEG", F::kJpeg},    {"h.bmp", F::kUnknown},     {"png", F::kUnknown},
      {"dir.png/x", F::kUnknown}, {"x.png.gz", F::kUnknown}, {nullptr, F::kUnknown},
  };
  for (const auto& c : kNames) EXPECT_EQ(GX_ImageFormatForName(c.name), c.format) << c.name;

  const struct { std::string head; F format; } kHeads[] = {
      {image_bytes::PngClaiming(1, 1), F::kPng},   {image_bytes::TiffClaiming(1, 1), F::kTiff},
      {std::string("MM\0*", 4), F::kTiff},         {std::string("II+\0", 4), F::kTiff},
      {image_bytes::ExrClaiming(1, 1), F::kExr},   {image_bytes::JpegClaiming(1, 1), F::kJpeg},
      {"GIF89a", F::kUnknown},                     {std::string("\x89PN", 3), F::kUnknown},
  };
  for (const auto& c : kHeads)
    EXPECT_EQ(GX_ImageFormatOfBytes(reinterpret_cast<const unsigned char*>(c.head.data()),
                                    c.head.size()),
              c.format)
        << c.head;

  EXPECT_STREQ(GX_ImageWritableFormats(),
               "PNG (.png: 8-bit or 16-bit), TIFF (.tif or .tiff: 8-bit, 16-bit or float), "
               "OpenEXR (.exr: half or float)");
  using S = GX_SampleType;
  // The sample each format gets by default from 8-bit, 16-bit and float layers.
  const struct { F format; S by[3]; } kDefaults[] = {
      {F::kPng, {S::kUint8, S::kUint16, S::kUint16}},
      {F::kTiff, {S::kUint8, S::kUint16, S::kFloat}},
      {F::kExr, {S::kHalf, S::kHalf, S::kFloat}},
  };
  for (const auto& d : kDefaults)
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GX_ImageDefaultSample(d.format, 8 << i), d.by[i]) << i;
  EXPECT_FALSE(GX_ImageWrites(F::kJpeg, S::kDefault));
  EXPECT_FALSE(GX_ImageWrites(F::kPng, S::kFloat));
  EXPECT_FALSE(GX_ImageWrites(F::kExr, S::kUint8));
  EXPECT_TRUE(GX_ImageWrites(F::kTiff, S::kFloat));
}

TEST_F(GxImage, WritesAFormatCannotHoldAreRefusedWithWhatCan) {
  std::unique_ptr<GX_World> w = Pattern(32);
  const std::string path = Scratch("refused.img");
  struct Case { GX_ImageFormat format; GX_SampleType sample; std::string what; };
  const Case kCases[] = {
      {GX_ImageFormat::kPng, GX_SampleType::kFloat, "as PNG of float samples"},
      {GX_ImageFormat::kExr, GX_SampleType::kUint16, "as OpenEXR of 16-bit samples"},
      {GX_ImageFormat::kTiff, GX_SampleType::kHalf, "as TIFF of half samples"},
      {GX_ImageFormat::kJpeg, GX_SampleType::kDefault, "as JPEG"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    GX_ImageWriteOptions o;
    o.sample = c.sample;
    EXPECT_EQ(WriteFile(path, c.format, *w->GetLayer(), o), GX_Err_ImageUnsupported);
    EXPECT_EQ(std::string(GX_ImageLastMessage()),
              "cannot write '" + path + "' " + c.what + "; writable: " + GX_ImageWritableFormats());
    EXPECT_EQ(fs::file_size(path), 0u) << "nothing is written";
  }
}

// Round trips
// ====

struct Trip {
  const char* name;
  GX_ImageFormat format;
  int depth;
  GX_SampleType sample;
  Enc colour;
  bool hdr;
  double tolerance;  ///< of full scale, on colour where alpha is 1 and on alpha; 0: exact
};

void ExpectRoundTrip(const Trip& t, const std::string& path) {
  SCOPED_TRACE(t.name);
  std::unique_ptr<GX_World> src = Pattern(t.depth, t.hdr);
  GX_ImageWriteOptions o;
  o.sample = t.sample;
  o.colour = t.colour;
  ASSERT_EQ(WriteFile(path, t.format, *src->GetLayer(), o), 0) << GX_ImageLastMessage();
  // Premultiplied files divide colour back out: exact only where alpha is 1.
  const bool premultiplied = t.format == GX_ImageFormat::kExr;
  const Channels want = [&](int x, int y, int c) { return At(*src, x, y, c); };
  ExpectReadsAs(path, t.depth, t.colour, 23, 7, want, [&](int x, int y, int c) {
    const double alpha = At(*src, x, y, 0);
    const bool partial = c > 0 && alpha < 1.0 && (premultiplied || t.tolerance > 0);
    return t.tolerance + (partial ? 4e-7 * std::fabs(want(x, y, c)) / alpha + 1e-7 : 0);
  });
}

TEST_F(GxImage, RoundTripsKeepEveryValueTheFileCanHoldToItsPrecision) {
  using F = GX_ImageFormat;
  using S = GX_SampleType;
  const Trip kTrips[] = {
      {"PNG 8", F::kPng, 8, S::kDefault, Enc::kSrgb, false, 0},
      {"PNG 16", F::kPng, 16, S::kDefault, Enc::kSrgb, false, 0},
      {"TIFF 8", F::kTiff, 8, S::kDefault, Enc::kSrgb, false, 0},
      {"TIFF 16", F::kTiff, 16, S::kDefault, Enc::kSrgb, false, 0},
      {"TIFF float, past 0 and 1", F::kTiff, 32, S::kDefault, Enc::kLinear, true, 0},
      {"OpenEXR float, past 0 and 1", F::kExr, 32, S::kDefault, Enc::kLinear, true, 0},
      {"TIFF 16 from an 8-bit layer", F::kTiff, 8, S::kUint16, Enc::kSrgb, false, 0},
      {"PNG 16 from an 8-bit layer", F::kPng, 8, S::kUint16, Enc::kSrgb, false, 0},
      // Converting trips stay within their precision.
      // Half keeps 11 significant bits of linear light; back in sRGB at 8 bits that is
      // within one step.
      {"OpenEXR half from sRGB 8", F::kExr, 8, S::kDefault, Enc::kSrgb, false, 1.0 / 255},
      {"OpenEXR half from sRGB 16", F::kExr, 16, S::kDefault, Enc::kSrgb, false, 3e-4},
      {"OpenEXR float from sRGB float", F::kExr, 32, S::kFloat, Enc::kSrgb, false, 2e-5},
      // Linear light into 16-bit sRGB: one file step is at most 2.4 / 65535 in linear.
      {"PNG 16 from linear float", F::kPng, 32, S::kDefault, Enc::kLinear, false, 4e-5},
      {"TIFF 8 from linear 16", F::kTiff, 16, S::kUint8, Enc::kLinear, false, 0.01},
      {"TIFF float from sRGB 16", F::kTiff, 16, S::kFloat, Enc::kSrgb, false, 2.0 / 32768},
  };
  for (const Trip& t : kTrips) ExpectRoundTrip(t, Scratch("trip"));
}

// The colour written files are in
// ====

struct RawPng {
  bool srgbChunk = false;
  int bitDepth = 0;
  std::vector<uint32_t> samples;  ///< RGBA as stored
};

RawPng ReadRawPng(const std::string& path) {
  RawPng r;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  int intent = 0;
  r.srgbChunk = png_get_sRGB(png, info, &intent) != 0;
  r.bitDepth = png_get_bit_depth(png, info);
  png_bytepp rows = png_get_rows(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  for (png_uint_32 y = 0; y < h; ++y)
    for (png_uint_32 i = 0; i < w * 4; ++i)
      r.samples.push_back(r.bitDepth == 16 ? uint32_t(rows[y][2 * i] << 8 | rows[y][2 * i + 1])
                                           : rows[y][i]);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return r;
}

/// The value a profile's red curve gives for 0.5: 0.5 when linear, 0.214 for sRGB.
double ProfileMidpoint(const void* data, uint32_t size) {
  cmsHPROFILE p = cmsOpenProfileFromMem(data, size);
  if (!p) return -1;
  const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, cmsSigRedTRCTag));
  const double v = curve ? cmsEvalToneCurveFloat(curve, 0.5f) : -1;
  cmsCloseProfile(p);
  return v;
}

TEST_F(GxImage, WrittenFilesHoldAndNameTheirFormatsColour) {
  // One pixel: linear 0.5 red, sRGB 0.5 green, 0 blue; alpha 1, then alpha 0.5.
  std::unique_ptr<GX_World> linear(GX_World::New(2, 1, 32, 0));
  Set(linear.get(), 0, 0, {1.0, 0.5, SrgbToLinear(0.5), 0.0});
  Set(linear.get(), 1, 0, {0.5, 0.5, SrgbToLinear(0.5), 0.0});
  GX_ImageWriteOptions o;
  o.colour = Enc::kLinear;

  // PNG: sRGB-encoded and tagged with the sRGB chunk; alpha straight.
  const std::string png = Scratch("linear.png");
  ASSERT_EQ(WriteFile(png, GX_ImageFormat::kPng, *linear->GetLayer(), o), 0);
  const RawPng raw = ReadRawPng(png);
  EXPECT_TRUE(raw.srgbChunk);
  ASSERT_EQ(raw.bitDepth, 16);
  // Sample index, stored value, tolerance (0: exact).
  const struct { int i; double want, tolerance; } kSamples[] = {
      {0, LinearToSrgb(0.5) * 65535, 1}, {1, 32768, 1}, {2, 0, 0},
      {3, 65535, 0}, {4, LinearToSrgb(0.5) * 65535, 1}, {7, 32768, 0}};
  for (const auto& k : kSamples) EXPECT_NEAR(raw.samples[size_t(k.i)], k.want, k.tolerance) << k.i;

  // OpenEXR: linear, premultiplied, with Rec. 709 chromaticities.
  const std::string exr = Scratch("srgb.exr");
  std::unique_ptr<GX_World> srgb8(GX_World::New(2, 1, 8, 0));
  Set(srgb8.get(), 0, 0, {1.0, 128 / 255.0, 1.0, 0.0});
  Set(srgb8.get(), 1, 0, {128 / 255.0, 128 / 255.0, 1.0, 0.0});
  GX_ImageWriteOptions s;
  s.sample = GX_SampleType::kFloat;
  ASSERT_EQ(WriteFile(exr, GX_ImageFormat::kExr, *srgb8->GetLayer(), s), 0)
      << GX_ImageLastMessage();
  {
    Imf::InputFile in(exr.c_str());
    ASSERT_TRUE(Imf::hasChromaticities(in.header()));
    const Imf::Chromaticities ch = Imf::chromaticities(in.header());
    EXPECT_FLOAT_EQ(ch.green.x, 0.30f);
    EXPECT_FLOAT_EQ(ch.white.y, 0.3290f);
    EXPECT_EQ(in.header().channels().findChannel("R")->type, Imf::FLOAT);
    float px[2][4];
    Imf::FrameBuffer fb;
    const char* names[4] = {"R", "G", "B", "A"};
    for (int i = 0; i < 4; ++i)
      fb.insert(names[i],
                Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&px[0][i]), sizeof px[0], 0));
    in.setFrameBuffer(fb);
    in.readPixels(0);
    // Pixel, channel (R, G, B, A), value, tolerance; pixel 1's colour is premultiplied.
    const double r = SrgbToLinear(128 / 255.0), a = 128 / 255.0;
    const struct { int p, c; double want, tolerance; } kValues[] = {
        {0, 0, r, 2e-5}, {0, 1, 1.0, 1e-6}, {0, 3, 1.0, 0},
        {1, 0, r * a, 2e-5}, {1, 1, a, 1e-6}, {1, 3, a, 1e-6}};
    for (const auto& v : kValues) EXPECT_NEAR(px[v.p][v.c], v.want, v.tolerance) << v.p << v.c;
  }

  // TIFF: integer files sRGB with an sRGB profile, float files linear with a linear one;
  // alpha declared unassociated.
  struct TiffCase { GX_SampleType sample; double red, midpoint; };
  const TiffCase kTiffs[] = {{GX_SampleType::kUint16, LinearToSrgb(0.5), SrgbToLinear(0.5)},
                             {GX_SampleType::kFloat, 0.5, 0.5}};
  for (const TiffCase& t : kTiffs) {
    SCOPED_TRACE(GX_SampleTypeName(t.sample));
    const std::string path = Scratch("linear.tif");
    GX_ImageWriteOptions w = o;
    w.sample = t.sample;
    ASSERT_EQ(WriteFile(path, GX_ImageFormat::kTiff, *linear->GetLayer(), w), 0)
        << GX_ImageLastMessage();
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint32_t size = 0;
    void* profile = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &profile));
    EXPECT_NEAR(ProfileMidpoint(profile, size), t.midpoint, 2e-3);
    uint16_t count = 0;
    uint16_t* extra = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &extra));
    EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
    std::vector<unsigned char> line(size_t(TIFFScanlineSize(tif)));
    ASSERT_EQ(TIFFReadScanline(tif, line.data(), 0, 0), 1);
    if (t.sample == GX_SampleType::kFloat) {
      const auto* f = reinterpret_cast<const float*>(line.data());
      EXPECT_EQ(f[0], 0.5f);
      EXPECT_EQ(f[7], 0.5f) << "straight alpha";
      EXPECT_EQ(f[4], 0.5f) << "colour not premultiplied";
    } else {
      const auto* u = reinterpret_cast<const uint16_t*>(line.data());
      EXPECT_NEAR(u[0], t.red * 65535, 1.0);
      EXPECT_NEAR(u[1], 32768, 1.0);
    }
    TIFFClose(tif);
  }
}

// The colour files are read from
// ====

struct PngTags {
  PngTags(int channels_ = 3, bool srgb_ = false, int gammaFixed_ = 0,
          const double* chrm_ = nullptr, std::vector<unsigned char> icc_ = {})
      : channels(channels_), srgb(srgb_), gammaFixed(gammaFixed_), chrm(chrm_), icc(icc_) {}
  int channels;        ///< 1 grey, 3 RGB
  bool srgb;
  int gammaFixed;      ///< gAMA × 100000; 0: none
  const double* chrm;  ///< white, red, green, blue x, y
  std::vector<unsigned char> icc;
};

void WritePngWith(const std::string& path, const std::vector<uint8_t>& pixel, const PngTags& t) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, 1, 1, 8, t.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (t.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  if (t.gammaFixed) png_set_gAMA_fixed(png, info, t.gammaFixed);
  if (t.chrm)
    png_set_cHRM(png, info, t.chrm[0], t.chrm[1], t.chrm[2], t.chrm[3], t.chrm[4], t.chrm[5],
                 t.chrm[6], t.chrm[7]);
  if (!t.icc.empty()) png_set_iCCP(png, info, "test", 0, t.icc.data(), png_uint_32(t.icc.size()));
  png_write_info(png, info);
  std::vector<uint8_t> row = pixel;
  png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

const double kWideGamutRgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15, 0.06};

std::vector<unsigned char> SaveProfile(cmsHPROFILE p) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p, nullptr, &size);
  std::vector<unsigned char> bytes(size);
  cmsSaveProfileToMem(p, bytes.data(), &size);
  cmsCloseProfile(p);
  return bytes;
}

/// An ICC profile of sRGB's primaries (or grey) with a pure power curve.
std::vector<unsigned char> PowerProfile(double gamma, bool grey = false) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsCIExyY white{0.3127, 0.3290, 1.0};
  cmsHPROFILE p;
  if (grey) {
    p = cmsCreateGrayProfile(&white, curve);
  } else {
    const cmsCIExyYTRIPLE rgb{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    p = cmsCreateRGBProfile(&white, &rgb, curves);
  }
  cmsFreeToneCurve(curve);
  return SaveProfile(p);
}

// A wide-gamut RGB (primaries 0.64/0.33, 0.21/0.71, 0.15/0.06) in linear sRGB: its pure
// green is (-0.3982, 1, -0.0429).
const double kWideGreenInSrgb[3] = {-0.3982, 1.0, -0.0429};

TEST_F(GxImage, PngColourTagsDecideHowValuesAreRead) {
  const double m = 128 / 255.0, lin = LinearToSrgb(m);
  struct Case {
    const char* name;
    PngTags tags;
    std::vector<uint8_t> pixel;
    int depth;
    Enc colour;
    double expected[3], tolerance;
  };
  const Case kCases[] = {
      {"untagged is sRGB", PngTags(), {128, 64, 255}, 8, Enc::kSrgb, {m, 64 / 255.0, 1}, 0},
      {"sRGB chunk into linear", PngTags(3, true), {128, 128, 0}, 32, Enc::kLinear,
       {SrgbToLinear(m), SrgbToLinear(m), 0}, 1e-5},
      {"gAMA 1 is linear", PngTags(3, false, 100000), {128, 0, 255}, 8, Enc::kSrgb, {lin, 0, 1},
       0.5 / 255 + 1e-6},
      // Stored = linear^0.5.
      {"gAMA 0.5 is a power law", PngTags(3, false, 50000), {128, 0, 255}, 32, Enc::kLinear,
       {m * m, 0, 1}, 1e-6},
      {"gAMA 1/2.2 counts as sRGB", PngTags(3, false, 45455), {128, 7, 200}, 8, Enc::kSrgb,
       {m, 7 / 255.0, 200 / 255.0}, 0},
      {"cHRM primaries", PngTags(3, false, 100000, kWideGamutRgb), {0, 255, 0}, 32, Enc::kLinear,
       {kWideGreenInSrgb[0], kWideGreenInSrgb[1], kWideGreenInSrgb[2]}, 3e-3},
      {"iCCP profile", PngTags(3, false, 0, nullptr, PowerProfile(1.8)), {128, 255, 0}, 32,
       Enc::kLinear, {std::pow(m, 1.8), 1, 0}, 1e-3},
      {"grey iCCP profile", PngTags(1, false, 0, nullptr, PowerProfile(1.0, true)), {128}, 8,
       Enc::kSrgb, {lin, lin, lin}, 1.0 / 255},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scratch("tagged.png");
    WritePngWith(path, c.pixel, c.tags);
    ExpectReadsAs(path, c.depth, c.colour, 1, 1,
                  [&](int, int, int ch) { return ch ? c.expected[ch - 1] : 1; },
                  [&](int, int, int ch) { return ch ? c.tolerance : 0; });
  }
}

// Files of other layouts
// ====

TEST_F(GxImage, TiffLayoutsReadAsTheirPixels) {
  const std::string path = Scratch("layout.tif");
  // Sample s of pixel (x, y) as the file stores it; channel c (0 alpha, then red, green,
  // blue) of pixel (x, y) as read.
  using Samples = std::function<double(uint32_t x, uint32_t y, uint32_t s)>;
  enum Layout { kStrips, kPlanes, kTiles };  // strips of two rows; tiles of 16 × 16
  struct Case {
    const char* name;
    uint32_t width, height;
    uint16_t bits, spp, photometric;
    Layout layout;
    std::function<void(TIFF*)> tags;  ///< the fields beyond the geometry
    Samples samples;
    int depth;
    Enc colour;
    Channels want;
    double tolerance;  ///< on colour
  };
  // One row of the listed samples, and the listed channels of each pixel.
  const auto listed = [](std::vector<double> v, uint32_t spp) -> Samples {
    return [v, spp](uint32_t x, uint32_t, uint32_t s) { return v[x * spp + s]; };
  };
  const auto argb = [](std::vector<double> v) -> Channels {
    return [v](int x, int, int c) { return v[std::size_t(4 * x + c)]; };
  };
  std::vector<uint16_t> red(256), green(256), blue(256, 0);
  for (int i = 0; i < 256; ++i)
    red[size_t(i)] = uint16_t(i * 257), green[size_t(i)] = uint16_t(65535 - i * 257);
  const std::vector<unsigned char> greyPower = PowerProfile(1.8, true);
  std::vector<unsigned char> unknownSpace = PowerProfile(1.8);
  const unsigned char space[4] = {0xAE, 0xB8, 0x1F, 0xDD};
  std::memcpy(unknownSpace.data() + 16, space, 4);
  const auto extra = [](TIFF* t, uint16_t kind) {
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
  };
  const double g = std::pow(32768 / 65535.0, 1.8);
  const Case kCases[] = {
      {"palette in several strips, through the RGBA interface", 3, 5, 8, 1, PHOTOMETRIC_PALETTE,
       kStrips,
       [&](TIFF* t) { TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()); },
       [](uint32_t x, uint32_t y, uint32_t) { return y * 40 + x; }, 8, Enc::kSrgb,
       [](int x, int y, int c) {
         return c == 0 ? 1 : c == 3 ? 0 : (c == 1 ? y * 40 + x : 255 - (y * 40 + x)) / 255.0;
       },
       0.5 / 255},
      {"16-bit RGB in tiles that overhang the image", 20, 18, 16, 3, PHOTOMETRIC_RGB, kTiles,
       nullptr,
       [](uint32_t x, uint32_t y, uint32_t s) { return s == 0 ? x * 1000 : s == 1 ? y * 1000 : 7; },
       32, Enc::kSrgb,
       [](int x, int y, int c) {
         return c == 0 ? 1 : (c == 1 ? x * 1000 : c == 2 ? y * 1000 : 7) / 65535.0;
       },
       1e-7},
      {"separate planes", 4, 3, 8, 3, PHOTOMETRIC_RGB, kPlanes, nullptr,
       [](uint32_t x, uint32_t y, uint32_t s) { return s * 80 + y * 10 + x; }, 8, Enc::kSrgb,
       [](int x, int y, int c) { return c == 0 ? 1 : ((c - 1) * 80 + y * 10 + x) / 255.0; }, 1e-9},
      {"white is zero", 2, 1, 8, 1, PHOTOMETRIC_MINISWHITE, kStrips, nullptr, listed({0, 200}, 1),
       8, Enc::kSrgb, argb({1, 1, 1, 1, 1, 55 / 255.0, 55 / 255.0, 55 / 255.0}), 0},
      {"float with associated alpha is linear and divided out", 1, 1, 32, 4, PHOTOMETRIC_RGB,
       kStrips,
       [&](TIFF* t) {
         TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
         extra(t, EXTRASAMPLE_ASSOCALPHA);
       },
       listed({0.25, 0.1, 2.0, 0.5}, 4), 32, Enc::kLinear, argb({0.5, 0.5, 0.2, 4.0}), 1e-7},
      // Found by fuzzing: a colour space no enumeration names once made the reader load
      // an invalid enumeration value.
      {"a profile of an unknown colour space counts as none", 1, 1, 8, 3, PHOTOMETRIC_RGB, kStrips,
       [&](TIFF* t) {
         TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(unknownSpace.size()), unknownSpace.data());
       },
       listed({10, 128, 250}, 3), 8, Enc::kSrgb, argb({1, 10 / 255.0, 128 / 255.0, 250 / 255.0}),
       0},
      {"16-bit grey and straight alpha with a power-law profile", 1, 1, 16, 2,
       PHOTOMETRIC_MINISBLACK, kStrips,
       [&](TIFF* t) {
         extra(t, EXTRASAMPLE_UNASSALPHA);
         TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(greyPower.size()), greyPower.data());
       },
       listed({32768, 16384}, 2), 32, Enc::kLinear, argb({16384 / 65535.0, g, g, g}), 1e-3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    // The stored bytes of a w × h block from (x0, y0): all samples, or plane `plane`.
    const auto block = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, int plane) {
      std::vector<unsigned char> out;
      for (uint32_t y = y0; y < y0 + h; ++y)
        for (uint32_t x = x0; x < x0 + w; ++x)
          for (uint32_t s = 0; s < c.spp; ++s) {
            if (plane >= 0 && s != uint32_t(plane)) continue;
            const double v = c.samples(x, y, s);
            const uint8_t v8 = uint8_t(v);
            const uint16_t v16 = uint16_t(v);
            const float vf = float(v);
            const auto* bytes = c.bits == 8    ? reinterpret_cast<const unsigned char*>(&v8)
                                : c.bits == 16 ? reinterpret_cast<const unsigned char*>(&v16)
                                               : reinterpret_cast<const unsigned char*>(&vf);
            out.insert(out.end(), bytes, bytes + c.bits / 8);
          }
      return out;
    };
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG,
                 c.layout == kPlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(2));
    if (c.layout == kTiles) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(16));
      TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(16));
    }
    if (c.tags) c.tags(t);
    // Plane by plane, then row by row (or tile by tile).
    for (int s = 0; s < (c.layout == kPlanes ? c.spp : 1); ++s)
      for (uint32_t y = 0; y < c.height; y += c.layout == kTiles ? 16 : 1)
        for (uint32_t x = 0; x < (c.layout == kTiles ? c.width : 1); x += 16) {
          std::vector<unsigned char> data =
              c.layout == kTiles ? block(x, y, 16, 16, -1)
                                 : block(0, y, c.width, 1, c.layout == kPlanes ? s : -1);
          if (c.layout == kTiles)
            EXPECT_GT(TIFFWriteTile(t, data.data(), x, y, 0, 0), 0);
          else
            EXPECT_EQ(TIFFWriteScanline(t, data.data(), y, uint16_t(s)), 1);
        }
    TIFFClose(t);
    ExpectReadsAs(path, c.depth, c.colour, int(c.width), int(c.height), c.want,
                  [&](int, int, int ch) { return ch == 0 ? 1e-7 : c.tolerance; });
  }
}

TEST_F(GxImage, ExrLayoutsReadAsTheirPixels) {
  const std::string path = Scratch("layout.exr");
  const Imf::Chromaticities wide(Imath::V2f(0.64f, 0.33f), Imath::V2f(0.21f, 0.71f),
                                  Imath::V2f(0.15f, 0.06f), Imath::V2f(0.3127f, 0.3290f));
  // Each plane is v + dx·x + dy·y, from the data window's corner; so is each channel
  // read back (alpha, red, green, blue).
  struct Ramp { float v, dx, dy; };
  struct Case {
    const char* name;
    Imath::Box2i window;
    std::vector<std::pair<const char*, Ramp>> planes;
    bool tiled;  ///< half samples in 8 × 8 tiles
    const Imf::Chromaticities* chroma;
    Ramp argb[4];
    double tolerance;
  };
  const Case kCases[] = {
      {"tiled half RGBA, tiles overhanging", {{0, 0}, {12, 8}},
       {{"R", {0, 0.25f, 0}}, {"G", {0, 0, 0.5f}}, {"B", {-1.5f, 0, 0}}, {"A", {1, 0, 0}}}, true,
       nullptr, {{1, 0, 0}, {0, 0.25f, 0}, {0, 0, 0.5f}, {-1.5f, 0, 0}}, 0},
      {"luminance only, data window away from the origin", {{10, 20}, {14, 22}},
       {{"Y", {0.375f, 0, 0}}}, false, nullptr,
       {{1, 0, 0}, {0.375f, 0, 0}, {0.375f, 0, 0}, {0.375f, 0, 0}}, 0},
      {"missing channels: colour 0, alpha 1", {{0, 0}, {1, 1}},
       {{"R", {0.5f, 0, 0}}, {"G", {2.0f, 0, 0}}}, false, nullptr,
       {{1, 0, 0}, {0.5f, 0, 0}, {2.0f, 0, 0}, {0, 0, 0}}, 0},
      {"chromaticities other than sRGB's", {{0, 0}, {0, 0}},
       {{"R", {0, 0, 0}}, {"G", {1, 0, 0}}, {"B", {0, 0, 0}}}, false, &wide,
       {{1, 0, 0}, {float(kWideGreenInSrgb[0]), 0, 0}, {float(kWideGreenInSrgb[1]), 0, 0},
        {float(kWideGreenInSrgb[2]), 0, 0}},
       3e-3},
  };
  const auto at = [](const Ramp& r, int x, int y) {
    return r.v + r.dx * float(x) + r.dy * float(y);
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Imf::Header h(c.window, c.window);
    if (c.chroma) Imf::addChromaticities(h, *c.chroma);
    if (c.tiled) h.setTileDescription(Imf::TileDescription(8, 8));
    const Imath::V2i size = c.window.size() + Imath::V2i(1, 1);
    std::vector<std::vector<float>> planes;
    std::vector<std::vector<Imath::half>> halves;
    const Imf::PixelType type = c.tiled ? Imf::HALF : Imf::FLOAT;
    const std::size_t bytes = c.tiled ? sizeof(Imath::half) : sizeof(float);
    Imf::FrameBuffer fb;
    for (const auto& plane : c.planes) {
      h.channels().insert(plane.first, Imf::Channel(type));
      planes.emplace_back(std::size_t(size.x * size.y));
      for (int i = 0; i < size.x * size.y; ++i)
        planes.back()[std::size_t(i)] = at(plane.second, i % size.x, i / size.x);
      halves.emplace_back(planes.back().begin(), planes.back().end());
      char* data = c.tiled ? reinterpret_cast<char*>(halves.back().data())
                           : reinterpret_cast<char*>(planes.back().data());
      char* base = data - (c.window.min.x + c.window.min.y * size.x) * long(bytes);
      fb.insert(plane.first, Imf::Slice(type, base, bytes, bytes * std::size_t(size.x)));
    }
    if (c.tiled) {
      Imf::TiledOutputFile out(path.c_str(), h);
      out.setFrameBuffer(fb);
      out.writeTiles(0, out.numXTiles() - 1, 0, out.numYTiles() - 1);
    } else {
      Imf::OutputFile out(path.c_str(), h);
      out.setFrameBuffer(fb);
      out.writePixels(size.y);
    }
    ExpectReadsAs(path, 32, Enc::kLinear, size.x, size.y,
                  [&](int x, int y, int ch) { return at(c.argb[ch], x, y); },
                  [&](int, int, int) { return c.tolerance; });
  }
}

/// A JPEG of one flat colour of `colour.size()` samples.
std::string FlatJpeg(int width, int height, J_COLOR_SPACE space, std::vector<uint8_t> colour,
                     bool progressive = false, const std::vector<unsigned char>* icc = nullptr) {
  return MakeJpeg(
      width, height, space, int(colour.size()),
      [&](int, uint8_t* row) {
        for (int x = 0; x < width; ++x)
          std::copy(colour.begin(), colour.end(), row + x * int(colour.size()));
      },
      100, progressive, icc);
}

TEST_F(GxImage, JpegFilesReadAsOpaqueRgb) {
  const std::vector<unsigned char> linear = PowerProfile(1.0);
  const double lin = LinearToSrgb(128 / 255.0) * 255;
  // Tolerance in 8-bit steps: JPEG is lossy even at quality 100.
  struct Case { const char* name; int size; std::string file; double rgb[3]; double tolerance; };
  const Case kCases[] = {
      {"baseline", 16, FlatJpeg(16, 16, JCS_RGB, {200, 100, 50}), {200, 100, 50}, 2},
      {"progressive", 16, FlatJpeg(16, 16, JCS_RGB, {200, 100, 50}, true), {200, 100, 50}, 2},
      {"grey", 8, FlatJpeg(8, 8, JCS_GRAYSCALE, {77}), {77, 77, 77}, 1},
      {"inverted CMYK (APP14), 255 meaning no ink", 8,
       FlatJpeg(8, 8, JCS_CMYK, {255, 0, 255, 255}), {255, 0, 255}, 3},
      {"linear ICC profile", 8, FlatJpeg(8, 8, JCS_RGB, {128, 128, 128}, false, &linear),
       {lin, lin, lin}, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scratch("flat.jpg");
    Spit(path, c.file);
    ExpectReadsAs(path, 8, Enc::kSrgb, c.size, c.size,
                  [&](int, int, int ch) { return ch ? c.rgb[ch - 1] / 255 : 1; },
                  [&](int, int, int ch) { return ch ? c.tolerance / 255 : 0; });
  }
}

// Damaged files
// ====

/// 64 × 64 pixels of noise, so that compression keeps the file large.
std::unique_ptr<GX_World> Noise() {
  std::unique_ptr<GX_World> w(GX_World::New(64, 64, 8, 0));
  uint32_t s = 12345;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      s = s * 1664525u + 1013904223u;
      Set(w.get(), x, y, {1, (s >> 24) / 255.0, (s >> 16 & 255) / 255.0, (s >> 8 & 255) / 255.0});
    }
  return w;
}

TEST_F(GxImage, DamagedFilesOfEveryFormatEndInOneLine) {
  std::unique_ptr<GX_World> noise = Noise();
  std::string good[3];
  const GX_ImageFormat written[3] = {GX_ImageFormat::kPng, GX_ImageFormat::kTiff,
                                     GX_ImageFormat::kExr};
  for (int i = 0; i < 3; ++i) {
    const std::string path = Scratch("good");
    ASSERT_EQ(WriteFile(path, written[i], *noise->GetLayer(), GX_ImageWriteOptions()), 0);
    good[i] = Slurp(path);
  }
  // Noise rows, so the entropy-coded data is most of the file.
  uint32_t seed = 99;
  const std::string jpeg = MakeJpeg(
      64, 64, JCS_RGB, 3,
      [&](int, uint8_t* row) {
        for (int i = 0; i < 64 * 3; ++i)
          row[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
      },
      75);
  auto cut = [](const std::string& s) { return s.substr(0, s.size() * 6 / 10); };
  const std::string junk(40, '\x7F');
  // What follows the path: after "cannot read '" or, when `quoted`, after "'"; with
  // `prefix`, the message only starts so (the rest is the library's).
  struct Case {
    const char* name;
    std::string bytes;
    int32_t code;
    bool quoted;
    std::string message;
    bool prefix;
  };
  const int32_t kFormat = GX_Err_ImageFormat, kLarge = GX_Err_ImageTooLarge;
  const std::string tooLarge =
      "' is 40000 × 1 pixels, over the limit of 30000 pixels a side and 268435456 pixels in all";
  const std::string bomb =
      "' is 20000 × 20000 pixels, over the limit of 30000 pixels a side and 268435456 pixels in "
      "all";
  const std::string exrMagic("\x76\x2f\x31\x01\x02\0\0\0", 8);
  const Case kCases[] = {
      {"PNG bad header", std::string("\x89PNG\r\n\x1A\n", 8) + junk, kFormat, false,
       "': IHDR: missing", false},
      {"PNG truncated", cut(good[0]), kFormat, false, "': ", true},
      {"PNG too wide", image_bytes::PngClaiming(40000, 1), kLarge, true, tooLarge, false},
      {"TIFF bad header", std::string("II*\0", 4) + junk, kFormat, false,
       "': TIFFFetchDirectory: Can not read TIFF directory count", false},
      {"TIFF truncated", cut(good[1]), kFormat, false, "': ", true},
      {"TIFF too wide", image_bytes::TiffClaiming(40000, 1), kLarge, true, tooLarge, false},
      {"TIFF bomb", image_bytes::TiffClaiming(20000, 20000), kLarge, true, bomb, false},
      {"OpenEXR bad header", exrMagic + junk, kFormat, false, "': header: a damaged attribute name",
       false},
      {"OpenEXR no data window", exrMagic + '\0', kFormat, false, "': header: dataWindow: missing",
       false},
      {"OpenEXR truncated", cut(good[2]), kFormat, false, "': ", true},
      {"OpenEXR too wide", image_bytes::ExrClaiming(40000, 1), kLarge, true, tooLarge, false},
      {"JPEG bad header", std::string("\xFF\xD8\xFF", 3) + junk, kFormat, false, "': ", true},
      {"JPEG truncated", cut(jpeg), kFormat, false, "': Premature end of JPEG file", false},
      {"JPEG too wide", image_bytes::JpegClaiming(40000, 1), kLarge, true, tooLarge, false},
      {"no format", "GIF89a and so on", kFormat, true, "' is not a PNG, JPEG, TIFF or OpenEXR file",
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scratch("damaged");
    Spit(path, c.bytes);
    GX_ImageReadOptions o;
    o.maxSide = 30000;
    o.maxPixels = int64_t(1) << 28;
    GX_World* w = reinterpret_cast<GX_World*>(&o);  // any non-null value
    EXPECT_EQ(GX_ReadImage(path.c_str(), 16, &w, &o), c.code);
    EXPECT_EQ(w, nullptr);
    const std::string m = GX_ImageLastMessage();
    const std::string expected = (c.quoted ? "'" : "cannot read '") + path + c.message;
    if (c.prefix) {
      EXPECT_EQ(m.rfind(expected, 0), 0u) << m;
      EXPECT_GT(m.size(), expected.size()) << "says what is wrong";
    } else {
      EXPECT_EQ(m, expected);
    }
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;
    EXPECT_LT(m.size(), 250u) << m;
  }
}

// Progress
// ====

TEST_F(GxImage, AProgressAnswerStopsEveryReaderAndWriter) {
  std::unique_ptr<GX_World> src = Pattern(8);
  const std::string jpegPath = Scratch("stop.jpg");
  Spit(jpegPath, FlatJpeg(23, 7, JCS_RGB, {1, 2, 3}));
  for (GX_ImageFormat f :
       {GX_ImageFormat::kPng, GX_ImageFormat::kTiff, GX_ImageFormat::kExr, GX_ImageFormat::kJpeg}) {
    SCOPED_TRACE(GX_ImageFormatName(f));
    const std::string path = f == GX_ImageFormat::kJpeg ? jpegPath : Scratch("stop.img");
    ProgressRecorder rec;
    rec.failAt = 2;
    rec.failCode = GX_Err_Cancelled;
    GX_ProgressInfo info = rec.Record();
    if (f != GX_ImageFormat::kJpeg) {
      GX_ImageWriteOptions w;
      w.progress = &info;
      EXPECT_EQ(WriteFile(path, f, *src->GetLayer(), w), GX_Err_Cancelled);
      EXPECT_EQ(std::string(GX_ImageLastMessage()), "writing '" + path + "' was stopped");
      EXPECT_EQ(rec.reports.back(), std::make_pair(int32_t(3), int32_t(7)));
      ASSERT_EQ(WriteFile(path, f, *src->GetLayer(), GX_ImageWriteOptions()), 0);
    }
    rec.reports.clear();
    GX_ImageReadOptions r;
    r.progress = &info;
    GX_World* w = nullptr;
    EXPECT_EQ(GX_ReadImage(path.c_str(), 8, &w, &r), GX_Err_Cancelled);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(std::string(GX_ImageLastMessage()), "reading '" + path + "' was stopped");
    EXPECT_EQ(rec.reports, (std::vector<std::pair<int32_t, int32_t>>{{1, 7}, {2, 7}, {3, 7}}));
  }
}

TEST_F(GxImage, AProgressiveJpegAsksWhetherToStopWhileItsScansArrive) {
  // The scans are decoded before the first row exists: the abort check is asked
  // between them, and its answer stops the read before any row is reported.
  const std::string path = Scratch("scans.jpg");
  Spit(path, FlatJpeg(64, 64, JCS_RGB, {9, 99, 199}, true));
  struct Asked { int times = 0; } asked;
  GX_ProgressInfo info;
  info.context = &asked;
  info.abortCheck = [](void* c) -> int32_t {
    return ++static_cast<Asked*>(c)->times == 3 ? GX_Err_Cancelled : 0;
  };
  info.progress = [](void*, int32_t, int32_t) -> int32_t {
    ADD_FAILURE() << "a row was reported";
    return 0;
  };
  GX_ImageReadOptions o;
  o.progress = &info;
  GX_World* w = nullptr;
  EXPECT_EQ(GX_ReadImage(path.c_str(), 8, &w, &o), GX_Err_Cancelled);
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(asked.times, 3);
  EXPECT_EQ(std::string(GX_ImageLastMessage()), "reading '" + path + "' was stopped");
}

}  // namespace
