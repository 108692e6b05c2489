// SPDX-License-Identifier: MIT
// Row kernels along which v changes (turned dabs): every sample has its own rows,
// columns and fractions, so nothing is shared between samples. What is saved is the
// sampling where the tip holds no ink (Kp_SpanReach, raster/tip_ink.h) and, with
// AVX2, the arithmetic of eight samples at once (turned_spans_avx2.cpp).
#pragma once

#include <cstdint>

#include "raster/span_kernels.h"

/// Samples [begin, end) of a row with dv != 0, eight at a time with AVX2; `weight` is
/// Kp_TrilinearWeight when `kTrilinear`. Call only where Kp_HasAvx2().
template <class T, bool kTrilinear>
void Kp_TurnedRunAvx2(const Kp_SpanArgs& a, uint32_t weight, int32_t begin, int32_t end,
                      T* dst) noexcept;
