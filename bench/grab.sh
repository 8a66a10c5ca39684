#!/usr/bin/env bash
# Grabs a generated 10-minute disc image to each format through the grabber component and times
# the reference tools on the same audio with the same settings in the same run. Prints each
# time (best of RUNS), the ratio to the reference, and the peak memory of our grab.
# Usage: bench/grab.sh [BUILD_DIR]   (RUNS=3 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tests/support/makedisc" "$work/bench.cue" audio:10:00:noise >/dev/null
bin="$work/bench.bin"

# best_of CMD...: the smallest wall time of $runs runs, in seconds.
best_of() {
  local best=""
  for _ in $(seq "$runs"); do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}

# ours FORMAT: best time and peak memory (KB) of our grab into that format.
ours() {
  local best="" mem=0
  for _ in $(seq "$runs"); do
    rm -f "$work/out.$1"
    read -r t m < <("$build/bench/grabbench" "$work/bench.cue" 1 "$work/out.$1")
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    [ "$m" -gt "$mem" ] && mem=$m
  done
  echo "$best $mem"
}

printf '%-5s %10s %10s %7s %9s\n' format ours reference ratio "peak MB"
report() {
  local format=$1 reference=$2
  read -r mine mem < <(ours "$format")
  printf '%-5s %9ss %9ss %7.2f %9.1f\n' "$format" "$mine" "$reference" \
    "$(echo "$mine / $reference" | bc -l)" "$(echo "$mem / 1024" | bc -l)"
}

report wav "$(best_of cp "$bin" "$work/ref.bin")"
report mp3 "$(best_of lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -b 128 "$bin" "$work/ref.mp3")"
report ogg "$(best_of oggenc --quiet -r -B 16 -C 2 -R 44100 -q 3 "$bin" -o "$work/ref.ogg")"
report wma "$(best_of ffmpeg -nostdin -y -loglevel error -f s16le -ar 44100 -ac 2 -i "$bin" -c:a wmav2 -b:a 128k "$work/ref.wma")"
