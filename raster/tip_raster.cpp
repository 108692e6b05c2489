// SPDX-License-Identifier: MIT
// The transformed-tip rasterizer: polygon set-up, render set-up and scan conversion.
//
// SetTransform turns the tip rectangle into four vertices in destination pixels, each
// carrying its texture coordinates. RenderInto picks the MIP level (or pair of levels)
// from the smaller scale factor and scan-converts the polygon: two chains of edges walk
// down from the top vertex (left backwards through the vertex order, right forwards),
// and every row between them is drawn whole, from the floor of the left edge to the
// ceiling of the right edge. Anti-aliasing comes from sampling the bordered pyramid,
// not from geometric coverage. Unrotated polygons go to the block kernels, set up once
// per run of rows; rotated ones call a row kernel per row.
#include <algorithm>
#include <cmath>
#include <utility>

#include "kstroke/brush_mipmap.h"
#include "raster/span_kernels.h"
#include "raster/tip_ink.h"
#include "raster/tip_polygon.h"
#include "raster/turned_spans.h"
#include "tips/mip_pyramid.h"

namespace {

constexpr double kCoordLimit = 30000.0;
constexpr double kMinDabPixels = 0.26;

thread_local Kp_RotationMemo tRotationMemo;

int32_t FloorToInt(double v) {
  return static_cast<int32_t>(std::clamp(std::floor(v), -1e9, 1e9));
}
int32_t CeilToInt(double v) { return static_cast<int32_t>(std::clamp(std::ceil(v), -1e9, 1e9)); }

/// × 65536, rounded half away from zero, saturated to 32 bits.
Fx16 RoundFx(double v) {
  const double s = v * 65536.0;
  return static_cast<Fx16>(std::clamp(std::trunc(s < 0 ? s - 0.5 : s + 0.5), -2147483648.0,
                                      2147483647.0));
}
/// × 65536, rounded down, saturated to 32 bits.
Fx16 FloorFx(double v) {
  return static_cast<Fx16>(std::clamp(std::floor(v * 65536.0), -2147483648.0, 2147483647.0));
}

void Advance(Kp_EdgeState* e, int32_t rows) {
  for (int32_t i = 0; i < rows; ++i) {
    e->x += e->dx;
    e->u += e->du;
    e->v += e->dv;
  }
}

unsigned char* DestAt(const Kp_RasterContext& ctx, int32_t x, int32_t y) {
  return ctx.data + std::ptrdiff_t(y - ctx.clipTop) * ctx.rowBytes +
         std::ptrdiff_t(x - ctx.clipLeft) * ctx.BytesPerSample();
}

// Drawing runs of rows
// ====================================================================================

/// `rows` rows from y of an unrotated polygon: one set-up, then one kernel call.
void DrawAxisAlignedRun(const Kp_RasterContext& ctx, int32_t y, int32_t rows,
                        const Kp_EdgeState& l, const Kp_EdgeState& r) {
  const int32_t xf = std::max(FloorToInt(l.x), ctx.clipLeft);
  const int32_t xl = std::min(CeilToInt(r.x), ctx.clipRight - 1);
  const int32_t count = xl - xf + 1;
  if (count < 1) return;
  const double q = r.x == l.x ? 1.0 : 1.0 / (r.x - l.x);
  const double du = (r.u - l.u) * q;
  const double dv = (r.v - l.v) * q;
  Kp_SpanArgs a;
  a.pyramid = ctx.pyramid;
  a.ink = ctx.ink;
  a.paired = ctx.paired;
  a.level = ctx.level;
  a.scale = ctx.scale;
  a.count = count;
  a.u = RoundFx(l.u + du * (xf - l.x));
  a.du = RoundFx(du);
  a.v = RoundFx(l.v + dv * (xf - l.x));
  const Fx16 dvFx = RoundFx(dv);
  const Fx16 rowStep = RoundFx(l.dv);
  a.rows = rows;
  a.rowBytes = ctx.rowBytes;
  unsigned char* dst = DestAt(ctx, xf, y);
  if (ctx.raise) {
    // Whole-sample offsets included: with both fractions 0 the blend is the sample, as
    // the copy below would give.
    a.dv = rowStep;
    if (dvFx != 0 || ctx.filtered || !Kp_UnitBlockRaise(ctx.depth == 16, true, a, dst))
      ctx.declined = true;
    return;
  }

  if (dvFx != 0) {
    // Not produced by an unrotated tip; drawn row by row as the general case.
    a.dv = dvFx;
    const Fx16 v0 = a.v;
    for (int32_t j = 0; j < rows; ++j, dst += ctx.rowBytes) {
      a.v = static_cast<Fx16>(uint32_t(v0) + uint32_t(j) * uint32_t(rowStep));
      ctx.span(a, dst);
    }
    return;
  }
  a.dv = rowStep;
  if (ctx.filtered) return ctx.kernels->trilinearBlock(a, dst);
  // Both start fractions below 1/256 of a sample: the bilinear weights would be
  // (255, 0), so the samples are copied whole.
  if (ctx.level == 0 && a.du == kFx16One && rowStep == kFx16One && (a.u & 0xFF00) == 0 &&
      (a.v & 0xFF00) == 0)
    return CopyBlock(*ctx.pyramid, a.u >> 16, a.v >> 16, count, rows, ctx.rowBytes, dst);
  ctx.kernels->bilinearBlock(a, dst);
}

/// `rows` rows from y of a rotated polygon, one row kernel call per row.
void DrawRotatedRun(const Kp_RasterContext& ctx, int32_t y, int32_t rows, Kp_EdgeState l,
                    Kp_EdgeState r) {
  Kp_SpanProc kernel = ctx.span;
  if (ctx.raise) {
    kernel = ctx.raiseSpan;
    if (!kernel) {
      ctx.declined = true;
      return;
    }
  }
  // What every row shares. Rows go to the batch kernel, when there is one, a few dozen
  // at a time.
  Kp_SpanArgs common;
  common.pyramid = ctx.pyramid;
  common.ink = ctx.ink;
  common.paired = ctx.paired;
  common.memo = &ctx.memo;
  common.level = ctx.level;
  common.scale = ctx.scale;
  constexpr int32_t kBatch = 32;
  Kp_RowArgs batch[kBatch];
  int32_t batched = 0;
  const auto flush = [&] {
    if (batched > 0) ctx.rows(common, batch, batched);
    batched = 0;
  };
  const auto draw = [&](const Kp_SpanArgs& s, unsigned char* dst) {
    if (!ctx.rows) return kernel(s, dst);
    batch[batched++] = Kp_RowArgs{s.count, s.u, s.du, s.v, s.dv, dst};
    if (batched == kBatch) flush();
  };
  for (int32_t j = 0; j < rows; ++j, Advance(&l, 1), Advance(&r, 1)) {
    const Kp_EdgeState* a = &l;
    const Kp_EdgeState* b = &r;
    if (a->x > b->x) std::swap(a, b);
    const int32_t first = std::max(FloorToInt(a->x), ctx.SpanLeft());
    const int32_t last = std::min(CeilToInt(b->x), ctx.clipRight - 1);
    if (last < first) continue;
    const double q = b->x == a->x ? 1.0 : 1.0 / (b->x - a->x);
    const double du = (b->u - a->u) * q;
    const double dv = (b->v - a->v) * q;
    Kp_SpanArgs s = common;
    s.count = last - first + 1;
    s.u = FloorFx(a->u + du * (first - a->x));
    s.du = FloorFx(du);
    s.v = FloorFx(a->v + dv * (first - a->x));
    s.dv = FloorFx(dv);
    if (first < ctx.clipLeft) {
      // Set up from the left edge a draw into the whole buffer would start at; only
      // the part inside the clip is drawn, each sample as that draw gives it.
      if (last < ctx.clipLeft) continue;
      const uint32_t skip = uint32_t(ctx.clipLeft - first);
      s.u = Fx16(uint32_t(s.u) + skip * uint32_t(s.du));
      s.v = Fx16(uint32_t(s.v) + skip * uint32_t(s.dv));
      s.count -= int32_t(skip);
      draw(s, DestAt(ctx, ctx.clipLeft, y + j));
      continue;
    }
    draw(s, DestAt(ctx, first, y + j));
  }
  flush();
}

/// Rows y .. y + k − 1 between the two edge states, clipped top and bottom; the states
/// end advanced by all k rows.
void DrawEdgeSpans(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx, int32_t y,
                   int32_t k, Kp_EdgeState* l, Kp_EdgeState* r) {
  if (y < ctx.clipTop) {
    const int32_t skip = std::min(ctx.clipTop - y, k);
    Advance(l, skip);
    Advance(r, skip);
    y += skip;
    k -= skip;
  }
  if (k <= 0) return;
  const int32_t drawn = std::min(ctx.clipBottom - y, k);
  if (drawn > 0) {
    if (poly.axisAligned)
      DrawAxisAlignedRun(ctx, y, drawn, *l, *r);
    else
      DrawRotatedRun(ctx, y, drawn, *l, *r);
  }
  Advance(l, k);
  Advance(r, k);
}

// Scan conversion
// ====================================================================================

struct Chain {
  int32_t vertex;    ///< the chain's current vertex
  int32_t step;      ///< −1: left chain, +1: right chain
  int32_t endRow;    ///< first row the active edge no longer covers
  double endY;       ///< lower y of the active edge
  Kp_EdgeState edge;
};

/// Takes edges until the chain's active edge reaches below row y. Horizontal and
/// rising edges are skipped; each skip lowers the end row so the walk goes on.
void AdvanceChain(const Kp_TipPolygon& poly, int32_t y, bool thin, int32_t* edgesLeft,
                  Chain* c) {
  const int32_t n = poly.vertexCount;
  while (c->endRow <= y && *edgesLeft > 0) {
    const int32_t next = (c->vertex + c->step + n) % n;
    const Kp_PolygonVertex& a = poly.vertices[c->vertex];
    const Kp_PolygonVertex& b = poly.vertices[next];
    --*edgesLeft;
    if (b.y > a.y) {
      const double h = b.y - a.y;
      Kp_EdgeState& e = c->edge;
      e.dx = (b.x - a.x) / h;
      e.du = (b.u - a.u) / h;
      e.dv = (b.v - a.v) / h;
      e.x = a.x + e.dx * (y - a.y);
      e.u = a.u + e.du * (y - a.y);
      e.v = a.v + e.dv * (y - a.y);
      c->endRow = thin ? CeilToInt(b.y) : FloorToInt(b.y + 0.5);
      c->endY = b.y;
    } else {
      c->endRow -= 1;
    }
    c->vertex = next;
  }
}

}  // namespace

