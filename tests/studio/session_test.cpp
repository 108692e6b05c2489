// SPDX-License-Identifier: MIT
// A tab's session driven as the page drives it: the pixels it sends, put together as the
// page puts them, are the picture the saved document renders; history, files, clone
// images, replay, the cursor, and the error of every message out of order.
#include "app/studio/session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/app_test_support.h"
#include "app/studio/picture.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

uint32_t U32(const std::string& d, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(d[at + size_t(i)]);
  return v;
}

// What the page keeps: the picture as the pixels that came back drew it, and the replies.
struct Page {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  std::vector<json> texts;
  std::vector<std::string> cursors;

  void Take(const std::vector<Outgoing>& out) {
    for (const Outgoing& o : out) {
      if (!o.binary) {
        texts.push_back(json::parse(o.data));
        continue;
      }
      const uint32_t kind = U32(o.data, 0);
      const int32_t left = int32_t(U32(o.data, 12)), top = int32_t(U32(o.data, 16));
      const int32_t w = int32_t(U32(o.data, 20)), h = int32_t(U32(o.data, 24));
      ASSERT_EQ(o.data.size(), kPictureHeader + size_t(w) * size_t(h) * 4);
      if (kind == uint32_t(PictureKind::kCursor)) {
        cursors.push_back(o.data);
        continue;
      }
      if (kind == uint32_t(PictureKind::kWhole)) {
        width = w;
        height = h;
        rgba.assign(size_t(w) * size_t(h) * 4, 0);
      }
      for (int32_t y = 0; y < h; ++y)
        std::memcpy(&rgba[(size_t(top + y) * size_t(width) + size_t(left)) * 4],
                    &o.data[kPictureHeader + size_t(y) * size_t(w) * 4], size_t(w) * 4);
    }
  }
  /// The last state's count of strokes and of strokes to redo.
  std::pair<int, int> Counts() const { return {Last("state")["strokes"], Last("state")["redo"]}; }
  json Last(const std::string& type) const {
    for (auto it = texts.rbegin(); it != texts.rend(); ++it)
      if ((*it)["type"] == type) return *it;
    return nullptr;
  }
  std::vector<std::string> Errors() const {
    std::vector<std::string> e;
    for (const json& t : texts)
      if (t["type"] == "error") e.push_back(t["request"].get<std::string>() + ": " + t["message"].get<std::string>());
    return e;
  }
};

json Begin(uint32_t stroke) { return {{"type", "begin"}, {"stroke", stroke}}; }
json End(uint32_t stroke) { return {{"type", "end"}, {"stroke", stroke}}; }
json Samples(uint32_t stroke, uint32_t seq, const std::vector<json>& events) {
  return {{"type", "samples"}, {"stroke", stroke}, {"seq", seq}, {"events", events}};
}
// A mouse event: no pressure, no tilt.
json At(double t, double x, double y) { return {t, x, y, nullptr, 0, 0, 0}; }

std::vector<uint8_t> Display(const kstroke::Canvas& c) {
  std::vector<uint8_t> rgba(size_t(c.Width()) * size_t(c.Height()) * 4);
  DisplayPixels(c, {0, 0, c.Width(), c.Height()}, rgba.data());
  return rgba;
}

