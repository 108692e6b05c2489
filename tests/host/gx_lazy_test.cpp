// SPDX-License-Identifier: MIT
#include "host/gx/gx_lazy.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "gx_test_support.h"

namespace {

/// Records the tiles it is asked for; can fail a chosen number of times.
class CountingOperator : public GX_LazyOperator {
public:
  CountingOperator(int32_t w, int32_t h, std::vector<V_LRect>* log) : width(w), height(h), calls(log) {}
  int32_t GetWidth() const override { return width; }
  int32_t GetHeight() const override { return height; }
  int32_t MakeTileValid(const V_LRect& tile) override {
    if (failuresLeft > 0) {
      --failuresLeft;
      return 77;
    }
    calls->push_back(tile);
    return 0;
  }
  int32_t failuresLeft = 0;

private:
  int32_t width, height;
  std::vector<V_LRect>* calls;
};

class GxLazy : public TrackedTest {
protected:
  /// Lazy tiles of 128 over a 300 × 200 grid: 3 × 2 tiles, the last column 44 wide
  /// and the last row 72 high.
  std::unique_ptr<GX_LazyTiles> MakeTiles(std::vector<V_LRect>* log, CountingOperator** op = nullptr) {
    boost::scoped_ptr<GX_LazyOperator> p(new CountingOperator(300, 200, log));
    if (op) *op = static_cast<CountingOperator*>(p.get());
    return std::unique_ptr<GX_LazyTiles>(new GX_LazyTiles(128, &p));
  }
};

TEST_F(GxLazy, OperatorRunsOnlyOnTilesMeetingTheRequest) {
  struct Case { const char* name; V_LRect request; std::vector<V_LRect> tiles; };
  const Case kCases[] = {
      {"inside first tile", L(10, 10, 20, 20), {L(0, 0, 128, 128)}},
      {"one pixel of the second tile", L(128, 0, 129, 1), {L(128, 0, 256, 128)}},
      {"straddles four tiles", L(127, 127, 129, 129),
       {L(0, 0, 128, 128), L(128, 0, 256, 128), L(0, 128, 128, 200), L(128, 128, 256, 200)}},
      {"last tile is clipped to the grid", L(290, 190, 400, 400), {L(256, 128, 300, 200)}},
      {"negative corner is clipped", L(-50, -50, 1, 1), {L(0, 0, 128, 128)}},
      {"whole grid in row order", L(-1, -1, 1000, 1000),
       {L(0, 0, 128, 128), L(128, 0, 256, 128), L(256, 0, 300, 128), L(0, 128, 128, 200),
        L(128, 128, 256, 200), L(256, 128, 300, 200)}},
      {"empty request", L(50, 50, 50, 60), {}},
      {"outside the grid", L(300, 0, 400, 10), {}},
      {"right edge is exclusive", L(0, 0, 128, 128), {L(0, 0, 128, 128)}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<V_LRect> log;
    auto tiles = MakeTiles(&log);
    EXPECT_EQ(tiles->MakeValid(c.request), 0);
    ASSERT_EQ(log.size(), c.tiles.size());
    for (std::size_t i = 0; i < log.size(); ++i) EXPECT_TRUE(log[i] == c.tiles[i]) << "tile " << i;
    EXPECT_EQ(tiles->CountValidTiles(), int32_t(c.tiles.size()));
  }
}

TEST_F(GxLazy, ValidTilesAreNotRedoneUntilInvalidated) {
  std::vector<V_LRect> log;
  auto tiles = MakeTiles(&log);
  EXPECT_EQ(tiles->GetTilesAcross(), 3);
  EXPECT_EQ(tiles->GetTilesDown(), 2);
  ASSERT_EQ(tiles->MakeValid(L(0, 0, 10, 10)), 0);
  ASSERT_EQ(tiles->MakeValid(L(5, 5, 130, 10)), 0);  // first tile valid already
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[1] == L(128, 0, 256, 128));
  // The short-rectangle overload addresses the same grid (top, left, bottom, right).
  ASSERT_EQ(tiles->MakeValid(V_Rect{0, 0, 5, 5}), 0);
  EXPECT_EQ(log.size(), 2u);

  tiles->Invalidate(L(0, 0, 1, 1));
  EXPECT_FALSE(tiles->IsTileValid(0, 0));
  EXPECT_TRUE(tiles->IsTileValid(1, 0));
  ASSERT_EQ(tiles->MakeValid(L(0, 0, 300, 1)), 0);
  ASSERT_EQ(log.size(), 4u);  // tile (0,0) again and tile (2,0) for the first time
  EXPECT_TRUE(log[2] == L(0, 0, 128, 128));
  EXPECT_TRUE(log[3] == L(256, 0, 300, 128));
  tiles->InvalidateAll();
  EXPECT_EQ(tiles->CountValidTiles(), 0);
  EXPECT_FALSE(tiles->IsTileValid(3, 0));

  // A tile size that is not a power of two: the same answers.
  std::vector<V_LRect> odd;
  boost::scoped_ptr<GX_LazyOperator> op(new CountingOperator(300, 200, &odd));
  GX_LazyTiles hundreds(100, &op);
  ASSERT_EQ(hundreds.MakeValid(L(110, 10, 120, 20)), 0);
  ASSERT_EQ(hundreds.MakeValid(L(150, 50, 160, 60)), 0);  // the same tile, valid already
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_TRUE(odd[0] == L(100, 0, 200, 100));
}

TEST_F(GxLazy, FailedTileStaysInvalidAndStopsTheRequest) {
  std::vector<V_LRect> log;
  CountingOperator* op = nullptr;
  auto tiles = MakeTiles(&log, &op);
  op->failuresLeft = 1;
  EXPECT_EQ(tiles->MakeValid(L(0, 0, 300, 10)), 77);
  EXPECT_TRUE(log.empty());  // the first tile failed; the others were not visited
  EXPECT_EQ(tiles->CountValidTiles(), 0);
  EXPECT_EQ(tiles->MakeValid(L(0, 0, 300, 10)), 0);
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(GxLazy, ConstructorTakesOverTheOperatorOrRejects) {
  std::vector<V_LRect> log;
  boost::scoped_ptr<GX_LazyOperator> p(new CountingOperator(10, 10, &log));
  GX_LazyOperator* raw = p.get();
  EXPECT_THROW(GX_LazyTiles(0, &p), std::invalid_argument);
  EXPECT_EQ(p.get(), raw);  // still ours after a refusal
  GX_LazyTiles tiles(16, &p);
  EXPECT_EQ(p.get(), nullptr);
  EXPECT_EQ(tiles.GetOperator(), raw);
  boost::scoped_ptr<GX_LazyOperator> none;
  EXPECT_THROW(GX_LazyTiles(16, &none), std::invalid_argument);
  EXPECT_THROW(GX_LazyTiles(16, nullptr), std::invalid_argument);
  int32_t code = 0;
  try {
    GX_LazyTiles bad(-4, &none);
  } catch (const std::exception& e) {
    code = Y_TranslateAndReportException(e);
  }
  EXPECT_EQ(code, Y_Err_InvalidArg);
}

TEST_F(GxLazy, FillOperatorClearsOnlyRequestedTiles) {
  struct Case { const char* name; int32_t depth; double fill, expected; };  // expected: written
  const Case kCases[] = {
      {"8-bit zero", 8, 0.0, 0},
      {"8-bit rounded", 8, 254.6, 255},
      {"8-bit clamped", 8, 300.0, 255},
      {"16-bit full", 16, 32768.0, 32768},
      {"float", 32, 0.25, 0.25},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    boost::scoped_ptr<GX_UnoBuffer> buffer(new GX_UnoBuffer(200, 150, c.depth));
    GX_UnoBuffer* raw = buffer.get();
    ASSERT_EQ(FillUno(raw, 7), 0);  // so that untouched samples show
    boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyFillUnoBufferOperator(&buffer, c.fill));
    EXPECT_EQ(buffer.get(), nullptr);
    GX_LazyTiles tiles(128, &op);
    ASSERT_EQ(tiles.MakeValid(V_Rect{130, 150, 131, 151}), 0);  // tile (1, 1): x 128..200, y 128..150
    const struct { int32_t x, y; bool inTile; } kProbes[] = {
        {128, 128, true}, {199, 149, true}, {127, 149, false}, {199, 127, false}, {0, 0, false}};
    for (const auto& p : kProbes)
      EXPECT_EQ(SampleOf(*raw, p.x, p.y), p.inTile ? c.expected : 7) << p.x << "," << p.y;
  }
  boost::scoped_ptr<GX_UnoBuffer> none;
  EXPECT_THROW(GX_LazyFillUnoBufferOperator(&none, 0), std::invalid_argument);
}

TEST_F(GxLazy, FillOperatorUsesAndKeepsTheInkMap) {
  // 8-bit buffer of 256 × 128 with a map: two tiles of 128. Samples of 5 stand in a
  // marked cell (64..128 of rows 0..9) and, breaking the map's promise on purpose, in
  // an unmarked one (0..64): a zero fill rewrites only what the map says may be ink.
  boost::scoped_ptr<GX_UnoBuffer> buffer(new GX_UnoBuffer(256, 128, 8, GX_UnoBuffer::kZeroed));
  GX_UnoBuffer* raw = buffer.get();
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 128; ++x) raw->Row<uint8_t>(y)[x] = 5;
  raw->MarkInk(V_LRect{64, 0, 128, 10});
  boost::scoped_ptr<GX_LazyOperator> op(new GX_LazyFillUnoBufferOperator(&buffer, 0));
  GX_LazyTiles tiles(128, &op);
  ASSERT_EQ(tiles.MakeValid(V_LRect{0, 0, 1, 1}), 0);
  EXPECT_EQ(raw->Row<uint8_t>(3)[100], 0);
  EXPECT_EQ(raw->Row<uint8_t>(3)[10], 5);
  EXPECT_EQ(raw->CountInkCells(), 0);

