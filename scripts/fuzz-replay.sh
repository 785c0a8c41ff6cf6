#!/usr/bin/env bash
# Replays every committed seed (tests/fuzz/corpus/<Name>) and every input that
# once showed a fault (tests/fuzz/crashes/<Name>) under AddressSanitizer and
# UndefinedBehaviorSanitizer: clang-16, a build folder of its own, and only
# the fuzz targets and the libraries they need are built. Any finding fails
# its CTest case "fuzz:Replay.<Name>".
#
#   scripts/fuzz-replay.sh        (GAVEX_FUZZ_REPLAY_DIR, GAVEX_FUZZ_REPLAY_JOBS)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${GAVEX_FUZZ_REPLAY_DIR:-$root/build-fuzz-replay}"
jobs="${GAVEX_FUZZ_REPLAY_JOBS:-$(nproc)}"

bash "$root/scripts/install-deps.sh"
CC=clang-16 CXX=clang++-16 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGAVEX_SANITIZE=address,undefined -DGAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_all
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
ctest -R '^fuzz:' --output-on-failure --timeout 600 -j "$jobs"
