// SPDX-License-Identifier: MIT
// The C++ facade (include/kstroke/kstroke.hpp) over the document code: every call turns
// the document code's failures into kstroke::Error at its boundary.
#include "kstroke/kstroke.hpp"

#include <cmath>
#include <filesystem>
#include <sstream>

#include "document/brush_presets.h"
#include "document/output_file.h"
#include "document/progress_records.h"
#include "document/recorded_shape.h"
#include "document/render_document.h"
#include "document/stroke_file.h"
#include "document/stroke_input.h"
#include "document/symmetry.h"
#include "host/y/errors.h"
#include "kstroke/paint_source.h"
#include "kstroke/shape.h"

namespace kstroke {
namespace {

// Runs `f`, turning every failure of the document code into Error.
template <class F>
auto Guard(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const Error&) {
    throw;
  } catch (const RenderError& e) {
    throw Error(e.code, e.what());
  } catch (const StrokeDocError& e) {
    throw Error(0, e.what());
  } catch (const OutputError& e) {
    throw Error(0, e.what());
  } catch (const OutputChoiceError& e) {
    throw Error(0, e.what());
  } catch (const RecordError& e) {
    throw Error(0, e.what());
  } catch (long code) {
    throw Error(code, code == GX_Err_Cancelled ? std::string("stopped") : EngineMessage(code));
  } catch (const std::bad_alloc&) {
    throw Error(Y_Err_OutOfMemory, "out of memory");
  }
}

// A value's range check, worded as a description's.
double Checked(const char* field, double v, double lo, double hi, bool openLow = false) {
  if (!std::isfinite(v) || v < lo || v > hi || (openLow && v == lo)) {
    std::ostringstream text;
    text << field << ": expected a number " << (openLow ? "above " : "from ") << lo
         << (openLow ? " up to " : " to ") << hi << ", got " << v;
    throw Error(0, text.str());
  }
  return v;
}
double Checked(const char* field, double v, const FieldRange& range) {
  return Checked(field, v, range.low, range.high, range.openLow);
}

const char* const kFactorFields[5] = {"brush.dynamics.diameter", "brush.dynamics.opacity",
                                      "brush.dynamics.flow", "brush.dynamics.angle",
                                      "brush.dynamics.roundness"};

}  // namespace

// Error and Progress
// ====================================================================================

Error::Error(long code_, const std::string& message) : std::runtime_error(message), code(code_) {}

Progress::~Progress() = default;
void Progress::Begin(int32_t) {}
void Progress::NextUnit() {}
bool Progress::Report(int32_t, int32_t) { return true; }
bool Progress::KeepGoing() { return true; }
void Progress::End() {}

// Canvas
// ====================================================================================

struct Canvas::Impl {
  std::unique_ptr<GX_World> world;
  ColourSpace space = ColourSpace::kSrgb;

  // The settings a document of this canvas would have, for the document code.
  StrokeDoc Settings() const {
    StrokeDoc doc;
    doc.path = "canvas";
    doc.width = world->Width();
    doc.height = world->Height();
    doc.depth = world->GetLayer()->depth;
    doc.colour = space == ColourSpace::kLinear ? "linear" : "srgb";
    return doc;
  }
};

namespace {

ColourSpace Resolved(ColourSpace space, Depth depth) {
  if (space != ColourSpace::kDepthDefault) return space;
  return depth == Depth::kFloat ? ColourSpace::kLinear : ColourSpace::kSrgb;
}

void CheckDepth(Depth depth) {
  if (depth != Depth::k8 && depth != Depth::k16 && depth != Depth::kFloat)
    throw Error(0, "canvas.depth: expected 8, 16 or 32, got " + std::to_string(int(depth)));
}

}  // namespace

Canvas::Canvas(std::shared_ptr<Impl> impl_) : impl(std::move(impl_)) {}

