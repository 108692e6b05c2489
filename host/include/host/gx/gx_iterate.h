// SPDX-License-Identifier: MIT
/// @file
/// Index iteration: a routine run once per index, on several threads or on the caller's.
#pragma once

#include <cstdint>

/// One step: answers 0 to go on, anything else to stop with that code. `threadIndex`
/// is 0 on the calling thread and 1..GX_IterateMaxThreads() − 1 on helper threads;
/// threads running at the same time never share an index, so it can pick per-thread
/// scratch space.
using GX_IterateRoutine = int32_t (*)(void* context, int32_t threadIndex, int32_t index);

/// Orders the calling thread's streaming (non-temporal) stores before its later
/// stores, so that a thread that sees those sees the streamed pixels too. An SFENCE
/// where there is SSE2; nothing elsewhere, where nothing streams.
void GX_StreamFence() noexcept;

/// Upper bound (exclusive) of the thread indexes GX_IterateGeneric passes.
int32_t GX_IterateMaxThreads();

/// Calls `routine(context, thread, i)` once for every i in 0..count − 1, spread over
/// the worker threads of the process (oneTBB) with the caller taking part; returns
/// when all are done. Indexes run in no fixed order, so the routine must only touch
/// data of its own index. After a routine answers non-zero no further index starts
/// (those already running finish) and the call answers the first non-zero result
/// seen. A routine that throws a long stops the loop the same way with that code; a
/// std::exception becomes Y_TranslateAndReportException's code.
/// GX_Err_BadArgument for a null routine or a negative count; 0 for count 0.
/// Each thread ends its share with GX_StreamFence, so a routine may write pixels with
/// streaming stores (GX_BlendColourNormalRow's `streamFullLines`).
int32_t GX_IterateGeneric(int32_t count, void* context, GX_IterateRoutine routine);

/// The same on the caller's thread, in index order, thread index 0; stops at the
/// first non-zero result and answers it. Ends with GX_StreamFence too.
int32_t GX_IterateGeneric_Static(int32_t count, void* context, GX_IterateRoutine routine);
