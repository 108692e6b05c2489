// SPDX-License-Identifier: MIT
/// @file
/// Host pixel library, core: pixel types, layers, worlds, single-channel buffers, the
/// progress record and flat fills.
///
/// Pixels have four channels, alpha first (alpha, red, green, blue). Full value is 255
/// at 8 bits, 32768 at 16 bits ("deep") and 1.0 in float; single-channel coverage uses
/// the same full values. Rows may be padded: always step by rowBytes. Every call that
/// answers int32_t answers 0 for success or a host error code (host/y/errors.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/v/v.h"
#include "host/y/y.h"

/// An 8-bit pixel, channels 0..255, colour straight (not premultiplied).
struct GX_Pixel8 {
  /// Channels in memory order, alpha first; 255 is full.
  ///@{
  uint8_t alpha, red, green, blue;
  ///@}
};
/// A 16-bit ("deep") pixel, channels 0..32768, colour straight.
struct GX_Pixel16 {
  /// Channels in memory order, alpha first; 32768 is full.
  ///@{
  uint16_t alpha, red, green, blue;
  ///@}
};
/// A float pixel, colour straight; 1.0 is full, and colour may leave 0..1.
struct GX_PixelFloat {
  /// Channels in memory order, alpha first; 1.0 is full.
  ///@{
  float alpha, red, green, blue;
  ///@}
};

/// Full value of an 8-bit and of a 16-bit sample (float: 1.0).
///@{
constexpr int32_t kGX_Full8 = 255;
constexpr int32_t kGX_Full16 = 32768;
///@}

/// Progress and cancellation, patched in place by the engine while it works.
/// `progress` answers 0 to go on; any other value stops the operation and becomes its
/// error code. `abortCheck` answers non-zero when the user asked to stop.
using GX_AbortCheckProc = int32_t (*)(void* context);
/// Told that `done` of `total` units (rows, mostly) are finished; answers 0 to go on.
using GX_ProgressProc = int32_t (*)(void* context, int32_t done, int32_t total);
/// The progress record a long call reports through; a null record, or null callbacks,
/// mean nobody is listening.
struct GX_ProgressInfo {
  void* context = nullptr;                 ///< passed to both callbacks; not owned
  GX_AbortCheckProc abortCheck = nullptr;  ///< asked between steps of long work; may be null
  GX_ProgressProc progress = nullptr;      ///< called by GX_ReportProgress; may be null
};
/// Reports (done, total) through the record when it has a callback; 0 otherwise.
int32_t GX_ReportProgress(GX_ProgressInfo* progress, int32_t done, int32_t total);

/// True when the environment variable KSTROKE_PORTABLE is set to anything but "" or
/// "0": every path picked by the processor's features at run time gives way to the one
/// every x86-64 processor runs (SSE2). The pixels are the same either way. Read once.
bool GX_PortableForced();
/// True when the processor runs AVX2 and the portable path is not forced. Decided once
/// per process.
bool GX_HasAvx2();

/// A 4-channel image: `depth` bits per channel (8, 16 or 32 = float), `rowBytes` from
/// one row to the next (at least width × 4 × depth / 8). Does not own its pixels.
struct GX_LayerDef {
  int32_t width = 0;     ///< pixels per row
  int32_t height = 0;    ///< rows
  int32_t rowBytes = 0;  ///< bytes from the start of one row to the next
  int16_t depth = 8;     ///< bits per channel: 8, 16 or 32 (float)
  void* data = nullptr;  ///< pixel (0, 0); may be null only for an empty layer
};

/// 8, 16 or 32 (float) for a layer; 0 for none or an unknown depth.
int32_t GXp_WorldDepth(const GX_LayerDef* layer);
/// Bytes of one 4-channel pixel at a depth (4, 8, 16), 0 for an unknown depth.
int32_t GXp_PixelBytes(int32_t depth);
/// Address of pixel (x, y) of a layer; no range check.
inline void* GXp_PixelAddress(const GX_LayerDef& layer, int32_t x, int32_t y) {
  return static_cast<unsigned char*>(layer.data) + std::ptrdiff_t(y) * layer.rowBytes +
         std::ptrdiff_t(x) * GXp_PixelBytes(layer.depth);
}

