// SPDX-License-Identifier: MIT
// kstroke load: a stroke file (.kst) back into a stroke description, strokes recorded.
#include <cstdio>

#include "app/commands.h"
#include "document/output_file.h"
#include "app/signals.h"
#include "document/stroke_file.h"

namespace {

struct LoadOptions {
  std::string input;
  std::string output;  ///< empty: standard output
};

int RunLoad(const LoadOptions& o) {
  try {
    const StrokeDoc doc = LoadStrokeInput(o.input);
    if (o.output.empty()) {
      // Image paths are relative to where the description is read from: here, the
      // current folder, which is where a redirected output lands.
      const std::string json = StrokeDocToJson(RelocateDoc(doc, "stdout"));
      std::fwrite(json.data(), 1, json.size(), stdout);
      return FlushStandardOutput("kstroke load") ? kExitOk : kExitFailure;
    }
    AtomicOutput out(o.output);
    out.Write(StrokeDocToJson(RelocateDoc(doc, o.output)));
    ThrowIfCancelled();
    out.Commit();
    return kExitOk;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke load: %s\n", e.what());
  } catch (const OutputError& e) {
    std::fprintf(stderr, "kstroke load: %s\n", e.what());
  } catch (long code) {
    std::fprintf(stderr, "kstroke load: cancelled; %s not written\n", o.output.c_str());
    return CancelledStatus();
  }
  return kExitFailure;
}

const KstrokeCommand kLoad(
    "load", "turn a stroke file (.kst) into a stroke description (JSON)",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<LoadOptions>();
      sub.add_option("strokefile", o->input, "stroke file (.kst)")->required();
      sub.add_option("-o,--output", o->output, "JSON file to write (default: standard output)");
      return [o] { return RunLoad(*o); };
    });

}  // namespace
