// SPDX-License-Identifier: MIT
#include "document/stroke_input.h"
#include "app/animate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "app_test_support.h"
#include "document/recorded_shape.h"
#include "document/render_document.h"
#include "host/y/errors.h"

namespace fs = std::filesystem;

namespace {

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
      "brush": {"diameter": 10, "hardness": 1, "spacing": 0.25}, "strokes": [{"events": [)" +
                            events + "]}]}", "accelerating.json");
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

class Animate : public TrackedTest {};

TEST(AnimateFrames, FrameChoiceIsReadStrictly) {
  const std::string usage = "--frames: expected a frame count N or a range a:b, got ";
  const std::string within = ": expected a range within 0:5, first frame first";
  const struct {
    const char* frames;
    int count;
    FrameRange expected;
    std::string error;
  } kCases[] = {
      {"5", 0, {5, 0, 4}, ""},
      {"2:4", 6, {6, 2, 4}, ""},
      {"0:0", 2, {2, 0, 0}, ""},
      {"5:5", 6, {6, 5, 5}, ""},
      {"1", 0, {}, "an animation has 2 to 1000000 frames, not 1"},
      {"0:0", 1, {}, "an animation has 2 to 1000000 frames, not 1"},
      {"1000001", 0, {}, "an animation has 2 to 1000000 frames, not 1000001"},
      {"ten", 0, {}, usage + "\"ten\""},
      {"3:", 6, {}, usage + "\"3:\""},
      {"-1:2", 6, {}, usage + "\"-1:2\""},
      {"5", 5, {}, "--count goes with a range --frames a:b, not with a frame count"},
      {"2:4", 0, {}, "--frames 2:4: give the animation's length with --count N"},
      {"4:2", 6, {}, "--frames 4:2" + within},
      {"2:6", 6, {}, "--frames 2:6" + within},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.frames) + " of " + std::to_string(c.count));
    try {
      const FrameRange r = ParseFrameRange(c.frames, c.count);
      EXPECT_EQ(c.error, "") << "no error";
      EXPECT_EQ(std::tuple(r.count, r.first, r.last), std::tuple(c.expected.count, c.expected.first, c.expected.last));
    } catch (const AnimateError& e) {
      EXPECT_EQ(e.what(), c.error);
    }
  }
  EXPECT_EQ(FrameFileName(7), "frame_0007.png");
  EXPECT_EQ(FrameFileName(12345), "frame_12345.png");
}

TEST_F(Animate, SettingsComeFromTheFirstKeyframeWithBrushNumbersBlended) {
  StrokeDoc a = LoadStrokeDoc(Example("keyframe_a.json"));
  StrokeDoc b = LoadStrokeDoc(Example("keyframe_b.json"));
  b.strokes[0].brush.dither = true;
  b.strokes[0].transfer = "multiply";
  b.strokes[0].seed = 77;
  b.width = 100;
  const Animation animation(a, b, false);
  const Frame mid = animation.MakeFrame(1, 3);
  const DocStroke& s = mid.doc.strokes[0];
  // Diameter from 18 and 34; the rest of the settings from the first keyframe.
  EXPECT_EQ(std::tuple(s.brush.diameter, s.brush.spacing, s.brush.dither, s.transfer, s.seed, mid.doc.width),
            std::tuple(26.0, 0.15, false, "normal", 1, 384));
  EXPECT_DOUBLE_EQ(s.brush.hardness, 0.8);
  EXPECT_DOUBLE_EQ(s.source.colour[1], 0.4);  // 0.25 and 0.55
  // Exactly the second keyframe's numbers at the end.
  const Frame end = animation.MakeFrame(2, 3);
  EXPECT_EQ(end.doc.strokes[1].brush.hardness, b.strokes[1].brush.hardness);
  EXPECT_EQ(end.doc.strokes[1].source.colour, b.strokes[1].source.colour);
  ASSERT_EQ(mid.shapes.size(), 2u);
  ASSERT_TRUE(mid.shapes[0]);
  EXPECT_EQ(mid.shapes[0]->NumVertices(), 48);
}

