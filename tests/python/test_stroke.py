# SPDX-License-Identifier: MIT
"""Strokes from Python: events from numpy arrays are the events added one by one, the
answered rectangles hold every change, and brushes carry every field."""
import numpy as np
import pytest

import kstroke
from support import differing_rows


def pen_brush():
    """A brush reading every pen input, so a column landing in the wrong field shows."""
    brush = kstroke.Brush(diameter=14, roundness=0.8, spacing=0.1)
    brush.clear_dynamics()
    brush.map("diameter", "pressure", [[0, 0.3], [1, 1.2]])
    brush.map("angle", "tilt_x", [[-90, -60], [90, 60]])
    brush.map("roundness", "tiltY", [[-90, 0.3], [90, 1]])
    brush.map("angle", "twist", np.array([[0, 0], [360, 90]]))
    return brush


def pen_events(n, dtype=np.float64):
    i = np.arange(n)
    return dict(
        t=(i * 0.01).astype(dtype),
        x=(0.1 + 0.8 * i / n).astype(dtype),
        y=(0.5 + 0.3 * np.sin(i / 6)).astype(dtype),
        pressure=(0.2 + (i % 7) / 8).astype(dtype),
        tilt_x=(-80 + 160 * i / n).astype(dtype),
        tilt_y=(60 * np.cos(i / 5)).astype(dtype),
        twist=((i * 37) % 360).astype(dtype),
        spacing=i % 5 != 0,
    )


CASES = [
    # name, depth, brush, columns of the events
    ("pressure only, 8 bits", 8, lambda: kstroke.Brush(diameter=12), ["pressure"]),
    ("every input, 16 bits", 16, pen_brush, ["pressure", "tilt_x", "tilt_y", "twist"]),
    ("dabs forced, float, float32 arrays", 32, pen_brush, ["pressure", "tilt_x", "tilt_y", "twist", "spacing"]),
    ("curve and stabiliser", 8, lambda: kstroke.Brush.preset("ink", diameter=10, stabiliser=0.5), ["pressure", "twist"]),
]


@pytest.mark.parametrize("name,depth,brush,columns", CASES, ids=[c[0] for c in CASES])
def test_events_from_arrays_paint_what_the_same_events_one_by_one_paint(name, depth, brush, columns):
    events = pen_events(60, np.float32 if "float32" in name else np.float64)
    given = {k: events[k] for k in ["t", "x", "y"] + columns}

    from_arrays = kstroke.Canvas(160, 120, depth)
    stroke = kstroke.Stroke(from_arrays, brush(), (0.8, 0.3, 0.1), seed=3)
    for start in range(0, 60, 4):  # four events a render call, as a description's batch
        stroke.add_events(**{k: v[start:start + 4] for k, v in given.items()})
        stroke.render()
    stroke.finish()

    one_by_one = kstroke.Canvas(160, 120, depth)
    single = kstroke.Stroke(one_by_one, brush(), kstroke.Source.fill((0.8, 0.3, 0.1)), seed=3)
    for i in range(60):
        single.add(**{k: v[i].item() for k, v in given.items()})
        if i % 4 == 3:
            single.render()
    single.finish()

    assert len(stroke) == len(single) == 60
    assert differing_rows(from_arrays.pixels, one_by_one.pixels) == 0
    assert differing_rows(from_arrays.pixels, kstroke.Canvas(160, 120, depth).pixels) > 40

    # The same stroke as a description: each column is the event field of its name.
    doc = kstroke.Document.new(160, 120, depth).add(stroke)
    recorded = doc.to_dict()["strokes"][0]["events"]
    fields = {"tilt_x": "tiltX", "tilt_y": "tiltY"}
    defaults = {"tiltX": 0.0, "tiltY": 0.0, "twist": 0.0, "spacing": True}  # left out when so
    for k in given:
        field = fields.get(k, k)
        assert [e.get(field, defaults.get(field)) for e in recorded] == given[k].tolist(), k
    assert differing_rows(doc.render().pixels, from_arrays.pixels) == 0


def test_single_values_stand_for_every_event():
    canvas = kstroke.Canvas(100, 50)
    a = kstroke.Stroke(canvas)
    a.add_events([0, 1, 2], [0.2, 0.5, 0.8], [0.5, 0.5, 0.5], pressure=0.4, tilt_x=10, spacing=False)
    recorded = kstroke.Document.new(100, 50).add(a).to_dict()["strokes"][0]["events"]
    assert [(e["pressure"], e["tiltX"], e["spacing"]) for e in recorded] == [(0.4, 10, False)] * 3
    a.add_events(np.array([], np.float64), [], [])  # nothing to add
    assert a.events == 3


