// SPDX-License-Identifier: MIT
// Reading the page's messages; the formats are at the top of app/studio/protocol.h.
#include "app/studio/protocol.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "document/json_text.h"
#include "document/stroke_doc.h"

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ProtocolError(where + ": " + what);
}

// A message's fields, each read once; what is left over is unknown.
class Fields {
public:
  Fields(const json& object, std::string where_) : where(std::move(where_)) {
    if (!object.is_object()) Fail(where, "expected an object, got " + JsonExcerpt(object));
    for (auto it = object.begin(); it != object.end(); ++it) left.insert(it.key());
    value = &object;
  }
  const json* Find(const char* key) {
    left.erase(key);
    const auto it = value->find(key);
    return it == value->end() ? nullptr : &*it;
  }
  const json& Need(const char* key) {
    const json* v = Find(key);
    if (!v) Fail(where, std::string("missing field \"") + key + "\"");
    return *v;
  }
  std::string Field(const char* key) const { return where + "." + key; }
  void NoOthers() const {
    if (!left.empty()) Fail(where + "." + TextExcerpt(*left.begin()), "unknown field");
  }
  const std::string where;

private:
  const json* value = nullptr;
  std::set<std::string> left;
};

double Number(const json& v, const std::string& where) {
  if (!v.is_number()) Fail(where, "expected a number, got " + JsonExcerpt(v));
  const double d = v.get<double>();
  if (!std::isfinite(d)) Fail(where, "expected a finite number");
  return d;
}

double NumberIn(const json& v, const std::string& where, double lo, double hi) {
  const double d = Number(v, where);
  if (d < lo || d > hi) {
    std::ostringstream text;
    text << "expected a number from " << lo << " to " << hi << ", got " << d;
    Fail(where, text.str());
  }
  return d;
}

int64_t Whole(const json& v, const std::string& where, int64_t lo, int64_t hi) {
  if (!v.is_number_integer())
    Fail(where, "expected a whole number, got " + JsonExcerpt(v));
  const bool negative = v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() < 0;
  const int64_t n = negative ? v.get<int64_t>()
                             : int64_t(std::min<uint64_t>(v.get<uint64_t>(), uint64_t(INT64_MAX)));
  if (n < lo || n > hi)
    Fail(where, "expected " + std::to_string(lo) + " to " + std::to_string(hi) + ", got " +
                    std::to_string(n));
  return n;
}

bool Boolean(const json& v, const std::string& where) {
  if (!v.is_boolean()) Fail(where, "expected true or false, got " + JsonExcerpt(v));
  return v.get<bool>();
}

std::string Text(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "expected a string, got " + JsonExcerpt(v));
  return v.get<std::string>();
}

std::string OneOf(const json& v, const std::string& where, const std::vector<std::string>& names) {
  const std::string s = Text(v, where);
  for (const std::string& n : names)
    if (s == n) return s;
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  Fail(where, "expected one of " + list + ", got \"" + TextExcerpt(s) + "\"");
}

kstroke::Colour ColourOf(const json& v, const std::string& where) {
  if (!v.is_array() || v.size() != 4)
    Fail(where, "expected [red, green, blue, alpha], got " + JsonExcerpt(v));
  double c[4];
  for (int i = 0; i < 4; ++i) c[i] = Number(v[size_t(i)], where + "[" + std::to_string(i) + "]");
  return {c[0], c[1], c[2], c[3]};
}

const std::vector<std::string> kFactorNames = {"diameter", "opacity", "flow", "angle", "roundness"};
const std::vector<std::string> kInputNames = {"pressure", "tiltX",     "tiltY", "twist",
                                              "speed",    "direction", "random"};

