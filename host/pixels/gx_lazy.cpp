// SPDX-License-Identifier: MIT
// Lazy tiles: a validity bit per tile; requests clip to the grid, then run the
// operator on each invalid tile they meet.
#include "host/gx/gx_lazy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

/// Ceil(a / b) for a ≥ 0, b > 0 without overflow.
int32_t CeilDiv(int32_t a, int32_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// Whether any cell meeting `tile` is marked in the buffer's ink map (true without one).
bool HasInk(const GX_UnoBuffer& buffer, const V_LRect& tile) {
  if (!buffer.HasInkMap()) return true;
  constexpr int32_t kCell = GX_UnoBuffer::kInkCell;
  const int32_t c0 = tile.left / kCell, c1 = (tile.right - 1) / kCell;  // inclusive
  for (int32_t w = c0 >> 6; w <= c1 >> 6; ++w) {
    const int32_t lo = std::max(c0 - w * 64, 0), hi = std::min(c1 - w * 64, 63);
    const uint64_t bits = (hi == 63 ? ~uint64_t(0) : (uint64_t(2) << hi) - 1) & ~((uint64_t(1) << lo) - 1);
    uint64_t any = 0;
    for (int32_t y = tile.top; y < tile.bottom; ++y) any |= buffer.InkRow(y)[w];
    if (any & bits) return true;
  }
  return false;
}

template <class T>
void FillTile(GX_UnoBuffer* buffer, const V_LRect& tile, T value) {
  // A value whose bytes are all alike (0 above all: a paint mask's fill) is memset,
  // which stores whole lines; a generic fill of 16-bit samples ran several times
  // slower, and a stroke clears megabytes of tiles per call.
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  const bool uniform =
      std::all_of(bytes, bytes + sizeof(T), [&](unsigned char b) { return b == bytes[0]; });
  if (uniform && bytes[0] == 0) {
    // Cells the buffer's ink map knows to be zero are zero already: a mask made
    // zeroed costs nothing to clear, tile after tile.
    if (!HasInk(*buffer, tile)) return;
    for (int32_t y = tile.top; y < tile.bottom; ++y) {
      T* row = buffer->Row<T>(y);
      GX_ForEachInkRun(*buffer, y, tile.left, tile.right, [&](int32_t x0, int32_t x1) {
        std::memset(row + x0, 0, std::size_t(x1 - x0) * sizeof(T));
      });
    }
    buffer->ClearInk(tile);
    return;
  }
  buffer->MarkInk(tile);
  const std::size_t width = std::size_t(tile.right - tile.left);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    T* row = buffer->Row<T>(y);
    if (uniform)
      std::memset(row + tile.left, bytes[0], width * sizeof(T));
    else
      std::fill(row + tile.left, row + tile.right, value);
  }
}

}  // namespace

// GX_LazyTiles
// ====

GX_LazyTiles::GX_LazyTiles(int32_t size, boost::scoped_ptr<GX_LazyOperator>* takeOver)
    : tileSize(size) {
  if (size < 1) throw std::invalid_argument("GX_LazyTiles: tile size below 1");
  if (!takeOver || !takeOver->get()) throw std::invalid_argument("GX_LazyTiles: no operator");
  const int32_t width = std::max((*takeOver)->GetWidth(), 0);
  const int32_t height = std::max((*takeOver)->GetHeight(), 0);
  tilesAcross = CeilDiv(width, tileSize);
  tilesDown = CeilDiv(height, tileSize);
  valid.assign(std::size_t(tilesAcross) * std::size_t(tilesDown), false);
  op.swap(*takeOver);
  if ((size & (size - 1)) == 0) tileShift = __builtin_ctz(uint32_t(size));
}

GX_LazyTiles::~GX_LazyTiles() = default;

bool GX_LazyTiles::TileSpan(const V_LRect& rect, int32_t* tx0, int32_t* ty0, int32_t* tx1,
                            int32_t* ty1) const {
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, op->GetWidth());
  const int32_t bottom = std::min(rect.bottom, op->GetHeight());
  if (right <= left || bottom <= top) return false;
  *tx0 = left / tileSize;
  *ty0 = top / tileSize;
  *tx1 = CeilDiv(right, tileSize);  // exclusive
  *ty1 = CeilDiv(bottom, tileSize);
  return true;
}

