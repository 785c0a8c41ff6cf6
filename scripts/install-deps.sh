#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: apt is not touched when every package is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache git
  qtbase5-dev qtmultimedia5-dev libqt5opengl5-dev qttools5-dev-tools
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libyuv-dev
  libboost-dev libboost-thread-dev libboost-filesystem-dev libboost-system-dev
  libboost-date-time-dev libboost-program-options-dev libboost-serialization-dev
  libboost-iostreams-dev libboost-regex-dev
  zlib1g-dev libpng-dev libcrypto++-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libturbojpeg0-dev libjpeg-turbo-progs
  libgl-dev libegl-dev libgl1-mesa-dri
  xvfb xauth ffmpeg tzdata xdotool openbox
  fonts-dejavu-core poppler-utils
  clang-16 libclang-rt-16-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
