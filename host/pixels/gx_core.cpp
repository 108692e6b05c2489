// SPDX-License-Identifier: MIT
// Worlds, buffers and flat fills.
#include "host/gx/gx.h"
#include "host/gx/gx_iterate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Image-sized blocks (a layer, a stroke's mask) are mapped on their own, aligned to
// 2 MB and offered to the kernel for transparent huge pages. A stroke walks such a
// block down its rows, each row on another 4 KB page, so with small pages the
// address translations cost more than the cache misses: huge pages take a tenth off
// a long stroke on a cold layer. A fresh mapping reads as zero, which is what a new
// world and a zeroed buffer need. Smaller blocks, and every block under
// AddressSanitizer (which cannot see past the end of a mapping), come from malloc.
class LargeBlocks {
public:
  static constexpr std::size_t kHugePage = std::size_t(2) << 20;

  static bool Mapped(std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__)
    return bytes >= kHugePage;
#else
    (void)bytes;
    return false;
#endif
  }

  /// `bytes` of memory, all zero when `zeroed`; null when there is no memory.
  static void* Allocate(std::size_t bytes, bool zeroed) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (Mapped(bytes)) {
      // Map one huge page more than needed and give back the ends, so the block
      // starts on a 2 MB boundary.
      const std::size_t length = Rounded(bytes);
      const std::size_t span = length + kHugePage;
      void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (raw == MAP_FAILED) return nullptr;
      const auto start = reinterpret_cast<std::uintptr_t>(raw);
      const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
      if (aligned > start) munmap(raw, aligned - start);
      const std::size_t tail = start + span - (aligned + length);
      if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
      void* block = reinterpret_cast<void*>(aligned);
      madvise(block, length, MADV_HUGEPAGE);  // advice only: small pages still work
      return block;
    }
#endif
    if (zeroed) return std::calloc(bytes ? bytes : 1, 1);
    return std::malloc(bytes ? bytes : 1);
  }

  static void Free(void* p, std::size_t bytes) {
    if (!p) return;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (Mapped(bytes)) {
      munmap(p, Rounded(bytes));
      return;
    }
#endif
    std::free(p);
  }

private:
  static std::size_t Rounded(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
  }
};

int32_t RowBytesFor(int32_t width, int32_t depth) {
  const int64_t raw = int64_t(width) * GXp_PixelBytes(depth);
  return static_cast<int32_t>((raw + 15) & ~int64_t(15));
}

void* AllocateZeroed(std::size_t bytes) {
  void* p = LargeBlocks::Allocate(bytes, true);
  if (!p) throw std::bad_alloc();
  return p;
}

// Fills of this many bytes and more are written past the cache, with streaming stores,
// as memset does past its own threshold: clearing a layer would otherwise leave the
// cache full of dirty lines nobody reads next, and whatever runs after the fill (a
// stroke, typically) would pay for writing them back before it could use the cache.
constexpr std::size_t kStreamingFillBytes = std::size_t(4) << 20;

template <class Pixel>
void FillRowStreaming(Pixel* begin, Pixel* end, const Pixel& colour) {
  Pixel* p = begin;
#if defined(__SSE2__)
  static_assert(16 % sizeof(Pixel) == 0, "a pixel tiles a 16-byte vector");
  constexpr std::ptrdiff_t kPerVector = 16 / sizeof(Pixel);
  while (p < end && (reinterpret_cast<std::uintptr_t>(p) & 15) != 0) *p++ = colour;
  // A 16-byte boundary inside a row of pixels that started on one is a pixel boundary,
  // so the same four, two or one pixels fit every aligned vector; a row whose pixels
  // are not so aligned never gets here and is filled pixel by pixel below.
  Pixel tile[kPerVector];
  std::fill(tile, tile + kPerVector, colour);
  __m128i pattern;
  std::memcpy(&pattern, tile, 16);
  for (; end - p >= kPerVector; p += kPerVector)
    _mm_stream_si128(reinterpret_cast<__m128i*>(p), pattern);
#endif
  std::fill(p, end, colour);
}

