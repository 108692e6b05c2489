// SPDX-License-Identifier: MIT
// Whole renders of the example strokes against golden images, and the properties a
// painting host relies on.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "document/progress_records.h"
#include "document/render_document.h"
#include "golden_support.h"
#include "test_support.h"

namespace {

std::string Example(const char* file) { return std::string(KSTROKE_SOURCE_DIR "/examples/") + file; }

class ExampleRenders : public TrackedTest {};

TEST_F(ExampleRenders, MatchTheirGoldenImages) {
  // 8-bit renders are exact. Deep renders are kept as 16-bit PNG; float renders lose
  // their in-between values to the 16-bit file, so they get one 16-bit step and a bit.
  // Each example also loads as the document it was written as.
  struct Case {
    const char* file; const char* golden; double tolerance; int depth; size_t strokes; const char* source;
  };
  const Case cases[] = {
      {"fill.json", "fill.png", 0.0, 8, 1, "fill"},
      {"pressure.json", "pressure.png", 0.0, 8, 1, "fill"},
      {"ellipse.json", "ellipse.png", 0.0, 8, 2, "fill"},
      {"clone.json", "clone.png", 0.0, 8, 1, "clone"},
      {"deep16.json", "deep16.png", 0.0, 16, 1, "fill"},
      {"float32.json", "float32.png", 5e-5, 32, 2, "fill"},
      {"blend_linear.json", "blend_linear.png", 0.0, 8, 2, "fill"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const StrokeDoc doc = LoadStrokeDoc(Example(c.file));
    EXPECT_EQ(doc.depth, c.depth);
    EXPECT_EQ(doc.strokes.size(), c.strokes);
    EXPECT_EQ(doc.strokes[0].source.type, c.source);
    EXPECT_GT(doc.strokes[0].events.size(), 50u);
    std::unique_ptr<GX_World> canvas = RenderDocument(doc, nullptr);
    ExpectMatchesGolden(*canvas, "render", c.golden, c.tolerance);
  }
}

TEST_F(ExampleRenders, BuiltInStrokePaintsTheCanvas) {
  std::unique_ptr<GX_World> canvas = RenderDocument(DefaultStrokeDoc(), nullptr);
  ExpectMatchesGolden(*canvas, "render", "default.png", 0.0);
}

TEST_F(ExampleRenders, MissingCloneImageNamesTheField) {
  StrokeDoc doc = LoadStrokeDoc(Example("clone.json"));
  doc.strokes[0].source.image = "no_such.png";
  // Behind a stroke drawn with symmetry copies, the field is still the file's strokes[1].
  StrokeDoc behindCopies = doc;
  behindCopies.strokes.insert(behindCopies.strokes.begin(), LoadStrokeDoc(Example("fill.json")).strokes[0]);
  behindCopies.strokes[0].symmetry.rotate = 3;
  for (const auto& [d, field] : {std::pair{doc, "strokes[0]"}, {behindCopies, "strokes[1]"}}) {
    SCOPED_TRACE(field);
    try {
      RenderDocument(d, nullptr);
      FAIL() << "no error";
    } catch (const RenderError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(Example("clone.json") + ": " + field + ".source.image: ", 0), 0u) << what;
      EXPECT_NE(what.find("no_such.png"), std::string::npos) << what;
    }
  }
}

TEST_F(ExampleRenders, CloneImagesAreReadOncePerDocument) {
  // Three strokes clone one image: it is read once, rows reported once each, and the
  // picture is what three strokes each reading it give.
  StrokeDoc doc = LoadStrokeDoc(Example("clone.json"));
  doc.strokes = {doc.strokes[0], doc.strokes[0], doc.strokes[0]};
  ProgressRecorder rows;
  GX_ProgressInfo counter = rows.Record();
  CloneImages images;
  GX_World* first = images.Get(doc, 0, &counter);
  EXPECT_EQ(rows.reports.size(), size_t(first->Height()));
  EXPECT_EQ(images.Get(doc, 1, &counter), first);
  EXPECT_EQ(images.Get(doc, 2, &counter), first);
  EXPECT_EQ(rows.reports.size(), size_t(first->Height()));

  std::unique_ptr<GX_World> shared = RenderDocument(doc, nullptr);
  std::unique_ptr<GX_World> apart = NewCanvas(doc);
  for (size_t i = 0; i < doc.strokes.size(); ++i) RenderStroke(doc, i, apart.get(), nullptr);
  EXPECT_EQ(RowsDiffering(*shared, *apart), 0);

  // Stopped part way, the read throws the answer and keeps nothing.
  ProgressRecorder stop(2, GX_Err_Cancelled);
  GX_ProgressInfo stopper = stop.Record();
  CloneImages fresh;
  EXPECT_EQ(ThrownCode([&] { fresh.Get(doc, 0, &stopper); }), GX_Err_Cancelled);
  EXPECT_EQ(stop.reports.size(), 3u);
}

TEST_F(ExampleRenders, AStopStopsTheRenderOrTheWriteAndLeavesNoFile) {
  // A progress that says stop before the render stops the render; one that says so once
  // the picture is drawn stops the write, row by row, or at the latest before the file
  // is put in place, and the temporary goes too.
  const std::filesystem::path folder = std::filesystem::path(TestScratchDir()) / "cancel";
  std::filesystem::create_directories(folder);
  const std::string out = (folder / "cancelled.png").string();
  struct Stopper : kstroke::Progress {
    bool Report(int32_t, int32_t) override { return go; }
    bool KeepGoing() override { return go; }
    bool go = true;
  } stopper;
  const StrokeDoc doc = LoadStrokeDoc(Example("fill.json"));
  const std::unique_ptr<GX_World> drawn = RenderDocument(doc, &stopper);
  stopper.go = false;
  EXPECT_EQ(ThrownCode([&] { RenderDocument(doc, &stopper); }), GX_Err_Cancelled);
  ProgressRecords records(&stopper);
  EXPECT_EQ(ThrownCode([&] {
              WriteCanvas(*drawn, GX_ColourEncoding::kSrgb, ChooseOutput(out), records.CancelOnly());
            }),
            GX_Err_Cancelled);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
