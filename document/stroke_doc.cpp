// SPDX-License-Identifier: MIT
// Stroke description parsing and validation.
#include "document/stroke_doc.h"

#include "document/brush_presets.h"
#include "document/input_file.h"
#include "document/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
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
  double Number(const std::string& key, double def, const FieldRange& range) {
    return Number(key, def, range.low, range.high, range.openLow);
  }
  double CheckNumber(const json& v, const std::string& field, double lo, double hi,
                     bool openLow = false) const {
    if (!v.is_number()) Fail(field, "expected a number, got " + JsonExcerpt(v));
    const double d = v.get<double>();
    std::ostringstream range;
    range << "expected a number " << (openLow ? "above " : "from ") << lo;
    if (std::isfinite(hi)) range << (openLow ? " up to " : " to ") << hi;
    if (!std::isfinite(d) || d < lo || d > hi || (openLow && d == lo))
      Fail(field, range.str() + ", got " + JsonExcerpt(v));
    return d;
  }
  int Integer(const std::string& key, int def, int lo, int hi) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_number_integer())
      Fail(Path(key), "expected a whole number, got " + JsonExcerpt(v));
    const long long n = v.get<long long>();
    if (n < lo || n > hi)
      Fail(Path(key), "expected " + std::to_string(lo) + " to " + std::to_string(hi) +
                          ", got " + JsonExcerpt(v));
    return static_cast<int>(n);
  }
  bool Bool(const std::string& key, bool def) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_boolean()) Fail(Path(key), "expected true or false, got " + JsonExcerpt(v));
    return v.get<bool>();
  }
  std::string String(const std::string& key, const std::string& def) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_string()) Fail(Path(key), "expected a string, got " + JsonExcerpt(v));
    return v.get<std::string>();
  }
  template <size_t N>
  std::array<double, N> Numbers(const std::string& key, std::array<double, N> def, double lo,
                                double hi) {
    if (!Has(key)) return def;
    const json& v = Get(key);
    if (!v.is_array() || v.size() != N)
      Fail(Path(key), "expected " + std::to_string(N) + " numbers, got " + JsonExcerpt(v));
    std::array<double, N> out;
    for (size_t i = 0; i < N; ++i)
      out[i] = CheckNumber(v[i], Path(key) + "[" + std::to_string(i) + "]", lo, hi);
    return out;
  }
  std::string OneOf(const std::string& key, const std::string& def,
                    std::initializer_list<const char*> names) {
    return OneOf(key, def, std::vector<const char*>(names));
  }
  std::string OneOf(const std::string& key, const std::string& def,
                    const std::vector<const char*>& names) {
    std::string s = String(key, def);
    if (s == "color") s = "colour";
    if (s == "color-opaque") s = "colour-opaque";
    for (const char* n : names)
      if (s == n) return s;
    std::string list;
    for (const char* n : names) list += (list.empty() ? "" : ", ") + std::string(n);
    Fail(Path(key), "unknown value " + JsonExcerpt(json(s)) + " (one of: " + list + ")");
  }

  /// Every key of the object must have been read by now.
  void Finish() const {
    for (auto it = obj.begin(); it != obj.end(); ++it)
      if (!used.count(it.key())) Fail(TextExcerpt(Path(it.key())), "unknown field");
  }

  const std::string& File() const { return file; }

private:
  const json& obj;
  std::string file;
  std::string where;
  std::set<std::string> used;
};

const double kInf = INFINITY;
// Longest clone image name: the system's own path limit.
const size_t kMaxFileName = 4096;

#define KSTROKE_TRANSFER_NAMES                                                      \
  {"copy", "normal", "dissolve", "add", "multiply", "screen", "overlay", "darken",  \
   "lighten", "difference", "erase"}

// Colours ----------------------------------------------------------------------------

