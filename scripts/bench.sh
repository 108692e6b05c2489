#!/usr/bin/env bash
# `make bench`: the Google Benchmark programs and the side-by-side run against
# libmypaint, from a Release build folder (default build-bench). libmypaint-dev is
# needed only here, so it is installed here rather than by setup-deps.sh.
# Usage: scripts/bench.sh [BUILD_DIR] — set BENCH_FILTER to pass a --benchmark_filter,
# PEER_REPS for the peer comparison's repetitions (default 15).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}

if ! pkg-config --exists libmypaint 2>/dev/null; then
  KSTROKE_EXTRA_PACKAGES="libmypaint-dev" bash scripts/setup-deps.sh
  # The program appears only once CMake has seen the library.
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" >/dev/null
fi

filter=(--benchmark_filter="${BENCH_FILTER:-.}")
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "${filter[@]}"
done
echo "== peer_compare"
"$build/bench/peer_compare" "${PEER_REPS:-15}"
