// SPDX-License-Identifier: MIT
// Brush tip outlines: the figures, pens and transforms drawn (through the recording
// surface), the record fields written back, release on failure, and golden images.
#include "kstroke/tip_outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "golden_support.h"
#include "host/inkwork/inkwork_cairo.h"
#include "host/inkwork/inkwork_recording.h"
#include "test_support.h"

namespace {

namespace ink = kelvo::inkwork;
using Kind = ink::RecordedOp::Kind;
using ElemKind = ink::PathElement::Kind;
using paint_brushtip::BrushTipRec;

struct Stroke {
  std::vector<ink::PathElement> path; const ink::Path* pathId; ink::Color color; float width;
  ink::Transform transform;
};

struct Drawing {
  ink::RecordedOps ops; std::vector<Stroke> strokes; std::vector<std::pair<ink::Color, float>> pens;
  int32_t pathsMade = 0;
};

Drawing Draw(BrushTipRec& rec) {
  ink::RecordingSupplier supplier;
  ink::RecordingSurfaceP surface = ink::RecordingSurface::Create(400, 400);
  ink::Inkwork context(&supplier, surface);
  paint_brushtip::DrawTipOutline(&context, rec);
  Drawing d;
  d.ops = surface->GetOps();
  for (const auto& op : d.ops)
    if (op.kind == Kind::kStrokePath) d.strokes.push_back({op.path, op.pathId, op.penColor, op.penWidth, op.current});
  d.pens = supplier.PensMade();
  d.pathsMade = supplier.PathsMade();
  return d;
}

BrushTipRec Rec(double diameter, double hardness, double zoom = 1.0, double roundness = 100, double angle = 0,
                int32_t style = 0) {
  BrushTipRec rec;
  rec.diameter = diameter;
  rec.hardness = hardness;
  rec.zoom = zoom;
  rec.roundness = roundness;
  rec.angle = angle;
  rec.style = style;
  return rec;
}

// A point (an ink::Point or a record's centre) at (x, y), within `tolerance`.
template <class P>
void ExpectAt(const P& p, double x, double y, double tolerance = 0) {
  EXPECT_NEAR(p.x, x, tolerance);
  EXPECT_NEAR(p.y, y, tolerance);
}

// The code of the ink::Error `f` throws; -1 when it throws none.
template <class F>
int32_t InkErrorCode(F&& f) {
  try {
    f();
  } catch (const ink::Error& e) {
    return e.code();
  }
  return -1;
}

bool SameColor(const ink::Color& a, const ink::Color& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

const ink::Color kWhite{1, 1, 1, 1};
const ink::Color kGreen{0, 1, 0, 1};
const ink::Color kRed{1, 0, 0, 1};
const ink::Color kBlack{0, 0, 0, 1};

// Arcs among a path's elements (the outline circle, the hard core).
std::vector<ink::PathElement> Arcs(const std::vector<ink::PathElement>& path) {
  std::vector<ink::PathElement> arcs;
  for (const auto& e : path) {
    if (e.kind == ElemKind::kArc) arcs.push_back(e);
  }
  return arcs;
}

class TipOutline : public TrackedTest {};

// Outline circles and pens
// ==================================================================================

TEST_F(TipOutline, CircleRadiiCentresAndPens) {
  struct Case {
    const char* name; double diameter, hardness, zoom; bool showHardness; float outerRadius;
    float coreRadius;  // 0: no core circle
    float centre;      // both components (scale 1)
    float penWidth;
  };
  const Case kCases[] = {
      // Soft brushes draw at 0.75 of their diameter.
      {"soft 100", 100, 0, 1, false, 37.5f, 0, 52, 1.5f},
      // 100 × (0.75 + 0.25 × (2 − 2 / 1.5)) = 91.666…
      {"half hard", 100, 50, 1, false, 45.833333f, 0, 52, 1.5f},
      {"hard zoom 2", 40, 100, 2, false, 40, 0, 42, 1.5f},
      // Full diameter outside, (0.5 × 99 + 1) / 2 inside.
      {"show hardness 50", 100, 50, 1, true, 50, 25.25f, 52, 1.5f},
      {"show hardness 0", 100, 0, 1, true, 50, 0.5f, 52, 1.5f},
      // Core radius (0 × 99 + 1) × 0.1 / 2 = 0.05 is too small to draw.
      {"core under 0.1", 100, 0, 0.1, true, 5, 0, 7, 1.5f},
      // The outline diameter is clamped to 1..2500.
      {"clamped up", 0.5, 100, 1, false, 0.5f, 0, 2, 1.0f},
      {"clamped down", 3000, 100, 0.1, false, 125, 0, 152, 1.5f},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BrushTipRec rec = Rec(c.diameter, c.hardness, c.zoom);
    rec.showHardness = c.showHardness;
    const Drawing d = Draw(rec);

    ExpectAt(rec.center, c.centre, c.centre);
    ASSERT_EQ(d.strokes.size(), 4u);  // outline and core: shadow, then colour
    const auto outer = Arcs(d.strokes[0].path);
    ASSERT_GE(outer.size(), 1u);
    EXPECT_FLOAT_EQ(outer[0].radius, c.outerRadius);
    ExpectAt(outer[0].point, c.centre, c.centre);
    EXPECT_EQ(outer[0].startDeg, 0.0f);
    EXPECT_EQ(outer[0].sweepDeg, 360.0f);
    const auto core = Arcs(d.strokes[1].path);
    if (c.coreRadius == 0) {
      EXPECT_TRUE(core.empty());
    } else {
      ASSERT_EQ(core.size(), 1u);
      EXPECT_FLOAT_EQ(core[0].radius, c.coreRadius);
      EXPECT_EQ(core[0].point.x, c.centre);
    }
    // Pens: the style colour (white for style 0), then the black shadow.
    ASSERT_EQ(d.pens.size(), 2u);
    EXPECT_TRUE(SameColor(d.pens[0].first, kWhite));
    EXPECT_EQ(d.pens[0].second, c.penWidth);
    EXPECT_TRUE(SameColor(d.pens[1].first, kBlack));
    EXPECT_EQ(d.pens[1].second, 0.5f);
    EXPECT_EQ(d.pathsMade, 2);
  }
}

TEST_F(TipOutline, ShadowThenColourInSavedStates) {
  BrushTipRec rec = Rec(100, 0, 1, 50, 0, 1);
  const Drawing d = Draw(rec);

  const Kind kExpected[] = {
      Kind::kSaveState,  Kind::kConcat,       Kind::kSaveState,  Kind::kConcat,
      Kind::kStrokePath, Kind::kStrokePath,   Kind::kRestoreState, Kind::kStrokePath,
      Kind::kStrokePath, Kind::kRestoreState, Kind::kSaveState,  Kind::kConcat,
      Kind::kStrokePath, Kind::kRestoreState, Kind::kStrokePath};
  ASSERT_EQ(d.ops.size(), std::size(kExpected));
  for (std::size_t i = 0; i < d.ops.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(d.ops[i].kind, kExpected[i]);
  }
  EXPECT_EQ(d.ops.back().depth, 0);
  // Outline: shadow strokes A then B with the black pen, colour strokes A then B.
  const ink::Path* outline = d.strokes[0].pathId;
  const ink::Path* core = d.strokes[1].pathId;
  EXPECT_NE(outline, core);
  EXPECT_EQ(d.strokes[2].pathId, outline);
  EXPECT_EQ(d.strokes[3].pathId, core);
  for (int i : {0, 1}) EXPECT_TRUE(SameColor(d.strokes[i].color, kBlack));
  for (int i : {2, 3}) EXPECT_TRUE(SameColor(d.strokes[i].color, kGreen));
  // The shadow offset is concatenated inside the shape transform: it moves points
  // before the shape transform does.
  const ink::Transform& shape = d.ops[1].matrix;
  EXPECT_EQ(d.ops[3].matrix, ink::Transform::Translation(1, 1));
  EXPECT_EQ(d.strokes[0].transform, ink::Transform::Compose(ink::Transform::Translation(1, 1), shape));
  EXPECT_EQ(d.strokes[2].transform, shape);
  // The centre mark is drawn without the shape transform.
  EXPECT_EQ(d.strokes[4].transform, ink::Transform::Translation(1, 1));
  EXPECT_EQ(d.strokes[5].transform, ink::Transform());
}

TEST_F(TipOutline, ShadowOffsetTurnsWithTheAngle) {
  struct Case { const char* name; double angle; float dx, dy; };
  // (1, 1) turned: (cos a − sin a, cos a + sin a).
  const Case kCases[] = {
      {"0", 0, 1, 1}, {"45", 45, 0, 1.41421356f}, {"90", 90, -1, 1}, {"180", 180, -1, -1},
      {"-90", -90, 1, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BrushTipRec rec = Rec(100, 100, 1, 100, c.angle);
    const Drawing d = Draw(rec);
    // The shadow translation is the concatenation right before the first stroke.
    const ink::RecordedOp* shadow = nullptr;
    for (const auto& op : d.ops) {
      if (op.kind == Kind::kStrokePath) break;
      if (op.kind == Kind::kConcat) shadow = &op;
    }
    ASSERT_NE(shadow, nullptr);
    EXPECT_NEAR(shadow->matrix.m[2][0], c.dx, 1e-6);
    EXPECT_NEAR(shadow->matrix.m[2][1], c.dy, 1e-6);
    EXPECT_EQ(shadow->matrix.m[0][0], 1.0f);
    EXPECT_EQ(shadow->matrix.m[1][1], 1.0f);
  }
}

// Shape transform
// ==================================================================================

TEST_F(TipOutline, ShapeTransformSquashesTurnsAndStretchesAboutTheCentre) {
  struct Case {
    const char* name;
    double roundness, angle;
    float sx, sy;
    bool transformed;
    // Where c + (50, 0) and c + (0, 50) land, relative to the centre c = (60, 70).
    float x0, y0, x1, y1;
  };
  const float kSin30 = 0.5f, kCos30 = 0.8660254f;
  const Case kCases[] = {
      {"none", 100, 0, 1, 1, false, 50, 0, 0, 50}, {"squash", 50, 0, 1, 1, true, 50, 0, 0, 25},
      // Roundness under 1 counts as 1.
      {"roundness floor", 0.25, 0, 1, 1, true, 50, 0, 0, 0.5f},
      // A positive angle turns counter-clockwise on screen (y down).
      {"turn 30", 100, 30, 1, 1, true, 50 * kCos30, -50 * kSin30, 50 * kSin30, 50 * kCos30},
      {"turn 390 is 30", 100, 390, 1, 1, true, 50 * kCos30, -50 * kSin30, 50 * kSin30,
       50 * kCos30},
      {"turn 90", 100, 90, 1, 1, true, 0, -50, 50, 0},
      {"turn -90", 100, -90, 1, 1, true, 0, 50, -50, 0},
      {"stretch", 100, 0, 2, 0.5f, true, 100, 0, 0, 25},
      // Squash first, then turn, then stretch.
      {"all three", 50, 90, 2, 1, true, 0, -50, 50, 0},
      {"squash and turn", 50, 30, 1, 1, true, 50 * kCos30, -50 * kSin30, 25 * kSin30,
       25 * kCos30},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BrushTipRec rec = Rec(100, 100, 1, c.roundness, c.angle);
    rec.center = {60, 70};
    rec.scale = {c.sx, c.sy};
    const Drawing d = Draw(rec);

    const ink::Transform& colour = d.strokes[2].transform;
    if (!c.transformed) {
      EXPECT_EQ(colour, ink::Transform());
      EXPECT_EQ(std::count_if(d.ops.begin(), d.ops.end(),
                              [](const ink::RecordedOp& op) { return op.kind == Kind::kConcat; }),
                1);  // the shadow only
    }
    ExpectAt(colour.Apply({60, 70}), 60, 70, 1e-4);
    ExpectAt(colour.Apply({110, 70}), 60 + c.x0, 70 + c.y0, 1e-4);
    ExpectAt(colour.Apply({60, 120}), 60 + c.x1, 70 + c.y1, 1e-4);
  }
}

// Tiny outlines and centre marks
// ==================================================================================

TEST_F(TipOutline, TinyOutlineGetsTicksAndLosesItsShape) {
  BrushTipRec rec = Rec(3, 100, 1, 40, 30);
  rec.scale = {2, 1};
  const Drawing d = Draw(rec);

  EXPECT_EQ(rec.roundness, 100.0);
  ExpectAt(rec.center, 5, 3);  // floor(3 × 2 × 0.5) + 2, floor(1.5) + 2
  ASSERT_EQ(d.pens.size(), 2u);
  EXPECT_EQ(d.pens[0].second, 1.0f);
  ASSERT_EQ(d.strokes.size(), 4u);
  EXPECT_EQ(d.strokes[2].transform, ink::Transform());  // no shape transform

  const auto& a = d.strokes[2].path;
  ASSERT_EQ(a.size(), 9u);
  EXPECT_EQ(a[0].kind, ElemKind::kArc);
  EXPECT_EQ(a[0].radius, 1.5f);
  const float kTicks[4][4] = {{0, 6, 0, 7}, {0, -6, 0, -7}, {6, 0, 7, 0}, {-6, 0, -7, 0}};
  for (int t = 0; t < 4; ++t) {
    SCOPED_TRACE(t);
    const auto& from = a[1 + 2 * t];
    const auto& to = a[2 + 2 * t];
    EXPECT_EQ(from.kind, ElemKind::kMoveTo);
    EXPECT_EQ(to.kind, ElemKind::kLineTo);
    ExpectAt(from.point, 5 + kTicks[t][0], 3 + kTicks[t][1]);
    ExpectAt(to.point, 5 + kTicks[t][2], 3 + kTicks[t][3]);
  }
}

TEST_F(TipOutline, CentreMarkFollowsStyleAndSize) {
  enum Mark { kNone, kPlus, kDash, kDiagonal };
  struct Case {
    const char* name; int32_t style;
    double diameter;  // hardness 100, zoom 1: the outline size S
    ink::Color colour; Mark mark;
  };
  const Case kCases[] = {
      {"white never", 0, 20, kWhite, kNone}, {"plus", 1, 20, kGreen, kPlus},
      {"dash", 2, 20, kRed, kDash}, {"diagonal green", 3, 20, kGreen, kDiagonal},
      {"diagonal red small", 4, 6, kRed, kDiagonal}, {"diagonal tiny", 3, 3, kGreen, kDiagonal},
      {"plus needs more than 8", 1, 8, kGreen, kNone}, {"dash just big", 2, 8.5, kRed, kDash},
      {"plus small", 1, 6, kGreen, kNone}, {"unknown style is white", 7, 20, kWhite, kNone},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BrushTipRec rec = Rec(c.diameter, 100, 1, 30, 20, c.style);  // the mark must ignore the shape transform
    rec.center = {50, 60};
    const Drawing d = Draw(rec);

    EXPECT_TRUE(SameColor(d.strokes[2].color, c.colour));
    if (c.mark == kNone) {
      EXPECT_EQ(d.strokes.size(), 4u);
      EXPECT_EQ(d.pens.size(), 2u);
      continue;
    }
    ASSERT_EQ(d.strokes.size(), 6u);
    ASSERT_EQ(d.pens.size(), 3u);
    const Stroke& shadow = d.strokes[4];
    const Stroke& mark = d.strokes[5];
    EXPECT_TRUE(SameColor(shadow.color, kBlack));
    EXPECT_EQ(shadow.width, 0.5f);
    EXPECT_TRUE(SameColor(mark.color, c.colour));
    EXPECT_EQ(mark.width, 2.0f);
    EXPECT_EQ(mark.transform, ink::Transform());
    EXPECT_EQ(shadow.pathId, mark.pathId);

    std::vector<float> coords;
    for (const auto& e : mark.path) {
      coords.push_back(static_cast<float>(e.kind));
      coords.push_back(e.point.x - 50);
      coords.push_back(e.point.y - 60);
    }
    const float m = 0, l = 1;
    const float v = 0.65f * static_cast<float>(c.diameter) / 2;
    std::vector<float> expected;
    if (c.mark == kDiagonal) expected = {m, v, -v, l, -v, v};
    if (c.mark == kDash) expected = {m, 4, 0, l, -4, 0};
    if (c.mark == kPlus) expected = {m, 4, 0, l, -4, 0, m, 0, 4, l, 0, -4};
    ASSERT_EQ(coords.size(), expected.size());
    for (std::size_t i = 0; i < coords.size(); ++i) EXPECT_NEAR(coords[i], expected[i], 1e-5) << i;
  }
}

TEST_F(TipOutline, GivenCentreComponentsAreKept) {
  BrushTipRec rec = Rec(100, 100);
  rec.center = {10.25f, -1};
  rec.scale = {3, 1};
  const Drawing d = Draw(rec);
  ExpectAt(rec.center, 10.25, 52);
  EXPECT_EQ(Arcs(d.strokes[0].path)[0].point.x, 10.25f);
  EXPECT_EQ(rec.roundness, 100.0);

  rec.center = {-1, 7.5f};
  Draw(rec);
  ExpectAt(rec.center, 152, 7.5);  // floor(100 × 3 × 0.5) + 2
}

// Release and balance on failure
// ==================================================================================

TEST_F(TipOutline, FailuresReleaseEverythingAndBalanceTheSurface) {
  BrushTipRec base = Rec(100, 50, 1, 50, 0, 1);
  base.showHardness = true;
  BrushTipRec probe = base;
  ASSERT_EQ(Draw(probe).ops.size(), 15u);

  ink::RecordingSupplier supplier;
  for (long failAt = 0; failAt < 15; ++failAt) {
    SCOPED_TRACE(failAt);
    ink::RecordingSurfaceP surface = ink::RecordingSurface::Create(200, 200);
    surface->FailAtOp(failAt);
    const std::size_t live = Y_MemTrackedObject::LiveObjects();
    ink::Inkwork context(&supplier, surface);
    BrushTipRec rec = base;
    EXPECT_EQ(InkErrorCode([&] { paint_brushtip::DrawTipOutline(&context, rec); }), INK_Err_Backend);
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live);
    if (!surface->GetOps().empty()) {
      EXPECT_EQ(surface->GetOps().back().depth, 0);
    }
  }

  // Allocation failures while making pens and paths.
  for (long allowed = 0; allowed < 5; ++allowed) {
    SCOPED_TRACE(allowed);
    ink::RecordingSurfaceP surface = ink::RecordingSurface::Create(200, 200);
    ink::Inkwork context(&supplier, surface);
    const std::size_t live = Y_MemTrackedObject::LiveObjects();
    BrushTipRec rec = base;
    Y_MemTrackedObject::FailAllocationsAfter(allowed);
    EXPECT_THROW(paint_brushtip::DrawTipOutline(&context, rec), std::bad_alloc);
    Y_MemTrackedObject::FailAllocationsAfter(-1);
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live);
  }
}

// Outline images
// ==================================================================================

TEST_F(TipOutline, ImageSizeAndRecordWriteBack) {
  struct Case {
    const char* name; double zoom, diameter; float sx; V_Vector2T<float> centre;
    int32_t width, height; double zoomAfter, diameterAfter; float centreX, centreY;
  };
  const Case kCases[] = {
      {"capped at 1000", 2, 800, 1, {-1, -1}, 1004, 1004, 1, 1000, 502, 502},
      {"just over 1000", 0.5, 2001, 1, {-1, -1}, 1004, 1004, 1, 1000, 502, 502},
      {"exactly 1000", 2, 500, 1, {-1, -1}, 1004, 1004, 2, 500, 502, 502},
      {"plain", 1, 100, 1, {-1, -1}, 104, 104, 1, 100, 52, 52},
      {"odd", 1, 101, 1, {-1, -1}, 105, 105, 1, 101, 52, 52},
      {"wide", 1, 100, 1.5f, {-1, -1}, 154, 104, 1, 100, 77, 52},
      // Up to 4 screen pixels the image is sized for 12 and centred by halving.
      {"tiny", 1, 3, 1, {-1, -1}, 16, 16, 1, 3, 8, 8},
      {"tiny at 4", 2, 2, 1, {-1, -1}, 16, 16, 2, 2, 8, 8},
      {"tiny wide", 1, 3, 1.3f, {-1, -1}, 20, 16, 1, 3, 10, 8},
      {"tiny given centre", 1, 3, 1, {3, 4}, 16, 16, 1, 3, 3, 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ink::RecordingSupplier supplier;
    BrushTipRec rec = Rec(c.diameter, 100, c.zoom);
    rec.scale = {c.sx, 1};
    rec.center = c.centre;
    const std::size_t live = Y_MemTrackedObject::LiveObjects();
    ink::ImageP image = paint_brushtip::CreateTipOutlineImage(&supplier, rec);
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 1);  // the image only

    ASSERT_EQ(supplier.SurfaceRequests().size(), 1u);
    EXPECT_EQ(supplier.SurfaceRequests()[0].width, c.width);
    EXPECT_EQ(supplier.SurfaceRequests()[0].height, c.height);
    EXPECT_EQ(supplier.SurfaceRequests()[0].options, 0);
    EXPECT_EQ(image->GetWidth(), c.width);
    EXPECT_EQ(image->GetHeight(), c.height);
    EXPECT_EQ(rec.zoom, c.zoomAfter);
    EXPECT_EQ(rec.diameter, c.diameterAfter);
    ExpectAt(rec.center, c.centreX, c.centreY);

    const ink::RecordedOps& ops = supplier.SurfaceOps(0);
    ASSERT_GE(ops.size(), 3u);
    EXPECT_EQ(ops.front().kind, Kind::kSetMode);
    EXPECT_EQ(ops.front().mode, 2);
    EXPECT_EQ(ops.back().kind, Kind::kGetImage);
    EXPECT_EQ(ops.back().depth, 0);
  }
}

TEST_F(TipOutline, ImageFailuresReleaseTheSurface) {
  for (long failAt : {0L, 1L, 6L, 10L}) {
    SCOPED_TRACE(failAt);
    ink::CairoSupplier cairo;
    ink::RecordingSupplier supplier(&cairo);
    supplier.FailSurfacesAtOp(failAt);
    BrushTipRec rec = Rec(100, 100);
    const std::size_t live = Y_MemTrackedObject::LiveObjects();
    EXPECT_THROW(paint_brushtip::CreateTipOutlineImage(&supplier, rec), ink::Error);
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live);
  }
  // A size the supplier refuses comes back as its error.
  ink::CairoSupplier cairo;
  BrushTipRec rec = Rec(1000, 100);
  rec.scale = {40, 1};
  EXPECT_EQ(InkErrorCode([&] { paint_brushtip::CreateTipOutlineImage(&cairo, rec); }), INK_Err_BadArgument);
}