// [r, g, b], [r, g, b, a] or "#rrggbb" / "#rrggbbaa"; components from `lo` to `hi`
// (alpha always 0..1), alpha 1 when not given.
std::array<double, 4> ReadColour(ObjectReader& r, const std::string& key,
                                 std::array<double, 4> def, double lo, double hi) {
  if (!r.Has(key)) return def;
  const json& v = r.Get(key);
  const std::string expected = "expected [r, g, b], [r, g, b, a] or \"#rrggbb\", got ";
  if (v.is_string()) {
    const std::string& text = v.get_ref<const std::string&>();
    const bool shape = (text.size() == 7 || text.size() == 9) && text[0] == '#' &&
                       text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
    if (!shape) r.Fail(r.Path(key), expected + JsonExcerpt(v));
    std::array<double, 4> c{{0, 0, 0, 1}};
    for (size_t i = 0; i * 2 + 1 < text.size(); ++i)
      c[i] = double(std::stoi(text.substr(1 + 2 * i, 2), nullptr, 16)) / 255.0;
    return c;
  }
  if (!v.is_array() || (v.size() != 3 && v.size() != 4))
    r.Fail(r.Path(key), expected + JsonExcerpt(v));
  std::array<double, 4> c{{0, 0, 0, 1}};
  for (size_t i = 0; i < v.size(); ++i)
    c[i] = r.CheckNumber(v[i], r.Path(key) + "[" + std::to_string(i) + "]", i < 3 ? lo : 0,
                         i < 3 ? hi : 1);
  return c;
}

json ColourJson(const std::array<double, 4>& c) { return json::array({c[0], c[1], c[2], c[3]}); }

// Brushes ------------------------------------------------------------------------------

DynamicsMapping ReadMapping(const json& v, const std::string& file, const std::string& where) {
  ObjectReader m(v, file, where);
  DynamicsMapping out;
  if (!m.Has("input")) m.Fail(m.Path("input"), "missing (one of the dynamics inputs)");
  const std::vector<const char*> names(kDynamicsInputNames,
                                       kDynamicsInputNames + kDynamicsInputCount);
  const std::string input = m.OneOf("input", "", names);
  for (int i = 0; i < kDynamicsInputCount; ++i)
    if (input == kDynamicsInputNames[i]) out.input = DynamicsInput(i);
  if (!m.Has("curve")) m.Fail(m.Path("curve"), "missing (points [input, factor])");
  const json& curve = m.Get("curve");
  if (!curve.is_array() || curve.empty() || curve.size() > kMaxCurvePoints)
    m.Fail(m.Path("curve"), "expected 1 to " + std::to_string(kMaxCurvePoints) +
                                " points [input, factor], got " + JsonExcerpt(curve));
  for (size_t k = 0; k < curve.size(); ++k) {
    const std::string at = m.Path("curve") + "[" + std::to_string(k) + "]";
    if (!curve[k].is_array() || curve[k].size() != 2)
      m.Fail(at, "expected a point [input, factor], got " + JsonExcerpt(curve[k]));
    const double lo = k == 0 ? -kInf : double(out.curve.back()[0]);
    const double x = m.CheckNumber(curve[k][0], at + "[0]", lo, kInf, k > 0);
    const double y = m.CheckNumber(curve[k][1], at + "[1]", -3600, 3600);
    if (k > 0 && !(float(x) > out.curve.back()[0]))
      m.Fail(at + "[0]", "expected a number above " + JsonExcerpt(json(out.curve.back()[0])) +
                             ", got " + JsonExcerpt(curve[k][0]));
    out.curve.push_back({{float(x), float(y)}});
  }
  m.Finish();
  return out;
}

Dynamics ReadDynamics(ObjectReader& parent, const std::string& key, const Dynamics& def) {
  if (!parent.Has(key)) return def;
  ObjectReader d(parent.Get(key), parent.File(), parent.Path(key));
  Dynamics out;  // a block replaces the default whole: factors it leaves out are constant
  for (size_t i = 0; i < 5; ++i) {
    if (!d.Has(kDocParamNames[i])) continue;
    const json& v = d.Get(kDocParamNames[i]);
    const std::string at = d.Path(kDocParamNames[i]);
    if (v.is_array()) {
      if (v.empty() || v.size() > 4) d.Fail(at, "expected 1 to 4 mappings, got " + JsonExcerpt(v));
      for (size_t k = 0; k < v.size(); ++k)
        out.factors[i].push_back(ReadMapping(v[k], d.File(), at + "[" + std::to_string(k) + "]"));
    } else {
      out.factors[i].push_back(ReadMapping(v, d.File(), at));
    }
  }
  d.Finish();
  return out;
}

