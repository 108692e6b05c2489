// SPDX-License-Identifier: MIT
/// @file
/// Resampling a world through an affine matrix.
#pragma once

#include "host/gx/gx.h"
#include "host/gx/gx_transfer.h"
#include "host/v/v.h"

#include <cstdint>

/// How the resampler treats positions outside the source.
enum class GX_EdgeMode : int32_t {
  kClamp = 0,        ///< the nearest edge pixel repeats outward
  kTransparent = 1,  ///< transparent black: the source has soft, antialiased edges
};

/// Resamples `src` through `matrix` into the rectangle `destRect` of `dest` and blends
/// the result in with `settings` (mode, opacity, colour-only), through `tables` and
/// `mask` as GX_TransferRect does (mask coverage by destination position; null: full).
///
/// Each destination pixel centre (X + 0.5, Y + 0.5) is mapped back into the source
/// (through the inverse when `matrixIsSourceToDest` is true, else through `matrix`
/// itself) and sampled there: `quality` 1 is bilinear between the four nearest pixel
/// centres, with premultiplied colour so transparent neighbours do not bleed; 0 is
/// nearest neighbour. `edgeMode` is a GX_EdgeMode value. With kTransparent, a
/// destination pixel that no source pixel reaches receives a transparent sample, so
/// with Normal it is left exactly as it was. A null `src` is wholly transparent.
/// `useSourceAlpha` and `ditherSeed` as in GX_TransferRect. `destRect` is clipped to
/// `dest`. An identity matrix copies pixels exactly; integer translations shift them
/// exactly.
///
/// Answers 0; GX_Err_BadArgument for a null destination, bad quality, useSourceAlpha
/// or edge mode, or a non-finite opacity; V_Err_Singular when the matrix cannot be
/// inverted; GX_Err_BadDepth when depths differ or are unknown; GX_Err_BadMode for an
/// invalid mode; the progress callback's code (every 64 rows).
int32_t GX_TransformWorld(GX_ProgressInfo* progress, int32_t quality, int32_t useSourceAlpha,
                          int32_t ditherSeed, const GX_LayerDef* src,
                          const GX_TransferSettings& settings,
                          const GX_LinearBlendingTables* tables, const GX_MaskRecord* mask,
                          const V_Matrix3& matrix, int32_t edgeMode, bool matrixIsSourceToDest,
                          const V_LRect& destRect, GX_LayerDef* dest);
