#!/usr/bin/env bash
# Checks the include layers, installs, builds and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/check-layers.sh"
bash "$root/scripts/build.sh"
build="${GAVEX_BUILD_DIR:-$root/build}"
cd "$build"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