Kp_RotationMemo& Kp_ThreadRotationMemo() noexcept { return tRotationMemo; }

bool Kp_PolygonInRange(const Kp_TipPolygon& poly) noexcept {
  for (int32_t i = 0; i < poly.vertexCount; ++i) {
    const Kp_PolygonVertex& p = poly.vertices[i];
    // Written so that NaN fails too.
    if (!(std::fabs(p.x) < kCoordLimit && std::fabs(p.y) < kCoordLimit)) return false;
  }
  return true;
}

void Kp_SelectLevel(double minScale, int32_t levelCount, Kp_RasterContext* ctx) noexcept {
  ctx->scale = kFx16One;
  ctx->level = 0;
  ctx->filtered = false;
  if (!(minScale < 1.0)) return;  // magnified or unscaled tips sample level 0
  const Fx16 s = minScale > 0 ? static_cast<Fx16>(minScale * 65536.0) : 0;
  // 2^−L alone selects level L; a scale between 2^−(L+1) and 2^−L the pair L, L + 1.
  int32_t t = kFx16One;
  int32_t level = 0;
  do {
    ++level;
    t /= 2;
  } while (s < t && level != 15);
  ctx->scale = s;
  ctx->filtered = s != t;
  if (ctx->filtered) --level;
  const int32_t last = levelCount - 1;
  if (ctx->filtered && level + 1 > last) ctx->filtered = false;
  ctx->level = std::min(level, last);
}

