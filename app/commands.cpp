// SPDX-License-Identifier: MIT
// The subcommand registry (outside main.cpp so tests can link the commands).
#include "app/commands.h"

#include "app/animate.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

std::vector<KstrokeCommandEntry>& KstrokeCommands() {
  static std::vector<KstrokeCommandEntry> commands;
  return commands;
}

KstrokeCommand::KstrokeCommand(const char* name, const char* help, Setup setup, bool passOn) {
  KstrokeCommands().push_back({name, help, std::move(setup), passOn});
}

std::vector<std::string>& CommandPassOn() {
  static std::vector<std::string> words;
  return words;
}

void SplitPassOn(std::vector<std::string>* args) {
  // The command is the first word that is not an option: only flags (-v, --version)
  // come before it.
  size_t i = 1;
  while (i < args->size() && !(*args)[i].empty() && (*args)[i][0] == '-') ++i;
  if (i >= args->size()) return;
  const auto& commands = KstrokeCommands();
  const auto command = std::find_if(commands.begin(), commands.end(),
                                    [&](const KstrokeCommandEntry& c) { return c.name == (*args)[i]; });
  if (command == commands.end() || !command->passOn) return;
  const auto dashes = std::find(args->begin() + long(i) + 1, args->end(), "--");
  if (dashes == args->end()) return;
  CommandPassOn().assign(dashes + 1, args->end());
  args->erase(dashes, args->end());
}

bool FlushStandardOutput(const char* who) {
  // A large fwrite may fail straight away and leave nothing to flush: the error flag
  // is what remembers it, and errno still says why.
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return true;
  const int error = errno;
  std::fprintf(stderr, "%s: cannot write to standard output%s%s\n", who, error ? ": " : "",
               error ? std::strerror(error) : "");
  std::clearerr(stdout);
  return false;
}

void AddFrameFileOptions(CLI::App& sub, FrameFormat* format) {
  sub.add_option("--format", format->extension,
                 "frame files: png, tif, tiff or exr (default: png, exr for a float canvas)")
      ->check(CLI::IsMember({"png", "tif", "tiff", "exr"}));
  sub.add_option("--file-depth", format->sample,
                 "samples of the files: 8, 16, half or float (default: the format's choice)")
      ->check(CLI::IsMember({"8", "16", "half", "float"}));
}
