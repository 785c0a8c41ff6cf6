#!/usr/bin/env bash
# Installs, builds and starts the player. Arguments go to the player; without
# arguments it plays a sample archive (four cameras of a test picture) that
# is made once in the build folder.
#
# Without a display the player cannot open its window: it says so and ends
# (extract and windowless runs, with --extract or --destination, still work).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/build.sh"
build="${GAVEX_BUILD_DIR:-$root/build}"
if [[ $# -gt 0 ]]; then
  exec "$build/Gavex_player" "$@"
fi
sample="$build/sample-archive"
if [[ ! -x "$build/gavex_sample_archive" ]]; then
  echo "play.sh: $build/gavex_sample_archive is missing (the tests are not built)" >&2
  exit 1
fi
"$build/gavex_sample_archive" "$sample" > /dev/null
exec "$build/Gavex_player" --source "$sample"