template <class Pixel>
int32_t FillRect(GX_ProgressInfo* progress, const Pixel& colour, const V_LRect& rect,
                 GX_LayerDef* layer, int32_t depth) {
  if (!layer || (layer->data == nullptr && layer->width > 0 && layer->height > 0))
    return GX_Err_BadArgument;
  if (GXp_WorldDepth(layer) != depth) return GX_Err_BadDepth;
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, layer->width);
  const int32_t bottom = std::min(rect.bottom, layer->height);
  const bool streaming = right > left && bottom > top &&
                         std::size_t(right - left) * sizeof(Pixel) * std::size_t(bottom - top) >=
                             kStreamingFillBytes;
  int32_t rc = 0;
  for (int32_t y = top; y < bottom; ++y) {
    Pixel* row = static_cast<Pixel*>(GXp_PixelAddress(*layer, 0, y));
    if (streaming)
      FillRowStreaming(row + left, row + right, colour);
    else
      std::fill(row + left, row + std::max(left, right), colour);
    // Report every 64 rows: often enough for a bar, rare enough to cost nothing.
    if (((y - top) & 63) == 63) {
      rc = GX_ReportProgress(progress, y - top + 1, bottom - top);
      if (rc != 0) break;
    }
  }
  if (streaming) GX_StreamFence();  // streamed pixels are seen before anything after the fill
  return rc;
}

template <class T>
int32_t FillBuffer(T value, GX_UnoBuffer* buffer, int32_t depth) {
  if (!buffer) return GX_Err_BadArgument;
  if (buffer->GetDepth() != depth) return GX_Err_BadDepth;
  T* p = static_cast<T*>(buffer->GetData());
  std::fill(p, p + std::size_t(buffer->GetWidth()) * std::size_t(buffer->GetHeight()), value);
  const V_LRect all{0, 0, buffer->GetWidth(), buffer->GetHeight()};
  T zero;
  std::memset(&zero, 0, sizeof(T));
  if (std::memcmp(&value, &zero, sizeof(T)) == 0)  // -0.0 is not all zero bytes
    buffer->ClearInk(all);
  else
    buffer->MarkInk(all);
  return 0;
}

// Buffers and scratch blocks that come and go with every stroke are kept when freed,
// for the next one of the same size. Two sizes of them:
// - Layer-sized single-channel buffers (a stroke's paint mask and its last-dab
//   backup). Giving their pages back to the system and faulting them in again costs
//   more than painting the stroke.
// - A brush tip's storage (the tip, its MIP pyramid, the pyramid's paired rows and
//   scratch): tens to hundreds of kilobytes a stroke. malloc maps blocks that size on
//   their own or trims them off its heap when they are freed, depending on what the
//   process freed before, so without the pool a big brush's stroke spent up to half
//   its time faulting its tip's pages in again, or none, by the host's history.
// A block holds whatever its last user left or (a buffer that kept an ink map) comes
// with that map: the only cells that may be non-zero. Such a block is cleared only
// when a zeroed buffer takes it, and then only where it was inked: a stroke's mask
// inks a part of the layer, and clearing the rest as well cost a tenth of a big
// brush's stroke.
class BufferPool {
public:
  /// Where the last buffer of a block may have left non-zero samples: one bit per
  /// GX_UnoBuffer::kInkCell samples of each row, `words` words a row.
  struct InkLeft {
    std::vector<uint64_t> bits;
    int32_t words = 0, width = 0, height = 0, sampleBytes = 0;
  };

  /// Keeps blocks of `minBytes` to `maxBytes`, `capBytes` in all.
  BufferPool(std::size_t minBytes, std::size_t maxBytes, std::size_t capBytes)
      : least(minBytes), most(maxBytes), cap(capBytes) {}

  bool Pooled(std::size_t bytes) const { return bytes >= least && bytes <= most; }

