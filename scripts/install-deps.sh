#!/usr/bin/env bash
# Installs the Debian packages Tarvex needs to build, test and run, and nothing
# that is already there. Root (CI, containers) calls apt-get directly; anyone
# else goes through sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev qtkeychain-qt6-dev
  libcurl4-openssl-dev ca-certificates dbus-daemon dbus-bin gnome-keyring
  fonts-dejavu-core zlib1g-dev
)
# Extra groups for the optional targets; the Makefile asks for them by name.
for extra in "$@"; do
  case "$extra" in
    screenshot) packages+=(xvfb xauth x11-apps imagemagick) ;;
    fuzz) packages+=(clang libclang-rt-14-dev llvm) ;;
    package) packages+=(dpkg-dev file librsvg2-bin desktop-file-utils) ;;
    *) echo "install-deps: unknown group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  # A fresh machine may have no package lists yet.
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
