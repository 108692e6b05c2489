// SPDX-License-Identifier: MIT
// kstroke: the reference host program. Loads the engine (K_Birth), runs one subcommand,
// and unloads it (K_Death).
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/signals.h"
#include "host/y/errors.h"
#include "host/jot/jot.h"
#include "kstroke/frame.h"
#include "raster/span_kernels.h"

int main(int argc, char** argv) {
  CLI::App app{"kstroke: record brush strokes and render them into images"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "write the engine's and the program's log to stderr");
  // -v may come after the subcommand too.
  app.fallthrough();
  app.set_version_flag("--version", "kstroke 0.1.0");

  std::vector<std::pair<CLI::App*, KstrokeCommand::Run>> runs;
  for (auto& c : KstrokeCommands()) {
    CLI::App* sub = app.add_subcommand(c.name, c.help);
    runs.emplace_back(sub, c.setup(*sub));
  }
  std::vector<std::string> args(argv, argv + argc);
  SplitPassOn(&args);
  std::vector<const char*> words;
  for (const std::string& a : args) words.push_back(a.c_str());
  try {
    app.parse(int(words.size()), words.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  if (verbose) JOT_SetSink(&JOT_StderrSink, nullptr);
  InstallCancelSignals();

  K_Birth();
  // Which kernels the processor got: frames must not depend on it, and -v says so.
  JOT_Log(10, "kstroke", "Kernels",
          Kp_HasAvx512()        ? "AVX-512 and AVX2 (KSTROKE_PORTABLE=1 turns them off)"
          : Kp_HasAvx2()        ? "AVX2 (KSTROKE_PORTABLE=1 turns them off)"
          : Kp_PortableForced() ? "portable (KSTROKE_PORTABLE is set)"
                                : "portable (this processor or build has no AVX2)");
  int status = kExitFailure;
  std::string who = "kstroke";
  for (auto& r : runs) {
    if (!r.first->parsed()) continue;
    who = "kstroke " + r.first->get_name();
    // Commands report their own failures; these are the ones that got past them.
    try {
      status = r.second();
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "%s: out of memory\n", who.c_str());
      status = kExitFailure;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", who.c_str(), e.what());
      status = kExitFailure;
    } catch (long code) {
      if (code == GX_Err_Cancelled) {
        std::fprintf(stderr, "%s: cancelled\n", who.c_str());
        status = CancelledStatus();
      } else {
        std::fprintf(stderr, "%s: engine error %ld\n", who.c_str(), code);
        status = kExitFailure;
      }
    }
  }
  K_Death();
  // What went to standard output is checked once, here: a full disk or a closed pipe
  // is a failure even when every line was handed over without complaint.
  if (!FlushStandardOutput(who.c_str()) && status == kExitOk) status = kExitFailure;
  return status;
}
