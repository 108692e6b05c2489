// SPDX-License-Identifier: MIT
// Measuring where a pyramid holds ink, and the part of a sampled row it can reach.
#include "raster/tip_ink.h"

#include <algorithm>
#include <cmath>
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

bool NoWrap(int32_t start, int32_t step, int32_t count) {
  const int64_t last = int64_t(start) + int64_t(step) * (count - 1);
  return last >= INT32_MIN && last <= INT32_MAX;
}

/// Narrows the open interval (*lo, *hi) of t to where low < a + b·t < high.
void Narrow(double a, double b, double low, double high, double* lo, double* hi) {
  if (b == 0) {
    if (!(low < a && a < high)) *hi = *lo;
    return;
  }
  const double r = 1.0 / b;
  const double t0 = (low - a) * r, t1 = (high - a) * r;
  *lo = std::max(*lo, std::min(t0, t1));
  *hi = std::min(*hi, std::max(t0, t1));
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

void Kp_InkInterval(const Kp_InkReach& reach, int32_t count, int32_t u, int32_t du, int32_t v,
                    int32_t dv, int32_t* begin, int32_t* end) noexcept {
  *begin = 0;
  *end = count;
  if (count <= 0 || !NoWrap(u, du, count) || !NoWrap(v, dv, count)) return;
  if (!reach.any) {
    *end = 0;
    return;
  }
  // Every operand is an integer below 2^34, exact in a double; the quotients are off
  // by far less than the sample added on each side below.
  const double fu = u, fv = v, fdu = du, fdv = dv;
  double lo = -1, hi = count;
  Narrow(fu, fdu, reach.low[0], reach.high[0], &lo, &hi);
  Narrow(fv, fdv, reach.low[1], reach.high[1], &lo, &hi);
  Narrow(fu + fv, fdu + fdv, reach.low[2], reach.high[2], &lo, &hi);
  Narrow(fu - fv, fdu - fdv, reach.low[3], reach.high[3], &lo, &hi);
  if (!(hi > lo)) {
    *end = 0;
    return;
  }
  // Samples strictly between lo and hi, one more on each side.
  *begin = int32_t(std::max(std::floor(lo), 0.0));
  *end = int32_t(std::min(std::floor(hi) + 2.0, double(count)));
  if (*end < *begin) *end = *begin;
}

void Kp_SpanReach(const Kp_SpanArgs& a, bool trilinear, int32_t* begin, int32_t* end) noexcept {
  if (!a.ink) {
    *begin = 0;
    *end = a.count;
    return;
  }
  const Kp_LevelInk& l = a.ink->levels[a.level];
  Kp_InkInterval(trilinear ? l.pairReach : l.reach, a.count, a.u, a.du, a.v, a.dv, begin, end);
}
