#!/usr/bin/python3
"""Writes the README's pictures in docs/ from the examples, with the kstroke program.

Run from the repository after `make demo` (it uses build/kstroke). Needs Debian's
python3-cairo for the labels (only here: nothing else uses it). The pictures are
committed; rerun this when the examples or the engine's output change.
"""
import os
import subprocess
import sys
import tempfile

import cairo

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
KSTROKE = os.path.join(ROOT, "build", "kstroke")


def render(args, out):
    subprocess.run([KSTROKE] + args + ["-q", "-o", out], check=True, cwd=ROOT)


def montage(tiles, columns, out, label_height=26, gap=12):
    """Tiles are (png path, label); the sheet is white with each label under its tile."""
    images = [(cairo.ImageSurface.create_from_png(path), label) for path, label in tiles]
    w = max(i.get_width() for i, _ in images)
    h = max(i.get_height() for i, _ in images)
    rows = (len(images) + columns - 1) // columns
    sheet = cairo.ImageSurface(cairo.FORMAT_ARGB32, columns * (w + gap) - gap,
                               rows * (h + label_height + gap) - gap)
    cr = cairo.Context(sheet)
    cr.set_source_rgb(1, 1, 1)
    cr.paint()
    cr.select_font_face("sans-serif", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_NORMAL)
    cr.set_font_size(14)
    for k, (image, label) in enumerate(images):
        x = (k % columns) * (w + gap)
        y = (k // columns) * (h + label_height + gap)
        cr.set_source_surface(image, x, y)
        cr.paint()
        extent = cr.text_extents(label)
        cr.set_source_rgb(0.2, 0.2, 0.22)
        cr.move_to(x + (w - extent.width) / 2, y + h + 18)
        cr.show_text(label)
    sheet.write_to_png(out)


def main():
    docs = os.path.join(ROOT, "docs")
    with tempfile.TemporaryDirectory() as tmp:
        def example(name):
            out = os.path.join(tmp, name + ".png")
            render(["render", os.path.join("examples", name + ".json")], out)
            return out

        montage([(example("pressure"), "pressure"), (example("ellipse"), "ellipse"),
                 (example("symmetry"), "symmetry"), (example("clone"), "clone"),
                 (example("deep16"), "deep16"), (example("float32"), "float32")],
                3, os.path.join(docs, "examples.png"))
        montage([(example("dynamics"), "pressure, speed, random, tilt")], 1,
                os.path.join(docs, "dynamics.png"))
        montage([(example("smoothing"), "none            curve            curve + stabiliser 0.5")],
                1, os.path.join(docs, "smoothing.png"))
        subprocess.run([KSTROKE, "brushes", "-q", "--sheet", os.path.join(docs, "brushes.png")],
                       check=True)
    print("wrote docs/examples.png, dynamics.png, smoothing.png, brushes.png")


if __name__ == "__main__":
    sys.exit(main())
