// SPDX-License-Identifier: MIT
#include "document/stroke_input.h"
#include "document/stroke_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include <nlohmann/json.hpp>

#include "app_test_support.h"
#include "document/recorded_shape.h"
#include "document/render_document.h"

namespace {

// A stroke file built byte by byte, independently of the chunk library, so a test can
// state the layout and leave out or spoil any part of it.
struct Node {
  std::string tag;       ///< four characters
  std::string listType;  ///< for "LIST"
  std::vector<uint8_t> data;
  std::vector<Node> children;
};

// A number big-endian (uint32_t, float or double; the tests run little-endian).
template <typename T>
void Put(std::vector<uint8_t>* b, T v) {
  uint8_t raw[sizeof(T)];
  std::memcpy(raw, &v, sizeof(T));
  b->insert(b->end(), std::rbegin(raw), std::rend(raw));
}

std::vector<uint8_t> Bytes(const Node& n) {
  std::vector<uint8_t> body(n.listType.begin(), n.listType.end());
  body.insert(body.end(), n.data.begin(), n.data.end());
  for (const Node& c : n.children) {
    const std::vector<uint8_t> child = Bytes(c);
    body.insert(body.end(), child.begin(), child.end());
  }
  std::vector<uint8_t> out(n.tag.begin(), n.tag.end());
  Put(&out, uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2) out.push_back(0);
  return out;
}

// The first node, depth first, whose tag or list type is `name`.
Node* Find(Node& n, const std::string& name) {
  if (n.tag == name || n.listType == name) return &n;
  for (Node& c : n.children)
    if (Node* hit = Find(c, name)) return hit;
  return nullptr;
}

void Remove(Node& n, const std::string& name) {
  const auto it = std::find_if(n.children.begin(), n.children.end(),
                               [&](const Node& c) { return c.tag == name || c.listType == name; });
  if (it != n.children.end()) return void(n.children.erase(it));
  for (Node& c : n.children) Remove(c, name);
}

// One recorded stroke of two vertices: a quarter-second line with a shrinking diameter.
const char* kTiny = R"({"canvas": {"width": 64, "height": 48}, "strokes": [{"recorded": {
  "vertices": [[[0.25, 0.5], [0.5, 0.5], [0.625, 0.5]], [[0.75, 0.5], [0.75, 0.5], [0.75, 0.5]]],
  "timeDistance": [[0, 0], [0.5, 1]],
  "spacing": [[0, false], [0.5, true]],
  "params": {"diameter": [[0, 1], [0.5, 0.5]], "opacity": [[0.5, 1]], "flow": [[0.5, 0.75]],
             "angle": [[0.5, 0]], "roundness": [[0.5, 1]]}}}]})";

Node Table(const char* tag, const std::vector<std::pair<double, float>>& entries) {
  Node n{tag, "", {}, {}};
  for (const auto& [time, value] : entries) Put(&n.data, time), Put(&n.data, value);
  return n;
}

Node TinyTree() {
  const std::string settings = StrokeDocToJson(ParseStrokeDoc(kTiny, "tiny.json"), DocPart::kSettings);
  Node points{"bzpt", "", {}, {}};
  Put(&points.data, uint32_t(2));
  for (float v : {0.25f, 0.5f, 0.5f, 0.5f, 0.625f, 0.5f, 0.75f, 0.5f, 0.75f, 0.5f, 0.75f, 0.5f})
    Put(&points.data, v);
  Node timing{"tmds", "", {}, {}};
  for (double v : {0.0, 0.0, 0.5, 1.0}) Put(&timing.data, v);
  Node spacing{"tpsp", "", {}, {}};
  for (const auto& [time, on] : {std::pair{0.0, 0}, {0.5, 1}}) Put(&spacing.data, time), spacing.data.push_back(uint8_t(on));
  Node tables{"LIST", "pnts", {},
              {timing, spacing, Table("dmtr", {{0.0, 1.0f}, {0.5, 0.5f}}), Table("optc", {{0.5, 1.0f}}),
               Table("flow", {{0.5, 0.75f}}), Table("angl", {{0.5, 0.0f}}), Table("rndn", {{0.5, 1.0f}})}};
  // Kind 2 (stroke), flags 9 (open, relative), no rectangle.
  Node shape{"LIST", "shap", {}, {{"shhd", "", {2, 9, 0, 0}, {}}, points, tables}};
  return {"LIST", "kstk", {},
          {{"kver", "", {0, 0, 0, 2}, {}}, {"kdoc", "", {settings.begin(), settings.end()}, {}},
           {"LIST", "strk", {}, {shape}}}};
}