Canvas::Canvas(int32_t width, int32_t height, Depth depth, Colour background, ColourSpace space)
    : impl(std::make_shared<Impl>()) {
  CheckDepth(depth);
  for (const auto& side : {std::make_pair("canvas.width", width), std::make_pair("canvas.height", height)})
    if (side.second < 1 || side.second > kMaxCanvasSide)
      throw Error(0, std::string(side.first) + ": expected 1 to " + std::to_string(kMaxCanvasSide) +
                         ", got " + std::to_string(side.second));
  StrokeDoc doc;
  doc.path = "canvas";
  doc.width = width;
  doc.height = height;
  doc.depth = int(depth);
  doc.background = {{background.red, background.green, background.blue, background.alpha}};
  // An integer canvas's fill rounds each component into its range, so they are 0 to 1
  // there, as in a description; a float canvas holds any colour (alpha 0 to 1).
  const double components[4] = {background.red, background.green, background.blue, background.alpha};
  const bool anyColour = depth == Depth::kFloat;
  for (int i = 0; i < 4; ++i)
    Checked(("canvas.background[" + std::to_string(i) + "]").c_str(), components[i],
            anyColour && i < 3 ? -1e30 : 0, anyColour && i < 3 ? 1e30 : 1);
  impl->world = Guard([&] { return NewCanvas(doc); });
  impl->space = Resolved(space, depth);
}

Canvas Canvas::Read(const std::string& path, Depth depth, ColourSpace space, Progress* progress) {
  CheckDepth(depth);
  auto impl = std::make_shared<Impl>();
  impl->space = Resolved(space, depth);
  ProgressRecords records(progress);
  GX_ImageReadOptions options;
  options.maxSide = kMaxCanvasSide;
  options.maxPixels = kMaxImagePixels;
  options.progress = records.CancelOnly();
  options.colour =
      impl->space == ColourSpace::kLinear ? GX_ColourEncoding::kLinear : GX_ColourEncoding::kSrgb;
  GX_World* world = nullptr;
  const int32_t rc = GX_ReadImage(path.c_str(), int32_t(depth), &world, &options);
  if (rc != 0) throw Error(rc, rc == GX_Err_Cancelled ? path + ": stopped" : GX_ImageLastMessage());
  impl->world.reset(world);
  return Canvas(impl);
}

int32_t Canvas::Width() const { return impl->world->Width(); }
int32_t Canvas::Height() const { return impl->world->Height(); }
Depth Canvas::GetDepth() const { return Depth(impl->world->GetLayer()->depth); }
ColourSpace Canvas::Space() const { return impl->space; }
GX_World& Canvas::World() const { return *impl->world; }

PixelView Canvas::Pixels() {
  GX_LayerDef& layer = *impl->world->GetLayer();
  PixelView view;
  view.data = layer.data;
  view.width = layer.width;
  view.height = layer.height;
  view.rowBytes = layer.rowBytes;
  view.depth = Depth(layer.depth);
  return view;
}

void Canvas::Write(const std::string& path, const std::string& fileDepth, Progress* progress) const {
  Guard([&] {
    ProgressRecords records(progress);
    WriteCanvas(*impl->world, CanvasEncoding(impl->Settings()), ChooseOutput(path, fileDepth),
                records.CancelOnly());
  });
}

// Brush
// ====================================================================================

struct Brush::Impl {
  DocBrushPreset preset;
};

Brush::Brush() : impl(std::make_unique<Impl>()) {}
Brush::~Brush() = default;
Brush::Brush(const Brush& other) : impl(std::make_unique<Impl>(*other.impl)) {}
Brush& Brush::operator=(const Brush& other) {
  *impl = *other.impl;
  return *this;
}

Brush Brush::Preset(const std::string& nameOrFile) {
  Brush b;
  b.impl->preset = Guard([&] { return LoadBrush(nameOrFile); });
  return b;
}

std::vector<std::string> Brush::PresetNames() {
  std::vector<std::string> names;
  for (const BrushPresetText& p : BrushPresetTexts()) names.push_back(p.name);
  return names;
}

