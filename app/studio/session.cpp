// SPDX-License-Identifier: MIT
// One tab's document, canvas and strokes; see app/studio/session.h.
#include "app/studio/session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include <nlohmann/json.hpp>

#include "app/animate.h"
#include "app/studio/picture.h"
#include "document/brush_presets.h"
#include "document/output_file.h"
#include "document/stroke_doc.h"
#include "host/inkwork/inkwork_cairo.h"
#include "kstroke/tip_outline.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Messages quote what the page sent, which need not be UTF-8: such bytes are replaced,
// so a reply is always valid JSON.
Outgoing Text(const json& value) {
  return {false, value.dump(-1, ' ', false, json::error_handler_t::replace), false};
}

Outgoing ErrorReply(const std::string& request, const std::string& message) {
  return Text({{"type", "error"}, {"request", request}, {"message", message}});
}

kstroke::Rect Union(const kstroke::Rect& a, const kstroke::Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

// A canvas with pixels of its own, equal to `c`'s.
kstroke::Canvas CopyOf(const kstroke::Canvas& c) {
  kstroke::Canvas copy(c.Width(), c.Height(), c.GetDepth(), {0, 0, 0, 0}, c.Space());
  const kstroke::PixelView from = const_cast<kstroke::Canvas&>(c).Pixels();
  const kstroke::PixelView to = copy.Pixels();
  const std::size_t bytes = std::size_t(from.width) * PixelBytes(from.depth);
  for (int32_t y = 0; y < from.height; ++y)
    std::memcpy(static_cast<char*>(to.data) + y * to.rowBytes,
                static_cast<const char*>(from.data) + y * from.rowBytes, bytes);
  return copy;
}

void CopyPixels(const kstroke::Canvas& from, kstroke::Canvas* to) {
  const kstroke::PixelView a = const_cast<kstroke::Canvas&>(from).Pixels();
  const kstroke::PixelView b = to->Pixels();
  const std::size_t bytes = std::size_t(a.width) * PixelBytes(a.depth);
  for (int32_t y = 0; y < a.height; ++y)
    std::memcpy(static_cast<char*>(b.data) + y * b.rowBytes,
                static_cast<const char*>(a.data) + y * a.rowBytes, bytes);
}

// The rectangle where two canvases of one size differ (empty when they do not).
kstroke::Rect Difference(const kstroke::Canvas& a, const kstroke::Canvas& b) {
  const kstroke::PixelView p = const_cast<kstroke::Canvas&>(a).Pixels();
  const kstroke::PixelView q = const_cast<kstroke::Canvas&>(b).Pixels();
  const std::size_t px = PixelBytes(p.depth);
  kstroke::Rect r;
  for (int32_t y = 0; y < p.height; ++y) {
    const char* rowA = static_cast<const char*>(p.data) + y * p.rowBytes;
    const char* rowB = static_cast<const char*>(q.data) + y * q.rowBytes;
    if (std::memcmp(rowA, rowB, std::size_t(p.width) * px) == 0) continue;
    int32_t left = 0, right = p.width;
    while (std::memcmp(rowA + left * px, rowB + left * px, px) == 0) ++left;
    while (std::memcmp(rowA + (right - 1) * px, rowB + (right - 1) * px, px) == 0) --right;
    r = Union(r, {left, y, right, y + 1});
  }
  return r;
}

}  // namespace

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t rank = std::size_t(std::ceil(fraction * double(values.size())));
  return values[std::min(values.size() - 1, rank ? rank - 1 : 0)];
}

// The stroke being painted
// ====================================================================================

struct LiveStroke {
  uint32_t id = 0;
  uint32_t nextSeq = 0;
  std::vector<std::unique_ptr<kstroke::Stroke>> copies;  ///< [0] the stroke itself
  std::vector<kstroke::Event> events;                    ///< kept to paint copies again
  std::optional<kstroke::Canvas> before;                 ///< the canvas before, with copies
  kstroke::Rect touched;
};

