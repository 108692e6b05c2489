// SPDX-License-Identifier: MIT
/// @file
/// Transfers: blending a source into a destination through a mask, per pixel, per row,
/// per rectangle, on one channel or on four.
///
/// Modes and their formulas: host/gx/gx_modes.h. Colour is straight (not
/// premultiplied). The blend runs in single-precision unit fractions and is rounded
/// back to the depth once per channel, so 8- and 16-bit results are exact to the
/// nearest value. Coverage 0 leaves a pixel untouched in every mode.
#pragma once

#include "host/gx/gx.h"
#include "host/gx/gx_modes.h"
#include "host/gx/gx_pixel_traits.h"
#include "host/v/v.h"

#include <cstddef>
#include <cstdint>

/// Optional linear-light blending: colour channels are decoded from sRGB to linear
/// light before the blend and encoded again after it; alpha and mask stay as they
/// are. A null pointer wherever tables are taken means blend the stored values.
class GX_LinearBlendingTables {
public:
  /// Intervals of the tables over 0..1; between entries values are interpolated.
  static constexpr int32_t kSteps = 16384;

  /// Builds the sRGB transfer curve (IEC 61966-2-1). The object is 128 KiB: prefer
  /// Srgb() or the heap to a local variable.
  GX_LinearBlendingTables();
  /// A shared, immutable instance; safe to use from any thread.
  static const GX_LinearBlendingTables& Srgb();

  /// sRGB-encoded unit value to linear light. Inside 0..1 by table, outside by the
  /// exact curve mirrored through 0 (float layers may hold such values).
  float ToLinear(float v) const;
  /// Linear light to sRGB-encoded, the inverse of ToLinear within 1e-5.
  float FromLinear(float v) const;

private:
  float toLinear[kSteps + 1];
  float fromLinear[kSteps + 1];
};

/// Settings of a 4-channel transfer.
struct GX_TransferSettings {
  int32_t mode = 2;        ///< GX_TransferMode value; GX_Err_BadMode when out of range
  int32_t param = 0;       ///< reserved for mode parameters; no mode reads it yet
  uint8_t colourOnly = 0;  ///< 1: the destination alpha is kept exactly
  float opacity = 1.0f;    ///< 0..1, clamped; GX_Err_BadArgument when not finite
};

/// A 4-channel mask image whose first channel (alpha) is the coverage.
struct GX_MaskRecord {
  GX_LayerDef layer;  ///< copy of the mask world's record; same depth as the destination
  /// Destination position of mask pixel (0, 0).
  ///@{
  int32_t x = 0;
  int32_t y = 0;
  ///@}
  int32_t flags = 0;  ///< reserved, 0
};

/// One destination pixel blended with one source pixel: (source, tables, mask value,
/// opacity, destination in place). Mask and opacity are values of the depth (full
/// 255, 32768, 1.0); the weight of the source is mask × opacity.
template <class P>
using GX_XferFunc = void (*)(const typename P::Pixel& src, const GX_LinearBlendingTables* tables,
                             typename P::Value mask, typename P::Value opacity,
                             typename P::Pixel* dst);
/// The per-pixel function at 8 bits, 16 bits and float.
///@{
using GX_XferFunc8 = GX_XferFunc<GXp_Px8>;
using GX_XferFunc16 = GX_XferFunc<GXp_Px16>;
using GX_XferFuncF = GX_XferFunc<GXp_PxF>;
///@}

/// Transfer tables, one per depth, indexed directly by transfer mode: table[mode] for
/// every mode with GX_IsValidTransferMode(mode), -2 included (each pointer points into
/// the middle of its array). No range check: callers pass valid modes. Dissolve's
/// per-pixel functions dither by a hash of the destination pixel's address.
///@{
extern const GX_XferFunc8* const GXp_G_Xfer1_Opacity2_table8;
extern const GX_XferFunc16* const GXp_G_Xfer1_Opacity2_table16;
extern const GX_XferFuncF* const GXp_G_Xfer1_Opacity2_tableF;
///@}

