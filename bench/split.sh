#!/usr/bin/env bash
# One 10-minute track of a disc image grabbed to MP3 and to Ogg Vorbis by `tambrel-cli convert`,
# which cuts the track into parts encoded on every core and splices them, against the same grab
# held to one core (`taskset -c 0`: the track is encoded in one piece) and against the reference
# encoders on the same audio (lame -b 128, oggenc -q 3, the program's default settings). Runs
# alternate between the three so that all see the same machine. Prints, per format, the median
# wall time of each over RUNS (7) rounds, the split grab's wall time against the reference's
# (target: at most 0.55 on 2 cores), its processor time (user + system) against the one-core
# grab's (target: at most 1.10), and checks that the split file decodes to exactly the track's
# samples (mpg123 --gapless, oggdec).
# Usage: bench/split.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$work/split" "$work/one"

"$build/tests/support/makedisc" "$work/bench.cue" audio:10:00:noise >/dev/null
bin=$work/bench.bin
samples=$(($(stat -c %s "$bin") / 4))
cli=$build/cli/tambrel-cli

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Runs the command; prints its wall and processor seconds.
timed() {
  /usr/bin/time -o "$work/time" -f '%e %U %S' "$@" >/dev/null 2>&1
  awk '{printf "%s %s\n", $1, $2 + $3}' "$work/time"
}

printf '%s cores usable\n' "$(nproc)"
printf '%-5s %9s %9s %9s   %10s %10s   %9s\n' format split one-core reference "wall ratio" "cpu ratio" samples
measure() {
  local format=$1 decoded
  shift
  local split_wall="" split_cpu="" one_wall="" one_cpu="" ref_wall="" w c
  for _ in $(seq "$runs"); do
    rm -f "$work"/split/* "$work"/one/*
    read -r w c < <(timed "$cli" convert "$work/bench.cue" -f "$format" -o "$work/split" -q)
    split_wall+="$w"$'\n' split_cpu+="$c"$'\n'
    read -r w c < <(timed taskset -c 0 "$cli" convert "$work/bench.cue" -f "$format" -o "$work/one" -q)
    one_wall+="$w"$'\n' one_cpu+="$c"$'\n'
    read -r w c < <(timed "$@")
    ref_wall+="$w"$'\n'
  done
  local file=$work/split/Session1_Track1.$format
  if [ "$format" = mp3 ]; then
    decoded=$(($(mpg123 -q --gapless -s "$file" 2>/dev/null | wc -c) / 4))
  else
    decoded=$(($(oggdec -Q -R -o - "$file" 2>/dev/null | wc -c) / 4))
  fi
  local sw ow rw sc oc
  sw=$(printf '%s' "$split_wall" | median) ow=$(printf '%s' "$one_wall" | median)
  rw=$(printf '%s' "$ref_wall" | median)
  sc=$(printf '%s' "$split_cpu" | median) oc=$(printf '%s' "$one_cpu" | median)
  printf '%-5s %8.3fs %8.3fs %8.3fs   %10.2f %10.2f   %s\n' "$format" "$sw" "$ow" "$rw" \
    "$(echo "$sw / $rw" | bc -l)" "$(echo "$sc / $oc" | bc -l)" \
    "$([ "$decoded" = "$samples" ] && echo "exact ($decoded)" || echo "WRONG: $decoded of $samples")"
}

measure mp3 lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -b 128 "$bin" "$work/ref.mp3"
measure ogg oggenc --quiet -r -B 16 -C 2 -R 44100 -q 3 "$bin" -o "$work/ref.ogg"