struct Replay {
  std::unique_ptr<Animation> animation;
  int32_t frames = 0;
  int32_t next = 0;
  std::optional<kstroke::Canvas> shown;  ///< the last frame sent
};

struct StudioSession::Impl {
  const StudioSettings& settings;
  int id;
  kstroke::Document timeline;   ///< every stroke painted, those undone included
  std::size_t visible = 0;      ///< strokes shown
  kstroke::Canvas canvas;
  std::string name;             ///< what saving calls the document
  std::string path;             ///< where its relative clone images are found
  StudioTool tool;
  kstroke::Brush brush;
  std::optional<LiveStroke> live;
  uint32_t lastStroke = 0;
  bool anyStroke = false;
  // The clone image: a file in the uploads folder, read at the canvas's depth.
  std::string imagePath, imageName;
  std::optional<kstroke::Canvas> image;
  std::optional<std::array<double, 2>> clonePoint;  ///< canvas pixels, set by Alt-click
  std::array<double, 2> cloneOffset{{0, 0}};        ///< image pixel − canvas pixel
  int uploads = 0;
  std::optional<Replay> replay;
  std::vector<double> batchMs, renderMs;

  Impl(const StudioSettings& s, int id_)
      : settings(s),
        id(id_),
        timeline(s.start ? *s.start
                         : kstroke::Document::New(s.newWidth, s.newHeight)),
        canvas(timeline.Blank()),
        name(s.startName),
        path(s.startPath.empty() ? (fs::path(s.folder) / s.startName).string() : s.startPath),
        brush(kstroke::Brush::Preset("round")) {
    visible = timeline.Strokes();
    if (visible) canvas = timeline.Render();
  }

  kstroke::Document Shown() const {
    kstroke::Document d = timeline;
    d.Keep(visible);
    return d;
  }

  Outgoing State() const {
    json clone = nullptr;
    if (image) clone = {{"name", imageName}, {"width", image->Width()}, {"height", image->Height()}};
    return Text({{"type", "state"},
                 {"width", canvas.Width()},
                 {"height", canvas.Height()},
                 {"depth", int(canvas.GetDepth())},
                 {"colour", canvas.Space() == kstroke::ColourSpace::kLinear ? "linear" : "srgb"},
                 {"name", name},
                 {"strokes", visible},
                 {"redo", timeline.Strokes() - visible},
                 {"image", clone}});
  }

  Outgoing Picture(PictureKind kind, uint32_t a, uint32_t b, const kstroke::Rect& r, double ms,
                   const kstroke::Canvas& from) const {
    Outgoing out;
    out.binary = true;
    out.data = EncodePicture(uint32_t(kind), a, b, r, float(ms), from);
    return out;
  }
  Outgoing Whole() const {
    const auto started = Clock::now();
    return Picture(PictureKind::kWhole, 0, 0, {0, 0, canvas.Width(), canvas.Height()},
                   MillisecondsSince(started), canvas);
  }

  void CheckNoStroke(const char* request) const {
    if (live)
      throw ProtocolError(std::string(request) + ": stroke " + std::to_string(live->id) +
                          " is still being painted");
  }

  // Tool and strokes
  // ==================================================================================

  // The brush the panels describe; the facade checks every value.
  static kstroke::Brush BrushOf(const StudioBrush& b) {
    kstroke::Brush brush = kstroke::Brush::Preset(b.preset);
    if (b.diameter) brush.Diameter(*b.diameter);
    if (b.hardness) brush.Hardness(*b.hardness);
    if (b.roundness) brush.Roundness(*b.roundness);
    if (b.angle) brush.Angle(*b.angle);
    if (b.spacing) brush.Spacing(*b.spacing);
    if (b.opacity) brush.Opacity(*b.opacity);
    if (b.flow) brush.Flow(*b.flow);
    if (b.stabiliser) brush.Stabiliser(*b.stabiliser);
    if (b.dither) brush.Dither(*b.dither);
    if (b.additive) brush.Additive(*b.additive);
    if (b.curve) brush.Curve(*b.curve);
    if (b.dynamics) {
      brush.ClearDynamics();
      for (const StudioMapping& m : *b.dynamics) brush.Map(m.factor, m.input, m.curve);
    }
    return brush;
  }

