// SPDX-License-Identifier: MIT
// Brush tip outlines.
//
// The outline circle has the tip's effective diameter D: a soft brush looks smaller
// than its nominal diameter, so D runs from 0.75 × diameter (hardness 0) to the full
// diameter (hardness 100) along 2 − 2 / (h + 1), h the hardness as a fraction. Roundness,
// angle and the extra scale are a transform of the circle about its centre; the centre
// mark is drawn untransformed so it stays a crisp plus, dash or diagonal. Every figure is
// stroked twice: a 0.5-pixel black shadow offset by (1, 1) turned with the brush angle,
// then the style's colour. Outlines under 4 screen pixels become a circle with four ticks
// at 6..7 pixels, so a tiny brush still shows where it is.
#include "kstroke/tip_outline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace paint_brushtip {

namespace ink = kelvo::inkwork;

namespace {

constexpr float kOutlineWidth = 1.5f;
constexpr float kTinyOutlineWidth = 1.0f;
constexpr float kShadowWidth = 0.5f;
constexpr float kMarkWidth = 2.0f;
constexpr float kTinySize = 4.0f;    // screen pixels: below this, ticks instead of shape
constexpr float kBigSize = 8.0f;     // screen pixels: above this, room for a centre mark
constexpr float kTickInner = 6.0f;
constexpr float kTickOuter = 7.0f;
constexpr float kMarkHalf = 4.0f;
constexpr float kDiagonalFraction = 0.65f;
constexpr double kMaxImageSize = 1000.0;  // screen pixels of a CreateTipOutlineImage
constexpr float kTinyImageSize = 12.0f;

const ink::Color kWhite{1, 1, 1, 1};
const ink::Color kGreen{0, 1, 0, 1};
const ink::Color kRed{1, 0, 0, 1};
const ink::Color kShadow{0, 0, 0, 1};

// Row-vector 3 × 3 in double while it is built; the surface takes floats.
struct Mat {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// a then b: (x, y, 1) · a · b.
Mat Then(const Mat& a, const Mat& b) {
  Mat r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += a.m[i][k] * b.m[k][j];
      r.m[i][j] = sum;
    }
  }
  return r;
}

Mat ScaleAbout(double cx, double cy, double sx, double sy) {
  Mat s;
  s.m[0][0] = sx;
  s.m[1][1] = sy;
  s.m[2][0] = (1 - sx) * cx;
  s.m[2][1] = (1 - sy) * cy;
  return s;
}

// Turns +x toward +y by `degrees` about (cx, cy): on a y-down grid, clockwise.
Mat RotateAbout(double cx, double cy, double degrees) {
  const double rad = degrees * 0.017453292519943295;
  const double c = std::cos(rad);
  const double s = std::sin(rad);
  Mat r;
  r.m[0][0] = c;
  r.m[0][1] = s;
  r.m[1][0] = -s;
  r.m[1][1] = c;
  r.m[2][0] = (1 - c) * cx + s * cy;
  r.m[2][1] = (1 - c) * cy - s * cx;
  return r;
}

ink::Transform ToTransform(const Mat& m) {
  ink::Transform t;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) t.m[i][j] = static_cast<float>(m.m[i][j]);
  }
  return t;
}

// Styles outside 0..4 draw as the plain white outline.
int32_t NormalStyle(int32_t style) { return style >= 0 && style <= 4 ? style : 0; }

const ink::Color& StyleColor(int32_t style) {
  switch (style) {
    case 1:
    case 3: return kGreen;
    case 2:
    case 4: return kRed;
    default: return kWhite;
  }
}

// Effective outline diameter in brush pixels (see the file comment).
double OutlineDiameter(const BrushTipRec& rec) {
  const double h = rec.showHardness ? 100.0 : rec.hardness;
  const double d = rec.diameter * (0.75 + 0.25 * (2.0 - 2.0 / (h / 100.0 + 1.0)));
  return std::clamp(d, 1.0, 2500.0);
}

ink::Point Offset(const V_Vector2T<float>& c, float dx, float dy) { return {c.x + dx, c.y + dy}; }

// Keeps a surface's state balanced: Restore() on the normal path, and a best-effort
// restore when an exception leaves the scope (a broken surface may refuse it).
class SavedState {
public:
  explicit SavedState(ink::Surface* surface) : surface_(surface) { surface_->SaveState(); }
  SavedState(const SavedState&) = delete;
  SavedState& operator=(const SavedState&) = delete;
  ~SavedState() {
    if (surface_ == nullptr) return;
    try {
      surface_->RestoreState();
    } catch (const std::exception&) {
      // Already unwinding from the surface's own failure; that one is the one to report.
    }
  }
  // If the restore itself fails, the destructor tries once more while unwinding.
  void Restore() {
    surface_->RestoreState();
    surface_ = nullptr;
  }

private:
  ink::Surface* surface_;
};

// Shadow with pen `shadow` under translation `offset`, then colour with `pen`.
void StrokeTwice(ink::Surface* surface, const ink::Transform& offset,
                 const ink::Path* const* paths, int count, const ink::Pen& shadow,
                 const ink::Pen& pen) {
  SavedState state(surface);
  surface->Concat(offset);
  for (int i = 0; i < count; ++i) surface->StrokePath(*paths[i], shadow);
  state.Restore();
  for (int i = 0; i < count; ++i) surface->StrokePath(*paths[i], pen);
}

