#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutation testing: how many small, plausible faults do the tests catch?

Picks a fixed, seeded sample of mutations across the engine, host and document sources
(a flipped comparison, an off-by-one, a changed constant, a removed statement), applies
each in turn, rebuilds incrementally, runs the test programs that could notice, and
prints the share killed and the survivors. A mutant that does not compile is stillborn
and not counted; one whose tests hang past the timeout counts as killed.

The source tree is restored after every mutant, and on Ctrl-C. Run it from a clean
working tree: it refuses to start over uncommitted changes to the files it mutates.

    scripts/mutants.sh [--count 80] [--seed 1] [--build build-mutants] [--list]
    scripts/mutants.sh --replay earlier.json [--replay-rev REV]

--replay tries again the mutants an earlier run wrote with --json, each found by the text
of its line at the commit that run was made on (recorded in the file, or --replay-rev), so
the same faults are measured after the tests or the code around them changed. A mutant
whose line is gone is listed and not counted. The browser, cluster, Python and docs tests
are left out of every run: they are slow, and they test programs built on the same
libraries the other tests cover.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Folders whose code is mutated, and the test labels (tests/<label>/) that may notice.
ENGINE = ["frame", "stroke", "tips", "raster", "sources", "render"]
DOWNSTREAM = ["render", "document", "facade", "app"]
# Test labels no run includes (see above).
SLOW_LABELS = "^(studio|cluster|python|docs)$"


def labels_for(path):
    top = path.split("/")[0]
    if top == "host":
        return None  # every test program runs on the host libraries
    if top in ENGINE:
        return sorted(set([top] + DOWNSTREAM))
    if top == "document":
        return ["app", "document", "facade"]
    return None


# Mutation operators: (name, pattern, replacement). Patterns see code with comments and
# string literals blanked out, so they never match inside either.
OPERATORS = [
    # Binary operators stand between spaces in this code base; template brackets and
    # shifts never match.
    ("flip <", re.compile(r"(?<= )<(?= )"), "<="),
    ("flip <=", re.compile(r"(?<= )<=(?= )"), "<"),
    ("flip >", re.compile(r"(?<= )>(?= )"), ">="),
    ("flip >=", re.compile(r"(?<= )>=(?= )"), ">"),
    ("flip ==", re.compile(r"(?<= )==(?= )"), "!="),
    ("flip !=", re.compile(r"(?<= )!=(?= )"), "=="),
    ("flip &&", re.compile(r"(?<= )&&(?= )"), "||"),
    ("off by one +1", re.compile(r"(?<= )\+ 1(?![\w.])"), "+ 2"),
    ("off by one -1", re.compile(r"(?<= )- 1(?![\w.])"), "- 2"),
    ("constant", re.compile(r"(?<![\w.])([2-9]|[1-9]\d{1,4})(?![\w.'])"), None),
]

SKIP_LINE = re.compile(r"^\s*(#|static_assert|template|case\b|namespace|using\b|return\s*;)")
# Statements that are safe to remove as a whole and change behaviour when gone.
STATEMENT = re.compile(r"^\s*[A-Za-z_][\w:.\->\[\]]*\s*(\(.*\)|[+\-*/|&]?=\s*.+|\+\+|--);\s*$")


def blank_comments_and_strings(line, in_block):
    """The line with comments and string/char literals replaced by spaces."""
    out = []
    i = 0
    n = len(line)
    while i < n:
        if in_block:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_block = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_block = True
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_block


