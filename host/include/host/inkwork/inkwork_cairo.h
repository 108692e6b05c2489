// SPDX-License-Identifier: MIT
/// @file
/// The drawing interface on Cairo: image surfaces are Cairo ARGB32 image surfaces.
#pragma once

#include "host/inkwork/inkwork.h"

namespace kelvo {
namespace inkwork {

/// Supplier whose surfaces draw with Cairo into 8-bit premultiplied images. Holds no
/// state, so one instance may serve any number of drawings.
class CairoSupplier : public SupplierInterface {
public:
  /// A plain Path::Create() and Pen::Create(): paths and pens hold no Cairo state.
  ///@{
  PathP MakePath() override;
  PenP MakePen(const Color& color, float width) override;
  ///@}
  SurfaceP MakeImageSurface(int32_t width, int32_t height, int32_t options) override;
};

}  // namespace inkwork
}  // namespace kelvo
