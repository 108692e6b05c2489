// SPDX-License-Identifier: MIT
// The kstroke program as a user meets it: exit statuses and one-line messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "app_test_support.h"
#include "host/gx/gx_png.h"

namespace {

namespace fs = std::filesystem;

TEST(Cli, BadInputEndsWithOneLineAndAStatus) {
  const std::string dir = NewFolder("cli");
  WriteText(dir + "/bad.json", R"({"strokes": [{"events": [{"t": 0, "x": 2e400, "y": 0}]}]})");
  WriteText(dir + "/unknown.json", R"({"brush": {"diamter": 3}, "strokes": []})");
  const std::string help = "\nRun with --help for more information.\n";
  ExpectRefusals({
      {"missing file", "render /nonexistent/s.json -o x.png", 1,
       "kstroke render: /nonexistent/s.json: cannot open file: No such file or directory\n"},
      {"malformed json", "render " + dir + "/bad.json -q -o x.png", 1,
       "kstroke render: " + dir + "/bad.json: strokes[0].events[0].x: not valid JSON: number "
       "overflow parsing '2e400'\n"},
      {"unknown field", "render " + dir + "/unknown.json -q -o x.png", 1,
       "kstroke render: " + dir + "/unknown.json: brush.diamter: unknown field\n"},
      {"unwritable output", "render " + Example("fill.json") + " -q -o /nonexistent/x.png", 1,
       "kstroke render: /nonexistent/x.png: ", true},
      {"outline out of range", "outline --hardness 1.5 -o " + dir + "/o.png", 1,
       "kstroke outline: --hardness 1.5 is outside 0..1\n"},
      {"no subcommand", "", 2, "A subcommand is required" + help},
      {"unknown mirror", "render -q --mirror sideways -o x.png", 2,
       "--mirror: sideways not in {none,vertical,horizontal,both}" + help},
  });
  EXPECT_FALSE(fs::exists("/nonexistent/x.png.part"));
}

TEST(Cli, TablesPrintsTheBuiltInStrokeOrAFilesStrokes) {
  const ProgramRun builtIn = Ran("tables");
  EXPECT_EQ(builtIn.out.rfind("built-in stroke: strokes[0]: 47 segment(s), duration 0.783333\n", 0), 0u) << builtIn.out;
  EXPECT_NE(builtIn.out.find("off (forced tip)"), std::string::npos);
  const ProgramRun file = Ran("tables " + Example("ellipse.json"));
  EXPECT_NE(file.out.find(Example("ellipse.json") + ": strokes[1]: 79 segment(s)"), std::string::npos)
      << file.out;
}

TEST(Cli, BrushesAreListedAndDrawn) {
  const ProgramRun list = Ran("brushes");
  EXPECT_NE(list.out.find("ink          An ink pen"), std::string::npos) << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 12);
  const std::string sheet = TestScratchDir() + "sheet.png";
  Ran("brushes -q --sheet " + sheet);
  int32_t w = 0, h = 0;
  ASSERT_EQ(GX_ReadPngSize(sheet.c_str(), &w, &h), 0);
  EXPECT_EQ(std::pair(w, h), std::pair(800, 6 * 130));
}

TEST(Cli, OptionsPaintAsTheSameFieldsInTheFile) {
  // Each option over every stroke draws what the field written into the description
  // draws.
  const struct {
    std::string options, key, value;
  } kCases[] = {
      {"--brush ink", "brush", "\"ink\""},
      {"--smoothing curve --stabiliser 0.5", "brush", R"({"smoothing": "curve", "stabiliser": 0.5})"},
      {"--mirror both --rotate 3 --centre 0.4,0.6", "symmetry",
       R"({"mirror": "both", "rotate": 3, "centre": [0.4, 0.6]})"},
  };
  const std::string a = TestScratchDir() + "by_option.png", b = TestScratchDir() + "by_field.png";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.options);
    nlohmann::json doc = nlohmann::json::parse(SlurpFile(Example("fill.json")));
    if (c.value[0] == '{')
      doc[c.key].update(nlohmann::json::parse(c.value));
    else
      doc[c.key] = nlohmann::json::parse(c.value);
    WriteText(TestScratchDir() + "field.json", doc.dump());
    Ran("render -q " + Example("fill.json") + " " + c.options + " -o " + a);
    Ran("render -q " + TestScratchDir() + "field.json -o " + b);
    EXPECT_TRUE(SlurpFile(a) == SlurpFile(b)) << "the option and the field paint differently";
    EXPECT_FALSE(SlurpFile(a) == SlurpFile(KSTROKE_GOLDEN_DIR "/render/fill.png")) << "the option changed nothing";
  }
}

TEST(Cli, VerboseGoesBeforeOrAfterTheCommand) {
  for (const char* args : {"-v render -q -o", "render -q -v -o"}) {
    SCOPED_TRACE(args);
    const ProgramRun r = Ran(std::string(args) + " " + TestScratchDir() + "v.png " + Example("fill.json"));
    EXPECT_NE(r.err.find("[K] RenderTips: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[kstroke] Stroke: " + Example("fill.json") +
                         ": strokes[0]: 90 events, 90 vertices, 23 render calls; "),
              std::string::npos)
        << r.err;
  }
}

}  // namespace
