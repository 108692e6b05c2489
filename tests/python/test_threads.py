# SPDX-License-Identifier: MIT
"""Long jobs run without the GIL; a progress callable hears how far they got and can stop
them, and Ctrl-C stops them on the main thread."""
import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import kstroke
from support import EXAMPLES


# A sanitizer build renders some twenty times slower: smaller jobs last as long there.
SIDE = 0.35 if os.environ.get("KSTROKE_SANITIZED") == "1" else 1


def heavy(width=1200, strokes=1, events=300, diameter=300):
    """A description that takes a while: large soft dabs, close together."""
    width, diameter = int(width * SIDE), diameter * SIDE
    t = np.linspace(0, 1, events)
    return {
        "canvas": {"width": width, "height": width},
        "brush": {"diameter": diameter, "hardness": 0.3, "spacing": 0.02},
        "strokes": [{"events": [{"t": a, "x": 0.1 + 0.8 * a, "y": 0.5 + 0.3 * np.sin(20 * a + k)} for a in t.tolist()]}
                    for k in range(strokes)],
    }


def long_stroke():
    """One render call of some seconds: ten thousand large dabs along the canvas's bottom."""
    side = int(2000 * SIDE)
    canvas = kstroke.Canvas(side, side)
    stroke = kstroke.Stroke(canvas, kstroke.Brush(diameter=300 * SIDE, hardness=0.3, spacing=0.02))
    i = np.arange(10000)
    stroke.add_events(i * 0.001, 0.1 + 0.8 * np.abs(i / 100 % 2 - 1), 0.9 + 0.02 * np.sin(i / 50))
    return canvas, stroke


def noisy_canvas(side):
    canvas = kstroke.Canvas(side, side)
    canvas.pixels[...] = np.random.default_rng(1).integers(0, 256, canvas.shape, np.uint8)
    return canvas


def written(tmp_path):
    noisy_canvas(1000).write(tmp_path / "noise.tif")
    return tmp_path / "noise.tif"


# Each job gets a progress callable that stops it once the test's main thread has run:
# those that take one are made long (seconds) and end early; the two that take none
# are short.
JOBS = {
    "Stroke.render": lambda tmp: (lambda p, s=long_stroke()[1]: s.render(progress=p)),
    "Stroke.finish": lambda tmp: (lambda p, s=long_stroke()[1]: s.finish(progress=p)),
    "Document.render": lambda tmp: (lambda p, d=kstroke.Document.parse(heavy(2000, 10, 300, 600)): d.render(p)),
    "kstroke.render": lambda tmp: (lambda p, d=heavy(2000, 10, 300, 600): kstroke.render(d, p)),
    "Canvas.write": lambda tmp: (lambda p, c=noisy_canvas(3000): c.write(tmp / "out.png", progress=p)),
    "Canvas.read": lambda tmp: (lambda p, f=written(tmp): kstroke.Canvas.read(f)),
    "Document.save": lambda tmp: (lambda p, d=kstroke.Document.parse(heavy(events=5000, diameter=5)):
                                  d.save(tmp / "out.kst")),
}


