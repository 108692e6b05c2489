// SPDX-License-Identifier: MIT
// The kstroke program as a user meets it: exit statuses and one-line messages.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "golden_support.h"
#include "host/gx/gx_png.h"
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
      {"outline out of range", "outline --hardness 1.5 -o " + (Scratch() / "o.png").string(), 1,
       "kstroke outline: --hardness 1.5 is outside 0..1\n"},
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

TEST(Cli, TablesPrintsTheBuiltInStrokeOrAFilesStrokes) {
  const ProgramRun builtIn = RunKstroke("tables");
  ASSERT_EQ(builtIn.status, 0) << builtIn.err;
  EXPECT_EQ(builtIn.out.rfind("built-in stroke: strokes[0]: 47 segment(s), duration 0.783333\n", 0),
            0u)
      << builtIn.out;
  EXPECT_NE(builtIn.out.find("off (forced tip)"), std::string::npos);
  const ProgramRun file = RunKstroke("tables " + Example("ellipse.json"));
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_NE(file.out.find(Example("ellipse.json") + ": strokes[1]: 79 segment(s)"), std::string::npos)
      << file.out;
}

TEST(Cli, BrushesAreListedAndDrawn) {
  const ProgramRun list = RunKstroke("brushes");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("ink          An ink pen"), std::string::npos) << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 12);
  const fs::path sheet = Scratch() / "sheet.png";
  const ProgramRun drawn = RunKstroke("brushes -q --sheet " + sheet.string());
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  int32_t w = 0, h = 0;
  ASSERT_EQ(GX_ReadPngSize(sheet.c_str(), &w, &h), 0);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 6 * 130);
}

TEST(Cli, OptionsPaintAsTheSameFieldsInTheFile) {
  // Each option over every stroke draws what the field written into the description
  // draws.
  const auto withField = [&](const std::string& key, const std::string& value) {
    nlohmann::json doc = nlohmann::json::parse(SlurpFile(Example("fill.json")));
    if (key == "brush" && value[0] == '{')
      doc["brush"].update(nlohmann::json::parse(value));
    else
      doc[key] = nlohmann::json::parse(value);
    const fs::path p = Scratch() / ("field_" + key + ".json");
    std::ofstream(p) << doc.dump();
    return p.string();
  };
  struct Case {
    std::string options, key, value;
  };
  const Case kCases[] = {
      {"--brush ink", "brush", "\"ink\""},
      {"--smoothing curve --stabiliser 0.5", "brush", R"({"smoothing": "curve", "stabiliser": 0.5})"},
      {"--mirror both --rotate 3 --centre 0.4,0.6", "symmetry",
       R"({"mirror": "both", "rotate": 3, "centre": [0.4, 0.6]})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options);
    const fs::path a = Scratch() / "by_option.png", b = Scratch() / "by_field.png";
    ASSERT_EQ(RunKstroke("render -q " + Example("fill.json") + " " + c.options + " -o " + a.string())
                  .status,
              0);
    const ProgramRun r = RunKstroke("render -q " + withField(c.key, c.value) + " -o " + b.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(SlurpFile(a) == SlurpFile(b)) << "the option and the field paint differently";
    EXPECT_FALSE(SlurpFile(a) == SlurpFile(KSTROKE_GOLDEN_DIR "/render/fill.png"))
        << "the option changed nothing";
  }
  const ProgramRun bad = RunKstroke("render -q --mirror sideways -o x.png");
  EXPECT_EQ(bad.status, 2);
}

TEST(Cli, VerboseGoesBeforeOrAfterTheCommand) {
  for (const char* args : {"-v render -q -o", "render -q -v -o"}) {
    SCOPED_TRACE(args);
    const ProgramRun r = RunKstroke(std::string(args) + " " + (Scratch() / "v.png").string() +
                                    " " + Example("fill.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[K] RenderTips: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[kstroke] Stroke: " + Example("fill.json") +
                         ": strokes[0]: 90 events, 90 vertices, 23 render calls; "),
              std::string::npos)
        << r.err;
  }
}

}  // namespace
