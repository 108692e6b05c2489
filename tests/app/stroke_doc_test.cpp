// SPDX-License-Identifier: MIT
#include "app/stroke_doc.h"

#include <gtest/gtest.h>

namespace {

const char* kMinimal = R"({"strokes": [{"events": [{"t": 0, "x": 0.1, "y": 0.2}]}]})";

TEST(StrokeDoc, DefaultsFillEverythingNotGiven) {
  const StrokeDoc doc = ParseStrokeDoc(kMinimal, "min.json");
  EXPECT_EQ(doc.width, 512);
  EXPECT_EQ(doc.depth, 8);
  ASSERT_EQ(doc.strokes.size(), 1u);
  const DocStroke& s = doc.strokes[0];
  EXPECT_EQ(s.brush.diameter, 30);
  EXPECT_EQ(s.transfer, "normal");
  EXPECT_EQ(s.channels, "all");
  EXPECT_EQ(s.seed, 1);
  ASSERT_EQ(s.events.size(), 1u);
  EXPECT_EQ(s.events[0].params, (std::array<float, 5>{{1, 1, 1, 0, 1}}));
  EXPECT_TRUE(s.events[0].spacing);
}

TEST(StrokeDoc, StrokeOverridesMergeOverDocumentDefaults) {
  const StrokeDoc doc = ParseStrokeDoc(R"({
    "canvas": {"width": 64, "height": 32, "depth": 16, "background": [1, 0, 0, 0]},
    "brush": {"diameter": 12, "hardness": 0.5},
    "source": {"type": "fill", "colour": [1, 0.5, 0]},
    "transfer": "multiply", "channels": "color",
    "strokes": [
      {"events": [{"t": 0, "x": 0, "y": 0}]},
      {"brush": {"roundness": 0.3}, "channels": "alpha", "seed": 9,
       "events": [{"t": 0, "x": 0, "y": 0, "pressure": 0.5, "spacing": false}]}
    ]})", "o.json");
  EXPECT_EQ(doc.height, 32);
  EXPECT_EQ(doc.depth, 16);
  EXPECT_EQ(doc.strokes[0].channels, "colour");
  EXPECT_EQ(doc.strokes[0].transfer, "multiply");
  const DocStroke& b = doc.strokes[1];
  EXPECT_EQ(b.brush.diameter, 12);   // inherited
  EXPECT_EQ(b.brush.hardness, 0.5);  // inherited
  EXPECT_EQ(b.brush.roundness, 0.3); // own
  EXPECT_EQ(b.channels, "alpha");
  EXPECT_EQ(b.seed, 9);
  EXPECT_EQ(b.source.colour[1], 0.5);
  // Pressure 0.5: diameter 0.2 + 0.4, flow 0.5, no extra angle, the rest 1.
  EXPECT_EQ(b.events[0].params, (std::array<float, 5>{{0.6f, 1.0f, 0.5f, 0.0f, 1.0f}}));
  EXPECT_FALSE(b.events[0].spacing);
}

TEST(StrokeDoc, BadInputNamesFileAndField) {
  struct Case { const char* name; std::string text; std::string message; };
  const Case cases[] = {
      {"not json", "{", "f.json: not valid JSON: parse error"},
      {"no strokes", "{}", "f.json: strokes: missing (a document needs at least one stroke)"},
      {"unknown top field", R"({"strokes": [{"events": [{"t":0,"x":0,"y":0}]}], "colour": 1})",
       "f.json: colour: unknown field"},
      {"unknown event field",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0,"presure":1}]}]})",
       "f.json: strokes[0].events[0].presure: unknown field"},
      {"canvas too large", R"({"canvas": {"width": 30001}, "strokes": []})",
       "f.json: canvas.width: expected 1 to 30000, got 30001"},
      {"bad depth", R"({"canvas": {"depth": 12}, "strokes": []})",
       "f.json: canvas.depth: expected 8, 16 or 32, got 12"},
      {"zero diameter",
       R"({"brush": {"diameter": 0}, "strokes": [{"events": [{"t":0,"x":0,"y":0}]}]})",
       "f.json: brush.diameter: expected a number above 0 up to 10000, got 0"},
      {"string number", R"({"strokes": [{"events": [{"t":"0","x":0,"y":0}]}]})",
       "f.json: strokes[0].events[0].t: expected a number, got \"0\""},
      {"pressure out of range",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0,"pressure":1.5}]}]})",
       "f.json: strokes[0].events[0].pressure: expected a number from 0 to 1, got 1.5"},
      {"both pressure and params",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0,"pressure":1,"params":[1,1,1,1,1]}]}]})",
       "f.json: strokes[0].events[0].params: give either pressure or params, not both"},
      {"unknown transfer",
       R"({"transfer": "glow", "strokes": [{"events": [{"t":0,"x":0,"y":0}]}]})",
       "f.json: transfer: unknown value \"glow\""},
      {"clone without image",
       R"({"source": {"type": "clone"}, "strokes": [{"events": [{"t":0,"x":0,"y":0}]}]})",
       "f.json: source.image: a clone source needs an image"},
      {"image name past the system's limit",
       R"({"source": {"type": "clone", "image": ")" + std::string(5000, 'i') +
           R"("}, "strokes": [{"events": [{"t":0,"x":0,"y":0}]}]})",
       "f.json: source.image: expected a file name of at most 4096 bytes, got \"" +
           std::string(56, 'i') + "…"},
      {"empty events", R"({"strokes": [{"events": []}]})",
       "f.json: strokes[0].events: expected a non-empty list of pointer events"},
      {"missing time", R"({"strokes": [{"events": [{"x":0,"y":0}]}]})",
       "f.json: strokes[0].events[0].t: missing (every event needs a time)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseStrokeDoc(c.text, "f.json");
      ADD_FAILURE() << "no error";
    } catch (const StrokeDocError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

TEST(StrokeDoc, JsonRoundTripKeepsEveryField) {
  const StrokeDoc a = DefaultStrokeDoc();
  const StrokeDoc b = ParseStrokeDoc(StrokeDocToJson(a), "rt.json");
  EXPECT_EQ(StrokeDocToJson(a), StrokeDocToJson(b));
  ASSERT_EQ(b.strokes[0].events.size(), a.strokes[0].events.size());
  EXPECT_EQ(b.strokes[0].events[5].x, a.strokes[0].events[5].x);
  EXPECT_FALSE(b.strokes[0].events[0].spacing);
}

TEST(StrokeDoc, MissingFileIsOneLine) {
  try {
    LoadStrokeDoc("/nonexistent/x.json");
    FAIL();
  } catch (const StrokeDocError& e) {
    EXPECT_STREQ(e.what(), "/nonexistent/x.json: cannot open file: No such file or directory");
  }
}

}  // namespace

namespace {

TEST(StrokeDoc, EveryExampleLoads) {
  struct Case { const char* file; int depth; size_t strokes; const char* source; };
  const Case cases[] = {
      {"fill.json", 8, 1, "fill"},   {"pressure.json", 8, 1, "fill"},
      {"ellipse.json", 8, 2, "fill"}, {"clone.json", 8, 1, "clone"},
      {"deep16.json", 16, 1, "fill"}, {"float32.json", 32, 2, "fill"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const StrokeDoc doc = LoadStrokeDoc(std::string(KSTROKE_SOURCE_DIR "/examples/") + c.file);
    EXPECT_EQ(doc.depth, c.depth);
    EXPECT_EQ(doc.strokes.size(), c.strokes);
    EXPECT_EQ(doc.strokes[0].source.type, c.source);
    EXPECT_GT(doc.strokes[0].events.size(), 50u);
  }
}

}  // namespace
