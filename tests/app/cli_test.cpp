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

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct ProgramRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path Scratch() { return fs::path(TestScratchDir()); }

ProgramRun Kstroke(const std::string& args) {
  static int serial = 0;
  const std::string tag = std::to_string(serial++);
  const fs::path out = Scratch() / ("stdout_" + tag), err = Scratch() / ("stderr_" + tag);
  const std::string cmd = std::string(KSTROKE_BINARY_DIR "/kstroke ") + args + " >" +
                          out.string() + " 2>" + err.string() + " </dev/null";
  const int raw = std::system(cmd.c_str());
  ProgramRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  fs::remove(out);
  fs::remove(err);
  return r;
}

std::string Example(const char* f) { return std::string(KSTROKE_SOURCE_DIR "/examples/") + f; }

TEST(Cli, BadInputEndsWithOneLineAndAStatus) {
  const fs::path bad = Scratch() / "bad.json";
  std::ofstream(bad) << R"({"strokes": [{"events": [{"t": 0, "x": 2e400, "y": 0}]}]})";
  const fs::path unknown = Scratch() / "unknown.json";
  std::ofstream(unknown) << R"({"brush": {"diamter": 3}, "strokes": []})";
  struct Case { const char* name; std::string args; int status; std::string err; };
  const Case cases[] = {
      {"missing file", "render /nonexistent/s.json -o x.png", 1,
       "kstroke render: /nonexistent/s.json: cannot open file\n"},
      {"malformed json", "render " + bad.string() + " -q -o x.png", 1,
       "kstroke render: " + bad.string() + ": not valid JSON: "},
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
    const ProgramRun r = Kstroke(c.args);
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
  const ProgramRun r = Kstroke("render " + Example("fill.json") + " -q -o " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + ".part"));
  // The same pixels as the golden render (PNG files of equal pixels may differ only in
  // compression, and ours are written by one writer: compare bytes).
  EXPECT_EQ(Slurp(out), Slurp(fs::path(KSTROKE_GOLDEN_DIR) / "render" / "fill.png"));
}

TEST(Cli, TablesPrintsTheDefaultStroke) {
  const ProgramRun r = Kstroke("tables");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("duration 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("off (forced tip)"), std::string::npos) << r.out;
}

}  // namespace
