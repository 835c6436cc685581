#!/usr/bin/env bash
# Starts a built Tarvex on the per-user data folder, so settings (with the
# password), the outbox and the logs never live in the build tree, where
# `make clean` would delete them. Files an earlier `make run` left beside the
# program are moved there once, never over a file that is already there.
# Without a display Tarvex runs headless by itself and says so.
set -euo pipefail
exe="$1"; shift
data="${XDG_DATA_HOME:-$HOME/.local/share}/Tarvex"
mkdir -p "$data"
bindir=$(dirname "$exe")
for name in Tarvex.ini Outbox.txt NotUploadedQsosLog.adi ErrorLog.txt DebugLog.txt; do
  [ -e "$bindir/$name" ] || continue
  if [ -e "$data/$name" ]; then
    echo "run: $bindir/$name stays where it is: $data/$name exists already" >&2
  else
    mv "$bindir/$name" "$data/$name"
    echo "run: moved $bindir/$name to $data/" >&2
  fi
done
exec "$exe" --data-dir "$data" "$@"
