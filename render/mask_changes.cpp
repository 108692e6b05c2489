// SPDX-License-Identifier: MIT
#include "render/mask_changes.h"

#include <algorithm>
#include <cstring>

#include "raster/span_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

bool Kp_MaskChanges::Settings::operator==(const Settings& o) const {
  return layer == o.layer && pixels == o.pixels && destRect == o.destRect &&
         layerBounds == o.layerBounds && transferMode == o.transferMode &&
         targetChannel == o.targetChannel && transform == o.transform;
}

void Kp_MaskChanges::Keep(const GX_UnoBuffer& mask, const V_LRect& r) {
  holding = false;
  const int64_t samples = int64_t(r.right - r.left) * int64_t(r.bottom - r.top);
  if (r.right <= r.left || r.bottom <= r.top || samples < kMinSamples) return;
  rect = r;
  bytesPerSample = mask.GetBytesPerSample();
  const std::size_t rowBytes = std::size_t(r.right - r.left) * std::size_t(bytesPerSample);
  // A block from the host's pool, a power of two in size, so that the next stroke's
  // renderer takes this one's back: a vector grown call by call took fresh memory in
  // every stroke, faulted in and zeroed (3 % of a large brush's growing stroke).
  const std::size_t need = rowBytes * std::size_t(r.bottom - r.top);
  if (before.Size() < need) {
    std::size_t size = std::size_t(4) << 10;
    while (size < need) size *= 2;
    before = GX_Block(size, false);
  }
  unsigned char* to = before.Data();
  for (int32_t y = r.top; y < r.bottom; ++y, to += rowBytes)
    std::memcpy(to, mask.Row<unsigned char>(y) + std::ptrdiff_t(r.left) * bytesPerSample, rowBytes);
  holding = true;
}

bool Kp_MaskChanges::Finish(const GX_UnoBuffer& mask, const V_LRect& area) {
  bands.clear();
  useBands = false;
  if (!holding) return false;
  holding = false;
  const int32_t n = (rect.right - rect.left) * bytesPerSample;
  const unsigned char* kept = before.Data();
  int64_t covered = 0;
  for (int32_t top = rect.top; top < rect.bottom; top += kBandRows) {
    const int32_t bottom = std::min(top + kBandRows, rect.bottom);
    int32_t lo = n, hi = -1;
    for (int32_t y = top; y < bottom; ++y, kept += n) {
      int32_t first, final;
      const unsigned char* now = mask.Row<unsigned char>(y) + std::ptrdiff_t(rect.left) * bytesPerSample;
      if (!Kp_RowDifference(kept, now, n, &first, &final)) continue;
      lo = std::min(lo, first);
      hi = std::max(hi, final);
    }
    if (hi < lo) continue;
    const V_LRect band{std::max(rect.left + lo / bytesPerSample, area.left), std::max(top, area.top),
                       std::min(rect.left + hi / bytesPerSample + 1, area.right),
                       std::min(bottom, area.bottom)};
    if (band.right <= band.left || band.bottom <= band.top) continue;
    bands.push_back(band);
    covered += int64_t(band.right - band.left) * (band.bottom - band.top);
  }
  const int64_t whole = int64_t(area.right - area.left) * (area.bottom - area.top);
  useBands = covered * 4 <= whole * kMaxQuarters;
  if (!useBands) rest = kRestCalls;
  return useBands;
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KP_ROW_DIFFERENCE_AVX2 1

namespace {

// A bit for each of the thirty-two bytes at a and b that differ.
__attribute__((target("avx2"))) inline uint32_t Differ32(const unsigned char* a, const unsigned char* b) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
}

// Kp_RowDifference thirty-two bytes at a time: a large brush's call compares rows of
// several hundred bytes, most of them equal from end to end. Rows shorter than a
// vector are left to the sixteen-byte form.
__attribute__((target("avx2"))) bool RowDifferenceAvx2(const unsigned char* a, const unsigned char* b,
                                                       int32_t n, int32_t* first, int32_t* last) noexcept {
  const auto differ = [&](int32_t at) { return Differ32(a + at, b + at); };
  // From the left, the last vector ending with the row; then from the right, down to
  // the first difference (a vector there holds it at the latest).
  int32_t i = 0;
  uint32_t d = 0;
  for (;; i += 32) {
    if (i + 32 > n) i = n - 32;
    if ((d = differ(i)) != 0 || i + 32 == n) break;
  }
  if (d == 0) return false;
  *first = i + __builtin_ctz(d);
  for (int32_t j = n - 32;; j = std::max(j - 32, *first)) {
    if (const uint32_t e = differ(j)) {
      *last = j + 31 - __builtin_clz(e);
      return true;
    }
  }
}

}  // namespace
#endif

bool Kp_RowDifference(const unsigned char* a, const unsigned char* b, int32_t n, int32_t* first,
                      int32_t* last) noexcept {
  return Kp_RowDifferenceForm(a, b, n, first, last, Kp_HasAvx2());
}

bool Kp_RowDifferenceForm(const unsigned char* a, const unsigned char* b, int32_t n, int32_t* first,
                          int32_t* last, bool avx2) noexcept {
#if defined(KP_ROW_DIFFERENCE_AVX2)
  if (avx2 && n >= 32 && Kp_HasAvx2()) return RowDifferenceAvx2(a, b, n, first, last);
#else
  (void)avx2;
#endif
  int32_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time from each end: the first clear bit of a byte-equality mask
  // from the left, its last from the right.
  const auto equal = [&](int32_t at) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) ^ 0xFFFFu;
  };
  uint32_t differ = 0;
  while (i + 16 <= n && (differ = equal(i)) == 0) i += 16;
  if (differ != 0) i += __builtin_ctz(differ);
#endif
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return false;
  int32_t j = n;  // one past the bytes still to look at from the right
#if defined(__SSE2__)
  while (j - 16 >= i) {
    if (const uint32_t d = equal(j - 16)) {
      *first = i;
      *last = j - 16 + (31 - __builtin_clz(d));
      return true;
    }
    j -= 16;
  }
#endif
  while (a[j - 1] == b[j - 1]) --j;  // stops at i at the latest
  *first = i;
  *last = j - 1;
  return true;
}
