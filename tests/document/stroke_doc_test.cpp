// SPDX-License-Identifier: MIT
#include "document/stroke_doc.h"

#include <gtest/gtest.h>

#include "document/brush_presets.h"

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
  EXPECT_TRUE(s.brush.dynamics == DefaultDynamics());
  EXPECT_EQ(s.brush.smoothing, "none");
  EXPECT_EQ(s.brush.stabiliser, 0.0);
  EXPECT_TRUE(s.symmetry == DocSymmetry());
  EXPECT_EQ(s.source.colour, (std::array<double, 4>{{0, 0, 0, 1}}));
  EXPECT_EQ(doc.background, (std::array<double, 4>{{1, 1, 1, 1}}));
  ASSERT_EQ(s.events.size(), 1u);
  EXPECT_FALSE(s.events[0].params);
  EXPECT_FALSE(s.events[0].pressure);
  EXPECT_EQ(s.events[0].tiltX, 0.0);
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
  EXPECT_EQ(doc.background, (std::array<double, 4>{{1, 0, 0, 0}}));  // red, see-through
  EXPECT_EQ(doc.strokes[0].channels, "colour");
  EXPECT_EQ(doc.strokes[0].transfer, "multiply");
  const DocStroke& b = doc.strokes[1];
  EXPECT_EQ(b.brush.diameter, 12);   // inherited
  EXPECT_EQ(b.brush.hardness, 0.5);  // inherited
  EXPECT_EQ(b.brush.roundness, 0.3); // own
  EXPECT_EQ(b.channels, "alpha");
  EXPECT_EQ(b.seed, 9);
  EXPECT_EQ(b.source.colour, (std::array<double, 4>{{1, 0.5, 0, 1}}));
  EXPECT_EQ(b.events[0].pressure, 0.5);
  EXPECT_FALSE(b.events[0].params);
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
      {"both inputs and params",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0,"tiltX":10,"params":[1,1,1,1,1]}]}]})",
       "f.json: strokes[0].events[0].params: give either params or the pointer's inputs "
       "(pressure, tiltX, tiltY, twist), not both"},
      {"time not after the one before",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0}, {"t":1,"x":1,"y":0}, {"t":1,"x":0,"y":1}]}]})",
       "f.json: strokes[0].events[2].t: expected a time after 1.0 (the event before), got 1.0"},
      {"time going back",
       R"({"strokes": [{"events": [{"t":0.5,"x":0,"y":0}, {"t":0.25,"x":1,"y":0}]}]})",
       "f.json: strokes[0].events[1].t: expected a time after 0.5 (the event before), got 0.25"},
      {"tilt past the pen's",
       R"({"strokes": [{"events": [{"t":0,"x":0,"y":0,"tiltX":95}]}]})",
       "f.json: strokes[0].events[0].tiltX: expected a number from -90 to 90, got 95"},
      {"unknown input", R"({"brush": {"dynamics": {"flow": {"input": "speeed", "curve": [[0, 1]]}}}, "strokes": []})",
       "f.json: brush.dynamics.flow.input: unknown value \"speeed\" (one of: pressure, tiltX, tiltY, twist, speed, direction, random)"},
      {"unknown factor", R"({"brush": {"dynamics": {"size": {"input": "speed", "curve": [[0, 1]]}}}, "strokes": []})",
       "f.json: brush.dynamics.size: unknown field"},
      {"curve missing", R"({"brush": {"dynamics": {"flow": [{"input": "speed"}]}}, "strokes": []})",
       "f.json: brush.dynamics.flow[0].curve: missing (points [input, factor])"},
      {"nine points", R"({"brush": {"dynamics": {"flow": {"input": "pressure", "curve": [[0,1],[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1]]}}}, "strokes": []})",
       "f.json: brush.dynamics.flow.curve: expected 1 to 8 points [input, factor], got [[0,1],[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1]]"},
      {"x not increasing", R"({"brush": {"dynamics": {"angle": {"input": "twist", "curve": [[0, 0], [90, 1], [90, 2]]}}}, "strokes": []})",
       "f.json: brush.dynamics.angle.curve[2][0]: expected a number above 90, got 90"},
      {"smoothing", R"({"brush": {"smoothing": "spline"}, "strokes": []})",
       "f.json: brush.smoothing: unknown value \"spline\" (one of: none, curve)"},
      {"stabiliser of 1", R"({"brush": {"stabiliser": 1}, "strokes": []})",
       "f.json: brush.stabiliser: expected a number from 0 to 0.99, got 1"},
      {"mirror", R"({"symmetry": {"mirror": "diagonal"}, "strokes": []})",
       "f.json: symmetry.mirror: unknown value \"diagonal\" (one of: none, vertical, horizontal, both)"},
      {"no copies", R"({"symmetry": {"rotate": 0}, "strokes": []})",
       "f.json: symmetry.rotate: expected 1 to 64, got 0"},
      {"short hex colour", R"({"source": {"colour": "#12345"}, "strokes": []})",
       "f.json: source.colour: expected [r, g, b], [r, g, b, a] or \"#rrggbb\", got \"#12345\""},
      {"two components", R"({"canvas": {"background": [1, 1]}, "strokes": []})",
       "f.json: canvas.background: expected [r, g, b], [r, g, b, a] or \"#rrggbb\", got [1,1]"},
      {"background past 1", R"({"canvas": {"background": [1, 1, 2]}, "strokes": []})",
       "f.json: canvas.background[2]: expected a number from 0 to 1, got 2"},
      {"unknown preset", R"({"brush": "crayon", "strokes": []})",
       "f.json: brush: unknown brush preset \"crayon\" (one of: airbrush, brush-pen, calligraphy, chalk, clone, ink, marker, pastel, pencil, round, soft-eraser, watercolour)"},
      {"unknown preset in an object", R"({"strokes": [{"brush": {"preset": "crayon"}, "events": [{"t":0,"x":0,"y":0}]}]})",
       "f.json: strokes[0].brush.preset: unknown brush preset \"crayon\" (one of: airbrush, "},
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
  const StrokeDoc a = ParseStrokeDoc(R"({
    "canvas": {"background": "#336699cc"},
    "brush": {"preset": "chalk", "stabiliser": 0.25,
              "dynamics": {"angle": [{"input": "twist", "curve": [[0, 0], [360, 360]]},
                                     {"input": "random", "curve": [[0, -5], [1, 5]]}]}},
    "symmetry": {"mirror": "both", "rotate": 3, "centre": [0.4, 0.6]},
    "strokes": [{"source": {"colour": [0.1, 0.2, 0.3, 0.4]},
                 "events": [{"t": 0, "x": 0.1, "y": 0.2, "pressure": 0.3, "tiltX": -20,
                             "tiltY": 30, "twist": 90},
                            {"t": 1, "x": 0.5, "y": 0.5, "params": [0.6, 1, 0.7, 15, 0.9],
                             "spacing": false}]}]})", "rt.json");
  const StrokeDoc b = ParseStrokeDoc(StrokeDocToJson(a), "rt.json");
  EXPECT_EQ(StrokeDocToJson(a), StrokeDocToJson(b));
  const DocStroke& s = b.strokes[0];
  EXPECT_EQ(b.background[0], 0x33 / 255.0);
  EXPECT_EQ(b.background[3], 0xCC / 255.0);
  EXPECT_EQ(s.brush.diameter, 22);  // the preset's
  EXPECT_EQ(s.brush.stabiliser, 0.25);
  EXPECT_EQ(s.brush.dynamics.factors[3].size(), 2u);
  EXPECT_TRUE(s.brush.dynamics.factors[0].empty());  // a block replaces the preset's whole
  EXPECT_EQ(s.symmetry.rotate, 3);
  EXPECT_EQ(s.source.colour[3], 0.4);
  EXPECT_EQ(s.events[0].tiltY, 30);
  EXPECT_EQ(s.events[0].twist, 90);
  EXPECT_EQ(s.events[1].params, (std::array<float, 5>{{0.6f, 1, 0.7f, 15, 0.9f}}));
  EXPECT_FALSE(s.events[1].spacing);
}

