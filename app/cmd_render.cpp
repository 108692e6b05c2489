// SPDX-License-Identifier: MIT
// kstroke render: a stroke description (or the built-in stroke) into a PNG.
#include <cstdio>

#include "app/commands.h"
#include "app/progress_bar.h"
#include "app/render_job.h"
#include "app/signals.h"
#include "app/stroke_file.h"
#include "host/y/errors.h"

namespace {

struct RenderOptions {
  std::string input;
  std::string output = "kstroke.png";
  bool quiet = false;
  int batch = 0;
  std::string brush;
};

int RunRender(const RenderOptions& o) {
  try {
    StrokeDoc doc = o.input.empty() ? DefaultStrokeDoc() : LoadStrokeInput(o.input);
    if (o.batch > 0) doc.batch = o.batch;
    if (!o.brush.empty()) ApplyBrush(LoadBrush(o.brush), &doc);
    ConsoleProgress progress("render", o.quiet);
    std::unique_ptr<GX_World> canvas = RenderDocument(doc, &progress);
    WriteCanvasPng(*canvas, o.output, progress.CancelOnly());
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", o.output.c_str());
    return kExitOk;
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
      std::fprintf(stderr, "kstroke render: cancelled; %s not written\n", o.output.c_str());
      return CancelledStatus();
    }
    std::fprintf(stderr, "kstroke render: engine error %ld\n", code);
  }
  return kExitFailure;
}

const KstrokeCommand kRender(
    "render", "render a stroke description (or the built-in stroke) into a PNG",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<RenderOptions>();
      sub.add_option("stroke", o->input,
                     "stroke description (JSON) or stroke file (.kst); none: the built-in stroke");
      sub.add_option("-o,--output", o->output, "output PNG")->capture_default_str();
      sub.add_option("--batch", o->batch, "pointer events per render call (overrides the file)")
          ->check(CLI::Range(1, 1000000));
      sub.add_option("--brush", o->brush,
                     "paint every stroke with this brush: a preset's name (kstroke brushes) "
                     "or a brush file");
      sub.add_flag("-q,--quiet", o->quiet, "no progress bar");
      return [o] { return RunRender(*o); };
    });

}  // namespace
