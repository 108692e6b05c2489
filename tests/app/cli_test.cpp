// SPDX-License-Identifier: MIT
// The kstroke program as a user meets it: exit statuses and one-line messages.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "golden_support.h"
#include "program_support.h"

namespace {

namespace fs = std::filesystem;

fs::path Scratch() { return fs::path(TestScratchDir()); }

std::string Example(const char* f) { return std::string(KSTROKE_SOURCE_DIR "/examples/") + f; }

TEST(Cli, BadInputEndsWithOneLineAndAStatus) {
  const fs::path bad = Scratch() / "bad.json";
  std::ofstream(bad) << R"({"strokes": [{"events": [{"t": 0, "x": 2e400, "y": 0}]}]})";
  const fs::path unknown = Scratch() / "unknown.json";
  std::ofstream(unknown) << R"({"brush": {"diamter": 3}, "strokes": []})";
  struct Case { const char* name; std::string args; int status; std::string err; };
  const Case cases[] = {
      {"missing file", "render /nonexistent/s.json -o x.png", 1,
       "kstroke render: /nonexistent/s.json: cannot open file: No such file or directory\n"},
      {"malformed json", "render " + bad.string() + " -q -o x.png", 1,
       "kstroke render: " + bad.string() +
           ": strokes[0].events[0].x: not valid JSON: number overflow parsing '2e400'\n"},
      {"unknown field", "render " + unknown.string() + " -q -o x.png", 1,
       "kstroke render: " + unknown.string() + ": brush.diamter: unknown field\n"},
      {"unwritable output", "render " + Example("fill.json") + " -q -o /nonexistent/x.png", 1,
       "kstroke render: /nonexistent/x.png: "},
      {"outline out of range", "outline --hardness 150 -o " + (Scratch() / "o.png").string(), 1,
       "kstroke outline: --hardness 150 is outside 0..100\n"},
      {"no subcommand", "", 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun r = RunKstroke(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    if (c.status == 1) {
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "more than one line: " << r.err;
    }
  }
  EXPECT_FALSE(fs::exists("/nonexistent/x.png.part"));
}

TEST(Cli, RenderWritesThePictureAndNothingElse) {
  const fs::path out = Scratch() / "fill.png";
  fs::remove(out);
  const ProgramRun r = RunKstroke("render " + Example("fill.json") + " -q -o " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + ".part"));
  // The same pixels as the golden render.
  EXPECT_TRUE(SameImagePixels(out.string(), KSTROKE_GOLDEN_DIR "/render/fill.png"));
}

TEST(Cli, TablesPrintsTheDefaultStroke) {
  const ProgramRun r = RunKstroke("tables");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("duration 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("off (forced tip)"), std::string::npos) << r.out;
}

}  // namespace
