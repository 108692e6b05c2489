// SPDX-License-Identifier: MIT
#include "host/gx/gx_png.h"

#include <gtest/gtest.h>

#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gx_test_support.h"

namespace {

std::unique_ptr<GX_World> Read(const std::string& path, int depth) {
  GX_World* w = nullptr;
  EXPECT_EQ(GX_ReadPng(path.c_str(), depth, &w), 0) << GX_PngLastMessage();
  return std::unique_ptr<GX_World>(w);
}

/// Whether two worlds of one depth hold the same bytes (none when `b` is null).
bool SamePixels(const GX_World& a, const std::unique_ptr<GX_World>& bp) {
  if (!bp) return false;
  const GX_World& b = *bp;
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Depth() != b.Depth()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(GXp_PixelAddress(*a.GetLayer(), 0, y), GXp_PixelAddress(*b.GetLayer(), 0, y),
                    std::size_t(a.Width()) * std::size_t(a.Depth() / 2)) != 0)
      return false;
  return true;
}

// A 7 × 5 layer whose every pixel differs, at 8 bits.
std::unique_ptr<GX_World> Pattern() {
  std::unique_ptr<GX_World> w = NewWorld(7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      PixelOf(*w, x, y) =
          GX_Pixel8{uint8_t(255 - x), uint8_t(30 * x), uint8_t(40 * y), uint8_t(x * y)};
  return w;
}

class GxPng : public TrackedTest {};

// Exact 8-bit round trips: HeaderLimitsHoldBeforeAnyPixelIsRead and GxImage's round trips.
TEST_F(GxPng, EightBitFilesReadAtSixteenBitsScaleToNearest) {
  std::unique_ptr<GX_World> src = NewWorld(1, 2);
  PixelOf(*src, 0, 0) = GX_Pixel8{0, 0, 200, 255};
  PixelOf(*src, 0, 1) = GX_Pixel8{1, 0, 201, 255};
  const std::string path = Scratch("rgba8.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0) << GX_PngLastMessage();
  EXPECT_STREQ(GX_PngLastMessage(), "");
  EXPECT_TRUE(SamePixels(*src, Read(path, 8)));  // colour kept where alpha is 0
  // At 16 bits, 8-bit 255 is full (32768) and the rest scales by 32768/255.
  std::unique_ptr<GX_World> deep = Read(path, 16);
  ASSERT_TRUE(deep);
  // 200 × 32768 / 255 = 25700.4; 1 × 32768 / 255 = 128.5 rounds up; 201: 25828.5.
  EXPECT_TRUE(SamePixel(PixelOf<GX_Pixel16>(*deep, 0, 0), GX_Pixel16{0, 0, 25700, 32768}));
  EXPECT_TRUE(SamePixel(PixelOf<GX_Pixel16>(*deep, 0, 1), GX_Pixel16{129, 0, 25829, 32768}));
}

TEST_F(GxPng, SixteenBitLayerRoundTripsEveryValue) {
  const int n = 32769;
  std::unique_ptr<GX_World> src = NewWorld(n, 1, 16);
  for (int x = 0; x < n; ++x)
    PixelOf<GX_Pixel16>(*src, x, 0) =
        GX_Pixel16{uint16_t(x), uint16_t(n - 1 - x), uint16_t(x / 2), uint16_t(32768)};
  const std::string path = Scratch("rgba16.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0) << GX_PngLastMessage();
  std::unique_ptr<GX_World> back = Read(path, 16);
  ASSERT_TRUE(back);
  EXPECT_TRUE(SamePixels(*src, back));
  std::unique_ptr<GX_World> narrow = Read(path, 8);
  ASSERT_TRUE(narrow);
  // 16384 is 32768 in the file, 127.5 at 8 bits: rounds up.
  EXPECT_TRUE(SamePixel(PixelOf(*narrow, 16384, 0), GX_Pixel8{128, 128, 64, 255}));
}

TEST_F(GxPng, FloatLayerIsWrittenAtSixteenBits) {
  std::unique_ptr<GX_World> src = NewWorld(4, 1, 32);
  const float values[4] = {0.0f, 0.25f, 1.0f, 2.0f};
  for (int x = 0; x < 4; ++x)
    PixelOf<GX_PixelFloat>(*src, x, 0) = GX_PixelFloat{values[x], -1.0f, 0.5f, values[3 - x]};
  const std::string path = Scratch("float.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0);
  std::unique_ptr<GX_World> back = Read(path, 32);
  ASSERT_TRUE(back);
  const float expectedAlpha[4] = {0.0f, 0.25f, 1.0f, 1.0f};  // clamped to 0..1
  for (int x = 0; x < 4; ++x) {
    const GX_PixelFloat& p = PixelOf<GX_PixelFloat>(*back, x, 0);
    EXPECT_NEAR(p.alpha, expectedAlpha[x], 1.0 / 65535);
    EXPECT_EQ(p.red, 0.0f);
    EXPECT_NEAR(p.green, 0.5f, 1.0 / 65535);
  }
  std::unique_ptr<GX_World> deep = Read(path, 16);
  ASSERT_TRUE(deep);
  EXPECT_EQ(PixelOf<GX_Pixel16>(*deep, 2, 0).alpha, 32768);
}

TEST_F(GxPng, UnoBuffersAreGrey) {
  struct Case { const char* name; int depth; double value; uint8_t read8; };  // value: of the depth
  const Case kCases[] = {
      {"8-bit", 8, 200, 200}, {"16-bit", 16, 16384, 128}, {"float", 32, 0.25, 64}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_UnoBuffer b(5, 3, c.depth);
    ASSERT_EQ(FillUno(&b, c.value), 0);
    const std::string path = Scratch("grey.png");
    ASSERT_EQ(GX_WriteUnoPng(path.c_str(), b), 0) << GX_PngLastMessage();
    std::unique_ptr<GX_World> back = Read(path, 8);
    ASSERT_TRUE(back);
    // Grey files read as opaque.
    EXPECT_TRUE(SamePixel(PixelOf(*back, 4, 2), GX_Pixel8{255, c.read8, c.read8, c.read8}));
  }
}

TEST_F(GxPng, HeaderLimitsHoldBeforeAnyPixelIsRead) {
  std::unique_ptr<GX_World> src = Pattern();
  const std::string path = Scratch("pattern.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0);
  int32_t w = 0, h = 0;
  ASSERT_EQ(GX_ReadPngSize(path.c_str(), &w, &h), 0);
  EXPECT_EQ(w, 7);
  EXPECT_EQ(h, 5);
  struct Case { const char* name; int32_t maxSide; int64_t maxPixels; std::string limit; };
  const Case kCases[] = {
      {"within both", 7, 35, ""},  // no limit passed: read
      {"too wide", 6, 0, "6 pixels a side"},
      {"too many pixels", 0, 34, "34 pixels in all"},
      {"both named", 5, 30, "5 pixels a side and 30 pixels in all"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_ImageReadOptions options;
    options.maxSide = c.maxSide;
    options.maxPixels = c.maxPixels;
    GX_World* raw = nullptr;
    const int32_t rc = GX_ReadPng(path.c_str(), 8, &raw, &options);
    std::unique_ptr<GX_World> back(raw);
    if (c.limit.empty()) {
      ASSERT_EQ(rc, 0);
      EXPECT_TRUE(SamePixels(*src, back));
    } else {
      EXPECT_EQ(rc, GX_Err_ImageTooLarge);
      EXPECT_EQ(back, nullptr);
      EXPECT_EQ(std::string(GX_PngLastMessage()),
                "'" + path + "' is 7 × 5 pixels, over the limit of " + c.limit);
    }
  }
}

TEST_F(GxPng, AProgressAnswerStopsReadingAndWritingAtThatRow) {
  std::unique_ptr<GX_World> src = Pattern();
  const std::string path = Scratch("stopped.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0);
  for (long stopAt : {0L, 3L}) {
    SCOPED_TRACE(stopAt);
    ProgressRecorder rec(stopAt, GX_Err_Cancelled);
    GX_ProgressInfo info = rec.Record();
    const std::string out = Scratch("not_written.png");
    GX_ImageWriteOptions writing;
    writing.progress = &info;
    EXPECT_EQ(GX_WritePng(out.c_str(), *src->GetLayer(), &writing), GX_Err_Cancelled);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(rec.reports.back(), std::make_pair(int32_t(stopAt + 1), int32_t(5)));
    rec.reports.clear();
    GX_ImageReadOptions options;
    options.progress = &info;
    GX_World* raw = reinterpret_cast<GX_World*>(&rec);
    EXPECT_EQ(GX_ReadPng(path.c_str(), 16, &raw, &options), GX_Err_Cancelled);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(rec.reports.back(), std::make_pair(int32_t(stopAt + 1), int32_t(5)));
  }
  // Answering 0 throughout: one report per row, in order.
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  GX_ImageWriteOptions writing;
  writing.progress = &info;
  ASSERT_EQ(GX_WritePng(Scratch("reported.png").c_str(), *src->GetLayer(), &writing), 0);
  EXPECT_EQ(rec.reports,
            (std::vector<std::pair<int32_t, int32_t>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
}

TEST_F(GxPng, InterlacedFilesReadAsTheirPixels) {
  // Written here with libpng's Adam7 interlacing, which the writer never uses.
  std::unique_ptr<GX_World> src = Pattern();
  const std::string path = Scratch("interlaced.png");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 7, 5, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::vector<png_byte>> rows(5, std::vector<png_byte>(28));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) {
        const GX_Pixel8& p = PixelOf(*src, x, y);
        const png_byte rgba[4] = {p.red, p.green, p.blue, p.alpha};
        std::memcpy(&rows[std::size_t(y)][std::size_t(4 * x)], rgba, 4);
      }
      pointers.push_back(rows[std::size_t(y)].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
  }
  std::unique_ptr<GX_World> back = Read(path, 8);
  ASSERT_TRUE(back);
  EXPECT_TRUE(SamePixels(*src, back));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Caps the address space at what the process uses plus a 4000 × 6000 8-bit layer
// (96 MB) and 48 MB for libpng, then writes such a layer: 0 when that worked.
int WriteBigLayerUnderCap(const std::string& path) {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  const std::size_t used = pages * std::size_t(sysconf(_SC_PAGESIZE));
  const std::size_t layerBytes = std::size_t(4000) * 6000 * 4;
  rlimit cap;
  cap.rlim_cur = cap.rlim_max = used + layerBytes + (std::size_t(48) << 20);
  if (setrlimit(RLIMIT_AS, &cap) != 0) return 2;
  std::unique_ptr<GX_World> big = NewWorld(4000, 6000);
  const int32_t rc = GX_WritePng(path.c_str(), *big->GetLayer());
  std::remove(path.c_str());
  return rc == 0 ? 0 : 1;
}

TEST(GxPngMemory, WritingTakesRowsFromTheLayerWithoutASecondCopy) {
  // A writer that copied the image first could not get its copy under the cap. (The
  // sanitizers reserve more address space than the cap allows.)
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = Scratch("big.png");
  EXPECT_EXIT(std::exit(WriteBigLayerUnderCap(path)), ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(GxPng, FailuresAnswerCodesAndName) {
  const std::string text = Scratch("not_a_png.png");
  Spit(text, "hello, this is text");
  // Truncated files: GxImage's DamagedFilesOfEveryFormatEndInOneLine.
  std::unique_ptr<GX_World> src = NewWorld(40, 40);
  const std::string whole = Scratch("whole.png");
  ASSERT_EQ(GX_WritePng(whole.c_str(), *src->GetLayer()), 0);
  const std::string missing = Scratch("no/such/dir/x.png");

  struct Case { const char* name; std::string path; int depth; int32_t code; std::string message; };
  const std::string absent = Scratch("missing.png");
  const Case kCases[] = {
      {"missing file", absent, 8, GX_Err_ImageOpen,
       "cannot open '" + absent + "': No such file or directory"},
      {"text file", text, 8, GX_Err_ImageFormat, "'" + text + "' is not a PNG file"},
      {"bad depth", whole, 12, GX_Err_BadDepth, "cannot read '" + whole + "' at depth 12"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_World* w = reinterpret_cast<GX_World*>(&src);  // any non-null value
    EXPECT_EQ(GX_ReadPng(c.path.c_str(), c.depth, &w), c.code);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(std::string(GX_PngLastMessage()).substr(0, c.message.size()), c.message);
  }

  EXPECT_EQ(GX_WritePng(missing.c_str(), *src->GetLayer()), GX_Err_ImageOpen);
  EXPECT_EQ(std::string(GX_PngLastMessage()),
            "cannot create '" + missing + "': No such file or directory");
  GX_LayerDef odd = *src->GetLayer();
  odd.depth = 12;
  EXPECT_EQ(GX_WritePng(whole.c_str(), odd), GX_Err_BadDepth);
  GX_LayerDef empty;
  EXPECT_EQ(GX_WritePng(whole.c_str(), empty), GX_Err_BadArgument);
  EXPECT_EQ(GX_ReadPng(whole.c_str(), 8, nullptr), GX_Err_BadArgument);
}

}  // namespace
