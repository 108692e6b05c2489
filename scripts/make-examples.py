#!/usr/bin/env python3
"""Writes the example stroke descriptions in examples/ (and the clone source image).

The examples are committed; rerun this only to change them. Events are sampled the way a
tablet delivers them: one every 1/120 s along a path, with pressure where it matters.
"""
import json
import math
import os
import re
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")


def events(path, n, pressure=None, first_forced=True):
    out = []
    for i in range(n):
        u = i / (n - 1)
        x, y = path(u)
        e = {"t": round(i / 120.0, 6), "x": round(x, 6), "y": round(y, 6)}
        if pressure:
            e["pressure"] = round(pressure(u), 4)
        if first_forced and i == 0:
            e["spacing"] = False
        out.append(e)
    return out


def wave(u, y0=0.5, amp=0.25, x0=0.1, x1=0.9, turns=1.0):
    return x0 + (x1 - x0) * u, y0 + amp * math.sin(u * 2 * math.pi * turns)


def write(name, doc):
    # One pointer event per line keeps the files readable and diffs small.
    text = json.dumps(doc, indent=2)
    text = re.sub(r"\{\s+(\"t\"[^{}]*?)\s+\}", lambda m: "{" + " ".join(m.group(1).split()) + "}", text)
    text = re.sub(r"\[\s+([-0-9.e,\s]+?)\s+\]", lambda m: "[" + " ".join(m.group(1).split()) + "]", text)
    with open(os.path.join(HERE, name), "w") as f:
        f.write(text + "\n")