  // A fill other than zero writes the whole tile and marks it.
  boost::scoped_ptr<GX_UnoBuffer> other(new GX_UnoBuffer(256, 128, 16, GX_UnoBuffer::kZeroed));
  GX_UnoBuffer* deep = other.get();
  boost::scoped_ptr<GX_LazyOperator> full(new GX_LazyFillUnoBufferOperator(&other, 32768));
  GX_LazyTiles fullTiles(128, &full);
  ASSERT_EQ(fullTiles.MakeValid(V_LRect{200, 5, 201, 6}), 0);
  EXPECT_EQ(deep->Row<uint16_t>(127)[128], 32768);
  EXPECT_EQ(deep->Row<uint16_t>(127)[127], 0);
  EXPECT_EQ(deep->CountInkCells(), 2 * 128);
}

TEST_F(GxLazy, WorldCopyOperatorCopiesFromAShiftedSourceSetLater) {
  std::unique_ptr<GX_World> source = NewWorld(100, 100);
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 100; ++x)
      PixelOf(*source, x, y) = GX_Pixel8{255, uint8_t(x), uint8_t(y), 9};
  boost::shared_ptr<GX_World> preStroke(FilledWorld(150, 140, {1, 1, 1, 1}).release());
  // Destination (x, y) shows source (x − 10, y + 20).
  auto* copy = new GX_LazyWorldCopyOperator(preStroke, P(-10, 20));
  boost::scoped_ptr<GX_LazyOperator> op(copy);
  GX_LazyTilesCondition tiles(128, &op);

  // No source yet: the request fails and the tile stays invalid.
  EXPECT_EQ(tiles.MakeValid(L(0, 0, 1, 1)), GX_Err_BadArgument);
  EXPECT_FALSE(tiles.IsTileValid(0, 0));
  std::unique_ptr<GX_World> deep = NewWorld(100, 100, 16);
  copy->SetSourceLayer(deep->GetLayer());
  EXPECT_EQ(tiles.MakeValid(L(0, 0, 1, 1)), GX_Err_BadDepth);

  copy->SetSourceLayer(source->GetLayer());
  ASSERT_EQ(tiles.MakeValid(L(0, 0, 1, 1)), 0);
  struct Probe { int32_t x, y; GX_Pixel8 expected; };
  const Probe kProbes[] = {
      {10, 0, {255, 0, 20, 9}},     // source (0, 20)
      {50, 30, {255, 40, 50, 9}},   // source (40, 50)
      {109, 79, {255, 99, 99, 9}},  // last source pixel
      {9, 0, {0, 0, 0, 0}},         // left of the source: transparent
      {110, 5, {0, 0, 0, 0}},       // right of the source
      {20, 80, {0, 0, 0, 0}},       // below the source
      {130, 5, {1, 1, 1, 1}},       // tile (1, 0) not requested
      {5, 130, {1, 1, 1, 1}},       // tile (0, 1) not requested
  };
  for (const Probe& p : kProbes) {
    EXPECT_TRUE(SamePixel(PixelOf(*preStroke, p.x, p.y), p.expected)) << p.x << "," << p.y;
  }
  EXPECT_THROW(GX_LazyWorldCopyOperator(boost::shared_ptr<GX_World>()), std::invalid_argument);
}

