// SPDX-License-Identifier: MIT
#include "host/gx/gx.h"
#include "host/gx/gx_accumulate.h"
#include "host/gx/gx_channels.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "gx_test_support.h"

namespace {

class GxCore : public TrackedTest {};

TEST_F(GxCore, NewWorldIsZeroedAndReferencesSharePixels) {
  std::unique_ptr<GX_World> w = NewWorld(5, 4, 16);
  EXPECT_EQ(GXp_WorldDepth(w->GetLayer()), 16);
  EXPECT_GE(w->GetLayer()->rowBytes, 5 * 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelOf<GX_Pixel16>(*w, x, y).alpha, 0);

  std::unique_ptr<GX_World> sub(GX_World::NewReference(w.get(), V_Rect{1, 2, 3, 9}));
  EXPECT_EQ(sub->Width(), 3);  // right clipped from 9 to 5
  EXPECT_EQ(sub->Height(), 2);
  ASSERT_EQ(GX_Fill16(nullptr, GX_Pixel16{32768, 1, 2, 3}, L(0, 0, 100, 100), sub->GetLayer()), 0);
  EXPECT_EQ(PixelOf<GX_Pixel16>(*w, 2, 1).alpha, 32768);
  EXPECT_EQ(PixelOf<GX_Pixel16>(*w, 1, 1).alpha, 0);
  EXPECT_EQ(PixelOf<GX_Pixel16>(*w, 4, 2).blue, 3);
  EXPECT_EQ(PixelOf<GX_Pixel16>(*w, 4, 3).alpha, 0);
}

TEST_F(GxCore, ImageSizedBlocksAreZeroedAndStartOnAHugePage) {
  // Worlds and buffers of 2 MB and more are mapped on their own, 2 MB aligned, so the
  // kernel can back them with huge pages; smaller ones come from the heap.
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  struct Case { int32_t width, height, depth; bool aligned; } const cases[] = {
      {1024, 511, 8, false},   // 4 KB under 2 MB
      {1024, 512, 8, true},    // exactly 2 MB
      {1000, 700, 16, true},   // 5.6 MB: not a whole number of huge pages
      {2048, 2048, 32, true},  // a 64 MB float layer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "@" << c.depth);
    // Every 4093rd byte and the last are zero.
    const auto expectZeroed = [](const void* data, std::size_t size) {
      const auto* bytes = static_cast<const unsigned char*>(data);
      std::size_t nonzero = bytes[size - 1];
      for (std::size_t i = 0; i < size; i += 4093) nonzero += bytes[i] != 0;
      EXPECT_EQ(nonzero, 0u);
    };
    std::unique_ptr<GX_World> w = NewWorld(c.width, c.height, c.depth);
    const GX_LayerDef& l = *w->GetLayer();
    const std::size_t size = std::size_t(l.rowBytes) * std::size_t(l.height);
    expectZeroed(l.data, size);
    static_cast<unsigned char*>(l.data)[size - 1] = 7;  // the last byte is ours
    // A single-channel buffer of the same byte size: four samples to the pixel.
    GX_UnoBuffer b(4 * c.width, c.height, c.depth, GX_UnoBuffer::kZeroed);
    expectZeroed(b.GetData(), std::size_t(b.GetRowBytes()) * std::size_t(b.GetHeight()));
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l.data) % kHuge == 0, c.aligned);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.GetData()) % kHuge == 0, c.aligned);
#else
    (void)kHuge;
#endif
  }
}

TEST_F(GxCore, FillsCheckDepthAndCancel) {
  // What the fills write at each depth: GxLazy's fill operator table reads it back.
  GX_UnoBuffer b16(3, 2, 16);
  EXPECT_EQ(GX_FillUnoBuffer(1, &b16), GX_Err_BadDepth);
  EXPECT_EQ(GX_FillDeepUnoBuffer(1, nullptr), GX_Err_BadArgument);

  std::unique_ptr<GX_World> w = NewWorld(4, 200);
  EXPECT_EQ(GX_Fill16(nullptr, GX_Pixel16{}, L(0, 0, 4, 4), w->GetLayer()), GX_Err_BadDepth);
  ProgressRecorder rec(0, 99);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(GX_Fill(&info, GX_Pixel8{255, 0, 0, 0}, L(0, 0, 4, 200), w->GetLayer()), 99);
}

