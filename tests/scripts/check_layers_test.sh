#!/usr/bin/env bash
# The layer check on scratch trees: a tree whose includes all point down
# passes; an upward include fails, named by file and line; tests and
# benchmarks may include anything.
set -uo pipefail
script="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$scratch"/{platform,base,gui,app/windows,tests/base,bench/base}
printf '#pragma once\n' > "$scratch/platform/File.h"
printf '#include "platform/File.h"\n#include <vector>\n#include "Local.h"\n' > "$scratch/base/Log.cpp"
printf '#include "base/Log.h"\n  #  include "gui/Grid.h"\n' > "$scratch/app/windows/Main.cpp"
printf '#include "app/windows/Main.h"\n' > "$scratch/tests/base/Log_test.cpp"
printf '#include "gui/Grid.h"\n' > "$scratch/bench/base/Log_bench.cpp"

out="$(bash "$script" "$scratch" 2>&1)" || fail "a downward tree was rejected: $out"
[[ "$out" == *"every include points down"* ]] || fail "no summary line: $out"

# Plant an upward include on line 3 of a base file.
printf '// log\n\n#include "gui/Grid.h"\n' > "$scratch/base/Upward.h"
out="$(bash "$script" "$scratch" 2>&1)"; rc=$?
[[ $rc -eq 1 ]] || fail "an upward include exited $rc: $out"
[[ "$out" == *"base/Upward.h:3: includes gui/Grid.h"* ]] || fail "the finding does not name file and line: $out"
[[ "$(grep -c 'higher layer' <<<"$out")" -eq 1 ]] || fail "more than the planted include was reported: $out"

# A folder of the same layer and an unknown folder are not findings.
rm "$scratch/base/Upward.h"
printf '#include "base/Log.h"\n#include "boost/x.hpp"\n' > "$scratch/base/Same.cpp"
bash "$script" "$scratch" >/dev/null 2>&1 || fail "an include of its own layer was rejected"

bash "$script" "$scratch/missing" >/dev/null 2>&1; rc=$?
[[ $rc -eq 2 ]] || fail "a missing root exited $rc"
echo "check-layers test: ok"
