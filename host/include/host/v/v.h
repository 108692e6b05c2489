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

template <class T>
struct V_Vector2T {
  T x{};
  T y{};
  V_Vector2T() = default;
  V_Vector2T(T x_, T y_) : x(x_), y(y_) {}
  bool operator==(const V_Vector2T& o) const { return x == o.x && y == o.y; }
  bool operator!=(const V_Vector2T& o) const { return !(*this == o); }
};

/// Pixel rectangle of shorts in the order top, left, bottom, right; right and bottom
/// are exclusive. Empty when right ≤ left or bottom ≤ top.
struct V_Rect {
  int16_t top = 0;
  int16_t left = 0;
  int16_t bottom = 0;
  int16_t right = 0;
  bool IsEmpty() const { return right <= left || bottom <= top; }
  int32_t Width() const { return int32_t(right) - left; }
  int32_t Height() const { return int32_t(bottom) - top; }
  bool operator==(const V_Rect& o) const {
    return top == o.top && left == o.left && bottom == o.bottom && right == o.right;
  }
  bool operator!=(const V_Rect& o) const { return !(*this == o); }
};

/// Pixel rectangle of 32-bit values in the order left, top, right, bottom.
struct V_LRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const V_LRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

struct V_LPoint {
  int32_t x = 0;
  int32_t y = 0;
};

/// The rectangle a shape's relative coordinates are fractions of (absolute units).
struct V_FloatShortRect {
  float left = 0;
  float top = 0;
  float right = 1;
  float bottom = 1;
  bool operator==(const V_FloatShortRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

/// Intersection of two rectangles; empty rectangles come back as {0, 0, 0, 0}.
V_Rect V_IntersectRect(const V_Rect& a, const V_Rect& b);
/// Smallest rectangle holding both; an empty operand is ignored.
V_Rect V_UnionRect(const V_Rect& a, const V_Rect& b);
/// `r` moved by (dx, dy); the edges wrap to 16 bits like every V_Rect.
V_Rect V_OffsetRect(const V_Rect& r, int32_t dx, int32_t dy);

class V_Matrix3 {
public:
  double m[3][3];

  V_Matrix3() { SetIdentity(); }
  void SetIdentity();
  void Translate(double dx, double dy);
  void Scale(double sx, double sy);
  void Rotate(double degrees);
  /// Replaces the matrix by its inverse. Answers V_Err_Singular (matrix unchanged)
  /// when the determinant is 0 or not finite.
  int32_t Invert();
  /// Applies this matrix after `first`: points go through `first`, then this.
  void Concat(const V_Matrix3& first);
  void TransformPoint(V_Vector2T<double>* p) const;
  /// Replaces `*r` by the pixel rectangle that bounds the image of its four corners:
  /// the exact bounds rounded outward (floor of the low edges, ceil of the high ones)
  /// and clamped to the 16-bit range. `exactTopLeft`, when given, receives the
  /// unrounded top-left of the bounds; `axisAligned`, when given, 1 when the image is
  /// again an axis-aligned rectangle (no rotation or shear), else 0.
  void TransformRect(V_Rect* r, V_Vector2T<double>* exactTopLeft,
                     unsigned char* axisAligned) const;
  bool operator==(const V_Matrix3& o) const;
};

/// Reports a math error (a failed division guard) to the log and answers the code the
/// caller throws: V_Err_DivideByZero.
int32_t Vp_ReportErr(const char* what);
