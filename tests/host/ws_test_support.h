// SPDX-License-Identifier: MIT
// Building and reading host shapes, for the shape and shape-chunk tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

#include "host/ws/ws.h"

using Pt = V_Vector2T<float>;

/// Every point of a shape's list: vertex k at 3k, its tangent points after it.
inline std::vector<Pt> Items(const WS_Shape& s) {
  std::vector<Pt> out(std::size_t(SEQ_Count(s.Points())));
  for (std::size_t i = 0; i < out.size(); ++i)
    EXPECT_EQ(SEQ_GetItem(s.Points(), int32_t(i), &out[i]), 0);
  return out;
}

/// Appends a vertex past the end and moves it to `p`, the way a recorder builds a path.
inline void AppendAt(WS_Shape* s, Pt p) {
  int32_t index = -1;
  ASSERT_EQ(s->AddBezVertex(10922.0, &index), 0);
  ASSERT_EQ(index, 3 * (s->NumVertices() - 1));
  ASSERT_EQ(WS_ShapeMoveBezVertex(s, index, p, 0, false), 0);
}

/// An open mask path through `pts`.
inline std::unique_ptr<WS_Shape> OpenPath(std::initializer_list<Pt> pts) {
  std::unique_ptr<WS_Shape> s(new WS_Shape(kWS_KindMask, nullptr));
  s->SetFlags(kWS_FlagOpen);
  for (Pt p : pts) AppendAt(s.get(), p);
  return s;
}
