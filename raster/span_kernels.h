// SPDX-License-Identifier: MIT
// MIP-sampled span kernels: the inner loops of the tip rasterizer.
//
// Texture coordinates u (along a row) and v (down a column) are signed 32-bit 16.16
// values in level-0 sample units; coordinate sums wrap modulo 2^32. At level k the
// sample index is coord >> (16 + k) (arithmetic) and the 8-bit fraction is
// (coord >> (8 + k)) & 255. Sample i of level k stands at level-0 position i × 2^k, and
// its pixel centre is the sample itself: u = i samples the stored value unblended.
//
// Weighted sums are reduced by Kp_Div255: t = Σ sample × weight + 128, then
// (t + (t >> 8)) >> 8, which divides by 255 with rounding and is exact for equal
// neighbours. Interpolation weights are 255 − f and f (not 256 − f).
//
// Every kernel overwrites each destination sample it is given and never reads the
// destination. Each exists as a scalar reference written straight from the sampling
// rules (namespace kp_ref) and a fast form with the row test hoisted, unit-step
// shortcuts and whole-row clears; both must agree bit for bit.
#pragma once

#include <cstdint>

#include "tips/mip_pyramid.h"

struct Kp_PyramidInk;
struct Kp_PairedRows;
struct Kp_RowMemo;

using Fx16 = int32_t;  // 16.16 fixed point
constexpr Fx16 kFx16One = 1 << 16;

struct Px8 {
  using Value = uint8_t;
  static constexpr int32_t kFull = 255;
};
struct Px16 {
  using Value = uint16_t;
  static constexpr int32_t kFull = 32768;
};

/// Rounded division by 255 of a weighted sum (the +128 is added here). Inputs up to
/// 2 × 32768 × 255 keep t far inside 32 bits.
inline uint32_t Kp_Div255(uint32_t sum) noexcept {
  const uint32_t t = sum + 128;
  return (t + (t >> 8)) >> 8;
}

/// The blend weight of level L + 1 against level L for a scale s (16.16) between
/// 2^−(L+1) and 2^−L: 0 at s = 65536 >> L, 255 at s = 65536 >> (L + 1). One division,
/// once per call.
int32_t Kp_TrilinearWeight(int32_t level, Fx16 scale) noexcept;

struct Kp_SpanArgs {
  const Kp_MIPPyramid* pyramid = nullptr;
  int32_t level = 0;      ///< L: the (finer) level sampled
  Fx16 scale = kFx16One;  ///< picks the blend weight of the trilinear kernels
  int32_t count = 0;      ///< samples per row
  Fx16 u = 0, du = 0;     ///< start and step per sample
  Fx16 v = 0;             ///< start
  Fx16 dv = 0;            ///< row kernels: step per sample; block kernels: step per row
  int32_t rows = 1;       ///< block kernels
  int32_t rowBytes = 0;   ///< block kernels: destination bytes from row to row
  /// Where the pyramid holds ink (raster/tip_ink.h), or null. The fast kernels write
  /// zeros without sampling where none can reach; the reference ignores it.
  const Kp_PyramidInk* ink = nullptr;
  /// The pyramid's paired rows (raster/turned_spans.h), or null; the vector kernels of
  /// turned rows need them and take the 16-byte path without.
  const Kp_PairedRows* paired = nullptr;
  /// Row kernels of turned dabs keep per-dab constants here between the rows of one
  /// draw (raster/turned_spans.h), or work them out per row when null.
  Kp_RowMemo* memo = nullptr;
};

/// A row kernel or a block kernel with the destination as raw bytes.
using Kp_SpanProc = void (*)(const Kp_SpanArgs& a, void* dst) noexcept;

/// One row of a batch for the turned-row kernels: what differs from row to row.
struct Kp_RowArgs {
  int32_t count;
  Fx16 u, du, v, dv;
  void* dst;
};
/// Several rows of one dab in one call: `common` gives the pyramid, level, scale, ink,
/// paired rows and memo; each row its own count, coordinates and destination.
using Kp_RowsProc = void (*)(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) noexcept;

// Fast kernels ---------------------------------------------------------------------

