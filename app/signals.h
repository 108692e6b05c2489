// SPDX-License-Identifier: MIT
// Cancelling by signal. SIGINT (Ctrl-C), SIGTERM and SIGHUP only raise a flag; the
// work looks at it at its progress reports and before any output is renamed into
// place, stops by throwing long GX_Err_Cancelled, and the program exits with 128 + the
// signal's number, leaving no output behind. System calls restart after the handler,
// so a signal never turns into a spurious read or write error.
#pragma once

/// Installs the handler of the three signals (once per process; later calls do nothing).
void InstallCancelSignals();
/// True once one of the signals has arrived.
bool CancelRequested();
/// 128 + the first signal that arrived (130 when none has: Ctrl-C's).
int CancelledStatus();
/// Forgets an earlier signal (a host that goes on after cancelling one job).
void ResetCancel();
/// Throws long GX_Err_Cancelled when a signal has arrived.
void ThrowIfCancelled();
