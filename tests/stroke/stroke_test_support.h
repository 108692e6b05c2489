// SPDX-License-Identifier: MIT
// Pointer events and time tables as the stroke tests write and compare them.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "kstroke/shape.h"

/// A time table as (time, value) pairs; flags read 0 or 1.
using Entries = std::vector<std::pair<double, double>>;

template <class T>
Entries Pairs(const std::vector<K_TimeTableEntry<T>>& table) {
  Entries out;
  for (const auto& e : table) out.emplace_back(e.time, double(e.value));
  return out;
}

/// The factors of an event: diameter, opacity, flow, angle, roundness.
using Factors = std::array<float, kK_StrokeParamCount>;

/// An event at time `t` on (x, y), fractions of the layer.
inline PaintPointerEvent Event(double t, double x, double y, bool spacing = true,
                               const Factors& factors = {1, 1, 1, 0, 1}) {
  PaintPointerEvent e;
  e.time = t;
  e.x = x;
  e.y = y;
  e.useSpacing = spacing;
  for (int i = 0; i < kK_StrokeParamCount; ++i) e.params[i] = factors[std::size_t(i)];
  return e;
}

/// Appends an event the shape must take.
inline void Append(K_Shape* s, const PaintPointerEvent& e) { EXPECT_EQ(s->AppendVertex(&e), 0); }

/// Vertex k of a shape's path.
inline V_Vector2T<float> Vertex(const K_Shape& s, int32_t k) {
  V_Vector2T<float> p;
  EXPECT_EQ(SEQ_GetItem(s.Points(), 3 * k, &p), 0);
  return p;
}
