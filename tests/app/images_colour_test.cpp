// SPDX-License-Identifier: MIT
// Colour and image files as a user of the program meets them: the canvas's colour and
// blending, clone images of every format, the output format chosen by name, standard
// output, and hostile images of every format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/animate.h"
#include "app_test_support.h"
#include "document/render_document.h"
#include "host/gx/gx_image.h"
#include "host/gx/gx_transfer.h"
#include "image_bytes.h"
#include "image_files.h"

namespace {

namespace fs = std::filesystem;

double LinearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055; }
double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double Largest(const GX_World& a, const GX_World& b) { return Difference(a, b).largest; }
template <typename P>
const P& PixelAt(const GX_World& w, int x, int y) {
  return *static_cast<const P*>(GXp_PixelAddress(*w.GetLayer(), x, y));
}

void WriteImage(const fs::path& path, GX_ImageFormat format, const GX_World& w) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_EQ(GX_WriteImageStream(f, path.filename().c_str(), format, *w.GetLayer()), 0);
  std::fclose(f);
}

std::unique_ptr<GX_World> ReadBack(const std::string& path, int depth, GX_ColourEncoding colour) {
  GX_ImageReadOptions o;
  o.colour = colour;
  GX_World* raw = nullptr;
  EXPECT_EQ(GX_ReadImage(path.c_str(), depth, &raw, &o), 0) << GX_ImageLastMessage();
  return std::unique_ptr<GX_World>(raw);
}

GX_ImageFormat FormatOfFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  unsigned char head[4] = {};
  in.read(reinterpret_cast<char*>(head), 4);
  return GX_ImageFormatOfBytes(head, std::size_t(in.gcount()));
}

// One dab of a hard brush at the canvas centre, black at opacity 0.5 over white: the
// centre's mask is exactly half.
StrokeDoc HalfBlackDab(int depth, const std::string& extra) {
  return ParseStrokeDoc(R"({"canvas": {"width": 64, "height": 64, "depth": )" +
                            std::to_string(depth) + R"(}, )" + extra +
                            R"("brush": {"diameter": 40, "hardness": 1, "opacity": 0.5},
                            "strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5, "spacing": false}]}]})", "dab.json");
}

class Colour : public TrackedTest {};

TEST_F(Colour, CanvasColourFollowsTheDepthUnlessGiven) {
  const struct {
    std::string canvas;  ///< inside "canvas": {...}
    std::string top;     ///< top-level fields
    std::string colour;  ///< CanvasColour, or the error after "c.json: "
    std::string blending;
  } kCases[] = {
      {R"("depth": 8)", "", "srgb", "encoded"},
      {R"("depth": 16)", "", "srgb", "encoded"},
      {R"("depth": 32)", "", "linear", "encoded"},
      {R"("depth": 8, "colour": "linear")", R"("blending": "linear", )", "linear", "linear"},
      {R"("depth": 32, "color": "srgb")", "", "srgb", "encoded"},
      {R"("colour": "p3")", "", "canvas.colour: unknown value \"p3\" (one of: srgb, linear)", ""},
      {"", R"("blending": "gamma", )", "blending: unknown value \"gamma\" (one of: encoded, linear)", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.top + c.canvas);
    const std::string text = "{" + c.top + R"("canvas": {)" + c.canvas +
                             R"(}, "strokes": [{"events": [{"t": 0, "x": 0, "y": 0}]}]})";
    if (c.blending.empty()) {
      EXPECT_EQ(ErrorFrom<StrokeDocError>([&] { ParseStrokeDoc(text, "c.json"); }), "c.json: " + c.colour);
      continue;
    }
    const StrokeDoc doc = ParseStrokeDoc(text, "c.json");
    EXPECT_EQ(std::pair(CanvasColour(doc), doc.blending), std::pair(c.colour, c.blending));
    // Written out, the document says what it means, and reads back the same.
    const StrokeDoc again = ParseStrokeDoc(StrokeDocToJson(doc), "again.json");
    EXPECT_EQ(std::pair(again.colour, again.blending), std::pair(c.colour, c.blending));
  }
}

