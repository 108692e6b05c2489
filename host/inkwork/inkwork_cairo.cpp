// SPDX-License-Identifier: MIT
// The drawing interface on Cairo. A surface owns a Cairo image surface and a context;
// the interface's state stack is Cairo's own (cairo_save/cairo_restore), with a depth
// count so an unbalanced restore is refused before Cairo would latch an error.
//
// Pens are cosmetic: a path is built under the current transform, then the transform
// is reset to identity before stroking, so the line width is in device pixels.
#include "host/inkwork/inkwork_cairo.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace kelvo {
namespace inkwork {

namespace {

constexpr int32_t kMaxSide = 32767;
constexpr double kRadPerDeg = 3.14159265358979323846 / 180.0;

cairo_antialias_t AntialiasFor(int32_t mode) {
  switch (mode) {
    case kModeAliased: return CAIRO_ANTIALIAS_NONE;
    case kModeFast: return CAIRO_ANTIALIAS_FAST;
    default: return CAIRO_ANTIALIAS_GOOD;
  }
}

bool IsMode(int32_t mode) { return mode >= kModeAliased && mode <= kModeSmooth; }

class CairoSurface : public Surface {
public:
  static SurfaceP Create(int32_t width, int32_t height) {
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(target);
    cairo_surface_destroy(target);  // the context keeps its own reference
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
      cairo_destroy(cr);
      throw Error(INK_Err_Backend, "the drawing backend could not make a " +
                                       std::to_string(width) + " x " + std::to_string(height) +
                                       " surface");
    }
    auto* surface = new CairoSurface(cr);
    if (surface == nullptr) {
      cairo_destroy(cr);
      throw std::bad_alloc();
    }
    cairo_set_antialias(cr, AntialiasFor(kModeFast));
    return SurfaceP(surface);
  }

  void SaveState() override {
    cairo_save(cr_);
    ++depth_;
  }

  void RestoreState() override {
    if (depth_ == 0) throw Error(INK_Err_BadState, "surface state restored with nothing saved");
    cairo_restore(cr_);
    --depth_;
  }

  void Concat(const Transform& t) override {
    const auto& m = t.m;
    for (const auto& row : m) {
      for (float v : row) {
        if (!std::isfinite(v)) throw Error(INK_Err_BadArgument, "transform is not finite");
      }
    }
    if (m[0][2] != 0 || m[1][2] != 0 || m[2][2] != 1) {
      throw Error(INK_Err_BadArgument, "transform is not affine");
    }
    // Row vectors: x' = x·m00 + y·m10 + m20, y' = x·m01 + y·m11 + m21.
    cairo_matrix_t cm;
    cairo_matrix_init(&cm, m[0][0], m[0][1], m[1][0], m[1][1], m[2][0], m[2][1]);
    // A singular matrix would put the context in a permanent error state: refuse it.
    const double det = cm.xx * cm.yy - cm.xy * cm.yx;
    if (!(std::fabs(det) > 1e-12)) throw Error(INK_Err_BadArgument, "transform is singular");
    cairo_transform(cr_, &cm);
  }

  void StrokePath(const Path& path, const Pen& pen) override {
    if (path.IsEmpty() || pen.GetWidth() <= 0) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    for (const PathElement& e : path.GetElements()) {
      switch (e.kind) {
        case PathElement::Kind::kMoveTo: cairo_move_to(cr_, e.point.x, e.point.y); break;
        case PathElement::Kind::kLineTo: cairo_line_to(cr_, e.point.x, e.point.y); break;
        case PathElement::Kind::kArc: AddArc(e); break;
      }
    }
    cairo_identity_matrix(cr_);  // cosmetic pen: width in device pixels
    const Color& c = pen.GetColor();
    cairo_set_source_rgba(cr_, c.red, c.green, c.blue, c.alpha);
    cairo_set_line_width(cr_, pen.GetWidth());
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_stroke(cr_);
    cairo_restore(cr_);
    Check();
  }

  void SetMode(int32_t mode) override {
    if (!IsMode(mode)) {
      throw Error(INK_Err_BadArgument, "surface mode " + std::to_string(mode) + " is not 0..2");
    }
    cairo_set_antialias(cr_, AntialiasFor(mode));
  }

  ImageP GetImage() override {
    cairo_surface_t* target = cairo_get_target(cr_);
    cairo_surface_flush(target);
    const int32_t width = cairo_image_surface_get_width(target);
    const int32_t height = cairo_image_surface_get_height(target);
    ImageP image = Image::Create(width, height);
    cairo_surface_t* copy = image->GetCairoSurface();
    cairo_surface_flush(copy);
    const int32_t srcStride = cairo_image_surface_get_stride(target);
    const int32_t dstStride = cairo_image_surface_get_stride(copy);
    const unsigned char* src = cairo_image_surface_get_data(target);
    unsigned char* dst = cairo_image_surface_get_data(copy);
    for (int32_t y = 0; y < height; ++y) {
      std::copy(src + static_cast<std::ptrdiff_t>(y) * srcStride,
                src + static_cast<std::ptrdiff_t>(y) * srcStride + 4 * width,
                dst + static_cast<std::ptrdiff_t>(y) * dstStride);
    }
    cairo_surface_mark_dirty(copy);
    return image;
  }

private:
  explicit CairoSurface(cairo_t* cr) : cr_(cr) {}
  ~CairoSurface() override { cairo_destroy(cr_); }

  // A figure of its own (no joining line); a full turn is closed so it has no caps.
  void AddArc(const PathElement& e) {
    const double start = e.startDeg * kRadPerDeg;
    const double end = (e.startDeg + e.sweepDeg) * kRadPerDeg;
    cairo_new_sub_path(cr_);
    if (e.sweepDeg >= 0) {
      cairo_arc(cr_, e.point.x, e.point.y, e.radius, start, end);
    } else {
      cairo_arc_negative(cr_, e.point.x, e.point.y, e.radius, start, end);
    }
    if (std::fabs(e.sweepDeg) >= 360.0f) cairo_close_path(cr_);
  }

  void Check() {
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
      throw Error(INK_Err_Backend, std::string("drawing failed: ") +
                                       cairo_status_to_string(cairo_status(cr_)));
    }
  }

  cairo_t* cr_;
  int32_t depth_ = 0;
};

}  // namespace

PathP CairoSupplier::MakePath() { return Path::Create(); }

PenP CairoSupplier::MakePen(const Color& color, float width) { return Pen::Create(color, width); }

SurfaceP CairoSupplier::MakeImageSurface(int32_t width, int32_t height, int32_t options) {
  if (options != 0) {
    throw Error(INK_Err_BadArgument, "surface options " + std::to_string(options) + " are not 0");
  }
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    throw Error(INK_Err_BadArgument, "surface size " + std::to_string(width) + " x " +
                                         std::to_string(height) + " is outside 1..32767");
  }
  return CairoSurface::Create(width, height);
}

}  // namespace inkwork
}  // namespace kelvo
