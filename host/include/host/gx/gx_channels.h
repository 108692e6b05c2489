// SPDX-License-Identifier: MIT
/// @file
/// Channel and rectangle moves: one channel out of or into 4-channel pixels, depth
/// conversion of a single-channel buffer, rectangle copies and alpha clearing.
#pragma once

#include "host/gx/gx.h"
#include "host/v/v.h"

#include <cstdint>

/// Copies the first channel (alpha) of 4-channel pixels into a single-channel plane.
/// Source pixel (srcOrigin.x + i, srcOrigin.y + j), `srcPixelBytes` apart in a row
/// and `srcRowBytes` between rows, goes to sample (dstOrigin.x + i, dstOrigin.y + j)
/// of a plane of `dstRowBytes` per row, for i < size.x, j < size.y. No clipping: the
/// caller keeps both regions inside their images. T is unsigned char, unsigned short
/// or float. Answers 0, or GX_Err_BadArgument for null data with a non-empty size,
/// a negative size, or a pixel stride smaller than one sample.
template <class T>
int32_t GX_Deinterleave1(const void* src, int32_t srcPixelBytes, int32_t srcRowBytes, void* dst,
                         int32_t dstRowBytes, const V_Vector2T<int32_t>& size,
                         const V_LPoint& srcOrigin, const V_LPoint& dstOrigin);

/// The reverse: samples of a single-channel plane into the first channel (alpha) of
/// 4-channel pixels (4 × sizeof(T) bytes each); the other three channels are left as
/// they are. Same addressing and answers as GX_Deinterleave1.
template <class T>
int32_t GX_Interleave1to4(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes,
                          const V_Vector2T<int32_t>& size, const V_LPoint& srcOrigin,
                          const V_LPoint& dstOrigin);

/// Built once, in the library, for the three sample types; see the templates above.
///@{
extern template int32_t GX_Deinterleave1<unsigned char>(const void*, int32_t, int32_t, void*,
                                                        int32_t, const V_Vector2T<int32_t>&,
                                                        const V_LPoint&, const V_LPoint&);
extern template int32_t GX_Deinterleave1<unsigned short>(const void*, int32_t, int32_t, void*,
                                                         int32_t, const V_Vector2T<int32_t>&,
                                                         const V_LPoint&, const V_LPoint&);
extern template int32_t GX_Deinterleave1<float>(const void*, int32_t, int32_t, void*, int32_t,
                                                const V_Vector2T<int32_t>&, const V_LPoint&,
                                                const V_LPoint&);
extern template int32_t GX_Interleave1to4<unsigned char>(const void*, int32_t, void*, int32_t,
                                                         const V_Vector2T<int32_t>&,
                                                         const V_LPoint&, const V_LPoint&);
extern template int32_t GX_Interleave1to4<unsigned short>(const void*, int32_t, void*, int32_t,
                                                          const V_Vector2T<int32_t>&,
                                                          const V_LPoint&, const V_LPoint&);
extern template int32_t GX_Interleave1to4<float>(const void*, int32_t, void*, int32_t,
                                                 const V_Vector2T<int32_t>&, const V_LPoint&,
                                                 const V_LPoint&);
///@}

/// Converts the region `rect` of an 8- or 16-bit buffer into the same region of a
/// float buffer: value / `fullValue`, so `fullValue` maps to 1.0 (the deep paint mask
/// passes 32768). Both buffers are addressed by the same coordinates; the region is
/// clipped to both and the rest of `dst` is left alone. Answers 0, GX_Err_BadArgument
/// for a null buffer or `fullValue` < 1, GX_Err_BadDepth when `src` is float or
/// `dst` is not, or the progress callback's code (reports every 64 rows).
int32_t GX_ConvertDeepUnoBuffer(GX_ProgressInfo* progress, const GX_UnoBuffer* src,
                                const V_LRect& rect, int32_t fullValue, GX_UnoBuffer* dst);

/// Copies `srcRect` of `src` onto `dstRect` of `dst` (same depth). Equal sizes copy
/// pixel for pixel; different sizes scale by nearest neighbour (the draft quality the
/// name promises: sample centres at +0.5). Source pixels outside `src` are not
/// copied and the destination is clipped to `dst`, so parts outside either layer are
/// left alone. The two regions must not overlap in memory. Answers 0,
/// GX_Err_BadArgument for a null layer, GX_Err_BadDepth when the depths differ or are
/// unknown, or the progress callback's code (every 64 rows).
int32_t GX_CopyBits_Draft(GX_ProgressInfo* progress, const GX_LayerDef* src, GX_LayerDef* dst,
                          const V_LRect& srcRect, const V_LRect& dstRect);

/// Sets the alpha of every pixel of `layer` outside `keep` to 0; colour and the
/// pixels inside are left as they are. An empty `keep` clears the whole layer's
/// alpha. Answers 0, GX_Err_BadArgument for a null layer, GX_Err_BadDepth for an
/// unknown depth, or the progress callback's code (every 64 rows; `progress` may be
/// null).
int32_t GX_ClearAlphaExceptRect(GX_ProgressInfo* progress, const V_LRect& keep,
                                GX_LayerDef* layer);
