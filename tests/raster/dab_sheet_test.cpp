// SPDX-License-Identifier: MIT
// A sheet of dabs drawn the way the stamping loop draws them (a computed tip at angle 0,
// its MIP map, then scale, rotation, roundness and aspect per dab), written as PNG into
// the build folder for a person to look at, and compared with the golden sheets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "host/gx/gx_png.h"
#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"
#include "test_support.h"

namespace {

class DabSheet : public TrackedTest {};

constexpr int kCell = 64;
constexpr int kColumns = 4;
constexpr int kRows = 2;

struct Dab {
  const char* name;
  double diameter, hardness, tipRoundness;  // the computed tip
  double sx, sy, angle, roundness, aspect;  // the dab
  double fx, fy;                            // sub-pixel offset of the centre
};

const Dab kDabs[kColumns * kRows] = {
    {"hard round", 40, 1.0, 1.0, 1, 1, 0, 1, 1, 0.0, 0.0},
    {"soft round shrunk (blended levels)", 40, 0.0, 1.0, 0.6, 0.6, 0, 1, 1, 0.3, 0.6},
    {"ellipse turned 30", 50, 0.8, 0.4, 1, 1, 30, 1, 1, 0.5, 0.25},
    {"squeezed by the dab's roundness, turned -60", 44, 0.5, 1.0, 1, 1, -60, 0.3, 1, 0.1, 0.9},
    {"tiny tip", 6, 1.0, 1.0, 0.3, 0.3, 0, 1, 1, 0.7, 0.2},
    {"magnified", 8, 0.6, 1.0, 5, 5, 0, 1, 1, 0.0, 0.5},
    {"pixel aspect 2", 40, 0.7, 1.0, 1, 1, 0, 1, 2, 0.25, 0.75},
    {"mirrored ellipse turned 15", 36, 0.9, 0.5, -1.3, 0.8, 15, 1, 1, 0.4, 0.4},
};

/// Draws every dab into its cell of a new sheet.
std::unique_ptr<GX_UnoBuffer> RenderSheet(bool deep) {
  std::unique_ptr<GX_UnoBuffer> sheet(new GX_UnoBuffer(kCell * kColumns, kCell * kRows, deep ? 16 : 8));
  EXPECT_EQ(deep ? GX_FillDeepUnoBuffer(0, sheet.get()) : GX_FillUnoBuffer(0, sheet.get()), 0);
  GX_UnoBuffer cell(kCell, kCell, deep ? 16 : 8);
  const int bytes = deep ? 2 : 1;
  for (int i = 0; i < kColumns * kRows; ++i) {
    const Dab& d = kDabs[i];
    K_ComputedBrushTip tip(d.diameter, d.hardness, d.tipRoundness, 0, false, deep);
    K_BrushMIPMap map(tip);
    map.SetTransform({d.sx, d.sy}, d.angle, d.roundness, d.aspect, {kCell / 2 + d.fx, kCell / 2 + d.fy});
    EXPECT_EQ(deep ? GX_FillDeepUnoBuffer(0, &cell) : GX_FillUnoBuffer(0, &cell), 0);
    map.RenderInto(cell);
    const int left = (i % kColumns) * kCell, top = (i / kColumns) * kCell;
    for (int y = 0; y < kCell; ++y)
      std::memcpy(static_cast<unsigned char*>(sheet->GetData()) + std::size_t(top + y) * std::size_t(sheet->GetRowBytes()) +
                      std::size_t(left * bytes),
                  cell.Row<unsigned char>(0) + std::size_t(y) * std::size_t(cell.GetRowBytes()), std::size_t(kCell * bytes));
  }
  return sheet;
}

int Sample(const GX_UnoBuffer& b, int x, int y) {
  return b.GetDepth() == 16 ? b.Row<uint16_t>(y)[x] : b.Row<uint8_t>(y)[x];
}
int Sample(const GX_World& w, int x, int y, int depth) {
  const void* p = GXp_PixelAddress(*w.GetLayer(), x, y);
  return depth == 16 ? static_cast<const GX_Pixel16*>(p)->red : static_cast<const GX_Pixel8*>(p)->red;
}

void CompareWithGolden(const GX_UnoBuffer& sheet, const char* name, double tolerance) {
  const int depth = sheet.GetDepth();
  const double full = depth == 16 ? 32768.0 : 255.0;
  const std::filesystem::path outDir = std::filesystem::path(KSTROKE_BINARY_DIR) / "test_out" / "raster";
  std::filesystem::create_directories(outDir);
  const std::string actual = (outDir / name).string();
  ASSERT_EQ(GX_WriteUnoPng(actual.c_str(), sheet), 0) << GX_PngLastMessage();

  const std::string golden = (std::filesystem::path(KSTROKE_GOLDEN_DIR) / "raster" / name).string();
  const char* update = std::getenv("KSTROKE_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(std::filesystem::path(golden).parent_path());
    ASSERT_EQ(GX_WriteUnoPng(golden.c_str(), sheet), 0) << GX_PngLastMessage();
  }
  GX_World* raw = nullptr;
  ASSERT_EQ(GX_ReadPng(golden.c_str(), depth, &raw), 0) << GX_PngLastMessage();
  std::unique_ptr<GX_World> expected(raw);
  ASSERT_EQ(expected->Width(), sheet.GetWidth());
  ASSERT_EQ(expected->Height(), sheet.GetHeight());

  GX_UnoBuffer diff(sheet.GetWidth(), sheet.GetHeight(), 8);
  double maxDiff = 0;
  int differing = 0;
  for (int y = 0; y < sheet.GetHeight(); ++y)
    for (int x = 0; x < sheet.GetWidth(); ++x) {
      const double d = std::abs(Sample(sheet, x, y) - Sample(*expected, x, y, depth)) / full;
      maxDiff = std::max(maxDiff, d);
      differing += d > tolerance;
      diff.Row<uint8_t>(y)[x] = d > tolerance ? 255 : 0;
    }
  if (differing > 0) {
    const std::string diffPath = (outDir / (std::string("diff_") + name)).string();
    EXPECT_EQ(GX_WriteUnoPng(diffPath.c_str(), diff), 0);
  }
  EXPECT_EQ(differing, 0) << name << ": largest difference " << maxDiff << " of full scale; actual "
                          << actual << ", golden " << golden;
}

TEST_F(DabSheet, MatchesGoldenAt8Bits) {
  std::unique_ptr<GX_UnoBuffer> sheet = RenderSheet(false);
  CompareWithGolden(*sheet, "dab_sheet_8.png", 0.0);
}

TEST_F(DabSheet, MatchesGoldenAt16Bits) {
  std::unique_ptr<GX_UnoBuffer> sheet = RenderSheet(true);
  CompareWithGolden(*sheet, "dab_sheet_16.png", 0.0005);
}

TEST_F(DabSheet, DepthsAgree) {
  // The same dabs at 8 and 16 bits differ only by rounding and the 8-bit steps.
  std::unique_ptr<GX_UnoBuffer> a = RenderSheet(false);
  std::unique_ptr<GX_UnoBuffer> b = RenderSheet(true);
  for (int y = 0; y < a->GetHeight(); ++y)
    for (int x = 0; x < a->GetWidth(); ++x)
      ASSERT_NEAR(Sample(*a, x, y) / 255.0, Sample(*b, x, y) / 32768.0, 0.02) << x << "," << y;
}

}  // namespace
