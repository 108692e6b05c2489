// SPDX-License-Identifier: MIT
// The studio's messages between the page and the server.
//
// The page sends JSON text messages, each an object with a "type", and one binary
// message, a clone image. Every field is checked here for its type and presence,
// unknown fields are errors (a misspelt name never passes silently), and every failure
// is a ProtocolError whose message is one line naming the message type and the field;
// the ranges of brush values are the facade's to check when the session applies them.
//
//   {"type": "tool", "brush": {"preset": "ink", "diameter": 12, …}, "colour": [r, g, b, a],
//    "transfer": "", "channels": "all", "source": "fill" | "clone",
//    "symmetry": {"mirror": "none", "rotate": 1, "centre": [0.5, 0.5]}}
//   {"type": "begin", "stroke": N}          a stroke starts; N increases stroke by stroke
//   {"type": "samples", "stroke": N, "seq": S, "events": [[t, x, y, p, tiltX, tiltY, twist], …]}
//                                           S counts the batches of the stroke from 0;
//                                           p is null for a mouse (pressure 1)
//   {"type": "end", "stroke": N}
//   {"type": "undo"} {"type": "redo"} {"type": "clear"} {"type": "files"} {"type": "stats"}
//   {"type": "new", "width": W, "height": H, "depth": 8 | 16 | 32, "background": [r, g, b, a]}
//   {"type": "save" | "open" | "export", "name": "file.json"}
//   {"type": "replay", "frames": F}
//   {"type": "outline", "zoom": Z}          the brush cursor at Z screen pixels per pixel
//   {"type": "clonePoint", "x": X, "y": Y}  fractions of the canvas (Alt-click)
//   binary: "KSIM", a byte of name length, the name, then the image file's bytes
//
// Brush fields are a description's (README.md): diameter, hardness, roundness, angle,
// spacing, opacity, flow, stabiliser, dither, accumulate ("build-up", "additive"),
// smoothing ("none", "curve"), and dynamics as a description writes them, which replace
// the preset's when given.
//
// What the server sends is in app/studio/session.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kstroke/kstroke.hpp"

/// A message the studio cannot take; the text is one line.
struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Largest text message: a batch of samples is a few kilobytes, a tool a few hundred bytes.
constexpr std::size_t kMaxTextMessage = 1 << 20;
/// Largest clone image the page may send.
constexpr std::size_t kMaxImageMessage = 32u << 20;
/// Most events in one batch of samples (a second of a 1 kHz pen).
constexpr std::size_t kMaxBatchEvents = 1000;

/// One mapping of a brush's dynamics.
struct StudioMapping {
  kstroke::Factor factor = kstroke::Factor::kDiameter;
  kstroke::Input input = kstroke::Input::kPressure;
  std::vector<std::array<float, 2>> curve;
};

/// A brush as the page's panels set it: a preset and the fields changed over it.
struct StudioBrush {
  std::string preset = "round";
  std::optional<double> diameter, hardness, roundness, angle, spacing, opacity, flow, stabiliser;
  std::optional<bool> dither, additive, curve;
  /// Present: the preset's dynamics replaced by these (empty: none at all).
  std::optional<std::vector<StudioMapping>> dynamics;
};

/// Everything the next stroke paints with.
struct StudioTool {
  StudioBrush brush;
  kstroke::Colour colour{0, 0, 0, 1};
  std::string transfer;  ///< "" for the brush's own
  std::string channels = "all";
  bool clone = false;    ///< paint the clone image instead of the colour
  std::string mirror = "none";
  int32_t rotate = 1;
  std::array<double, 2> centre{{0.5, 0.5}};
};

enum class MessageKind {
  kTool, kBegin, kSamples, kEnd, kUndo, kRedo, kClear, kFiles, kStats,
  kNew, kSave, kOpen, kExport, kReplay, kOutline, kClonePoint, kImage,
};

/// One message from the page; only the fields of its kind are set.
struct ClientMessage {
  MessageKind kind = MessageKind::kUndo;
  std::string type;  ///< as the page named it, for replies
  StudioTool tool;
  uint32_t stroke = 0;
  uint32_t seq = 0;
  std::vector<kstroke::Event> events;
  int32_t width = 0, height = 0;
  kstroke::Depth depth = kstroke::Depth::k8;
  kstroke::Colour background{1, 1, 1, 1};
  std::string name;   ///< a file in the studio's folder, or the image's name
  int32_t frames = 0;
  double zoom = 1;
  double x = 0, y = 0;
  std::string bytes;  ///< the image file
};

/// Reads one message (`binary` as the WebSocket frame said). Throws ProtocolError.
ClientMessage ParseClientMessage(std::string_view data, bool binary);

/// Whether `name` may name a file in the studio's folder: 1 to 100 letters, digits,
/// '.', '_' or '-', not starting with '.', ending in one of `extensions` (".json", …).
bool IsStudioFileName(const std::string& name, const std::vector<std::string>& extensions);
