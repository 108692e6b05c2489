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
# A float canvas keeps what PNG cannot (light past 1) in OpenEXR.
"$bin" render examples/float32.json -q -o out/float32.exr
echo "  out/float32.exr   (examples/float32.json in linear light)"
"$bin" render -q -o out/default.png
echo "  out/default.png   (the built-in stroke)"
"$bin" outline --diameter 120 --hardness 0.6 --roundness 0.5 --angle 30 --show-hardness \
  -o out/outline.png
echo "  out/outline.png   (a brush outline)"
"$bin" brushes -q --sheet out/brushes.png
echo "  out/brushes.png   (the brush presets)"
"$bin" save examples/pressure.json -o out/pressure.kst
"$bin" render out/pressure.kst -q -o out/pressure_from_kst.png
echo "  out/pressure.kst   (the pressure stroke saved as a stroke file, rendered again)"
"$bin" animate examples/keyframe_a.json examples/keyframe_b.json --frames 5 -q -o out/frames/
echo "  out/frames/frame_000[0-4].png   (from keyframe A to keyframe B)"
echo "Rendered into $(pwd)/out"
echo
echo "Paint in the browser: $bin studio   (open the address it prints; Ctrl-C stops it)"
echo "  or: $bin studio examples/pressure.json --port 0   (start from a document, any free port)"