// Saturating conversion, so an absurd size reaches the supplier as an error rather
// than as undefined behaviour.
int32_t TruncToInt32(double v) {
  if (!(v > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(v);
}

}  // namespace

// Outline drawing
// ==================================================================================

void DrawTipOutline(ink::Inkwork* context, BrushTipRec& rec) {
  ink::SupplierInterface* supplier = context->GetSupplier();
  ink::Surface* surface = context->GetSurface();
  const int32_t style = NormalStyle(rec.style);

  const double outlineDiameter = OutlineDiameter(rec);
  const float size = static_cast<float>(outlineDiameter * rec.zoom);  // screen pixels
  const bool tiny = size < kTinySize;

  ink::PathP outline = supplier->MakePath();
  ink::PathP core = supplier->MakePath();
  if (tiny) rec.roundness = 100.0;
  ink::PenP pen = supplier->MakePen(StyleColor(style), tiny ? kTinyOutlineWidth : kOutlineWidth);
  ink::PenP shadowPen = supplier->MakePen(kShadow, kShadowWidth);

  if (rec.center.x == -1.0f) {
    rec.center.x = static_cast<float>(std::floor(rec.diameter * rec.zoom * rec.scale.x * 0.5) + 2);
  }
  if (rec.center.y == -1.0f) {
    rec.center.y = static_cast<float>(std::floor(rec.diameter * rec.zoom * 0.5) + 2);
  }
  const V_Vector2T<float> c = rec.center;
  const ink::Point centre{c.x, c.y};

  outline->AddArc(centre, size / 2, 0, 360);
  if (rec.showHardness) {
    const double r = (rec.hardness / 100.0 * (outlineDiameter - 1) + 1) * rec.zoom * 0.5;
    if (r > 0.1) core->AddArc(centre, static_cast<float>(r), 0, 360);
  }

  // The shadow falls one pixel down and right of the brush, turned with it.
  const float a = static_cast<float>(rec.angle * 3.14159265358979 / 180.0);
  const ink::Transform shadow =
      ink::Transform::Translation(std::cos(a) - std::sin(a), std::cos(a) + std::sin(a));

  {
    SavedState shape(surface);
    if (tiny) {
      outline->MoveTo(Offset(c, 0, kTickInner));
      outline->LineTo(Offset(c, 0, kTickOuter));
      outline->MoveTo(Offset(c, 0, -kTickInner));
      outline->LineTo(Offset(c, 0, -kTickOuter));
      outline->MoveTo(Offset(c, kTickInner, 0));
      outline->LineTo(Offset(c, kTickOuter, 0));
      outline->MoveTo(Offset(c, -kTickInner, 0));
      outline->LineTo(Offset(c, -kTickOuter, 0));
    } else {
      // Squash, then turn, then stretch, all about the centre.
      Mat m;
      bool transformed = false;
      const double roundness = std::max(rec.roundness, 1.0);
      if (roundness != 100.0) {
        m = Then(m, ScaleAbout(c.x, c.y, 1.0, roundness / 100.0));
        transformed = true;
      }
      if (rec.angle != 0.0) {
        m = Then(m, RotateAbout(c.x, c.y, -std::fmod(rec.angle, 360.0)));
        transformed = true;
      }
      if (rec.scale.x != 1.0f || rec.scale.y != 1.0f) {
        m = Then(m, ScaleAbout(c.x, c.y, rec.scale.x, rec.scale.y));
        transformed = true;
      }
      if (transformed) surface->Concat(ToTransform(m));
    }
    const ink::Path* figures[] = {outline.get(), core.get()};
    StrokeTwice(surface, shadow, figures, 2, *shadowPen, *pen);
    shape.Restore();
  }

  // Centre mark, untransformed.
  const bool big = size > kBigSize;
  const bool diagonal = style == 3 || style == 4;
  if ((style != 0 && big) || diagonal) {
    ink::PenP markPen = supplier->MakePen(StyleColor(style), kMarkWidth);
    ink::PathP mark = supplier->MakePath();
    if (diagonal) {
      const float v = kDiagonalFraction * size / 2;
      mark->MoveTo(Offset(c, v, -v));
      mark->LineTo(Offset(c, -v, v));
    } else {
      mark->MoveTo(Offset(c, kMarkHalf, 0));
      mark->LineTo(Offset(c, -kMarkHalf, 0));
      if (style == 1) {
        mark->MoveTo(Offset(c, 0, kMarkHalf));
        mark->LineTo(Offset(c, 0, -kMarkHalf));
      }
    }
    const ink::Path* figures[] = {mark.get()};
    StrokeTwice(surface, shadow, figures, 1, *shadowPen, *markPen);
  }
}

// Outline images
// ==================================================================================

ink::ImageP CreateTipOutlineImage(ink::SupplierInterface* supplier, BrushTipRec& rec) {
  float size = static_cast<float>(rec.zoom * rec.diameter);
  bool tiny = false;
  if (size > kMaxImageSize) {
    rec.zoom = 1.0;
    rec.diameter = kMaxImageSize;
    size = static_cast<float>(kMaxImageSize);
  } else if (size <= kTinySize) {
    size = kTinyImageSize;
    tiny = true;
  }
  const int32_t width = TruncToInt32(std::ceil(size * rec.scale.x) + 4.0f);
  const int32_t height = TruncToInt32(std::ceil(size) + 4.0f);
  ink::SurfaceP surface = supplier->MakeImageSurface(width, height, 0);
  if (tiny) {
    if (rec.center.x == -1.0f) rec.center.x = static_cast<float>(width / 2);
    if (rec.center.y == -1.0f) rec.center.y = static_cast<float>(height / 2);
  }
  surface->SetMode(ink::kModeSmooth);
  ink::Inkwork context(supplier, surface);
  DrawTipOutline(&context, rec);
  return surface->GetImage();
}

}  // namespace paint_brushtip
