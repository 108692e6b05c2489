// SPDX-License-Identifier: MIT
#include "document/render_document.h"

#include "document/output_file.h"
#include "document/progress_records.h"
#include "document/recorded_shape.h"
#include "document/stroke_input.h"
#include "document/symmetry.h"
#include "host/gx/gx_channels.h"
#include "host/gx/gx_image.h"
#include "host/gx/gx_lazy.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_png.h"
#include "host/gx/gx_transfer.h"
#include "host/jot/jot.h"
#include "kstroke/clone_paint_source.h"
#include "kstroke/fill_paint_source.h"
#include "kstroke/paint_source.h"
#include "kstroke/shape.h"

#include <boost/scoped_ptr.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

template <class T>
T* Checked(T* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

// One line per stroke for -v: what was recorded, placed and drawn, and how long it took.
void LogStroke(const StrokeDoc& doc, size_t index, const StrokeSession& session,
               double totalMs) {
  const DocStroke& stroke = doc.strokes[index];
  char text[320];
  std::snprintf(text, sizeof text,
                "%s%s: %zu events, %d vertices, %zu render calls; %.1f ms rendering, "
                "%.1f ms recording",
                StrokeWhere(doc, index).c_str(), CopyNote(stroke).c_str(), stroke.events.size(),
                session.Shape().NumVertices(), session.Calls(), session.RenderMilliseconds(),
                totalMs - session.RenderMilliseconds());
  JOT_Log(10, "kstroke", "Stroke", text);
}

// A world of the document's size and depth, or a RenderError saying what did not fit.
std::unique_ptr<GX_World> NewDocWorld(const StrokeDoc& doc, const char* what) {
  try {
    return std::unique_ptr<GX_World>(GX_World::New(doc.width, doc.height, doc.depth, 0));
  } catch (const std::bad_alloc&) {
    throw RenderError((doc.path.empty() ? std::string("built-in stroke") : doc.path) +
                          ": out of memory for the " + what + ": " +
                          WorldSize(doc.width, doc.height, doc.depth),
                      Y_Err_OutOfMemory);
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
  if (rc != 0)
    throw RenderError(StrokeWhere(doc, index) + ".source.image: " + GX_ImageLastMessage(), rc);
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

boost::shared_ptr<K_PaintSource> MakeFillSource(const StrokeDoc& doc,
                                                const std::array<double, 4>& c) {
  const GX_PixelFloat colour{float(c[3]), float(c[0]), float(c[1]), float(c[2])};
  return boost::shared_ptr<K_PaintSource>(
      Checked(new K_FillPaintSource(BlendingTablesFor(doc), colour)));
}

boost::shared_ptr<K_PaintSource> MakeCloneSource(const StrokeDoc& doc, GX_World* image,
                                                 const DocSource& s) {
  V_Rect sourceRect;
  sourceRect.right = static_cast<int16_t>(image->Width());
  sourceRect.bottom = static_cast<int16_t>(image->Height());
  return boost::shared_ptr<K_PaintSource>(Checked(new K_ClonePaintSource(
      BlendingTablesFor(doc), image, s.sourcePixelAspect,
      V_Vector2T<double>(s.sourcePoint[0], s.sourcePoint[1]), sourceRect)));
}

boost::shared_ptr<K_PaintSource> MakeSource(const StrokeDoc& doc, size_t index,
                                            CloneImages* images, GX_ProgressInfo* cancel) {
  const DocSource& s = doc.strokes.at(index).source;
  if (s.type == "clone") return MakeCloneSource(doc, images->Get(doc, index, cancel), s);
  return MakeFillSource(doc, s.colour);
}

StrokeSession::StrokeSession(const StrokeDoc& doc_, const DocStroke& stroke, std::string where_,
                             GX_World* canvas_, boost::shared_ptr<K_PaintSource> source)
    : doc(doc_),
      where(std::move(where_)),
      canvas(canvas_),
      props(PropertiesFor(doc_, stroke)),
      seed(stroke.seed),
      shape(Checked(new K_Shape())) {
  // The pre-stroke copy is filled lazily, tile by tile, just before the renderer first
  // paints over a tile; the renderer restores from it so repeated calls never paint
  // the same coverage twice.
  preStroke.reset(NewDocWorld(doc, "pre-stroke copy").release());
  boost::scoped_ptr<GX_LazyOperator> copier(Checked(new GX_LazyWorldCopyOperator(preStroke)));
  lazyCopy.reset(Checked(new GX_LazyTilesCondition(GX_LazyTiles::kCopyTileSize, &copier)));
  renderer = std::make_unique<K_InteractRenderer>(static_cast<int16_t>(doc.depth), source,
                                                  preStroke, &lazyCopy, true);
  recorder = std::make_unique<StrokeRecorder>(stroke, doc.width, doc.height, where);
}

StrokeSession::~StrokeSession() = default;

size_t StrokeSession::Events() const { return recorder->Events(); }

void StrokeSession::Add(const DocEvent& e, size_t index) {
  try {
    recorder->Add(e, index, shape.get());
  } catch (const RecordError& error) {
    throw RenderError(error.what());
  }
}

void StrokeSession::Finish() {
  try {
    recorder->Finish(shape.get());
  } catch (const RecordError& error) {
    throw RenderError(error.what());
  }
}

void StrokeSession::UseShape(const K_Shape& whole) {
  shape.reset(static_cast<K_Shape*>(Checked(whole.Clone())));
}

V_Rect StrokeSession::Render(GX_ProgressInfo* progress) {
  V_Rect area;
  // A stroke records nothing before its second sample: nothing to draw yet.
  if (shape->timeDistanceTable.empty()) return area;
  // Nothing recorded since the last call: the engine would only redraw the last dab
  // over itself, so no pixel changes and the answer is an empty area.
  const int32_t vertices = shape->NumVertices();
  if (vertices == renderedVertices) return area;
  renderedVertices = vertices;
  V_Rect destRect;
  destRect.right = static_cast<int16_t>(doc.width);
  destRect.bottom = static_cast<int16_t>(doc.height);
  const auto started = std::chrono::steady_clock::now();
  try {
    renderer->Render(progress, shape.get(), props, destRect, doc.pixelAspect, seed,
                     canvas->GetLayer(), &area);
  } catch (long code) {
    if (code == GX_Err_Cancelled) throw;
    throw RenderError(where + ": " + EngineMessage(code), code);
  } catch (const std::bad_alloc&) {
    throw RenderError(where + ": out of memory while rendering on a canvas of " +
                          WorldSize(doc.width, doc.height, doc.depth),
                      Y_Err_OutOfMemory);
  }
  rendering += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                   .count();
  ++calls;
  return area;
}

void RenderStroke(const StrokeDoc& doc, size_t index, GX_World* canvas,
                  ProgressRecords* progress, const K_Shape* recorded, CloneImages* images) {
  const auto started = std::chrono::steady_clock::now();
  const DocStroke& stroke = doc.strokes.at(index);
  CloneImages ownImages;
  StrokeSession session(doc, stroke, StrokeWhere(doc, index), canvas,
                        MakeSource(doc, index, images ? images : &ownImages,
                                   progress ? progress->CancelOnly() : nullptr));
  const auto render = [&] {
    if (progress && progress->Get()) progress->Get()->NextUnit();
    session.Render(progress ? progress->Record() : nullptr);
  };
  // A recorded stroke has no events to replay, and a trimmed one is trimmed by
  // fractions of its whole duration, known only once it is complete: both are
  // rendered whole, in one call.
  std::unique_ptr<K_Shape> whole;
  if (!recorded && (stroke.recorded || stroke.trim[0] != 0.0 || stroke.trim[1] != 1.0)) {
    try {
      whole = RecordStroke(stroke, doc.width, doc.height, StrokeWhere(doc, index));
    } catch (const RecordError& e) {
      throw RenderError(e.what());
    }
    recorded = whole.get();
  }
  if (recorded) {
    session.UseShape(*recorded);
    render();
  } else {
    const size_t n = stroke.events.size();
    for (size_t k = 0; k < n; ++k) {
      session.Add(stroke.events[k], k);
      if (k + 1 == n) session.Finish();
      if ((k + 1) % size_t(doc.batch) == 0 || k + 1 == n) render();
    }
  }
  if (JOT_HasSink())
    LogStroke(doc, index, session,
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                  .count());
}

size_t RenderCalls(const StrokeDoc& doc, size_t index) {
  const DocStroke& s = doc.strokes.at(index);
  if (s.recorded || s.trim[0] != 0.0 || s.trim[1] != 1.0) return 1;
  return (s.events.size() + size_t(doc.batch) - 1) / size_t(doc.batch);
}

std::unique_ptr<GX_World> RenderDocument(const StrokeDoc& original, kstroke::Progress* progress) {
  const StrokeDoc doc = ExpandSymmetry(original);
  std::unique_ptr<GX_World> canvas = NewCanvas(doc);
  CloneImages images;
  ProgressRecords records(progress);
  if (progress) {
    size_t calls = 0;
    for (size_t i = 0; i < doc.strokes.size(); ++i) calls += RenderCalls(doc, i);
    progress->Begin(int32_t(std::min<size_t>(calls, INT32_MAX)));
  }
  for (size_t i = 0; i < doc.strokes.size(); ++i)
    RenderStroke(doc, i, canvas.get(), &records, nullptr, &images);
  if (progress) progress->End();
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
    if (rc != 0) throw RenderError(failed, rc);
  };
  if (out.path == "-") {
    // A stream of its own on standard output's descriptor: a failed write is reported
    // here, once, and leaves nothing in stdout's buffer for the program's last flush.
    if (GX_ReportProgress(cancel, 0, 1) != 0) throw long(GX_Err_Cancelled);
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
    // A stop asked for once the last row is out still keeps the file from its place.
    if (GX_ReportProgress(cancel, 1, 1) != 0) throw long(GX_Err_Cancelled);
    file.Commit();
  } catch (const OutputError& e) {
    throw RenderError(e.what());
  }
}