  // Each stroke of the document its own seed, so random dynamics differ stroke by stroke.
  int32_t SeedOf() const { return int32_t(visible % 100000) + 1; }

  // A stroke of the tool on `on`, copy `copy` of its symmetry (0: itself).
  std::unique_ptr<kstroke::Stroke> NewStroke(kstroke::Canvas& on, const kstroke::Source& source,
                                             std::size_t copy, int32_t seed) const {
    auto s = std::make_unique<kstroke::Stroke>(on, brush, source);
    if (!tool.transfer.empty()) s->Transfer(tool.transfer);
    s->Channels(tool.channels).Seed(seed);
    s->Symmetry(tool.mirror, tool.rotate, tool.centre[0], tool.centre[1]);
    if (copy) s->AsCopy(copy);
    return s;
  }

  std::vector<Outgoing> SetTool(const StudioTool& t) {
    kstroke::Brush b = BrushOf(t.brush);
    kstroke::Source::Fill(t.colour);  // checks the colour
    const StudioTool before = tool;
    const kstroke::Brush brushBefore = brush;
    tool = t;
    brush = b;
    try {
      kstroke::Canvas probe(1, 1);
      NewStroke(probe, kstroke::Source::Fill(t.colour), 0, 1);
    } catch (...) {
      tool = before;
      brush = brushBefore;
      throw;
    }
    return {Text({{"type", "tool"}, {"copies", NewCopies()}})};
  }

  std::size_t NewCopies() const {
    kstroke::Canvas probe(1, 1);
    return NewStroke(probe, kstroke::Source::Fill(tool.colour), 0, 1)->Copies();
  }

  kstroke::Source SourceFor(const kstroke::Event& first) {
    if (!tool.clone) return kstroke::Source::Fill(tool.colour);
    if (!image) throw ProtocolError("samples: the clone source has no image: load one first");
    // Alt-click chose an image point; the first stroke after it lands that point where it
    // starts, and later strokes keep the same offset.
    const double px = first.x * canvas.Width(), py = first.y * canvas.Height();
    if (clonePoint) {
      cloneOffset = {(*clonePoint)[0] - px, (*clonePoint)[1] - py};
      clonePoint.reset();
    }
    return kstroke::Source::CloneFile(*image, imagePath, cloneOffset[0] / image->Width(),
                                      cloneOffset[1] / image->Height());
  }

  std::vector<Outgoing> Begin(const ClientMessage& m) {
    CheckNoStroke("begin");
    if (anyStroke && m.stroke <= lastStroke)
      throw ProtocolError("begin: stroke " + std::to_string(m.stroke) + " after stroke " +
                          std::to_string(lastStroke) + " (numbers must increase)");
    live.emplace();
    live->id = m.stroke;
    lastStroke = m.stroke;
    anyStroke = true;
    return {};
  }

  LiveStroke& Open(const char* request, uint32_t stroke) {
    if (!live)
      throw ProtocolError(std::string(request) + ": stroke " + std::to_string(stroke) +
                          " is not being painted (no stroke is)");
    if (live->id != stroke)
      throw ProtocolError(std::string(request) + ": stroke " + std::to_string(stroke) +
                          " is not being painted (stroke " + std::to_string(live->id) + " is)");
    return *live;
  }

