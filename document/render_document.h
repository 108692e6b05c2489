// SPDX-License-Identifier: MIT
// Renders a stroke description the way a painting host does: each stroke is recorded
// event by event and rendered in batches while it "grows", with a pre-stroke copy of
// the canvas so every call repaints the stroke's whole mask over unpainted pixels.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "document/stroke_doc.h"
#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

#include <boost/shared_ptr.hpp>

#include "kstroke/interact_renderer.h"
#include "kstroke/kstroke.hpp"
#include "kstroke/stroke_props.h"

class GX_LazyTilesCondition;
class GX_LinearBlendingTables;
class K_PaintSource;
class K_Shape;
class ProgressRecords;
class StrokeRecorder;

/// A rendering failure: the message is one line, naming the file and the stroke; `code`
/// is the engine's or host's (0 when there is none, such as a bad value).
struct RenderError : std::runtime_error {
  explicit RenderError(const std::string& message, long code_ = 0)
      : std::runtime_error(message), code(code_) {}
  long code;
};

/// "engine error N", with the engine's last failed-check message for code 3.
std::string EngineMessage(long code);

/// Host number of a transfer-mode or channel name of the stroke description.
int32_t TransferModeByName(const std::string& name);
int32_t TargetChannelByName(const std::string& name);

/// The stroke-wide settings of one stroke of the document.
K_StrokeGlobalProperties PropertiesFor(const StrokeDoc& doc, const DocStroke& stroke);

/// Largest clone image: 268,435,456 pixels (16384 × 16384), and no side over
/// kMaxCanvasSide (the engine's 16-bit rectangles). Both are checked from the image's
/// header, before any pixel is decoded or memory is set aside for them.
constexpr int64_t kMaxImagePixels = int64_t(1) << 28;

/// What the canvas's values mean (CanvasColour).
GX_ColourEncoding CanvasEncoding(const StrokeDoc& doc);

/// The tables strokes blend through: the sRGB tables when an sRGB canvas blends in
/// linear light, else none (the stored values are blended as they are, which on a
/// linear canvas is linear light already).
const GX_LinearBlendingTables* BlendingTablesFor(const StrokeDoc& doc);

/// "W × H pixels at D bits (N MB)": what a world of that size takes.
std::string WorldSize(int64_t width, int64_t height, int32_t depth);

/// A canvas of the document's size and depth filled with its background. Throws
/// RenderError naming the file, the size and the bytes when memory runs out.
std::unique_ptr<GX_World> NewCanvas(const StrokeDoc& doc);

/// Clone images, read once per path, depth and colour however many strokes clone from
/// them. Any format GX_ReadImage knows (PNG, JPEG, TIFF, OpenEXR, told by content),
/// converted from the colour the file is tagged with into the canvas's.
class CloneImages {
public:
  /// The image stroke `index` of `doc` clones from, read when first asked for.
  /// `cancel` (may be null) is asked once per row while reading. Throws RenderError
  /// naming the stroke's source.image field and the file (for an image over the size
  /// limits, its size), or long GX_Err_Cancelled.
  GX_World* Get(const StrokeDoc& doc, size_t index, GX_ProgressInfo* cancel);

private:
  std::map<std::tuple<std::string, int32_t, GX_ColourEncoding>, std::unique_ptr<GX_World>> images;
};

/// The paint source of stroke `index`: its fill colour, or its clone image from
/// `images` (read through `cancel`, which may be null). Throws RenderError.
boost::shared_ptr<K_PaintSource> MakeSource(const StrokeDoc& doc, size_t index,
                                            CloneImages* images, GX_ProgressInfo* cancel);
/// A fill source of `colour` (red, green, blue, alpha), blending as `doc` says.
boost::shared_ptr<K_PaintSource> MakeFillSource(const StrokeDoc& doc,
                                                const std::array<double, 4>& colour);
/// A clone source of `image` (the document's depth), placed as `source` says.
boost::shared_ptr<K_PaintSource> MakeCloneSource(const StrokeDoc& doc, GX_World* image,
                                                 const DocSource& source);