def test_rendered_rectangles_hold_every_changed_pixel():
    canvas = kstroke.Canvas(200, 100, 16)
    stroke = kstroke.Stroke(canvas, kstroke.Brush(diameter=20, hardness=0.5), (0.2, 0.4, 0.9))
    t = np.linspace(0, 1, 40)
    rects = []
    for start in range(0, 40, 8):
        before = canvas.pixels.copy()
        stroke.add_events(t[start:start + 8], 0.1 + 0.8 * t[start:start + 8], 0.3 + 0.4 * t[start:start + 8])
        rect = stroke.render()
        changed = (canvas.pixels != before).any(axis=-1)
        inside = np.zeros_like(changed)
        inside[rect.slices] = True
        assert changed.any() and not (changed & ~inside).any(), rect
        assert (rect.width, rect.height) == (rect.right - rect.left, rect.bottom - rect.top)
        rects.append(rect)
    # Each render call draws on from where the last left off.
    assert [r.left for r in rects] == sorted(r.left for r in rects)
    nothing = kstroke.Stroke(canvas).render()  # no event yet
    assert not nothing and nothing.empty and canvas.pixels[nothing.slices].size == 0


def test_brush_fields_presets_and_copies():
    brush = kstroke.Brush()
    fields = [
        ("diameter", 30.0, 45.5), ("hardness", 0.8, 0.25), ("roundness", 1.0, 0.5),
        ("angle", 0.0, -30.0), ("spacing", 0.25, 0.1), ("opacity", 1.0, 0.6), ("flow", 1.0, 0.3),
        ("stabiliser", 0.0, 0.4), ("dither", False, True), ("additive", False, True), ("curve", False, True),
    ]
    for name, default, value in fields:
        assert getattr(brush, name) == default, name
        setattr(brush, name, value)
    assert kstroke.Brush(**{name: value for name, _, value in fields}).__repr__() == repr(brush) == (
        "kstroke.Brush(diameter=45.5, hardness=0.25, roundness=0.5, angle=-30.0, spacing=0.1, "
        "opacity=0.6, flow=0.3, stabiliser=0.4, dither=True, additive=True, curve=True)")

    copy = brush.copy()
    copy.diameter = 3
    assert brush.diameter == 45.5
    assert brush.map("flow", "speed", [[0, 1], [100, 0.5]]) is brush
    assert brush.clear_dynamics() is brush

    names = kstroke.Brush.presets()
    assert len(names) == 12 and "ink" in names and names == sorted(names)
    eraser = kstroke.Brush.preset("soft-eraser", diameter=12)
    assert (eraser.diameter, eraser.transfer, kstroke.Brush().transfer) == (12, "erase", None)
    assert kstroke.Brush.preset("ink").diameter == 8  # overrides touch the copy only


def test_a_preset_name_and_a_colour_stand_for_brush_and_source():
    by_name, by_object = kstroke.Canvas(80, 40), kstroke.Canvas(80, 40)
    for canvas, brush, source in [(by_name, "marker", (0.1, 0.6, 0.2)),
                                  (by_object, kstroke.Brush.preset("marker"), kstroke.Source.fill((0.1, 0.6, 0.2, 1)))]:
        stroke = kstroke.Stroke(canvas, brush, source, transfer="multiply", channels="colour")
        stroke.add_events([0, 0.1, 0.2], [0.1, 0.5, 0.9], [0.5, 0.4, 0.5])
        stroke.finish()
    assert differing_rows(by_name.pixels, by_object.pixels) == 0
    assert (by_name.pixels[..., 0] == 255).all()  # "colour": alpha left alone
    assert differing_rows(by_name.pixels, kstroke.Canvas(80, 40).pixels) > 10


def test_a_clone_source_paints_the_image_it_clones():
    image = kstroke.Canvas(64, 64, 16)
    image.pixels[...] = [32768, 0, 0, 32768]  # opaque blue
    canvas = kstroke.Canvas(64, 64, 16)
    stroke = kstroke.Stroke(canvas, kstroke.Brush(diameter=20, hardness=1), kstroke.Source.clone(image))
    stroke.add(0, 0.5, 0.5)
    stroke.finish()
    assert canvas.pixels[32, 32].tolist() == [32768, 0, 0, 32768]
    assert canvas.pixels[2, 2].tolist() == [32768, 32768, 32768, 32768]
