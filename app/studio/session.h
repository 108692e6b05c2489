// SPDX-License-Identifier: MIT
// One tab of the studio: a document, the canvas it paints, the tool, the stroke being
// painted, and the history of whole strokes for undo and redo. It takes the page's
// messages (app/studio/protocol.h) and answers with what goes back; it knows nothing of
// the network, so tests drive it directly.
//
// Every stroke is painted through the facade (kstroke::Stroke) into the session's
// canvas as its samples arrive, and the changed rectangle goes back as pixels, so the
// page shows the engine's picture. Rendering does not depend on how samples are batched,
// so the canvas always equals what the document renders from scratch. Symmetry copies
// are painted live each by a stroke of its own; where they overlap, painting them side
// by side differs from painting them one after the other, so when the stroke ends the
// canvas is put back as it was before it and the copies are painted again in turn.
//
// The history is one document of every stroke painted and the count of those shown:
// undo shows one fewer, redo one more, and a new stroke drops those undone.
//
// What the server sends:
//   text: {"type": "state", …} the document (after it changes), {"type": "presets", …},
//         {"type": "error", "request": TYPE, "message": …}, and one reply per request
//   binary: a 32-byte header of little-endian 32-bit fields and RGBA pixels, 8 bits,
//         sRGB, straight alpha, row after row:
//           kind (1 a stroke's patch, 2 the whole picture, 3 a replay frame, 4 the cursor),
//           a, b (stroke and batch; frame and frame count; 0), left, top, width, height,
//           milliseconds spent (a float)
//         The cursor's left and top are where its centre lies in it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/studio/protocol.h"
#include "kstroke/kstroke.hpp"

/// One message for the page.
struct Outgoing {
  bool binary = false;
  std::string data;
  bool batch = false;  ///< the pixels answering a batch of samples (timed by the server)
};

/// What every session of one server shares.
struct StudioSettings {
  std::string folder = ".";  ///< where documents are opened and saved, pictures exported
  std::string uploads;       ///< where clone images from the page are kept (removed at exit)
  /// The document each session starts with, and the name saving gives it.
  std::optional<kstroke::Document> start;
  std::string startName = "untitled.json";
  std::string startPath;  ///< where it was read from (its clone images are beside it)
  int32_t newWidth = 1024, newHeight = 768;
};

/// Binary message kinds.
enum class PictureKind : uint32_t { kPatch = 1, kWhole = 2, kFrame = 3, kCursor = 4 };
constexpr std::size_t kPictureHeader = 32;

class StudioSession {
public:
  StudioSession(const StudioSettings& settings, int id);
  ~StudioSession();
  StudioSession(const StudioSession&) = delete;
  StudioSession& operator=(const StudioSession&) = delete;

  /// The first messages: the presets, the state and the whole picture.
  std::vector<Outgoing> Start();
  /// Takes one message; answers what goes back, an error among it when the message was
  /// malformed, out of order or failed (out of memory included). Never throws.
  std::vector<Outgoing> Handle(std::string_view data, bool binary);
  /// A replay has frames still to draw: Continue draws the next.
  bool Busy() const;
  std::vector<Outgoing> Continue();

  /// The server's time from a batch's arrival until its pixels left, in milliseconds.
  void RecordBatch(double milliseconds);

  const kstroke::Canvas& Picture() const;
  std::size_t Strokes() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

/// Percentiles of `values` (nearest rank), for the stats reply and the bench.
double Percentile(std::vector<double> values, double fraction);
