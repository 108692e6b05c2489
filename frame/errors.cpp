// SPDX-License-Identifier: MIT
#include "frame/errors.h"

void Kp_ThrowCode(long code) { throw code; }

void Kp_FailCheck(int32_t reportCode, int line, const char* message) {
  Y_ReportFailedVerification(reportCode, line, nullptr, message);
  Kp_ThrowCode(kK_ErrCheckFailed);
}
