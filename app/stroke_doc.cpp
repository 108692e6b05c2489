// SPDX-License-Identifier: MIT
// Stroke description parsing and validation.
#include "app/stroke_doc.h"

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {


// Reads one JSON object, remembering the dotted path for messages and which keys were
// used, so that a misspelt field is an error rather than silently ignored.
class ObjectReader {
public:
  ObjectReader(const json& j, std::string fileName, std::string path)
      : obj(j), file(std::move(fileName)), where(std::move(path)) {
    if (!obj.is_object()) Fail(this->where, "expected an object");
  }

  [[noreturn]] void Fail(const std::string& field, const std::string& what) const {
    throw StrokeDocError(file + ": " + (field.empty() ? "document" : field) + ": " + what);
  }
  std::string Path(const std::string& key) const { return where.empty() ? key : where + "." + key; }

  bool Has(const std::string& key) {
    used.insert(key);
    return obj.contains(key);
  }
  const json& Get(const std::string& key) {
    used.insert(key);
    return obj.at(key);
  }

  double Number(const std::string& key, double def, double lo, double hi, bool openLow = false) {
    if (!Has(key)) return def;
    return CheckNumber(Get(key), Path(key), lo, hi, openLow);
  }
  double CheckNumber(const json& v, const std::string& field, double lo, double hi,
                     bool openLow = false) const {
    if (!v.is_number()) Fail(field, "expected a number, got " + v.dump());
    const double d = v.get<double>();
    std::ostringstream range;
    range << "expected a number " << (openLow ? "above " : "from ") << lo;
    if (std::isfinite(hi)) range << (openLow ? " up to " : " to ") << hi;
    if (!std::isfinite(d) || d < lo || d > hi || (openLow && d == lo))
      Fail(field, range.str() + ", got " + v.dump());
    return d;
  }
  int Integer(const std::string& key, int def, int lo, int hi) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_number_integer())
      Fail(Path(key), "expected a whole number, got " + v.dump());
    const long long n = v.get<long long>();
    if (n < lo || n > hi)
      Fail(Path(key), "expected " + std::to_string(lo) + " to " + std::to_string(hi) +
                          ", got " + v.dump());
    return static_cast<int>(n);
  }
  bool Bool(const std::string& key, bool def) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_boolean()) Fail(Path(key), "expected true or false, got " + v.dump());
    return v.get<bool>();
  }
  std::string String(const std::string& key, const std::string& def) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_string()) Fail(Path(key), "expected a string, got " + v.dump());
    return v.get<std::string>();
  }
  template <size_t N>
  std::array<double, N> Numbers(const std::string& key, std::array<double, N> def, double lo,
                                double hi) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_array() || v.size() != N)
      Fail(Path(key), "expected " + std::to_string(N) + " numbers, got " + v.dump());
    std::array<double, N> out;
    for (size_t i = 0; i < N; ++i)
      out[i] = CheckNumber(v[i], Path(key) + "[" + std::to_string(i) + "]", lo, hi);
    return out;
  }
  std::string OneOf(const std::string& key, const std::string& def,
                    std::initializer_list<const char*> names) {
    std::string s = String(key, def);
    if (s == "color") s = "colour";
    if (s == "color-opaque") s = "colour-opaque";
    for (const char* n : names)
      if (s == n) return s;
    std::string list;
    for (const char* n : names) list += (list.empty() ? "" : ", ") + std::string(n);
    Fail(Path(key), "unknown value \"" + s + "\" (one of: " + list + ")");
  }

  /// Every key of the object must have been read by now.
  void Finish() const {
    for (auto it = obj.begin(); it != obj.end(); ++it)
      if (!used.count(it.key())) Fail(Path(it.key()), "unknown field");
  }

  const std::string& File() const { return file; }

private:
  const json& obj;
  std::string file;
  std::string where;
  std::set<std::string> used;
};

const double kInf = INFINITY;

#define KSTROKE_TRANSFER_NAMES                                                      \
  {"copy", "normal", "dissolve", "add", "multiply", "screen", "overlay", "darken",  \
   "lighten", "difference", "erase"}

DocBrush ReadBrush(ObjectReader& parent, const std::string& key, DocBrush b) {
  if (!parent.Has(key)) return b;
  ObjectReader r(parent.Get(key), parent.File(), parent.Path(key));
  b.diameter = r.Number("diameter", b.diameter, 0, 10000, true);
  b.hardness = r.Number("hardness", b.hardness, 0, 1);
  b.roundness = r.Number("roundness", b.roundness, 0, 1);
  b.angle = r.Number("angle", b.angle, -3600, 3600);
  b.spacing = r.Number("spacing", b.spacing, 0, 100, true);
  b.opacity = r.Number("opacity", b.opacity, 0, 1);
  b.flow = r.Number("flow", b.flow, 0, 1);
  b.dither = r.Bool("dither", b.dither);
  b.accumulate = r.OneOf("accumulate", b.accumulate, {"build-up", "additive"});
  r.Finish();
  return b;
}

