// SPDX-License-Identifier: MIT
// Side-by-side timing of kstroke and libmypaint on the same strokes, in one process,
// on one thread, alternating the two engines so that both see the same machine state.
//
// Reference stroke: a sine path across a 2048 × 2048 layer, x from 100 to 1948,
// y = 1024 + 600·sin(x / 300), diameter 40, hardness 0.8, spacing 0.25 of the
// diameter, opaque black. Dab series: a straight horizontal line of dabs at diameters
// 4, 16, 64 and 256, same hardness and spacing.
//
// What each side does inside the timed region:
//   kstroke    records the pointer events into a K_Shape (AppendVertex), then one
//              K_InteractRenderer::Render call places the tips, stamps them into the
//              paint mask and composites black through the mask into the layer
//              (8-bit or 16-bit RGBA, Normal mode, all channels).
//   libmypaint stroke: the same pointer events go through mypaint_brush_stroke_to
//              between begin_atomic and end_atomic (its brush places the dabs and
//              its tiled surface composites them; 15-bit fixed-point premultiplied
//              RGBA is the only format its surface has).
//              dab series: the dab centres are handed straight to
//              mypaint_surface_draw_dab, so its brush dynamics are not even counted.
// Outside the timed region: creating and clearing the layers, brushes and surfaces.
// Both run single-threaded: oneTBB is capped at one thread and OpenMP (which the
// tiled surface uses in end_atomic) is set to one thread.
#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>
#include <omp.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "host/gx/gx.h"
#include "host/gx/gx_modes.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/interact_renderer.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"

namespace {

constexpr int kLayerSize = 2048;
constexpr double kHardness = 0.8;
constexpr double kSpacing = 0.25;

struct Point {
  double x, y;
};

/// Pointer samples of the reference stroke: one every 4 pixels of x, as a tablet
/// delivers them at a brisk pace.
std::vector<Point> SinePath() {
  std::vector<Point> points;
  for (double x = 100; x <= 1948; x += 4) points.push_back({x, 1024 + 600 * std::sin(x / 300)});
  return points;
}

/// A horizontal line across the layer's middle band for a dab series of `diameter`.
std::vector<Point> LinePath(double diameter) {
  const double margin = diameter;
  return {{margin, 1024}, {kLayerSize - margin, 1024}};
}

/// Dab centres at the brush spacing along a straight line, for the peer's draw_dab.
std::vector<Point> DabCentres(const std::vector<Point>& line, double diameter) {
  std::vector<Point> centres;
  const double step = diameter * kSpacing;
  for (double x = line.front().x; x <= line.back().x; x += step) centres.push_back({x, line[0].y});
  return centres;
}

// kstroke side
// ============================================================================

class OurStroke {
public:
  OurStroke(int bits, double diameter, std::vector<Point> samples)
      : depth(bits), path(std::move(samples)),
        layer(GX_World::New(kLayerSize, kLayerSize, bits, 0)) {
    props.accumulateMode = static_cast<int32_t>(GX_AccumulateMode::kBuildUp);
    props.diameter = diameter;
    props.hardness = kHardness;
    props.spacing = kSpacing;
    props.transferMode = static_cast<int32_t>(GX_TransferMode::kNormal);
    props.targetChannel = K_TargetChannel_RGBA;
  }

  void Clear() {
    const V_LRect all{0, 0, kLayerSize, kLayerSize};
    if (depth == 8)
      GX_Fill(nullptr, GX_Pixel8{0, 0, 0, 0}, all, layer->GetLayer());
    else
      GX_Fill16(nullptr, GX_Pixel16{0, 0, 0, 0}, all, layer->GetLayer());
  }

  void Run() {
    const GX_PixelFloat black{1.0f, 0.0f, 0.0f, 0.0f};
    boost::shared_ptr<K_PaintSource> source(new K_FillPaintSource(nullptr, black));
    K_InteractRenderer renderer(int16_t(depth), source, boost::shared_ptr<GX_World>(), nullptr,
                                false);
    K_Shape shape;
    for (size_t i = 0; i < path.size(); ++i) {
      PaintPointerEvent e;
      e.time = double(i + 1) * 0.01;
      e.x = path[i].x / kLayerSize;
      e.y = path[i].y / kLayerSize;
      if (shape.AppendVertex(&e) != 0) Fail("AppendVertex refused a sample");
    }
    V_Rect dest;
    dest.right = kLayerSize;
    dest.bottom = kLayerSize;
    V_Rect area;
    try {
      renderer.Render(nullptr, &shape, props, dest, 1.0, 0, layer->GetLayer(), &area);
    } catch (long code) {
      Fail("Render threw " + std::to_string(code));
    }
  }

