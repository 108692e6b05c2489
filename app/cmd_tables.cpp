// SPDX-License-Identifier: MIT
// `kstroke tables`: records a stroke description's strokes (the built-in stroke without
// one) and prints each stroke's vertices and every time table, so a reader can see what
// a recorded stroke holds.
#include <cstdio>
#include <memory>

#include "app/commands.h"
#include "document/recorded_shape.h"
#include "document/stroke_file.h"
#include "document/stroke_input.h"
#include "document/symmetry.h"
#include "kstroke/shape.h"

namespace {

const char* const kParamNames[kK_StrokeParamCount] = {"diameter", "opacity", "flow", "angle",
                                                      "roundness"};

void PrintVertices(const K_Shape& shape) {
  std::printf("vertices (%d, relative to the layer rectangle):\n", shape.NumVertices());
  std::printf("  %5s  %-21s  %-21s  %-21s\n", "#", "vertex", "out tangent", "next in tangent");
  for (int32_t k = 0; k < shape.NumVertices(); ++k) {
    V_Vector2T<float> p[3];
    for (int32_t j = 0; j < 3; ++j) SEQ_GetItem(shape.Points(), 3 * k + j, &p[j]);
    std::printf("  %5d  (%8.5f, %8.5f)  (%8.5f, %8.5f)  (%8.5f, %8.5f)\n", k, double(p[0].x),
                double(p[0].y), double(p[1].x), double(p[1].y), double(p[2].x), double(p[2].y));
  }
}

void PrintHeader(const char* name, size_t entries, const char* valueName) {
  std::printf("%s (%zu %s):\n  %12s  %s\n", name, entries, entries == 1 ? "entry" : "entries",
              "time", valueName);
}

void PrintShape(const std::string& name, const K_Shape& shape) {
  std::printf("%s: %d segment(s), duration %g\n\n", name.c_str(), shape.BezTrueNumSegs(),
              shape.timeDistanceTable.empty() ? 0.0 : shape.timeDistanceTable.back().time);
  PrintVertices(shape);

  std::printf("\n");
  PrintHeader("time-distance", shape.timeDistanceTable.size(), "path position");
  for (const auto& e : shape.timeDistanceTable) std::printf("  %12.6f  %.6f\n", e.time, e.value);

  std::printf("\n");
  PrintHeader("tip spacing", shape.tipSpacingTable.size(), "spacing");
  for (const auto& e : shape.tipSpacingTable)
    std::printf("  %12.6f  %s\n", e.time, e.value ? "on" : "off (forced tip)");

  for (int i = 0; i < kK_StrokeParamCount; ++i) {
    std::printf("\n");
    PrintHeader(kParamNames[i], shape.paramTables[i].size(), "factor");
    for (const auto& e : shape.paramTables[i])
      std::printf("  %12.6f  %.6f\n", e.time, double(e.value));
  }
}

int RunTables(const std::string& input) {
  try {
    const StrokeDoc doc = ExpandSymmetry(input.empty() ? DefaultStrokeDoc() : LoadStrokeInput(input));
    for (size_t i = 0; i < doc.strokes.size(); ++i) {
      const std::string name = StrokeWhere(doc, i);
      if (i > 0) std::printf("\n\n");
      PrintShape(name + CopyNote(doc.strokes[i]),
                 *RecordStroke(doc.strokes[i], doc.width, doc.height, name));
    }
    return kExitOk;
  } catch (const StrokeDocError& e) {
    std::fprintf(stderr, "kstroke tables: %s\n", e.what());
  } catch (const RecordError& e) {
    std::fprintf(stderr, "kstroke tables: %s\n", e.what());
  }
  return kExitFailure;
}

const KstrokeCommand kTables(
    "tables", "record a stroke description's strokes and print their vertices and time tables",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto input = std::make_shared<std::string>();
      sub.add_option("stroke", *input,
                     "stroke description (JSON) or stroke file (.kst); none: the built-in stroke");
      return [input] { return RunTables(*input); };
    });

}  // namespace
