// SPDX-License-Identifier: MIT
// The C++ facade as a host uses it: strokes painted event by event, documents, errors
// with their codes, and the README's program built against an installed kstroke.
#include "kstroke/kstroke.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "document/render_document.h"
#include "golden_support.h"
#include "host/gx/gx_image.h"
#include "host/y/errors.h"
#include "kstroke/shape.h"
#include "test_support.h"

// The README's program, compiled here from the file an installed kstroke builds.
#define main EmbedExampleMain
#include "examples/embed/stroke.cpp"
#undef main

namespace {

namespace fs = std::filesystem;

// Runs `body` in a folder of its own, so files it writes by bare name land there.
template <class F>
void InFolder(const fs::path& folder, F&& body) {
  fs::create_directories(folder);
  const fs::path back = fs::current_path();
  fs::current_path(folder);
  body();
  fs::current_path(back);
}

std::unique_ptr<GX_World> ReadPng(const fs::path& path) {
  GX_World* w = nullptr;
  EXPECT_EQ(GX_ReadImage(path.c_str(), 8, &w, nullptr), 0) << GX_ImageLastMessage();
  return std::unique_ptr<GX_World>(w);
}

long CodeOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const kstroke::Error& e) {
    if (message) *message = e.what();
    return e.Code();
  }
  return -1;
}

TEST(Facade, TheReadmeProgramDrawsItsStroke) {
  const fs::path folder = fs::path(TestScratchDir()) / "readme";
  InFolder(folder, [] { EXPECT_EQ(EmbedExampleMain(), 0); });
  const std::unique_ptr<GX_World> drawn = ReadPng(folder / "stroke.png");
  ASSERT_TRUE(drawn);
  ExpectMatchesGolden(*drawn, "facade", "stroke.png", 0.0);
  // The README shows that very program.
  std::ifstream readme(KSTROKE_SOURCE_DIR "/README.md"), example(KSTROKE_SOURCE_DIR "/examples/embed/stroke.cpp");
  std::stringstream r, e;
  r << readme.rdbuf();
  e << example.rdbuf();
  const std::string code = e.str().substr(e.str().find("#include <cmath>"));
  EXPECT_NE(r.str().find(code), std::string::npos) << "README.md does not show examples/embed/stroke.cpp";
}

