// SPDX-License-Identifier: MIT
// A sheet of dabs drawn the way the stamping loop draws them (a computed tip at angle 0,
// its MIP map, then scale, rotation, roundness and aspect per dab), written as PNG into
// the build folder for a person to look at, and compared with the golden sheets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "golden_support.h"
#include "host/gx/gx_png.h"
#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"
#include "test_support.h"
#include "tips/tip_fixtures.h"

namespace {

class DabSheet : public TrackedTest {};

constexpr int kCell = 64;
constexpr int kColumns = 4;
constexpr int kRows = 2;

struct SheetDab {
  const char* name;
  double diameter, hardness, tipRoundness;  // the computed tip
  double sx, sy, angle, roundness, aspect;  // the dab
  double fx, fy;                            // sub-pixel offset of the centre
};

const SheetDab kDabs[kColumns * kRows] = {
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
  FillUno(sheet.get(), 0);
  GX_UnoBuffer cell(kCell, kCell, deep ? 16 : 8);
  const int bytes = deep ? 2 : 1;
  for (int i = 0; i < kColumns * kRows; ++i) {
    const SheetDab& d = kDabs[i];
    K_ComputedBrushTip tip(d.diameter, d.hardness, d.tipRoundness, 0, false, deep);
    K_BrushMIPMap map(tip);
    map.SetTransform({d.sx, d.sy}, d.angle, d.roundness, d.aspect, {kCell / 2 + d.fx, kCell / 2 + d.fy});
    FillUno(&cell, 0);
    map.RenderInto(cell);
    const int left = (i % kColumns) * kCell, top = (i / kColumns) * kCell;
    for (int y = 0; y < kCell; ++y)
      std::memcpy(sheet->Row<unsigned char>(top + y) + left * bytes, cell.Row<unsigned char>(y),
                  std::size_t(kCell * bytes));
  }
  return sheet;
}

TEST_F(DabSheet, MatchesGoldens) {
  // Written into the build folder for a person to look at, then compared as read back,
  // the way the golden is read.
  struct Case { const char* name; bool deep; double tolerance; };
  const Case kCases[] = {{"dab_sheet_8.png", false, 0.0}, {"dab_sheet_16.png", true, 0.0005}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path dir = std::filesystem::path(KSTROKE_BINARY_DIR) / "test_out" / "raster";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / (std::string("drawn_") + c.name)).string();
    ASSERT_EQ(GX_WriteUnoPng(file.c_str(), *RenderSheet(c.deep)), 0) << GX_PngLastMessage();
    GX_World* raw = nullptr;
    ASSERT_EQ(GX_ReadPng(file.c_str(), c.deep ? 16 : 8, &raw), 0) << GX_PngLastMessage();
    const std::unique_ptr<GX_World> sheet(raw);
    ExpectMatchesGolden(*sheet, "raster", c.name, c.tolerance);
  }
}

TEST_F(DabSheet, DepthsAgree) {
  // The same dabs at 8 and 16 bits differ only by rounding and the 8-bit steps.
  std::unique_ptr<GX_UnoBuffer> a = RenderSheet(false);
  std::unique_ptr<GX_UnoBuffer> b = RenderSheet(true);
  for (int y = 0; y < a->GetHeight(); ++y)
    for (int x = 0; x < a->GetWidth(); ++x)
      ASSERT_NEAR(SampleOf(*a, x, y) / 255.0, SampleOf(*b, x, y) / 32768.0, 0.02) << x << "," << y;
}

}  // namespace