namespace {

// An unrotated rectangle as SetTransform makes it: vertices 0 to 3 at (x0, y0),
// (x1, y0), (x1, y1), (x0, y1) with y0 < y1, u the same down each side, v the same
// along the top and along the bottom.
bool PlainRectangle(const Kp_TipPolygon& poly) {
  if (!poly.axisAligned || poly.vertexCount != 4) return false;
  const Kp_PolygonVertex* p = poly.vertices;
  return p[0].y < p[3].y && p[1].y == p[0].y && p[2].y == p[3].y && p[3].x == p[0].x &&
         p[2].x == p[1].x && p[3].u == p[0].u && p[2].u == p[1].u && p[1].v == p[0].v && p[2].v == p[3].v;
}

// v + dv, `rows` times over, as the walk steps an edge. Not inlined: inside the
// flattened scan the compiler kept v in memory, a store and a load on every step.
__attribute__((noinline)) double SteppedV(double v, double dv, int32_t rows) noexcept {
  for (int32_t i = 0; i < rows; ++i) v += dv;
  return v;
}

// The chain walk's rows for a plain rectangle, without the walk. Its sides are the
// only edges with rows (top and bottom are level); the walk takes both at the first
// row, runs them to the row its end-row rounding gives, then adds the partly covered
// bottom row. v is set up and stepped here as the walk sets up and steps it; x and u
// step by 0/h = 0, which changes no value (at most the sign of a zero, which nothing
// after tells apart), so every row gets the walk's arguments. Most dabs are small and
// unturned, and the walk cost as much as drawing them.
//
// The bottom row joins the run above it when its v is the run's next step in 16.16,
// exactly: the block kernels draw each row from its own arguments, so one call with a
// row more draws what two calls draw, for one call's set-up.
void ScanRectangle(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx) noexcept {
  const Kp_PolygonVertex* p = poly.vertices;
  const double ymin = p[0].y, ymax = p[3].y;
  const bool thin = std::floor(ymax + 0.5) == std::floor(ymin);
  const int32_t y = FloorToInt(ymin);
  if (y >= ctx.clipBottom) return;
  // Both sides run from the top corners down, so they share v and its step.
  const double dv = (p[3].v - p[0].v) / (p[3].y - p[0].y);
  Kp_EdgeState l, r;
  l.x = p[0].x;
  l.u = p[0].u;
  r.x = p[1].x;
  r.u = p[1].u;
  l.dv = r.dv = dv;
  double v = p[0].v + dv * (y - ymin);

  const int32_t k = std::max((thin ? CeilToInt(ymax) : FloorToInt(ymax + 0.5)) - y, 0);
  int32_t row = y, rows = k;
  if (row < ctx.clipTop) {
    const int32_t skip = std::min(ctx.clipTop - row, rows);
    v = SteppedV(v, dv, skip);
    row += skip;
    rows -= skip;
  }
  const double runV = v;
  const int32_t drawn = rows > 0 ? std::min(ctx.clipBottom - row, rows) : 0;
  v = SteppedV(v, dv, rows);  // now at row y + k
  const int32_t bottom = y + k;
  const bool withBottom = !thin && bottom < ctx.clipBottom && bottom >= ctx.clipTop &&
                          std::ceil(ymax) != std::floor(ymax + 0.5);
  if (drawn > 0) {
    const bool joined = withBottom && row + drawn == bottom &&
                        int64_t(RoundFx(v)) == int64_t(RoundFx(runV)) + int64_t(drawn) * RoundFx(dv);
    l.v = r.v = runV;
    DrawAxisAlignedRun(ctx, row, drawn + (joined ? 1 : 0), l, r);
    if (joined) return;
  }
  if (withBottom) {
    l.v = r.v = v;
    DrawAxisAlignedRun(ctx, bottom, 1, l, r);
  }
}

// The scan with everything it calls inlined; built twice below. `shortcut` false walks
// the chains for a plain rectangle too (tests hold the shortcut to the walk).
inline void ScanPolygon(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx, bool shortcut) noexcept {
  if (shortcut && PlainRectangle(poly)) return ScanRectangle(poly, ctx);
  const int32_t n = poly.vertexCount;
  if (n < 2) return;
  double ymin = kCoordLimit, ymax = -kCoordLimit;
  int32_t top = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double vy = poly.vertices[i].y;
    if (vy < ymin) {
      ymin = vy;
      top = i;
    }
    if (vy > ymax) ymax = vy;
  }
  if (!(ymax > ymin)) return;
  // The whole polygon within one row: end rows round up so that row is drawn.
  const bool thin = std::floor(ymax + 0.5) == std::floor(ymin);
  int32_t y = FloorToInt(ymin);
  Chain left{top, -1, y - 1, ymin, {}};
  Chain right{top, +1, y - 1, ymin, {}};
  int32_t edgesLeft = n;
  while (edgesLeft > 0) {
    if (y >= ctx.clipBottom) break;
    AdvanceChain(poly, y, thin, &edgesLeft, &left);
    AdvanceChain(poly, y, thin, &edgesLeft, &right);
    int32_t k = std::max(std::min(left.endRow, right.endRow) - y, 0);
    if (edgesLeft == 0 && !thin) {
      // The bottom row, which the lowest vertex covers only partly, unless the end-row
      // rounding already included it.
      const double yb = std::min(left.endY, right.endY);
      if (std::ceil(yb) != std::floor(yb + 0.5)) ++k;
    }
    if (k > 0) DrawEdgeSpans(poly, ctx, y, k, &left.edge, &right.edge);
    y += k;
  }
}