DocSource ReadSource(ObjectReader& parent, const std::string& key, DocSource s) {
  if (!parent.Has(key)) return s;
  ObjectReader r(parent.Get(key), parent.File(), parent.Path(key));
  s.type = r.OneOf("type", s.type, {"fill", "clone"});
  s.colour = r.Numbers<3>("colour", s.colour, -kInf, kInf);
  if (r.Has("color")) s.colour = r.Numbers<3>("color", s.colour, -kInf, kInf);
  s.image = r.String("image", s.image);
  s.sourcePoint = r.Numbers<2>("sourcePoint", s.sourcePoint, -100, 100);
  s.sourcePixelAspect = r.Number("sourcePixelAspect", s.sourcePixelAspect, 0, 100, true);
  if (s.type == "clone" && s.image.empty())
    r.Fail(r.Path("image"), "a clone source needs an image");
  r.Finish();
  return s;
}

DocEvent ReadEvent(const json& j, const std::string& file, const std::string& where) {
  ObjectReader r(j, file, where);
  DocEvent e;
  if (!r.Has("t")) r.Fail(r.Path("t"), "missing (every event needs a time)");
  e.time = r.Number("t", 0, -1e9, 1e9);
  if (!r.Has("x") || !r.Has("y")) r.Fail(where, "missing x or y");
  e.x = r.Number("x", 0, -10, 10);
  e.y = r.Number("y", 0, -10, 10);
  const bool hasPressure = r.Has("pressure"), hasParams = r.Has("params");
  if (hasPressure && hasParams) r.Fail(r.Path("params"), "give either pressure or params, not both");
  if (hasPressure) e.params = PressureToParams(r.Number("pressure", 1, 0, 1));
  if (hasParams) {
    const auto p = r.Numbers<5>("params", {{1, 1, 1, 0, 1}}, -3600, 3600);
    for (size_t i = 0; i < 5; ++i) e.params[i] = static_cast<float>(p[i]);
  }
  e.spacing = r.Bool("spacing", true);
  e.addIfUnmoved = r.Bool("addIfUnmoved", false);
  r.Finish();
  return e;
}

}  // namespace

std::array<float, 5> PressureToParams(double pressure) {
  const float p = static_cast<float>(pressure);
  return {{0.2f + 0.8f * p, 1.0f, p, 0.0f, 1.0f}};
}

StrokeDoc ParseStrokeDoc(const std::string& text, const std::string& path) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& e) {
    // Syntax errors and numbers beyond double range ("1e400", out_of_range) alike; the
    // library's "[json.exception...] " prefix means nothing to a user.
    std::string what = e.what();
    const auto colon = what.find("parse error");
    const auto bracket = what.find("] ");
    throw StrokeDocError(path + ": not valid JSON: " +
                         (colon != std::string::npos    ? what.substr(colon)
                          : bracket != std::string::npos ? what.substr(bracket + 2)
                                                         : what));
  }
  StrokeDoc doc;
  doc.path = path;
  ObjectReader r(root, path, "");
  if (r.Has("canvas")) {
    ObjectReader c(r.Get("canvas"), path, "canvas");
    doc.width = c.Integer("width", doc.width, 1, kMaxCanvasSide);
    doc.height = c.Integer("height", doc.height, 1, kMaxCanvasSide);
    doc.depth = c.Integer("depth", doc.depth, 8, 32);
    if (doc.depth != 8 && doc.depth != 16 && doc.depth != 32)
      c.Fail("canvas.depth", "expected 8, 16 or 32, got " + std::to_string(doc.depth));
    doc.background = c.Numbers<4>("background", doc.background, 0, 1);
    c.Finish();
  }
  doc.pixelAspect = r.Number("pixelAspect", doc.pixelAspect, 0, 100, true);
  if (r.Has("transform")) {
    ObjectReader t(r.Get("transform"), path, "transform");
    doc.anchor = t.Numbers<2>("anchor", doc.anchor, -100, 100);
    doc.position = t.Numbers<2>("position", doc.position, -100, 100);
    doc.scale = t.Numbers<2>("scale", doc.scale, -100, 100);
    doc.rotation = t.Number("rotation", doc.rotation, -3600, 3600);
    t.Finish();
  }
  doc.batch = r.Integer("batch", doc.batch, 1, 1000000);

  DocStroke defaults;
  defaults.brush = ReadBrush(r, "brush", defaults.brush);
  defaults.source = ReadSource(r, "source", defaults.source);
  defaults.transfer = r.OneOf("transfer", defaults.transfer, KSTROKE_TRANSFER_NAMES);
  defaults.channels =
      r.OneOf("channels", defaults.channels, {"all", "colour", "alpha", "colour-opaque"});

  if (!r.Has("strokes")) r.Fail("strokes", "missing (a document needs at least one stroke)");
  const json& strokes = r.Get("strokes");
  if (!strokes.is_array() || strokes.empty())
    r.Fail("strokes", "expected a non-empty list of strokes");
  for (size_t i = 0; i < strokes.size(); ++i) {
    const std::string where = "strokes[" + std::to_string(i) + "]";
    ObjectReader s(strokes[i], path, where);
    DocStroke stroke = defaults;
    stroke.brush = ReadBrush(s, "brush", defaults.brush);
    stroke.source = ReadSource(s, "source", defaults.source);
    stroke.transfer = s.OneOf("transfer", defaults.transfer, KSTROKE_TRANSFER_NAMES);
    stroke.channels =
        s.OneOf("channels", defaults.channels, {"all", "colour", "alpha", "colour-opaque"});
    stroke.seed = s.Integer("seed", static_cast<int>(i) + 1, 0, 2147483647);
    if (!s.Has("events")) s.Fail(s.Path("events"), "missing");
    const json& events = s.Get("events");
    if (!events.is_array() || events.empty())
      s.Fail(s.Path("events"), "expected a non-empty list of pointer events");
    for (size_t k = 0; k < events.size(); ++k)
      stroke.events.push_back(
          ReadEvent(events[k], path, where + ".events[" + std::to_string(k) + "]"));
    s.Finish();
    doc.strokes.push_back(std::move(stroke));
  }
  r.Finish();
  return doc;
}

