# SPDX-License-Identifier: MIT
"""Canvases as numpy arrays: the view is the canvas's own memory, in alpha, red, green,
blue order at the depth's type and scale, and it keeps the canvas alive."""
import gc
import weakref

import numpy as np
import pytest

import kstroke

DEPTHS = [
    # depth, dtype, full scale
    (8, np.uint8, 255),
    (16, np.uint16, 32768),
    (32, np.float32, 1.0),
]


@pytest.mark.parametrize("depth,dtype,full", DEPTHS)
def test_pixels_are_alpha_first_at_the_depths_type_and_scale_and_rgba_copies_red_first(depth, dtype, full):
    canvas = kstroke.Canvas(5, 3, depth, background=(1, 0, 1, 0))
    assert (canvas.depth, canvas.dtype, canvas.full, canvas.shape) == (depth, np.dtype(dtype), full, (3, 5, 4))
    pixels = canvas.pixels
    assert pixels.dtype == dtype and pixels.shape == (3, 5, 4)
    # Transparent magenta: alpha 0 first, then red, green, blue.
    assert pixels.tolist() == [[[0, full, 0, full]] * 5] * 3
    assert canvas.rgba()[0, 0].tolist() == [full, 0, full, 0]
    assert canvas.colour == ("linear" if depth == 32 else "srgb")
    # rgba() and from_rgba() copy out and in, red, green, blue, alpha.
    rgba = (np.random.default_rng(depth).random((7, 9, 4)) * full).astype(dtype)
    canvas = kstroke.Canvas.from_rgba(rgba)
    assert canvas.depth == depth and (canvas.width, canvas.height) == (9, 7)
    assert np.array_equal(canvas.pixels, rgba[..., [3, 0, 1, 2]])
    out = canvas.rgba()
    assert np.array_equal(out, rgba)
    out[...] = 0  # a copy: the canvas keeps its pixels
    assert np.array_equal(canvas.rgba(), rgba)
    opaque = kstroke.Canvas.from_rgba(rgba[..., :3], colour="linear")
    assert opaque.colour == "linear" and (opaque.pixels[..., 0] == full).all()


@pytest.mark.parametrize("depth,dtype,full", DEPTHS)
def test_writes_through_the_view_change_the_canvas(depth, dtype, full, tmp_path):
    canvas = kstroke.Canvas(6, 4, depth)
    view = canvas.pixels
    view[2, 3] = [full, 0, full, 0]  # opaque green
    view[0, :, 1:] = 0  # the top row black
    assert canvas.pixels[2, 3].tolist() == [full, 0, full, 0]
    assert np.shares_memory(view, canvas.pixels) and np.shares_memory(view, np.asarray(canvas))
    # The engine sees it: the canvas written by the library and read back holds it.
    name = tmp_path / ("c.tif" if depth == 32 else "c.png")
    canvas.write(name, file_depth="float" if depth == 32 else None)
    back = kstroke.Canvas.read(name, depth).pixels
    assert back.tolist() == view.tolist()
    # And a stroke painted on the canvas lands in the same memory.
    stroke = kstroke.Stroke(canvas, kstroke.Brush(diameter=3), (1, 0, 0))
    stroke.add(0, 0.9, 0.9)
    rect = stroke.finish()
    assert rect and view[rect.slices][..., 1].max() == full


def test_the_array_keeps_its_canvas_alive():
    canvas = kstroke.Canvas(40, 30, 16, background=(0.5, 0.25, 0, 1))
    alive = weakref.ref(canvas)
    view = canvas.pixels
    assert view.base is canvas
    del canvas
    gc.collect()
    assert alive() is not None
    assert view[29, 39].tolist() == [32768, 16384, 8192, 0]
    view[...] = 0
    assert alive().pixels.max() == 0
    del view
    gc.collect()
    assert alive() is None
    # What render() answers is such a view too: its canvas lives as long as it does.
    pixels = kstroke.render({"canvas": {"width": 8, "height": 8}, "strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})
    assert isinstance(pixels.base, kstroke.Canvas) and pixels.flags.writeable
    gc.collect()
    assert pixels[4, 4, 0] == 255 and pixels[4, 4, 1] < 128


def test_sixteen_and_float_canvases_travel_through_files_unchanged(tmp_path):
    rng = np.random.default_rng(7)
    for name, depth, file_depth in [("deep.png", 16, None), ("deep.tif", 16, None),
                                    ("float.tif", 32, "float"), ("float.exr", 32, "float")]:
        canvas = kstroke.Canvas(16, 8, depth)
        full = canvas.full
        values = rng.random((8, 16, 4)) * full
        values[..., 0] = full  # opaque: OpenEXR premultiplies, exact only at alpha 1
        canvas.pixels[...] = values if depth == 32 else np.rint(values)
        canvas.write(tmp_path / name, file_depth=file_depth)
        back = kstroke.Canvas.read(tmp_path / name, depth)
        assert np.array_equal(back.pixels, canvas.pixels), name


def test_reprs_name_size_type_and_colour():
    assert repr(kstroke.Canvas(20, 10, 16)) == "<kstroke.Canvas 20 x 10, uint16, srgb>"
    assert repr(kstroke.Canvas(3, 4, 32, colour="srgb")) == "<kstroke.Canvas 3 x 4, float32, srgb>"
    canvas = kstroke.Canvas(64, 32)
    stroke = kstroke.Stroke(canvas)
    assert repr(stroke) == "<kstroke.Stroke: 0 events on a 64 x 32 uint8 canvas>"
    stroke.add(0, 0.5, 0.5)
    stroke.finish()
    assert repr(stroke) == "<kstroke.Stroke: 1 event on a 64 x 32 uint8 canvas, finished>"
    assert repr(kstroke.Source.fill((1, 0.5, 0))) == "kstroke.Source.fill((1.0, 0.5, 0.0, 1.0))"
    assert repr(kstroke.Source.clone(canvas, 0.25, 0.5)) == (
        "kstroke.Source.clone(<kstroke.Canvas 64 x 32, uint8, srgb>, source_x=0.25, source_y=0.5)")
    assert repr(kstroke.Source.clone_file("/a/b.png", source_pixel_aspect=2)) == (
        "kstroke.Source.clone_file('/a/b.png', source_x=0.0, source_y=0.0, source_pixel_aspect=2.0)")
    assert repr(kstroke.Document.load(__import__("support").EXAMPLES / "fill.json")) == (
        "<kstroke.Document 384 x 256, depth 8, 1 stroke>")