// The fields of a brush object over `b`; the caller finishes the reader.
DocBrush BrushFields(ObjectReader& r, DocBrush b) {
  b.diameter = r.Number("diameter", b.diameter, brush_range::kDiameter);
  b.hardness = r.Number("hardness", b.hardness, brush_range::kHardness);
  b.roundness = r.Number("roundness", b.roundness, brush_range::kRoundness);
  b.angle = r.Number("angle", b.angle, brush_range::kAngle);
  b.spacing = r.Number("spacing", b.spacing, brush_range::kSpacing);
  b.opacity = r.Number("opacity", b.opacity, brush_range::kOpacity);
  b.flow = r.Number("flow", b.flow, brush_range::kFlow);
  b.dither = r.Bool("dither", b.dither);
  b.accumulate = r.OneOf("accumulate", b.accumulate, {"build-up", "additive"});
  b.dynamics = ReadDynamics(r, "dynamics", b.dynamics);
  b.smoothing = r.OneOf("smoothing", b.smoothing, {"none", "curve"});
  b.stabiliser = r.Number("stabiliser", b.stabiliser, brush_range::kStabiliser);
  return b;
}

DocBrushPreset NamedPreset(const std::string& name, const ObjectReader& r,
                           const std::string& field) {
  for (const BrushPresetText& p : BrushPresetTexts())
    if (name == p.name) return ParseBrushPreset(p.text, std::string("brush preset ") + p.name);
  std::string list;
  for (const BrushPresetText& p : BrushPresetTexts())
    list += (list.empty() ? "" : ", ") + std::string(p.name);
  r.Fail(field, "unknown brush preset " + JsonExcerpt(json(name)) + " (one of: " + list + ")");
}

// `key` of `parent`: a preset's name, or brush fields over `base` or over the preset
// the object names with "preset".
DocBrushPreset ReadBrush(ObjectReader& parent, const std::string& key, DocBrushPreset base) {
  if (!parent.Has(key)) return base;
  const json& v = parent.Get(key);
  if (v.is_string()) return NamedPreset(v.get<std::string>(), parent, parent.Path(key));
  ObjectReader r(v, parent.File(), parent.Path(key));
  if (r.Has("preset")) base = NamedPreset(r.String("preset", ""), r, r.Path("preset"));
  base.brush = BrushFields(r, base.brush);
  r.Finish();
  return base;
}

DocSymmetry ReadSymmetry(ObjectReader& parent, const std::string& key, DocSymmetry s) {
  if (!parent.Has(key)) return s;
  ObjectReader r(parent.Get(key), parent.File(), parent.Path(key));
  s.mirror = r.OneOf("mirror", s.mirror, {"none", "vertical", "horizontal", "both"});
  s.rotate = r.Integer("rotate", s.rotate, 1, 64);
  s.centre = r.Numbers<2>("centre", s.centre, -10, 10);
  r.Finish();
  return s;
}

DocSource ReadSource(ObjectReader& parent, const std::string& key, DocSource s) {
  if (!parent.Has(key)) return s;
  ObjectReader r(parent.Get(key), parent.File(), parent.Path(key));
  s.type = r.OneOf("type", s.type, {"fill", "clone"});
  s.colour = ReadColour(r, "colour", s.colour, -kInf, kInf);
  if (r.Has("color")) s.colour = ReadColour(r, "color", s.colour, -kInf, kInf);
  s.image = r.String("image", s.image);
  if (s.image.size() > kMaxFileName)
    r.Fail(r.Path("image"), "expected a file name of at most " + std::to_string(kMaxFileName) +
                                " bytes, got " + JsonExcerpt(json(s.image)));
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
  const bool hasInputs =
      r.Has("pressure") || r.Has("tiltX") || r.Has("tiltY") || r.Has("twist");
  if (hasInputs && r.Has("params"))
    r.Fail(r.Path("params"),
           "give either params or the pointer's inputs (pressure, tiltX, tiltY, twist), not both");
  if (r.Has("pressure")) e.pressure = r.Number("pressure", 1, 0, 1);
  e.tiltX = r.Number("tiltX", 0, -90, 90);
  e.tiltY = r.Number("tiltY", 0, -90, 90);
  e.twist = r.Number("twist", 0, 0, 360);
  if (r.Has("params")) {
    const auto p = r.Numbers<5>("params", {{1, 1, 1, 0, 1}}, -3600, 3600);
    std::array<float, 5> params;
    for (size_t i = 0; i < 5; ++i) params[i] = static_cast<float>(p[i]);
    e.params = params;
  }
  e.spacing = r.Bool("spacing", true);
  e.addIfUnmoved = r.Bool("addIfUnmoved", false);
  r.Finish();
  return e;
}

// Recorded strokes ------------------------------------------------------------------
// ===================================================================================

const double kMaxPoint = 100;    // path points, fractions of the canvas
const double kMaxTime = 1e9;     // as event times
const double kMaxFactor = 3600;  // as event factors (the angle is in degrees)

// A number as JSON writes it (shortest form that reads back), or "nan"/"inf".
std::string Num(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  return json(d).dump();
}

