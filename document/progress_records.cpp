// SPDX-License-Identifier: MIT
#include "document/progress_records.h"

#include "host/y/errors.h"

ProgressRecords::ProgressRecords(kstroke::Progress* progress_) : progress(progress_) {
  record.context = this;
  record.progress = &OnReport;
  record.abortCheck = &OnAbort;
  cancelOnly.context = this;
  cancelOnly.progress = &OnKeepGoing;
  cancelOnly.abortCheck = &OnAbort;
}

int32_t ProgressRecords::OnReport(void* context, int32_t done, int32_t total) {
  auto* self = static_cast<ProgressRecords*>(context);
  return self->progress->Report(done, total) ? 0 : GX_Err_Cancelled;
}

int32_t ProgressRecords::OnKeepGoing(void* context, int32_t, int32_t) {
  return static_cast<ProgressRecords*>(context)->progress->KeepGoing() ? 0 : GX_Err_Cancelled;
}

int32_t ProgressRecords::OnAbort(void* context) {
  return static_cast<ProgressRecords*>(context)->progress->KeepGoing() ? 0 : GX_Err_Cancelled;
}
