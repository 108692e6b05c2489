// SPDX-License-Identifier: MIT
// kstroke render: a stroke description (or the built-in stroke) into an image file.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "app/commands.h"
#include "app/progress_bar.h"
#include "document/progress_records.h"
#include "document/render_document.h"
#include "app/signals.h"
#include "document/stroke_file.h"
#include "host/y/errors.h"

namespace {

struct RenderOptions {
  std::string input;
  std::string output;  ///< empty: kstroke.png, or kstroke.exr for a float canvas
  std::string fileDepth;
  bool quiet = false;
  int batch = 0;
  std::string brush;
  // Over every stroke of the file, when given.
  std::string smoothing;
  double stabiliser = -1;
  std::string mirror;
  int rotate = 0;
  std::vector<double> centre;
};

// The command line's brush and symmetry settings over every stroke.
void ApplyOptions(const RenderOptions& o, StrokeDoc* doc) {
  if (!o.brush.empty()) ApplyBrush(LoadBrush(o.brush), doc);
  for (DocStroke& s : doc->strokes) {
    if (!o.smoothing.empty()) s.brush.smoothing = o.smoothing;
    if (o.stabiliser >= 0) s.brush.stabiliser = o.stabiliser;
    if (!o.mirror.empty()) s.symmetry.mirror = o.mirror;
    if (o.rotate > 0) s.symmetry.rotate = o.rotate;
    if (o.centre.size() == 2) s.symmetry.centre = {{o.centre[0], o.centre[1]}};
  }
}

int RunRender(const RenderOptions& o) {
  // The output is checked before anything is read or drawn.
  ImageOutput out;
  try {
    if (!o.output.empty()) out = ChooseOutput(o.output, o.fileDepth);
  } catch (const OutputChoiceError& e) {
    std::fprintf(stderr, "kstroke render: %s\n", e.what());
    return kExitUsage;
  }
  if (out.path == "-" && isatty(STDOUT_FILENO)) {
    std::fprintf(stderr, "kstroke render: -o -: standard output is a terminal; redirect it\n");
    return kExitUsage;
  }
  try {
    StrokeDoc doc = o.input.empty() ? DefaultStrokeDoc() : LoadStrokeInput(o.input);
    if (o.batch > 0) doc.batch = o.batch;
    ApplyOptions(o, &doc);
    if (o.output.empty())
      out = ChooseOutput(doc.depth == 32 ? "kstroke.exr" : "kstroke.png", o.fileDepth);
    ConsoleProgress progress("render", o.quiet);
    std::unique_ptr<GX_World> canvas = RenderDocument(doc, &progress);
    ProgressRecords records(&progress);
    WriteCanvas(*canvas, CanvasEncoding(doc), out, records.CancelOnly());
    if (!o.quiet && out.path != "-") std::fprintf(stderr, "wrote %s\n", out.path.c_str());
    return kExitOk;
  } catch (const OutputChoiceError& e) {
    std::fprintf(stderr, "kstroke render: %s\n", e.what());
    return kExitUsage;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke render: %s\n", e.what());
  } catch (const RenderError& e) {
    std::fprintf(stderr, "kstroke render: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    // Canvases and images say what did not fit; this is what is left, such as a
    // description too large to parse.
    std::fprintf(stderr, "kstroke render: %s: out of memory\n",
                 o.input.empty() ? "built-in stroke" : o.input.c_str());
  } catch (long code) {
    if (code == GX_Err_Cancelled) {
      std::fprintf(stderr, "kstroke render: cancelled; %s not written\n",
                   out.path == "-" ? "standard output" : out.path.c_str());
      return CancelledStatus();
    }
    std::fprintf(stderr, "kstroke render: engine error %ld\n", code);
  }
  return kExitFailure;
}

const KstrokeCommand kRender(
    "render", "render a stroke description (or the built-in stroke) into an image file",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<RenderOptions>();
      sub.add_option("stroke", o->input,
                     "stroke description (JSON) or stroke file (.kst); none: the built-in stroke");
      sub.add_option("-o,--output", o->output,
                     "image to write: .png, .tif/.tiff or .exr (the format follows the name); "
                     "- for PNG on standard output (default: kstroke.png, kstroke.exr for a "
                     "float canvas)");
      sub.add_option("--file-depth", o->fileDepth,
                     "samples of the file: 8, 16, half or float (default: the format's choice "
                     "for the canvas depth)")
          ->check(CLI::IsMember({"8", "16", "half", "float"}));
      sub.add_option("--batch", o->batch, "pointer events per render call (overrides the file)")
          ->check(CLI::Range(1, 1000000));
      sub.add_option("--brush", o->brush,
                     "paint every stroke with this brush: a preset's name (kstroke brushes) "
                     "or a brush file");
      sub.add_option("--smoothing", o->smoothing, "join the samples of every stroke: none, curve")
          ->check(CLI::IsMember({"none", "curve"}));
      sub.add_option("--stabiliser", o->stabiliser, "how far every brush lags the pointer, 0..0.99")
          ->check(CLI::Range(0.0, 0.99));
      sub.add_option("--mirror", o->mirror,
                     "draw every stroke mirrored too: none, vertical, horizontal, both")
          ->check(CLI::IsMember({"none", "vertical", "horizontal", "both"}));
      sub.add_option("--rotate", o->rotate, "draw every stroke N times, turned about the centre")
          ->check(CLI::Range(1, 64));
      sub.add_option("--centre", o->centre, "the symmetry's centre X,Y, fractions of the canvas")
          ->expected(2)
          ->delimiter(',')
          ->check(CLI::Range(-10.0, 10.0));
      sub.add_flag("-q,--quiet", o->quiet, "no progress bar");
      return [o] { return RunRender(*o); };
    });

}  // namespace
