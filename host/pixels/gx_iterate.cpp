// SPDX-License-Identifier: MIT
// Index iteration on oneTBB's worker threads, and on the caller's thread.
//
// Thread indexes: the calling thread is 0; a worker is 1 + its slot in the task arena,
// which is unique among the threads of the arena running at the same time.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "host/gx/gx_iterate.h"

#include "host/y/errors.h"
#include "host/y/y.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <exception>
#include <thread>

// ThreadSanitizer builds: libtbb is not instrumented, so the detector cannot see that
// parallel_for orders the caller's writes before every body and every body before its
// return. This file is compiled uninstrumented there (CMakeLists.txt) and states those
// two edges itself; the routines it calls stay instrumented, so a race between rows
// is still reported.
#if defined(KSTROKE_TSAN_FORK_JOIN)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define KSTROKE_TSAN_ACQUIRE(p) __tsan_acquire(p)
#define KSTROKE_TSAN_RELEASE(p) __tsan_release(p)
#else
#define KSTROKE_TSAN_ACQUIRE(p) static_cast<void>(p)
#define KSTROKE_TSAN_RELEASE(p) static_cast<void>(p)
#endif

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

void GX_StreamFence() noexcept {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

int32_t GX_IterateGeneric(int32_t count, void* context, GX_IterateRoutine routine) {
  if (!routine || count < 0) return GX_Err_BadArgument;
  if (count == 0) return 0;
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int32_t> result{0};
  char fork = 0, join = 0;  // addresses for the sanitizer's edges only
  KSTROKE_TSAN_RELEASE(&fork);
  tbb::parallel_for(tbb::blocked_range<int32_t>(0, count, 1),
                    [&](const tbb::blocked_range<int32_t>& range) {
                      KSTROKE_TSAN_ACQUIRE(&fork);
                      const int32_t thread =
                          std::this_thread::get_id() == caller
                              ? 0
                              : 1 + tbb::this_task_arena::current_thread_index();
                      for (int32_t i = range.begin(); i != range.end(); ++i) {
                        if (result.load(std::memory_order_relaxed) != 0) break;
                        if (int32_t rc = RunOne(routine, context, thread, i)) {
                          int32_t expected = 0;
                          result.compare_exchange_strong(expected, rc);
                          break;
                        }
                      }
                      GX_StreamFence();  // this thread's streamed pixels, before the join
                      KSTROKE_TSAN_RELEASE(&join);
                    });
  KSTROKE_TSAN_ACQUIRE(&join);
  return result.load();
}

int32_t GX_IterateGeneric_Static(int32_t count, void* context, GX_IterateRoutine routine) {
  if (!routine || count < 0) return GX_Err_BadArgument;
  int32_t rc = 0;
  for (int32_t i = 0; i < count && rc == 0; ++i) rc = RunOne(routine, context, 0, i);
  GX_StreamFence();
  return rc;
}