StudioMapping MappingOf(const json& v, const std::string& where, size_t factor) {
  Fields f(v, where);
  StudioMapping m;
  m.factor = kstroke::Factor(factor);
  const std::string input = OneOf(f.Need("input"), f.Field("input"), kInputNames);
  for (size_t i = 0; i < kInputNames.size(); ++i)
    if (input == kInputNames[i]) m.input = kstroke::Input(i);
  const json& curve = f.Need("curve");
  if (!curve.is_array() || curve.empty() || curve.size() > 8)
    Fail(f.Field("curve"), "expected 1 to 8 [input, factor] points, got " + JsonExcerpt(curve));
  for (size_t k = 0; k < curve.size(); ++k) {
    const std::string at = f.Field("curve") + "[" + std::to_string(k) + "]";
    if (!curve[k].is_array() || curve[k].size() != 2)
      Fail(at, "expected [input, factor], got " + JsonExcerpt(curve[k]));
    // The facade checks the order; the range keeps the float conversion finite.
    m.curve.push_back({float(NumberIn(curve[k][0], at + "[0]", -1e6, 1e6)),
                       float(NumberIn(curve[k][1], at + "[1]", -1e6, 1e6))});
  }
  f.NoOthers();
  return m;
}

StudioBrush BrushOf(const json& v, const std::string& where) {
  Fields f(v, where);
  StudioBrush b;
  if (const json* p = f.Find("preset")) b.preset = Text(*p, f.Field("preset"));
  const std::pair<const char*, std::optional<double>*> numbers[] = {
      {"diameter", &b.diameter}, {"hardness", &b.hardness}, {"roundness", &b.roundness},
      {"angle", &b.angle},       {"spacing", &b.spacing},   {"opacity", &b.opacity},
      {"flow", &b.flow},         {"stabiliser", &b.stabiliser}};
  for (const auto& n : numbers)
    if (const json* x = f.Find(n.first)) *n.second = Number(*x, f.Field(n.first));
  if (const json* x = f.Find("dither")) b.dither = Boolean(*x, f.Field("dither"));
  if (const json* x = f.Find("accumulate"))
    b.additive = OneOf(*x, f.Field("accumulate"), {"build-up", "additive"}) == "additive";
  if (const json* x = f.Find("smoothing"))
    b.curve = OneOf(*x, f.Field("smoothing"), {"none", "curve"}) == "curve";
  if (const json* d = f.Find("dynamics")) {
    Fields dyn(*d, f.Field("dynamics"));
    b.dynamics.emplace();
    for (size_t i = 0; i < kFactorNames.size(); ++i) {
      const json* m = dyn.Find(kFactorNames[i].c_str());
      if (!m) continue;
      const std::string at = dyn.Field(kFactorNames[i].c_str());
      if (m->is_array()) {
        if (m->empty() || m->size() > 4) Fail(at, "expected 1 to 4 mappings, got " + std::to_string(m->size()));
        for (size_t k = 0; k < m->size(); ++k)
          b.dynamics->push_back(MappingOf((*m)[k], at + "[" + std::to_string(k) + "]", i));
      } else {
        b.dynamics->push_back(MappingOf(*m, at, i));
      }
    }
    dyn.NoOthers();
  }
  f.NoOthers();
  return b;
}

StudioTool ToolOf(Fields& f) {
  StudioTool t;
  t.brush = BrushOf(f.Need("brush"), f.Field("brush"));
  if (const json* c = f.Find("colour")) t.colour = ColourOf(*c, f.Field("colour"));
  if (const json* x = f.Find("transfer")) t.transfer = Text(*x, f.Field("transfer"));
  if (const json* x = f.Find("channels")) t.channels = Text(*x, f.Field("channels"));
  if (const json* x = f.Find("source"))
    t.clone = OneOf(*x, f.Field("source"), {"fill", "clone"}) == "clone";
  if (const json* s = f.Find("symmetry")) {
    Fields sym(*s, f.Field("symmetry"));
    if (const json* m = sym.Find("mirror"))
      t.mirror = OneOf(*m, sym.Field("mirror"), {"none", "vertical", "horizontal", "both"});
    if (const json* r = sym.Find("rotate")) t.rotate = int32_t(Whole(*r, sym.Field("rotate"), 1, 64));
    if (const json* c = sym.Find("centre")) {
      if (!c->is_array() || c->size() != 2)
        Fail(sym.Field("centre"), "expected [x, y], got " + JsonExcerpt(*c));
      for (size_t i = 0; i < 2; ++i)
        t.centre[i] = NumberIn((*c)[i], sym.Field("centre") + "[" + std::to_string(i) + "]", -100, 100);
    }
    sym.NoOthers();
  }
  return t;
}