def candidates():
    files = subprocess.run(["git", "ls-files", "*.cpp"], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    tops = set(ENGINE + ["host", "document"])
    found = []
    for path in sorted(files):
        if path.split("/")[0] not in tops:
            continue
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        in_block = False
        for number, line in enumerate(lines, 1):
            code, in_block = blank_comments_and_strings(line, in_block)
            if not code.strip() or SKIP_LINE.match(code) or "KSTROKE_" in code:
                continue
            for name, pattern, replacement in OPERATORS:
                for m in pattern.finditer(code):
                    if replacement is None:
                        value = int(m.group(1))
                        new = str(value + 1)
                    else:
                        new = replacement
                    found.append({"path": path, "line": number, "col": m.start(), "old": m.group(0),
                                  "new": new, "kind": name})
            if STATEMENT.match(code) and not code.rstrip().endswith("{"):
                found.append({"path": path, "line": number, "col": 0, "old": line,
                              "new": "", "kind": "remove statement"})
    return found


def sample(count, seed):
    pool = candidates()
    rng = random.Random(seed)
    rng.shuffle(pool)
    chosen, per_file = [], {}
    # Spread the sample: at most a few mutants from any one file.
    limit = max(3, count // 20)
    for m in pool:
        if per_file.get(m["path"], 0) >= limit:
            continue
        per_file[m["path"]] = per_file.get(m["path"], 0) + 1
        chosen.append(m)
        if len(chosen) == count:
            break
    return sorted(chosen, key=lambda m: (m["path"], m["line"], m["col"]))


def git_show(rev, path):
    p = subprocess.run(["git", "show", "%s:%s" % (rev, path)], cwd=ROOT, capture_output=True,
                       text=True)
    return p.stdout.split("\n") if p.returncode == 0 else None


def replayed(path_json, rev):
    """The mutants of an earlier run, moved to where their lines are now."""
    with open(path_json) as f:
        earlier = json.load(f)
    rev = rev or earlier.get("rev")
    if not rev:
        sys.exit("mutants: %s records no commit; give --replay-rev" % path_json)
    found, gone = [], []
    for m in earlier["killed"] + earlier["survived"] + earlier["stillborn"]:
        then = git_show(rev, m["path"])
        if then is None:
            sys.exit("mutants: %s is not at %s" % (m["path"], rev))
        text = then[m["line"] - 1]
        full = os.path.join(ROOT, m["path"])
        now = open(full, encoding="utf-8").read().split("\n") if os.path.exists(full) else []
        places = [n for n, line in enumerate(now, 1) if line == text]
        if not places:
            gone.append(m)
            continue
        moved = dict(m)
        moved["line"] = min(places, key=lambda n: abs(n - m["line"]))
        found.append(moved)
    return sorted(found, key=lambda m: (m["path"], m["line"], m["col"])), gone


def apply(m):
    full = os.path.join(ROOT, m["path"])
    with open(full, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    line = lines[m["line"] - 1]
    if m["kind"] == "remove statement":
        lines[m["line"] - 1] = re.sub(r"\S.*", "(void)0;  // mutant: removed", line, count=1)
    else:
        c = m["col"]
        assert line[c:c + len(m["old"])] == m["old"], (m, line)
        lines[m["line"] - 1] = line[:c] + m["new"] + line[c + len(m["old"]):]
    with open(full, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return full, original


def describe(m):
    where = "%s:%d" % (m["path"], m["line"])
    if m["kind"] == "remove statement":
        return "%s  removed: %s" % (where, m["old"].strip())
    return "%s  %s: '%s' -> '%s'" % (where, m["kind"], m["old"], m["new"])


def run(cmd, timeout=None, log=None):
    try:
        p = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, timeout=timeout)
        if log is not None:
            log.write(p.stdout)
        return p.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--count", type=int, default=80, help="mutants to try (default 80)")
    ap.add_argument("--seed", type=int, default=1, help="sample seed (default 1)")
    ap.add_argument("--build", default="build-mutants", help="build folder (default build-mutants)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=300, help="seconds for one mutant's tests")
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--json", help="also write the results to this file")
    ap.add_argument("--replay", help="try again the mutants of an earlier --json file")
    ap.add_argument("--replay-rev", help="the commit that earlier run was made on")
    args = ap.parse_args()
    if args.count < 1:
        sys.exit("mutants: --count must be at least 1")

    if args.replay:
        mutants, gone = replayed(args.replay, args.replay_rev)
        for m in gone:
            print("gone (line no longer there): " + describe(m))
    else:
        mutants = sample(args.count, args.seed)
    if args.list:
        for m in mutants:
            print(describe(m))
        print("%d mutants (%s)" % (len(mutants), "from " + args.replay if args.replay
                                    else "seed %d" % args.seed))
        return 0
    dirty = subprocess.run(["git", "status", "--porcelain", "--"] + sorted({m["path"] for m in mutants}),
                           cwd=ROOT, capture_output=True, text=True).stdout.strip()
    if dirty:
        sys.exit("mutants: uncommitted changes to files it would mutate:\n" + dirty)

    build = os.path.join(ROOT, args.build)
    log = open(os.path.join(ROOT, args.build + ".log"), "w")
    print("mutants: baseline build and tests in %s (log: %s.log)" % (args.build, args.build), flush=True)
    # File by file: a mutant then rebuilds one object, not a whole program.
    if run(["cmake", "-S", ".", "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DKSTROKE_UNITY=OFF"], log=log) != 0 or \
            run(["cmake", "--build", build, "-j%d" % args.jobs], log=log) != 0:
        sys.exit("mutants: the unmutated tree does not build; see %s.log" % args.build)
    if run(["ctest", "--test-dir", build, "-j%d" % args.jobs, "-LE", SLOW_LABELS], log=log) != 0:
        sys.exit("mutants: the unmutated tree fails its tests; see %s.log" % args.build)

    restore = {}

    def put_back(*_):
        for full, text in restore.items():
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        restore.clear()

    def interrupted(*_):
        put_back()
        sys.exit("mutants: stopped; sources restored")

    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)

    killed, survived, stillborn = [], [], []
    start = time.time()
    for i, m in enumerate(mutants, 1):
        full, original = apply(m)
        restore[full] = original
        try:
            log.write("\n== mutant %d: %s\n" % (i, describe(m)))
            built = run(["cmake", "--build", build, "-j%d" % args.jobs], log=log)
            if built != 0:
                stillborn.append(m)
                verdict = "stillborn"
            else:
                labels = labels_for(m["path"])
                cmd = ["ctest", "--test-dir", build, "-j%d" % args.jobs, "--stop-on-failure",
                       "--timeout", "120", "-LE", SLOW_LABELS]
                if labels:
                    cmd += ["-L", "^(%s)$" % "|".join(labels)]
                rc = run(cmd, timeout=args.timeout, log=log)
                if rc == 0:
                    survived.append(m)
                    verdict = "SURVIVED"
                else:
                    killed.append(m)
                    verdict = "killed"
        finally:
            put_back()
        elapsed = time.time() - start
        print("[%d/%d %4.0f s] %-9s %s" % (i, len(mutants), elapsed, verdict, describe(m)), flush=True)

    # Leave the build matching the sources.
    run(["cmake", "--build", build, "-j%d" % args.jobs], log=log)
    counted = len(killed) + len(survived)
    rate = 100.0 * len(killed) / counted if counted else 0.0
    print("\nmutants: %d killed of %d (%.1f %%), %d stillborn, %s, %.0f s"
          % (len(killed), counted, rate, len(stillborn),
             "from " + args.replay if args.replay else "seed %d" % args.seed, time.time() - start))
    if survived:
        print("survivors:")
        for m in survived:
            print("  " + describe(m))
    if args.json:
        with open(args.json, "w") as f:
            rev = subprocess.run(["git", "rev-parse", "HEAD"], cwd=ROOT, capture_output=True,
                                 text=True).stdout.strip()
            json.dump({"seed": args.seed, "rev": rev, "killed": killed, "survived": survived,
                       "stillborn": stillborn, "rate": rate}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
