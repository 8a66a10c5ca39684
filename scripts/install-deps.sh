#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing, benchmarking and running the demo need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcdio-dev libcdio-paranoia-dev libcue-dev libsndfile1-dev
  libmp3lame-dev libvorbis-dev libogg-dev libflac-dev libtag1-dev libdiscid-dev
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
  libsqlite3-dev libasound2-dev libgtest-dev
  sox ffmpeg lame mpg123 vorbis-tools flac bc time valgrind cd-paranoia libcdio-utils
  xvfb xauth xdotool imagemagick
  fonts-dejavu-core
  fp-utils desktop-file-utils scdoc appstream man-db lintian dpkg-dev bash-completion
  xdg-utils xchm
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
