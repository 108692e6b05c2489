// SPDX-License-Identifier: MIT
// Side-by-side timing of kstroke and libmypaint on the same strokes, in one process,
// on one thread, alternating the two engines so that both see the same machine state.
//
// Strokes, all on one sine path across a 2048 × 2048 layer (x from 100 to 1948,
// y = 1024 + 600·sin(x / 300), a pointer sample every 4 pixels of x), spacing 0.25 of
// the diameter, opaque black, build-up at full opacity:
//   reference    diameter 40, hardness 0.8, round
//   pressure     diameter factor 0.2 + 0.8p and flow p, p rising and falling along
//                the stroke (0.1 to 1)
//   elliptical   roundness 0.5 at 35 degrees
//   soft         hardness 0.2
//   round d=200  a big round brush
//   direction    roundness 0.5, the angle following the stroke's direction
//   small d=8    a small round brush
// each drawn in one call and delivered incrementally (a Render call every 4 pointer
// events against libmypaint's end_atomic every 4 events), at 8 and 16 bits; the
// reference and pressure strokes also on a float layer (kstroke only: libmypaint has no
// float surface, so that row compares kstroke's float time with its own 16-bit time).
// Held out: strokes of other diameters, hardnesses, ellipses and angles, on the same
// path, which no speed-up was tuned on; they check that the targets hold for the strokes
// a painter might make, not only for the rows above.
// Dab series: a straight line of dabs at diameters 4, 16, 64 and 256, handed to
// libmypaint's surface directly (its brush not counted).
//
// What each side does inside the timed region:
//   kstroke    records the pointer events (AppendVertex) and renders them (Render: tip
//              placement, stamping into the paint mask, compositing black through the
//              mask into the layer, Normal mode, all channels).
//   libmypaint the same events through mypaint_brush_stroke_to between begin_atomic
//              and end_atomic (its brush places the dabs, its tiled surface composites
//              them; 15-bit premultiplied RGBA is the only format it has).
// Outside: clearing the layers (libmypaint's through its tile requests: its fixed
// surface starts out opaque white), making brushes, surfaces and renderers, and
// merging the allocator's freed blocks (SettleAllocator).
// Both run single-threaded: oneTBB is capped at one thread and OpenMP (which the tiled
// surface uses in end_atomic) is set to one thread.
//
// Both lay the same dabs: the same centres, and strokes that hold the same paint.
// The engines' soft edges differ (ours reach further, and an opaque stroke's dabs
// build up to the largest coverage where libmypaint composites one over the other),
// so libmypaint's radius is found, once per brush, by bisection from half the
// diameter until its 8-bit stroke holds as much alpha as ours; its spacing follows, in
// dabs per actual radius. For hard brushes that radius stays near half the diameter.
// After the timed runs, each row's painted coverage is compared: the sum of alpha
// (within 5 %) and the box of pixels with at least 1/32 alpha. Engines that did
// different work fail the row, and the program's exit status.
#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>
#include <mypaint-tiled-surface.h>
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

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include "host/gx/gx.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_lazy.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/interact_renderer.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"

