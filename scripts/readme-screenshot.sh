#!/usr/bin/env bash
# Remakes docs/tarvex-window.png: the built program in a scratch directory,
# on a private X server, as a newcomer first sees it.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-build}"
[[ "$build" == /* ]] || build="$repo/$build"
[ -x "$build/bin/tarvex" ] || make -C "$repo" --no-print-directory build BUILD="$build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/bin/tarvex" "$work/"
# A port nobody uses here, so a running Tarvex does not turn the picture into an error box.
printf '[Settings]\r\nUDPPort=12061\r\nCorvaneCallsign=Q9XYZ\r\nCorvaneEmailAddress=op@example.org\r\n' >"$work/Tarvex.ini"
"$repo/scripts/screenshot.sh" "$repo/docs/tarvex-window.png" -- "$work/tarvex"