int32_t GX_LazyTiles::MakeValid(const V_LRect& rect) {
  // Most requests are a dab's box inside one tile that is valid already: answered
  // without the clipping's divisions and the operator's size. Clipping only shrinks a
  // rectangle, so the general path would look at that one tile or none, and do nothing.
  if (tileShift >= 0 && rect.left >= 0 && rect.top >= 0 && rect.right > rect.left &&
      rect.bottom > rect.top) {
    const int32_t tx = rect.left >> tileShift, ty = rect.top >> tileShift;
    if (((rect.right - 1) >> tileShift) == tx && ((rect.bottom - 1) >> tileShift) == ty &&
        tx < tilesAcross && ty < tilesDown &&
        valid[std::size_t(ty) * std::size_t(tilesAcross) + std::size_t(tx)])
      return 0;
  }
  int32_t tx0, ty0, tx1, ty1;
  if (!TileSpan(rect, &tx0, &ty0, &tx1, &ty1)) return 0;
  for (int32_t ty = ty0; ty < ty1; ++ty) {
    for (int32_t tx = tx0; tx < tx1; ++tx) {
      const std::size_t i = std::size_t(ty) * std::size_t(tilesAcross) + std::size_t(tx);
      if (valid[i]) continue;
      V_LRect tile;
      tile.left = tx * tileSize;
      tile.top = ty * tileSize;
      tile.right = std::min(tile.left + tileSize, op->GetWidth());
      tile.bottom = std::min(tile.top + tileSize, op->GetHeight());
      if (int32_t rc = op->MakeTileValid(tile)) return rc;
      valid[i] = true;
    }
  }
  return 0;
}

int32_t GX_LazyTiles::MakeValid(const V_Rect& rect) {
  V_LRect r;
  r.left = rect.left;
  r.top = rect.top;
  r.right = rect.right;
  r.bottom = rect.bottom;
  return MakeValid(r);
}

void GX_LazyTiles::Invalidate(const V_LRect& rect) {
  int32_t tx0, ty0, tx1, ty1;
  if (!TileSpan(rect, &tx0, &ty0, &tx1, &ty1)) return;
  for (int32_t ty = ty0; ty < ty1; ++ty)
    for (int32_t tx = tx0; tx < tx1; ++tx)
      valid[std::size_t(ty) * std::size_t(tilesAcross) + std::size_t(tx)] = false;
}

void GX_LazyTiles::InvalidateAll() { std::fill(valid.begin(), valid.end(), false); }

bool GX_LazyTiles::IsTileValid(int32_t tx, int32_t ty) const {
  if (tx < 0 || ty < 0 || tx >= tilesAcross || ty >= tilesDown) return false;
  return valid[std::size_t(ty) * std::size_t(tilesAcross) + std::size_t(tx)];
}

int32_t GX_LazyTiles::CountValidTiles() const {
  return int32_t(std::count(valid.begin(), valid.end(), true));
}

// GX_LazyTilesCondition
// ====

int32_t GX_LazyTilesCondition::ConditionalMakeValid(const V_LRect& rect) {
  if (!condition) return MakeValid(rect);
  const int32_t size = GetTileSize();
  const int32_t width = GetOperator()->GetWidth(), height = GetOperator()->GetHeight();
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, width), bottom = std::min(rect.bottom, height);
  // Ask tile by tile; each tile that qualifies goes through MakeValid, which skips it
  // when it is valid already.
  for (int32_t ty = top / size; top < bottom && ty * size < bottom; ++ty) {
    for (int32_t tx = left / size; left < right && tx * size < right; ++tx) {
      V_LRect tile;
      tile.left = tx * size;
      tile.top = ty * size;
      tile.right = std::min(tile.left + size, width);
      tile.bottom = std::min(tile.top + size, height);
      if (IsTileValid(tx, ty) || !condition(conditionContext, tile)) continue;
      if (int32_t rc = MakeValid(tile)) return rc;
    }
  }
  return 0;
}

int32_t GX_LazyTilesCondition::ConditionalMakeValid(const V_Rect& rect) {
  V_LRect r;
  r.left = rect.left;
  r.top = rect.top;
  r.right = rect.right;
  r.bottom = rect.bottom;
  return ConditionalMakeValid(r);
}