namespace {

constexpr int kLayerSize = 2048;
constexpr double kSpacing = 0.25;
constexpr int kEventsPerCall = 4;  ///< incremental delivery
constexpr double kPi = 3.141592653589793;

struct Sample {
  double x, y;
  double pressure;   ///< 0..1
  double direction;  ///< degrees, atan2(dy, dx) on the y-down layer
};

/// One kind of stroke, as both engines are asked to paint it.
struct Brush {
  std::string name;
  double diameter = 40, hardness = 0.8, roundness = 1.0, angle = 0.0;
  bool pressure = false;         ///< diameter factor 0.2 + 0.8p, flow p
  bool followDirection = false;  ///< the dab angle follows the stroke
};

/// Pointer samples of the sine path, one every 4 pixels of x, as a tablet delivers
/// them at a brisk pace; pressure swings between 0.1 and 1 three times.
std::vector<Sample> SinePath() {
  std::vector<Sample> samples;
  for (double x = 100; x <= 1948; x += 4) {
    const double slope = 2.0 * std::cos(x / 300);  // dy/dx
    samples.push_back({x, 1024 + 600 * std::sin(x / 300), 0.55 - 0.45 * std::cos((x - 100) / 1848 * 6 * kPi),
                       std::atan2(slope, 1.0) * 180 / kPi});
  }
  return samples;
}

/// A horizontal line across the layer's middle band for a dab series of `diameter`.
std::vector<Sample> LinePath(double diameter) {
  const double margin = diameter;
  return {{margin, 1024, 1, 0}, {kLayerSize - margin, 1024, 1, 0}};
}

/// Dab centres at the brush spacing along a straight line, for the peer's draw_dab.
std::vector<Sample> DabCentres(const std::vector<Sample>& line, double diameter) {
  std::vector<Sample> centres;
  const double step = diameter * kSpacing;
  for (double x = line.front().x; x <= line.back().x; x += step) centres.push_back({x, line[0].y, 1, 0});
  return centres;
}

/// What a run left on a layer: the sum of alpha (1 = one fully covered pixel) and the
/// box of pixels with at least 1/32 alpha.
struct Coverage {
  double alpha = 0;
  int left = kLayerSize, top = kLayerSize, right = -1, bottom = -1;

  void Add(int x, int y, double a) {
    alpha += a;
    if (a < 1.0 / 32) return;
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
};

[[noreturn]] void Fail(const char* who, const std::string& what) {
  std::fprintf(stderr, "peer_compare: %s: %s\n", who, what.c_str());
  std::exit(1);
}

// kstroke side
// ============================================================================

class OurStroke {
public:
  OurStroke(int bits, const Brush& b, std::vector<Sample> samples, bool incremental)
      : depth(bits), brush(b), path(std::move(samples)), inc(incremental),
        layer(GX_World::New(kLayerSize, kLayerSize, bits, 0)) {
    if (inc) preStroke.reset(GX_World::New(kLayerSize, kLayerSize, bits, 0));
    props.accumulateMode = static_cast<int32_t>(GX_AccumulateMode::kBuildUp);
    props.diameter = b.diameter;
    props.hardness = b.hardness;
    props.roundness = b.roundness;
    props.angle = b.angle;
    props.spacing = kSpacing;
    props.transferMode = static_cast<int32_t>(GX_TransferMode::kNormal);
    props.targetChannel = K_TargetChannel_RGBA;
  }

  void Clear() {
    const V_LRect all{0, 0, kLayerSize, kLayerSize};
    if (depth == 8)
      GX_Fill(nullptr, GX_Pixel8{0, 0, 0, 0}, all, layer->GetLayer());
    else if (depth == 16)
      GX_Fill16(nullptr, GX_Pixel16{0, 0, 0, 0}, all, layer->GetLayer());
    else
      GX_FillFloat(nullptr, GX_PixelFloat{0, 0, 0, 0}, all, layer->GetLayer());
  }

  /// Delivered incrementally, as a host renders while the user paints: with a lazily
  /// filled copy of the layer from before the stroke, which each call restores under
  /// its area before compositing, so that the mask is never applied twice. In one
  /// call there is nothing to restore.
  void Run() {
    const GX_PixelFloat black{1.0f, 0.0f, 0.0f, 0.0f};
    boost::shared_ptr<K_PaintSource> source(new K_FillPaintSource(nullptr, black));
    boost::shared_ptr<GX_LazyTilesCondition> lazyCopy;
    if (inc) {
      boost::scoped_ptr<GX_LazyOperator> copier(new GX_LazyWorldCopyOperator(preStroke));
      lazyCopy.reset(new GX_LazyTilesCondition(GX_LazyTiles::kCopyTileSize, &copier));
    }
    K_InteractRenderer renderer(int16_t(depth), source, preStroke, inc ? &lazyCopy : nullptr, inc);
    K_Shape shape;
    for (size_t i = 0; i < path.size(); ++i) {
      PaintPointerEvent e;
      e.time = double(i + 1) * 0.01;
      e.x = path[i].x / kLayerSize;
      e.y = path[i].y / kLayerSize;
      if (brush.pressure) {
        e.params[K_StrokeParam_Diameter] = float(0.2 + 0.8 * path[i].pressure);
        e.params[K_StrokeParam_Flow] = float(path[i].pressure);
      }
      if (brush.followDirection) e.params[K_StrokeParam_Angle] = float(path[i].direction);
      if (shape.AppendVertex(&e) != 0) Fail("kstroke", "AppendVertex refused a sample");
      if (inc && (i + 1) % kEventsPerCall == 0) Render(renderer, shape);
    }
    if (!inc || path.size() % kEventsPerCall != 0) Render(renderer, shape);
  }

