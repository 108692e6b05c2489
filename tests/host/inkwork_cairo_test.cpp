// SPDX-License-Identifier: MIT
// The Cairo drawing interface: where strokes land, the transform and pen conventions,
// modes, snapshots, PNG files and every refused argument.
#include "host/inkwork/inkwork_cairo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace ink = kelvo::inkwork;

int Alpha(const ink::Image& image, int32_t x, int32_t y) {
  uint8_t argb[4];
  image.GetPixel(x, y, argb);
  return argb[0];
}

ink::Transform Scale(float sx, float sy) {
  ink::Transform t;
  t.m[0][0] = sx;
  t.m[1][1] = sy;
  return t;
}

class InkworkCairo : public TrackedTest {
protected:
  /// Strokes the segment from `a` to `b` with a white pen `width` device pixels wide.
  void StrokeLine(ink::Surface* surface, ink::Point a, ink::Point b, float width = 2) {
    ink::PathP path = supplier.MakePath();
    path->MoveTo(a);
    path->LineTo(b);
    surface->StrokePath(*path, *supplier.MakePen({1, 1, 1, 1}, width));
  }
  ink::CairoSupplier supplier;
};

TEST_F(InkworkCairo, TransformsComposeAndRestore) {
  // Translation then scale concatenated: the scale applies to points first, so the
  // segment (2, 3)–(6, 3) lands on (14, 6)–(22, 6). The pen keeps its width in device
  // pixels: two rows, not four.
  ink::SurfaceP surface = supplier.MakeImageSurface(40, 20, 0);
  surface->SetMode(ink::kModeAliased);
  surface->SaveState();
  surface->Concat(ink::Transform::Translation(10, 0));
  surface->Concat(Scale(2, 2));
  StrokeLine(surface.get(), {2, 3}, {6, 3});
  surface->RestoreState();
  StrokeLine(surface.get(), {2, 3}, {6, 3});  // untransformed again
  ink::ImageP image = surface->GetImage();
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const bool moved = x >= 14 && x < 22 && y >= 5 && y < 7;
      const bool plain = x >= 2 && x < 6 && y >= 2 && y < 4;
      EXPECT_EQ(Alpha(*image, x, y), moved || plain ? 255 : 0) << x << "," << y;
    }
  }
}

TEST_F(InkworkCairo, CirclesLandInTheirColourAndModesDecideTheEdges) {
  // partial: some pixels are partly covered.
  struct Case { const char* name; int32_t mode; bool partial; };
  const Case kCases[] = {{"aliased", ink::kModeAliased, false},
                         {"fast", ink::kModeFast, true},
                         {"smooth", ink::kModeSmooth, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ink::SurfaceP surface = supplier.MakeImageSurface(30, 30, 0);
    surface->SetMode(c.mode);
    ink::PathP path = supplier.MakePath();
    path->MoveTo({0, 0});  // an arc starts its own figure: no line from here
    path->AddArc({15, 15}, 9.3f, 0, 360);
    surface->StrokePath(*path, *supplier.MakePen({1, 0, 0, 1}, 1.5f));
    ink::ImageP image = surface->GetImage();
    uint8_t argb[4];
    image->GetPixel(24, 15, argb);  // on the circle's right edge (x = 24.3)
    EXPECT_GT(argb[0], 100);
    EXPECT_EQ(argb[1], argb[0]);  // premultiplied pure red
    EXPECT_EQ(argb[2], 0);
    EXPECT_EQ(argb[3], 0);
    EXPECT_GT(Alpha(*image, 15, 5), 100);  // top edge (y = 5.7)
    EXPECT_EQ(Alpha(*image, 15, 15), 0);   // inside
    EXPECT_EQ(Alpha(*image, 12, 7), 0);    // where a joining line from (0, 0) would pass
    int partial = 0, full = 0;
    for (int32_t y = 0; y < 30; ++y) {
      for (int32_t x = 0; x < 30; ++x) {
        const int a = Alpha(*image, x, y);
        partial += a > 0 && a < 255;
        full += a == 255;
      }
    }
    EXPECT_EQ(partial > 0, c.partial);
    EXPECT_GT(partial + full, 40);
  }
}

TEST_F(InkworkCairo, ImagesAreSnapshotsAndARefusedTransformChangesNothing) {
  ink::SurfaceP surface = supplier.MakeImageSurface(10, 10, 0);
  ink::ImageP before = surface->GetImage();
  EXPECT_THROW(surface->Concat(Scale(0, 0)), ink::Error);
  StrokeLine(surface.get(), {0, 5}, {10, 5});
  EXPECT_EQ(Alpha(*before, 5, 5), 0);
  EXPECT_EQ(Alpha(*surface->GetImage(), 5, 5), 255);
}

TEST_F(InkworkCairo, PngRoundTripKeepsTransparency) {
  ink::SurfaceP surface = supplier.MakeImageSurface(24, 16, 0);
  ink::PathP path = supplier.MakePath();
  path->AddArc({12, 8}, 5, 0, 360);
  surface->StrokePath(*path, *supplier.MakePen({0.2f, 0.6f, 1.0f, 0.5f}, 3));
  ink::ImageP image = surface->GetImage();
  const std::string file = TestScratchDir() + "inkwork_roundtrip.png";
  image->WritePng(file);
  ink::ImageP back = ink::Image::ReadPng(file);
  ASSERT_EQ(back->GetWidth(), 24);
  ASSERT_EQ(back->GetHeight(), 16);
  int maxDiff = 0, seen = 0;
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 24; ++x) {
      uint8_t a[4], b[4];
      image->GetPixel(x, y, a);
      back->GetPixel(x, y, b);
      for (int k = 0; k < 4; ++k) maxDiff = std::max(maxDiff, std::abs(a[k] - b[k]));
      seen += a[0] > 0 && a[0] < 255;
    }
  }
  EXPECT_GT(seen, 0);
  EXPECT_LE(maxDiff, 1);  // straight-alpha file, premultiplied in memory
  EXPECT_EQ(Alpha(*back, 12, 8), 0);
}

