#!/usr/bin/env bash
# Peak resident memory of `tambrel-cli convert` as the work grows: one 79-minute track in every
# format, encoded in parts on every core (MP3 and Ogg Vorbis; the others in one piece) and in one
# piece (held to one core with `taskset -c 0`), and 99 short tracks of the same 79 minutes with
# --jobs 1, 2 and 8 (at most one track per core). Target: under 80 MB everywhere, whatever the
# length or the number of tracks.
# Prints the peak RSS in MB of each run, the output's size beside it.
# Usage: bench/memory.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config
# No lookups: the figures are the rip's own.
export TAMBREL_ACCURATERIP_URL=http://127.0.0.1:9/ TAMBREL_MUSICBRAINZ_URL=http://127.0.0.1:9/
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
cli=$build/cli/tambrel-cli
makedisc=$build/tests/support/makedisc

"$makedisc" "$work/long.cue" audio:79:00:noise >/dev/null
tracks=()
for _ in $(seq 99); do tracks+=(audio:47.8:noise); done
"$makedisc" "$work/many.cue" "${tracks[@]}" >/dev/null

# Runs the command; prints its peak RSS in MB.
peak() {
  /usr/bin/time -o "$work/time" -f '%M' "$@" >/dev/null 2>&1 || {
    echo "FAILED: $*" >&2
    return 1
  }
  awk '{printf "%.1f", $1 / 1024}' "$work/time"
}
size() { du -sm "$1" | cut -f1; }

printf '%-28s %10s %10s\n' run "peak MB" "output MB"
for format in wav flac mp3 ogg wma; do
  for mode in parts one-piece; do
    out=$work/out-$format-$mode
    mkdir -p "$out"
    if [ "$mode" = parts ]; then
      mb=$(peak "$cli" convert "$work/long.cue" -f "$format" -o "$out" -q)
    else
      mb=$(peak taskset -c 0 "$cli" convert "$work/long.cue" -f "$format" -o "$out" -q)
    fi
    printf '%-28s %10s %10s\n' "79 min $format, $mode" "$mb" "$(size "$out")"
    rm -rf "$out"
  done
done
for jobs in 1 2 8; do
  out=$work/out-many-$jobs
  mkdir -p "$out"
  mb=$(peak "$cli" convert "$work/many.cue" -f flac -o "$out" -q --jobs "$jobs")
  printf '%-28s %10s %10s\n' "99 tracks flac, --jobs $jobs" "$mb" "$(size "$out")"
  rm -rf "$out"
done
