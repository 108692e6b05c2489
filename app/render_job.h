// SPDX-License-Identifier: MIT
// Renders a stroke description the way a painting host does: each stroke is recorded
// event by event and rendered in batches while it "grows", with a pre-stroke copy of
// the canvas so every call repaints the stroke's whole mask over unpainted pixels.
#pragma once

#include <memory>
#include <string>

#include "app/stroke_doc.h"
#include "host/gx/gx.h"

class ConsoleProgress;
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

/// A canvas of the document's size and depth filled with its background.
std::unique_ptr<GX_World> NewCanvas(const StrokeDoc& doc);

/// Renders stroke `index` of `doc` into `canvas`. When `shape` is given, or the stroke
/// is a recorded or trimmed one, the whole shape is rendered in one call; otherwise
/// the stroke's events are recorded and rendered in batches of `doc.batch`, as a host
/// paints while the pen moves. `progress` may be null. Throws RenderError, or long
/// GX_Err_Cancelled when the user cancelled.
void RenderStroke(const StrokeDoc& doc, size_t index, GX_World* canvas,
                  ConsoleProgress* progress, const K_Shape* shape = nullptr);

/// Renders every stroke of the document onto a new canvas.
std::unique_ptr<GX_World> RenderDocument(const StrokeDoc& doc, ConsoleProgress* progress);

/// Writes the canvas as PNG (8-bit, or 16-bit for deep and float canvases) through a
/// temporary file. Throws RenderError.
void WriteCanvasPng(const GX_World& canvas, const std::string& path);
