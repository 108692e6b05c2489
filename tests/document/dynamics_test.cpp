// SPDX-License-Identifier: MIT
#include "document/dynamics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

enum Factor { kDiameter = 0, kOpacity, kFlow, kAngle, kRoundness };

DynamicsInputs Inputs(float pressure = 1, float tiltX = 0, float tiltY = 0, float twist = 0,
                      float speed = 0, float direction = 0, float random = 0) {
  return {{pressure, tiltX, tiltY, twist, speed, direction, random}};
}

TEST(Dynamics, TheDefaultIsThePressureRule) {
  // Diameter 0.2 + 0.8·p and flow p in single precision, bit for bit, so descriptions
  // written before dynamics render as they did.
  for (int i = 0; i <= 1000; ++i) {
    const float p = float(i) / 1000.0f;
    const std::array<float, 5> f = ApplyDynamics(DefaultDynamics(), Inputs(p));
    ASSERT_EQ(f[kDiameter], 0.2f + 0.8f * p) << p;
    ASSERT_EQ(f[kFlow], p) << p;
    ASSERT_EQ(f[kOpacity], 1.0f);
    ASSERT_EQ(f[kAngle], 0.0f);
    ASSERT_EQ(f[kRoundness], 1.0f);
  }
}

TEST(Dynamics, EachInputMapsThroughItsCurve) {
  struct Case {
    const char* name; DynamicsInput input; std::vector<std::array<float, 2>> curve; Factor factor;
    DynamicsInputs inputs; float expected;
  };
  const float r = RandomInput(7, 3);
  const Case kCases[] = {
      {"pressure inside", DynamicsInput::kPressure, {{0, 0.5f}, {1, 1}}, kOpacity, Inputs(0.5f), 0.75f},
      {"tiltX", DynamicsInput::kTiltX, {{-90, 0.5f}, {90, 1.5f}}, kDiameter, Inputs(1, 45), 1.25f},
      {"tiltY", DynamicsInput::kTiltY, {{-90, 0}, {0, 1}}, kRoundness, Inputs(1, 0, -45), 0.5f},
      {"twist turns counter-clockwise", DynamicsInput::kTwist, {{0, 0}, {360, 360}}, kAngle,
       Inputs(1, 0, 0, 270), -270.0f},
      {"speed", DynamicsInput::kSpeed, {{0, 1}, {1000, 0.5f}}, kDiameter,
       Inputs(1, 0, 0, 0, 500), 0.75f},
      {"direction", DynamicsInput::kDirection, {{-180, -180}, {180, 180}}, kAngle,
       Inputs(1, 0, 0, 0, 0, 90), -90.0f},
      {"random", DynamicsInput::kRandom, {{0, 0}, {1, 1}}, kFlow, Inputs(1, 0, 0, 0, 0, 0, r), r},
      {"flat before the first point", DynamicsInput::kPressure, {{0.5f, 0.2f}, {1, 1}}, kFlow,
       Inputs(0.1f), 0.2f},
      {"flat after the last point", DynamicsInput::kPressure, {{0, 0}, {0.5f, 0.4f}}, kFlow,
       Inputs(0.9f), 0.4f},
      {"one point is a constant", DynamicsInput::kSpeed, {{3, 0.25f}}, kOpacity,
       Inputs(1, 0, 0, 0, 1e6f), 0.25f},
      {"the middle of three points", DynamicsInput::kPressure, {{0, 0}, {0.5f, 1}, {1, 0}},
       kDiameter, Inputs(0.75f), 0.5f},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Dynamics d;
    d.factors[c.factor] = {{c.input, c.curve}};
    const std::array<float, 5> f = ApplyDynamics(d, c.inputs);
    EXPECT_EQ(f[c.factor], c.expected);
    for (int i = 0; i < 5; ++i) {
      if (i != c.factor) {
        EXPECT_EQ(f[size_t(i)], i == kAngle ? 0.0f : 1.0f) << i;
      }
    }
  }
}

TEST(Dynamics, SeveralMappingsMultiplyOrAddUp) {
  Dynamics d;
  d.factors[kDiameter] = {{DynamicsInput::kPressure, {{0, 0.5f}, {1, 1}}},
                          {DynamicsInput::kTiltX, {{0, 3}}}};
  d.factors[kAngle] = {{DynamicsInput::kTwist, {{0, 0}, {360, 360}}},
                       {DynamicsInput::kDirection, {{-180, -180}, {180, 180}}}};
  const std::array<float, 5> f = ApplyDynamics(d, Inputs(0, 0, 0, 30, 0, 45));
  EXPECT_EQ(f[kDiameter], 1.5f);
  EXPECT_EQ(f[kAngle], -75.0f);
}

TEST(Dynamics, MotionComesFromTheEventBefore) {
  // Pixels with y down: the second move goes straight up the screen.
  const std::vector<std::array<double, 2>> pixels{{0, 0}, {30, 40}, {30, 30}, {30, 30}};
  const std::vector<double> times{0, 0.5, 1, 2};
  std::vector<DynamicsInputs> in(4, Inputs());
  DeriveMotion(pixels, times, &in);
  const auto speed = [&](size_t k) { return in[k][size_t(DynamicsInput::kSpeed)]; };
  const auto direction = [&](size_t k) { return in[k][size_t(DynamicsInput::kDirection)]; };
  EXPECT_EQ(speed(1), 100.0f);
  EXPECT_NEAR(direction(1), -53.130102f, 1e-4);
  EXPECT_EQ(speed(0), speed(1)) << "the first event moves as the second";
  EXPECT_EQ(direction(0), direction(1));
  EXPECT_EQ(speed(2), 20.0f);
  EXPECT_EQ(direction(2), 90.0f);
  EXPECT_EQ(speed(3), 0.0f);
  EXPECT_EQ(direction(3), 0.0f);
}

TEST(Dynamics, RandomNumbersDependOnSeedAndIndexOnly) {
  std::set<float> seen;
  double sum = 0;
  for (size_t i = 0; i < 10000; ++i) {
    const float v = RandomInput(42, i);
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
    ASSERT_EQ(v, RandomInput(42, i));
    seen.insert(v);
    sum += v;
  }
  EXPECT_GT(seen.size(), 9900u);
  EXPECT_NEAR(sum / 10000, 0.5, 0.02);
  EXPECT_NE(RandomInput(42, 5), RandomInput(43, 5));
}

}  // namespace
