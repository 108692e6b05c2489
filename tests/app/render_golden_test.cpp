// SPDX-License-Identifier: MIT
// Whole renders of the example strokes against golden images, and the properties a
// painting host relies on.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/progress_bar.h"
#include "app/render_job.h"
#include "golden_support.h"
#include "test_support.h"

namespace {

std::string Example(const char* file) { return std::string(KSTROKE_SOURCE_DIR "/examples/") + file; }

class ExampleRenders : public TrackedTest {};

TEST_F(ExampleRenders, MatchTheirGoldenImages) {
  // 8-bit renders are exact. Deep renders are kept as 16-bit PNG; float renders lose
  // their in-between values to the 16-bit file, so they get one 16-bit step and a bit.
  struct Case { const char* file; const char* golden; double tolerance; };
  const Case cases[] = {
      {"fill.json", "fill.png", 0.0},         {"pressure.json", "pressure.png", 0.0},
      {"ellipse.json", "ellipse.png", 0.0},   {"clone.json", "clone.png", 0.0},
      {"deep16.json", "deep16.png", 0.0},     {"float32.json", "float32.png", 5e-5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const StrokeDoc doc = LoadStrokeDoc(Example(c.file));
    std::unique_ptr<GX_World> canvas = RenderDocument(doc, nullptr);
    ExpectMatchesGolden(*canvas, "render", c.golden, c.tolerance);
  }
}

TEST_F(ExampleRenders, BatchSizeDoesNotChangeThePicture) {
  // A host may deliver events one at a time or all at once: the provisional last dab of
  // each call is taken back, so the picture is the same.
  StrokeDoc doc = LoadStrokeDoc(Example("pressure.json"));
  doc.batch = 1;
  std::unique_ptr<GX_World> one = RenderDocument(doc, nullptr);
  doc.batch = 1000000;
  std::unique_ptr<GX_World> all = RenderDocument(doc, nullptr);
  long differing = 0;
  for (int y = 0; y < one->Height(); ++y)
    for (int x = 0; x < one->Width(); ++x)
      for (int c = 0; c < 4; ++c)
        differing += GoldenChannel(*one->GetLayer(), x, y, c) != GoldenChannel(*all->GetLayer(), x, y, c);
  EXPECT_EQ(differing, 0);
}

TEST_F(ExampleRenders, BuiltInStrokePaintsTheCanvas) {
  std::unique_ptr<GX_World> canvas = RenderDocument(DefaultStrokeDoc(), nullptr);
  ExpectMatchesGolden(*canvas, "render", "default.png", 0.0);
}

TEST_F(ExampleRenders, MissingCloneImageNamesTheField) {
  StrokeDoc doc = LoadStrokeDoc(Example("clone.json"));
  doc.strokes[0].source.image = "no_such.png";
  try {
    RenderDocument(doc, nullptr);
    FAIL() << "no error";
  } catch (const RenderError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind(Example("clone.json") + ": strokes[0].source.image: ", 0), 0u) << what;
    EXPECT_NE(what.find("no_such.png"), std::string::npos) << what;
  }
}

TEST_F(ExampleRenders, CancelStopsTheRenderAndLeavesNoFile) {
  const std::string out = std::string(KSTROKE_BINARY_DIR) + "/test_out/cancelled.png";
  std::remove(out.c_str());
  ConsoleProgress::InstallSignalHandler();
  ConsoleProgress progress("test", true);
  std::raise(SIGINT);
  ASSERT_TRUE(ConsoleProgress::Cancelled());
  long code = 0;
  try {
    std::unique_ptr<GX_World> canvas = RenderDocument(LoadStrokeDoc(Example("fill.json")), &progress);
    WriteCanvasPng(*canvas, out);
  } catch (long c) {
    code = c;
  }
  ConsoleProgress::ResetCancelled();
  EXPECT_EQ(code, GX_Err_Cancelled);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(out + ".part"));
}

}  // namespace
