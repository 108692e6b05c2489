# SPDX-License-Identifier: MIT
"""What the Python module's tests share: where the sources, goldens and the kstroke
program are, whole-canvas comparisons and the golden-image check."""
import os
import pathlib
import shutil
import subprocess

import numpy as np

import kstroke

SOURCE = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = SOURCE / "examples"
GOLDEN = pathlib.Path(os.environ.get("KSTROKE_GOLDEN_DIR", SOURCE / "tests" / "golden"))
TEST_OUT = pathlib.Path(os.environ.get("KSTROKE_TEST_OUT", SOURCE / "build" / "test_out" / "python"))


def cli():
    """The kstroke program: ctest names it; by hand, the default build's, if any."""
    path = os.environ.get("KSTROKE_CLI") or str(SOURCE / "build" / "kstroke")
    return path if shutil.which(path) else None


def run_cli(*args):
    subprocess.run([cli(), *map(str, args)], check=True, capture_output=True)


def differing_rows(a, b):
    """Rows of two pixel arrays that differ anywhere: 0 for identical canvases."""
    assert a.shape == b.shape and a.dtype == b.dtype, (a.shape, a.dtype, b.shape, b.dtype)
    return int((a != b).reshape(a.shape[0], -1).any(axis=1).sum())


def expect_matches_golden(canvas, name, tolerance):
    """`canvas` against tests/golden/python/`name` within `tolerance` (a fraction of full
    scale); KSTROKE_UPDATE_GOLDEN=1 rewrites the golden first. On a mismatch the actual
    picture and a diff mask (red where past the tolerance) go to KSTROKE_TEST_OUT."""
    golden = GOLDEN / "python" / name
    if os.environ.get("KSTROKE_UPDATE_GOLDEN") == "1":
        golden.parent.mkdir(parents=True, exist_ok=True)
        canvas.write(golden)
    expected = kstroke.Canvas.read(golden, depth=canvas.depth)
    assert (expected.width, expected.height) == (canvas.width, canvas.height)
    diff = np.abs(canvas.pixels.astype(np.float64) - expected.pixels).max(axis=-1) / canvas.full
    bad = diff > tolerance
    if bad.any():
        TEST_OUT.mkdir(parents=True, exist_ok=True)
        canvas.write(TEST_OUT / name)
        mask = np.zeros(bad.shape + (4,), np.uint8)
        mask[..., 0] = 255
        mask[bad, 1] = 255
        kstroke.Canvas.from_rgba(mask[..., [1, 2, 3, 0]]).write(TEST_OUT / ("diff_" + name))
    assert not bad.any(), (
        f"{name}: {int(bad.sum())} pixels differ, largest difference {diff.max():.4g} of full "
        f"scale (tolerance {tolerance}); actual and diff in {TEST_OUT}")