  /// A block of `bytes` (a size this pool keeps); all zero when `zeroed`.
  void* Take(std::size_t bytes, bool zeroed) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      // Of the blocks of this size, newest first (its pages are the likeliest still to
      // be in cache), one with its ink map for a zeroed buffer, which then clears only
      // that ink, and one without for another buffer, so the maps stay for the buffers
      // that want them; else any.
      std::size_t pick = count;
      for (std::size_t i = count; i-- > 0;) {
        if (blocks[i].bytes != bytes) continue;
        if (blocks[i].inked == zeroed) {
          pick = i;
          break;
        }
        if (pick == count) pick = i;
      }
      if (pick != count) {
        Block b = std::move(blocks[pick]);
        held -= bytes;
        for (std::size_t k = pick + 1; k < count; ++k) blocks[k - 1] = std::move(blocks[k]);
        blocks[--count] = Block();
        lock.unlock();
        if (zeroed) {
          if (b.inked)
            ClearInked(static_cast<unsigned char*>(b.data), b.ink);
          else
            std::memset(b.data, 0, bytes);
        }
        return b.data;
      }
    }
    return LargeBlocks::Allocate(bytes, zeroed);
  }

  /// Takes back a block of a size this pool keeps, holding whatever its buffer left
  /// there, or (`ink` not null) non-zero only in the cells `ink` marks.
  void Give(void* p, std::size_t bytes, InkLeft* ink = nullptr) {
    if (!p) return;
    std::lock_guard<std::mutex> lock(mutex);
    // Oldest first out: the newest block is the likeliest to be asked for again.
    while (count > 0 && (held + bytes > cap || count == kSlots)) {
      LargeBlocks::Free(blocks[0].data, blocks[0].bytes);
      held -= blocks[0].bytes;
      for (std::size_t i = 1; i < count; ++i) blocks[i - 1] = std::move(blocks[i]);
      blocks[--count] = Block();
    }
    Block& b = blocks[count++];
    b.data = p;
    b.bytes = bytes;
    b.inked = ink != nullptr;
    if (b.inked) b.ink = std::move(*ink);
    held += bytes;
  }


private:
  struct Block {
    void* data = nullptr;
    std::size_t bytes = 0;
    bool inked = false;  ///< non-zero only where `ink` marks
    InkLeft ink;
  };

  // Clears the runs of marked cells, row by row, as the buffer laid its rows out. A
  // thin stroke's rows hold a run or two of a cell or two each, a few thousand runs of
  // 64 or 128 bytes in all: those are stored directly, a call each cost more.
  static void ClearInked(unsigned char* data, const InkLeft& ink) {
    const std::ptrdiff_t rowBytes = std::ptrdiff_t(ink.width) * ink.sampleBytes;
    for (int32_t y = 0; y < ink.height; ++y) {
      unsigned char* row = data + y * rowBytes;
      GX_ForEachMarkedRun(ink.bits.data() + std::ptrdiff_t(y) * ink.words, 0, ink.width,
                          [&](int32_t x0, int32_t x1) {
                            ClearBytes(row + std::ptrdiff_t(x0) * ink.sampleBytes,
                                       std::size_t(x1 - x0) * std::size_t(ink.sampleBytes));
                          });
    }
  }

  static void ClearBytes(unsigned char* p, std::size_t n) {
#if defined(__SSE2__)
    if (n <= 256) {
      const __m128i zero = _mm_setzero_si128();
      std::size_t i = 0;
      for (; i + 16 <= n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), zero);
      for (; i < n; ++i) p[i] = 0;
      return;
    }
#endif
    std::memset(p, 0, n);
  }

  static constexpr std::size_t kSlots = 16;
  const std::size_t least, most, cap;
  std::mutex mutex;
  Block blocks[kSlots];
  std::size_t count = 0;
  std::size_t held = 0;
};

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every block is fresh, so a use after free is still caught.
constexpr std::size_t kPooledMin = ~std::size_t(0);
#else
constexpr std::size_t kPooledMin = std::size_t(32) << 10;
#endif
constexpr std::size_t kLargePooledMin = std::size_t(1) << 20;

/// The pool that keeps blocks of `bytes`, or null. The pools are never destroyed: a
/// buffer held by some other static object may be freed after them at exit.
BufferPool* PoolFor(std::size_t bytes) {
  static BufferPool* const tips = new BufferPool(kPooledMin, kLargePooledMin - 1, std::size_t(8) << 20);
  static BufferPool* const layers =
      new BufferPool(std::max(kPooledMin, kLargePooledMin), std::size_t(64) << 20, std::size_t(64) << 20);
  if (tips->Pooled(bytes)) return tips;
  if (layers->Pooled(bytes)) return layers;
  return nullptr;
}

void* TakeBlock(std::size_t bytes, bool zeroed) {
  BufferPool* pool = PoolFor(bytes);
  return pool ? pool->Take(bytes, zeroed) : LargeBlocks::Allocate(bytes, zeroed);
}

void GiveBlock(void* p, std::size_t bytes) {
  if (BufferPool* pool = PoolFor(bytes))
    pool->Give(p, bytes);
  else
    LargeBlocks::Free(p, bytes);
}

}  // namespace

bool GX_PortableForced() {
  static const bool forced = [] {
    const char* value = std::getenv("KSTROKE_PORTABLE");
    return value && *value && std::strcmp(value, "0") != 0;
  }();
  return forced;
}

