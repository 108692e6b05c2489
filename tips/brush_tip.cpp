// SPDX-License-Identifier: MIT
// The brush tip bitmap and the computed soft elliptical tip.
//
// The computed tip is scanned in integer fixed point. Each pixel centre (x, y), in
// sixteenths of a pixel from the tip's centre, is rotated by (cs, sn) (× 16384) into the
// ellipse's frame and divided by the semi-axes A and B (quarter pixels), which gives
// the normalised coordinates p, q with 65536 = the ellipse's edge. Their length comes
// from kHypotTable, and the distance n inside the edge, divided by the soft-edge width
// E, indexes the falloff profile:
//
//   coverage  full ─────────┐
//                           └──╮  kFalloffTable[0..1023]
//                              ╰────── 0
//             centre      1 − E/65536      edge (n = 65536)
#include "kstroke/brush_tip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

#include "tips/tip_geometry.h"
#include "tips/tip_tables.h"

// K_BrushTip
// ====================================================================================

K_BrushTip::~K_BrushTip() { delete tipBuffer; }

V_Vector2T<short> K_BrushTip::GetExtent() const {
  return {static_cast<short>(tipBuffer->GetWidth()), static_cast<short>(tipBuffer->GetHeight())};
}

bool K_BrushTip::IsDeep() const { return tipBuffer->GetDepth() == 16; }

void K_BrushTip::AllocateTipBuffer(V_Vector2T<short> size, bool deep) {
  GX_UnoBuffer* fresh = new GX_UnoBuffer(size.x, size.y, deep ? 16 : 8);
  if (!fresh) throw std::bad_alloc();
  delete tipBuffer;
  tipBuffer = fresh;
  ClearTipOutline();
}

// Geometry
// ====================================================================================