TEST_F(Colour, LinearBlendingDiffersFromEncodedExactlyAsTheTablesSay) {
  // Half black over white: blending the stored values gives half; blending light gives
  // half the light, which the sRGB curve encodes as 0.7354.
  const std::unique_ptr<GX_World> linear = RenderDocument(HalfBlackDab(16, R"("blending": "linear", )"), nullptr);
  EXPECT_EQ(PixelAt<GX_Pixel16>(*RenderDocument(HalfBlackDab(16, ""), nullptr), 32, 32).red, 16384);
  const GX_Pixel16& l = PixelAt<GX_Pixel16>(*linear, 32, 32);
  const GX_LinearBlendingTables& t = GX_LinearBlendingTables::Srgb();
  EXPECT_EQ(l.red, GXp_Px16::FromUnit(t.FromLinear(0.5f * t.ToLinear(1.0f) + 0.5f * t.ToLinear(0.0f))));
  EXPECT_NEAR(l.red, LinearToSrgb(0.5) * 32768, 1.0);
  EXPECT_EQ(std::pair(l.green, l.alpha), std::pair(l.red, uint16_t(32768)));
  EXPECT_EQ(PixelAt<GX_Pixel16>(*linear, 1, 1).red, 32768) << "away from the dab nothing changes";

  // A linear canvas holds light already: both settings blend the stored values, and
  // the centre is half.
  const std::unique_ptr<GX_World> a = RenderDocument(HalfBlackDab(32, ""), nullptr);
  EXPECT_EQ(Largest(*a, *RenderDocument(HalfBlackDab(32, R"("blending": "linear", )"), nullptr)), 0.0);
  EXPECT_EQ(PixelAt<GX_PixelFloat>(*a, 32, 32).red, 0.5f);
}

TEST_F(Colour, CloneImagesAreReadIntoTheCanvassColour) {
  StrokeDoc doc = LoadStrokeDoc(Example("clone.json"));
  doc.depth = 32;  // linear by default
  CloneImages images;
  GX_World* linear = images.Get(doc, 0, nullptr);
  const std::unique_ptr<GX_World> srgb = ReadBack(Example("clone_source.png"), 8, GX_ColourEncoding::kSrgb);
  for (int y = 0; y < srgb->Height(); y += 37)
    for (int x = 0; x < srgb->Width(); x += 41)
      for (int c = 1; c < 4; ++c)
        ASSERT_NEAR(GoldenChannel(*linear->GetLayer(), x, y, c),
                    SrgbToLinear(GoldenChannel(*srgb->GetLayer(), x, y, c)), 1e-5);
  doc.colour = "srgb";
  EXPECT_NE(images.Get(doc, 0, nullptr), linear) << "read again for another colour";
}

std::string JpegOf(const GX_World& w) {
  return MakeJpeg(w.Width(), w.Height(), JCS_RGB, 3, [&](int y, uint8_t* row) {
    for (int x = 0; x < w.Width(); ++x) {
      const GX_Pixel8& p = PixelAt<GX_Pixel8>(w, x, y);
      row[3 * x] = p.red, row[3 * x + 1] = p.green, row[3 * x + 2] = p.blue;
    }
  });
}

TEST_F(Colour, EveryFormatClonesTheSamePicture) {
  const fs::path dir = NewFolder("clones");
  // The clone source without alpha, so JPEG can hold it too.
  std::unique_ptr<GX_World> source = ReadBack(Example("clone_source.png"), 8, GX_ColourEncoding::kSrgb);
  for (int y = 0; y < source->Height(); ++y)
    for (int x = 0; x < source->Width(); ++x)
      static_cast<GX_Pixel8*>(GXp_PixelAddress(*source->GetLayer(), x, y))->alpha = 255;
  StrokeDoc doc = LoadStrokeDoc(Example("clone.json"));
  std::unique_ptr<GX_World> reference;
  for (const auto& [file, tolerance] :
       {std::pair{"source.png", 0.0}, {"source.tif", 0.0}, {"source.exr", 2.0 / 255}, {"source.jpg", 0.25}}) {
    SCOPED_TRACE(file);
    const fs::path path = dir / file;
    if (GX_ImageFormatForName(file) == GX_ImageFormat::kJpeg)
      WriteText(path, JpegOf(*source));
    else
      WriteImage(path, GX_ImageFormatForName(file), *source);
    doc.strokes[0].source.image = path.string();
    std::unique_ptr<GX_World> canvas = RenderDocument(doc, nullptr);
    if (reference)
      EXPECT_LE(Largest(*canvas, *reference), tolerance);
    else
      reference = std::move(canvas);
  }
}

