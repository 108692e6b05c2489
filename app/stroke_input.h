// SPDX-License-Identifier: MIT
// From a stroke's pointer events to the vertices the engine records, as a painting
// program turns a pen's samples into a stroke.
//
// In order:
//   1. Positions become canvas pixels. The stabiliser (strength s, 0..0.99) moves the
//      brush the share 1 − s of the way from where it is to the pointer at each event,
//      so it lags behind and smooths out the hand's tremor; after the last event it
//      keeps going in further samples, one mean event interval apart, until it is
//      within a quarter pixel, and ends exactly where the pointer did.
//   2. Samples on the position of the one before (in the engine's single precision)
//      add no vertex and are dropped, unless they ask to be kept (addIfUnmoved).
//   3. Each sample's factors: its own `params`, or the brush's dynamics over its inputs
//      (app/dynamics.h), speed and direction taken from the stabilised positions.
//   4. The first sample forces a tip (spacing off), so every stroke starts with a dab
//      where the pen lands, a tap included.
//   5. Vertices are appended with K_Shape::AppendVertex. With smoothing "curve" each
//      segment is a cubic whose tangent points come from the centripetal Catmull-Rom
//      curve through the samples (the neighbours of the first and last sample are
//      their mirror images), so the path passes through every sample without corners.
//      Its second tangent needs the sample after it, so a vertex goes in once that
//      sample is known: the stroke is one sample behind until it is finished.
//
// What a stroke records does not depend on how its events are fed: one at a time or
// all at once give the same shape.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/stroke_doc.h"
#include "kstroke/shape.h"

class StrokeRecorder {
public:
  /// `where` names the stroke in messages ("a.json: strokes[0]").
  StrokeRecorder(const DocStroke& stroke, int canvasWidth, int canvasHeight, std::string where);

  /// Records what event `k` makes final (events are fed in order, each once). Answers
  /// the number of vertices appended. Throws RecordError naming the event when the
  /// engine refuses one.
  size_t Feed(size_t k, K_Shape* shape);
  /// Records the rest: the vertex held back for its curve and the stabiliser's
  /// catch-up. Answers the number of vertices appended.
  size_t Finish(K_Shape* shape);

  /// The events the stroke has.
  size_t Events() const { return events; }

private:
  struct Vertex {
    PaintPointerEvent event;
    std::array<double, 2> pixel;  ///< position in canvas pixels
    size_t source;                ///< the event it came from (the last for catch-up)
  };
  size_t AppendUpTo(size_t end, K_Shape* shape);
  void SetCurve(size_t v, K_Shape* shape) const;

  std::vector<Vertex> vertices;
  std::vector<size_t> knownAfter;  ///< per event: vertices known once it has arrived
  size_t events = 0;
  size_t appended = 0;
  bool curve = false;
  double width, height;
  std::string where;
};

/// The shape of a whole stroke: its events recorded (all fed, then Finish), or its
/// recorded description rebuilt as is. Throws RecordError.
std::unique_ptr<K_Shape> RecordStroke(const DocStroke& stroke, int canvasWidth, int canvasHeight,
                                      const std::string& where);
