// SPDX-License-Identifier: MIT
/// @file
/// Host 2-D drawing interface: a supplier makes pens, paths and surfaces; a surface
/// strokes paths with pens under a transform stack and hands out its picture as an image.
///
/// Conventions of the whole interface:
/// - Coordinates are single-precision pixels, y down; pixel centres sit at +0.5.
/// - Angles are degrees; a positive sweep turns from +x toward +y (clockwise on screen).
/// - Colours are four floats red, green, blue, alpha, each 0..1, not premultiplied.
/// - Transforms are 3 × 3 floats in the row-vector convention: (x', y', 1) = (x, y, 1) · M,
///   translation in the third row. Only affine transforms are accepted: the third
///   column must be (0, 0, 1).
/// - Every object handed out is reference-counted and held by a holder (PenP, PathP,
///   SurfaceP, ImageP); the last holder to let go frees it. Objects are allocated
///   through the tracked allocator, so tests see leaks.
/// - Failures are thrown: inkwork::Error carrying a host error code (INK_Err_*), or
///   std::bad_alloc when the tracked allocator refuses an object.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "host/y/y.h"

/// Cairo's image surface, declared here so this header needs no Cairo include.
typedef struct _cairo_surface cairo_surface_t;

namespace kelvo {
namespace inkwork {

/// A position in pixels (see the conventions above).
struct Point {
  /// Coordinates, y down.
  ///@{
  float x = 0;
  float y = 0;
  ///@}
};

/// Straight (not premultiplied) colour, each channel 0..1.
struct Color {
  /// Channels 0..1; the default is opaque black.
  ///@{
  float red = 0;
  float green = 0;
  float blue = 0;
  float alpha = 1;
  ///@}
};

/// Affine transform in the row-vector convention (see the file comment).
struct Transform {
  /// Elements, m[row][column]; translation in m[2][0], m[2][1]. The default is the
  /// identity.
  float m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  /// A transform that moves points by (dx, dy).
  static Transform Translation(float dx, float dy);
  /// The point `p` mapped by this transform.
  Point Apply(Point p) const;
  /// `first` followed by `then`: (x, y, 1) · first · then.
  static Transform Compose(const Transform& first, const Transform& then);
  /// Exact comparison of all nine elements.
  bool operator==(const Transform& o) const;
};

/// A failure of the drawing interface. `code` is one of the INK_Err_* host codes.
class Error : public std::runtime_error {
public:
  /// `message` is one line naming the thing and the value; what() answers it.
  Error(int32_t errorCode, const std::string& message);
  /// The INK_Err_* code the error carries.
  int32_t code() const noexcept { return code_; }

private:
  int32_t code_;
};

// Reference counting
// ==================================================================================

/// Base of every object the interface hands out. Counting is atomic, so holders may
/// be copied across threads; the objects themselves are used by one thread at a time.
class Object : public Y_MemTrackedObject {
public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  /// The holders' hooks: count one holder more, or one less and free the object with
  /// the last.
  ///@{
  friend void intrusive_ptr_add_ref(const Object* o) noexcept;
  friend void intrusive_ptr_release(const Object* o) noexcept;
  ///@}

protected:
  ~Object() override = default;

private:
  mutable std::atomic<int32_t> refs_{0};
};

/// Counts one holder more, or one less; the last release frees the object. Called by
/// the holders, not by users.
///@{
void intrusive_ptr_add_ref(const Object* o) noexcept;
void intrusive_ptr_release(const Object* o) noexcept;
///@}

class Pen;
class Path;
class Surface;
class Image;
/// Holders of the interface's objects: copying one adds a reference, and the object
/// goes with its last holder.
///@{
using PenP = boost::intrusive_ptr<Pen>;
using PathP = boost::intrusive_ptr<Path>;
using SurfaceP = boost::intrusive_ptr<Surface>;
using ImageP = boost::intrusive_ptr<Image>;
///@}

// Pens and paths
// ==================================================================================

/// A colour and a line width. Pens are cosmetic: the width is in device pixels,
/// whatever transform is in force when the pen strokes, so a squashed or scaled
/// outline keeps an even line.
class Pen : public Object {
public:
  /// Throws Error(INK_Err_BadArgument) for a negative or non-finite width.
  static PenP Create(const Color& color, float width);
  /// The colour, as given.
  const Color& GetColor() const noexcept { return color_; }
  /// The line width in device pixels, as given; 0 strokes nothing.
  float GetWidth() const noexcept { return width_; }

private:
  Pen(const Color& color, float width) : color_(color), width_(width) {}
  Color color_;
  float width_;
};

/// One element of a path, kept as given (device independent).
struct PathElement {
  /// What the element does: start a figure, draw a line to a point, or add an arc.
  enum class Kind : int32_t { kMoveTo = 0, kLineTo = 1, kArc = 2 };
  Kind kind = Kind::kMoveTo;  ///< which of the three this element is
  Point point;            ///< target of a move or line; centre of an arc
  float radius = 0;       ///< arcs only
  float startDeg = 0;     ///< arcs only
  float sweepDeg = 0;     ///< arcs only
};

/// A sequence of open or closed figures.
///
/// MoveTo starts a figure; LineTo without a current point acts as MoveTo. AddArc
/// always starts a figure of its own at the arc's start (no line joins it to what came
/// before); a sweep of 360 degrees or more is a closed circle, drawn without caps.
class Path : public Object {
public:
  /// A new, empty path.
  static PathP Create();
  /// Starts a new figure at `p`.
  void MoveTo(Point p);
  /// Adds a straight line from the current point to `p`.
  void LineTo(Point p);
  /// Throws Error(INK_Err_BadArgument) for a negative or non-finite radius or angle.
  void AddArc(Point center, float radius, float startDeg, float sweepDeg);
  /// The elements in the order they were added.
  const std::vector<PathElement>& GetElements() const noexcept { return elements_; }
  /// True when nothing was added; an empty path strokes nothing.
  bool IsEmpty() const noexcept { return elements_.empty(); }

private:
  Path() = default;
  std::vector<PathElement> elements_;
};

// Images
// ==================================================================================

/// A picture: 8-bit, four channels, premultiplied alpha, stored in the native-endian
/// 32-bit layout (alpha in the top byte). Images are snapshots: drawing on the surface
/// that produced one does not change it.
class Image : public Object {
public:
  /// A fully transparent image. Throws Error(INK_Err_BadArgument) unless both sides
  /// are 1..32767.
  static ImageP Create(int32_t width, int32_t height);
  /// Reads a PNG file. Throws Error(INK_Err_Io) when it cannot be read.
  static ImageP ReadPng(const std::string& path);

