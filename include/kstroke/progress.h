// SPDX-License-Identifier: MIT
/// @file
/// ProgressSubRange: divides the host's progress range into equal steps for the length
/// of one scope.
///
/// While open, the host record's context points at the sub-range and its callbacks at
/// forwarders, so anything that reports through the record lands inside the current
/// step: a report (done d, total t) reaches the saved callback as (step·t + d, count·t),
/// in 32-bit wrap-around arithmetic. Sub-ranges nest because each saves whatever the
/// record held when it opened. The record is restored on every exit, exceptions too.
#pragma once

#include <cstdint>

#include "host/gx/gx.h"
#include "kstroke/kstroke_export.h"

/// Divides the host's progress range into equal steps for the length of one scope.
class KSTROKE_API ProgressSubRange {
public:
  /// Opens a range of `count` steps on `record` (may be null: then nothing is patched
  /// or reported).
  ProgressSubRange(GX_ProgressInfo* record, int32_t count);
  /// Closes: reports (count, count), ignores the answer, restores the record. Never throws.
  ~ProgressSubRange();
  ProgressSubRange(const ProgressSubRange&) = delete;
  ProgressSubRange& operator=(const ProgressSubRange&) = delete;

  /// Moves to step k (k ≤ count) and reports (k, count) to the saved callback; a
  /// non-zero answer is thrown as a long.
  void Advance(int32_t k);

  int32_t Step() const { return step; }    ///< the step reached, 0..Count()
  int32_t Count() const { return count; }  ///< the range's steps

private:
  static int32_t ForwardAbort(void* context);
  static int32_t ForwardProgress(void* context, int32_t done, int32_t total);

  GX_ProgressInfo* record;
  void* savedContext = nullptr;
  GX_AbortCheckProc savedAbort = nullptr;
  GX_ProgressProc savedProgress = nullptr;
  int32_t count;
  int32_t step = 0;
};
