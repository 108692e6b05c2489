// SPDX-License-Identifier: MIT
#include "tips/tip_tables.h"

#include <cmath>
#include <cstddef>

namespace {

std::array<int16_t, 257> BuildHypotTable() {
  std::array<int16_t, 257> t{};
  for (std::size_t i = 0; i < t.size(); ++i) {
    const double r = double(i) / 256.0;
    t[i] = static_cast<int16_t>(std::lround(16384.0 * std::sqrt(1.0 + r * r)));
  }
  return t;
}

double Bell(int i) {
  constexpr double k = 6.17;
  const double x = (i + 0.5) / 1024.0;
  const double floorValue = std::exp(-k);
  return 65280.0 * (std::exp(-k * x * x) - floorValue) / (1.0 - floorValue);
}

std::array<uint16_t, 1024> BuildFalloffTable() {
  struct Anchor {
    int index;
    double value;
  };
  // The reference rows; the bell is bent through them piecewise linearly.
  static const Anchor kAnchors[] = {{0, 65280},   {64, 63709},  {128, 59221}, {256, 44214},
                                    {384, 27166}, {512, 13737}, {640, 5717},  {768, 1958},
                                    {896, 552},   {1000, 97}};
  static const uint16_t kTail[24] = {97, 93, 89, 85, 81, 77, 73, 69, 65, 61, 57, 53,
                                     49, 45, 41, 36, 32, 28, 24, 20, 16, 12, 8,  4};
  std::array<uint16_t, 1024> t{};
  std::size_t seg = 0;
  for (int i = 0; i < 1000; ++i) {
    while (kAnchors[seg + 1].index <= i) ++seg;
    const Anchor& a = kAnchors[seg];
    const Anchor& b = kAnchors[seg + 1];
    const double ca = a.value - Bell(a.index);
    const double cb = b.value - Bell(b.index);
    const double w = double(i - a.index) / double(b.index - a.index);
    t[std::size_t(i)] = static_cast<uint16_t>(std::lround(Bell(i) + ca + (cb - ca) * w));
  }
  for (int i = 0; i < 24; ++i) t[std::size_t(1000 + i)] = kTail[i];
  return t;
}

const std::array<int16_t, 257> kHypotStorage = BuildHypotTable();
const std::array<uint16_t, 1024> kFalloffStorage = BuildFalloffTable();

}  // namespace

const std::array<int16_t, 257>& kHypotTable = kHypotStorage;
const std::array<uint16_t, 1024>& kFalloffTable = kFalloffStorage;