// Bounds as the event checks print them ("-1e+09"), the value exactly.
std::string RangeText(double lo, double hi, double got) {
  std::ostringstream s;
  s << "expected a number from " << lo << " to " << hi << ", got " << Num(got);
  return s.str();
}

bool InRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// Times finite, in range and strictly increasing; values checked by `value`.
template <class T, class ValueCheck>
std::optional<RecordedProblem> CheckTable(const std::vector<DocEntry<T>>& table,
                                          RecordedProblem::Part part, int param,
                                          ValueCheck&& value) {
  RecordedProblem p;
  p.part = part;
  p.param = param;
  if (table.empty()) {
    p.what = "expected at least one entry";
    return p;
  }
  p.whole = false;
  for (size_t k = 0; k < table.size(); ++k) {
    p.entry = k;
    p.field = 0;
    const double t = table[k].time;
    if (!InRange(t, -kMaxTime, kMaxTime)) {
      p.what = RangeText(-kMaxTime, kMaxTime, t);
      return p;
    }
    if (k > 0 && !(t > table[k - 1].time)) {
      p.what = "expected a time after " + Num(table[k - 1].time) + ", got " + Num(t);
      return p;
    }
    p.field = 1;
    p.what = value(k);
    if (!p.what.empty()) return p;
  }
  return std::nullopt;
}

// The JSON field of a problem inside the "recorded" object at `recorded`.
std::string RecordedField(const RecordedProblem& p, const std::string& recorded) {
  static const char* const kTables[] = {"vertices", "timeDistance", "spacing"};
  std::string where = recorded + "." + (p.part == RecordedProblem::kParam
                                            ? std::string("params.") + kDocParamNames[p.param]
                                            : std::string(kTables[p.part]));
  if (p.whole) return where;
  where += "[" + std::to_string(p.entry) + "]";
  if (p.part == RecordedProblem::kVertices)
    return where + "[" + std::to_string(p.field / 2) + "][" + std::to_string(p.field % 2) + "]";
  return where + "[" + std::to_string(p.field) + "]";
}

const json& RequiredList(ObjectReader& r, const std::string& key) {
  if (!r.Has(key)) r.Fail(r.Path(key), "missing");
  const json& v = r.Get(key);
  if (!v.is_array()) r.Fail(r.Path(key), "expected a list");
  return v;
}

double JsonNumber(const ObjectReader& r, const json& v, const std::string& where) {
  if (!v.is_number()) r.Fail(where, "expected a number, got " + JsonExcerpt(v));
  return v.get<double>();
}

// A list of [time, value] pairs; `value` converts the second element.
template <class T, class Value>
std::vector<DocEntry<T>> ReadPairs(ObjectReader& r, const json& list, const std::string& where,
                                   Value&& value) {
  std::vector<DocEntry<T>> out;
  out.reserve(list.size());
  for (size_t k = 0; k < list.size(); ++k) {
    const std::string at = where + "[" + std::to_string(k) + "]";
    const json& e = list[k];
    if (!e.is_array() || e.size() != 2) r.Fail(at, "expected a [time, value] pair");
    out.push_back({JsonNumber(r, e[0], at + "[0]"), value(e[1], at + "[1]")});
  }
  return out;
}

DocRecorded ReadRecorded(ObjectReader& parent, const std::string& key) {
  ObjectReader r(parent.Get(key), parent.File(), parent.Path(key));
  DocRecorded rec;
  const json& vertices = RequiredList(r, "vertices");
  for (size_t k = 0; k < vertices.size(); ++k) {
    const std::string at = r.Path("vertices") + "[" + std::to_string(k) + "]";
    const json& v = vertices[k];
    if (!v.is_array() || v.size() != 3)
      r.Fail(at, "expected three points: the vertex and two tangent points");
    std::array<DocRecorded::Point, 3> points;
    for (size_t j = 0; j < 3; ++j) {
      const std::string pt = at + "[" + std::to_string(j) + "]";
      if (!v[j].is_array() || v[j].size() != 2) r.Fail(pt, "expected a point [x, y]");
      for (size_t c = 0; c < 2; ++c)
        points[j][c] = static_cast<float>(
            JsonNumber(r, v[j][c], pt + "[" + std::to_string(c) + "]"));
    }
    rec.vertices.push_back(points);
  }
  rec.closed = r.Bool("closed", false);
  auto number = [&r](const json& v, const std::string& at) { return JsonNumber(r, v, at); };
  rec.timeDistance = ReadPairs<double>(r, RequiredList(r, "timeDistance"),
                                       r.Path("timeDistance"), number);
  rec.spacing = ReadPairs<bool>(r, RequiredList(r, "spacing"), r.Path("spacing"),
                                [&r](const json& v, const std::string& at) {
                                  if (!v.is_boolean())
                                    r.Fail(at, "expected true or false, got " + JsonExcerpt(v));
                                  return v.get<bool>();
                                });
  if (!r.Has("params")) r.Fail(r.Path("params"), "missing");
  ObjectReader params(r.Get("params"), r.File(), r.Path("params"));
  for (int i = 0; i < 5; ++i) {
    const std::string name = kDocParamNames[i];
    rec.params[size_t(i)] = ReadPairs<float>(
        params, RequiredList(params, name), params.Path(name),
        [&](const json& v, const std::string& at) { return float(number(v, at)); });
  }
  params.Finish();
  r.Finish();
  if (auto problem = CheckRecorded(rec))
    r.Fail(RecordedField(*problem, parent.Path(key)), problem->what);
  return rec;
}

