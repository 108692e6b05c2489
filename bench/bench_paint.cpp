// SPDX-License-Identifier: MIT
// Paint-side hot paths: dab accumulation into the mask, the fill source's composite
// through a mask at each depth, a whole stroke through K_InteractRenderer, and the
// arc-length inversions that place its tips.
// Depth arguments are bits per channel (8, 16, 32 = float).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "host/crv/crv.h"
#include "host/gx/gx.h"
#include "host/gx/gx_accumulate.h"
#include "host/gx/gx_modes.h"
#include "host/seq/seq.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/interact_renderer.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"
#include "kstroke/transform.h"

namespace {

/// A mask ramp that is zero in its first quarter, full in its last, soft in between:
/// every branch of a composite kernel (skip, partial, full) gets its share.
std::unique_ptr<GX_UnoBuffer> RampMask(int32_t size, int32_t depth) {
  auto mask = std::make_unique<GX_UnoBuffer>(size, size, depth);
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const double t = std::clamp((double(x) / size - 0.25) * 2.0, 0.0, 1.0);
      if (depth == 8)
        mask->Row<uint8_t>(y)[x] = uint8_t(t * 255 + 0.5);
      else if (depth == 16)
        mask->Row<uint16_t>(y)[x] = uint16_t(t * 32768 + 0.5);
      else
        mask->Row<float>(y)[x] = float(t);
    }
  return mask;
}

