#!/usr/bin/env bash
# Shows Tarvex at work without a radio or a service account: a stand-in log
# service on loopback, a copy of Tarvex in a scratch directory pointed at it,
# and a stand-in contest logger sending a contact every 2 seconds. Each upload
# the service receives is printed as it happens. Ctrl-C stops all of it and
# removes the scratch directory.
set -euo pipefail
# Each background job gets a process group of its own, so stopping a job
# stops everything it started too.
set -m

if [ $# -ne 0 ]; then
  echo "usage: [BUILD=build-directory] $0" >&2
  exit 2
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-build}"
[[ "$build" == /* ]] || build="$repo/$build"
bin="$build/bin"
gap_ms=2000
start_timeout_s=15

say() { printf 'demo: %s\n' "$*"; }
die() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

workdir=""
cleanup() {
  # A second Ctrl-C must not cut the clean-up short.
  trap '' INT TERM HUP
  trap - EXIT
  local job
  for job in $(jobs -p); do
    kill -TERM -- "-$job" 2>/dev/null || true
  done
  # Job control off again, so the stopped jobs are not reported one by one.
  set +m
  wait 2>/dev/null || true
  if [ -n "$workdir" ]; then
    rm -rf "$workdir"
    say "stopped; removed $workdir"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

udp_port_in_use() {
  local hex
  hex="$(printf '%04X' "$1")"
  awk -v suffix=":$hex" 'FNR > 1 && substr($2, length($2) - 4) == suffix { found = 1 } END { exit !found }' \
    /proc/net/udp /proc/net/udp6 2>/dev/null
}

free_udp_port() {
  local port _
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    if ! udp_port_in_use "$port"; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# Prints a file's lines as they are written, each behind a label; tail also
# ends by itself should this script be killed outright.
follow() {
  local label="$1" file="$2"
  tail -n +1 -F --pid=$$ "$file" 2>/dev/null | sed -u "s/^/$label | /" &
}

# Only the three programs the demo runs: a newcomer need not wait for the tests.
make -C "$repo" --no-print-directory configure BUILD="$build"
cmake --build "$build" --target tarvex fake-corvane send-contact
for program in tarvex fake-corvane send-contact; do
  [ -x "$bin/$program" ] || die "$bin/$program was not built"
done

workdir="$(mktemp -d "${TMPDIR:-/tmp}/tarvex-demo.XXXXXX")"

"$bin/fake-corvane" --port 0 </dev/null >"$workdir/corvane.log" 2>&1 &
fake_pid=$!
service_url=""
for _ in $(seq $((start_timeout_s * 10))); do
  first_line="$(head -n 1 "$workdir/corvane.log")"
  if [[ "$first_line" =~ ^listening\ on\ (http://127\.0\.0\.1:[0-9]+)/?$ ]]; then
    service_url="${BASH_REMATCH[1]}"
    break
  fi
  kill -0 "$fake_pid" 2>/dev/null || die "fake-corvane stopped at once: $(cat "$workdir/corvane.log")"
  sleep 0.1
done
[ -n "$service_url" ] || die "fake-corvane did not say where it listens within ${start_timeout_s}s: $(cat "$workdir/corvane.log")"
say "stand-in log service listening on $service_url"

udp_port="$(free_udp_port)" || die "found no free UDP port"

# The program keeps its settings and logs next to itself, so a copy in the
# scratch directory leaves the user's own settings alone.
cp "$bin/tarvex" "$workdir/tarvex"
printf '%s\r\n' \
  '[Settings]' \
  'CorvaneEmailAddress=demo@example.com' \
  'CorvaneCallsign=N0CALL' \
  'CorvanePassword=demo' \
  'TotalRecordsUploaded=0' \
  'AutoUploadEnabled=True' \
  "UDPPort=$udp_port" \
  "CorvaneHost=$service_url" >"$workdir/Tarvex.ini"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  say "no display found: Tarvex runs without a window (Qt offscreen platform)"
  export QT_QPA_PLATFORM=offscreen
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  # Qt wants one and warns without it; a private one in the scratch directory will do.
  mkdir -m 700 "$workdir/runtime"
  export XDG_RUNTIME_DIR="$workdir/runtime"
fi
(cd "$workdir" && exec ./tarvex) </dev/null >"$workdir/tarvex.log" 2>&1 &
tarvex_pid=$!
follow "tarvex  " "$workdir/tarvex.log"

for _ in $(seq $((start_timeout_s * 10))); do
  udp_port_in_use "$udp_port" && break
  if ! kill -0 "$tarvex_pid" 2>/dev/null; then
    wait "$tarvex_pid" && status=0 || status=$?
    die "Tarvex stopped at once (exit status $status) instead of listening on UDP port $udp_port"
  fi
  sleep 0.1
done
udp_port_in_use "$udp_port" || die "Tarvex did not open UDP port $udp_port within ${start_timeout_s}s"
say "Tarvex (in $workdir) listens for contacts on UDP port $udp_port and uploads to the stand-in"

follow "errorlog" "$workdir/ErrorLog.txt"
# The stand-in prints one line per request; number the uploads so the count
# can be seen going up.
tail -n +2 -F --pid=$$ "$workdir/corvane.log" 2>/dev/null | {
  uploads=0
  while IFS= read -r line; do
    if [[ "$line" == *" /realtime.php "* ]]; then
      uploads=$((uploads + 1))
      printf 'corvane  | upload %d: %s\n' "$uploads" "$line"
    else
      printf 'corvane  | %s\n' "$line"
    fi
  done
} &

"$bin/send-contact" --port "$udp_port" --count 1000000 --gap "$gap_ms" </dev/null >"$workdir/sender.log" 2>&1 &
sender_pid=$!
follow "logger  " "$workdir/sender.log"
say "stand-in contest logger sends a contact every $((gap_ms / 1000)) s; Ctrl-C stops the demo"

wait -n "$fake_pid" "$tarvex_pid" "$sender_pid" || true
for entry in "fake-corvane:$fake_pid" "tarvex:$tarvex_pid" "send-contact:$sender_pid"; do
  kill -0 "${entry##*:}" 2>/dev/null || die "${entry%%:*} stopped; ending the demo"
done