// Golden images
// ==================================================================================

struct GoldenCase {
  const char* name; double diameter, hardness, roundness, angle, zoom; int32_t style;
  bool showHardness; float sx, sy;
};

TEST_F(TipOutline, ImagesMatchGoldens) {
  const GoldenCase kCases[] = {
      {"soft_white", 100, 0, 100, 0, 1, 0, false, 1, 1},
      {"hardness_green_plus", 60, 30, 40, 30, 2, 1, true, 1, 1},
      {"red_dash_stretched", 80, 80, 70, -20, 1, 2, false, 1.5f, 1},
      {"diagonal_red", 50, 100, 60, 45, 1.5, 4, false, 1, 1},
      {"tiny_diagonal", 3, 100, 100, 0, 1, 3, false, 1, 1},
  };
  for (const GoldenCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ink::CairoSupplier supplier;
    BrushTipRec rec = Rec(c.diameter, c.hardness, c.zoom, c.roundness, c.angle, c.style);
    rec.showHardness = c.showHardness;
    rec.scale = {c.sx, c.sy};
    // Compared as the PNG holds it, straight colour: stricter than premultiplied
    // where the outline is faint.
    const std::string file = TestScratchDir() + c.name + ".png";
    paint_brushtip::CreateTipOutlineImage(&supplier, rec)->WritePng(file);
    GX_World* raw = nullptr;
    ASSERT_EQ(GX_ReadPng(file.c_str(), 8, &raw), 0) << GX_PngLastMessage();
    const std::unique_ptr<GX_World> image(raw);
    ExpectMatchesGolden(*image, "outline", c.name + std::string(".png"), 2.0 / 255);
  }
}

}  // namespace
