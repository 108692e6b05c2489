# SPDX-License-Identifier: MIT
"""Every failure is an exception with the engine's message: kstroke.Error carrying its
code for what the engine refuses, TypeError / ValueError naming the argument for what
Python passed wrong."""
import pickle

import numpy as np
import pytest

import kstroke
from support import EXAMPLES


def stroke(*events, **kwargs):
    s = kstroke.Stroke(kstroke.Canvas(64, 64), **kwargs)
    for e in events:
        s.add(*e)
    return s


def finished():
    s = stroke((0, 0.5, 0.5))
    s.finish()
    s.add(1, 0.6, 0.5)


PRESETS = ", ".join(kstroke.Brush.presets())

ENGINE_ERRORS = [
    # name, call, code, message
    ("canvas too wide", lambda: kstroke.Canvas(30001, 10), 0, "canvas.width: expected 1 to 30000, got 30001"),
    ("depth", lambda: kstroke.Canvas(10, 10, depth=12), 0, "canvas.depth: expected 8, 16 or 32, got 12"),
    ("diameter", lambda: setattr(kstroke.Brush(), "diameter", 0), 0, "brush.diameter: expected a number above 0 up to 10000, got 0"),
    ("flow in the constructor", lambda: kstroke.Brush(flow=1.5), 0, "brush.flow: expected a number from 0 to 1, got 1.5"),
    ("unknown preset", lambda: kstroke.Brush.preset("crayon"), 0,
     f'unknown brush preset "crayon" (one of: {PRESETS}), and no brush file of that name'),
    ("curve inputs going back", lambda: kstroke.Brush().map("flow", "speed", [[1, 1], [0, 1]]), 0,
     "brush.dynamics.flow.curve[1][0]: expected a number above 1 up to inf, got 0"),
    ("curve of nine points", lambda: kstroke.Brush().map("flow", "speed", [[i, 1] for i in range(9)]), 0,
     "brush.dynamics.flow.curve: expected 1 to 8 points, got 9"),
    ("fill alpha", lambda: kstroke.Source.fill((1, 0, 0, 2)), 0, "source.colour[3]: expected a number from 0 to 1, got 2"),
    ("unknown transfer", lambda: stroke(transfer="glow"), 0, 'unknown transfer mode "glow"'),
    ("time going back", lambda: stroke((1, 0.5, 0.5), (0.5, 0.6, 0.5)), 0,
     "event 1.t: expected a time after 1 (the event before), got 0.5"),
    ("pressure past 1 in an array",
     lambda: stroke().add_events([0, 1, 2], [0.1, 0.2, 0.3], [0.5] * 3, pressure=[0.5, 1, 1.5]), 0,
     "event 2.pressure: expected a number from 0 to 1, got 1.5"),
    ("not a number", lambda: stroke().add_events([0, 1], [0.1, np.nan], [0.5, 0.5]), 0,
     "event 1.x: expected a number from -10 to 10, got nan"),
    ("an event after the end", finished, 0, "event 1: the stroke is finished"),
    ("stopped by the progress", lambda: stroke((0, 0.2, 0.5), (1, 0.8, 0.5)).render(progress=lambda f: False), 1603, "stopped"),
    ("missing clone image", lambda: stroke(source=kstroke.Source.clone_file("/no/such.png")), 1650,
     "cannot open '/no/such.png': No such file or directory"),
    ("missing image", lambda: kstroke.Canvas.read("/no/such.png"), 1650,
     "cannot open '/no/such.png': No such file or directory"),
    ("missing description", lambda: kstroke.Document.load("/no/such.json"), 0,
     "/no/such.json: cannot open file: No such file or directory"),
    ("malformed description", lambda: kstroke.Document.parse("{", "x.json"), 0,
     "x.json: not valid JSON: parse error at line 1, column 2: syntax error while parsing object key - "
     "unexpected end of input; expected string literal"),
    ("a dict without strokes", lambda: kstroke.render({"strokes": []}), 0,
     "description: strokes: expected a non-empty list of strokes"),
    ("unknown field", lambda: kstroke.Document.parse({"strokes": [{"events": [{"t": 0, "x": 0, "y": 0}]}],
                                                      "colour": 1}, "d.json"), 0,
     "d.json: colour: unknown field"),
    ("unwritable file", lambda: kstroke.Canvas(4, 4).write("/nonexistent/o.png"), 0,
     "/nonexistent/o.png: cannot create the output file: No such file or directory"),
    ("unwritable description", lambda: kstroke.Document.load(EXAMPLES / "fill.json").save("/nonexistent/d.json"), 0,
     "/nonexistent/d.json: cannot create the output file: No such file or directory"),
    ("a stroke of another canvas", lambda: kstroke.Document.new(10, 10).add(stroke()), 0,
     "stroke: painted on a 64x64 canvas of depth 8, the document's is 10x10 of depth 8"),
]


