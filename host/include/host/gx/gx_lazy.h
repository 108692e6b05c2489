// SPDX-License-Identifier: MIT
/// @file
/// Lazy tiles: a pixel grid made valid tile by tile, on demand, by an operator.
///
/// Coordinates are the grid's own pixels: (0, 0) is the top-left pixel of the
/// operator's extent (for the paint mask, the mask buffer; for a pre-stroke copy, the
/// destination buffer). Tile (tx, ty) covers x in [tx × size, (tx + 1) × size) and
/// y likewise, clipped to the extent. Requests are clipped to the extent, so any
/// rectangle, even one partly or wholly outside, is a valid request.
///
/// Not safe for concurrent use: one thread at a time, like the renderer that owns it.
#pragma once

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "host/y/y.h"

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

/// The work that makes one tile valid.
class GX_LazyOperator : public Y_MemTrackedObject {
public:
  ~GX_LazyOperator() override = default;
  /// Width and height of the grid, in pixels; fixed for the operator's life.
  ///@{
  virtual int32_t GetWidth() const = 0;
  virtual int32_t GetHeight() const = 0;
  ///@}
  /// Makes the pixels of `tile` (inside the extent, never empty) valid. Answers 0, or
  /// a host error code, in which case the tile stays invalid and is tried again on
  /// the next request.
  virtual int32_t MakeTileValid(const V_LRect& tile) = 0;
};

/// A grid of square tiles, each made valid at most once by the operator.
class GX_LazyTiles : public Y_MemTrackedObject {
public:
  /// Tile size used for the paint mask.
  static constexpr int32_t kDefaultTileSize = 128;
  /// Tile size for a pre-stroke copy. A stroke's band crosses many tiles it covers only
  /// in part, and each tile is copied whole the first time a call paints over it: with
  /// small tiles the copy stays close to the pixels the stroke restores. Bookkeeping is
  /// one bit per tile.
  static constexpr int32_t kCopyTileSize = 32;

  /// Takes over the operator held by `*takeOver` (which is left empty). All tiles
  /// start invalid. Throws std::invalid_argument when `size` < 1 or there is no
  /// operator (the scoped pointer is then left as it was).
  GX_LazyTiles(int32_t size, boost::scoped_ptr<GX_LazyOperator>* takeOver);
  ~GX_LazyTiles() override;
  GX_LazyTiles(const GX_LazyTiles&) = delete;
  GX_LazyTiles& operator=(const GX_LazyTiles&) = delete;

  /// The operator, owned by the tiles. Callers find its kind with dynamic_cast.
  GX_LazyOperator* GetOperator() const { return op.get(); }
  /// Side of a tile in pixels, as constructed.
  int32_t GetTileSize() const { return tileSize; }
  /// Tiles per row and per column of the grid: the extent divided by the tile size,
  /// rounded up (0 for an empty extent).
  ///@{
  int32_t GetTilesAcross() const { return tilesAcross; }
  int32_t GetTilesDown() const { return tilesDown; }
  ///@}

  /// Runs the operator once on every not-yet-valid tile meeting `rect` (clipped to
  /// the extent; an empty rectangle does nothing), row by row, left to right.
  /// Answers 0, or the first operator error (later tiles are not visited).
  int32_t MakeValid(const V_LRect& rect);
  /// The same for a rectangle of shorts (top, left, bottom, right).
  int32_t MakeValid(const V_Rect& rect);

  /// Marks the tiles meeting `rect` invalid again, so the next request redoes them.
  void Invalidate(const V_LRect& rect);
  /// Marks every tile invalid.
  void InvalidateAll();
  /// Whether tile (tx, ty) is valid; false outside the grid.
  bool IsTileValid(int32_t tx, int32_t ty) const;
  /// Number of valid tiles.
  int32_t CountValidTiles() const;

private:
  /// Tile index range meeting `rect`, clipped; false when there is none.
  bool TileSpan(const V_LRect& rect, int32_t* tx0, int32_t* ty0, int32_t* tx1,
                int32_t* ty1) const;

  int32_t tileSize;
  int32_t tileShift = -1;  ///< log2 of the tile size when it is a power of two
  boost::scoped_ptr<GX_LazyOperator> op;
  int32_t tilesAcross = 0;
  int32_t tilesDown = 0;
  std::vector<bool> valid;
};

/// Decides, tile by tile, whether ConditionalMakeValid may make a tile valid now.
using GX_LazyTileConditionProc = bool (*)(void* context, const V_LRect& tile);