// The per-row set-up of turned dabs is mostly floor() of doubles, one instruction
// with AVX (ROUNDSD) and a dozen without. Kp_HasAvx2() picks the build, so
// KSTROKE_PORTABLE turns this one off with the vector kernels. Neither enables FMA, so
// every product and sum rounds as written and both give the same rows.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KSTROKE_SCAN_AVX2 1
__attribute__((target("avx2"), flatten)) void ScanPolygonAvx2(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx,
                                                              bool shortcut) noexcept {
  ScanPolygon(poly, ctx, shortcut);
}
#endif

__attribute__((flatten)) void ScanPolygonPlain(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx,
                                               bool shortcut) noexcept {
  ScanPolygon(poly, ctx, shortcut);
}

void ScanPolygonChoosing(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx, bool shortcut) noexcept {
#if defined(KSTROKE_SCAN_AVX2)
  if (Kp_HasAvx2()) return ScanPolygonAvx2(poly, ctx, shortcut);
#endif
  ScanPolygonPlain(poly, ctx, shortcut);
}

}  // namespace

void Kp_ScanPolygon(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx) noexcept {
  ScanPolygonChoosing(poly, ctx, true);
}

void Kp_ScanPolygonByWalk(const Kp_TipPolygon& poly, const Kp_RasterContext& ctx) noexcept {
  ScanPolygonChoosing(poly, ctx, false);
}

