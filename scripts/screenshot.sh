#!/usr/bin/env bash
# Takes a screenshot of a program's window on a private X server:
#   scripts/screenshot.sh OUTPUT.png -- COMMAND ARGS...
# Starts Xvfb on a free display, runs the command there, waits until its window
# has appeared and stopped changing, saves the screen cropped to what was drawn,
# and stops the command and the server again.
set -euo pipefail

usage() {
  echo "usage: $0 OUTPUT.png -- COMMAND ARGS..." >&2
  exit 2
}
if [ $# -lt 3 ] || [ "$2" != "--" ]; then usage; fi
output=$1
shift 2

"$(dirname "$0")/install-deps.sh" screenshot

work=$(mktemp -d)
xvfb_pid=
app_pid=
stop() {
  if [ -n "$1" ]; then
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}
cleanup() {
  # Only what this script started, by process id; the command first, while its display is still there.
  stop "$app_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts
# clients. A black root lets the crop find the window's edges.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -br -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "screenshot: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not report a display" >&2; exit 1; }
display=":$(head -n 1 "$work/display")"

# A Qt program would otherwise follow a Wayland or offscreen choice from the caller's environment.
DISPLAY=$display QT_QPA_PLATFORM=xcb "$@" &
app_pid=$!

capture() {
  xwd -display "$display" -root -silent >"$1"
}
drawn() {
  [ "$(convert "xwd:$1" -format '%[fx:maxima>0]' info:)" = 1 ]
}

# A window counts as shown once the screen is no longer black and two looks a
# moment apart agree, so a half-painted window is not what gets saved.
previous="$work/previous.xwd"
current="$work/current.xwd"
shown=
deadline=$((SECONDS + 10))
while [ $SECONDS -lt $deadline ]; do
  sleep 0.25
  kill -0 "$app_pid" 2>/dev/null || { echo "screenshot: '$1' ended before showing a window" >&2; exit 1; }
  capture "$current"
  if drawn "$current" && [ -s "$previous" ] && cmp -s "$previous" "$current"; then
    shown=1
    break
  fi
  mv "$current" "$previous"
done
[ -n "$shown" ] || { echo "screenshot: no window appeared within 10 seconds" >&2; exit 1; }

convert "xwd:$current" -trim +repage "$output"
echo "screenshot: saved $output ($(identify -format '%wx%h' "$output"))"