/// The table for a depth, for code written as a template over the pixel traits.
template <class P> const GX_XferFunc<P>* GXp_XferTable();
/// GXp_G_Xfer1_Opacity2_table8, table16 and tableF.
///@{
template <> inline const GX_XferFunc8* GXp_XferTable<GXp_Px8>() {
  return GXp_G_Xfer1_Opacity2_table8;
}
template <> inline const GX_XferFunc16* GXp_XferTable<GXp_Px16>() {
  return GXp_G_Xfer1_Opacity2_table16;
}
template <> inline const GX_XferFuncF* GXp_XferTable<GXp_PxF>() {
  return GXp_G_Xfer1_Opacity2_tableF;
}
///@}

/// Blends `value` into the first (alpha) channel of `count` 4-channel pixels: each
/// becomes d + (value − d) × mask × opacity (a Normal mix on one channel); the other
/// channels are untouched. P is GX_Pixel8 / GX_Pixel16 / GX_PixelFloat with T its
/// sample type (unsigned char, unsigned short, float). `mask` has `count` values;
/// `opacity`, `value` and the mask are values of the depth. A null mask or `dst` does
/// nothing.
template <class P, class T>
void GX_BlendSingleChannel(int32_t count, T opacity, T value, const T* mask, P* dst);
/// Built once, in the library, for the three depths; see the template above.
///@{
extern template void GX_BlendSingleChannel<GX_Pixel8, unsigned char>(
    int32_t, unsigned char, unsigned char, const unsigned char*, GX_Pixel8*);
extern template void GX_BlendSingleChannel<GX_Pixel16, unsigned short>(
    int32_t, unsigned short, unsigned short, const unsigned short*, GX_Pixel16*);
extern template void GX_BlendSingleChannel<GX_PixelFloat, float>(int32_t, float, float,
                                                                 const float*, GX_PixelFloat*);
///@}

/// One colour blended in the Normal mode into `count` pixels through `count` mask
/// values, without linear-light tables: pixel i ends exactly as
/// GXp_XferTable<P>()[kNormal](colour, nullptr, mask[i], opacity, dst + i) leaves it,
/// and pixels of mask 0 are not touched. P is GXp_Px8, GXp_Px16 or GXp_PxF. Four pixels
/// at a time with SSE2 where the compiler targets it; the scalar form is kept for tests.
/// `prefetchAhead`, when not 0, asks for the pixels that many bytes past each covered
/// group to be fetched early: a caller going down a stroke passes a few rows' stride,
/// so that the next rows' pixels are in cache by the time they are blended.
/// `streamFullLines` lets whole 64-byte lines of pixels that become the opaque colour
/// be written with streaming stores, which skip reading the line first but are not
/// ordered with later stores: the caller then issues GX_StreamFence (gx_iterate.h)
/// before the pixels are read on another thread, as the GX_Iterate functions do at
/// the end of each thread's share.
template <class P>
void GX_BlendColourNormalRow(const typename P::Pixel& colour, const typename P::Value* mask,
                             typename P::Value opacity, int32_t count, typename P::Pixel* dst,
                             std::ptrdiff_t prefetchAhead = 0, bool streamFullLines = false);
/// GX_BlendColourNormalRow with `avx2` false: the SSE2 form even where
/// the processor runs AVX2 (whose form GX_BlendColourNormalRow takes there), so tests
/// hold both to the per-pixel transfer.
template <class P>
void GXp_BlendColourNormalRowForm(const typename P::Pixel& colour, const typename P::Value* mask,
                                  typename P::Value opacity, int32_t count, typename P::Pixel* dst,
                                  std::ptrdiff_t prefetchAhead, bool streamFullLines, bool avx2);
/// The same for float pixels.
template <>
void GXp_BlendColourNormalRowForm<GXp_PxF>(const GX_PixelFloat& colour, const float* mask, float opacity,
                                           int32_t count, GX_PixelFloat* dst, std::ptrdiff_t prefetchAhead,
                                           bool streamFullLines, bool avx2);
/// The portable form of GX_BlendColourNormalRow, one pixel at a time: the reference
/// the SSE2 and AVX2 forms must match bit for bit.
template <class P>
void GXp_BlendColourNormalRowScalar(const typename P::Pixel& colour,
                                    const typename P::Value* mask, typename P::Value opacity,
                                    int32_t count, typename P::Pixel* dst);
/// The float form; four float pixels are one 64-byte line.
template <>
void GX_BlendColourNormalRow<GXp_PxF>(const GX_PixelFloat& colour, const float* mask,
                                      float opacity, int32_t count, GX_PixelFloat* dst,
                                      std::ptrdiff_t prefetchAhead, bool streamFullLines);
