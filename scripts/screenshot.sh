#!/usr/bin/env bash
# Screenshots of the desktop program for the README: the real program under Xvfb on a
# temporary data folder, watching a few hosts for some seconds, then docs/main-window.png;
# then each dialog, opened through the real window's commands by tools/dialog_shots on a
# data folder of its own, as docs/dlg-*.png.
# As root the hosts are test hosts in a private network namespace (answering after a set
# delay, some dropping requests) and a TCP listener; otherwise plain loopback, whose
# replies take 0 ms and so draw no bars.
# Usage: scripts/screenshot.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/default}
seconds=${2:-45}
program="$build_dir/Quorvane"
shots="$build_dir/tools/dialog_shots"
responder="$build_dir/tests/support/icmp_responder"
out=docs/main-window.png

for tool in Xvfb import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (packages xvfb, imagemagick)"; exit 1; }
done
[ -x "$program" ] && [ -x "$shots" ] || { echo "Build the program first: make build"; exit 1; }

work=$(mktemp -d)
ns=""
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "$ns" ] && ip netns delete "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

data="$work/Tarnwick"
mkdir -p "$data"
run=()
if [ "$(id -u)" -eq 0 ] && [ -x "$responder" ] && command -v ip >/dev/null; then
    ns="qvshot$$"
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    ip netns exec "$ns" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
    ip netns exec "$ns" "$responder" 127.0.0.2,delay=12 127.0.0.3,delay=35,drop=7 \
        127.0.0.4,delay=160 >"$work/responder.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -q ready "$work/responder.log" && break; sleep 0.1; done
    hosts=("0 127.0.0.2 1000" "0 127.0.0.3 1000" "0 127.0.0.4 2000" "0 127.0.0.5 1000")
    if command -v python3 >/dev/null; then
        ip netns exec "$ns" python3 -m http.server 8080 --bind 127.0.0.1 \
            --directory "$work" >/dev/null 2>&1 &
        pids+=($!)
        # Listening before the first connection attempt, which comes at start-up.
        ip netns exec "$ns" bash -c \
            'for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && exit; sleep 0.1; done'
        hosts+=("8080 127.0.0.1 1")
    fi
    run=(ip netns exec "$ns")
else
    echo "Not root (or no test hosts built): watching plain loopback."
    hosts=("0 127.0.0.1 1000" "0 localhost 2000")
fi
printf '%s\r\r\n' "${hosts[@]}" >"$data/conf01.dat"
printf 'Loopback lab\r\r\n' >"$data/tabnames.dat"
# The dialogs' folder: the same hosts, and a traceroute 3 s after a host goes down, so
# the trace logs dialog has a capture to list.
shot_data="$work/shots/Tarnwick"
mkdir -p "$shot_data"
cp "$data/conf01.dat" "$data/tabnames.dat" "$shot_data/"
sound=/usr/share/quorvane/ring.mp3  # as an installed program has it
printf '0 60 user@localhost localhost 0 60 %s 25 0 60 0 0 3\r\r\n' "$sound" >"$shot_data/conf02.dat"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"

"${run[@]}" env APPDATA="$work" DISPLAY="$display" "$program" >"$work/program.log" 2>&1 &
pids+=($!)
echo "Watching for $seconds s on display $display ..."
sleep "$seconds"
mkdir -p docs
DISPLAY="$display" import -window "Tarnwick Server Monitor" "$out"
echo "Wrote $out"
"${run[@]}" env APPDATA="$work/shots" DISPLAY="$display" "$shots" "$PWD/docs" 15