def png(name, w, h, pixel):
    raw = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(w)) for y in range(h))
    chunk = lambda tag, data: struct.pack(">I", len(data)) + tag + data + struct.pack(
        ">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(HERE, exist_ok=True)
    canvas = {"width": 384, "height": 256, "depth": 8, "background": [1, 1, 1, 1]}

    write("fill.json", {
        "canvas": canvas,
        "brush": {"diameter": 24, "hardness": 0.8, "spacing": 0.2},
        "source": {"type": "fill", "colour": [0.1, 0.25, 0.7]},
        "strokes": [{"events": events(lambda u: wave(u), 90)}],
    })

    write("pressure.json", {
        "canvas": canvas,
        "brush": {"diameter": 40, "hardness": 0.6, "spacing": 0.1, "flow": 0.8},
        "source": {"type": "fill", "colour": [0.75, 0.1, 0.1]},
        "strokes": [{"events": events(lambda u: wave(u, amp=0.2, turns=1.5), 120,
                                      pressure=lambda u: math.sin(math.pi * u) ** 1.5)}],
    })

    write("ellipse.json", {
        "canvas": canvas,
        "brush": {"diameter": 36, "hardness": 0.9, "roundness": 0.3, "angle": 35,
                  "spacing": 0.15},
        "source": {"type": "fill", "colour": [0.05, 0.45, 0.2]},
        "strokes": [
            {"events": events(lambda u: wave(u, y0=0.35, amp=0.15), 80)},
            {"brush": {"angle": -35}, "events": events(lambda u: wave(u, y0=0.65, amp=-0.15), 80)},
        ],
    })

    # A checker in red over green and blue ramps: offsets and resampling show at a glance.
    png("clone_source.png", 384, 256, lambda x, y: (
        40 + 200 * ((x // 24 + y // 24) % 2), int(255 * x / 383), int(255 * y / 255), 255))
    write("clone.json", {
        "canvas": canvas,
        "brush": {"diameter": 48, "hardness": 0.5, "spacing": 0.15},
        "source": {"type": "clone", "image": "clone_source.png", "sourcePoint": [0.05, 0]},
        "strokes": [{"events": events(lambda u: wave(u, amp=0.2), 100)}],
    })

    deep = dict(canvas, depth=16)
    write("deep16.json", {
        "canvas": deep,
        "brush": {"diameter": 60, "hardness": 0.2, "spacing": 0.05, "flow": 0.3},
        "source": {"type": "fill", "colour": [0.4, 0.1, 0.6]},
        "strokes": [{"events": events(lambda u: wave(u, amp=0.15, turns=0.5), 100)}],
    })

    flt = dict(canvas, depth=32, background=[0.08, 0.08, 0.1, 1])
    write("float32.json", {
        "canvas": flt,
        "brush": {"diameter": 30, "hardness": 0.7, "spacing": 0.1},
        "source": {"type": "fill", "colour": [1.0, 0.8, 0.2]},
        "transfer": "screen",
        "strokes": [
            {"events": events(lambda u: wave(u, y0=0.4, amp=0.2), 90)},
            {"source": {"type": "fill", "colour": [0.2, 0.7, 1.0]},
             "events": events(lambda u: wave(u, y0=0.6, amp=-0.2), 90)},
        ],
    })

    # Dynamics: one input each. Pressure swells the stroke, speed thins a pen that
    # speeds up, random jitter roughens chalk, and tilting the pen lays a pastel on its
    # side.
    rows = [0.16, 0.39, 0.62, 0.85]
    def row(y0, n=90, **extra):
        out = events(lambda u: wave(u, y0=y0, amp=0.07, x0=0.08, x1=0.92, turns=1.5), n)
        for i, e in enumerate(out):
            u = i / (n - 1)
            for key, f in extra.items():
                e[key] = round(f(u), 4)
        return out
    write("dynamics.json", {
        "canvas": dict(canvas, height=320),
        "source": {"type": "fill", "colour": [0.12, 0.16, 0.32]},
        "strokes": [
            {"brush": {"diameter": 26, "hardness": 0.8, "spacing": 0.06},
             "events": row(rows[0], pressure=lambda u: 0.1 + 0.9 * math.sin(math.pi * u) ** 2)},
            {"brush": {"diameter": 22, "hardness": 0.85, "spacing": 0.06,
                       "dynamics": {"diameter": {"input": "speed",
                                                 "curve": [[0, 1.2], [1200, 0.25]]}}},
             "events": [dict(e, t=round(0.9 * math.sqrt(i / 89), 6))
                        for i, e in enumerate(row(rows[1]))]},
            {"brush": {"preset": "chalk", "diameter": 26}, "events": row(rows[2])},
            {"brush": "pastel", "events": row(rows[3], tiltY=lambda u: 60 * u)},
        ],
    })

    # Smoothing: the same ten samples of a circle joined by straight segments, by a
    # curve, and by a curve with the stabiliser, whose brush lags and catches up.
    def circle(cx, n=10, r=50):
        out = []
        for i in range(n + 1):
            a = 2 * math.pi * i / n
            out.append({"t": round(i / 20.0, 6), "x": round(cx + r * math.cos(a) / 384, 6),
                        "y": round(0.5 + r * math.sin(a) / 256, 6)})
        return out
    write("smoothing.json", {
        "canvas": canvas,
        "brush": {"diameter": 8, "hardness": 0.9, "spacing": 0.1},
        "source": {"type": "fill", "colour": [0.1, 0.25, 0.7]},
        "strokes": [
            {"brush": {"smoothing": "none"}, "events": circle(0.18)},
            {"brush": {"smoothing": "curve"}, "events": circle(0.5)},
            {"brush": {"smoothing": "curve", "stabiliser": 0.5}, "events": circle(0.82)},
        ],
    })

    # Symmetry: one stroke, turned six times and mirrored, about the canvas's middle.
    petal = []
    n = 60
    for i in range(n):
        u = i / (n - 1)
        r = 0.05 + 0.38 * u
        a = 1.2 * math.sin(math.pi * u)
        petal.append({"t": round(i / 120.0, 6), "x": round(0.5 + r * math.cos(a) * 256 / 384, 6),
                      "y": round(0.5 - r * math.sin(a), 6),
                      "pressure": round(0.2 + 0.8 * math.sin(math.pi * u), 4)})
    write("symmetry.json", {
        "canvas": canvas,
        "brush": {"preset": "round", "diameter": 14, "hardness": 0.7},
        "source": {"type": "fill", "colour": [0.55, 0.12, 0.35]},
        "symmetry": {"mirror": "horizontal", "rotate": 6, "centre": [0.5, 0.5]},
        "strokes": [{"events": petal}],
    })

    # Two soft strokes crossing, red under green, blended in the stored sRGB values and
    # in linear light: the README's picture of the two.
    blend = {
        "canvas": dict(canvas, width=320, height=200),
        "brush": {"diameter": 80, "hardness": 0.1, "spacing": 0.1},
        "strokes": [
            {"source": {"type": "fill", "colour": [1.0, 0.0, 0.0]},
             "events": events(lambda u: (0.15 + 0.7 * u, 0.3 + 0.4 * u), 60)},
            {"source": {"type": "fill", "colour": [0.0, 0.8, 0.0]},
             "events": events(lambda u: (0.15 + 0.7 * u, 0.7 - 0.4 * u), 60)},
        ],
    }
    write("blend_encoded.json", dict(blend, blending="encoded"))
    write("blend_linear.json", dict(blend, blending="linear"))


if __name__ == "__main__":
    main()