StrokeDoc LoadStrokeDoc(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StrokeDocError(path + ": cannot open file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw StrokeDocError(path + ": read error");
  return ParseStrokeDoc(text.str(), path);
}

StrokeDoc DefaultStrokeDoc() {
  StrokeDoc doc;
  doc.path = "";
  DocStroke s;
  s.source.colour = {{0.1, 0.2, 0.6}};
  // A gentle S across the canvas, one event per 1/60 s, pressure rising then falling.
  const int n = 40;
  for (int i = 0; i < n; ++i) {
    const double u = double(i) / (n - 1);
    DocEvent e;
    e.time = i / 60.0;
    e.x = 0.12 + 0.76 * u;
    e.y = 0.5 + 0.25 * std::sin(u * 6.283185307179586);
    e.params = PressureToParams(0.3 + 0.7 * std::sin(u * 3.141592653589793));
    e.spacing = i != 0;  // a forced dab where the pen lands
    s.events.push_back(e);
  }
  doc.strokes.push_back(s);
  return doc;
}

std::string StrokeDocToJson(const StrokeDoc& doc) {
  json root;
  root["canvas"] = {{"width", doc.width}, {"height", doc.height}, {"depth", doc.depth},
                    {"background", doc.background}};
  root["pixelAspect"] = doc.pixelAspect;
  root["transform"] = {{"anchor", doc.anchor}, {"position", doc.position},
                       {"scale", doc.scale}, {"rotation", doc.rotation}};
  root["batch"] = doc.batch;
  json strokes = json::array();
  for (const DocStroke& s : doc.strokes) {
    json js;
    js["brush"] = {{"diameter", s.brush.diameter}, {"hardness", s.brush.hardness},
                   {"roundness", s.brush.roundness}, {"angle", s.brush.angle},
                   {"spacing", s.brush.spacing}, {"opacity", s.brush.opacity},
                   {"flow", s.brush.flow}, {"dither", s.brush.dither},
                   {"accumulate", s.brush.accumulate}};
    json src = {{"type", s.source.type}, {"colour", s.source.colour}};
    if (s.source.type == "clone") {
      src["image"] = s.source.image;
      src["sourcePoint"] = s.source.sourcePoint;
      src["sourcePixelAspect"] = s.source.sourcePixelAspect;
    }
    js["source"] = src;
    js["transfer"] = s.transfer;
    js["channels"] = s.channels;
    js["seed"] = s.seed;
    json events = json::array();
    for (const DocEvent& e : s.events)
      events.push_back({{"t", e.time}, {"x", e.x}, {"y", e.y}, {"params", e.params},
                        {"spacing", e.spacing}, {"addIfUnmoved", e.addIfUnmoved}});
    js["events"] = events;
    strokes.push_back(js);
  }
  root["strokes"] = strokes;
  return root.dump(2) + "\n";
}
