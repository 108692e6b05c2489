// SPDX-License-Identifier: MIT
/// @file
/// Host logging library. Lines go to a sink the host program chooses; with no sink set
/// (the default) logging costs one branch.
#pragma once

#include <cstdint>

/// Receives one log line. `level` 1 is an error, 10 routine information.
using JOT_Sink = void (*)(void* context, int32_t level, const char* module,
                          const char* event, const char* text);

/// Installs the sink (null removes it). Not thread-safe against concurrent logging.
void JOT_SetSink(JOT_Sink sink, void* context) noexcept;
/// A sink that writes "[module] event: text" to stderr, "[error module] event: text"
/// for level 1 and below.
void JOT_StderrSink(void* context, int32_t level, const char* module, const char* event,
                    const char* text);
/// Whether a sink is set: lines worth computing only for a reader can be skipped.
bool JOT_HasSink() noexcept;
/// Writes one line to the current sink, if any. Null strings are written as "".
void JOT_Log(int32_t level, const char* module, const char* event, const char* text);
