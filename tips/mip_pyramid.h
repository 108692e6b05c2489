// SPDX-License-Identifier: MIT
// The MIP pyramid block of a brush tip and the half-band decimation that builds it.
//
// Block layout: this header, then level 0, level 1, ... each stored as (height + 2) rows
// of (width + 2) samples with the interior surrounded by one zero sample on every
// side, so kernels may read indices −1 and width (rows −1 and height) of any level
// without a test. Sample i of level k stands at level-0 position i × 2^k.
//
// Level k ≥ 1 is ((w(k−1) >> 1) + 1) × ((h(k−1) >> 1) + 1): output i of a halving is
// centred on input 2i, so an even-sized level gains a trailing half-sample column.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

constexpr int32_t kKp_MIPFormatTag = 2;
constexpr int32_t kKp_MaxMIPLevels = 15;

struct Kp_MIPPyramid {
  int32_t formatTag;                        ///< always 2
  int32_t bitsPerSample;                    ///< 8 or 16
  int32_t allPlanesBytes;                   ///< planeBytes × planeCount
  int32_t planeBytes;                       ///< samples of all levels with borders × bytes
  int32_t planeCount;                       ///< always 1
  int32_t levelCount;                       ///< 1..15
  unsigned char* levels[kKp_MaxMIPLevels];  ///< first interior sample of each level
  int32_t rowBytes[kKp_MaxMIPLevels];       ///< (width + 2) × bytes per sample
  int32_t sizes[kKp_MaxMIPLevels][2];       ///< height, width

  int32_t Height(int32_t k) const { return sizes[k][0]; }
  int32_t Width(int32_t k) const { return sizes[k][1]; }
  int32_t BytesPerSample() const { return bitsPerSample == 16 ? 2 : 1; }
};

/// Levels of a pyramid whose level 0 is at most `maxSide` samples on its longer side:
/// level k ≥ 1 exists while (maxSide × 65536) >> (k − 1) ≥ 16385, i.e. while
/// maxSide / 2^(k−1) is more than a quarter, and never beyond level 14.
inline int32_t Kp_MIPLevelCount(int32_t maxSide) {
  const int64_t a = int64_t(maxSide) * 65536;
  int32_t count = 1;
  while (count < kKp_MaxMIPLevels && (a >> (count - 1)) >= 16385) ++count;
  return count;
}

/// Decimates `n` samples (stride `srcStep`) into (n >> 1) + 1 samples (stride
/// `dstStep`), output i centred on input 2i, with the half-band filter
///   (−1, 0, 9, 16, 9, 0, −1) / 32, rounded:
///   out[i] = (16·x[2i] + 9·(x[2i−1] + x[2i+1]) − (x[2i−3] + x[2i+3]) + 16) >> 5
/// Inputs outside 0..n−1 count as 0 (the border is not read). The shift is arithmetic
/// and the result is clamped to 0..`maxValue` (255 or 32768): the negative lobes
/// undershoot at hard edges and overshoot inside flat runs.
template <class T>
void Kp_HalveLine(const T* src, std::ptrdiff_t srcStep, int32_t n, T* dst,
                  std::ptrdiff_t dstStep, int32_t maxValue) noexcept {
  auto at = [&](int32_t j) -> int32_t {
    return j >= 0 && j < n ? int32_t(src[std::ptrdiff_t(j) * srcStep]) : 0;
  };
  const int32_t outCount = (n >> 1) + 1;
  for (int32_t i = 0; i < outCount; ++i) {
    const int32_t c = 2 * i;
    const int32_t sum = 16 * at(c) + 9 * (at(c - 1) + at(c + 1)) - (at(c - 3) + at(c + 3)) + 16;
    dst[std::ptrdiff_t(i) * dstStep] = static_cast<T>(std::clamp(sum >> 5, 0, maxValue));
  }
}

/// Halves a level of n × m samples (row stride `srcStride` samples) into the next
/// level's interior (row stride `dstStride`): rows into `scratch` first (laid out with
/// the destination's stride), then the scratch columns into `dst`.
template <class T>
void Kp_HalveLevel(const T* src, std::ptrdiff_t srcStride, int32_t n, int32_t m, T* scratch,
                   T* dst, std::ptrdiff_t dstStride, int32_t maxValue) noexcept {
  for (int32_t row = 0; row < m; ++row)
    Kp_HalveLine(src + row * srcStride, 1, n, scratch + row * dstStride, 1, maxValue);
  const int32_t cols = (n >> 1) + 1;
  for (int32_t col = 0; col < cols; ++col)
    Kp_HalveLine(scratch + col, dstStride, m, dst + col, dstStride, maxValue);
}
