// SPDX-License-Identifier: MIT
// Device-independent parts of the drawing interface: transforms, reference counting,
// pens, paths and images (Cairo image surfaces with a PNG reader and writer).
#include "host/inkwork/inkwork.h"

#include <cairo.h>

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace kelvo {
namespace inkwork {

namespace {

constexpr int32_t kMaxSide = 32767;  // Cairo's limit for image surfaces

bool Finite(float v) { return std::isfinite(v); }

// Tracked allocation answers null on failure; the interface promises bad_alloc.
template <class T>
T* Checked(T* p) {
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

// Transform
// ==================================================================================

Transform Transform::Translation(float dx, float dy) {
  Transform t;
  t.m[2][0] = dx;
  t.m[2][1] = dy;
  return t;
}

Point Transform::Apply(Point p) const {
  return {p.x * m[0][0] + p.y * m[1][0] + m[2][0], p.x * m[0][1] + p.y * m[1][1] + m[2][1]};
}

Transform Transform::Compose(const Transform& first, const Transform& then) {
  Transform r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = 0;
      for (int k = 0; k < 3; ++k) sum += first.m[i][k] * then.m[k][j];
      r.m[i][j] = sum;
    }
  }
  return r;
}

bool Transform::operator==(const Transform& o) const {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (m[i][j] != o.m[i][j]) return false;
    }
  }
  return true;
}

Error::Error(int32_t errorCode, const std::string& message)
    : std::runtime_error(message), code_(errorCode) {}

// Reference counting
// ==================================================================================

void intrusive_ptr_add_ref(const Object* o) noexcept {
  o->refs_.fetch_add(1, std::memory_order_relaxed);
}

void intrusive_ptr_release(const Object* o) noexcept {
  if (o->refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete o;
}

// Pens and paths
// ==================================================================================

PenP Pen::Create(const Color& color, float width) {
  if (!Finite(width) || width < 0) {
    throw Error(INK_Err_BadArgument, "pen width " + std::to_string(width) + " is not a width");
  }
  return PenP(Checked(new Pen(color, width)));
}

PathP Path::Create() { return PathP(Checked(new Path())); }

void Path::MoveTo(Point p) {
  PathElement e;
  e.kind = PathElement::Kind::kMoveTo;
  e.point = p;
  elements_.push_back(e);
}

void Path::LineTo(Point p) {
  PathElement e;
  e.kind = PathElement::Kind::kLineTo;
  e.point = p;
  elements_.push_back(e);
}

void Path::AddArc(Point center, float radius, float startDeg, float sweepDeg) {
  if (!Finite(radius) || radius < 0 || !Finite(startDeg) || !Finite(sweepDeg) ||
      !Finite(center.x) || !Finite(center.y)) {
    throw Error(INK_Err_BadArgument, "arc radius " + std::to_string(radius) +
                                         " or its angles are out of range");
  }
  PathElement e;
  e.kind = PathElement::Kind::kArc;
  e.point = center;
  e.radius = radius;
  e.startDeg = startDeg;
  e.sweepDeg = sweepDeg;
  elements_.push_back(e);
}

// Images
// ==================================================================================

ImageP Image::Adopt(cairo_surface_t* surface) {
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    throw Error(INK_Err_Backend, "the drawing backend could not make an image");
  }
  Image* image = new Image(surface);
  if (image == nullptr) {
    cairo_surface_destroy(surface);
    throw std::bad_alloc();
  }
  return ImageP(image);
}

ImageP Image::Create(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    throw Error(INK_Err_BadArgument, "image size " + std::to_string(width) + " x " +
                                         std::to_string(height) + " is outside 1..32767");
  }
  return Adopt(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
}

ImageP Image::ReadPng(const std::string& path) {
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(png);
    throw Error(INK_Err_Io, "cannot read PNG " + path);
  }
  // PNGs without alpha load as RGB24; draw onto ARGB32 so every image has one layout.
  ImageP image = Create(cairo_image_surface_get_width(png), cairo_image_surface_get_height(png));
  cairo_t* cr = cairo_create(image->surface_);
  cairo_set_source_surface(cr, png, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(png);
  if (status != CAIRO_STATUS_SUCCESS) throw Error(INK_Err_Backend, "cannot convert PNG " + path);
  cairo_surface_flush(image->surface_);
  return image;
}

Image::~Image() { cairo_surface_destroy(surface_); }

int32_t Image::GetWidth() const noexcept { return cairo_image_surface_get_width(surface_); }
int32_t Image::GetHeight() const noexcept { return cairo_image_surface_get_height(surface_); }
int32_t Image::GetRowBytes() const noexcept { return cairo_image_surface_get_stride(surface_); }
const uint8_t* Image::GetData() const noexcept {
  return cairo_image_surface_get_data(surface_);
}
uint8_t* Image::GetData() noexcept {
  cairo_surface_flush(surface_);
  return cairo_image_surface_get_data(surface_);
}

void Image::MarkDirty() noexcept { cairo_surface_mark_dirty(surface_); }

void Image::GetPixel(int32_t x, int32_t y, uint8_t argb[4]) const noexcept {
  assert(x >= 0 && y >= 0 && x < GetWidth() && y < GetHeight());
  const uint8_t* row = GetData() + static_cast<std::ptrdiff_t>(y) * GetRowBytes();
  uint32_t v;
  std::memcpy(&v, row + 4 * x, 4);
  argb[0] = static_cast<uint8_t>(v >> 24);
  argb[1] = static_cast<uint8_t>(v >> 16);
  argb[2] = static_cast<uint8_t>(v >> 8);
  argb[3] = static_cast<uint8_t>(v);
}

namespace {
cairo_status_t WriteToStream(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}
}  // namespace

void Image::WritePng(std::FILE* file, const std::string& name) const {
  cairo_surface_flush(surface_);
  if (cairo_surface_write_to_png_stream(surface_, &WriteToStream, file) != CAIRO_STATUS_SUCCESS ||
      std::fflush(file) != 0 || std::ferror(file))
    throw Error(INK_Err_Io, "cannot write PNG " + name);
}

void Image::WritePng(const std::string& path) const {
  cairo_surface_flush(surface_);
  if (cairo_surface_write_to_png(surface_, path.c_str()) != CAIRO_STATUS_SUCCESS) {
    std::remove(path.c_str());
    throw Error(INK_Err_Io, "cannot write PNG " + path);
  }
}

}  // namespace inkwork
}  // namespace kelvo
