// SPDX-License-Identifier: MIT
// Progress on stderr and Ctrl-C, both through the engine's progress record.
//
// The engine reports (done, total) through GX_ProgressInfo; the callback here draws a
// bar when stderr is a terminal and answers GX_Err_Cancelled once SIGINT has arrived,
// which the engine throws at its next report, unwinding the render cleanly.
#pragma once

#include <cstdint>
#include <string>

#include "host/gx/gx.h"

class ConsoleProgress {
public:
  /// `label` heads the bar; `quiet` draws nothing (cancellation still works).
  ConsoleProgress(std::string label, bool quiet);
  ~ConsoleProgress();
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  /// The record to hand to the engine.
  GX_ProgressInfo* Record() { return &record; }
  /// Sets the outer position (unit `index` of `count`, e.g. stroke 2 of 5): reports
  /// from the engine fill the span of that unit.
  void SetUnit(int32_t index, int32_t count);
  /// Draws 100 % and ends the line.
  void Finish();

  /// True once Ctrl-C was pressed.
  static bool Cancelled();
  /// Installs the SIGINT handler (once per process).
  static void InstallSignalHandler();
  /// Forgets an earlier Ctrl-C (a host that goes on after cancelling one job).
  static void ResetCancelled();

private:
  static int32_t OnProgress(void* context, int32_t done, int32_t total);
  static int32_t OnAbort(void* context);
  void Draw(double fraction);

  GX_ProgressInfo record;
  std::string label;
  bool draw;
  int32_t unit = 0;
  int32_t units = 1;
  int lastPermille = -1;
};

/// Writes a file through a temporary name in the same folder and renames it into place
/// only on Commit, so an interrupted or failed run leaves no partial output.
class AtomicOutput {
public:
  explicit AtomicOutput(std::string path);
  ~AtomicOutput();  ///< removes the temporary unless committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  const std::string& TempPath() const { return temp; }
  /// Renames the temporary onto the final path; throws std::runtime_error on failure.
  void Commit();

private:
  std::string path;
  std::string temp;
  bool committed = false;
};
