// SPDX-License-Identifier: MIT
// Tip computation, MIP pyramid construction and dab rasterization at a range of
// diameters and both depths. Argument 0: diameter in pixels; argument 1: 16-bit when 1.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"

namespace {

void DiameterArgs(benchmark::internal::Benchmark* b) {
  for (int deep : {0, 1})
    for (int d : {4, 16, 64, 256}) b->Args({d, deep});
}

void BM_ComputeTip(benchmark::State& state) {
  const double diameter = double(state.range(0));
  const bool deep = state.range(1) != 0;
  for (auto _ : state) {
    K_ComputedBrushTip tip(diameter, 0.5, 0.8, 0, !deep, deep);
    benchmark::DoNotOptimize(tip.GetTip());
  }
}
BENCHMARK(BM_ComputeTip)->Apply(DiameterArgs);

void BM_BuildMipMap(benchmark::State& state) {
  K_ComputedBrushTip tip(double(state.range(0)), 0.5, 0.8, 0, false, state.range(1) != 0);
  for (auto _ : state) {
    K_BrushMIPMap map(tip);
    benchmark::DoNotOptimize(&map.GetPyramid());
  }
}
BENCHMARK(BM_BuildMipMap)->Apply(DiameterArgs);

/// One dab as the stamping loop draws it: set the transform, clear, render, bounds.
/// The rate counts the rendered bounds inside the buffer.
void RasterizeDab(benchmark::State& state, double scale, double angle) {
  const bool deep = state.range(1) != 0;
  K_ComputedBrushTip tip(double(state.range(0)), 0.5, 0.8, 0, false, deep);
  K_BrushMIPMap map(tip);
  const V_Vector2T<short> extent = tip.GetMaximumExtent(1.0, {scale, scale});
  GX_UnoBuffer dst(extent.x, extent.y, deep ? 16 : 8);
  int64_t pixels = 0;
  double phase = 0;
  for (auto _ : state) {
    phase = phase >= 0.9 ? 0 : phase + 0.1;  // sub-pixel positions vary as along a stroke
    map.SetTransform({scale, scale}, angle, 1.0, 1.0, {extent.x * 0.5 + phase, extent.y * 0.5 + phase});
    if (deep)
      GX_FillDeepUnoBuffer(0, &dst);
    else
      GX_FillUnoBuffer(0, &dst);
    map.RenderInto(dst);
    const V_Rect r = map.GetRenderedBounds();
    benchmark::DoNotOptimize(r);
    // The polygon's box of a turned dab reaches past the buffer (the buffer holds the
    // ink, not the tip's corners); only the part inside it is drawn.
    const int64_t w = std::min<int64_t>(r.right, extent.x) - std::max<int64_t>(r.left, 0);
    const int64_t h = std::min<int64_t>(r.bottom, extent.y) - std::max<int64_t>(r.top, 0);
    pixels += std::max<int64_t>(w, 0) * std::max<int64_t>(h, 0);
  }
  state.counters["px/s"] = benchmark::Counter(double(pixels), benchmark::Counter::kIsRate);
}

void BM_DabUnscaled(benchmark::State& state) { RasterizeDab(state, 1.0, 0); }
void BM_DabScaled(benchmark::State& state) { RasterizeDab(state, 0.7, 0); }
void BM_DabRotated(benchmark::State& state) { RasterizeDab(state, 0.7, 33); }
BENCHMARK(BM_DabUnscaled)->Apply(DiameterArgs);
BENCHMARK(BM_DabScaled)->Apply(DiameterArgs);
BENCHMARK(BM_DabRotated)->Apply(DiameterArgs);

}  // namespace

BENCHMARK_MAIN();