// The program's outputs
// ====

TEST(RenderOutput, TheNameChoosesTheFormat) {
  const fs::path dir = NewFolder("formats");
  const std::string golden = KSTROKE_GOLDEN_DIR "/render/fill.png";
  struct Case {
    const char* name;
    std::string extra;
    GX_ImageFormat format;
    double tolerance;
  };
  const Case kCases[] = {
      {"o.png", "", GX_ImageFormat::kPng, 0},
      {"o.tif", "", GX_ImageFormat::kTiff, 0},
      {"o.TIFF", "--file-depth 16", GX_ImageFormat::kTiff, 0},
      {"o.exr", "", GX_ImageFormat::kExr, 1.0 / 255},
      {"o.16.png", "--file-depth 16", GX_ImageFormat::kPng, 0},
  };
  std::unique_ptr<GX_World> expected = ReadBack(golden, 8, GX_ColourEncoding::kSrgb);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path out = dir / c.name;
    const ProgramRun r = Ran("render " + Example("fill.json") + " -q -o " + out.string() + " " + c.extra);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(FormatOfFile(out), c.format);
    std::unique_ptr<GX_World> back = ReadBack(out.string(), 8, GX_ColourEncoding::kSrgb);
    EXPECT_LE(Largest(*back, *expected), c.tolerance);
  }
}

TEST(RenderOutput, NamesAndDepthsNoFormatHoldsAreUsageErrors) {
  const std::string dir = NewFolder("usage");
  const std::string writable = "; writable: PNG (.png: 8-bit or 16-bit), TIFF (.tif or .tiff: 8-bit, 16-bit or float), "
      "OpenEXR (.exr: half or float), and PNG on standard output (-o -)\n";
  const std::string o = dir + "/o", p = "kstroke render: " + o;
  ExpectRefusals({
      {"bmp", "render -q -o " + o + ".bmp", 2, p + ".bmp: no image format has this name's extension" + writable},
      {"none", "render -q -o " + o, 2, p + ": no image format has this name's extension" + writable},
      {"jpg", "render -q -o " + o + ".jpg", 2, p + ".jpg: JPEG is read only (clone images)" + writable},
      {"float png", "render -q -o " + o + ".png --file-depth float", 2,
       p + ".png: PNG cannot hold float samples" + writable},
      {"8-bit exr", "render -q -o " + o + ".exr --file-depth 8", 2,
       p + ".exr: OpenEXR cannot hold 8-bit samples" + writable},
      {"half png out", "render -q -o - --file-depth half", 2,
       "kstroke render: -: PNG cannot hold half samples" + writable},
      {"16-bit exr frames", "animate -q " + ExampleKeyframes() + " --frames 2 --format exr --file-depth 16 -o " + o, 2,
       "kstroke animate: frame_0000.exr: OpenEXR cannot hold 16-bit samples" + writable},
      {"12 bits", "render -o " + o + ".png --file-depth 12", 2,
       "--file-depth: 12 not in {8,16,half,float}\nRun with --help for more information.\n"},
  });
  EXPECT_TRUE(fs::is_empty(dir)) << "nothing is drawn or written";
}

TEST(RenderOutput, StandardOutputTakesPng) {
  const std::string piped = TestScratchDir() + "piped.png";
  const ProgramRun r = Ran("render " + Example("fill.json") + " -o - >" + piped);
  EXPECT_EQ(r.err, "") << "no progress or 'wrote' line without a terminal";
  EXPECT_TRUE(SameImagePixels(piped, KSTROKE_GOLDEN_DIR "/render/fill.png"));
}

