#!/usr/bin/env bash
# Pictures of the window for the README, taken on a virtual X server with a
# window manager (openbox) and clicked through with xdotool: the sample
# archive playing, then the source browser, the settings, the export page and
# the calendar open. They are written to docs/screenshots/ (or the folder
# given as the first argument).
#
# The clicks aim at the controls of the window at its default size
# (1024 x 768), where the skin's sizes put them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${GAVEX_BUILD_DIR:-$root/build}"

if [[ "${1:-}" == "--session" ]]; then
  # Inside the virtual X server: $2 the work folder, $3 the output folder.
  work="$2"
  out="$3"
  player="$work/GavexScreenshots"
  openbox >/dev/null 2>&1 &
  sleep 1

  wait_window() {
    local id=""
    for _ in $(seq 1 100); do
      id="$(xdotool search --name '^Gavex Player$' 2>/dev/null | head -1 || true)"
      [[ -n "$id" ]] && break
      sleep 0.2
    done
    [[ -n "$id" ]] || { echo "screenshots.sh: the window did not come up" >&2; exit 1; }
    echo "$id"
  }
  click() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
    xdotool mousemove 1270 890
    sleep "${3:-1.5}"
  }
  shot() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 \
      "$out/$1.png"
  }
  close_player() {
    xdotool windowactivate --sync "$window" key alt+F4
    wait "$1" || true
  }

  # A first run writes the settings file beside the program; the export
  # mode is then switched on in it and the window placed at the top-left.
  "$player" --source "$work/sample" >/dev/null 2>&1 &
  pid=$!
  window="$(wait_window)"
  sleep 2
  close_player "$pid"
  settings="$work/GavexScreenshots.xml"
  [[ -f "$settings" ]] || { echo "screenshots.sh: no settings file was written" >&2; exit 1; }
  sed -i -e 's|<ExportVideo>0</ExportVideo>|<ExportVideo>1</ExportVideo>|' \
    -e 's|<WindowWidth>[0-9]*</WindowWidth>|<WindowWidth>1024</WindowWidth>|' \
    -e 's|<WindowHeight>[0-9]*</WindowHeight>|<WindowHeight>768</WindowHeight>|' "$settings"

  "$player" --source "$work/sample" >/dev/null 2>&1 &
  pid=$!
  window="$(wait_window)"
  sleep 3
  click 876 682 3              # play
  shot player
  click 876 682                # pause
  click 969 663                # the source browser
  shot source-browser
  click 969 663
  click 969 701                # the settings
  shot settings
  click 969 701
  click 1009 697 2.5           # the export mode
  shot export
  click 1009 667 2.5           # back to the play mode
  click 418 752                # the calendar of the time line
  shot calendar
  close_player "$pid"
  exit 0
fi

for tool in xdotool openbox ffmpeg xvfb-run; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
if [[ ! -x "$build/Gavex_player" || ! -x "$build/gavex_sample_archive" ]]; then
  bash "$root/scripts/build.sh"
fi
out="$(mkdir -p "${1:-$root/docs/screenshots}" && cd "${1:-$root/docs/screenshots}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The program in a folder of its own: its settings file and its instance
# channel are its own. A hard link keeps the program's own folder its folder.
ln "$build/Gavex_player" "$work/GavexScreenshots" 2>/dev/null || cp "$build/Gavex_player" "$work/GavexScreenshots"
ln -s "$build/Resources" "$work/Resources"
for library in "$build"/*.so; do
  [[ -e "$library" ]] && ln -s "$library" "$work/"
done
"$build/gavex_sample_archive" "$work/sample" >/dev/null
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export GAVEX_REGISTRY_DIR="$work/home/registry"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$GAVEX_REGISTRY_DIR"
unset WAYLAND_DISPLAY
xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" bash "$root/scripts/screenshots.sh" --session "$work" "$out"
ls "$out"/*.png