json RecordedToJson(const DocRecorded& rec) {
  json vertices = json::array();
  for (const auto& v : rec.vertices) {
    json points = json::array();
    for (const auto& p : v) points.push_back(json::array({FloatForJson(p[0]), FloatForJson(p[1])}));
    vertices.push_back(points);
  }
  json timeDistance = json::array();
  for (const auto& e : rec.timeDistance) timeDistance.push_back(json::array({e.time, e.value}));
  json spacing = json::array();
  for (const auto& e : rec.spacing) spacing.push_back(json::array({e.time, e.value}));
  json params = json::object();
  for (size_t i = 0; i < 5; ++i) {
    json table = json::array();
    for (const auto& e : rec.params[i])
      table.push_back(json::array({e.time, FloatForJson(e.value)}));
    params[kDocParamNames[i]] = table;
  }
  return {{"vertices", vertices}, {"closed", rec.closed}, {"timeDistance", timeDistance},
          {"spacing", spacing}, {"params", params}};
}

// Writing ----------------------------------------------------------------------------
// ===================================================================================

bool HoldsObject(const json& j) {
  if (j.is_object()) return true;
  if (j.is_array())
    for (const json& e : j)
      if (HoldsObject(e)) return true;
  return false;
}

std::string OneLine(const json& j) {
  if (!j.is_array()) return j.dump();
  std::string s = "[";
  for (size_t i = 0; i < j.size(); ++i) s += (i ? ", " : "") + OneLine(j[i]);
  return s + "]";
}

// Like json::dump(2), except that an array holding no object is written on one line
// when it fits, so points and table entries read as "[0.25, 1.0]" rather than taking
// four lines each.
void Pretty(const json& j, size_t indent, std::string* out) {
  constexpr size_t kLineWidth = 100;
  if (j.is_array() && !HoldsObject(j)) {
    const std::string line = OneLine(j);
    if (indent + line.size() <= kLineWidth) {
      *out += line;
      return;
    }
  }
  if (!j.is_structured() || j.empty()) {
    *out += j.dump();
    return;
  }
  const std::string pad(indent + 2, ' ');
  *out += j.is_object() ? "{\n" : "[\n";
  size_t i = 0;
  for (auto it = j.begin(); it != j.end(); ++it, ++i) {
    *out += pad;
    if (j.is_object()) *out += json(it.key()).dump() + ": ";
    Pretty(*it, indent + 2, out);
    *out += i + 1 < j.size() ? ",\n" : "\n";
  }
  *out += std::string(indent, ' ') + (j.is_object() ? "}" : "]");
}

json BrushJson(const DocBrush& b) {
  json dynamics = json::object();
  for (size_t i = 0; i < 5; ++i) {
    if (b.dynamics.factors[i].empty()) continue;
    json mappings = json::array();
    for (const DynamicsMapping& m : b.dynamics.factors[i]) {
      json curve = json::array();
      for (const auto& p : m.curve)
        curve.push_back(json::array({FloatForJson(p[0]), FloatForJson(p[1])}));
      mappings.push_back({{"input", kDynamicsInputNames[size_t(m.input)]}, {"curve", curve}});
    }
    dynamics[kDocParamNames[i]] = mappings;
  }
  return {{"diameter", b.diameter}, {"hardness", b.hardness}, {"roundness", b.roundness},
          {"angle", b.angle},       {"spacing", b.spacing},   {"opacity", b.opacity},
          {"flow", b.flow},         {"dither", b.dither},     {"accumulate", b.accumulate},
          {"dynamics", dynamics},   {"smoothing", b.smoothing}, {"stabiliser", b.stabiliser}};
}

