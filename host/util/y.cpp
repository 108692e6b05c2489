// SPDX-License-Identifier: MIT
// Tracked allocator, verification reports, exception translation, byte swaps.
#include "host/y/y.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "host/jot/jot.h"

namespace {

// Each block carries its size in front so delete can subtract it; the header keeps
// the payload aligned for any type.
struct alignas(std::max_align_t) BlockHeader {
  std::size_t size;
};

std::atomic<std::size_t> gLiveObjects{0};
std::atomic<std::size_t> gLiveBytes{0};
std::atomic<long> gFailAfter{-1};

// One per thread: a render failing on one thread must not change what another thread
// reads back about its own failure.
thread_local Y_VerificationReport gLastReport;

bool ShouldFail() noexcept {
  long n = gFailAfter.load();
  while (n >= 0) {
    if (n == 0) return true;
    if (gFailAfter.compare_exchange_weak(n, n - 1)) return false;
  }
  return false;
}

}  // namespace

void* Y_MemTrackedObject::Allocate(std::size_t size) noexcept {
  if (ShouldFail()) return nullptr;
  void* raw = std::malloc(sizeof(BlockHeader) + size);
  if (!raw) return nullptr;
  static_cast<BlockHeader*>(raw)->size = size;
  gLiveObjects.fetch_add(1);
  gLiveBytes.fetch_add(size);
  return static_cast<BlockHeader*>(raw) + 1;
}

void Y_MemTrackedObject::Free(void* p) noexcept {
  if (!p) return;
  BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
  gLiveObjects.fetch_sub(1);
  gLiveBytes.fetch_sub(h->size);
  std::free(h);
}

void* Y_MemTrackedObject::operator new(std::size_t size) noexcept { return Allocate(size); }
void Y_MemTrackedObject::operator delete(void* p) noexcept { Free(p); }
void* Y_MemTrackedObject::operator new[](std::size_t size) noexcept { return Allocate(size); }
void Y_MemTrackedObject::operator delete[](void* p) noexcept { Free(p); }

std::size_t Y_MemTrackedObject::LiveObjects() noexcept { return gLiveObjects.load(); }
std::size_t Y_MemTrackedObject::LiveBytes() noexcept { return gLiveBytes.load(); }
void Y_MemTrackedObject::FailAllocationsAfter(long n) noexcept { gFailAfter.store(n); }

void Y_ReportFailedVerification(int32_t code, int32_t line, const char* file,
                                const char* message) {
  gLastReport.code = code;
  gLastReport.line = line;
  gLastReport.file = file ? file : "";
  gLastReport.message = message ? message : "";
  ++gLastReport.count;
  JOT_Log(1, "Y", "Verify", gLastReport.message.c_str());
}

const Y_VerificationReport& Y_LastVerificationReport() noexcept { return gLastReport; }

void Y_ResetVerificationReports() noexcept { gLastReport = Y_VerificationReport(); }

int32_t Y_TranslateAndReportException(const std::exception& e) {
  int32_t code = Y_Err_Generic;
  if (dynamic_cast<const std::bad_alloc*>(&e)) code = Y_Err_OutOfMemory;
  else if (dynamic_cast<const std::length_error*>(&e)) code = Y_Err_Length;
  else if (dynamic_cast<const std::out_of_range*>(&e)) code = Y_Err_Range;
  else if (dynamic_cast<const std::invalid_argument*>(&e)) code = Y_Err_InvalidArg;
  JOT_Log(1, "Y", "Exception", e.what());
  return code;
}

void Y_FpShortSwap(float* value) noexcept {
  unsigned char b[4];
  std::memcpy(b, value, 4);
  const unsigned char r[4] = {b[3], b[2], b[1], b[0]};
  std::memcpy(value, r, 4);
}

void Y_FpLongSwap(double* value) noexcept {
  unsigned char b[8];
  std::memcpy(b, value, 8);
  unsigned char r[8];
  for (int i = 0; i < 8; ++i) r[i] = b[7 - i];
  std::memcpy(value, r, 8);
}
