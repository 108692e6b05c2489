# SPDX-License-Identifier: MIT
"""Documents from Python render what the kstroke program renders, and travel through
description and stroke files unchanged."""
import json

import numpy as np
import pytest

import kstroke
from support import EXAMPLES, cli, differing_rows, run_cli

needs_cli = pytest.mark.skipif(cli() is None, reason="no kstroke program built (ctest names it in KSTROKE_CLI)")

# Example, and the samples of the picture the program writes: float ones in a TIFF.
CLI_CASES = [("fill.json", "8"), ("deep16.json", "16"), ("float32.json", "float"), ("symmetry.json", "8"),
             ("dynamics.json", "8")]


@needs_cli
@pytest.mark.parametrize("example,samples", CLI_CASES)
def test_render_of_a_dict_is_what_the_program_writes(example, samples, tmp_path):
    picture = "out.tif" if samples == "float" else "out.png"
    description = json.loads((EXAMPLES / example).read_text())
    pixels = kstroke.render(description)
    run_cli("render", EXAMPLES / example, "-q", "-o", tmp_path / picture, "--file-depth", samples)
    written = kstroke.Canvas.read(tmp_path / picture, description["canvas"].get("depth", 8))
    assert differing_rows(pixels, written.pixels) == 0
    assert differing_rows(pixels, kstroke.render(EXAMPLES / example)) == 0  # and of its file


@needs_cli
def test_clone_images_are_found_beside_the_description(tmp_path, monkeypatch):
    # The description names its image relatively: from a file, its folder; from a dict,
    # the current one.
    run_cli("render", EXAMPLES / "clone.json", "-q", "-o", tmp_path / "clone.png")
    written = kstroke.Canvas.read(tmp_path / "clone.png").pixels
    assert differing_rows(kstroke.render(str(EXAMPLES / "clone.json")), written) == 0
    description = json.loads((EXAMPLES / "clone.json").read_text())
    monkeypatch.chdir(EXAMPLES)
    assert differing_rows(kstroke.render(description), written) == 0


@pytest.mark.parametrize("example", ["clone.json", "pressure.json", "deep16.json", "float32.json"])
def test_documents_travel_through_stroke_files_and_descriptions(example, tmp_path):
    doc = kstroke.Document.load(EXAMPLES / example)
    expected = doc.render().pixels
    (tmp_path / "elsewhere").mkdir()
    doc.save(tmp_path / "doc.kst")
    doc.save(tmp_path / "elsewhere" / "doc.json")
    kst = kstroke.Document.load(tmp_path / "doc.kst")
    described = kstroke.Document.load(tmp_path / "elsewhere" / "doc.json")
    assert (tmp_path / "doc.kst").read_bytes()[:4] == b"LIST"
    for name, loaded in [("stroke file", kst), ("description elsewhere", described)]:
        assert (loaded.width, loaded.height, loaded.depth, len(loaded)) == (doc.width, doc.height, doc.depth, len(doc))
        assert differing_rows(loaded.render().pixels, expected) == 0, name
    # Loading and saving a stroke file again gives the same bytes.
    kst.save(tmp_path / "again.kst")
    assert (tmp_path / "again.kst").read_bytes() == (tmp_path / "doc.kst").read_bytes()
    # A description as a dict and as text parses to the same document.
    assert kstroke.Document.parse(doc.to_dict()).to_json() == doc.to_json()
    assert kstroke.Document.parse(doc.to_json()).to_json() == doc.to_json()


def test_painted_strokes_make_a_document_that_renders_them(tmp_path):
    doc = kstroke.Document.new(160, 100, 16, background=(0.9, 0.9, 0.8))
    canvas = doc.blank()
    strokes = [
        (kstroke.Source.fill((0.7, 0.1, 0.2)), "ink", 0.3),
        (kstroke.Source.clone_file(EXAMPLES / "clone_source.png", 0.1, 0.2), "clone", 0.6),
        (kstroke.Source.fill((0.1, 0.1, 0.7, 0.5)), "airbrush", 0.8),
    ]
    i = np.arange(24)
    for source, brush, y in strokes:
        stroke = kstroke.Stroke(canvas, kstroke.Brush.preset(brush, diameter=12), source)
        for start in range(0, 24, 4):  # the document's batch
            k = i[start:start + 4]
            stroke.add_events(k * 0.01, 0.1 + 0.035 * k, y + 0.1 * np.sin(k / 4), pressure=0.4 + 0.02 * k)
            stroke.render()
        stroke.finish()
        assert doc.add(stroke) is doc
    assert len(doc) == doc.strokes == 3
    doc.save(tmp_path / "painted.json")
    rendered = kstroke.Document.load(tmp_path / "painted.json").render()
    assert differing_rows(rendered.pixels, canvas.pixels) == 0
    assert differing_rows(canvas.pixels, doc.blank().pixels) > 50  # the strokes cover most rows
    assert len(doc.keep(1)) == 1 and len(doc.keep(5)) == 1  # undo; keeping more changes nothing
    brushed = doc.copy().use_brush(kstroke.Brush.preset("soft-eraser"))
    assert brushed.to_dict()["strokes"][0]["transfer"] == "erase"
    assert doc.to_dict()["strokes"][0]["transfer"] == "normal"  # a copy: the document keeps its own
