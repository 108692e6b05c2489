// SPDX-License-Identifier: MIT
// Progress on stderr and cancelling by signal, both through the engine's progress record.
//
// The engine reports (done, total) through GX_ProgressInfo; the callback here draws a
// bar when stderr is a terminal and answers GX_Err_Cancelled once SIGINT, SIGTERM or
// SIGHUP has arrived, which the engine throws at its next report, unwinding the render
// cleanly. Image reading and writing report through the same record row by row, so a
// signal stops them too (app/signals.h).
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
  /// A record that only answers whether to stop, for work whose progress the bar does
  /// not show (reading and writing images).
  GX_ProgressInfo* CancelOnly() { return &cancelOnly; }
  /// The job is `count` units of work (render calls, say), none started yet.
  void SetUnits(int32_t count);
  /// Starts the next unit: reports from the engine fill its span. The bar only ever
  /// moves forward, however the reports within a unit go (the engine's phases each
  /// report from 0 again).
  void StartUnit();
  /// Where the bar stands, 0..1.
  double Fraction() const { return shown; }
  /// Draws 100 % and ends the line.
  void Finish();

private:
  static int32_t OnProgress(void* context, int32_t done, int32_t total);
  static int32_t OnAbort(void* context);
  static int32_t OnCancelCheck(void* context, int32_t done, int32_t total);
  void Draw(double fraction);

  GX_ProgressInfo record;
  GX_ProgressInfo cancelOnly;
  std::string label;
  bool draw;
  int32_t unit = -1;  ///< the unit under way; −1 before the first
  int32_t units = 1;
  int lastPermille = -1;
  double shown = 0;
};