/// One row: sample i at (u + i·du, v + i·dv) at level L. With dv = 0 the row is tested
/// once: a level-L row index below −1 or at least h(L) clears the whole run.
template <class P>
void BilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// One row blending levels L and L + 1 (level L + 1 must exist). Same row rule.
template <class P>
void TrilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// The row kernels with 32-byte vectors for rows along which v changes, where the
/// processor has AVX2; elsewhere the forms above.
template <class P>
void BilinearSpanAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void TrilinearSpanAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// `rows` rows of `count` samples: row j samples v = v + j·dv with the same u run.
/// Each level row is blended across once and kept for the rows that share it
/// (raster/scaled_blocks.h).
template <class P>
void BilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// BilinearBlock with 32-byte vectors where the processor has AVX2 (the same results:
/// the arithmetic is integer and identical); elsewhere BilinearBlock.
template <class P>
void BilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void TrilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// TrilinearBlock with 32-byte vectors where the processor has AVX2.
template <class P>
void TrilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
/// Destination (i, j) = level-0 sample (x0 + i, y0 + j), or 0 outside the bitmap. The
/// sample size comes from the pyramid header.
void CopyBlock(const Kp_MIPPyramid& pyramid, int32_t x0, int32_t y0, int32_t count,
               int32_t rows, int32_t rowBytes, void* dst) noexcept;

/// A typed kernel as a Kp_SpanProc.
template <class P, void (*kKernel)(const Kp_SpanArgs&, typename P::Value*) noexcept>
void Kp_Erased(const Kp_SpanArgs& a, void* dst) noexcept {
  kKernel(a, static_cast<typename P::Value*>(dst));
}

/// Fast kernels by depth (index 0: 8 bits, 1: 16 bits).
struct Kp_KernelTable {
  Kp_SpanProc bilinearSpan, trilinearSpan, bilinearBlock, trilinearBlock;
  /// Row kernels for rows with dv != 0 that raise each destination sample m to
  /// max(m, min(s, full)) instead of storing s, leaving it where s is 0 (Kp_UnitBlockRaise
  /// for turned dabs); null where the table has none. They need a.paired.
  Kp_SpanProc bilinearSpanRaise = nullptr, trilinearSpanRaise = nullptr;
  /// The row kernels (storing, then raising) for a batch of rows, each row as its span
  /// kernel above would draw it, with the per-dab set-up made once; null where the table
  /// has none. They need a.paired.
  Kp_RowsProc bilinearRows = nullptr, trilinearRows = nullptr;
  Kp_RowsProc bilinearRowsRaise = nullptr, trilinearRowsRaise = nullptr;
};
/// The vector widths a kernel table may use, narrowest first.
enum class Kp_Vectors {
  k16Byte,  ///< SSE2, which every x86-64 processor has
  kAvx2,    ///< 32-byte vectors
  kAvx512,  ///< AVX2, and AVX-512 (F, BW, VL) for the 8-bit turned rows
};
/// The widest vectors this processor has.
const Kp_KernelTable& Kp_Kernels(bool deep) noexcept;
/// The reference kernels in a table (tests).
const Kp_KernelTable& Kp_ReferenceKernels(bool deep) noexcept;
/// The forms up to `widest`, narrower where the processor lacks them (tests hold each
/// width against the others).
const Kp_KernelTable& Kp_KernelsFor(bool deep, Kp_Vectors widest) noexcept;
/// True when the processor runs AVX2, this build has the AVX2 forms, and the portable
/// path is not forced (Kp_PortableForced). Decided once per process.
bool Kp_HasAvx2() noexcept;
/// True when Kp_HasAvx2() and the processor and system run AVX-512 F, BW and VL.
bool Kp_HasAvx512() noexcept;
/// True when the environment variable KSTROKE_PORTABLE is set to anything but "" or
/// "0": every path picked by the processor's features at run time (the AVX2 and AVX-512
/// kernels and the AVX2 build of the scan, raster/tip_raster.cpp) gives way to the one
/// every x86-64 processor runs (SSE2, which x86-64 includes, is chosen at build time,
/// not here). The pixels are the same either way; the variable is there to show it, and
/// to rule the vector paths out when frames from different machines are compared. Read
/// once.
bool Kp_PortableForced() noexcept;

/// BilinearBlock's level-0 unit-step case, but each result s raises the destination
/// sample m to max(m, min(s, full)) instead of replacing it, and samples outside the
/// bitmap (zeros) are not written: an opaque dab taken straight into a paint mask.
/// Answers false, having written nothing, when the block is not that case (or without
/// SSE2). `avx2` false: the 16-byte form even where AVX2 is present.
bool Kp_UnitBlockRaise(bool deep, bool avx2, const Kp_SpanArgs& a, void* dst) noexcept;

// Reference kernels ----------------------------------------------------------------

namespace kp_ref {
/// Bilinear sample of level k at (u, v); 0 when the index is below −1 or past the last
/// sample on either axis.
template <class P>
uint32_t BilinearSample(const Kp_MIPPyramid& p, int32_t k, Fx16 u, Fx16 v) noexcept;
template <class P>
void BilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void TrilinearSpan(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void BilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void TrilinearBlock(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
void CopyBlock(const Kp_MIPPyramid& pyramid, int32_t x0, int32_t y0, int32_t count,
               int32_t rows, int32_t rowBytes, void* dst) noexcept;
}  // namespace kp_ref