TEST_F(GxLazy, ConditionalRequestsHonourTheHostPredicate) {
  std::vector<V_LRect> log;
  boost::scoped_ptr<GX_LazyOperator> p(new CountingOperator(300, 200, &log));
  GX_LazyTilesCondition tiles(128, &p);
  // Without a predicate the condition holds everywhere.
  ASSERT_EQ(tiles.ConditionalMakeValid(L(0, 0, 1, 1)), 0);
  EXPECT_EQ(log.size(), 1u);

  // Only tiles of the first column qualify.
  struct Ctx { int32_t asked = 0; } ctx;
  tiles.SetCondition(
      [](void* context, const V_LRect& tile) {
        ++static_cast<Ctx*>(context)->asked;
        return tile.left == 0;
      },
      &ctx);
  ASSERT_EQ(tiles.ConditionalMakeValid(V_Rect{0, 0, 200, 300}), 0);
  EXPECT_EQ(ctx.asked, 5);  // every tile but the valid one is asked about
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[1] == L(0, 128, 128, 200));
  EXPECT_FALSE(tiles.IsTileValid(1, 0));
  // An unconditional request still makes the rest valid.
  ASSERT_EQ(tiles.MakeValid(L(0, 0, 300, 200)), 0);
  EXPECT_EQ(tiles.CountValidTiles(), 6);
}

}  // namespace
