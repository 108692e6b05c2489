// SPDX-License-Identifier: MIT
// Where a render call changed the paint mask, so that restoring and compositing can
// pass over the parts of its area that the call left as they were.
//
// A call's area is the union of its dabs, but most of a large dab lands where earlier
// dabs have already raised the mask as far as it goes: a round brush of 200 pixels
// moving 30 pixels a call changes a crescent, yet its area is the whole dab and more.
// Restoring the layer under all of it and compositing all of it again costs several
// times what the crescent does, call after call. Between calls of one stroke the
// layer under the mask holds the composite of the pre-stroke pixels through the mask,
// so a pixel whose mask sample did not change would be composited to what it holds.
//
// The renderer keeps the mask under a large call's dabs as it was before stamping and
// compares after: each band of kBandRows rows gets the columns from its leftmost to its
// rightmost changed sample. Compositing those bands leaves every pixel as compositing
// the whole area would. The pixels are the same either way; only the work differs, so
// the size thresholds below are free to move.
#pragma once

#include <cstdint>
#include <vector>

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "kstroke/transform.h"

struct Kp_MaskChanges {
  /// Rows per band: a band is one composite call, so a few per dab.
  static constexpr int32_t kBandRows = 16;
  /// A call's rectangle of fewer samples than this is composited whole: below it the
  /// bands' saving does not pay for the copy and the comparison.
  static constexpr int64_t kMinSamples = 96 * 96;
  /// Bands are used when they cover at most this share of the area, in quarters.
  static constexpr int64_t kMaxQuarters = 3;
  /// Calls that composite whole after bands did not pay: a stroke whose every dab
  /// changes all it covers (flow below full, say) keeps changing everything, so it is
  /// only looked at again now and then.
  static constexpr int32_t kRestCalls = 3;

  /// What compositing depends on besides the mask and the pre-stroke pixels: a call
  /// whose settings differ from the previous call's composites its whole area.
  struct Settings {
    GX_LayerDef* layer = nullptr;
    void* pixels = nullptr;
    V_Rect destRect, layerBounds;
    int32_t transferMode = 0, targetChannel = 0;
    K_Transform transform;
    bool operator==(const Settings& o) const;
  };

  /// True while the layer holds the composite of the pre-stroke pixels through the
  /// whole mask wherever the mask has changed since the stroke began. Any step that
  /// could break that (a call that fails, a phase called on its own, a mask or source
  /// swapped) clears it for the rest of the stroke.
  bool inSync = false;
  /// Whether a call (or a phase on its own) has run.
  bool begun = false;
  /// The settings of the last completed call.
  Settings last;
  bool haveLast = false;

  /// Whether this call should keep and compare: false for kRestCalls calls after bands
  /// did not pay.
  bool Due() {
    if (rest == 0) return true;
    --rest;
    return false;
  }
  /// Keeps the samples of `rect` (mask coordinates, inside the mask) as they are now,
  /// when it is large enough; otherwise holds nothing. `rect` must be valid in the
  /// mask's lazy tiles.
  void Keep(const GX_UnoBuffer& mask, const V_LRect& rect);
  /// Whether Keep held a rectangle.
  bool Holding() const { return holding; }
  /// After the stamping: `bands` receives, for each band of the kept rectangle that
  /// changed, its rows and the columns from its first to its last changed sample, cut
  /// to `area` (which holds every sample the call wrote). Answers whether compositing
  /// the bands pays: something was kept and they cover at most kMaxQuarters quarters
  /// of the area. Drops the kept rectangle (its memory stays for the next call).
  bool Finish(const GX_UnoBuffer& mask, const V_LRect& area);

  std::vector<V_LRect> bands;
  /// What the last Finish answered.
  bool useBands = false;

private:
  int32_t rest = 0;
  bool holding = false;
  V_LRect rect{0, 0, 0, 0};
  int32_t bytesPerSample = 1;
  GX_Block before;
};

/// Leftmost and rightmost byte where two rows of `n` bytes differ: [*first, *last] in
/// byte indices; false when they are equal.
bool Kp_RowDifference(const unsigned char* a, const unsigned char* b, int32_t n, int32_t* first,
                      int32_t* last) noexcept;
/// Kp_RowDifference in the sixteen-byte form, or with `avx2` (where the processor runs
/// it) thirty-two bytes at a time for rows of 32 bytes or more; the same answers.
bool Kp_RowDifferenceForm(const unsigned char* a, const unsigned char* b, int32_t n, int32_t* first,
                          int32_t* last, bool avx2) noexcept;