  Coverage Measure() const {
    const GX_LayerDef* l = layer->GetLayer();
    Coverage c;
    for (int y = 0; y < kLayerSize; ++y) {
      const auto* row = static_cast<const uint8_t*>(l->data) + int64_t(y) * l->rowBytes;
      for (int x = 0; x < kLayerSize; ++x) {
        double a = 0;
        if (depth == 8)
          a = row[4 * x] / 255.0;
        else if (depth == 16)
          a = reinterpret_cast<const uint16_t*>(row)[4 * x] / 32768.0;
        else
          a = reinterpret_cast<const float*>(row)[4 * x];
        if (a > 0) c.Add(x, y, a);
      }
    }
    return c;
  }

private:
  void Render(K_InteractRenderer& renderer, K_Shape& shape) {
    V_Rect dest;
    dest.right = kLayerSize;
    dest.bottom = kLayerSize;
    V_Rect area;
    try {
      renderer.Render(nullptr, &shape, props, dest, 1.0, 0, layer->GetLayer(), &area);
    } catch (long code) {
      Fail("kstroke", "Render threw " + std::to_string(code));
    }
  }

  int depth;
  Brush brush;
  std::vector<Sample> path;
  bool inc;
  std::unique_ptr<GX_World> layer;
  boost::shared_ptr<GX_World> preStroke;
  K_StrokeGlobalProperties props;
};

// libmypaint side
// ============================================================================

class PeerStroke {
public:
  /// `dabs` empty: the pointer path goes through the peer's brush; otherwise the
  /// centres are drawn directly on its surface.
  /// `peerRadius`: libmypaint's radius for the brush (see Calibrate).
  PeerStroke(const Brush& b, double peerRadius, std::vector<Sample> samples, std::vector<Sample> centres,
             bool incremental)
      : setup(b), radius(peerRadius), path(std::move(samples)), dabs(std::move(centres)), inc(incremental) {
    brush = mypaint_brush_new();
    mypaint_brush_from_defaults(brush);
    // Everything that would make it differ from the dab train asked for is switched
    // off: no randomness, no tracking or speed dynamics, no opacity linearisation
    // (each dab is laid down as opaque as ours), and no input mapping but ours.
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
      ClearMappings(s);
    }
    for (MyPaintBrushSetting s : {MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC,
                                  MYPAINT_BRUSH_SETTING_ELLIPTICAL_DAB_RATIO, MYPAINT_BRUSH_SETTING_ELLIPTICAL_DAB_ANGLE})
      ClearMappings(s);
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_OPAQUE, 1.0f);
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY, b.pressure ? 0.0f : 1.0f);
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC, float(std::log(radius)));
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_HARDNESS, float(b.hardness));
    // Our step is spacing × diameter × roundness, both scaled by the diameter factor.
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_ACTUAL_RADIUS,
                                 float(radius / (b.diameter * kSpacing * b.roundness)));
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_ELLIPTICAL_DAB_RATIO, float(1.0 / b.roundness));
    // Its angle turns clockwise on the screen, ours anticlockwise.
    mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_ELLIPTICAL_DAB_ANGLE, float(-b.angle));
    if (b.pressure) {
      // Flow p: the opacity multiplier follows the pressure. Diameter factor
      // 0.2 + 0.8p: the logarithmic radius gains log(0.2 + 0.8p), in 8 pieces.
      Map(MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY, MYPAINT_BRUSH_INPUT_PRESSURE, {{0, 0}, {1, 1}});
      std::vector<std::pair<float, float>> curve;
      for (int k = 0; k <= 7; ++k) curve.push_back({float(k / 7.0), float(std::log(0.2 + 0.8 * k / 7.0))});
      Map(MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC, MYPAINT_BRUSH_INPUT_PRESSURE, curve);
    }
    if (b.followDirection)  // both measure the direction clockwise on the y-down layer
      Map(MYPAINT_BRUSH_SETTING_ELLIPTICAL_DAB_ANGLE, MYPAINT_BRUSH_INPUT_DIRECTION, {{0, 0}, {180, 180}});
    surface = mypaint_fixed_tiled_surface_new(kLayerSize, kLayerSize);
  }
  ~PeerStroke() {
    mypaint_brush_unref(brush);
    mypaint_surface_unref(mypaint_fixed_tiled_surface_interface(surface));
  }
  PeerStroke(const PeerStroke&) = delete;
  PeerStroke& operator=(const PeerStroke&) = delete;

  /// Transparent, through the surface's own tile requests (it has no clear call, and
  /// a new surface starts opaque white).
  void Clear() {
    ForEachTile(false, [](int, int, uint16_t* tile) {
      std::memset(tile, 0, sizeof(uint16_t) * 4 * MYPAINT_TILE_SIZE * MYPAINT_TILE_SIZE);
    });
  }

  void Run() {
    MyPaintSurface* s = mypaint_fixed_tiled_surface_interface(surface);
    mypaint_surface_begin_atomic(s);
    MyPaintRectangle roi;
    if (dabs.empty()) {
      mypaint_brush_reset(brush);
      mypaint_brush_new_stroke(brush);
      // The first sample after a reset only places the brush.
      mypaint_brush_stroke_to(brush, s, float(path[0].x), float(path[0].y), float(path[0].pressure), 0, 0, 0.01);
      for (size_t i = 0; i < path.size(); ++i) {
        const Sample& p = path[i];
        mypaint_brush_stroke_to(brush, s, float(p.x), float(p.y), setup.pressure ? float(p.pressure) : 1.0f, 0, 0,
                                0.01);
        if (inc && (i + 1) % kEventsPerCall == 0 && i + 1 < path.size()) {
          mypaint_surface_end_atomic(s, &roi);
          mypaint_surface_begin_atomic(s);
        }
      }
    } else {
      for (const Sample& p : dabs)
        mypaint_surface_draw_dab(s, float(p.x), float(p.y), float(radius), 0, 0, 0, 1.0f, float(setup.hardness),
                                 1.0f, 1.0f, 0, 0, 0);
    }
    mypaint_surface_end_atomic(s, &roi);
  }

  /// Premultiplied 15-bit RGBA tiles, read through the same requests.
  Coverage Measure() {
    Coverage c;
    ForEachTile(true, [&](int tx, int ty, uint16_t* tile) {
      for (int y = 0; y < MYPAINT_TILE_SIZE; ++y)
        for (int x = 0; x < MYPAINT_TILE_SIZE; ++x) {
          const double a = tile[4 * (y * MYPAINT_TILE_SIZE + x) + 3] / 32768.0;
          if (a > 0) c.Add(tx * MYPAINT_TILE_SIZE + x, ty * MYPAINT_TILE_SIZE + y, a);
        }
    });
    return c;
  }