double Brush::Diameter() const { return impl->preset.brush.diameter; }
Brush& Brush::Diameter(double v) {
  impl->preset.brush.diameter = Checked("brush.diameter", v, brush_range::kDiameter);
  return *this;
}
double Brush::Hardness() const { return impl->preset.brush.hardness; }
Brush& Brush::Hardness(double v) {
  impl->preset.brush.hardness = Checked("brush.hardness", v, brush_range::kHardness);
  return *this;
}
double Brush::Roundness() const { return impl->preset.brush.roundness; }
Brush& Brush::Roundness(double v) {
  impl->preset.brush.roundness = Checked("brush.roundness", v, brush_range::kRoundness);
  return *this;
}
double Brush::Angle() const { return impl->preset.brush.angle; }
Brush& Brush::Angle(double v) {
  impl->preset.brush.angle = Checked("brush.angle", v, brush_range::kAngle);
  return *this;
}
double Brush::Spacing() const { return impl->preset.brush.spacing; }
Brush& Brush::Spacing(double v) {
  impl->preset.brush.spacing = Checked("brush.spacing", v, brush_range::kSpacing);
  return *this;
}
double Brush::Opacity() const { return impl->preset.brush.opacity; }
Brush& Brush::Opacity(double v) {
  impl->preset.brush.opacity = Checked("brush.opacity", v, brush_range::kOpacity);
  return *this;
}
double Brush::Flow() const { return impl->preset.brush.flow; }
Brush& Brush::Flow(double v) {
  impl->preset.brush.flow = Checked("brush.flow", v, brush_range::kFlow);
  return *this;
}
bool Brush::Dither() const { return impl->preset.brush.dither; }
Brush& Brush::Dither(bool on) {
  impl->preset.brush.dither = on;
  return *this;
}
bool Brush::Additive() const { return impl->preset.brush.accumulate == "additive"; }
Brush& Brush::Additive(bool on) {
  impl->preset.brush.accumulate = on ? "additive" : "build-up";
  return *this;
}
bool Brush::Curve() const { return impl->preset.brush.smoothing == "curve"; }
Brush& Brush::Curve(bool on) {
  impl->preset.brush.smoothing = on ? "curve" : "none";
  return *this;
}
double Brush::Stabiliser() const { return impl->preset.brush.stabiliser; }
Brush& Brush::Stabiliser(double v) {
  impl->preset.brush.stabiliser = Checked("brush.stabiliser", v, brush_range::kStabiliser);
  return *this;
}

Brush& Brush::ClearDynamics() {
  impl->preset.brush.dynamics = ::Dynamics();
  return *this;
}

Brush& Brush::Map(Factor factor, Input input, const std::vector<std::array<float, 2>>& curve) {
  const int f = int(factor), in = int(input);
  if (f < 0 || f > 4) throw Error(0, "brush.dynamics: no factor " + std::to_string(f));
  if (in < 0 || in >= kDynamicsInputCount)
    throw Error(0, std::string(kFactorFields[f]) + ".input: no input " + std::to_string(in));
  auto& mappings = impl->preset.brush.dynamics.factors[size_t(f)];
  if (mappings.size() >= 4)
    throw Error(0, std::string(kFactorFields[f]) + ": expected 1 to 4 mappings, got 5");
  if (curve.empty() || curve.size() > kMaxCurvePoints)
    throw Error(0, std::string(kFactorFields[f]) + ".curve: expected 1 to " +
                       std::to_string(kMaxCurvePoints) + " points, got " +
                       std::to_string(curve.size()));
  for (size_t k = 0; k < curve.size(); ++k) {
    const std::string at = std::string(kFactorFields[f]) + ".curve[" + std::to_string(k) + "]";
    Checked((at + "[0]").c_str(), curve[k][0], k ? double(curve[k - 1][0]) : -HUGE_VAL, HUGE_VAL,
            k > 0);
    Checked((at + "[1]").c_str(), curve[k][1], -3600, 3600);
  }
  mappings.push_back({DynamicsInput(in), curve});
  return *this;
}

std::string Brush::Transfer() const { return impl->preset.transfer.value_or(""); }

// Source
// ====================================================================================

struct Source::Impl {
  DocSource source;
  std::shared_ptr<Canvas::Impl> image;  ///< a clone's, shared
};

Source::Source() : impl(std::make_unique<Impl>()) {}
Source::~Source() = default;
Source::Source(const Source& other) : impl(std::make_unique<Impl>(*other.impl)) {}
Source& Source::operator=(const Source& other) {
  *impl = *other.impl;
  return *this;
}

Source Source::Fill(Colour c) {
  Source s;
  s.impl->source.type = "fill";
  s.impl->source.colour = {{c.red, c.green, c.blue, Checked("source.colour[3]", c.alpha, 0, 1)}};
  for (double v : {c.red, c.green, c.blue})
    if (!std::isfinite(v)) throw Error(0, "source.colour: expected finite numbers");
  return s;
}

