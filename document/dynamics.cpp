// SPDX-License-Identifier: MIT
// Brush dynamics; the inputs, units and curves are described in document/dynamics.h.
#include "document/dynamics.h"

#include <cmath>

const char* const kDynamicsInputNames[kDynamicsInputCount] = {
    "pressure", "tiltX", "tiltY", "twist", "speed", "direction", "random"};

Dynamics DefaultDynamics() {
  Dynamics d;
  d.factors[0] = {{DynamicsInput::kPressure, {{0.0f, 0.2f}, {1.0f, 1.0f}}}};
  d.factors[2] = {{DynamicsInput::kPressure, {{0.0f, 0.0f}, {1.0f, 1.0f}}}};
  return d;
}

float EvaluateCurve(const std::vector<std::array<float, 2>>& curve, float x) {
  if (curve.empty()) return 1.0f;
  if (!(x > curve.front()[0])) return curve.front()[1];
  if (!(x < curve.back()[0])) return curve.back()[1];
  size_t i = 1;
  while (curve[i][0] < x) ++i;
  const std::array<float, 2>& a = curve[i - 1];
  const std::array<float, 2>& b = curve[i];
  return a[1] + (b[1] - a[1]) * ((x - a[0]) / (b[0] - a[0]));
}

std::array<float, 5> ApplyDynamics(const Dynamics& dynamics, const DynamicsInputs& inputs) {
  constexpr int kAngle = 3;
  std::array<float, 5> factors{};
  for (int i = 0; i < 5; ++i) {
    float v = i == kAngle ? 0.0f : 1.0f;
    for (const DynamicsMapping& m : dynamics.factors[size_t(i)]) {
      const float y = EvaluateCurve(m.curve, inputs[size_t(m.input)]);
      v = i == kAngle ? v + y : v * y;
    }
    factors[size_t(i)] = v;
  }
  // The engine turns a tip clockwise by the event's angle (it subtracts it from the
  // brush angle); dynamics turn it counter-clockwise, as the brush angle does.
  factors[kAngle] = -factors[kAngle];
  return factors;
}

void DeriveMotion(const std::vector<std::array<double, 2>>& pixels,
                  const std::vector<double>& times, std::vector<DynamicsInputs>* inputs) {
  const size_t n = pixels.size();
  for (size_t k = 0; k < n; ++k) {
    // The motion that brought the pen here; the first event moves as the second does.
    const size_t to = k > 0 ? k : (n > 1 ? 1 : 0);
    const size_t from = to > 0 ? to - 1 : 0;
    const double dx = pixels[to][0] - pixels[from][0];
    const double dy = pixels[to][1] - pixels[from][1];
    const double dt = times[to] - times[from];
    DynamicsInputs& in = (*inputs)[k];
    in[size_t(DynamicsInput::kSpeed)] = dt > 0 ? float(std::hypot(dx, dy) / dt) : 0.0f;
    // y grows down the canvas: up the screen is −y.
    in[size_t(DynamicsInput::kDirection)] =
        dx == 0 && dy == 0 ? 0.0f : float(std::atan2(-dy, dx) * 180.0 / 3.14159265358979323846);
  }
}

float RandomInput(int32_t seed, size_t index) {
  // splitmix64 of (seed, index): independent numbers without state between events.
  uint64_t z = (uint64_t(uint32_t(seed)) << 32) ^ uint64_t(index);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return float(double(z >> 40) / double(uint64_t(1) << 24));  // 24 bits: exact in float
}