const char* const kExamples[] = {"fill.json", "pressure.json", "ellipse.json", "clone.json", "deep16.json", "float32.json"};

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
  return ErrorFrom<StrokeDocError>([&] { ParseStrokeFile(bytes, "t.kst"); });
}

class StrokeFile : public TrackedTest {};

TEST_F(StrokeFile, WritesTheDocumentedLayout) {
  const StrokeDoc doc = ParseStrokeDoc(kTiny, "tiny.json");
  EXPECT_EQ(StrokeFileBytes(doc), Bytes(TinyTree()));
  const StrokeDoc loaded = ParseStrokeFile(Bytes(TinyTree()), "tiny.kst");
  ASSERT_EQ(loaded.strokes.size(), 1u);
  ASSERT_TRUE(loaded.strokes[0].recorded.has_value());
  EXPECT_TRUE(*loaded.strokes[0].recorded == *doc.strokes[0].recorded);
  EXPECT_EQ(std::pair(loaded.width, loaded.path), std::pair(64, std::string("tiny.kst")));
}

TEST_F(StrokeFile, RoundTripThroughJsonIsByteForByteAndRendersTheSamePixels) {
  for (const char* name : kExamples) {
    SCOPED_TRACE(name);
    const StrokeDoc doc = LoadStrokeDoc(Example(name));
    const std::vector<uint8_t> saved = StrokeFileBytes(doc);
    // Loaded beside the original, so a clone source finds its image.
    const StrokeDoc loaded = ParseStrokeFile(saved, Example("x.kst"));
    // The file holds what recording the events gives, and the settings unchanged.
    ASSERT_EQ(loaded.strokes.size(), doc.strokes.size());
    for (size_t i = 0; i < doc.strokes.size(); ++i) {
      ASSERT_TRUE(loaded.strokes[i].recorded.has_value());
      EXPECT_TRUE(loaded.strokes[i].events.empty());
      EXPECT_TRUE(*loaded.strokes[i].recorded ==
                  RecordedFromShape(*RecordStroke(doc.strokes[i], doc.width, doc.height, "x")));
    }
    EXPECT_EQ(StrokeDocToJson(loaded, DocPart::kSettings), StrokeDocToJson(doc, DocPart::kSettings));
    EXPECT_EQ(StrokeFileBytes(ParseStrokeDoc(StrokeDocToJson(loaded), "x.json")), saved);
    const std::unique_ptr<GX_World> painted = RenderDocument(doc, nullptr);
    EXPECT_EQ(Difference(*painted, *RenderDocument(loaded, nullptr)).pixels, 0u);
    // The stroke did paint: the canvas is not the bare background.
    EXPECT_GT(Difference(*painted, *NewCanvas(doc)).pixels, 100u);
  }
}

