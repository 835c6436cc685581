#!/bin/sh
# Runs a test program in a D-Bus session of its own with a Secret Service of
# its own (an unlocked gnome-keyring in a scratch home), so no test ever
# touches the keyring of whoever runs the suite.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c 'printf tarvex | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' sh "$@"
