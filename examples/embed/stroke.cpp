// SPDX-License-Identifier: MIT
// One stroke recorded from pointer events and rendered as it grows, through kstroke's
// C++ facade: the program the README shows, built against an installed kstroke.
#include <cmath>

#include <kstroke/kstroke.hpp>

int main() {
  kstroke::Canvas canvas(512, 256);
  kstroke::Stroke stroke(canvas, kstroke::Brush::Preset("ink").Diameter(14),
                         kstroke::Source::Fill({0.1, 0.2, 0.6}));
  for (int i = 0; i <= 100; ++i) {
    stroke.Add({i / 100.0, 0.05 + 0.009 * i, 0.5 + 0.3 * std::sin(i / 12.0), 0.3 + 0.007 * i});
    if (i % 4 == 3) stroke.Render();  // as a painting host draws while the pen moves
  }
  stroke.Finish();
  canvas.Write("stroke.png");
  return 0;
}
