#!/usr/bin/env bash
# Remakes the pictures of the window in docs/, each on a private X server:
#   scripts/window-shots.sh [STATE...]
# States: window dark narrow not-listening waiting refused recent about (default: all), and
# dark-STATE or narrow-STATE for any other in the dark palette or at the narrowest;
# each becomes docs/tarvex-STATE.png.
# BUILD names the build directory (default build-shots).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-build-shots}"
[[ "$build" == /* ]] || build="$repo/$build"
states=("$@")
[ ${#states[@]} -gt 0 ] || states=(window dark narrow not-listening waiting refused recent about)

"$repo/scripts/install-deps.sh" screenshot
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_BUILD_TESTS=OFF
fi
cmake --build "$build" --target window-shots

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  # Only the server this script started, by process id.
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# As scripts/screenshot.sh: Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "window-shots: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "window-shots: Xvfb did not report a display" >&2; exit 1; }

mkdir -m 700 "$work/runtime"
for state in "${states[@]}"; do
  # The caller's Wayland or offscreen choice, or its Qt theme, would change the picture.
  env -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb \
    XDG_RUNTIME_DIR="$work/runtime" "$build/bin/window-shots" "$state" "$repo/docs/tarvex-$state.png"
done
