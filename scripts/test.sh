#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build" "$@"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