TEST(StrokeDoc, PresetsGiveTheirBrushAndTransfer) {
  // Every preset parses; a name, an object naming one with overrides, and the eraser's
  // transfer, which a given transfer at the same level or the stroke's own replaces.
  for (const BrushPresetText& p : BrushPresetTexts()) {
    SCOPED_TRACE(p.name);
    EXPECT_NO_THROW(LoadBrush(p.name));
    EXPECT_STRNE(p.description, "");
  }
  const StrokeDoc doc = ParseStrokeDoc(R"({"transfer": "multiply", "strokes": [
      {"brush": "ink", "events": [{"t": 0, "x": 0, "y": 0}]},
      {"brush": {"preset": "ink", "diameter": 12}, "events": [{"t": 0, "x": 0, "y": 0}]},
      {"brush": "soft-eraser", "events": [{"t": 0, "x": 0, "y": 0}]},
      {"brush": "soft-eraser", "transfer": "normal", "events": [{"t": 0, "x": 0, "y": 0}]}]})",
                                       "p.json");
  const DocBrushPreset ink = LoadBrush("ink");
  EXPECT_EQ(doc.strokes[0].brush.diameter, ink.brush.diameter);
  EXPECT_TRUE(doc.strokes[0].brush.dynamics == ink.brush.dynamics);
  EXPECT_EQ(doc.strokes[0].brush.smoothing, "curve");
  EXPECT_EQ(doc.strokes[0].transfer, "multiply");
  EXPECT_EQ(doc.strokes[1].brush.diameter, 12);
  EXPECT_EQ(doc.strokes[1].brush.stabiliser, ink.brush.stabiliser);
  EXPECT_EQ(doc.strokes[2].transfer, "erase");
  EXPECT_EQ(doc.strokes[3].transfer, "normal");
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
