#!/usr/bin/env bash
# CPU use of the whole desktop program next to the service program, in the same run: both
# watch the same 100 loopback hosts (ICMP, one probe a second), the desktop program with
# its window shown under Xvfb. Prints each one's share of one core over the measured time.
# Usage: bench/gui_cpu_side_by_side.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/default}
seconds=${2:-60}
for p in Quorvane HalvoricSvc; do
    [ -x "$build_dir/$p" ] || { echo "missing $build_dir/$p: build first"; exit 1; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is missing (package xvfb)"; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/desktop/Tarnwick" "$work/service"
for i in $(seq 1 100); do printf '0 127.0.0.%d 1000\r\r\n' "$i"; done >"$work/service/conf01.dat"
cp "$work/service/conf01.dat" "$work/desktop/Tarnwick/conf01.dat"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done

APPDATA="$work/desktop" DISPLAY=":$(head -n1 "$work/display")" "$build_dir/Quorvane" \
    >"$work/desktop.log" 2>&1 &
desktop=$!
pids+=($desktop)
"$build_dir/HalvoricSvc" "$work/service" >"$work/service.log" 2>&1 &
service=$!
pids+=($service)

# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

sleep 5  # start-up is not what is measured
d0=$(cpu_ticks "$desktop")
s0=$(cpu_ticks "$service")
sleep "$seconds"
d1=$(cpu_ticks "$desktop")
s1=$(cpu_ticks "$service")
hz=$(getconf CLK_TCK)
share() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
echo "Over $seconds s with 100 hosts each:"
echo "  Quorvane (window shown): $(share $((d1 - d0))) % of one core"
echo "  HalvoricSvc:             $(share $((s1 - s0))) % of one core"