Source Source::Clone(const Canvas& image, double sourceX, double sourceY, double aspect) {
  Source s;
  s.impl->source.type = "clone";
  s.impl->source.image = "(an image in memory)";
  s.impl->source.sourcePoint = {{Checked("source.sourcePoint[0]", sourceX, -100, 100),
                                 Checked("source.sourcePoint[1]", sourceY, -100, 100)}};
  s.impl->source.sourcePixelAspect = Checked("source.sourcePixelAspect", aspect, 0, 100, true);
  s.impl->image = image.impl;
  return s;
}

Source Source::CloneFile(const std::string& path, double sourceX, double sourceY, double aspect) {
  if (path.empty()) throw Error(0, "source.image: expected a file name");
  Source s;
  s.impl->source.type = "clone";
  // Absolute, so a document saved elsewhere still finds it.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  s.impl->source.image = ec ? path : absolute.lexically_normal().string();
  s.impl->source.sourcePoint = {{Checked("source.sourcePoint[0]", sourceX, -100, 100),
                                 Checked("source.sourcePoint[1]", sourceY, -100, 100)}};
  s.impl->source.sourcePixelAspect = Checked("source.sourcePixelAspect", aspect, 0, 100, true);
  return s;
}

Source Source::CloneFile(const Canvas& image, const std::string& path, double sourceX,
                         double sourceY, double aspect) {
  Source s = CloneFile(path, sourceX, sourceY, aspect);
  s.impl->image = image.impl;
  return s;
}

// Stroke
// ====================================================================================

struct Stroke::Impl {
  std::shared_ptr<Canvas::Impl> canvas;
  StrokeDoc settings;  ///< the canvas's, for the document code; no strokes
  DocStroke stroke;    ///< brush, source, transfer, channels, seed; no events
  std::shared_ptr<Source::Impl> source;
  std::unique_ptr<StrokeSession> session;
  double lastTime = 0;
  bool finished = false;

  StrokeSession& Session() {
    if (!session) {
      const DocSource& s = source->source;
      boost::shared_ptr<K_PaintSource> paint =
          s.type == "clone" ? MakeCloneSource(settings, source->image->world.get(), s)
                            : MakeFillSource(settings, s.colour);
      session = std::make_unique<StrokeSession>(settings, stroke, "stroke",
                                                canvas->world.get(), paint);
    }
    return *session;
  }
  void Unstarted(const char* what) const {
    if (session) throw Error(0, std::string(what) + ": set before the first event");
  }
  Rect Draw(Progress* progress) {
    ProgressRecords records(progress);
    if (progress) {
      progress->Begin(1);
      progress->NextUnit();
    }
    const V_Rect area = Session().Render(records.Record());
    if (progress) progress->End();
    Rect r;
    if (!area.IsEmpty()) r = {area.left, area.top, area.right, area.bottom};
    return r;
  }
};

Stroke::Stroke(Canvas& canvas, const Brush& brush, const Source& source)
    : impl(std::make_unique<Impl>()) {
  impl->canvas = canvas.impl;
  impl->settings = canvas.impl->Settings();
  impl->stroke.brush = brush.impl->preset.brush;
  if (brush.impl->preset.transfer) impl->stroke.transfer = *brush.impl->preset.transfer;
  impl->stroke.source = source.impl->source;
  impl->source = std::make_shared<Source::Impl>(*source.impl);
  if (impl->stroke.source.type == "clone" && !impl->source->image)
    impl->source->image = Canvas::Read(impl->stroke.source.image, canvas.GetDepth(), canvas.Space()).impl;
  if (impl->stroke.source.type == "clone" &&
      impl->source->image->world->GetLayer()->depth != impl->settings.depth)
    throw Error(0, "source.image: a clone image of depth " +
                       std::to_string(impl->source->image->world->GetLayer()->depth) +
                       " on a canvas of depth " + std::to_string(impl->settings.depth));
}

Stroke::~Stroke() = default;

Stroke& Stroke::Transfer(const std::string& mode) {
  impl->Unstarted("transfer");
  Guard([&] { return TransferModeByName(mode); });
  impl->stroke.transfer = mode;
  return *this;
}

Stroke& Stroke::Channels(const std::string& channels) {
  impl->Unstarted("channels");
  Guard([&] { return TargetChannelByName(channels); });
  impl->stroke.channels = channels;
  return *this;
}

Stroke& Stroke::Seed(int32_t seed) {
  impl->Unstarted("seed");
  impl->stroke.seed = seed;
  return *this;
}

