// SPDX-License-Identifier: MIT
// kstroke: the reference host program. Loads the engine (K_Birth), runs one subcommand,
// and unloads it (K_Death).
#include <cstdio>
#include <exception>
#include <memory>

#include "app/commands.h"
#include "host/jot/jot.h"
#include "kstroke/frame.h"

int main(int argc, char** argv) {
  CLI::App app{"kstroke: record brush strokes and render them into images"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "write the engine's log to stderr");
  app.set_version_flag("--version", "kstroke 0.1.0");

  std::vector<std::pair<CLI::App*, KstrokeCommand::Run>> runs;
  for (auto& c : KstrokeCommands()) {
    CLI::App* sub = app.add_subcommand(c.name, c.help);
    runs.emplace_back(sub, c.setup(*sub));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  if (verbose) JOT_SetSink(&JOT_StderrSink, nullptr);

  K_Birth();
  int status = kExitFailure;
  for (auto& r : runs) {
    if (!r.first->parsed()) continue;
    try {
      status = r.second();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kstroke: %s\n", e.what());
      status = kExitFailure;
    } catch (long code) {
      std::fprintf(stderr, "kstroke: engine error %ld\n", code);
      status = kExitFailure;
    }
  }
  K_Death();
  return status;
}
