#!/usr/bin/env bash
# Runs every benchmark against a build directory and prints the machine and
# one table per benchmark. A benchmark that cannot finish fails the run; the
# others still run first.
set -uo pipefail
build=${1:-build-bench}
bin=$build/bin

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "Machine"
echo "  CPU:      $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores online"
echo "  RAM:      $(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "  OS:       $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
echo "  Compiler: $("$compiler" --version | head -1), $build_type"
echo "  Qt:       $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)"
echo "  Load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the run"
echo "  UDP:      net.core.rmem_max $(cat /proc/sys/net/core/rmem_max), rmem_default $(cat /proc/sys/net/core/rmem_default)"

failed=0
"$bin/bench_conversion" || failed=1
"$bin/bench_bridges" --tarvex "$bin/tarvex" --sender "$bin/send-contact" || failed=1
"$bin/bench_footprint" --tarvex "$bin/tarvex" || failed=1
echo
echo "Load: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) after the run"
exit $failed