// GX_LazyFillUnoBufferOperator
// ====

GX_LazyFillUnoBufferOperator::GX_LazyFillUnoBufferOperator(
    boost::scoped_ptr<GX_UnoBuffer>* takeOver, double fillValue)
    : fill(fillValue) {
  if (!takeOver || !takeOver->get())
    throw std::invalid_argument("GX_LazyFillUnoBufferOperator: no buffer");
  buffer.swap(*takeOver);
}

GX_LazyFillUnoBufferOperator::~GX_LazyFillUnoBufferOperator() = default;

int32_t GX_LazyFillUnoBufferOperator::GetWidth() const { return buffer->GetWidth(); }
int32_t GX_LazyFillUnoBufferOperator::GetHeight() const { return buffer->GetHeight(); }

int32_t GX_LazyFillUnoBufferOperator::MakeTileValid(const V_LRect& tile) {
  const auto sample = [&](double full) {
    const double v = std::nearbyint(std::isnan(fill) ? 0.0 : std::min(std::max(fill, 0.0), full));
    return v;
  };
  switch (buffer->GetDepth()) {
    case 8: FillTile(buffer.get(), tile, uint8_t(sample(255.0))); break;
    case 16: FillTile(buffer.get(), tile, uint16_t(sample(65535.0))); break;
    default: FillTile(buffer.get(), tile, float(fill)); break;
  }
  return 0;
}

// GX_LazyWorldCopyOperator
// ====

GX_LazyWorldCopyOperator::GX_LazyWorldCopyOperator(boost::shared_ptr<GX_World> dest,
                                                   const V_LPoint& origin)
    : destination(std::move(dest)), sourceOrigin(origin) {
  if (!destination) throw std::invalid_argument("GX_LazyWorldCopyOperator: no destination");
}

GX_LazyWorldCopyOperator::~GX_LazyWorldCopyOperator() = default;

void GX_LazyWorldCopyOperator::SetSourceLayer(const GX_LayerDef* layer) {
  hasSource = layer != nullptr;
  source = layer ? *layer : GX_LayerDef();
}

int32_t GX_LazyWorldCopyOperator::GetWidth() const { return destination->Width(); }
int32_t GX_LazyWorldCopyOperator::GetHeight() const { return destination->Height(); }

int32_t GX_LazyWorldCopyOperator::MakeTileValid(const V_LRect& tile) {
  if (!hasSource || (source.data == nullptr && source.width > 0 && source.height > 0))
    return GX_Err_BadArgument;
  GX_LayerDef& dst = *destination->GetLayer();
  if (GXp_WorldDepth(&source) == 0 || GXp_WorldDepth(&source) != GXp_WorldDepth(&dst))
    return GX_Err_BadDepth;
  const int32_t pixelBytes = GXp_PixelBytes(dst.depth);
  // Columns of the tile that have a source pixel: [sl, sr) in destination x.
  const int32_t sl = std::clamp(-sourceOrigin.x, tile.left, tile.right);
  const int32_t sr = std::clamp(source.width - sourceOrigin.x, sl, tile.right);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    unsigned char* row = static_cast<unsigned char*>(GXp_PixelAddress(dst, 0, y));
    const int32_t sy = y + sourceOrigin.y;
    if (sy < 0 || sy >= source.height || sl == sr) {
      std::memset(row + std::ptrdiff_t(tile.left) * pixelBytes, 0,
                  std::size_t(tile.right - tile.left) * std::size_t(pixelBytes));
      continue;
    }
    // Most tiles lie wholly over the source: no call for empty margins, which a
    // stroke's many small tiles would otherwise make twice a row.
    if (sl > tile.left)
      std::memset(row + std::ptrdiff_t(tile.left) * pixelBytes, 0,
                  std::size_t(sl - tile.left) * std::size_t(pixelBytes));
    std::memcpy(row + std::ptrdiff_t(sl) * pixelBytes,
                GXp_PixelAddress(source, sl + sourceOrigin.x, sy),
                std::size_t(sr - sl) * std::size_t(pixelBytes));
    if (tile.right > sr)
      std::memset(row + std::ptrdiff_t(sr) * pixelBytes, 0,
                  std::size_t(tile.right - sr) * std::size_t(pixelBytes));
  }
  return 0;
}