  // Paints the events into every copy; answers the changed rectangle.
  kstroke::Rect Paint(LiveStroke& s, const std::vector<kstroke::Event>& events,
                      std::vector<Outgoing>* out, const char* request) {
    for (const kstroke::Event& e : events) {
      if (s.copies.empty()) {
        const kstroke::Source source = SourceFor(e);
        for (std::size_t k = 0, n = NewCopies(); k < n; ++k)
          s.copies.push_back(NewStroke(canvas, source, k, SeedOf()));
        if (s.copies.size() > 1) s.before = CopyOf(canvas);
      }
      try {
        for (auto& c : s.copies) c->Add(e);
      } catch (const kstroke::Error& error) {
        // The stroke goes on without this batch's rest.
        out->push_back(ErrorReply(request, error.what()));
        break;
      }
      s.events.push_back(e);
    }
    kstroke::Rect r;
    for (auto& c : s.copies) r = Union(r, c->Render());
    s.touched = Union(s.touched, r);
    return r;
  }

  std::vector<Outgoing> Samples(const ClientMessage& m) {
    LiveStroke& s = Open("samples", m.stroke);
    if (m.seq != s.nextSeq)
      throw ProtocolError("samples: batch " + std::to_string(m.seq) + " of stroke " +
                          std::to_string(m.stroke) + " where batch " + std::to_string(s.nextSeq) +
                          " was due");
    ++s.nextSeq;
    const auto started = Clock::now();
    std::vector<Outgoing> out;
    const kstroke::Rect r = Paint(s, m.events, &out, "samples");
    const double ms = MillisecondsSince(started);
    renderMs.push_back(ms);
    Outgoing patch = Picture(PictureKind::kPatch, m.stroke, m.seq, r, ms, canvas);
    patch.batch = true;
    out.push_back(std::move(patch));
    return out;
  }

  std::vector<Outgoing> End(const ClientMessage& m) {
    LiveStroke& s = Open("end", m.stroke);
    const auto started = Clock::now();
    // Every event refused: the copies painted nothing, and there is no stroke to keep.
    if (s.events.empty()) s.copies.clear();
    kstroke::Rect r;
    for (auto& c : s.copies) r = Union(r, c->Finish());
    r = Union(r, s.touched);
    if (s.before && !s.copies.empty()) {
      // The copies again, one after the other, as the document draws them.
      CopyPixels(*s.before, &canvas);
      const kstroke::Source source = SourceFor(s.events.front());
      std::vector<std::unique_ptr<kstroke::Stroke>> again;
      for (std::size_t k = 0; k < s.copies.size(); ++k) {
        // The live copies' seed: it sets the dither and the random input.
        auto c = NewStroke(canvas, source, k, SeedOf());
        for (const kstroke::Event& e : s.events) c->Add(e);
        r = Union(r, c->Finish());
        again.push_back(std::move(c));
      }
      s.copies = std::move(again);
    }
    std::vector<Outgoing> out;
    if (!s.copies.empty()) {
      timeline.Keep(visible);
      timeline.Add(*s.copies[0]);
      visible = timeline.Strokes();
    }
    live.reset();
    out.push_back(Picture(PictureKind::kPatch, m.stroke, UINT32_MAX, r, MillisecondsSince(started),
                          canvas));
    out.push_back(State());
    return out;
  }

  // Document
  // ==================================================================================

  void Show(kstroke::Document doc, std::size_t shown) {
    kstroke::Document d = doc;
    d.Keep(shown);
    kstroke::Canvas c = d.Render();
    timeline = std::move(doc);
    visible = shown;
    canvas = c;
    if (image && image->GetDepth() != canvas.GetDepth()) ReadImage();
  }

  void ReadImage() {
    image.reset();
    image = kstroke::Canvas::Read(imagePath, canvas.GetDepth(), canvas.Space());
  }

  // The picture first: a page that has the state has the picture too.
  std::vector<Outgoing> StateAndPicture() const { return {Whole(), State()}; }

  std::string InFolder(const std::string& file) const {
    return (fs::path(settings.folder) / file).string();
  }

