// SPDX-License-Identifier: MIT
// The program's progress bar: one bar for the whole job, and signals as its answer.
#include "app/progress_bar.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <vector>

#include "app/signals.h"
#include "document/progress_records.h"
#include "document/render_document.h"
#include "test_support.h"

namespace {

TEST(ProgressBar, OnlyMovesForwardOverTheWholeJob) {
  // 120 events in calls of 4: 30 units. Each call's phases report from 0 again; the
  // bar holds, and reaches the end only with the last call.
  struct Spy : kstroke::Progress {
    explicit Spy(ConsoleProgress* bar_) : bar(bar_) {}
    void Begin(int32_t units) override { bar->Begin(units); }
    void NextUnit() override { bar->NextUnit(); }
    bool Report(int32_t done, int32_t total) override {
      const bool go = bar->Report(done, total);
      seen.push_back(bar->Fraction());
      return go;
    }
    void End() override { bar->End(); }
    ConsoleProgress* bar;
    std::vector<double> seen;
  };
  ConsoleProgress bar("test", true);
  Spy spy(&bar);
  RenderDocument(LoadStrokeDoc(KSTROKE_SOURCE_DIR "/examples/pressure.json"), &spy);
  ASSERT_GT(spy.seen.size(), 100u);
  for (size_t i = 1; i < spy.seen.size(); ++i) ASSERT_GE(spy.seen[i], spy.seen[i - 1]) << i;
  EXPECT_LT(spy.seen[spy.seen.size() / 2], 0.75);
  EXPECT_GT(spy.seen[spy.seen.size() / 2], 0.25);
  EXPECT_GE(spy.seen.back(), 29.0 / 30);
  EXPECT_EQ(bar.Fraction(), 1.0);
}

TEST(ProgressBar, ASignalStopsTheRenderAndTheWrite) {
  const std::filesystem::path folder = std::filesystem::path(TestScratchDir()) / "signalled";
  std::filesystem::create_directories(folder);
  InstallCancelSignals();
  ConsoleProgress progress("test", true);
  const StrokeDoc doc = LoadStrokeDoc(KSTROKE_SOURCE_DIR "/examples/fill.json");
  const std::unique_ptr<GX_World> drawn = RenderDocument(doc, &progress);
  std::raise(SIGTERM);
  ASSERT_TRUE(CancelRequested());
  EXPECT_EQ(CancelledStatus(), 143);
  EXPECT_FALSE(progress.KeepGoing());
  EXPECT_EQ(ThrownCode([&] { RenderDocument(doc, &progress); }), GX_Err_Cancelled);
  ProgressRecords records(&progress);
  EXPECT_EQ(ThrownCode([&] {
              WriteCanvas(*drawn, GX_ColourEncoding::kSrgb,
                          ChooseOutput((folder / "o.png").string()), records.CancelOnly());
            }),
            GX_Err_Cancelled);
  ResetCancel();
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
