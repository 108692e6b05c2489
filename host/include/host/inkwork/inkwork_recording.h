// SPDX-License-Identifier: MIT
/// @file
/// A drawing interface that records every operation, for tests: what was stroked, with
/// which pen, under which transform. It can pass each operation on to another
/// implementation (to get real pixels too) and can be made to fail at a chosen operation.
#pragma once

#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "host/inkwork/inkwork.h"

namespace kelvo {
namespace inkwork {

/// One operation on a recording surface.
struct RecordedOp {
  /// The Surface call recorded, one value per method.
  enum class Kind : int32_t {
    kSaveState = 0,
    kRestoreState = 1,
    kConcat = 2,
    kStrokePath = 3,
    kSetMode = 4,
    kGetImage = 5,
  };
  Kind kind = Kind::kSaveState;  ///< which call this was
  Transform matrix;    ///< kConcat: the argument
  Transform current;   ///< the transform in force after the operation (a stroke's transform)
  int32_t depth = 0;   ///< saved states outstanding after the operation
  std::vector<PathElement> path;  ///< kStrokePath: the path's elements at that moment
  const Path* pathId = nullptr;   ///< kStrokePath: which path (identity only, not owned)
  Color penColor;                 ///< kStrokePath
  float penWidth = 0;             ///< kStrokePath
  int32_t mode = 0;               ///< kSetMode
};

class RecordingSurface;
/// Holder of a recording surface, with its own type so tests reach the log directly.
using RecordingSurfaceP = boost::intrusive_ptr<RecordingSurface>;

/// A surface's log, in call order.
using RecordedOps = std::vector<RecordedOp>;

/// Records operations, keeping its own transform stack. Images come from `inner` when
/// there is one, else they are transparent images of the surface's size.
class RecordingSurface : public Surface {
public:
  /// `inner` (optional) receives every operation after it is recorded. The log may be
  /// shared with whoever wants to read it after the surface is gone.
  static RecordingSurfaceP Create(int32_t width, int32_t height, SurfaceP inner = nullptr,
                                  boost::shared_ptr<RecordedOps> log = nullptr);

  void SaveState() override;
  void RestoreState() override;
  void Concat(const Transform& m) override;
  void StrokePath(const Path& path, const Pen& pen) override;
  void SetMode(int32_t mode) override;
  ImageP GetImage() override;

  /// Everything recorded so far.
  const RecordedOps& GetOps() const noexcept { return *ops_; }
  /// The size given to Create.
  ///@{
  int32_t GetWidth() const noexcept { return width_; }
  int32_t GetHeight() const noexcept { return height_; }
  ///@}
  /// Operation number `index` (0-based, counting every call) throws
  /// Error(INK_Err_Backend) instead of running; -1 (the default) never fails.
  void FailAtOp(long index) noexcept { failAt_ = index; }

private:
  RecordingSurface(int32_t width, int32_t height, SurfaceP inner,
                   boost::shared_ptr<RecordedOps> log)
      : width_(width), height_(height), inner_(std::move(inner)), ops_(std::move(log)) {}
  RecordedOp& Begin(RecordedOp::Kind kind);

  int32_t width_;
  int32_t height_;
  SurfaceP inner_;
  Transform current_;
  std::vector<Transform> saved_;
  boost::shared_ptr<RecordedOps> ops_;
  long calls_ = 0;
  long failAt_ = -1;
};

/// A supplier that counts what it makes and hands out recording surfaces. With an
/// `inner` supplier (not owned), pens, paths and the surfaces behind the recording
/// ones come from it. It keeps each surface's log, not the surface, so a test can
/// both read what was drawn and see that the surface was released.
class RecordingSupplier : public SupplierInterface {
public:
  /// The arguments of one MakeImageSurface call, refused ones included.
  struct SurfaceRequest {
    /// As passed.
    ///@{
    int32_t width;
    int32_t height;
    int32_t options;
    ///@}
  };

  /// `inner` (optional, not owned) must outlive the supplier and what it makes.
  explicit RecordingSupplier(SupplierInterface* inner = nullptr) : inner_(inner) {}

  /// From `inner` when there is one, else Path::Create and Pen::Create; counted either
  /// way once made.
  ///@{
  PathP MakePath() override;
  PenP MakePen(const Color& color, float width) override;
  ///@}
  SurfaceP MakeImageSurface(int32_t width, int32_t height, int32_t options) override;

  /// How many paths were made.
  int32_t PathsMade() const noexcept { return pathsMade_; }
  /// The pens made, in order.
  const std::vector<std::pair<Color, float>>& PensMade() const noexcept { return pens_; }
  /// Every MakeImageSurface call, in order.
  const std::vector<SurfaceRequest>& SurfaceRequests() const noexcept { return requests_; }
  /// The log of surface number `index` (in the order made); empty if out of range.
  const RecordedOps& SurfaceOps(std::size_t index) const noexcept;
  /// Surfaces made from now on fail at this operation (see RecordingSurface::FailAtOp).
  void FailSurfacesAtOp(long index) noexcept { failAt_ = index; }

private:
  SupplierInterface* inner_;
  int32_t pathsMade_ = 0;
  std::vector<std::pair<Color, float>> pens_;
  std::vector<SurfaceRequest> requests_;
  std::vector<boost::shared_ptr<RecordedOps>> logs_;
  long failAt_ = -1;
};

}  // namespace inkwork
}  // namespace kelvo
