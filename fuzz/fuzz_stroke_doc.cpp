// SPDX-License-Identifier: MIT
// libFuzzer target: the stroke description loader. Any input must either parse into
// a document that passes its own validation or end in one StrokeDocError; a parsed
// document must survive writing out and parsing again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "document/stroke_doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  StrokeDoc doc;
  try {
    doc = ParseStrokeDoc(text, "fuzz.json");
  } catch (const StrokeDocError&) {
    return 0;
  }
  // What the loader accepted, it must also read back from its own output.
  try {
    ParseStrokeDoc(StrokeDocToJson(doc), "fuzz.json");
  } catch (const StrokeDocError&) {
    std::abort();
  }
  return 0;
}
