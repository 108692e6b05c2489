// SPDX-License-Identifier: MIT
// Outputs are written whole or not at all, through temporaries nobody can predict or
// redirect, and a signal leaves nothing behind.
#include "document/output_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(AtomicOutput, WritesWholeOrLeavesNothing) {
  const fs::path dir = NewFolder("atomic");
  const fs::path victim = dir / "victim.txt";
  WriteText(victim, "keep");
  const std::string longName(255, 'n');
  struct Case {
    const char* name;
    std::string destination;
    bool commit;
    std::string error;  ///< empty: the write succeeds (when committed)
  };
  const Case kCases[] = {
      {"new file", (dir / "a.txt").string(), true, ""},
      {"the longest name the folder allows", (dir / longName).string(), true, ""},
      {"a link is replaced, not followed", (dir / "link.txt").string(), true, ""},
      {"abandoned", (dir / "b.txt").string(), false, ""},
      {"missing folder", (dir / "no" / "c.txt").string(), true,
       (dir / "no" / "c.txt").string() + ": cannot create the output file: No such file or directory"},
      {"a folder in the way", (dir / "sub").string(), true,
       (dir / "sub").string() + ": cannot write the output file: Is a directory"},
  };
  fs::create_symlink(victim, dir / "link.txt");
  fs::create_directories(dir / "sub");
  const mode_t mask = umask(022);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      AtomicOutput out(c.destination);
      out.Write("hello");
      if (c.commit) out.Commit();
      EXPECT_EQ(c.error, "");
    } catch (const OutputError& e) {
      EXPECT_EQ(e.what(), c.error);
    }
    if (c.commit && c.error.empty()) {
      EXPECT_FALSE(fs::is_symlink(c.destination));
      EXPECT_EQ(SlurpFile(c.destination), "hello");
      EXPECT_EQ(fs::status(c.destination).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    } else if (c.error.empty()) {
      EXPECT_FALSE(fs::exists(c.destination));
    }
  }
  umask(mask);
  EXPECT_EQ(SlurpFile(victim), "keep");
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"a.txt", "link.txt", longName, "sub", "victim.txt"}));
}

TEST(OutputProgram, NeverWritesThroughALinkOrAPredictableName) {
  // Links where the output goes, and where an older program put its temporary.
  const fs::path dir = NewFolder("links");
  const fs::path victim = dir / "victim.png";
  WriteText(victim, "keep");
  fs::create_symlink(victim, dir / "o.png");
  fs::create_symlink(victim, dir / "o.png.part");
  fs::create_symlink(victim, dir / "s.kst.part");
  const std::string fill = Example("fill.json");
  Ran("render " + fill + " -q -o " + (dir / "o.png").string());
  Ran("save -q " + fill + " -o " + (dir / "s.kst").string());
  EXPECT_EQ(SlurpFile(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(dir / "o.png"));
  EXPECT_TRUE(SameImagePixels((dir / "o.png").string(), KSTROKE_GOLDEN_DIR "/render/fill.png"));
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"o.png", "o.png.part", "s.kst", "s.kst.part", "victim.png"}));
}

TEST(OutputProgram, SignalsCancelAndLeaveOnlyTheInput) {
  // A render of a few seconds; each signal arrives once the program handles it, and
  // it exits by itself with 128 + the signal, its output not written.
  const fs::path dir = NewFolder("signals");
  std::string doc = R"({"canvas": {"width": 2000, "height": 2000, "depth": 16}, "batch": 1,
                        "brush": {"diameter": 150, "hardness": 0.3, "flow": 0.3},
                        "strokes": [{"events": [)";
  for (int i = 0; i < 3000; ++i)
    doc += (i ? "," : "") + std::string(R"({"t": )") + std::to_string(i) + R"(, "x": )" +
           std::to_string(0.5 + 0.4 * std::cos(i / 40.0)) + R"(, "y": )" +
           std::to_string(0.5 + 0.4 * std::sin(i / 70.0)) + "}";
  doc += "]}]}";
  WriteText(dir / "slow.json", doc);
  const std::string err = TestScratchDir() + "signals_stderr.txt";
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    RunningKstroke run({"render", (dir / "slow.json").string(), "-q", "-o", (dir / "out.png").string()}, err);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.Catches(signal));
    usleep(200000);
    run.Signal(signal);
    EXPECT_EQ(run.Wait(), 128 + signal);
    EXPECT_FALSE(run.killed) << "the program did not handle the signal";
    EXPECT_EQ(SlurpFile(err), "kstroke render: cancelled; " + (dir / "out.png").string() + " not written\n");
    EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"slow.json"}));
  }
}

}  // namespace