// One sample: [t, x, y, pressure or null, tiltX, tiltY, twist]. Ranges are the
// facade's to check, with messages naming the event.
kstroke::Event EventOf(const json& v, const std::string& where) {
  if (!v.is_array() || v.size() != 7)
    Fail(where, "expected [t, x, y, pressure, tiltX, tiltY, twist], got " + JsonExcerpt(v));
  kstroke::Event e;
  e.t = Number(v[0], where + "[0]");
  e.x = Number(v[1], where + "[1]");
  e.y = Number(v[2], where + "[2]");
  if (!v[3].is_null()) e.pressure = Number(v[3], where + "[3]");
  e.tiltX = Number(v[4], where + "[4]");
  e.tiltY = Number(v[5], where + "[5]");
  e.twist = Number(v[6], where + "[6]");
  return e;
}

struct KindName {
  const char* name;
  MessageKind kind;
};
const KindName kKinds[] = {
    {"tool", MessageKind::kTool},       {"begin", MessageKind::kBegin},
    {"samples", MessageKind::kSamples}, {"end", MessageKind::kEnd},
    {"undo", MessageKind::kUndo},       {"redo", MessageKind::kRedo},
    {"clear", MessageKind::kClear},     {"files", MessageKind::kFiles},
    {"stats", MessageKind::kStats},     {"new", MessageKind::kNew},
    {"save", MessageKind::kSave},       {"open", MessageKind::kOpen},
    {"export", MessageKind::kExport},   {"replay", MessageKind::kReplay},
    {"outline", MessageKind::kOutline}, {"clonePoint", MessageKind::kClonePoint},
};

ClientMessage ImageMessage(std::string_view data) {
  if (data.size() > kMaxImageMessage)
    Fail("image", "a message of " + std::to_string(data.size()) + " bytes, over the limit of " +
                      std::to_string(kMaxImageMessage));
  if (data.size() < 5 || data.substr(0, 4) != "KSIM")
    Fail("image", "a binary message must start with \"KSIM\"");
  const size_t length = uint8_t(data[4]);
  if (data.size() < 5 + length) Fail("image", "cut short inside its name");
  ClientMessage m;
  m.kind = MessageKind::kImage;
  m.type = "image";
  m.name = std::string(data.substr(5, length));
  if (!IsStudioFileName(m.name, {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".exr"}))
    Fail("image.name", "expected a file name of letters, digits, '.', '_' and '-' ending in "
                       ".png, .jpg, .jpeg, .tif, .tiff or .exr, got \"" + TextExcerpt(m.name) + "\"");
  m.bytes = std::string(data.substr(5 + length));
  if (m.bytes.empty()) Fail("image", "no image bytes after the name");
  return m;
}

}  // namespace

bool IsStudioFileName(const std::string& name, const std::vector<std::string>& extensions) {
  if (name.empty() || name.size() > 100 || name[0] == '.') return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
      return false;
  for (const std::string& e : extensions)
    if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) return true;
  return false;
}

