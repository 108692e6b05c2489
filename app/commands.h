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
  /// With `passOn`, the words after a `--` that follows the command's name are its own
  /// (CommandPassOn), handed on to another program unread.
  KstrokeCommand(const char* name, const char* help, Setup setup, bool passOn = false);
};

struct KstrokeCommandEntry {
  std::string name;
  std::string help;
  KstrokeCommand::Setup setup;
  bool passOn = false;
};
std::vector<KstrokeCommandEntry>& KstrokeCommands();

/// Takes the words after `--` off the command line when the command they follow
/// passes them on (KstrokeCommand's `passOn`): `args` keeps the rest. Other commands'
/// command lines are left whole.
void SplitPassOn(std::vector<std::string>* args);
/// The words SplitPassOn took.
std::vector<std::string>& CommandPassOn();

/// Flushes standard output and checks that everything written to it arrived; when not,
/// prints "`who`: cannot write to standard output: <reason>" and answers false.
bool FlushStandardOutput(const char* who);

struct FrameFormat;
/// --format and --file-depth, the frame files of animate and submit.
void AddFrameFileOptions(CLI::App& sub, FrameFormat* format);

/// Exit statuses shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     ///< bad input or a failed render: one-line message
constexpr int kExitUsage = 2;       ///< the command line itself was wrong
// A run cancelled by a signal exits with 128 + the signal's number (app/signals.h).