std::array<double, 2> ReadTrim(ObjectReader& r, std::array<double, 2> trim) {
  if (!r.Has("trim")) return trim;
  trim = r.Numbers<2>("trim", trim, 0, 1);
  if (trim[0] > trim[1])
    r.Fail(r.Path("trim"), "expected start ≤ end, got " + JsonExcerpt(r.Get("trim")));
  return trim;
}

}  // namespace

const char* const kDocParamNames[5] = {"diameter", "opacity", "flow", "angle", "roundness"};

double FloatForJson(float f) {
  if (!std::isfinite(f)) return double(f);
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text - 1, f).ptr;
  *end = 0;
  const double shortest = std::strtod(text, nullptr);
  // Decimal → double → float rounds twice; fall back to the exact value in the rare
  // case where that lands on a neighbouring float.
  return static_cast<float>(shortest) == f ? shortest : double(f);
}

std::optional<RecordedProblem> CheckRecorded(const DocRecorded& rec) {
  RecordedProblem p;
  if (rec.vertices.empty()) {
    p.what = "expected at least one vertex";
    return p;
  }
  p.whole = false;
  for (size_t k = 0; k < rec.vertices.size(); ++k)
    for (int j = 0; j < 6; ++j) {
      const double v = rec.vertices[k][size_t(j / 2)][size_t(j % 2)];
      if (!InRange(v, -kMaxPoint, kMaxPoint)) {
        p.entry = k;
        p.field = j;
        p.what = RangeText(-kMaxPoint, kMaxPoint, v);
        return p;
      }
    }
  // Segments as the host counts them: n − 1 open, n closed (from two vertices).
  const size_t n = rec.vertices.size();
  const double segments = double(rec.closed ? (n >= 2 ? n : 0) : n - 1);
  const auto& td = rec.timeDistance;
  auto position = [&](size_t k) -> std::string {
    const double v = td[k].value;
    if (!InRange(v, 0, segments))
      return "expected a path position from 0 to " + std::to_string(size_t(segments)) +
             ", got " + Num(v);
    if (k > 0 && v < td[k - 1].value)
      return "expected a path position of at least " + Num(td[k - 1].value) + ", got " + Num(v);
    return "";
  };
  if (auto q = CheckTable(td, RecordedProblem::kTimeDistance, 0, position)) return q;
  if (auto q = CheckTable(rec.spacing, RecordedProblem::kSpacing, 0,
                          [](size_t) { return std::string(); }))
    return q;
  for (int i = 0; i < 5; ++i) {
    const auto& table = rec.params[size_t(i)];
    auto factor = [&](size_t k) -> std::string {
      const double v = table[k].value;
      return InRange(v, -kMaxFactor, kMaxFactor) ? std::string()
                                                 : RangeText(-kMaxFactor, kMaxFactor, v);
    };
    if (auto q = CheckTable(table, RecordedProblem::kParam, i, factor)) return q;
    // The engine's file reader moves a table's last entry to the end of the timing, so
    // a table that ended earlier would not read back as it was written.
    const double end = td.back().time;
    if (table.back().time < end) {
      RecordedProblem q;
      q.part = RecordedProblem::kParam;
      q.param = i;
      q.whole = false;
      q.entry = table.size() - 1;
      q.what = "expected a time of at least " + Num(end) + " (where the timing ends), got " +
               Num(table.back().time);
      return q;
    }
  }
  return std::nullopt;
}

std::string CanvasColour(const StrokeDoc& doc) {
  if (!doc.colour.empty()) return doc.colour;
  return doc.depth == 32 ? "linear" : "srgb";
}

size_t RecordedVertexCount(const std::vector<DocEvent>& events) {
  size_t count = 0;
  float lastX = 0, lastY = 0;
  for (const DocEvent& e : events) {
    const float x = float(e.x), y = float(e.y);
    if (count > 0 && x == lastX && y == lastY && !e.addIfUnmoved) continue;
    ++count;
    lastX = x;
    lastY = y;
  }
  return count;
}