TEST_F(StrokeFile, FloatsAndDoublesSurviveJsonExactly) {
  StrokeDoc doc = ParseStrokeDoc(kTiny, "tiny.json");
  DocRecorded& r = *doc.strokes[0].recorded;
  r.vertices[0] = {{{0.1f, -0.0f}, {1.0f / 3.0f, std::nextafter(0.5f, 1.0f)}, {1e-40f, -99.99999f}}};
  r.timeDistance = {{-123.45678901234567, 0.0}, {0.1 + 0.2, 1e-300}, {1.0 / 3.0, 0.1},
                    {std::nextafter(1.0 / 3.0, 1.0), std::nextafter(0.1, 1.0)}, {0.5, 1.0}};
  r.params[0] = {{-1e9, 0.6f}, {0.0, std::nextafter(0.6f, 1.0f)}, {0.25, 1e-40f}, {0.375, -3600.0f}, {0.5, 3599.9998f}};
  const StrokeDoc back = ParseStrokeDoc(StrokeDocToJson(doc), "back.json");
  EXPECT_TRUE(*back.strokes[0].recorded == r);
  // == cannot tell -0 from 0: the file bytes can.
  EXPECT_EQ(StrokeFileBytes(back), StrokeFileBytes(doc));
  // Floats read as their shortest decimal.
  EXPECT_NE(StrokeDocToJson(doc).find("[[0.1, -0.0], [0.33333334, 0.50000006], [1e-40, -99.99999]]"), std::string::npos);
  EXPECT_NE(StrokeDocToJson(doc).find("[-1000000000.0, 0.6]"), std::string::npos);
}

TEST_F(StrokeFile, OldFilesWithoutSomeTablesStillLoad) {
  // Version 1 (no "kver") gave the background alpha first; version 2 red first.
  const auto withBackground = [](Node tree, const char* version) {
    std::string text(Find(tree, "kdoc")->data.begin(), Find(tree, "kdoc")->data.end());
    const std::string white = "\"background\": [1.0, 1.0, 1.0, 1.0]";
    EXPECT_NE(text.find(white), std::string::npos);
    text.replace(text.find(white), white.size(), "\"background\": [0.5, 1.0, 0.0, 0.0]");
    Find(tree, "kdoc")->data.assign(text.begin(), text.end());
    if (version) Find(tree, "kver")->data = {0, 0, 0, uint8_t(version[0] - '0')};
    else Remove(tree, "kver");
    return ParseStrokeFile(Bytes(tree), "bg.kst").background;
  };
  using Rgba = std::array<double, 4>;
  EXPECT_EQ(withBackground(TinyTree(), nullptr), (Rgba{{1, 0, 0, 0.5}}));
  EXPECT_EQ(withBackground(TinyTree(), "1"), (Rgba{{1, 0, 0, 0.5}}));
  EXPECT_EQ(withBackground(TinyTree(), "2"), (Rgba{{0.5, 1, 0, 0}}));

  Node tree = TinyTree();
  for (const char* tag : {"kver", "tpsp", "rndn", "angl"}) Remove(tree, tag);
  // Chunks this program does not know are passed over.
  Find(tree, "kstk")->children.push_back({"xtra", "", {1, 2, 3}, {}});
  Find(tree, "pnts")->children.push_back({"LIST", "futr", {}, {{"abcd", "", {7}, {}}}});
  const StrokeDoc doc = ParseStrokeFile(Bytes(tree), "old.kst");
  const DocRecorded& r = *doc.strokes[0].recorded;
  using B = DocEntry<bool>;
  using F = DocEntry<float>;
  EXPECT_EQ(r.spacing, (std::vector<B>{{0.5, true}}));
  EXPECT_EQ(r.params[K_StrokeParam_Roundness], (std::vector<F>{{0.0, 1.0f}, {0.5, 1.0f}}));
  EXPECT_EQ(r.params[K_StrokeParam_Angle], (std::vector<F>{{0.0, 0.0f}, {0.5, 0.0f}}));
  // Tables that are there are read as written.
  EXPECT_EQ(r.params[K_StrokeParam_Diameter], (std::vector<F>{{0.0, 1.0f}, {0.5, 0.5f}}));
  EXPECT_EQ(r.params[K_StrokeParam_Flow], (std::vector<F>{{0.5, 0.75f}}));
  EXPECT_GT(Difference(*RenderDocument(doc, nullptr), *NewCanvas(doc)).pixels, 50u);
}

