// SPDX-License-Identifier: MIT
// Pointer events to recorded vertices; the steps are at the top of app/stroke_input.h.
#include "app/stroke_input.h"

#include <cmath>

#include "app/dynamics.h"
#include "app/recorded_shape.h"
#include "app/render_job.h"
#include "app/symmetry.h"
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
    : events(stroke.events.size()),
      curve(stroke.brush.smoothing == "curve"),
      width(canvasWidth),
      height(canvasHeight),
      where(std::move(where_)) {
  const double follow = 1.0 - stroke.brush.stabiliser;
  // Samples: the stabilised events, then the catch-up.
  struct Sample {
    size_t event;
    double time;
    Point pixel;
    bool catchUp;
  };
  std::vector<Sample> samples;
  Point brush{};
  for (size_t k = 0; k < events; ++k) {
    const DocEvent& e = stroke.events[k];
    const Point pointer{e.x * width, e.y * height};
    brush = k == 0 ? pointer
                   : Point{brush[0] + follow * (pointer[0] - brush[0]),
                           brush[1] + follow * (pointer[1] - brush[1])};
    samples.push_back({k, e.time, brush, false});
  }
  if (stroke.brush.stabiliser > 0 && events > 0) {
    const DocEvent& last = stroke.events.back();
    const Point pointer{last.x * width, last.y * height};
    const double interval =
        events > 1 ? (last.time - stroke.events.front().time) / double(events - 1) : 1.0 / 120;
    double t = last.time;
    for (int i = 0; i < kMaxCatchUp && Distance(brush, pointer) > kCatchUpPixels; ++i) {
      brush = {brush[0] + follow * (pointer[0] - brush[0]),
               brush[1] + follow * (pointer[1] - brush[1])};
      samples.push_back({events - 1, t += interval, brush, true});
    }
    if (Distance(samples.back().pixel, pointer) > 0)
      samples.push_back({events - 1, t + interval, pointer, true});
  }

  // A symmetry copy is placed where its move puts each sample.
  std::vector<Point> placed;
  for (const Sample& s : samples)
    placed.push_back(stroke.copy ? MoveCopy(*stroke.copy, s.pixel) : s.pixel);

  // Samples on the vertex before add nothing, as the engine would ignore them.
  std::vector<Sample> kept;
  std::vector<Point> keptPlaced;
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const bool keep = !s.catchUp && stroke.events[s.event].addIfUnmoved;
    if (!kept.empty() && !keep &&
        float(placed[i][0] / width) == float(keptPlaced.back()[0] / width) &&
        float(placed[i][1] / height) == float(keptPlaced.back()[1] / height))
      continue;
    kept.push_back(s);
    keptPlaced.push_back(placed[i]);
  }

  std::vector<Point> pixels;
  std::vector<double> times;
  std::vector<DynamicsInputs> inputs;
  for (size_t v = 0; v < kept.size(); ++v) {
    pixels.push_back(kept[v].pixel);
    times.push_back(kept[v].time);
    inputs.push_back(InputsOf(stroke.events[kept[v].event], stroke.seed, v));
  }
  DeriveMotion(pixels, times, &inputs);

  knownAfter.assign(events, 0);
  // A mirrored copy turns its tips the other way (app/symmetry.h).
  const bool flips = stroke.copy && stroke.copy->mirrorX * stroke.copy->mirrorY < 0;
  for (size_t v = 0; v < kept.size(); ++v) {
    const DocEvent& e = stroke.events[kept[v].event];
    Vertex out;
    out.pixel = keptPlaced[v];
    out.source = kept[v].event;
    out.event.time = kept[v].time;
    out.event.x = out.pixel[0] / width;
    out.event.y = out.pixel[1] / height;
    std::array<float, 5> factors =
        e.params ? *e.params : ApplyDynamics(stroke.brush.dynamics, inputs[v]);
    if (flips) factors[3] = -factors[3];
    for (size_t i = 0; i < 5; ++i) out.event.params[i] = factors[i];
    out.event.useSpacing = v > 0 && e.spacing;
    out.event.addIfUnmoved = e.addIfUnmoved;
    vertices.push_back(out);
    // Catch-up samples are known only once the stroke is finished.
    if (!kept[v].catchUp) knownAfter[kept[v].event] = v + 1;
  }
  for (size_t k = 1; k < events; ++k) knownAfter[k] = std::max(knownAfter[k], knownAfter[k - 1]);
}

size_t StrokeRecorder::Feed(size_t k, K_Shape* shape) {
  const size_t known = knownAfter.at(k);
  // A curve's last vertex waits for the sample after it.
  return AppendUpTo(curve ? (known > 0 ? known - 1 : 0) : known, shape);
}

size_t StrokeRecorder::Finish(K_Shape* shape) { return AppendUpTo(vertices.size(), shape); }

size_t StrokeRecorder::AppendUpTo(size_t end, K_Shape* shape) {
  const size_t before = appended;
  for (; appended < end; ++appended) {
    const Vertex& v = vertices[appended];
    if (const int32_t rc = shape->AppendVertex(&v.event))
      throw RecordError(where + ".events[" + std::to_string(v.source) + "]: " + EngineMessage(rc));
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
  const Point& p1 = vertices[v - 1].pixel;
  const Point& p2 = vertices[v].pixel;
  const Point p0 = v >= 2 ? vertices[v - 2].pixel : Point{2 * p1[0] - p2[0], 2 * p1[1] - p2[1]};
  const Point p3 = v + 1 < vertices.size() ? vertices[v + 1].pixel
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
  for (size_t k = 0; k < recorder.Events(); ++k) recorder.Feed(k, shape.get());
  recorder.Finish(shape.get());
  return shape;
}
