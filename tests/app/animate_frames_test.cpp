// SPDX-License-Identifier: MIT
#include "document/stroke_input.h"
#include "app/animate.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "document/recorded_shape.h"
#include "document/render_document.h"
#include "host/y/errors.h"
#include "program_support.h"

namespace fs = std::filesystem;

namespace {

std::string ExamplePath(const char* name) {
  return std::string(KSTROKE_SOURCE_DIR "/examples/") + name;
}

struct Diff {
  size_t pixels = 0;  ///< pixels with any channel different
  int maxLevel = 0;   ///< largest channel difference, 8-bit levels
};

Diff Compare(const GX_World& a, const GX_World& b) {
  const GX_LayerDef& la = *a.GetLayer();
  const GX_LayerDef& lb = *b.GetLayer();
  EXPECT_EQ(la.depth, 8);
  EXPECT_EQ(la.width, lb.width);
  EXPECT_EQ(la.height, lb.height);
  Diff d;
  for (int32_t y = 0; y < la.height; ++y)
    for (int32_t x = 0; x < la.width; ++x) {
      const auto* pa = static_cast<const uint8_t*>(GXp_PixelAddress(la, x, y));
      const auto* pb = static_cast<const uint8_t*>(GXp_PixelAddress(lb, x, y));
      int most = 0;
      for (int c = 0; c < 4; ++c) most = std::max(most, std::abs(int(pa[c]) - int(pb[c])));
      d.pixels += most > 0;
      d.maxLevel = std::max(d.maxLevel, most);
    }
  return d;
}

// A straight stroke along y = 0.5 on a 400 × 100 canvas whose pen speeds up: event k of
// 41 is at x = 0.1 + 0.8·u², u = k / 40, time u. Half the time covers a quarter of the
// path, so a write-on by time and one by path length part ways.
StrokeDoc Accelerating() {
  std::string events;
  for (int k = 0; k <= 40; ++k) {
    const double u = k / 40.0;
    events += (k ? "," : "") + std::string("{\"t\": ") + std::to_string(u) +
              ", \"x\": " + std::to_string(0.1 + 0.8 * u * u) + ", \"y\": 0.5" +
              (k == 0 ? ", \"spacing\": false}" : "}");
  }
  return ParseStrokeDoc(R"({"canvas": {"width": 400, "height": 100},
      "brush": {"diameter": 10, "hardness": 1, "spacing": 0.25},
      "strokes": [{"events": [)" +
                            events + "]}]}",
                        "accelerating.json");
}

// Rightmost column of row `y` that differs from the background; -1 when none.
int RightmostPainted(const GX_World& canvas, int32_t y) {
  const GX_LayerDef& l = *canvas.GetLayer();
  for (int32_t x = l.width - 1; x >= 0; --x) {
    const auto* p = static_cast<const uint8_t*>(GXp_PixelAddress(l, x, y));
    if (p[1] != 255 || p[2] != 255 || p[3] != 255) return x;
  }
  return -1;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string FreshFolder(const std::string& name) {
  const std::string folder = TestScratchDir() + "animate_" + name;
  fs::remove_all(folder);
  return folder;
}

std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Animate : public TrackedTest {};

TEST(AnimateFrames, FrameChoiceIsReadStrictly) {
  struct Case {
    const char* name;
    const char* frames;
    int count;
    FrameRange expected;
    const char* error;
  };
  const Case cases[] = {
      {"all frames", "5", 0, {5, 0, 4}, nullptr},
      {"a range", "2:4", 6, {6, 2, 4}, nullptr},
      {"one frame", "0:0", 2, {2, 0, 0}, nullptr},
      {"last frame", "5:5", 6, {6, 5, 5}, nullptr},
      {"too few", "1", 0, {}, "an animation has 2 to 1000000 frames, not 1"},
      {"count too small", "0:0", 1, {}, "an animation has 2 to 1000000 frames, not 1"},
      {"too many", "1000001", 0, {}, "an animation has 2 to 1000000 frames, not 1000001"},
      {"words", "ten", 0, {}, "--frames: expected a frame count N or a range a:b, got \"ten\""},
      {"open range", "3:", 6, {}, "--frames: expected a frame count N or a range a:b, got \"3:\""},
      {"negative",
       "-1:2",
       6,
       {},
       "--frames: expected a frame count N or a range a:b, got \"-1:2\""},
      {"count twice", "5", 5, {}, "--count goes with a range --frames a:b, not with a frame count"},
      {"range without count",
       "2:4",
       0,
       {},
       "--frames 2:4: give the animation's length with --count N"},
      {"backwards", "4:2", 6, {}, "--frames 4:2: expected a range within 0:5, first frame first"},
      {"past the end",
       "2:6",
       6,
       {},
       "--frames 2:6: expected a range within 0:5, first frame first"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const FrameRange r = ParseFrameRange(c.frames, c.count);
      EXPECT_EQ(c.error, nullptr) << "no error";
      EXPECT_EQ(r.count, c.expected.count);
      EXPECT_EQ(r.first, c.expected.first);
      EXPECT_EQ(r.last, c.expected.last);
    } catch (const AnimateError& e) {
      EXPECT_STREQ(e.what(), c.error ? c.error : "(no error expected)");
    }
  }
  EXPECT_EQ(FrameFileName(7), "frame_0007.png");
  EXPECT_EQ(FrameFileName(12345), "frame_12345.png");
}

TEST_F(Animate, EndFramesAreTheKeyframesThemselves) {
  const StrokeDoc a = LoadStrokeDoc(ExamplePath("keyframe_a.json"));
  const StrokeDoc b = LoadStrokeDoc(ExamplePath("keyframe_b.json"));
  const Animation animation(a, b, false);
  const std::unique_ptr<GX_World> first = animation.RenderFrame(0, 5, nullptr);
  const std::unique_ptr<GX_World> last = animation.RenderFrame(4, 5, nullptr);
  const std::unique_ptr<GX_World> middle = animation.RenderFrame(2, 5, nullptr);
  const std::unique_ptr<GX_World> paintedA = RenderDocument(a, nullptr);
  const std::unique_ptr<GX_World> paintedB = RenderDocument(b, nullptr);
  EXPECT_EQ(Compare(*first, *paintedA).pixels, 0u);
  EXPECT_EQ(Compare(*last, *paintedB).pixels, 0u);
  // The middle frame is neither keyframe.
  EXPECT_GT(Compare(*middle, *paintedA).pixels, 1000u);
  EXPECT_GT(Compare(*middle, *paintedB).pixels, 1000u);
}

TEST_F(Animate, SettingsComeFromTheFirstKeyframeWithBrushNumbersBlended) {
  StrokeDoc a = LoadStrokeDoc(ExamplePath("keyframe_a.json"));
  StrokeDoc b = LoadStrokeDoc(ExamplePath("keyframe_b.json"));
  b.strokes[0].brush.dither = true;
  b.strokes[0].transfer = "multiply";
  b.strokes[0].seed = 77;
  b.width = 100;
  const Animation animation(a, b, false);
  const Frame mid = animation.MakeFrame(1, 3);
  const DocStroke& s = mid.doc.strokes[0];
  EXPECT_EQ(s.brush.diameter, 26.0);  // 18 and 34
  EXPECT_DOUBLE_EQ(s.brush.hardness, 0.8);
  EXPECT_DOUBLE_EQ(s.source.colour[1], 0.4);  // 0.25 and 0.55
  EXPECT_EQ(s.brush.spacing, 0.15);
  EXPECT_FALSE(s.brush.dither);
  EXPECT_EQ(s.transfer, "normal");
  EXPECT_EQ(s.seed, 1);
  EXPECT_EQ(mid.doc.width, 384);
  // Exactly the second keyframe's numbers at the end.
  const Frame end = animation.MakeFrame(2, 3);
  EXPECT_EQ(end.doc.strokes[1].brush.hardness, b.strokes[1].brush.hardness);
  EXPECT_EQ(end.doc.strokes[1].source.colour, b.strokes[1].source.colour);
  ASSERT_EQ(mid.shapes.size(), 2u);
  ASSERT_TRUE(mid.shapes[0]);
  EXPECT_EQ(mid.shapes[0]->NumVertices(), 48);
}

TEST_F(Animate, KeyframeProblemsAreOneLine) {
  const StrokeDoc two = LoadStrokeDoc(ExamplePath("keyframe_a.json"));
  const StrokeDoc one = LoadStrokeDoc(ExamplePath("fill.json"));
  StrokeDoc still =
      ParseStrokeDoc(R"({"strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})", "still.json");
  struct Case {
    const char* name;
    std::function<void()> run;
    std::string message;
  };
  const Case cases[] = {
      {"stroke counts differ", [&] { Animation(two, one, false); },
       ExamplePath("fill.json") + " has 1 stroke but " + ExamplePath("keyframe_a.json") +
           " has 2 strokes: keyframes need the same number of strokes"},
      {"no duration to write on", [&] { Animation(still, std::nullopt, true); },
       "still.json: strokes[0]: a stroke must end after time 0 to be written on"},
      {"no timing to interpolate", [&] { Animation(still, still, false).MakeFrame(1, 3); },
       "still.json: strokes[0]: the keyframes cannot be interpolated: engine error 3 "
       "(keyframe stroke has no usable timing)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.run();
      ADD_FAILURE() << "no error";
    } catch (const AnimateError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST_F(Animate, WriteOnDrawsItsShareOfThePathLength) {
  const StrokeDoc doc = Accelerating();
  const Animation animation(doc, std::nullopt, true);
  const std::unique_ptr<K_Shape> shape = RecordStroke(doc.strokes[0], doc.width, doc.height, "accelerating");
  const std::vector<DocEvent>& events = doc.strokes[0].events;
  const int frames = 5;
  for (int k = 1; k < frames - 1; ++k) {
    SCOPED_TRACE(k);
    const double share = double(k) / (frames - 1);
    const std::unique_ptr<GX_World> frame = animation.RenderFrame(k, frames, nullptr);
    // The path is a straight line, so the share of its length ends at this x.
    const double xEnd = 0.1 + 0.8 * share;
    const double xEndPx = xEnd * 400;
    const int right = RightmostPainted(*frame, 50);
    EXPECT_LE(right, xEndPx + 5 + 1);  // the radius past the end, no more
    EXPECT_GE(right, xEndPx - 3);      // within a spacing step of it
    // The same stroke trimmed at the time the pen passed that x: events are vertices,
    // and between two, time runs with the distance along the segment.
    size_t e = 1;
    while (events[e].x < xEnd) ++e;
    const double along = (xEnd - events[e - 1].x) / (events[e].x - events[e - 1].x);
    const double time = events[e - 1].time + along * (events[e].time - events[e - 1].time);
    StrokeDoc trimmed = doc;
    trimmed.strokes[0].trim = {{0.0, time / events.back().time}};
    const std::unique_ptr<GX_World> expected = RenderDocument(trimmed, nullptr);
    const Diff d = Compare(*frame, *expected);
    EXPECT_LE(d.maxLevel, 2) << d.pixels << " pixels differ";
  }
  // Nothing at first, the stroke as painted at the end.
  const std::unique_ptr<GX_World> blank = NewCanvas(doc);
  EXPECT_EQ(Compare(*animation.RenderFrame(0, frames, nullptr), *blank).pixels, 0u);
  EXPECT_EQ(
      Compare(*animation.RenderFrame(frames - 1, frames, nullptr), *RenderDocument(doc, nullptr))
          .pixels,
      0u);
}

TEST_F(Animate, WriteOnEndMapsShareToTime) {
  // Two straight segments of lengths 1 and 3 (in canvas fractions) drawn in 1 and then
  // 4 seconds: a quarter of the length is the first vertex, reached at time 1 of 5.
  const StrokeDoc doc = ParseStrokeDoc(R"({"strokes": [{"recorded": {
      "vertices": [[[0, 0], [0, 0], [0.1, 0]], [[0.1, 0], [0.1, 0], [0.4, 0]],
                   [[0.4, 0], [0.4, 0], [0.4, 0]]],
      "timeDistance": [[0, 0], [1, 1], [5, 2]], "spacing": [[5, true]],
      "params": {"diameter": [[5, 1]], "opacity": [[5, 1]], "flow": [[5, 1]],
                 "angle": [[5, 0]], "roundness": [[5, 1]]}}}]})",
                                       "two.json");
  const std::unique_ptr<K_Shape> shape = ShapeFromRecorded(*doc.strokes[0].recorded);
  struct Case {
    double share;
    double end;
  };
  const Case cases[] = {{0, 0}, {0.125, 0.1}, {0.25, 0.2}, {0.625, 0.6}, {1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.share);
    EXPECT_NEAR(WriteOnEnd(*shape, c.share), c.end, 1e-6);
  }
}

TEST_F(Animate, CancelledFrameIsNotWritten) {
  const StrokeDoc a = LoadStrokeDoc(ExamplePath("keyframe_a.json"));
  const StrokeDoc b = LoadStrokeDoc(ExamplePath("keyframe_b.json"));
  const Animation animation(a, b, false);
  // The cancel comes with the first report after the second frame is on disk, so it
  // lands in the third frame. (Counting reports would not do: threaded rows report
  // from the calling thread only, and how many rows that takes varies run to run.)
  const std::string folder = FreshFolder("cancel");
  struct Canceller : kstroke::Progress {
    explicit Canceller(fs::path second_) : second(std::move(second_)) {}
    bool Report(int32_t, int32_t) override {
      if (!fs::exists(second)) return true;
      ++reportsAfter;
      return false;
    }
    fs::path second;
    int32_t reportsAfter = 0;
  } canceller{fs::path(folder) / "frame_0001.png"};
  int written = -1;
  EXPECT_EQ(ThrownCode([&] {
              animation.RenderFrames({4, 0, 3}, folder, &canceller, &written);
            }),
            GX_Err_Cancelled);
  EXPECT_GE(canceller.reportsAfter, 1);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"frame_0000.png", "frame_0001.png"}));
}

