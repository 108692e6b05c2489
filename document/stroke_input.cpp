// SPDX-License-Identifier: MIT
// Pointer events to recorded vertices; the steps are at the top of document/stroke_input.h.
#include "document/stroke_input.h"

#include <cmath>

#include "document/dynamics.h"
#include "document/recorded_shape.h"
#include "document/render_document.h"
#include "document/symmetry.h"
#include "host/seq/seq.h"

namespace {

using Point = std::array<double, 2>;

// The catch-up stops this close to the pointer (pixels) or after this many samples.
constexpr double kCatchUpPixels = 0.25;
constexpr int kMaxCatchUp = 200;

double Distance(const Point& a, const Point& b) { return std::hypot(a[0] - b[0], a[1] - b[1]); }

DynamicsInputs InputsOf(const DocEvent& e, int32_t seed, size_t index) {
  DynamicsInputs in{};
  in[size_t(DynamicsInput::kPressure)] = float(e.pressure.value_or(1.0));
  in[size_t(DynamicsInput::kTiltX)] = float(e.tiltX);
  in[size_t(DynamicsInput::kTiltY)] = float(e.tiltY);
  in[size_t(DynamicsInput::kTwist)] = float(e.twist);
  in[size_t(DynamicsInput::kRandom)] = RandomInput(seed, index);
  return in;
}

}  // namespace

StrokeRecorder::StrokeRecorder(const DocStroke& stroke, int canvasWidth, int canvasHeight,
                               std::string where_)
    : curve(stroke.brush.smoothing == "curve"),
      follow(1.0 - stroke.brush.stabiliser),
      width(canvasWidth),
      height(canvasHeight),
      where(std::move(where_)) {
  settings = stroke;
  settings.events.clear();
  settings.recorded.reset();
}

size_t StrokeRecorder::Add(const DocEvent& e, size_t index, K_Shape* shape) {
  if (finished) throw RecordError(where + ".events[" + std::to_string(index) + "]: the stroke is finished");
  if (events > 0 && !(e.time > lastTime))
    throw RecordError(where + ".events[" + std::to_string(index) + "].t: expected a time after " +
                      std::to_string(lastTime) + " (the event before), got " + std::to_string(e.time));
  const Point pointer{e.x * width, e.y * height};
  brush = events == 0 ? pointer
                      : Point{brush[0] + follow * (pointer[0] - brush[0]),
                              brush[1] + follow * (pointer[1] - brush[1])};
  if (events == 0) firstTime = e.time;
  lastTime = e.time;
  lastEvent = e;
  lastIndex = index;
  ++events;
  Keep({brush, {}, e.time, e, index, false});
  Build(false);
  return AppendReady(false, shape);
}

size_t StrokeRecorder::Finish(K_Shape* shape) {
  if (finished) return 0;
  finished = true;
  if (events > 0 && settings.brush.stabiliser > 0) {
    // The brush goes on towards where the pen ended, one mean event interval at a time.
    const DocEvent& e = lastEvent;
    const Point pointer{e.x * width, e.y * height};
    const double interval = events > 1 ? (lastTime - firstTime) / double(events - 1) : 1.0 / 120;
    double t = lastTime;
    for (int i = 0; i < kMaxCatchUp && Distance(brush, pointer) > kCatchUpPixels; ++i) {
      brush = {brush[0] + follow * (pointer[0] - brush[0]),
               brush[1] + follow * (pointer[1] - brush[1])};
      Keep({brush, {}, t += interval, e, lastIndex, true});
    }
    if (Distance(brush, pointer) > 0) Keep({pointer, {}, t + interval, e, lastIndex, true});
  }
  Build(true);
  return AppendReady(true, shape);
}

// Samples on the vertex before add nothing, as the engine would ignore them; a symmetry
// copy compares where its move puts them.
void StrokeRecorder::Keep(const Sample& sample) {
  Sample s = sample;
  s.placed = settings.copy ? MoveCopy(*settings.copy, s.pixel) : s.pixel;
  const bool keep = !s.catchUp && s.event.addIfUnmoved;
  if (!kept.empty() && !keep && float(s.placed[0] / width) == float(kept.back().placed[0] / width) &&
      float(s.placed[1] / height) == float(kept.back().placed[1] / height))
    return;
  kept.push_back(s);
}

