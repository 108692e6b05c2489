#!/usr/bin/env bash
# Mutation testing for developers (not CI: 15 to 45 minutes on two cores). Applies a
# seeded sample of small faults to the engine, host and document sources one at a time,
# rebuilds build-mutants/ incrementally, runs the tests that could notice, and prints
# the share killed and the survivors. Options: --count N, --seed S, --list, --json F.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
exec /usr/bin/python3 scripts/mutants.py "$@"