int32_t Kp_RoundToInt(double v) {
  if (std::isnan(v)) return 0;
  const double r = v >= 0 ? std::floor(v + 0.5) : -std::floor(0.5 - v);
  if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

int32_t Kp_Clamp16(int32_t v) { return std::clamp<int32_t>(v, -32768, 32767); }

int32_t Kp_FloorDiv4(int32_t v) { return v >= 0 ? v / 4 : -((-v + 3) / 4); }
int32_t Kp_CeilDiv4(int32_t v) { return -Kp_FloorDiv4(-v); }

Kp_TipGeometry Kp_ComputeTipGeometry(double diameter, int32_t hardnessPercent,
                                     int32_t roundnessPercent, int32_t angleDegrees) {
  Kp_TipGeometry g;
  // Small tips are always soft: below 5 pixels k is 0 and the factor is 3.3.
  int32_t k = static_cast<int32_t>(100.5 - 500.0 / diameter);
  k = std::max(k, 0);
  const int32_t t = static_cast<int32_t>(int64_t(k) * hardnessPercent / 100);
  const double factor = (100 - t) * 0.013 + 2.0;
  g.axisAQp = diameter <= 1.0 ? 2 : Kp_Clamp16(Kp_RoundToInt(factor * diameter));

  const int64_t r = std::min<int32_t>(roundnessPercent, 100);
  int64_t b = (r * g.axisAQp + 50) / 100;
  b = std::max<int64_t>(b, 6);
  b = std::min<int64_t>(b, g.axisAQp);
  g.axisBQp = static_cast<int32_t>(b);

  // Whole turns first: the cosine and sine of a reduced angle round to the same 14-bit
  // values as the unreduced one's (checked for every angle within ±3e6 degrees), and a
  // tip turned by 360·k is then the same tip however large k is.
  const double a = (angleDegrees % 360) * 3.14159265358979323846 / 180.0;
  g.cos14 = Kp_Clamp16(Kp_RoundToInt(std::cos(a) * 16384.0));
  g.sin14 = Kp_Clamp16(Kp_RoundToInt(std::sin(a) * 16384.0));

  // A fully hard tip has the narrowest edge (w); hardness 0 spreads it over the radius.
  const int32_t w = std::clamp<int32_t>(g.axisAQp > 0 ? 655360 / g.axisAQp : 65535, 1, 65535);
  const int64_t e = w + int64_t(100 - hardnessPercent) * (65535 - w) / 100;
  g.edgeWidth = static_cast<int32_t>(std::clamp<int64_t>(e, 1, 65535));
  return g;
}

Kp_PixelBounds Kp_TipPixelBounds(int32_t halfXQp, int32_t halfYQp) {
  // The centre sits at quarter pixel 2 of its pixel, i.e. in the pixel's middle.
  Kp_PixelBounds b;
  b.top = Kp_FloorDiv4(2 - halfYQp);
  b.left = Kp_FloorDiv4(2 - halfXQp);
  b.bottom = Kp_CeilDiv4(2 + halfYQp);
  b.right = Kp_CeilDiv4(2 + halfXQp);
  return b;
}

Kp_PixelBounds Kp_ComputedTipBounds(const Kp_TipGeometry& g) {
  const int32_t acs = std::abs(g.cos14);
  const int32_t asn = std::abs(g.sin14);
  const int32_t hx =
      std::min<int32_t>(static_cast<int32_t>((int64_t(g.axisAQp) * acs + int64_t(g.axisBQp) * asn - 1) >> 14),
                        g.axisAQp - 1);
  const int32_t hy =
      std::min<int32_t>(static_cast<int32_t>((int64_t(g.axisAQp) * asn + int64_t(g.axisBQp) * acs - 1) >> 14),
                        g.axisAQp - 1);
  return Kp_TipPixelBounds(hx, hy);
}

namespace {

/// Whole percent from a factor; NaN counts as 0, magnitudes are limited so the
/// truncation stays defined.
int32_t TruncClamped(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(v, -1e6, 1e6));
}

/// trunc(angle + 0.5) toward zero; beyond the 32-bit range the whole degrees are taken
/// modulo 360 (fmod of an integral double is exact), which turns the tip by whole turns.
int32_t WholeDegrees(double angle) {
  if (!std::isfinite(angle)) return 0;
  const double t = std::trunc(angle + 0.5);
  if (std::fabs(t) < 2147483647.0) return static_cast<int32_t>(t);
  return static_cast<int32_t>(std::fmod(t, 360.0));
}

enum class CoverageMode { kTable, kDither, kDeep };

/// n / d as a division: the tip's definition.
struct PlainDivide {
  explicit PlainDivide(uint32_t divisor) : d(divisor) {}
  uint64_t operator()(uint64_t n) const { return n / d; }
  uint64_t d;
};

#if defined(__SIZEOF_INT128__)
/// n / d for a fixed d ≥ 2 as the high half of n × ⌈2^64 / d⌉: with 32-bit n and d,
/// 64 fractional bits are enough for the product to floor to the exact quotient.
/// Numerators of 2^32 and more (positions of tips thousands of pixels wide) divide.
/// A 64-bit division costs more than the rest of a pixel's coverage together.
struct ReciprocalDivide {
  explicit ReciprocalDivide(uint32_t divisor) : d(divisor), c(~uint64_t(0) / divisor + 1) {}
  uint64_t operator()(uint64_t n) const {
    if (n >> 32) return n / d;
    return static_cast<uint64_t>((static_cast<unsigned __int128>(c) * n) >> 64);
  }
  uint64_t d, c;
};
#else
using ReciprocalDivide = PlainDivide;
#endif

/// Dividers by A, B and E.
template <class Div>
struct TipDivisors {
  explicit TipDivisors(const Kp_TipGeometry& g)
      : a(uint32_t(g.axisAQp)), b(uint32_t(g.axisBQp)), e(uint32_t(g.edgeWidth)) {}
  Div a, b, e;
};

/// Coverage of one pixel at rotated position (u, v) (sixteenths × 16384).
template <CoverageMode M, class Div>
uint32_t Coverage(int64_t u, int64_t v, const TipDivisors<Div>& div, K_TipNoise* noise) {
  constexpr uint32_t kFull = M == CoverageMode::kDeep ? 32768u : 255u;
  const uint64_t p = div.a(uint64_t(u < 0 ? -u : u));
  const uint64_t q = div.b(uint64_t(v < 0 ? -v : v));
  if (p > 65535 || q > 65535) return 0;
  const uint32_t hi = uint32_t(std::max(p, q));
  const uint32_t lo = uint32_t(std::min(p, q));
  if (hi == 0) return kFull;
  // 256 × lo < 2^24: the quotient fits a 32-bit division.
  const int64_t d = int64_t(kHypotTable[std::size_t(256 * lo / hi)]) * hi;
  if (d > 1073741823) return 0;  // outside the ellipse
  const uint32_t n = static_cast<uint32_t>(d >> 14);
  // (65536 − n) × 65536 wraps to 0 for n = 0, which then indexes the full entry 0.
  const uint32_t f = static_cast<uint32_t>(div.e((65536u - n) << 16));
  if (f > 65535) return kFull;  // inside the soft edge
  const uint32_t idx = ((0u - f) >> 6) & 1023u;
  const uint32_t profile = kFalloffTable[idx];
  if (M == CoverageMode::kTable) return profile >> 8;
  if (M == CoverageMode::kDither) {
    const uint32_t dither = static_cast<uint32_t>(noise->Next() & 0x7FFF) >> 8;
    return (dither + profile) >> 8;
  }
  return (profile * 128 + 127) / 255;
}

/// The tip's pixels in `rows`, each from its own coverage. kMirror: a half-turn about
/// the centre pixel maps (u, v) to (−u, −v) exactly, and a pixel's coverage depends on
/// |u| and |v| alone, so only the rows down to the middle, and the middle row's left
/// half, are worked out; each other pixel copies its mirror image. This needs a box
/// centred on the tip's centre pixel (as Kp_ComputedTipBounds makes it), and no dither,
/// whose noise goes to the pixels in scan order.
template <class T, CoverageMode M, class Div, bool kMirror>
void FillTip(GX_UnoBuffer* buffer, const Kp_TipGeometry& g, const Kp_PixelBounds& b,
             K_TipNoise* noise) {
  const TipDivisors<Div> div(g);
  const int64_t stepCs = 16 * int64_t(g.cos14);
  const int64_t stepSn = 16 * int64_t(g.sin14);
  const int32_t width = buffer->GetWidth(), height = buffer->GetHeight();
  const int32_t computedRows = kMirror ? (height + 1) / 2 : height;
  // Row-start terms y·sn and y·cs; each column adds 16·cs to x·cs and 16·sn to x·sn.
  int64_t ySn = 16 * int64_t(b.top) * g.sin14;
  int64_t yCs = 16 * int64_t(b.top) * g.cos14;
  for (int32_t row = 0; row < computedRows; ++row, ySn += stepSn, yCs += stepCs) {
    T* out = buffer->Row<T>(row);
    const int32_t columns = kMirror && row == height - 1 - row ? (width + 1) / 2 : width;
    int64_t xCs = 16 * int64_t(b.left) * g.cos14;
    int64_t xSn = 16 * int64_t(b.left) * g.sin14;
    for (int32_t col = 0; col < columns; ++col, xCs += stepCs, xSn += stepSn)
      out[col] = static_cast<T>(Coverage<M>(xCs - ySn, xSn + yCs, div, noise));
  }
  if (!kMirror) return;
  for (int32_t row = height / 2; row < height; ++row) {
    const T* image = buffer->Row<T>(height - 1 - row);
    T* out = buffer->Row<T>(row);
    for (int32_t col = row == height - 1 - row ? (width + 1) / 2 : 0; col < width; ++col)
      out[col] = image[width - 1 - col];
  }
}

template <class Div, bool kMirror>
void FillTipWith(GX_UnoBuffer* buffer, const Kp_TipGeometry& g, const Kp_PixelBounds& b, bool dither,
                 K_TipNoise* noise) {
  if (buffer->GetDepth() == 16) {
    FillTip<uint16_t, CoverageMode::kDeep, Div, kMirror>(buffer, g, b, nullptr);
  } else if (dither) {
    K_TipNoise own;
    FillTip<uint8_t, CoverageMode::kDither, Div, false>(buffer, g, b, noise ? noise : &own);
  } else {
    FillTip<uint8_t, CoverageMode::kTable, Div, kMirror>(buffer, g, b, nullptr);
  }
}

}  // namespace

