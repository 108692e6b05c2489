// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "host/jot/jot.h"
#include "host/v/v.h"
#include "host/y/y.h"
#include "test_support.h"

namespace {

V_Vector2T<double> Map(const V_Matrix3& m, double x, double y) {
  V_Vector2T<double> p(x, y);
  m.TransformPoint(&p);
  return p;
}

TEST(Matrix3, OperationsComposeInCallOrder) {
  struct Case { const char* name; void (*build)(V_Matrix3*); double x, y, ex, ey; };
  const Case cases[] = {
      {"translate then scale", [](V_Matrix3* m) { m->Translate(1, 2); m->Scale(10, 100); }, 1, 1, 20, 300},
      {"scale then translate", [](V_Matrix3* m) { m->Scale(10, 100); m->Translate(1, 2); }, 1, 1, 11, 102},
      {"rotate 90 turns +x to +y", [](V_Matrix3* m) { m->Rotate(90); }, 1, 0, 0, 1},
      {"translate then rotate", [](V_Matrix3* m) { m->Translate(1, 0); m->Rotate(90); }, 0, 0, 0, 1},
      {"rotate then translate", [](V_Matrix3* m) { m->Rotate(90); m->Translate(1, 0); }, 0, 0, 1, 0},
      {"rotate -30 then 30 is identity", [](V_Matrix3* m) { m->Rotate(-30); m->Rotate(30); }, 3, -7, 3, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    V_Matrix3 m;
    c.build(&m);
    const auto p = Map(m, c.x, c.y);
    EXPECT_NEAR(p.x, c.ex, 1e-12);
    EXPECT_NEAR(p.y, c.ey, 1e-12);
  }
}

TEST(Matrix3, InvertUndoesAndRejectsSingular) {
  V_Matrix3 affine, general;
  affine.Translate(-3, 4);
  affine.Scale(2, 0.5);
  affine.Rotate(33);
  const double g[3][3] = {{2, -1, 3}, {0.5, 4, -2}, {1, 0.25, 5}};  // every element counts
  std::memcpy(general.m, g, sizeof g);
  for (const V_Matrix3& m : {affine, general}) {
    V_Matrix3 product = m;
    ASSERT_EQ(product.Invert(), 0);
    product.Concat(m);
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(product.m[i / 3][i % 3], i % 4 == 0 ? 1.0 : 0.0, 1e-12) << i;
  }
  V_Matrix3 flat, huge;
  flat.Scale(0, 1);
  huge.Scale(1e200, 1e200);  // the determinant overflows
  for (V_Matrix3 bad : {flat, huge}) {
    const V_Matrix3 before = bad;
    EXPECT_EQ(bad.Invert(), V_Err_Singular);
    EXPECT_TRUE(bad == before);
  }
}

TEST(Matrix3, TransformRectBoundsTheImageRoundedOutward) {
  V_Matrix3 m;
  m.Scale(0.5, 0.5);
  m.Translate(0.25, 0);
  V_Rect r{0, 0, 3, 3};  // top, left, bottom, right
  V_Vector2T<double> exact;
  unsigned char aligned = 0;
  m.TransformRect(&r, &exact, &aligned);
  EXPECT_EQ(r, (V_Rect{0, 0, 2, 2}));  // x 0.25..1.75, y 0..1.5
  EXPECT_DOUBLE_EQ(exact.x, 0.25);
  EXPECT_EQ(aligned, 1);

  V_Matrix3 rot;
  rot.Rotate(45);
  V_Rect s{0, 0, 2, 2};
  rot.TransformRect(&s, nullptr, &aligned);
  EXPECT_EQ(aligned, 0);
  // Corner (0, 2) lands at x = -√2, corner (2, 0) at x = √2, corner (2, 2) at y = 2√2.
  EXPECT_EQ(s, (V_Rect{0, -2, 3, 2}));
}

TEST(Rect, IntersectAndUnion) {
  const V_Rect a{0, 0, 10, 10}, b{5, -5, 20, 7}, empty{};
  EXPECT_EQ(V_IntersectRect(a, b), (V_Rect{5, 0, 10, 7}));
  EXPECT_TRUE(V_IntersectRect(a, V_Rect{20, 20, 30, 30}).IsEmpty());
  EXPECT_EQ(V_UnionRect(a, b), (V_Rect{0, -5, 20, 10}));
  EXPECT_EQ(V_UnionRect(empty, b), b);
}

struct Tracked : Y_MemTrackedObject {
  char payload[40];
};

TEST(MemTracked, CountsObjectsAndBytesAndCanFail) {
  const auto objects = Y_MemTrackedObject::LiveObjects();
  const auto bytes = Y_MemTrackedObject::LiveBytes();
  Tracked* t = new Tracked;
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), objects + 1);
  EXPECT_EQ(Y_MemTrackedObject::LiveBytes(), bytes + sizeof(Tracked));
  delete t;
  EXPECT_EQ(Y_MemTrackedObject::LiveObjects(), objects);

  Y_MemTrackedObject::FailAllocationsAfter(1);
  Tracked* first = new Tracked;
  Tracked* second = new Tracked;
  Y_MemTrackedObject::FailAllocationsAfter(-1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  delete first;
  EXPECT_EQ(Y_MemTrackedObject::LiveBytes(), bytes);
}

TEST(Util, ByteSwapsReverseIeeeBytes) {
  double d = 1.0;
  Y_FpLongSwap(&d);
  std::array<unsigned char, 8> db;
  std::memcpy(db.data(), &d, 8);
  EXPECT_EQ(db, (std::array<unsigned char, 8>{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  Y_FpLongSwap(&d);
  EXPECT_EQ(d, 1.0);

  float f = -2.0f;
  Y_FpShortSwap(&f);
  std::array<unsigned char, 4> fb;
  std::memcpy(fb.data(), &f, 4);
  EXPECT_EQ(fb, (std::array<unsigned char, 4>{0xC0, 0, 0, 0}));
}

TEST(Util, VerificationReportIsRememberedAndLogged) {
  std::string logged;
  JOT_SetSink([](void* c, int32_t, const char*, const char*, const char* t) {
    *static_cast<std::string*>(c) = t;
  }, &logged);
  Y_ResetVerificationReports();
  Y_ReportFailedVerification(0, 42, nullptr, "tip diameter 0 is below 1");
  JOT_SetSink(nullptr, nullptr);
  EXPECT_EQ(Y_LastVerificationReport().line, 42);
  EXPECT_EQ(Y_LastVerificationReport().message, "tip diameter 0 is below 1");
  EXPECT_EQ(Y_LastVerificationReport().count, 1);
  EXPECT_EQ(logged, "tip diameter 0 is below 1");
}

}  // namespace
