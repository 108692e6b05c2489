// SPDX-License-Identifier: MIT
// Subcommands of the kstroke program. Each lives in its own cmd_*.cpp and registers
// itself with a static KstrokeCommand object, so adding one touches no other file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

/// One subcommand: `setup` adds its options to `sub` and answers the function that
/// runs it (returning the exit status).
struct KstrokeCommand {
  using Run = std::function<int()>;
  using Setup = std::function<Run(CLI::App& sub)>;
  KstrokeCommand(const char* name, const char* help, Setup setup);
};

struct KstrokeCommandEntry {
  std::string name;
  std::string help;
  KstrokeCommand::Setup setup;
};
std::vector<KstrokeCommandEntry>& KstrokeCommands();

/// Flushes standard output and checks that everything written to it arrived; when not,
/// prints "`who`: cannot write to standard output: <reason>" and answers false.
bool FlushStandardOutput(const char* who);

/// Exit statuses shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     ///< bad input or a failed render: one-line message
constexpr int kExitUsage = 2;       ///< the command line itself was wrong
// A run cancelled by a signal exits with 128 + the signal's number (app/signals.h).
