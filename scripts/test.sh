#!/usr/bin/env bash
# Checks the include layers, installs, builds and runs the whole test suite,
# then replays the fuzz inputs in a sanitizer build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/check-layers.sh"
bash "$root/scripts/build.sh"
build="${GAVEX_BUILD_DIR:-$root/build}"
cd "$build"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
# The fuzz seeds and reproducers once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (a clang-16 build of only the fuzz targets, in a
# build folder of its own). GAVEX_SKIP_FUZZ_REPLAY=1 leaves it out.
if [ "${GAVEX_SKIP_FUZZ_REPLAY:-0}" != 1 ]; then
  bash "$root/scripts/fuzz-replay.sh"
fi
