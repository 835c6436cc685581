#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks what a desktop and a
# package manager rely on: nothing lands outside the prefix, only the program
# is installed, the menu entry names a program and an icon that exist, every
# bitmap icon has the size its directory claims, and the manual page renders.
# Usage: check-install.sh CMAKE BUILD_DIR [ICON_SIZE...]
set -euo pipefail

cmake_exe="$1"
build_dir="$2"
shift 2
icon_sizes=("$@")

stage="$(mktemp -d "${TMPDIR:-/tmp}/tarvex-install-check.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
# Staged as the package stages it: prefix /usr under DESTDIR.
prefix="$stage/usr"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR="$stage" "$cmake_exe" --install "$build_dir" --prefix /usr >/dev/null

outside="$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)"
[ -z "$outside" ] || fail "installed outside the prefix: $outside"

# Tests and helper tools share the build's bin directory; none may ship.
shipped_programs="$(cd "$prefix" && find bin -mindepth 1 | sort | tr '\n' ' ')"
[ "$shipped_programs" = "bin/tarvex " ] || fail "bin/ should hold only tarvex, holds: $shipped_programs"
[ -x "$prefix/bin/tarvex" ] || fail "bin/tarvex is not executable"

desktop="$prefix/share/applications/tarvex.desktop"
if [ -f "$desktop" ]; then
  exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
  [ -x "$prefix/bin/$exec_name" ] || fail "the menu entry runs '$exec_name', which is not installed"
  icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon_name.svg" ] ||
    fail "the menu entry's icon '$icon_name' has no scalable icon"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate --no-hints "$desktop" || fail "desktop-file-validate rejects the menu entry"
  fi
else
  fail "no menu entry at share/applications/tarvex.desktop"
fi

for size in "${icon_sizes[@]}"; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/tarvex.png"
  if [ ! -f "$png" ]; then
    fail "missing icon $png"
    continue
  fi
  # PNG header: width and height as big-endian 32-bit numbers at offset 16.
  read -r -a header < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((header[0] << 24) | (header[1] << 16) | (header[2] << 8) | header[3]))
  height=$(((header[4] << 24) | (header[5] << 16) | (header[6] << 8) | header[7]))
  if [ "$width" != "$size" ] || [ "$height" != "$size" ]; then
    fail "${size}x${size} icon is ${width}x${height}"
  fi
done

man_page="$(find "$prefix/share/man/man1" -name 'tarvex.1*' 2>/dev/null | head -n 1)"
if [ -z "$man_page" ]; then
  fail "no manual page in share/man/man1"
else
  man_text="$(if [[ "$man_page" == *.gz ]]; then gzip -dc "$man_page"; else cat "$man_page"; fi)"
  if grep -q '@[A-Z_]*@' <<<"$man_text"; then
    fail "the manual page has an unreplaced placeholder"
  fi
  if command -v groff >/dev/null; then
    warnings="$(groff -man -ww -z <<<"$man_text" 2>&1)"
    [ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures packaging check(s) failed" >&2
  exit 1
fi
echo "install tree in order: $(cd "$prefix" && find . -type f | wc -l) files"