TEST_F(Animate, WriteOnDrawsItsShareOfThePathLength) {
  const StrokeDoc doc = Accelerating();
  const Animation animation(doc, std::nullopt, true);
  const std::vector<DocEvent>& events = doc.strokes[0].events;
  const int frames = 5;
  for (int k = 1; k < frames - 1; ++k) {
    SCOPED_TRACE(k);
    const std::unique_ptr<GX_World> frame = animation.RenderFrame(k, frames, nullptr);
    // The path is a straight line, so the share of its length ends at this x.
    const double xEnd = 0.1 + 0.8 * double(k) / (frames - 1);
    const int right = RightmostPainted(*frame, 50);
    EXPECT_LE(right, xEnd * 400 + 5 + 1);  // the radius past the end, no more
    EXPECT_GE(right, xEnd * 400 - 3);      // within a spacing step of it
    // The same stroke trimmed at the time the pen passed that x: events are vertices,
    // and between two, time runs with the distance along the segment.
    size_t e = 1;
    while (events[e].x < xEnd) ++e;
    const double along = (xEnd - events[e - 1].x) / (events[e].x - events[e - 1].x);
    const double time = events[e - 1].time + along * (events[e].time - events[e - 1].time);
    StrokeDoc trimmed = doc;
    trimmed.strokes[0].trim = {{0.0, time / events.back().time}};
    const CanvasDiff d = Difference(*frame, *RenderDocument(trimmed, nullptr));
    EXPECT_LE(d.largest, 2.0 / 255) << d.pixels << " pixels differ";
  }
  // Nothing at first, the stroke as painted at the end.
  EXPECT_EQ(Difference(*animation.RenderFrame(0, frames, nullptr), *NewCanvas(doc)).pixels, 0u);
  EXPECT_EQ(Difference(*animation.RenderFrame(frames - 1, frames, nullptr), *RenderDocument(doc, nullptr)).pixels, 0u);
}

TEST_F(Animate, WriteOnEndMapsShareToTime) {
  // Two straight segments of lengths 1 and 3 (in canvas fractions) drawn in 1 and then
  // 4 seconds: a quarter of the length is the first vertex, reached at time 1 of 5.
  const StrokeDoc doc = ParseStrokeDoc(R"({"strokes": [{"recorded": {
      "vertices": [[[0, 0], [0, 0], [0.1, 0]], [[0.1, 0], [0.1, 0], [0.4, 0]],
                   [[0.4, 0], [0.4, 0], [0.4, 0]]],
      "timeDistance": [[0, 0], [1, 1], [5, 2]], "spacing": [[5, true]],
      "params": {"diameter": [[5, 1]], "opacity": [[5, 1]], "flow": [[5, 1]],
                 "angle": [[5, 0]], "roundness": [[5, 1]]}}}]})", "two.json");
  const std::unique_ptr<K_Shape> shape = ShapeFromRecorded(*doc.strokes[0].recorded);
  for (const auto& [share, end] : {std::pair{0.0, 0.0}, {0.125, 0.1}, {0.25, 0.2}, {0.625, 0.6}, {1.0, 1.0}}) {
    SCOPED_TRACE(share);
    EXPECT_NEAR(WriteOnEnd(*shape, share), end, 1e-6);
  }
}

TEST_F(Animate, CancelledFrameIsNotWritten) {
  const Animation animation(LoadStrokeDoc(Example("keyframe_a.json")),
                            LoadStrokeDoc(Example("keyframe_b.json")), false);
  // The cancel comes with the first report after the second frame is on disk, so it
  // lands in the third frame. (Counting reports would not do: threaded rows report
  // from the calling thread only, and how many rows that takes varies run to run.)
  const std::string folder = NewFolder("cancel");
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
  EXPECT_EQ(ThrownCode([&] { animation.RenderFrames({4, 0, 3}, folder, &canceller, &written); }), GX_Err_Cancelled);
  EXPECT_GE(canceller.reportsAfter, 1);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"frame_0000.png", "frame_0001.png"}));
}

// The program itself ---------------------------------------------------------------

