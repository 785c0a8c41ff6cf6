#!/usr/bin/env bash
# Installs, builds and starts the player. Arguments go to the player.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/build.sh"
build="${GAVEX_BUILD_DIR:-$root/build}"
exec "$build/Gavex_player" "$@"
