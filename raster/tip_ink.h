// SPDX-License-Identifier: MIT
// Where a tip's pyramid holds ink: for every level, the first and last non-zero sample
// of each row and an octagon around all of them. The fast kernels use it to write
// zeros without sampling where no non-zero sample can reach; the results stay those
// of sampling everywhere, because a bilinear sample at level position (p, q) blends
// only samples (x, y) with |p − x| < 1 and |q − y| < 1 (raster/span_kernels.h).
#pragma once

#include <cstdint>
#include <vector>

#include "tips/mip_pyramid.h"

/// Non-zero samples of one level row lie in [first, last]; first > last: none.
struct Kp_InkSpan {
  int32_t first, last;
};

/// Open bounds on u, v, u + v and u − v (16.16 level-0 coordinates) outside which a
/// sample is 0; `any` false: 0 everywhere.
struct Kp_InkReach {
  bool any = false;
  double low[4] = {0, 0, 0, 0}, high[4] = {0, 0, 0, 0};
};

/// One level: row spans and the octagon of its non-zero samples (x, y), in level
/// samples: x, y, x + y and x − y each between their bounds.
struct Kp_LevelInk {
  const Kp_InkSpan* rows = nullptr;  ///< h(k) entries
  bool any = false;                  ///< false: the level is all zeros
  int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
  int32_t minSum = 0, maxSum = 0, minDiff = 0, maxDiff = 0;
  Kp_InkReach reach;      ///< of a bilinear sample of this level
  Kp_InkReach pairReach;  ///< of a blend of this level and the next
};

struct Kp_PyramidInk {
  Kp_LevelInk levels[kKp_MaxMIPLevels];
  std::vector<Kp_InkSpan> spans;  ///< storage of every level's rows
};

/// Measures the ink of every level of `p`.
void Kp_MeasureInk(const Kp_MIPPyramid& p, Kp_PyramidInk* ink);