// The program itself ---------------------------------------------------------------

int Kstroke(const std::string& args, std::string* err) {
  const ProgramRun r = RunKstroke(args);
  *err = r.err;
  return r.status;
}

TEST(AnimateProgram, RangeWritesExactlyThoseFramesNumberedAsInTheWhole) {
  const std::string keys = ExamplePath("keyframe_a.json") + " " + ExamplePath("keyframe_b.json");
  const std::string whole = FreshFolder("whole"), part = FreshFolder("part");
  std::string err;
  ASSERT_EQ(Kstroke("animate -q " + keys + " --frames 6 -o " + whole, &err), 0) << err;
  ASSERT_EQ(Kstroke("animate -q " + keys + " --count 6 --frames 2:4 -o " + part, &err), 0) << err;
  EXPECT_EQ(FilesIn(part),
            (std::vector<std::string>{"frame_0002.png", "frame_0003.png", "frame_0004.png"}));
  EXPECT_EQ(FilesIn(whole).size(), 6u);
  for (const std::string& name : FilesIn(part)) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FileBytes(part + "/" + name), FileBytes(whole + "/" + name));
  }
  // Frames 0 and 5 are the keyframes as `render` draws them.
  ASSERT_EQ(Kstroke("render -q " + ExamplePath("keyframe_b.json") + " -o " + part + "/b.png", &err),
            0);
  EXPECT_EQ(FileBytes(part + "/b.png"), FileBytes(whole + "/frame_0005.png"));
}

TEST(AnimateProgram, BadRequestsEndWithOneLine) {
  const std::string a = ExamplePath("keyframe_a.json");
  const std::string out = FreshFolder("bad");
  struct Case {
    const char* name;
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"one keyframe", a + " --frames 4", 2,
       "kstroke animate: give a second keyframe, or --write-on to write one on\n"},
      {"range without count", a + " --write-on --frames 1:2", 2,
       "kstroke animate: --frames 1:2: give the animation's length with --count N\n"},
      {"stroke counts differ", a + " " + ExamplePath("fill.json") + " --frames 3", 1,
       "kstroke animate: " + ExamplePath("fill.json") + " has 1 stroke but " + a +
           " has 2 strokes: keyframes need the same number of strokes\n"},
      {"missing keyframe", a + " /nonexistent/b.json --frames 3", 1,
       "kstroke animate: /nonexistent/b.json: cannot open file: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    EXPECT_EQ(Kstroke("animate -q " + c.args + " -o " + out, &err), c.status);
    EXPECT_EQ(err, c.message);
  }
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
