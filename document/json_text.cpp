// SPDX-License-Identifier: MIT
// JSON parsing with field names in its errors, and excerpts; see document/json_text.h.
#include "document/json_text.h"

#include <vector>

#include "document/stroke_doc.h"

using nlohmann::json;

namespace {

// Builds the value from the parser's events, keeping the open containers on a stack of
// its own (pointers into the tree: an open container's parent is never changed while
// it is open, so they stay valid) and the last key of each open object.
class Builder {
public:
  explicit Builder(json* out) : root(out) {}

  bool null() { return Put(json()); }
  bool boolean(bool v) { return Put(json(v)); }
  bool number_integer(json::number_integer_t v) { return Put(json(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return Put(json(v)); }
  bool number_float(json::number_float_t v, const json::string_t&) { return Put(json(v)); }
  bool string(json::string_t& v) { return Put(json(std::move(v))); }
  bool binary(json::binary_t& v) { return Put(json::binary(std::move(v))); }
  bool start_object(std::size_t) { return Open(json::object()); }
  bool start_array(std::size_t) { return Open(json::array()); }
  bool key(json::string_t& k) {
    keys.back() = std::move(k);
    return true;
  }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t, const std::string&, const json::exception& e) {
    // "[json.exception.parse_error.101] parse error at line 1, …": keep the words
    // after the bracketed id, and no more of the text than an excerpt.
    const std::string what = e.what();
    const auto close = what.find("] ");
    error = "not valid JSON: " + Shorten(close == std::string::npos ? what : what.substr(close + 2));
    return false;
  }

  /// Where the parser stood: the path of the value it was reading, cut to an excerpt.
  std::string Where() const {
    std::string path;
    for (std::size_t i = 0; i < open.size() && path.size() <= kExcerptChars; ++i) {
      const json& c = *open[i];
      if (c.is_array()) {
        // An inner container is already in its parent; the innermost one's next
        // value is the one being read.
        const std::size_t index = c.size() - (i + 1 < open.size() ? 1 : 0);
        path += "[" + std::to_string(index) + "]";
      } else {
        path += (path.empty() ? "" : ".") + TextExcerpt(keys[i]);
      }
    }
    return TextExcerpt(path);
  }

  std::string error;

private:
  static std::string Shorten(const std::string& s) {
    constexpr std::size_t kLongest = 160;
    return s.size() <= kLongest ? s : s.substr(0, kLongest - 3) + "…";
  }

  json* Place(json&& v) {
    if (open.empty()) {
      *root = std::move(v);
      return root;
    }
    json& top = *open.back();
    if (top.is_array()) {
      top.push_back(std::move(v));
      return &top.back();
    }
    json& slot = top[keys.back()];
    slot = std::move(v);
    return &slot;
  }
  bool Put(json&& v) {
    Place(std::move(v));
    return true;
  }
  bool Open(json&& v) {
    if (open.size() >= std::size_t(kMaxJsonDepth)) {
      error = "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
      return false;
    }
    open.push_back(Place(std::move(v)));
    keys.emplace_back();
    return true;
  }
  bool Close() {
    open.pop_back();
    keys.pop_back();
    return true;
  }

  json* root;
  std::vector<json*> open;
  std::vector<std::string> keys;
};

// Cuts `s` to `limit` bytes at a character boundary, marking the cut.
std::string Cut(const std::string& s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t n = limit - 3;  // room for "…"
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n) + "…";
}

// A string as JSON writes it; a character cut in two by a prefix shows as U+FFFD.
std::string Quoted(const std::string& s) {
  return json(s).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

json ParseJsonText(const std::string& text, const std::string& file) {
  json root;
  Builder builder(&root);
  if (!json::sax_parse(text, &builder)) {
    const std::string where = builder.Where();
    throw StrokeDocError(file + ": " + (where.empty() ? "" : where + ": ") + builder.error);
  }
  return root;
}

std::string TextExcerpt(const std::string& text) { return Cut(text, kExcerptChars); }

std::string JsonExcerpt(const json& value) {
  std::string out;
  struct Frame {
    const json* value;
    json::const_iterator next;
    bool first;
  };
  std::vector<Frame> frames;
  const auto visit = [&](const json& v) {
    if (v.is_string()) {
      // Only a prefix is quoted, so a huge string is never copied whole.
      const std::string& s = v.get_ref<const std::string&>();
      out += Quoted(s.substr(0, kExcerptChars));
      if (s.size() > kExcerptChars) out.pop_back();  // the cut string has no end quote
    } else if (!v.is_structured()) {
      out += v.dump();
    } else if (v.empty()) {
      out += v.is_array() ? "[]" : "{}";
    } else {
      out += v.is_array() ? "[" : "{";
      frames.push_back({&v, v.cbegin(), true});
    }
  };
  visit(value);
  while (!frames.empty() && out.size() <= kExcerptChars) {
    Frame& f = frames.back();
    if (f.next == f.value->cend()) {
      out += f.value->is_array() ? "]" : "}";
      frames.pop_back();
      continue;
    }
    if (!f.first) out += ",";
    f.first = false;
    if (f.value->is_object()) out += Quoted(f.next.key().substr(0, kExcerptChars)) + ":";
    const json& child = *f.next;
    ++f.next;
    visit(child);  // may grow `frames`: `f` is not used again
  }
  return Cut(out, kExcerptChars);
}