ARGUMENT_ERRORS = [
    # name, call, exception, message
    ("column of another length", lambda: stroke().add_events([0, 1], [0.1, 0.2], [0.5]), ValueError,
     "Stroke.add_events: y: expected 2 values (as many as t), got 1"),
    ("complex column", lambda: stroke().add_events([0, 1], [0.1, 0.2j], [0.5, 0.5]), TypeError,
     "Stroke.add_events: x: expected real numbers, got an array of complex128"),
    ("text column", lambda: stroke().add_events([0, 1], [0.1, 0.2], [0.5, 0.5], tilt_x=["a", "b"]), TypeError,
     "Stroke.add_events: tilt_x: expected real numbers, got an array of <U1"),
    ("2-D times", lambda: stroke().add_events([[0, 1]], [0.1, 0.2], [0.5, 0.5]), ValueError,
     "Stroke.add_events: t: expected a 1-D array, got shape (1, 2)"),
    ("a single time", lambda: stroke().add_events(0, 0.1, 0.5), ValueError,
     "Stroke.add_events: t: expected a 1-D array, got shape ()"),
    ("float spacing", lambda: stroke().add_events([0], [0.1], [0.5], spacing=[0.5]), TypeError,
     "Stroke.add_events: spacing: expected booleans, got an array of float64"),
    ("colour space", lambda: kstroke.Canvas(10, 10, colour="rgb"), ValueError,
     "Canvas: colour: expected 'srgb', 'linear' or None, got 'rgb'"),
    ("two numbers", lambda: kstroke.Canvas(10, 10, background=(1, 1)), ValueError,
     "Canvas: background: expected 3 or 4 numbers (red, green, blue[, alpha]), got 2"),
    ("a colour name", lambda: kstroke.Source.fill("red"), TypeError,
     "Source.fill: colour: expected 3 or 4 numbers (red, green, blue[, alpha]), got 'red'"),
    ("float64 pixels", lambda: kstroke.Canvas.from_rgba(np.zeros((4, 4, 4))), TypeError,
     "Canvas.from_rgba: array: expected uint8, uint16 or float32 values, got float64"),
    ("grey pixels", lambda: kstroke.Canvas.from_rgba(np.zeros((4, 4), np.uint8)), ValueError,
     "Canvas.from_rgba: array: expected an array of shape (height, width, 3 or 4), got (4, 4)"),
    ("16 bits past full", lambda: kstroke.Canvas.from_rgba(np.full((2, 2, 4), 65535, np.uint16)), ValueError,
     "Canvas.from_rgba: array: 16-bit values run from 0 to 32768 (full), got 65535"),
    ("unknown factor", lambda: kstroke.Brush().map("size", "pressure", [[0, 1]]), ValueError,
     "Brush.map: factor: expected one of diameter, opacity, flow, angle, roundness, got 'size'"),
    ("unknown input", lambda: kstroke.Brush().map("angle", "tilt", [[0, 1]]), ValueError,
     "Brush.map: input: expected one of pressure, tilt_x, tilt_y, twist, speed, direction, random, got 'tilt'"),
    ("flat curve", lambda: kstroke.Brush().map("angle", "twist", [0, 1]), ValueError,
     "Brush.map: curve: expected [input, factor] pairs, an array of shape (n, 2), got shape (2,)"),
    ("misspelt field", lambda: kstroke.Brush.preset("ink", diamter=3), TypeError,
     "Brush.preset: unexpected brush field 'diamter'"),
    ("field of another type", lambda: kstroke.Brush.preset("ink", diameter="big"), TypeError,
     "Brush.preset: diameter: expected a number or a bool, got 'big'"),
    ("brush of another kind", lambda: stroke(brush=3), TypeError,
     "Stroke: brush: expected a Brush, a preset's name or None, got 3"),
    ("render a number", lambda: kstroke.render(3), TypeError,
     "render: description: expected a file name, a description (dict) or a Document, got 3"),
    ("parse a list", lambda: kstroke.Document.parse([]), TypeError,
     "Document.parse: description: expected a JSON string or a dict, got []"),
]


ERRORS = [(name, call, kstroke.Error, code, message) for name, call, code, message in ENGINE_ERRORS] + [
    (name, call, error, None, message) for name, call, error, message in ARGUMENT_ERRORS]


@pytest.mark.parametrize("name,call,error,code,message", ERRORS, ids=[c[0] for c in ERRORS])
def test_failures_raise_kstroke_error_with_its_code_or_a_type_or_value_error(name, call, error, code, message):
    with pytest.raises(error) as caught:
        call()
    assert type(caught.value) is error and str(caught.value) == message
    if error is kstroke.Error:  # the engine's: a RuntimeError with its code
        assert (caught.value.code, caught.value.message) == (code, message)
        assert isinstance(caught.value, RuntimeError)


def test_errors_keep_their_code_through_pickling():
    error = pickle.loads(pickle.dumps(kstroke.Error("x.json: bad", 1603)))
    assert (type(error), str(error), error.code) == (kstroke.Error, "x.json: bad", 1603)
    assert (kstroke.CANCELLED, kstroke.OUT_OF_MEMORY) == (1603, 1001)