// Makes the engine's event of each kept sample whose motion is known: from the sample
// before, or for the first from the second (or none at the end of a one-sample stroke).
void StrokeRecorder::Build(bool final) {
  // A mirrored copy turns its tips the other way (document/symmetry.h).
  const bool flips = settings.copy && settings.copy->mirrorX * settings.copy->mirrorY < 0;
  while (built.size() < kept.size() && (built.size() > 0 || kept.size() > 1 || final)) {
    const size_t v = built.size();
    const Sample& s = kept[v];
    const size_t from = v > 0 ? v - 1 : 0, to = v > 0 ? v : std::min<size_t>(1, kept.size() - 1);
    std::vector<DynamicsInputs> inputs(2, InputsOf(s.event, settings.seed, v));
    DeriveMotion({kept[from].pixel, kept[to].pixel}, {kept[from].time, kept[to].time}, &inputs);
    std::array<float, 5> factors =
        s.event.params ? *s.event.params : ApplyDynamics(settings.brush.dynamics, inputs[1]);
    if (flips) factors[3] = -factors[3];
    // The engine interpolates the angle between vertices: a dynamics angle that wraps
    // (the direction passing ±180) takes the short way round, not a spin of the tip.
    // Whole turns change no dab.
    if (!s.event.params && !built.empty())
      factors[3] += 360.0f * std::round((built.back().params[3] - factors[3]) / 360.0f);
    PaintPointerEvent out;
    out.time = s.time;
    out.x = s.placed[0] / width;
    out.y = s.placed[1] / height;
    for (size_t i = 0; i < 5; ++i) out.params[i] = factors[i];
    out.useSpacing = v > 0 && (s.catchUp || s.event.spacing);
    out.addIfUnmoved = !s.catchUp && s.event.addIfUnmoved;
    built.push_back(out);
  }
}

// Appends the built vertices; a curve's vertex waits for the sample after it, which its
// second tangent needs.
size_t StrokeRecorder::AppendReady(bool final, K_Shape* shape) {
  const size_t before = appended;
  for (; appended < built.size(); ++appended) {
    if (curve && !final && appended + 1 >= kept.size()) break;
    if (const int32_t rc = shape->AppendVertex(&built[appended]))
      throw RecordError(where + ".events[" + std::to_string(kept[appended].source) +
                        "]: " + EngineMessage(rc));
    if (curve && appended > 0) SetCurve(appended, shape);
  }
  return appended - before;
}

// Tangent points of the segment that ends at vertex v, from the centripetal Catmull-Rom
// curve through vertices v − 2 … v + 1, as Hermite tangents m1, m2 over the segment:
//   m1 = (P2 − P1) + d12 · ((P1 − P0) / d01 − (P2 − P0) / (d01 + d12))
//   m2 = (P2 − P1) + d12 · ((P3 − P2) / d23 − (P3 − P1) / (d12 + d23))
// with dij = |Pj − Pi|^½, and the Bezier points P1 + m1 / 3, P2 − m2 / 3. A missing
// neighbour is the mirror image of the far end; a zero distance drops its term.
void StrokeRecorder::SetCurve(size_t v, K_Shape* shape) const {
  const Point& p1 = kept[v - 1].placed;
  const Point& p2 = kept[v].placed;
  const Point p0 = v >= 2 ? kept[v - 2].placed : Point{2 * p1[0] - p2[0], 2 * p1[1] - p2[1]};
  const Point p3 = v + 1 < kept.size() ? kept[v + 1].placed
                                       : Point{2 * p2[0] - p1[0], 2 * p2[1] - p1[1]};
  const double d01 = std::sqrt(Distance(p0, p1)), d12 = std::sqrt(Distance(p1, p2)),
               d23 = std::sqrt(Distance(p2, p3));
  Point c1 = p1, c2 = p2;
  if (d12 > 0) {
    for (size_t i = 0; i < 2; ++i) {
      double m1 = p2[i] - p1[i], m2 = p2[i] - p1[i];
      if (d01 > 0) m1 += d12 * ((p1[i] - p0[i]) / d01 - (p2[i] - p0[i]) / (d01 + d12));
      if (d23 > 0) m2 += d12 * ((p3[i] - p2[i]) / d23 - (p3[i] - p1[i]) / (d12 + d23));
      c1[i] = p1[i] + m1 / 3;
      c2[i] = p2[i] - m2 / 3;
    }
  }
  // Vertex v − 1's triple: the vertex, its outgoing tangent point, vertex v's incoming.
  const V_Vector2T<float> out(float(c1[0] / width), float(c1[1] / height));
  const V_Vector2T<float> in(float(c2[0] / width), float(c2[1] / height));
  const int32_t base = 3 * int32_t(v - 1);
  if (SEQ_SetItem(shape->Points(), base + 1, &out) != 0 ||
      SEQ_SetItem(shape->Points(), base + 2, &in) != 0)
    throw RecordError(where + ": cannot set the curve of vertex " + std::to_string(v));
}

std::unique_ptr<K_Shape> RecordStroke(const DocStroke& stroke, int canvasWidth, int canvasHeight,
                                      const std::string& where) {
  if (stroke.recorded) return ShapeFromRecorded(*stroke.recorded);
  std::unique_ptr<K_Shape> shape(new K_Shape());
  if (!shape) throw std::bad_alloc();
  StrokeRecorder recorder(stroke, canvasWidth, canvasHeight, where);
  for (size_t k = 0; k < stroke.events.size(); ++k) recorder.Add(stroke.events[k], k, shape.get());
  recorder.Finish(shape.get());
  return shape;
}