  /// Fraction of covered pixels (alpha > half): a sanity check that the work was done.
  double Coverage() const {
    const GX_LayerDef* l = layer->GetLayer();
    int64_t covered = 0;
    for (int y = 0; y < kLayerSize; ++y) {
      const auto* row = static_cast<const uint8_t*>(l->data) + int64_t(y) * l->rowBytes;
      for (int x = 0; x < kLayerSize; ++x)
        covered += depth == 8 ? row[4 * x] > 127
                              : reinterpret_cast<const uint16_t*>(row)[4 * x] > 16384;
    }
    return double(covered) / (double(kLayerSize) * kLayerSize);
  }

  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "peer_compare: kstroke: %s\n", what.c_str());
    std::exit(1);
  }

private:
  int depth;
  std::vector<Point> path;
  std::unique_ptr<GX_World> layer;
  K_StrokeGlobalProperties props;
};

// libmypaint side
// ============================================================================

class PeerStroke {
public:
  /// `dabs` empty: the pointer path goes through the peer's brush; otherwise the
  /// centres are drawn directly on its surface.
  PeerStroke(double size, std::vector<Point> samples, std::vector<Point> centres)
      : diameter(size), path(std::move(samples)), dabs(std::move(centres)) {
    brush = mypaint_brush_new();
    mypaint_brush_from_defaults(brush);
    // Everything that would make it differ from a plain round dab train is switched
    // off: no randomness, no tracking or speed dynamics, no pressure mapping on the
    // opacity, no opacity linearisation (each dab is laid down fully opaque, as ours).
    const MyPaintBrushSetting zeroed[] = {
        MYPAINT_BRUSH_SETTING_RADIUS_BY_RANDOM,  MYPAINT_BRUSH_SETTING_OFFSET_BY_RANDOM,
        MYPAINT_BRUSH_SETTING_OFFSET_BY_SPEED,   MYPAINT_BRUSH_SETTING_SLOW_TRACKING,
        MYPAINT_BRUSH_SETTING_SLOW_TRACKING_PER_DAB, MYPAINT_BRUSH_SETTING_TRACKING_NOISE,
        MYPAINT_BRUSH_SETTING_DABS_PER_BASIC_RADIUS, MYPAINT_BRUSH_SETTING_DABS_PER_SECOND,
        MYPAINT_BRUSH_SETTING_OPAQUE_LINEARIZE,  MYPAINT_BRUSH_SETTING_SMUDGE,
        MYPAINT_BRUSH_SETTING_ERASER,            MYPAINT_BRUSH_SETTING_LOCK_ALPHA,
        MYPAINT_BRUSH_SETTING_COLORIZE,          MYPAINT_BRUSH_SETTING_COLOR_H,
        MYPAINT_BRUSH_SETTING_COLOR_S,           MYPAINT_BRUSH_SETTING_COLOR_V,
        MYPAINT_BRUSH_SETTING_STROKE_THRESHOLD,  MYPAINT_BRUSH_SETTING_DIRECTION_FILTER,
    };
    for (MyPaintBrushSetting s : zeroed) {
      mypaint_brush_set_base_value(brush, s, 0.0f);
      for (int input = 0; input < MYPAINT_BRUSH_INPUTS_COUNT; ++input)
        mypaint_brush_set_mapping_n(brush, s, MyPaintBrushInput(input), 0);
    }
    for (int input = 0; input < MYPAINT_BRUSH_INPUTS_COUNT; ++input) {
      mypaint_brush_set_mapping_n(brush, MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY,
                                  MyPaintBrushInput(input), 0);
      mypaint_brush_set_mapping_n(brush, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC,
                                  MyPaintBrushInput(input), 0);
    }
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_OPAQUE, 1.0f);
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY, 1.0f);
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC,
                                 float(std::log(size / 2)));
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_HARDNESS, float(kHardness));
    // Spacing 0.25 of the diameter is half a radius: two dabs per actual radius.
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_ACTUAL_RADIUS,
                                 float(1.0 / (2.0 * kSpacing)));
  }
  ~PeerStroke() {
    mypaint_brush_unref(brush);
    if (surface) mypaint_surface_unref(mypaint_fixed_tiled_surface_interface(surface));
  }
  PeerStroke(const PeerStroke&) = delete;
  PeerStroke& operator=(const PeerStroke&) = delete;

  /// A fresh, transparent surface: the peer has no call to clear one.
  void Clear() {
    if (surface) mypaint_surface_unref(mypaint_fixed_tiled_surface_interface(surface));
    surface = mypaint_fixed_tiled_surface_new(kLayerSize, kLayerSize);
  }

  void Run() {
    MyPaintSurface* s = mypaint_fixed_tiled_surface_interface(surface);
    mypaint_surface_begin_atomic(s);
    if (dabs.empty()) {
      mypaint_brush_reset(brush);
      mypaint_brush_new_stroke(brush);
      // The first sample after a reset only places the brush.
      mypaint_brush_stroke_to(brush, s, float(path[0].x), float(path[0].y), 0.0f, 0, 0, 0.01);
      for (const Point& p : path)
        mypaint_brush_stroke_to(brush, s, float(p.x), float(p.y), 1.0f, 0, 0, 0.01);
    } else {
      const float radius = float(diameter / 2);
      for (const Point& p : dabs)
        mypaint_surface_draw_dab(s, float(p.x), float(p.y), radius, 0, 0, 0, 1.0f,
                                 float(kHardness), 1.0f, 1.0f, 0, 0, 0);
    }
    MyPaintRectangle roi;
    mypaint_surface_end_atomic(s, &roi);
  }

  /// Alpha of the last run's surface around (x, y): a check that the peer painted.
  float AlphaAt(double x, double y) const {
    return mypaint_surface_get_alpha(mypaint_fixed_tiled_surface_interface(surface), float(x),
                                     float(y), 1.0f);
  }

