#!/usr/bin/env bash
# Starts Tarvex; on a machine without a display it runs on Qt's offscreen
# platform so it still listens and uploads, and says so.
set -euo pipefail
exe="$1"; shift
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: Tarvex is running without a window (Qt offscreen platform). Ctrl-C stops it."
  export QT_QPA_PLATFORM=offscreen
fi
exec "$exe" "$@"
