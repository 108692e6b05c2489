// SPDX-License-Identifier: MIT
// Logging to a host-chosen sink.
#include "host/jot/jot.h"

#include <cstdio>

namespace {
JOT_Sink gSink = nullptr;
void* gSinkContext = nullptr;
}  // namespace

void JOT_SetSink(JOT_Sink sink, void* context) noexcept {
  gSink = sink;
  gSinkContext = context;
}

bool JOT_HasSink() noexcept { return gSink != nullptr; }

void JOT_StderrSink(void*, int32_t level, const char* module, const char* event,
                    const char* text) {
  std::fprintf(stderr, "[%s%s] %s: %s\n", level <= 1 ? "error " : "", module, event, text);
}

void JOT_Log(int32_t level, const char* module, const char* event, const char* text) {
  if (!gSink) return;
  gSink(gSinkContext, level, module ? module : "", event ? event : "", text ? text : "");
}
