#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the benchmarks and the fuzz targets
# need. Does nothing (and never calls apt-get) when every package is already present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ make pkg-config git
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # windows, dialogs, video
  qt6-base-dev qt6-multimedia-dev libqt6multimedia6
  # display modes and the X servers the tests start
  libx11-dev libxrandr-dev xserver-xorg-core xserver-xorg-video-dummy xdotool x11-utils x11-xserver-utils
  # screenshots of the demo run without a display
  ffmpeg
  # sound library
  libsdl2-dev libsndfile1-dev
  # compression
  zlib1g-dev libbz2-dev
  # command-line parsing of the sfs tool
  libcli11-dev
  # fonts with stable metrics for the controls
  fonts-liberation2 fonts-wine fontconfig
  # fuzzing
  clang libclang-rt-14-dev
  # comparison runs of the benchmarks
  libssl-dev 7zip libsqlite3-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
