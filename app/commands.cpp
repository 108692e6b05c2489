// SPDX-License-Identifier: MIT
// The subcommand registry (outside main.cpp so tests can link the commands).
#include "app/commands.h"

std::vector<KstrokeCommandEntry>& KstrokeCommands() {
  static std::vector<KstrokeCommandEntry> commands;
  return commands;
}

KstrokeCommand::KstrokeCommand(const char* name, const char* help, Setup setup) {
  KstrokeCommands().push_back({name, help, std::move(setup)});
}