void Kp_FillComputedTip(GX_UnoBuffer* buffer, const Kp_TipGeometry& g, const Kp_PixelBounds& b,
                        bool dither, K_TipNoise* noise, bool plainDivision) {
  // The reciprocals need divisors of at least 2: A ≥ 2, B ≥ 6 and E ≥ 20 (A ≤ 32767).
  const bool centred = buffer->GetWidth() == b.right - b.left && buffer->GetHeight() == b.bottom - b.top &&
                       b.left + b.right == 1 && b.top + b.bottom == 1;
  if (plainDivision || g.axisAQp < 2 || g.axisBQp < 2 || g.edgeWidth < 2)
    FillTipWith<PlainDivide, false>(buffer, g, b, dither, noise);
  else if (centred)
    FillTipWith<ReciprocalDivide, true>(buffer, g, b, dither, noise);
  else
    FillTipWith<ReciprocalDivide, false>(buffer, g, b, dither, noise);
}

// K_TipNoise
// ====================================================================================

void K_TipNoise::Seed(uint32_t seed) {
  if (seed == 0) seed = 1;
  // state[i] = 16807 · state[i − 1] mod (2³¹ − 1), in Schrage's form so no product
  // overflows; the first word keeps the seed's 32 bits as a signed value.
  int32_t word = static_cast<int32_t>(seed);
  state[0] = word;
  for (int i = 1; i < 31; ++i) {
    const int64_t hi = word / 127773, lo = word % 127773;
    int64_t next = 16807 * lo - 2836 * hi;
    if (next < 0) next += 2147483647;
    word = static_cast<int32_t>(next);
    state[i] = word;
  }
  front = 3;
  rear = 0;
  for (int i = 0; i < 310; ++i) (void)Next();
}

