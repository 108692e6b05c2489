// SPDX-License-Identifier: MIT
#include "kstroke/progress.h"

#include "frame/errors.h"

ProgressSubRange::ProgressSubRange(GX_ProgressInfo* record_, int32_t count_)
    : record(record_), count(count_) {
  if (!record) return;
  savedContext = record->context;
  savedAbort = record->abortCheck;
  savedProgress = record->progress;
  record->context = this;
  record->abortCheck = &ForwardAbort;
  record->progress = &ForwardProgress;
}

ProgressSubRange::~ProgressSubRange() {
  step = count;
  if (!record) return;
  if (savedProgress) {
    try {
      (void)savedProgress(savedContext, count, count);
    } catch (...) {
      // A host callback that throws must not escape a destructor; the close ignores
      // the answer anyway.
    }
  }
  record->context = savedContext;
  record->abortCheck = savedAbort;
  record->progress = savedProgress;
}

void ProgressSubRange::Advance(int32_t k) {
  step = k;
  if (!record || !savedProgress) return;
  const int32_t rc = savedProgress(savedContext, k, count);
  if (rc != 0) Kp_ThrowCode(rc);
}

int32_t ProgressSubRange::ForwardAbort(void* context) {
  auto* self = static_cast<ProgressSubRange*>(context);
  return self->savedAbort ? self->savedAbort(self->savedContext) : 0;
}

int32_t ProgressSubRange::ForwardProgress(void* context, int32_t done, int32_t total) {
  auto* self = static_cast<ProgressSubRange*>(context);
  if (!self->savedProgress) return 0;
  // 32-bit arithmetic that wraps rather than overflowing into undefined behaviour.
  const auto mul = [](int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
  };
  const int32_t mapped = static_cast<int32_t>(static_cast<uint32_t>(mul(self->step, total)) +
                                              static_cast<uint32_t>(done));
  return self->savedProgress(self->savedContext, mapped, mul(self->count, total));
}
