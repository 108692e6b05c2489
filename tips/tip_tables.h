// SPDX-License-Identifier: MIT
// Lookup tables of the computed tip: the ellipse-radius approximation and the soft-edge
// profile. Both are built once, on first use, from their closed forms.
#pragma once

#include <array>
#include <cstdint>

/// Entry i = round(16384 × √(1 + (i/256)²)), 16384..23170. The length of (p, q) with
/// p ≥ q ≥ 0 is approximated as p × entry[trunc(256 × q / p)] / 16384.
extern const std::array<int16_t, 257>& kHypotTable;

/// The edge profile, 65280 (= 255 × 256) at index 0 (inner border of the soft edge)
/// falling to 4 at index 1023 (outer border).
///
/// Built from the bell
///   g(i) = 65280 × (e^(−k·x²) − e^(−k)) / (1 − e^(−k)),  k = 6.17,  x = (i + 0.5) / 1024
/// plus a correction that passes exactly through the profile's reference rows
/// (0, 64, 128, 256, 384, 512, 640, 768, 896 and 1000) and is linear between them; the
/// correction never exceeds 0.2 % of full scale. Entries 1000..1023 are the fixed tail
///   97 93 89 85 81 77 73 69 65 61 57 53 49 45 41 36 32 28 24 20 16 12 8 4
/// which keeps the outermost ring of a dab visible. The table decreases strictly.
extern const std::array<uint16_t, 1024>& kFalloffTable;
