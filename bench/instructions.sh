#!/usr/bin/env bash
# Counts the instructions each encoder spends on the same 20 seconds of audio, ours (only the
# grab's encoder thread, without the program's start-up) against the reference tool (the whole
# tool), with callgrind. Unlike times, the counts repeat exactly from run to run, so they tell
# whether our grab does more work than the reference even on a noisy machine.
# Usage: bench/instructions.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tests/support/makedisc" "$work/clip.cue" audio:20:noise >/dev/null
bin="$work/clip.bin"

count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" >/dev/null 2>"$work/cg.log"
  grep -o 'Collected : [0-9]*' "$work/cg.log" | awk '{print $3}'
}

printf '%-5s %14s %14s %6s\n' format ours reference ratio
measure() {
  local format=$1
  shift
  local ours reference
  ours=$(count --toggle-collect='GrabJob::encodeLoop()' "$build/bench/grabbench" "$work/clip.cue" 1 "$work/out.$format")
  reference=$(count "$@")
  printf '%-5s %14s %14s %6.2f\n' "$format" "$ours" "$reference" "$(echo "$ours / $reference" | bc -l)"
}

measure mp3 lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -b 128 "$bin" "$work/ref.mp3"
measure ogg oggenc --quiet -r -B 16 -C 2 -R 44100 -q 3 "$bin" -o "$work/ref.ogg"
measure wma ffmpeg -nostdin -y -loglevel error -f s16le -ar 44100 -ac 2 -i "$bin" -c:a wmav2 -b:a 128k "$work/ref.wma"