TEST_F(StrokeFile, DefectsEndWithOneLineNamingTheChunk) {
  const std::vector<uint8_t> whole = Bytes(TinyTree());
  auto edit = [](const std::function<void(Node&)>& change) {
    Node tree = TinyTree();
    change(tree);
    return Bytes(tree);
  };
  auto cut = [&](size_t keep) { return std::vector<uint8_t>(whole.begin(), whole.begin() + long(keep)); };
  // The file with the size field of the first chunk tagged `tag` set to `value`.
  auto size = [&](const char* tag, uint32_t value) {
    std::vector<uint8_t> b = whole, field;
    Put(&field, value);
    std::copy(field.begin(), field.end(), std::search(b.begin(), b.end(), tag, tag + 4) + 4);
    return b;
  };
  auto setTable = [](const char* tag, std::vector<std::pair<double, float>> e) {
    return [tag, e](Node& t) { *Find(t, tag) = Table(tag, e); };
  };
  // Twelve coordinates of 0.5 but number `at`; the second timing entry (time, position).
  auto points = [&](int at, float value) {
    return edit([=](Node& t) {
      std::vector<uint8_t>& d = Find(t, "bzpt")->data;
      d.resize(4);
      for (int i = 0; i < 12; ++i) Put(&d, i == at ? value : 0.5f);
    });
  };
  auto timing = [&](double time, double position) {
    return edit([=](Node& t) {
      Find(t, "tmds")->data.clear();
      for (double v : {0.0, 0.0, time, position}) Put(&Find(t, "tmds")->data, v);
    });
  };
  const std::string cutShort =
      "t.kst: chunk \"kstk\": cut short (the file or its parent chunk ends inside it)";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string message;
  } cases[] = {
      {"empty file", cut(0), "t.kst: not a kstroke stroke file (no chunk \"kstk\")"},
      {"json text", std::vector<uint8_t>(kTiny, kTiny + std::strlen(kTiny)),
       "t.kst: not a kstroke stroke file (no chunk \"kstk\")"},
      {"another chunk file", Bytes({"LIST", "shap", {}, {}}),
       "t.kst: not a kstroke stroke file (it starts with a \"shap\" list, not \"kstk\")"},
      {"cut in the first header", cut(6), cutShort},
      {"cut in the settings", cut(100), cutShort},
      {"cut in the tables", cut(whole.size() - 20), cutShort},
      {"cut by one byte", cut(whole.size() - 1), cutShort},
      {"child past its list", size("kdoc", 100000),
       "t.kst: chunk \"kstk\": chunk \"kdoc\": its size runs past the end of its parent chunk"},
      {"points past the shape", size("bzpt", 1000),
       "t.kst: strokes[0]: chunk \"bzpt\": its size runs past the end of its parent chunk"},
      {"table past its list", size("optc", 1000),
       "t.kst: strokes[0]: chunk \"optc\": its size runs past the end of its parent chunk"},
      {"newer version", edit([](Node& t) { Find(t, "kver")->data = {0, 0, 0, 3}; }),
       "t.kst: chunk \"kver\": version 3 is not one this program reads (up to 2)"},
      {"version of the wrong size", edit([](Node& t) { Find(t, "kver")->data = {1}; }),
       "t.kst: chunk \"kver\": expected 4 bytes, got 1"},
      {"no settings", edit([](Node& t) { Remove(t, "kdoc"); }),
       "t.kst: chunk \"kdoc\" missing (the document's settings)"},
      {"settings not json", edit([](Node& t) { Find(t, "kdoc")->data = {'{'}; }),
       "t.kst: chunk \"kdoc\": not valid JSON: parse error at line 1, column 2: syntax error "
       "while parsing object key - unexpected end of input; expected string literal"},
      {"settings with events", edit([](Node& t) {
         const std::string s = R"({"strokes": [{"events": [{"t": 0, "x": 0, "y": 0}]}]})";
         Find(t, "kdoc")->data.assign(s.begin(), s.end());
       }), "t.kst: chunk \"kdoc\": strokes[0].events: unknown field"},
      {"stroke missing", edit([](Node& t) { Remove(t, "strk"); }), "t.kst: strokes[0]: chunk \"strk\" missing"},
      {"stroke too many", edit([](Node& t) { t.children.push_back(t.children.back()); }),
       "t.kst: chunk \"kstk\": holds 2 strokes but chunk \"kdoc\" describes 1"},
      {"no shape", edit([](Node& t) { Remove(t, "shap"); }), "t.kst: strokes[0]: chunk \"shap\" missing"},
      {"no points", edit([](Node& t) { Remove(t, "bzpt"); }), "t.kst: strokes[0]: chunk \"bzpt\" missing"},
      {"no tables", edit([](Node& t) { Remove(t, "pnts"); }), "t.kst: strokes[0]: chunk \"pnts\" missing"},
      {"no timing", edit([](Node& t) { Remove(t, "tmds"); }),
       "t.kst: strokes[0]: chunk \"tmds\" missing (a stroke cannot do without its timing)"},
      {"mask shape", edit([](Node& t) { Find(t, "shhd")->data[0] = 1; }),
       "t.kst: strokes[0]: chunk \"shhd\": holds a shape of kind 1, not a stroke (2)"},
      {"header of the wrong size", edit([](Node& t) { Find(t, "shhd")->data.push_back(0); }),
       "t.kst: strokes[0]: chunk \"shhd\": malformed"},
      {"selected shape", edit([](Node& t) { Find(t, "shhd")->data[1] = 9 | 2; }),
       "t.kst: strokes[0]: chunk \"shhd\": not a relative stroke path without a rectangle (flags 0x0b)"},
      {"shape with a rectangle", edit([](Node& t) {
         Node& h = *Find(t, "shhd");
         h.data[2] = 1;
         for (float v : {0.0f, 0.0f, 64.0f, 48.0f}) Put(&h.data, v);
       }), "t.kst: strokes[0]: chunk \"shhd\": not a relative stroke path without a rectangle (has a rectangle)"},
      {"vertex count too large", edit([](Node& t) { Find(t, "bzpt")->data[3] = 3; }),
       "t.kst: strokes[0]: chunk \"bzpt\": holds fewer points than its vertex count"},
      {"point not finite", points(7, NAN), "t.kst: strokes[0]: chunk \"bzpt\": a point is not a finite number"},
      {"no vertex", edit([](Node& t) { Find(t, "bzpt")->data = {0, 0, 0, 0}; }),
       "t.kst: strokes[0]: chunk \"bzpt\": expected at least one vertex"},
      {"point far off", points(9, 150.0f),
       "t.kst: strokes[0]: chunk \"bzpt\", vertex 1: expected a number from -100 to 100, got 150.0"},
      {"empty timing", edit([](Node& t) { Find(t, "tmds")->data.clear(); }),
       "t.kst: strokes[0]: chunk \"tmds\": expected at least one entry"},
      {"time not a number", timing(NAN, 1.0),
       "t.kst: strokes[0]: chunk \"tmds\", entry 1: expected a number from -1e+09 to 1e+09, got nan"},
      {"position past the path", timing(0.5, 1.5),
       "t.kst: strokes[0]: chunk \"tmds\", entry 1: expected a path position from 0 to 1, got 1.5"},
      {"times out of order", edit(setTable("dmtr", {{0.0, 1.0f}, {0.0, 0.5f}, {0.5, 0.5f}})),
       "t.kst: strokes[0]: chunk \"dmtr\", entry 1: expected a time after 0.0, got 0.0"},
      {"factor far off", edit(setTable("angl", {{0.5, 1e6f}})),
       "t.kst: strokes[0]: chunk \"angl\", entry 0: expected a number from -3600 to 3600, got 1000000.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = ErrorOf(c.bytes);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(message.find('\n'), std::string::npos);
  }
}

