// SPDX-License-Identifier: MIT
// Stroke descriptions: the JSON files `kstroke render` reads.
//
// A document holds the canvas, default brush settings, the paint source, the layer
// transform and one or more strokes of pointer events. Each stroke may override any
// brush field and the paint colour. Loading validates everything before the engine
// sees it: unknown fields, wrong types, values out of range or not finite end with a
// StrokeDocError whose message names the file and the field ("a.json: strokes[0].
// events[3].x: expected a number from 0 to 1, got 1.5"). The schema is in README.md.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

/// Largest canvas side: the engine keeps rectangles in 16-bit fields.
constexpr int kMaxCanvasSide = 30000;

struct StrokeDocError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DocBrush {
  double diameter = 30;    ///< pixels, > 0
  double hardness = 0.8;   ///< 0..1
  double roundness = 1;    ///< 0..1
  double angle = 0;        ///< degrees
  double spacing = 0.25;   ///< fraction of the diameter, > 0
  double opacity = 1;      ///< 0..1, caps the stroke
  double flow = 1;         ///< 0..1, share each dab adds
  bool dither = false;
  std::string accumulate = "build-up";  ///< "build-up" or "additive"
};

struct DocEvent {
  double time = 0;
  double x = 0, y = 0;  ///< fractions of the canvas
  /// Diameter, opacity, flow and roundness factors (1 = the brush's own value) and the
  /// angle in degrees added to the brush angle, after the pressure rule.
  std::array<float, 5> params{{1, 1, 1, 0, 1}};
  bool spacing = true;
  bool addIfUnmoved = false;
};

struct DocSource {
  std::string type = "fill";                   ///< "fill" or "clone"
  std::array<double, 3> colour{{0, 0, 0}};     ///< red, green, blue, 0..1 (fill)
  std::string image;                           ///< clone: PNG path, relative to the file
  std::array<double, 2> sourcePoint{{0, 0}};   ///< clone: fractions of the image, lands on the canvas origin
  double sourcePixelAspect = 1;                ///< clone
};

struct DocStroke {
  DocBrush brush;
  DocSource source;
  std::string transfer = "normal";
  std::string channels = "all";
  std::vector<DocEvent> events;
  int seed = 1;
};

struct StrokeDoc {
  std::string path;  ///< file the document came from ("" for built-in)
  int width = 512;
  int height = 512;
  int depth = 8;     ///< 8, 16 or 32
  std::array<double, 4> background{{1, 1, 1, 1}};  ///< alpha, red, green, blue, 0..1
  double pixelAspect = 1;
  std::array<double, 2> anchor{{0, 0}};
  std::array<double, 2> position{{0, 0}};
  std::array<double, 2> scale{{1, 1}};
  double rotation = 0;
  int batch = 4;  ///< pointer events per render call while "painting"
  std::vector<DocStroke> strokes;
};

/// Maps a pen pressure 0..1 onto the five factors: diameter 0.2 + 0.8·p (a light
/// touch still leaves a thin line), flow p, opacity and roundness 1, angle 0.
std::array<float, 5> PressureToParams(double pressure);

/// Parses and validates a document. Throws StrokeDocError.
StrokeDoc LoadStrokeDoc(const std::string& path);
StrokeDoc ParseStrokeDoc(const std::string& text, const std::string& path);
/// The built-in stroke: one fill stroke along a gentle curve on a 512 × 512 canvas.
StrokeDoc DefaultStrokeDoc();
/// The document as JSON (the inverse of ParseStrokeDoc, with every field written).
std::string StrokeDocToJson(const StrokeDoc& doc);
