#!/usr/bin/env bash
# The main job: renders every example stroke description into out/, plus the built-in
# stroke and a brush outline, and says where the pictures are.
set -euo pipefail
build=${1:-build}
bin="$build/kstroke"
mkdir -p out
for f in examples/*.json; do
  name=$(basename "$f" .json)
  "$bin" render "$f" -q -o "out/$name.png"
  echo "  out/$name.png   ($f)"
done
"$bin" render -q -o out/default.png
echo "  out/default.png   (the built-in stroke)"
"$bin" outline --diameter 120 --hardness 60 --roundness 50 --angle 30 --show-hardness \
  -o out/outline.png
echo "  out/outline.png   (a brush outline)"
echo "Rendered into $(pwd)/out"