/// Build-up of a ramp dab at half flow, overlapping the last one. Arguments: the dab's
/// side (6 and 12 take the kernels of rows shorter than a wide vector) and the depth.
void BM_AccumulateDab(benchmark::State& state) {
  const int32_t size = int32_t(state.range(0));
  const int32_t depth = int32_t(state.range(1));
  auto dab = RampMask(size, depth);
  GX_UnoBuffer mask(size * 2, size * 2, depth);
  const V_LRect src{0, 0, size, size};
  int32_t shift = 0;
  for (auto _ : state) {
    shift = (shift + 7) % size;  // overlapping dabs, as along a stroke
    const int32_t rc = GX_AccumulateUnoBuffers(nullptr, dab.get(),
                                               int32_t(GX_AccumulateMode::kBuildUp), 1.0f, 0.5f,
                                               src, V_LPoint{shift, shift / 2}, &mask);
    benchmark::DoNotOptimize(rc);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}
BENCHMARK(BM_AccumulateDab)->ArgsProduct({{6, 12, 16, 64, 256}, {8, 16, 32}});

/// Tip locations along stroke-sized curves: a batch of arc lengths inverted at once, as
/// placement asks for them (tables prepared beforehand). Argument: the batch size.
void BM_ArcLengthPoints(benchmark::State& state) {
  const int32_t count = int32_t(state.range(0));
  constexpr int kCurves = 64;
  std::vector<std::array<double, 8>> points(kCurves);
  std::vector<CRV_Curve> curves(kCurves);
  std::vector<SEQ_Head**> tables(kCurves, nullptr);
  std::vector<double> lengths(kCurves);
  uint32_t seed = 12345;
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return double((seed >> 8) % 2001) / 100.0 - 10.0;
  };
  for (int c = 0; c < kCurves; ++c) {
    // A segment of a few pixels to a few tens, as a recorded path has them.
    double x = 0, y = 0;
    for (int i = 0; i < 4; ++i) {
      points[c][2 * i] = x;
      points[c][2 * i + 1] = y;
      x += 3 + std::fabs(next());
      y += next() * 0.5;
    }
    curves[c].kind = kCRV_CubicPlanar;
    for (int i = 0; i < 4; ++i) curves[c].points[i] = &points[c][2 * i];
    if (CRV_PrepareTable(&curves[c], 500, &tables[c]) != 0 || CRV_TableLength(tables[c], &lengths[c]) != 0) {
      state.SkipWithError("no arc-length table");
      for (SEQ_Head** t : tables) SEQ_Dispose(t, 0);
      return;
    }
  }
  std::vector<CRV_Curve> batch(count);
  std::vector<double> at(count);
  std::vector<SEQ_Head***> slots(count);
  std::vector<V_Vector2T<double>> found(count);
  int32_t k = 0;
  for (auto _ : state) {
    for (int32_t i = 0; i < count; ++i, k = (k + 7) % kCurves) {
      batch[i] = curves[k];
      at[i] = lengths[k] * (0.05 + 0.9 * double((k * 37 + i * 11) % 97) / 97.0);
      slots[i] = &tables[k];
    }
    benchmark::DoNotOptimize(CRV_EvaluatePointsFromS(batch.data(), at.data(), count, 500, slots.data(), found.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
  for (SEQ_Head** t : tables) SEQ_Dispose(t, 0);
}
BENCHMARK(BM_ArcLengthPoints)->Arg(1)->Arg(4)->Arg(16);

void BM_FillComposite(benchmark::State& state) {
  const int32_t size = 512;
  const int32_t depth = int32_t(state.range(0));
  auto mask = RampMask(size, depth);  // the direct path wants the layer's depth
  std::unique_ptr<GX_World> layer(GX_World::New(size, size, depth, 0));
  K_FillPaintSource fill(nullptr, GX_PixelFloat{1.0f, 0.2f, 0.4f, 0.6f});
  V_Rect all;
  all.right = size;
  all.bottom = size;
  for (auto _ : state) {
    V_Rect area = all;
    fill.Render(nullptr, all, all, mask.get(), 0.8, K_Transform(),
                int32_t(GX_TransferMode::kNormal), K_TargetChannel_RGBA, 0, &area,
                layer->GetLayer());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}
BENCHMARK(BM_FillComposite)->Arg(8)->Arg(16)->Arg(32);

/// The reference stroke of the peer comparison (bench/peer/peer_compare.cpp): a sine
/// across a 2048² layer, diameter 40, hardness 0.8, spacing 0.25, opaque black, one
/// Render call. Arguments: depth, and the brush's flow in per cent (a painter's flow
/// below 100 builds the mask up dab by dab instead of raising it).
void BM_ReferenceStroke(benchmark::State& state) {
  constexpr int32_t kSize = 2048;
  const int32_t depth = int32_t(state.range(0));
  std::unique_ptr<GX_World> layer(GX_World::New(kSize, kSize, depth, 0));
  K_StrokeGlobalProperties props;
  props.accumulateMode = int32_t(GX_AccumulateMode::kBuildUp);
  props.diameter = 40;
  props.hardness = 0.8;
  props.spacing = 0.25;
  props.flow = double(state.range(1)) / 100.0;
  props.transferMode = int32_t(GX_TransferMode::kNormal);
  V_Rect dest;
  dest.right = kSize;
  dest.bottom = kSize;
  for (auto _ : state) {
    boost::shared_ptr<K_PaintSource> source(
        new K_FillPaintSource(nullptr, GX_PixelFloat{1.0f, 0.0f, 0.0f, 0.0f}));
    K_InteractRenderer renderer(int16_t(depth), source, boost::shared_ptr<GX_World>(), nullptr,
                                false);
    K_Shape shape;
    double t = 0;
    for (double x = 100; x <= 1948; x += 4) {
      PaintPointerEvent e;
      e.time = t += 0.01;
      e.x = x / kSize;
      e.y = (1024 + 600 * std::sin(x / 300)) / kSize;
      shape.AppendVertex(&e);
    }
    V_Rect area;
    renderer.Render(nullptr, &shape, props, dest, 1.0, 0, layer->GetLayer(), &area);
    benchmark::DoNotOptimize(area);
  }
}
BENCHMARK(BM_ReferenceStroke)->ArgsProduct({{8, 16, 32}, {100, 50}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
