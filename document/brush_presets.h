// SPDX-License-Identifier: MIT
// The brush presets of brushes/, built into the program so that one binary has them
// wherever it is installed. Each is a brush file (document/stroke_doc.h ParseBrushPreset).
#pragma once

#include <vector>

struct BrushPresetText {
  const char* name;         ///< the file's name without ".json"
  const char* description;  ///< its "description"
  const char* text;         ///< the whole file
};

/// Every preset, in name order.
const std::vector<BrushPresetText>& BrushPresetTexts();
