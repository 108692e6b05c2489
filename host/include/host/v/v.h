// SPDX-License-Identifier: MIT
/// @file
/// Host math library: rectangles, points, vectors and the 2-D affine matrix.
///
/// V_Matrix3 maps column vectors (x, y, 1): p' = M · p. Translate, Scale and Rotate
/// compose in call order: each applies to points after the operations already in the
/// matrix (M := Op · M). Rotate(+deg) turns +x toward +y, which on a y-down pixel grid
/// is clockwise on screen.
#pragma once

#include <cstdint>

#include "host/y/errors.h"

/// A 2-D point or offset: of float for shape points, of double for curve and matrix
/// math, of int32_t for sizes. The default is (0, 0).
template <class T>
struct V_Vector2T {
  /// Coordinates; y grows downward on pixel grids.
  ///@{
  T x{};
  T y{};
  ///@}
  V_Vector2T() = default;
  /// The point (x_, y_).
  V_Vector2T(T x_, T y_) : x(x_), y(y_) {}
  /// Exact comparison of both coordinates (no tolerance).
  ///@{
  bool operator==(const V_Vector2T& o) const { return x == o.x && y == o.y; }
  bool operator!=(const V_Vector2T& o) const { return !(*this == o); }
  ///@}
};

/// Pixel rectangle of shorts in the order top, left, bottom, right; right and bottom
/// are exclusive. Empty when right ≤ left or bottom ≤ top.
struct V_Rect {
  /// Edges in pixels; `bottom` and `right` are one past the last row and column.
  ///@{
  int16_t top = 0;
  int16_t left = 0;
  int16_t bottom = 0;
  int16_t right = 0;
  ///@}
  /// True when the rectangle holds no pixel.
  bool IsEmpty() const { return right <= left || bottom <= top; }
  /// Extent in pixels, computed in 32 bits so it cannot wrap; negative when the edges
  /// are inverted.
  ///@{
  int32_t Width() const { return int32_t(right) - left; }
  int32_t Height() const { return int32_t(bottom) - top; }
  ///@}
  /// Edge-by-edge comparison: two different empty rectangles are not equal.
  ///@{
  bool operator==(const V_Rect& o) const {
    return top == o.top && left == o.left && bottom == o.bottom && right == o.right;
  }
  bool operator!=(const V_Rect& o) const { return !(*this == o); }
  ///@}
};

/// Pixel rectangle of 32-bit values in the order left, top, right, bottom; right and
/// bottom are exclusive, as in V_Rect.
struct V_LRect {
  /// Edges in pixels; `right` and `bottom` are one past the last column and row.
  ///@{
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  ///@}
  /// True when the rectangle holds no pixel (right ≤ left or bottom ≤ top).
  bool IsEmpty() const { return right <= left || bottom <= top; }
  /// Edge-by-edge comparison: two different empty rectangles are not equal.
  bool operator==(const V_LRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

/// A whole-pixel position or offset, 32 bits per coordinate.
struct V_LPoint {
  /// Column and row, y down.
  ///@{
  int32_t x = 0;
  int32_t y = 0;
  ///@}
};

/// The rectangle a shape's relative coordinates are fractions of (absolute units).
/// The default is the unit square.
struct V_FloatShortRect {
  /// Edges in absolute units: relative 0 maps to `left` / `top`, 1 to `right` /
  /// `bottom`.
  ///@{
  float left = 0;
  float top = 0;
  float right = 1;
  float bottom = 1;
  ///@}
  /// Exact comparison of the four edges.
  bool operator==(const V_FloatShortRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// The rectangle operations are inline: a stroke clips and joins a few rectangles per
// dab, and a call each cost more than the arithmetic.

/// Edge-wise intersection: each edge the inner of the two. Unlike V_IntersectRect an
/// empty result keeps its edges, so a caller that moves it back sees where it was.
inline V_Rect V_ClipRect(const V_Rect& a, const V_Rect& b) {
  V_Rect r;
  r.top = a.top > b.top ? a.top : b.top;
  r.left = a.left > b.left ? a.left : b.left;
  r.bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
  r.right = a.right < b.right ? a.right : b.right;
  return r;
}
/// Intersection of two rectangles; empty rectangles come back as {0, 0, 0, 0}.
inline V_Rect V_IntersectRect(const V_Rect& a, const V_Rect& b) {
  const V_Rect r = V_ClipRect(a, b);
  return r.IsEmpty() ? V_Rect() : r;
}
/// Smallest rectangle holding both; an empty operand is ignored.
inline V_Rect V_UnionRect(const V_Rect& a, const V_Rect& b) {
  if (a.IsEmpty()) return b.IsEmpty() ? V_Rect() : b;
  if (b.IsEmpty()) return a;
  V_Rect r;
  r.top = a.top < b.top ? a.top : b.top;
  r.left = a.left < b.left ? a.left : b.left;
  r.bottom = a.bottom > b.bottom ? a.bottom : b.bottom;
  r.right = a.right > b.right ? a.right : b.right;
  return r;
}
/// `r` moved by (dx, dy); the edges wrap to 16 bits like every V_Rect.
inline V_Rect V_OffsetRect(const V_Rect& r, int32_t dx, int32_t dy) {
  V_Rect o;
  o.top = static_cast<int16_t>(r.top + dy);
  o.left = static_cast<int16_t>(r.left + dx);
  o.bottom = static_cast<int16_t>(r.bottom + dy);
  o.right = static_cast<int16_t>(r.right + dx);
  return o;
}

/// 3 × 3 matrix acting on column vectors (x, y, 1); the conventions are at the top of
/// this header. A new matrix is the identity.
class V_Matrix3 {
public:
  /// Elements, m[row][column]: the translation is m[0][2], m[1][2]; an affine matrix
  /// keeps the last row (0, 0, 1).
  double m[3][3];

  V_Matrix3() { SetIdentity(); }
  /// Resets to the identity.
  void SetIdentity();
  /// Follows the matrix with a move by (dx, dy).
  void Translate(double dx, double dy);
  /// Follows the matrix with a scale by (sx, sy) about the origin.
  void Scale(double sx, double sy);
  /// Follows the matrix with a turn of `degrees` about the origin, +x toward +y.
  void Rotate(double degrees);
  /// Replaces the matrix by its inverse. Answers V_Err_Singular (matrix unchanged)
  /// when the determinant is 0 or not finite.
  int32_t Invert();
  /// Applies this matrix after `first`: points go through `first`, then this.
  void Concat(const V_Matrix3& first);
  /// Maps `*p` in place. A last row other than (0, 0, 1) is honoured: the result is
  /// divided by w unless w is 0 or 1.
  void TransformPoint(V_Vector2T<double>* p) const;
  /// Replaces `*r` by the pixel rectangle that bounds the image of its four corners:
  /// the exact bounds rounded outward (floor of the low edges, ceil of the high ones)
  /// and clamped to the 16-bit range. `exactTopLeft`, when given, receives the
  /// unrounded top-left of the bounds; `axisAligned`, when given, 1 when the image is
  /// again an axis-aligned rectangle (the 2 × 2 part exactly diagonal, or exactly
  /// anti-diagonal as in a quarter turn written into m), else 0.
  void TransformRect(V_Rect* r, V_Vector2T<double>* exactTopLeft,
                     unsigned char* axisAligned) const;
  /// Exact comparison of all nine elements.
  bool operator==(const V_Matrix3& o) const;
};

/// Reports a math error (a failed division guard) to the log and answers the code the
/// caller throws: V_Err_DivideByZero.
int32_t Vp_ReportErr(const char* what);
