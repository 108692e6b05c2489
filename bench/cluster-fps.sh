#!/usr/bin/env bash
# Frames per second of `kstroke submit` on the one-node test cluster (scripts/local-slurm.sh),
# with 1 and with 2 array tasks, beside the same frames from one local `kstroke animate`,
# and the two figures the README's scaling estimate rests on: the time per frame and the
# cost of a task that renders nothing (scheduling, start-up, reading the keyframes).
#
#   bench/cluster-fps.sh [BUILD_DIR] [FRAMES] [RUNS]   # defaults: build 48 3
#
# The frames are the two example keyframes drawn at 1920 × 1080 with five times the
# brush. Each figure is the median of RUNS runs, timed from submission until the job has
# left the queue; every run renders into a fresh folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(readlink -f "${1:-build}")
frames=${2:-48}
runs=${3:-3}
kstroke=$build/kstroke
[ -x "$kstroke" ] || { echo "no $kstroke: build it first (cmake --build $build --target kstroke_cli)" >&2; exit 1; }

work=$(mktemp -d /tmp/kstroke-cluster-bench.XXXXXX)
link=$work/cluster
export KSTROKE_SLURM_OWNER=$$
cleanup() {
  bash scripts/local-slurm.sh stop "$link" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
bash scripts/local-slurm.sh start "$link"
if [ -f "$link/unavailable" ]; then
  echo "no cluster: $(cat "$link/unavailable")" >&2
  exit 1
fi
export SLURM_CONF=$link/slurm.conf

for k in a b; do
  sed -e 's/"width": 384/"width": 1920/' -e 's/"height": 256/"height": 1080/' \
    -e 's/"diameter": 18/"diameter": 90/' -e 's/"diameter": 34/"diameter": 170/' \
    "examples/keyframe_$k.json" >"$work/$k.json"
done

now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Seconds for one job of $1 frames per task; prints nothing else.
job_seconds() {
  local chunk=$1 count=${2:-$frames} out
  out=$(mktemp -d "$work/frames.XXXXXX")
  local t0 id
  t0=$(now)
  id=$("$kstroke" submit "$work/a.json" "$work/b.json" --count "$count" --chunk "$chunk" -o "$out" |
    sed -n 's/^submitted job \([0-9]*\):.*/\1/p')
  while [ -n "$(squeue --noheader --job "$id" 2>/dev/null)" ]; do sleep 0.05; done
  local t1
  t1=$(now)
  if ! "$kstroke" submit --check "$out" >/dev/null; then
    echo "job $id left frames missing: $("$kstroke" submit --check "$out" | tail -n 1)" >&2
    exit 1
  fi
  calc "$t1 - $t0"
}

# Wall and processor seconds (user + system) of one local run.
local_seconds() {
  local out TIMEFORMAT='%R %U %S'
  out=$(mktemp -d "$work/local.XXXXXX")
  { time "$kstroke" animate -q "$work/a.json" "$work/b.json" --frames "$frames" -o "$out"; } 2>&1 |
    awk '{ print $1, $2 + $3 }'
}

echo "$frames frames of 1920 x 1080, medians of $runs runs, on $(nproc) cores;" \
  "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
times=$(for _ in $(seq "$runs"); do local_seconds; done)
local_t=$(echo "$times" | cut -d' ' -f1 | median)
local_cpu=$(echo "$times" | cut -d' ' -f2 | median)
per_frame=$(calc "$local_t / $frames")
printf 'local kstroke animate:   %6.2f s  %6.2f frames/s  (%.3f s a frame, %.3f s of processor time)\n' \
  "$local_t" "$(calc "$frames / $local_t")" "$per_frame" "$(calc "$local_cpu / $frames")"
echo "a frame's PNG: $(du -b "$(ls "$work"/local.*/frame_0001.png | head -n 1)" | cut -f1) bytes"
one=$(for _ in $(seq "$runs"); do job_seconds "$frames"; done | median)
printf 'cluster, 1 task:         %6.2f s  %6.2f frames/s\n' "$one" "$(calc "$frames / $one")"
half=$(((frames + 1) / 2))
two=$(for _ in $(seq "$runs"); do job_seconds "$half"; done | median)
printf 'cluster, 2 tasks:        %6.2f s  %6.2f frames/s\n' "$two" "$(calc "$frames / $two")"
# A job of one task and one frame: what a task costs beyond its frames.
start=$(for _ in $(seq "$runs"); do job_seconds 1 2; done | median)
printf 'cluster, 2 tasks of 1 frame: %.2f s, so a task costs about %.2f s beyond its frame\n' \
  "$start" "$(calc "$start - $per_frame")"
