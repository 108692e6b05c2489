// SPDX-License-Identifier: MIT
// Stroke descriptions: the JSON files `kstroke render` reads.
//
// A document holds the canvas, default brush settings, the paint source, the layer
// transform and one or more strokes of pointer events. Each stroke may override any
// brush field and the paint colour. Loading validates everything before the engine
// sees it: unknown fields, wrong types, values out of range or not finite end with a
// StrokeDocError whose message names the file and the field ("a.json: strokes[0].
// events[3].x: expected a number from 0 to 1, got 1.5"). The schema is in README.md.
//
// A stroke is described either by its pointer `events` or as `recorded`: the path and
// time tables a recorded K_Shape holds, which is what a stroke file stores (see
// document/stroke_file.h). Numbers round-trip exactly: doubles are printed with enough
// digits to read back the same value, and float values (path points, factors) are
// printed as the shortest decimal that reads back as the same float.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "document/dynamics.h"

/// Largest canvas side: the engine keeps rectangles in 16-bit fields.
constexpr int kMaxCanvasSide = 30000;

/// Most vertices one stroke of events can record: the engine appends each at a fixed
/// path position, which a longer stroke would pass (kK_MaxRecordedVertices).
constexpr int kMaxStrokeVertices = 10924;

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
  Dynamics dynamics = DefaultDynamics();  ///< document/dynamics.h
  /// "none": samples joined by straight segments; "curve": a centripetal Catmull-Rom
  /// curve through every sample (document/stroke_input.h).
  std::string smoothing = "none";
  /// 0..0.99: how far the brush lags behind the pointer; 0 follows it exactly.
  double stabiliser = 0;
};

/// The values a number field takes, shared by the description reader and the facade so
/// that both refuse the same values.
struct FieldRange {
  double low, high;
  bool openLow = false;  ///< `low` itself is refused
};

/// The ranges of DocBrush's number fields.
namespace brush_range {
constexpr FieldRange kDiameter{0, 10000, true};
constexpr FieldRange kHardness{0, 1};
constexpr FieldRange kRoundness{0, 1};
constexpr FieldRange kAngle{-3600, 3600};
constexpr FieldRange kSpacing{0, 100, true};
constexpr FieldRange kOpacity{0, 1};
constexpr FieldRange kFlow{0, 1};
constexpr FieldRange kStabiliser{0, 0.99};
}  // namespace brush_range

struct DocEvent {
  double time = 0;
  double x = 0, y = 0;  ///< fractions of the canvas
  /// The pointer's inputs (units in document/dynamics.h); pressure absent reads as 1.
  std::optional<double> pressure;
  double tiltX = 0, tiltY = 0, twist = 0;
  /// Diameter, opacity, flow and roundness factors (1 = the brush's own value) and the
  /// angle in degrees, given directly: the brush's dynamics are not applied.
  std::optional<std::array<float, 5>> params;
  bool spacing = true;
  bool addIfUnmoved = false;
};

/// One entry of a recorded time table (the engine's K_TimeTableEntry, kept engine-free).
template <class T>
struct DocEntry {
  double time;
  T value;
  bool operator==(const DocEntry& o) const { return time == o.time && value == o.value; }
};

/// Names of the five parameter tables in K_StrokeParam order (diameter, opacity, flow,
/// angle, roundness): the keys of `recorded.params`.
extern const char* const kDocParamNames[5];

/// A recorded stroke: the host path (relative to the canvas, open unless `closed`) and
/// the stroke's time tables, stored in the engine's own precision.
struct DocRecorded {
  using Point = std::array<float, 2>;
  /// Per vertex: the vertex, its outgoing tangent point, and the next vertex's
  /// incoming tangent point (the host shape's three list items per vertex).
  std::vector<std::array<Point, 3>> vertices;
  bool closed = false;
  std::vector<DocEntry<double>> timeDistance;  ///< (time, path position)
  std::vector<DocEntry<bool>> spacing;         ///< (time, spacing on)
  std::array<std::vector<DocEntry<float>>, 5> params;  ///< (time, factor) per parameter

  bool operator==(const DocRecorded& o) const {
    return vertices == o.vertices && closed == o.closed && timeDistance == o.timeDistance &&
           spacing == o.spacing && params == o.params;
  }
};

/// What is wrong with a recorded stroke, located so each reader can name it in its own
/// terms (a JSON field or a file chunk).
struct RecordedProblem {
  enum Part { kVertices, kTimeDistance, kSpacing, kParam };
  Part part = kVertices;
  int param = 0;      ///< K_StrokeParam index when part is kParam
  bool whole = true;  ///< the list itself (e.g. empty) rather than one entry
  size_t entry = 0;   ///< vertex or table entry
  /// Within the entry: a table's time (0) or value (1); a vertex's coordinate
  /// 2 × point + (0 for x, 1 for y).
  int field = 0;
  std::string what;   ///< "expected ..., got ..."
};

/// The rules every recorded stroke must satisfy before the engine sees it: at least one
/// vertex, coordinates from -100 to 100; every table non-empty with finite times from
/// -1e9 to 1e9 that strictly increase; path positions from 0 to the path's segment
/// count and never decreasing; factors from -3600 to 3600; each parameter table's last
/// entry no earlier than the time-distance table's last (every table reaches the end
/// of the stroke, as recording makes it and as the engine's file reader assumes).
/// Answers the first problem.
std::optional<RecordedProblem> CheckRecorded(const DocRecorded& recorded);

