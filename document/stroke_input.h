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
//      (document/dynamics.h), speed and direction taken from the stabilised positions.
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
// all at once give the same shape. The first vertex waits for the second sample too,
// whose motion it takes (app/dynamics.h), so a stroke records nothing until its second
// sample or its end.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "document/stroke_doc.h"
#include "kstroke/shape.h"

class StrokeRecorder {
public:
  /// Records a stroke with `stroke`'s brush, seed and symmetry move (its events are not
  /// read). `where` names the stroke in messages ("a.json: strokes[0]").
  StrokeRecorder(const DocStroke& stroke, int canvasWidth, int canvasHeight, std::string where);

  /// Records what event `e` makes final; events come in order, each once, and `index`
  /// names `e` in messages. Answers the number of vertices appended. Throws RecordError
  /// naming the event when its time is not after the one before or the engine refuses
  /// a vertex.
  size_t Add(const DocEvent& e, size_t index, K_Shape* shape);
  /// Records the rest: the vertices held back for their curve or their motion, and the
  /// stabiliser's catch-up. Answers the number of vertices appended.
  size_t Finish(K_Shape* shape);

  /// The events added so far.
  size_t Events() const { return events; }

private:
  struct Sample {
    std::array<double, 2> pixel;   ///< the stabilised brush, canvas pixels
    std::array<double, 2> placed;  ///< where a symmetry copy puts it
    double time;
    DocEvent event;                ///< the inputs, factors and flags it came with
    size_t source;                 ///< the event's index
    bool catchUp;
  };
  void Keep(const Sample& s);
  void Build(bool final);
  size_t AppendReady(bool final, K_Shape* shape);
  void SetCurve(size_t v, K_Shape* shape) const;

  DocStroke settings;  ///< brush, seed and move; no events
  bool curve;
  double follow;       ///< 1 − the stabiliser's strength
  double width, height;
  std::string where;
  size_t events = 0;
  double firstTime = 0, lastTime = 0;
  DocEvent lastEvent;    ///< where the catch-up goes
  size_t lastIndex = 0;
  std::array<double, 2> brush{{0, 0}};
  std::vector<Sample> kept;
  std::vector<PaintPointerEvent> built;  ///< the vertices of kept[0 … built)
  size_t appended = 0;
  bool finished = false;
};

/// The shape of a whole stroke: its events recorded (all fed, then Finish), or its
/// recorded description rebuilt as is. Throws RecordError.
std::unique_ptr<K_Shape> RecordStroke(const DocStroke& stroke, int canvasWidth, int canvasHeight,
                                      const std::string& where);