class StudioSessionTest : public TrackedTest {
protected:
  void SetUp() override {
    TrackedTest::SetUp();
    folder = fs::path(TestScratchDir()) / ("studio_" + std::string(
        ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder);
    fs::create_directories(folder / "uploads");
    settings.folder = folder.string();
    settings.uploads = (folder / "uploads").string();
    settings.newWidth = 240;
    settings.newHeight = 160;
  }
  StudioSession& Session() {
    if (!session) {
      session = std::make_unique<StudioSession>(settings, 1);
      page.Take(session->Start());
    }
    return *session;
  }
  void Send(const json& m) { page.Take(Session().Handle(m.dump(), false)); }
  void Send(const char* type, json fields = json::object()) {
    fields["type"] = type;
    Send(fields);
  }
  // One stroke of `n` events along a wave, in batches of 1, 2, 3, … events.
  void Stroke(uint32_t id, double y0, int n = 30) {
    Send(Begin(id));
    uint32_t seq = 0;
    for (int i = 0, batch = 1; i < n; i += batch, ++batch) {
      std::vector<json> events;
      for (int k = i; k < std::min(n, i + batch); ++k)
        events.push_back({k * 0.01, 0.1 + 0.8 * k / n, y0 + 0.15 * std::sin(k / 4.0),
                          0.2 + 0.7 * k / n, 30 * std::cos(k / 5.0), 20, 0});
      Send(Samples(id, seq++, events));
    }
    Send(End(id));
  }
  json Saved(const std::string& name) { return json::parse(std::ifstream(folder / name)); }
  // A document the session saved, rendered from scratch.
  std::vector<uint8_t> Rendered(const std::string& name) {
    return Display(kstroke::Document::Load((folder / name).string()).Render());
  }
  void NewPage() {
    session.reset();
    page = Page();
  }
  void TearDown() override {
    session.reset();
    TrackedTest::TearDown();
  }

  fs::path folder;
  StudioSettings settings;
  std::unique_ptr<StudioSession> session;
  Page page;
};

TEST_F(StudioSessionTest, ThePagesPictureIsTheSavedDocumentRendered) {
  const struct {
    const char* name;
    int depth;
    json tool;
  } kCases[] = {
      {"8 bits, tilt", 8, {{"type", "tool"}, {"brush", {{"preset", "pastel"}, {"diameter", 14}}}}},
      {"16 bits, curve and stabiliser", 16,
       {{"type", "tool"}, {"brush", {{"preset", "ink"}, {"diameter", 9}, {"stabiliser", 0.5}}},
        {"colour", {0.8, 0.1, 0.1, 0.7}}, {"transfer", "multiply"}}},
      {"float", 32, {{"type", "tool"}, {"brush", {{"preset", "airbrush"}}}, {"colour", {2, 0.5, 0.1, 1}}}},
      // Copies that overlap: painted side by side live, again in turn when the stroke ends.
      {"symmetry", 8,
       {{"type", "tool"}, {"brush", {{"preset", "airbrush"}, {"diameter", 40}}},
        {"symmetry", {{"mirror", "vertical"}, {"rotate", 3}, {"centre", {0.5, 0.45}}}}}},
      {"dynamics set in the panel", 16,
       {{"type", "tool"},
        {"brush", {{"preset", "round"},
                   {"dynamics", {{"roundness", {{"input", "tiltX"}, {"curve", {{-90, 0.2}, {90, 1}}}}},
                                 {"angle", {{"input", "direction"}, {"curve", {{-180, -180}, {180, 180}}}}}}}}}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    NewPage();
    Send("new", {{"width", 240}, {"height", 160}, {"depth", c.depth}});
    Send(c.tool);
    Stroke(1, 0.35);
    Stroke(2, 0.6);
    EXPECT_EQ(page.Errors(), std::vector<std::string>{});
    EXPECT_EQ(page.Last("state")["strokes"], 2);
    Send("save", {{"name", "doc.json"}});
    const std::vector<uint8_t> rendered = Rendered("doc.json");
    EXPECT_TRUE(page.rgba == rendered) << "the page's picture is not the document's";
    size_t inked = 0;
    for (size_t i = 0; i < rendered.size(); i += 4) inked += rendered[i] != 255 || rendered[i + 1] != 255;
    EXPECT_GT(inked, 1500u);
  }
}

TEST_F(StudioSessionTest, UndoRedoAndClearShowWholeStrokes) {
  Session();
  const std::vector<uint8_t> blank = page.rgba;
  Send("tool", {{"brush", {{"preset", "marker"}}}});
  Stroke(1, 0.3);
  const std::vector<uint8_t> one = page.rgba;
  Stroke(2, 0.7);
  const std::vector<uint8_t> two = page.rgba;
  EXPECT_NE(one, two);
  Send("undo");
  EXPECT_EQ(page.rgba, one);
  EXPECT_EQ(page.Counts(), std::pair(1, 1));
  Send("redo");
  EXPECT_EQ(page.rgba, two);
  Send("clear");
  EXPECT_EQ(page.rgba, blank);
  EXPECT_EQ(page.Counts(), std::pair(0, 2));
  Send("redo");
  EXPECT_EQ(page.rgba, one);
  // A new stroke drops the strokes undone.
  Stroke(3, 0.5);
  EXPECT_EQ(page.Counts(), std::pair(2, 0));
  for (const char* type : {"redo", "clear", "undo"}) Send(type);
  EXPECT_EQ(page.Errors(), (std::vector<std::string>{"redo: redo: no stroke to redo", "undo: undo: no stroke to undo"}));
}

TEST_F(StudioSessionTest, MessagesOutOfOrderAreRefusedAndTheStrokeGoesOn) {
  const json event = At(0.5, 0.5, 0.5);
  const json tool = {{"type", "tool"}, {"brush", json::object()}};
  const auto with = [](json m, const char* key, const json& value) { m[key] = value; return m; };
  const struct {
    const char* name;
    std::vector<json> messages;
    std::string error;  ///< of the last message
  } kCases[] = {
      {"samples of no stroke", {Samples(1, 0, {event})}, "samples: samples: stroke 1 is not being painted (no stroke is)"},
      {"end of no stroke", {End(1)}, "end: end: stroke 1 is not being painted (no stroke is)"},
      {"samples of another stroke", {Begin(5), Samples(4, 0, {event})},
       "samples: samples: stroke 4 is not being painted (stroke 5 is)"},
      {"a batch skipped", {Begin(1), Samples(1, 1, {event})},
       "samples: samples: batch 1 of stroke 1 where batch 0 was due"},
      {"a second begin", {Begin(1), Begin(2)}, "begin: begin: stroke 1 is still being painted"},
      {"undo while painting", {Begin(1), {{"type", "undo"}}}, "undo: undo: stroke 1 is still being painted"},
      {"save while painting", {Begin(1), {{"type", "save"}, {"name", "a.json"}}},
       "save: save: stroke 1 is still being painted"},
      {"numbers going back", {Begin(7), End(7), Begin(7)},
       "begin: begin: stroke 7 after stroke 7 (numbers must increase)"},
      {"time going back", {Begin(1), Samples(1, 0, {At(1, 0.5, 0.5), At(0.5, 0.6, 0.5)})},
       "samples: event 1.t: expected a time after 1 (the event before), got 0.5"},
      {"pressure out of range", {Begin(1), Samples(1, 0, {{0, 0.5, 0.5, 1.5, 0, 0, 0}})},
       "samples: event 0.pressure: expected a number from 0 to 1, got 1.5"},
      {"clone without an image", {with(tool, "source", "clone"), Begin(1), Samples(1, 0, {event})},
       "samples: samples: the clone source has no image: load one first"},
      {"a brush value the engine refuses", {{{"type", "tool"}, {"brush", {{"hardness", 2}}}}},
       "tool: brush.hardness: expected a number from 0 to 1, got 2"},
      {"an unknown preset", {{{"type", "tool"}, {"brush", {{"preset", "crayon"}}}}},
       "tool: unknown brush preset \"crayon\" (one of: airbrush, brush-pen, calligraphy, chalk, "
       "clone, ink, marker, pastel, pencil, round, soft-eraser, watercolour)"},
      {"an unknown mode", {with(tool, "transfer", "glow")}, "tool: unknown transfer mode \"glow\""},
      {"replay of nothing", {{{"type", "replay"}, {"frames", 4}}}, "replay: replay: the document has no strokes"},
      {"open a missing file", {{{"type", "open"}, {"name", "gone.json"}}}, "open: "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    NewPage();
    for (const json& m : c.messages) Send(m);
    const std::vector<std::string> errors = page.Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().substr(0, c.error.size()), c.error);
    EXPECT_EQ(errors.size(), 1u) << "only the last message is wrong";
  }
  // After an event refused mid-batch, the stroke keeps what came before it.
  NewPage();
  Send(Begin(1));
  Send(Samples(1, 0, {At(0, 0.2, 0.5), At(0.1, 0.8, 0.5), At(0.05, 0.9, 0.5)}));
  Send(Samples(1, 1, {At(0.2, 0.8, 0.9)}));
  Send(End(1));
  EXPECT_EQ(page.Errors().size(), 1u);
  Send("save", {{"name", "kept.json"}});
  EXPECT_EQ(Saved("kept.json")["strokes"][0]["events"].size(), 3u);
  // With copies, a stroke whose every event was refused ends as no stroke at all.
  NewPage();
  Send("tool", {{"brush", {{"preset", "round"}}}, {"symmetry", {{"rotate", 2}}}});
  const std::vector<uint8_t> blank = page.rgba;
  Send(Begin(1));
  Send(Samples(1, 0, {{0, 0.5, 0.5, 1.5, 0, 0, 0}}));
  Send(End(1));
  EXPECT_EQ(page.Errors().size(), 1u);
  EXPECT_EQ(page.Counts(), std::pair(0, 0));
  EXPECT_EQ(page.rgba, blank);
}

TEST_F(StudioSessionTest, FilesAreSavedOpenedAndExportedInTheFolder) {
  Session();
  Send("tool", {{"brush", {{"preset", "round"}}}, {"colour", {0.2, 0.4, 0.6, 1}}});
  Stroke(1, 0.5);
  const std::vector<uint8_t> painted = page.rgba;
  Send("save", {{"name", "a.kst"}});
  for (const char* name : {"a.png", "a.exr"}) Send("export", {{"name", name}});
  EXPECT_EQ(page.Last("saved")["url"], "/files/a.kst");
  EXPECT_EQ(page.Last("exported")["url"], "/files/a.exr");
  EXPECT_EQ(page.Last("state")["name"], "a.kst");
  EXPECT_EQ(Display(kstroke::Canvas::Read((folder / "a.png").string())), painted);
  Send("files");
  EXPECT_EQ(page.Last("files")["documents"], json({"a.kst"}));
  EXPECT_EQ(page.Last("files")["images"], json({"a.exr", "a.png"}));
  Send("new", {{"width", 50}, {"height", 40}});
  EXPECT_EQ(page.width, 50);
  Send("open", {{"name", "a.kst"}});
  EXPECT_EQ(page.rgba, painted);
  EXPECT_EQ(page.Last("state")["strokes"], 1);
  EXPECT_EQ(page.Errors(), std::vector<std::string>{});
  // A stroke file's own name, and a folder that cannot be written.
  fs::create_directories(folder / "sub.json");
  Send("save", {{"name", "sub.json"}});
  ASSERT_EQ(page.Errors().size(), 1u);
  EXPECT_EQ(page.Errors()[0].rfind("save: " + (folder / "sub.json").string() + ": ", 0), 0u) << page.Errors()[0];
}

TEST_F(StudioSessionTest, CloneImagesComeFromThePageAndLandWhereAltClickSaid) {
  Session();
  const std::string bytes = SlurpFile(Example("clone_source.png"));
  page.Take(Session().Handle("KSIM\x0b" "garbage.png" "not an image", true));
  ASSERT_EQ(page.Errors().size(), 1u);
  EXPECT_EQ(page.Errors()[0], "image: 'garbage.png' is not a PNG, JPEG, TIFF or OpenEXR file")
      << "named as the page knows it, not by the upload folder";
  EXPECT_FALSE(fs::exists(folder / "uploads" / "1-1")) << "a refused image is not kept";
  page.Take(Session().Handle("KSIM\x0a" "source.png" + bytes, true));
  EXPECT_EQ(page.Last("state")["image"], json({{"name", "source.png"}, {"width", 384}, {"height", 256}}));
  Send("tool", {{"brush", {{"preset", "clone"}, {"hardness", 1}}}, {"source", "clone"}});
  // Image pixel (96, 64) is to land where the stroke starts, canvas pixel (120, 80).
  Send("clonePoint", {{"x", 96.0 / 240}, {"y", 64.0 / 160}});
  Send(Begin(1));
  Send(Samples(1, 0, {At(0, 0.5, 0.5), At(0.1, 0.7, 0.6)}));
  Send(End(1));
  EXPECT_EQ(page.Errors().size(), 1u);
  Send("save", {{"name", "clone.json"}});
  const json source = Saved("clone.json")["strokes"][0]["source"];
  EXPECT_EQ(source["image"], "source.png") << "named beside the document";
  EXPECT_TRUE(fs::exists(folder / "source.png"));
  EXPECT_DOUBLE_EQ(source["sourcePoint"][0].get<double>(), (96.0 - 120) / 384);
  EXPECT_DOUBLE_EQ(source["sourcePoint"][1].get<double>(), (64.0 - 80) / 256);
  EXPECT_EQ(Rendered("clone.json"), page.rgba);
}

TEST_F(StudioSessionTest, ReplayWritesTheStrokesOnFrameByFrame) {
  Session();
  Stroke(1, 0.4);
  Stroke(2, 0.6);
  const std::vector<uint8_t> painted = page.rgba;
  Send("replay", {{"frames", 5}});
  EXPECT_TRUE(Session().Busy());
  int frames = 0;
  std::vector<uint8_t> first;
  while (Session().Busy()) {
    page.Take(Session().Continue());
    if (++frames == 1) first = page.rgba;
  }
  EXPECT_EQ(frames, 5);
  EXPECT_EQ(page.Last("replayed")["type"], "replayed");
  EXPECT_NE(first, painted) << "frame 0 draws nothing of the strokes";
  EXPECT_EQ(page.rgba, painted) << "the last frame is the picture as painted";
  // A message during a replay ends it, and the page gets the picture back first.
  Send("replay", {{"frames", 10}});
  page.Take(Session().Continue());
  Send("files");
  EXPECT_FALSE(Session().Busy());
  EXPECT_EQ(page.rgba, painted);
}

TEST_F(StudioSessionTest, TheCursorIsTheBrushOutlineAtTheViewsZoom) {
  Session();
  Send("tool", {{"brush", {{"preset", "round"}, {"diameter", 40}, {"roundness", 0.5}}}});
  for (double zoom : {0.5, 1.0, 2.0}) {
    SCOPED_TRACE(zoom);
    Send("outline", {{"zoom", zoom}});
    const std::string& c = page.cursors.back();
    const int32_t w = int32_t(U32(c, 20)), h = int32_t(U32(c, 24));
    EXPECT_NEAR(w, 40 * zoom + 4, 3);
    EXPECT_EQ(w, h);
    EXPECT_NEAR(int32_t(U32(c, 12)), w / 2, 1) << "its centre";
    size_t opaque = 0;
    for (size_t i = kPictureHeader + 3; i < c.size(); i += 4) opaque += uint8_t(c[i]) > 128;
    EXPECT_GT(opaque, size_t(40 * zoom)) << "an outline is drawn";
  }
}

TEST_F(StudioSessionTest, ADocumentGivenAtTheStartOpensInEveryTab) {
  settings.start = kstroke::Document::Load(KSTROKE_SOURCE_DIR "/examples/clone.json");
  settings.startName = "clone.json";
  settings.startPath = KSTROKE_SOURCE_DIR "/examples/clone.json";
  const std::vector<uint8_t> rendered = Display(settings.start->Render());
  for (int tab = 0; tab < 2; ++tab) {
    SCOPED_TRACE(tab);
    NewPage();
    Session();
    EXPECT_EQ(page.rgba, rendered);
    EXPECT_EQ(page.Last("state")["name"], "clone.json");
    EXPECT_EQ(page.Last("state")["strokes"], settings.start->Strokes());
    Send("undo");
    EXPECT_NE(page.rgba, rendered) << "the tab's own copy changes";
  }
  // Saved in the studio's folder, its clone image is still found: it is named whole.
  Send("redo");
  const std::vector<uint8_t> shown = page.rgba;
  Send("save", {{"name", "elsewhere.json"}});
  EXPECT_EQ(Rendered("elsewhere.json"), shown);
  Send("replay", {{"frames", 3}});
  while (Session().Busy()) page.Take(Session().Continue());
  EXPECT_EQ(page.rgba, shown);
  EXPECT_EQ(page.Errors(), std::vector<std::string>{});
}

// Found by the fuzz target: an error quoting bytes that are not UTF-8 could not be
// written as JSON, and the exception ended the server.
TEST_F(StudioSessionTest, RepliesAreJsonWhateverBytesTheMessageHeld) {
  Session();
  page.Take(Session().Handle("{\"type\": \"\xff\xff_p\"}", false));
  page.Take(Session().Handle("{\"type\": \"open\", \"name\": \"\xc3\"}", false));
  page.Take(Session().Handle("KSIM\x05\xff.png", true));
  ASSERT_EQ(page.Errors().size(), 3u);
  EXPECT_EQ(page.Errors()[0].substr(0, 40), "message: message: type: not valid JSON: ");
}

TEST(StudioStats, PercentilesAreNearestRank) {
  const std::vector<double> values = {5, 1, 4, 2, 3, 10, 9, 8, 7, 6};
  EXPECT_EQ(std::vector<double>({Percentile(values, 0.5), Percentile(values, 0.95), Percentile(values, 0.1),
                                 Percentile({}, 0.5), Percentile({7}, 0.99)}),
            std::vector<double>({5, 10, 1, 0, 7}));
}

}  // namespace