bool GX_HasAvx2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  static const bool has = __builtin_cpu_supports("avx2") && !GX_PortableForced();
  return has;
#else
  return false;
#endif
}

int32_t GX_ReportProgress(GX_ProgressInfo* progress, int32_t done, int32_t total) {
  if (!progress || !progress->progress) return 0;
  return progress->progress(progress->context, done, total);
}

int32_t GXp_WorldDepth(const GX_LayerDef* layer) {
  if (!layer) return 0;
  switch (layer->depth) {
    case 8: case 16: case 32: return layer->depth;
    default: return 0;
  }
}

int32_t GXp_PixelBytes(int32_t depth) {
  switch (depth) {
    case 8: return 4;
    case 16: return 8;
    case 32: return 16;
    default: return 0;
  }
}

GX_World* GX_World::New(int32_t width, int32_t height, int32_t depth, int32_t /*flags*/) {
  if (width < 0 || height < 0 || GXp_PixelBytes(depth) == 0)
    throw std::invalid_argument("GX_World::New: bad size or depth");
  GX_World* w = new GX_World();
  if (!w) throw std::bad_alloc();
  w->layer.width = width;
  w->layer.height = height;
  w->layer.depth = static_cast<int16_t>(depth);
  w->layer.rowBytes = RowBytesFor(width, depth);
  try {
    w->ownedBytes = std::size_t(w->layer.rowBytes) * std::size_t(height);
    w->owned = AllocateZeroed(w->ownedBytes);
  } catch (...) {
    delete w;
    throw;
  }
  w->layer.data = w->owned;
  return w;
}

GX_World* GX_World::NewReference(GX_LayerDef* layer) {
  if (!layer) throw std::invalid_argument("GX_World::NewReference: null layer");
  GX_World* w = new GX_World();
  if (!w) throw std::bad_alloc();
  w->layer = *layer;
  return w;
}

GX_World* GX_World::NewReference(GX_World* parent, const V_Rect& rect) {
  if (!parent) throw std::invalid_argument("GX_World::NewReference: null parent");
  GX_World* w = new GX_World();
  if (!w) throw std::bad_alloc();
  const GX_LayerDef& p = parent->layer;
  const int32_t left = std::clamp<int32_t>(rect.left, 0, p.width);
  const int32_t top = std::clamp<int32_t>(rect.top, 0, p.height);
  const int32_t right = std::clamp<int32_t>(rect.right, left, p.width);
  const int32_t bottom = std::clamp<int32_t>(rect.bottom, top, p.height);
  w->layer = p;
  w->layer.width = right - left;
  w->layer.height = bottom - top;
  w->layer.data = p.data ? GXp_PixelAddress(p, left, top) : nullptr;
  return w;
}

GX_World::~GX_World() { LargeBlocks::Free(owned, ownedBytes); }

GX_Block::GX_Block(std::size_t size, bool zeroed)
    : data(static_cast<unsigned char*>(TakeBlock(size, zeroed))), bytes(size) {
  if (!data) throw std::bad_alloc();
}

GX_Block::~GX_Block() { GiveBlock(data, bytes); }

GX_Block::GX_Block(GX_Block&& other) noexcept
    : data(std::exchange(other.data, nullptr)), bytes(std::exchange(other.bytes, 0)) {}

GX_Block& GX_Block::operator=(GX_Block&& other) noexcept {
  if (this != &other) {
    GiveBlock(data, bytes);
    data = std::exchange(other.data, nullptr);
    bytes = std::exchange(other.bytes, 0);
  }
  return *this;
}

GX_UnoBuffer::GX_UnoBuffer(int32_t width_, int32_t height_, int32_t depth_, Contents contents)
    : width(width_), height(height_), depth(depth_) {
  if (width < 0 || height < 0 || (depth != 8 && depth != 16 && depth != 32))
    throw std::invalid_argument("GX_UnoBuffer: bad size or depth");
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * std::size_t(depth / 8);
  if (contents == kZeroed) {
    inkWords = (InkCells() + 63) / 64;
    ink.assign(std::size_t(inkWords) * std::size_t(height), 0);
    hasInkMap = true;
  }
  data = TakeBlock(bytes, contents == kZeroed);
  if (!data) throw std::bad_alloc();
}