DocBrushPreset ParseBrushPreset(const std::string& text, const std::string& file) {
  const json root = ParseJsonText(text, file);
  ObjectReader r(root, file, "");
  (void)r.String("name", "");
  (void)r.String("description", "");
  DocBrushPreset preset;
  if (!r.Has("brush")) r.Fail("brush", "missing (a brush file holds a brush)");
  ObjectReader b(r.Get("brush"), file, "brush");
  preset.brush = BrushFields(b, preset.brush);
  b.Finish();
  if (r.Has("transfer")) preset.transfer = r.OneOf("transfer", "normal", KSTROKE_TRANSFER_NAMES);
  r.Finish();
  return preset;
}

DocBrushPreset LoadBrush(const std::string& nameOrPath) {
  for (const BrushPresetText& p : BrushPresetTexts())
    if (nameOrPath == p.name) return ParseBrushPreset(p.text, std::string("brush preset ") + p.name);
  // A bare word that names no file was meant as a preset.
  if (nameOrPath.find('/') == std::string::npos && !std::filesystem::exists(nameOrPath)) {
    std::string list;
    for (const BrushPresetText& p : BrushPresetTexts())
      list += (list.empty() ? "" : ", ") + std::string(p.name);
    throw StrokeDocError("unknown brush preset " + JsonExcerpt(json(nameOrPath)) + " (one of: " +
                         list + "), and no brush file of that name");
  }
  const std::vector<uint8_t> bytes = ReadInputFile(nameOrPath);
  return ParseBrushPreset(std::string(bytes.begin(), bytes.end()), nameOrPath);
}

void ApplyBrush(const DocBrushPreset& preset, StrokeDoc* doc) {
  for (DocStroke& s : doc->strokes) {
    s.brush = preset.brush;
    if (preset.transfer) s.transfer = *preset.transfer;
  }
}

namespace {

// The settings a stroke takes from `from`, each overridden where this level gives it: the
// document's defaults, then each stroke's own.
DocStroke ReadStrokeSettings(ObjectReader& r, const DocStroke& from) {
  DocStroke d = from;
  const DocBrushPreset brush = ReadBrush(r, "brush", {from.brush, std::nullopt});
  d.brush = brush.brush;
  d.source = ReadSource(r, "source", from.source);
  d.transfer =
      r.OneOf("transfer", brush.transfer.value_or(from.transfer), KSTROKE_TRANSFER_NAMES);
  d.symmetry = ReadSymmetry(r, "symmetry", from.symmetry);
  d.channels = r.OneOf("channels", from.channels, {"all", "colour", "alpha", "colour-opaque"});
  d.trim = ReadTrim(r, from.trim);
  return d;
}

}  // namespace

StrokeDoc ParseStrokeDoc(const std::string& text, const std::string& path, DocPart part) {
  const json root = ParseJsonText(text, path);
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
    doc.background = ReadColour(c, "background", doc.background, 0, 1);
    for (const char* key : {"colour", "color"})
      if (c.Has(key)) doc.colour = c.OneOf(key, "", {"srgb", "linear"});
    c.Finish();
  }
  doc.blending = r.OneOf("blending", doc.blending, {"encoded", "linear"});
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

  // A preset's transfer (an eraser's "erase") holds unless `transfer` is given at the
  // same level or a stroke's own.
  const DocStroke defaults = ReadStrokeSettings(r, DocStroke());

  if (!r.Has("strokes")) r.Fail("strokes", "missing (a document needs at least one stroke)");
  const json& strokes = r.Get("strokes");
  if (!strokes.is_array() || strokes.empty())
    r.Fail("strokes", "expected a non-empty list of strokes");
  for (size_t i = 0; i < strokes.size(); ++i) {
    const std::string where = "strokes[" + std::to_string(i) + "]";
    ObjectReader s(strokes[i], path, where);
    DocStroke stroke = ReadStrokeSettings(s, defaults);
    stroke.seed = s.Integer("seed", static_cast<int>(i) + 1, 0, 2147483647);
    // Settings alone leave "events" and "recorded" unread, so Finish() refuses them.
    if (part == DocPart::kGeometry) {
      const bool hasEvents = s.Has("events"), hasRecorded = s.Has("recorded");
      if (hasEvents && hasRecorded)
        s.Fail(s.Path("recorded"), "give either events or recorded, not both");
      if (!hasEvents && !hasRecorded)
        s.Fail(s.Path("events"), "missing (a stroke needs events or recorded)");
      if (hasRecorded) {
        stroke.recorded = ReadRecorded(s, "recorded");
      } else {
        const json& events = s.Get("events");
        if (!events.is_array() || events.empty())
          s.Fail(s.Path("events"), "expected a non-empty list of pointer events");
        for (size_t k = 0; k < events.size(); ++k) {
          const std::string at = where + ".events[" + std::to_string(k) + "]";
          stroke.events.push_back(ReadEvent(events[k], path, at));
          if (k > 0 && !(stroke.events[k].time > stroke.events[k - 1].time))
            s.Fail(at + ".t", "expected a time after " + Num(stroke.events[k - 1].time) +
                                  " (the event before), got " + Num(stroke.events[k].time));
        }
        const size_t vertices = RecordedVertexCount(stroke.events);
        if (vertices > size_t(kMaxStrokeVertices))
          s.Fail(s.Path("events"),
                 std::to_string(vertices) + " pointer positions, but a stroke holds at most " +
                     std::to_string(kMaxStrokeVertices) + ": split it into several strokes");
      }
    }
    s.Finish();
    doc.strokes.push_back(std::move(stroke));
  }
  r.Finish();
  return doc;
}