TEST(AnimateProgram, RangeWritesExactlyThoseFramesNumberedAsInTheWhole) {
  const std::string keys = ExampleKeyframes();
  const std::string whole = NewFolder("whole"), part = NewFolder("part");
  Ran("animate -q " + keys + " --frames 6 -o " + whole);
  Ran("animate -q " + keys + " --count 6 --frames 2:4 -o " + part);
  EXPECT_EQ(NamesIn(part), (std::vector<std::string>{"frame_0002.png", "frame_0003.png", "frame_0004.png"}));
  EXPECT_EQ(NamesIn(whole).size(), 6u);
  for (const std::string& name : NamesIn(part))
    EXPECT_EQ(SlurpFile(part + "/" + name), SlurpFile(whole + "/" + name)) << name;
  // The end frames are the keyframes as `render` draws them; the middle ones neither.
  for (const auto& [key, frame] : {std::pair{"a", "0000"}, {"b", "0005"}}) {
    SCOPED_TRACE(key);
    const std::string drawn = part + "/" + key + ".png";
    Ran("render -q " + Example(std::string("keyframe_") + key + ".json") + " -o " + drawn);
    EXPECT_EQ(SlurpFile(drawn), SlurpFile(whole + "/frame_" + frame + ".png"));
    EXPECT_FALSE(SameImagePixels(drawn, whole + "/frame_0002.png"));
  }
}

TEST(AnimateProgram, BadRequestsEndWithOneLine) {
  const std::string a = Example("keyframe_a.json");
  const std::string out = " -o " + TestScratchDir() + "animate_bad";
  // A stroke of one event: no timing to interpolate, nothing to write on. Refused only
  // when its first frame is drawn: the folder is made after that.
  const std::string still = TestScratchDir() + "still.json";
  WriteText(still, R"({"strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})");
  // Symmetry copies are strokes of their own, but messages name the file's strokes.
  const std::string copied = TestScratchDir() + "copied.json";
  WriteText(copied, R"({"strokes": [
    {"symmetry": {"rotate": 3}, "events": [{"t": 0, "x": 0.2, "y": 0.5}, {"t": 1, "x": 0.4, "y": 0.5}]},
    {"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})");
  ExpectRefusals({
      {"keyframes without timing", "animate -q " + still + " " + still + " --frames 3" + out, 1,
       "kstroke animate: " + still + ": strokes[0]: the keyframes cannot be interpolated: "
       "engine error 3 (keyframe stroke has no usable timing)\n"},
      {"written on without timing", "animate -q " + still + " --write-on --frames 3" + out, 1,
       "kstroke animate: " + still + ": strokes[0]: a stroke must end after time 0 to be written on\n"},
      {"copy written on without timing", "animate -q " + copied + " --write-on --frames 3" + out, 1,
       "kstroke animate: " + copied + ": strokes[1]: a stroke must end after time 0 to be written on\n"},
      {"stroke counts differ by copies", "animate -q " + copied + " " + Example("fill.json") + " --frames 3" + out, 1,
       "kstroke animate: " + Example("fill.json") + " has 1 stroke but " + copied +
           " has 4 strokes (symmetry copies counted): keyframes need the same number of strokes\n"},
      {"one keyframe", "animate -q " + a + " --frames 4" + out, 2,
       "kstroke animate: give a second keyframe, or --write-on to write one on\n"},
      {"range without count", "animate -q " + a + " --write-on --frames 1:2" + out, 2,
       "kstroke animate: --frames 1:2: give the animation's length with --count N\n"},
      {"stroke counts differ", "animate -q " + a + " " + Example("fill.json") + " --frames 3" + out, 1,
       "kstroke animate: " + Example("fill.json") + " has 1 stroke but " + a +
           " has 2 strokes: keyframes need the same number of strokes\n"},
      {"missing keyframe", "animate -q " + a + " /nonexistent/b.json --frames 3" + out, 1,
       "kstroke animate: /nonexistent/b.json: cannot open file: No such file or directory\n"},
  });
  EXPECT_FALSE(fs::exists(TestScratchDir() + "animate_bad"));
}

}  // namespace
