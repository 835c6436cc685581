#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks what a desktop and a
# package manager rely on: nothing lands outside the prefix, only the program
# is installed, the menu entry names a program and an icon that exist, every
# bitmap icon has the size its directory claims, the manual page renders, the
# systemd user unit starts the installed program and passes systemd's checks,
# and the copyright file and a changelog for this version are there.
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

unit="$prefix/lib/systemd/user/tarvex.service"
if [ -f "$unit" ]; then
  read -r unit_exe unit_args < <(sed -n 's/^ExecStart=//p' "$unit") || true
  [ "$unit_exe" = /usr/bin/tarvex ] && [ -x "$stage$unit_exe" ] ||
    fail "the user unit runs '$unit_exe', not the installed /usr/bin/tarvex"
  [ "$unit_args" = --headless ] || fail "the user unit runs tarvex with '$unit_args', not --headless"
  if command -v systemd-analyze >/dev/null; then
    # Checked as the user manager would load it, against the staged program
    # rather than whatever this machine has installed.
    runtime="$stage/run" && mkdir -p "$runtime"
    sed "s|^ExecStart=$unit_exe|ExecStart=$stage$unit_exe|" "$unit" >"$runtime/tarvex.service"
    complaints="$(XDG_RUNTIME_DIR="$runtime" systemd-analyze verify --user --man=no \
      "$runtime/tarvex.service" 2>&1)" || true
    [ -z "$complaints" ] || fail "systemd-analyze verify: $complaints"
  fi
else
  fail "no systemd user unit at lib/systemd/user/tarvex.service"
fi

doc="$prefix/share/doc/tarvex"
[ -s "$doc/copyright" ] || fail "no copyright file at share/doc/tarvex/copyright"
if [ -f "$doc/changelog.Debian.gz" ]; then
  # The newest entry must be for the version being installed: "tarvex (X-R) ...".
  logged="$(gzip -dc "$doc/changelog.Debian.gz" | sed -n '1s/^tarvex (\(.*\)-[^-]*).*/\1/p')"
  built="$("$prefix/bin/tarvex" --version | sed -n 's/^Tarvex //p')" || true
  [ "$logged" = "$built" ] || fail "the changelog's newest entry is for '$logged', the program is '$built'"
else
  fail "no changelog at share/doc/tarvex/changelog.Debian.gz"
fi
# A time stamp in a gzip header (bytes 4-7) makes every rebuild differ.
for gz in "$doc/changelog.Debian.gz" "$prefix/share/man/man1/tarvex.1.gz"; do
  [ ! -f "$gz" ] || [ "$(od -An -tu4 -j4 -N4 "$gz" | tr -d ' ')" = 0 ] || fail "$gz carries a time stamp"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures packaging check(s) failed" >&2
  exit 1
fi
echo "install tree in order: $(cd "$prefix" && find . -type f | wc -l) files"