// Fills of 4 MB and more stream past the cache: the same pixels, the edges of the
// rectangle included, whatever the depth, and a cancel still stops them.
TEST_F(GxCore, LargeFillsWriteExactlyTheirRectangle) {
  constexpr int32_t kHeight = 1000;
  for (int32_t depth : {8, 16, 32}) {
    SCOPED_TRACE(testing::Message() << depth << " bits");
    const int32_t width = depth == 8 ? 1100 : depth == 16 ? 600 : 300;  // 4.4, 4.8, 4.8 MB
    std::unique_ptr<GX_World> w = NewWorld(width, kHeight, depth);
    GX_LayerDef* l = w->GetLayer();
    // Odd start and end: vectors meet single pixels on both sides.
    const V_LRect r = L(3, 2, width - 1, kHeight - 2);
    const GX_Pixel8 p8{255, 1, 2, 3};
    const GX_Pixel16 p16{32768, 1, 2, 3};
    const GX_PixelFloat pf{1.0f, 0.25f, 0.5f, 0.75f};
    const void* fill = depth == 8 ? static_cast<const void*>(&p8)
                       : depth == 16 ? static_cast<const void*>(&p16) : &pf;
    ASSERT_EQ(depth == 8    ? GX_Fill(nullptr, p8, r, l)
              : depth == 16 ? GX_Fill16(nullptr, p16, r, l)
                            : GX_FillFloat(nullptr, pf, r, l),
              0);
    const unsigned char clear[16] = {};
    const std::size_t pixelBytes = std::size_t(depth / 2);
    int64_t wrong = 0;
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        wrong += std::memcmp(GXp_PixelAddress(*l, x, y), inside ? fill : clear, pixelBytes) != 0;
      }
    EXPECT_EQ(wrong, 0);
  }

  std::unique_ptr<GX_World> w = NewWorld(1100, kHeight);
  ProgressRecorder rec(0, 42);
  GX_ProgressInfo info = rec.Record();
  EXPECT_EQ(GX_Fill(&info, GX_Pixel8{255, 9, 9, 9}, L(0, 0, 1100, kHeight), w->GetLayer()), 42);
  // The first report comes after 64 rows; nothing below them was written.
  EXPECT_EQ(PixelOf(*w, 0, 63).alpha, 255);
  EXPECT_EQ(PixelOf(*w, 0, 64).alpha, 0);
}

TEST_F(GxCore, RejectsBadSizesAndDepths) {
  EXPECT_THROW(GX_UnoBuffer(1, 1, 12), std::invalid_argument);
  EXPECT_THROW(GX_World::New(-1, 1, 8, 0), std::invalid_argument);
  EXPECT_EQ(GXp_WorldDepth(nullptr), 0);
}

// The cells of row y that GX_ForEachInkRun reports, as [x0, x1) pairs.
std::vector<std::pair<int32_t, int32_t>> Runs(const GX_UnoBuffer& b, int32_t y, int32_t left,
                                              int32_t right) {
  std::vector<std::pair<int32_t, int32_t>> runs;
  GX_ForEachInkRun(b, y, left, right, [&](int32_t x0, int32_t x1) { runs.emplace_back(x0, x1); });
  return runs;
}