StrokeDoc LoadStrokeDoc(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadInputFile(path);
  return ParseStrokeDoc(std::string(bytes.begin(), bytes.end()), path);
}

StrokeDoc DefaultStrokeDoc() {
  StrokeDoc doc;
  doc.path = "";
  DocStroke s;
  s.source.colour = {{0.1, 0.2, 0.6, 1}};
  // Close dabs of a soft-edged tip along a curve through the samples: a smooth stroke
  // that swells and thins with the pressure, as the engine draws best.
  s.brush.diameter = 36;
  s.brush.hardness = 0.7;
  s.brush.spacing = 0.06;
  s.brush.smoothing = "curve";
  // A gentle S across the canvas, one sample per 1/60 s, pressure rising then falling.
  const int n = 48;
  for (int i = 0; i < n; ++i) {
    const double u = double(i) / (n - 1);
    DocEvent e;
    e.time = i / 60.0;
    e.x = 0.12 + 0.76 * u;
    e.y = 0.5 + 0.25 * std::sin(u * 6.283185307179586);
    e.pressure = 0.3 + 0.7 * std::sin(u * 3.141592653589793);
    s.events.push_back(e);
  }
  doc.strokes.push_back(s);
  return doc;
}

std::string StrokeDocToJson(const StrokeDoc& doc, DocPart part) {
  json root;
  root["canvas"] = {{"width", doc.width}, {"height", doc.height}, {"depth", doc.depth},
                    {"background", ColourJson(doc.background)}, {"colour", CanvasColour(doc)}};
  root["blending"] = doc.blending;
  root["pixelAspect"] = doc.pixelAspect;
  root["transform"] = {{"anchor", doc.anchor}, {"position", doc.position},
                       {"scale", doc.scale}, {"rotation", doc.rotation}};
  root["batch"] = doc.batch;
  json strokes = json::array();
  for (const DocStroke& s : doc.strokes) {
    json js;
    js["brush"] = BrushJson(s.brush);
    json src = {{"type", s.source.type}, {"colour", ColourJson(s.source.colour)}};
    if (s.source.type == "clone") {
      src["image"] = s.source.image;
      src["sourcePoint"] = s.source.sourcePoint;
      src["sourcePixelAspect"] = s.source.sourcePixelAspect;
    }
    js["source"] = src;
    js["transfer"] = s.transfer;
    js["channels"] = s.channels;
    js["trim"] = s.trim;
    js["seed"] = s.seed;
    js["symmetry"] = {{"mirror", s.symmetry.mirror}, {"rotate", s.symmetry.rotate},
                      {"centre", s.symmetry.centre}};
    if (part == DocPart::kGeometry && s.recorded) {
      js["recorded"] = RecordedToJson(*s.recorded);
    } else if (part == DocPart::kGeometry) {
      json events = json::array();
      for (const DocEvent& e : s.events) {
        json je = {{"t", e.time}, {"x", e.x}, {"y", e.y}};
        if (e.pressure) je["pressure"] = *e.pressure;
        if (e.tiltX != 0) je["tiltX"] = e.tiltX;
        if (e.tiltY != 0) je["tiltY"] = e.tiltY;
        if (e.twist != 0) je["twist"] = e.twist;
        if (e.params) {
          json params = json::array();
          for (float f : *e.params) params.push_back(FloatForJson(f));
          je["params"] = params;
        }
        je["spacing"] = e.spacing;
        je["addIfUnmoved"] = e.addIfUnmoved;
        events.push_back(je);
      }
      js["events"] = events;
    }
    strokes.push_back(js);
  }
  root["strokes"] = strokes;
  std::string text;
  Pretty(root, 0, &text);
  return text + "\n";
}
