// SPDX-License-Identifier: MIT
// A kstroke::Progress as the engine's and the image readers' progress records.
#pragma once

#include "host/gx/gx.h"
#include "kstroke/kstroke.hpp"

class ProgressRecords {
public:
  /// `progress` may be null: then both records are null too, and nothing is asked.
  explicit ProgressRecords(kstroke::Progress* progress);
  ProgressRecords(const ProgressRecords&) = delete;
  ProgressRecords& operator=(const ProgressRecords&) = delete;

  /// For the engine: reports go to Report, and a false answer is GX_Err_Cancelled.
  GX_ProgressInfo* Record() { return progress ? &record : nullptr; }
  /// For image rows: only KeepGoing is asked.
  GX_ProgressInfo* CancelOnly() { return progress ? &cancelOnly : nullptr; }
  kstroke::Progress* Get() const { return progress; }

private:
  static int32_t OnReport(void* context, int32_t done, int32_t total);
  static int32_t OnKeepGoing(void* context, int32_t done, int32_t total);
  static int32_t OnAbort(void* context);

  kstroke::Progress* progress;
  GX_ProgressInfo record;
  GX_ProgressInfo cancelOnly;
};
