// SPDX-License-Identifier: MIT
// The recording drawing interface: what it logs, its transform stack, passing
// operations on, and injected failures.
#include "host/inkwork/inkwork_recording.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/inkwork/inkwork_cairo.h"
#include "test_support.h"

namespace {

namespace ink = kelvo::inkwork;
using Kind = ink::RecordedOp::Kind;

class InkworkRecording : public TrackedTest {};

TEST_F(InkworkRecording, LogsOperationsWithTheirTransformAndDepth) {
  ink::RecordingSupplier supplier;
  ink::SurfaceP surface = supplier.MakeImageSurface(20, 10, 0);
  ink::PathP path = supplier.MakePath();
  path->MoveTo({1, 2});
  path->LineTo({3, 4});
  ink::PenP pen = supplier.MakePen({0.25f, 0.5f, 0.75f, 1}, 1.5f);

  ink::Transform scale;
  scale.m[0][0] = 2;
  scale.m[1][1] = 3;
  surface->SetMode(2);
  surface->SaveState();
  surface->Concat(ink::Transform::Translation(5, 6));
  surface->Concat(scale);
  surface->StrokePath(*path, *pen);
  path->LineTo({7, 8});  // after the stroke: the log keeps the path as it was
  surface->RestoreState();
  ink::ImageP image = surface->GetImage();

  const ink::RecordedOps& ops = supplier.SurfaceOps(0);
  const Kind kKinds[] = {Kind::kSetMode, Kind::kSaveState, Kind::kConcat, Kind::kConcat,
                         Kind::kStrokePath, Kind::kRestoreState, Kind::kGetImage};
  const int32_t kDepths[] = {0, 1, 1, 1, 1, 0, 0};
  ASSERT_EQ(ops.size(), 7u);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ops[i].kind, kKinds[i]);
    EXPECT_EQ(ops[i].depth, kDepths[i]);
  }
  EXPECT_EQ(ops[0].mode, 2);
  EXPECT_EQ(ops[3].matrix, scale);
  // Scale first, then the translation: (1, 1) → (2, 3) → (7, 9).
  const ink::Point p = ops[4].current.Apply({1, 1});
  EXPECT_EQ(p.x, 7.0f);
  EXPECT_EQ(p.y, 9.0f);
  const ink::RecordedOp& stroke = ops[4];
  ASSERT_EQ(stroke.path.size(), 2u);
  EXPECT_EQ(stroke.path[1].point.x, 3.0f);
  EXPECT_EQ(stroke.pathId, path.get());
  EXPECT_EQ(stroke.penColor.blue, 0.75f);
  EXPECT_EQ(stroke.penWidth, 1.5f);
  EXPECT_EQ(ops[5].current, ink::Transform());

  EXPECT_EQ(supplier.PathsMade(), 1);
  ASSERT_EQ(supplier.PensMade().size(), 1u);
  EXPECT_EQ(supplier.PensMade()[0].second, 1.5f);
  ASSERT_EQ(supplier.SurfaceRequests().size(), 1u);
  EXPECT_EQ(supplier.SurfaceRequests()[0].width, 20);
  EXPECT_EQ(image->GetWidth(), 20);  // a blank image of the surface's size
  EXPECT_EQ(image->GetHeight(), 10);
  EXPECT_TRUE(supplier.SurfaceOps(1).empty());
}

TEST_F(InkworkRecording, PassesOperationsOnToAnInnerSurface) {
  ink::CairoSupplier cairo;
  ink::RecordingSupplier supplier(&cairo);
  ink::SurfaceP surface = supplier.MakeImageSurface(10, 10, 0);
  ink::PathP path = supplier.MakePath();
  path->MoveTo({0, 5});
  path->LineTo({10, 5});
  surface->Concat(ink::Transform::Translation(0, 2));
  surface->StrokePath(*path, *supplier.MakePen({1, 1, 1, 1}, 2));
  ink::ImageP image = surface->GetImage();
  uint8_t argb[4];
  image->GetPixel(5, 6, argb);
  EXPECT_EQ(argb[0], 255);
  image->GetPixel(5, 4, argb);
  EXPECT_EQ(argb[0], 0);
  EXPECT_EQ(supplier.SurfaceOps(0).size(), 3u);
}

TEST_F(InkworkRecording, FailuresAndRefusals) {
  ink::RecordingSurfaceP surface = ink::RecordingSurface::Create(8, 8);
  surface->FailAtOp(1);
  surface->SaveState();
  EXPECT_EQ(ErrorCodeOf<ink::Error>([&] { surface->SaveState(); }), INK_Err_Backend);
  surface->RestoreState();  // operation 2 runs again
  EXPECT_EQ(surface->GetOps().size(), 2u);
  EXPECT_EQ(surface->GetOps().back().depth, 0);

  struct Case { const char* name; std::function<void()> call; int32_t code; };
  ink::RecordingSupplier supplier;
  const Case kCases[] = {
      {"restore unsaved", [&] { surface->RestoreState(); }, INK_Err_BadState},
      {"mode 5", [&] { surface->SetMode(5); }, INK_Err_BadArgument},
      {"options", [&] { supplier.MakeImageSurface(8, 8, 2); }, INK_Err_BadArgument},
      {"size", [&] { supplier.MakeImageSurface(8, -1, 0); }, INK_Err_BadArgument},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ErrorCodeOf<ink::Error>(c.call), c.code) << c.name;
  }

  supplier.FailSurfacesAtOp(0);
  ink::SurfaceP failing = supplier.MakeImageSurface(8, 8, 0);
  EXPECT_THROW(failing->SetMode(2), ink::Error);
}

}  // namespace