private:
  void ClearMappings(MyPaintBrushSetting s) {
    for (int input = 0; input < MYPAINT_BRUSH_INPUTS_COUNT; ++input)
      mypaint_brush_set_mapping_n(brush, s, MyPaintBrushInput(input), 0);
  }
  void Map(MyPaintBrushSetting s, MyPaintBrushInput input, const std::vector<std::pair<float, float>>& points) {
    mypaint_brush_set_mapping_n(brush, s, input, int(points.size()));
    for (size_t k = 0; k < points.size(); ++k)
      mypaint_brush_set_mapping_point(brush, s, input, int(k), points[k].first, points[k].second);
  }
  template <class F>
  void ForEachTile(bool readonly, F f) {
    auto* tiled = reinterpret_cast<MyPaintTiledSurface*>(surface);
    for (int ty = 0; ty < kLayerSize / MYPAINT_TILE_SIZE; ++ty)
      for (int tx = 0; tx < kLayerSize / MYPAINT_TILE_SIZE; ++tx) {
        MyPaintTileRequest request;
        mypaint_tile_request_init(&request, 0, tx, ty, readonly);
        mypaint_tiled_surface_tile_request_start(tiled, &request);
        if (!request.buffer) Fail("libmypaint", "a tile request came back without a buffer");
        f(tx, ty, request.buffer);
        mypaint_tiled_surface_tile_request_end(tiled, &request);
      }
  }

  Brush setup;
  double radius;
  std::vector<Sample> path, dabs;
  bool inc;
  MyPaintBrush* brush = nullptr;
  MyPaintFixedTiledSurface* surface = nullptr;
};