  // The document as saved: clone images the page sent are copied beside it and named
  // by their bare name.
  std::string SavedJson(const std::string& target) const {
    json doc = json::parse(Shown().ToJson());
    const fs::path folder = fs::path(settings.uploads);
    auto fix = [&](json& source) {
      if (!source.is_object() || !source.contains("image") || !source["image"].is_string()) return;
      fs::path file = source["image"].get<std::string>();
      if (file.is_relative()) {
        // Relative to the document as it was opened; saved elsewhere, it names it whole.
        const fs::path from = fs::absolute(fs::path(path).parent_path() / file).lexically_normal();
        if (from.parent_path() != fs::absolute(target).parent_path().lexically_normal())
          source["image"] = from.string();
        return;
      }
      if (folder.empty() || file.parent_path().parent_path() != folder) return;
      const fs::path beside = fs::path(target).parent_path() / file.filename();
      fs::copy_file(file, beside, fs::copy_options::overwrite_existing);
      source["image"] = file.filename().string();
    };
    if (doc.contains("source")) fix(doc["source"]);
    if (doc.contains("strokes"))
      for (json& s : doc["strokes"])
        if (s.contains("source")) fix(s["source"]);
    return doc.dump(2) + "\n";
  }

  std::vector<Outgoing> Save(const ClientMessage& m) {
    CheckNoStroke("save");
    const std::string target = InFolder(m.name);
    try {
      const std::string text = SavedJson(target);
      if (m.name.size() > 4 && m.name.compare(m.name.size() - 4, 4, ".kst") == 0) {
        kstroke::Document::Parse(text, target).Save(target);
      } else {
        AtomicOutput file(target);
        file.Write(text);
        file.Commit();
      }
    } catch (const OutputError& e) {
      throw kstroke::Error(0, e.what());
    } catch (const fs::filesystem_error& e) {
      throw kstroke::Error(0, m.name + ": cannot copy its clone image: " + e.code().message());
    }
    // The document in memory keeps its names, so `path` stays where they are relative to.
    name = m.name;
    return {Text({{"type", "saved"}, {"name", m.name}, {"url", "/files/" + m.name}}), State()};
  }

  std::vector<Outgoing> OpenFile(const ClientMessage& m) {
    CheckNoStroke("open");
    kstroke::Document doc = kstroke::Document::Load(InFolder(m.name));
    const std::size_t n = doc.Strokes();
    Show(std::move(doc), n);
    name = m.name;
    path = InFolder(m.name);
    return StateAndPicture();
  }

  std::vector<Outgoing> Export(const ClientMessage& m) {
    CheckNoStroke("export");
    canvas.Write(InFolder(m.name));
    return {Text({{"type", "exported"}, {"name", m.name}, {"url", "/files/" + m.name}})};
  }

