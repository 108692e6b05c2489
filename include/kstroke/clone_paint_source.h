// SPDX-License-Identifier: MIT
/// @file
/// K_ClonePaintSource: paints pixels taken from a source layer under the clone transform.
///
/// Geometry. The source rectangle is where the source layer's pixels lie (source pixel
/// coordinates); the source point is a point of it as fractions of its width and height;
/// the source pixel aspect makes source pixels square. The source-to-destination matrix
/// is, in call order (V_Matrix3 composes in call order):
///   Translate(-s0 - o) · Scale(sourceAspect·scale.x, scale.y) · Rotate(rotation)
///   · Scale(1 / pixelAspect, 1) · Translate(destRect.left + dW·position.x,
///                                           destRect.top + dH·position.y)
/// with s0 the source point in source pixels and o = (dW·anchor.x, dH·anchor.y) ·
/// pixelAspect / sourceAspect. When that is a whole-pixel shift ("in place"),
/// destination pixel p takes source pixel p - floor(offset + 0.5), with no resampling.
#pragma once

#include <cstdint>
#include <vector>

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include "host/gx/gx.h"
#include "host/v/v.h"
#include "kstroke/checkout_manager.h"
#include "kstroke/kstroke_export.h"
#include "kstroke/paint_source.h"
#include "kstroke/transform.h"

/// Paints pixels of a source layer, placed by the clone transform (this file's opening
/// comment has the geometry): whole-pixel shifts are copied, others resampled.
class KSTROKE_API K_ClonePaintSource : public K_PixelBasedPaintSource {
public:
  /// Untransformed: sampling is always the whole-pixel shift from `sourceRect` to the
  /// layer rectangle, whatever the transform says. `sourceWorld` is not owned and may
  /// be null (then nothing is painted).
  K_ClonePaintSource(const GX_LinearBlendingTables* tables, GX_World* sourceWorld,
                     V_Rect sourceRect);
  /// Transformed through the layer transform, with the given source placement.
  K_ClonePaintSource(const GX_LinearBlendingTables* tables, GX_World* sourceWorld,
                     double sourcePixelAspect, V_Vector2T<double> sourcePoint, V_Rect sourceRect);
  /// Shares the lazy copy, the owned objects and the checkout manager, copies the
  /// placement and takes over both caches: `other`'s are empty afterwards.
  K_ClonePaintSource(K_ClonePaintSource& other);
  /// Member by member as the copy constructor; its own caches are released first.
  K_ClonePaintSource& operator=(K_ClonePaintSource& other);
  /// Releases the checkout manager, the owned objects, the channel cache, the pixel
  /// cache and the lazy copy, in that order.
  ~K_ClonePaintSource() override;

  // -- Geometry ------------------------------------------------------------------

  /// The matrix mapping source pixel coordinates to destination pixel coordinates.
  /// `destRect` is the destination layer's rectangle. A zero pixel aspect divides by
  /// zero in floating point; nothing is checked.
  static V_Matrix3 GetSourceToDestTransform(const V_Vector2T<double>& sourcePoint,
                                            double sourcePixelAspect, K_Transform transform,
                                            const V_Rect& sourceRect, const V_Rect& destRect);
  /// True when the mapping is a whole-pixel shift: scale 1, rotation 0 and equal
  /// pixel aspects (each within 1e-12), and an offset within 0.01 pixel of whole
  /// numbers. `offset` (may be null) receives the destination-minus-source shift in
  /// pixels, whatever the answer.
  static bool WillSampleInPlace(const K_Transform& transform, const V_Rect& destRect,
                                const V_Rect& sourceRect, double sourcePixelAspect,
                                const V_Vector2T<double>& sourcePoint, V_Vector2T<double>* offset);
  /// The same question with this source's placement. An untransformed source always
  /// answers true with the offset destRect's top-left minus sourceRect's.
  bool WillSampleInPlace(const K_Transform& transform, const V_Rect& destRect,
                         V_Vector2T<double>* offset) const;
  /// The part of `sourceRect` that `destRegion` (destination pixels) samples: the
  /// bounds of its image under the inverse matrix, clipped to `sourceRect` (may come
  /// back with right ≤ left or bottom ≤ top). Never throws for the inversion or the
  /// mapping: a failure with a non-zero code gives an empty pointer; with code 0 the
  /// unclipped rectangle as it stood.
  static boost::shared_ptr<V_Rect> GetCloneBoundsInSource(
      const V_Rect& destRegion, const V_Vector2T<double>& sourcePoint, const V_Rect& sourceRect,
      const V_Rect& destRect, const K_Transform& transform, double sourcePixelAspect);

  // -- Source layer and ownership --------------------------------------------------

  /// Points at new source pixels and moves sourceRect's top-left corner to `origin`
  /// (x is left, y is top), keeping its size.
  void SetSourceWorld(GX_World* world, V_Vector2T<int16_t> origin);
  /// The host's hook asked for the source layer before a render and told after; may
  /// be null.
  void SetCheckoutManager(boost::shared_ptr<K_CheckoutManager> manager);
  /// The manager, or null.
  const K_CheckoutManager* GetCheckoutManager() const { return checkoutManager.get(); }
  /// Calls the manager's CheckOut with this source; nothing without a manager.
  void DoLayerCheckout();
  /// Calls the manager's CheckIn; nothing without a manager.
  void DoLayerCheckin() const;
  /// Keeps `object` alive at least as long as this source and every copy of it.
  void OwnObject(boost::shared_ptr<void> object);

  /// The source pixels (not owned), or null.
  GX_World* GetSourceWorld() const { return sourceWorld; }
  /// Where the source pixels lie, in source pixel coordinates.
  const V_Rect& GetSourceRect() const { return sourceRect; }
  /// Width over height of a source pixel.
  double GetSourcePixelAspect() const { return sourcePixelAspect; }
  /// The point of the source rectangle, as fractions of its width and height, that
  /// lands on the destination's anchor.
  const V_Vector2T<double>& GetSourcePoint() const { return sourcePoint; }
  /// True when sampling is always the whole-pixel shift, whatever the transform says.
  bool IsUntransformed() const { return untransformed; }

protected:
  bool SupportsSingleChannel() const override { return true; }
  /// In place: a reference to the source pixels under the area (the area shrinks to
  /// what the source covers), or for transfer mode -2 a copy padded with transparent
  /// pixels. Otherwise the source resampled through the matrix into a new world.
  const GX_World* GetPixelSource(GX_ProgressInfo* progress, const V_Rect& layerRect,
                                 const V_Rect& boundsRect, const K_Transform& transform,
                                 int16_t depth, int32_t transferMode, V_Rect* area) const override;
  /// The source's alpha over the whole mask rectangle, 0 where the source does not
  /// reach. Throws 3 after a report when the source world's depth is unknown, or when
  /// it differs from `depth` (the buffer could not hold its samples).
  const GX_UnoBuffer* GetSingleChannelPixelSource(GX_ProgressInfo* progress,
                                                  const V_Rect& layerRect, const V_Rect& boundsRect,
                                                  const K_Transform& transform, int16_t depth,
                                                  int32_t transferMode,
                                                  const V_Rect* maskRect) const override;

private:
  GX_World* sourceWorld;
  double sourcePixelAspect;
  V_Vector2T<double> sourcePoint;
  V_Rect sourceRect;
  bool untransformed;
  mutable boost::scoped_ptr<GX_World> pixelCache;
  mutable boost::scoped_ptr<GX_UnoBuffer> channelCache;
  std::vector<boost::shared_ptr<void>> ownedObjects;
  boost::shared_ptr<K_CheckoutManager> checkoutManager;
};