// Timing and checks
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

/// Merges the allocator's freed small blocks, outside the timing, so that each run
/// starts from the same allocator state. glibc keeps small blocks that are freed on
/// fast lists and merges them at the next large request, whoever makes it: without
/// this, the first large allocation of one engine's run paid for the other engine's
/// frees (4 to 7 % of our small-dab strokes).
void SettleAllocator() {
  void* volatile block = std::malloc(64 * 1024);  // volatile: the pair is not elided
  std::free(block);
}

template <class A, class B>
Result Alternate(A& ours, B& theirs, int reps) {
  std::vector<double> a, b;
  ours.Clear();
  ours.Run();  // warm-up: page in both layers and code
  theirs.Clear();
  theirs.Run();
  for (int i = 0; i < reps; ++i) {
    ours.Clear();
    SettleAllocator();
    a.push_back(TimeMs([&] { ours.Run(); }));
    theirs.Clear();
    SettleAllocator();
    b.push_back(TimeMs([&] { theirs.Run(); }));
  }
  return {Median(a), Median(b)};
}

/// libmypaint's radius for `b` on `path` (or its dab `centres`): bisection on the
/// radius until its 8-bit stroke holds as much alpha as ours, to 0.2 %.
double Calibrate(const Brush& b, const std::vector<Sample>& path, const std::vector<Sample>& centres) {
  OurStroke ours(8, b, path, false);
  ours.Clear();
  ours.Run();
  const double target = ours.Measure().alpha;
  double lo = b.diameter / 8, hi = b.diameter * 2;
  for (int k = 0; k < 24; ++k) {
    const double r = 0.5 * (lo + hi);
    PeerStroke theirs(b, r, path, centres, false);
    theirs.Clear();
    theirs.Run();
    const double alpha = theirs.Measure().alpha;
    if (std::fabs(alpha - target) < 0.002 * target) return r;
    (alpha < target ? lo : hi) = r;
  }
  return 0.5 * (lo + hi);
}

/// Whether two layers hold the same stroke: alpha sums within 5 % and painted boxes
/// within a quarter of the brush diameter (at least 3 pixels) on every side. The
/// engines' soft edges and dab placement differ in detail, not by that much.
bool SameWork(const Coverage& a, const Coverage& b, double diameter, std::string* why) {
  char text[256];
  const double tolerance = std::max(3.0, diameter / 4);
  std::snprintf(text, sizeof text, "alpha %.0f vs %.0f, box (%d,%d)-(%d,%d) vs (%d,%d)-(%d,%d)", a.alpha, b.alpha,
                a.left, a.top, a.right, a.bottom, b.left, b.top, b.right, b.bottom);
  *why = text;
  if (a.alpha <= 0 || b.alpha <= 0) return false;
  if (std::fabs(a.alpha - b.alpha) > 0.05 * std::max(a.alpha, b.alpha)) return false;
  return std::abs(a.left - b.left) <= tolerance && std::abs(a.right - b.right) <= tolerance &&
         std::abs(a.top - b.top) <= tolerance && std::abs(a.bottom - b.bottom) <= tolerance;
}