/// Built once, in the library, for 8 and 16 bits and float; see the templates above.
///@{
extern template void GX_BlendColourNormalRow<GXp_Px8>(const GX_Pixel8&, const uint8_t*, uint8_t,
                                                      int32_t, GX_Pixel8*, std::ptrdiff_t, bool);
extern template void GX_BlendColourNormalRow<GXp_Px16>(const GX_Pixel16&, const uint16_t*,
                                                       uint16_t, int32_t, GX_Pixel16*,
                                                       std::ptrdiff_t, bool);
extern template void GXp_BlendColourNormalRowForm<GXp_Px8>(const GX_Pixel8&, const uint8_t*, uint8_t,
                                                           int32_t, GX_Pixel8*, std::ptrdiff_t, bool, bool);
extern template void GXp_BlendColourNormalRowForm<GXp_Px16>(const GX_Pixel16&, const uint16_t*, uint16_t,
                                                            int32_t, GX_Pixel16*, std::ptrdiff_t, bool,
                                                            bool);
extern template void GXp_BlendColourNormalRowScalar<GXp_Px8>(const GX_Pixel8&, const uint8_t*,
                                                             uint8_t, int32_t, GX_Pixel8*);
extern template void GXp_BlendColourNormalRowScalar<GXp_Px16>(const GX_Pixel16&,
                                                              const uint16_t*, uint16_t,
                                                              int32_t, GX_Pixel16*);
extern template void GXp_BlendColourNormalRowScalar<GXp_PxF>(const GX_PixelFloat&, const float*,
                                                             float, int32_t, GX_PixelFloat*);
///@}

/// Single-channel transfer through a mask. For each (x, y) in `srcRect`, with
/// s = src(x, y), m = mask(x, y) (the mask is addressed by source coordinates; null
/// means full coverage) and d the destination sample at
/// dstPoint + (x − srcRect.left, y − srcRect.top):
///   d = d + (B(d, s) − d) × m
/// with B the mode's blend on one channel (Copy and Normal: s; Erase: 0; Dissolve:
/// s where the pixel's threshold is below m, else d unchanged). `srcRect` is clipped
/// to the source and the mask, the destination to its buffer.
/// Answers GX_Err_BadArgument for a null source or destination, GX_Err_BadDepth when
/// the three depths differ, GX_Err_BadMode for an invalid mode, or the progress
/// callback's code when it cancels (reports every 64 rows).
int32_t GX_TransferUnoBuffers(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                              const GX_UnoBuffer* mask, int32_t mode, const V_LRect& srcRect,
                              const V_LPoint& dstPoint, GX_UnoBuffer* dst);

/// 4-channel transfer of a source rectangle into a destination through a mask.
///
/// Source pixel (srcRect.left + i, srcRect.top + j) lands on destination pixel
/// (destX + i, destY + j). The coverage of destination pixel (X, Y) is the first
/// channel of mask pixel (X − mask->x, Y − mask->y), 0 outside the mask layer; a null
/// mask is full coverage. The blend is settings.mode at settings.opacity
/// (host/gx/gx_modes.h), through `tables` when given. Everything is clipped to the
/// source, the destination and the mask.
///
/// `quality`: 0 draft or 1 high; a transfer does not resample, so both give the same
/// pixels. `useSourceAlpha`: 1 blends with the source's alpha, 0 treats the source as
/// opaque. `ditherSeed`: mixed into Dissolve's per-position threshold, so two layers
/// dissolved with different seeds do not share a pattern. A null `src` is a fully
/// transparent source (Copy then clears the covered destination).
///
/// Answers 0; GX_Err_BadArgument for a null destination, a quality or useSourceAlpha
/// other than 0 or 1, or a non-finite opacity; GX_Err_BadDepth when source, mask and
/// destination depths differ or are unknown; GX_Err_BadMode for an invalid mode; the
/// progress callback's code when it cancels (reports every 64 rows).
int32_t GX_TransferRect(GX_ProgressInfo* progress, int32_t quality, int32_t useSourceAlpha,
                        int32_t ditherSeed, const V_LRect& srcRect, const GX_LayerDef* src,
                        const GX_TransferSettings& settings,
                        const GX_LinearBlendingTables* tables, const GX_MaskRecord* mask,
                        int32_t destX, int32_t destY, GX_LayerDef* dest);
