// SPDX-License-Identifier: MIT
/// @file
/// K_Transform: the destination layer's transform, as the clone source reads it.
#pragma once

#include "host/v/v.h"

/// Eight doubles, in this order. Fractions refer to the destination rectangle's width
/// and height; angles are in degrees (V_Matrix3::Rotate). The defaults are the
/// identity placement.
struct K_Transform {
  V_Vector2T<double> anchor{0.0, 0.0};    ///< anchor point, fractions of the destination
  V_Vector2T<double> position{0.0, 0.0};  ///< where the anchor lands, same fractions
  V_Vector2T<double> scale{1.0, 1.0};     ///< 1 = unscaled
  double rotation = 0.0;                  ///< degrees
  double pixelAspect = 1.0;               ///< the destination's pixel aspect ratio

  /// Field by field; a field added above belongs here too.
  bool operator==(const K_Transform& o) const {
    return anchor == o.anchor && position == o.position && scale == o.scale && rotation == o.rotation &&
           pixelAspect == o.pixelAspect;
  }
};