private:
  double diameter;
  std::vector<Point> path, dabs;
  MyPaintBrush* brush = nullptr;
  MyPaintFixedTiledSurface* surface = nullptr;
};

// Timing
// ============================================================================

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double TimeMs(const std::function<void()>& run) {
  const auto t0 = std::chrono::steady_clock::now();
  run();
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

struct Result {
  double ours, theirs;
};

template <class A, class B>
Result Alternate(A& ours, B& theirs, int reps) {
  std::vector<double> a, b;
  ours.Clear();
  ours.Run();  // warm-up: page in both layers and code
  theirs.Clear();
  theirs.Run();
  for (int i = 0; i < reps; ++i) {
    ours.Clear();
    a.push_back(TimeMs([&] { ours.Run(); }));
    theirs.Clear();
    b.push_back(TimeMs([&] { theirs.Run(); }));
  }
  return {Median(a), Median(b)};
}

void Report(const std::string& name, int depth, const Result& r) {
  // ratio > 1: kstroke is that many times faster.
  std::printf("%-22s %6d %12.3f %12.3f %8.2fx\n", name.c_str(), depth, r.ours, r.theirs,
              r.theirs / r.ours);
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  tbb::global_control oneThread(tbb::global_control::max_allowed_parallelism, 1);
  omp_set_num_threads(1);

  std::printf("kstroke vs libmypaint, %d×%d RGBA layer, single thread, median of %d\n",
              kLayerSize, kLayerSize, reps);
  std::printf("%-22s %6s %12s %12s %9s\n", "case", "depth", "kstroke ms", "mypaint ms",
              "ratio");
  for (int depth : {8, 16}) {
    OurStroke ours(depth, 40, SinePath());
    PeerStroke theirs(40, SinePath(), {});
    Report("reference stroke", depth, Alternate(ours, theirs, reps));
    if (ours.Coverage() < 0.01) OurStroke::Fail("the reference stroke left the layer empty");
    if (theirs.AlphaAt(1024, 1024 + 600 * std::sin(1024.0 / 300)) < 0.5f) {
      std::fprintf(stderr, "peer_compare: libmypaint left the stroke's middle unpainted\n");
      return 1;
    }
  }
  for (int depth : {8, 16}) {
    for (double d : {4.0, 16.0, 64.0, 256.0}) {
      const std::vector<Point> line = LinePath(d);
      OurStroke ours(depth, d, line);
      PeerStroke theirs(d, line, DabCentres(line, d));
      Report("dab series d=" + std::to_string(int(d)), depth, Alternate(ours, theirs, reps));
      if (theirs.AlphaAt(1024, 1024) < 0.5f) {
        std::fprintf(stderr, "peer_compare: libmypaint left the dab series unpainted\n");
        return 1;
      }
    }
  }
  return 0;
}
