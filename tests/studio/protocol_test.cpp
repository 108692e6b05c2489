// SPDX-License-Identifier: MIT
// The page's messages as the server reads them: what each carries, and the one-line
// error of every way a message can be wrong.
#include "app/studio/protocol.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"

#include <string>
#include <tuple>

namespace {

std::string ErrorOf(const std::string& data, bool binary = false) {
  return ErrorFrom<ProtocolError>([&] { ParseClientMessage(data, binary); });
}

std::string Image(const std::string& name, const std::string& bytes) {
  return "KSIM" + std::string(1, char(name.size())) + name + bytes;
}

TEST(StudioProtocol, MessagesCarryTheirFields) {
  const ClientMessage tool = ParseClientMessage(R"({"type": "tool",
    "brush": {"preset": "ink", "diameter": 12.5, "hardness": 0.5, "accumulate": "additive",
              "smoothing": "curve", "dither": true, "stabiliser": 0.4,
              "dynamics": {"diameter": [{"input": "pressure", "curve": [[0, 0.2], [1, 1]]},
                                        {"input": "speed", "curve": [[0, 1], [3000, 0.5]]}],
                           "angle": {"input": "tiltX", "curve": [[-90, 45]]}}},
    "colour": [0.1, 0.2, 0.3, 0.5], "transfer": "multiply", "channels": "colour",
    "source": "clone", "symmetry": {"mirror": "both", "rotate": 3, "centre": [0.25, 0.75]}})",
                                                false);
  EXPECT_EQ(tool.kind, MessageKind::kTool);
  const StudioTool& t = tool.tool;
  const StudioBrush& brush = t.brush;
  EXPECT_EQ(std::tuple(brush.preset, brush.diameter, brush.hardness, brush.additive, brush.curve, brush.dither,
                       brush.stabiliser),
            std::tuple("ink", 12.5, 0.5, true, true, true, 0.4));
  EXPECT_FALSE(brush.roundness.has_value()) << "fields not given keep the preset's";
  ASSERT_TRUE(brush.dynamics.has_value());
  ASSERT_EQ(brush.dynamics->size(), 3u);
  const StudioMapping &speed = (*brush.dynamics)[1], &angle = (*brush.dynamics)[2];
  EXPECT_EQ(std::tuple(speed.factor, speed.input, speed.curve[1][0]),
            std::tuple(kstroke::Factor::kDiameter, kstroke::Input::kSpeed, 3000.0f));
  EXPECT_EQ(std::tuple(angle.factor, angle.curve[0][1]), std::tuple(kstroke::Factor::kAngle, 45.0f));
  EXPECT_EQ(std::tuple(t.colour.blue, t.colour.alpha, t.transfer, t.channels, t.clone, t.mirror, t.rotate, t.centre[1]),
            std::tuple(0.3, 0.5, "multiply", "colour", true, "both", 3, 0.75));

  const ClientMessage samples = ParseClientMessage(
      R"({"type": "samples", "stroke": 4294967295, "seq": 2,
          "events": [[0, 0.5, 0.25, null, 0, 0, 0], [0.016, 0.5, 0.3, 0.7, -30, 45, 359]]})", false);
  EXPECT_EQ(std::tuple(samples.stroke, samples.seq, samples.events.size()), std::tuple(4294967295u, 2u, 2u));
  EXPECT_FALSE(samples.events[0].pressure.has_value()) << "a mouse: pressure 1";
  const kstroke::Event& e = samples.events.back();
  EXPECT_EQ(std::tuple(e.t, e.pressure, e.tiltX, e.tiltY, e.twist), std::tuple(0.016, 0.7, -30, 45, 359));

  const ClientMessage made = ParseClientMessage(
      R"({"type": "new", "width": 2048, "height": 20, "depth": 16, "background": [0, 0, 0, 0]})", false);
  EXPECT_EQ(std::tuple(made.width, made.depth, made.background.alpha), std::tuple(2048, kstroke::Depth::k16, 0));

  const ClientMessage image = ParseClientMessage(Image("a_b-1.png", "\x89PNG"), true);
  EXPECT_EQ(std::tuple(image.kind, image.name, image.bytes), std::tuple(MessageKind::kImage, "a_b-1.png", "\x89PNG"));
  EXPECT_EQ(ParseClientMessage(R"({"type": "save", "name": "my-doc.kst"})", false).name, "my-doc.kst");
  EXPECT_EQ(ParseClientMessage(R"({"type": "clonePoint", "x": 0.5, "y": -0.25})", false).y, -0.25);
  EXPECT_EQ(ParseClientMessage(R"({"type": "replay", "frames": 240})", false).frames, 240);
}