/// Copies of every stroke, as painting programs' symmetry draws them: each a full
/// stroke of its own, mirrored and turned about `centre` on the canvas.
struct DocSymmetry {
  std::string mirror = "none";  ///< "none", "vertical" (left-right), "horizontal", "both"
  int rotate = 1;               ///< copies turned by 360° / rotate, 1..64
  std::array<double, 2> centre{{0.5, 0.5}};  ///< fractions of the canvas

  bool operator==(const DocSymmetry& o) const {
    return mirror == o.mirror && rotate == o.rotate && centre == o.centre;
  }
};

/// A symmetry copy's move (document/symmetry.h): set by ExpandSymmetry for strokes of events,
/// never read from or written to a file.
struct DocCopy {
  double mirrorX = 1, mirrorY = 1;  ///< −1 mirrors that coordinate about the centre
  double turnDeg = 0;               ///< then turned counter-clockwise on the screen
  std::array<double, 2> centre{{0, 0}};  ///< canvas pixels
};

struct DocSource {
  std::string type = "fill";                   ///< "fill" or "clone"
  std::array<double, 4> colour{{0, 0, 0, 1}};  ///< red, green, blue, alpha (fill)
  std::string image;                           ///< clone: PNG path, relative to the file
  std::array<double, 2> sourcePoint{{0, 0}};   ///< clone: fractions of the image, lands on the canvas origin
  double sourcePixelAspect = 1;                ///< clone
};

struct DocStroke {
  DocBrush brush;
  DocSource source;
  std::string transfer = "normal";
  std::string channels = "all";
  /// Trim of the stroke, fractions of its end time (K_StrokeGlobalProperties::start and
  /// end), 0 ≤ start ≤ end ≤ 1.
  std::array<double, 2> trim{{0, 1}};
  /// The stroke itself: pointer events, or (when `recorded` is set) a recorded shape.
  /// Exactly one of the two is given in a file.
  std::vector<DocEvent> events;
  std::optional<DocRecorded> recorded;
  int seed = 1;
  DocSymmetry symmetry;
  std::optional<DocCopy> copy;  ///< a symmetry copy's move (document/symmetry.h)
  /// Set by ExpandSymmetry, never read from or written to a file: the index in the
  /// description of the stroke this one was made from, which messages name (a file
  /// of 3 strokes has no strokes[16]), and its place among that stroke's copies.
  std::optional<size_t> origin;
  size_t copyNumber = 0, copyCount = 1;
};

struct StrokeDoc {
  std::string path;  ///< file the document came from ("" for built-in)
  int width = 512;
  int height = 512;
  int depth = 8;     ///< 8, 16 or 32
  std::array<double, 4> background{{1, 1, 1, 1}};  ///< red, green, blue, alpha, 0..1
  /// What the canvas's values mean: "srgb" or "linear"; "" for the depth's own
  /// (CanvasColour). Colours in the document are values of the canvas as it is.
  std::string colour;
  /// "encoded": strokes blend the stored values; "linear": in linear light (the
  /// blending tables decode an sRGB canvas; a linear one holds linear light already).
  std::string blending = "encoded";
  double pixelAspect = 1;
  std::array<double, 2> anchor{{0, 0}};
  std::array<double, 2> position{{0, 0}};
  std::array<double, 2> scale{{1, 1}};
  double rotation = 0;
  int batch = 4;  ///< pointer events per render call while "painting"
  std::vector<DocStroke> strokes;
};

/// The canvas's colour: doc.colour, or "linear" for a float canvas and "srgb" for an
/// 8- or 16-bit one when the document does not say.
std::string CanvasColour(const StrokeDoc& doc);

/// How many vertices recording `events` adds: as the engine records them, an event
/// whose time is not after the last recorded one, or that lies on the last vertex (in
/// float) without `addIfUnmoved`, adds none.
size_t RecordedVertexCount(const std::vector<DocEvent>& events);

/// A brush as a preset or `--brush` file gives it: the brush and, for brushes such as
/// an eraser, the transfer mode it paints with.
struct DocBrushPreset {
  DocBrush brush;
  std::optional<std::string> transfer;
};

/// Reads a brush file: {"name": …, "description": …, "brush": {…}, "transfer": …}, the
/// format of the presets in brushes/. Throws StrokeDocError headed by `file`.
DocBrushPreset ParseBrushPreset(const std::string& text, const std::string& file);
/// A preset by name (brushes/NAME.json, built into the program), or a brush file by
/// path. Throws StrokeDocError.
DocBrushPreset LoadBrush(const std::string& nameOrPath);
/// Gives every stroke of `doc` the preset's brush (and transfer, when it has one).
void ApplyBrush(const DocBrushPreset& preset, StrokeDoc* doc);

/// Whether strokes carry `events` or `recorded` (kGeometry), or neither (kSettings: the
/// document's settings alone, as a stroke file keeps them beside the recorded shapes).
enum class DocPart { kGeometry, kSettings };

/// Parses and validates a document. Throws StrokeDocError. `path` heads every message.
StrokeDoc LoadStrokeDoc(const std::string& path);
StrokeDoc ParseStrokeDoc(const std::string& text, const std::string& path,
                         DocPart part = DocPart::kGeometry);
/// The built-in stroke: one fill stroke along a gentle curve on a 512 × 512 canvas.
StrokeDoc DefaultStrokeDoc();
/// The document as JSON (the inverse of ParseStrokeDoc, with every field written;
/// with kSettings, strokes are written without events or recorded shape).
std::string StrokeDocToJson(const StrokeDoc& doc, DocPart part = DocPart::kGeometry);

/// The double nearest to the shortest decimal that reads back as `f`, so JSON shows
/// 0.6 rather than 0.60000002384185791 and still returns exactly `f`.
double FloatForJson(float f);