TEST_F(StrokeFile, RecordedStrokesAreCheckedLikeEvents) {
  using nlohmann::json;
  const json base = json::parse(kTiny);
  auto stroke = [](json& j) -> json& { return j["strokes"][0]; };
  auto rec = [&](json& j) -> json& { return stroke(j)["recorded"]; };
  struct Case {
    const char* name;
    std::function<void(json&)> change;
    const char* message;
  };
  const Case cases[] = {
      {"events and recorded", [&](json& j) { stroke(j)["events"] = json::array(); },
       "f.json: strokes[0].recorded: give either events or recorded, not both"},
      {"neither", [&](json& j) { stroke(j).erase("recorded"); },
       "f.json: strokes[0].events: missing (a stroke needs events or recorded)"},
      {"unknown field", [&](json& j) { rec(j)["speed"] = 1; }, "f.json: strokes[0].recorded.speed: unknown field"},
      {"no vertices", [&](json& j) { rec(j).erase("vertices"); }, "f.json: strokes[0].recorded.vertices: missing"},
      {"empty vertices", [&](json& j) { rec(j)["vertices"] = json::array(); },
       "f.json: strokes[0].recorded.vertices: expected at least one vertex"},
      {"two points", [&](json& j) { rec(j)["vertices"][0].erase(2); },
       "f.json: strokes[0].recorded.vertices[0]: expected three points: the vertex and two tangent points"},
      {"point of three", [&](json& j) { rec(j)["vertices"][1][1] = {1, 2, 3}; },
       "f.json: strokes[0].recorded.vertices[1][1]: expected a point [x, y]"},
      {"point far off", [&](json& j) { rec(j)["vertices"][1][2][0] = 150; },
       "f.json: strokes[0].recorded.vertices[1][2][0]: expected a number from -100 to 100, got 150.0"},
      {"closed not bool", [&](json& j) { rec(j)["closed"] = 0; },
       "f.json: strokes[0].recorded.closed: expected true or false, got 0"},
      {"entry not a pair", [&](json& j) { rec(j)["timeDistance"][0] = {0}; },
       "f.json: strokes[0].recorded.timeDistance[0]: expected a [time, value] pair"},
      {"time a string", [&](json& j) { rec(j)["timeDistance"][1][0] = "1"; },
       "f.json: strokes[0].recorded.timeDistance[1][0]: expected a number, got \"1\""},
      {"times repeat", [&](json& j) { rec(j)["timeDistance"][1][0] = 0; },
       "f.json: strokes[0].recorded.timeDistance[1][0]: expected a time after 0.0, got 0.0"},
      {"position past the path", [&](json& j) { rec(j)["timeDistance"][1][1] = 2; },
       "f.json: strokes[0].recorded.timeDistance[1][1]: expected a path position from 0 to 1, got 2.0"},
      {"position goes back", [&](json& j) { rec(j)["timeDistance"] = {{0, 0.5}, {1, 0.25}}; },
       "f.json: strokes[0].recorded.timeDistance[1][1]: expected a path position of at least 0.5, got 0.25"},
      {"closed path has one more segment", [&](json& j) {
         rec(j)["closed"] = true;
         rec(j)["timeDistance"][1][1] = 2.5;
       }, "f.json: strokes[0].recorded.timeDistance[1][1]: expected a path position from 0 to 2, got 2.5"},
      {"spacing not bool", [&](json& j) { rec(j)["spacing"][0][1] = 1; },
       "f.json: strokes[0].recorded.spacing[0][1]: expected true or false, got 1"},
      {"empty spacing", [&](json& j) { rec(j)["spacing"] = json::array(); },
       "f.json: strokes[0].recorded.spacing: expected at least one entry"},
      {"table missing", [&](json& j) { rec(j)["params"].erase("flow"); },
       "f.json: strokes[0].recorded.params.flow: missing"},
      {"unknown table", [&](json& j) { rec(j)["params"]["size"] = json::array(); },
       "f.json: strokes[0].recorded.params.size: unknown field"},
      {"empty table", [&](json& j) { rec(j)["params"]["angle"] = json::array(); },
       "f.json: strokes[0].recorded.params.angle: expected at least one entry"},
      {"factor far off", [&](json& j) { rec(j)["params"]["opacity"][0][1] = -4000; },
       "f.json: strokes[0].recorded.params.opacity[0][1]: expected a number from -3600 to 3600, " "got -4000.0"},
      {"table ends early", [&](json& j) { rec(j)["params"]["flow"] = {{0, 1}, {0.25, 0.5}}; },
       "f.json: strokes[0].recorded.params.flow[1][0]: expected a time of at least 0.5 (where "
       "the timing ends), got 0.25"},
      {"trim reversed", [&](json& j) { stroke(j)["trim"] = {0.6, 0.4}; },
       "f.json: strokes[0].trim: expected start ≤ end, got [0.6,0.4]"},
      {"trim past the end", [&](json& j) { j["trim"] = {0, 1.5}; },
       "f.json: trim[1]: expected a number from 0 to 1, got 1.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json j = base;
    c.change(j);
    EXPECT_EQ(ErrorFrom<StrokeDocError>([&] { ParseStrokeDoc(j.dump(), "f.json"); }), c.message);
  }
}

TEST(StrokeFileDoc, RelocatingKeepsImagesPointingAtTheSameFile) {
  const struct {
    const char *from, *image, *to, *expected;
  } kCases[] = {
      {"/a/b/x.json", "img/c.png", "/a/b/y.kst", "img/c.png"},       // the same folder
      {"/a/b/x.json", "img/c.png", "/a/d/y.kst", "../b/img/c.png"},  // a sibling
      {"/a/x.json", "c.png", "/a/d/e/y.kst", "../../c.png"},         // deeper
      {"/a/b/x.json", "/img/c.png", "/q/y.kst", "/img/c.png"},       // absolute stays
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.to);
    StrokeDoc doc = ParseStrokeDoc(kTiny, c.from);
    doc.strokes[0].source.type = "clone";
    doc.strokes[0].source.image = c.image;
    const StrokeDoc moved = RelocateDoc(doc, c.to);
    EXPECT_EQ(moved.path, c.to);
    EXPECT_EQ(moved.strokes[0].source.image, c.expected);
  }
}

