// SPDX-License-Identifier: MIT
// Shared test helpers: a fixture that fails when tracked objects leak, and a progress
// recorder.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/gx/gx.h"
#include "host/y/y.h"
#include "kstroke/interact_renderer.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

namespace test_support_detail {

/// True when the processor can report which register state is in use (XGETBV 1) and
/// runs AVX (so VZEROUPPER exists).
inline bool CanWatchWideRegisters() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
  return __get_cpuid_count(0xD, 1, &a, &b, &c, &d) && (a & (1u << 2)) != 0;
#else
  return false;
#endif
}

}  // namespace test_support_detail

/// Runs `kernel` with the upper halves of the 256 and 512-bit registers clear and
/// answers whether it returned with them in use (XGETBV 1: the YMM_Hi128 and
/// ZMM_Hi256 state). Every SSE instruction after such a return pays, in the caller and
/// in other libraries alike. False where the processor cannot tell, and under
/// AddressSanitizer, whose memcpy and memset leave the state in use themselves.
template <class Kernel>
bool LeavesWideRegistersInUse(Kernel&& kernel) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_ADDRESS__)
  static const bool watch = test_support_detail::CanWatchWideRegisters();
  if (watch) __asm__ volatile("vzeroupper" ::: "memory");
  kernel();
  if (!watch) return false;
  uint32_t lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  (void)hi;
  return (lo & ((1u << 2) | (1u << 6))) != 0;
#else
  kernel();
  return false;
#endif
}

/// Sample (x, y) of a single-channel buffer of any depth, as a value of the depth.
inline double SampleOf(const GX_UnoBuffer& b, int32_t x, int32_t y) {
  if (b.GetDepth() == 8) return b.Row<uint8_t>(y)[x];
  if (b.GetDepth() == 16) return b.Row<uint16_t>(y)[x];
  return b.Row<float>(y)[x];
}

/// Stores `s`, a value of `depth` rounded to its sample type, as sample `i` from `at`.
inline void StoreSample(void* at, int i, int depth, double s) {
  if (depth == 8) static_cast<uint8_t*>(at)[i] = uint8_t(std::lround(s));
  if (depth == 16) static_cast<uint16_t*>(at)[i] = uint16_t(std::lround(s));
  if (depth == 32) static_cast<float*>(at)[i] = float(s);
}

/// Records every (done, total) report and can answer a chosen code at report n.
struct ProgressRecorder {
  std::vector<std::pair<int32_t, int32_t>> reports;
  long failAt = -1;       ///< index of the report that answers `failCode`
  int32_t failCode = 0;

  ProgressRecorder() = default;
  /// Answers `code` at report `at` (0 the first).
  ProgressRecorder(long at, int32_t code) : failAt(at), failCode(code) {}

  GX_ProgressInfo Record() {
    GX_ProgressInfo info;
    info.context = this;
    info.progress = &Callback;
    return info;
  }
  static int32_t Callback(void* context, int32_t done, int32_t total) {
    auto* self = static_cast<ProgressRecorder*>(context);
    self->reports.emplace_back(done, total);
    return long(self->reports.size() - 1) == self->failAt ? self->failCode : 0;
  }
};

/// Every test that creates engine or host objects derives from this: it checks that
/// the tracked allocator is back where it started.
class TrackedTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Tips renderers share with later ones are kept on purpose, not leaked.
    K_InteractRenderer::ReleaseSharedTips();
    liveAtStart = Y_MemTrackedObject::LiveObjects();
    bytesAtStart = Y_MemTrackedObject::LiveBytes();
    Y_ResetVerificationReports();
  }
  void TearDown() override {
    Y_MemTrackedObject::FailAllocationsAfter(-1);
    K_InteractRenderer::ReleaseSharedTips();
    EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), liveAtStart) << "tracked objects leaked";
    EXPECT_EQ(Y_MemTrackedObject::LiveBytes(), bytesAtStart) << "tracked bytes leaked";
  }
  std::size_t liveAtStart = 0;
  std::size_t bytesAtStart = 0;
};

/// A folder of this test process's own under the build folder, ending in '/'. ctest
/// runs tests as parallel processes, so files shared through /tmp would collide. The
/// folder goes when the process ends, unless KSTROKE_KEEP_TEST_FILES is set (to look
/// at what a failing test wrote).
inline const std::string& TestScratchDir() {
  struct Folder {
    Folder()
        : path(std::string(KSTROKE_BINARY_DIR) + "/test_out/scratch_" +
               std::to_string(getpid()) + "/") {
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      if (std::getenv("KSTROKE_KEEP_TEST_FILES")) return;
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    std::string path;
  };
  static const Folder folder;
  return folder.path;
}

/// Short rectangle and point constructors for host calls (left, top, right, bottom).
inline V_LRect L(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  V_LRect r;
  r.left = left;
  r.top = top;
  r.right = right;
  r.bottom = bottom;
  return r;
}
inline V_LPoint P(int32_t x, int32_t y) {
  V_LPoint p;
  p.x = x;
  p.y = y;
  return p;
}

/// Runs `f`, which must throw a long, and answers the code (or -1 when nothing was thrown).
template <class F>
long ThrownCode(F&& f) {
  try {
    f();
  } catch (long code) {
    return code;
  }
  return -1;
}

/// Runs `f` and answers the code of the `Error` it threw, or 0 when it threw nothing.
template <class Error, class F>
int32_t ErrorCodeOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  return 0;
}