// K_BrushMIPMap: transform, render, bounds
// ====================================================================================

void K_BrushMIPMap::SetTransform(V_Vector2T<double> scale, double angleDeg, double roundness,
                                 double pixelAspect, V_Vector2T<double> center) {
  Kp_TipPolygon& poly = *polygon;
  const double w = pyramid->Width(0);
  const double h = pyramid->Height(0);
  const double cx = center.x, cy = center.y;
  const double x0 = cx - w / 2, x1 = x0 + w, y0 = cy - h / 2, y1 = y0 + h;
  double u0 = 0, u1 = w, v0 = 0, v1 = h;
  if (scale.x < 0) std::swap(u0, u1);  // mirror the texture, not the polygon
  if (scale.y < 0) std::swap(v0, v1);
  poly.vertices[0] = {x0, y0, u0, v0};
  poly.vertices[1] = {x1, y0, u1, v0};
  poly.vertices[2] = {x1, y1, u1, v1};
  poly.vertices[3] = {x0, y1, u0, v1};
  poly.vertexCount = 4;
  poly.axisAligned = true;

  double r = roundness;
  if (!(r >= 0.05)) r = 0.05;
  if (r > 1.0) r = 1.0;
  double sx = std::fabs(scale.x);
  double sy = std::fabs(scale.y) * r;
  // Never thinner than 0.26 pixel: with the pyramid's depth this keeps the level pair
  // inside the pyramid for all but very large tips.
  if (w * sx < kMinDabPixels) sx = kMinDabPixels / w;
  if (h * sy < kMinDabPixels) sy = kMinDabPixels / h;
  poly.minScale = std::min(sx, sy);

  if (angleDeg == 0) {
    if (sx != 1 || sy != 1) {
      for (int32_t i = 0; i < 4; ++i) {
        Kp_PolygonVertex& p = poly.vertices[i];
        p.x = cx + (p.x - cx) * sx;
        p.y = cy + (p.y - cy) * sy;
      }
    }
  } else {
    poly.axisAligned = false;
    Kp_RotationMemo& memo = tRotationMemo;
    if (angleDeg != memo.angle) {
      const double a = angleDeg * 6.283185307179586 / 360.0;
      memo.angle = angleDeg;
      memo.cosine = std::cos(a);
      memo.sine = std::sin(a);
    }
    const double c = memo.cosine, s = memo.sine;
    for (int32_t i = 0; i < 4; ++i) {
      Kp_PolygonVertex& p = poly.vertices[i];
      const double dx = (p.x - cx) * sx;
      const double dy = (p.y - cy) * sy;
      p.x = cx + dx * c + dy * s;
      p.y = cy + dy * c - dx * s;
    }
  }
  if (pixelAspect != 1) {
    for (int32_t i = 0; i < 4; ++i) poly.vertices[i].x = cx + (poly.vertices[i].x - cx) / pixelAspect;
  }
}

