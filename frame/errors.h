// SPDX-License-Identifier: MIT
// The engine's failure conventions.
//
// Failures are thrown as C++ `long` error codes. A failed check reports its message
// through Y_ReportFailedVerification (code 0, the line, no file) and throws 3; host
// calls answer 0 or a code that is thrown unchanged. Every throw goes through
// Kp_ThrowCode, so one breakpoint catches each error where it starts.
#pragma once

#include <cstdint>
#include <exception>

#include "host/y/y.h"

/// The engine's own code for a failed internal check.
constexpr long kK_ErrCheckFailed = 3;
/// A segment index outside the path.
constexpr long kK_ErrBadSegment = 10;
/// First argument of the depth checks' reports.
constexpr int32_t kK_DepthCheckReportCode = 2425831;

[[noreturn]] void Kp_ThrowCode(long code);
/// Reports `message` with `reportCode` and throws 3.
[[noreturn]] void Kp_FailCheck(int32_t reportCode, int line, const char* message);

#define KSTROKE_CHECK(cond, msg)                        \
  do {                                                  \
    if (!(cond)) Kp_FailCheck(0, __LINE__, (msg));      \
  } while (0)

#define KSTROKE_CHECK_CODE(cond, code, msg)             \
  do {                                                  \
    if (!(cond)) Kp_FailCheck((code), __LINE__, (msg)); \
  } while (0)

/// Throws a non-zero host result unchanged.
#define KSTROKE_HOST(expr)                                  \
  do {                                                      \
    const long kstrokeHostRc_ = static_cast<long>(expr);    \
    if (kstrokeHostRc_ != 0) Kp_ThrowCode(kstrokeHostRc_);  \
  } while (0)

/// Runs `body` at the boundary of a code-returning operation: answers 0, the thrown
/// long, or the code Y_TranslateAndReportException gives a std::exception.
template <class Body>
int32_t Kp_CatchAtBoundary(Body&& body) noexcept {
  try {
    body();
    return 0;
  } catch (long code) {
    return static_cast<int32_t>(code);
  } catch (const std::exception& e) {
    return Y_TranslateAndReportException(e);
  }
}
