// SPDX-License-Identifier: MIT
// kstroke save: a stroke description into a stroke file (.kst), each stroke recorded.
#include <cstdio>

#include "app/commands.h"
#include "app/progress_bar.h"
#include "document/output_file.h"
#include "app/signals.h"
#include "document/stroke_file.h"

namespace {

struct SaveOptions {
  std::string input;
  std::string output;
  bool quiet = false;
};

int RunSave(const SaveOptions& o) {
  try {
    ConsoleProgress signals("save", true);
    SaveStrokeFile(LoadStrokeInput(o.input), o.output, &signals);
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", o.output.c_str());
    return kExitOk;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke save: %s\n", e.what());
  } catch (const OutputError& e) {
    std::fprintf(stderr, "kstroke save: %s\n", e.what());
  } catch (long code) {
    std::fprintf(stderr, "kstroke save: cancelled; %s not written\n", o.output.c_str());
    return CancelledStatus();
  }
  return kExitFailure;
}

const KstrokeCommand kSave(
    "save", "record a stroke description's strokes into a stroke file (.kst)",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<SaveOptions>();
      sub.add_option("stroke", o->input, "stroke description (JSON or .kst)")->required();
      sub.add_option("-o,--output", o->output, "stroke file to write")->required();
      sub.add_flag("-q,--quiet", o->quiet, "no message on success");
      return [o] { return RunSave(*o); };
    });

}  // namespace