void Kp_RenderTip(const Kp_TipPolygon& poly, const Kp_MIPPyramid& p, const Kp_PyramidInk* ink,
                  const Kp_PairedRows* paired, const Kp_KernelTable& kernels, GX_UnoBuffer& dst) noexcept {
  if (poly.vertexCount == 0 || !Kp_PolygonInRange(poly)) return;
  if (dst.GetDepth() != p.bitsPerSample) return;
  Kp_RasterContext ctx;
  ctx.clipLeft = 0;
  ctx.clipTop = 0;
  ctx.clipRight = dst.GetWidth();
  ctx.clipBottom = dst.GetHeight();
  ctx.depth = dst.GetDepth() == 16 ? 16 : 8;
  ctx.data = static_cast<unsigned char*>(dst.GetData());
  ctx.rowBytes = dst.GetWidth() * ctx.depth / 8;
  ctx.pyramid = &p;
  ctx.ink = ink;
  ctx.paired = paired;
  ctx.kernels = &kernels;
  Kp_SelectLevel(poly.minScale, p.levelCount, &ctx);
  ctx.span = ctx.filtered ? ctx.kernels->trilinearSpan : ctx.kernels->bilinearSpan;
  if (paired) ctx.rows = ctx.filtered ? ctx.kernels->trilinearRows : ctx.kernels->bilinearRows;
  Kp_ScanPolygon(poly, ctx);
}

void K_BrushMIPMap::RenderInto(GX_UnoBuffer& dst) const {
  if (!polygon) return;
  Kp_RenderTip(*polygon, *pyramid, ink, paired, Kp_Kernels(dst.GetDepth() == 16), dst);
}

