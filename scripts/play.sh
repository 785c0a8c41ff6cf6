#!/usr/bin/env bash
# Installs, builds and starts the player. Arguments go to the player; without
# arguments it plays a sample archive (four cameras of a 720p25 H.264 test
# picture, three minutes with a half-minute gap) that is made once in the
# build folder.
#
# Without a display the player runs on a virtual X server (xvfb-run): after
# a few seconds the screen is saved as a PNG, the player is closed, and the
# picture's path is printed. GAVEX_PLAY_SECONDS sets the wait (default 6).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/build.sh"
build="${GAVEX_BUILD_DIR:-$root/build}"
player="$build/Gavex_player"
if [[ $# -gt 0 ]]; then
  arguments=("$@")
else
  sample="$build/sample-archive"
  if [[ ! -x "$build/gavex_sample_archive" ]]; then
    echo "play.sh: $build/gavex_sample_archive is missing (the tests are not built)" >&2
    exit 1
  fi
  "$build/gavex_sample_archive" "$sample" > /dev/null
  arguments=(--source "$sample")
fi

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec "$player" "${arguments[@]}"
fi

# No display: the window on a virtual screen, photographed.
shot="$build/play-screenshot.png"
seconds="${GAVEX_PLAY_SECONDS:-6}"
rm -f "$shot"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
  set -u
  player="$1"; shot="$2"; seconds="$3"; shift 3
  "$player" "$@" &
  pid=$!
  sleep "$seconds"
  ffmpeg -loglevel error -y -f x11grab -video_size 1280x1024 -i "$DISPLAY" -frames:v 1 "$shot"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 0
' play "$player" "$shot" "$seconds" "${arguments[@]}"
if [[ ! -s "$shot" ]]; then
  echo "play.sh: no screenshot was taken" >&2
  exit 1
fi
echo "$shot"
