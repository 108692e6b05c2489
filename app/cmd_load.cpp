// SPDX-License-Identifier: MIT
// kstroke load: a stroke file (.kst) back into a stroke description, strokes recorded.
#include <cstdio>
#include <fstream>

#include "app/commands.h"
#include "app/progress_bar.h"
#include "app/stroke_file.h"

namespace {

struct LoadOptions {
  std::string input;
  std::string output;  ///< empty: standard output
};

void WriteText(const std::string& text, const std::string& path) {
  AtomicOutput out(path);
  {
    std::ofstream o(out.TempPath(), std::ios::binary | std::ios::trunc);
    o << text;
    o.close();
    if (!o) throw std::runtime_error(path + ": cannot write the output file");
  }
  out.Commit();
}

int RunLoad(const LoadOptions& o) {
  try {
    const StrokeDoc doc = LoadStrokeInput(o.input);
    if (o.output.empty()) {
      // Image paths are relative to where the description is read from: here, the
      // current folder, which is where a redirected output lands.
      const std::string json = StrokeDocToJson(RelocateDoc(doc, "stdout"));
      std::fwrite(json.data(), 1, json.size(), stdout);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }
    WriteText(StrokeDocToJson(RelocateDoc(doc, o.output)), o.output);
    return kExitOk;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke load: %s\n", e.what());
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "kstroke load: %s\n", e.what());
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
