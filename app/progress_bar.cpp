// SPDX-License-Identifier: MIT
#include "app/progress_bar.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <stdexcept>

namespace {
volatile std::sig_atomic_t gInterrupted = 0;
void OnSigint(int) { gInterrupted = 1; }
}  // namespace

ConsoleProgress::ConsoleProgress(std::string label_, bool quiet)
    : label(std::move(label_)), draw(!quiet && isatty(STDERR_FILENO)) {
  record.context = this;
  record.progress = &OnProgress;
  record.abortCheck = &OnAbort;
}

ConsoleProgress::~ConsoleProgress() {
  if (draw && lastPermille >= 0 && lastPermille < 1000) std::fputc('\n', stderr);
}

void ConsoleProgress::SetUnit(int32_t index, int32_t count) {
  unit = index;
  units = count > 0 ? count : 1;
  Draw(double(unit) / units);
}

void ConsoleProgress::Finish() {
  Draw(1.0);
}

bool ConsoleProgress::Cancelled() { return gInterrupted != 0; }

void ConsoleProgress::ResetCancelled() { gInterrupted = 0; }

void ConsoleProgress::InstallSignalHandler() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction sa {};
  sa.sa_handler = &OnSigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

int32_t ConsoleProgress::OnProgress(void* context, int32_t done, int32_t total) {
  auto* self = static_cast<ConsoleProgress*>(context);
  if (gInterrupted) return GX_Err_Cancelled;
  double f = total > 0 ? double(done) / double(total) : 0.0;
  f = f < 0 ? 0 : (f > 1 ? 1 : f);
  self->Draw((self->unit + f) / self->units);
  return 0;
}

int32_t ConsoleProgress::OnAbort(void*) { return gInterrupted ? GX_Err_Cancelled : 0; }

void ConsoleProgress::Draw(double fraction) {
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

AtomicOutput::AtomicOutput(std::string path_) : path(std::move(path_)) {
  temp = path + ".part";
}

AtomicOutput::~AtomicOutput() {
  if (!committed) std::remove(temp.c_str());
}

void AtomicOutput::Commit() {
  if (std::rename(temp.c_str(), path.c_str()) != 0)
    throw std::runtime_error(path + ": cannot write the output file");
  committed = true;
}
