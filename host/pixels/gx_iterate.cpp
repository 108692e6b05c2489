// SPDX-License-Identifier: MIT
// Index iteration on oneTBB's worker threads, and on the caller's thread.
//
// Thread indexes: the calling thread is 0; a worker is 1 + its slot in the task arena,
// which is unique among the threads of the arena running at the same time.
#include "host/gx/gx_iterate.h"

#include <atomic>
#include <exception>
#include <thread>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "host/y/errors.h"
#include "host/y/y.h"

namespace {

int32_t RunOne(GX_IterateRoutine routine, void* context, int32_t thread, int32_t index) {
  try {
    return routine(context, thread, index);
  } catch (long code) {
    return int32_t(code);
  } catch (const std::exception& e) {
    return Y_TranslateAndReportException(e);
  }
}

}  // namespace

int32_t GX_IterateMaxThreads() { return tbb::this_task_arena::max_concurrency() + 1; }

int32_t GX_IterateGeneric(int32_t count, void* context, GX_IterateRoutine routine) {
  if (!routine || count < 0) return GX_Err_BadArgument;
  if (count == 0) return 0;
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int32_t> result{0};
  tbb::parallel_for(tbb::blocked_range<int32_t>(0, count, 1),
                    [&](const tbb::blocked_range<int32_t>& range) {
                      const int32_t thread =
                          std::this_thread::get_id() == caller
                              ? 0
                              : 1 + tbb::this_task_arena::current_thread_index();
                      for (int32_t i = range.begin(); i != range.end(); ++i) {
                        if (result.load(std::memory_order_relaxed) != 0) return;
                        if (int32_t rc = RunOne(routine, context, thread, i)) {
                          int32_t expected = 0;
                          result.compare_exchange_strong(expected, rc);
                          return;
                        }
                      }
                    });
  return result.load();
}

int32_t GX_IterateGeneric_Static(int32_t count, void* context, GX_IterateRoutine routine) {
  if (!routine || count < 0) return GX_Err_BadArgument;
  for (int32_t i = 0; i < count; ++i) {
    if (int32_t rc = RunOne(routine, context, 0, i)) return rc;
  }
  return 0;
}
