#!/usr/bin/env bash
# Remakes docs/tarvex-window.png, the picture the README shows: the window
# listening, with a few contacts taken by the stand-in service. BUILD names
# the build directory, as for scripts/window-shots.sh, which takes the others.
set -euo pipefail
exec "$(dirname "${BASH_SOURCE[0]}")/window-shots.sh" window