TEST(StudioProtocol, EveryWrongMessageGetsOneLineNamingTheField) {
  struct Case {
    const char* name;
    std::string data;
    bool binary;
    std::string error;
  };
  std::string deep(100, '[');
  std::string many = R"({"type": "samples", "stroke": 1, "seq": 0, "events": [)";
  for (int i = 0; i < 1001; ++i) many += std::string(i ? "," : "") + "[0,0,0,null,0,0,0]";
  many += "]}";
  const Case kCases[] = {
      {"not JSON", "{\"type\": ", false,
       "message: type: not valid JSON: parse error at line 1, column 10: syntax error while "
       "parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"too deep", deep, false, "message: [0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]"},
      {"a list", "[1]", false, "message: expected an object, got [1]"},
      {"no type", "{}", false, "message: missing field \"type\""},
      {"type not a string", R"({"type": 3})", false, "message.type: expected a string, got 3"},
      {"unknown type", R"({"type": "paint"})", false, "message.type: unknown message type \"paint\""},
      {"unknown field", R"({"type": "undo", "steps": 2})", false, "undo.steps: unknown field"},
      {"missing stroke", R"({"type": "begin"})", false, "begin: missing field \"stroke\""},
      {"negative stroke", R"({"type": "end", "stroke": -1})", false,
       "end.stroke: expected 0 to 4294967295, got -1"},
      {"fractional seq", R"({"type": "samples", "stroke": 1, "seq": 0.5, "events": []})", false,
       "samples.seq: expected a whole number, got 0.5"},
      {"short event", R"({"type": "samples", "stroke": 1, "seq": 0, "events": [[0, 0.5]]})", false,
       "samples.events[0]: expected [t, x, y, pressure, tiltX, tiltY, twist], got [0,0.5]"},
      {"text in an event",
       R"({"type": "samples", "stroke": 1, "seq": 0, "events": [[0, "a", 0, null, 0, 0, 0]]})", false,
       "samples.events[0][1]: expected a number, got \"a\""},
      {"too many events", many, false, "samples.events: expected at most 1000 events, got 1001"},
      {"depth", R"({"type": "new", "width": 10, "height": 10, "depth": 12})", false,
       "new.depth: expected 8, 16 or 32, got 12"},
      {"too wide", R"({"type": "new", "width": 30001, "height": 10})", false,
       "new.width: expected 1 to 30000, got 30001"},
      {"background", R"({"type": "new", "width": 1, "height": 1, "background": "#fff"})", false,
       "new.background: expected [red, green, blue, alpha], got \"#fff\""},
      {"path in a name", R"({"type": "save", "name": "../x.json"})", false,
       "save.name: expected a file name of letters, digits, '.', '_' and '-' ending in .json or "
       ".kst, got \"../x.json\""},
      {"export as a document", R"({"type": "export", "name": "x.json"})", false,
       "export.name: expected a file name of letters, digits, '.', '_' and '-' ending in .png, "
       ".exr, .tif or .tiff, got \"x.json\""},
      {"hidden file", R"({"type": "open", "name": ".x.json"})", false,
       "open.name: expected a file name of letters, digits, '.', '_' and '-' ending in .json or "
       ".kst, got \".x.json\""},
      {"no brush", R"({"type": "tool"})", false, "tool: missing field \"brush\""},
      {"brush field", R"({"type": "tool", "brush": {"size": 3}})", false,
       "tool.brush.size: unknown field"},
      {"brush value", R"({"type": "tool", "brush": {"diameter": "big"}})", false,
       "tool.brush.diameter: expected a number, got \"big\""},
      {"accumulate", R"({"type": "tool", "brush": {"accumulate": "wet"}})", false,
       "tool.brush.accumulate: expected one of build-up, additive, got \"wet\""},
      {"dynamics input", R"({"type": "tool", "brush": {"dynamics": {"flow": {"input": "pen", "curve": [[0, 1]]}}}})",
       false, "tool.brush.dynamics.flow.input: expected one of pressure, tiltX, tiltY, twist, speed, "
       "direction, random, got \"pen\""},
      {"dynamics factor", R"({"type": "tool", "brush": {"dynamics": {"size": []}}})", false,
       "tool.brush.dynamics.size: unknown field"},
      {"curve of nine", R"({"type": "tool", "brush": {"dynamics": {"flow": {"input": "speed",
        "curve": [[0,1],[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1]]}}}})", false,
       "tool.brush.dynamics.flow.curve: expected 1 to 8 [input, factor] points, got "
       "[[0,1],[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1]]"},
      {"five mappings", R"({"type": "tool", "brush": {"dynamics": {"flow": [1, 2, 3, 4, 5]}}})", false,
       "tool.brush.dynamics.flow: expected 1 to 4 mappings, got 5"},
      {"source", R"({"type": "tool", "brush": {}, "source": "smudge"})", false,
       "tool.source: expected one of fill, clone, got \"smudge\""},
      {"turns", R"({"type": "tool", "brush": {}, "symmetry": {"rotate": 65}})", false,
       "tool.symmetry.rotate: expected 1 to 64, got 65"},
      {"mirror", R"({"type": "tool", "brush": {}, "symmetry": {"mirror": "diagonal"}})", false,
       "tool.symmetry.mirror: expected one of none, vertical, horizontal, both, got \"diagonal\""},
      {"frames", R"({"type": "replay", "frames": 1})", false, "replay.frames: expected 2 to 240, got 1"},
      {"zoom", R"({"type": "outline", "zoom": 0})", false,
       "outline.zoom: expected a number from 0.01 to 100, got 0"},
      {"text too long", std::string(kMaxTextMessage + 1, ' '), false,
       "message: of 1048577 bytes, over the limit of 1048576"},
      {"binary without its mark", "PNG", true, "image: a binary message must start with \"KSIM\""},
      {"name cut short", "KSIM\x10" "abc", true, "image: cut short inside its name"},
      {"image name", Image("a/b.png", "x"), true,
       "image.name: expected a file name of letters, digits, '.', '_' and '-' ending in .png, "
       ".jpg, .jpeg, .tif, .tiff or .exr, got \"a/b.png\""},
      {"no bytes", Image("a.png", ""), true, "image: no image bytes after the name"},
      {"image too large", Image("a.png", std::string(kMaxImageMessage, 'x')), true,
       "image: a message of 33554442 bytes, over the limit of 33554432"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string error = ErrorOf(c.data, c.binary);
    EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_LE(error.size(), 400u) << "messages quote excerpts, never whole values";
  }
}

}  // namespace
