// SPDX-License-Identifier: MIT
// Rectangle helpers and the affine matrix.
#include "host/v/v.h"

#include <algorithm>
#include <cmath>

#include "host/jot/jot.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void Multiply(const double a[3][3], const double b[3][3], double out[3][3]) {
  double r[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] = r[i][j];
}

int16_t ClampShort(double v) {
  return static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, v)));
}

}  // namespace

void V_Matrix3::SetIdentity() {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = i == j ? 1.0 : 0.0;
}

void V_Matrix3::Translate(double dx, double dy) {
  const double t[3][3] = {{1, 0, dx}, {0, 1, dy}, {0, 0, 1}};
  Multiply(t, m, m);
}

void V_Matrix3::Scale(double sx, double sy) {
  const double s[3][3] = {{sx, 0, 0}, {0, sy, 0}, {0, 0, 1}};
  Multiply(s, m, m);
}

void V_Matrix3::Rotate(double degrees) {
  const double a = degrees * kPi / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  const double r[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
  Multiply(r, m, m);
}

void V_Matrix3::Concat(const V_Matrix3& first) { Multiply(m, first.m, m); }

int32_t V_Matrix3::Invert() {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (det == 0.0 || !std::isfinite(det)) return V_Err_Singular;
  double inv[3][3];
  inv[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
  inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  inv[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
  inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  inv[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
  inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = inv[i][j];
  return 0;
}

void V_Matrix3::TransformPoint(V_Vector2T<double>* p) const {
  const double x = m[0][0] * p->x + m[0][1] * p->y + m[0][2];
  const double y = m[1][0] * p->x + m[1][1] * p->y + m[1][2];
  const double w = m[2][0] * p->x + m[2][1] * p->y + m[2][2];
  // Affine matrices keep w = 1; a projective row is honoured rather than ignored.
  if (w != 1.0 && w != 0.0) {
    p->x = x / w;
    p->y = y / w;
  } else {
    p->x = x;
    p->y = y;
  }
}

void V_Matrix3::TransformRect(V_Rect* r, V_Vector2T<double>* exactTopLeft,
                              unsigned char* axisAligned) const {
  V_Vector2T<double> c[4] = {{double(r->left), double(r->top)},
                             {double(r->right), double(r->top)},
                             {double(r->right), double(r->bottom)},
                             {double(r->left), double(r->bottom)}};
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (int i = 0; i < 4; ++i) {
    TransformPoint(&c[i]);
    if (i == 0 || c[i].x < x0) x0 = c[i].x;
    if (i == 0 || c[i].x > x1) x1 = c[i].x;
    if (i == 0 || c[i].y < y0) y0 = c[i].y;
    if (i == 0 || c[i].y > y1) y1 = c[i].y;
  }
  if (exactTopLeft) *exactTopLeft = V_Vector2T<double>(x0, y0);
  if (axisAligned)
    *axisAligned = (m[0][1] == 0.0 && m[1][0] == 0.0) || (m[0][0] == 0.0 && m[1][1] == 0.0);
  r->left = ClampShort(std::floor(x0));
  r->top = ClampShort(std::floor(y0));
  r->right = ClampShort(std::ceil(x1));
  r->bottom = ClampShort(std::ceil(y1));
}

bool V_Matrix3::operator==(const V_Matrix3& o) const {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (m[i][j] != o.m[i][j]) return false;
  return true;
}

int32_t Vp_ReportErr(const char* what) {
  JOT_Log(1, "V", "MathError", what);
  return V_Err_DivideByZero;
}
