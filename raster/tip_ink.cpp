// SPDX-License-Identifier: MIT
// Measuring where a pyramid holds ink, and the part of a sampled row it can reach.
#include "raster/tip_ink.h"

#include <algorithm>
#include <cstddef>

namespace {

template <class T>
void MeasureLevel(const Kp_MIPPyramid& p, int32_t k, Kp_InkSpan* rows, Kp_LevelInk* level) {
  const int32_t w = p.Width(k), h = p.Height(k);
  level->rows = rows;
  level->any = false;
  for (int32_t y = 0; y < h; ++y) {
    const T* row = reinterpret_cast<const T*>(p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k]);
    int32_t first = 0;
    while (first < w && row[first] == 0) ++first;
    int32_t last = w - 1;
    while (last > first && row[last] == 0) --last;
    if (first == w) {
      rows[y] = {1, 0};
      continue;
    }
    rows[y] = {first, last};
    if (!level->any) {
      level->any = true;
      level->minX = first;
      level->maxX = last;
      level->minY = level->maxY = y;
      level->minSum = first + y;
      level->maxSum = last + y;
      level->minDiff = first - y;
      level->maxDiff = last - y;
      continue;
    }
    level->minX = std::min(level->minX, first);
    level->maxX = std::max(level->maxX, last);
    level->maxY = y;
    level->minSum = std::min(level->minSum, first + y);
    level->maxSum = std::max(level->maxSum, last + y);
    level->minDiff = std::min(level->minDiff, first - y);
    level->maxDiff = std::max(level->maxDiff, last - y);
  }
}

}  // namespace

namespace {

// A sample of level k at level position (p, q) = (u, v) / 2^(16 + k) blends only
// samples (x, y) with |p − x| < 1 and |q − y| < 1, so the octagon of the ink widens
// by 1 on x and y and by 2 on the sums.
Kp_InkReach ReachOf(const Kp_LevelInk& l, int32_t k) {
  Kp_InkReach r;
  r.any = l.any;
  if (!l.any) return r;
  const double s = double(int64_t(1) << (16 + k));
  const int32_t low[4] = {l.minX - 1, l.minY - 1, l.minSum - 2, l.minDiff - 2};
  const int32_t high[4] = {l.maxX + 1, l.maxY + 1, l.maxSum + 2, l.maxDiff + 2};
  for (int q = 0; q < 4; ++q) {
    r.low[q] = low[q] * s;
    r.high[q] = high[q] * s;
  }
  return r;
}

Kp_InkReach Join(const Kp_InkReach& a, const Kp_InkReach& b) {
  if (!a.any) return b;
  if (!b.any) return a;
  Kp_InkReach r = a;
  for (int q = 0; q < 4; ++q) {
    r.low[q] = std::min(a.low[q], b.low[q]);
    r.high[q] = std::max(a.high[q], b.high[q]);
  }
  return r;
}

}  // namespace

void Kp_MeasureInk(const Kp_MIPPyramid& p, Kp_PyramidInk* ink) {
  std::size_t total = 0;
  for (int32_t k = 0; k < p.levelCount; ++k) total += std::size_t(p.Height(k));
  ink->spans.assign(total, Kp_InkSpan{1, 0});
  Kp_InkSpan* at = ink->spans.data();
  for (int32_t k = 0; k < p.levelCount; ++k) {
    if (p.bitsPerSample == 16)
      MeasureLevel<uint16_t>(p, k, at, &ink->levels[k]);
    else
      MeasureLevel<uint8_t>(p, k, at, &ink->levels[k]);
    at += p.Height(k);
    ink->levels[k].reach = ReachOf(ink->levels[k], k);
  }
  for (int32_t k = 0; k < p.levelCount; ++k) {
    Kp_LevelInk& l = ink->levels[k];
    l.pairReach = k + 1 < p.levelCount ? Join(l.reach, ink->levels[k + 1].reach) : l.reach;
  }
}
