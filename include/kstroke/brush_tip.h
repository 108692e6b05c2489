// SPDX-License-Identifier: MIT
/// @file
/// Brush tips: a single-channel coverage bitmap with a hot spot, and the computed soft
/// round or elliptical tip the stamping loop draws every dab from.
///
/// Geometry units: the hot spot and the tip's semi-axes are in quarter pixels; the
/// bitmap's pixel (0, 0) is its top-left corner. Coverage is 0..255 at 8 bits and
/// 0..32768 at 16 bits (32768 = full).
#pragma once

#include <cstdint>

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "host/y/y.h"
#include "kstroke/kstroke_export.h"

/// A coverage bitmap with a hot spot. Owns its buffer.
class KSTROKE_API K_BrushTip : public Y_MemTrackedObject {
public:
  /// No buffer, hot spot (0, 0).
  K_BrushTip() = default;
  ~K_BrushTip() override;
  K_BrushTip(const K_BrushTip&) = delete;
  K_BrushTip& operator=(const K_BrushTip&) = delete;

  /// The bitmap, or null before one is allocated.
  const GX_UnoBuffer* GetTip() const { return tipBuffer; }
  /// (width, height) of the bitmap. Needs a buffer.
  V_Vector2T<short> GetExtent() const;
  /// True when the bitmap has 16 bits per sample. Needs a buffer.
  bool IsDeep() const;
  /// The tip's centre in quarter pixels from the bitmap's top-left corner.
  V_Vector2T<short> GetHotSpot() const { return hotSpot; }
  /// Moves the centre, in quarter pixels from the top-left corner; the bitmap stays.
  void SetHotSpot(V_Vector2T<short> spot) { hotSpot = spot; }

  /// Resamples the bitmap in place by `scale` (x, y) through the tip's MIP pyramid and
  /// the tip rasterizer: the new size is ceil(w × scale.x) × ceil(h × scale.y) with the
  /// tip centred in it, never thinner than 0.26 pixel. Scale (1, 1) leaves the buffer
  /// object untouched. The hot spot is kept.
  ///
  /// Throws 3 after reporting a one-line message when a factor is zero, negative or not
  /// finite, or when the new size would exceed 30000 samples a side (the rasterizer's
  /// coordinate range); throws the host's code when clearing the new buffer fails.
  /// On any failure the tip keeps its old buffer.
  void Rescale(V_Vector2T<double> scale);

protected:
  /// Replaces the buffer by a new, uninitialised one of `size` at 16 bits when `deep`,
  /// else 8, then calls ClearTipOutline. Allocation failures propagate as
  /// std::bad_alloc; the old buffer is kept then.
  void AllocateTipBuffer(V_Vector2T<short> size, bool deep);
  /// Runs after every allocation. Nothing is cached from the bitmap in this library,
  /// so there is nothing to clear; kept so every allocation has one place to hook.
  void ClearTipOutline() {}

  GX_UnoBuffer* tipBuffer = nullptr;  ///< the bitmap, owned; null before the first allocation
  V_Vector2T<short> hotSpot{0, 0};    ///< the centre, quarter pixels from the top-left corner
};

/// The dithering noise of computed tips: the sequence the GNU C library's rand() gives
/// after srand(seed) (its additive feedback generator, x[i] = x[i−3] + x[i−31] mod 2³²,
/// answering x[i] >> 1, seeded through the 16807 congruential generator with the first
/// 310 answers discarded). Kept in the object rather than in the C library's global
/// state, so renders on different threads draw their own numbers, and equal on every
/// platform. A seed of 0 counts as 1, as there.
class KSTROKE_API K_TipNoise {
public:
  /// The sequence from `seed`.
  explicit K_TipNoise(uint32_t seed = 1) { Seed(seed); }
  /// Restarts the sequence, as srand(seed) does.
  void Seed(uint32_t seed);
  /// The next number, 0..2³¹ − 1, as rand() answers.
  int32_t Next();

private:
  int32_t state[31];
  int front = 3;  ///< index of the x[i−3] term; the x[i−31] term is `rear`
  int rear = 0;
};

/// A round or elliptical soft tip computed with integer fixed point.
///
/// Out-of-range inputs are clamped rather than reported: `diameter` below 0.5 (or not a
/// number) counts as 0.5; hardness and roundness that are not numbers count as 0, and
/// hardness beyond 0..1 counts as 0 or 1: a softer than soft or harder than hard tip
/// has no meaning, and past about 2.5 the semi-axis would turn negative. Roundness is
/// limited to ±1e6 before it is truncated to whole percent. The angle is truncated to
/// whole degrees as it is (an angle that is not a number counts as 0); one beyond the
/// 32-bit range is first brought within it by whole turns, which draws the same tip.
/// The drawn angle is taken modulo 360, so a and a + 360·k draw the same tip.
/// Semi-axes are clamped to 16 bits and the soft-edge width to 1..65535.
///
/// Dithering: each 8-bit edge pixel adds noise 0..127 taken as (Next() & 0x7FFF) >> 8
/// from `noise`, one number per edge pixel in row order. Without `noise` the tip draws
/// from a generator of its own seeded with 1, so an undithered host gets the same tip
/// every time. Dithering has no effect at 16 bits.
class KSTROKE_API K_ComputedBrushTip : public K_BrushTip {
public:
  /// `hardness` and `roundness` are fractions (1.0 = 100 %), `angle` is in degrees
  /// (positive turns the ellipse's long axis from +x toward −y on the y-down bitmap).
  /// Builds the bitmap at once; allocation failures propagate as std::bad_alloc.
  K_ComputedBrushTip(double diameter, double hardness, double roundness, double angle,
                     bool dither, bool deep, K_TipNoise* noise = nullptr);

  /// Width and height of a box that holds this tip drawn at `scale` under any rotation,
  /// its width divided by `pixelAspect`. Each side is clamped to 0..32767.
  V_Vector2T<short> GetMaximumExtent(double pixelAspect, V_Vector2T<double> scale) const;

  /// Diameter in pixels, at least 0.5.
  double GetDiameter() const { return diameter; }
  /// trunc(hardness × 100), 0..100.
  int32_t GetHardnessPercent() const { return hardnessPercent; }
  /// trunc(roundness × 100).
  int32_t GetRoundnessPercent() const { return roundnessPercent; }
  /// trunc(angle + 0.5), toward zero.
  int32_t GetAngleDegrees() const { return angleDegrees; }

private:
  double diameter;
  int32_t hardnessPercent;
  int32_t roundnessPercent;
  int32_t angleDegrees;
};
