// SPDX-License-Identifier: MIT
// A brush tip whose bitmap a test sets sample by sample.
#pragma once

#include <cstdint>
#include <vector>

#include "kstroke/brush_tip.h"

class TestTip : public K_BrushTip {
public:
  /// `rows` top to bottom, all of one width.
  TestTip(const std::vector<std::vector<int>>& rows, bool deep) {
    const short h = static_cast<short>(rows.size());
    const short w = static_cast<short>(rows.empty() ? 0 : rows[0].size());
    AllocateTipBuffer({w, h}, deep);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (deep)
          tipBuffer->Row<uint16_t>(y)[x] = static_cast<uint16_t>(rows[std::size_t(y)][std::size_t(x)]);
        else
          tipBuffer->Row<uint8_t>(y)[x] = static_cast<uint8_t>(rows[std::size_t(y)][std::size_t(x)]);
      }
  }
  /// A w × h tip holding `value` everywhere.
  static std::vector<std::vector<int>> Flat(int w, int h, int value) {
    return std::vector<std::vector<int>>(std::size_t(h), std::vector<int>(std::size_t(w), value));
  }
  int allocations = 0;

protected:
  void ClearTipOutline() override { ++allocations; }
};