  /// Size in pixels, 1..32767.
  ///@{
  int32_t GetWidth() const noexcept;
  int32_t GetHeight() const noexcept;
  ///@}
  /// Bytes from one row to the next (at least width × 4).
  int32_t GetRowBytes() const noexcept;
  /// Pixel (0, 0), for reading; owned by the image.
  const uint8_t* GetData() const noexcept;
  /// Pixels for writing; call MarkDirty when done so later drawing sees the change.
  uint8_t* GetData() noexcept;
  /// Tells the image its pixels were written through GetData().
  void MarkDirty() noexcept;
  /// Premultiplied (alpha, red, green, blue) of pixel (x, y), 0..255. No bounds check
  /// beyond an assert.
  void GetPixel(int32_t x, int32_t y, uint8_t argb[4]) const noexcept;

  /// Writes an 8-bit RGBA PNG (straight alpha, transparency kept). Throws
  /// Error(INK_Err_Io) on failure and leaves no file behind.
  void WritePng(const std::string& path) const;
  /// The same PNG into an open stream, which is flushed and left open; `name` names it
  /// in the error. Whoever opened the stream removes what a failed call left in it.
  void WritePng(std::FILE* file, const std::string& name) const;

  /// The underlying Cairo image surface (borrowed), for implementations of Surface.
  cairo_surface_t* GetCairoSurface() const noexcept { return surface_; }
  /// Takes over a reference to a Cairo image surface in ARGB32 format.
  static ImageP Adopt(cairo_surface_t* surface);

private:
  explicit Image(cairo_surface_t* surface) : surface_(surface) {}
  ~Image() override;
  cairo_surface_t* surface_;
};

// Surfaces, suppliers and the drawing context
// ==================================================================================

/// Surface modes (SetMode): how edges are rendered. A new surface starts in kModeFast.
constexpr int32_t kModeAliased = 0;  ///< no antialiasing: hard pixel edges
constexpr int32_t kModeFast = 1;     ///< coarse antialiasing
constexpr int32_t kModeSmooth = 2;   ///< full-quality antialiasing

/// Something to draw on, with a stack of saved states (transform and mode).
class Surface : public Object {
public:
  /// Pushes the current transform and mode.
  virtual void SaveState() = 0;
  /// Pops the last saved state. Throws Error(INK_Err_BadState) with nothing saved.
  virtual void RestoreState() = 0;
  /// Makes `m` apply to coordinates before the current transform (current := m · current).
  /// Throws Error(INK_Err_BadArgument) for a non-affine, singular or non-finite matrix.
  virtual void Concat(const Transform& m) = 0;
  /// Strokes the path's figures with the pen, under the current transform.
  virtual void StrokePath(const Path& path, const Pen& pen) = 0;
  /// Selects kModeAliased, kModeFast or kModeSmooth; other values throw
  /// Error(INK_Err_BadArgument).
  virtual void SetMode(int32_t mode) = 0;
  /// A snapshot of what has been drawn so far.
  virtual ImageP GetImage() = 0;

protected:
  ~Surface() override = default;
};

/// Makes the objects a drawing needs. The host owns its supplier.
class SupplierInterface {
public:
  virtual ~SupplierInterface() = default;
  /// A new, empty path.
  virtual PathP MakePath() = 0;
  /// A new pen; throws Error(INK_Err_BadArgument) for a negative or non-finite width.
  virtual PenP MakePen(const Color& color, float width) = 0;
  /// A transparent image surface of width × height pixels (each 1..32767). `options`
  /// is reserved and must be 0; anything else throws Error(INK_Err_BadArgument).
  virtual SurfaceP MakeImageSurface(int32_t width, int32_t height, int32_t options) = 0;
};

/// A drawing context: where to get objects from and where to draw. Does not own the
/// supplier; holds a reference to the surface.
class Inkwork {
public:
  /// `supplier` must outlive the context.
  Inkwork(SupplierInterface* supplier, SurfaceP surface)
      : supplier_(supplier), surface_(std::move(surface)) {}
  /// The supplier, as given (not owned).
  SupplierInterface* GetSupplier() const noexcept { return supplier_; }
  /// The surface, kept alive by the context.
  Surface* GetSurface() const noexcept { return surface_.get(); }

private:
  SupplierInterface* supplier_;
  SurfaceP surface_;
};

}  // namespace inkwork
}  // namespace kelvo