Stroke& Stroke::LinearBlending(bool on) {
  impl->Unstarted("blending");
  impl->settings.blending = on ? "linear" : "encoded";
  return *this;
}

Stroke& Stroke::Symmetry(const std::string& mirror, int32_t rotate, double centreX,
                         double centreY) {
  impl->Unstarted("symmetry");
  if (impl->stroke.copy) throw Error(0, "symmetry: set before AsCopy");
  if (mirror != "none" && mirror != "vertical" && mirror != "horizontal" && mirror != "both")
    throw Error(0, "symmetry.mirror: expected \"none\", \"vertical\", \"horizontal\" or "
                   "\"both\", got \"" + mirror + "\"");
  if (rotate < 1 || rotate > 64)
    throw Error(0, "symmetry.rotate: expected 1 to 64, got " + std::to_string(rotate));
  DocSymmetry& s = impl->stroke.symmetry;
  s.mirror = mirror;
  s.rotate = rotate;
  s.centre = {{Checked("symmetry.centre[0]", centreX, -100, 100),
               Checked("symmetry.centre[1]", centreY, -100, 100)}};
  return *this;
}

std::size_t Stroke::Copies() const {
  const DocSymmetry& s = impl->stroke.symmetry;
  const std::size_t mirrors = s.mirror == "both" ? 4 : s.mirror == "none" ? 1 : 2;
  return mirrors * std::size_t(s.rotate);
}

Stroke& Stroke::AsCopy(std::size_t index) {
  impl->Unstarted("copy");
  if (impl->stroke.copy) throw Error(0, "copy: the stroke is a copy already");
  if (index < 1 || index >= Copies())
    throw Error(0, "copy: expected 1 to " + std::to_string(Copies() - 1) + ", got " +
                       std::to_string(index));
  // The copy exactly as a document expands it: one stroke of the canvas's size.
  StrokeDoc one = impl->settings;
  one.strokes = {impl->stroke};
  impl->stroke = ExpandSymmetry(one).strokes.at(index);
  return *this;
}

void Stroke::Add(const Event& event) {
  const std::string at = "event " + std::to_string(Events());
  if (impl->finished) throw Error(0, at + ": the stroke is finished");
  DocEvent e;
  e.time = Checked((at + ".t").c_str(), event.t, -1e9, 1e9);
  e.x = Checked((at + ".x").c_str(), event.x, -10, 10);
  e.y = Checked((at + ".y").c_str(), event.y, -10, 10);
  if (event.pressure) e.pressure = Checked((at + ".pressure").c_str(), *event.pressure, 0, 1);
  e.tiltX = Checked((at + ".tiltX").c_str(), event.tiltX, -90, 90);
  e.tiltY = Checked((at + ".tiltY").c_str(), event.tiltY, -90, 90);
  e.twist = Checked((at + ".twist").c_str(), event.twist, 0, 360);
  e.spacing = event.spacing;
  if (Events() > 0 && !(e.time > impl->lastTime)) {
    std::ostringstream text;
    text << at << ".t: expected a time after " << impl->lastTime << " (the event before), got "
         << e.time;
    throw Error(0, text.str());
  }
  Guard([&] { impl->Session().Add(e, Events()); });
  impl->lastTime = e.time;
  impl->stroke.events.push_back(e);
}

Rect Stroke::Render(Progress* progress) {
  return Guard([&] { return impl->Draw(progress); });
}

Rect Stroke::Finish(Progress* progress) {
  return Guard([&] {
    if (!impl->finished) impl->Session().Finish();
    impl->finished = true;
    return impl->Draw(progress);
  });
}

std::size_t Stroke::Events() const { return impl->session ? impl->session->Events() : 0; }

const K_Shape& Stroke::Shape() const { return Guard([&]() -> const K_Shape& { return impl->Session().Shape(); }); }

// Document
// ====================================================================================

struct Document::Impl {
  StrokeDoc doc;
};

Document::Document() : impl(std::make_unique<Impl>()) {}
Document::~Document() = default;
Document::Document(const Document& other) : impl(std::make_unique<Impl>(*other.impl)) {}
Document& Document::operator=(const Document& other) {
  *impl = *other.impl;
  return *this;
}

