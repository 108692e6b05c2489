// SPDX-License-Identifier: MIT
#include "render/tip_cache.h"

#include <new>

void Kp_TipCache::Prepare(const Key& key) {
  if (tip && map && key == kept) return;
  drawn = false;
  map.reset();
  tip.reset();
  // Tracked allocation answers null when the host's allocator refuses.
  // The dither's noise comes from a generator of the renderer's own, seeded as every
  // call seeds it, so equal seeds give equal tips on any thread.
  K_TipNoise noise(static_cast<uint32_t>(key.seed));
  std::unique_ptr<K_ComputedBrushTip> fresh(new K_ComputedBrushTip(
      key.diameter, key.hardness, key.roundness, 0.0, key.dither, key.deep, &noise));
  if (!fresh) throw std::bad_alloc();
  std::unique_ptr<K_BrushMIPMap> freshMap(new K_BrushMIPMap(*fresh));
  if (!freshMap) throw std::bad_alloc();
  tip = std::move(fresh);
  map = std::move(freshMap);
  kept = key;
  ++computed;
}

GX_UnoBuffer& Kp_TipCache::Scratch(int32_t width, int32_t height, int32_t depth) {
  if (!scratch || scratch->GetWidth() != width || scratch->GetHeight() != height || scratch->GetDepth() != depth) {
    drawn = false;
    scratch.reset();
    scratch.reset(new GX_UnoBuffer(width, height, depth));
  }
  return *scratch;
}
