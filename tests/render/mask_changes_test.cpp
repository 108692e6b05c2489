// SPDX-License-Identifier: MIT
#include "render/mask_changes.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

class MaskChanges : public TrackedTest {};

// Every pair of first and last differing bytes, in rows around both vector widths
// (16 and, with AVX2, 32 bytes) and longer, from either end and in the same vector;
// equal rows answer false. Both forms.
TEST_F(MaskChanges, RowDifferenceFindsBothEnds) {
  const int32_t lengths[] = {0, 1, 7, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 70, 97, 130};
  for (bool avx2 : {false, true}) {
    SCOPED_TRACE(avx2 ? "AVX2 form" : "16-byte form");
    for (int32_t n : lengths) {
      std::vector<unsigned char> a(size_t(n) + 1), b(size_t(n) + 1);
      for (int32_t k = 0; k < n; ++k) a[size_t(k)] = b[size_t(k)] = static_cast<unsigned char>(3 * k + 1);
      // A difference past the row's end must not be seen.
      b[size_t(n)] = static_cast<unsigned char>(a[size_t(n)] + 1);
      int32_t first = -1, last = -1;
      EXPECT_FALSE(Kp_RowDifferenceForm(a.data(), b.data(), n, &first, &last, avx2)) << n;
      for (int32_t f = 0; f < n; ++f)
        for (int32_t l = f; l < n; ++l) {
          std::vector<unsigned char> c(b);
          c[size_t(f)] ^= 0x80;
          c[size_t(l)] ^= (l == f ? 0x00 : 0x01);
          ASSERT_TRUE(Kp_RowDifferenceForm(a.data(), c.data(), n, &first, &last, avx2)) << n << " " << f << " " << l;
          EXPECT_EQ(first, f) << n << " " << l;
          EXPECT_EQ(last, l) << n << " " << f;
        }
    }
  }
}

// The bands of a kept rectangle: rows by kBandRows, columns from the first to the last
// changed sample in each, cut to the area; unchanged bands left out; whether they pay.
TEST_F(MaskChanges, BandsSpanEachBandsChangedSamples) {
  constexpr int32_t kBand = Kp_MaskChanges::kBandRows;
  for (int32_t depth : {8, 16}) {
    SCOPED_TRACE(depth);
    GX_UnoBuffer mask(300, 200, depth, GX_UnoBuffer::kZeroed);
    const V_LRect kept{20, 10, 220, 10 + 5 * kBand + 3};  // the last band is 3 rows
    Kp_MaskChanges changes;
    changes.Keep(mask, kept);
    ASSERT_TRUE(changes.Holding());
    const auto set = [&](int32_t x, int32_t y) {
      if (depth == 8) mask.Row<uint8_t>(y)[x] = 9;
      else mask.Row<uint16_t>(y)[x] = 0x0100;  // only the high byte differs
    };
    set(30, 10);                                     // band 0
    set(100, 10 + kBand - 1);                        // band 0, its last row
    set(219, 10 + 2 * kBand);                        // band 2, the kept rectangle's last column
    set(20, 10 + 5 * kBand + 2);                     // band 5
    set(250, 10 + kBand + 4);                        // outside the kept rectangle
    const V_LRect area{25, 0, 300, 200};
    EXPECT_TRUE(changes.Finish(mask, area));
    EXPECT_FALSE(changes.Holding());
    const std::vector<V_LRect> expected = {
        {30, 10, 101, 10 + kBand},
        {219, 10 + 2 * kBand, 220, 10 + 3 * kBand},
    };  // band 5's sample lies left of the area
    EXPECT_EQ(changes.bands, expected);
    // Changed everywhere: the bands are the whole area and do not pay.
    changes.Keep(mask, kept);
    for (int32_t y = kept.top; y < kept.bottom; ++y) {
      set(kept.left, y);
      set(kept.right - 1, y);
    }
    EXPECT_FALSE(changes.Finish(mask, kept));
    EXPECT_FALSE(changes.useBands);
    EXPECT_EQ(changes.bands.size(), 6u);
  }
  // Too small to be worth keeping; nothing to finish.
  GX_UnoBuffer small(100, 100, 8, GX_UnoBuffer::kZeroed);
  Kp_MaskChanges changes;
  changes.Keep(small, V_LRect{0, 0, 95, 96});
  EXPECT_FALSE(changes.Holding());
  EXPECT_FALSE(changes.Finish(small, V_LRect{0, 0, 100, 100}));
  EXPECT_TRUE(changes.bands.empty());
}

}  // namespace