Document Document::Load(const std::string& path) {
  Document d;
  d.impl->doc = Guard([&] { return LoadStrokeInput(path); });
  return d;
}

Document Document::Parse(const std::string& json, const std::string& name) {
  Document d;
  d.impl->doc = Guard([&] { return ParseStrokeDoc(json, name); });
  return d;
}

Document Document::BuiltIn() {
  Document d;
  d.impl->doc = DefaultStrokeDoc();
  return d;
}

std::string Document::ToJson() const {
  return Guard([&] { return StrokeDocToJson(impl->doc); });
}

void Document::Save(const std::string& path) const {
  Guard([&] { SaveStrokeFile(impl->doc, path); });
}

void Document::SaveDescription(const std::string& path) const {
  Guard([&] {
    AtomicOutput out(path);
    out.Write(StrokeDocToJson(RelocateDoc(impl->doc, path)));
    out.Commit();
  });
}

int32_t Document::Width() const { return impl->doc.width; }
int32_t Document::Height() const { return impl->doc.height; }
Depth Document::GetDepth() const { return Depth(impl->doc.depth); }
std::size_t Document::Strokes() const { return impl->doc.strokes.size(); }

Document Document::New(int32_t width, int32_t height, Depth depth, Colour background,
                       ColourSpace space) {
  const Canvas blank(1, 1, depth, background, space);  // checks the depth and colours
  for (const auto& side : {std::make_pair("canvas.width", width), std::make_pair("canvas.height", height)})
    if (side.second < 1 || side.second > kMaxCanvasSide)
      throw Error(0, std::string(side.first) + ": expected 1 to " + std::to_string(kMaxCanvasSide) +
                         ", got " + std::to_string(side.second));
  Document d;
  d.impl->doc.width = width;
  d.impl->doc.height = height;
  d.impl->doc.depth = int(depth);
  d.impl->doc.background = {{background.red, background.green, background.blue, background.alpha}};
  d.impl->doc.colour = blank.Space() == ColourSpace::kLinear ? "linear" : "srgb";
  return d;
}

Document& Document::Add(const Stroke& stroke) {
  const StrokeDoc& from = stroke.impl->settings;
  StrokeDoc& doc = impl->doc;
  if (from.width != doc.width || from.height != doc.height || from.depth != doc.depth) {
    std::ostringstream text;
    text << "stroke: painted on a " << from.width << "x" << from.height << " canvas of depth "
         << from.depth << ", the document's is " << doc.width << "x" << doc.height
         << " of depth " << doc.depth;
    throw Error(0, text.str());
  }
  if (!doc.strokes.empty() && from.blending != doc.blending)
    throw Error(0, "stroke: blends " + std::string(from.blending == "linear" ? "in linear light" : "the stored values") +
                       ", the document's strokes the other way");
  const DocStroke& s = stroke.impl->stroke;
  if (s.copy) throw Error(0, "stroke: a symmetry copy is drawn by its original, not added");
  if (s.source.type == "clone" && !s.source.image.empty() && s.source.image[0] == '(')
    throw Error(0, "source.image: a clone of an image in memory has no file a document can "
                   "name (use Source::CloneFile)");
  doc.blending = from.blending;
  doc.strokes.push_back(s);
  return *this;
}

Document& Document::Keep(std::size_t count) {
  if (count < impl->doc.strokes.size()) impl->doc.strokes.resize(count);
  return *this;
}

Canvas Document::Blank() const {
  return Guard([&] {
    auto canvas = std::make_shared<Canvas::Impl>();
    canvas->world = NewCanvas(impl->doc);
    canvas->space = CanvasEncoding(impl->doc) == GX_ColourEncoding::kLinear ? ColourSpace::kLinear
                                                                           : ColourSpace::kSrgb;
    return Canvas(canvas);
  });
}

Document& Document::UseBrush(const Brush& brush) {
  ApplyBrush(brush.impl->preset, &impl->doc);
  return *this;
}

Canvas Document::Render(Progress* progress) const {
  return Guard([&] {
    auto canvas = std::make_shared<Canvas::Impl>();
    canvas->world = RenderDocument(impl->doc, progress);
    canvas->space = CanvasEncoding(impl->doc) == GX_ColourEncoding::kLinear ? ColourSpace::kLinear
                                                                           : ColourSpace::kSrgb;
    return Canvas(canvas);
  });
}

}  // namespace kstroke
