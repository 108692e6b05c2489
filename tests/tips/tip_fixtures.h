// SPDX-License-Identifier: MIT
// A brush tip whose bitmap a test sets sample by sample, and sample access to one-channel
// buffers of either integer depth.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kstroke/brush_tip.h"
#include "test_support.h"

class TestTip : public K_BrushTip {
public:
  /// `rows` top to bottom, all of one width.
  TestTip(const std::vector<std::vector<int>>& rows, bool deep) {
    const short h = static_cast<short>(rows.size());
    const short w = static_cast<short>(rows.empty() ? 0 : rows[0].size());
    AllocateTipBuffer({w, h}, deep);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) StoreSample(tipBuffer->Row<void>(y), x, tipBuffer->GetDepth(), rows[std::size_t(y)][std::size_t(x)]);
  }
  /// A w × h tip holding `value` everywhere.
  static std::vector<std::vector<int>> Flat(int w, int h, int value) {
    return std::vector<std::vector<int>>(std::size_t(h), std::vector<int>(std::size_t(w), value));
  }
};

/// Sets every sample of an 8- or 16-bit buffer to `value`.
inline void FillUno(GX_UnoBuffer* b, int value) {
  EXPECT_EQ(b->GetDepth() == 16 ? GX_FillDeepUnoBuffer(uint16_t(value), b)
                                : GX_FillUnoBuffer(uint8_t(value), b),
            0);
}
