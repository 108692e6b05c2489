// SPDX-License-Identifier: MIT
// The computed tip and its MIP map of the last render call, kept for the next one. A
// stroke delivered a few pointer events at a time calls Render again and again with
// the same brush; computing its tip is then most of each call's work. A computed tip
// is a function of its parameters (a dithered one also of the seed, which restarts the
// standard generator just before), so the kept tip is exactly the one the call would
// compute. NOTE: a call that keeps its tip draws no numbers from std::rand.
#pragma once

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

  /// Makes the kept tip and map those of `key`, computing them when the key changed.
  /// Throws std::bad_alloc; then nothing is kept.
  void Prepare(const Key& key);
  K_ComputedBrushTip& Tip() { return *tip; }
  K_BrushMIPMap& Map() { return *map; }
  /// How many tips Prepare has computed (tests).
  int32_t Computed() const { return computed; }

private:
  Key kept;
  int32_t computed = 0;
  std::unique_ptr<K_ComputedBrushTip> tip;
  std::unique_ptr<K_BrushMIPMap> map;
};
