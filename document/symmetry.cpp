// SPDX-License-Identifier: MIT
// Symmetry copies; the rules are at the top of document/symmetry.h.
#include "document/symmetry.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The engine turns a tip counter-clockwise on the screen for a positive brush angle.
constexpr double kBrushAngleSense = 1.0;

std::vector<DocCopy> CopiesOf(const DocSymmetry& s, int width, int height) {
  std::vector<std::array<double, 2>> mirrors{{1, 1}};
  if (s.mirror == "vertical" || s.mirror == "both") mirrors.push_back({-1, 1});
  if (s.mirror == "horizontal" || s.mirror == "both") mirrors.push_back({1, -1});
  if (s.mirror == "both") mirrors.push_back({-1, -1});
  std::vector<DocCopy> copies;
  for (int r = 0; r < s.rotate; ++r)
    for (const auto& m : mirrors) {
      DocCopy c;
      c.mirrorX = m[0];
      c.mirrorY = m[1];
      c.turnDeg = 360.0 * r / s.rotate;
      c.centre = {s.centre[0] * width, s.centre[1] * height};
      copies.push_back(c);
    }
  return copies;
}

bool Flips(const DocCopy& c) { return c.mirrorX * c.mirrorY < 0; }

}  // namespace

std::array<double, 2> MoveCopy(const DocCopy& copy, const std::array<double, 2>& p) {
  const double dx = copy.mirrorX * (p[0] - copy.centre[0]);
  const double dy = copy.mirrorY * (p[1] - copy.centre[1]);
  const double a = copy.turnDeg * kPi / 180.0, c = std::cos(a), s = std::sin(a);
  // Counter-clockwise on a screen whose y grows downwards.
  return {copy.centre[0] + c * dx + s * dy, copy.centre[1] - s * dx + c * dy};
}

StrokeDoc ExpandSymmetry(const StrokeDoc& doc) {
  StrokeDoc out = doc;
  out.strokes.clear();
  for (size_t k = 0; k < doc.strokes.size(); ++k) {
    const DocStroke& stroke = doc.strokes[k];
    const std::vector<DocCopy> copies = CopiesOf(stroke.symmetry, doc.width, doc.height);
    for (size_t i = 0; i < copies.size(); ++i) {
      DocStroke s = stroke;
      s.symmetry = DocSymmetry();
      // A document expanded twice keeps the first expansion's names.
      if (!s.origin) {
        s.origin = k;
        s.copyNumber = i;
        s.copyCount = copies.size();
      }
      if (i == 0) {
        out.strokes.push_back(std::move(s));
        continue;
      }
      const DocCopy& c = copies[i];
      const double sign = Flips(c) ? -1.0 : 1.0;
      s.brush.angle = sign * s.brush.angle + kBrushAngleSense * c.turnDeg;
      if (s.recorded) {
        for (auto& vertex : s.recorded->vertices)
          for (auto& p : vertex) {
            const auto moved = MoveCopy(c, {double(p[0]) * doc.width, double(p[1]) * doc.height});
            p = {float(moved[0] / doc.width), float(moved[1] / doc.height)};
          }
        if (sign < 0)
          for (auto& e : s.recorded->params[3]) e.value = -e.value;
      } else {
        s.copy = c;
      }
      out.strokes.push_back(std::move(s));
    }
  }
  return out;
}

std::string StrokeWhere(const StrokeDoc& doc, size_t index) {
  const DocStroke& stroke = doc.strokes.at(index);
  return (doc.path.empty() ? std::string("built-in stroke") : doc.path) + ": strokes[" +
         std::to_string(stroke.origin.value_or(index)) + "]";
}

std::string CopyNote(const DocStroke& stroke) {
  if (stroke.copyCount < 2) return std::string();
  return " (symmetry copy " + std::to_string(stroke.copyNumber + 1) + " of " +
         std::to_string(stroke.copyCount) + ")";
}
