// SPDX-License-Identifier: MIT
#include "app/render_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/output_file.h"
#include "app/progress_bar.h"
#include "app/recorded_shape.h"
#include "app/signals.h"
#include "app/stroke_input.h"
#include "app/symmetry.h"
#include "host/gx/gx_channels.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_image.h"
#include "host/gx/gx_png.h"
#include "host/gx/gx_transfer.h"
#include "host/jot/jot.h"
#include "kstroke/clone_paint_source.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/interact_renderer.h"
#include "kstroke/paint_source.h"
#include "kstroke/shape.h"
#include "kstroke/stroke_props.h"

namespace {

std::string Where(const StrokeDoc& doc, size_t index) {
  return (doc.path.empty() ? std::string("built-in stroke") : doc.path) + ": strokes[" +
         std::to_string(index) + "]";
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

template <class T>
T* Checked(T* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

boost::shared_ptr<K_PaintSource> MakeSource(const StrokeDoc& doc, size_t index,
                                            const DocStroke& stroke, CloneImages* images,
                                            GX_ProgressInfo* cancel) {
  const DocSource& s = stroke.source;
  const GX_LinearBlendingTables* tables = BlendingTablesFor(doc);
  if (s.type == "clone") {
    GX_World* world = images->Get(doc, index, cancel);
    V_Rect sourceRect;
    sourceRect.right = static_cast<int16_t>(world->Width());
    sourceRect.bottom = static_cast<int16_t>(world->Height());
    return boost::shared_ptr<K_PaintSource>(Checked(new K_ClonePaintSource(
        tables, world, s.sourcePixelAspect,
        V_Vector2T<double>(s.sourcePoint[0], s.sourcePoint[1]), sourceRect)));
  }
  GX_PixelFloat colour{static_cast<float>(s.colour[3]), static_cast<float>(s.colour[0]),
                       static_cast<float>(s.colour[1]), static_cast<float>(s.colour[2])};
  return boost::shared_ptr<K_PaintSource>(Checked(new K_FillPaintSource(tables, colour)));
}

// One line per stroke for -v: what was recorded, placed and drawn, and how long it took.
void LogStroke(const StrokeDoc& doc, size_t index, const K_Shape& shape, size_t calls,
               std::chrono::steady_clock::duration rendering,
               std::chrono::steady_clock::duration total) {
  using Ms = std::chrono::duration<double, std::milli>;
  char text[256];
  std::snprintf(text, sizeof text,
                "%s: %zu events, %d vertices, %zu render calls; %.1f ms rendering, "
                "%.1f ms recording",
                Where(doc, index).c_str(), doc.strokes[index].events.size(), shape.NumVertices(),
                calls, Ms(rendering).count(), Ms(total - rendering).count());
  JOT_Log(10, "kstroke", "Stroke", text);
}

// A world of the document's size and depth, or a RenderError saying what did not fit.
std::unique_ptr<GX_World> NewDocWorld(const StrokeDoc& doc, const char* what) {
  try {
    return std::unique_ptr<GX_World>(GX_World::New(doc.width, doc.height, doc.depth, 0));
  } catch (const std::bad_alloc&) {
    throw RenderError((doc.path.empty() ? std::string("built-in stroke") : doc.path) +
                      ": out of memory for the " + what + ": " +
                      WorldSize(doc.width, doc.height, doc.depth));
  }
}

}  // namespace

std::string WorldSize(int64_t width, int64_t height, int32_t depth) {
  char bytes[32];
  std::snprintf(bytes, sizeof bytes, "%.1f MB",
                double(width) * double(height) * GXp_PixelBytes(depth) / 1e6);
  return std::to_string(width) + " × " + std::to_string(height) + " pixels at " +
         std::to_string(depth) + " bits (" + bytes + ")";
}

GX_ColourEncoding CanvasEncoding(const StrokeDoc& doc) {
  return CanvasColour(doc) == "linear" ? GX_ColourEncoding::kLinear : GX_ColourEncoding::kSrgb;
}

const GX_LinearBlendingTables* BlendingTablesFor(const StrokeDoc& doc) {
  const bool decode = doc.blending == "linear" && CanvasEncoding(doc) == GX_ColourEncoding::kSrgb;
  return decode ? &GX_LinearBlendingTables::Srgb() : nullptr;
}

GX_World* CloneImages::Get(const StrokeDoc& doc, size_t index, GX_ProgressInfo* cancel) {
  const std::string& name = doc.strokes.at(index).source.image;
  const std::string path = !name.empty() && name[0] == '/' ? name : FolderOf(doc.path) + name;
  const auto key = std::make_tuple(path, int32_t(doc.depth), CanvasEncoding(doc));
  const auto found = images.find(key);
  if (found != images.end()) return found->second.get();
  GX_ImageReadOptions options;
  options.maxSide = kMaxCanvasSide;
  options.maxPixels = kMaxImagePixels;
  options.progress = cancel;
  options.colour = CanvasEncoding(doc);
  GX_World* world = nullptr;
  const int32_t rc = GX_ReadImage(path.c_str(), doc.depth, &world, &options);
  if (rc == GX_Err_Cancelled) throw long(rc);
  if (rc != 0) throw RenderError(Where(doc, index) + ".source.image: " + GX_ImageLastMessage());
  return (images[key] = std::unique_ptr<GX_World>(world)).get();
}

std::string EngineMessage(long code) {
  const std::string last = Y_LastVerificationReport().message;
  std::string text = "engine error " + std::to_string(code);
  if (code == 3 && !last.empty()) text += " (" + last + ")";
  return text;
}

int32_t TransferModeByName(const std::string& name) {
  static const std::pair<const char*, GX_TransferMode> kModes[] = {
      {"copy", GX_TransferMode::kCopy},         {"normal", GX_TransferMode::kNormal},
      {"dissolve", GX_TransferMode::kDissolve}, {"add", GX_TransferMode::kAdd},
      {"multiply", GX_TransferMode::kMultiply}, {"screen", GX_TransferMode::kScreen},
      {"overlay", GX_TransferMode::kOverlay},   {"darken", GX_TransferMode::kDarken},
      {"lighten", GX_TransferMode::kLighten},   {"difference", GX_TransferMode::kDifference},
      {"erase", GX_TransferMode::kErase},
  };
  for (const auto& m : kModes)
    if (name == m.first) return static_cast<int32_t>(m.second);
  throw RenderError("unknown transfer mode \"" + name + "\"");
}

int32_t TargetChannelByName(const std::string& name) {
  if (name == "all") return static_cast<int32_t>(K_TargetChannel_RGBA);
  if (name == "colour") return static_cast<int32_t>(K_TargetChannel_RGB);
  if (name == "alpha") return static_cast<int32_t>(K_TargetChannel_Alpha);
  if (name == "colour-opaque") return static_cast<int32_t>(K_TargetChannel_RGBOpaque);
  throw RenderError("unknown channel selection \"" + name + "\"");
}

K_StrokeGlobalProperties PropertiesFor(const StrokeDoc& doc, const DocStroke& stroke) {
  K_StrokeGlobalProperties p;
  const DocBrush& b = stroke.brush;
  p.accumulateMode = static_cast<int32_t>(b.accumulate == "additive"
                                              ? GX_AccumulateMode::kAdditive
                                              : GX_AccumulateMode::kBuildUp);
  p.start = stroke.trim[0];
  p.end = stroke.trim[1];
  p.opacity = b.opacity;
  p.flow = b.flow;
  p.diameter = b.diameter;
  p.angle = b.angle;
  p.roundness = b.roundness;
  p.hardness = b.hardness;
  p.spacing = b.spacing;
  p.transferMode = TransferModeByName(stroke.transfer);
  p.targetChannel = static_cast<K_TargetChannel>(TargetChannelByName(stroke.channels));
  p.anchor = V_Vector2T<double>(doc.anchor[0], doc.anchor[1]);
  p.position = V_Vector2T<double>(doc.position[0], doc.position[1]);
  p.scale = V_Vector2T<double>(doc.scale[0], doc.scale[1]);
  p.rotation = doc.rotation;
  p.dither = b.dither;
  return p;
}

std::unique_ptr<GX_World> NewCanvas(const StrokeDoc& doc) {
  std::unique_ptr<GX_World> canvas = NewDocWorld(doc, "canvas");
  const V_LRect all{0, 0, doc.width, doc.height};
  // The description's colours are red, green, blue, alpha; pixels are alpha first.
  const auto& c = doc.background;
  const double argb[4] = {c[3], c[0], c[1], c[2]};
  int32_t rc = 0;
  if (doc.depth == 8) {
    auto c8 = [](double v) { return static_cast<uint8_t>(v * 255.0 + 0.5); };
    rc = GX_Fill(nullptr, GX_Pixel8{c8(argb[0]), c8(argb[1]), c8(argb[2]), c8(argb[3])}, all,
                 canvas->GetLayer());
  } else if (doc.depth == 16) {
    auto c16 = [](double v) { return static_cast<uint16_t>(v * 32768.0 + 0.5); };
    rc = GX_Fill16(nullptr, GX_Pixel16{c16(argb[0]), c16(argb[1]), c16(argb[2]), c16(argb[3])},
                   all, canvas->GetLayer());
  } else {
    rc = GX_FillFloat(nullptr,
                      GX_PixelFloat{float(argb[0]), float(argb[1]), float(argb[2]), float(argb[3])},
                      all, canvas->GetLayer());
  }
  if (rc != 0) throw RenderError("cannot fill the canvas: host error " + std::to_string(rc));
  return canvas;
}

void RenderStroke(const StrokeDoc& doc, size_t index, GX_World* canvas,
                  ConsoleProgress* progress, const K_Shape* recorded, CloneImages* images) {
  const DocStroke& stroke = doc.strokes.at(index);
  const K_StrokeGlobalProperties props = PropertiesFor(doc, stroke);
  CloneImages ownImages;
  boost::shared_ptr<K_PaintSource> source = MakeSource(
      doc, index, stroke, images ? images : &ownImages, progress ? progress->CancelOnly() : nullptr);

  // The pre-stroke copy is filled lazily, tile by tile, just before the renderer first
  // paints over a tile; the renderer restores from it so repeated calls never paint
  // the same coverage twice.
  boost::shared_ptr<GX_World> preStroke(NewDocWorld(doc, "pre-stroke copy").release());
  boost::scoped_ptr<GX_LazyOperator> copier(Checked(new GX_LazyWorldCopyOperator(preStroke)));
  boost::shared_ptr<GX_LazyTilesCondition> lazyCopy(
      Checked(new GX_LazyTilesCondition(GX_LazyTiles::kDefaultTileSize, &copier)));
  K_InteractRenderer renderer(static_cast<int16_t>(doc.depth), source, preStroke, &lazyCopy,
                              true);

  V_Rect destRect;
  destRect.right = static_cast<int16_t>(doc.width);
  destRect.bottom = static_cast<int16_t>(doc.height);
  GX_ProgressInfo* record = progress ? progress->Record() : nullptr;
  auto render = [&](K_Shape* shape) {
    V_Rect area;
    try {
      renderer.Render(record, shape, props, destRect, doc.pixelAspect, stroke.seed,
                      canvas->GetLayer(), &area);
    } catch (long code) {
      if (code == GX_Err_Cancelled) throw;
      throw RenderError(Where(doc, index) + ": " + EngineMessage(code));
    } catch (const std::bad_alloc&) {
      throw RenderError(Where(doc, index) + ": out of memory while rendering on a canvas of " +
                        WorldSize(doc.width, doc.height, doc.depth));
    }
  };

  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  Clock::duration rendering{};
  size_t calls = 0;
  const auto timedRender = [&](K_Shape* shape) {
    if (progress) progress->StartUnit();
    // A curve's first vertex waits for the second sample: nothing to draw yet.
    if (shape->timeDistanceTable.empty()) return;
    const Clock::time_point before = Clock::now();
    render(shape);
    rendering += Clock::now() - before;
    ++calls;
  };

  // A recorded stroke has no events to replay, and a trimmed one is trimmed by
  // fractions of its whole duration, known only once it is complete: both are
  // rendered whole, in one call.
  std::unique_ptr<K_Shape> whole;
  if (!recorded && (stroke.recorded || stroke.trim[0] != 0.0 || stroke.trim[1] != 1.0)) {
    try {
      whole = RecordStroke(stroke, doc.width, doc.height, Where(doc, index));
    } catch (const RecordError& e) {
      throw RenderError(e.what());
    }
    recorded = whole.get();
  }
  std::unique_ptr<K_Shape> shape;
  if (recorded) {
    shape.reset(static_cast<K_Shape*>(Checked(recorded->Clone())));
    timedRender(shape.get());
  } else {
    shape.reset(Checked(new K_Shape()));
    try {
      StrokeRecorder recorder(stroke, doc.width, doc.height, Where(doc, index));
      const size_t n = recorder.Events();
      for (size_t k = 0; k < n; ++k) {
        recorder.Feed(k, shape.get());
        if (k + 1 == n) recorder.Finish(shape.get());
        if ((k + 1) % size_t(doc.batch) == 0 || k + 1 == n) timedRender(shape.get());
      }
    } catch (const RecordError& e) {
      throw RenderError(e.what());
    }
  }
  if (JOT_HasSink()) LogStroke(doc, index, *shape, calls, rendering, Clock::now() - started);
}

// Render calls a stroke takes: RenderStroke's batches.
static size_t RenderCalls(const StrokeDoc& doc, size_t index) {
  const DocStroke& s = doc.strokes.at(index);
  if (s.recorded || s.trim[0] != 0.0 || s.trim[1] != 1.0) return 1;
  return (s.events.size() + size_t(doc.batch) - 1) / size_t(doc.batch);
}

std::unique_ptr<GX_World> RenderDocument(const StrokeDoc& original, ConsoleProgress* progress) {
  const StrokeDoc doc = ExpandSymmetry(original);
  std::unique_ptr<GX_World> canvas = NewCanvas(doc);
  CloneImages images;
  if (progress) {
    size_t calls = 0;
    for (size_t i = 0; i < doc.strokes.size(); ++i) calls += RenderCalls(doc, i);
    progress->SetUnits(int32_t(std::min<size_t>(calls, INT32_MAX)));
  }
  for (size_t i = 0; i < doc.strokes.size(); ++i)
    RenderStroke(doc, i, canvas.get(), progress, nullptr, &images);
  if (progress) progress->Finish();
  return canvas;
}

ImageOutput ChooseOutput(const std::string& path, const std::string& sample) {
  ImageOutput out;
  out.path = path;
  const std::string writable = std::string("; writable: ") + GX_ImageWritableFormats() +
                               ", and PNG on standard output (-o -)";
  if (path != "-") {
    out.format = GX_ImageFormatForName(path.c_str());
    if (out.format == GX_ImageFormat::kUnknown)
      throw OutputChoiceError(path + ": no image format has this name's extension" + writable);
    if (!GX_ImageWrites(out.format, GX_SampleType::kDefault))
      throw OutputChoiceError(path + ": " + GX_ImageFormatName(out.format) +
                              " is read only (clone images)" + writable);
  }
  if (sample.empty()) return out;
  static const std::pair<const char*, GX_SampleType> kSamples[] = {
      {"8", GX_SampleType::kUint8}, {"16", GX_SampleType::kUint16},
      {"half", GX_SampleType::kHalf}, {"float", GX_SampleType::kFloat}};
  out.sample = GX_SampleType::kDefault;
  for (const auto& s : kSamples)
    if (sample == s.first) out.sample = s.second;
  if (out.sample == GX_SampleType::kDefault)
    throw OutputChoiceError("unknown file depth \"" + sample + "\" (one of: 8, 16, half, float)");
  if (!GX_ImageWrites(out.format, out.sample))
    throw OutputChoiceError(path + ": " + GX_ImageFormatName(out.format) + " cannot hold " +
                            GX_SampleTypeName(out.sample) + " samples" + writable);
  return out;
}

void WriteCanvas(const GX_World& canvas, GX_ColourEncoding colour, const ImageOutput& out,
                 GX_ProgressInfo* cancel) {
  GX_ImageWriteOptions options;
  options.sample = out.sample;
  options.colour = colour;
  options.progress = cancel;
  auto check = [&](int32_t rc, const std::string& failed) {
    if (rc == GX_Err_Cancelled) throw long(rc);
    if (rc != 0) throw RenderError(failed);
  };
  if (out.path == "-") {
    // A stream of its own on standard output's descriptor: a failed write is reported
    // here, once, and leaves nothing in stdout's buffer for the program's last flush.
    ThrowIfCancelled();
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    std::FILE* stream = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!stream) {
      if (fd >= 0) ::close(fd);
      throw RenderError(std::string("cannot write to standard output: ") + std::strerror(errno));
    }
    int32_t rc = GX_WritePngStream(stream, "standard output", *canvas.GetLayer(), &options);
    int error = errno;
    if (std::fclose(stream) != 0 && rc == 0) rc = GX_Err_ImageWrite, error = errno;
    check(rc, rc == GX_Err_ImageWrite
                  ? "cannot write to standard output" +
                        (error ? std::string(": ") + std::strerror(error) : std::string())
                  : std::string(GX_ImageLastMessage()));
    return;
  }
  try {
    AtomicOutput file(out.path);
    const int32_t rc = GX_WriteImageStream(file.Stream(), out.path.c_str(), out.format,
                                           *canvas.GetLayer(), &options);
    check(rc, out.path + ": " + GX_ImageLastMessage());
    ThrowIfCancelled();
    file.Commit();
  } catch (const OutputError& e) {
    throw RenderError(e.what());
  }
}