/// One stroke being painted into a canvas, as a painting host paints it: the events it
/// is given are recorded (document/stroke_input.h) and each Render draws what they
/// added, over a pre-stroke copy of the canvas made tile by tile as the stroke first
/// reaches it, so every call repaints the stroke's whole mask over unpainted pixels.
/// The facade's Stroke and RenderStroke both paint through it.
class StrokeSession {
public:
  /// Stroke `stroke` with `doc`'s canvas settings on `canvas` (of the document's size
  /// and depth), painting with `source`; `where` names it in messages.
  StrokeSession(const StrokeDoc& doc, const DocStroke& stroke, std::string where,
                GX_World* canvas, boost::shared_ptr<K_PaintSource> source);
  ~StrokeSession();
  StrokeSession(const StrokeSession&) = delete;
  StrokeSession& operator=(const StrokeSession&) = delete;

  /// Records event `e` (`index` names it). Throws RenderError.
  void Add(const DocEvent& e, size_t index);
  /// Records what was held back; nothing may be added after. Throws RenderError.
  void Finish();
  /// Paints the whole of `shape` instead (a recorded or trimmed stroke, in one call).
  void UseShape(const K_Shape& shape);
  /// Draws what was recorded since the last call; nothing while nothing is recorded.
  /// Answers the changed rectangle of the canvas. Throws RenderError, or long
  /// GX_Err_Cancelled when `progress` stopped it.
  V_Rect Render(GX_ProgressInfo* progress);

  const K_Shape& Shape() const { return *shape; }
  size_t Events() const;
  /// Render calls that drew something, and the time they took.
  size_t Calls() const { return calls; }
  double RenderMilliseconds() const { return rendering; }

private:
  const StrokeDoc& doc;
  std::string where;
  GX_World* canvas;
  K_StrokeGlobalProperties props;
  int32_t seed;
  boost::shared_ptr<GX_World> preStroke;
  boost::shared_ptr<GX_LazyTilesCondition> lazyCopy;
  std::unique_ptr<K_InteractRenderer> renderer;
  std::unique_ptr<StrokeRecorder> recorder;
  std::unique_ptr<K_Shape> shape;
  size_t calls = 0;
  double rendering = 0;
  int32_t renderedVertices = -1;  ///< the shape's vertices at the last render call
};

/// Render calls stroke `index` of `doc` takes in RenderStroke.
size_t RenderCalls(const StrokeDoc& doc, size_t index);

/// Renders stroke `index` of `doc` into `canvas`. When `shape` is given, or the stroke
/// is a recorded or trimmed one, the whole shape is rendered in one call; otherwise
/// the stroke's events are recorded and rendered in batches of `doc.batch`, as a host
/// paints while the pen moves. Each call is a unit of `progress`. `progress` and
/// `images` may be null (a clone image is then read for this stroke alone). Throws
/// RenderError, or long GX_Err_Cancelled when the progress stopped it.
void RenderStroke(const StrokeDoc& doc, size_t index, GX_World* canvas,
                  ProgressRecords* progress, const K_Shape* shape = nullptr,
                  CloneImages* images = nullptr);

/// Renders every stroke of the document (symmetry copies included) onto a new canvas;
/// `progress` (may be null) hears of every render call.
std::unique_ptr<GX_World> RenderDocument(const StrokeDoc& doc, kstroke::Progress* progress);

/// Where a picture goes and how: the format comes from the file name's extension;
/// "-" is PNG on standard output.
struct ImageOutput {
  std::string path;
  GX_ImageFormat format = GX_ImageFormat::kPng;
  GX_SampleType sample = GX_SampleType::kDefault;  ///< the format's choice for the canvas
};

/// An output the command line names wrongly; the message is one line that lists what
/// can be written.
struct OutputChoiceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The output for `path` and `sample` ("" for the format's default for the canvas, or
/// "8", "16", "half", "float"). Throws OutputChoiceError for a name whose extension is
/// no writable format and for a sample type the format cannot hold.
ImageOutput ChooseOutput(const std::string& path, const std::string& sample = "");

/// Writes the canvas, whose values are in `colour`, to `out` in the file's own colour
/// (host/gx/gx_image.h), row by row from the canvas itself: a file through a temporary
/// (document/output_file.h), or standard output. `cancel` (may be null) is asked once per
/// row. Throws RenderError, or long GX_Err_Cancelled, and then leaves no file behind.
void WriteCanvas(const GX_World& canvas, GX_ColourEncoding colour, const ImageOutput& out,
                 GX_ProgressInfo* cancel = nullptr);
