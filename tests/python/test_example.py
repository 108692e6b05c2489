# SPDX-License-Identifier: MIT
"""The Python example draws its spiral, and the README shows that very program and the
picture it draws."""
import re
import subprocess
import sys

import numpy as np

import kstroke
from support import EXAMPLES, SOURCE, expect_matches_golden

EXAMPLE = EXAMPLES / "python" / "spiral.py"


def test_the_example_draws_the_spiral_of_the_golden(tmp_path):
    out = tmp_path / "spiral.png"
    child = subprocess.run([sys.executable, EXAMPLE, out], capture_output=True, text=True)
    assert child.returncode == 0, child.stderr
    drawn = kstroke.Canvas.read(out)
    painted = (drawn.pixels[..., 1:] != drawn.pixels[0, 0, 1:]).any(axis=-1).mean()
    line = re.fullmatch(r"(.*): 512 x 512, ([\d.]+)% painted, last kstroke\.Rect\(left=\d+, top=\d+, "
                        r"right=\d+, bottom=\d+\)\n", child.stdout)
    assert line and line[1] == str(out) and float(line[2]) == round(100 * painted, 1), child.stdout
    expect_matches_golden(drawn, "spiral.png", 1 / 255)


def test_the_readme_shows_the_example_and_its_picture():
    readme = (SOURCE / "README.md").read_text()
    program = EXAMPLE.read_text()
    body = program[program.index("import sys"):]
    assert "```python\n" + body + "```\n" in readme, "README.md does not show examples/python/spiral.py"
    assert "![" in readme and "](docs/python-spiral.png)" in readme
    shown = kstroke.Canvas.read(SOURCE / "docs" / "python-spiral.png")
    expect_matches_golden(shown, "spiral.png", 1 / 255)
    assert np.array_equal(shown.pixels[0, 0], [255, 245, 240, 227])  # the paper colour
