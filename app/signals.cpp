// SPDX-License-Identifier: MIT
#include "app/signals.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

#include "host/y/errors.h"

namespace {
// The number of the first cancelling signal, 0 before one arrives.
volatile std::sig_atomic_t gSignal = 0;
void OnSignal(int signal) {
  if (gSignal == 0) gSignal = signal;
}
}  // namespace

void InstallCancelSignals() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &sa, nullptr);
}

bool CancelRequested() { return gSignal != 0; }

int CancelledStatus() { return 128 + (gSignal ? int(gSignal) : SIGINT); }

void ResetCancel() { gSignal = 0; }

void ThrowIfCancelled() {
  if (gSignal) throw long(GX_Err_Cancelled);
}