/// Host image object: owns its pixels, or refers to pixels owned elsewhere.
///
/// Flags of New: 0 or any value; pixels are always zeroed (transparent black) so a
/// new world never shows stale memory. Rows are padded to 16 bytes. Pixels of 2 MB
/// and more (and single-channel buffers as large) are mapped on their own, starting on
/// a 2 MB boundary, for transparent huge pages: a stroke walks the rows of an image
/// and would otherwise wait on an address translation for every one.
class GX_World : public Y_MemTrackedObject {
public:
  /// Throws std::bad_alloc when memory runs out, std::invalid_argument for a negative
  /// size or an unknown depth.
  static GX_World* New(int32_t width, int32_t height, int32_t depth, int32_t flags);
  /// A world wrapping the layer's pixels (not owned).
  static GX_World* NewReference(GX_LayerDef* layer);
  /// A world sharing the pixels of `parent` inside `rect`, clipped to the parent.
  /// The parent's pixels must outlive the reference.
  static GX_World* NewReference(GX_World* parent, const V_Rect& rect);

  ~GX_World() override;
  GX_World(const GX_World&) = delete;
  GX_World& operator=(const GX_World&) = delete;

  /// The world's layer record, valid as long as the world; the pixels may be written
  /// through it.
  ///@{
  GX_LayerDef* GetLayer() { return &layer; }
  const GX_LayerDef* GetLayer() const { return &layer; }
  ///@}
  /// Size in pixels and depth in bits per channel (8, 16, 32), as in the layer record.
  ///@{
  int32_t Width() const { return layer.width; }
  int32_t Height() const { return layer.height; }
  int32_t Depth() const { return layer.depth; }
  ///@}
  /// True for a world made by New, which frees its pixels; false for a reference.
  bool OwnsPixels() const { return owned != nullptr; }

private:
  GX_World() = default;
  GX_LayerDef layer;
  void* owned = nullptr;
  std::size_t ownedBytes = 0;
};

/// Raw memory recycled as GX_UnoBuffer's is: for scratch a stroke makes afresh each
/// time (a brush tip's MIP pyramid). Holds `Size()` bytes, aligned to 16; an empty
/// block holds none.
class GX_Block {
public:
  GX_Block() = default;
  /// `bytes` of memory, all zero when `zeroed`, else holding whatever the block's last
  /// user left. Throws std::bad_alloc.
  GX_Block(std::size_t bytes, bool zeroed);
  ~GX_Block();
  /// Takes `other`'s memory; `other` is left empty.
  GX_Block(GX_Block&& other) noexcept;
  /// Gives back this block's memory and takes `other`'s; `other` is left empty.
  GX_Block& operator=(GX_Block&& other) noexcept;
  GX_Block(const GX_Block&) = delete;
  GX_Block& operator=(const GX_Block&) = delete;

  /// The first byte; null for an empty block.
  unsigned char* Data() const { return data; }
  /// Bytes held.
  std::size_t Size() const { return bytes; }

private:
  unsigned char* data = nullptr;
  std::size_t bytes = 0;
};

