// SPDX-License-Identifier: MIT
// `kstroke animate`: frames between two keyframe documents, and write-on frames.
//
// Frame k of an animation of n frames (n ≥ 2) sits at the fraction f = k / (n − 1), so
// frame 0 is the first keyframe and frame n − 1 the second (or the whole stroke).
//
// Between keyframes A and B, stroke i of the frame is stroke i of A and of B blended
// the way a host animates a keyframed stroke: WS_InterpolateShapes blends the vertices
// and then K_Shape::PostProcessInterpolate the timing, spacing and factor tables (the
// in-between keeps A's open or closed path). The host pads the shorter path with its
// last vertex, so the end frames are the keyframes exactly only when both strokes have
// as many vertices; otherwise the padding shows in the tables.
//
// Settings come from A, except the brush's numeric fields (diameter, hardness,
// roundness, angle, spacing, opacity, flow) and, when both strokes are fills, the fill
// colour, which are blended as (1 − f)·a + f·b, exact at both ends. The canvas,
// transform, source image, transfer mode, channels, dither, accumulation, trim and seed
// are A's (write-on replaces the trim end).
//
// Write-on draws a share f of each stroke's path, all strokes together: the trim end
// (K_StrokeGlobalProperties::end) of every stroke is set to the time at which the
// stroke reaches the fraction f of its arc length. Trimming works on stroke time, and
// a pen does not move at constant speed, so a share of the time would not be a share
// of the path. Mapping the share to a time (rather than retiming the stroke at constant
// speed) leaves the stroke's own timing, and with it where its pressure changes, as
// recorded: the last frame is the stroke exactly as `kstroke render` draws it. Share 0
// draws nothing. A stroke must end after time 0 to be written on.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "document/render_document.h"
#include "kstroke/kstroke.hpp"
#include "document/stroke_doc.h"
#include "host/gx/gx.h"
#include "kstroke/shape.h"


/// A keyframe or frame-range problem; the message is one line.
struct AnimateError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The most frames an animation may have (2 is the fewest).
constexpr int kMaxFrames = 1000000;

/// The frames to render: `first` … `last` (inclusive) of an animation of `count`.
struct FrameRange {
  int count = 2;
  int first = 0;
  int last = 1;
};

/// Reads the command line's frame choice: `frames` is "N" (all N frames, N ≥ 2; then
/// `count` must be 0, i.e. not given) or "a:b" (frames a … b of `count` frames).
/// Throws AnimateError.
FrameRange ParseFrameRange(const std::string& frames, int count);

/// f = k / (n − 1).
double FrameFraction(int frame, int count);

/// "frame_0007.png": four digits or more, the same for every range of one animation,
/// and the extension of the frames' format.
std::string FrameFileName(int frame, const std::string& extension = "png");

/// The frames' files: `extension` "png", "tif", "tiff" or "exr" ("" for png, or exr when
/// the keyframes' canvas is float), `sample` as ChooseOutput takes it.
struct FrameFormat {
  std::string extension;
  std::string sample;
};

/// The trim end (fraction of the stroke's end time) at which `shape` is drawn up to
/// the share `share` (0 … 1) of its arc length. Tip placement measures a path position
/// k + u as vertex k plus the share u of segment k's length, so the arc-length share
/// maps to a position exactly and the position to a time through the time-distance
/// table (linear between entries). 1 for share 1; 0 for share 0.
double WriteOnEnd(const K_Shape& shape, double share);

/// What Animation::RenderFrames asks and tells around each frame; either may be empty.
struct FrameHooks {
  /// True for a frame to pass over (already complete in the folder): it is neither
  /// drawn nor counted. Asked once per frame of the range, before any is drawn.
  std::function<bool(int frame)> skip;
  /// Hears of each frame once its file is in place.
  std::function<void(int frame)> written;
};

/// One frame: the document whose settings it is drawn with, and each stroke's shape
/// (null for a stroke that draws nothing in this frame).
struct Frame {
  StrokeDoc doc;
  std::vector<std::unique_ptr<K_Shape>> shapes;
};

class Animation {
public:
  /// Records the keyframes' strokes (events or recorded shapes; symmetry copies are
  /// strokes of their own, document/symmetry.h). Without `b`, only
  /// write-on is possible. Throws AnimateError when the keyframes hold different
  /// numbers of strokes, when `writeOn` meets a stroke that does not end after time
  /// 0, and for a stroke the engine refuses to record.
  Animation(StrokeDoc a, std::optional<StrokeDoc> b, bool writeOn);

  /// Frame `frame` of `count`. Throws AnimateError when the keyframes' timing cannot
  /// be interpolated.
  Frame MakeFrame(int frame, int count) const;

  /// Frame `frame` of `count` drawn on a new canvas.
  std::unique_ptr<GX_World> RenderFrame(int frame, int count, kstroke::Progress* progress) const;

  /// Renders frames `range.first` … `range.last` into `folder` (created when missing),
  /// one image each (FrameFileName) in `format`, each written whole or not at all;
  /// `*written` (optional) counts the frames finished. `progress` may be null; its bar
  /// spans the frames drawn. `hooks` may pass frames over and hear of those written.
  /// Throws OutputChoiceError for a format that cannot hold the sample type (before
  /// anything is drawn), AnimateError, RenderError, or long GX_Err_Cancelled after
  /// Ctrl-C, when the frame being drawn is not written; what a hook throws goes through.
  void RenderFrames(const FrameRange& range, const std::string& folder, kstroke::Progress* progress,
                    int* written = nullptr, const FrameFormat& format = FrameFormat(),
                    const FrameHooks& hooks = FrameHooks()) const;

  /// The extension of the frames' files in `format`.
  std::string Extension(const FrameFormat& format) const;

private:
  StrokeDoc a;
  std::optional<StrokeDoc> b;
  bool writeOn;
  std::vector<std::unique_ptr<K_Shape>> shapesA, shapesB;
  mutable CloneImages images;  ///< read on first use, shared by every frame
};