// The program itself ---------------------------------------------------------------

TEST(StrokeFileProgram, SaveLoadSaveAndRenderAgree) {
  const std::string dir = TestScratchDir();
  const std::string json = Example("pressure.json");
  Ran("save -q " + json + " -o " + dir + "p.kst");
  Ran("load " + dir + "p.kst -o " + dir + "p.json");
  Ran("save -q " + dir + "p.json -o " + dir + "p2.kst");
  EXPECT_EQ(SlurpFile(dir + "p.kst"), SlurpFile(dir + "p2.kst"));
  EXPECT_FALSE(SlurpFile(dir + "p.kst").empty());
  // Found by content, whatever the name.
  std::rename((dir + "p2.kst").c_str(), (dir + "p2.strokes").c_str());
  Ran("render -q " + json + " -o " + dir + "a.png");
  Ran("render -q " + dir + "p2.strokes -o " + dir + "b.png");
  EXPECT_EQ(SlurpFile(dir + "a.png"), SlurpFile(dir + "b.png"));
}

TEST(StrokeFileProgram, CorruptFileIsOneLineAndStatusOne) {
  const std::string dir = NewFolder("corrupt") + "/";
  std::vector<uint8_t> bytes = Bytes(TinyTree());
  WriteText(dir + "cut.kst", std::string(bytes.begin(), bytes.begin() + long(bytes.size() / 2)));
  const std::string err = dir + "cut.kst: chunk \"kstk\": cut short (the file or its parent chunk ends inside it)\n";
  ExpectRefusals({{"load", "load " + dir + "cut.kst", 1, "kstroke load: " + err},
                  {"render", "render " + dir + "cut.kst -q -o " + dir + "x.png", 1, "kstroke render: " + err},
                  {"save", "save " + dir + "cut.kst -q -o " + dir + "x.kst", 1, "kstroke save: " + err}});
  EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"cut.kst"});
}

}  // namespace