TEST(Facade, AStrokePaintsWhatTheSameDescriptionPaints) {
  // The same brush, colour and events as a description, one render call per event:
  // the facade's stroke and the document's go through the same session.
  const std::string json = R"({"canvas": {"width": 200, "height": 120, "depth": 16},
    "batch": 1, "brush": {"preset": "brush-pen", "diameter": 16, "stabiliser": 0.3},
    "source": {"colour": [0.8, 0.2, 0.1]}, "transfer": "multiply",
    "strokes": [{"seed": 5, "events": [)";
  std::string events;
  kstroke::Canvas canvas(200, 120, kstroke::Depth::k16);
  kstroke::Stroke stroke(canvas, kstroke::Brush::Preset("brush-pen").Diameter(16).Stabiliser(0.3),
                         kstroke::Source::Fill({0.8, 0.2, 0.1}));
  stroke.Transfer("multiply").Seed(5);
  for (int i = 0; i < 30; ++i) {
    const kstroke::Event e{i * 0.02, 0.1 + 0.027 * i, 0.5 + 0.3 * std::sin(i / 5.0), 0.2 + 0.025 * i};
    events += (i ? "," : "") + std::string(R"({"t": )") + std::to_string(e.t) + R"(, "x": )" +
              std::to_string(e.x) + R"(, "y": )" + std::to_string(e.y) + R"(, "pressure": )" +
              std::to_string(*e.pressure) + "}";
    // The description's numbers are printed: the stroke takes the same decimals.
    stroke.Add({std::stod(std::to_string(e.t)), std::stod(std::to_string(e.x)),
                std::stod(std::to_string(e.y)), std::stod(std::to_string(*e.pressure))});
    stroke.Render();
  }
  EXPECT_TRUE(stroke.Render().Empty()) << "nothing new, nothing changed";
  stroke.Finish();
  const kstroke::Canvas expected =
      kstroke::Document::Parse(json + events + "]}]}", "same.json").Render();
  EXPECT_EQ(RowsDiffering(canvas.World(), expected.World()), 0);
  EXPECT_GT(stroke.Shape().NumVertices(), 29);
}

TEST(Facade, FailuresCarryTheirCodeAndNameWhatFailed) {
  kstroke::Canvas canvas(64, 64);
  kstroke::Canvas deep(16, 16, kstroke::Depth::k16);
  const std::string clonePath = KSTROKE_SOURCE_DIR "/examples/clone_source.png";
  // Strokes a 160 × 100 16-bit document refuses.
  const auto refused = [](int width, const kstroke::Source& source) {
    kstroke::Canvas painted(width, 100, kstroke::Depth::k16);
    kstroke::Document::New(160, 100, kstroke::Depth::k16)
        .Add(kstroke::Stroke(painted, kstroke::Brush(), source));
  };
  struct Case { const char* name; std::function<void()> call; long code; std::string message; };
  const Case kCases[] = {
      {"canvas too wide", [] { kstroke::Canvas(30001, 10); }, 0,
       "canvas.width: expected 1 to 30000, got 30001"},
      {"document of no width", [] { kstroke::Document::New(0, 5); }, 0,
       "canvas.width: expected 1 to 30000, got 0"},
      {"background past full", [] { kstroke::Canvas(4, 4, kstroke::Depth::k16, {1, 2, 0, 1}); }, 0,
       "canvas.background[1]: expected a number from 0 to 1, got 2"},
      {"document background", [] { kstroke::Document::New(4, 4, kstroke::Depth::k8, {0, 0, 0, -1}); }, 0,
       "canvas.background[3]: expected a number from 0 to 1, got -1"},
      {"diameter", [] { kstroke::Brush().Diameter(0); }, 0,
       "brush.diameter: expected a number above 0 up to 10000, got 0"},
      {"roundness", [] { kstroke::Brush().Roundness(1.5); }, 0,
       "brush.roundness: expected a number from 0 to 1, got 1.5"},
      {"curve of no points", [] { kstroke::Brush().Map(kstroke::Factor::kFlow, kstroke::Input::kSpeed, {}); },
       0, "brush.dynamics.flow.curve: expected 1 to 8 points, got 0"},
      {"unknown preset", [] { kstroke::Brush::Preset("crayon"); }, 0,
       "unknown brush preset \"crayon\" (one of: airbrush, brush-pen, calligraphy, chalk, clone, "
       "ink, marker, pastel, pencil, round, soft-eraser, watercolour), and no brush file of that name"},
      {"clone of another depth",
       [&] { kstroke::Stroke(canvas, kstroke::Brush(), kstroke::Source::Clone(deep)); }, 0,
       "source.image: a clone image of depth 16 on a canvas of depth 8"},
      {"clone file of another depth",
       [&] {
         kstroke::Canvas deepCanvas(16, 16, kstroke::Depth::k16);
         kstroke::Stroke(deepCanvas, kstroke::Brush(),
                         kstroke::Source::CloneFile(kstroke::Canvas::Read(clonePath), clonePath));
       },
       0, "source.image: a clone image of depth 8 on a canvas of depth 16"},
      {"missing clone file",
       [&] { kstroke::Stroke(canvas, kstroke::Brush(), kstroke::Source::CloneFile("/no/such.png")); },
       GX_Err_ImageOpen, "cannot open '/no/such.png': No such file or directory"},
      {"unknown transfer", [&] { kstroke::Stroke(canvas).Transfer("glow"); }, 0,
       "unknown transfer mode \"glow\""},
      {"time going back",
       [&] {
         kstroke::Stroke s(canvas);
         s.Add({1, 0.5, 0.5});
         s.Add({0.5, 0.6, 0.5});
       },
       0, "event 1.t: expected a time after 1 (the event before), got 0.5"},
      {"settings after the first event",
       [&] {
         kstroke::Stroke s(canvas);
         s.Add({0, 0.5, 0.5});
         s.Seed(3);
       },
       0, "seed: set before the first event"},
      {"an event after the end",
       [&] {
         kstroke::Stroke s(canvas);
         s.Add({0, 0.5, 0.5});
         s.Finish();
         s.Add({1, 0.6, 0.5});
       },
       0, "event 1: the stroke is finished"},
      {"stopped by the progress",
       [&] {
         struct Stop : kstroke::Progress {
           bool Report(int32_t, int32_t) override { return false; }
         } stop;
         kstroke::Stroke s(canvas);
         s.Add({0, 0.2, 0.5});
         s.Add({1, 0.8, 0.5});
         s.Render(&stop);
       },
       GX_Err_Cancelled, "stopped"},
      {"malformed description", [] { kstroke::Document::Parse("{", "x.json"); }, 0,
       "x.json: not valid JSON: parse error at line 1, column 2: syntax error while parsing "
       "object key - unexpected end of input; expected string literal"},
      {"unwritable file", [&] { canvas.Write("/nonexistent/o.png"); }, 0,
       "/nonexistent/o.png: cannot create the output file: No such file or directory"},
      {"unknown format", [&] { canvas.Write("o.bmp"); }, 0,
       "o.bmp: no image format has this name's extension; writable: PNG (.png: 8-bit or 16-bit), TIFF "
       "(.tif or .tiff: 8-bit, 16-bit or float), OpenEXR (.exr: half or float), and PNG on standard "
       "output (-o -)"},
      {"document of another size", [&] { refused(80, kstroke::Source::Fill({0, 0, 0})); }, 0,
       "stroke: painted on a 80x100 canvas of depth 16, the document's is 160x100 of depth 16"},
      {"clone of an image in memory",
       [&] { refused(160, kstroke::Source::Clone(deep)); }, 0,
       "source.image: a clone of an image in memory has no file a document can name "
       "(use Source::CloneFile)"},
      {"mirror", [&] { kstroke::Stroke(canvas).Symmetry("diagonal"); }, 0,
       "symmetry.mirror: expected \"none\", \"vertical\", \"horizontal\" or \"both\", got \"diagonal\""},
      {"rotate", [&] { kstroke::Stroke(canvas).Symmetry("none", 65); }, 0,
       "symmetry.rotate: expected 1 to 64, got 65"},
      {"centre", [&] { kstroke::Stroke(canvas).Symmetry("none", 2, 0.5, 101); }, 0,
       "symmetry.centre[1]: expected a number from -100 to 100, got 101"},
      {"copy past the last", [&] { kstroke::Stroke(canvas).Symmetry("both", 2).AsCopy(8); }, 0,
       "copy: expected 1 to 7, got 8"},
      {"copy without symmetry", [&] { kstroke::Stroke(canvas).AsCopy(1); }, 0,
       "copy: expected 1 to 0, got 1"},
      {"copy of a copy", [&] { kstroke::Stroke(canvas).Symmetry("vertical").AsCopy(1).AsCopy(1); },
       0, "copy: the stroke is a copy already"},
      {"symmetry after the first event",
       [&] {
         kstroke::Stroke s(canvas);
         s.Add({0, 0.5, 0.5});
         s.Symmetry("vertical");
       },
       0, "symmetry: set before the first event"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string message;
    EXPECT_EQ(CodeOf(c.call, &message), c.code);
    EXPECT_EQ(message, c.message);
  }
}

TEST(Facade, CanvasesShareTheirPixelsAndTravelThroughFiles) {
  kstroke::Canvas canvas(8, 4, kstroke::Depth::kFloat, {0.25, 0.5, 2.0, 1});
  EXPECT_EQ(canvas.Space(), kstroke::ColourSpace::kLinear);
  kstroke::PixelView view = canvas.Pixels();
  const float* pixel = static_cast<const float*>(view.data);
  EXPECT_EQ(pixel[0], 1.0f);   // alpha first
  EXPECT_EQ(pixel[3], 2.0f);   // blue, past 1 on a float canvas
  static_cast<float*>(view.data)[1] = -0.5f;
  const kstroke::Canvas copy = canvas;
  EXPECT_EQ(static_cast<const float*>(copy.World().GetLayer()->data)[1], -0.5f) << "copies share";
  const fs::path exr = fs::path(TestScratchDir()) / "facade.exr";
  canvas.Write(exr.string(), "float");
  kstroke::Canvas back = kstroke::Canvas::Read(exr.string(), kstroke::Depth::kFloat);
  EXPECT_EQ(static_cast<const float*>(back.Pixels().data)[1], -0.5f);
  EXPECT_EQ(static_cast<const float*>(back.Pixels().data)[3], 2.0f);
}

TEST(Facade, DocumentsLoadSaveAndTakeABrush) {
  const fs::path kst = fs::path(TestScratchDir()) / "facade.kst";
  kstroke::Document doc = kstroke::Document::Load(KSTROKE_SOURCE_DIR "/examples/fill.json");
  EXPECT_EQ(doc.Width(), 384);
  EXPECT_EQ(doc.Strokes(), 1u);
  doc.Save(kst.string());
  const kstroke::Document loaded = kstroke::Document::Load(kst.string());
  const kstroke::Canvas a = doc.Render(), b = loaded.Render();
  EXPECT_EQ(RowsDiffering(a.World(), b.World()), 0);
  doc.UseBrush(kstroke::Brush::Preset("soft-eraser"));
  EXPECT_NE(doc.ToJson().find("\"transfer\": \"erase\""), std::string::npos);
}

// A description saved in another folder still finds its clone image, and renders the
// same pixels as the original.
TEST(Facade, ADescriptionSavedElsewhereKeepsItsCloneImage) {
  const fs::path folder = fs::path(TestScratchDir()) / "described" / "deeper";
  fs::create_directories(folder);
  const fs::path saved = folder / "clone.json";
  const kstroke::Document doc = kstroke::Document::Load(KSTROKE_SOURCE_DIR "/examples/clone.json");
  doc.SaveDescription(saved.string());
  std::ifstream in(saved);
  std::stringstream text;
  text << in.rdbuf();
  const std::string relative =
      fs::relative(KSTROKE_SOURCE_DIR "/examples/clone_source.png", folder).string();
  EXPECT_NE(text.str().find("\"image\": \"" + relative + "\""), std::string::npos) << text.str();
  const kstroke::Canvas a = doc.Render(), b = kstroke::Document::Load(saved.string()).Render();
  EXPECT_EQ(RowsDiffering(a.World(), b.World()), 0);
  std::string message;
  EXPECT_EQ(CodeOf([&] { doc.SaveDescription("/nonexistent/d.json"); }, &message), 0);
  EXPECT_EQ(message, "/nonexistent/d.json: cannot create the output file: No such file or directory");
  EXPECT_FALSE(fs::exists(folder / "d.json"));
}

// What a painting host keeps: strokes painted live, added to a document, saved; the
// document read back renders the very pixels the canvas holds.
TEST(Facade, PaintedStrokesMakeADocumentThatRendersThem) {
  kstroke::Document doc = kstroke::Document::New(160, 100, kstroke::Depth::k16, {0.9, 0.9, 0.8, 1});
  kstroke::Canvas canvas = doc.Blank();
  const struct { kstroke::Source source; const char* brush; double y; } kStrokes[] = {
      {kstroke::Source::Fill({0.7, 0.1, 0.2}), "ink", 0.3},
      {kstroke::Source::CloneFile(KSTROKE_SOURCE_DIR "/examples/clone_source.png", 0.1, 0.2), "clone", 0.6},
      {kstroke::Source::Fill({0.1, 0.1, 0.7, 0.5}), "airbrush", 0.8},
  };
  for (const auto& s : kStrokes) {
    kstroke::Stroke stroke(canvas, kstroke::Brush::Preset(s.brush).Diameter(12), s.source);
    for (int i = 0; i < 24; ++i) {
      stroke.Add({i * 0.01, 0.1 + 0.035 * i, s.y + 0.1 * std::sin(i / 4.0), 0.4 + 0.02 * i});
      if (i % 4 == 3) stroke.Render();  // the document's batch
    }
    stroke.Finish();
    doc.Add(stroke);
  }
  ASSERT_EQ(doc.Strokes(), 3u);
  const fs::path saved = fs::path(TestScratchDir()) / "painted.json";
  {
    std::ofstream out(saved);
    out << doc.ToJson();
  }
  const kstroke::Canvas rendered = kstroke::Document::Load(saved.string()).Render();
  EXPECT_EQ(RowsDiffering(canvas.World(), rendered.World()), 0) << "rows of 100";
  EXPECT_GT(RowsDiffering(canvas.World(), doc.Blank().World()), 50) << "the strokes cover most rows";

  // Undo keeps the first strokes; keeping more than there are changes nothing.
  EXPECT_EQ(doc.Keep(1).Strokes(), 1u);
  EXPECT_EQ(doc.Keep(5).Strokes(), 1u);
  kstroke::Stroke linear(canvas);
  std::string message;
  EXPECT_EQ(CodeOf([&] { doc.Add(linear.LinearBlending(true)); }, &message), 0);
  EXPECT_EQ(message, "stroke: blends in linear light, the document's strokes the other way");

  // A clone file read once paints what the file read by the stroke paints, and a
  // document names the file either way.
  const std::string clonePath = KSTROKE_SOURCE_DIR "/examples/clone_source.png";
  kstroke::Canvas fromFile = doc.Blank(), preloaded = doc.Blank();
  const kstroke::Canvas pixels = kstroke::Canvas::Read(clonePath, kstroke::Depth::k16);
  kstroke::Stroke readByStroke(fromFile, kstroke::Brush(), kstroke::Source::CloneFile(clonePath, 0.3, 0.1));
  kstroke::Stroke readOnce(preloaded, kstroke::Brush(), kstroke::Source::CloneFile(pixels, clonePath, 0.3, 0.1));
  for (kstroke::Stroke* s : {&readByStroke, &readOnce}) {
    s->Add({0, 0.2, 0.2});
    s->Add({1, 0.8, 0.7});
    s->Finish();
  }
  EXPECT_EQ(std::memcmp(fromFile.Pixels().data, preloaded.Pixels().data, 160 * 100 * 8), 0);
  EXPECT_NE(kstroke::Document::New(160, 100, kstroke::Depth::k16).Add(readOnce).ToJson().find(clonePath),
            std::string::npos);
}

// Symmetry painted live: the original and each copy a stroke of its own, painted one
// after the other, give the pixels of the document the original is added to.
TEST(Facade, SymmetryCopiesPaintWhatTheDocumentDraws) {
  const struct {
    const char* mirror; int32_t rotate; std::size_t copies;
  } kCases[] = {{"vertical", 1, 2}, {"both", 1, 4}, {"horizontal", 3, 6}, {"none", 5, 5}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mirror + std::string(" ") + std::to_string(c.rotate));
    kstroke::Document doc = kstroke::Document::New(120, 100);
    kstroke::Canvas canvas = doc.Blank();
    const kstroke::Brush brush = kstroke::Brush::Preset("calligraphy").Diameter(9);
    std::vector<std::unique_ptr<kstroke::Stroke>> strokes;
    for (std::size_t k = 0; k < c.copies; ++k) {
      auto s = std::make_unique<kstroke::Stroke>(canvas, brush, kstroke::Source::Fill({0.6, 0.1, 0.3}));
      s->Symmetry(c.mirror, c.rotate, 0.45, 0.55);
      EXPECT_EQ(s->Copies(), c.copies);
      if (k > 0) s->AsCopy(k);
      for (int i = 0; i < 20; ++i) {
        s->Add({i * 0.01, 0.2 + 0.02 * i, 0.3 + 0.1 * std::sin(i / 3.0), 0.5 + 0.02 * i, 20, -10});
        if (i % 4 == 3) s->Render();
      }
      s->Finish();
      strokes.push_back(std::move(s));
    }
    doc.Add(*strokes[0]);
    std::string message;
    EXPECT_EQ(CodeOf([&] { doc.Add(*strokes[1]); }, &message), 0);
    EXPECT_EQ(message, "stroke: a symmetry copy is drawn by its original, not added");
    const kstroke::Canvas rendered = doc.Render();
    EXPECT_EQ(RowsDiffering(canvas.World(), rendered.World()), 0) << "rows of 100";
    EXPECT_GT(RowsDiffering(canvas.World(), doc.Blank().World()), 20)
        << "the copies reach across the canvas";
  }
}

// The README's program built against a staged install, as its folder's CMakeLists.txt
// and as a plain compiler line with pkg-config; each must draw what the golden holds.
TEST(Facade, AnInstalledKstrokeBuildsTheEmbedExample) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer build's libraries need the sanitizer in the consumer too";
#endif
  const fs::path work = fs::path(TestScratchDir()) / "embed";
  const fs::path stage = work / "stage";
  fs::create_directories(work);
  const auto run = [&](const std::string& cmd) {
    const std::string logged = cmd + " >" + (work / "log.txt").string() + " 2>&1";
    const int rc = std::system(logged.c_str());
    std::ifstream log(work / "log.txt");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_EQ(rc, 0) << cmd << "\n" << text.str();
    return rc == 0;
  };
  ASSERT_TRUE(run("cmake --install " KSTROKE_BINARY_DIR " --prefix " + stage.string()));
  EXPECT_FALSE(fs::exists(stage / "include" / "host")) << "headers go under include/kstroke/";
  EXPECT_TRUE(fs::exists(stage / "include" / "kstroke" / "host" / "gx" / "gx.h"));
  const fs::path cmakeBuild = work / "cmake";
  ASSERT_TRUE(run("cmake -S " KSTROKE_SOURCE_DIR "/examples/embed -B " + cmakeBuild.string() +
                  " -DCMAKE_PREFIX_PATH=" + stage.string()));
  ASSERT_TRUE(run("cmake --build " + cmakeBuild.string()));
  const fs::path pcBuild = work / "pkgconfig";
  fs::create_directories(pcBuild);
  ASSERT_TRUE(run("c++ " KSTROKE_SOURCE_DIR "/examples/embed/stroke.cpp -o " +
                  (pcBuild / "stroke").string() + " -Wl,-rpath," + (stage / "lib").string() +
                  " $(PKG_CONFIG_PATH=" +
                  (stage / "lib" / "pkgconfig").string() + " pkg-config --cflags --libs kstroke)"));
  for (const fs::path& dir : {cmakeBuild, pcBuild}) {
    SCOPED_TRACE(dir.filename().string());
    ASSERT_TRUE(run("cd " + dir.string() + " && ./stroke"));
    const std::unique_ptr<GX_World> drawn = ReadPng(dir / "stroke.png");
    ASSERT_TRUE(drawn);
    ExpectMatchesGolden(*drawn, "facade", "stroke.png", 0.0);
  }
}

}  // namespace
