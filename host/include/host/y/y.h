// SPDX-License-Identifier: MIT
/// @file
/// Host utility library: tracked allocation, failed-verification reports, exception
/// translation and floating-point byte swaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "host/y/errors.h"

/// Base class whose class-level operators allocate through the tracked allocator.
///
/// Every live object and its bytes are counted, so tests can assert that nothing
/// leaked. `operator new` returns null instead of throwing when the allocator fails
/// (real exhaustion, or a failure injected with `FailAllocationsAfter`); callers of
/// `new` on a tracked class check the result.
class Y_MemTrackedObject {
public:
  /// Class-level allocation through Allocate and Free: `new` answers null when the
  /// allocator fails; `delete` of null does nothing.
  ///@{
  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;
  static void* operator new[](std::size_t size) noexcept;
  static void operator delete[](void* p) noexcept;
  ///@}

  virtual ~Y_MemTrackedObject() = default;

  /// Objects allocated and not yet freed, over all tracked classes.
  static std::size_t LiveObjects() noexcept;
  /// Bytes requested by those objects.
  static std::size_t LiveBytes() noexcept;
  /// Makes the allocator succeed `n` more times and then fail until reset with -1.
  static void FailAllocationsAfter(long n) noexcept;

  /// Raw tracked storage for records that are not objects (cache records, tables):
  /// `size` bytes aligned for any type, counted as one live object; null when the
  /// allocator fails.
  static void* Allocate(std::size_t size) noexcept;
  /// Releases storage from Allocate (null is accepted). Memory from anywhere else must
  /// not come here.
  static void Free(void* p) noexcept;
};

/// The last report made through Y_ReportFailedVerification on the calling thread.
struct Y_VerificationReport {
  int32_t code = 0;     ///< the code passed with the report (0 for a plain failed check)
  int32_t line = 0;     ///< source line of the check
  std::string file;     ///< source file of the check; "" when none was given
  std::string message;  ///< the one-line message; "" when none was given
  long count = 0;  ///< reports made since the last Y_ResetVerificationReports
};

/// Reports a failed check: remembers it and writes it to the log (level 1, module
/// "Y", event "Verify"). Returns; the caller decides what follows (the engine throws).
void Y_ReportFailedVerification(int32_t code, int32_t line, const char* file,
                                const char* message);
/// The calling thread's last report, for tests and for hosts that show it. Each thread
/// keeps its own, so concurrent renders never see each other's reports.
const Y_VerificationReport& Y_LastVerificationReport() noexcept;
/// Clears the calling thread's report (fields empty, count 0); other threads keep theirs.
void Y_ResetVerificationReports() noexcept;

/// A host error code for a standard exception, logged with its what() text.
/// bad_alloc → Y_Err_OutOfMemory, length_error → Y_Err_Length, out_of_range →
/// Y_Err_Range, invalid_argument → Y_Err_InvalidArg, anything else → Y_Err_Generic.
int32_t Y_TranslateAndReportException(const std::exception& e);

/// In-place byte reversal of a single- and a double-precision value (big-endian files).
///@{
void Y_FpShortSwap(float* value) noexcept;
void Y_FpLongSwap(double* value) noexcept;
///@}