/// Single-channel buffer of 8, 16 or 32 (float) bits per sample; rows are exactly
/// width × bytes per sample. Contents are undefined until filled, unless the buffer is
/// made with GX_UnoBuffer::kZeroed.
///
/// Buffers of 32 KB and more are recycled: their memory goes to a small pool when
/// freed (64 MB at most for buffers of 1 MB and more, 8 MB for smaller ones) and serves
/// the next buffer of the same size, because strokes make and drop layer-sized masks
/// and tip-sized scratch, and refaulting fresh pages costs more than painting.
///
/// Ink map. A buffer may keep, for each row, one bit per cell of kInkCell samples
/// (cell c covers x in [c × kInkCell, (c + 1) × kInkCell), clipped to the width). A
/// clear bit promises that every byte of the cell's samples is zero; a set bit
/// promises nothing. Readers use it to pass over the empty parts of a large, sparse buffer (a
/// stroke's paint mask) without reading them. The map is optional and off by default;
/// when there is none, every cell counts as marked.
///
/// Keeping the promise: every GX_ call that writes a buffer marks what it writes, and
/// the fills clear the bits of what they set to zero. Code that writes samples
/// directly (through GetData or Row) into a buffer that has a map must call MarkInk
/// for what it writes, or DropInkMap first.
///
/// A large buffer with a map goes to the pool with its map when it is freed, so the next
/// kZeroed buffer of its size clears only the cells that were marked.
class GX_UnoBuffer : public Y_MemTrackedObject {
public:
  /// Samples per ink cell, along x.
  static constexpr int32_t kInkCell = 64;
  /// How a new buffer's samples start.
  enum Contents {
    kUndefined,  ///< whatever the memory held; no ink map
    kZeroed,     ///< all zero, with an ink map that has no cell marked
  };

  /// Throws std::bad_alloc when memory runs out, std::invalid_argument for a negative
  /// size or a depth other than 8, 16, 32.
  GX_UnoBuffer(int32_t width, int32_t height, int32_t depth, Contents contents = kUndefined);
  ~GX_UnoBuffer() override;
  GX_UnoBuffer(const GX_UnoBuffer&) = delete;
  GX_UnoBuffer& operator=(const GX_UnoBuffer&) = delete;

  /// Size in samples and depth in bits per sample (8, 16, 32), fixed at construction.
  ///@{
  int32_t GetWidth() const { return width; }
  int32_t GetHeight() const { return height; }
  int32_t GetDepth() const { return depth; }
  ///@}
  /// 1, 2 or 4.
  int32_t GetBytesPerSample() const { return depth / 8; }
  /// Bytes of one row, width × bytes per sample: rows are not padded.
  int32_t GetRowBytes() const { return width * (depth / 8); }
  /// Sample (0, 0), owned by the buffer. Writing here bypasses the ink map (see above).
  ///@{
  void* GetData() { return data; }
  const void* GetData() const { return data; }
  ///@}
  /// Sample 0 of row y as T (uint8_t, uint16_t or float, matching the depth); no range
  /// check. Writing through it bypasses the ink map (see above).
  ///@{
  template <class T>
  T* Row(int32_t y) {
    return reinterpret_cast<T*>(static_cast<unsigned char*>(data) + std::ptrdiff_t(y) * GetRowBytes());
  }
  template <class T>
  const T* Row(int32_t y) const {
    return reinterpret_cast<const T*>(static_cast<const unsigned char*>(data) +
                                      std::ptrdiff_t(y) * GetRowBytes());
  }
  ///@}

  // Ink map
  // ----

  /// Whether the buffer keeps an ink map; without one every cell counts as marked.
  bool HasInkMap() const { return hasInkMap; }
  /// Starts a map with every cell marked (nothing is known of the contents yet); keeps
  /// the map there is.
  void EnableInkMap();
  /// Forgets the map: from then on every cell counts as marked.
  void DropInkMap();
  /// Marks the cells meeting `rect` (clipped to the buffer); nothing without a map.
  void MarkInk(const V_LRect& rect);
  /// Clears the bits of the cells that lie wholly inside `rect` (clipped to the
  /// buffer); the caller has just set all their samples to zero. Cells only partly
  /// inside stay as they are.
  void ClearInk(const V_LRect& rect);
  /// The map's words for row y (bit c % 64 of word c / 64 is cell c), or null when
  /// there is no map. No range check.
  const uint64_t* InkRow(int32_t y) const {
    return hasInkMap ? ink.data() + std::size_t(y) * std::size_t(inkWords) : nullptr;
  }
  /// Number of marked cells (all of them without a map).
  int64_t CountInkCells() const;

private:
  int32_t InkCells() const { return (width + kInkCell - 1) / kInkCell; }