ClientMessage ParseClientMessage(std::string_view data, bool binary) {
  if (binary) return ImageMessage(data);
  if (data.size() > kMaxTextMessage)
    Fail("message", "of " + std::to_string(data.size()) + " bytes, over the limit of " +
                        std::to_string(kMaxTextMessage));
  json value;
  try {
    value = ParseJsonText(std::string(data), "message");
  } catch (const StrokeDocError& e) {
    throw ProtocolError(e.what());
  }
  if (!value.is_object()) Fail("message", "expected an object, got " + JsonExcerpt(value));
  const auto type = value.find("type");
  if (type == value.end()) Fail("message", "missing field \"type\"");
  if (!type->is_string()) Fail("message.type", "expected a string, got " + JsonExcerpt(*type));
  ClientMessage m;
  m.type = type->get<std::string>();
  const KindName* kind = nullptr;
  for (const KindName& k : kKinds)
    if (m.type == k.name) kind = &k;
  if (!kind) Fail("message.type", "unknown message type \"" + TextExcerpt(m.type) + "\"");
  m.kind = kind->kind;
  Fields f(value, m.type);
  f.Find("type");
  switch (m.kind) {
    case MessageKind::kTool:
      m.tool = ToolOf(f);
      break;
    case MessageKind::kBegin:
    case MessageKind::kEnd:
      m.stroke = uint32_t(Whole(f.Need("stroke"), f.Field("stroke"), 0, UINT32_MAX));
      break;
    case MessageKind::kSamples: {
      m.stroke = uint32_t(Whole(f.Need("stroke"), f.Field("stroke"), 0, UINT32_MAX));
      m.seq = uint32_t(Whole(f.Need("seq"), f.Field("seq"), 0, UINT32_MAX));
      const json& events = f.Need("events");
      if (!events.is_array()) Fail(f.Field("events"), "expected a list, got " + JsonExcerpt(events));
      if (events.size() > kMaxBatchEvents)
        Fail(f.Field("events"), "expected at most " + std::to_string(kMaxBatchEvents) +
                                    " events, got " + std::to_string(events.size()));
      for (size_t i = 0; i < events.size(); ++i)
        m.events.push_back(EventOf(events[i], f.Field("events") + "[" + std::to_string(i) + "]"));
      break;
    }
    case MessageKind::kNew:
      m.width = int32_t(Whole(f.Need("width"), f.Field("width"), 1, kMaxCanvasSide));
      m.height = int32_t(Whole(f.Need("height"), f.Field("height"), 1, kMaxCanvasSide));
      if (const json* d = f.Find("depth")) {
        const int64_t depth = Whole(*d, f.Field("depth"), 8, 32);
        if (depth != 8 && depth != 16 && depth != 32)
          Fail(f.Field("depth"), "expected 8, 16 or 32, got " + std::to_string(depth));
        m.depth = kstroke::Depth(depth);
      }
      if (const json* b = f.Find("background")) m.background = ColourOf(*b, f.Field("background"));
      break;
    case MessageKind::kSave:
    case MessageKind::kOpen:
    case MessageKind::kExport: {
      m.name = Text(f.Need("name"), f.Field("name"));
      const bool image = m.kind == MessageKind::kExport;
      if (!IsStudioFileName(m.name, image ? std::vector<std::string>{".png", ".exr", ".tif", ".tiff"}
                                          : std::vector<std::string>{".json", ".kst"}))
        Fail(f.Field("name"), std::string("expected a file name of letters, digits, '.', '_' and "
                                          "'-' ending in ") +
                                  (image ? ".png, .exr, .tif or .tiff" : ".json or .kst") +
                                  ", got \"" + TextExcerpt(m.name) + "\"");
      break;
    }
    case MessageKind::kReplay:
      m.frames = int32_t(Whole(f.Need("frames"), f.Field("frames"), 2, 240));
      break;
    case MessageKind::kOutline:
      m.zoom = NumberIn(f.Need("zoom"), f.Field("zoom"), 0.01, 100);
      break;
    case MessageKind::kClonePoint:
      m.x = NumberIn(f.Need("x"), f.Field("x"), -10, 10);
      m.y = NumberIn(f.Need("y"), f.Field("y"), -10, 10);
      break;
    default:
      break;
  }
  f.NoOthers();
  return m;
}
