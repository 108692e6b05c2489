#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Lines of tests against lines of code: C++, Python and JavaScript files tracked by git,
blank and comment-only lines left out, node_modules excluded. Tests are the files under
tests/; the rest is code. The project keeps tests between a quarter and a third.

    scripts/test-share.py [--by-folder]
"""
import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
C_LIKE = (".c", ".cc", ".cpp", ".h", ".hpp", ".js", ".mjs")
PYTHON = (".py",)


def counted_lines(path):
    """Lines that hold code: not blank, not only a comment."""
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        text = f.read()
    n = 0
    if path.endswith(PYTHON):
        in_doc = None
        for line in text.split("\n"):
            s = line.strip()
            if in_doc:
                if in_doc in s:
                    in_doc = None
                continue
            if not s or s.startswith("#"):
                continue
            m = re.match(r'^[rb]?("""|\'\'\')', s)
            if m and s.count(m.group(1)) == 1:
                in_doc = m.group(1)  # a docstring opening: a comment, line after line
                continue
            if m:
                continue  # a one-line docstring
            n += 1
        return n
    in_block = False
    for line in text.split("\n"):
        s = line.strip()
        code = []
        i = 0
        while i < len(s):
            if in_block:
                end = s.find("*/", i)
                if end < 0:
                    i = len(s)
                    break
                in_block = False
                i = end + 2
                continue
            if s.startswith("//", i):
                break
            if s.startswith("/*", i):
                in_block = True
                i += 2
                continue
            if s[i] in "\"'`":
                # A literal: "/*" or "//" inside one is text, not a comment.
                j = i + 1
                while j < len(s) and s[j] != s[i]:
                    j += 2 if s[j] == "\\" else 1
                code.append(s[i])
                i = j + 1
                continue
            code.append(s[i])
            i += 1
        if "".join(code).strip():
            n += 1
    return n


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--by-folder", action="store_true", help="also print each top folder's lines")
    args = ap.parse_args()
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, check=True, capture_output=True,
                           text=True).stdout.split("\n")
    tests = code = 0
    folders = {}
    for path in files:
        if not path.endswith(C_LIKE + PYTHON) or "node_modules/" in path:
            continue
        if not os.path.isfile(os.path.join(ROOT, path)):
            continue
        n = counted_lines(path)
        top = path.split("/")[0] if "/" in path else "."
        folders[top] = folders.get(top, 0) + n
        if path.startswith("tests/"):
            tests += n
        else:
            code += n
    total = tests + code
    if args.by_folder:
        for top in sorted(folders):
            print("%-12s %7d" % (top, folders[top]))
    share = 100.0 * tests / total if total else 0.0
    print("code %d, tests %d, total %d: tests are %.1f %%" % (code, tests, total, share))
    return 0 if 25.0 <= share <= 100.0 / 3 else 1


if __name__ == "__main__":
    sys.exit(main())
