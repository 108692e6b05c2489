// SPDX-License-Identifier: MIT
#include "app/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/signals.h"

ConsoleProgress::ConsoleProgress(std::string label_, bool quiet)
    : label(std::move(label_)), draw(!quiet && isatty(STDERR_FILENO)) {}

ConsoleProgress::~ConsoleProgress() {
  if (draw && lastPermille >= 0 && lastPermille < 1000) std::fputc('\n', stderr);
}

void ConsoleProgress::Begin(int32_t count) {
  units = count > 0 ? count : 1;
  unit = -1;
  shown = 0;
  Draw(0.0);
}

void ConsoleProgress::NextUnit() {
  if (unit + 1 < units) ++unit;
  Draw(double(unit) / units);
}

void ConsoleProgress::End() {
  Draw(1.0);
}

bool ConsoleProgress::Report(int32_t done, int32_t total) {
  if (CancelRequested()) return false;
  double f = total > 0 ? double(done) / double(total) : 0.0;
  f = f < 0 ? 0 : (f > 1 ? 1 : f);
  Draw((std::max(unit, 0) + f) / units);
  return true;
}

bool ConsoleProgress::KeepGoing() { return !CancelRequested(); }

void ConsoleProgress::Draw(double fraction) {
  if (fraction < shown) return;
  shown = fraction;
  if (!draw) return;
  const int permille = static_cast<int>(fraction * 1000.0 + 0.5);
  if (permille == lastPermille) return;
  lastPermille = permille;
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = 0;
  std::fprintf(stderr, "\r%s [%s] %5.1f%%", label.c_str(), bar, permille / 10.0);
  if (permille >= 1000) std::fputc('\n', stderr);
  std::fflush(stderr);
}
