// SPDX-License-Identifier: MIT
/// @file
/// Dab accumulation: one rendered brush dab laid into the single-channel paint mask.
#pragma once

#include "host/gx/gx.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_pixel_traits.h"
#include "host/v/v.h"

#include <cstdint>

/// Accumulates the dab `src` (coverage, full = 255 / 32768 / 1.0) into `mask` with
/// `accumulateMode` (a GX_AccumulateMode value; formulas in host/gx/gx_modes.h).
///
/// Source pixel (srcRect.left + i, srcRect.top + j) meets mask pixel
/// (dstPoint.x + i, dstPoint.y + j). Neither is clipped by the caller: `srcRect` is
/// clipped to the source buffer and the destination to the mask, so a dab hanging off
/// an edge of the mask is cut there. `opacity` and `flow` are fractions 0..1 (clamped).
/// 8- and 16-bit math is integer with one rounding per product (GXp_DivFull8/16),
/// float math is float; every mode keeps the mask within 0..full. At integer depths a
/// build-up step below its target is at least one unit (flow > 0), so repeated dabs
/// reach opacity × coverage exactly instead of stalling one unit short.
///
/// Answers 0; GX_Err_BadArgument for a null buffer or a non-finite opacity or flow;
/// GX_Err_BadDepth when the depths differ; GX_Err_BadMode for an unknown mode; the
/// progress callback's code when it cancels (reports every 64 rows).
int32_t GX_AccumulateUnoBuffers(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                                int32_t accumulateMode, float opacity, float flow,
                                const V_LRect& srcRect, const V_LPoint& dstPoint,
                                GX_UnoBuffer* mask);

/// True when GX_AccumulateUnoBuffers with these settings at `depth` (8 or 16) takes
/// every mask sample m under a dab sample c to max(m, min(c, full)): build-up whose
/// opacity and flow both come to full at that depth. A caller may then raise the mask
/// to a dab directly instead of drawing the dab aside first. False for float masks.
bool GX_AccumulateIsRaise(int32_t accumulateMode, float opacity, float flow, int32_t depth);

/// The build-up row of GX_AccumulateUnoBuffers at 8 or 16 bits (P is GXp_Px8 or
/// GXp_Px16): `n` mask samples `dst` under `n` dab samples `src`, with opacity and flow
/// as values of the depth. With `avx2` false the SSE2 form runs even where the processor
/// has AVX2, with it true the AVX2 form where it has (tests hold the two against each
/// other and the rule).
template <class P>
void GXp_BuildUpRow(const typename P::Value* src, typename P::Value* dst, int32_t n,
                    typename P::Value op, typename P::Value fl, bool avx2);
/// Built once, in the library, for 8 and 16 bits.
///@{
extern template void GXp_BuildUpRow<GXp_Px8>(const uint8_t*, uint8_t*, int32_t, uint8_t, uint8_t,
                                             bool);
extern template void GXp_BuildUpRow<GXp_Px16>(const uint16_t*, uint16_t*, int32_t, uint16_t,
                                              uint16_t, bool);
///@}