GX_UnoBuffer::~GX_UnoBuffer() {
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * std::size_t(depth / 8);
  BufferPool* pool = PoolFor(bytes);
  if (!pool) {
    LargeBlocks::Free(data, bytes);
    return;
  }
  if (hasInkMap) {
    // The map goes with the block: the next zeroed buffer clears only what it marks.
    BufferPool::InkLeft left;
    left.bits = std::move(ink);
    left.words = inkWords;
    left.width = width;
    left.height = height;
    left.sampleBytes = GetBytesPerSample();
    pool->Give(data, bytes, &left);
    return;
  }
  pool->Give(data, bytes);
}

void GX_UnoBuffer::EnableInkMap() {
  if (hasInkMap) return;
  inkWords = (InkCells() + 63) / 64;
  ink.assign(std::size_t(inkWords) * std::size_t(height), 0);
  hasInkMap = true;
  MarkInk(V_LRect{0, 0, width, height});
}

void GX_UnoBuffer::DropInkMap() {
  hasInkMap = false;
  inkWords = 0;
  std::vector<uint64_t>().swap(ink);
}

namespace {

// Sets (or clears) the bits of cells [c0, c1) in one row's words.
void SetCells(uint64_t* words, int32_t c0, int32_t c1, bool on) {
  for (int32_t c = c0; c < c1;) {
    const int32_t bit = c & 63;
    const int32_t n = std::min(64 - bit, c1 - c);
    const uint64_t bits = (n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1)) << bit;
    if (on)
      words[c >> 6] |= bits;
    else
      words[c >> 6] &= ~bits;
    c += n;
  }
}

}  // namespace

void GX_UnoBuffer::MarkInk(const V_LRect& rect) {
  if (!hasInkMap) return;
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, width), bottom = std::min(rect.bottom, height);
  if (right <= left || bottom <= top) return;
  const int32_t c0 = left / kInkCell, c1 = (right - 1) / kInkCell + 1;
  if (c0 >> 6 == (c1 - 1) >> 6) {
    // The cells share one word (a dab narrower than 64 cells, mostly): one mask for
    // every row.
    const int32_t n = c1 - c0;
    const uint64_t bits = (n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1)) << (c0 & 63);
    uint64_t* word = ink.data() + std::size_t(top) * std::size_t(inkWords) + std::size_t(c0 >> 6);
    for (int32_t y = top; y < bottom; ++y, word += inkWords) *word |= bits;
    return;
  }
  for (int32_t y = top; y < bottom; ++y)
    SetCells(ink.data() + std::size_t(y) * std::size_t(inkWords), c0, c1, true);
}

void GX_UnoBuffer::ClearInk(const V_LRect& rect) {
  if (!hasInkMap) return;
  const int32_t left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, width), bottom = std::min(rect.bottom, height);
  if (right <= left || bottom <= top) return;
  // Whole cells only; the last cell ends at the width, so reaching it counts as whole.
  const int32_t c0 = (left + kInkCell - 1) / kInkCell;
  const int32_t c1 = right == width ? InkCells() : right / kInkCell;
  if (c1 <= c0) return;
  for (int32_t y = top; y < bottom; ++y)
    SetCells(ink.data() + std::size_t(y) * std::size_t(inkWords), c0, c1, false);
}

int64_t GX_UnoBuffer::CountInkCells() const {
  if (!hasInkMap) return int64_t(InkCells()) * height;
  int64_t n = 0;
  for (uint64_t w : ink) n += __builtin_popcountll(w);
  return n;
}

int32_t GX_FillUnoBuffer(uint8_t value, GX_UnoBuffer* buffer) {
  return FillBuffer<uint8_t>(value, buffer, 8);
}
int32_t GX_FillDeepUnoBuffer(uint16_t value, GX_UnoBuffer* buffer) {
  return FillBuffer<uint16_t>(value, buffer, 16);
}
int32_t GX_FillFloatUnoBuffer(float value, GX_UnoBuffer* buffer) {
  return FillBuffer<float>(value, buffer, 32);
}

int32_t GX_Fill(GX_ProgressInfo* progress, const GX_Pixel8& colour, const V_LRect& rect,
                GX_LayerDef* layer) {
  return FillRect(progress, colour, rect, layer, 8);
}
int32_t GX_Fill16(GX_ProgressInfo* progress, const GX_Pixel16& colour, const V_LRect& rect,
                  GX_LayerDef* layer) {
  return FillRect(progress, colour, rect, layer, 16);
}
int32_t GX_FillFloat(GX_ProgressInfo* progress, const GX_PixelFloat& colour,
                     const V_LRect& rect, GX_LayerDef* layer) {
  return FillRect(progress, colour, rect, layer, 32);
}
