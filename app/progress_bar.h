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

#include "kstroke/kstroke.hpp"

class ConsoleProgress : public kstroke::Progress {
public:
  /// `label` heads the bar; `quiet` draws nothing (cancellation still works).
  ConsoleProgress(std::string label, bool quiet);
  ~ConsoleProgress() override;
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  /// The job is `count` units of work (render calls, say), none started yet.
  void Begin(int32_t count) override;
  /// Starts the next unit: reports from the engine fill its span. The bar only ever
  /// moves forward, however the reports within a unit go (the engine's phases each
  /// report from 0 again).
  void NextUnit() override;
  /// Moves the bar within the unit; false once a signal has arrived.
  bool Report(int32_t done, int32_t total) override;
  /// False once a signal has arrived.
  bool KeepGoing() override;
  /// Draws 100 % and ends the line.
  void End() override;

  /// Where the bar stands, 0..1.
  double Fraction() const { return shown; }

private:
  void Draw(double fraction);

  std::string label;
  bool draw;
  int32_t unit = -1;  ///< the unit under way; −1 before the first
  int32_t units = 1;
  int lastPermille = -1;
  double shown = 0;
};
