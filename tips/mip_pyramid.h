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

/// The half-band filter's output centred on sample c0, from its neighbours c1 = c0 ± 1
/// and c3 = c0 ± 3 (each pair summed), rounded, shifted arithmetically and clamped:
///   (16·c0 + 9·c1 − c3 + 16) >> 5, within 0..`maxValue`.
/// The negative lobes undershoot at hard edges and overshoot inside flat runs.
inline int32_t Kp_HalfBand(int32_t c0, int32_t c1, int32_t c3, int32_t maxValue) noexcept {
  return std::clamp((16 * c0 + 9 * c1 - c3 + 16) >> 5, 0, maxValue);
}

/// Decimates `n` samples (stride `srcStep`) into (n >> 1) + 1 samples (stride
/// `dstStep`), output i centred on input 2i, with the half-band filter
///   (−1, 0, 9, 16, 9, 0, −1) / 32 (Kp_HalfBand), inputs outside 0..n−1 counting as 0
/// (the border is not read); `maxValue` is 255 or 32768.
template <class T>
void Kp_HalveLine(const T* src, std::ptrdiff_t srcStep, int32_t n, T* dst,
                  std::ptrdiff_t dstStep, int32_t maxValue) noexcept {
  auto at = [&](int32_t j) -> int32_t {
    return j >= 0 && j < n ? int32_t(src[std::ptrdiff_t(j) * srcStep]) : 0;
  };
  const int32_t outCount = (n >> 1) + 1;
  for (int32_t i = 0; i < outCount; ++i) {
    const int32_t c = 2 * i;
    dst[std::ptrdiff_t(i) * dstStep] =
        static_cast<T>(Kp_HalfBand(at(c), at(c - 1) + at(c + 1), at(c - 3) + at(c + 3), maxValue));
  }
}

/// Kp_HalveLine on one contiguous row: the outputs whose seven taps all lie inside the
/// row skip the bounds tests, which cost more than the filter in the scalar loop.
template <class T>
void Kp_HalveRow(const T* src, int32_t n, T* dst, int32_t maxValue) noexcept {
  auto checked = [&](int32_t i) {
    auto at = [&](int32_t j) -> int32_t { return j >= 0 && j < n ? int32_t(src[j]) : 0; };
    const int32_t c = 2 * i;
    dst[i] = static_cast<T>(Kp_HalfBand(at(c), at(c - 1) + at(c + 1), at(c - 3) + at(c + 3), maxValue));
  };
  const int32_t outCount = (n >> 1) + 1;
  // Inside: 2i − 3 ≥ 0 and 2i + 3 ≤ n − 1.
  const int32_t lo = std::min(2, outCount);
  const int32_t hi = std::max(lo, std::min(outCount, n >= 4 ? ((n - 4) >> 1) + 1 : 0));
  for (int32_t i = 0; i < lo; ++i) checked(i);
  for (int32_t i = lo; i < hi; ++i) {
    const T* x = src + 2 * i;
    dst[i] = static_cast<T>(Kp_HalfBand(x[0], int32_t(x[-1]) + x[1], int32_t(x[-3]) + x[3], maxValue));
  }
  for (int32_t i = hi; i < outCount; ++i) checked(i);
}

/// Halves a level of n × m samples (row stride `srcStride` samples) into the next
/// level's interior (row stride `dstStride`): rows into `scratch` first (laid out with
/// the destination's stride), then the columns, one output row at a time from up to
/// seven scratch rows, which is Kp_HalveLine down every column. `scratch` holds m + 1
/// rows of `dstStride` samples; the last is a row of zeros for the taps outside the level.
template <class T>
void Kp_HalveLevel(const T* src, std::ptrdiff_t srcStride, int32_t n, int32_t m, T* scratch,
                   T* dst, std::ptrdiff_t dstStride, int32_t maxValue) noexcept {
  for (int32_t row = 0; row < m; ++row)
    Kp_HalveRow(src + row * srcStride, n, scratch + row * dstStride, maxValue);
  const int32_t cols = (n >> 1) + 1;
  T* zeros = scratch + std::ptrdiff_t(m) * dstStride;
  std::fill(zeros, zeros + cols, T(0));
  auto row = [&](int32_t j) -> const T* {
    return j >= 0 && j < m ? scratch + std::ptrdiff_t(j) * dstStride : zeros;
  };
  const int32_t outRows = (m >> 1) + 1;
  for (int32_t i = 0; i < outRows; ++i) {
    const int32_t c = 2 * i;
    const T *r0 = row(c), *a1 = row(c - 1), *b1 = row(c + 1), *a3 = row(c - 3), *b3 = row(c + 3);
    T* out = dst + std::ptrdiff_t(i) * dstStride;
    for (int32_t col = 0; col < cols; ++col)
      out[col] = static_cast<T>(Kp_HalfBand(r0[col], int32_t(a1[col]) + b1[col],
                                            int32_t(a3[col]) + b3[col], maxValue));
  }
}