TEST_F(InkworkCairo, RefusedArgumentsAndStates) {
  const std::string badFile = TestScratchDir() + "no/such/dir/out.png";
  struct Case { const char* name; std::function<void(ink::CairoSupplier&)> call; int32_t code; };
  const auto onSurface = [](std::function<void(ink::Surface&)> f) {
    return [f](ink::CairoSupplier& s) { f(*s.MakeImageSurface(8, 8, 0)); };
  };
  ink::Transform singular = Scale(1, 0);
  ink::Transform projective;
  projective.m[0][2] = 0.5f;
  ink::Transform notFinite = ink::Transform::Translation(NAN, 0);
  const Case kCases[] = {
      {"zero width", [](ink::CairoSupplier& s) { s.MakeImageSurface(0, 8, 0); },
       INK_Err_BadArgument},
      {"too tall", [](ink::CairoSupplier& s) { s.MakeImageSurface(8, 32768, 0); },
       INK_Err_BadArgument},
      {"options", [](ink::CairoSupplier& s) { s.MakeImageSurface(8, 8, 1); },
       INK_Err_BadArgument},
      {"negative pen", [](ink::CairoSupplier& s) { s.MakePen({}, -1); }, INK_Err_BadArgument},
      {"nan pen", [](ink::CairoSupplier& s) { s.MakePen({}, NAN); }, INK_Err_BadArgument},
      {"negative radius", [](ink::CairoSupplier& s) { s.MakePath()->AddArc({}, -1, 0, 360); },
       INK_Err_BadArgument},
      {"mode 3", onSurface([](ink::Surface& s) { s.SetMode(3); }), INK_Err_BadArgument},
      {"mode -1", onSurface([](ink::Surface& s) { s.SetMode(-1); }), INK_Err_BadArgument},
      {"singular", onSurface([&](ink::Surface& s) { s.Concat(singular); }), INK_Err_BadArgument},
      {"projective", onSurface([&](ink::Surface& s) { s.Concat(projective); }),
       INK_Err_BadArgument},
      {"not finite", onSurface([&](ink::Surface& s) { s.Concat(notFinite); }),
       INK_Err_BadArgument},
      {"restore unsaved", onSurface([](ink::Surface& s) { s.RestoreState(); }), INK_Err_BadState},
      {"restore twice", onSurface([](ink::Surface& s) {
         s.SaveState();
         s.RestoreState();
         s.RestoreState();
       }),
       INK_Err_BadState},
      {"unreadable png", [](ink::CairoSupplier&) { ink::Image::ReadPng("/no/such.png"); },
       INK_Err_Io},
      {"unwritable png", [&](ink::CairoSupplier&) { ink::Image::Create(4, 4)->WritePng(badFile); },
       INK_Err_Io},
      {"image size", [](ink::CairoSupplier&) { ink::Image::Create(4, 0); }, INK_Err_BadArgument},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorCodeOf<ink::Error>([&] { c.call(supplier); }), c.code);
  }
  EXPECT_FALSE(std::filesystem::exists(badFile));
}

TEST_F(InkworkCairo, HoldersFreeTheirObjects) {
  const std::size_t live = Y_MemTrackedObject::LiveObjects();
  ink::PenP pen = supplier.MakePen({1, 1, 1, 1}, 1);
  ink::PenP copy = pen;
  ink::SurfaceP surface = supplier.MakeImageSurface(4, 4, 0);
  ink::ImageP image = surface->GetImage();
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);
  pen.reset();
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 3);  // `copy` still holds it
  copy.reset();
  surface.reset();
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), live + 1);  // the image outlives its surface
  EXPECT_EQ(image->GetWidth(), 4);

  Y_MemTrackedObject::FailAllocationsAfter(0);
  EXPECT_THROW(supplier.MakePath(), std::bad_alloc);
  EXPECT_THROW(supplier.MakeImageSurface(4, 4, 0), std::bad_alloc);
  Y_MemTrackedObject::FailAllocationsAfter(-1);
}

}  // namespace
