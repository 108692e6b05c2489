// SPDX-License-Identifier: MIT
// The recording drawing interface. Each operation is logged (with the transform it
// leaves in force) before it is passed on, so an operation the inner surface fails
// still shows in the log; an injected failure throws before anything is logged.
#include "host/inkwork/inkwork_recording.h"

#include <string>

namespace kelvo {
namespace inkwork {

RecordingSurfaceP RecordingSurface::Create(int32_t width, int32_t height, SurfaceP inner,
                                           boost::shared_ptr<RecordedOps> log) {
  if (width < 1 || height < 1 || width > 32767 || height > 32767) {
    throw Error(INK_Err_BadArgument, "surface size " + std::to_string(width) + " x " +
                                         std::to_string(height) + " is outside 1..32767");
  }
  if (!log) log.reset(new RecordedOps());
  auto* surface = new RecordingSurface(width, height, std::move(inner), std::move(log));
  if (surface == nullptr) throw std::bad_alloc();
  return RecordingSurfaceP(surface);
}

RecordedOp& RecordingSurface::Begin(RecordedOp::Kind kind) {
  if (calls_++ == failAt_) {
    throw Error(INK_Err_Backend, "injected failure at operation " + std::to_string(failAt_));
  }
  ops_->emplace_back();
  RecordedOp& op = ops_->back();
  op.kind = kind;
  return op;
}

void RecordingSurface::SaveState() {
  RecordedOp& op = Begin(RecordedOp::Kind::kSaveState);
  saved_.push_back(current_);
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  if (inner_) inner_->SaveState();
}

void RecordingSurface::RestoreState() {
  RecordedOp& op = Begin(RecordedOp::Kind::kRestoreState);
  if (saved_.empty()) throw Error(INK_Err_BadState, "surface state restored with nothing saved");
  current_ = saved_.back();
  saved_.pop_back();
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  if (inner_) inner_->RestoreState();
}

void RecordingSurface::Concat(const Transform& m) {
  RecordedOp& op = Begin(RecordedOp::Kind::kConcat);
  current_ = Transform::Compose(m, current_);
  op.matrix = m;
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  if (inner_) inner_->Concat(m);
}

void RecordingSurface::StrokePath(const Path& path, const Pen& pen) {
  RecordedOp& op = Begin(RecordedOp::Kind::kStrokePath);
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  op.path = path.GetElements();
  op.pathId = &path;
  op.penColor = pen.GetColor();
  op.penWidth = pen.GetWidth();
  if (inner_) inner_->StrokePath(path, pen);
}

void RecordingSurface::SetMode(int32_t mode) {
  RecordedOp& op = Begin(RecordedOp::Kind::kSetMode);
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  op.mode = mode;
  if (inner_) {
    inner_->SetMode(mode);
  } else if (mode < kModeAliased || mode > kModeSmooth) {
    throw Error(INK_Err_BadArgument, "surface mode " + std::to_string(mode) + " is not 0..2");
  }
}

ImageP RecordingSurface::GetImage() {
  RecordedOp& op = Begin(RecordedOp::Kind::kGetImage);
  op.current = current_;
  op.depth = static_cast<int32_t>(saved_.size());
  return inner_ ? inner_->GetImage() : Image::Create(width_, height_);
}

// Supplier
// ==================================================================================

PathP RecordingSupplier::MakePath() {
  PathP path = inner_ ? inner_->MakePath() : Path::Create();
  ++pathsMade_;
  return path;
}

PenP RecordingSupplier::MakePen(const Color& color, float width) {
  PenP pen = inner_ ? inner_->MakePen(color, width) : Pen::Create(color, width);
  pens_.emplace_back(color, width);
  return pen;
}

SurfaceP RecordingSupplier::MakeImageSurface(int32_t width, int32_t height, int32_t options) {
  requests_.push_back({width, height, options});
  if (options != 0) {
    throw Error(INK_Err_BadArgument, "surface options " + std::to_string(options) + " are not 0");
  }
  SurfaceP inner = inner_ ? inner_->MakeImageSurface(width, height, options) : nullptr;
  boost::shared_ptr<RecordedOps> log(new RecordedOps());
  RecordingSurfaceP surface = RecordingSurface::Create(width, height, std::move(inner), log);
  surface->FailAtOp(failAt_);
  logs_.push_back(log);
  return surface;
}

const RecordedOps& RecordingSupplier::SurfaceOps(std::size_t index) const noexcept {
  static const RecordedOps kNone;
  return index < logs_.size() ? *logs_[index] : kNone;
}

}  // namespace inkwork
}  // namespace kelvo