int32_t K_TipNoise::Next() {
  const uint32_t sum = static_cast<uint32_t>(state[front]) + static_cast<uint32_t>(state[rear]);
  state[front] = static_cast<int32_t>(sum);
  front = front == 30 ? 0 : front + 1;
  rear = rear == 30 ? 0 : rear + 1;
  return static_cast<int32_t>(sum >> 1);
}

// K_ComputedBrushTip
// ====================================================================================

K_ComputedBrushTip::K_ComputedBrushTip(double diameter_, double hardness, double roundness,
                                       double angle, bool dither, bool deep, K_TipNoise* noise)
    : diameter(diameter_ >= 0.5 ? diameter_ : 0.5),
      hardnessPercent(std::clamp(TruncClamped(hardness * 100.0), 0, 100)),
      roundnessPercent(TruncClamped(roundness * 100.0)),
      angleDegrees(WholeDegrees(angle)) {
  const Kp_TipGeometry g =
      Kp_ComputeTipGeometry(diameter, hardnessPercent, roundnessPercent, angleDegrees);
  const Kp_PixelBounds b = Kp_ComputedTipBounds(g);
  hotSpot = {static_cast<short>(2 - 4 * b.left), static_cast<short>(2 - 4 * b.top)};
  AllocateTipBuffer({static_cast<short>(b.right - b.left), static_cast<short>(b.bottom - b.top)},
                    deep);
  Kp_FillComputedTip(tipBuffer, g, b, dither, noise);
}

V_Vector2T<short> K_ComputedBrushTip::GetMaximumExtent(double pixelAspect,
                                                       V_Vector2T<double> scale) const {
  const Kp_TipGeometry g =
      Kp_ComputeTipGeometry(diameter, hardnessPercent, roundnessPercent, angleDegrees);
  // With cosine 16384 and sine 0 the half-extent is A − 1: the square of side W holds
  // the ellipse under any rotation.
  const Kp_PixelBounds b = Kp_TipPixelBounds(g.axisAQp - 1, g.axisAQp - 1);
  const double w = double(b.right - b.left + 2);
  const double s = std::max(std::fabs(scale.x), std::fabs(scale.y));
  auto side = [](double v) {
    if (!(v > 0)) return short(0);
    return static_cast<short>(std::min(std::ceil(v), 32767.0));
  };
  return {side(w * s / pixelAspect), side(w * s)};
}
