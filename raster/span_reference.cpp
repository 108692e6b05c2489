// SPDX-License-Identifier: MIT
// Reference span kernels: one sample at a time, straight from the sampling rules. They
// define the results the fast kernels in span_kernels.cpp must reproduce.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "raster/span_kernels.h"

namespace {

Fx16 StepN(Fx16 start, int32_t n, Fx16 step) {
  return static_cast<Fx16>(uint32_t(start) + uint32_t(n) * uint32_t(step));
}

template <class P>
uint32_t At(const Kp_MIPPyramid& p, int32_t k, int32_t x, int32_t y) {
  const unsigned char* row = p.levels[k] + std::ptrdiff_t(y) * p.rowBytes[k];
  return reinterpret_cast<const typename P::Value*>(row)[x];
}

bool RowOutside(const Kp_MIPPyramid& p, int32_t level, Fx16 v) {
  const int32_t y = v >> (16 + level);
  return y < -1 || y >= p.Height(level);
}

template <class P>
uint32_t TrilinearSample(const Kp_MIPPyramid& p, int32_t level, int32_t weight, Fx16 u, Fx16 v) {
  const uint32_t a = kp_ref::BilinearSample<P>(p, level, u, v);
  const uint32_t b = kp_ref::BilinearSample<P>(p, level + 1, u, v);
  return Kp_Div255(uint32_t(255 - weight) * a + uint32_t(weight) * b);
}

}  // namespace

namespace kp_ref {

template <class P>
uint32_t BilinearSample(const Kp_MIPPyramid& p, int32_t k, Fx16 u, Fx16 v) noexcept {
  const int32_t x = u >> (16 + k);
  const int32_t y = v >> (16 + k);
  const uint32_t fx = uint32_t(u >> (8 + k)) & 255u;
  const uint32_t fy = uint32_t(v >> (8 + k)) & 255u;
  if (x < -1 || x >= p.Width(k) || y < -1 || y >= p.Height(k)) return 0;
  const uint32_t top = Kp_Div255(At<P>(p, k, x, y) * (255 - fx) + At<P>(p, k, x + 1, y) * fx);
  const uint32_t bottom =
      Kp_Div255(At<P>(p, k, x, y + 1) * (255 - fx) + At<P>(p, k, x + 1, y + 1) * fx);
  return Kp_Div255(top * (255 - fy) + bottom * fy);
}

template <class P>
void BilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  for (int32_t i = 0; i < a.count; ++i)
    dst[i] = static_cast<typename P::Value>(
        BilinearSample<P>(*a.pyramid, a.level, StepN(a.u, i, a.du), StepN(a.v, i, a.dv)));
}

template <class P>
void TrilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  // A row of constant v is judged once, at level L, even where level L + 1 alone
  // would give a non-zero sample.
  if (a.dv == 0 && RowOutside(*a.pyramid, a.level, a.v)) {
    for (int32_t i = 0; i < a.count; ++i) dst[i] = 0;
    return;
  }
  const int32_t weight = Kp_TrilinearWeight(a.level, a.scale);
  for (int32_t i = 0; i < a.count; ++i)
    dst[i] = static_cast<typename P::Value>(TrilinearSample<P>(
        *a.pyramid, a.level, weight, StepN(a.u, i, a.du), StepN(a.v, i, a.dv)));
}

template <class P, bool kTrilinear>
void Block(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  const int32_t weight = kTrilinear ? Kp_TrilinearWeight(a.level, a.scale) : 0;
  for (int32_t j = 0; j < a.rows; ++j) {
    auto* out = reinterpret_cast<typename P::Value*>(reinterpret_cast<unsigned char*>(dst) +
                                                     std::ptrdiff_t(j) * a.rowBytes);
    const Fx16 v = StepN(a.v, j, a.dv);
    const bool outside = RowOutside(*a.pyramid, a.level, v);
    for (int32_t i = 0; i < a.count; ++i) {
      const Fx16 u = StepN(a.u, i, a.du);
      uint32_t s = 0;
      if (!outside)
        s = kTrilinear ? TrilinearSample<P>(*a.pyramid, a.level, weight, u, v)
                       : BilinearSample<P>(*a.pyramid, a.level, u, v);
      out[i] = static_cast<typename P::Value>(s);
    }
  }
}

template <class P>
void BilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  Block<P, false>(a, dst);
}
template <class P>
void TrilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept {
  Block<P, true>(a, dst);
}

void CopyBlock(const Kp_MIPPyramid& p, int32_t x0, int32_t y0, int32_t count, int32_t rows,
               int32_t rowBytes, void* dst) noexcept {
  const int32_t bytes = p.BytesPerSample();
  for (int32_t j = 0; j < rows; ++j) {
    unsigned char* out = static_cast<unsigned char*>(dst) + std::ptrdiff_t(j) * rowBytes;
    const int64_t y = int64_t(y0) + j;
    for (int32_t i = 0; i < count; ++i) {
      const int64_t x = int64_t(x0) + i;
      unsigned char* d = out + std::ptrdiff_t(i) * bytes;
      if (x < 0 || x >= p.Width(0) || y < 0 || y >= p.Height(0)) {
        std::memset(d, 0, std::size_t(bytes));
      } else {
        std::memcpy(d, p.levels[0] + std::ptrdiff_t(y) * p.rowBytes[0] + std::ptrdiff_t(x) * bytes,
                    std::size_t(bytes));
      }
    }
  }
}

#define KSTROKE_REF_INSTANTIATE(P)                                                            \
  template uint32_t BilinearSample<P>(const Kp_MIPPyramid&, int32_t, Fx16, Fx16) noexcept;    \
  template void BilinearSpan<P>(const Kp_SpanArgs&, P::Value*) noexcept;                      \
  template void TrilinearSpan<P>(const Kp_SpanArgs&, P::Value*) noexcept;                    \
  template void BilinearBlock<P>(const Kp_SpanArgs&, P::Value*) noexcept;                     \
  template void TrilinearBlock<P>(const Kp_SpanArgs&, P::Value*) noexcept;
KSTROKE_REF_INSTANTIATE(Px8)
KSTROKE_REF_INSTANTIATE(Px16)
#undef KSTROKE_REF_INSTANTIATE

}  // namespace kp_ref

namespace {

template <class P>
constexpr Kp_KernelTable MakeReferenceTable() {
  return {&Kp_Erased<P, &kp_ref::BilinearSpan<P>>, &Kp_Erased<P, &kp_ref::TrilinearSpan<P>>,
          &Kp_Erased<P, &kp_ref::BilinearBlock<P>>, &Kp_Erased<P, &kp_ref::TrilinearBlock<P>>};
}

const Kp_KernelTable kReferenceTables[2] = {MakeReferenceTable<Px8>(), MakeReferenceTable<Px16>()};

}  // namespace

const Kp_KernelTable& Kp_ReferenceKernels(bool deep) noexcept { return kReferenceTables[deep ? 1 : 0]; }