using RunList = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(GxCore, InkMapKeepsTheCellsThatMayHoldInk) {
  // 300 wide: cells 0..64, 64..128, 128..192, 192..256 and the short last one 256..300.
  GX_UnoBuffer zeroed(300, 4, 16, GX_UnoBuffer::kZeroed);
  ASSERT_TRUE(zeroed.HasInkMap());
  EXPECT_EQ(zeroed.CountInkCells(), 0);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 300; ++x) ASSERT_EQ(zeroed.Row<uint16_t>(y)[x], 0) << x << "," << y;
  EXPECT_TRUE(Runs(zeroed, 0, 0, 300).empty());

  zeroed.MarkInk(V_LRect{70, 1, 130, 3});  // cells 1 and 2, rows 1 and 2
  zeroed.MarkInk(V_LRect{290, 2, 400, 9});  // clipped: the last cell, rows 2 and 3
  EXPECT_EQ(zeroed.CountInkCells(), 6);
  const struct { const char* name; int32_t y, left, right; RunList expected; } kCases[] = {
      {"unmarked row", 0, 0, 300, {}},
      {"one run", 1, 0, 300, {{64, 192}}},
      {"clipped to the range", 1, 100, 150, {{100, 150}}},
      {"two runs, the last cell ends at the width", 2, 0, 300, {{64, 192}, {256, 300}}},
      {"range inside an unmarked cell", 2, 200, 250, {}},
      {"empty range", 1, 120, 120, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Runs(zeroed, c.y, c.left, c.right), c.expected);
  }

  // Only whole cells are cleared; a cell that reaches the width is whole.
  zeroed.ClearInk(V_LRect{60, 0, 192, 4});  // cell 1 and 2 whole, cell 0 only in part
  EXPECT_EQ(Runs(zeroed, 1, 0, 300), RunList{});
  zeroed.ClearInk(V_LRect{257, 0, 300, 4});  // the last cell, but not from its start
  EXPECT_EQ(Runs(zeroed, 2, 0, 300), (RunList{{256, 300}}));
  zeroed.ClearInk(V_LRect{256, 0, 300, 4});
  EXPECT_EQ(zeroed.CountInkCells(), 0);

  // Without a map every cell counts as marked, and the range comes back whole.
  GX_UnoBuffer plain(300, 4, 8);
  EXPECT_FALSE(plain.HasInkMap());
  EXPECT_EQ(plain.InkRow(0), nullptr);
  EXPECT_EQ(plain.CountInkCells(), 20);
  plain.MarkInk(V_LRect{0, 0, 10, 1});  // no map: nothing to do
  EXPECT_EQ(Runs(plain, 3, 5, 299), (RunList{{5, 299}}));
  plain.EnableInkMap();
  EXPECT_EQ(plain.CountInkCells(), 20);  // contents unknown: all marked
  zeroed.DropInkMap();
  EXPECT_EQ(Runs(zeroed, 0, 0, 300), (RunList{{0, 300}}));
}

// Runs across whole 64-cell words of the map: random marks on a row of 200 cells
// (three words and a part), random ranges, against the cells read one by one.
TEST_F(GxCore, InkRunsSpanningMapWordsMatchTheCellsOneByOne) {
  constexpr int32_t kWidth = 200 * GX_UnoBuffer::kInkCell - 17;  // a short last cell
  GX_UnoBuffer b(kWidth, 40, 8, GX_UnoBuffer::kZeroed);
  std::mt19937 rng(5);
  for (int32_t y = 0; y < 40; ++y) {
    // Rows from empty through long runs to fully marked, with runs ending on and across
    // word boundaries (cells 63/64, 127/128, 191/192).
    const int32_t marks = y == 0 ? 0 : y == 39 ? 1 : int32_t(rng() % 12);
    for (int32_t k = 0; k < marks; ++k) {
      const int32_t at = int32_t(rng() % 200) * GX_UnoBuffer::kInkCell;
      const int32_t cells = 1 + int32_t(rng() % (y % 3 == 0 ? 140 : 8));
      b.MarkInk(V_LRect{at, y, at + cells * GX_UnoBuffer::kInkCell, y + 1});
    }
    if (y == 39) b.MarkInk(V_LRect{0, y, kWidth, y + 1});
    if (y == 5) b.MarkInk(V_LRect{63 * 64, y, 129 * 64, y + 1});
  }
  const auto marked = [&](int32_t y, int32_t cell) {
    return (b.InkRow(y)[cell >> 6] >> (cell & 63) & 1) != 0;
  };
  for (int32_t y = 0; y < 40; ++y)
    for (int trial = 0; trial < 30; ++trial) {
      int32_t left = int32_t(rng() % uint32_t(kWidth)), right = int32_t(rng() % uint32_t(kWidth + 1));
      if (trial == 0) left = 0, right = kWidth;
      if (left > right) std::swap(left, right);
      RunList want;
      for (int32_t x = left; x < right;) {
        const int32_t cell = x / GX_UnoBuffer::kInkCell;
        const int32_t cellEnd = std::min((cell + 1) * GX_UnoBuffer::kInkCell, right);
        if (marked(y, cell)) {
          if (!want.empty() && want.back().second == x)
            want.back().second = cellEnd;
          else
            want.emplace_back(x, cellEnd);
        }
        x = cellEnd;
      }
      ASSERT_EQ(Runs(b, y, left, right), want) << "row " << y << " [" << left << ", " << right << ")";
    }
}

