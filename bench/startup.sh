#!/usr/bin/env bash
# Times the window's start-up on a full disc (99 tracks, the most a CD holds) from the process's
# start until the window is up and has closed again (`tambrel --quit-after-start`), against the
# same start-up on a 1-track disc (what the 99 tracks cost) and against `tambrel --version` (the
# process and Qt alone), and times `tambrel-cli --version`. Runs alternate between the three so that all see the same machine; a
# first round warms the caches and is not counted. Prints each one's median and max wall time over
# RUNS (11) rounds, and whether the 99-track start-up stays under the target, 0.5 s, every time.
# The program runs with its own home, configuration and runtime folders, so it never sees the
# user's settings or a running Tambrel; without a display it runs under Xvfb (or, lacking
# xvfb-run, on Qt's offscreen platform).
# Usage: bench/startup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd)
runs=${RUNS:-11}
target=0.5

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    # One X server for the whole run, so that its start is in no measurement.
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$build"
  fi
  export QT_QPA_PLATFORM=offscreen
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/run" "$work/cache" "$work/data"
chmod 700 "$work/run"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run \
  XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data TAMBREL_AUDIO_DEVICE=null

# Four seconds is the shortest track a CD may hold; silence keeps the image quick to write.
tracks=()
for _ in $(seq 99); do tracks+=(audio:4:silence); done
"$build/tests/support/makedisc" "$work/full.cue" "${tracks[@]}" >/dev/null
"$build/tests/support/makedisc" "$work/one.cue" audio:4:silence >/dev/null

tambrel=$build/app/tambrel
# Wall time of one run in seconds; a failed run ends the benchmark.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>"$work/stderr" || {
    echo "failed: $* (exit $?)" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  echo "$EPOCHREALTIME - $start" | bc -l
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
maximum() { sort -g | tail -n 1; }

full="" one="" version="" cli=""
seconds "$tambrel" --quit-after-start "$work/full.cue" >/dev/null
seconds "$tambrel" --quit-after-start "$work/one.cue" >/dev/null
for _ in $(seq "$runs"); do
  full+="$(seconds "$tambrel" --quit-after-start "$work/full.cue")"$'\n'
  one+="$(seconds "$tambrel" --quit-after-start "$work/one.cue")"$'\n'
  version+="$(seconds "$tambrel" --version)"$'\n'
  cli+="$(seconds "$build/cli/tambrel-cli" --version)"$'\n'
done

platform="${QT_QPA_PLATFORM:-default}, display ${WAYLAND_DISPLAY:-${DISPLAY:-none}}"
printf 'tambrel start-up, %d runs each, Qt platform %s\n' "$runs" "$platform"
printf '%-28s %8s %8s\n' "" median max
row() { printf '%-28s %7.3fs %7.3fs\n' "$1" "$(printf '%s' "$2" | median)" "$(printf '%s' "$2" | maximum)"; }
row "99-track disc" "$full"
row "1-track disc (reference)" "$one"
row "tambrel --version" "$version"
row "tambrel-cli --version" "$cli"
worst=$(printf '%s' "$full" | maximum)
if [ "$(echo "$worst < $target" | bc -l)" = 1 ]; then verdict=met; else verdict="NOT met"; fi
printf 'target: every 99-track start-up under %.1f s: %s\n' "$target" "$verdict"