struct Table {
  int failures = 0;

  static void Header() {
    std::printf("%-40s %5s %11s %11s %8s %7s  %s\n", "case", "depth", "kstroke ms", "mypaint ms", "ratio", "target",
                "coverage (kstroke / libmypaint alpha)");
  }
  /// One row against libmypaint; `target` 0: none.
  void Row(const std::string& name, int depth, const Result& r, double target, const Coverage* ours,
           const Coverage* theirs, double diameter) {
    const double ratio = r.theirs / r.ours;  // > 1: kstroke is that many times faster
    std::string check = "-";
    if (ours && theirs) {
      std::string why;
      const bool same = SameWork(*ours, *theirs, diameter, &why);
      char text[96];
      std::snprintf(text, sizeof text, "%s %.0f / %.0f", same ? "same" : "DIFFERENT:", ours->alpha, theirs->alpha);
      check = same ? text : "DIFFERENT: " + why;
      failures += !same;
    }
    std::printf("%-40s %5d %11.3f %11.3f %7.2fx %6.1fx%s  %s\n", name.c_str(), depth, r.ours, r.theirs, ratio, target,
                target > 0 && ratio < target ? "!" : " ", check.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  // A second argument keeps only the rows whose name starts with it, or, when it ends
  // in '$', the row of exactly that name (for profiling one).
  std::string only = argc > 2 ? argv[2] : "";
  const bool exact = !only.empty() && only.back() == '$';
  if (exact) only.pop_back();
  // A third keeps one layer depth (8 or 16) of the 8- and 16-bit rows.
  const int onlyDepth = argc > 3 ? std::atoi(argv[3]) : 0;
  const auto wanted = [&](const std::string& name) {
    return exact ? name == only : name.compare(0, only.size(), only) == 0;
  };
  const auto anyRow = [&](const std::string& brush) {
    return wanted(brush) || wanted(brush + ", every 4") || wanted(brush + ", float");
  };
  tbb::global_control oneThread(tbb::global_control::max_allowed_parallelism, 1);
  omp_set_num_threads(1);

  std::printf("kstroke vs libmypaint, %d×%d RGBA layer, single thread, median of %d\n", kLayerSize, kLayerSize, reps);
  std::printf("ratio: libmypaint's time over kstroke's; '!' marks a ratio below its target\n");
  Table table;

  std::vector<Brush> brushes = {
      {"reference d=40", 40, 0.8, 1.0, 0, false, false},
      {"pressure d=40", 40, 0.8, 1.0, 0, true, false},
      {"pressure d=120", 120, 0.8, 1.0, 0, true, false},
      {"elliptical d=40", 40, 0.8, 0.5, 35, false, false},
      {"elliptical d=120", 120, 0.8, 0.5, 35, false, false},
      {"soft d=40", 40, 0.2, 1.0, 0, false, false},
      {"soft d=120", 120, 0.2, 1.0, 0, false, false},
      {"round d=200", 200, 0.8, 1.0, 0, false, false},
      {"direction d=40", 40, 0.8, 0.5, 0, false, true},
      {"small d=8", 8, 0.8, 1.0, 0, false, false},
  };
  const size_t heldOutFrom = brushes.size();
  const std::vector<Brush> heldOut = {
      {"held out: round d=12", 12, 0.8, 1.0, 0, false, false},
      {"held out: round d=24", 24, 0.7, 1.0, 0, false, false},
      {"held out: pressure d=16", 16, 0.6, 1.0, 0, true, false},
      {"held out: ellipse d=64", 64, 0.5, 0.3, 70, false, false},
      {"held out: pressure ellipse d=90", 90, 0.9, 0.7, -20, true, false},
      {"held out: soft d=300", 300, 0.15, 1.0, 0, false, false},
      {"held out: direction d=90", 90, 0.7, 0.25, 0, false, true},
  };
  brushes.insert(brushes.end(), heldOut.begin(), heldOut.end());
  std::vector<double> peerRadius;
  std::printf("libmypaint radius, calibrated:");
  for (const Brush& b : brushes) {
    peerRadius.push_back(anyRow(b.name) ? Calibrate(b, SinePath(), {}) : 0.0);
    if (!anyRow(b.name)) continue;
    std::printf(" %s %.1f;", b.name.c_str(), peerRadius.back());
  }
  std::printf("\n");
  Table::Header();
  std::vector<std::vector<double>> oneCall(2, std::vector<double>(brushes.size()));  // kstroke ms
  for (int depth : {8, 16}) {
    if (onlyDepth != 0 && depth != onlyDepth) continue;
    bool heldOutShown = false;
    for (size_t k = 0; k < brushes.size(); ++k) {
      const Brush& b = brushes[k];
      const bool reference = k == 0;
      if (k >= heldOutFrom && !heldOutShown && anyRow(b.name)) {
        std::printf("-- strokes no speed-up was tuned on, same targets:\n");
        heldOutShown = true;
      }
      for (bool inc : {false, true}) {
        if (!wanted(b.name + (inc ? ", every 4" : ""))) continue;
        OurStroke ours(depth, b, SinePath(), inc);
        PeerStroke theirs(b, peerRadius[k], SinePath(), {}, inc);
        const Result r = Alternate(ours, theirs, reps);
        const Coverage a = ours.Measure(), c = theirs.Measure();
        const double target = depth == 8 ? (reference ? 3.0 : 2.0) : (reference ? 2.0 : 1.5);
        table.Row(b.name + (inc ? ", every 4" : ""), depth, r, target, &a, &c, b.diameter);
        if (!inc) oneCall[depth == 8 ? 0 : 1][k] = r.ours;
        if (inc && oneCall[depth == 8 ? 0 : 1][k] > 0) {
          const double cost = r.ours / oneCall[depth == 8 ? 0 : 1][k];
          std::printf("%-40s %5s incremental / one call: %.2f (target at most 1.3)%s\n", "", "", cost,
                      cost > 1.3 ? " !" : "");
        }
      }
    }
  }

  // Float layers against our own 16-bit time (libmypaint has no float surface).
  for (size_t k : {size_t(0), size_t(1)}) {
    if (!wanted(brushes[k].name + ", float")) continue;
    OurStroke deep(16, brushes[k], SinePath(), false), flt(32, brushes[k], SinePath(), false);
    const Result r = Alternate(flt, deep, reps);
    std::printf("%-40s %5s %11.3f %11.3f  float / 16-bit: %.2f (target at most 1.5)%s\n",
                (brushes[k].name + ", float").c_str(), "32", r.ours, r.theirs, r.ours / r.theirs,
                r.ours / r.theirs > 1.5 ? " !" : "");
  }

  for (int depth : {8, 16}) {
    if (onlyDepth != 0 && depth != onlyDepth) continue;
    for (double d : {4.0, 16.0, 64.0, 256.0}) {
      if (!wanted("dab series d=" + std::to_string(int(d)))) continue;
      const std::vector<Sample> line = LinePath(d);
      Brush b;
      b.diameter = d;
      OurStroke ours(depth, b, line, false);
      PeerStroke theirs(b, Calibrate(b, line, DabCentres(line, d)), line, DabCentres(line, d), false);
      const Result r = Alternate(ours, theirs, reps);
      const Coverage a = ours.Measure(), c = theirs.Measure();
      table.Row("dab series d=" + std::to_string(int(d)), depth, r, 0, &a, &c, d);
    }
  }
  if (table.failures > 0) {
    std::fprintf(stderr, "peer_compare: %d rows where the engines painted different strokes\n", table.failures);
    return 1;
  }
  return 0;
}
