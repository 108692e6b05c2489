// SPDX-License-Identifier: MIT
#include "document/json_text.h"

#include <gtest/gtest.h>

#include <string>

#include "document/stroke_doc.h"

namespace {

using nlohmann::json;

TEST(JsonText, ExcerptsAreFlatAndShort) {
  json wide = json::array();
  for (int i = 0; i < 100000; ++i) wide.push_back(i);
  // Built in place: copying a value this deep would recurse as deep.
  json deep;
  json* inner = &deep;
  for (int i = 0; i < 100000; ++i) {
    *inner = json::array();
    inner->push_back(json());
    inner = &inner->back();
  }
  const json number = 1.5, pair = json::array({0.6, 0.4}),
             object = json{{"a", 1}, {"b", json::array()}}, fits = std::string(58, 'x'),
             longer = std::string(100, 'x'),
             accent = std::string(55, 'x') + "é" + std::string(10, 'y');
  struct Case { const char* name; const json* value; std::string excerpt; };
  const Case kCases[] = {
      {"number", &number, "1.5"}, {"short array", &pair, "[0.6,0.4]"},
      {"object", &object, R"({"a":1,"b":[]})"},
      {"60 bytes exactly", &fits, "\"" + std::string(58, 'x') + "\""},
      {"long string", &longer, "\"" + std::string(56, 'x') + "…"},
      {"a character is not split", &accent, "\"" + std::string(55, 'x') + "…"},
      {"wide array", &wide, "[0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,…"},
      {"deep array", &deep, std::string(57, '[') + "…"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JsonExcerpt(*c.value), c.excerpt);
  }
}

TEST(JsonText, ParseErrorsNameTheFieldWhereThereIsOne) {
  struct Case { const char* name; std::string text; std::string message; };
  const Case kCases[] = {
      {"syntax at the top", "{", "f.json: not valid JSON: parse error at line 1, column 2: syntax error while parsing object key - unexpected end of input; expected string literal"},
      {"overflow in an object", R"({"a": {"b": 1e999}})",
       "f.json: a.b: not valid JSON: number overflow parsing '1e999'"},
      {"overflow in a list", R"({"a": [1, 2, -1e999]})",
       "f.json: a[2]: not valid JSON: number overflow parsing '-1e999'"},
      {"syntax in a list of objects", R"({"s": [{}, {"t": 1,}]})",
       "f.json: s[1].t: not valid JSON: parse error at line 1, column 20: syntax error while parsing object key - unexpected '}'; expected string literal"},
      {"64 levels are enough", std::string(64, '[') + std::string(64, ']'), ""},
      {"65 are not", R"({"a": )" + std::string(64, '[') + std::string(64, ']') + "}",
       "f.json: a[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0…: nested deeper than 64 levels"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      ParseJsonText(c.text, "f.json");
      EXPECT_EQ(c.message, "");
    } catch (const StrokeDocError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

}  // namespace
