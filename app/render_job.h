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

#include "app/stroke_doc.h"
#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

class ConsoleProgress;
class GX_LinearBlendingTables;
class K_Shape;
struct K_StrokeGlobalProperties;

/// A rendering failure: the message is one line, naming the file and the stroke.
struct RenderError : std::runtime_error {
  using std::runtime_error::runtime_error;
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

/// Renders stroke `index` of `doc` into `canvas`. When `shape` is given, or the stroke
/// is a recorded or trimmed one, the whole shape is rendered in one call; otherwise
/// the stroke's events are recorded and rendered in batches of `doc.batch`, as a host
/// paints while the pen moves. `progress` and `images` may be null (a clone image is
/// then read for this stroke alone). Throws RenderError, or long GX_Err_Cancelled when
/// the user cancelled.
void RenderStroke(const StrokeDoc& doc, size_t index, GX_World* canvas,
                  ConsoleProgress* progress, const K_Shape* shape = nullptr,
                  CloneImages* images = nullptr);

/// Renders every stroke of the document onto a new canvas.
std::unique_ptr<GX_World> RenderDocument(const StrokeDoc& doc, ConsoleProgress* progress);

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
/// (app/output_file.h), or standard output. `cancel` (may be null) is asked once per
/// row. Throws RenderError, or long GX_Err_Cancelled, and then leaves no file behind.
void WriteCanvas(const GX_World& canvas, GX_ColourEncoding colour, const ImageOutput& out,
                 GX_ProgressInfo* cancel = nullptr);