bool K_BrushMIPMap::RaiseInto(GX_UnoBuffer& mask, V_LPoint origin, const V_Rect& box) const {
  if (!polygon || polygon->vertexCount == 0 || !Kp_PolygonInRange(*polygon)) return true;
  return Kp_RaiseTip(*polygon, *pyramid, ink, paired, Kp_Kernels(mask.GetDepth() == 16), mask,
                     origin, box);
}

bool Kp_RaiseTip(const Kp_TipPolygon& poly, const Kp_MIPPyramid& p, const Kp_PyramidInk* ink,
                 const Kp_PairedRows* paired, const Kp_KernelTable& kernels, GX_UnoBuffer& mask,
                 V_LPoint origin, const V_Rect& box) noexcept {
  if (mask.GetDepth() != p.bitsPerSample) return false;
  if (box.left < 0 || box.top < 0 || box.right <= box.left || box.bottom <= box.top ||
      origin.x + box.left < 0 || origin.y + box.top < 0 ||
      origin.x + box.right > mask.GetWidth() || origin.y + box.bottom > mask.GetHeight())
    return false;
  Kp_RasterContext ctx;
  // Clipped to the box, which holds the polygon's vertices: the scan starts inside it
  // on the left and at the top, so no row or column is set up differently from an
  // unclipped draw; only the spare column and row past it are cut.
  ctx.clipLeft = box.left;
  ctx.clipTop = box.top;
  ctx.clipRight = box.right;
  ctx.clipBottom = box.bottom;
  ctx.depth = mask.GetDepth() == 16 ? 16 : 8;
  ctx.rowBytes = mask.GetRowBytes();
  ctx.data = mask.Row<unsigned char>(origin.y + box.top) +
             std::ptrdiff_t(origin.x + box.left) * (ctx.depth / 8);
  ctx.pyramid = &p;
  ctx.ink = ink;
  ctx.paired = paired;
  ctx.kernels = &kernels;
  Kp_SelectLevel(poly.minScale, p.levelCount, &ctx);
  if (poly.axisAligned) {
    if (ctx.level != 0 || ctx.filtered) return false;
  } else {
    // A turned row's first sample is set up where a draw into the buffer (from its
    // column 0) would start, which may lie left of the box (edges extrapolated above
    // their upper vertex); the box then cuts the row without moving its samples.
    ctx.raiseSpan = ctx.filtered ? ctx.kernels->trilinearSpanRaise : ctx.kernels->bilinearSpanRaise;
    if (!ctx.raiseSpan || !ctx.paired) return false;
    ctx.rows = ctx.filtered ? ctx.kernels->trilinearRowsRaise : ctx.kernels->bilinearRowsRaise;
    ctx.spanLeft = 0;
  }
  ctx.raise = true;
  Kp_ScanPolygon(poly, ctx);
  return !ctx.declined;
}

V_Rect K_BrushMIPMap::GetRenderedBounds() const {
  if (!polygon || !Kp_PolygonInRange(*polygon)) return V_Rect{};
  double minX = kCoordLimit, minY = kCoordLimit, maxX = -kCoordLimit, maxY = -kCoordLimit;
  for (int32_t i = 0; i < polygon->vertexCount; ++i) {
    const Kp_PolygonVertex& p = polygon->vertices[i];
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  if (maxX < minX || maxY < minY) return V_Rect{};
  // Whole pixels outward. The vertices lie within kCoordLimit, so truncating and
  // stepping once gives floor and ceil exactly, without the library calls this
  // translation unit's baseline target makes of them.
  const auto down = [](double v) {
    const int32_t i = static_cast<int32_t>(v);
    return static_cast<int16_t>(double(i) > v ? i - 1 : i);
  };
  const auto up = [](double v) {
    const int32_t i = static_cast<int32_t>(v);
    return static_cast<int16_t>(double(i) < v ? i + 1 : i);
  };
  V_Rect r;
  r.top = down(minY);
  r.left = down(minX);
  r.bottom = up(maxY);
  r.right = up(maxX);
  return r;
}
