# SPDX-License-Identifier: MIT
# A spiral drawn procedurally with kstroke's Python module: the pen's path and pressure
# come from numpy, and the picture is written as a PNG (the README shows this file).
import sys

import numpy as np

import kstroke

out = sys.argv[1] if len(sys.argv) > 1 else "spiral.png"
canvas = kstroke.Canvas(512, 512, background=(0.96, 0.94, 0.89))

# Three turns outwards in three seconds; the pressure swells and eases five times.
n = 720
t = np.linspace(0.0, 3.0, n)
turn = np.linspace(0.0, 6 * np.pi, n)
radius = np.linspace(0.03, 0.44, n)
x, y = 0.5 + radius * np.cos(turn), 0.5 - radius * np.sin(turn)
pressure = 0.15 + 0.85 * np.sin(turn * 5 / 6) ** 2

# The diameter follows the pressure from 15 % to all of it; the flow stays full.
brush = kstroke.Brush(diameter=24, hardness=0.9, spacing=0.05, curve=True)
brush.clear_dynamics().map("diameter", "pressure", [[0, 0.15], [1, 1]])
stroke = kstroke.Stroke(canvas, brush, kstroke.Source.fill((0.62, 0.12, 0.18)))
for i in range(0, n, 8):  # eight events a render, as a painting host draws them
    stroke.add_events(t[i:i + 8], x[i:i + 8], y[i:i + 8], pressure[i:i + 8])
    stroke.render()
changed = stroke.finish()
canvas.write(out)

# canvas.pixels is the canvas itself, alpha, red, green, blue: no copy.
painted = (canvas.pixels[..., 1:] != canvas.pixels[0, 0, 1:]).any(axis=-1)
print(f"{out}: {canvas.width} x {canvas.height}, {painted.mean():.1%} painted, last {changed}")