TEST_F(GxCore, FillsAndWritersKeepTheInkMap) {
  GX_UnoBuffer b(200, 3, 8, GX_UnoBuffer::kZeroed);
  ASSERT_EQ(GX_FillUnoBuffer(9, &b), 0);
  EXPECT_EQ(b.CountInkCells(), 4 * 3);
  ASSERT_EQ(GX_FillUnoBuffer(0, &b), 0);
  EXPECT_EQ(b.CountInkCells(), 0);

  // A float fill of −0.0 is not all zero bytes, so it counts as ink.
  GX_UnoBuffer f(100, 2, 32, GX_UnoBuffer::kZeroed);
  ASSERT_EQ(GX_FillFloatUnoBuffer(-0.0f, &f), 0);
  EXPECT_EQ(f.CountInkCells(), 2 * 2);

  // Each writer marks the destination rectangle it writes, after clipping.
  GX_UnoBuffer src(10, 10, 16);
  ASSERT_EQ(GX_FillDeepUnoBuffer(100, &src), 0);
  const V_LRect all{0, 0, 10, 10};
  const struct {
    const char* name;
    std::function<int32_t(GX_UnoBuffer*)> write;
    int32_t depth;
    RunList row4, row15;
  } kCases[] = {
      {"accumulate",
       [&](GX_UnoBuffer* d) {
         return GX_AccumulateUnoBuffers(nullptr, &src, int32_t(GX_AccumulateMode::kBuildUp), 1, 1,
                                        all, V_LPoint{60, 8}, d);
       },
       16, {}, {{0, 128}}},
      {"transfer",
       [&](GX_UnoBuffer* d) {
         return GX_TransferUnoBuffers(nullptr, &src, nullptr, int32_t(GX_TransferMode::kCopy), all,
                                      V_LPoint{190, -5}, d);
       },
       16, {{128, 200}}, {}},
      {"convert to float",
       [&](GX_UnoBuffer* d) { return GX_ConvertDeepUnoBuffer(nullptr, &src, all, 32768, d); },
       32, {{0, 64}}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    GX_UnoBuffer d(200, 20, c.depth, GX_UnoBuffer::kZeroed);
    ASSERT_EQ(c.write(&d), 0);
    EXPECT_EQ(Runs(d, 4, 0, 200), c.row4);
    EXPECT_EQ(Runs(d, 15, 0, 200), c.row15);
  }
}

TEST_F(GxCore, AFreedBufferClearsItsInkForTheNextZeroedOne) {
  // These sizes are pooled (outside AddressSanitizer): the next kZeroed buffer of the
  // size gets the same memory back, cleared where the freed one had marked ink, and
  // must read as zero everywhere.
  struct Case {
    const char* name; int32_t width, height, depth; std::vector<V_LRect> inked;
  };
  const Case kCases[] = {
      {"one block of cells", 1024, 1024, 8, {L(500, 100, 700, 300)}},
      {"runs apart in a row, the last cell cut short", 700, 800, 16,
       {L(0, 0, 1, 800), L(60, 10, 200, 20), L(330, 10, 400, 20), L(640, 5, 700, 799)}},
      {"a float row's every cell", 300, 900, 32, {L(0, 450, 300, 451)}},
      {"a tip-sized buffer", 200, 200, 16, {L(64, 10, 130, 190)}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const int32_t bytes = c.width * (c.depth / 8);
    const auto nonzero = [&](const GX_UnoBuffer& b) {
      int64_t n = 0;
      for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < bytes; ++x) n += b.Row<uint8_t>(y)[x] != 0;
      return n;
    };
    {
      GX_UnoBuffer used(c.width, c.height, c.depth, GX_UnoBuffer::kZeroed);
      // A marked cell may hold anything: each is written whole.
      constexpr int32_t kCell = GX_UnoBuffer::kInkCell;
      for (const V_LRect& r : c.inked) {
        const int32_t x0 = r.left / kCell * kCell, x1 = std::min(c.width, (r.right + kCell - 1) / kCell * kCell);
        for (int32_t y = r.top; y < r.bottom; ++y)
          std::memset(used.Row<uint8_t>(y) + x0 * (c.depth / 8), 0xA5, size_t((x1 - x0) * (c.depth / 8)));
        used.MarkInk(r);
      }
    }
    {
      GX_UnoBuffer next(c.width, c.height, c.depth, GX_UnoBuffer::kZeroed);
      EXPECT_EQ(next.CountInkCells(), 0);
      EXPECT_EQ(nonzero(next), 0);
      // Leave it dirty without a map: a zeroed buffer after it is still zero.
      for (int32_t y = 0; y < c.height; ++y) next.Row<uint8_t>(y)[y % bytes] = 1;
      next.DropInkMap();
    }
    EXPECT_EQ(nonzero(GX_UnoBuffer(c.width, c.height, c.depth, GX_UnoBuffer::kZeroed)), 0);
  }
}

TEST_F(GxCore, BuffersAndBlocksAreRecycledForTheNextOfTheirSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "memory is never recycled under AddressSanitizer";
#else
  // A layer-sized stroke mask, a tip-sized buffer and a pyramid's scratch block: each
  // freed one serves the next of its size, once; another size takes other memory.
  struct Case {
    const char* name; std::function<std::shared_ptr<void>()> make;
  };
  const auto buffer = [](int32_t w, int32_t h, int32_t depth) {
    return [=] {
      auto b = std::make_shared<GX_UnoBuffer>(w, h, depth);
      return std::shared_ptr<void>(b, b->GetData());
    };
  };
  const auto block = [](std::size_t bytes) {
    return [=] {
      auto b = std::make_shared<GX_Block>(bytes, false);
      return std::shared_ptr<void>(b, b->Data());
    };
  };
  const Case kCases[] = {
      {"1 MB mask", buffer(1024, 1024, 8)},
      {"80 KB tip", buffer(200, 200, 16)},
      {"64 KB block", block(std::size_t(64) << 10)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const void* first = c.make().get();
    const auto other = buffer(512, 300, 8)();
    EXPECT_NE(other.get(), first);
    const auto again = c.make();
    EXPECT_EQ(again.get(), first);
    EXPECT_NE(c.make().get(), first);  // the pool had one block of this size
  }
#endif
}

TEST_F(GxCore, AZeroedBlockReadsZeroAfterADirtyOne) {
  for (std::size_t bytes : {std::size_t(100), std::size_t(40) << 10, std::size_t(3) << 20}) {
    SCOPED_TRACE(bytes);
    {
      GX_Block dirty(bytes, false);
      ASSERT_EQ(dirty.Size(), bytes);
      std::memset(dirty.Data(), 0x5A, bytes);
    }
    GX_Block zeroed(bytes, true);
    EXPECT_EQ(std::count(zeroed.Data(), zeroed.Data() + bytes, 0), std::ptrdiff_t(bytes));
    GX_Block moved = std::move(zeroed);
    EXPECT_EQ(zeroed.Data(), nullptr);
    EXPECT_EQ(zeroed.Size(), 0u);
    EXPECT_EQ(moved.Size(), bytes);
  }
}

}  // namespace
