// SPDX-License-Identifier: MIT
// The subcommand registry (outside main.cpp so tests can link the commands).
#include "app/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::vector<KstrokeCommandEntry>& KstrokeCommands() {
  static std::vector<KstrokeCommandEntry> commands;
  return commands;
}

KstrokeCommand::KstrokeCommand(const char* name, const char* help, Setup setup) {
  KstrokeCommands().push_back({name, help, std::move(setup)});
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
