#!/usr/bin/env bash
# Installs what is needed, builds, and opens Tambrel on the bundled demo disc image. Without a
# display it runs under Xvfb, saves a screenshot to build/demo/screenshot.png and quits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
program=("$root/build/app/tambrel" "$root/build/demo/demo.cue")
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "${program[@]}"
fi
shot="$root/build/demo/screenshot.png"
# A session's runtime folder of its own, as a desktop gives one; Qt asks for it.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
# The window is closed (SIGTERM, as at the end of a session) and waited for before Xvfb goes.
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$@" & pid=$!
  sleep 3
  import -window root "'"$shot"'"
  kill $pid
  wait $pid || true' _ "${program[@]}"
echo "No display: the window was shown under Xvfb; screenshot in $shot"
