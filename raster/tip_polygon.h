// SPDX-License-Identifier: MIT
// The transformed tip polygon and the scan state of the tip rasterizer.
//
// Destination coordinates are pixels with y growing downward; pixel (x, y) covers
// [x, x + 1) × [y, y + 1). Texture coordinates are level-0 samples of the tip: sample i
// of a row lies at u = i, so the tip spans u from 0 to its width. Edge positions are
// evaluated at the top of each row (integer y). Texture coordinates reach the span
// kernels as 16.16 fixed point (raster/span_kernels.h).
#pragma once

#include <cstdint>

#include "host/gx/gx.h"
#include "raster/span_kernels.h"
#include "raster/turned_spans.h"

struct Kp_PolygonVertex {
  double x = 0, y = 0;  ///< destination pixels
  double u = 0, v = 0;  ///< level-0 texture samples
};

struct Kp_TipPolygon {
  static constexpr int32_t kCapacity = 12;
  Kp_PolygonVertex vertices[kCapacity];
  double minScale = 0;       ///< smaller of the two scale factors; picks the MIP level
  int32_t vertexCount = 0;
  bool axisAligned = false;  ///< an unrotated rectangle: block kernels apply
};

/// One chain's active edge at the current row and its change per row.
struct Kp_EdgeState {
  double x = 0, u = 0, v = 0;
  double dx = 0, du = 0, dv = 0;
};

struct Kp_RasterContext {
  int32_t clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;  ///< right, bottom exclusive
  Kp_SpanProc span = nullptr;          ///< row kernel for rotated polygons
  const Kp_KernelTable* kernels = nullptr;
  unsigned char* data = nullptr;       ///< pixel (clipLeft, clipTop)
  int32_t rowBytes = 0;
  int32_t planeCount = 1;
  int32_t planeStep = 1;
  Fx16 scale = kFx16One;
  int32_t level = 0;
  const Kp_MIPPyramid* pyramid = nullptr;
  const Kp_PyramidInk* ink = nullptr;  ///< optional (raster/tip_ink.h)
  const Kp_PairedRows* paired = nullptr;  ///< optional (raster/turned_spans.h)
  int32_t depth = 8;                   ///< bits per sample: 8 or 16
  bool filtered = false;               ///< two levels are blended
  /// Raise the destination (max) instead of storing: only the level-0 unit-step block
  /// can; any other run sets `declined` and draws nothing.
  bool raise = false;
  mutable bool declined = false;
  /// Raising, turned rows: the kernel (null: declined) and the left edge their set-up
  /// clips at, left of clipLeft (INT32_MIN: clipLeft).
  Kp_SpanProc raiseSpan = nullptr;
  int32_t spanLeft = INT32_MIN;
  /// Turned rows in batches (the table's row kernels for the mode), or null: one span
  /// kernel call per row. Needs `paired`.
  Kp_RowsProc rows = nullptr;
  mutable Kp_RowMemo memo;  ///< shared by the rows of one draw

  int32_t BytesPerSample() const { return depth == 16 ? 2 : 1; }
  int32_t SpanLeft() const { return spanLeft == INT32_MIN ? clipLeft : spanLeft; }
};

/// The last rotation's angle (degrees), cosine and sine; one per thread.
struct Kp_RotationMemo {
  double angle = 0;
  double cosine = 1;
  double sine = 0;
};
Kp_RotationMemo& Kp_ThreadRotationMemo() noexcept;

/// Level and blend choice for a polygon's minimum scale on a pyramid of `levelCount`
/// levels (the clamp past the pyramid is documented in kstroke/brush_mipmap.h).
void Kp_SelectLevel(double minScale, int32_t levelCount, Kp_RasterContext* ctx) noexcept;

/// True when every vertex lies strictly inside (−30000, 30000) on both axes.
bool Kp_PolygonInRange(const Kp_TipPolygon& poly) noexcept;

/// Scan-converts the polygon into the context's destination. A plain unturned
/// rectangle (as SetTransform makes one) takes a shortcut that draws the rows the
/// chain walk draws, with the same arguments, without walking.
void Kp_ScanPolygon(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx) noexcept;
/// Kp_ScanPolygon by the chain walk for every polygon, for tests of the shortcut.
void Kp_ScanPolygonByWalk(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx) noexcept;

/// K_BrushMIPMap::RenderInto with the given kernels, ink record and paired rows
/// (either null: none), so tests can hold whole dabs drawn by the fast kernels to the
/// reference kernels.
void Kp_RenderTip(const Kp_TipPolygon& poly, const Kp_MIPPyramid& p, const Kp_PyramidInk* ink,
                  const Kp_PairedRows* paired, const Kp_KernelTable& kernels, GX_UnoBuffer& dst) noexcept;
/// K_BrushMIPMap::RaiseInto for a polygon in range with at least one vertex, with the
/// given kernels (tests hold each vector width to drawing aside and accumulating).
bool Kp_RaiseTip(const Kp_TipPolygon& poly, const Kp_MIPPyramid& p, const Kp_PyramidInk* ink,
                 const Kp_PairedRows* paired, const Kp_KernelTable& kernels, GX_UnoBuffer& mask,
                 V_LPoint origin, const V_Rect& box) noexcept;