  std::vector<Outgoing> Files() const {
    json documents = json::array(), images = json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(settings.folder, ec))
      if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      if (IsStudioFileName(n, {".json", ".kst"})) documents.push_back(n);
      if (IsStudioFileName(n, {".png", ".exr", ".tif", ".tiff"})) images.push_back(n);
    }
    return {Text({{"type", "files"}, {"documents", documents}, {"images", images}})};
  }

  std::vector<Outgoing> Image(const ClientMessage& m) {
    CheckNoStroke("image");
    const fs::path folder = fs::path(settings.uploads) /
                            (std::to_string(id) + "-" + std::to_string(++uploads));
    fs::create_directories(folder);
    const fs::path file = folder / m.name;
    {
      std::ofstream out(file, std::ios::binary);
      out.write(m.bytes.data(), std::streamsize(m.bytes.size()));
      if (!out) throw kstroke::Error(0, m.name + ": cannot keep the image");
    }
    try {
      kstroke::Canvas read = kstroke::Canvas::Read(file.string(), canvas.GetDepth(), canvas.Space());
      image = read;
    } catch (const kstroke::Error& e) {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
      // The message names the upload folder; the page knows the image by its name.
      std::string what = e.what();
      const std::size_t at = what.find(file.string());
      if (at != std::string::npos) what.replace(at, file.string().size(), m.name);
      throw kstroke::Error(e.Code(), what);
    }
    imagePath = file.string();
    imageName = m.name;
    clonePoint.reset();
    cloneOffset = {0, 0};
    return {State()};
  }

  std::vector<Outgoing> Outline(const ClientMessage& m) const {
    const auto started = Clock::now();
    paint_brushtip::BrushTipRec rec;
    rec.zoom = m.zoom;
    rec.diameter = brush.Diameter();
    rec.hardness = brush.Hardness() * 100;
    rec.roundness = brush.Roundness() * 100;
    rec.angle = brush.Angle();
    rec.style = 0;
    kelvo::inkwork::CairoSupplier supplier;
    kelvo::inkwork::ImageP outline = paint_brushtip::CreateTipOutlineImage(&supplier, rec);
    Outgoing out;
    out.binary = true;
    out.data = EncodeCursor(*outline, rec.center.x, rec.center.y, float(MillisecondsSince(started)));
    return {out};
  }

  // Replay: the document written on, frame by frame, one frame per Continue.
  std::vector<Outgoing> StartReplay(const ClientMessage& m) {
    CheckNoStroke("replay");
    if (visible == 0) throw ProtocolError("replay: the document has no strokes");
    StrokeDoc doc;
    try {
      doc = ParseStrokeDoc(Shown().ToJson(), path);
      replay.emplace();
      replay->animation = std::make_unique<Animation>(doc, std::nullopt, true);
    } catch (const AnimateError& e) {
      replay.reset();
      throw kstroke::Error(0, e.what());
    } catch (const StrokeDocError& e) {
      replay.reset();
      throw kstroke::Error(0, e.what());
    }
    replay->frames = m.frames;
    return {Text({{"type", "replay"}, {"frames", m.frames}})};
  }

  std::vector<Outgoing> NextFrame() {
    Replay& r = *replay;
    const auto started = Clock::now();
    const std::unique_ptr<GX_World> world = r.animation->RenderFrame(r.next, r.frames, nullptr);
    kstroke::Canvas frame(canvas.Width(), canvas.Height(), canvas.GetDepth(), {0, 0, 0, 0},
                          canvas.Space());
    CopyWorld(*world, &frame);
    const kstroke::Rect changed = r.shown ? Difference(*r.shown, frame)
                                          : kstroke::Rect{0, 0, frame.Width(), frame.Height()};
    std::vector<Outgoing> out{Picture(PictureKind::kFrame, uint32_t(r.next), uint32_t(r.frames),
                                      changed, MillisecondsSince(started), frame)};
    r.shown = frame;
    if (++r.next == r.frames) {
      replay.reset();
      out.push_back(Text({{"type", "replayed"}}));
    }
    return out;
  }

  std::vector<Outgoing> Stats() const {
    auto summary = [](const std::vector<double>& v) {
      return json{{"count", v.size()},
                  {"p50", Percentile(v, 0.5)},
                  {"p95", Percentile(v, 0.95)},
                  {"p99", Percentile(v, 0.99)}};
    };
    return {Text({{"type", "stats"}, {"server", summary(batchMs)}, {"render", summary(renderMs)}})};
  }

  std::vector<Outgoing> Dispatch(const ClientMessage& m) {
    switch (m.kind) {
      case MessageKind::kTool: return SetTool(m.tool);
      case MessageKind::kBegin: return Begin(m);
      case MessageKind::kSamples: return Samples(m);
      case MessageKind::kEnd: return End(m);
      case MessageKind::kUndo:
        CheckNoStroke("undo");
        if (visible == 0) throw ProtocolError("undo: no stroke to undo");
        Show(timeline, visible - 1);
        return StateAndPicture();
      case MessageKind::kRedo:
        CheckNoStroke("redo");
        if (visible == timeline.Strokes()) throw ProtocolError("redo: no stroke to redo");
        Show(timeline, visible + 1);
        return StateAndPicture();
      case MessageKind::kClear:
        CheckNoStroke("clear");
        Show(timeline, 0);
        return StateAndPicture();
      case MessageKind::kNew: {
        CheckNoStroke("new");
        Show(kstroke::Document::New(m.width, m.height, m.depth, m.background), 0);
        name = "untitled.json";
        path = InFolder(name);
        return StateAndPicture();
      }
      case MessageKind::kSave: return Save(m);
      case MessageKind::kOpen: return OpenFile(m);
      case MessageKind::kExport: return Export(m);
      case MessageKind::kFiles: return Files();
      case MessageKind::kStats: return Stats();
      case MessageKind::kReplay: return StartReplay(m);
      case MessageKind::kOutline: return Outline(m);
      case MessageKind::kClonePoint:
        clonePoint = std::array<double, 2>{{m.x * canvas.Width(), m.y * canvas.Height()}};
        return {Text({{"type", "clonePoint"}, {"x", m.x}, {"y", m.y}})};
      case MessageKind::kImage: return Image(m);
    }
    return {};
  }
};

