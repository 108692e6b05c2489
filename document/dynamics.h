// SPDX-License-Identifier: MIT
// Brush dynamics: how a pointer's inputs become the five factors the engine records per
// event (diameter, opacity, flow, angle, roundness, in K_StrokeParam order).
//
// Inputs, per event:
//
//   input      range        unit                      when the event does not give it
//   pressure   0..1                                   1 (a pointer without pressure)
//   tiltX      −90..90      degrees, + to the right   0
//   tiltY      −90..90      degrees, + towards the user 0
//   twist      0..359       degrees, clockwise        0
//   speed      0 and up     canvas pixels per unit of event time, from the event
//                           before (the first event takes the second's)
//   direction  −180..180    degrees of the motion, 0 to the right, 90 up the screen,
//                           from the event before (the first takes the second's)
//   random     0..1         one number per event, from the stroke's seed
//
// A mapping reads one input through a piecewise-linear curve of 1 to 8 points whose x
// values increase; before the first point and after the last the curve is flat. A
// factor with several mappings takes their product (the angle: their sum), and one with
// none is 1 (the angle 0). The angle is in degrees, counter-clockwise on the screen like
// the brush angle, so {"input": "direction", "curve": [[-180, -180], [180, 180]]} lays
// a tip's long axis along the motion; the engine's own angle factor, which turns a tip
// clockwise, is its negative. Curves are evaluated in single precision as y0 + (y1 − y0) ·
// ((x − x0) / (x1 − x0)), which makes the default dynamics give exactly what the fixed
// pressure rule did: diameter 0.2 + 0.8 · pressure, flow = pressure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class DynamicsInput : int32_t {
  kPressure = 0,
  kTiltX,
  kTiltY,
  kTwist,
  kSpeed,
  kDirection,
  kRandom,
};
constexpr int kDynamicsInputCount = 7;

/// Names of the inputs as descriptions write them, in DynamicsInput order.
extern const char* const kDynamicsInputNames[kDynamicsInputCount];

/// Most points a curve may have.
constexpr size_t kMaxCurvePoints = 8;

struct DynamicsMapping {
  DynamicsInput input = DynamicsInput::kPressure;
  std::vector<std::array<float, 2>> curve;  ///< (x, y) points, x strictly increasing

  bool operator==(const DynamicsMapping& o) const { return input == o.input && curve == o.curve; }
};

/// Mappings per factor, in K_StrokeParam order (diameter, opacity, flow, angle, roundness).
struct Dynamics {
  std::array<std::vector<DynamicsMapping>, 5> factors;

  bool operator==(const Dynamics& o) const { return factors == o.factors; }
};

/// Diameter 0.2 + 0.8 · pressure and flow = pressure: a light touch still leaves a
/// thin line.
Dynamics DefaultDynamics();

/// The curve's value at `x`.
float EvaluateCurve(const std::vector<std::array<float, 2>>& curve, float x);

/// One event's inputs; speed and direction are filled in by DeriveMotion.
using DynamicsInputs = std::array<float, kDynamicsInputCount>;

/// The five factors for one event's inputs.
std::array<float, 5> ApplyDynamics(const Dynamics& dynamics, const DynamicsInputs& inputs);

/// Fills speed and direction of every event from positions in canvas pixels (x, y with
/// y down) and times. Positions and times have one entry per event.
void DeriveMotion(const std::vector<std::array<double, 2>>& pixels,
                  const std::vector<double>& times, std::vector<DynamicsInputs>* inputs);

/// The random input of event `index` of a stroke seeded with `seed`: the same number
/// however the events are delivered.
float RandomInput(int32_t seed, size_t index);
