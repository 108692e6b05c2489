// SPDX-License-Identifier: MIT
// The computed tip and its MIP map of the last render call, kept for the next one. A
// stroke delivered a few pointer events at a time calls Render again and again with
// the same brush; computing its tip is then most of each call's work. A computed tip
// is a function of its parameters (a dithered one also of the seed, which restarts the
// standard generator just before), so the kept tip is exactly the one the call would
// compute. NOTE: a call that keeps its tip draws no numbers from std::rand.
//
// Tips are also shared between renderers: a painter draws stroke after stroke with one
// brush, and each stroke has a renderer of its own, whose first call would compute
// the tip and its pyramid again (a fifth of a 300-pixel soft stroke drawn in one call
// at 16 bits). The last few tips computed in the process, up to kSharedBytes, are kept
// for the renderers after (Kp_ForgetSharedTips lets them go). A shared tip and
// pyramid are never written; each cache draws through a map of its own.

//
// It also keeps the scratch buffer dabs are drawn aside into, with the last dab drawn
// there. A call stamps the previous call's provisional last dab again, often at the
// same place and size (the path has not moved under it); its drawing is then already
// in the buffer, and only the accumulation, which the flow changes, is done again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kstroke/brush_mipmap.h"
#include "kstroke/brush_tip.h"

class Kp_TipCache {
public:
  /// What a computed tip depends on; the seed only when dithered.
  struct Key {
    double diameter = 0, hardness = 0, roundness = 0;
    bool dither = false, deep = false;
    int32_t seed = 0;

    bool operator==(const Key& o) const {
      return diameter == o.diameter && hardness == o.hardness && roundness == o.roundness &&
             dither == o.dither && deep == o.deep && (!dither || seed == o.seed);
    }
  };

  /// What a dab drawn aside depends on besides the tip: the arguments of the map's
  /// SetTransform and the scratch buffer's size.
  struct DabKey {
    double scaleX = 0, scaleY = 0, angle = 0, roundness = 0, aspect = 0, centreX = 0, centreY = 0;
    int32_t width = 0, height = 0;

    bool operator==(const DabKey& o) const {
      return scaleX == o.scaleX && scaleY == o.scaleY && angle == o.angle && roundness == o.roundness &&
             aspect == o.aspect && centreX == o.centreX && centreY == o.centreY && width == o.width &&
             height == o.height;
    }
  };

  /// Tips shared between caches: at most this many, of at most kSharedBytes in all
  /// (the bitmaps and pyramids); a larger tip is not shared.
  static constexpr std::size_t kSharedTips = 8;
  static constexpr std::size_t kSharedBytes = std::size_t(64) << 20;

  /// Makes the kept tip and map those of `key` when the key changed: the shared ones of
  /// that key, or computed (and shared). Throws std::bad_alloc; then nothing is kept.
  void Prepare(const Key& key);
  /// The scratch buffer for dabs drawn aside: `width` × `height` at `depth` bits, made
  /// afresh (contents undefined) when the kept one has another size. Throws
  /// std::bad_alloc.
  GX_UnoBuffer& Scratch(int32_t width, int32_t height, int32_t depth);
  /// True when the scratch buffer holds, within the dab's rendered bounds, the kept
  /// map drawn as `dab` says.
  bool Holds(const DabKey& dab) const { return drawn && drawnKey == dab; }
  /// Records that the scratch buffer now holds `dab` (after RenderInto), or, before it
  /// is written, that it holds none.
  void Drew(const DabKey& dab) {
    drawnKey = dab;
    drawn = true;
  }
  void Forget() { drawn = false; }
  const K_ComputedBrushTip& Tip() const { return *tip; }
  K_BrushMIPMap& Map() { return *map; }
  /// How many times Prepare has changed the kept tip (tests).
  int32_t Changes() const { return changes; }
  /// How many tips Prepare has computed rather than found shared (tests).
  int32_t Computed() const { return computed; }

private:
  Key kept;
  int32_t changes = 0, computed = 0;
  std::shared_ptr<const K_ComputedBrushTip> tip;
  std::unique_ptr<K_BrushMIPMap> map;
  std::unique_ptr<GX_UnoBuffer> scratch;
  DabKey drawnKey;
  bool drawn = false;
};

/// Lets go of the tips shared between render calls' caches (Kp_TipCache): under memory
/// pressure, or before counting the tracked objects left.
void Kp_ForgetSharedTips();