// Session
// ====================================================================================

StudioSession::StudioSession(const StudioSettings& settings, int id)
    : impl(std::make_unique<Impl>(settings, id)) {}
StudioSession::~StudioSession() = default;

std::vector<Outgoing> StudioSession::Start() {
  json presets = json::array();
  for (const BrushPresetText& p : BrushPresetTexts()) presets.push_back(json::parse(p.text));
  return {Text({{"type", "presets"}, {"presets", presets}}), impl->Whole(), impl->State()};
}

std::vector<Outgoing> StudioSession::Handle(std::string_view data, bool binary) {
  std::vector<Outgoing> out;
  std::string request = binary ? "image" : "message";
  // A message during a replay ends it: the page shows the document again first.
  if (impl->replay) {
    impl->replay.reset();
    out.push_back(impl->Whole());
  }
  try {
    const ClientMessage m = ParseClientMessage(data, binary);
    request = m.type;
    std::vector<Outgoing> replies = impl->Dispatch(m);
    for (Outgoing& r : replies) out.push_back(std::move(r));
  } catch (const ProtocolError& e) {
    out.push_back(ErrorReply(request, e.what()));
  } catch (const kstroke::Error& e) {
    out.push_back(ErrorReply(request, e.what()));
  } catch (long code) {
    // The engine's codes that got past the facade: one message is refused, the tab goes on.
    out.push_back(ErrorReply(request, "engine error " + std::to_string(code)));
  } catch (const std::exception& e) {
    out.push_back(ErrorReply(request, e.what()));
  }
  return out;
}

bool StudioSession::Busy() const { return impl->replay.has_value(); }

std::vector<Outgoing> StudioSession::Continue() {
  if (!impl->replay) return {};
  try {
    return impl->NextFrame();
  } catch (const std::exception& e) {
    impl->replay.reset();
    return {ErrorReply("replay", e.what()), impl->Whole()};
  }
}

void StudioSession::RecordBatch(double ms) {
  // A long session keeps its latest figures only.
  if (impl->batchMs.size() >= 100000) impl->batchMs.erase(impl->batchMs.begin(), impl->batchMs.begin() + 50000);
  if (impl->renderMs.size() >= 100000) impl->renderMs.erase(impl->renderMs.begin(), impl->renderMs.begin() + 50000);
  impl->batchMs.push_back(ms);
}

const kstroke::Canvas& StudioSession::Picture() const { return impl->canvas; }
std::size_t StudioSession::Strokes() const { return impl->visible; }
