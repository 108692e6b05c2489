// SPDX-License-Identifier: MIT
#include "host/gx/gx_iterate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

#include "host/gx/gx_transfer.h"
#include "host/y/errors.h"
#include "gx_test_support.h"

namespace {

struct Visits {
  std::vector<std::atomic<int32_t>> count;
  std::vector<int32_t> thread;
  int32_t failAt = -1;
  int32_t failCode = 0;
  explicit Visits(int32_t n) : count(std::size_t(n)), thread(std::size_t(n), -1) {}
};

int32_t Visit(void* context, int32_t threadIndex, int32_t index) {
  auto* v = static_cast<Visits*>(context);
  v->count[std::size_t(index)].fetch_add(1);
  v->thread[std::size_t(index)] = threadIndex;
  return index == v->failAt ? v->failCode : 0;
}

TEST(GxIterate, EveryIndexRunsExactlyOnceWithValidThreadIndexes) {
  for (int32_t n : {0, 1, 17, 1000}) {
    SCOPED_TRACE(n);
    Visits threaded(n), serial(n);
    ASSERT_EQ(GX_IterateGeneric(n, &threaded, &Visit), 0);
    ASSERT_EQ(GX_IterateGeneric_Static(n, &serial, &Visit), 0);
    for (int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(threaded.count[std::size_t(i)].load(), 1) << i;
      EXPECT_EQ(serial.count[std::size_t(i)].load(), 1) << i;
      EXPECT_GE(threaded.thread[std::size_t(i)], 0);
      EXPECT_LT(threaded.thread[std::size_t(i)], GX_IterateMaxThreads());
      EXPECT_EQ(serial.thread[std::size_t(i)], 0);  // the caller's thread
    }
  }
}

TEST(GxIterate, FirstNonZeroResultStopsTheLoop) {
  Visits serial(100);
  serial.failAt = 40;
  serial.failCode = 7;
  EXPECT_EQ(GX_IterateGeneric_Static(100, &serial, &Visit), 7);
  EXPECT_EQ(serial.count[40].load(), 1);
  EXPECT_EQ(serial.count[41].load(), 0);  // in order, nothing after the failure

  Visits threaded(1000);
  threaded.failAt = 500;
  threaded.failCode = 7;
  EXPECT_EQ(GX_IterateGeneric(1000, &threaded, &Visit), 7);
  EXPECT_EQ(threaded.count[500].load(), 1);
}

TEST(GxIterate, ThrownCodesAndBadArgumentsBecomeResults) {
  const auto throwsLong = [](void*, int32_t, int32_t index) -> int32_t {
    if (index == 3) throw 42L;
    return 0;
  };
  const auto throwsStd = [](void*, int32_t, int32_t) -> int32_t {
    throw std::invalid_argument("bad row");
  };
  for (auto iterate : {&GX_IterateGeneric, &GX_IterateGeneric_Static}) {
    SCOPED_TRACE(iterate == &GX_IterateGeneric ? "threaded" : "static");
    EXPECT_EQ(iterate(10, nullptr, throwsLong), 42);
    EXPECT_EQ(iterate(10, nullptr, throwsStd), Y_Err_InvalidArg);
    EXPECT_EQ(iterate(10, nullptr, nullptr), GX_Err_BadArgument);
    EXPECT_EQ(iterate(-1, nullptr, throwsLong), GX_Err_BadArgument);
  }
}

/// Rows of a transfer blend into one world. Dissolve's dither is fixed per pixel, so
/// it too must not depend on which thread ran a row.
struct RowJob { GX_World* world; int32_t mode; };

int32_t BlendRow(void* context, int32_t, int32_t row) {
  const auto* job = static_cast<const RowJob*>(context);
  GX_LayerDef* layer = job->world->GetLayer();
  auto* p = static_cast<GX_Pixel16*>(GXp_PixelAddress(*layer, 0, row));
  for (int32_t x = 0; x < layer->width; ++x) {
    const uint16_t mask = uint16_t((x * 331 + row * 17) % 32769);
    GXp_G_Xfer1_Opacity2_table16[job->mode](GX_Pixel16{32768, 30000, 2000, 100}, nullptr, mask,
                                            20000, p + x);
  }
  return 0;
}

class GxIterateImage : public TrackedTest {};

TEST_F(GxIterateImage, ThreadedAndStaticRowLoopsGiveIdenticalPixels) {
  for (int32_t mode : {2, 3, 7}) {
    SCOPED_TRACE(mode);
    std::unique_ptr<GX_World> w = NewWorld(97, 61, 16);
    const V_LRect all = L(0, 0, 97, 61);
    const GX_Pixel16 start{16384, 5000, 6000, 7000};
    RowJob job{w.get(), mode};
    GX_Fill16(nullptr, start, all, w->GetLayer());
    ASSERT_EQ(GX_IterateGeneric(61, &job, &BlendRow), 0);
    std::vector<GX_Pixel16> threaded;
    for (int32_t y = 0; y < 61; ++y)
      for (int32_t x = 0; x < 97; ++x) threaded.push_back(PixelOf<GX_Pixel16>(*w, x, y));
    GX_Fill16(nullptr, start, all, w->GetLayer());
    ASSERT_EQ(GX_IterateGeneric_Static(61, &job, &BlendRow), 0);
    int32_t changed = 0;
    for (int32_t y = 0; y < 61; ++y) {
      for (int32_t x = 0; x < 97; ++x) {
        const GX_Pixel16& a = threaded[std::size_t(y * 97 + x)];
        ASSERT_TRUE(SamePixel(a, PixelOf<GX_Pixel16>(*w, x, y))) << x << "," << y;
        changed += a.red != 5000;
      }
    }
    EXPECT_GT(changed, 97 * 61 / 10);  // the loop really blended
  }
}

}  // namespace
