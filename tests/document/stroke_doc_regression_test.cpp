// SPDX-License-Identifier: MIT
// Inputs the fuzzer (fuzz/fuzz_stroke_doc) found to escape the loader's own error:
// each must end in one StrokeDocError with a message naming the file.
#include "document/stroke_doc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StrokeDocRegression, NumbersBeyondDoubleRangeAreInvalidJsonAtTheirField) {
  struct Case { const char* name; std::string text; const char* message; };
  const Case kCases[] = {
      // The fuzzer's input: a bare number with a huge exponent and a stray byte after it.
      {"fuzzer input", "2e62222e\xe8",
       "f.json: not valid JSON: number overflow parsing '2e62222'"},
      {"inside a field", R"({"canvas": {"width": 1e400}})",
       "f.json: canvas.width: not valid JSON: number overflow parsing '1e400'"},
      {"negative", R"({"brush": {"angle": -1.5e309}, "strokes": []})",
       "f.json: brush.angle: not valid JSON: number overflow parsing '-1.5e309'"},
      {"in a list", R"({"strokes": [{"events": [{}, {"t": 0, "x": [0, 9e999]}]}]})",
       "f.json: strokes[0].events[1].x[1]: not valid JSON: number overflow parsing '9e999'"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      ParseStrokeDoc(c.text, "f.json");
      ADD_FAILURE() << "accepted";
    } catch (const StrokeDocError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
