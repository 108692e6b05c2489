// SPDX-License-Identifier: MIT
/// @file
/// K_CheckoutManager: the host's hook for supplying a clone source's source layer.
#pragma once

#include "kstroke/kstroke_export.h"

class K_ClonePaintSource;

/// Implemented by the host, never by the engine. A clone source shares its manager
/// (boost::shared_ptr) and calls it only from DoLayerCheckout / DoLayerCheckin, which
/// the host itself invokes around rendering. What a check-out renders, and whether it
/// calls K_ClonePaintSource::SetSourceWorld, is the host's business.
class KSTROKE_API K_CheckoutManager {
public:
  /// Makes the source layer's pixels available to `source` (first virtual slot).
  virtual void CheckOut(K_ClonePaintSource* source) = 0;
  /// Releases what the last check-out took.
  virtual void CheckIn() = 0;
  // Declared after the two operations so that they keep the first two virtual slots.
  virtual ~K_CheckoutManager() = default;
};