@pytest.fixture
def gil_only_when_given_up():
    """Python switches threads only when the running one gives the GIL up: another
    thread runs while a job does only if the job released it."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    yield
    sys.setswitchinterval(interval)


@pytest.mark.parametrize("name", JOBS)
def test_jobs_let_other_threads_run(name, tmp_path, gil_only_when_given_up):
    job = JOBS[name](tmp_path)
    started, done, main_ran = threading.Event(), [], []

    def work():
        started.set()
        # A short job may end before the main thread is scheduled at all; it runs again
        # until the main thread got in. Between runs the worker holds the GIL, so the
        # main thread can only have run inside one.
        for _ in range(500):
            try:
                job(lambda fraction: False if main_ran else None)
            except kstroke.Error as e:
                assert e.code == kstroke.CANCELLED
            if main_ran:
                break
        done.append(True)

    worker = threading.Thread(target=work)
    worker.start()
    started.wait()
    # The worker gave the GIL up: either inside the job, or once finished with it.
    ran_while_working = not done
    main_ran.append(True)
    worker.join()
    assert done and ran_while_working, f"{name} kept the GIL"


def test_a_stroke_at_work_on_one_thread_refuses_another():
    stroke = kstroke.Stroke(kstroke.Canvas(300, 300), kstroke.Brush(diameter=50))
    stroke.add_events(np.linspace(0, 1, 20), np.linspace(0.1, 0.9, 20), np.full(20, 0.5))
    inside, may_go_on = threading.Event(), threading.Event()

    def hold(fraction):
        # The render's first report holds it until this test has tried the stroke.
        inside.set()
        may_go_on.wait()

    worker = threading.Thread(target=lambda: stroke.render(progress=hold))
    worker.start()
    inside.wait()
    refused = []
    for call in [lambda: stroke.add(5, 0.5, 0.5), stroke.render, lambda: stroke.add_events([5], [0.5], [0.5]),
                 lambda: kstroke.Document.new(300, 300).add(stroke)]:
        with pytest.raises(RuntimeError) as caught:
            call()
        refused.append(str(caught.value))
    may_go_on.set()
    worker.join()
    assert refused == [f"{name}: the stroke is in use by another thread"
                       for name in ["Stroke.add", "Stroke.render", "Stroke.add_events", "Document.add"]]
    stroke.add(5, 0.5, 0.5)  # free again
    assert stroke.events == 21


def test_progress_hears_every_render_call_in_order_and_stops_the_job_when_told():
    heard = []
    kstroke.Document.load(EXAMPLES / "fill.json").render(progress=heard.append)
    # fill.json is 90 events rendered four at a time: 23 render calls, each heard.
    assert heard[0] == 0 and heard[-1] == 1 and heard == sorted(heard)
    assert len(set(heard)) >= 23 and all(0 <= f <= 1 for f in heard)
    kstroke.render(EXAMPLES / "fill.json", progress=None)  # none: nothing asked
    heard.clear()

    def half(fraction):
        heard.append(fraction)
        return fraction < 0.5

    with pytest.raises(kstroke.Error) as caught:
        kstroke.Document.load(EXAMPLES / "fill.json").render(progress=half)
    assert (caught.value.code, str(caught.value)) == (kstroke.CANCELLED, "stopped")
    assert 0.5 <= heard[-1] < 1


def test_an_exception_in_the_progress_stops_the_job_and_propagates_and_false_stops_image_files(tmp_path):
    error = ValueError("enough")

    def fail(fraction):
        raise error

    canvas, clone = kstroke.Canvas(64, 64), EXAMPLES / "clone_source.png"
    cases = [  # name, the job given its progress, its message when the progress answers False
        ("document", lambda p: kstroke.Document.load(EXAMPLES / "fill.json").render(progress=p), None),
        ("stroke", lambda p: kstroke.Stroke(canvas, "round").render(progress=p), None),
        ("write", lambda p: canvas.write(tmp_path / "never.png", progress=p), "stopped"),
        ("read", lambda p: kstroke.Canvas.read(clone, progress=p), f"{clone}: stopped"),
    ]
    for name, job, message in cases:
        with pytest.raises(ValueError) as caught:
            job(fail)
        assert caught.value is error, name
        if message:
            with pytest.raises(kstroke.Error) as stopped:
                job(lambda f: False)
            assert (stopped.value.code, str(stopped.value)) == (kstroke.CANCELLED, message), name
    assert os.listdir(tmp_path) == []  # no picture, no temporary


# Run in a process of its own: SIGINT goes to the main thread once it is inside one
# render call of some seconds (ten thousand large dabs along the bottom of the canvas),
# with and without a progress callable. Each must end in KeyboardInterrupt with the
# bottom rows unpainted: a render that ran to its end would have painted them.
CTRL_C = textwrap.dedent("""
    import signal, sys, threading
    import numpy as np
    import kstroke
    sys.setswitchinterval(1000)  # the helper below runs only once the render gives up the GIL

    for callable_given in (True, False):
        canvas = kstroke.Canvas(2000, 2000)
        stroke = kstroke.Stroke(canvas, kstroke.Brush(diameter=300, hardness=0.3, spacing=0.02))
        i = np.arange(10000)
        stroke.add_events(i * 0.001, 0.1 + 0.8 * np.abs(i / 100 % 2 - 1), 0.9 + 0.02 * np.sin(i / 50))
        inside = threading.Event()

        def interrupt_once_inside():
            inside.wait()
            signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

        helper = threading.Thread(target=interrupt_once_inside)
        helper.start()
        inside.set()
        try:
            stroke.render(progress=(lambda fraction: None) if callable_given else None)
            print("finished")
        except KeyboardInterrupt:
            painted = int((canvas.pixels[1960:, :, 1:] != 255).any(axis=-1).sum())
            print("interrupted", callable_given, painted)
        helper.join()
""")


def test_ctrl_c_stops_a_render():
    child = subprocess.run([sys.executable, "-c", CTRL_C], capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["interrupted", "True", "0", "interrupted", "False", "0"]
