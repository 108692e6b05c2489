// SPDX-License-Identifier: MIT
#include "render/tip_cache.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "tips/mip_pyramid.h"

namespace {

// The tips computed last in the process, newest last.
class SharedTips {
public:
  struct Tip {
    Kp_TipCache::Key key;
    std::shared_ptr<const K_ComputedBrushTip> tip;
    std::shared_ptr<const K_BrushMIPMap> map;  ///< never drawn through: its pyramid is shared
    std::size_t bytes = 0;
  };

  bool Find(const Kp_TipCache::Key& key, Tip* found) {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = tips.size(); i-- > 0;) {
      if (!(tips[i].key == key)) continue;
      *found = tips[i];
      std::rotate(tips.begin() + std::ptrdiff_t(i), tips.begin() + std::ptrdiff_t(i) + 1, tips.end());
      return true;
    }
    return false;
  }

  void Add(Tip tip) {
    if (tip.bytes > Kp_TipCache::kSharedBytes) return;
    std::vector<Tip> gone;  // released after the lock
    std::lock_guard<std::mutex> lock(mutex);
    while (!tips.empty() &&
           (tips.size() >= Kp_TipCache::kSharedTips || held + tip.bytes > Kp_TipCache::kSharedBytes)) {
      held -= tips.front().bytes;
      gone.push_back(std::move(tips.front()));
      tips.erase(tips.begin());
    }
    held += tip.bytes;
    tips.push_back(std::move(tip));
  }

  void Clear() {
    std::vector<Tip> gone;
    std::lock_guard<std::mutex> lock(mutex);
    gone.swap(tips);
    held = 0;
  }

private:
  std::mutex mutex;
  std::vector<Tip> tips;
  std::size_t held = 0;
};

// Never destroyed: a renderer held by another static object may still use it at exit.
SharedTips& Shared() {
  static SharedTips* const shared = new SharedTips();
  return *shared;
}

std::size_t BytesOf(const K_ComputedBrushTip& tip, const K_BrushMIPMap& map) {
  const GX_UnoBuffer* bitmap = tip.GetTip();
  const std::size_t tipBytes =
      bitmap ? std::size_t(bitmap->GetWidth()) * std::size_t(bitmap->GetHeight()) * std::size_t(bitmap->GetBytesPerSample())
             : 0;
  // The pyramid, and its paired rows, which hold each level twice over.
  return tipBytes + 3 * std::size_t(map.GetPyramid().allPlanesBytes);
}

}  // namespace

void Kp_ForgetSharedTips() { Shared().Clear(); }

void Kp_TipCache::Prepare(const Key& key) {
  if (tip && map && key == kept) return;
  drawn = false;
  map.reset();
  tip.reset();
  SharedTips::Tip shared;
  if (!Shared().Find(key, &shared)) {
    // Tracked allocation answers null when the host's allocator refuses.
    // The dither's noise comes from a generator of the renderer's own, seeded as every
    // call seeds it, so equal seeds give equal tips on any thread.
    K_TipNoise noise(static_cast<uint32_t>(key.seed));
    std::shared_ptr<const K_ComputedBrushTip> fresh(new K_ComputedBrushTip(
        key.diameter, key.hardness, key.roundness, 0.0, key.dither, key.deep, &noise));
    if (!fresh) throw std::bad_alloc();
    std::shared_ptr<const K_BrushMIPMap> freshMap(new K_BrushMIPMap(*fresh));
    if (!freshMap) throw std::bad_alloc();
    shared = SharedTips::Tip{key, std::move(fresh), std::move(freshMap), 0};
    shared.bytes = BytesOf(*shared.tip, *shared.map);
    Shared().Add(shared);
    ++computed;
  }
  std::unique_ptr<K_BrushMIPMap> own(new K_BrushMIPMap(*shared.map, K_BrushMIPMap::SharePyramid{}));
  if (!own) throw std::bad_alloc();
  tip = std::move(shared.tip);
  map = std::move(own);
  kept = key;
  ++changes;
}

GX_UnoBuffer& Kp_TipCache::Scratch(int32_t width, int32_t height, int32_t depth) {
  if (!scratch || scratch->GetWidth() != width || scratch->GetHeight() != height || scratch->GetDepth() != depth) {
    drawn = false;
    scratch.reset();
    scratch.reset(new GX_UnoBuffer(width, height, depth));
  }
  return *scratch;
}
