#!/usr/bin/env bash
# Runs the main job against a built tree: records the default stroke and prints its
# tables (rendering joins here as the renderer lands).
set -euo pipefail
build=${1:-build}
bin="$build/kstroke"
"$bin" --version
if "$bin" tables --help >/dev/null 2>&1; then
  "$bin" tables
fi