/// Lazy tiles that the host can also make valid under a condition of its own.
///
/// The condition is a host predicate on each tile (SetCondition). Without one it
/// holds everywhere, and ConditionalMakeValid is MakeValid. A typical use: the
/// pre-stroke copy of a layer that a clone source also samples; the host makes the
/// source region valid only while the clone reads the layer it paints into.
class GX_LazyTilesCondition : public GX_LazyTiles {
public:
  /// As GX_LazyTiles; the condition starts unset (always holds).
  GX_LazyTilesCondition(int32_t size, boost::scoped_ptr<GX_LazyOperator>* takeOver)
      : GX_LazyTiles(size, takeOver) {}

  /// Sets the predicate (null: the condition always holds). `context` is passed
  /// through and not owned.
  void SetCondition(GX_LazyTileConditionProc proc, void* context) {
    condition = proc;
    conditionContext = context;
  }

  /// Like MakeValid, but skips tiles for which the condition does not hold (they stay
  /// invalid). Answers 0 or the first operator error. The condition is asked only for
  /// tiles that are not valid yet. Takes a rectangle of either kind.
  ///@{
  int32_t ConditionalMakeValid(const V_LRect& rect);
  int32_t ConditionalMakeValid(const V_Rect& rect);
  ///@}

private:
  GX_LazyTileConditionProc condition = nullptr;
  void* conditionContext = nullptr;
};

/// Fills tiles of an owned single-channel buffer with a constant: the paint mask.
class GX_LazyFillUnoBufferOperator : public GX_LazyOperator {
public:
  /// Takes over the buffer held by `*takeOver` (left empty). `fillValue` is a sample in
  /// the buffer's own units (255 or 32768 is full for 8 or 16 bits), rounded to nearest
  /// and clamped to the sample type's range for integer depths (0..255, 0..65535; NaN
  /// gives 0). Throws std::invalid_argument when there is no buffer.
  GX_LazyFillUnoBufferOperator(boost::scoped_ptr<GX_UnoBuffer>* takeOver, double fillValue);
  ~GX_LazyFillUnoBufferOperator() override;

  /// The buffer, owned by the operator; valid pixels only where tiles are valid.
  GX_UnoBuffer* GetBuffer() const { return buffer.get(); }
  /// The fill value as given, before rounding and clamping.
  double GetFill() const { return fill; }

  int32_t GetWidth() const override;
  int32_t GetHeight() const override;
  int32_t MakeTileValid(const V_LRect& tile) override;

private:
  boost::scoped_ptr<GX_UnoBuffer> buffer;
  double fill;
};

/// Copies tiles from a source layer into a destination world: the pre-stroke copy.
///
/// Destination pixel (x, y) receives source pixel (x + origin.x, y + origin.y). The
/// source layer may be set after construction and changed between requests (the
/// renderer sets it to the layer it paints into); its pixels must be alive while
/// tiles are made valid. Destination pixels with no source pixel (outside the
/// source) become transparent black.
class GX_LazyWorldCopyOperator : public GX_LazyOperator {
public:
  /// `dest` is shared with the host; its size is the grid's extent. `origin` is the
  /// source position of destination pixel (0, 0). Throws std::invalid_argument when
  /// `dest` is null.
  explicit GX_LazyWorldCopyOperator(boost::shared_ptr<GX_World> dest,
                                    const V_LPoint& origin = V_LPoint());
  ~GX_LazyWorldCopyOperator() override;

  /// Copies the record (not the pixels); null clears the source. A tile requested
  /// while there is no source answers GX_Err_BadArgument and stays invalid; a source
  /// of another depth than the destination answers GX_Err_BadDepth.
  void SetSourceLayer(const GX_LayerDef* layer);
  /// Whether a source layer is set.
  bool HasSourceLayer() const { return hasSource; }
  /// The copied source record; an empty record when none is set.
  const GX_LayerDef& GetSourceLayer() const { return source; }
  /// Source position of destination pixel (0, 0). A change affects only tiles made
  /// valid afterwards: invalidate the tiles to recopy them.
  ///@{
  void SetSourceOrigin(const V_LPoint& origin) { sourceOrigin = origin; }
  V_LPoint GetSourceOrigin() const { return sourceOrigin; }
  ///@}
  /// The destination world, shared with the host.
  GX_World* GetDestination() const { return destination.get(); }

  int32_t GetWidth() const override;
  int32_t GetHeight() const override;
  int32_t MakeTileValid(const V_LRect& tile) override;

private:
  boost::shared_ptr<GX_World> destination;
  V_LPoint sourceOrigin;
  GX_LayerDef source;
  bool hasSource = false;
};
