// SPDX-License-Identifier: MIT
// The paired rows the vector kernels of turned dabs read (turned_spans.h).
#include "raster/turned_spans.h"

#include <cstddef>
#include <cstring>

namespace {

// Zero bytes after the last level: a vector kernel's loads may run a little past it.
constexpr std::size_t kTailBytes = 64;

template <class T>
void PairLevel(const Kp_MIPPyramid& p, int32_t k, unsigned char* out, int32_t rowBytes) {
  const int32_t w = p.Width(k), h = p.Height(k);
  for (int32_t y = -1; y < h; ++y) {
    const T* top = reinterpret_cast<const T*>(p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k]);
    const T* bottom = reinterpret_cast<const T*>(p.levels[k] + std::ptrdiff_t(y + 1) * p.rowBytes[k]);
    T* pair = reinterpret_cast<T*>(out + std::ptrdiff_t(y + 1) * rowBytes);
    for (int32_t x = -1; x <= w; ++x) {
      pair[2 * (x + 1)] = top[x];
      pair[2 * (x + 1) + 1] = bottom[x];
    }
  }
}

}  // namespace

void Kp_PairRows(const Kp_MIPPyramid& p, Kp_PairedRows* paired) {
  const int32_t bytes = p.BytesPerSample();
  std::size_t total = kTailBytes;
  for (int32_t k = 0; k < p.levelCount; ++k)
    total += std::size_t(p.Width(k) + 2) * 2 * std::size_t(bytes) * std::size_t(p.Height(k) + 1);
  // Every entry of every level is written below; only the tail needs clearing.
  paired->block = GX_Block(total, false);
  std::memset(paired->block.Data() + total - kTailBytes, 0, kTailBytes);
  unsigned char* at = paired->block.Data();
  for (int32_t k = 0; k < p.levelCount; ++k) {
    const int32_t rowBytes = (p.Width(k) + 2) * 2 * bytes;
    if (bytes == 2)
      PairLevel<uint16_t>(p, k, at, rowBytes);
    else
      PairLevel<uint8_t>(p, k, at, rowBytes);
    paired->rowBytes[k] = rowBytes;
    paired->origin[k] = at + rowBytes + 2 * bytes;  // row −1 and column −1 come first
    at += std::size_t(rowBytes) * std::size_t(p.Height(k) + 1);
  }
}
