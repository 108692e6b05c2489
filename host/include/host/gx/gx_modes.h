// SPDX-License-Identifier: MIT
/// @file
/// Numbers of the host's transfer (blend) modes and paint-mask accumulation modes.
/// These numbers cross the engine boundary and are stored in stroke settings: never
/// renumber them.
#pragma once

#include <cstdint>

/// Transfer modes, the index of the transfer tables (host/gx/gx_transfer.h).
///
/// Colour is stored straight (not premultiplied by alpha). With w = mask × opacity
/// (0..1), source alpha sa' = sa × w, and B(cb, cs) the mode's blend of a backdrop
/// colour cb with a source colour cs, the separable modes composite as
///   ao = sa' + da × (1 − sa')
///   co = (sa' × ((1 − da) × cs + da × B(cb, cs)) + da × (1 − sa') × cb) / ao
/// (co = 0 when ao = 0). Normal is B = cs, which makes this plain source over.
enum class GX_TransferMode : int32_t {
  /// Source replaces destination, alpha included, weighted by w: a premultiplied
  /// mix d + (s − d) × w. A transparent source therefore erases where w is full.
  kCopy = -2,
  /// Unnumbered slots -1, 0 and 1 of the tables behave as Normal.
  kNormal = 2,      ///< source over
  /// Dithered mix: a pixel either takes the source colour at full alpha or is left
  /// alone; it is taken when a threshold in [0, 1) fixed per destination pixel is
  /// below sa × w. The
  /// threshold comes from a hash of the pixel's position (or address, for the
  /// per-pixel functions), so a render is repeatable and independent of threads.
  kDissolve = 3,
  kAdd = 4,         ///< B = min(1, cb + cs) (float: unclamped)
  kMultiply = 5,    ///< B = cb × cs
  kScreen = 6,      ///< B = cb + cs − cb × cs
  kOverlay = 7,     ///< B = 2 cb cs when cb ≤ ½, else screen(2 cb − 1, cs)
  kDarken = 8,      ///< B = min(cb, cs)
  kLighten = 9,     ///< B = max(cb, cs)
  kDifference = 10, ///< B = |cb − cs|
  /// Destination alpha becomes da × (1 − sa × w); colour is kept. The source colour
  /// plays no part, so a flat source erases by the mask.
  kErase = 11,
};

constexpr int32_t kGX_TransferModeFirst = -2;  ///< lowest valid table index
constexpr int32_t kGX_TransferModeLast = 11;   ///< highest valid table index
/// Entries of each transfer table (14), the unnumbered slots included.
constexpr int32_t kGX_TransferModeCount = kGX_TransferModeLast - kGX_TransferModeFirst + 1;

/// True for every index the transfer tables accept (-2..11, the unnumbered slots
/// -1, 0, 1 included).
constexpr bool GX_IsValidTransferMode(int32_t mode) {
  return mode >= kGX_TransferModeFirst && mode <= kGX_TransferModeLast;
}

/// How GX_AccumulateUnoBuffers lays one dab into the paint mask. With c the dab's
/// coverage and m the mask, both as fractions of full, and opacity, flow in 0..1:
enum class GX_AccumulateMode : int32_t {
  /// m += (opacity × c − m) × flow where m < opacity × c; otherwise m stays. Each dab
  /// raises the mask toward opacity × coverage by the fraction flow, so overlapping
  /// dabs build up but never past the opacity: opacity caps the stroke.
  kBuildUp = 0,
  /// m = min(full, m + c × opacity × flow): dabs add up without a cap below full.
  kAdditive = 1,
  /// m = max(m, c × opacity × flow): overlaps never darken; a stroke of even flow
  /// has an even tone.
  kMaximum = 2,
};

/// True for the GX_AccumulateMode values 0..2.
constexpr bool GX_IsValidAccumulateMode(int32_t mode) { return mode >= 0 && mode <= 2; }
