// SPDX-License-Identifier: MIT
// libFuzzer target: stroke descriptions the loader accepts, rendered. Whatever brush,
// dynamics, path, transform, source and canvas a description holds, rendering it must
// either paint the canvas or end in one RenderError; nothing else may escape.
//
// So that one input costs milliseconds, not minutes, what the loader accepts is cut
// down before rendering: canvases to 64 pixels a side, at most 3 strokes of 64 events,
// 3 symmetry copies, brushes to 40 pixels and diameter factors to 2; a description with
// a recorded stroke of more than 64 vertices is passed over. The engine's own behaviour
// at large sizes is the tests' and benchmarks' to check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "document/render_document.h"
#include "document/stroke_doc.h"
#include "kstroke/frame.h"

namespace {

constexpr int kMaxSide = 64;
constexpr size_t kMaxStrokes = 3;
constexpr size_t kMaxEvents = 64;
constexpr int kMaxCopies = 3;
constexpr double kMaxDiameter = 40;
constexpr float kMaxDiameterFactor = 2;

// False for a description too long to cut down without making it invalid (a recorded
// path's positions count its vertices).
bool CutDown(StrokeDoc* doc) {
  doc->width = std::min(doc->width, kMaxSide);
  doc->height = std::min(doc->height, kMaxSide);
  if (doc->strokes.size() > kMaxStrokes) doc->strokes.resize(kMaxStrokes);
  for (DocStroke& s : doc->strokes) {
    if (s.recorded && s.recorded->vertices.size() > kMaxEvents) return false;
    s.brush.diameter = std::min(s.brush.diameter, kMaxDiameter);
    for (DynamicsMapping& m : s.brush.dynamics.factors[0])
      for (auto& point : m.curve) point[1] = std::min(point[1], kMaxDiameterFactor);
    if (s.events.size() > kMaxEvents) s.events.resize(kMaxEvents);
    for (DocEvent& e : s.events)
      if (e.params) (*e.params)[0] = std::min((*e.params)[0], kMaxDiameterFactor);
    if (s.recorded)
      for (auto& entry : s.recorded->params[0]) entry.value = std::min(entry.value, kMaxDiameterFactor);
    s.symmetry.rotate = std::min(s.symmetry.rotate, kMaxCopies);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  K_Birth();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StrokeDoc doc;
  try {
    doc = ParseStrokeDoc(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
  } catch (const StrokeDocError&) {
    return 0;
  }
  if (!CutDown(&doc)) return 0;
  try {
    (void)RenderDocument(doc, nullptr);
  } catch (const RenderError& e) {
    // A failure names what failed: an empty message is no message.
    if (std::string(e.what()).empty()) std::abort();
  }
  return 0;
}
