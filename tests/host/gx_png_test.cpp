// SPDX-License-Identifier: MIT
#include "host/gx/gx_png.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

class GxPng : public TrackedTest {
protected:
  void SetUp() override {
    TrackedTest::SetUp();
    dir = std::filesystem::path(KSTROKE_BINARY_DIR) / "test_out" / "gx_png";
    std::filesystem::create_directories(dir);
  }
  std::string Path(const char* name) const { return (dir / name).string(); }
  std::filesystem::path dir;
};

std::unique_ptr<GX_World> Read(const std::string& path, int depth) {
  GX_World* w = nullptr;
  EXPECT_EQ(GX_ReadPng(path.c_str(), depth, &w), 0) << GX_PngLastMessage();
  return std::unique_ptr<GX_World>(w);
}

TEST_F(GxPng, EightBitLayerRoundTripsExactly) {
  std::unique_ptr<GX_World> src(GX_World::New(3, 2, 8, 0));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      *static_cast<GX_Pixel8*>(GXp_PixelAddress(*src->GetLayer(), x, y)) =
          GX_Pixel8{uint8_t(40 * x + y), uint8_t(x), uint8_t(200 + y), uint8_t(255 - x)};
  const std::string path = Path("rgba8.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0) << GX_PngLastMessage();
  EXPECT_STREQ(GX_PngLastMessage(), "");
  std::unique_ptr<GX_World> back = Read(path, 8);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->Width(), 3);
  ASSERT_EQ(back->Height(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const auto* a = static_cast<GX_Pixel8*>(GXp_PixelAddress(*src->GetLayer(), x, y));
      const auto* b = static_cast<GX_Pixel8*>(GXp_PixelAddress(*back->GetLayer(), x, y));
      EXPECT_EQ(std::vector<int>({a->alpha, a->red, a->green, a->blue}),
                std::vector<int>({b->alpha, b->red, b->green, b->blue}));
    }
  // At 16 bits, 8-bit 255 is full (32768) and 128 scales by 32768/255.
  std::unique_ptr<GX_World> deep = Read(path, 16);
  const auto* p = static_cast<GX_Pixel16*>(GXp_PixelAddress(*deep->GetLayer(), 0, 0));
  EXPECT_EQ(p->alpha, 0);
  EXPECT_EQ(p->green, 25700);  // 200 × 32768 / 255 = 25700.4
  const auto* q = static_cast<GX_Pixel16*>(GXp_PixelAddress(*deep->GetLayer(), 0, 1));
  EXPECT_EQ(q->alpha, 129);  // 1 × 32768 / 255 = 128.5 rounds up
  EXPECT_EQ(q->blue, 32768);
}

TEST_F(GxPng, SixteenBitLayerRoundTripsEveryValue) {
  const int n = 32769;
  std::unique_ptr<GX_World> src(GX_World::New(n, 1, 16, 0));
  for (int x = 0; x < n; ++x)
    *static_cast<GX_Pixel16*>(GXp_PixelAddress(*src->GetLayer(), x, 0)) =
        GX_Pixel16{uint16_t(x), uint16_t(n - 1 - x), uint16_t(x / 2), uint16_t(32768)};
  const std::string path = Path("rgba16.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0) << GX_PngLastMessage();
  std::unique_ptr<GX_World> back = Read(path, 16);
  ASSERT_TRUE(back);
  for (int x = 0; x < n; ++x) {
    const auto* a = static_cast<GX_Pixel16*>(GXp_PixelAddress(*src->GetLayer(), x, 0));
    const auto* b = static_cast<GX_Pixel16*>(GXp_PixelAddress(*back->GetLayer(), x, 0));
    ASSERT_EQ(a->alpha, b->alpha) << x;
    ASSERT_EQ(a->red, b->red) << x;
    ASSERT_EQ(a->green, b->green) << x;
    ASSERT_EQ(a->blue, b->blue) << x;
  }
  std::unique_ptr<GX_World> narrow = Read(path, 8);
  const auto* mid = static_cast<GX_Pixel8*>(GXp_PixelAddress(*narrow->GetLayer(), 16384, 0));
  EXPECT_EQ(mid->alpha, 128);  // 16384 → 32768 in the file → 127.5 rounds up
  EXPECT_EQ(mid->green, 64);
}

TEST_F(GxPng, FloatLayerIsWrittenAtSixteenBits) {
  std::unique_ptr<GX_World> src(GX_World::New(4, 1, 32, 0));
  const float values[4] = {0.0f, 0.25f, 1.0f, 2.0f};
  for (int x = 0; x < 4; ++x)
    *static_cast<GX_PixelFloat*>(GXp_PixelAddress(*src->GetLayer(), x, 0)) =
        GX_PixelFloat{values[x], -1.0f, 0.5f, values[3 - x]};
  const std::string path = Path("float.png");
  ASSERT_EQ(GX_WritePng(path.c_str(), *src->GetLayer()), 0);
  std::unique_ptr<GX_World> back = Read(path, 32);
  const float expectedAlpha[4] = {0.0f, 0.25f, 1.0f, 1.0f};  // clamped to 0..1
  for (int x = 0; x < 4; ++x) {
    const auto* p = static_cast<GX_PixelFloat*>(GXp_PixelAddress(*back->GetLayer(), x, 0));
    EXPECT_NEAR(p->alpha, expectedAlpha[x], 1.0 / 65535);
    EXPECT_EQ(p->red, 0.0f);
    EXPECT_NEAR(p->green, 0.5f, 1.0 / 65535);
  }
  std::unique_ptr<GX_World> deep = Read(path, 16);
  EXPECT_EQ(static_cast<GX_Pixel16*>(GXp_PixelAddress(*deep->GetLayer(), 2, 0))->alpha, 32768);
}

TEST_F(GxPng, UnoBuffersAreGrey) {
  struct Case {
    const char* name;
    int depth;
    double value;  // fraction of full
    int read8;
  };
  const Case kCases[] = {{"8-bit", 8, 200.0 / 255, 200}, {"16-bit", 16, 0.5, 128}, {"float", 32, 0.25, 64}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_UnoBuffer b(5, 3, c.depth);
    const int32_t rc = c.depth == 8    ? GX_FillUnoBuffer(uint8_t(c.value * 255 + 0.5), &b)
                       : c.depth == 16 ? GX_FillDeepUnoBuffer(uint16_t(c.value * 32768), &b)
                                       : GX_FillFloatUnoBuffer(float(c.value), &b);
    ASSERT_EQ(rc, 0);
    const std::string path = Path("grey.png");
    ASSERT_EQ(GX_WriteUnoPng(path.c_str(), b), 0) << GX_PngLastMessage();
    std::unique_ptr<GX_World> back = Read(path, 8);
    ASSERT_TRUE(back);
    const auto* p = static_cast<GX_Pixel8*>(GXp_PixelAddress(*back->GetLayer(), 4, 2));
    EXPECT_EQ(p->alpha, 255) << "grey files read as opaque";
    EXPECT_EQ(p->red, c.read8);
    EXPECT_EQ(p->green, c.read8);
    EXPECT_EQ(p->blue, c.read8);
  }
}

TEST_F(GxPng, FailuresAnswerCodesAndName) {
  const std::string text = Path("not_a_png.png");
  std::ofstream(text) << "hello, this is text";
  // A real PNG cut short after its header.
  std::unique_ptr<GX_World> src(GX_World::New(40, 40, 8, 0));
  const std::string whole = Path("whole.png");
  ASSERT_EQ(GX_WritePng(whole.c_str(), *src->GetLayer()), 0);
  const std::string cut = Path("cut.png");
  {
    std::ifstream in(whole, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(cut, std::ios::binary).write(bytes.data(), 50);
  }
  const std::string missing = Path("no/such/dir/x.png");

  struct Case {
    const char* name;
    std::string path;
    int depth;
    int32_t code;
    std::string message;
  };
  const Case kCases[] = {
      {"missing file", Path("missing.png"), 8, GX_Err_PngOpen, "cannot open '" + Path("missing.png") + "': No such file or directory"},
      {"text file", text, 8, GX_Err_PngFormat, "'" + text + "' is not a PNG file"},
      {"truncated", cut, 8, GX_Err_PngFormat, "cannot read '" + cut + "': "},
      {"bad depth", whole, 12, GX_Err_BadDepth, "cannot read '" + whole + "' at depth 12"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_World* w = reinterpret_cast<GX_World*>(&src);  // any non-null value
    EXPECT_EQ(GX_ReadPng(c.path.c_str(), c.depth, &w), c.code);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(std::string(GX_PngLastMessage()).substr(0, c.message.size()), c.message);
  }

  EXPECT_EQ(GX_WritePng(missing.c_str(), *src->GetLayer()), GX_Err_PngOpen);
  EXPECT_EQ(std::string(GX_PngLastMessage()), "cannot create '" + missing + "': No such file or directory");
  GX_LayerDef odd = *src->GetLayer();
  odd.depth = 12;
  EXPECT_EQ(GX_WritePng(whole.c_str(), odd), GX_Err_BadDepth);
  GX_LayerDef empty;
  EXPECT_EQ(GX_WritePng(whole.c_str(), empty), GX_Err_BadArgument);
  EXPECT_EQ(GX_ReadPng(whole.c_str(), 8, nullptr), GX_Err_BadArgument);
}

}  // namespace
