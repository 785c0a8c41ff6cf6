#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang-16 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in a build folder of their own and runs each of
# them for SECONDS (default 60), at most GAVEX_FUZZ_JOBS (default 3) at once.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      e.g. scripts/fuzz.sh 600 SettingsXml
#
# Each target starts from its committed seeds (tests/fuzz/corpus/<Name>) and the
# inputs that once showed a fault (tests/fuzz/crashes/<Name>); what it finds
# grows a working corpus in the build folder, not the committed one. An input
# that makes a target fail is left in <build>/artifacts/<Name>/: copy it into
# tests/fuzz/crashes/<Name>/ with the mend, so the replay tests keep it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${GAVEX_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${GAVEX_FUZZ_JOBS:-3}"

bash "$root/scripts/install-deps.sh"
CC=clang-16 CXX=clang++-16 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGAVEX_FUZZ=ON -DGAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_all

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$root"/tests/fuzz/*Fuzz.cpp; do
    name="$(basename "$f" Fuzz.cpp)"
    targets+=("$name")
  done
fi

run_one() {
  local name="$1"
  local work="$build/corpus/$name" artifacts="$build/artifacts/$name" log="$build/logs/$name.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  local seeds=("$root/tests/fuzz/corpus/$name")
  [ -d "$root/tests/fuzz/crashes/$name" ] && seeds+=("$root/tests/fuzz/crashes/$name")
  local status=0
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" \
    "$build/tests/fuzz/fuzz_$name" "$work" "${seeds[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=30 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  local execs
  execs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)"
  local found
  found="$(find "$artifacts" -type f | wc -l)"
  printf '%-16s executions %-10s findings %-3s exit %s\n' "$name" "${execs:-?}" "$found" "$status"
}

running=0
for name in "${targets[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
