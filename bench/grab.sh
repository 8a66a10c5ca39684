#!/usr/bin/env bash
# Grabs a generated 10-minute disc image to each format through the grabber component, and end to
# end through `tambrel-cli convert`, and times the reference tools on the same audio with the same
# settings in the same run: cp of the .bin for WAV, lame -b 128, oggenc -q 3, ffmpeg's wmav2 at
# 128 kbit/s. Runs alternate between ours and the reference so that all see the same machine.
# Prints, per format, the best of RUNS (5) wall and processor times (user + system) and their
# ratios, the median of the per-round wall ratios (steadier on a noisy machine), the CLI's best
# wall time and ratio, and the component's peak memory.
# Usage: bench/grab.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tests/support/makedisc" "$work/bench.cue" audio:10:00:noise >/dev/null
bin="$work/bench.bin"
mkdir "$work/cli"

min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# A reference time below the clock's resolution counts as one millisecond.
ratio() { echo "$1 / (($2 < 0.001) * 0.001 + ($2 >= 0.001) * $2)" | bc -l; }

printf '%-5s %9s %9s %6s %7s   %9s %9s %6s   %9s %6s   %8s\n' \
  format wall ref ratio median cpu ref ratio cli ratio "peak MB"
measure() {
  local format=$1
  shift
  local wall="" cpu="" rwall="" rcpu="" cwall="" mem=0 w c m rw ru rs cw rounds=""
  for _ in $(seq "$runs"); do
    rm -f "$work/out.$format" "$work"/cli/*
    read -r w c m < <("$build/bench/grabbench" "$work/bench.cue" 1 "$work/out.$format")
    wall=$(min "$wall" "$w"); cpu=$(min "$cpu" "$c")
    [ "$m" -gt "$mem" ] && mem=$m
    /usr/bin/time -o "$work/time" -f '%e %U %S' "$@" >/dev/null 2>&1
    read -r rw ru rs <"$work/time"
    rwall=$(min "$rwall" "$rw"); rcpu=$(min "$rcpu" "$(echo "$ru + $rs" | bc -l)")
    rounds+="$(ratio "$w" "$rw")"$'\n'
    /usr/bin/time -o "$work/time" -f '%e' "$build/cli/tambrel-cli" convert "$work/bench.cue" \
      --format "$format" --output "$work/cli" --quiet >/dev/null 2>&1
    read -r cw <"$work/time"
    cwall=$(min "$cwall" "$cw")
  done
  printf '%-5s %8.3fs %8.3fs %6.2f %7.2f   %8.3fs %8.3fs %6.2f   %8.3fs %6.2f   %8.1f\n' "$format" \
    "$wall" "$rwall" "$(ratio "$wall" "$rwall")" "$(printf '%s' "$rounds" | median)" \
    "$cpu" "$rcpu" "$(ratio "$cpu" "$rcpu")" \
    "$cwall" "$(ratio "$cwall" "$rwall")" "$(echo "$mem / 1024" | bc -l)"
}

measure wav cp "$bin" "$work/ref.bin"
measure mp3 lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -b 128 "$bin" "$work/ref.mp3"
measure ogg oggenc --quiet -r -B 16 -C 2 -R 44100 -q 3 "$bin" -o "$work/ref.ogg"
measure wma ffmpeg -nostdin -y -loglevel error -f s16le -ar 44100 -ac 2 -i "$bin" -c:a wmav2 -b:a 128k "$work/ref.wma"
