// SPDX-License-Identifier: MIT
// kstroke animate: image frames between two keyframe strokes, or of a stroke written on.
#include <cstdio>

#include "app/animate.h"
#include "app/commands.h"
#include "app/frame_manifest.h"
#include "app/progress_bar.h"
#include "app/signals.h"
#include "document/render_document.h"
#include "document/stroke_file.h"
#include "host/y/errors.h"

namespace {

struct AnimateOptions {
  std::vector<std::string> keyframes;
  std::string frames;
  int count = 0;
  bool writeOn = false;
  std::string output = "frames";
  FrameFormat format;
  bool resume = false;
  bool quiet = false;
};

int RunAnimate(const AnimateOptions& o) {
  if (o.keyframes.size() == 1 && !o.writeOn) {
    std::fprintf(stderr,
                 "kstroke animate: give a second keyframe, or --write-on to write one on\n");
    return kExitUsage;
  }
  FrameRange range;
  try {
    range = ParseFrameRange(o.frames, o.count);
  } catch (const AnimateError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
    return kExitUsage;
  }
  int written = 0;
  std::string extension = "png";
  std::vector<int> drawn;  // the frames drawn, in order
  try {
    StrokeDoc a = LoadStrokeInput(o.keyframes[0]);
    std::optional<StrokeDoc> b;
    if (o.keyframes.size() > 1) b = LoadStrokeInput(o.keyframes[1]);
    const Animation animation(std::move(a), std::move(b), o.writeOn);
    extension = animation.Extension(o.format);
    ChooseOutput(FrameFileName(range.first, extension), o.format.sample);
    std::optional<FrameLedger> ledger;
    if (o.resume)
      ledger.emplace(o.output,
                     IdentifyAnimation(o.keyframes, o.writeOn, range.count, extension,
                                       o.format.sample),
                     range.first, range.last);
    FrameHooks hooks;
    hooks.skip = [&](int k) {
      if (ledger && ledger->Complete(k)) return true;
      drawn.push_back(k);
      return false;
    };
    if (ledger) hooks.written = [&](int k) { ledger->Record(k); };
    ConsoleProgress progress("animate", o.quiet);
    try {
      animation.RenderFrames(range, o.output, &progress, &written, o.format, hooks);
    } catch (long) {
      // Cancelled (a time limit's SIGTERM): what is done goes into the manifest all
      // the same, which a signal cannot stop.
      if (ledger) ledger->Merge();
      throw;
    }
    if (ledger) ledger->Merge();
    if (!o.quiet) {
      const int total = range.last - range.first + 1;
      if (!o.resume)
        std::fprintf(stderr, "wrote %s … %s in %s\n", FrameFileName(range.first, extension).c_str(),
                     FrameFileName(range.last, extension).c_str(), o.output.c_str());
      else
        std::fprintf(stderr, "frames %d to %d in %s: %d written, %d complete already\n",
                     range.first, range.last, o.output.c_str(), written, total - written);
    }
    return kExitOk;
  } catch (const ManifestError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
  } catch (const OutputChoiceError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
    return kExitUsage;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
  } catch (const AnimateError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
  } catch (const RenderError& e) {
    std::fprintf(stderr, "kstroke animate: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    // Canvases and images say what did not fit; this is what is left, such as a
    // description too large to parse.
    std::fprintf(stderr, "kstroke animate: %s: out of memory\n", o.keyframes[0].c_str());
  } catch (long code) {
    if (code == GX_Err_Cancelled) {
      const int frame = written < int(drawn.size()) ? drawn[written] : range.first + written;
      std::fprintf(stderr, "kstroke animate: cancelled after %d frame(s); %s not written\n",
                   written, FrameFileName(frame, extension).c_str());
      return CancelledStatus();
    }
    std::fprintf(stderr, "kstroke animate: engine error %ld\n", code);
  }
  return kExitFailure;
}

const KstrokeCommand kAnimate(
    "animate", "render the frames between two keyframe strokes, or a stroke written on",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<AnimateOptions>();
      sub.add_option("keyframes", o->keyframes,
                     "first and second keyframe (JSON or .kst); one with --write-on")
          ->required()
          ->expected(1, 2);
      sub.add_option("--frames", o->frames,
                     "N: all N frames (N >= 2); a:b: frames a to b of --count N")
          ->required();
      sub.add_option("--count", o->count, "frames in the whole animation, with --frames a:b");
      sub.add_flag("--write-on", o->writeOn, "draw each stroke along its path, frame by frame");
      sub.add_option("-o,--output", o->output, "folder for frame_0000.png …")
          ->capture_default_str();
      AddFrameFileOptions(sub, &o->format);
      sub.add_flag("--resume", o->resume,
                   "pass over the frames complete in the folder (its manifest.json holds "
                   "them, intact) and record there each frame written");
      sub.add_flag("-q,--quiet", o->quiet, "no progress bar");
      return [o] { return RunAnimate(*o); };
    });

}  // namespace