TEST(RenderOutput, FloatWorkPastOneSurvivesInExr) {
  // A float canvas adds 0.8 to 0.5 grey: 1.3 where the stroke is full, which PNG would
  // clamp to 1.
  const fs::path dir = NewFolder("float");
  const fs::path doc = dir / "add.json";
  WriteText(doc, R"({"canvas": {"width": 96, "height": 64, "depth": 32, "background": [1, 0.5, 0.5, 0.5]},
    "brush": {"diameter": 30, "hardness": 0.9}, "transfer": "add", "source": {"colour": [0.8, -0.7, 0.2]},
    "strokes": [{"events": [{"t": 0, "x": 0.2, "y": 0.5}, {"t": 1, "x": 0.8, "y": 0.5}]}]})");
  // With no -o, a float canvas goes to kstroke.exr in the current folder.
  Ran("render " + doc.string() + " -q", "cd " + dir.string() + " &&");
  ASSERT_EQ(FormatOfFile(dir / "kstroke.exr"), GX_ImageFormat::kExr);
  std::unique_ptr<GX_World> back = ReadBack((dir / "kstroke.exr").string(), 32, GX_ColourEncoding::kLinear);
  EXPECT_EQ(Largest(*back, *RenderDocument(LoadStrokeDoc(doc.string()), nullptr)), 0.0) << "every value, past 0 and 1";
  EXPECT_FLOAT_EQ(PixelAt<GX_PixelFloat>(*back, 48, 32).red, 1.3f);
  EXPECT_LT(PixelAt<GX_PixelFloat>(*back, 48, 32).green, 0.0f);
}

TEST(RenderOutput, AnimationFramesTakeTheChosenFormat) {
  const fs::path dir = fs::path(TestScratchDir()) / "frames";
  Ran("animate " + ExampleKeyframes() + " --frames 2 --format tif -q -o " + dir.string());
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"frame_0000.tif", "frame_0001.tif"}));
  for (const std::string& name : NamesIn(dir)) EXPECT_EQ(FormatOfFile(dir / name), GX_ImageFormat::kTiff) << name;
}

// Hostile images
// ====

TEST(HostileImages, CloneImagesOfEveryFormatEndInOneLineAndWriteNothing) {
  const fs::path dir = NewFolder("hostile_images");
  // Real files to cut short.
  std::unique_ptr<GX_World> source = ReadBack(Example("clone_source.png"), 8, GX_ColourEncoding::kSrgb);
  auto written = [&](GX_ImageFormat f) {
    WriteImage(dir / "whole", f, *source);
    const std::string bytes = SlurpFile(dir / "whole");
    return bytes.substr(0, bytes.size() / 2);
  };
  const std::string limit = " pixels, over the limit of 30000 pixels a side and 268435456 pixels in all";
  struct Case {
    const char* file;
    std::string bytes;
    std::string message;
  };
  // A PNG claiming 40000 pixels a side: HostileInput.EndsWithOneShortLineNamingFileAndField.
  const Case kCases[] = {
      {"bad.png", std::string("\x89PNG\r\n\x1A\n", 8) + "not a header", "': IHDR: missing"},
      {"cut.png", written(GX_ImageFormat::kPng), "': "},
      {"bad.tif", std::string("MM\0*\xFF\xFF\xFF\xF0", 8), "': "},
      {"cut.tif", written(GX_ImageFormat::kTiff), "': "},
      {"wide.tif", image_bytes::TiffClaiming(40000, 1), "' is 40000 × 1" + limit},
      {"bad.exr", std::string("\x76\x2f\x31\x01\x02\0\0\0dataWindow", 18), "': header: "},
      {"cut.exr", written(GX_ImageFormat::kExr), "': "},
      {"bomb.exr", image_bytes::ExrClaiming(20000, 20000), "' is 20000 × 20000" + limit},
      {"bad.jpg", std::string("\xFF\xD8\xFF\x01junk", 8), "': "},
      {"wide.jpg", image_bytes::JpegClaiming(40000, 1), "' is 40000 × 1" + limit},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    const fs::path image = dir / c.file;
    WriteText(image, c.bytes);
    const fs::path doc = dir / "clone.json";
    WriteText(doc, R"({"canvas": {"width": 64, "height": 64}, "source": {"type": "clone", "image": ")" +
                       image.string() + R"("}, "strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})");
    const fs::path out = dir / "out.png";
    const ProgramRun r = RunKstroke("render " + doc.string() + " -q -o " + out.string());
    EXPECT_EQ(r.status, 1);
    const bool quoted = c.message.rfind("' is", 0) == 0;
    const std::string head = "kstroke render: " + doc.string() +
                             ": strokes[0].source.image: " + (quoted ? "'" : "cannot read '") +
                             image.string() + c.message;
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

}  // namespace