  int32_t width;
  int32_t height;
  int32_t depth;
  void* data = nullptr;
  bool hasInkMap = false;
  int32_t inkWords = 0;  ///< words per row of the map
  std::vector<uint64_t> ink;
};

/// Calls run(x0, x1) for each run of marked cells of one row of an ink map (`words`:
/// bit c of word c / 64 marks samples [c × kInkCell, (c + 1) × kInkCell)) within
/// [left, right), clipped to that range, left to right. Nothing for an empty range.
template <class Run>
void GX_ForEachMarkedRun(const uint64_t* words, int32_t left, int32_t right, Run&& run) {
  if (right <= left) return;
  constexpr int32_t kCell = GX_UnoBuffer::kInkCell;
  const int32_t end = (right - 1) / kCell + 1;  // one past the last cell
  int32_t c = left / kCell;
  // Whole words at a time: the next marked cell is the lowest set bit of what is left
  // of its word, the end of its run the lowest clear one.
  while (c < end) {
    const uint64_t marked = words[c >> 6] >> (c & 63);
    if (marked == 0) {
      c = (c & ~63) + 64;
      continue;
    }
    c += __builtin_ctzll(marked);
    if (c >= end) break;
    const int32_t first = c;
    for (;;) {
      const uint64_t clear = ~words[c >> 6] >> (c & 63);  // past the word's end reads as marked
      if (clear != 0) {
        c += __builtin_ctzll(clear);
        break;
      }
      c = (c & ~63) + 64;
      if (c >= end) break;
    }
    if (c > end) c = end;
    const int32_t x0 = first * kCell > left ? first * kCell : left;
    const int32_t x1 = c * kCell < right ? c * kCell : right;
    run(x0, x1);
  }
}

/// Calls run(x0, x1) for each run of marked ink cells of row y within [left, right),
/// clipped to that range, left to right; once for the whole range when the buffer has
/// no map. Nothing for an empty range.
template <class Run>
void GX_ForEachInkRun(const GX_UnoBuffer& buffer, int32_t y, int32_t left, int32_t right,
                      Run&& run) {
  if (right <= left) return;
  const uint64_t* words = buffer.InkRow(y);
  if (!words) {
    run(left, right);
    return;
  }
  GX_ForEachMarkedRun(words, left, right, run);
}

/// Flat fills of a whole buffer, with a value in the buffer's own units. Each answers
/// GX_Err_BadDepth when the buffer's depth does not match the call (8, 16, 32),
/// GX_Err_BadArgument for a null buffer. A value of all zero bytes clears the ink map,
/// any other marks every cell.
///@{
int32_t GX_FillUnoBuffer(uint8_t value, GX_UnoBuffer* buffer);
int32_t GX_FillDeepUnoBuffer(uint16_t value, GX_UnoBuffer* buffer);
int32_t GX_FillFloatUnoBuffer(float value, GX_UnoBuffer* buffer);
///@}

/// Flat fill of a rectangle of a layer (clipped to it) with a colour of the layer's
/// depth; GX_Err_BadDepth when they differ, GX_Err_BadArgument for a null layer or a
/// non-empty one without pixels. Reports progress every 64 rows and answers the
/// callback's code when it cancels (the rows before stay filled).
///@{
int32_t GX_Fill(GX_ProgressInfo* progress, const GX_Pixel8& colour, const V_LRect& rect,
                GX_LayerDef* layer);
int32_t GX_Fill16(GX_ProgressInfo* progress, const GX_Pixel16& colour, const V_LRect& rect,
                  GX_LayerDef* layer);
int32_t GX_FillFloat(GX_ProgressInfo* progress, const GX_PixelFloat& colour,
                     const V_LRect& rect, GX_LayerDef* layer);
///@}
