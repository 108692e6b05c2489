// SPDX-License-Identifier: MIT
// Helpers shared by the paint sources: depth dispatch, rectangle arithmetic on the
// host's 16-bit rectangles, and the check on tracked allocations.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "frame/errors.h"
#include "host/gx/gx.h"
#include "host/v/v.h"

/// The one message every depth check of the paint sources reports.
inline constexpr const char* kKp_UnknownDepthMessage = "Unknown world bitdepth in##CONDITIONNAME";

/// Tracked `new` answers null instead of throwing; the sources treat that as any other
/// allocation failure.
template <class T>
T* Kp_Checked(T* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

/// Reports the unknown-depth check (code 2425831) and throws 3 unless `depth` is 8, 16
/// or 32.
inline void Kp_CheckDepth(int32_t depth) {
  KSTROKE_CHECK_CODE(depth == 8 || depth == 16 || depth == 32, kK_DepthCheckReportCode,
                     kKp_UnknownDepthMessage);
}

/// The paint mask is read with the destination's sample type, so it must have the
/// destination's depth; reports and throws 3 otherwise.
inline void Kp_CheckMaskDepth(const GX_UnoBuffer& mask, int32_t depth) {
  if (mask.GetDepth() == depth) return;
  const std::string message = "paint mask depth " + std::to_string(mask.GetDepth()) +
                              " differs from destination depth " + std::to_string(depth);
  Kp_FailCheck(0, __LINE__, message.c_str());
}

/// Element types of one channel at each depth, for templated pixel code.
struct Kp_Depth8 {
  using Sample = unsigned char;
  using Pixel = GX_Pixel8;
};
struct Kp_Depth16 {
  using Sample = unsigned short;
  using Pixel = GX_Pixel16;
};
struct Kp_DepthF {
  using Sample = float;
  using Pixel = GX_PixelFloat;
};

/// Calls `f` with the tag of `depth`; any other depth fails the depth check.
template <class F>
void Kp_DispatchDepth(int32_t depth, F&& f) {
  switch (depth) {
    case 8:
      f(Kp_Depth8());
      return;
    case 16:
      f(Kp_Depth16());
      return;
    case 32:
      f(Kp_DepthF());
      return;
    default:
      Kp_CheckDepth(depth);
  }
}

inline V_LRect Kp_ToLRect(const V_Rect& r) { return V_LRect{r.left, r.top, r.right, r.bottom}; }
